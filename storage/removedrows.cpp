// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/removedrows.h"

#include "storage/sqlrunner.h"

#include <QSqlQuery>
#include <QSqlRecord>

int RemovedRows::count(const QString& table) const
{
    int rows = 0;
    for (const Table& taken : m_tables) {
        if (taken.name == table && !taken.columns.isEmpty())
            rows += int(taken.values.size() / taken.columns.size());
    }
    return rows;
}

QVariantList RemovedRows::column(const QString& table, const QString& name) const
{
    QVariantList values;
    for (const Table& taken : m_tables) {
        const qsizetype at = taken.columns.indexOf(name);
        if (taken.name != table || at < 0)
            continue;
        for (qsizetype row = at; row < taken.values.size(); row += taken.columns.size())
            values.append(taken.values.at(row));
    }
    return values;
}

bool RemovedRows::take(SqlRunner& runner, const QString& table, const QString& condition, const QVariantList& values,
                       const QStringList& sameWhen)
{
    QSqlQuery exists = runner.query();
    if (!runner.select(exists, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"),
                       {table}))
        return false;
    if (!exists.next())
        return true;
    // A table without a column of its own for the row id (an INTEGER PRIMARY KEY) gets its row ids taken as well,
    // so the rows come back in their place. The table's name is the program's own, never the user's.
    QSqlQuery columns = runner.query();
    if (!runner.select(columns, QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        return false;
    int keys = 0;
    bool integerKey = false;
    while (columns.next()) {
        if (columns.value(QStringLiteral("pk")).toInt() > 0) {
            ++keys;
            integerKey = columns.value(QStringLiteral("type"))
                             .toString()
                             .compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0;
        }
    }
    const QString rowId = keys == 1 && integerKey ? QString() : QStringLiteral("rowid AS rowid, ");
    QSqlQuery query = runner.query();
    if (!runner.select(query, QStringLiteral("SELECT %1* FROM %2 WHERE %3").arg(rowId, table, condition), values))
        return false;
    Table taken{table, {}, sameWhen, {}};
    const QSqlRecord record = query.record();
    for (int i = 0; i < record.count(); ++i)
        taken.columns.append(record.fieldName(i));
    while (query.next()) {
        for (int i = 0; i < record.count(); ++i)
            taken.values.append(query.value(i));
    }
    if (taken.values.isEmpty())
        return true;
    // Rows taken from one table by many calls are put back by one statement.
    for (Table& earlier : m_tables) {
        if (earlier.name == table && earlier.columns == taken.columns && earlier.sameWhen == sameWhen) {
            earlier.values += taken.values;
            return true;
        }
    }
    m_tables.append(std::move(taken));
    return true;
}

bool RemovedRows::restore(SqlRunner& runner) const
{
    for (const Table& taken : m_tables) {
        QSqlQuery insert = runner.query();
        const QString marks = QStringList(taken.columns.size(), QStringLiteral("?")).join(QStringLiteral(", "));
        QString statement = QStringLiteral("INSERT OR REPLACE INTO %1(%2) SELECT %3")
                                .arg(taken.name, taken.columns.join(QStringLiteral(", ")), marks);
        QList<qsizetype> compared;
        QStringList same;
        for (const QString& column : taken.sameWhen) {
            compared.append(taken.columns.indexOf(column));
            same.append(column + QStringLiteral(" IS ?"));
        }
        if (!same.isEmpty())
            statement += QStringLiteral(" WHERE NOT EXISTS (SELECT 1 FROM %1 WHERE %2)")
                             .arg(taken.name, same.join(QStringLiteral(" AND ")));
        if (!runner.prepare(insert, statement))
            return false;
        for (qsizetype row = 0; row < taken.values.size(); row += taken.columns.size()) {
            for (qsizetype i = 0; i < taken.columns.size(); ++i)
                insert.addBindValue(taken.values.at(row + i));
            for (const qsizetype i : std::as_const(compared))
                insert.addBindValue(i < 0 ? QVariant() : taken.values.at(row + i));
            if (!runner.run(insert))
                return false;
        }
    }
    return true;
}
