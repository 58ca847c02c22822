// SPDX-License-Identifier: GPL-3.0-or-later
// The marks the checks keep in task.db beside each task: its failure, its page's validators, and the other marks
// written as they are, at once or gathered by a CheckStates::Batch and written beside the window.
#include "core/checkstate.h"

#include "core/logging.h"
#include "core/watchlist.h"
#include "engine/fetching/fetchrequest.h"

#include <QPointer>

#include <limits>
#include <utility>

void CheckStates::restoreFailure(Task* task)
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

void CheckStates::storeFailure(Task* task)
{
    const TaskState& kept = task->checkMemory();
    const bool failing = bool(kept.failure);
    const QString reason = failing ? kept.failure->reason : QString();
    const QString inRow = failing ? QString::number(kept.failure->inRow) : QString();
    // A mark task.db did not take is still shown in this run.
    for (const auto& [name, value] :
         {std::pair{QLatin1String(FailureOption), reason}, std::pair{QLatin1String(FailuresInRowOption), inRow}}) {
        if (storedOption(task, name) != value)
            storeOption(task, name, value, false);
    }
}

QString CheckStates::storedOption(const Task* task, const QString& name) const
{
    const std::pair key{task->taskId(), name};
    if (const auto gathered = m_gathered.constFind(key); gathered != m_gathered.constEnd())
        return gathered->value;
    if (const auto written = m_writing.constFind(key); written != m_writing.constEnd())
        return written->value;
    return task->options().value(name);
}

void CheckStates::storeOption(Task* task, const QString& name, const QString& value, bool validator)
{
    // While marks are on their way to task.db, later ones follow them, so the file ends with the latest.
    if (m_batches > 0 || writingMarks()) {
        m_gathered.insert({task->taskId(), name}, Gathered{task, value, validator});
        if (m_batches == 0 && !m_handOverQueued)
            writeGathered();
        return;
    }
    if (m_watches.storeOption(task, name, value))
        task->setOption(name, value);
    else if (validator)
        task->setOption(name, QString());
}

void CheckStates::writeGathered()
{
    if (m_gathered.isEmpty())
        return;
    // Handed over so many a turn of the event loop: the marks of an update-all over 100,000 tasks would hold the
    // window for the best part of a second. Those not yet handed stay gathered, so a later mark of the same task
    // replaces them and storedOption() finds them.
    QHash<std::pair<int, QString>, Gathered> gathered;
    if (m_gathered.size() <= m_marksPerTurn) {
        gathered = std::exchange(m_gathered, {});
    } else {
        gathered.reserve(m_marksPerTurn);
        for (auto it = m_gathered.begin(); gathered.size() < m_marksPerTurn;) {
            gathered.insert(it.key(), it.value());
            it = m_gathered.erase(it);
        }
    }
    if (!m_gathered.isEmpty() && !m_handOverQueued) {
        m_handOverQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_handOverQueued = false;
                writeGathered();
            },
            Qt::QueuedConnection);
    }
    const auto take = [](Task* task, const QString& name, const Gathered& mark, bool stored) {
        if (stored)
            task->setOption(name, mark.value);
        else if (mark.validator)
            task->setOption(name, QString()); // the next check asks for the whole page
    };
    // A few marks cost the window one short transaction; many go beside it, as do those that follow marks on
    // their way.
    if (gathered.size() < m_writeAsideFrom && !(m_writer && m_writer->pending()) && m_gathered.isEmpty()) {
        QList<OptionRows::Change> changes;
        for (auto it = gathered.cbegin(); it != gathered.cend(); ++it)
            changes.append({it.key().first, it.key().second, it.value().value});
        const bool stored = m_watches.storeOptions(changes);
        for (auto it = gathered.cbegin(); it != gathered.cend(); ++it)
            take(it.value().task, it.key().second, it.value(), stored);
        return;
    }
    QList<OptionRows::Change> changes;
    QList<std::pair<QPointer<Task>, std::pair<QString, Gathered>>> marks;
    changes.reserve(gathered.size());
    marks.reserve(gathered.size());
    for (auto it = gathered.cbegin(); it != gathered.cend(); ++it) {
        changes.append({it.key().first, it.key().second, it.value().value});
        marks.append({it.value().task, {it.key().second, it.value()}});
        m_writing.insert(it.key(), it.value());
    }
    if (!m_writer)
        m_writer = std::make_unique<OptionWriter>(m_watches.fileName());
    // Taken over once task.db has them.
    m_writer->write(changes, this, [this, marks, take](bool stored, const QString& error) {
        if (!stored)
            qCWarning(lcCore).noquote() << "the marks of" << marks.size() << "tasks were not stored:" << error;
        for (const auto& [task, mark] : marks) {
            const auto& [name, gathered] = mark;
            if (!task)
                continue;
            const auto writing = m_writing.constFind({task->taskId(), name});
            if (writing != m_writing.constEnd() && writing->task == task && writing->value == gathered.value)
                m_writing.erase(writing);
            take(task, name, gathered, stored);
        }
        emit marksWritten();
    });
}

CheckStates::~CheckStates()
{
    // Marks not yet handed over go to the writer now, which has a moment to write them as it closes.
    m_marksPerTurn = std::numeric_limits<int>::max();
    if (m_writer && !m_gathered.isEmpty())
        writeGathered();
}

CheckStates::Batch::~Batch()
{
    if (--m_states.m_batches == 0)
        m_states.writeGathered();
}

void CheckStates::rememberValidators(Task* task, const FetchedPage& page)
{
    // Only a page that was read whole gives validators; a 304 leaves the ones it answered.
    if (!page.ok || page.notModified)
        return;
    const QString etag = QString::fromLatin1(page.etag);
    const QString lastModified = QString::fromLatin1(page.lastModified);
    // Kept in memory only once task.db has it, so a restart asks as this session would; one task.db did not take
    // is cleared (the file may hold an older one), so the next check asks for the whole page.
    for (const auto& [name, value] : {std::pair{QLatin1String(Task::EtagOption), etag},
                                      std::pair{QLatin1String(Task::LastModifiedOption), lastModified}}) {
        if (storedOption(task, name) != value)
            storeOption(task, name, value, true);
    }
}
