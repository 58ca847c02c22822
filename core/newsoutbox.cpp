// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/newsoutbox.h"

#include "core/announcement.h"
#include "storage/newsstore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QUuid>

namespace {
QString isoTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODate);
}
} // namespace

NewsOutbox::NewsOutbox(NewsStore& store, QObject* parent) : QObject(parent), m_store(store), m_delivery(this)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &NewsOutbox::deliverDue);
}

QList<NewsDestination> NewsOutbox::ownDestinations(const QHash<QString, QString>& options)
{
    QList<NewsDestination> own;
    const QString command = options.value(QLatin1String(NewsCommandOption)).trimmed();
    if (!command.isEmpty())
        own.append({NewsDestination::Kind::Command, command, {}, false});
    const QString post = options.value(QLatin1String(NewsPostOption)).trimmed();
    if (!post.isEmpty())
        own.append({NewsDestination::Kind::Post, post, options.value(QLatin1String(NewsHeadersOption)),
                    options.value(QLatin1String(NewsPlainOption)) == QLatin1String("1")});
    return own;
}

QList<NewsDestination> NewsOutbox::destinationsOf(const Task& task) const
{
    const QString mode = task.options().value(QLatin1String(NewsToOption));
    if (mode == QLatin1String("none"))
        return {};
    if (mode == QLatin1String("own"))
        return ownDestinations(task.options());
    return m_destinations;
}

QList<OutboxEvent> NewsOutbox::eventsFor(const Task& task, const Task::ResultList& results, const QString& kind) const
{
    return results.isEmpty() ? QList<OutboxEvent>() : addressed(task, kind, results, {});
}

QList<OutboxEvent> NewsOutbox::brokenEventsFor(const Task& task, const QString& reason) const
{
    return addressed(task, QStringLiteral("broken"), {}, reason);
}

QList<OutboxEvent> NewsOutbox::addressed(const Task& task, const QString& kind, const Task::ResultList& results,
                                         const QString& reason) const
{
    const QList<NewsDestination> destinations = destinationsOf(task);
    if (destinations.isEmpty())
        return {};
    const QString eventId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString json = QString::fromUtf8(
        payload(eventId, kind, task.name(), task.address(), task.keyword(), results, m_clock->now(), reason));
    QList<OutboxEvent> events;
    for (const NewsDestination& destination : destinations) {
        OutboxEvent event;
        event.eventId = eventId;
        event.taskId = task.taskId();
        event.destination = destination.key();
        event.payload = json;
        events.append(event);
    }
    // Delivered once the transaction that stores them is through.
    QMetaObject::invokeMethod(const_cast<NewsOutbox*>(this), &NewsOutbox::deliverDue, Qt::QueuedConnection);
    return events;
}

QByteArray NewsOutbox::payload(const QString& eventId, const QString& kind, const QString& name, const QString& address,
                               const QString& keyword, const Task::ResultList& results, const QDateTime& at,
                               const QString& reason)
{
    QJsonArray links;
    for (const Task::ResultPtr& result : results) {
        if (!result || links.size() == MaxLinks)
            continue;
        links.append(QJsonObject{{QStringLiteral("text"), result->text.left(MaxTextLength)},
                                 {QStringLiteral("link"), result->link},
                                 {QStringLiteral("found"), isoTime(at)}});
    }
    QJsonObject event{
        {QStringLiteral("event_id"), eventId},
        {QStringLiteral("kind"), kind},
        {QStringLiteral("task"), QJsonObject{{QStringLiteral("name"), name},
                                             {QStringLiteral("address"), address},
                                             {QStringLiteral("keyword"), keyword}}},
        {QStringLiteral("links"), links},
        {QStringLiteral("at"), isoTime(at)},
    };
    if (!reason.isEmpty())
        event.insert(QStringLiteral("reason"), reason.left(MaxTextLength));
    return QJsonDocument(event).toJson(QJsonDocument::Compact);
}

NewsMessage NewsOutbox::messageOf(const QByteArray& json)
{
    const QJsonObject event = QJsonDocument::fromJson(json).object();
    const QJsonObject task = event.value(QStringLiteral("task")).toObject();
    const QJsonArray links = event.value(QStringLiteral("links")).toArray();
    const QString name = task.value(QStringLiteral("name")).toString();
    Task::ResultList results;
    for (const QJsonValue& link : links) {
        results.append(Task::ResultPtr::create(Task::TaskResult{
            0, {}, link[QStringLiteral("text")].toString(), link[QStringLiteral("link")].toString(), StateNew}));
    }
    NewsMessage message;
    message.json = json;
    message.title = tr("Vantrel Monitor: %1").arg(Announcement::shortText(name));
    const QString reason = event.value(QStringLiteral("reason")).toString();
    message.text = event.value(QStringLiteral("kind")).toString() == QLatin1String("broken")
                       ? Announcement::needsLookText(name, reason)
                       : Announcement::periodicText(name, results);
    if (!results.isEmpty())
        message.text += QLatin1Char('\n') + results.first()->link;
    message.environment = {
        {QStringLiteral("VANTREL_TASK_NAME"), name},
        {QStringLiteral("VANTREL_TASK_ADDRESS"), task.value(QStringLiteral("address")).toString()},
        {QStringLiteral("VANTREL_NEW_COUNT"), QString::number(results.size())},
        {QStringLiteral("VANTREL_FIRST_TEXT"), results.isEmpty() ? QString() : results.first()->text},
        {QStringLiteral("VANTREL_FIRST_LINK"), results.isEmpty() ? QString() : results.first()->link},
    };
    return message;
}

qint64 NewsOutbox::retryWait(int attempts)
{
    qint64 wait = FirstWaitMs;
    for (int i = 1; i < attempts && wait < MaxWaitMs; ++i)
        wait *= 2;
    return qMin(wait, MaxWaitMs);
}

void NewsOutbox::deliverDue()
{
    m_timer.stop();
    if (const int dropped = m_store.takeDropped())
        emit newsDropped(dropped);
    const std::optional<QList<OutboxEvent>> events = m_store.events();
    if (!events)
        return;
    const qint64 now = m_clock->now().toMSecsSinceEpoch();
    qint64 next = -1;
    QSet<QString> considered;
    for (const OutboxEvent& event : *events) {
        // Oldest first, one at a time: the head of a destination's events holds the others behind it.
        if (m_busy.contains(event.destination) || considered.contains(event.destination))
            continue;
        considered.insert(event.destination);
        if (event.nextTry > now) {
            next = next < 0 ? event.nextTry : qMin(next, event.nextTry);
            continue;
        }
        tryEvent(event);
    }
    if (next >= 0)
        m_timer.start(int(qBound<qint64>(0, next - now, MaxWaitMs)));
}

void NewsOutbox::tryEvent(const OutboxEvent& event)
{
    m_busy.insert(event.destination);
    m_delivery.deliver(NewsDestination::fromKey(event.destination), messageOf(event.payload.toUtf8()),
                       [this, event](const NewsDelivery::Outcome& outcome) { tried(event, outcome); });
}

void NewsOutbox::tried(const OutboxEvent& event, const NewsDelivery::Outcome& outcome)
{
    m_busy.remove(event.destination);
    const NewsDestination destination = NewsDestination::fromKey(event.destination);
    const QDateTime now = m_clock->now();
    const QString time = QLocale().toString(now.toLocalTime().time(), QLocale::ShortFormat);
    const bool test = event.taskId == TestTaskId;
    if (outcome.delivered || test) {
        m_store.remove(event.row);
    } else {
        const int attempts = event.attempts + 1;
        m_store.reschedule(event.row, attempts, now.toMSecsSinceEpoch() + retryWait(attempts), outcome.reason);
    }
    if (outcome.delivered) {
        m_outcomes.insert(event.destination, tr("Delivered at %1.").arg(time));
        m_failures.remove(event.taskId);
        if (test)
            emit testFinished(event.destination, true,
                              tr("The sample news was delivered to %1.").arg(destination.label()));
        else
            emit delivered(event.taskId, event.eventId);
    } else if (test) {
        QString text = tr("Delivery to %1 failed: %2").arg(destination.label(), outcome.reason);
        if (!outcome.output.trimmed().isEmpty())
            text += QLatin1Char('\n') + outcome.output.trimmed();
        m_outcomes.insert(event.destination, text);
        emit testFinished(event.destination, false, text);
    } else {
        const QDateTime retry = now.addMSecs(retryWait(event.attempts + 1)).toLocalTime();
        const QString message =
            tr("Delivery to %1 failed: %2; next try at %3")
                .arg(destination.label(), outcome.reason, QLocale().toString(retry.time(), QLocale::ShortFormat));
        m_outcomes.insert(event.destination, message);
        m_failures.insert(event.taskId, message);
        emit deliveryFailed(event.taskId, message);
    }
    QMetaObject::invokeMethod(this, &NewsOutbox::deliverDue, Qt::QueuedConnection);
}

bool NewsOutbox::sendTest(const NewsDestination& destination)
{
    const QDateTime now = m_clock->now();
    Task::ResultList sample;
    sample.append(Task::ResultPtr::create(Task::TaskResult{TestTaskId, now.date(), tr("A sample of the news"),
                                                           QStringLiteral("https://example.org/news/1"), StateNew}));
    OutboxEvent event;
    event.eventId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    event.taskId = TestTaskId;
    event.destination = destination.key();
    event.payload = QString::fromUtf8(payload(event.eventId, QStringLiteral("news"), tr("Test of Vantrel Monitor"),
                                              QStringLiteral("https://example.org/news/"), tr("news"), sample, now));
    if (!m_store.add({event}))
        return false;
    deliverDue();
    return true;
}
