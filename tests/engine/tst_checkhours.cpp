// SPDX-License-Identifier: GPL-3.0-or-later
// The user's hours: whether a moment lies in them and when they begin next, across midnight and over days left
// out, and which texts name hours.
#include "engine/definition/checkhours.h"

#include <QTest>

class TestCheckHours : public QObject
{
    Q_OBJECT

private slots:
    void hours_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QDateTime>("next");
        // 7 December 2026 is a Monday.
        const auto at = [](int day, int hour, int minute = 0) {
            return QDateTime(QDate(2026, 12, day), QTime(hour, minute));
        };
        const QString office = QStringLiteral("08:00-18:00 12345");
        const QString fridayNight = QStringLiteral("22:00-06:00 5");
        QTest::addRow("inside working hours") << office << at(7, 10) << true << at(7, 10);
        QTest::addRow("before they begin") << office << at(7, 7, 59) << false << at(7, 8);
        QTest::addRow("a minute before they end") << office << at(7, 17, 59) << true << at(7, 17, 59);
        QTest::addRow("when they end") << office << at(7, 18) << false << at(8, 8);
        QTest::addRow("a day left out") << office << at(12, 10) << false << at(14, 8);
        QTest::addRow("across midnight, the evening") << fridayNight << at(11, 23) << true << at(11, 23);
        QTest::addRow("across midnight, the small hours after")
            << fridayNight << at(12, 5, 59) << true << at(12, 5, 59);
        QTest::addRow("across midnight, when they end") << fridayNight << at(12, 6) << false << at(18, 22);
        QTest::addRow("small hours after a day left out") << fridayNight << at(11, 3) << false << at(11, 22);
        QTest::addRow("whole days") << "00:00-00:00 67" << at(13, 23, 59) << true << at(13, 23, 59);
        QTest::addRow("whole days, one left out") << "00:00-00:00 67" << at(14, 0) << false << at(19, 0);
        QTest::addRow("at any time") << QString() << at(9, 3) << true << at(9, 3);
    }
    void hours()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, moment);
        QFETCH(bool, allowed);
        QFETCH(QDateTime, next);
        const std::optional<CheckHours> hours = CheckHours::fromText(text);
        QVERIFY(hours);
        QCOMPARE(hours->allows(moment), allowed);
        QCOMPARE(hours->nextAllowed(moment), next);
        QVERIFY(hours->allows(next));
        QCOMPARE(CheckHours::fromText(hours->toText()), hours);
    }

    void texts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addRow("office hours") << "08:00-18:00 12345" << true;
        QTest::addRow("white space around") << "  22:30-06:15 7 " << true;
        QTest::addRow("empty") << "" << true;
        QTest::addRow("hours without minutes") << "8-18 1" << false;
        QTest::addRow("no such hour") << "25:00-18:00 1" << false;
        QTest::addRow("a day twice") << "08:00-18:00 11" << false;
        QTest::addRow("no such day") << "08:00-18:00 8" << false;
        QTest::addRow("no day") << "08:00-18:00" << false;
    }
    void texts()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(CheckHours::problem(text).isEmpty(), valid);
    }
};

QTEST_GUILESS_MAIN(TestCheckHours)
#include "tst_checkhours.moc"
