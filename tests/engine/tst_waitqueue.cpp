// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fetching/waitqueue.h"

#include <QObject>
#include <QPointer>
#include <QTest>

namespace {
struct Job
{
    quint64 ticket = 0;
    FetchPriority priority = FetchPriority::Waited;
    QPointer<QObject> context;
};
} // namespace

// Steps of a queue, written as text: "w5" adds ticket 5 the user waits for, "b5" a background one, "o5" a waited
// one whose owner is gone, "-5" removes ticket 5, "t" takes the first, "d" drops the orphans at the front.
class TestWaitQueue : public QObject
{
    Q_OBJECT

private slots:
    void order_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("taken");   // the tickets taken by "t", in turn
        QTest::addColumn<QString>("left");    // the queue at the end, in order
        QTest::addColumn<QString>("removed"); // whether each "-" found its ticket
        QTest::addRow("each kind in the order asked") << "b1 b2 w3 w4 b5"
                                                      << ""
                                                      << "3 4 1 2 5"
                                                      << "";
        QTest::addRow("waited before background, whenever added") << "b1 w2 t w3 t t"
                                                                  << "2 3 1"
                                                                  << ""
                                                                  << "";
        QTest::addRow("removal from either kind") << "w1 b2 w3 b4 -3 -2"
                                                  << ""
                                                  << "1 4"
                                                  << "1 1";
        QTest::addRow("removal of an unknown or taken ticket") << "w1 b2 t -1 -9"
                                                               << "1"
                                                               << "2"
                                                               << "0 0";
        QTest::addRow("a ticket added twice goes with one removal") << "w1 b1 w2 -1"
                                                                    << ""
                                                                    << "2"
                                                                    << "1";
        QTest::addRow("a duplicate taken leaves the other") << "w1 w1 t"
                                                            << "1"
                                                            << "1"
                                                            << "";
        QTest::addRow("orphans at the front dropped, others kept") << "o1 o2 w3 o4 b5 d"
                                                                   << ""
                                                                   << "3 4 5"
                                                                   << "";
        QTest::addRow("added again after taking") << "w1 t w1 b2 t"
                                                  << "1 1"
                                                  << "2"
                                                  << "";
    }

    void order()
    {
        QFETCH(QString, steps);
        QFETCH(QString, taken);
        QFETCH(QString, left);
        QFETCH(QString, removed);
        QObject owner;
        WaitQueue<Job> queue;
        QStringList takenTickets;
        QStringList found;
        for (const QString& step : steps.split(u' ')) {
            const quint64 ticket = step.mid(1).toULongLong();
            switch (step.at(0).toLatin1()) {
            case 'w':
            case 'b':
            case 'o':
                queue.add(Job{ticket, step.at(0) == u'b' ? FetchPriority::Background : FetchPriority::Waited,
                              step.at(0) == u'o' ? nullptr : &owner});
                break;
            case '-':
                found.append(queue.remove(ticket) ? QStringLiteral("1") : QStringLiteral("0"));
                QVERIFY(!queue.contains(ticket));
                break;
            case 't':
                takenTickets.append(QString::number(queue.takeFirst().ticket));
                break;
            case 'd':
                queue.dropOrphans();
                break;
            }
        }
        QCOMPARE(takenTickets.join(u' '), taken);
        QCOMPARE(found.join(u' '), removed);
        QStringList order;
        queue.forEach([&order](const Job& job) { order.append(QString::number(job.ticket)); });
        QCOMPARE(order.join(u' '), left);
        QCOMPARE(queue.size(), order.size());
        // What is left comes out in the same order, and every ticket in it can still be removed.
        const QList<Job> all = queue.takeIf([](const Job&) { return true; });
        QCOMPARE(all.size(), order.size());
        for (qsizetype i = 0; i < all.size(); ++i)
            QCOMPARE(QString::number(all.at(i).ticket), order.at(i));
        QVERIFY(queue.isEmpty());
        for (const Job& job : all)
            QVERIFY(!queue.contains(job.ticket));
    }
};

QTEST_GUILESS_MAIN(TestWaitQueue)
#include "tst_waitqueue.moc"
