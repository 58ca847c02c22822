// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "dialogoption.h"
#include "ui_dialogoption.h"

DialogOption::DialogOption(QWidget* parent) : QDialog(parent), ui(new Ui::DialogOption) { ui->setupUi(this); }
DialogOption::~DialogOption() { delete ui; }
void DialogOption::changeEvent(QEvent* event) { QDialog::changeEvent(event); }
bool DialogOption::isAutoRun() const { return false; }
bool DialogOption::isAutoDelete() const { return false; }
int DialogOption::deleteDays() const { return 14; }
void DialogOption::on_pushButtonOk_clicked() {}
void DialogOption::on_pushButtonCancel_clicked() {}
