// SPDX-License-Identifier: GPL-3.0-or-later
#include "databasefixture.h"

// The operations on task.db: each one transaction, exact in the rows it touches, and taken back whole.
class TestTaskDatabase : public DatabaseFixture
{
    Q_OBJECT

private slots:
    // A removal put back leaves every table as it was, row by row and with the row ids; the rows can be removed
    // again after. Rows of the other task, and of the task's results not removed, stay as they are throughout.
    void removalPutBack_data()
    {
        QTest::addColumn<Removal>("remove");
        QTest::addColumn<int>("results"); // the result rows taken
        QTest::addColumn<int>("tasks");   // the task rows taken
        QTest::newRow("a task") << Removal([](TaskDatabase& db, const QList<Task*>& tasks, RemovedRows* taken) {
            return db.removeTask(tasks.at(0), taken);
        }) << 3 << 1;
        QTest::newRow("all tasks") << Removal([](TaskDatabase& db, const QList<Task*>&, RemovedRows* taken) {
            return db.removeAllTasks(taken);
        }) << 4 << 2;
        QTest::newRow("a task's results")
            << Removal([](TaskDatabase& db, const QList<Task*>& tasks, RemovedRows* taken) {
                   return db.removeTaskResults(tasks.at(0)->taskId(), taken);
               })
            << 3 << 0;
        QTest::newRow("some results") << Removal([](TaskDatabase& db, const QList<Task*>& tasks, RemovedRows* taken) {
            const Task::ResultList results = tasks.at(0)->results();
            return db.removeResults({results.at(0), results.at(2)}, taken);
        }) << 2 << 0;
    }
    void removalPutBack()
    {
        QFETCH(Removal, remove);
        QFETCH(int, results);
        QFETCH(int, tasks);
        {
            TaskDatabase db(path());
            const auto jobs =
                task(0, "job", "http://a/",
                     {result(0, "a", "l1"), result(0, "b", "l2"), result(0, "c", "l3", QDate(2009, 1, 2))});
            jobs->setOptions({{"user_agent", "Agent"}, {"region", "#main"}});
            const auto other = task(1, "kw", "http://b/", {result(1, "a", "l1")});
            QVERIFY(db.insertTask(jobs.get(), {"l1", "l2", "seen"}) && db.insertTask(other.get(), {"x"}));
            QVERIFY(db.updateResultStates({result(0, "b", "l2")}, StateRead));
        }
        const QList<QVariantList> before = everyRow();
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        const auto freed = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.size(), 2);
        RemovedRows taken;
        QVERIFY(remove(db, loaded, &taken));
        QCOMPARE(taken.count("results"), results);
        QCOMPARE(taken.count("tasks"), tasks);
        QVERIFY(everyRow() != before);
        QVERIFY2(db.restoreRows(taken), qPrintable(db.lastError()));
        QCOMPARE(everyRow(), before);
        RemovedRows again;
        QVERIFY(remove(db, loaded, &again));
        QCOMPARE(again.count("results"), results);
    }

    // Results stored dated today, by the program or by an older copy that knows only the results table, get the time
    // of day they were stored beside them, which loading gives back; results of other days (imported) get none,
    // and a result removed takes its time along.
    void resultTimes()
    {
        const QDate today = QDate::currentDate();
        {
            TaskDatabase db(path());
            QVERIFY(db.insertTask(
                task(0, "job", "http://a/", {result(0, "new", "l1", today), result(0, "old", "l2")}).get()));
        }
        QVERIFY(file().addResult(0, "by an older copy", "l3", today.toString(TaskDateFormat)));
        QCOMPARE(file().count("result_times"), 2);
        QVERIFY(file().exec("UPDATE result_times SET found_at = '00:05:00' WHERE result_id = 1"));
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        const auto freed = qScopeGuard([&] { qDeleteAll(loaded); });
        QStringList times;
        for (const Task::ResultPtr& found : loaded.at(0)->results())
            times << found->text + (found->time.isValid() ? "=" : "") + found->time.toString("HH:mm");
        QCOMPARE(times.at(2), QString("new=00:05"));
        QCOMPARE(times.at(1), QString("old"));
        QVERIFY(times.at(0).startsWith("by an older copy="));
        QVERIFY(db.removeTaskResults(0));
        QCOMPARE(file().count("result_times"), 0);
    }

    // A stored time is read as Qt reads "HH:mm:ss", however it is written: the common form is read without Qt.
    void storedTimeRead_data()
    {
        QTest::addColumn<QString>("stored");
        for (const char* text : {"00:05:00", "23:59:59", "09:30:07", "", "24:00:00", "12:60:00", "7:05:00", "07:05",
                                 "ab:cd:ef", "07:05:00.5", "12-00-00", "1a:00:00", " 7:05:00", "07:05:0x"})
            QTest::addRow("\"%s\"", text) << QString::fromLatin1(text);
    }
    void storedTimeRead()
    {
        QFETCH(QString, stored);
        {
            TaskDatabase db(path());
            QVERIFY(db.insertTask(task(0, "job", "http://a/", {result(0, "new", "l1", QDate::currentDate())}).get()));
        }
        QVERIFY(file().exec(QStringLiteral("UPDATE result_times SET found_at = '%1'").arg(stored)));
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        const auto freed = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.at(0)->results().at(0)->time, QTime::fromString(stored, QStringLiteral("HH:mm:ss")));
    }

    // Putting back is refused while a task made since clashes with it; the file stays as it is then.
    void putBackRefused_data()
    {
        QTest::addColumn<int>("taskId");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("error");
        QTest::newRow("its id given to a new task") << 0 << "http://other/"
                                                    << "task id 0 was given";
        QTest::newRow("the same keyword and page again") << 5 << "http://a/"
                                                         << "was created since";
    }
    void putBackRefused()
    {
        QFETCH(int, taskId);
        QFETCH(QString, address);
        QFETCH(QString, error);
        TaskDatabase db(path());
        QVERIFY(db.insertTask(task(0, "job", "http://a/", {result(0, "a", "l1")}).get()));
        const QList<Task*> loaded = db.loadTasks();
        const auto freed = qScopeGuard([&] { qDeleteAll(loaded); });
        RemovedRows taken;
        QVERIFY(db.removeTask(loaded.at(0), &taken));
        QVERIFY(db.insertTask(task(taskId, "job", address).get()));
        const QList<QVariantList> after = everyRow();
        QVERIFY(!db.restoreRows(taken));
        QVERIFY2(db.lastError().contains(error), qPrintable(db.lastError()));
        QCOMPARE(everyRow(), after);
    }

    // Tasks load with their unread counts only. A task's results are read when first asked for: the rows whose
    // task id reads as the task's (NULL and a text read as 0), newest first; none once the file's object is gone.
    void resultsReadWhenNeeded()
    {
        RawDb& raw = file().createTables();
        raw.addTask(0, "a", "http://a/");
        raw.addTask(1, "b", "http://b/");
        raw.addTask(2, "c", "http://c/");
        raw.addResult(1, "new", "l1");
        raw.addResult(1, "read", "l2", "03/14/2010", StateRead);
        raw.addResult(QVariant(), "null id", "l3");
        raw.addResult("x", "text id", "l4", "03/14/2010", StateRead);
        raw.exec("INSERT INTO results(taskid, text, link, result_state) VALUES(0, 'null state', 'l5', NULL)");
        auto db = std::make_unique<TaskDatabase>(path());
        const QList<Task*> loaded = db->loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.size(), 3);
        const QList<QStringList> expected{{"null state", "text id", "null id"}, {"read", "new"}, {}};
        const QList<int> unread{2, 1, 0};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(loaded[i]->resultsLoaded(), expected[i].isEmpty());
            QCOMPARE(loaded[i]->unreadCount(), unread[i]);
            QStringList texts;
            for (const Task::ResultPtr& r : loaded[i]->results())
                texts << r->text;
            QCOMPARE(texts, expected[i]);
            QVERIFY(loaded[i]->resultsLoaded());
            QCOMPARE(loaded[i]->unreadCount(), unread[i]);
        }
        const QList<Task*> again = db->loadTasks();
        const auto cleanupAgain = qScopeGuard([&] { qDeleteAll(again); });
        db.reset();
        QVERIFY(!again[1]->loadResults());
        QVERIFY(again[1]->results().isEmpty());
        QCOMPARE(again[1]->unreadCount(), 1);
    }

    // A new record is stored unless its own task holds a row with the same text and link.
    void newResultStored_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("storedText");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QVariant>("storedLink");
        QTest::addColumn<bool>("expected"); // stored already
        QTest::newRow("same") << "t" << QVariant("t") << "http://l/" << QVariant("http://l/") << true;
        QTest::newRow("text case") << "T" << QVariant("t") << "http://l/" << QVariant("http://l/") << false;
        QTest::newRow("other link") << "t" << QVariant("t") << "http://l/x" << QVariant("http://l/") << false;
        QTest::newRow("text blank") << "t" << QVariant("t ") << "http://l/" << QVariant("http://l/") << false;
        QTest::newRow("null text") << "" << QVariant() << "http://l/" << QVariant("http://l/") << true;
        QTest::newRow("null link") << "t" << QVariant("t") << "" << QVariant() << true;
        QTest::newRow("empty link") << "t" << QVariant("t") << "" << QVariant("") << true;
    }
    void newResultStored()
    {
        QFETCH(QVariant, storedText);
        QFETCH(QVariant, storedLink);
        QFETCH(QString, text);
        QFETCH(QString, link);
        QFETCH(bool, expected);
        RawDb& raw = file().createTables();
        QVERIFY(raw.addResult(3, storedText, storedLink));
        TaskDatabase db(path());
        QVERIFY(db.storeChanges({{3, {result(3, text, link), result(8, text, link)}, {}, {}}}));
        QCOMPARE(raw.count("results WHERE taskid = 3"), expected ? 1 : 2);
        QCOMPARE(raw.count("results WHERE taskid = 8"), 1); // another task's row is not this task's
    }

    void storeChangesSkipsTheTasksOwnRows()
    {
        TaskDatabase db(path());
        QVERIFY(db.storeChanges({}));
        QVERIFY(db.storeChanges({{1, {result(1, "a", "l1")}, {}, {}}}));
        QVERIFY(db.storeChanges(
            {{2, {result(2, "a", "l1"), result(2, "b", "l2"), result(2, "b", "l2"), result(2, "a", "l3")}, {}, {}}}));
        RawDb& raw = file();
        QCOMPARE(raw.rows("SELECT taskid, text, link FROM results ORDER BY id"),
                 (QList<QVariantList>{{1, "a", "l1"}, {2, "a", "l1"}, {2, "b", "l2"}, {2, "a", "l3"}}));
    }

    void exactRowOperations_data()
    {
        // Every row of task 1 with text "t" and link "l" is the target; case counts, other tasks are apart.
        QTest::addColumn<Op>("op");
        QTest::addColumn<QList<QVariantList>>("expected");
        QTest::newRow("updateResultStates")
            << Op([](TaskDatabase& db) { return db.updateResultStates({result(1, "t", "l")}, StateRead); })
            << QList<QVariantList>{
                   {1, "t", "l", 1}, {1, "t", "l", 1}, {2, "t", "l", 0}, {1, "T", "l", 0}, {1, "t", "L", 0}};
        QTest::newRow("markTaskResultsRead")
            << Op([](TaskDatabase& db) { return db.markTaskResultsRead(1); })
            << QList<QVariantList>{
                   {1, "t", "l", 1}, {1, "t", "l", 1}, {2, "t", "l", 0}, {1, "T", "l", 1}, {1, "t", "L", 1}};
        QTest::newRow("removeResults") << Op([](TaskDatabase& db) { return db.removeResults({result(1, "t", "l")}); })
                                       << QList<QVariantList>{{2, "t", "l", 0}, {1, "T", "l", 0}, {1, "t", "L", 0}};
        QTest::newRow("removeTaskResults")
            << Op([](TaskDatabase& db) { return db.removeTaskResults(1); }) << QList<QVariantList>{{2, "t", "l", 0}};
    }
    void exactRowOperations()
    {
        QFETCH(Op, op);
        QFETCH(QList<QVariantList>, expected);
        RawDb& raw = file().createTables();
        for (const auto& [id, text, link] : {std::tuple(1, "t", "l"), std::tuple(1, "t", "l"), std::tuple(2, "t", "l"),
                                             std::tuple(1, "T", "l"), std::tuple(1, "t", "L")})
            raw.addResult(id, text, link);
        TaskDatabase db(path());
        QVERIFY(op(db));
        QCOMPARE(raw.rows("SELECT taskid, text, link, result_state FROM results ORDER BY id"), expected);
    }

    void replaceTaskResults_data()
    {
        using Row = std::tuple<int, QString, QString>; // taskid, text, link
        QTest::addColumn<QList<Row>>("stored");
        QTest::addColumn<QList<Row>>("replacement");
        QTest::addColumn<QList<Row>>("expected"); // in row order
        const QList<Row> mixed{{1, "a", "x"}, {2, "b", "y"}, {1, "c", "z"}};
        QTest::newRow("only the task's rows") << mixed << QList<Row>{{1, "n", "k"}, {1, "o", "z"}}
                                              << QList<Row>{{2, "b", "y"}, {1, "n", "k"}, {1, "o", "z"}};
        QTest::newRow("stored under another task: stored for this one too")
            << mixed << QList<Row>{{1, "b", "y"}, {1, "n", "k"}}
            << QList<Row>{{2, "b", "y"}, {1, "b", "y"}, {1, "n", "k"}};
        QTest::newRow("the task's own rows are stored again")
            << mixed << QList<Row>{{1, "c", "z"}} << QList<Row>{{2, "b", "y"}, {1, "c", "z"}};
        QTest::newRow("same link and text twice: stored once")
            << mixed << QList<Row>{{1, "n", "k"}, {1, "n", "k"}} << QList<Row>{{2, "b", "y"}, {1, "n", "k"}};
        QTest::newRow("empty list clears the task") << mixed << QList<Row>{} << QList<Row>{{2, "b", "y"}};
        QTest::newRow("task without rows")
            << QList<Row>{{2, "b", "y"}} << QList<Row>{{1, "n", "k"}} << QList<Row>{{2, "b", "y"}, {1, "n", "k"}};
    }
    void replaceTaskResults()
    {
        using Row = std::tuple<int, QString, QString>;
        QFETCH(QList<Row>, stored);
        QFETCH(QList<Row>, replacement);
        QFETCH(QList<Row>, expected);
        RawDb& raw = file().createTables();
        for (const auto& [id, text, link] : stored)
            raw.addResult(id, text, link);
        Task::ResultList results{nullptr}; // an empty slot is passed over
        for (const auto& [id, text, link] : replacement)
            results << result(id, text, link);
        TaskDatabase db(path());
        QVERIFY(db.replaceTaskResults(1, results));
        QVERIFY(db.lastError().isEmpty());
        QList<QVariantList> rows;
        for (const auto& [id, text, link] : expected)
            rows << QVariantList{id, text, link};
        QCOMPARE(raw.rows("SELECT taskid, text, link FROM results ORDER BY id"), rows);
    }

    void removeTask_data()
    {
        QTest::addColumn<int>("taskId");
        QTest::addColumn<int>("tasksLeft");
        QTest::addColumn<int>("resultsLeft");
        QTest::newRow("not stored: its results stay") << 9 << 2 << 5;
        QTest::newRow("the id's results go") << 1 << 1 << 3;
        QTest::newRow("single result") << 2 << 1 << 4;
    }
    void removeTask()
    {
        QFETCH(int, taskId);
        QFETCH(int, tasksLeft);
        QFETCH(int, resultsLeft);
        RawDb& raw = file().createTables();
        raw.addTask(1, "a", "http://a/");
        raw.addTask(2, "c", "http://c/");
        for (int id : {1, 1, 2, 9, 9})
            raw.addResult(id, "t", "l");
        TaskDatabase db(path());
        QVERIFY(db.removeTask(task(taskId, "x", "http://x/").get()));
        QCOMPARE(raw.count("tasks"), tasksLeft);
        QCOMPARE(raw.count("results"), resultsLeft);
    }

    void removeOldResults_data()
    {
        const QDate today = givenToday();
        const auto text = [](const QDate& date) { return QVariant(date.toString("MM/dd/yyyy")); };
        QTest::addColumn<QVariant>("date");
        QTest::addColumn<int>("days");
        QTest::addColumn<bool>("removed");
        QTest::newRow("one day past the limit") << text(today.addDays(-15)) << 14 << true;
        QTest::newRow("exactly the limit") << text(today.addDays(-14)) << 14 << false;
        QTest::newRow("today") << text(today) << 14 << false;
        QTest::newRow("future") << text(today.addDays(3)) << 0 << false;
        QTest::newRow("yesterday, zero days") << text(today.addDays(-1)) << 0 << true;
        QTest::newRow("unparsable") << QVariant("2010-03-15") << 14 << true;
        QTest::newRow("empty text") << QVariant("") << 14 << true;
        QTest::newRow("null") << QVariant() << 14 << false;
        QTest::newRow("huge day count") << QVariant("01/01/1900") << INT_MAX << false;
    }
    void removeOldResults()
    {
        QFETCH(QVariant, date);
        QFETCH(int, days);
        QFETCH(bool, removed);
        const QString todayText = givenToday().toString("MM/dd/yyyy");
        RawDb& raw = file().createTables();
        raw.addResult(1, "a", "l", date); // every row with the text goes, whatever its task
        raw.addResult(2, "b", "m", date);
        raw.addResult(1, "c", "n", todayText);
        TaskDatabase db(path());
        QVERIFY(db.removeOldResults(days, givenToday()));
        QCOMPARE(raw.count("results"), removed ? 1 : 3);
    }

    void removeOldResultsManyDates()
    {
        const QDate today = givenToday();
        RawDb& raw = file().createTables();
        raw.exec("BEGIN");
        for (int age = 1; age <= 1201; ++age)
            raw.addResult(1, "t", "l", today.addDays(-age).toString("MM/dd/yyyy"));
        raw.addResult(1, "t", "l", today.toString("MM/dd/yyyy"));
        raw.exec("COMMIT");
        TaskDatabase db(path());
        QVERIFY(db.removeOldResults(0, today));
        QCOMPARE(raw.count("results"), 1);
    }

    void updateLastUpdateWritesTheTasksTime_data()
    {
        const QDateTime local(QDate(2031, 2, 3), QTime(4, 5, 6));
        QTest::addColumn<QDateTime>("checked");
        QTest::newRow("local time") << local;
        QTest::newRow("UTC, written as local time") << local.toUTC();
        QTest::newRow("with an offset") << local.toOffsetFromUtc(5 * 3600);
    }
    void updateLastUpdateWritesTheTasksTime()
    {
        QFETCH(QDateTime, checked);
        RawDb& raw = file().createTables();
        raw.addTask(1, "kw", "http://a/");
        TaskDatabase db(path());
        const auto other = task(5, "kw", "http://a/");
        other->setLastUpdate(checked.toString(Qt::ISODate));
        QVERIFY(db.updateLastUpdate(other.get()));
        QCOMPARE(raw.value("SELECT last_update FROM tasks").toString(), "2010-03-15T08:05:09");
        const auto checkedTask = task(1, "other", "http://b/");
        checkedTask->setLastUpdate(checked.toString(Qt::ISODate));
        QVERIFY(db.updateLastUpdate(checkedTask.get()));
        // The stored form stays local time without an offset, whether the clock gives local time, UTC or an offset.
        QCOMPARE(raw.value("SELECT last_update FROM tasks").toString(), "2031-02-03T04:05:06");
    }
};

QTEST_GUILESS_MAIN(TestTaskDatabase)
#include "tst_taskdatabase.moc"
