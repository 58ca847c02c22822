// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/taskhealth.h"

#include "core/checkstate.h"
#include "core/watchlist.h"
#include "engine/definition/task.h"
#include "engine/fetching/fetchrequest.h"

#include <QLocale>

#include <array>
#include <utility>

namespace {
// The causes by their names in task.db.
constexpr std::array<std::pair<TaskHealth::Cause, const char*>, 5> CauseNames{{
    {TaskHealth::Cause::Failing, "failing"},
    {TaskHealth::Cause::NoLinks, "no_links"},
    {TaskHealth::Cause::RegionGone, "region"},
    {TaskHealth::Cause::NotAPage, "not_page"},
    {TaskHealth::Cause::LinksCut, "links_cut"},
}};

QString nameOf(TaskHealth::Cause cause)
{
    for (const auto& [known, name] : CauseNames) {
        if (known == cause)
            return QLatin1String(name);
    }
    return {};
}

// A count read from task.db, which may hold anything.
int countOf(const QString& text)
{
    bool ok = false;
    const int count = text.toInt(&ok);
    return ok ? qBound(0, count, 1000000) : 0;
}
} // namespace

TaskHealth::TaskHealth(WatchList& watches, CheckStates& states) : m_watches(watches), m_states(states) {}

const QStringList& TaskHealth::stateOptions()
{
    static const QStringList names{QLatin1String(CauseOption), QLatin1String(DetailOption),
                                   QLatin1String(EmptyChecksOption), QLatin1String(GaveLinksOption)};
    return names;
}

bool TaskHealth::isPageType(const QByteArray& contentType)
{
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    // HTML and every XML type (XHTML, RSS, Atom and XML that a feed's server labels loosely).
    return type.isEmpty() || type == "text/html" || type.endsWith("/xml") || type.endsWith("+xml");
}

TaskHealth::Cause TaskHealth::cause(const Task* task) const
{
    const QString name = task->options().value(QLatin1String(CauseOption));
    for (const auto& [known, text] : CauseNames) {
        if (name == QLatin1String(text))
            return known;
    }
    return Cause::None;
}

QString TaskHealth::reason(const Task* task) const
{
    const QHash<QString, QString> options = task->options();
    const int empty = countOf(options.value(QLatin1String(EmptyChecksOption)));
    const QString checks = empty <= 1 ? tr("at the last check") : tr("at the last %1 checks").arg(empty);
    switch (cause(task)) {
    case Cause::None:
        return {};
    case Cause::Failing: {
        const QString why = m_states.checkFailure(task);
        return tr("the last %1 checks failed (%2)")
            .arg(m_states.failuresInRow(task))
            .arg(why.isEmpty() ? tr("no answer") : why);
    }
    case Cause::NoLinks:
        return tr("the page held no link with \"%1\" %2: it may have changed its layout").arg(task->keyword(), checks);
    case Cause::RegionGone:
        return tr("the region \"%1\" matched nothing on the page %2: it may have changed its layout")
            .arg(task->region(), checks);
    case Cause::NotAPage:
        return tr("the address answers with %1, not a web page or feed: no links can be read from it")
            .arg(options.value(QLatin1String(DetailOption)).left(100));
    case Cause::LinksCut:
        return tr("the page holds more than %1 links with \"%2\" and only the first %1 are read: a region or "
                  "excluded words would narrow them")
            .arg(QLocale().toString(Task::MaxLinksPerPage), task->keyword());
    }
    return {};
}

void TaskHealth::store(Task* task, const char* option, const QString& value)
{
    const QString name = QLatin1String(option);
    if (task->options().value(name) == value)
        return;
    // Kept in memory even when task.db refuses it: this run still shows the mark and announces it once. Written
    // with the run's failure marks: a transaction of its own for each of 100,000 failing tasks held the window.
    m_states.storeMark(task, name, value);
    task->setOption(name, value);
}

void TaskHealth::noteCheck(Task* task, const FetchedPage& page)
{
    const bool firstCheck = m_creating;
    const Cause before = cause(task);
    Cause now = before;
    int empty = countOf(task->options().value(QLatin1String(EmptyChecksOption)));
    QString detail = task->options().value(QLatin1String(DetailOption));
    if (!page.ok) {
        // A failed check says nothing of the page's layout: a cause found before stays until a page is read.
        if (m_states.failuresInRow(task) >= m_checksInRow)
            now = Cause::Failing;
    } else if (page.notModified) {
        // The page answers again, and is as it was when last read: one that held no keyword link still holds none.
        if (before == Cause::Failing)
            now = Cause::None;
        if (empty > 0) {
            ++empty;
            const bool gaveLinks = task->options().contains(QLatin1String(GaveLinksOption));
            if (now == Cause::None && empty >= m_checksInRow && (task->regionMatchedNothing() || gaveLinks))
                now = task->regionMatchedNothing() ? Cause::RegionGone : Cause::NoLinks;
        }
    } else {
        const qsizetype links = task->linksOfPage(page).size();
        const bool regionMissed = task->regionMatchedNothing();
        empty = links == 0 ? empty + 1 : 0;
        if (links > 0)
            store(task, GaveLinksOption, QStringLiteral("1"));
        const bool gaveLinks = task->options().contains(QLatin1String(GaveLinksOption)) || !task->results().isEmpty();
        detail.clear();
        if (!page.feed && !isPageType(page.contentType)) {
            now = Cause::NotAPage;
            detail = QString::fromLatin1(page.contentType.split(';').first().trimmed()).simplified();
        } else if (links >= Task::MaxLinksPerPage) {
            now = Cause::LinksCut;
        } else if (links == 0 && regionMissed && (firstCheck || empty >= m_checksInRow)) {
            now = Cause::RegionGone;
        } else if (links == 0 && !regionMissed && gaveLinks && empty >= m_checksInRow) {
            now = Cause::NoLinks;
        } else {
            now = Cause::None;
        }
    }
    store(task, EmptyChecksOption, empty > 0 ? QString::number(empty) : QString());
    store(task, DetailOption, detail);
    store(task, CauseOption, nameOf(now));
    if (now == before)
        return;
    m_watches.reportCheckState(task);
    if (before == Cause::None && !firstCheck && !task->isMuted())
        emit lookNeeded(task, reason(task));
}

void TaskHealth::forget(Task* task)
{
    const bool marked = needsLook(task);
    for (const QString& option : stateOptions()) {
        if (task->options().contains(option)) {
            m_watches.storeOption(task, option, QString());
            task->setOption(option, QString());
        }
    }
    if (marked)
        m_watches.reportCheckState(task);
}
