// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QString>

struct FetchedPage;
class CheckStates;
class Task;
class WatchList;

// Whether a task needs the user's look: its checks keep failing, a page that gave keyword links gives none any
// more (or its region matches nothing), the answer is no page or feed at all, or its links were cut at the
// bound of a page. Judged after every check of any kind; the cause is kept in the task's options, so a restart
// neither forgets the mark nor announces it again. lookNeeded() is emitted once when a task turns to needing a
// look, and again only after it recovered and broke anew.
class TaskHealth : public QObject
{
    Q_OBJECT

public:
    enum class Cause
    {
        None,
        Failing,    // its checks failed one after another
        NoLinks,    // a page that gave keyword links gives none
        RegionGone, // the region selects nothing on the page
        NotAPage,   // the answer is no web page or feed by its content type
        LinksCut    // the page holds more keyword links than a page is read for
    };
    // The task options that keep the state across restarts.
    static constexpr const char* CauseOption = "look_cause";
    static constexpr const char* DetailOption = "look_detail";            // the content type of a NotAPage answer
    static constexpr const char* EmptyChecksOption = "look_empty_checks"; // pages read in a row without links
    static constexpr const char* GaveLinksOption = "look_gave_links";     // "1": a check once gave keyword links
    static constexpr int DefaultChecksInRow = 3;
    static constexpr int MaxChecksInRow = 100;

    TaskHealth(WatchList& watches, CheckStates& states);

    // The checks in a row, failed or without keyword links, after which a task needs a look.
    void setChecksInRow(int checks) { m_checksInRow = qBound(1, checks, MaxChecksInRow); }
    int checksInRow() const { return m_checksInRow; }

    // A check of the task ended with this page (its failure already noted). While creating() holds, the page is
    // that of a task being created, which is judged at once (a region that selects nothing is not waited for)
    // and not announced, as the command that creates it says it.
    void noteCheck(Task* task, const FetchedPage& page);
    void setCreating(bool on) { m_creating = on; }
    // The task's address, keyword or region changed: nothing seen of the old page counts.
    void forget(Task* task);

    Cause cause(const Task* task) const;
    bool needsLook(const Task* task) const { return cause(task) != Cause::None; }
    // Why the task needs a look, in words; empty when it does not.
    QString reason(const Task* task) const;
    // Whether the content type names a web page or a feed (or names nothing, as some servers send).
    static bool isPageType(const QByteArray& contentType);
    // The options kept by this class, which belong to this computer's checks and not to a task's definition.
    static const QStringList& stateOptions();

signals:
    void lookNeeded(Task* task, const QString& reason);

private:
    void store(Task* task, const char* option, const QString& value);

    WatchList& m_watches;
    CheckStates& m_states;
    int m_checksInRow = DefaultChecksInRow;
    bool m_creating = false;
};
