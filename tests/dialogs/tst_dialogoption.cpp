// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/appsettings.h"
#include "dialogs/dialogoption.h"
#include "tests/dialogs/messageboxcatcher.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

class TestDialogOption : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void shownValues_data();
    void shownValues();
    void okAcceptsWithTheShownValues();
    void cancelWritesNothing();
    void tabOrder();
    void hours_data();
    void hours();
    void daysOutsideTheRangeRefused_data();
    void daysOutsideTheRangeRefused();

private:
    static QMap<QString, QVariant> stored()
    {
        QSettings settings(AppSettings::Organization, AppSettings::Application);
        QMap<QString, QVariant> values;
        for (const QString& key : settings.allKeys())
            values.insert(key, settings.value(key));
        return values;
    }

    QTemporaryDir config;
};

void TestDialogOption::initTestCase()
{
    // Keep the user's real settings out of reach: every QSettings below lives in a temporary folder.
    QVERIFY(config.isValid());
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const QString file = QSettings(AppSettings::Organization, AppSettings::Application).fileName();
    QVERIFY2(file.startsWith(config.path()), qPrintable(file));
}

void TestDialogOption::init()
{
    QSettings(AppSettings::Organization, AppSettings::Application).clear();
}

void TestDialogOption::shownValues_data()
{
    QTest::addColumn<QVariant>("autoDelete"); // stored values; an invalid QVariant leaves the key out
    QTest::addColumn<QVariant>("autoRun");
    QTest::addColumn<QVariant>("days");
    QTest::addColumn<QVariant>("reportNewLinks");
    QTest::addColumn<bool>("shownAutoDelete");
    QTest::addColumn<bool>("shownAutoRun");
    QTest::addColumn<int>("shownDays");
    QTest::addColumn<bool>("shownReportNewLinks");

    const QVariant none;
    QTest::addRow("first start") << none << none << none << none << false << false << 14 << false;
    QTest::addRow("both on") << QVariant(true) << QVariant(true) << QVariant(20) << none << true << true << 20 << false;
    QTest::addRow("delete only") << QVariant(true) << QVariant(false) << QVariant(31) << QVariant(false) << true
                                 << false << 31 << false;
    QTest::addRow("run only") << QVariant(false) << QVariant(true) << QVariant(7) << none << false << true << 7
                              << false;
    QTest::addRow("3 days shown as 7") << QVariant(true) << none << QVariant(3) << none << true << false << 7 << false;
    QTest::addRow("45 days shown as 31") << none << none << QVariant(45) << none << false << false << 31 << false;
    QTest::addRow("new links only") << none << none << none << QVariant(true) << false << false << 14 << true;
    QTest::addRow("new links unreadable") << none << none << none << QVariant("often") << false << false << 14 << false;
}

void TestDialogOption::shownValues()
{
    QFETCH(QVariant, autoDelete);
    QFETCH(QVariant, autoRun);
    QFETCH(QVariant, days);
    QFETCH(QVariant, reportNewLinks);
    QFETCH(bool, shownAutoDelete);
    QFETCH(bool, shownAutoRun);
    QFETCH(int, shownDays);
    QFETCH(bool, shownReportNewLinks);

    {
        QSettings settings(AppSettings::Organization, AppSettings::Application);
        settings.beginGroup("options");
        if (autoDelete.isValid())
            settings.setValue("is_auto_delete", autoDelete);
        if (autoRun.isValid())
            settings.setValue("is_auto_run", autoRun);
        if (days.isValid())
            settings.setValue("delete_days", days);
        if (reportNewLinks.isValid())
            settings.setValue("report_new_links", reportNewLinks);
    }

    DialogOption dialog(Settings().options());
    QCOMPARE(dialog.findChild<QCheckBox*>("checkBoxAutoDelete")->isChecked(), shownAutoDelete);
    QCOMPARE(dialog.findChild<QCheckBox*>("checkBoxAutorun")->isChecked(), shownAutoRun);
    QCOMPARE(dialog.findChild<QSpinBox*>("spinBoxDays")->value(), shownDays);
    QCOMPARE(dialog.isAutoDelete(), shownAutoDelete);
    QCOMPARE(dialog.isAutoRun(), shownAutoRun);
    QCOMPARE(dialog.deleteDays(), shownDays);
    QCOMPARE(dialog.findChild<QCheckBox*>("checkBoxReportNewLinks")->isChecked(), shownReportNewLinks);
    QCOMPARE(dialog.isReportNewLinks(), shownReportNewLinks);
}

void TestDialogOption::okAcceptsWithTheShownValues()
{
    DialogOption dialog(Settings().options());
    dialog.show();
    dialog.findChild<QCheckBox*>("checkBoxAutorun")->click();
    dialog.findChild<QSpinBox*>("spinBoxDays")->setValue(21);
    QTest::mouseClick(dialog.findChild<QCheckBox*>("checkBoxReportNewLinks"), Qt::LeftButton);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.isAutoRun());
    QVERIFY(!dialog.isAutoDelete());
    QCOMPARE(dialog.deleteDays(), 21);
    QVERIFY(dialog.isReportNewLinks());
    QVERIFY2(stored().isEmpty(), "the dialog itself never writes the settings");
}

void TestDialogOption::cancelWritesNothing()
{
    {
        QSettings settings(AppSettings::Organization, AppSettings::Application);
        settings.setValue("options/is_auto_run", true);
        settings.setValue("options/delete_days", 9);
    }
    const auto before = stored();

    DialogOption dialog(Settings().options());
    dialog.show();
    dialog.findChild<QCheckBox*>("checkBoxAutorun")->click();
    dialog.findChild<QCheckBox*>("checkBoxAutoDelete")->click();
    dialog.findChild<QSpinBox*>("spinBoxDays")->setValue(30);
    dialog.findChild<QCheckBox*>("checkBoxReportNewLinks")->click();
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonCancel"), Qt::LeftButton);
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(stored(), before);
}

void TestDialogOption::tabOrder()
{
    DialogOption dialog(Settings().options());
    const QStringList expected = {"checkBoxAutorun",
                                  "checkBoxAutoDelete",
                                  "spinBoxDays",
                                  "checkBoxReportNewLinks",
                                  "spinBoxChecksBeforeLook",
                                  "checkBoxCheckHours",
                                  "hoursEditCheckHours",
                                  "pushButtonCancel",
                                  "pushButtonOk",
                                  "tabWidget"};
    // Walk the focus chain from the first field; a stop inside a compound widget (the tab bar of the
    // tab widget) counts as that widget.
    QStringList order;
    QWidget* widget = dialog.findChild<QWidget*>(expected.first());
    for (int step = 0; widget && step < 50 && order.size() < expected.size(); ++step) {
        if (widget->focusPolicy() & Qt::TabFocus) {
            QWidget* named = widget;
            while (named && named != &dialog && !expected.contains(named->objectName()))
                named = named->parentWidget();
            if (named && named != &dialog && order.value(order.size() - 1) != named->objectName())
                order << named->objectName();
        }
        widget = widget->nextInFocusChain();
    }
    QCOMPARE(order, expected);
}

void TestDialogOption::hours_data()
{
    QTest::addColumn<QString>("stored"); // check_hours in the settings file
    QTest::addColumn<QString>("days");   // the days ticked in the dialog, "-": left as shown
    QTest::addColumn<QString>("post");   // news posted to
    QTest::addColumn<QString>("focus");  // the field with the cursor after a refusal; empty when accepted
    QTest::addColumn<QString>("given");  // Options::checkHours once accepted

    // clang-format off
    QTest::addRow("none") << "" << "-" << "" << "" << "";
    QTest::addRow("office hours") << "08:00-18:00 12345" << "-" << "" << "" << "08:00-18:00 12345";
    QTest::addRow("across midnight, weekend") << "22:00-06:00 67" << "-" << "" << "" << "22:00-06:00 67";
    QTest::addRow("unreadable: any time") << "9 to 5" << "-" << "" << "" << "";
    QTest::addRow("a day left out") << "08:00-18:00 12345" << "1234" << "" << "" << "08:00-18:00 1234";
    QTest::addRow("no day") << "08:00-18:00 12345" << "" << "" << "checkBoxDay1" << "";
    QTest::addRow("news posted to ftp") << "" << "-" << "ftp://h/x" << "lineEditNewsPost" << "";
    // clang-format on
}

void TestDialogOption::hours()
{
    QFETCH(QString, stored);
    QFETCH(QString, days);
    QFETCH(QString, post);
    QFETCH(QString, focus);
    QFETCH(QString, given);
    QSettings(AppSettings::Organization, AppSettings::Application).setValue("options/check_hours", stored);
    DialogOption dialog(Settings().options());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    for (int day = 1; days != "-" && day <= 7; ++day)
        dialog.findChild<QCheckBox*>(QString("checkBoxDay%1").arg(day))
            ->setChecked(days.contains(QString::number(day)));
    dialog.findChild<QLineEdit*>("lineEditNewsPost")->setText(post);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    MessageBoxCatcher catcher;
    QTest::mouseClick(dialog.findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
    QCOMPARE(accepted.count(), focus.isEmpty() ? 1 : 0);
    if (!focus.isEmpty()) {
        QCOMPARE(catcher.boxes.size(), 1);
        QTRY_COMPARE(dialog.focusWidget() ? dialog.focusWidget()->objectName() : QString(), focus);
        QCOMPARE(dialog.findChild<QLineEdit*>("lineEditNewsPost")->text(), post);
        return;
    }
    QCOMPARE(dialog.options().checkHours, given);
}

void TestDialogOption::daysOutsideTheRangeRefused_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("days");        // the box's value after
    QTest::addColumn<QString>("refusal"); // empty when none
    QTest::newRow("below the range") << "3" << 14 << "3 cannot be taken: from 7 to 31. The box keeps 14.";
    QTest::newRow("above the range: the second digit is not taken")
        << "45" << 14 << "4 cannot be taken: from 7 to 31. The box keeps 14.";
    QTest::newRow("inside") << "21" << 21 << "";
}

void TestDialogOption::daysOutsideTheRangeRefused()
{
    QFETCH(QString, typed);
    QFETCH(int, days);
    QFETCH(QString, refusal);
    DialogOption dialog(Settings().options());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto* box = dialog.findChild<QSpinBox*>("spinBoxDays");
    QCOMPARE(box->toolTip(), QString("From 7 to 31"));
    box->setFocus();
    box->selectAll();
    MessageBoxCatcher catcher;
    QTest::keyClicks(box, typed);
    QTest::keyClick(box, Qt::Key_Tab);
    QTRY_COMPARE(catcher.boxes.size(), refusal.isEmpty() ? 0 : 1);
    if (!refusal.isEmpty())
        QCOMPARE(catcher.boxes.at(0).text, refusal);
    QCOMPARE(box->value(), days);
}

QTEST_MAIN(TestDialogOption)
#include "tst_dialogoption.moc"
