// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/dialogs/dialognewtasktest.h"

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

QTEST_MAIN(TestDialogNewTask)
