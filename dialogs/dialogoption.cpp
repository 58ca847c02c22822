// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialogoption.h"
#include "ui_dialogoption.h"

DialogOption::DialogOption(const Options& options, QWidget* parent) : QDialog(parent), ui(new Ui::DialogOption)
{
    ui->setupUi(this);
    // The spin box clamps a day count edited outside the program to 7..31.
    ui->checkBoxAutoDelete->setChecked(options.autoDelete);
    ui->checkBoxAutorun->setChecked(options.autoRun);
    ui->spinBoxDays->setValue(options.deleteDays);
    ui->checkBoxReportNewLinks->setChecked(options.reportNewLinks);
    ui->spinBoxChecksBeforeLook->setValue(options.checksBeforeLook);
}

DialogOption::~DialogOption()
{
    delete ui;
}

void DialogOption::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

bool DialogOption::isAutoRun() const
{
    return ui->checkBoxAutorun->isChecked();
}

bool DialogOption::isAutoDelete() const
{
    return ui->checkBoxAutoDelete->isChecked();
}

int DialogOption::deleteDays() const
{
    return ui->spinBoxDays->value();
}

bool DialogOption::isReportNewLinks() const
{
    return ui->checkBoxReportNewLinks->isChecked();
}

Options DialogOption::options() const
{
    return Options{isAutoRun(), isAutoDelete(), deleteDays(), isReportNewLinks(), ui->spinBoxChecksBeforeLook->value()};
}

void DialogOption::on_pushButtonOk_clicked()
{
    accept();
}

void DialogOption::on_pushButtonCancel_clicked()
{
    reject();
}
