// SPDX-License-Identifier: GPL-3.0-or-later
// Times the storage operations on generated task.db files and compares them, in the same run, with
// the whole-table way of doing them (full "SELECT *" scans per call, one walk over all results per
// task while loading, one autocommitted statement at a time).
//
// Then stores what one update-all takes over (200 tasks, each 1 new result and 10 newly seen links) in one
// storeChanges, next to one call per task storing its results only, the way they were stored one task at a time.
//
// Last, reads every task's results one task at a time, as update-all reads them while its pages are on their way,
// next to the same rows read through QSqlQuery with a variant per column, the way they were read before.
//
// Usage: bench_storage [tasks results]   (default 1000 200000; the reference runs at a tenth of that)
#include "storage/resultrows.h"
#include "storage/sqlrunner.h"
#include "storage/taskdatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

const int kDateSpan = 100;       // results are spread over the last 100 days
const int kKeepDays = 95;        // removeOldResults deletes the oldest 4 of them
const int kInserts = 1000;       // new results stored by one storeChanges
const int kExistsCalls = 2000;   // lookups of a stored result averaged
const int kRefExistsCalls = 200; // the same for the reference, whose calls scan the whole table

struct Figures
{
    double load = 0;
    double insert = 0;
    double exists = 0; // per call
    double removeOld = 0;
    double removeTask = 0;
    int loadedResults = 0;
};

double millis(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

// A raw connection used by the generator and by the reference implementation.
class Connection
{
public:
    explicit Connection(const QString& path) : m_name(QStringLiteral("bench-%1").arg(++s_counter))
    {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot open %s", qPrintable(path));
    }
    ~Connection()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase db;

private:
    QString m_name;
    static inline int s_counter = 0;
};

QString linkFor(int taskId, int n)
{
    return QStringLiteral("http://news.example.test/section%1/article-%2.html").arg(taskId).arg(n);
}

// Results arrive over time for all tasks at once, oldest first, so ids grow with the date.
void generate(const QString& path, int tasks, int results)
{
    Connection c(path);
    QSqlQuery q(c.db);
    q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS tasks(id INTEGER PRIMARY KEY AUTOINCREMENT, task_id INTEGER, "
                          "task_date TEXT, last_update TEXT, name TEXT, grabtext TEXT, frequency INTEGER, address "
                          "TEXT)"));
    q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS results(id INTEGER PRIMARY KEY AUTOINCREMENT, result_date "
                          "TEXT, taskid INTEGER, text TEXT, link TEXT, result_state INTEGER)"));
    c.db.transaction();
    const QDate today = QDate::currentDate();
    q.prepare(QStringLiteral("INSERT INTO tasks(task_id, task_date, last_update, name, grabtext, frequency, address) "
                             "VALUES(?, ?, ?, ?, ?, ?, ?)"));
    for (int t = 1; t <= tasks; ++t) {
        q.addBindValue(t);
        q.addBindValue(today.addDays(-kDateSpan).toString(TaskDateFormat));
        q.addBindValue(QDateTime::currentDateTime().toString(Qt::ISODate));
        q.addBindValue(QStringLiteral("Task %1").arg(t));
        q.addBindValue(QStringLiteral("news"));
        q.addBindValue(3600);
        q.addBindValue(QStringLiteral("http://news.example.test/section%1/").arg(t));
        q.exec();
    }
    q.prepare(QStringLiteral("INSERT INTO results(result_date, taskid, text, link, result_state) "
                             "VALUES(?, ?, ?, ?, ?)"));
    for (int i = 0; i < results; ++i) {
        const int taskId = i % tasks + 1;
        const int age = kDateSpan - 1 - int(qint64(i) * kDateSpan / results);
        q.addBindValue(today.addDays(-age).toString(TaskDateFormat));
        q.addBindValue(taskId);
        q.addBindValue(QStringLiteral("Latest news item number %1").arg(i));
        q.addBindValue(linkFor(taskId, i));
        q.addBindValue(i % 3 == 0 ? 1 : 0);
        q.exec();
    }
    c.db.commit();
}

Task::ResultList newResults(int tasks, int base)
{
    Task::ResultList list;
    for (int i = 0; i < kInserts; ++i) {
        const int taskId = i % tasks + 1;
        list << Task::ResultPtr::create(Task::TaskResult{taskId, QDate::currentDate(),
                                                         QStringLiteral("Fresh item %1").arg(base + i),
                                                         linkFor(taskId, base + i), StateNew});
    }
    return list;
}

// Probes: half stored results (spread over the table), half unknown links.
Task::ResultList probes(int tasks, int results, int calls)
{
    Task::ResultList list;
    for (int i = 0; i < calls; ++i) {
        const int n = int(qint64(i) * results / calls);
        const int taskId = n % tasks + 1;
        const bool stored = i % 2 == 0;
        list << Task::ResultPtr::create(
            Task::TaskResult{taskId, QDate::currentDate(), QStringLiteral("Latest news item number %1").arg(n),
                             stored ? linkFor(taskId, n) : linkFor(taskId, n) + QStringLiteral("?missing"), StateNew});
    }
    return list;
}

Figures measureCurrent(const QString& path, int tasks, int results)
{
    Figures f;
    TaskDatabase db(path);
    if (!db.isOpen())
        qFatal("cannot open %s", qPrintable(path));
    for (int round = 0; round < 3; ++round) {
        QList<Task*> loaded;
        const double ms = millis([&] { loaded = db.loadTasks(); });
        f.load = round == 0 ? ms : qMin(f.load, ms);
        f.loadedResults = 0;
        for (Task* task : loaded)
            f.loadedResults += task->results().size();
        qDeleteAll(loaded);
    }
    const Task::ResultList probe = probes(tasks, results, kExistsCalls);
    int found = 0;
    SqlRunner reader(path, true);
    ResultRows rows(reader);
    f.exists = millis([&] {
                   for (const Task::ResultPtr& r : probe)
                       found += rows.stored(*r).value_or(false);
               }) /
               probe.size();
    if (found != probe.size() / 2)
        qFatal("the lookup found %d of %d stored probes", found, int(probe.size() / 2));
    const Task::ResultList fresh = newResults(tasks, results);
    f.insert = millis([&] {
        if (!db.storeChanges({TaskChange{0, fresh, {}, {}}}))
            qFatal("storeChanges: %s", qPrintable(db.lastError()));
    });
    f.removeOld = millis([&] { db.removeOldResults(kKeepDays, QDate::currentDate()); });
    Task victim(tasks / 2, {QString(), QString(), QString(), 3600, {}});
    f.removeTask = millis([&] { db.removeTask(&victim); });
    return f;
}

// The whole-table reference.
bool refResultExists(QSqlDatabase& db, const Task::TaskResult& r)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.exec(QStringLiteral("SELECT * FROM results"));
    while (q.next()) {
        if (q.value(3).toString() == r.text && q.value(4).toString() == r.link)
            return true;
    }
    return false;
}

QList<Task*> refLoadTasks(QSqlDatabase& db)
{
    QList<Task*> out;
    QSqlQuery tq(db);
    tq.exec(QStringLiteral("SELECT * FROM tasks"));
    QSqlQuery rq(db);
    rq.exec(QStringLiteral("SELECT * FROM results ORDER BY id DESC"));
    while (tq.next()) {
        auto* task =
            new Task(tq.value(1).toInt(),
                     {tq.value(4).toString(), tq.value(7).toString(), tq.value(5).toString(), tq.value(6).toInt(), {}});
        task->setTaskDate(tq.value(2).toString());
        task->setLastUpdate(tq.value(3).toString());
        Task::ResultList list;
        if (rq.first()) {
            do {
                if (rq.value(2).toInt() != task->taskId())
                    continue;
                auto r = Task::ResultPtr::create();
                r->taskId = rq.value(2).toInt();
                r->date = QDate::fromString(rq.value(1).toString(), TaskDateFormat);
                r->state = rq.value(5).toInt();
                r->text = rq.value(3).toString();
                r->link = rq.value(4).toString();
                list << r;
            } while (rq.next());
        }
        task->setResults(list);
        out << task;
    }
    return out;
}

void refInsertResults(QSqlDatabase& db, const Task::ResultList& results)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO results(taskid, result_date, text, link, result_state) "
                             "VALUES(:taskid, :result_date, :text, :link, :result_state)"));
    for (const Task::ResultPtr& r : results) {
        if (refResultExists(db, *r))
            continue;
        q.bindValue(QStringLiteral(":taskid"), r->taskId);
        q.bindValue(QStringLiteral(":result_date"), r->date.toString(TaskDateFormat));
        q.bindValue(QStringLiteral(":result_state"), r->state);
        q.bindValue(QStringLiteral(":text"), r->text);
        q.bindValue(QStringLiteral(":link"), r->link);
        q.exec();
    }
}

void refRemoveOldResults(QSqlDatabase& db, int days)
{
    QSqlQuery q(db);
    QSqlQuery remove(db);
    q.exec(QStringLiteral("SELECT * FROM results"));
    const QDate today = QDate::currentDate();
    while (q.next()) {
        const QString text = q.value(1).toString();
        if (QDate::fromString(text, TaskDateFormat).addDays(days) < today) {
            remove.prepare(QStringLiteral("DELETE FROM results WHERE result_date = :date"));
            remove.bindValue(QStringLiteral(":date"), text);
            remove.exec();
        }
    }
}

void refRemoveTask(QSqlDatabase& db, int taskId)
{
    QSqlQuery q(db);
    q.exec(QStringLiteral("SELECT * FROM tasks"));
    bool found = false;
    while (!found && q.next())
        found = q.value(1).toInt() == taskId;
    if (!found)
        return;
    QSqlQuery remove(db);
    remove.prepare(QStringLiteral("DELETE FROM tasks WHERE task_id = :id"));
    remove.bindValue(QStringLiteral(":id"), taskId);
    if (remove.exec()) {
        QSqlQuery removeResults(db);
        removeResults.prepare(QStringLiteral("DELETE FROM results WHERE taskid = :id"));
        removeResults.bindValue(QStringLiteral(":id"), taskId);
        removeResults.exec();
    }
}

Figures measureReference(const QString& path, int tasks, int results)
{
    Figures f;
    Connection c(path);
    QList<Task*> loaded;
    f.load = millis([&] { loaded = refLoadTasks(c.db); });
    for (Task* task : loaded)
        f.loadedResults += task->results().size();
    qDeleteAll(loaded);
    const Task::ResultList probe = probes(tasks, results, kRefExistsCalls);
    f.exists = millis([&] {
                   for (const Task::ResultPtr& r : probe)
                       refResultExists(c.db, *r);
               }) /
               probe.size();
    const Task::ResultList fresh = newResults(tasks, results);
    f.insert = millis([&] { refInsertResults(c.db, fresh); });
    f.removeOld = millis([&] { refRemoveOldResults(c.db, kKeepDays); });
    f.removeTask = millis([&] { refRemoveTask(c.db, tasks / 2); });
    return f;
}

int countRows(const QString& path, const QString& table)
{
    Connection c(path);
    QSqlQuery q(c.db);
    q.exec(QStringLiteral("SELECT count(*) FROM ") + table);
    q.next();
    return q.value(0).toInt();
}

const int kBatchTasks = 200;
const int kBatchSeen = 10;

// One update-all's findings; `way` keeps the links of each measured way apart.
QList<TaskChange> batchChanges(int way)
{
    QList<TaskChange> changes;
    for (int t = 1; t <= kBatchTasks; ++t) {
        TaskChange change{t, {}, {}, {}};
        const QString link = linkFor(t, 1000000 + way);
        change.results << Task::ResultPtr::create(
            Task::TaskResult{t, QDate::currentDate(), QStringLiteral("Fresh item %1").arg(way), link, StateNew});
        for (int n = 0; n < kBatchSeen; ++n)
            change.seenAdded << link + QStringLiteral("#%1").arg(n);
        changes << change;
    }
    return changes;
}

struct BatchFigures
{
    double separateInserts = 0; // 200 storeChanges, results only
    double separateChanges = 0; // 200 storeChanges, one per task
    double oneBatch = 0;        // one storeChanges
};

BatchFigures measureBatch(const QString& path)
{
    BatchFigures f;
    TaskDatabase db(path);
    const auto must = [&db](bool ok) {
        if (!ok)
            qFatal("store failed: %s", qPrintable(db.lastError()));
    };
    const QList<TaskChange> first = batchChanges(1);
    f.separateInserts = millis([&] {
        for (const TaskChange& change : first)
            must(db.storeChanges({TaskChange{change.taskId, change.results, {}, {}}}));
    });
    const QList<TaskChange> second = batchChanges(2);
    f.separateChanges = millis([&] {
        for (const TaskChange& change : second)
            must(db.storeChanges({change}));
    });
    const QList<TaskChange> third = batchChanges(3);
    f.oneBatch = millis([&] { must(db.storeChanges(third)); });
    for (int t = 1; t <= kBatchTasks; ++t) {
        if (db.seenLinks(t).value_or(QSet<QString>()).size() != 2 * kBatchSeen)
            qFatal("seen links of task %d not stored", t);
    }
    return f;
}

struct ReadFigures
{
    double program = 0;
    double reference = 0;
    qint64 rows = 0;
    bool same = true;
};

// The rows of one task as they were read before: prepared per task, every column a variant.
Task::ResultList referenceRead(QSqlDatabase& db, int taskId, QHash<QString, QDate>& dates)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id, result_date, text, link, result_state FROM results WHERE taskid = ? "
                                 "ORDER BY id DESC"));
    query.addBindValue(taskId);
    query.exec();
    Task::ResultList results;
    while (query.next()) {
        const QString dateText = query.value(1).toString();
        auto parsed = dates.constFind(dateText);
        if (parsed == dates.constEnd())
            parsed = dates.insert(dateText, QDate::fromString(dateText, TaskDateFormat));
        auto result = Task::ResultPtr::create(Task::TaskResult{taskId, *parsed, query.value(2).toString(),
                                                               query.value(3).toString(), query.value(4).toInt()});
        result->found = query.value(0).toLongLong();
        results.append(result);
    }
    return results;
}

// Best of three rounds each, the two ways taking turns so neither always reads a file the other has just read.
ReadFigures measureReading(const QString& path)
{
    ReadFigures f{1e9, 1e9, 0, true};
    Connection c(path);
    TaskDatabase db(path);
    for (int round = 0; round < 3; ++round) {
        const QList<Task*> tasks = db.loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(tasks); });
        f.program = qMin(f.program, millis([&] {
                             for (Task* task : tasks)
                                 task->loadResults();
                         }));
        QHash<QString, QDate> dates;
        QList<Task::ResultList> before;
        f.reference = qMin(f.reference, millis([&] {
                               for (Task* task : tasks)
                                   before.append(referenceRead(c.db, task->taskId(), dates));
                           }));
        f.rows = 0;
        for (qsizetype i = 0; i < tasks.size(); ++i) {
            const Task::ResultList now = tasks[i]->results();
            f.rows += now.size();
            f.same = f.same && now.size() == before[i].size();
            for (qsizetype r = 0; f.same && r < now.size(); ++r) {
                const Task::TaskResult& a = *now[r];
                const Task::TaskResult& b = *before[i][r];
                f.same = a.date == b.date && a.text == b.text && a.link == b.link && a.state == b.state &&
                         a.found == b.found;
            }
        }
    }
    return f;
}

void row(const char* name, double ref, double small, double large)
{
    std::printf("%-22s %12.3f %12.3f %9.1fx %12.3f %9.2fx\n", name, ref, small, ref / small, large, large / small);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int tasks = argc > 2 ? QByteArray(argv[1]).toInt() : 1000;
    const int results = argc > 2 ? QByteArray(argv[2]).toInt() : 200000;
    const int smallTasks = qMax(1, tasks / 10);
    const int smallResults = qMax(1, results / 10);

    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("small.db"));
    const QString large = dir.filePath(QStringLiteral("large.db"));
    const QString refFile = dir.filePath(QStringLiteral("reference.db"));
    const double genSmall = millis([&] { generate(small, smallTasks, smallResults); });
    const double genLarge = millis([&] { generate(large, tasks, results); });
    QFile::copy(small, refFile);
    std::printf("generated %d tasks / %d results in %.0f ms, %d / %d in %.0f ms\n", smallTasks, smallResults, genSmall,
                tasks, results, genLarge);

    // The first open adds the indexes to a file written without them (once per file).
    double indexSmall = millis([&] { TaskDatabase db(small); });
    double indexLarge = millis([&] { TaskDatabase db(large); });
    std::printf("first open (creates indexes): %.0f ms at %d results, %.0f ms at %d results\n\n", indexSmall,
                smallResults, indexLarge, results);

    const Figures ref = measureReference(refFile, smallTasks, smallResults);
    const Figures now = measureCurrent(small, smallTasks, smallResults);
    const Figures big = measureCurrent(large, tasks, results);
    if (ref.loadedResults != now.loadedResults || countRows(refFile, "results") != countRows(small, "results") ||
        countRows(refFile, "tasks") != countRows(small, "tasks"))
        qFatal("reference and implementation disagree");

    std::printf("times in ms; ref = whole-table approach, new = TaskDatabase\n");
    std::printf("%-22s %12s %12s %10s %12s %10s\n", "operation", "ref@small", "new@small", "ref/new", "new@large",
                "growth");
    row("loadTasks", ref.load, now.load, big.load);
    row("new results x1000", ref.insert, now.insert, big.insert);
    row("stored result lookup", ref.exists, now.exists, big.exists);
    row("removeOldResults", ref.removeOld, now.removeOld, big.removeOld);
    row("removeTask", ref.removeTask, now.removeTask, big.removeTask);
    std::printf("\nsmall = %d tasks / %d results, large = %d tasks / %d results (%.0fx the rows)\n", smallTasks,
                smallResults, tasks, results, double(results) / smallResults);
    std::printf("goals at large: loadTasks < 1500 ms (%s), 1000 inserts < 300 ms (%s)\n",
                big.load < 1500 ? "met" : "MISSED", big.insert < 300 ? "met" : "MISSED");

    const BatchFigures batch = measureBatch(large);
    std::printf("\nstoring %d tasks' findings (1 result + %d seen links each) at large, ms:\n", kBatchTasks,
                kBatchSeen);
    std::printf("  %-44s %10.1f\n", "results only, per task", batch.separateInserts);
    std::printf("  %-44s %10.1f\n", "storeChanges per task", batch.separateChanges);
    std::printf("  %-44s %10.1f  (%.0fx faster than results only, per task)\n", "one storeChanges", batch.oneBatch,
                batch.separateInserts / batch.oneBatch);

    const ReadFigures reading = measureReading(large);
    std::printf("\nreading every task's results one task at a time at large (%lld rows), best of 3, ms:\n",
                static_cast<long long>(reading.rows));
    std::printf("  %-44s %10.1f  (%.2f us a row)\n", "through SQLite's calls (the program)", reading.program,
                1000 * reading.program / qMax<qint64>(1, reading.rows));
    std::printf("  %-44s %10.1f  (%.2f us a row)\n", "through QSqlQuery, a variant per column", reading.reference,
                1000 * reading.reference / qMax<qint64>(1, reading.rows));
    std::printf("  program / QSqlQuery: %.2f; same records: %s\n", reading.program / reading.reference,
                reading.same ? "yes" : "NO");
    return reading.same ? 0 : 1;
}
