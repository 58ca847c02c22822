// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/seenlinkrows.h"

#include "storage/sqlrunner.h"

#include <QSqlQuery>
#include <QSqlRecord>

std::optional<QSet<QString>> SeenLinkRows::of(int taskId)
{
    QSqlQuery query = m_runner.query();
    if (!m_runner.select(query, QStringLiteral("SELECT link FROM seen_links WHERE taskid = ?"), {taskId}))
        return std::nullopt;
    const int link = query.record().indexOf(QStringLiteral("link"));
    QSet<QString> links;
    while (query.next())
        links.insert(query.value(link).toString());
    return links;
}

bool SeenLinkRows::write(const QList<TaskChange>& changes)
{
    QSqlQuery add = m_runner.query();
    QSqlQuery remove = m_runner.query();
    if (!m_runner.prepare(add, QStringLiteral("INSERT OR IGNORE INTO seen_links(taskid, link) VALUES(?, ?)")) ||
        !m_runner.prepare(remove, QStringLiteral("DELETE FROM seen_links WHERE taskid = ? AND link = ?")))
        return false;
    const auto apply = [this](QSqlQuery& query, int taskId, const QStringList& links) {
        for (const QString& link : links) {
            query.addBindValue(taskId);
            query.addBindValue(sqlText(link));
            if (!m_runner.run(query))
                return false;
        }
        return true;
    };
    for (const TaskChange& change : changes) {
        if (!apply(remove, change.taskId, change.seenRemoved) || !apply(add, change.taskId, change.seenAdded))
            return false;
    }
    return true;
}

bool SeenLinkRows::replace(int taskId, const QStringList& links)
{
    const std::optional<QSet<QString>> stored = of(taskId);
    if (!stored)
        return false;
    TaskChange change{taskId, {}, {}, {}};
    const QSet<QString> wanted(links.cbegin(), links.cend());
    for (const QString& link : links) {
        if (!stored->contains(link))
            change.seenAdded.append(link);
    }
    for (const QString& link : *stored) {
        if (!wanted.contains(link))
            change.seenRemoved.append(link);
    }
    return write({change});
}

bool SeenLinkRows::removeOf(int taskId)
{
    return m_runner.exec(QStringLiteral("DELETE FROM seen_links WHERE taskid = ?"), {taskId});
}

bool SeenLinkRows::removeAll()
{
    return m_runner.exec(QStringLiteral("DELETE FROM seen_links"));
}
