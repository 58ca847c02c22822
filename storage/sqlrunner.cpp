// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/sqlrunner.h"

#include "storage/logging.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlQuery>

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
