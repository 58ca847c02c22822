// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

// Creates a task as a user would: File > New Task, the dialog filled in (every `number` days, hours or
// minutes: unit 0, 1 or 2), Ok. Returns once the window has created it (or refused it).
inline void createThroughDialog(MainWindow& window, const QString& name, const QString& address,
                                const QString& keyword = QStringLiteral("qt"), int number = 1, int unit = 1)
{
    QTimer::singleShot(0, [name, address, keyword, number, unit] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        QWidget* dialog = QApplication::activeModalWidget();
        dialog->findChild<QLineEdit*>("lineEditTaskName")->setText(name);
        dialog->findChild<QLineEdit*>("lineEditWebaddress")->setText(address);
        dialog->findChild<QLineEdit*>("lineEditGrabtext")->setText(keyword);
        dialog->findChild<QSpinBox*>("spinBoxFrequencyNum")->setValue(number);
        dialog->findChild<QComboBox*>("comboBoxFrequencyUnit")->setCurrentIndex(unit);
        dialog->findChild<QPushButton*>("pushButtonOk")->click();
    });
    window.findChild<QAction*>("action_New_Task")->trigger();
}
