// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/announcement.h"

#include "engine/tools.h"

#include <QStringList>

QString Announcement::shortText(const QString& text, int maxLength)
{
    QString shown = Tools::displayText(text).simplified();
    if (shown.size() <= maxLength)
        return shown;
    // Cut at a word boundary when one lies in the last third, so no word is split where it can be helped.
    const int room = qMax(1, maxLength - 1);
    int cut = int(shown.lastIndexOf(u' ', room));
    if (cut < room * 2 / 3)
        cut = room;
    // A surrogate pair is never split.
    if (cut > 0 && shown.at(cut - 1).isHighSurrogate())
        --cut;
    return shown.left(cut).trimmed() + QChar(0x2026);
}

QString Announcement::quotedTexts(const Task::ResultList& results, int count)
{
    QStringList quoted;
    for (int i = 0; i < results.size() && i < count; ++i) {
        const QString text = shortText(results.at(i)->text);
        // A text that shows nothing (markup only) is named by its link.
        quoted << QStringLiteral("\u201c%1\u201d").arg(text.isEmpty() ? shortText(results.at(i)->link) : text);
    }
    QString line = quoted.join(QStringLiteral(", "));
    if (results.size() > count)
        line += tr(" and %1 more").arg(results.size() - count);
    return line;
}

QString Announcement::earlierLine(int earlier)
{
    return earlier > 0 ? QLatin1Char('\n') + tr("and %1 earlier unread").arg(earlier) : QString();
}

QString Announcement::periodicText(const QString& taskName, const Task::ResultList& results, int earlier)
{
    QString text = tr("There are new results now.");
    if (results.isEmpty())
        return text;
    text += QLatin1Char('\n') + tr("%1: %2").arg(shortText(taskName), quotedTexts(results, MaxTexts));
    return text + earlierLine(earlier);
}

QString Announcement::updateAllText(const QList<TaskNews>& news, int earlier)
{
    QString text = tr("There are new results for tasks now.");
    int named = 0;
    int withNews = 0;
    for (const TaskNews& entry : news) {
        if (entry.results.isEmpty())
            continue;
        ++withNews;
        if (named == MaxTasks)
            continue;
        ++named;
        text += QLatin1Char('\n') + tr("%1 (%2 new): %3")
                                        .arg(shortText(entry.name))
                                        .arg(entry.results.size())
                                        .arg(quotedTexts(entry.results, TextsPerTask));
    }
    if (withNews > named)
        text += QLatin1Char('\n') + tr("and %1 more tasks").arg(withNews - named);
    return text + earlierLine(earlier);
}

QString Announcement::unreadSummary(const QList<Task*>& tasks)
{
    int unread = 0;
    int holding = 0;
    for (const Task* task : tasks) {
        const int count = task->unreadCount();
        if (count == Task::UncountedResults)
            return tr("Vantrel Monitor: counting unread results\u2026");
        unread += count;
        holding += count > 0 ? 1 : 0;
    }
    if (unread == 0)
        return tr("Vantrel Monitor: no unread results");
    if (unread == 1)
        return tr("Vantrel Monitor: 1 unread result in 1 task");
    if (holding == 1)
        return tr("Vantrel Monitor: %1 unread results in 1 task").arg(unread);
    return tr("Vantrel Monitor: %1 unread results in %2 tasks").arg(unread).arg(holding);
}

QString Announcement::needsLookText(const QString& taskName, const QString& reason)
{
    return tr("Task %1 needs a look: %2").arg(shortText(taskName), reason);
}
