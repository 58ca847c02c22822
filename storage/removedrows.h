// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class SqlRunner;

// The rows a removal took out of task.db, table by table and column by column as they were stored (their row
// ids too), so that putting them back leaves the file as it was before the removal.
class RemovedRows
{
public:
    bool isEmpty() const { return m_tables.isEmpty(); }
    // The number of rows taken from the table.
    int count(const QString& table) const;
    // The values of one column of the rows taken from the table, in the order they were stored.
    QVariantList column(const QString& table, const QString& name) const;

    // Inside the caller's transaction, before the rows go: adds the table's rows that match the condition (an SQL
    // expression over the table's columns, with its values). A table the file lacks has nothing to take. A row is
    // not put back where a row with the same values in the columns of sameWhen is there again.
    bool take(SqlRunner& runner, const QString& table, const QString& condition = QStringLiteral("1"),
              const QVariantList& values = {}, const QStringList& sameWhen = {});
    // Inside the caller's transaction: every row is inserted again, in the order taken; a row whose key is
    // there again (one the program writes itself on an insert) is replaced by the one taken.
    bool restore(SqlRunner& runner) const;

private:
    struct Table
    {
        QString name;
        QStringList columns;
        QStringList sameWhen;
        QVariantList values; // row after row, columns.size() values each
    };
    QList<Table> m_tables;
};
