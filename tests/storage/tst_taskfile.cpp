// SPDX-License-Identifier: GPL-3.0-or-later
#include "databasefixture.h"

// The file itself: its format and the steps that bring an older one to it, files written by hand or by other
// programs, files that cannot be opened or written, and two files side by side.
class TestTaskFile : public DatabaseFixture
{
    Q_OBJECT

private slots:
    // What opening does to a file, by the format version it carries.
    void schemaSteps_data()
    {
        QTest::addColumn<QStringList>("setup"); // statements another program ran on the file before
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("version");         // after the open
        QTest::addColumn<QStringList>("tasks");   // task_id:grabtext of the loaded tasks, then their options
        QTest::addColumn<QStringList>("refused"); // row id: reason of the rows not loaded
        const QString twoTasks = "INSERT INTO tasks(task_id, grabtext) VALUES(0, 'a'), (1, 'b')";
        QTest::newRow("new file: every step") << QStringList{} << true << kVersion << QStringList{} << QStringList{};
        QTest::newRow("older copy's file, version 0") << QStringList{kTasksSql, kResultsSql, twoTasks} << true
                                                      << kVersion << QStringList{"0:a", "1:b"} << QStringList{};
        QTest::newRow("version 2, shared ids: the steps run again")
            << QStringList{kTasksSql, kResultsSql, "INSERT INTO tasks(task_id, grabtext) VALUES(0, 'a'), (0, 'b')",
                           "PRAGMA user_version = 2"}
            << true << kVersion << QStringList{"0:a", "1:b"} << QStringList{};
        QTest::newRow("current version opened again")
            << QStringList{kTasksSql, kResultsSql, twoTasks, QString("PRAGMA user_version = %1").arg(kVersion)} << true
            << kVersion << QStringList{"0:a", "1:b"} << QStringList{};
        QTest::newRow("newer version refused")
            << QStringList{kTasksSql, kResultsSql, twoTasks, QString("PRAGMA user_version = %1").arg(kVersion + 1)}
            << false << kVersion + 1 << QStringList{} << QStringList{};
        QTest::newRow("odd rows another program left")
            << QStringList{kTasksSql,
                           kResultsSql,
                           "CREATE TABLE seen_links(taskid INTEGER, link TEXT)",
                           "INSERT INTO tasks(task_id, grabtext) VALUES(NULL, 'null'), (NULL, 'again'), (2, NULL)",
                           "INSERT INTO seen_links VALUES(2, 'l'), (2, 'l'), (7, 'orphan')",
                           "INSERT INTO results(taskid, text, result_date) VALUES(NULL, 'r', 'x'), (2, NULL, NULL)"}
            << true << kVersion << QStringList{"2:"}
            << QStringList{"1: task_id: not a whole number (empty)", "2: task_id: not a whole number (empty)"};
        // Each would read as task 0 (or 1) and be sent with its cookie; their own options stay in the file.
        QTest::newRow("task ids no task can carry")
            << QStringList{kTasksSql, kResultsSql, kTaskOptionsSql,
                           "INSERT INTO tasks(task_id, grabtext) VALUES(0, 'zero'), ('abc', 'text'), ('abc', 'again'), "
                           "(x'00', 'blob'), (1.5, 'real'), (NULL, 'null'), (4294967296, 'huge'), (1, 'one')",
                           "INSERT INTO task_options VALUES(0, 'request_headers', 'Cookie: mine'), "
                           "('abc', 'request_headers', 'X-Other: 1'), (1.5, 'user_agent', 'real'), "
                           "(4294967296, 'user_agent', 'huge')"}
            << true << kVersion << QStringList{"0:zero request_headers=Cookie: mine", "1:one"}
            << QStringList{"2: task_id: not a whole number (a text)", "3: task_id: not a whole number (a text)",
                           "4: task_id: not a whole number (bytes)",  "5: task_id: not a whole number (a real number)",
                           "6: task_id: not a whole number (empty)",  "7: task_id: outside the range of task ids"};
    }
    void schemaSteps()
    {
        QFETCH(QStringList, setup);
        QFETCH(bool, opens);
        QFETCH(int, version);
        QFETCH(QStringList, tasks);
        QFETCH(QStringList, refused);
        for (const QString& statement : setup)
            QVERIFY(file().exec(statement));
        const QByteArray before = fileBytes();
        const int rows = file().count("tasks");
        {
            TaskDatabase db(path());
            QCOMPARE(db.isOpen(), opens);
            QStringList loaded;
            QList<TaskRows::Refusal> refusals;
            for (const Task* t : db.loadTasks(&refusals)) {
                QString text = QStringLiteral("%1:%2").arg(t->taskId()).arg(t->keyword());
                for (auto it = t->options().cbegin(); it != t->options().cend(); ++it)
                    text += QStringLiteral(" %1=%2").arg(it.key(), it.value());
                loaded << text;
                delete t;
            }
            QCOMPARE(loaded, tasks);
            QStringList reasons;
            for (const TaskRows::Refusal& refusal : refusals)
                reasons << QStringLiteral("%1: %2").arg(refusal.rowId).arg(refusal.reason);
            QCOMPARE(reasons, refused);
            if (!opens) {
                QVERIFY(!TaskDatabase(path(), TaskDatabase::OpenMode::ReadOnly).isOpen());
                QVERIFY2(db.openFailure().contains("newer version"), qPrintable(db.openFailure()));
                QVERIFY(!db.setTaskOption(0, "o", "v"));
                QVERIFY(!db.insertTask(task(5, "kw", "http://a/").get()));
            }
        }
        QCOMPARE(file().value("PRAGMA user_version").toInt(), version);
        if (!opens) {
            QCOMPARE(fileBytes(), before); // not written to
            return;
        }
        QCOMPARE(file().schemaOf("tasks"), kTasksSql);
        QCOMPARE(file().schemaOf("results"), kResultsSql);
        QCOMPARE(file().schemaOf("task_options"), kTaskOptionsSql);
        QCOMPARE(file().count("sqlite_master WHERE name IN ('seen_links', 'task_owners')"), 2);
        QCOMPARE(file().count("seen_links WHERE taskid = 7"), 0); // no task carries the id
        QCOMPARE(file().count("tasks"), rows);                    // the refused rows stay
    }

    void loadsHandWrittenFile()
    {
        RawDb& raw = file().createTables();
        raw.addTask(1, "linux", "http://a/");
        raw.addTask(2, "kw", "http://b/", "2010-03-15");
        raw.addTask(1, "other", "http://c/");
        raw.addTask(3, "none", "http://d/");
        raw.exec("UPDATE tasks SET last_update = 'garbage' WHERE task_id = 2");
        raw.addResult(1, "a", "l1", "03/14/2010", 1);
        raw.addResult(9, "orphan", "l9");
        raw.addResult(2, "b", "l2", "13/45/2010");
        raw.addResult(1, QVariant(), "l3");
        raw.addResult(1, "c", "l4", "03/15/2010");
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.size(), 4);
        const Task* first = loaded[0];
        QCOMPARE(first->taskId(), 1);
        QCOMPARE(first->keyword(), QStringLiteral("linux"));
        QCOMPARE(first->address(), QStringLiteral("http://a/"));
        QCOMPARE(first->name(), QStringLiteral("Name"));
        QCOMPARE(first->frequency(), 3600);
        QCOMPARE(first->taskDate(), QDate(2010, 3, 15));
        QCOMPARE(first->lastUpdate(), QDateTime(QDate(2010, 3, 15), QTime(8, 5, 9)));

        // Newest first; a NULL text reads as empty.
        const Task::ResultList results = first->results();
        QCOMPARE(results.size(), 3);
        QCOMPARE(results[0]->link, QStringLiteral("l4"));
        QCOMPARE(results[0]->date, QDate(2010, 3, 15));
        QCOMPARE(results[1]->text, QString());
        QCOMPARE(results[2]->text, QStringLiteral("a"));
        QCOMPARE(results[2]->state, int(StateRead));
        QCOMPARE(results[2]->taskId, 1);

        // Bad date texts load as invalid dates, the rows all the same.
        QVERIFY(!loaded[1]->taskDate().isValid());
        QVERIFY(!loaded[1]->lastUpdate().isValid());
        QCOMPARE(loaded[1]->results().size(), 1);
        QVERIFY(!loaded[1]->results()[0]->date.isValid());

        // The second task with id 1 gets copies of its own.
        const Task::ResultList copies = loaded[2]->results();
        QCOMPARE(copies.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(copies[i] != results[i]);
            QCOMPARE(copies[i]->link, results[i]->link);
        }
        QVERIFY(loaded[3]->results().isEmpty());
        QCOMPARE(raw.count("results WHERE text = 'orphan'"), 1);
    }

    // Rows another program wrote may hold any SQLite type in any column: each reads into the record as Qt's driver
    // reads it and QVariant converts it.
    void resultValuesReadAsQtReadsThem_data()
    {
        QTest::addColumn<QString>("value");
        for (const char* value : {"'03/14/2010'", "''", "'Grüße € 😀'", "12", "-3", "9999999999", "1.5", "-0.0", "1e20",
                                  "X'41C3A9'", "X'FF'", "CAST(X'FF41' AS TEXT)", "NULL", "' 7'", "'7x'"})
            QTest::newRow(value) << QString::fromLatin1(value);
    }
    void resultValuesReadAsQtReadsThem()
    {
        QFETCH(QString, value);
        RawDb& raw = file().createTables();
        raw.addTask(1, "a", "http://a/");
        QVERIFY(raw.exec(QStringLiteral("INSERT INTO results(taskid, result_date, text, link, result_state) "
                                        "VALUES(1, %1, %1, %1, %1)")
                             .arg(value)));
        const QVariantList row = raw.rows("SELECT result_date, text, link, result_state FROM results").value(0);
        QCOMPARE(row.size(), 4);
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.size(), 1);
        const Task::ResultList results = loaded[0]->results();
        QCOMPARE(results.size(), 1);
        QCOMPARE(results[0]->date, QDate::fromString(row[0].toString(), TaskDateFormat));
        QCOMPARE(results[0]->text, row[1].toString());
        QCOMPARE(results[0]->link, row[2].toString());
        QCOMPARE(results[0]->state, row[3].toInt());
    }

    // Two tasks sharing a task_id (as an older copy's numbering can leave them) get ids of their own when the
    // file is opened, each keeping the results it showed; removing one leaves the other and its results.
    void sharedTaskIdsSeparated()
    {
        RawDb& raw = file().createTables();
        raw.addTask(1, "a", "http://a/");
        raw.addTask(1, "b", "http://b/");
        raw.addTask(2, "c", "http://c/");
        raw.addResult(1, "r1", "l1");
        raw.addResult(1, "r2", "l2");
        raw.addResult(2, "r3", "l3");
        TaskDatabase db(path());
        const QList<Task*> tasks = db.loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(tasks); });
        QCOMPARE(tasks.size(), 3);
        QSet<int> ids;
        for (const Task* loaded : tasks) {
            ids.insert(loaded->taskId());
            QCOMPARE(loaded->results().size(), loaded->keyword() == "c" ? 1 : 2);
        }
        QCOMPARE(ids.size(), 3);

        QVERIFY(db.removeTask(tasks.at(1)));
        QCOMPARE(raw.rows("SELECT grabtext FROM tasks ORDER BY id"), (QList<QVariantList>{{"a"}, {"c"}}));
        QCOMPARE(raw.rows("SELECT taskid, text FROM results ORDER BY id"),
                 (QList<QVariantList>{{1, "r1"}, {1, "r2"}, {2, "r3"}}));
    }

    void hostileTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("quotes") << QStringLiteral("O'Brien said \"hi\"");
        QTest::newRow("injection") << QStringLiteral("'; DROP TABLE tasks; --");
        QTest::newRow("scripts") << QStringLiteral("新闻 أخبار Новости 🎉");
        QTest::newRow("10000 characters") << QString(10000, QChar(u'x'));
        QTest::newRow("placeholders") << QStringLiteral(":name ? :link");
    }
    void hostileTexts()
    {
        QFETCH(QString, text);
        TaskDatabase db(path());
        const auto created = task(3, text, text, {result(3, text, text)});
        QVERIFY(db.insertTask(created.get()));
        QVERIFY(db.taskExists(created.get()));
        const QList<Task*> loaded = db.loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(loaded[0]->keyword(), text);
        QCOMPARE(loaded[0]->address(), text);
        QCOMPARE(loaded[0]->results().value(0)->link, text);
        QVERIFY(db.removeResults({result(3, text, text)}));
        QCOMPARE(file().count("results"), 0);
    }

    // A write the file cannot take (opened read-only, or locked by another program) fails, says why and
    // changes nothing; once the lock goes, the same write goes through.
    void unwritableFile_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<bool>("locked");
        for (const auto& [name, op] : writes()) {
            QTest::addRow("%s, read-only", name) << op << false;
            QTest::addRow("%s, locked", name) << op << true;
        }
    }
    void unwritableFile()
    {
        QFETCH(Op, op);
        QFETCH(bool, locked);
        writeFixture(file());
        std::optional<TaskDatabase> db(std::in_place, path()); // brings the file up to date, so it is complete
        if (!locked)
            db.emplace(path(), TaskDatabase::OpenMode::ReadOnly);
        const QList<QVariantList> before = snapshot();
        RawDb other(path());
        if (locked)
            QVERIFY(other.exec("BEGIN EXCLUSIVE"));
        QVERIFY(!op(*db));
        QCOMPARE(db->lastError(), locked ? "task.db is locked by another program" : "task.db is read-only");
        if (locked)
            other.exec("ROLLBACK");
        QCOMPARE(snapshot(), before);
        QVERIFY(db->storeChanges({})); // nothing to do is no failure
        QVERIFY(db->insertTask(task(1, "kw", "http://a/").get()));
        QVERIFY(db->lastError().isEmpty());
        QCOMPARE(op(*db), locked); // released: the same operation goes through
        QCOMPARE(snapshot() != before, locked);
    }

    void failedStatementRollsBack_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<QString>("trigger");
        const QString refuseInsert = "BEFORE INSERT ON results WHEN NEW.link = 'm'";
        const QString refuseDelete = "BEFORE DELETE ON results";
        QTest::newRow("insertTask") << write("insertTask") << refuseInsert;
        QTest::newRow("storeChanges, results only") << write("storeChanges, results only") << refuseInsert;
        QTest::newRow("replaceTaskResults, insert refused after the delete")
            << write("replaceTaskResults") << refuseInsert;
        QTest::newRow("replaceTaskResults, delete refused") << write("replaceTaskResults") << refuseDelete;
        QTest::newRow("storeChanges, result refused") << write("storeChanges") << refuseInsert;
        QTest::newRow("storeChanges, seen link refused after the results")
            << write("storeChanges") << "BEFORE INSERT ON seen_links";
        QTest::newRow("replaceTaskResults with seen links, seen link refused")
            << write("replaceTaskResults with seen links") << "BEFORE DELETE ON seen_links";
        QTest::newRow("removeTask") << write("removeTask") << refuseDelete;
        QTest::newRow("removeAllTasks") << write("removeAllTasks") << refuseDelete;
        QTest::newRow("removeTask, option row refused after the task")
            << write("removeTask") << "BEFORE DELETE ON task_options";
        QTest::newRow("insertTask, option row refused") << write("insertTask") << "BEFORE INSERT ON task_options";
        QTest::newRow("removeOldResults")
            << write("removeOldResults") << "BEFORE DELETE ON results WHEN OLD.text = 'u'";
    }
    void failedStatementRollsBack()
    {
        QFETCH(Op, op);
        QFETCH(QString, trigger);
        RawDb& raw = file();
        writeFixture(raw);
        raw.addResult(1, "u", "u", "01/02/2000"); // a second old date, refused
        QVERIFY(raw.exec("CREATE TRIGGER refuse " + trigger + " BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        TaskDatabase db(path());
        const QList<QVariantList> before = snapshot();
        QVERIFY(!op(db));
        QVERIFY2(db.lastError().contains("refused"), qPrintable(db.lastError()));
        QCOMPARE(snapshot(), before);
    }

    void failedOpenKeepsFile_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("opens");
        QTest::newRow("missing directory") << "missing/task.db" << QByteArray() << false;
        QTest::newRow("not a database") << "task.db" << QByteArray("not a database\n").repeated(300) << false;
        QTest::newRow("empty file") << "task.db" << QByteArray("") << true;
    }
    void failedOpenKeepsFile()
    {
        QFETCH(QString, relativePath);
        QFETCH(QByteArray, content);
        QFETCH(bool, opens);
        const QString target = m_dir->filePath(relativePath);
        if (!relativePath.contains('/')) {
            QFile out(target);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(content);
        }
        // Storage shows no box (it links no widget library): the one who opened the database tells the user.
        std::optional<TaskDatabase> db(std::in_place, target);
        QCOMPARE(db->isOpen(), opens);
        if (opens)
            return;
        QVERIFY(db->loadTasks().isEmpty());
        QVERIFY(!db->storeChanges({{1, {result(1, "a", "b")}, {}, {}}}));
        QVERIFY(!db->lastError().isEmpty());
        db.reset();
        QCOMPARE(QFile::exists(target), !content.isNull());
        if (!content.isNull())
            QCOMPARE(fileBytes(), content); // the foreign file is left as it was
    }

    // A file of an older copy (tasks and results only) opened where it cannot be changed: the tasks load,
    // without options, the seen links say they cannot be read, and nothing is written.
    void olderFileOpenedReadOnly()
    {
        RawDb& raw = file().createTables();
        raw.addTask(1, "kw", "http://a/");
        TaskDatabase db(path(), TaskDatabase::OpenMode::ReadOnly);
        QVERIFY(db.isOpen());
        QCOMPARE(db.seenLinks(1), std::nullopt);
        QVERIFY(!db.lastError().isEmpty());
        const QList<Task*> loaded = db.loadTasks();
        QCOMPARE(loaded.size(), 1);
        QVERIFY(loaded[0]->options().isEmpty());
        qDeleteAll(loaded);
        QCOMPARE(raw.value("PRAGMA user_version").toInt(), 0);
        QCOMPARE(raw.count("sqlite_master WHERE name = 'task_options'"), 0);
    }

    // The outbox is written with the results it tells of, survives a reopen as it was left, and an older copy
    // (which refuses only a higher user_version and knows only tasks and results) still works on the file.
    void outboxAcrossReopenAndOlderCopy()
    {
        writeFixture(file());
        {
            TaskDatabase db(path());
            db.setNewsSource([](const TaskChange& change) {
                return QList<OutboxEvent>{outboxEvent(QStringLiteral("ev-%1").arg(change.taskId), "dest")};
            });
            QVERIFY(db.storeChanges({{1, {result(1, "n", "k")}, {}, {}}, {1, {}, {"l2"}, {}}}));
            const auto events = db.news().events();
            QVERIFY(events && events->size() == 1); // a change without new results tells no news
            QVERIFY(db.news().reschedule(events->first().row, 2, 1234, "503"));
        }
        QCOMPARE(file().value("PRAGMA user_version").toInt(), kVersion);
        // The older copy at work: it checks the version, then reads and writes its own two tables.
        QVERIFY(file().value("PRAGMA user_version").toInt() <= kVersion);
        QVERIFY(file().addTask(2, "other", "http://b/"));
        QVERIFY(file().addResult(2, "t", "l"));
        QVERIFY(file().exec("DELETE FROM results WHERE taskid = 1 AND text = 't'"));
        TaskDatabase db(path());
        const QList<Task*> tasks = db.loadTasks();
        QCOMPARE(tasks.size(), 2);
        qDeleteAll(tasks);
        const auto events = db.news().events();
        QVERIFY(events && events->size() == 1);
        QCOMPARE(events->first().eventId, QString("ev-1"));
        QCOMPARE(events->first().attempts, 2);
        QCOMPARE(events->first().nextTry, 1234);
        QCOMPARE(events->first().lastError, QString("503"));
        QVERIFY(db.news().remove(events->first().row));
        QCOMPARE(db.news().events()->size(), 0);
    }

    // A full destination loses its oldest events, and only its own; an outbox that refuses the event keeps
    // the results out as well.
    void outboxBoundedAndAtomic()
    {
        writeFixture(file());
        TaskDatabase db(path());
        db.news().setMaxPerDestination(3);
        QList<OutboxEvent> events;
        for (int i = 0; i < 5; ++i)
            events.append(outboxEvent(QString::number(i), "full"));
        events.append(outboxEvent("0", "other"));
        QVERIFY(db.news().add(events));
        QVERIFY(db.news().add({events.at(4)})); // a repeat of a waiting event is not stored twice
        QCOMPARE(db.news().takeDropped(), 2);
        QCOMPARE(db.news().takeDropped(), 0);
        QStringList left;
        const QList<OutboxEvent> waiting = db.news().events().value_or(QList<OutboxEvent>());
        for (const OutboxEvent& event : waiting)
            left << event.destination + ":" + event.eventId;
        QCOMPARE(left, (QStringList{"full:2", "full:3", "full:4", "other:0"}));

        db.setNewsSource([](const TaskChange&) { return QList<OutboxEvent>{outboxEvent("x", "d")}; });
        QVERIFY(file().exec("CREATE TRIGGER refuse BEFORE INSERT ON news_outbox BEGIN SELECT RAISE(ABORT, 'no'); END"));
        const QList<QVariantList> before = snapshot();
        QVERIFY(!db.storeChanges({{1, {result(1, "n", "k")}, {}, {}}}));
        QCOMPARE(snapshot(), before);
    }

    void separateFilesSideBySide()
    {
        const QString other = m_dir->filePath(QStringLiteral("other.db"));
        TaskDatabase first(path());
        TaskDatabase second(other);
        QVERIFY(first.isOpen() && second.isOpen());
        QVERIFY(second.insertTask(task(1, "kw", "http://a/").get()));
        QVERIFY(!first.taskExists(task(1, "kw", "http://a/").get()));
        QVERIFY(second.taskExists(task(1, "kw", "http://a/").get()));
    }
};

QTEST_GUILESS_MAIN(TestTaskFile)
#include "tst_taskfile.moc"
