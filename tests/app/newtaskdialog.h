// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// Creates a task as a user would: File > New Task, the dialog filled in, Ok. Returns once the window has
// created it (or refused it).
inline void createThroughDialog(MainWindow& window, const QString& name, const QString& address,
                                const QString& keyword = QStringLiteral("qt"))
{
    QTimer::singleShot(0, [name, address, keyword] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        QWidget* dialog = QApplication::activeModalWidget();
        dialog->findChild<QLineEdit*>("lineEditTaskName")->setText(name);
        dialog->findChild<QLineEdit*>("lineEditWebaddress")->setText(address);
        dialog->findChild<QLineEdit*>("lineEditGrabtext")->setText(keyword);
        dialog->findChild<QPushButton*>("pushButtonOk")->click();
    });
    window.findChild<QAction*>("action_New_Task")->trigger();
}
