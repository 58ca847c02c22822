// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/sqlrunner.h"

#include "storage/logging.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlQuery>

#include <sqlite3.h>

#include <limits>

namespace {
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

// Every open database has its own connection; the first one takes Qt's default name.
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
} // namespace

SqlRunner::SqlRunner(const QString& fileName, bool readOnly)
    : m_fileName(fileName), m_connectionName(freeConnectionName())
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    m_db.setDatabaseName(m_fileName);
    m_db.setConnectOptions(readOnly ? kConnectOptions + QStringLiteral(";QSQLITE_OPEN_READONLY") : kConnectOptions);
    m_open = m_db.open();
    if (m_open) {
        // SQLite opens any file lazily; the first real statement tells whether it is a database.
        QSqlQuery probe(m_db);
        m_open = probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        if (!m_open)
            noteOpenFailure(probe.lastError());
    } else {
        noteOpenFailure(m_db.lastError());
    }
    if (!m_open) {
        qCDebug(lcStorage) << "cannot open" << m_fileName << ":" << m_lastError;
        m_db.close();
    }
}

SqlRunner::~SqlRunner()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

void SqlRunner::setStop(const std::atomic_bool* stop)
{
    const QVariant handle = m_db.driver()->handle();
    if (!m_open || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return;
    sqlite3* db = *static_cast<sqlite3* const*>(handle.constData());
    constexpr int StepsBetweenChecks = 10000;
    sqlite3_progress_handler(
        db, StepsBetweenChecks,
        [](void* flag) { return static_cast<const std::atomic_bool*>(flag)->load(std::memory_order_relaxed) ? 1 : 0; },
        const_cast<std::atomic_bool*>(stop));
}

void SqlRunner::noteOpenFailure(const QSqlError& error)
{
    fail(error);
    m_openFailure = (error.databaseText().isEmpty() ? error.text() : error.databaseText()).simplified();
}

void SqlRunner::refuse(const QString& reason)
{
    qCWarning(lcStorage) << "not opening" << m_fileName << ":" << reason;
    m_open = false;
    m_openFailure = reason;
    m_lastError = tr("%1: %2").arg(QFileInfo(m_fileName).fileName(), reason);
    m_db.close();
}

bool SqlRunner::ensureOpen()
{
    if (m_open)
        return true;
    m_lastError = tr("%1 is not open").arg(QFileInfo(m_fileName).fileName());
    return false;
}

QSqlQuery SqlRunner::query() const
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    return query;
}

bool SqlRunner::prepare(QSqlQuery& query, const QString& statement)
{
    return query.prepare(statement) || fail(query.lastError());
}

bool SqlRunner::run(QSqlQuery& query)
{
    return query.exec() || fail(query.lastError());
}

bool SqlRunner::select(QSqlQuery& query, const QString& statement, const QVariantList& values)
{
    if (!ensureOpen() || !prepare(query, statement))
        return false;
    for (const QVariant& value : values)
        query.addBindValue(value);
    return run(query);
}

bool SqlRunner::exec(const QString& statement, const QVariantList& values)
{
    QSqlQuery statementQuery(m_db);
    return select(statementQuery, statement, values);
}

bool SqlRunner::inTransaction(const std::function<bool()>& body)
{
    Transaction transaction(*this);
    return transaction.active() && body() && transaction.commit();
}

SqlRunner::Transaction::Transaction(SqlRunner& runner) : m_runner(runner)
{
    if (!runner.ensureOpen())
        return;
    QSqlQuery begin(runner.m_db);
    m_active = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
    if (!m_active)
        runner.fail(begin.lastError());
}

SqlRunner::Transaction::~Transaction()
{
    if (m_active)
        m_runner.m_db.rollback();
}

bool SqlRunner::Transaction::commit()
{
    if (!m_runner.m_db.commit())
        return m_runner.fail(m_runner.m_db.lastError());
    m_active = false;
    return m_runner.succeed();
}

bool SqlRunner::fail(const QSqlError& error)
{
    m_lastError = describe(error);
    qCDebug(lcStorage) << "storage statement failed:" << error.text();
    return false;
}

bool SqlRunner::fail(const QString& message)
{
    m_lastError = message;
    return false;
}

bool SqlRunner::succeed()
{
    m_lastError.clear();
    return true;
}

QString SqlRunner::describe(const QSqlError& error) const
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

SqlRunner::Rows::Rows(SqlRunner& runner, const QString& statement, const QVariantList& values) : m_runner(runner)
{
    if (!runner.ensureOpen())
        return;
    // Qt's SQLite driver hands out its connection as a pointer to the sqlite3 handle.
    const QVariant handle = runner.m_db.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0 || !(m_db = *static_cast<sqlite3* const*>(handle.constData()))) {
        runner.fail(tr("%1 is not open").arg(QFileInfo(runner.m_fileName).fileName()));
        return;
    }
    const QByteArray text = statement.toUtf8();
    if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &m_statement, nullptr) != SQLITE_OK) {
        fail();
        return;
    }
    m_columns = sqlite3_column_count(m_statement);
    // Bound as Qt's driver binds the same values.
    int at = 0;
    for (const QVariant& value : values) {
        ++at;
        int bound = SQLITE_OK;
        switch (value.isNull() ? QMetaType::UnknownType : value.typeId()) {
        case QMetaType::UnknownType:
            bound = sqlite3_bind_null(m_statement, at);
            break;
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::Bool:
            bound = sqlite3_bind_int64(m_statement, at, value.toLongLong());
            break;
        case QMetaType::Double:
            bound = sqlite3_bind_double(m_statement, at, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            bound = sqlite3_bind_blob(m_statement, at, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QString string = value.toString();
            bound = sqlite3_bind_text16(m_statement, at, string.utf16(), int(string.size() * sizeof(QChar)),
                                        SQLITE_TRANSIENT);
            break;
        }
        }
        if (bound != SQLITE_OK) {
            fail();
            return;
        }
    }
}

SqlRunner::Rows::~Rows()
{
    sqlite3_finalize(m_statement);
}

bool SqlRunner::Rows::fail()
{
    m_runner.fail(QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(m_db)), QSqlError::StatementError,
                            QString::number(sqlite3_errcode(m_db))));
    sqlite3_finalize(m_statement);
    m_statement = nullptr;
    m_columns = 0;
    return false;
}

bool SqlRunner::Rows::next()
{
    if (!m_statement || m_done)
        return false;
    const int stepped = sqlite3_step(m_statement);
    if (stepped == SQLITE_ROW)
        return true;
    if (stepped != SQLITE_DONE)
        return fail();
    m_done = true;
    return false;
}

int SqlRunner::Rows::column(const char* name) const
{
    for (int i = 0; i < m_columns; ++i) {
        if (qstrcmp(sqlite3_column_name(m_statement, i), name) == 0)
            return i;
    }
    return -1;
}

QVariant SqlRunner::Rows::value(int column) const
{
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(m_statement, column)),
                          sqlite3_column_bytes(m_statement, column));
    case SQLITE_INTEGER:
        return qint64(sqlite3_column_int64(m_statement, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_statement, column);
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>());
    default:
        return stored(column);
    }
}

QString SqlRunner::Rows::stored(int column) const
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column)),
                             sqlite3_column_bytes(m_statement, column));
}

QString SqlRunner::Rows::text(int column) const
{
    if (column < 0 || column >= m_columns)
        return QString();
    // A text is taken as it is stored; anything else as Qt's driver reads it.
    if (sqlite3_column_type(m_statement, column) == SQLITE_TEXT)
        return stored(column);
    return value(column).toString();
}

qint64 SqlRunner::Rows::number64(int column) const
{
    if (column < 0 || column >= m_columns)
        return 0;
    if (sqlite3_column_type(m_statement, column) == SQLITE_INTEGER)
        return sqlite3_column_int64(m_statement, column);
    return value(column).toLongLong();
}

int SqlRunner::Rows::number(int column) const
{
    if (column < 0 || column >= m_columns)
        return 0;
    if (sqlite3_column_type(m_statement, column) == SQLITE_INTEGER) {
        const qint64 integer = sqlite3_column_int64(m_statement, column);
        if (integer >= std::numeric_limits<int>::min() && integer <= std::numeric_limits<int>::max())
            return int(integer);
    }
    return value(column).toInt();
}
