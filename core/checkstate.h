// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/clock.h"
#include "engine/definition/checkhours.h"
#include "engine/definition/task.h"
#include "storage/optionwriter.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

struct FetchedPage;
struct TaskChange;
class WatchList;

// Why a download failed, in a few words: "HTTP 404", or what the network layer said.
QString failureReason(const FetchedPage& page);

// What the checks know of each task at run time beside the task itself: the failure record and the back-off
// it gives, the links seen by checks not yet taken over, the findings task.db has not taken yet, and whether a
// background check waits for the task's page. Follows the watch list, so a removed task leaves no record.
class CheckStates : public QObject
{
    Q_OBJECT

public:
    using PageFailure = CheckMemory::Failure;
    // The task options that keep a failing task's mark across restarts: the reason and the failures in a row.
    static constexpr const char* FailureOption = "check_failure";
    static constexpr const char* FailuresInRowOption = "check_failures_in_row";
    // The longest wait between the periodic checks of a failing task, unless its frequency is longer.
    static constexpr qint64 MaxBackoffSeconds = 3600;

    explicit CheckStates(WatchList& watches);
    ~CheckStates() override;

    // Not owned; the system clock when none is set.
    void setClock(const Clock* clock) { m_clock = clock; }
    const Clock& clock() const { return m_clock ? *m_clock : m_systemClock; }
    QDateTime now() const { return clock().now(); }
    // The date new results carry: the local date of now().
    QDate today() const { return now().toLocalTime().date(); }

    // Why the task's last check failed; empty when it succeeded (or never ran).
    QString checkFailure(const Task* task) const;
    // How many of the task's checks failed one after another (0 after a success).
    int failuresInRow(const Task* task) const;
    // The seconds between the task's periodic checks: its frequency, doubled for each failure in a row up
    // to MaxBackoffSeconds or the frequency, whichever is larger.
    qint64 checkInterval(const Task* task) const;
    // The hours the periodic checks keep to, unless a task names its own.
    void setHours(const CheckHours& hours) { m_hours = hours; }
    CheckHours hoursOf(const Task* task) const;
    // How far a task that varies its checks moves the check after `last`: up to a tenth of the interval, at most
    // MaxVariationSeconds, either way; the same for the same task and last check, so every run agrees.
    static constexpr qint64 MaxVariationSeconds = 300;
    static qint64 variation(int taskId, const QDateTime& last, qint64 interval);
    // The moment the task falls due next: its check interval after its last check (varied when the task asks),
    // moved on to the next moment within its hours, and never before the hours begin again for a moment now
    // outside them. An unreadable last-update time counts as due, one later than now counts as now.
    QDateTime dueTime(const Task* task, const QDateTime& now) const;
    // Whether dueTime(task, now) has come; nowMs is now in milliseconds since the epoch. A task whose interval
    // has not passed is told apart without local-time arithmetic: the hours only ever put a check later.
    bool isDue(const Task* task, const QDateTime& now, qint64 nowMs) const;
    QDateTime dueTime(const Task* task) const { return dueTime(task, now()); }
    // Whether findings of any task are waiting to be stored, and why the latest of them could not be.
    bool hasUnstored() const;
    QString unstoredFailure() const { return m_unstoredFailure; }
    // Whether findings of the task (new results or seen links) wait for its take-over.
    bool hasFindings(const Task* task) const;

    bool reportNewLinks() const { return m_reportNewLinks; }
    // See TaskChecker::setReportNewLinks; false when task.db refused (its lastError() says why).
    bool setReportNewLinks(bool on, bool afresh);
    // The task turned to reporting new links: what it saw before is forgotten, so its next check records the page
    // without reporting it, as turning the option on does for every task. False when task.db refused (its lastError()
    // says why).
    bool seeAfresh(Task* task);
    // Whether the task reports links that newly appear: as it says, else as the options say.
    bool reportsNewLinks(const Task* task) const { return task->reportsNewLinks().value_or(m_reportNewLinks); }
    // Whether a check of this page records its keyword links as seen: with new links reported, and for every
    // feed (its new items are what it is watched for).
    bool recordsSeen(const Task* task, const FetchedPage& page) const
    {
        return page.ok && (page.feed || reportsNewLinks(task));
    }

    // A page of the task was fetched: keeps its failure (or its absence) and tells the views of a change.
    void noteFetch(Task* task, const FetchedPage& page);
    // Called by noteFetch with every page once its failure is kept, so what judges a task's checks sees them all.
    using FetchObserver = std::function<void(Task*, const FetchedPage&)>;
    void setFetchObserver(FetchObserver observer) { m_fetchObserver = std::move(observer); }
    // Compares the page's keyword links with those seen before and keeps the difference until the take-over.
    void noteSeen(Task* task, const FetchedPage& page);
    // The arrival of a page of the task, for the periodic checks and update-all alike: the fetch is noted, and a
    // page read whole (not "not modified") has its seen links noted and is compared with the task's results
    // (Task::takeUpdatePage, read first when not held). Nothing is stored yet.
    struct Comparison
    {
        bool compared = false; // the page was read whole and compared
        bool hasNew = false;   // it shows links the results lack, and the first check after a change was not it
        QString failure;       // the stored results could not be read: the page stays uncompared
    };
    Comparison comparePage(Task* task, const FetchedPage& page);
    // Collects what the take-over stores: the findings kept, then found, then newly appeared links, without
    // those the task holds already.
    Task::ResultList takeOver(Task* task, const Task::ResultList& found, TaskChange* change);
    // Stores one take-over; what task.db did not take is kept for the next (unstoredFailure() says why).
    bool storeTakeOver(Task* task, const TaskChange& change);
    // The take-over of a change was stored elsewhere (or could not be): what it held is no longer kept / kept.
    void taken(Task* task, const TaskChange& change);
    void keepUnstored(Task* task, const Task::ResultList& results, const QString& why);
    // Keeps the validators of a page read whole in the task's options and task.db.
    void rememberValidators(Task* task, const FetchedPage& page);

    // While a Batch lives, the failure marks and validators kept in task.db are gathered and written when it
    // ends, all in one transaction beside the window (an OptionWriter), so a run over many tasks costs one write
    // and one sync, and the window none. The task's options take them once task.db has them, as when each is
    // written at once; marks made while a batch is being written follow it.
    // From how many marks a batch is written beside the window rather than on it (tests lower it).
    static constexpr int WriteAsideFrom = 200;
    void setWriteAsideFrom(int marks) { m_writeAsideFrom = qMax(1, marks); }
    // Another mark of the task (the task list's "needs a look" marks) written as the failure marks are: with the
    // run's other marks while a Batch lives, else at once.
    void storeMark(Task* task, const QString& name, const QString& value) { storeOption(task, name, value, false); }
    // Whether marks are being written beside the window.
    bool writingMarks() const { return (m_writer && m_writer->pending()) || m_handOverQueued; }
    // How many gathered marks are handed to the writer in one turn of the event loop (tests lower it).
    static constexpr int MarksPerTurn = 1000;
    void setMarksPerTurn(int marks) { m_marksPerTurn = qMax(1, marks); }

    class Batch
    {
    public:
        explicit Batch(CheckStates& states) : m_states(states) { ++m_states.m_batches; }
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        CheckStates& m_states;
    };

    // A background check of the task starts; false when one waits for its page already.
    bool startChecking(const Task* task);
    void checkDone(const Task* task);
    // Every download was aborted: no background check waits any more.
    void stopChecking();
    // Edits so far, so a page asked for before an edit is dropped.
    int edition(const Task* task) const;
    // Whether the page's first check after a change of address or keyword only records; clears it.
    bool takeAfresh(const Task* task);
    // The task's address or keyword changed: what was seen of the old page is forgotten with its failure.
    void pageChanged(Task* task);
    // The task's results were rebuilt from its page: nothing kept of earlier checks is stored any more.
    void resultsRebuilt(const Task* task);

    // The links a task's results count as seen, with the mark of a checked page.
    static QStringList seenLinksOf(const Task::ResultList& results);
    // A page's validators without its body.
    static FetchedPage validatorsOf(const FetchedPage& page);

signals:
    // Marks written beside the window reached task.db (or failed to); the tasks' options hold them now.
    void marksWritten();

private:
    using PendingSeen = CheckMemory::PendingSeen;
    using TaskState = CheckMemory;
    // The most links of items that left a feed kept as seen, so they are not reported when they come back.
    static constexpr int MaxDepartedFeedLinks = 5000;

    // What the checks know of the task, kept by the task itself.
    static TaskState& stateOf(const Task* task) { return const_cast<Task*>(task)->checkMemory(); }
    // Keeps the task's failure (or its absence) in its options and task.db, for the next start.
    void storeFailure(Task* task);
    // Takes the failure a previous run kept in the task's options.
    void restoreFailure(Task* task);
    // The option as task.db has it or will have it once the marks gathered are written.
    QString storedOption(const Task* task, const QString& name) const;
    // Writes (or, while a Batch lives, gathers) one option of the task; a validator task.db did not take is
    // cleared from the task, so its next check asks for the whole page.
    void storeOption(Task* task, const QString& name, const QString& value, bool validator);
    void writeGathered();

    WatchList& m_watches;
    const Clock* m_clock = nullptr;
    Clock m_systemClock;
    bool m_reportNewLinks = false;
    QString m_unstoredFailure;
    struct Gathered
    {
        Task* task = nullptr; // a task of the watch list: its marks go when it does
        QString value;
        bool validator = false;
    };
    int m_batches = 0;
    int m_writeAsideFrom = WriteAsideFrom;
    int m_marksPerTurn = MarksPerTurn;
    bool m_handOverQueued = false;                       // a turn that hands over more gathered marks is queued
    QHash<std::pair<int, QString>, Gathered> m_gathered; // by task id and option name
    QHash<std::pair<int, QString>, Gathered> m_writing;  // handed to m_writer, not written yet
    // Writes the gathered marks beside the window; made at the first batch. Last, so it goes first: no outcome
    // is delivered once this object is being destroyed.
    std::unique_ptr<OptionWriter> m_writer;
    FetchObserver m_fetchObserver;
    CheckHours m_hours;
};
