// SPDX-License-Identifier: GPL-3.0-or-later
#include "databasefixture.h"

// The rows of one task: its id, its own row and those of its seen links and options, and two writers at once.
class TestTaskRows : public DatabaseFixture
{
    Q_OBJECT

private slots:
    void taskExists_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QVariant>("storedGrab");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QVariant>("storedAddress");
        QTest::addColumn<bool>("expected");
        QTest::newRow("same") << "kw" << QVariant("kw") << "http://a/" << QVariant("http://a/") << true;
        QTest::newRow("other address") << "kw" << QVariant("kw") << "http://b/" << QVariant("http://a/") << false;
        QTest::newRow("other keyword") << "k" << QVariant("kw") << "http://a/" << QVariant("http://a/") << false;
        // The keyword test ignores case, so such a task finds the same links: the rule of the window's gate.
        QTest::newRow("keyword case") << "KW" << QVariant("kw") << "http://a/" << QVariant("http://a/") << true;
        QTest::newRow("keyword case, not ASCII")
            << "\u00c4PFEL" << QVariant("\u00e4pfel") << "http://a/" << QVariant("http://a/") << true;
        QTest::newRow("address case") << "kw" << QVariant("kw") << "http://a/X" << QVariant("http://a/x") << false;
        QTest::newRow("address blank") << "kw" << QVariant("kw") << "http://a/ " << QVariant("http://a/") << false;
        QTest::newRow("null address") << "kw" << QVariant("kw") << "" << QVariant() << true;
        QTest::newRow("null keyword") << "" << QVariant() << "http://a/" << QVariant("http://a/") << true;
        QTest::newRow("empty is not null") << "" << QVariant("") << "x" << QVariant() << false;
    }
    void taskExists()
    {
        QFETCH(QVariant, storedGrab);
        QFETCH(QVariant, storedAddress);
        QFETCH(QString, keyword);
        QFETCH(QString, address);
        QFETCH(bool, expected);
        RawDb& raw = file().createTables();
        QVERIFY(raw.addTask(1, storedGrab, storedAddress));
        TaskDatabase db(path());
        QCOMPARE(db.taskExists(task(5, keyword, address).get()), expected);
    }

    void insertTaskWritesDescribedFormat()
    {
        TaskDatabase db(path());
        auto created = std::make_unique<Task>(
            4, TaskDefinition{QString(), QStringLiteral("http://a/"), QStringLiteral("kw"), 60, {}});
        created->setTaskDate(QStringLiteral("03/05/2010"));
        created->setLastUpdate(QStringLiteral("2010-03-15T08:05:09"));
        created->setResults({result(4, "x", "l"), result(4, "x", "l"), result(4, QString(), "m", QDate())});
        QVERIFY(db.storeChanges({{1, {result(1, "x", "l")}, {}, {}}}));
        QVERIFY(db.insertTask(created.get())); // all three, though "x"/"l" is stored already
        RawDb& raw = file();
        QCOMPARE(raw.rows("SELECT task_id, task_date, last_update, name, typeof(name), grabtext, frequency, address "
                          "FROM tasks"),
                 (QList<QVariantList>{{4, "03/05/2010", "2010-03-15T08:05:09", "", "text", "kw", 60, "http://a/"}}));
        QCOMPARE(raw.rows("SELECT result_date, taskid, text, typeof(text), link, result_state FROM results "
                          "WHERE taskid = 4 ORDER BY id"),
                 (QList<QVariantList>{{"03/14/2010", 4, "x", "text", "l", 0},
                                      {"03/14/2010", 4, "x", "text", "l", 0},
                                      {"", 4, "", "text", "m", 0}}));

        // The same keyword on the same page again writes nothing, not even the results.
        created->setResults({result(4, "new", "new")});
        QVERIFY(db.insertTask(created.get()));
        QCOMPARE(raw.count("tasks"), 1);
        QCOMPARE(raw.count("results"), 4);
    }

    void removeAllTasksKeepsIdCounters()
    {
        TaskDatabase db(path());
        QVERIFY(db.insertTask(task(1, "kw", "http://a/", {result(1, "t", "l")}).get()));
        QVERIFY(db.removeAllTasks());
        RawDb& raw = file();
        QCOMPARE(raw.count("tasks") + raw.count("results"), 0);
        QVERIFY(db.insertTask(task(1, "kw", "http://a/", {result(1, "t", "l")}).get()));
        QCOMPARE(raw.value("SELECT id FROM tasks").toInt(), 2);
        QCOMPARE(raw.value("SELECT id FROM results").toInt(), 2);
    }

    void newTaskId_data()
    {
        QTest::addColumn<QList<int>>("taskIds");
        QTest::addColumn<QList<int>>("orphanIds"); // results whose task is gone
        QTest::addColumn<int>("preferred");
        QTest::addColumn<int>("chosen");
        QTest::newRow("free: kept") << QList<int>{0, 1} << QList<int>{} << 2 << 2;
        QTest::newRow("free gap: kept") << QList<int>{0, 2} << QList<int>{} << 1 << 1;
        QTest::newRow("taken by a task") << QList<int>{0, 1, 2} << QList<int>{} << 1 << 3;
        QTest::newRow("taken by a leftover result") << QList<int>{0} << QList<int>{5} << 5 << 6;
        QTest::newRow("largest in the results") << QList<int>{0, 1} << QList<int>{9} << 1 << 10;
        QTest::newRow("largest possible taken") << QList<int>{INT_MAX, 0} << QList<int>{} << 0 << 1;
    }
    void newTaskId()
    {
        QFETCH(QList<int>, taskIds);
        QFETCH(QList<int>, orphanIds);
        QFETCH(int, preferred);
        QFETCH(int, chosen);
        RawDb& raw = file().createTables();
        for (int id : taskIds)
            raw.addTask(id, "kw", QStringLiteral("http://%1/").arg(id));
        for (int id : orphanIds)
            raw.addResult(id, "t", "l");
        TaskDatabase db(path());
        raw.exec("INSERT INTO seen_links VALUES(?, 'left over')", {chosen});
        const auto created = task(preferred, "kw", "http://new/", {result(preferred, "n", "k")});
        QVERIFY(db.insertTask(created.get(), {"k", "m"}));
        QCOMPARE(created->taskId(), chosen);
        QCOMPARE(created->results().value(0)->taskId, chosen);
        QCOMPARE(raw.rows("SELECT task_id FROM tasks WHERE address = 'http://new/'"), QList<QVariantList>{{chosen}});
        QCOMPARE(raw.rows("SELECT taskid FROM results WHERE link = 'k'"), QList<QVariantList>{{chosen}});
        QCOMPARE(db.seenLinks(chosen), (QSet<QString>{"k", "m"}));
    }

    void secondWriterBetweenCountAndInsert()
    {
        TaskDatabase window(path());
        TaskDatabase other(path());
        const int counted = 0; // the window's count rule on its empty list
        const auto alpha = task(counted, "a", "http://a/", {result(counted, "A", "la")});
        const auto beta = task(0, "b", "http://b/", {result(0, "B", "lb")});
        QVERIFY(other.insertTask(beta.get()));
        QVERIFY(window.insertTask(alpha.get()));
        QCOMPARE(beta->taskId(), 0);
        QCOMPARE(alpha->taskId(), 1);
        QVERIFY(window.removeTask(alpha.get()));
        RawDb& raw = file();
        QCOMPARE(raw.rows("SELECT task_id, grabtext FROM tasks"), (QList<QVariantList>{{0, "b"}}));
        QCOMPARE(raw.rows("SELECT taskid, text FROM results"), (QList<QVariantList>{{0, "B"}}));
    }

    void seenLinkRows_data()
    {
        // Rows as "rowid:taskid:link": an unchanged row keeps its rowid, so only differences were written. The
        // leftover of task id 5, which no task carries, is gone once the file is opened.
        QTest::addColumn<Op>("op");
        QTest::addColumn<QStringList>("expected");
        const QStringList start{"1:1:a", "2:1:b", "3:2:a"};
        // Adding a seen link again and removing an unknown one are no failures.
        QTest::newRow("storeChanges") << Op([](TaskDatabase& db) {
            return db.storeChanges({{1, {}, {"c", "b"}, {"a", "x"}}, {2, {}, {}, {"a"}}});
        }) << QStringList{"2:1:b", "4:1:c"};
        QTest::newRow("replaceTaskResults with seen links") << Op([](TaskDatabase& db) {
            return db.replaceTaskResults(1, {}, {"b", "c"});
        }) << QStringList{"2:1:b", "4:1:c", "3:2:a"};
        QTest::newRow("replaceTaskResults")
            << Op([](TaskDatabase& db) { return db.replaceTaskResults(1, {}); }) << start;
        QTest::newRow("removeTaskResults") << write("removeTaskResults") << start;
        QTest::newRow("removeTask") << write("removeTask") << QStringList{"3:2:a"};
        QTest::newRow("removeAllTasks") << write("removeAllTasks") << QStringList{};
        QTest::newRow("removeAllSeenLinks") << write("removeAllSeenLinks") << QStringList{};
        QTest::newRow("insertTask over leftover rows")
            << Op([](TaskDatabase& db) { return db.insertTask(task(5, "kw", "http://new/").get(), {"n"}); })
            << QStringList{"1:1:a", "2:1:b", "3:2:a", "4:5:n"};
    }
    void seenLinkRows()
    {
        QFETCH(Op, op);
        QFETCH(QStringList, expected);
        RawDb& raw = file().createTables();
        raw.addTask(1, "kw", "http://a/");
        raw.addTask(2, "kw", "http://b/");
        raw.exec("CREATE TABLE seen_links(taskid INTEGER, link TEXT)");
        raw.exec("INSERT INTO seen_links VALUES(1, 'a'), (1, 'b'), (2, 'a'), (5, 'z')");
        TaskDatabase db(path());
        QVERIFY2(op(db), qPrintable(db.lastError()));

        QStringList rows;
        QHash<int, QSet<QString>> byTask;
        for (const QVariantList& row : raw.rows("SELECT rowid, taskid, link FROM seen_links ORDER BY taskid, link")) {
            rows << QStringLiteral("%1:%2:%3").arg(row[0].toInt()).arg(row[1].toInt()).arg(row[2].toString());
            byTask[row[1].toInt()].insert(row[2].toString());
        }
        QCOMPARE(rows, expected);
        for (int id : {1, 2, 5})
            QCOMPARE(db.seenLinks(id), std::optional(byTask.value(id)));
    }

    void taskOptionRows_data()
    {
        // Rows as "task:name=value" after the operation, on a file holding two tasks' options and a leftover of
        // task id 5, which no task carries: gone once the file is opened.
        QTest::addColumn<Op>("op");
        QTest::addColumn<QStringList>("expected");
        const QStringList start{"1:a=x", "1:b=y", "2:a=z"};
        const auto set = [](int id, const char* name, const char* value) {
            return Op([=](TaskDatabase& db) { return db.setTaskOption(id, name, value); });
        };
        QTest::newRow("set a new option") << set(2, "b", "n") << QStringList{"1:a=x", "1:b=y", "2:a=z", "2:b=n"};
        QTest::newRow("replace a value") << set(1, "a", "n") << QStringList{"1:a=n", "1:b=y", "2:a=z"};
        QTest::newRow("empty value removes") << set(1, "a", "") << QStringList{"1:b=y", "2:a=z"};
        QTest::newRow("removing an unset option") << set(3, "a", "") << start;
        QTest::newRow("removeTask") << write("removeTask") << QStringList{"2:a=z"};
        QTest::newRow("removeAllTasks") << write("removeAllTasks") << QStringList{};
        QTest::newRow("removeTaskResults keeps them") << write("removeTaskResults") << start;
        QTest::newRow("insertTask over a leftover") << Op([](TaskDatabase& db) {
            const auto created = task(5, "kw", "http://new/");
            created->setOptions({{"c", "1"}, {"unset", ""}});
            return db.insertTask(created.get());
        }) << QStringList{"1:a=x", "1:b=y", "2:a=z", "5:c=1"};
    }
    void taskOptionRows()
    {
        QFETCH(Op, op);
        QFETCH(QStringList, expected);
        RawDb& raw = file().createTables();
        raw.addTask(1, "kw", "http://a/");
        raw.addTask(2, "kw", "http://b/");
        raw.exec(kTaskOptionsSql);
        raw.exec("INSERT INTO task_options VALUES(1, 'a', 'x'), (1, 'b', 'y'), (2, 'a', 'z'), (5, 'a', 'old')");
        TaskDatabase db(path());
        QVERIFY2(op(db), qPrintable(db.lastError()));

        QStringList rows;
        QHash<int, QHash<QString, QString>> byTask;
        for (const QVariantList& row :
             raw.rows("SELECT task_id, name, value FROM task_options ORDER BY task_id, name")) {
            rows << QStringLiteral("%1:%2=%3").arg(row[0].toInt()).arg(row[1].toString(), row[2].toString());
            byTask[row[0].toInt()].insert(row[1].toString(), row[2].toString());
        }
        QCOMPARE(rows, expected);
        // What is stored reaches the loaded tasks.
        const QList<Task*> loaded = db.loadTasks();
        for (const Task* t : loaded)
            QCOMPARE(t->options(), byTask.value(t->taskId()));
        qDeleteAll(loaded);
    }

    // A copy of the program that knows only tasks and results removes a task and numbers a new one with the
    // same task id: the new task gets none of the old one's options or seen links, whether the copy ran
    // before or after this program opened the file; the other tasks keep theirs.
    void rowsStayWithTheirTask_data()
    {
        QTest::addColumn<bool>("reopened"); // this program opened the file again before the older copy ran
        QTest::addRow("owners noted when the tasks were stored") << false;
        QTest::addRow("owners noted when the file was opened") << true;
    }
    void rowsStayWithTheirTask()
    {
        QFETCH(bool, reopened);
        {
            TaskDatabase db(path());
            for (int id : {0, 1}) {
                const auto made = task(id, "kw", QStringLiteral("http://site%1/").arg(id));
                made->setOptions({{Task::RequestHeadersOption, QStringLiteral("Cookie: c%1").arg(id)}});
                QVERIFY(db.insertTask(made.get(), {QStringLiteral("http://site%1/seen").arg(id)}));
            }
        }
        if (reopened)
            TaskDatabase(path()).isOpen();
        // As the older copy does it: delete the task's rows, add one numbered by count.
        RawDb& raw = file();
        raw.exec("DELETE FROM tasks WHERE task_id = 1");
        raw.exec("DELETE FROM results WHERE taskid = 1");
        raw.addTask(1, "kw", "http://other/");
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        QCOMPARE(loaded.size(), 2);
        QCOMPARE(loaded[1]->address(), QString("http://other/"));
        QVERIFY(loaded[1]->options().isEmpty());
        QCOMPARE(db.seenLinks(1), std::optional(QSet<QString>{}));
        QCOMPARE(loaded[0]->options().value(Task::RequestHeadersOption), QString("Cookie: c0"));
        QCOMPARE(db.seenLinks(0), std::optional(QSet<QString>{"http://site0/seen"}));
        qDeleteAll(loaded);
        QCOMPARE(raw.rows("SELECT task_id, name FROM task_options"), (QList<QVariantList>{{0, "request_headers"}}));
        QCOMPARE(raw.schemaOf("tasks"), kTasksSql);
    }
};

QTEST_GUILESS_MAIN(TestTaskRows)
#include "tst_taskrows.moc"
