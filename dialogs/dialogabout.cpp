// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "dialogabout.h"
#include "ui_dialogabout.h"

DialogAbout::DialogAbout(QWidget* parent) : QDialog(parent), ui(new Ui::DialogAbout) { ui->setupUi(this); }
DialogAbout::~DialogAbout() { delete ui; }
void DialogAbout::changeEvent(QEvent* event) { QDialog::changeEvent(event); }
