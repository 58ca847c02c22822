// SPDX-License-Identifier: GPL-3.0-or-later
// The new-task dialog's tests, in two files: its fields, and its Advanced part with the task's own parts.
#pragma once

#include "dialogs/dialognewtask.h"
#include "tests/dialogs/messageboxcatcher.h"
#include "tests/support/hostiletasks.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

class TestDialogNewTask : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void validation_data();
    void validation();
    void schemeOffered_data();
    void schemeOffered();
    void cancelRejects();
    void accessors_data();
    void accessors();
    void frequency_data();
    void frequency();
    void editing_data();
    void editing();
    void duplicatesAreRefusedKeepingTheEntries();
    void scriptsOption_data();
    void scriptsOption();
    void advanced_data();
    void advanced();
    void taskParts_data();
    void taskParts();
    void hostileDefinitions_data();
    void hostileDefinitions();

private:
    static void fill(DialogNewTask& dialog, const QString& name, const QString& address, const QString& keyword)
    {
        dialog.findChild<QLineEdit*>("lineEditTaskName")->setText(name);
        dialog.findChild<QLineEdit*>("lineEditWebaddress")->setText(address);
        dialog.findChild<QLineEdit*>("lineEditGrabtext")->setText(keyword);
    }
};
