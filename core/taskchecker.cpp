// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/taskchecker.h"

#include "core/logging.h"
#include "storage/taskdatabase.h"

#include <QEventLoop>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {
constexpr int WakeCode = 1; // how wake() ends a wait's event loop

QString resultKey(const Task::TaskResult& result)
{
    return result.link + QChar(0) + result.text;
}

// Recorded with the seen links of every check, so a page that showed no keyword link still counts as checked
// and the first keyword link that appears on it is reported. No formed link is empty.
QString checkedMark()
{
    return QStringLiteral("");
}

// Built afresh rather than by subtracting from a copy: a set keeps the room of every element it ever held,
// and these wait, one per task, until the take-over.
QSet<QString> difference(const QSet<QString>& from, const QSet<QString>& without)
{
    QSet<QString> out;
    for (const QString& element : from) {
        if (!without.contains(element))
            out.insert(element);
    }
    return out;
}

QStringList seenLinksOf(const Task::ResultList& results)
{
    QStringList seen{checkedMark()};
    for (const Task::ResultPtr& result : results)
        seen.append(result->link);
    return seen;
}
} // namespace

namespace {
// A page's validators without its body, kept until its findings are stored.
// A failed page as the task's failure keeps it: its reason, not its bytes.
FetchedPage withoutBody(const FetchedPage& page)
{
    FetchedPage kept = page;
    kept.body.clear();
    return kept;
}

FetchedPage validatorsOf(const FetchedPage& page)
{
    FetchedPage validators;
    validators.ok = page.ok;
    validators.notModified = page.notModified;
    validators.etag = page.etag;
    validators.lastModified = page.lastModified;
    return validators;
}
} // namespace

QString failureReason(const FetchedPage& page)
{
    // A host that asked to be left alone: the reason carries the time of the next try.
    if (page.retryAt.isValid())
        return page.error;
    if (page.status >= 300)
        return QStringLiteral("HTTP %1").arg(page.status);
    return page.error.isEmpty() ? QStringLiteral("no answer") : page.error;
}

TaskChecker::TaskChecker(TaskDatabase& db, QObject* parent) : QObject(parent), m_db(db) {}

TaskChecker::~TaskChecker()
{
    // No download or render may call back into a task that is gone.
    m_source.abortAll();
    qDeleteAll(m_tasks);
}

void TaskChecker::setClock(const Clock* clock)
{
    m_clock = clock;
    // Hosts that asked to be left alone are timed by the same clock.
    m_fetcher.setClock([this] { return now(); });
}

QDateTime TaskChecker::now() const
{
    return (m_clock ? m_clock : &m_systemClock)->now();
}

bool TaskChecker::contains(const Task* task) const
{
    return task && m_tasks.contains(task);
}

const TaskChecker::TaskState* TaskChecker::state(const Task* task) const
{
    const auto it = m_states.constFind(task);
    return it == m_states.constEnd() ? nullptr : &*it;
}

bool TaskChecker::hasPendingSeen(const Task* task) const
{
    const TaskState* kept = state(task);
    return kept && kept->seen;
}

QString TaskChecker::checkFailure(const Task* task) const
{
    const TaskState* kept = state(task);
    return kept && kept->failure ? kept->failure->reason : QString();
}

int TaskChecker::failuresInRow(const Task* task) const
{
    const TaskState* kept = state(task);
    return kept && kept->failure ? kept->failure->inRow : 0;
}

bool TaskChecker::hasUnstored() const
{
    for (const TaskState& kept : m_states) {
        if (!kept.unstored.isEmpty())
            return true;
    }
    return false;
}

void TaskChecker::loadTasks()
{
    // A row may have been written by anything: it is shown and requested only when it passes the check
    // the dialog makes. Its frequency and options are used as stored (see TaskDefinition::Part).
    int refused = 0;
    for (Task* task : m_db.loadTasks()) {
        // Judged as the dialog judges what is typed: a name or keyword of spaces is empty.
        const TaskDefinition::Problem problem = TaskDefinition::of(*task).normalised().check(0);
        if (!problem) {
            restoreFailure(task);
            m_tasks.append(task);
            continue;
        }
        if (refused++ == 0)
            m_loadRefusal = problem.text();
        qCWarning(lcCore).noquote() << "stored task" << task->rowId() << "not loaded:" << problem.text();
        delete task;
    }
    if (refused > 0)
        m_loadRefusal =
            refused == 1
                ? tr("1 stored task not loaded because of its %1").arg(m_loadRefusal)
                : tr("%1 stored tasks not loaded, the first because of its %2").arg(refused).arg(m_loadRefusal);
    emit tasksLoaded();
}

void TaskChecker::restoreFailure(Task* task)
{
    // Rows of task.db may hold anything: a reason is shown on one line of bounded length, a count is a
    // positive number.
    constexpr int MaxReasonLength = 200;
    constexpr int MaxInRow = 1000000;
    const QString reason = task->options().value(QLatin1String(FailureOption)).simplified().left(MaxReasonLength);
    bool counted = false;
    const int inRow = task->options().value(QLatin1String(FailuresInRowOption)).toInt(&counted);
    if (reason.isEmpty())
        return;
    stateOf(task).failure = PageFailure{reason, counted ? qBound(1, inRow, MaxInRow) : 1};
}

void TaskChecker::storeFailure(Task* task)
{
    const TaskState* kept = state(task);
    const bool failing = kept && kept->failure;
    const QString reason = failing ? kept->failure->reason : QString();
    const QString inRow = failing ? QString::number(kept->failure->inRow) : QString();
    for (const auto& [name, value] :
         {std::pair{QLatin1String(FailureOption), reason}, std::pair{QLatin1String(FailuresInRowOption), inRow}}) {
        if (task->options().value(name) == value)
            continue;
        // A mark task.db did not take is still shown in this run.
        if (m_db.setTaskOption(task->taskId(), name, value))
            task->setOption(name, value);
    }
}

bool TaskChecker::start(bool deleteOld, int days, bool reportNewLinks)
{
    // Old results go before the tasks are read, so they are never shown.
    const bool deleted = !deleteOld || removeOldResults(days);
    setReportNewLinks(reportNewLinks);
    loadTasks();
    return deleted;
}

int TaskChecker::nextTaskId() const
{
    // The number of tasks, unless a remaining task already carries that id (possible after a removal);
    // then one more than the largest id. Storing the task makes the id unique in the file as well.
    const int count = int(m_tasks.size());
    int largest = -1;
    bool taken = false;
    for (const Task* task : m_tasks) {
        largest = qMax(largest, task->taskId());
        taken = taken || task->taskId() == count;
    }
    return taken ? largest + 1 : count;
}

// ---- taking results over ----

Task::ResultList TaskChecker::takeOver(Task* task, const Task::ResultList& found, TaskChange* change)
{
    // What an earlier take-over could not store comes first, then what this check found, then newly
    // appeared links. Records whose link and text the task already holds are left out, so an update found
    // twice (by update-all and by a background check that overlapped it) is not appended twice.
    TaskState& kept = stateOf(task);
    Task::ResultList candidates = std::exchange(kept.unstored, {});
    candidates += found;
    change->taskId = task->taskId();
    if (kept.seen) {
        PendingSeen* seen = &*kept.seen;
        candidates += seen->results;
        seen->results.clear();
        change->seenAdded = QStringList(seen->added.cbegin(), seen->added.cend());
        change->seenRemoved = QStringList(seen->removed.cbegin(), seen->removed.cend());
    }

    QSet<QString> known;
    const Task::ResultList results = task->results();
    known.reserve(results.size() + candidates.size());
    for (const Task::ResultPtr& result : results)
        known.insert(resultKey(*result));
    for (const Task::ResultPtr& result : std::as_const(candidates)) {
        const QString key = resultKey(*result);
        if (known.contains(key))
            continue;
        known.insert(key);
        change->results.append(result);
    }
    return change->results;
}

// Stores what one take-over found, results and seen links in one transaction. What did not reach task.db is
// not shown as found, and is kept for the next try.
bool TaskChecker::storeTakeOver(Task* task, const TaskChange& change)
{
    if (change.results.isEmpty() && change.seenAdded.isEmpty() && change.seenRemoved.isEmpty())
        return true;
    if (!m_db.storeChanges({change})) {
        if (!change.results.isEmpty())
            stateOf(task).unstored = change.results;
        m_lastError = tr("Could not store the new results of %1: %2").arg(task->name(), m_db.lastError());
        return false;
    }
    stateOf(task).seen.reset();
    if (!change.results.isEmpty()) {
        task->appendResults(change.results);
        emit resultsChanged(task);
    }
    return true;
}

bool TaskChecker::setReportNewLinks(bool on, bool afresh)
{
    // Links seen under an earlier spell of the option would be taken for the page's previous state.
    if (on && afresh && !m_db.removeAllSeenLinks()) {
        m_lastError = m_db.lastError();
        return false;
    }
    m_reportNewLinks = on;
    for (TaskState& kept : m_states)
        kept.seen.reset();
    return true;
}

bool TaskChecker::refusedWhileImporting()
{
    if (!m_importing)
        return false;
    m_lastError = tr("Tasks are being imported; try again when the import has finished.");
    return true;
}

bool TaskChecker::removeOldResults(int days)
{
    if (m_db.removeOldResults(days, today()))
        return true;
    m_lastError = m_db.lastError();
    return false;
}

bool TaskChecker::recordsSeen(const FetchedPage& page) const
{
    return page.ok && (m_reportNewLinks || page.feed);
}

// With the option on, and always for a feed, compares the page's keyword links with those seen at the task's
// previous check (in task.db, plus what a check not yet taken over saw) and keeps the difference and the new
// links until the task's take-over. A failed download or an error page changes nothing that was seen.
void TaskChecker::noteSeen(Task* task, const FetchedPage& page)
{
    if (!recordsSeen(page))
        return;
    const std::optional<QSet<QString>> stored = m_db.seenLinks(task->taskId());
    if (!stored)
        return;
    std::optional<PendingSeen>& kept = stateOf(task).seen;
    if (!kept)
        kept.emplace();
    PendingSeen& pending = *kept;
    QSet<QString> previous = *stored;
    previous.subtract(pending.removed);
    previous.unite(pending.added);

    const QList<PageLink> links = task->linksOfPage(page);
    const TaskChange change =
        SeenLinks::compare(task->taskId(), links, previous, task->results() + pending.results, today());
    pending.results += change.results;
    // Relative to task.db: what is on the page now and not stored is added, what is stored and gone removed.
    QSet<QString> current{checkedMark()};
    for (const PageLink& link : std::as_const(links))
        current.insert(link.link);
    // A feed's items leave it as new ones come; one that comes back (edited, or the feed shows a longer
    // stretch again) is not news. Its link stays seen, up to a bound on the links kept beyond the feed's own.
    if (page.feed) {
        QStringList departed;
        for (const QString& link : std::as_const(previous)) {
            if (!current.contains(link))
                departed.append(link);
        }
        // The record holds no age: beyond the bound the links kept are the first in sorted order.
        departed.sort();
        departed = departed.mid(0, MaxDepartedFeedLinks);
        for (const QString& link : std::as_const(departed))
            current.insert(link);
    }
    pending.added = difference(current, *stored);
    pending.removed = difference(*stored, current);
    if (pending.added.isEmpty() && pending.removed.isEmpty() && pending.results.isEmpty())
        kept.reset();
}

// ---- periodic checks ----

void TaskChecker::startBackgroundCheck(Task* task)
{
    bool& checking = stateOf(task).checking;
    if (checking)
        return;
    checking = true;
    ++m_backgroundStarted;
    QPointer<Task> guarded(task);
    const int edition = stateOf(task).edition;
    // The task is the context: a task removed meanwhile gets no delivery, one edited meanwhile drops the
    // old page.
    m_source.get(
        *task, true, task,
        [this, guarded, task, edition](const FetchedPage& page) {
            if (guarded && contains(guarded) && stateOf(guarded).edition == edition)
                takeBackgroundPage(guarded, page);
            else
                runTaskDone(task, {});
        },
        PageFetcher::Priority::Background);
}

// A periodic check's page has arrived: what it shows that is new is taken over, stored and reported at once,
// together with whatever an earlier take-over could not store. A page that could not be read compares
// nothing (its error page is no state of the watched page) but still lets the kept findings be stored.
void TaskChecker::takeBackgroundPage(Task* task, const FetchedPage& page)
{
    if (m_importing) {
        m_heldPages.append({task, page});
        return;
    }
    runTaskDone(task, takeOverBackgroundPage(task, page));
}

Task::ResultList TaskChecker::takeOverBackgroundPage(Task* task, const FetchedPage& page)
{
    stateOf(task).checking = false;
    noteFetch(task, page);
    Task::ResultList found;
    // A page not modified since it was last read shows nothing new.
    if (page.ok && !page.notModified) {
        noteSeen(task, page);
        const bool afresh = std::exchange(stateOf(task).afresh, false);
        if (task->takeUpdatePage(page, today()) && !afresh)
            found = task->updateResults();
    } else if (!page.ok) {
        emit backgroundCheckFailed(task, failureReason(page));
    }
    if (found.isEmpty() && stateOf(task).unstored.isEmpty() && !hasPendingSeen(task)) {
        rememberValidators(task, page);
        return {};
    }
    TaskChange change;
    takeOver(task, found, &change);
    if (!storeTakeOver(task, change)) {
        emit storageFailed(m_lastError);
        return {};
    }
    rememberValidators(task, page);
    if (!change.results.isEmpty())
        emit resultsFound(task, change.results);
    return change.results;
}

void TaskChecker::runTaskDone(const Task* task, const Task::ResultList& found)
{
    m_runWaiting.remove(task);
    if (!found.isEmpty()) {
        auto entry = std::find_if(m_runNews.begin(), m_runNews.end(),
                                  [task](const TaskNews& news) { return news.task.data() == task; });
        if (entry == m_runNews.end())
            m_runNews.append(TaskNews{const_cast<Task*>(task), task->name(), found});
        else
            entry->results += found;
    }
    flushRunNews();
}

void TaskChecker::flushRunNews()
{
    if (!m_runWaiting.isEmpty() || m_runNews.isEmpty())
        return;
    QList<TaskNews> news;
    // In the order of the task list; tasks removed meanwhile are left out.
    for (Task* task : std::as_const(m_tasks)) {
        for (const TaskNews& entry : std::as_const(m_runNews)) {
            if (entry.task.data() == task)
                news.append(entry);
        }
    }
    m_runNews.clear();
    if (!news.isEmpty())
        emit runNewsFound(news);
}

QDateTime TaskChecker::dueTime(const Task* task) const
{
    return dueTime(task, now());
}

QDateTime TaskChecker::dueTime(const Task* task, const QDateTime& now) const
{
    const QDateTime last = task->lastUpdate();
    if (!last.isValid())
        return now;
    return qMin(last, now).addSecs(checkInterval(task));
}

void TaskChecker::storeCheckTime(Task* task)
{
    if (!m_db.updateLastUpdate(task))
        emit storageFailed(tr("Could not store the check time of %1: %2").arg(task->name(), m_db.lastError()));
}

TaskChecker::DueRun TaskChecker::checkDueTasks()
{
    DueRun run;
    // An import holds task.db's transaction: the tasks due are checked at the next run.
    if (m_importing)
        return run;
    const QDateTime now = this->now();
    const QList<Task*> snapshot = m_tasks;
    for (Task* task : snapshot) {
        // A last check in the future (the clock was put back) counts as one made now, so the task is not
        // silenced until that date; task.db gets it too, else every start would find the future time again.
        if (task->lastUpdate().isValid() && task->lastUpdate() > now) {
            task->setLastUpdate(now.toString(Qt::ISODate));
            storeCheckTime(task);
        }
        // Judged by the one reading of the clock above: a second reading would always be a moment later,
        // and a task without a readable time would never be due.
        if (now < dueTime(task, now))
            continue;

        startBackgroundCheck(task);
        m_runWaiting.insert(task);
        run.started.append(task);
        // The next check is one frequency after this one, and an unreadable time is replaced by it.
        task->setLastUpdate(now.toString(Qt::ISODate));
        storeCheckTime(task);
        qCDebug(lcCore).noquote() << "time is out " << '"' + task->name() + '"' << '"' + task->lastUpdateText() + '"';
    }
    return run;
}

void TaskChecker::noteFetch(Task* task, const FetchedPage& page)
{
    std::optional<PageFailure>& failure = stateOf(task).failure;
    const bool failedBefore = failure.has_value();
    if (page.ok) {
        failure.reset();
        if (failedBefore) {
            storeFailure(task);
            emit checkStateChanged(task);
        }
        return;
    }
    if (!failure)
        failure.emplace();
    failure->reason = failureReason(page);
    ++failure->inRow;
    storeFailure(task);
    emit checkStateChanged(task);
}

qint64 TaskChecker::checkInterval(const Task* task) const
{
    // Each failure in a row doubles the wait, up to an hour or the frequency, whichever is larger.
    const qint64 frequency = qMax(1, task->frequency());
    const qint64 longest = qMax<qint64>(frequency, MaxBackoffSeconds);
    qint64 interval = frequency;
    for (int i = failuresInRow(task); i > 0 && interval < longest; --i)
        interval *= 2;
    return qMin(interval, longest);
}

void TaskChecker::rememberValidators(Task* task, const FetchedPage& page)
{
    // Only a page that was read whole gives validators; a 304 leaves the ones it answered.
    if (!page.ok || page.notModified)
        return;
    const QString etag = QString::fromLatin1(page.etag);
    const QString lastModified = QString::fromLatin1(page.lastModified);
    const QHash<QString, QString> options = task->options();
    for (const auto& [name, value] : {std::pair{QLatin1String(Task::EtagOption), etag},
                                      std::pair{QLatin1String(Task::LastModifiedOption), lastModified}}) {
        if (options.value(name) == value)
            continue;
        // Kept in memory only once task.db has it, so a restart asks as this session would.
        if (m_db.setTaskOption(task->taskId(), name, value))
            task->setOption(name, value);
        else
            task->setOption(name, QString()); // the file may hold an older one: ask for the whole page
    }
}

// ---- commands that wait ----

void TaskChecker::getFor(Wait& w, const Task& task, bool conditional, PageFetcher::Callback done)
{
    const QString address = task.address();
    w.awaited.append(address);
    m_source.get(task, conditional, &w.context, [&w, address, done = std::move(done)](const FetchedPage& page) {
        w.awaited.removeOne(address);
        done(page);
    });
}

bool TaskChecker::wait(Wait& w, const std::function<bool()>& done)
{
    m_waits.append(&w);
    while (!w.aborted && !w.cancelled && !done()) {
        QEventLoop loop;
        w.loop = &loop;
        const int code = loop.exec();
        w.loop = nullptr;
        // Ended by anything but wake(): the application is quitting, and a new loop would return at once.
        if (code != WakeCode)
            abortWaits();
    }
    m_waits.removeOne(&w);
    return !w.aborted && !w.cancelled;
}

void TaskChecker::wake()
{
    for (Wait* wait : std::as_const(m_waits)) {
        if (wait->loop)
            wait->loop->exit(WakeCode);
    }
}

// Only the waits running now end: an abort that outlived them would drop every later command in silence.
void TaskChecker::abortWaits()
{
    for (Wait* wait : std::as_const(m_waits))
        wait->aborted = true;
    m_source.abortAll();
    for (TaskState& kept : m_states)
        kept.checking = false;
    wake();
}

void TaskChecker::cancelWait()
{
    for (Wait* wait : std::as_const(m_waits))
        wait->cancelled = true;
    wake();
}

QStringList TaskChecker::awaitedPages() const
{
    return m_waits.isEmpty() ? QStringList() : m_waits.last()->awaited;
}

bool TaskChecker::isAborting() const
{
    for (const Wait* wait : m_waits) {
        if (wait->aborted)
            return true;
    }
    return false;
}

TaskChecker::UpdateRun TaskChecker::updateAll()
{
    UpdateRun run;
    if (m_tasks.isEmpty())
        return run;
    CommandGuard::Scope command(m_guard);
    if (!command)
        return run;
    run.ran = true;

    // Every page is requested at once; each is compared as it arrives and its body released, so memory
    // does not grow with the number of pages. Deliveries for a task removed meanwhile are dropped.
    const QList<Task*> snapshot = m_tasks;
    QHash<const Task*, bool> hasNew;
    QHash<const Task*, FetchedPage> read; // the validators of the pages read whole
    int pending = int(snapshot.size());
    Wait w;
    for (Task* task : snapshot) {
        QPointer<Task> guarded(task);
        getFor(w, *task, true, [this, guarded, &pending, &run, &hasNew, &read](const FetchedPage& page) {
            --pending;
            if (guarded && contains(guarded)) {
                noteFetch(guarded, page);
                if (page.ok && !page.notModified) {
                    noteSeen(guarded, page);
                    const bool afresh = std::exchange(stateOf(guarded).afresh, false);
                    hasNew.insert(guarded, guarded->takeUpdatePage(page, today()) && !afresh);
                    read.insert(guarded, validatorsOf(page));
                } else if (!page.ok) {
                    ++run.failedPages;
                }
            }
            if (pending == 0)
                wake();
        });
    }
    if (!wait(w, [&pending] { return pending == 0; })) {
        // Left by the user: the pages read so far are taken over as a periodic check would take them.
        run.cancelled = w.cancelled;
        run.unread = pending;
        run.aborted = w.aborted;
        if (run.aborted)
            return run;
    }

    // Taken over task by task in the list's order, stored in one transaction.
    QList<QPair<Task*, TaskChange>> taken;
    QList<TaskChange> changes;
    for (Task* task : std::as_const(m_tasks)) {
        const bool found = hasNew.value(task, false);
        if (!found && stateOf(task).unstored.isEmpty() && !hasPendingSeen(task))
            continue;
        TaskChange change;
        takeOver(task, found ? task->updateResults() : Task::ResultList(), &change);
        if (change.results.isEmpty() && change.seenAdded.isEmpty() && change.seenRemoved.isEmpty())
            continue;
        taken.append({task, change});
        changes.append(change);
    }
    // Validators are remembered once what their page showed is stored: a page whose findings wait to be
    // stored is read whole again at its next check.
    const auto rememberRead = [this, &read](const QSet<const Task*>& unstored) {
        for (auto it = read.cbegin(); it != read.cend(); ++it) {
            Task* task = const_cast<Task*>(it.key());
            if (!unstored.contains(task) && contains(task))
                rememberValidators(task, it.value());
        }
    };
    if (changes.isEmpty()) {
        rememberRead({});
        return run;
    }
    if (!m_db.storeChanges(changes)) {
        QStringList names;
        QSet<const Task*> unstored;
        for (const auto& [task, change] : std::as_const(taken)) {
            unstored.insert(task);
            if (change.results.isEmpty())
                continue;
            stateOf(task).unstored = change.results;
            names.append(task->name());
            run.unstoredNew = true;
        }
        rememberRead(unstored);
        m_lastError =
            tr("Could not store the new results of %1: %2").arg(names.join(QStringLiteral(", ")), m_db.lastError());
        run.storageFailure = m_lastError;
        return run;
    }
    for (const auto& [task, change] : std::as_const(taken)) {
        stateOf(task).seen.reset();
        if (!change.results.isEmpty()) {
            task->appendResults(change.results);
            emit resultsChanged(task);
            run.anyNew = true;
            run.news.append(TaskNews{task, task->name(), change.results});
        }
    }
    rememberRead({});
    return run;
}

TaskChecker::Outcome TaskChecker::resetResults(Task* task)
{
    CommandGuard::Scope command(m_guard);
    if (!command)
        return Outcome::Dropped;
    if (!contains(task))
        return Outcome::TaskGone;

    // The page is fetched before anything changes: when it cannot be downloaded, or the file refuses
    // the change, the old results stay, in memory and in task.db.
    QPointer<Task> guarded(task);
    std::optional<FetchedPage> fetched;
    Wait w;
    // The whole page, never "not modified": the results are rebuilt from it.
    getFor(w, *task, false, [this, &fetched](const FetchedPage& page) {
        fetched = page;
        wake();
    });
    if (!wait(w, [&fetched] { return fetched.has_value(); }))
        return w.cancelled ? Outcome::Cancelled : Outcome::Aborted;
    if (!guarded || !contains(guarded))
        return Outcome::TaskGone;
    noteFetch(task, *fetched);
    if (!fetched->ok)
        return Outcome::FetchFailed;

    const Task::ResultList results = task->resultsOfPage(*fetched, today());
    const FetchedPage validators = validatorsOf(*fetched);
    // With new links reported, and for a feed, the page's keyword links count as seen from now on.
    const bool recordSeen = recordsSeen(*fetched);
    fetched.reset();
    const bool stored = recordSeen ? m_db.replaceTaskResults(task->taskId(), results, seenLinksOf(results))
                                   : m_db.replaceTaskResults(task->taskId(), results);
    if (!stored) {
        m_lastError = m_db.lastError();
        return Outcome::StoreFailed;
    }
    task->setResults(results);
    TaskState& kept = stateOf(task);
    kept.unstored.clear();
    kept.seen.reset();
    rememberValidators(task, validators);
    emit resultsChanged(task);
    return Outcome::Done;
}

TaskChecker::Created TaskChecker::createTask(const QString& name, const QString& address, const QString& grabText,
                                             int frequency, const QHash<QString, QString>& options)
{
    Created created;
    CommandGuard::Scope command(m_guard);
    if (!command) {
        created.outcome = Outcome::Dropped;
        return created;
    }
    const TaskDefinition definition = TaskDefinition{name, address, grabText, frequency, options}.normalised();
    if (const TaskDefinition::Problem problem = definition.check()) {
        m_lastError = problem.text();
        created.outcome = Outcome::Invalid;
        return created;
    }
    return createChecked(definition);
}

TaskChecker::Created TaskChecker::createChecked(const TaskDefinition& definition)
{
    Created created;
    const QString& address = definition.address;
    const QString& grabText = definition.keyword;
    auto task = std::make_unique<Task>(nextTaskId(), definition.name, address, grabText, definition.frequency);
    // Created and last checked now, by this checker's clock; written in local time as task.db holds it.
    const QDateTime createdAt = now().toLocalTime();
    task->setTaskDate(createdAt.date().toString(TaskDateFormat));
    task->setLastUpdate(createdAt.toString(Qt::ISODate));
    task->setOptions(definition.options);
    if (duplicateOf(address, grabText) || m_db.taskExists(task.get())) {
        created.outcome = Outcome::Exists;
        return created;
    }

    std::optional<FetchedPage> fetched;
    Wait w;
    getFor(w, *task, false, [this, &fetched](const FetchedPage& page) {
        fetched = page;
        wake();
    });
    if (!wait(w, [&fetched] { return fetched.has_value(); })) {
        created.outcome = w.cancelled ? Outcome::Cancelled : Outcome::Aborted;
        return created;
    }
    // Stored with the task: its first check asks whether the page changed since.
    if (fetched->ok) {
        task->setOption(QLatin1String(Task::EtagOption), QString::fromLatin1(fetched->etag));
        task->setOption(QLatin1String(Task::LastModifiedOption), QString::fromLatin1(fetched->lastModified));
    }
    // A page that could not be downloaded still gives the task, with no results (an error page's links are
    // not the page's), so the user can reset it once the page is reachable.
    if (fetched->ok)
        task->setResults(task->resultsOfPage(*fetched, createdAt.date()));
    const QStringList seen = recordsSeen(*fetched) ? seenLinksOf(task->results()) : QStringList();

    // Stored first: a task that did not reach task.db is not listed as if it had. The id is made unique
    // in the file as it is stored.
    if (!m_db.insertTask(task.get(), seen)) {
        m_lastError = m_db.lastError();
        created.outcome = Outcome::StoreFailed;
        return created;
    }
    created.task = task.release();
    m_tasks.append(created.task);
    emit taskAdded(created.task);
    noteFetch(created.task, *fetched);
    if (!fetched->ok) {
        created.outcome = Outcome::FetchFailed;
        created.failureReason = failureReason(*fetched);
    }
    return created;
}

// ---- changing ----

const Task* TaskChecker::duplicateOf(const QString& address, const QString& grabText, const Task* except) const
{
    if (except && except->address() == address && except->grabText() == grabText)
        return nullptr;
    for (const Task* task : m_tasks) {
        if (task != except && TaskDefinition::sameWatch(address, grabText, task->address(), task->grabText()))
            return task;
    }
    return nullptr;
}

TaskChecker::Outcome TaskChecker::editTask(Task* task, const QString& typedName, const QString& typedAddress,
                                           const QString& typedKeyword, int frequency,
                                           const std::optional<QHash<QString, QString>>& options)
{
    if (m_guard.isBusy() || m_importing)
        return Outcome::Dropped;
    if (!contains(task))
        return Outcome::TaskGone;
    // A frequency kept as stored is not judged again (an older file may hold 0 or 90 seconds).
    const int parts = frequency == task->frequency() ? TaskDefinition::Options : TaskDefinition::Everything;
    const TaskDefinition entered =
        TaskDefinition{typedName, typedAddress, typedKeyword, frequency, options.value_or(task->options())}
            .normalised();
    if (const TaskDefinition::Problem problem = entered.check(parts)) {
        m_lastError = problem.text();
        return Outcome::Invalid;
    }
    const QString& name = entered.name;
    const QString& address = entered.address;
    const QString& grabText = entered.keyword;
    if (duplicateOf(address, grabText, task))
        return Outcome::Exists;

    // A new region or new excluded words change which links count, as a new keyword does.
    const auto watched = [](const QHash<QString, QString>& options) {
        return std::make_pair(options.value(QLatin1String(Task::RegionOption)),
                              options.value(QLatin1String(Task::ExcludedWordsOption)));
    };
    const bool pageChanged = address != task->address() || grabText != task->grabText() ||
                             (options && watched(entered.options) != watched(task->options()));
    // Written first from a copy: what task.db refused is not shown as changed.
    Task changed(task->taskId(), name, address, grabText, frequency);
    changed.setRowId(task->rowId());
    QHash<QString, QString> newOptions = task->options();
    if (options) {
        for (const QString& own : TaskDefinition::userOptions())
            newOptions.remove(own);
        newOptions.insert(TaskDefinition::userOptionsOf(entered.options));
    }
    // The validators name a state of the old page: asked with them, the new page could answer "not modified".
    if (pageChanged) {
        newOptions.remove(QLatin1String(Task::EtagOption));
        newOptions.remove(QLatin1String(Task::LastModifiedOption));
    }
    changed.setOptions(newOptions);
    if (!m_db.updateTask(&changed, pageChanged)) {
        m_lastError = m_db.lastError();
        return Outcome::StoreFailed;
    }
    task->setDefinition(name, address, grabText, frequency);
    task->setOptions(newOptions);
    if (pageChanged) {
        // What was seen of the old page says nothing about the new one; a check already on its way asked
        // for the old page, so its answer is dropped and the task may be checked again at once.
        task->forgetKnownLinks();
        TaskState& kept = stateOf(task);
        kept.seen.reset();
        kept.afresh = true;
        kept.checking = false;
        ++kept.edition;
        if (kept.failure) {
            kept.failure.reset();
            storeFailure(task);
            emit checkStateChanged(task);
        }
    }
    emit taskChanged(task);
    return Outcome::Done;
}

bool TaskChecker::markAllRead(Task* task)
{
    if (refusedWhileImporting())
        return false;
    if (!contains(task))
        return false;
    if (!m_db.markTaskResultsRead(task->taskId())) {
        m_lastError = m_db.lastError();
        return false;
    }
    QList<int> changed;
    const Task::ResultList results = task->results();
    for (int i = 0; i < results.size(); ++i) {
        if (results.at(i)->state != StateRead) {
            results.at(i)->state = StateRead;
            changed.append(i);
        }
    }
    if (!changed.isEmpty())
        emit resultStatesChanged(task, changed);
    return true;
}

// Stored with the results in reverse, so a later load (newest first) lists them as the file did.
bool TaskChecker::addImported(Task* task, const QStringList& seen)
{
    const Task::ResultList inOrder = task->results();
    Task::ResultList reversed(inOrder.crbegin(), inOrder.crend());
    task->setResults(reversed);
    const bool stored = m_db.addToTaskBatch(task, seen);
    task->setResults(inOrder);
    return stored;
}

TaskChecker::ImportRun TaskChecker::importTasks(const QList<ExchangeTask>& entries)
{
    ImportRun run;
    CommandGuard::Scope command(m_guard);
    if (!command)
        return run;
    run.ran = true;

    // Duplicates are left out before anything is downloaded: of the tasks listed and of the file itself.
    std::vector<std::unique_ptr<Task>> tasks;
    QList<const ExchangeTask*> sources;
    auto isDuplicate = [&](const ExchangeTask& entry) {
        if (duplicateOf(entry.address, entry.keyword))
            return true;
        return std::any_of(tasks.cbegin(), tasks.cend(), [&entry](const auto& task) {
            return TaskDefinition::sameWatch(entry.address, entry.keyword, task->address(), task->grabText());
        });
    };
    // A file is taken whole or not at all: a task with a problem refuses it, counted from 1 as a user reads.
    QList<ExchangeTask> normal = entries;
    for (qsizetype i = 0; i < normal.size(); ++i) {
        ExchangeTask& entry = normal[i];
        const TaskDefinition definition =
            TaskDefinition{entry.name, entry.address, entry.keyword, entry.frequency, entry.options}.normalised();
        if (const TaskDefinition::Problem problem = definition.check()) {
            run.refusal = tr("task %1, %2").arg(i + 1).arg(problem.text());
            m_lastError = run.refusal;
            return run;
        }
        entry.name = definition.name;
        entry.address = definition.address;
        entry.keyword = definition.keyword;
    }
    const int firstId = nextTaskId();
    const QDateTime importedAt = now(); // one reading: every task of the file is made at the same moment
    for (const ExchangeTask& entry : std::as_const(normal)) {
        if (isDuplicate(entry)) {
            ++run.duplicates;
            continue;
        }
        auto task = std::make_unique<Task>(firstId + int(tasks.size()), entry.name, entry.address, entry.keyword,
                                           entry.frequency, importedAt);
        task->setOptions(TaskDefinition::userOptionsOf(entry.options));
        if (entry.created.isValid())
            task->setTaskDate(entry.created.toString(QStringLiteral("MM/dd/yyyy")));
        if (entry.withResults) {
            Task::ResultList copies;
            for (const Task::ResultPtr& result : entry.results) {
                auto copy = Task::ResultPtr::create(*result);
                copy->taskId = task->taskId();
                copies.append(copy);
            }
            task->setResults(copies);
        }
        tasks.push_back(std::move(task));
        sources.append(&entry);
    }

    // Each task is stored as soon as it is complete, while the other pages are still on their way, in one
    // transaction committed at the end; until then no other write may reach task.db (see m_importing).
    if (!m_db.beginTaskBatch()) {
        m_lastError = m_db.lastError();
        run.storageFailure = m_lastError;
        return run;
    }
    m_importing = true;
    bool storeFailed = false;
    QHash<const Task*, FetchedPage> failures;
    int pending = 0;
    Wait w;
    for (qsizetype i = 0; i < qsizetype(tasks.size()); ++i) {
        Task* task = tasks[i].get();
        if (sources.at(i)->withResults) {
            storeFailed = storeFailed || !addImported(task, {});
            continue;
        }
        ++pending;
        // An import that ends early destroys the wait and with it the tasks: their pages are not delivered.
        getFor(w, *task, false, [this, task, &pending, &failures, &storeFailed](const FetchedPage& page) {
            --pending;
            if (page.ok)
                task->setResults(task->resultsOfPage(page, today()));
            else
                failures.insert(task, withoutBody(page));
            const QStringList seen = recordsSeen(page) ? seenLinksOf(task->results()) : QStringList();
            storeFailed = storeFailed || !addImported(task, seen);
            if (pending == 0)
                wake();
        });
    }
    const bool waited =
        storeFailed || pending == 0 || wait(w, [&pending, &storeFailed] { return pending == 0 || storeFailed; });
    if (!waited || storeFailed || !m_db.commitTaskBatch()) {
        run.aborted = w.aborted;
        run.cancelled = w.cancelled;
        if (waited) {
            m_lastError = m_db.lastError();
            run.storageFailure = m_lastError;
        }
        // The pages still on their way are dropped with the wait, their context.
        m_db.rollbackTaskBatch();
        endImport();
        return run;
    }
    endImport();

    for (auto& task : tasks) {
        if (task->rowId() == 0) {
            ++run.duplicates; // stored already under the same keyword and address
            continue;
        }
        Task* created = task.release();
        m_tasks.append(created);
        emit taskAdded(created);
        run.created.append(created);
        ++run.imported;
        const auto failed = failures.constFind(created);
        if (failed != failures.constEnd()) {
            ++run.failedPages;
            noteFetch(created, *failed);
        }
    }
    return run;
}

// The background pages that arrived during an import are taken over now that task.db may be written.
void TaskChecker::endImport()
{
    m_importing = false;
    const QList<QPair<QPointer<Task>, FetchedPage>> held = std::exchange(m_heldPages, {});
    for (const auto& [task, page] : held) {
        if (task && contains(task))
            takeBackgroundPage(task, page);
    }
}

// ---- removing ----

void TaskChecker::forget(const Task* task)
{
    m_states.remove(task);
    // A removed task's page is awaited no more; the run's other news are announced once they are complete.
    if (m_runWaiting.remove(task))
        QTimer::singleShot(0, this, &TaskChecker::flushRunNews);
}

bool TaskChecker::removeTask(Task* task)
{
    if (refusedWhileImporting())
        return false;
    if (!contains(task))
        return false;
    if (!m_db.removeTask(task)) {
        m_lastError = m_db.lastError();
        return false;
    }
    m_tasks.removeOne(task);
    forget(task);
    emit taskRemoved(task);
    delete task;
    return true;
}

bool TaskChecker::removeAllTasks()
{
    if (refusedWhileImporting())
        return false;
    if (!m_db.removeAllTasks()) {
        m_lastError = m_db.lastError();
        return false;
    }
    const QList<Task*> removed = m_tasks;
    m_tasks.clear();
    m_states.clear();
    m_runWaiting.clear();
    m_runNews.clear();
    emit allTasksRemoved();
    qDeleteAll(removed);
    return true;
}

bool TaskChecker::markRead(Task* task, const Task::ResultList& results)
{
    if (!contains(task))
        return false;
    // The task's own unread ones among them, each once, found in one pass over its list.
    QSet<const TaskResult*> wanted;
    for (const Task::ResultPtr& result : results)
        wanted.insert(result.get());
    const Task::ResultList current = task->results();
    QList<int> changed;
    Task::ResultList marked;
    for (int index = 0; index < current.size(); ++index) {
        if (wanted.contains(current.at(index).get()) && current.at(index)->state != StateRead) {
            changed.append(index);
            marked.append(current.at(index));
        }
    }
    if (marked.isEmpty())
        return true;
    // One statement: on a refusal nothing changes, in task.db or in memory.
    if (!m_db.updateResultStates(marked, StateRead)) {
        m_lastError = m_db.lastError();
        return false;
    }
    for (int index : std::as_const(changed))
        task->setResultState(index, StateRead);
    emit resultStatesChanged(task, changed);
    return true;
}

bool TaskChecker::removeResults(Task* task, const Task::ResultList& results)
{
    if (!contains(task))
        return false;
    // Only the task's own results, each once, however many rows were selected.
    QSet<const TaskResult*> wanted;
    for (const Task::ResultPtr& result : results)
        wanted.insert(result.get());
    const Task::ResultList current = task->results();
    Task::ResultList removed;
    for (const Task::ResultPtr& result : current) {
        if (wanted.contains(result.get()))
            removed.append(result);
    }
    if (removed.isEmpty())
        return true;
    // All in one transaction: on a refusal every row stays listed and stored.
    if (!m_db.removeResults(removed)) {
        m_lastError = m_db.lastError();
        return false;
    }
    for (int index = int(current.size()) - 1; index >= 0; --index) {
        if (wanted.contains(current.at(index).get()))
            task->removeResult(index);
    }
    emit resultsChanged(task);
    return true;
}

bool TaskChecker::removeTaskResults(Task* task)
{
    if (!contains(task))
        return false;
    if (!m_db.removeTaskResults(task->taskId())) {
        m_lastError = m_db.lastError();
        return false;
    }
    task->clearResults();
    emit resultsChanged(task);
    return true;
}
