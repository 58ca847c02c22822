// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "dialogprogress.h"
#include "ui_dialogprogress.h"

DialogProgress::DialogProgress(QWidget* parent) : QDialog(parent), ui(new Ui::DialogProgress) { ui->setupUi(this); }
DialogProgress::~DialogProgress() { delete ui; }
void DialogProgress::changeEvent(QEvent* event) { QDialog::changeEvent(event); }
void DialogProgress::setMessage(const QString&) {}
