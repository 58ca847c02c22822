// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/clock.h"
#include "engine/definition/task.h"
#include "engine/news/newsdelivery.h"
#include "storage/outboxrows.h"

#include <QCoreApplication>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

class NewsStore;

// Where news goes beyond this desktop, and the delivery of what waits in task.db's outbox: each destination
// gets its events oldest first, one at a time; a failed try holds the destination (30 s, doubling to 1 h)
// and the event keeps its id for every try, also after a restart. The window is never kept waiting: every
// delivery runs in the background (see NewsDelivery).
class NewsOutbox : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 FirstWaitMs = 30 * 1000;
    static constexpr qint64 MaxWaitMs = 3600 * 1000;
    static constexpr int MaxLinks = 500;       // links of one event
    static constexpr int MaxTextLength = 1000; // characters of a link's text in an event
    static constexpr int TestTaskId = -1;      // the sample event of the Test button

    // The task options that say where its news goes.
    static constexpr const char* NewsToOption = NewsDestination::ToOption;
    static constexpr const char* NewsCommandOption = NewsDestination::CommandOption;
    static constexpr const char* NewsPostOption = NewsDestination::PostOption;
    static constexpr const char* NewsHeadersOption = NewsDestination::HeadersOption;
    static constexpr const char* NewsPlainOption = NewsDestination::PlainOption;

    explicit NewsOutbox(NewsStore& store, QObject* parent = nullptr);

    void setClock(const Clock* clock) { m_clock = clock ? clock : &m_systemClock; }
    NewsDelivery& delivery() { return m_delivery; }

    // The destinations of the options dialog, for every task that does not choose its own.
    void setDestinations(const QList<NewsDestination>& destinations) { m_destinations = destinations; }
    const QList<NewsDestination>& destinations() const { return m_destinations; }
    QList<NewsDestination> destinationsOf(const Task& task) const;
    // A task's own destinations from its options (command, then post), without the mode.
    static QList<NewsDestination> ownDestinations(const QHash<QString, QString>& options);

    // The outbox rows of one piece of news of the task, one per destination; kind names what it tells ("news").
    QList<OutboxEvent> eventsFor(const Task& task, const Task::ResultList& results,
                                 const QString& kind = QStringLiteral("news")) const;
    // The outbox rows that tell the task's destinations it needs a look (kind "broken"), with the reason.
    QList<OutboxEvent> brokenEventsFor(const Task& task, const QString& reason) const;
    // The event's JSON: {"event_id", "kind", "task": {"name", "address", "keyword"}, "links": [{"text", "link",
    // "found"}], "at"}, times in ISO 8601 (UTC); an event of kind "broken" adds "reason".
    static QByteArray payload(const QString& eventId, const QString& kind, const QString& name, const QString& address,
                              const QString& keyword, const Task::ResultList& results, const QDateTime& at,
                              const QString& reason = {});
    // What a delivery of the JSON carries: the text of the announcement and the variables of a command.
    static NewsMessage messageOf(const QByteArray& json);
    // The wait after the given number of failed tries.
    static qint64 retryWait(int attempts);

    // Delivers every event that is due and plans the next round; called after news is stored and at start.
    void deliverDue();
    // Sends a sample event to the destination through the outbox; testFinished() tells how it went. A failed
    // sample is not tried again.
    bool sendTest(const NewsDestination& destination);

    // Why the task's news did not arrive and when it is tried again; empty when nothing failed.
    QString failureOf(int taskId) const { return m_failures.value(taskId); }
    // The last outcome of a destination, said to the user; empty before the first try.
    QString lastOutcome(const NewsDestination& destination) const { return m_outcomes.value(destination.key()); }

signals:
    void deliveryFailed(int taskId, const QString& message);
    void delivered(int taskId, const QString& eventId);
    void testFinished(const QString& destinationKey, bool delivered, const QString& text);
    // Events pushed out of a full outbox (the oldest of their destination).
    void newsDropped(int count);

private:
    QList<OutboxEvent> addressed(const Task& task, const QString& kind, const Task::ResultList& results,
                                 const QString& reason) const;
    void tryEvent(const OutboxEvent& event);
    void tried(const OutboxEvent& event, const NewsDelivery::Outcome& outcome);

    NewsStore& m_store;
    Clock m_systemClock;
    const Clock* m_clock = &m_systemClock;
    NewsDelivery m_delivery;
    QList<NewsDestination> m_destinations;
    QSet<QString> m_busy; // destinations with a delivery under way
    QHash<int, QString> m_failures;
    QHash<QString, QString> m_outcomes;
    QTimer m_timer;
};
