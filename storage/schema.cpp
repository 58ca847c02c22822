// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/schema.h"

#include "storage/logging.h"
#include "storage/sqlrunner.h"

#include <QSet>
#include <QSqlQuery>

#include <optional>

namespace {
// The file format: these two statements, to the character, are what every task.db holds.
const QString kCreateTasks =
    QStringLiteral("CREATE TABLE IF NOT EXISTS tasks(id INTEGER PRIMARY KEY AUTOINCREMENT, task_id INTEGER, "
                   "task_date TEXT, last_update TEXT, name TEXT, grabtext TEXT, frequency INTEGER, address TEXT)");
const QString kCreateResults =
    QStringLiteral("CREATE TABLE IF NOT EXISTS results(id INTEGER PRIMARY KEY AUTOINCREMENT, result_date TEXT, "
                   "taskid INTEGER, text TEXT, link TEXT, result_state INTEGER)");
// Additions every copy of SQLite 3 reads and every copy of the program that does not know them passes over.
// Plain one-column indexes; the links each task's page showed at its last check (the unique index makes a
// task's links a set); settings of a task beyond the columns of the tasks table, one row per name.
// Which row of the tasks table owns the seen links and options of a task id: the rows of tasks carry an
// AUTOINCREMENT id that is never used again, while a task id is, since a copy of the program that knows
// only the tasks and results tables may remove a task and give its id to a new one.
const QString kAdditions[] = {
    QStringLiteral("CREATE TABLE IF NOT EXISTS seen_links(taskid INTEGER, link TEXT)"),
    QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS seen_links_task_link ON seen_links(taskid, link)"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS task_options (task_id INTEGER NOT NULL, name TEXT NOT NULL, "
                   "value TEXT NOT NULL, PRIMARY KEY (task_id, name))"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS task_owners (task_id INTEGER PRIMARY KEY, task_row INTEGER NOT NULL)"),
    // The time of day each result was found, beside the results table, whose rows keep their format. The
    // triggers live in the file, so a result any copy of the program stores dated today (a find, not an import
    // of older ones) gets the time it was stored, and a result removed takes its time along.
    QStringLiteral("CREATE TABLE IF NOT EXISTS result_times (result_id INTEGER PRIMARY KEY, found_at TEXT NOT NULL)"),
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS result_times_stored AFTER INSERT ON results "
                   "WHEN NEW.result_date = strftime('%m/%d/%Y', 'now', 'localtime') BEGIN "
                   "INSERT OR REPLACE INTO result_times(result_id, found_at) "
                   "VALUES (NEW.id, strftime('%H:%M:%S', 'now', 'localtime')); END"),
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS result_times_removed AFTER DELETE ON results BEGIN "
                   "DELETE FROM result_times WHERE result_id = OLD.id; END"),
    // News waiting to be delivered, one row per event and destination (times in milliseconds since the epoch).
    QStringLiteral(
        "CREATE TABLE IF NOT EXISTS news_outbox(id INTEGER PRIMARY KEY AUTOINCREMENT, event_id TEXT NOT NULL, "
        "task_id INTEGER NOT NULL DEFAULT 0, destination TEXT NOT NULL, payload TEXT NOT NULL, attempts INTEGER NOT "
        "NULL DEFAULT 0, "
        "next_try INTEGER NOT NULL DEFAULT 0, last_error TEXT NOT NULL DEFAULT '', "
        "UNIQUE(event_id, destination))"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS news_outbox_destination ON news_outbox(destination)"),
};

// The indexes over results, by name; on a file of millions of results they take seconds to build.
const std::pair<QLatin1String, QString> kResultIndexes[] = {
    {QLatin1String("results_taskid"), QStringLiteral("CREATE INDEX IF NOT EXISTS results_taskid ON results(taskid)")},
    {QLatin1String("results_link"), QStringLiteral("CREATE INDEX IF NOT EXISTS results_link ON results(link)")},
};

bool createTables(SqlRunner& runner)
{
    if (!runner.exec(kCreateTasks) || !runner.exec(kCreateResults))
        return false;
    // Not fatal: the operations that need a missing addition fail and say so (an index over rows another
    // program left twice is one that cannot be made).
    for (const QString& statement : kAdditions) {
        if (!runner.exec(statement))
            qCDebug(lcStorage) << "not created:" << statement << runner.lastError();
    }
    return true;
}

// Binds the seen links and options of every task id to the row of the tasks table that carries it: rows
// whose task is gone (removed by a copy that knows only tasks and results, even when it gave the id to a
// new task since) are deleted, and the rows of the tasks stored now are taken over. A task_id that is not an
// integer (another program's row, which loading refuses) owns nothing, and what is stored under it stays.
bool bindRowsToTasks(SqlRunner& runner)
{
    const QString gone = QStringLiteral("(SELECT o.task_id FROM task_owners o WHERE NOT EXISTS "
                                        "(SELECT 1 FROM tasks t WHERE t.id = o.task_row AND t.task_id = o.task_id))");
    const QString carried = QStringLiteral("(SELECT task_id FROM tasks WHERE task_id IS NOT NULL)");
    // The owners are made afresh only where they differ, so a file whose rows are bound is not written at all
    // (100,000 tasks: a few hundred milliseconds of the start saved).
    const QString owners = QStringLiteral("SELECT task_id, min(id) FROM tasks WHERE typeof(task_id) = 'integer' "
                                          "GROUP BY task_id");
    return runner.exec(QStringLiteral("DELETE FROM seen_links WHERE taskid IN ") + gone) &&
           runner.exec(QStringLiteral("DELETE FROM task_options WHERE task_id IN ") + gone) &&
           runner.exec(QStringLiteral("DELETE FROM seen_links WHERE taskid NOT IN ") + carried) &&
           runner.exec(QStringLiteral("DELETE FROM task_options WHERE task_id NOT IN ") + carried) &&
           runner.exec(QStringLiteral("DELETE FROM task_owners WHERE (task_id, task_row) NOT IN (%1)").arg(owners)) &&
           runner.exec(QStringLiteral("INSERT OR IGNORE INTO task_owners(task_id, task_row) ") + owners);
}

std::optional<QList<int>> intColumn(SqlRunner& runner, const QString& statement, const QVariantList& values = {})
{
    QSqlQuery query = runner.query();
    if (!runner.select(query, statement, values))
        return std::nullopt;
    QList<int> column;
    while (query.next())
        column.append(query.value(0).toInt());
    return column;
}

// Tasks that share a task_id (an older copy's numbering can leave them) get ids of their own: every row after
// the first takes a new id and a copy of the results, seen links and options the shared id held, so each task
// keeps what it showed.
bool separateSharedTaskIds(SqlRunner& runner)
{
    // Only integers: rows under a text or NULL are refused at loading, and would read here as task 0.
    const auto shared = intColumn(runner, QStringLiteral("SELECT task_id FROM tasks WHERE typeof(task_id) = 'integer' "
                                                         "GROUP BY task_id HAVING count(*) > 1"));
    if (!shared)
        return false;
    for (const int taskId : *shared) {
        const auto rows =
            intColumn(runner, QStringLiteral("SELECT id FROM tasks WHERE task_id = ? ORDER BY id"), {taskId});
        if (!rows)
            return false;
        for (qsizetype i = 1; i < rows->size(); ++i) {
            const auto largest =
                intColumn(runner, QStringLiteral("SELECT max(m) FROM (SELECT max(task_id) AS m FROM tasks WHERE "
                                                 "typeof(task_id) = 'integer' UNION ALL SELECT max(taskid) FROM "
                                                 "results WHERE typeof(taskid) = 'integer' UNION ALL SELECT "
                                                 "max(taskid) FROM seen_links WHERE typeof(taskid) = 'integer')"));
            if (!largest || largest->isEmpty())
                return false;
            const int newId = largest->first() + 1;
            const int row = rows->at(i);
            if (!runner.exec(QStringLiteral("UPDATE tasks SET task_id = ? WHERE id = ?"), {newId, row}) ||
                !runner.exec(QStringLiteral("INSERT OR REPLACE INTO task_owners(task_id, task_row) VALUES(?, ?)"),
                             {newId, row}) ||
                !runner.exec(QStringLiteral("INSERT INTO results(taskid, result_date, text, link, result_state) "
                                            "SELECT ?, result_date, text, link, result_state FROM results "
                                            "WHERE taskid = ? ORDER BY id"),
                             {newId, taskId}) ||
                !runner.exec(QStringLiteral("INSERT INTO seen_links(taskid, link) "
                                            "SELECT ?, link FROM seen_links WHERE taskid = ?"),
                             {newId, taskId}) ||
                !runner.exec(QStringLiteral("INSERT OR REPLACE INTO task_options(task_id, name, value) "
                                            "SELECT ?, name, value FROM task_options WHERE task_id = ?"),
                             {newId, taskId}))
                return false;
        }
    }
    return true;
}

struct Step
{
    int version;
    const char* what;
    bool (*apply)(SqlRunner&);
};

// In order; the rows of a removed task go before the shared ids are separated, so no task gets a copy of them.
const Step kSteps[] = {
    {1, "tables created", createTables},
    {2, "seen links and options bound to their tasks", bindRowsToTasks},
    {3, "shared task ids separated", separateSharedTaskIds},
};
static_assert(std::size(kSteps) == Schema::Version, "one step per version");
} // namespace

bool Schema::prepare(SqlRunner& runner, bool writable)
{
    return prepare(runner, writable, IndexBuild::Now);
}

bool Schema::indexesMissing(SqlRunner& runner)
{
    QSqlQuery query = runner.query();
    if (!runner.select(query, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index'")))
        return false; // unreadable: buildIndexes would fail the same way
    QSet<QString> present;
    while (query.next())
        present.insert(query.value(0).toString());
    for (const auto& [name, statement] : kResultIndexes) {
        if (!present.contains(name))
            return true;
    }
    return false;
}

bool Schema::buildIndexes(SqlRunner& runner)
{
    bool built = true;
    for (const auto& [name, statement] : kResultIndexes) {
        if (!runner.inTransaction([&] { return runner.exec(statement); })) {
            qCDebug(lcStorage) << "not created:" << statement << runner.lastError();
            built = false;
        }
    }
    return built;
}

bool Schema::prepare(SqlRunner& runner, bool writable, IndexBuild indexes)
{
    const auto stored = intColumn(runner, QStringLiteral("PRAGMA user_version"));
    if (!stored || stored->isEmpty())
        return true; // unreadable here: the operations fail and say why
    int version = stored->first();
    if (version > Version) {
        runner.refuse(SqlRunner::tr("it was written by a newer version of this program (file format %1; "
                                    "this version knows formats up to %2)")
                          .arg(version)
                          .arg(Version));
        return false;
    }
    if (!writable)
        return true;
    // Every step so far is safe to repeat and runs at every open: a copy of the program that knows no version
    // may have written the file since. The version counts the steps done in an unbroken run; a failed step
    // (a file that cannot be written) leaves the file as it was, and the others are still tried.
    bool unbroken = true;
    for (const Step& step : kSteps) {
        const bool raise = unbroken && version < step.version;
        const bool done = runner.inTransaction([&] {
            return step.apply(runner) &&
                   (!raise || runner.exec(QStringLiteral("PRAGMA user_version = %1").arg(step.version)));
        });
        unbroken = unbroken && done;
        if (!done)
            qCWarning(lcStorage) << "task.db not brought up to date:" << step.what << "failed:" << runner.lastError();
    }
    // Not fatal, as for the other additions: the statements that would use a missing index scan the table.
    if (indexes == IndexBuild::Now)
        buildIndexes(runner);
    return true;
}
