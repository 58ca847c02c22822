// SPDX-License-Identifier: GPL-3.0-or-later
// The Advanced part of the dialog, the parts of a task below its fields, and hostile definitions typed in.
#include "tests/dialogs/dialognewtasktest.h"

#include <QGroupBox>

void TestDialogNewTask::advanced_data()
{
    QTest::addColumn<QString>("userAgent");
    QTest::addColumn<QString>("headers");
    QTest::addColumn<QString>("problem"); // part of the message; empty when accepted
    QTest::addColumn<QString>("focus");   // the field that has the focus after a refusal
    QTest::addColumn<QString>("storedHeaders");

    QTest::addRow("nothing set") << ""
                                 << ""
                                 << ""
                                 << ""
                                 << "";
    QTest::addRow("cookie and agent") << "MyAgent/1"
                                      << "Cookie: a=1\n\nAuthorization: Basic eA=="
                                      << ""
                                      << ""
                                      << "Cookie: a=1\nAuthorization: Basic eA==";
    QTest::addRow("header without colon") << ""
                                          << "Cookie a=1"
                                          << "Line 1: Write a header as Name: value."
                                          << "plainTextEditRequestHeaders"
                                          << "";
    QTest::addRow("line break in the agent") << "Agent\r\nX: y"
                                             << ""
                                             << "control character"
                                             << "lineEditUserAgent"
                                             << "";
    QTest::addRow("reserved header") << ""
                                     << "X-A: 1\nHost: a"
                                     << "Line 2: The header Host is set by the program itself."
                                     << "plainTextEditRequestHeaders"
                                     << "";
}

void TestDialogNewTask::advanced()
{
    QFETCH(QString, userAgent);
    QFETCH(QString, headers);
    QFETCH(QString, problem);
    QFETCH(QString, focus);
    QFETCH(QString, storedHeaders);

    DialogNewTask dialog;
    fill(dialog, "Name", "http://example.org/news.html", "qt");
    auto* group = dialog.findChild<QGroupBox*>("groupBoxAdvanced");
    auto* agent = dialog.findChild<QLineEdit*>("lineEditUserAgent");
    auto* text = dialog.findChild<QPlainTextEdit*>("plainTextEditRequestHeaders");
    dialog.show();
    // Folded away until asked for.
    QVERIFY(!group->isChecked());
    QVERIFY(!agent->isVisible());
    QTest::mouseClick(group, Qt::LeftButton, {}, QPoint(12, 8));
    QVERIFY(group->isChecked());
    QVERIFY(agent->isVisible());
    agent->setText(userAgent);
    text->setPlainText(headers);
    group->setChecked(false); // folded again: what it holds still counts

    QSignalSpy accepted(&dialog, &QDialog::accepted);
    MessageBoxCatcher catcher;
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
    if (problem.isEmpty()) {
        QVERIFY2(catcher.boxes.isEmpty(), qPrintable(catcher.boxes.value(0).text));
        QCOMPARE(accepted.count(), 1);
        const QHash<QString, QString> options = dialog.taskOptions();
        QCOMPARE(options.value("user_agent"), userAgent);
        QCOMPARE(options.value("request_headers"), storedHeaders);
        // A new task keeps the Options' choice of reporting new links as its own.
        QCOMPARE(options.value("report_new_links"), QString("0"));
        QCOMPARE(options.size(), int(!userAgent.isEmpty()) + int(!storedHeaders.isEmpty()) + 1);
        return;
    }
    QCOMPARE(catcher.boxes.size(), 1);
    QCOMPARE(catcher.boxes.first().title, QStringLiteral("Request headers"));
    QVERIFY2(catcher.boxes.first().text.contains(problem), qPrintable(catcher.boxes.first().text));
    QCOMPARE(accepted.count(), 0);
    // Unfolded again, with the focus where the fault is.
    QVERIFY(group->isChecked());
    QTRY_COMPARE(dialog.focusWidget() ? dialog.focusWidget()->objectName() : QString(), focus);
    dialog.close();
}

static QHash<QString, QString> optionsOf(const QString& text)
{
    QHash<QString, QString> options;
    for (const QString& pair : text.split('|', Qt::SkipEmptyParts))
        options.insert(pair.section('=', 0, 0), pair.section('=', 1));
    return options;
}

void TestDialogNewTask::taskParts_data()
{
    QTest::addColumn<QString>("given");      // the options of the task edited, "name=value|..."; "-": a new task
    QTest::addColumn<bool>("reportDefault"); // what the Options say of new links
    QTest::addColumn<int>("hoursMode");      // chosen, -1: left
    QTest::addColumn<QString>("days");       // the days ticked, "-": left
    QTest::addColumn<int>("newsTo");         // chosen, -1: left
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("post");
    QTest::addColumn<QString>("focus");  // the field with the cursor after a refusal; empty when accepted
    QTest::addColumn<QString>("stored"); // the options given back once accepted

    const QString own = "check_hours=22:00-06:00 67|vary_checks=1|report_new_links=0|news_to=own|news_post=https://h/p|"
                        "news_headers=Authorization: Bearer x|news_plain=1";
    // clang-format off
    QTest::addRow("new: as in Options") << "-" << true << -1 << "-" << -1 << "" << "" << "" << "report_new_links=1";
    QTest::addRow("new: own hours, own command") << "-" << false << 1 << "135" << 2 << "/bin/cat -" << "" << ""
        << "report_new_links=0|check_hours=08:00-18:00 135|news_to=own|news_command=/bin/cat -";
    QTest::addRow("own hours every day") << "-" << false << 1 << "1234567" << -1 << "" << "" << ""
        << "report_new_links=0|check_hours=08:00-18:00 1234567";
    QTest::addRow("own hours on no day") << "-" << false << 1 << "" << -1 << "" << "" << "checkBoxDay1" << "";
    QTest::addRow("own news, none given") << "-" << false << -1 << "-" << 2 << "" << "" << "lineEditNewsCommand" << "";
    QTest::addRow("own post to ftp") << "-" << false << -1 << "-" << 2 << "" << "ftp://h/x" << "lineEditNewsPost" << "";
    QTest::addRow("command given up with its own news") << "-" << false << -1 << "-" << 1 << "/bin/cat" << "" << ""
        << "report_new_links=0|news_to=none";
    QTest::addRow("edited: following the Options still") << "" << true << -1 << "-" << -1 << "" << "" << "" << "";
    QTest::addRow("edited: own parts shown and kept") << own << true << -1 << "-" << -1 << "" << "" << "" << own;
    // clang-format on
}

void TestDialogNewTask::taskParts()
{
    QFETCH(QString, given);
    QFETCH(bool, reportDefault);
    QFETCH(int, hoursMode);
    QFETCH(QString, days);
    QFETCH(int, newsTo);
    QFETCH(QString, command);
    QFETCH(QString, post);
    QFETCH(QString, focus);
    QFETCH(QString, stored);

    DialogNewTask dialog;
    dialog.setReportNewLinksDefault(reportDefault);
    if (given == "-")
        fill(dialog, "Name", "http://example.org/news.html", "qt");
    else
        dialog.setTask({"Name", "http://example.org/news.html", "qt", 3600, optionsOf(given)});
    dialog.show();
    if (hoursMode >= 0)
        dialog.findChild<QComboBox*>("comboBoxCheckHours")->setCurrentIndex(hoursMode);
    for (int day = 1; days != "-" && day <= 7; ++day)
        dialog.findChild<QCheckBox*>(QString("checkBoxDay%1").arg(day))
            ->setChecked(days.contains(QString::number(day)));
    if (newsTo >= 0)
        dialog.findChild<QComboBox*>("comboBoxNewsTo")->setCurrentIndex(newsTo);
    if (!command.isEmpty())
        dialog.findChild<QLineEdit*>("lineEditNewsCommand")->setText(command);
    if (!post.isEmpty())
        dialog.findChild<QLineEdit*>("lineEditNewsPost")->setText(post);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    MessageBoxCatcher catcher;
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
    if (!focus.isEmpty()) {
        QCOMPARE(catcher.boxes.size(), 1);
        QCOMPARE(accepted.count(), 0);
        QTRY_COMPARE(dialog.focusWidget() ? dialog.focusWidget()->objectName() : QString(), focus);
        // What was typed stays to be corrected.
        QCOMPARE(dialog.findChild<QLineEdit*>("lineEditNewsPost")->text(), post);
        return;
    }
    QVERIFY2(catcher.boxes.isEmpty(), qPrintable(catcher.boxes.value(0).text));
    QCOMPARE(dialog.taskOptions(), optionsOf(stored));
}

void TestDialogNewTask::hostileDefinitions_data()
{
    addHostileRows(HostileTask::Dialog);
}

// The hostile definitions a user can type are refused with the message of their field; the dialog stays open.
void TestDialogNewTask::hostileDefinitions()
{
    QFETCH(int, row);
    const HostileTask hostile = hostileTasks().at(row);
    const TaskDefinition& entered = hostile.definition;
    // The dialog's own message for the field.
    const QHash<QString, QStringList> titles = {{"name: ", {"Task name"}},
                                                {"keyword: ", {"Grab text"}},
                                                {"address: ", {"Web address", "Invalid Web Address"}},
                                                {"options.request_headers: ", {"Request headers"}},
                                                {"options.region: ", {"Region"}},
                                                {"options.excluded_words: ", {"Left-out words"}}};
    DialogNewTask dialog;
    fill(dialog, entered.name, entered.address, entered.keyword);
    dialog.findChild<QPlainTextEdit*>("plainTextEditRequestHeaders")
        ->setPlainText(entered.options.value(Task::RequestHeadersOption));
    dialog.findChild<QLineEdit*>("lineEditRegion")->setText(entered.options.value(Task::RegionOption));
    dialog.findChild<QLineEdit*>("lineEditExcludedWords")->setText(entered.options.value(Task::ExcludedWordsOption));
    dialog.show();
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    MessageBoxCatcher catcher;
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
    QCOMPARE(catcher.boxes.size(), 1);
    QVERIFY2(titles.value(hostile.prefix).contains(catcher.boxes.at(0).title), qPrintable(catcher.boxes.at(0).title));
    QCOMPARE(accepted.count(), 0);
    QVERIFY(dialog.isVisible());
    dialog.close();
}
