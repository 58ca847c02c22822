// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialogprogress.h"
#include "ui_dialogprogress.h"

DialogProgress::DialogProgress(QWidget* parent) : QDialog(parent), ui(new Ui::DialogProgress)
{
    ui->setupUi(this);
    // A frameless popup: it only tells the user to wait while the main window is disabled.
    setWindowFlags(Qt::Popup);
}

DialogProgress::~DialogProgress()
{
    delete ui;
}

void DialogProgress::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void DialogProgress::setMessage(const QString& message)
{
    ui->label->setText(message);
    ui->label->setAlignment(Qt::AlignCenter);
    ui->label->setText(tr("<font color=\"red\" size=\"40\">%1</font>").arg(message));
}
