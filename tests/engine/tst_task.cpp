// SPDX-License-Identifier: GPL-3.0-or-later
// What a task is: its dates, its results and the links it remembers between checks (the keyword links of a page
// are tst_keywordmatch's).
#include "engine/definition/task.h"
#include "engine/fetching/fetchrequest.h"
#include "tests/engine/resultlinks.h"

#include <QTest>

using namespace ResultLinks;

class TestTask : public QObject
{
    Q_OBJECT

private slots:
    void dates_data();
    void dates();
    void resultIndexes_data();
    void resultIndexes();
    void listsShareRecords();

    void compare_data();
    void compare();
    void compareBounded();
    void updateReportsOnce();
    void textHistory_data();
    void textHistory();

private:
    const QDate today{2031, 2, 3}; // the date the checker's clock gives; records carry it, not the system's
};

void TestTask::dates_data()
{
    QTest::addColumn<QDateTime>("created"); // the moment the maker's clock gave
    QTest::addColumn<QString>("taskDate");
    QTest::addColumn<QDate>("expectedDate");
    QTest::addColumn<QString>("lastUpdate");
    QTest::addColumn<QDateTime>("expectedUpdate");

    const QDateTime lastSecondOfYear(QDate(2031, 12, 31), QTime(23, 59, 59));
    QTest::addRow("stored forms") << lastSecondOfYear << "07/01/2009" << QDate(2009, 7, 1) << "2009-07-01T13:45:10"
                                  << QDateTime(QDate(2009, 7, 1), QTime(13, 45, 10));
    QTest::addRow("other forms are invalid")
        << QDateTime(QDate(2032, 2, 29), QTime(0, 0)) << "2009-07-01" << QDate() << "07/01/2009 13:45" << QDateTime();
    QTest::addRow("read from a file: no moment") << QDateTime() << "" << QDate() << "" << QDateTime();
    // The stored forms are read digit by digit; what names no day or moment reads as Qt's parser reads it.
    const QDateTime any(QDate(2030, 1, 1), QTime(0, 0));
    QTest::addRow("no such day") << any << "02/30/2026" << QDate() << "2026-02-30T10:00:00" << QDateTime();
    QTest::addRow("no such month or hour") << any << "13/01/2026" << QDate() << "2026-01-01T25:00:00" << QDateTime();
    QTest::addRow("letters in the digits") << any << "0a/01/2026" << QDate() << "2026-01-0xT10:00:00" << QDateTime();
    QTest::addRow("a moment with an offset") << any << "12/31/1999" << QDate(1999, 12, 31) << "2026-01-01T10:00:00Z"
                                             << QDateTime(QDate(2026, 1, 1), QTime(10, 0), Qt::UTC);
    QTest::addRow("midnight at the end of a day") << any << "01/01/2026" << QDate(2026, 1, 1) << "2026-01-01T24:00:00"
                                                  << QDateTime::fromString("2026-01-01T24:00:00", Qt::ISODate);
}

void TestTask::dates()
{
    QFETCH(QDateTime, created);
    QFETCH(QString, taskDate);
    QFETCH(QDate, expectedDate);
    QFETCH(QString, lastUpdate);
    QFETCH(QDateTime, expectedUpdate);

    // The task is dated by the moment given, never by the system's.
    Task task(1, {"n", "http://127.0.0.1/", "k", 60, {}}, created);
    QCOMPARE(task.taskDate(), created.date());
    QCOMPARE(task.lastUpdate(), created);
    task.setTaskDate(taskDate);
    task.setLastUpdate(lastUpdate);
    QCOMPARE(task.taskDate(), expectedDate);
    QCOMPARE(task.lastUpdate(), expectedUpdate);
    // Written back as stored, where Qt writes the moment in the stored form.
    if (expectedDate.isValid() && expectedUpdate.toString(Qt::ISODate) == lastUpdate) {
        QCOMPARE(task.taskDateText(), taskDate);
        QCOMPARE(task.lastUpdateText(), lastUpdate);
    }
}

void TestTask::resultIndexes_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("valid");

    QTest::addRow("-1") << -1 << false;
    QTest::addRow("first") << 0 << true;
    QTest::addRow("last") << 2 << true;
    QTest::addRow("count") << 3 << false;
    QTest::addRow("far out") << 1000 << false;
}

void TestTask::resultIndexes()
{
    QFETCH(int, index);
    QFETCH(bool, valid);

    Task task(1, {"n", "http://127.0.0.1/", "k", 60, {}});
    const Task::ResultList stored = records({{"http://h/a", "A"}, {"http://h/b", "B"}, {"http://h/c", "C"}});
    task.setResults(stored);
    QCOMPARE(task.unreadCount(), 3);
    // A changed text puts the link into knownLinks.
    task.takeUpdatePage(pageAt("http://h/", anchors({{"\"http://h/b\"", "B2 k"}})), today);
    QCOMPARE(task.knownLinks().size(), 1);

    task.setResultState(index, StateRead);
    for (int i = 0; i < stored.size(); ++i)
        QCOMPARE(stored.at(i)->state, i == index && valid ? int(StateRead) : int(StateNew));
    QCOMPARE(task.unreadCount(), valid ? 2 : 3);

    task.removeResult(index);
    Task::ResultList expected = stored;
    if (valid)
        expected.removeAt(index);
    QCOMPARE(task.results(), expected);
    // A removed result empties knownLinks, so changes are judged afresh; an ignored index does not.
    QCOMPARE(task.knownLinks().isEmpty(), valid);
}

void TestTask::listsShareRecords()
{
    Task task(1, {"n", "http://127.0.0.1/", "k", 60, {}});
    const Task::ResultList first = records({{"http://h/a", "A"}});
    const Task::ResultList more = records({{"http://h/b", "B"}, {"http://h/a", "A"}});
    // The unread count follows every change of the list, also once it has been asked.
    task.setResults(first);
    QCOMPARE(task.unreadCount(), 1);
    task.appendResults({});
    QCOMPARE(task.results(), first);
    task.appendResults(more);
    QCOMPARE(task.results(), first + more);
    QCOMPARE(task.unreadCount(), 3);
    task.removeResult(0);
    QCOMPARE(task.unreadCount(), 2);
    task.setResults(first);

    // The record outlives every list that let go of it as long as one holder remains.
    QWeakPointer<Task::TaskResult> weak = first.first();
    task.clearResults();
    QVERIFY(task.results().isEmpty());
    QCOMPARE(task.unreadCount(), 0);
    QVERIFY(!weak.isNull()); // still held by `first`
}

void TestTask::compare_data()
{
    QTest::addColumn<Links>("stored");
    QTest::addColumn<Links>("page"); // href, text
    QTest::addColumn<Links>("known");
    QTest::addColumn<Links>("reported");
    QTest::addColumn<Links>("knownAfter");

    const QString a = "http://h/news/a.html";
    const QString b = "http://h/news/b.html";
    QTest::addRow("changed text reported") << Links{{a, "Item old"}} << Links{{"a.html", "Item new"}} << Links{}
                                           << Links{{a, "Item new"}} << Links{{a, "Item new"}};
    // A text a stored result holds is never reported, so it is not remembered either.
    QTest::addRow("unchanged text is not remembered")
        << Links{{a, "Item"}} << Links{{"\"/news/a.html\"", "Item"}} << Links{} << Links{} << Links{};
    QTest::addRow("known text not reported again") << Links{{a, "Item old"}} << Links{{a, "Item new"}}
                                                   << Links{{a, "Item new"}} << Links{} << Links{{a, "Item new"}};
    QTest::addRow("link not stored is not reported")
        << Links{{a, "Item"}} << Links{{"b.html", "Item B"}} << Links{} << Links{} << Links{};
    QTest::addRow("duplicates, other text first")
        << Links{{a, "Item old"}, {a, "Item"}} << Links{{"a.html", "Item"}} << Links{} << Links{} << Links{};
    QTest::addRow("markup anchor compared by its visible text")
        << Links{{a, "Item old"}} << Links{{"a.html", "<b>Item</b>&nbsp;new"}} << Links{} << Links{{a, "Item new"}}
        << Links{{a, "Item new"}};
    QTest::addRow("duplicates, current text first")
        << Links{{a, "Item"}, {a, "Item old"}} << Links{{"a.html", "Item"}} << Links{} << Links{} << Links{};
    QTest::addRow("later link of the page wins")
        << Links{{a, "Item one"}} << Links{{"a.html", "Item one"}, {"/news/a.html", "Item two"}} << Links{}
        << Links{{a, "Item two"}} << Links{{a, "Item two"}};
    QTest::addRow("keyword decides what is seen")
        << Links{{a, "Item old"}, {b, "Item b"}} << Links{{"a.html", "Other"}, {"b.html", "Item b2"}} << Links{}
        << Links{{b, "Item b2"}} << Links{{b, "Item b2"}};
    // The links known are kept per link: another link's text is left as it is, a held text forgets its own.
    QTest::addRow("known text of another link kept")
        << Links{{a, "Item a"}} << Links{{"a.html", "Item a2"}} << Links{{b, "Item b"}} << Links{{a, "Item a2"}}
        << Links{{a, "Item a2"}, {b, "Item b"}};
    QTest::addRow("held text forgets the known one")
        << Links{{a, "Item"}} << Links{{"a.html", "Item"}} << Links{{a, "Item other"}} << Links{} << Links{};
    QTest::addRow("known link changed again")
        << Links{{a, "Item old"}} << Links{{"a.html", "Item third"}} << Links{{a, "Item new"}}
        << Links{{a, "Item third"}} << Links{{a, "Item third"}};
    QTest::addRow("duplicates with a known other text")
        << Links{{a, "Item old"}, {b, "Item b"}, {a, "Item older"}} << Links{{"b.html", "Item b"}, {"a.html", "Item"}}
        << Links{{a, "Item"}} << Links{} << Links{{a, "Item"}};
    QTest::addRow("two changes, in stored order")
        << Links{{b, "Item b"}, {a, "Item a"}} << Links{{"a.html", "Item a2"}, {"b.html", "Item b2"}} << Links{}
        << Links{{b, "Item b2"}, {a, "Item a2"}} << Links{{a, "Item a2"}, {b, "Item b2"}};
}

void TestTask::compare()
{
    QFETCH(Links, stored);
    QFETCH(Links, page);
    QFETCH(Links, known);
    QFETCH(Links, reported);
    QFETCH(Links, knownAfter);

    Task task(9, {"n", "http://h/news/index.html", "item", 60, {}});
    task.setResults(records(stored));
    Task::LinkTexts knownLinks;
    for (const Link& link : known)
        knownLinks.insert(link.first, link.second);

    const Task::ResultList fresh =
        task.compareWithResults(QString::fromUtf8(anchors(page)), QUrl("http://h/news/index.html"), knownLinks, today);
    QCOMPARE(linksOf(fresh), reported);
    for (const Task::ResultPtr& record : fresh) {
        QCOMPARE(record->taskId, 9);
        QCOMPARE(record->state, int(StateNew));
        QCOMPARE(record->date, today);
    }
    Task::LinkTexts expectedKnown;
    for (const Link& link : knownAfter)
        expectedKnown.insert(link.first, link.second);
    QCOMPARE(knownLinks, expectedKnown);
    QCOMPARE(linksOf(task.results()), stored); // the comparison never changes the stored results
}

// The comparison sees the same bounded links as a full fetch: the 100,001st matching link is ignored.
void TestTask::compareBounded()
{
    Task task(1, {"n", "http://h/", "item", 60, {}});
    task.setResults(records({{"http://h/99999", "Item old"}, {"http://h/100000", "Item old"}}));
    Task::LinkTexts knownLinks;
    const Task::ResultList fresh =
        task.compareWithResults(tinyAnchors(100001, "Item new"), QUrl("http://h/"), knownLinks, today);
    QCOMPARE(linksOf(fresh), Links({{"http://h/99999", "Item new"}}));
    QCOMPARE(knownLinks.keys(), QStringList{"http://h/99999"});
}

void TestTask::updateReportsOnce()
{
    const QString address = QStringLiteral("http://h/updates/index.html");
    const FetchedPage page = pageAt(address, anchors({{"\"a.html\"", "Item new"}, {"/other", "Item other"}}));
    const QString a = QStringLiteral("http://h/updates/a.html");
    Task task(1, {"n", address, "item", 60, {}});
    task.setResults(records({{a, "Item old"}, {"http://h/gone", "Item gone"}}));

    QVERIFY(task.takeUpdatePage(page, today));
    QCOMPARE(linksOf(task.updateResults()), Links({{a, "Item new"}}));
    QCOMPARE(task.updateResults().first()->date, today);
    QCOMPARE(task.knownLinks().value(a), QStringLiteral("Item new"));

    // Reported once: the second check finds the same change and stays silent.
    QVERIFY(!task.takeUpdatePage(page, today));
    QVERIFY(task.updateResults().isEmpty());

    // Removing a result forgets what was seen, so the change is reported again.
    task.removeResult(1);
    QVERIFY(task.knownLinks().isEmpty());
    QVERIFY(task.takeUpdatePage(page, today));
    QCOMPARE(linksOf(task.updateResults()), Links({{a, "Item new"}}));
}

void TestTask::textHistory_data()
{
    QTest::addColumn<QStringList>("stored");   // texts of the stored results of one link
    QTest::addColumn<QStringList>("pages");    // its text on the page at each check
    QTest::addColumn<QStringList>("reported"); // what each check reports, "" for nothing

    QTest::addRow("nothing changed, then a change")
        << QStringList{"Item 1"} << QStringList{"Item 1", "Item 2"} << QStringList{"", "Item 2"};
    QTest::addRow("two changes in a row")
        << QStringList{"Item 1"} << QStringList{"Item 2", "Item 2", "Item 3"} << QStringList{"Item 2", "", "Item 3"};
    QTest::addRow("back to texts already held")
        << QStringList{"Item 1"} << QStringList{"Item 2", "Item 1", "Item 2"} << QStringList{"Item 2", "", ""};
}

// Checks in a row of a page whose link changes its text; what a check reports joins the results, as the
// checker stores it (one comparison at a time, and duplicates, are compare's).
void TestTask::textHistory()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, pages);
    QFETCH(QStringList, reported);

    const QString a = QStringLiteral("http://h/history/a.html");
    Task task(1, {"n", "http://h/history/index.html", "item", 60, {}});
    for (const QString& text : stored)
        task.appendResults(records({{a, text}}));
    for (int i = 0; i < pages.size(); ++i) {
        task.takeUpdatePage(pageAt(task.address(), anchors({{"a.html", pages[i]}, {"/other", "Item other"}})), today);
        const Links expected = reported[i].isEmpty() ? Links{} : Links{{a, reported[i]}};
        QVERIFY2(linksOf(task.updateResults()) == expected, qPrintable(QStringLiteral("check %1").arg(i + 1)));
        task.appendResults(task.updateResults());
    }
}

QTEST_GUILESS_MAIN(TestTask)
#include "tst_task.moc"
