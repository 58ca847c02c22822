// SPDX-License-Identifier: GPL-3.0-or-later
// The task list and results models over the checking core: the order of the results (by the date itself,
// any column by its header) and both models staying in step with the core after every kind of change.
#include "app/resulttablemodel.h"
#include "app/tasklistmodel.h"
#include "core/taskchecker.h"
#include "engine/fetching/fetchrequest.h"
#include "storage/taskdatabase.h"
#include "tests/app/appfixture.h"
#include "tests/support/testserver.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTest>

#include <algorithm>

namespace {
QByteArray page(const QStringList& texts)
{
    QByteArray html = "<html><body>\n";
    for (int i = 0; i < texts.size(); ++i)
        html += "<a href=\"/l" + QByteArray::number(i) + "\">" + texts.at(i).toUtf8() + "</a>\n";
    return html + "</body></html>";
}

QStringList column(const QAbstractItemModel& model, int column)
{
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row)
        out << model.index(row, column).data().toString();
    return out;
}

QStringList names(const QList<Task*>& tasks)
{
    QStringList out;
    for (const Task* task : tasks)
        out << task->name();
    return out;
}

QStringList texts(const Task::ResultList& results)
{
    QStringList out;
    for (const Task::ResultPtr& result : results)
        out << result->text;
    return out;
}
} // namespace

// The core over the test's task.db with both models and a sorting proxy, each watched by Qt's model tester.
struct Models
{
    TaskDatabase db;
    WatchList watches{db};
    TaskChecker core{watches};
    TaskListModel tasks{watches, core.checks()};
    ResultTableModel results{watches};
    QSortFilterProxyModel sorted;
    QAbstractItemModelTester taskTester{&tasks, QAbstractItemModelTester::FailureReportingMode::QtTest};
    QAbstractItemModelTester resultTester{&results, QAbstractItemModelTester::FailureReportingMode::QtTest};

    explicit Models(const AppFixture& fixture) : db(fixture.path("task.db"))
    {
        sorted.setSortRole(ResultTableModel::SortRole);
        sorted.setSourceModel(&results);
        core.watches().loadTasks();
        results.setTask(core.watches().tasks().value(0));
        sorted.sort(ResultTableModel::DateColumn, Qt::DescendingOrder);
    }
    // The task list shows the core's tasks, the results table the shown task's results, both in their order.
    bool inStep() const
    {
        if (column(tasks, 0) != names(core.watches().tasks()))
            return false;
        const Task* shown = results.task();
        const Task::ResultList list = shown ? shown->results() : Task::ResultList();
        if (results.rowCount() != list.size())
            return false;
        for (int row = 0; row < list.size(); ++row) {
            if (results.result(row) != list.at(row))
                return false;
        }
        return true;
    }
};

class TestModels : public QObject
{
    Q_OBJECT

    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }

    void order_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("times"); // "text=HH:mm:ss": the time of day the result was found
        // Stored oldest first, loaded newest stored first: b (12/30/2008), c, a, d.
        QTest::addRow("first show: newest first, last December below this January")
            << int(ResultTableModel::DateColumn) << int(Qt::DescendingOrder)
            << QStringList{"qt d", "qt a", "qt c", "qt b"} << QStringList{};
        QTest::addRow("date ascending") << int(ResultTableModel::DateColumn) << int(Qt::AscendingOrder)
                                        << QStringList{"qt b", "qt c", "qt a", "qt d"} << QStringList{};
        QTest::addRow("text ascending") << int(ResultTableModel::TextColumn) << int(Qt::AscendingOrder)
                                        << QStringList{"qt a", "qt b", "qt c", "qt d"} << QStringList{};
        QTest::addRow("link descending") << int(ResultTableModel::LinkColumn) << int(Qt::DescendingOrder)
                                         << QStringList{"qt a", "qt b", "qt d", "qt c"} << QStringList{};
        // By the moment found: c was found at 00:05, after a (00:02), though an older copy stored it first.
        QTest::addRow("times of day") << int(ResultTableModel::DateColumn) << int(Qt::DescendingOrder)
                                      << QStringList{"qt d", "qt c", "qt a", "qt b"}
                                      << QStringList{"qt c=00:05:00", "qt a=00:02:00"};
    }

    void order()
    {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, times);
        AppFixture fixture;
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "News", "http://127.0.0.1:1/", "qt");
            file.addResult(0, "12/30/2008", "qt b", "http://h/3");
            // Two of one date: without times, the one stored later (found later) is the newer.
            file.addResult(0, "01/02/2009", "qt c", "http://h/1");
            file.addResult(0, "01/02/2009", "qt a", "http://h/4");
            file.addResult(0, "06/15/2009", "qt d", "http://h/2");
            file.exec("CREATE TABLE result_times (result_id INTEGER PRIMARY KEY, found_at TEXT NOT NULL)");
            for (const QString& time : times)
                file.exec("INSERT INTO result_times SELECT id, ? FROM results WHERE text = ?",
                          {time.section('=', 1), time.section('=', 0, 0)});
        }
        Models models(fixture);
        models.sorted.sort(column, Qt::SortOrder(order));
        QCOMPARE(::column(models.sorted, ResultTableModel::TextColumn), expected);
        // The time beside the date, where it is known.
        const QStringList dates = ::column(models.sorted, ResultTableModel::DateColumn);
        QCOMPARE(dates.contains("01/02/2009 00:05"), !times.isEmpty());
        QVERIFY(dates.contains("06/15/2009"));
    }

    // A result found while the program runs is the newest of its date: listed above the stored ones of that
    // date, though the task's list appends it.
    void foundWhileRunningComesFirst()
    {
        AppFixture fixture;
        const QString today = QDate::currentDate().toString(TaskDateFormat);
        server.setPage("/today", page({"qt 1 changed"}));
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", server.url("/today").toString(), "qt");
            file.addResult(0, today, "qt 0", server.url("/old").toString());
            file.addResult(0, today, "qt 1", server.url("/l0").toString());
        }
        Models models(fixture);
        QCOMPARE(::column(models.sorted, ResultTableModel::TextColumn), (QStringList{"qt 1", "qt 0"}));
        QVERIFY(models.core.updater().run().anyNew);
        QCOMPARE(::column(models.sorted, ResultTableModel::TextColumn), (QStringList{"qt 1 changed", "qt 1", "qt 0"}));
    }

    // Removing several results is all or nothing: task.db refusing one of them (a trigger here, a full disk or
    // a lock for a user) keeps every row, in the file, in the task and in the table.
    void removingSeveralIsAllOrNothing()
    {
        AppFixture fixture;
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", "http://127.0.0.1:1/", "qt");
            for (const QString text : {"qt 0", "qt 1", "qt 2"})
                file.addResult(0, "01/01/2009", text, "http://h/" + text.right(1));
            QVERIFY(file.exec("CREATE TRIGGER keep BEFORE DELETE ON results WHEN old.text = 'qt 2' "
                              "BEGIN SELECT RAISE(ABORT, 'kept'); END"));
        }
        Models models(fixture);
        Task* a = models.core.watches().tasks().at(0);
        // qt 2 last: qt 0 and qt 1 would go before the refusal if each row went on its own.
        Task::ResultList all = a->results();
        std::sort(all.begin(), all.end(), [](const auto& x, const auto& y) { return x->text < y->text; });
        QVERIFY(!models.core.watches().removeResults(a, all));
        QVERIFY(!models.watches.lastError().isEmpty());
        QCOMPARE(a->results().size(), 3);
        QCOMPARE(models.results.rowCount(), 3);
        QVERIFY(models.inStep());
        QCOMPARE(DbFile(fixture.path("task.db")).count("results"), 3);
    }

    // Marking several results read (or all of them): one change signal and one change notice of the table
    // for the lot, task.db written for exactly the unread ones of the task, and on a refusal (a trigger here)
    // nothing changes anywhere.
    void markingSeveralRead_data()
    {
        QTest::addColumn<QList<int>>("marked"); // results "qt N" of A; -1: B's result with A's text and link
        QTest::addColumn<bool>("all");          // Mark All Read instead
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("states"); // of qt 0 to qt 3 afterwards, in memory and task.db
        QTest::addColumn<QStringList>("signalled");
        QTest::addRow("two, one twice") << QList<int>{3, 0, 3} << false << false << "1101"
                                        << QStringList{"qt 0", "qt 3"};
        QTest::addRow("a read one is skipped") << QList<int>{1, 2} << false << false << "0110" << QStringList{"qt 2"};
        QTest::addRow("another task's is skipped")
            << QList<int>{-1, 2} << false << false << "0110" << QStringList{"qt 2"};
        QTest::addRow("only read ones") << QList<int>{1} << false << false << "0100" << QStringList{};
        QTest::addRow("all") << QList<int>{} << true << false << "1111" << QStringList{"qt 0", "qt 2", "qt 3"};
        QTest::addRow("refused") << QList<int>{0, 2, 3} << false << true << "0100" << QStringList{};
        QTest::addRow("all refused") << QList<int>{} << true << true << "0100" << QStringList{};
    }
    void markingSeveralRead()
    {
        QFETCH(QList<int>, marked);
        QFETCH(bool, all);
        QFETCH(bool, refused);
        QFETCH(QString, states);
        QFETCH(QStringList, signalled);
        AppFixture fixture;
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", "http://127.0.0.1:1/a", "qt");
            file.addTask(1, "B", "http://127.0.0.1:1/b", "qt");
            for (int i = 0; i < 4; ++i)
                file.addResult(0, "01/01/2009", QStringLiteral("qt %1").arg(i), "http://h/same", i == 1 ? 1 : 0);
            // The same text and link under B: only A's row may change.
            file.addResult(1, "01/01/2009", "qt 2", "http://h/same");
            if (refused)
                QVERIFY(file.exec("CREATE TRIGGER keep BEFORE UPDATE ON results WHEN old.text = 'qt 3' "
                                  "BEGIN SELECT RAISE(ABORT, 'kept'); END"));
        }
        Models models(fixture);
        Task* a = models.core.watches().tasks().at(0);
        Task* b = models.core.watches().tasks().at(1);
        auto byText = [a](const QString& text) {
            return *std::find_if(a->results().cbegin(), a->results().cend(),
                                 [&text](const Task::ResultPtr& result) { return result->text == text; });
        };
        Task::ResultList chosen;
        for (int n : marked)
            chosen << (n < 0 ? b->results().at(0) : byText(QStringLiteral("qt %1").arg(n)));
        QSignalSpy changes(&models.core.watches(), &WatchList::resultStatesChanged);
        QSignalSpy notices(&models.results, &QAbstractItemModel::dataChanged);
        const bool done = all ? models.core.watches().markAllRead(a) : models.core.watches().markRead(a, chosen);
        QCOMPARE(done, !refused);
        QString inMemory;
        for (int i = 0; i < 4; ++i)
            inMemory += QString::number(byText(QStringLiteral("qt %1").arg(i))->state);
        QCOMPARE(inMemory, states);
        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.column("SELECT result_state FROM results WHERE taskid = 0 ORDER BY text").join(QString()),
                 states);
        QCOMPARE(b->results().at(0)->state, int(StateNew));
        QCOMPARE(file.column("SELECT result_state FROM results WHERE taskid = 1"), QStringList{"0"});
        QCOMPARE(changes.count(), signalled.isEmpty() ? 0 : 1);
        QCOMPARE(notices.count(), signalled.isEmpty() ? 0 : 1);
        if (signalled.isEmpty())
            return;
        QStringList changedTexts;
        for (int index : changes.at(0).at(1).value<QList<int>>())
            changedTexts << a->results().at(index)->text;
        changedTexts.sort();
        QCOMPARE(changedTexts, signalled);
    }

    void inStepWithTheCore()
    {
        AppFixture fixture;
        server.setPage("/a", page({"qt 1", "qt 2"}));
        server.setPage("/b", page({"qt x"}));
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", server.url("/a").toString(), "qt");
            file.addResult(0, "01/01/2009", "qt 1", server.url("/l0").toString());
            file.addResult(0, "01/01/2009", "qt 0", server.url("/old").toString());
        }
        Models models(fixture);
        QVERIFY(models.inStep());
        Task* a = models.core.watches().tasks().at(0);

        // Add: the new task is appended to the list.
        const Commands::Created created = models.core.creator().run({"B", server.url("/b").toString(), "qt", 3600, {}});
        QCOMPARE(created.outcome, Commands::Outcome::Done);
        QCOMPARE(column(models.tasks, 0), (QStringList{"A", "B"}));
        QVERIFY(models.inStep());

        // Read: the state icon of exactly that row changes.
        const Task::ResultPtr first = a->results().at(0);
        QVERIFY(models.core.watches().markRead(a, {first}));
        QCOMPARE(first->state, int(StateRead));
        QVERIFY(models.results.index(0, ResultTableModel::StateColumn).data(Qt::DecorationRole).isValid());
        QVERIFY(models.inStep());

        // Take-over: an update finds the changed text of a stored link.
        server.setPage("/a", page({"qt 1 changed", "qt 2"}));
        QVERIFY(models.core.updater().run().anyNew);
        QCOMPARE(models.results.rowCount(), 3);
        QVERIFY(models.inStep());

        // Remove several results at once.
        QVERIFY(models.core.watches().removeResults(a, {a->results().at(1), a->results().at(2)}));
        QCOMPARE(texts(a->results()), QStringList{"qt 0"});
        QVERIFY(models.inStep());

        // Reset: the page's links replace the results.
        QCOMPARE(models.core.resetter().run(a), Commands::Outcome::Done);
        QCOMPARE(texts(a->results()), (QStringList{"qt 1 changed", "qt 2"}));
        QVERIFY(models.inStep());

        // Remove the task's results, then the shown task itself: the table empties, the list follows.
        QVERIFY(models.core.watches().removeTaskResults(a));
        QCOMPARE(models.results.rowCount(), 0);
        QVERIFY(models.inStep());
        QVERIFY(models.core.watches().removeTask(a));
        QCOMPARE(models.results.task(), nullptr);
        QCOMPARE(column(models.tasks, 0), QStringList{"B"});
        QVERIFY(models.inStep());

        // Remove all.
        models.results.setTask(models.core.watches().tasks().at(0));
        QVERIFY(models.core.watches().removeAllTasks());
        QCOMPARE(models.tasks.rowCount(), 0);
        QCOMPARE(models.results.rowCount(), 0);
        QVERIFY(models.inStep());
    }
};

QTEST_MAIN(TestModels)
#include "tst_models.moc"
