// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>

#include <atomic>
#include <functional>

class QSqlQuery;
struct sqlite3;
struct sqlite3_stmt;

// The one connection to a task.db and the way every statement on it runs: prepared, bound, executed, and a
// failure put into words a user understands (lastError()). Every write goes through a Transaction.
class SqlRunner
{
    Q_DECLARE_TR_FUNCTIONS(TaskDatabase)

public:
    SqlRunner(const QString& fileName, bool readOnly);
    ~SqlRunner();
    SqlRunner(const SqlRunner&) = delete;
    SqlRunner& operator=(const SqlRunner&) = delete;

    bool isOpen() const { return m_open; }
    QString fileName() const { return m_fileName; }
    QString openFailure() const { return m_openFailure; }
    QString lastError() const { return m_lastError; }
    // Makes every statement fail ("interrupted") soon after *stop holds, checked every few thousand steps of
    // SQLite's engine; stop must outlive the runner. For work on another thread that must end when asked.
    void setStop(const std::atomic_bool* stop);
    // Closes the file for good: nothing is read or written after, and openFailure() says why.
    void refuse(const QString& reason);

    bool prepare(QSqlQuery& query, const QString& statement);
    bool run(QSqlQuery& query);
    // Prepares the statement, binds the values in order and runs it; the query is left on its rows.
    bool select(QSqlQuery& query, const QString& statement, const QVariantList& values = {});
    // One statement with its values, inside the caller's transaction.
    bool exec(const QString& statement, const QVariantList& values = {});
    // Runs body in one write transaction, committed when body returns true; false (and lastError()) when the
    // transaction could not start or commit, or body failed, and then nothing of it is kept.
    bool inTransaction(const std::function<bool()>& body);
    QSqlQuery query() const;

    // The rows of one statement, read through SQLite's own calls on the same connection: for tables read by the
    // thousand, where a variant per column would cost as much as the reading. Each value reads as Qt's driver
    // would give it and QVariant convert it.
    class Rows
    {
    public:
        Rows(SqlRunner& runner, const QString& statement, const QVariantList& values);
        ~Rows();
        Rows(const Rows&) = delete;
        Rows& operator=(const Rows&) = delete;
        // False (and the runner's lastError()) when the statement could not be prepared or bound.
        bool ready() const { return m_statement != nullptr; }
        // Steps to the next row; false at the end or on a failure, which done() tells apart.
        bool next();
        // True once every row was read; false (and the runner's lastError()) when reading failed.
        bool done() const { return m_done; }
        // The position of the named column among those the statement gives, -1 when it gives none of that name. A
        // column out of range reads as NULL.
        int column(const char* name) const;
        QString text(int column) const;
        int number(int column) const;
        qint64 number64(int column) const;

    private:
        QVariant value(int column) const;
        // The column's text as stored, in UTF-8.
        QString stored(int column) const;
        bool fail();

        SqlRunner& m_runner;
        sqlite3* m_db = nullptr;
        sqlite3_stmt* m_statement = nullptr;
        int m_columns = 0;
        bool m_done = false;
    };
    Rows rows(const QString& statement, const QVariantList& values = {}) { return Rows(*this, statement, values); }

    bool fail(const QSqlError& error);
    bool fail(const QString& message);
    bool succeed();

    // Runs the statements of one operation as a whole: rolled back unless commit() succeeds. It takes the
    // write lock at once, so what it reads stays true until it writes, whatever another connection does.
    class Transaction
    {
    public:
        explicit Transaction(SqlRunner& runner);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        // False (and the runner's lastError()) when the transaction could not start.
        bool active() const { return m_active; }
        // False (and the runner's lastError()) when the commit failed; everything is rolled back then.
        bool commit();

    private:
        SqlRunner& m_runner;
        bool m_active = false;
    };

private:
    // False (and lastError()) when the connection is not open.
    bool ensureOpen();
    void noteOpenFailure(const QSqlError& error);
    QString describe(const QSqlError& error) const;

    QString m_fileName;
    QString m_connectionName;
    QSqlDatabase m_db;
    bool m_open = false;
    QString m_openFailure;
    QString m_lastError;
};

// Qt binds a null QString as SQL NULL; the file holds empty texts as ''.
inline QString sqlText(const QString& text)
{
    return text.isNull() ? QStringLiteral("") : text;
}
