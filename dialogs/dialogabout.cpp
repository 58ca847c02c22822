// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialogabout.h"
#include "ui_dialogabout.h"

DialogAbout::DialogAbout(QWidget* parent) : QDialog(parent), ui(new Ui::DialogAbout)
{
    ui->setupUi(this);
    showQtVersion();
    setFixedSize(359, 244);
}

DialogAbout::~DialogAbout()
{
    delete ui;
}

void DialogAbout::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        showQtVersion();
    }
}

void DialogAbout::showQtVersion()
{
    // The translated page names the toolkit version as %1: the one the program runs on, not the one
    // it was built with.
    ui->textEdit->setHtml(ui->textEdit->toHtml().arg(QString::fromLatin1(qVersion())));
}
