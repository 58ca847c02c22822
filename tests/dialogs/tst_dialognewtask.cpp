// SPDX-License-Identifier: GPL-3.0-or-later
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

void TestDialogNewTask::cleanup()
{
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window was left over");
}

void TestDialogNewTask::validation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("title"); // of the one message shown; empty when the dialog is accepted

    const QString web = "http://www.example.org/news";
    QTest::addRow("all empty") << ""
                               << ""
                               << ""
                               << "Task name";
    QTest::addRow("no name") << "" << web << "k"
                             << "Task name";
    QTest::addRow("no address, no keyword") << "n"
                                            << ""
                                            << ""
                                            << "Web address";
    QTest::addRow("no keyword") << "n" << web << ""
                                << "Grab text";
    QTest::addRow("empty fields before a bad address") << "n"
                                                       << "bad"
                                                       << ""
                                                       << "Grab text";
    // Entries are judged as the task would use them: spaces only are empty.
    QTest::addRow("name of spaces") << "   " << web << "k"
                                    << "Task name";
    QTest::addRow("keyword of spaces") << "n" << web << "   "
                                       << "Grab text";
    QTest::addRow("address of spaces") << "n"
                                       << "   "
                                       << "k"
                                       << "Web address";
    QTest::addRow("http") << "n" << web << "k"
                          << "";
    QTest::addRow("https") << "n"
                           << "https://www.example.org/news/"
                           << "k"
                           << "";
    QTest::addRow("port and query") << "n"
                                    << "http://127.0.0.1:8080/a?b=c"
                                    << "k"
                                    << "";
    QTest::addRow("space inside the scheme") << "n"
                                             << "ht tp://example.org"
                                             << "k"
                                             << "";
    QTest::addRow("scheme in capitals") << "n"
                                        << "HTTP://www.example.org"
                                        << "k"
                                        << "";
    QTest::addRow("https capitalised") << "n"
                                       << "Https://www.example.org"
                                       << "k"
                                       << "";
    QTest::addRow("no scheme: one offered") << "n"
                                            << "www.example.org"
                                            << "k"
                                            << "Add a scheme?";
    QTest::addRow("no scheme, no host") << "n"
                                        << "news/"
                                        << "k"
                                        << "Invalid Web Address";
    QTest::addRow("ftp") << "n"
                         << "ftp://example.org/x"
                         << "k"
                         << "Invalid Web Address";
    QTest::addRow("one slash") << "n"
                               << "https:/example.org"
                               << "k"
                               << "Invalid Web Address";
    QTest::addRow("invalid url") << "n"
                                 << "http://[::1"
                                 << "k"
                                 << "Invalid Web Address";
}

void TestDialogNewTask::validation()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(QString, keyword);
    QFETCH(QString, title);

    const QHash<QString, QString> texts = {
        {"Task name", "Please enter the <b>Task name</b> first!"},
        {"Web address", "Please enter the <b>Web address</b> first!"},
        {"Grab text", "Please enter the <b>Detect keyword</b> first!"},
        {"Invalid Web Address", "Please enter a <b>Valid Url</b> like '<b>http://www.example.com/news.html</b>', "
                                "do not forget '<b>http://</b>'!"},
        {"Add a scheme?", "The web address www.example.org does not say how the page is reached. Put https:// (most "
                          "pages) or http:// before it?"}};
    // The field a refusal puts the cursor in.
    const QHash<QString, QString> fields = {{"Task name", "lineEditTaskName"},
                                            {"Web address", "lineEditWebaddress"},
                                            {"Grab text", "lineEditGrabtext"},
                                            {"Invalid Web Address", "lineEditWebaddress"},
                                            {"Add a scheme?", "lineEditWebaddress"}};

    DialogNewTask dialog;
    fill(dialog, name, address, keyword);
    dialog.show();
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    MessageBoxCatcher catcher;
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);

    if (title.isEmpty()) {
        QVERIFY2(catcher.boxes.isEmpty(), qPrintable("unexpected message: " + catcher.boxes.value(0).title));
        QCOMPARE(accepted.count(), 1);
        QVERIFY(!dialog.isVisible());
        return;
    }
    QCOMPARE(catcher.boxes.size(), 1);
    const MessageBoxCatcher::Box box = catcher.boxes.first();
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, texts.value(title));
    QCOMPARE(box.parent, &dialog);
    QCOMPARE(box.buttons, title.endsWith('?') ? QMessageBox::Cancel : QMessageBox::Ok);
    QCOMPARE(accepted.count(), 0);
    QVERIFY2(dialog.isVisible(), "a refused entry must leave the dialog open");
    QCOMPARE(dialog.findChild<QLineEdit*>("lineEditWebaddress")->text(), address);
    QCOMPARE(dialog.focusWidget()->objectName(), fields.value(title));
    dialog.close();
}

void TestDialogNewTask::schemeOffered_data()
{
    QTest::addColumn<QString>("button"); // pressed in the offer
    QTest::addColumn<QString>("address");
    QTest::newRow("https") << "Use &https://"
                           << "https://www.example.org/news";
    QTest::newRow("http") << "Use h&ttp://"
                          << "http://www.example.org/news";
}

void TestDialogNewTask::schemeOffered()
{
    QFETCH(QString, button);
    QFETCH(QString, address);
    DialogNewTask dialog;
    fill(dialog, "n", "www.example.org/news", "k");
    dialog.show();
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
        for (QAbstractButton* offered : QApplication::activeModalWidget()->findChildren<QAbstractButton*>()) {
            if (offered->text() == button)
                offered->click();
        }
    });
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(dialog.webAddress(), address);
}

void TestDialogNewTask::cancelRejects()
{
    DialogNewTask dialog;
    fill(dialog, "n", "not an address", "");
    dialog.show();
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    MessageBoxCatcher catcher;
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonCancel"), Qt::LeftButton);
    QCOMPARE(rejected.count(), 1);
    QVERIFY(catcher.boxes.isEmpty());
    QVERIFY(!dialog.isVisible());
}

void TestDialogNewTask::accessors_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("address");    // webAddress()
    QTest::addColumn<QString>("simplified"); // taskName() and keyword()

    QTest::addRow("plain") << "http://a.org/x"
                           << "http://a.org/x"
                           << "http://a.org/x";
    QTest::addRow("trailing slash") << "http://a.org/"
                                    << "http://a.org"
                                    << "http://a.org/";
    QTest::addRow("two trailing slashes and a space") << "http://a .org//"
                                                      << "http://a.org/"
                                                      << "http://a .org//";
    QTest::addRow("space after the slash") << " http://a.org/ "
                                           << "http://a.org"
                                           << "http://a.org/";
    QTest::addRow("tab is not a space") << "http://a.org/\t"
                                        << "http://a.org/\t"
                                        << "http://a.org/";
    QTest::addRow("slash only") << "/"
                                << ""
                                << "/";
    QTest::addRow("inner blanks") << "  my \t  news  "
                                  << "my\tnews"
                                  << "my news";
}

void TestDialogNewTask::accessors()
{
    QFETCH(QString, typed);
    QFETCH(QString, address);
    QFETCH(QString, simplified);

    DialogNewTask dialog;
    fill(dialog, typed, typed, typed);
    QCOMPARE(dialog.webAddress(), address);
    QCOMPARE(dialog.taskName(), simplified);
    QCOMPARE(dialog.keyword(), simplified);
}

void TestDialogNewTask::frequency_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("seconds");

    QTest::addRow("1 Hour") << 1 << 1 << 3600;
    QTest::addRow("2 Day") << 2 << 0 << 172800;
    QTest::addRow("31 Minute") << 31 << 2 << 1860;
    QTest::addRow("31 Day") << 31 << 0 << 2678400;
    QTest::addRow("1 Minute") << 1 << 2 << 60;
    QTest::addRow("no unit") << 5 << -1 << -1;
}

void TestDialogNewTask::frequency()
{
    QFETCH(int, number);
    QFETCH(int, unit);
    QFETCH(int, seconds);

    DialogNewTask dialog;
    dialog.findChild<QSpinBox*>("spinBoxFrequencyNum")->setValue(number);
    dialog.findChild<QComboBox*>("comboBoxFrequencyUnit")->setCurrentIndex(unit);
    QCOMPARE(dialog.frequency(), seconds);
}

void TestDialogNewTask::editing_data()
{
    QTest::addColumn<int>("frequency");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("count");
    QTest::addRow("two days") << 2 * 86400 << "Day" << 2;
    QTest::addRow("one day") << 86400 << "Day" << 1;
    QTest::addRow("48 hours are two days") << 48 * 3600 << "Day" << 2;
    QTest::addRow("45 hours, beyond the usual 31") << 45 * 3600 << "Hour" << 45;
    QTest::addRow("90 minutes") << 5400 << "Minute" << 90;
    QTest::addRow("one minute") << 60 << "Minute" << 1;
    QTest::addRow("seconds only: rounded up to minutes") << 90 << "Minute" << 2;
}

void TestDialogNewTask::editing()
{
    QFETCH(int, frequency);
    QFETCH(QString, unit);
    QFETCH(int, count);
    DialogNewTask dialog;
    const QHash<QString, QString> options{{"user_agent", "Agent/1"}, {"request_headers", "Accept-Language: de"}};
    dialog.setTask({"News", "https://example.org/news", "Rates", frequency, options});
    QCOMPARE(dialog.windowTitle(), QString("Edit Task"));
    QCOMPARE(dialog.findChild<QComboBox*>("comboBoxFrequencyUnit")->currentText(), unit);
    QCOMPARE(dialog.findChild<QSpinBox*>("spinBoxFrequencyNum")->value(), count);
    // Opens on the name, though the options unfold the Advanced part; Ok without a change gives the task back as
    // it was.
    dialog.show();
    QCOMPARE(dialog.focusWidget(), dialog.findChild<QLineEdit*>("lineEditTaskName"));
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    MessageBoxCatcher catcher;
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(dialog.taskName(), QString("News"));
    QCOMPARE(dialog.webAddress(), QString("https://example.org/news"));
    QCOMPARE(dialog.keyword(), QString("Rates"));
    QCOMPARE(dialog.taskOptions(), options);
    // Left as shown, the frequency is the task's own, also one no unit of the dialog gives.
    QCOMPARE(dialog.frequency(), frequency);
    auto* spin = dialog.findChild<QSpinBox*>("spinBoxFrequencyNum");
    spin->setValue(spin->value() + 1);
    QCOMPARE(dialog.frequency() % 60, 0);
}

void TestDialogNewTask::duplicatesAreRefusedKeepingTheEntries()
{
    DialogNewTask dialog;
    QStringList asked;
    dialog.setDuplicateCheck([&](const QString& address, const QString& keyword) {
        asked << address + ' ' + keyword;
        return keyword.compare("rates", Qt::CaseInsensitive) == 0 ? QString("Their rates") : QString();
    });
    fill(dialog, "Mine", "http://example.org/news/", "  Rates ");
    dialog.show();
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    {
        MessageBoxCatcher catcher;
        QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
        QCOMPARE(catcher.boxes.size(), 1);
        QCOMPARE(catcher.boxes.at(0).title, QString("New Task"));
        QCOMPARE(catcher.boxes.at(0).text, QString("This task already exists!"));
        QVERIFY(catcher.boxes.at(0).informative.contains("The task Their rates watches"));
    }
    // Asked with the entries as they are used, and the dialog keeps what was typed.
    QCOMPARE(asked, QStringList{"http://example.org/news Rates"});
    QCOMPARE(accepted.count(), 0);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.findChild<QLineEdit*>("lineEditGrabtext")->text(), QString("  Rates "));
    QCOMPARE(dialog.focusWidget(), dialog.findChild<QLineEdit*>("lineEditGrabtext"));

    dialog.findChild<QLineEdit*>("lineEditGrabtext")->setText("Bonds");
    MessageBoxCatcher catcher;
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
    QVERIFY(catcher.boxes.isEmpty());
    QCOMPARE(accepted.count(), 1);
}

void TestDialogNewTask::scriptsOption_data()
{
    QTest::addColumn<bool>("available");
    QTest::addColumn<int>("presses"); // of Alt+S
    QTest::addColumn<bool>("runScripts");
    QTest::addRow("off by default") << true << 0 << false;
    QTest::addRow("Alt+S turns it on") << true << 1 << true;
    QTest::addRow("and off again") << true << 2 << false;
    QTest::addRow("renderer missing: Alt+S does nothing") << false << 1 << false;
}

void TestDialogNewTask::scriptsOption()
{
    QFETCH(bool, available);
    QFETCH(int, presses);
    QFETCH(bool, runScripts);
    DialogNewTask dialog;
    auto* box = dialog.findChild<QCheckBox*>("checkBoxRunScripts");
    QVERIFY(box);
    box->setChecked(!available); // a choice made before the renderer is known to be missing does not count
    dialog.setScriptsAvailable(available, "install it");
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto* name = dialog.findChild<QLineEdit*>("lineEditTaskName");
    name->setFocus();
    for (int i = 0; i < presses; ++i) {
        QTest::keyClick(name, Qt::Key_S, Qt::AltModifier);
        QTest::qWait(250); // a mnemonic clicks the box as an animated click, a moment later
    }
    QCOMPARE(dialog.runScripts(), runScripts);
    QCOMPARE(box->isEnabled(), available);
    if (!available)
        QCOMPARE(box->toolTip(), QString("install it"));
    // Offered again (the engine's probe answered), the box says what it does.
    dialog.setScriptsAvailable(true);
    QVERIFY(box->isEnabled());
    QVERIFY(box->toolTip().contains("browser engine"));
}

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

QTEST_MAIN(TestDialogNewTask)
#include "tst_dialognewtask.moc"

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
