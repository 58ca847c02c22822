// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "dialognewtask.h"
#include "ui_dialognewtask.h"

DialogNewTask::DialogNewTask(QWidget* parent) : QDialog(parent), ui(new Ui::DialogNewTask) { ui->setupUi(this); }
DialogNewTask::~DialogNewTask() { delete ui; }
void DialogNewTask::changeEvent(QEvent* event) { QDialog::changeEvent(event); }
QString DialogNewTask::taskName() const { return {}; }
QString DialogNewTask::webAddress() const { return {}; }
QString DialogNewTask::grabText() const { return {}; }
int DialogNewTask::frequency() const { return 0; }
void DialogNewTask::on_pushButtonOk_clicked() {}
void DialogNewTask::on_pushButtonCancel_clicked() {}
