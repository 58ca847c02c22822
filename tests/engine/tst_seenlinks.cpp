// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/matching/seenlinks.h"

#include <QtTest>

#include <optional>

using Seen = std::optional<QSet<QString>>;
Q_DECLARE_METATYPE(Seen)

namespace {
// "link=text" items, in page order.
QList<PageLink> pageOf(const QStringList& items)
{
    QList<PageLink> links;
    for (const QString& item : items)
        links.append({item.section(u'=', 0, 0), item.section(u'=', 1)});
    return links;
}

Seen seen(const QStringList& links)
{
    return QSet<QString>(links.begin(), links.end());
}
} // namespace

class TestSeenLinks : public QObject
{
    Q_OBJECT

private slots:
    void compare_data()
    {
        QTest::addColumn<QStringList>("page");
        QTest::addColumn<Seen>("previous");
        QTest::addColumn<QStringList>("resultLinks");
        QTest::addColumn<QStringList>("reported"); // "link=text", in page order
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("removed");

        const QStringList page{"a=Alpha", "b=Beta", "c=Gamma"};
        QTest::addRow("first check, nothing recorded")
            << page << Seen() << QStringList{} << QStringList{} << QStringList{"a", "b", "c"} << QStringList{};
        QTest::addRow("first check, empty record")
            << page << seen({}) << QStringList{"x"} << QStringList{} << QStringList{"a", "b", "c"} << QStringList{};
        QTest::addRow("unchanged page") << page << seen({"a", "b", "c"}) << QStringList{} << QStringList{}
                                        << QStringList{} << QStringList{};
        QTest::addRow("new links in page order")
            << QStringList{"c=Gamma", "a=Alpha", "d=Delta"} << seen({"a"}) << QStringList{}
            << QStringList{"c=Gamma", "d=Delta"} << QStringList{"c", "d"} << QStringList{};
        QTest::addRow("new link already a result: seen, not reported")
            << page << seen({"a"}) << QStringList{"b"} << QStringList{"c=Gamma"} << QStringList{"b", "c"}
            << QStringList{};
        QTest::addRow("gone links removed, sorted") << QStringList{"b=Beta"} << seen({"z", "b", "a"}) << QStringList{}
                                                    << QStringList{} << QStringList{} << QStringList{"a", "z"};
        QTest::addRow("repeated link reported once, first text")
            << QStringList{"n=First", "a=Alpha", "n=Second"} << seen({"a"}) << QStringList{} << QStringList{"n=First"}
            << QStringList{"n"} << QStringList{};
        QTest::addRow("empty page empties the record") << QStringList{} << seen({"a", "b"}) << QStringList{"a"}
                                                       << QStringList{} << QStringList{} << QStringList{"a", "b"};
        QTest::addRow("comparison is exact") << QStringList{"http://h/A=x", "http://h/a =y"} << seen({"http://h/a"})
                                             << QStringList{} << QStringList{"http://h/A=x", "http://h/a =y"}
                                             << QStringList{"http://h/A", "http://h/a "} << QStringList{"http://h/a"};
    }
    void compare()
    {
        QFETCH(QStringList, page);
        QFETCH(Seen, previous);
        QFETCH(QStringList, resultLinks);
        QFETCH(QStringList, reported);
        QFETCH(QStringList, added);
        QFETCH(QStringList, removed);

        const QDate today(2026, 3, 15);
        Task::ResultList results{nullptr}; // an empty slot is passed over
        for (const QString& link : resultLinks)
            results << Task::ResultPtr::create(Task::TaskResult{7, QDate(2020, 1, 1), "old", link, StateRead});

        const TaskChange change = SeenLinks::compare(7, pageOf(page), previous, results, today);
        QCOMPARE(change.taskId, 7);
        QStringList got;
        for (const Task::ResultPtr& result : change.results) {
            got << result->link + u'=' + result->text;
            QCOMPARE(result->taskId, 7);
            QCOMPARE(result->date, today);
            QCOMPARE(result->state, int(StateNew));
        }
        QCOMPARE(got, reported);
        QCOMPARE(change.seenAdded, added);
        QCOMPARE(change.seenRemoved, removed);
    }
};

QTEST_GUILESS_MAIN(TestSeenLinks)
#include "tst_seenlinks.moc"
