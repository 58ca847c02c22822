// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialogoption.h"
#include "ui_dialogoption.h"

#include "app/appsettings.h"

#include <QSettings>

DialogOption::DialogOption(QWidget* parent) : QDialog(parent), ui(new Ui::DialogOption)
{
    ui->setupUi(this);

    // The spin box clamps a day count edited outside the program to 7..31.
    QSettings settings(AppSettings::Organization, AppSettings::Application);
    settings.beginGroup(QStringLiteral("options"));
    // Values that do not read as what they should be show as the defaults, as start-up reads them.
    ui->checkBoxAutoDelete->setChecked(AppSettings::readBool(settings, QStringLiteral("is_auto_delete"), false));
    ui->checkBoxAutorun->setChecked(AppSettings::readBool(settings, QStringLiteral("is_auto_run"), false));
    ui->spinBoxDays->setValue(AppSettings::readDays(settings, QStringLiteral("delete_days"), 14));
    ui->checkBoxReportNewLinks->setChecked(AppSettings::readBool(settings, QStringLiteral("report_new_links"), false));
    settings.endGroup();
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

void DialogOption::on_pushButtonOk_clicked()
{
    accept();
}

void DialogOption::on_pushButtonCancel_clicked()
{
    reject();
}
