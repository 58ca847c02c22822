// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/taskdatabase.h"

#include "storage/logging.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <climits>

namespace {
// The file format: these two statements, to the character, are what every task.db holds.
const QString kCreateTasks =
    QStringLiteral("CREATE TABLE IF NOT EXISTS tasks(id INTEGER PRIMARY KEY AUTOINCREMENT, task_id INTEGER, "
                   "task_date TEXT, last_update TEXT, name TEXT, grabtext TEXT, frequency INTEGER, address TEXT)");
const QString kCreateResults =
    QStringLiteral("CREATE TABLE IF NOT EXISTS results(id INTEGER PRIMARY KEY AUTOINCREMENT, result_date TEXT, "
                   "taskid INTEGER, text TEXT, link TEXT, result_state INTEGER)");
// Plain one-column indexes: additive, and readable by every SQLite 3 that can read the tables.
const QString kIndexes[] = {
    QStringLiteral("CREATE INDEX IF NOT EXISTS results_taskid ON results(taskid)"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS results_link ON results(link)"),
};
// The links each task's page showed at its last check. A table of its own, unknown to the two above, so
// every copy of the program still reads the file; the unique index makes a task's links a set.
const QString kCreateSeenLinks[] = {
    QStringLiteral("CREATE TABLE IF NOT EXISTS seen_links(taskid INTEGER, link TEXT)"),
    QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS seen_links_task_link ON seen_links(taskid, link)"),
};
// Settings of a task beyond the columns of the tasks table, one row per name. Also a table of its own, so
// a copy of the program that does not know it still reads the file.
const QString kCreateTaskOptions =
    QStringLiteral("CREATE TABLE IF NOT EXISTS task_options (task_id INTEGER NOT NULL, name TEXT NOT NULL, "
                   "value TEXT NOT NULL, PRIMARY KEY (task_id, name))");
// Which row of the tasks table owns the seen links and options of a task id. The rows of tasks carry an
// AUTOINCREMENT id that is never used again, while a task id is: a copy of the program that knows only the
// tasks and results tables may remove a task and give its id to a new one. Rows left under an id whose
// owner is gone belong to no task and are removed when the file is opened.
const QString kCreateTaskOwners =
    QStringLiteral("CREATE TABLE IF NOT EXISTS task_owners (task_id INTEGER PRIMARY KEY, task_row INTEGER NOT NULL)");

const QString kInsertTask =
    QStringLiteral("INSERT INTO tasks(task_id, task_date, last_update, name, grabtext, frequency, address) "
                   "VALUES(:task_id, :task_date, :last_update, :name, :grabtext, :frequency, :address)");
const QString kInsertResult = QStringLiteral("INSERT INTO results(taskid, result_date, text, link, result_state) "
                                             "VALUES(:taskid, :result_date, :text, :link, :result_state)");

// Short, so a file locked by another program fails the operation instead of hanging the window.
const QString kConnectOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000");

// SQLite primary result codes that get a message of their own.
enum SqliteCode
{
    SqliteBusy = 5,
    SqliteLocked = 6,
    SqliteReadOnly = 8,
    SqliteFull = 13,
    SqliteNotADatabase = 26
};

// Qt binds a null QString as SQL NULL; the file holds empty texts as ''.
QString sqlText(const QString& text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

void bindResult(QSqlQuery& query, const Task::TaskResult& result, int taskId)
{
    query.bindValue(QStringLiteral(":taskid"), taskId);
    query.bindValue(QStringLiteral(":result_date"), sqlText(result.date.toString(TaskDateFormat)));
    query.bindValue(QStringLiteral(":result_state"), result.state);
    query.bindValue(QStringLiteral(":text"), sqlText(result.text));
    query.bindValue(QStringLiteral(":link"), sqlText(result.link));
}

// A result dated `date` is old when date + days lies before today; an unparsable date counts as old.
bool isOld(const QDate& date, int days, const QDate& today)
{
    if (!date.isValid())
        return true;
    return date.toJulianDay() + qint64(days) < today.toJulianDay();
}

// Every open TaskDatabase has its own connection; the first one takes Qt's default name.
QString freeConnectionName()
{
    const QString defaultName = QLatin1String(QSqlDatabase::defaultConnection);
    if (!QSqlDatabase::contains(defaultName))
        return defaultName;
    static QAtomicInt counter;
    QString name;
    do {
        name = QStringLiteral("vantrel-taskdb-%1").arg(counter.fetchAndAddRelaxed(1));
    } while (QSqlDatabase::contains(name));
    return name;
}

// Runs the statements of one operation as a whole: rolled back unless commit() succeeds. It takes the
// write lock at once, so what it reads stays true until it writes, whatever another connection does.
class Transaction
{
public:
    explicit Transaction(QSqlDatabase& db) : m_db(db)
    {
        QSqlQuery begin(db);
        m_active = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
        if (!m_active)
            m_error = begin.lastError();
    }
    ~Transaction()
    {
        if (m_active)
            m_db.rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool active() const { return m_active; }
    QSqlError error() const { return m_error; }
    bool commit()
    {
        if (!m_db.commit())
            return false;
        m_active = false;
        return true;
    }

private:
    QSqlDatabase& m_db;
    bool m_active = false;
    QSqlError m_error;
};

} // namespace

TaskDatabase::TaskDatabase(const QString& fileName) : TaskDatabase(fileName, OpenMode::ReadWrite) {}

TaskDatabase::TaskDatabase(const QString& fileName, OpenMode mode) : m_fileName(fileName), m_mode(mode)
{
    if (createConnection()) {
        createTables();
        // Rows left by a removed task go before the shared ids are separated, so no task gets a copy of them.
        if (m_mode == OpenMode::ReadWrite && !bindRowsToTasks())
            qCWarning(lcStorage) << "seen links and options not bound to their tasks:" << m_lastError;
        if (m_mode == OpenMode::ReadWrite && !separateSharedTaskIds())
            qCDebug(lcStorage) << "shared task ids not separated:" << m_lastError;
    }
}

TaskDatabase::~TaskDatabase()
{
    if (m_connectionName.isEmpty())
        return;
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool TaskDatabase::createConnection()
{
    if (!m_connectionName.isEmpty())
        return m_open;
    m_connectionName = freeConnectionName();
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(m_fileName);
    db.setConnectOptions(m_mode == OpenMode::ReadOnly ? kConnectOptions + QStringLiteral(";QSQLITE_OPEN_READONLY")
                                                      : kConnectOptions);
    m_open = db.open();
    if (m_open) {
        // SQLite opens any file lazily; the first real statement tells whether it is a database.
        QSqlQuery probe(db);
        m_open = probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        if (!m_open)
            noteOpenFailure(probe.lastError());
    } else {
        noteOpenFailure(db.lastError());
    }
    if (!m_open) {
        qCDebug(lcStorage) << "cannot open" << m_fileName << ":" << m_lastError;
        db.close();
    }
    return m_open;
}

void TaskDatabase::noteOpenFailure(const QSqlError& error)
{
    fail(error);
    m_openFailure = (error.databaseText().isEmpty() ? error.text() : error.databaseText()).simplified();
}

void TaskDatabase::createTables()
{
    // A failure here is not fatal: the operations that need a missing table report it.
    QSqlQuery query(db);
    if (!query.exec(kCreateTasks) || !query.exec(kCreateResults)) {
        fail(query.lastError());
        return;
    }
    for (const QString& statement : kIndexes) {
        if (!query.exec(statement))
            qCDebug(lcStorage) << "index not created:" << query.lastError().text();
    }
    // Without it (a file that cannot be written) the seen-link operations fail and say so.
    for (const QString& statement : kCreateSeenLinks) {
        if (!query.exec(statement))
            qCDebug(lcStorage) << "seen links table not created:" << query.lastError().text();
    }
    if (!query.exec(kCreateTaskOptions))
        qCDebug(lcStorage) << "task options table not created:" << query.lastError().text();
    if (!query.exec(kCreateTaskOwners))
        qCDebug(lcStorage) << "task owners table not created:" << query.lastError().text();
}

bool TaskDatabase::bindRowsToTasks()
{
    return inTransaction([this] {
        // An owner row that no longer carries its id: the task was removed (and the id perhaps given to a new
        // one) by a copy of the program that does not know these tables.
        const QString gone =
            QStringLiteral("(SELECT o.task_id FROM task_owners o WHERE NOT EXISTS "
                           "(SELECT 1 FROM tasks t WHERE t.id = o.task_row AND t.task_id = o.task_id))");
        const QString carried = QStringLiteral("(SELECT task_id FROM tasks WHERE task_id IS NOT NULL)");
        return runStatement(QStringLiteral("DELETE FROM seen_links WHERE taskid IN ") + gone, {}) &&
               runStatement(QStringLiteral("DELETE FROM task_options WHERE task_id IN ") + gone, {}) &&
               runStatement(QStringLiteral("DELETE FROM seen_links WHERE taskid NOT IN ") + carried, {}) &&
               runStatement(QStringLiteral("DELETE FROM task_options WHERE task_id NOT IN ") + carried, {}) &&
               runStatement(QStringLiteral("DELETE FROM task_owners"), {}) &&
               runStatement(QStringLiteral("INSERT INTO task_owners(task_id, task_row) SELECT task_id, min(id) "
                                           "FROM tasks WHERE task_id IS NOT NULL GROUP BY task_id"),
                            {});
    });
}

bool TaskDatabase::recordOwner(int taskId, int rowId)
{
    return runStatement(QStringLiteral("INSERT OR REPLACE INTO task_owners(task_id, task_row) VALUES(?, ?)"),
                        {taskId, rowId});
}

QList<Task*> TaskDatabase::loadTasks()
{
    QList<Task*> tasks;
    if (!ensureOpen())
        return tasks;
    QSqlQuery taskQuery(db);
    taskQuery.setForwardOnly(true);
    QSqlQuery resultQuery(db);
    resultQuery.setForwardOnly(true);
    if (!prepare(taskQuery, QStringLiteral("SELECT * FROM tasks")) || !run(taskQuery))
        return tasks;
    // Without a results table the tasks still load, with empty result lists.
    const bool haveResults =
        prepare(resultQuery, QStringLiteral("SELECT * FROM results ORDER BY id DESC")) && run(resultQuery);
    // Without an options table (a file written by an older copy, opened read-only) they load without options.
    QHash<int, QHash<QString, QString>> optionsById;
    {
        QSqlQuery optionQuery(db);
        optionQuery.setForwardOnly(true);
        if (optionQuery.exec(QStringLiteral("SELECT task_id, name, value FROM task_options"))) {
            while (optionQuery.next())
                optionsById[optionQuery.value(0).toInt()].insert(optionQuery.value(1).toString(),
                                                                 optionQuery.value(2).toString());
        }
    }

    // The results of every stored task id, newest first, collected in one pass over the table.
    QHash<int, Task::ResultList> resultsById;
    while (taskQuery.next()) {
        const int taskId = taskQuery.value(1).toInt();
        auto* task = new Task(taskId, taskQuery.value(4).toString(), taskQuery.value(7).toString(),
                              taskQuery.value(5).toString(), taskQuery.value(6).toInt());
        task->setRowId(taskQuery.value(0).toInt());
        task->setTaskDate(taskQuery.value(2).toString());
        task->setLastUpdate(taskQuery.value(3).toString());
        task->setOptions(optionsById.value(taskId));
        tasks.append(task);
        resultsById.insert(taskId, {});
    }
    // Parsing a date text is the dearest step per row, and a file holds few distinct dates.
    QHash<QString, QDate> parsedDates;
    while (haveResults && resultQuery.next()) {
        const int taskId = resultQuery.value(2).toInt();
        const auto bucket = resultsById.find(taskId);
        if (bucket == resultsById.end())
            continue; // an orphan: no task carries its id, it stays in the file unloaded
        const QString dateText = resultQuery.value(1).toString();
        auto parsed = parsedDates.constFind(dateText);
        if (parsed == parsedDates.constEnd())
            parsed = parsedDates.insert(dateText, QDate::fromString(dateText, TaskDateFormat));
        auto record =
            Task::ResultPtr::create(Task::TaskResult{taskId, *parsed, resultQuery.value(3).toString(),
                                                     resultQuery.value(4).toString(), resultQuery.value(5).toInt()});
        // Rows are numbered in the order they were stored, which is the order they were found.
        record->found = resultQuery.value(0).toLongLong();
        noteFoundOrder(record->found);
        bucket->append(record);
    }

    // Tasks that share an id each get records of their own.
    QSet<int> handedOut;
    for (Task* task : std::as_const(tasks)) {
        const Task::ResultList& found = resultsById[task->taskId()];
        if (!handedOut.contains(task->taskId())) {
            handedOut.insert(task->taskId());
            task->setResults(found);
            continue;
        }
        Task::ResultList copies;
        copies.reserve(found.size());
        for (const Task::ResultPtr& result : found)
            copies.append(Task::ResultPtr::create(*result));
        task->setResults(copies);
    }
    return tasks;
}

bool TaskDatabase::taskExists(const Task* task)
{
    return task && storedTask(*task).value_or(false);
}

bool TaskDatabase::resultExists(const Task::TaskResult& result)
{
    return storedResult(result).value_or(false);
}

std::optional<bool> TaskDatabase::storedTask(const Task& task)
{
    if (!ensureOpen())
        return std::nullopt;
    // SQL narrows the rows down by address; the match itself is the exact comparison of the texts
    // read back, where a NULL reads as an empty text.
    const QString address = task.address();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString statement = address.isEmpty()
                                  ? QStringLiteral("SELECT * FROM tasks WHERE address = '' OR address IS NULL")
                                  : QStringLiteral("SELECT * FROM tasks WHERE address = ?");
    if (!prepare(query, statement))
        return std::nullopt;
    if (!address.isEmpty())
        query.addBindValue(address);
    if (!run(query))
        return std::nullopt;
    while (query.next()) {
        const QString grabText = query.value(5).toString();
        const QString storedAddress = query.value(7).toString();
        if (grabText == task.grabText() && storedAddress == address)
            return true;
        qCDebug(lcStorage) << "select query is" << query.value(0).toLongLong() << grabText << storedAddress;
    }
    return false;
}

std::optional<bool> TaskDatabase::storedResult(const Task::TaskResult& result)
{
    if (!ensureOpen())
        return std::nullopt;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString statement =
        result.link.isEmpty() ? QStringLiteral("SELECT text, link, taskid FROM results WHERE link = '' OR link IS NULL")
                              : QStringLiteral("SELECT text, link, taskid FROM results WHERE link = ?");
    if (!prepare(query, statement))
        return std::nullopt;
    if (!result.link.isEmpty())
        query.addBindValue(result.link);
    if (!run(query))
        return std::nullopt;
    // The task is compared as loading reads it, so a row counts for the task it is loaded into.
    while (query.next()) {
        if (query.value(0).toString() == result.text && query.value(1).toString() == result.link &&
            query.value(2).toInt() == result.taskId)
            return true;
    }
    return false;
}

std::optional<bool> TaskDatabase::storedTaskId(int taskId)
{
    // Rows whose task_id is not a plain int are handed to the same conversion a full read uses.
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!prepare(query, QStringLiteral("SELECT task_id FROM tasks WHERE task_id = ? OR typeof(task_id) <> 'integer' "
                                       "OR task_id NOT BETWEEN -2147483648 AND 2147483647")))
        return std::nullopt;
    query.addBindValue(taskId);
    if (!run(query))
        return std::nullopt;
    while (query.next()) {
        if (query.value(0).toInt() == taskId)
            return true;
    }
    return false;
}

std::optional<QSet<int>> TaskDatabase::usedTaskIds()
{
    // Every id in use, read the way loading reads it (a NULL or a text counts as what toInt() makes of it).
    QSet<int> used;
    for (const QString& statement : {QStringLiteral("SELECT DISTINCT task_id FROM tasks"),
                                     QStringLiteral("SELECT DISTINCT taskid FROM results")}) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!prepare(query, statement) || !run(query))
            return std::nullopt;
        while (query.next())
            used.insert(query.value(0).toInt());
    }
    return used;
}

int TaskDatabase::freeTaskId(int preferred, QSet<int>& used)
{
    int id = preferred;
    if (used.contains(preferred)) {
        const int largest = *std::max_element(used.cbegin(), used.cend());
        if (largest < INT_MAX) {
            id = largest + 1;
        } else {
            id = 0; // the largest id is taken: the lowest free one instead
            while (used.contains(id))
                ++id;
        }
    }
    used.insert(id);
    return id;
}

bool TaskDatabase::insertTask(Task* task, const QStringList& seenLinks)
{
    if (!task)
        return succeed();
    if (!ensureOpen())
        return false;
    Transaction transaction(db);
    if (!transaction.active())
        return fail(transaction.error());
    std::optional<QSet<int>> used = usedTaskIds();
    if (!used)
        return false;
    bool inserted = false;
    int taskId = 0;
    int rowId = 0;
    if (!insertTaskRows(*task, seenLinks, *used, &inserted, &taskId, &rowId))
        return false;
    if (!inserted)
        return succeed(); // the same keyword on the same page is stored already: nothing is written
    if (!transaction.commit())
        return fail(db.lastError());
    takeStoredIds(task, taskId, rowId);
    return succeed();
}

bool TaskDatabase::beginTaskBatch()
{
    if (m_batch)
        return fail(QSqlError(tr("a batch of new tasks is already being stored")));
    if (!ensureOpen())
        return false;
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return fail(begin.lastError());
    std::optional<QSet<int>> used = usedTaskIds();
    if (!used) {
        db.rollback();
        return false;
    }
    m_batch = Batch{*used, {}};
    return succeed();
}

bool TaskDatabase::addToTaskBatch(Task* task, const QStringList& seenLinks)
{
    if (!m_batch)
        return fail(QSqlError(tr("no batch of new tasks is being stored")));
    if (!task)
        return succeed();
    bool inserted = false;
    int taskId = 0;
    int rowId = 0;
    if (!insertTaskRows(*task, seenLinks, m_batch->usedIds, &inserted, &taskId, &rowId))
        return false;
    if (inserted)
        m_batch->stored.append({task, taskId, rowId});
    return succeed();
}

bool TaskDatabase::commitTaskBatch()
{
    if (!m_batch)
        return fail(QSqlError(tr("no batch of new tasks is being stored")));
    if (!db.commit()) {
        const QSqlError error = db.lastError();
        rollbackTaskBatch();
        return fail(error);
    }
    for (const auto& [task, taskId, rowId] : std::as_const(m_batch->stored))
        takeStoredIds(task, taskId, rowId);
    m_batch.reset();
    return succeed();
}

void TaskDatabase::rollbackTaskBatch()
{
    if (!m_batch)
        return;
    db.rollback();
    m_batch.reset();
}

void TaskDatabase::takeStoredIds(Task* task, int taskId, int rowId)
{
    task->setRowId(rowId);
    task->setTaskId(taskId);
    for (const Task::ResultPtr& result : task->results()) {
        if (result)
            result->taskId = taskId;
    }
}

bool TaskDatabase::insertTaskRows(const Task& task, const QStringList& seenLinks, QSet<int>& usedIds, bool* inserted,
                                  int* taskIdOut, int* rowId)
{
    *inserted = false;
    const std::optional<bool> exists = storedTask(task);
    if (!exists)
        return false;
    if (*exists)
        return true;
    const int taskId = freeTaskId(task.taskId(), usedIds);

    QSqlQuery insert(db);
    if (!prepare(insert, kInsertTask))
        return false;
    insert.bindValue(QStringLiteral(":task_id"), taskId);
    insert.bindValue(QStringLiteral(":task_date"), sqlText(task.taskDateText()));
    insert.bindValue(QStringLiteral(":last_update"), sqlText(task.lastUpdateText()));
    insert.bindValue(QStringLiteral(":name"), sqlText(task.name()));
    insert.bindValue(QStringLiteral(":grabtext"), sqlText(task.grabText()));
    insert.bindValue(QStringLiteral(":frequency"), task.frequency());
    insert.bindValue(QStringLiteral(":address"), sqlText(task.address()));
    if (!run(insert))
        return false;
    *rowId = insert.lastInsertId().toInt();
    insert.finish();

    // A new task keeps every result it found, even those stored under another task.
    QSqlQuery insertResult(db);
    if (!prepare(insertResult, kInsertResult))
        return false;
    for (const Task::ResultPtr& result : task.results()) {
        if (!result)
            continue;
        bindResult(insertResult, *result, taskId);
        if (!run(insertResult))
            return false;
    }
    insertResult.finish();
    // Rows an older copy of the program left under the id belong to a task that is gone.
    if (!deleteSeenLinksOf(taskId) || !writeSeenChanges({TaskChange{taskId, {}, seenLinks, {}}}))
        return false;
    if (!deleteOptionsOf(taskId) || !writeOptions(taskId, task.options()) || !recordOwner(taskId, *rowId))
        return false;
    *taskIdOut = taskId;
    *inserted = true;
    return true;
}

bool TaskDatabase::updateTask(const Task* task, bool forgetSeen)
{
    if (!task)
        return succeed();
    if (!ensureOpen())
        return false;
    Transaction transaction(db);
    if (!transaction.active())
        return fail(transaction.error());
    const bool byRow = task->rowId() > 0;
    QSqlQuery update(db);
    if (!prepare(update, byRow ? QStringLiteral("UPDATE tasks SET name = ?, address = ?, grabtext = ?, frequency = ? "
                                                "WHERE id = ?")
                               : QStringLiteral("UPDATE tasks SET name = ?, address = ?, grabtext = ?, frequency = ? "
                                                "WHERE task_id = ?")))
        return false;
    update.addBindValue(sqlText(task->name()));
    update.addBindValue(sqlText(task->address()));
    update.addBindValue(sqlText(task->grabText()));
    update.addBindValue(task->frequency());
    update.addBindValue(byRow ? task->rowId() : task->taskId());
    if (!run(update))
        return false;
    if (update.numRowsAffected() == 0) {
        m_lastError = tr("the task %1 is no longer in %2").arg(task->name(), QFileInfo(m_fileName).fileName());
        return false;
    }
    update.finish();
    if (forgetSeen && !deleteSeenLinksOf(task->taskId()))
        return false;
    if (!deleteOptionsOf(task->taskId()) || !writeOptions(task->taskId(), task->options()))
        return false;
    return transaction.commit() ? succeed() : fail(db.lastError());
}

bool TaskDatabase::markTaskResultsRead(int taskId)
{
    return runStatement(QStringLiteral("UPDATE results SET result_state = ? WHERE taskid = ? AND "
                                       "(result_state IS NULL OR result_state <> ?)"),
                        {int(StateRead), taskId, int(StateRead)});
}

bool TaskDatabase::insertResults(const Task::ResultList& results)
{
    return storeChanges({TaskChange{0, results, {}, {}}});
}

bool TaskDatabase::storeChanges(const QList<TaskChange>& changes)
{
    Task::ResultList results;
    bool seenChanged = false;
    for (const TaskChange& change : changes) {
        results += change.results;
        seenChanged = seenChanged || !change.seenAdded.isEmpty() || !change.seenRemoved.isEmpty();
    }
    if (results.isEmpty() && !seenChanged)
        return succeed();
    if (!ensureOpen())
        return false;
    Transaction transaction(db);
    if (!transaction.active())
        return fail(transaction.error());
    if (!insertNewResults(results) || (seenChanged && !writeSeenChanges(changes)))
        return false;
    return transaction.commit() ? succeed() : fail(db.lastError());
}

bool TaskDatabase::replaceTaskResults(int taskId, const Task::ResultList& results)
{
    return replaceResults(taskId, results, nullptr);
}

bool TaskDatabase::replaceTaskResults(int taskId, const Task::ResultList& results, const QStringList& seenLinks)
{
    return replaceResults(taskId, results, &seenLinks);
}

bool TaskDatabase::replaceResults(int taskId, const Task::ResultList& results, const QStringList* seen)
{
    if (!ensureOpen())
        return false;
    Transaction transaction(db);
    if (!transaction.active())
        return fail(transaction.error());
    if (!deleteResultsOf(taskId) || !insertNewResults(results))
        return false;
    if (!seen)
        return transaction.commit() ? succeed() : fail(db.lastError());
    const QStringList& seenLinks = *seen;
    const std::optional<QSet<QString>> stored = readSeenLinks(taskId);
    if (!stored)
        return false;
    TaskChange change{taskId, {}, {}, {}};
    const QSet<QString> wanted(seenLinks.cbegin(), seenLinks.cend());
    for (const QString& link : seenLinks) {
        if (!stored->contains(link))
            change.seenAdded.append(link);
    }
    for (const QString& link : *stored) {
        if (!wanted.contains(link))
            change.seenRemoved.append(link);
    }
    if (!writeSeenChanges({change}))
        return false;
    return transaction.commit() ? succeed() : fail(db.lastError());
}

bool TaskDatabase::deleteResultsOf(int taskId)
{
    QSqlQuery remove(db);
    if (!prepare(remove, QStringLiteral("DELETE FROM results WHERE taskid = :id")))
        return false;
    remove.bindValue(QStringLiteral(":id"), taskId);
    return run(remove);
}

bool TaskDatabase::insertNewResults(const Task::ResultList& results)
{
    QSqlQuery insert(db);
    if (!prepare(insert, kInsertResult))
        return false;
    for (const Task::ResultPtr& result : results) {
        if (!result)
            continue;
        // A link with the same text is stored once, whichever task found it first.
        const std::optional<bool> exists = storedResult(*result);
        if (!exists)
            return false;
        if (*exists)
            continue;
        bindResult(insert, *result, result->taskId);
        if (!run(insert))
            return false;
    }
    insert.finish();
    return true;
}

std::optional<QSet<QString>> TaskDatabase::readSeenLinks(int taskId)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!prepare(query, QStringLiteral("SELECT link FROM seen_links WHERE taskid = ?")))
        return std::nullopt;
    query.addBindValue(taskId);
    if (!run(query))
        return std::nullopt;
    QSet<QString> links;
    while (query.next())
        links.insert(query.value(0).toString());
    return links;
}

bool TaskDatabase::deleteSeenLinksOf(int taskId)
{
    QSqlQuery remove(db);
    if (!prepare(remove, QStringLiteral("DELETE FROM seen_links WHERE taskid = ?")))
        return false;
    remove.addBindValue(taskId);
    return run(remove);
}

bool TaskDatabase::writeSeenChanges(const QList<TaskChange>& changes)
{
    QSqlQuery add(db);
    QSqlQuery remove(db);
    if (!prepare(add, QStringLiteral("INSERT OR IGNORE INTO seen_links(taskid, link) VALUES(?, ?)")) ||
        !prepare(remove, QStringLiteral("DELETE FROM seen_links WHERE taskid = ? AND link = ?")))
        return false;
    for (const TaskChange& change : changes) {
        for (const QString& link : change.seenRemoved) {
            remove.addBindValue(change.taskId);
            remove.addBindValue(sqlText(link));
            if (!run(remove))
                return false;
        }
        for (const QString& link : change.seenAdded) {
            add.addBindValue(change.taskId);
            add.addBindValue(sqlText(link));
            if (!run(add))
                return false;
        }
    }
    return true;
}

std::optional<QSet<QString>> TaskDatabase::seenLinks(int taskId)
{
    if (!ensureOpen())
        return std::nullopt;
    std::optional<QSet<QString>> links = readSeenLinks(taskId);
    if (links)
        succeed();
    return links;
}

bool TaskDatabase::hasSeenLinks(int taskId)
{
    if (!ensureOpen())
        return false;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!prepare(query, QStringLiteral("SELECT 1 FROM seen_links WHERE taskid = ? LIMIT 1")))
        return false;
    query.addBindValue(taskId);
    return run(query) && succeed() && query.next();
}

bool TaskDatabase::removeAllSeenLinks()
{
    return runStatement(QStringLiteral("DELETE FROM seen_links"), {});
}

bool TaskDatabase::deleteOptionsOf(int taskId)
{
    QSqlQuery remove(db);
    if (!prepare(remove, QStringLiteral("DELETE FROM task_options WHERE task_id = ?")))
        return false;
    remove.addBindValue(taskId);
    return run(remove);
}

bool TaskDatabase::writeOptions(int taskId, const QHash<QString, QString>& options)
{
    QSqlQuery insert(db);
    if (!prepare(insert, QStringLiteral("INSERT OR REPLACE INTO task_options(task_id, name, value) VALUES(?, ?, ?)")))
        return false;
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        if (it.value().isEmpty())
            continue; // an empty value is an option not set
        insert.addBindValue(taskId);
        insert.addBindValue(sqlText(it.key()));
        insert.addBindValue(it.value());
        if (!run(insert))
            return false;
    }
    return true;
}

std::optional<QHash<QString, QString>> TaskDatabase::taskOptions(int taskId)
{
    if (!ensureOpen())
        return std::nullopt;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!prepare(query, QStringLiteral("SELECT name, value FROM task_options WHERE task_id = ?")))
        return std::nullopt;
    query.addBindValue(taskId);
    if (!run(query))
        return std::nullopt;
    QHash<QString, QString> options;
    while (query.next())
        options.insert(query.value(0).toString(), query.value(1).toString());
    succeed();
    return options;
}

bool TaskDatabase::setTaskOption(int taskId, const QString& name, const QString& value)
{
    if (value.isEmpty())
        return runStatement(QStringLiteral("DELETE FROM task_options WHERE task_id = ? AND name = ?"),
                            {taskId, sqlText(name)});
    return runStatement(QStringLiteral("INSERT OR REPLACE INTO task_options(task_id, name, value) VALUES(?, ?, ?)"),
                        {taskId, sqlText(name), value});
}

bool TaskDatabase::updateLastUpdate(const Task* task)
{
    if (!task)
        return succeed();
    // Written in local time without an offset, the form every task.db holds, whatever clock set the time.
    return runStatement(QStringLiteral("UPDATE tasks SET last_update = ? WHERE task_id = ?"),
                        {sqlText(task->lastUpdate().toLocalTime().toString(Qt::ISODate)), task->taskId()});
}

bool TaskDatabase::updateResultState(const Task::TaskResult& result, int state)
{
    return runStatement(QStringLiteral("UPDATE results SET result_state =? WHERE taskid =? AND text=? AND link=?"),
                        {state, result.taskId, sqlText(result.text), sqlText(result.link)});
}

bool TaskDatabase::updateResultStates(const Task::ResultList& results, int state)
{
    // SQLite takes at most 32,766 values a statement; two a result, and three more.
    constexpr int PerStatement = 10000;
    QHash<int, Task::ResultList> byTask;
    for (const Task::ResultPtr& result : results)
        byTask[result->taskId].append(result);
    return inTransaction([&] {
        for (auto it = byTask.cbegin(); it != byTask.cend(); ++it) {
            for (qsizetype from = 0; from < it->size(); from += PerStatement) {
                const Task::ResultList part = it->mid(from, PerStatement);
                QStringList pairs(part.size(), QStringLiteral("(?, ?)"));
                QSqlQuery query(db);
                if (!prepare(query, QStringLiteral("UPDATE results SET result_state = ? WHERE taskid = ? AND "
                                                   "(text, link) IN (VALUES %1)")
                                        .arg(pairs.join(QStringLiteral(", ")))))
                    return false;
                query.addBindValue(state);
                query.addBindValue(it.key());
                for (const Task::ResultPtr& result : part) {
                    query.addBindValue(sqlText(result->text));
                    query.addBindValue(sqlText(result->link));
                }
                if (!run(query))
                    return false;
            }
        }
        return true;
    });
}

bool TaskDatabase::removeTask(const Task* task)
{
    if (!task)
        return succeed();
    if (!ensureOpen())
        return false;
    Transaction transaction(db);
    if (!transaction.active())
        return fail(transaction.error());
    const std::optional<bool> stored = storedTaskId(task->taskId());
    if (!stored)
        return false;
    if (!*stored)
        return succeed(); // not stored: its id's results, if any, stay

    // The task's own row goes (every row of the id when its row is not known); its results and seen links
    // go once no other task row carries the id.
    QSqlQuery removeRows(db);
    const bool byRow = task->rowId() > 0;
    if (!prepare(removeRows, byRow ? QStringLiteral("DELETE FROM tasks WHERE id = :id")
                                   : QStringLiteral("DELETE FROM tasks WHERE task_id = :id")))
        return false;
    removeRows.bindValue(QStringLiteral(":id"), byRow ? task->rowId() : task->taskId());
    if (!run(removeRows))
        return false;
    const std::optional<bool> shared = storedTaskId(task->taskId());
    if (!shared)
        return false;
    if (!*shared &&
        (!deleteResultsOf(task->taskId()) || !deleteSeenLinksOf(task->taskId()) || !deleteOptionsOf(task->taskId()) ||
         !runStatement(QStringLiteral("DELETE FROM task_owners WHERE task_id = ?"), {task->taskId()})))
        return false;
    return transaction.commit() ? succeed() : fail(db.lastError());
}

bool TaskDatabase::separateSharedTaskIds()
{
    if (!ensureOpen())
        return false;
    QList<int> shared;
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!prepare(query, QStringLiteral("SELECT task_id FROM tasks GROUP BY task_id HAVING count(*) > 1")) ||
            !run(query))
            return false;
        while (query.next())
            shared.append(query.value(0).toInt());
    }
    if (shared.isEmpty())
        return succeed();

    Transaction transaction(db);
    if (!transaction.active())
        return fail(transaction.error());
    for (const int taskId : std::as_const(shared)) {
        QList<int> rows;
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!prepare(query, QStringLiteral("SELECT id FROM tasks WHERE task_id = ? ORDER BY id")))
            return false;
        query.addBindValue(taskId);
        if (!run(query))
            return false;
        while (query.next())
            rows.append(query.value(0).toInt());
        query.finish();
        for (qsizetype i = 1; i < rows.size(); ++i) {
            const std::optional<int> largest = largestTaskId();
            if (!largest)
                return false;
            const int newId = *largest + 1;
            if (!runStatement(QStringLiteral("UPDATE tasks SET task_id = ? WHERE id = ?"), {newId, rows.at(i)}) ||
                !recordOwner(newId, rows.at(i)) ||
                !runStatement(QStringLiteral("INSERT INTO results(taskid, result_date, text, link, result_state) "
                                             "SELECT ?, result_date, text, link, result_state FROM results "
                                             "WHERE taskid = ? ORDER BY id"),
                              {newId, taskId}) ||
                !runStatement(
                    QStringLiteral(
                        "INSERT INTO seen_links(taskid, link) SELECT ?, link FROM seen_links WHERE taskid = ?"),
                    {newId, taskId}) ||
                !runStatement(QStringLiteral("INSERT OR REPLACE INTO task_options(task_id, name, value) "
                                             "SELECT ?, name, value FROM task_options WHERE task_id = ?"),
                              {newId, taskId}))
                return false;
        }
    }
    return transaction.commit() ? succeed() : fail(db.lastError());
}

std::optional<int> TaskDatabase::largestTaskId()
{
    QSqlQuery query(db);
    if (!prepare(query,
                 QStringLiteral("SELECT max(m) FROM (SELECT max(task_id) AS m FROM tasks UNION ALL "
                                "SELECT max(taskid) FROM results UNION ALL SELECT max(taskid) FROM seen_links)")) ||
        !run(query) || !query.next())
        return std::nullopt;
    return query.value(0).toInt();
}

bool TaskDatabase::removeTaskResults(int taskId)
{
    return runStatement(QStringLiteral("DELETE FROM results WHERE taskid =?"), {taskId});
}

bool TaskDatabase::removeResult(const Task::TaskResult& result)
{
    return runStatement(QStringLiteral("DELETE FROM results WHERE taskid =? AND text=? AND link=?"),
                        {result.taskId, sqlText(result.text), sqlText(result.link)});
}

bool TaskDatabase::removeResults(const Task::ResultList& results)
{
    return inTransaction([&] {
        QSqlQuery query(db);
        if (!prepare(query, QStringLiteral("DELETE FROM results WHERE taskid =? AND text=? AND link=?")))
            return false;
        for (const Task::ResultPtr& result : results) {
            query.addBindValue(result->taskId);
            query.addBindValue(sqlText(result->text));
            query.addBindValue(sqlText(result->link));
            if (!run(query))
                return false;
        }
        return true;
    });
}

bool TaskDatabase::removeAllTasks()
{
    return inTransaction([&] {
        QSqlQuery query(db);
        for (const char* table : {"tasks", "results", "seen_links", "task_options", "task_owners"}) {
            if (!query.exec(QStringLiteral("DELETE FROM ") + QLatin1String(table)))
                return fail(query.lastError());
        }
        return true;
    });
}

bool TaskDatabase::inTransaction(const std::function<bool()>& body)
{
    if (!ensureOpen())
        return false;
    Transaction transaction(db);
    if (!transaction.active())
        return fail(transaction.error());
    if (!body())
        return false;
    return transaction.commit() ? succeed() : fail(db.lastError());
}

bool TaskDatabase::removeOldResults(int days, const QDate& today)
{
    if (!ensureOpen())
        return false;
    Transaction transaction(db);
    if (!transaction.active())
        return fail(transaction.error());

    // Deletion goes by date text, so each distinct text is judged once.
    QStringList oldDates;
    {
        QSqlQuery dates(db);
        dates.setForwardOnly(true);
        if (!prepare(dates, QStringLiteral("SELECT DISTINCT result_date FROM results")) || !run(dates))
            return false;
        while (dates.next()) {
            // A NULL date reads as an empty text, but no "result_date = text" matches it: it stays.
            if (dates.value(0).isNull())
                continue;
            const QString dateText = dates.value(0).toString();
            const QDate date = QDate::fromString(dateText, TaskDateFormat);
            qCDebug(lcStorage) << "date is" << date.toString();
            if (isOld(date, days, today))
                oldDates.append(dateText);
        }
    }

    // One pass over the table per chunk of dates (no index on the date: it would slow every insert for
    // the sake of a deletion that runs once at start-up). 500 stays below every SQLite's variable limit.
    const int chunk = 500;
    for (int from = 0; from < oldDates.size(); from += chunk) {
        const QStringList dates = oldDates.mid(from, chunk);
        QStringList marks;
        for (int i = 0; i < dates.size(); ++i)
            marks << QStringLiteral("?");
        QSqlQuery remove(db);
        if (!prepare(remove, QStringLiteral("DELETE FROM results WHERE result_date IN (%1)").arg(marks.join(u','))))
            return false;
        for (const QString& dateText : dates)
            remove.addBindValue(sqlText(dateText));
        if (!run(remove))
            return false;
    }
    return transaction.commit() ? succeed() : fail(db.lastError());
}

bool TaskDatabase::ensureOpen()
{
    if (m_open)
        return true;
    m_lastError = tr("%1 is not open").arg(QFileInfo(m_fileName).fileName());
    return false;
}

bool TaskDatabase::prepare(QSqlQuery& query, const QString& statement)
{
    return query.prepare(statement) || fail(query.lastError());
}

bool TaskDatabase::run(QSqlQuery& query)
{
    return query.exec() || fail(query.lastError());
}

bool TaskDatabase::runStatement(const QString& statement, const QVariantList& values)
{
    if (!ensureOpen())
        return false;
    QSqlQuery query(db);
    if (!prepare(query, statement))
        return false;
    for (const QVariant& value : values)
        query.addBindValue(value);
    return run(query) && succeed();
}

bool TaskDatabase::fail(const QSqlError& error)
{
    m_lastError = describe(error);
    qCDebug(lcStorage) << "storage statement failed:" << error.text();
    return false;
}

bool TaskDatabase::succeed()
{
    m_lastError.clear();
    return true;
}

QString TaskDatabase::describe(const QSqlError& error) const
{
    const QString name = QFileInfo(m_fileName).fileName();
    const QString detail = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    int code = error.nativeErrorCode().toInt() & 0xff;
    // Some driver paths (transactions) leave the code out; SQLite's own wording still tells.
    if (code == 0 && detail.contains(QLatin1String("database is locked")))
        code = SqliteBusy;
    else if (code == 0 && detail.contains(QLatin1String("readonly database")))
        code = SqliteReadOnly;
    switch (code) {
    case SqliteBusy:
    case SqliteLocked:
        return tr("%1 is locked by another program").arg(name);
    case SqliteReadOnly:
        return tr("%1 is read-only").arg(name);
    case SqliteFull:
        return tr("The disk holding %1 is full").arg(name);
    case SqliteNotADatabase:
        return tr("%1 is not a database").arg(name);
    default:
        return tr("%1: %2").arg(name, detail);
    }
}
