// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/news/newsdelivery.h"

#include "engine/fetching/requestheaders.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

QString NewsDestination::key() const
{
    QJsonObject object{
        {QStringLiteral("kind"), kind == Kind::Post ? QStringLiteral("post") : QStringLiteral("command")},
        {QStringLiteral("target"), target}};
    if (kind == Kind::Post) {
        object.insert(QStringLiteral("headers"), headers);
        object.insert(QStringLiteral("plain"), plainText);
    }
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

NewsDestination NewsDestination::fromKey(const QString& key)
{
    const QJsonObject object = QJsonDocument::fromJson(key.toUtf8()).object();
    NewsDestination destination;
    destination.kind =
        object.value(QStringLiteral("kind")).toString() == QLatin1String("post") ? Kind::Post : Kind::Command;
    destination.target = object.value(QStringLiteral("target")).toString();
    destination.headers = object.value(QStringLiteral("headers")).toString();
    destination.plainText = object.value(QStringLiteral("plain")).toBool();
    return destination;
}

QString NewsDestination::problem() const
{
    if (target.trimmed().isEmpty())
        return tr("No destination is given.");
    if (target.size() > MaxTargetLength)
        return tr("The destination is longer than %1 characters.").arg(MaxTargetLength);
    if (kind == Kind::Command) {
        QString error;
        NewsDelivery::splitWords(target, &error);
        return error;
    }
    const QUrl url(target.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
        url.host().isEmpty())
        return tr("News can be posted only to an http:// or https:// address.");
    QString error;
    RequestHeaders::parse(headers, &error);
    return error;
}

const QStringList& NewsDestination::taskOptions()
{
    static const QStringList names = {QString::fromLatin1(ToOption), QString::fromLatin1(CommandOption),
                                      QString::fromLatin1(PostOption), QString::fromLatin1(HeadersOption),
                                      QString::fromLatin1(PlainOption)};
    return names;
}

QString NewsDestination::optionProblem(const QString& option, const QString& value)
{
    if (value.isEmpty())
        return {};
    if (option == QLatin1String(ToOption))
        return value == QLatin1String("none") || value == QLatin1String("own") ? QString()
                                                                               : tr("expected \"none\" or \"own\"");
    if (option == QLatin1String(CommandOption))
        return NewsDestination{Kind::Command, value, {}, false}.problem();
    if (option == QLatin1String(PostOption))
        return NewsDestination{Kind::Post, value, {}, false}.problem();
    if (option == QLatin1String(HeadersOption)) {
        QString error;
        RequestHeaders::parse(value, &error);
        return error;
    }
    if (option == QLatin1String(PlainOption))
        return value == QLatin1String("1") ? QString() : tr("expected \"1\"");
    return {};
}

QString NewsDestination::label() const
{
    if (kind == Kind::Command) {
        const QStringList words = NewsDelivery::splitWords(target, nullptr);
        return words.isEmpty() ? target.left(40) : words.first();
    }
    const QUrl url(target.trimmed());
    return url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo).toString();
}

QStringList NewsDelivery::splitWords(const QString& line, QString* error)
{
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord)
                words.append(std::exchange(word, QString()));
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\\') {
            if (++i < line.size() && line.at(i) != u'\n')
                word += line.at(i);
        } else if (c == u'\'' || c == u'"') {
            const qsizetype start = i;
            for (++i; i < line.size() && line.at(i) != c; ++i) {
                if (c == u'"' && line.at(i) == u'\\' && i + 1 < line.size() &&
                    QStringView(u"\"\\$`\n").contains(line.at(i + 1))) {
                    if (line.at(++i) != u'\n')
                        word += line.at(i);
                    continue;
                }
                word += line.at(i);
            }
            if (i >= line.size()) {
                if (error)
                    *error = tr("The command has a quote (%1) that is not closed.").arg(line.mid(start, 1));
                return {};
            }
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    if (words.isEmpty() && error)
        *error = tr("No command is given.");
    return words;
}

// A manager of its own: no connection is shared with the checks of the tasks, and each request neither sends nor
// keeps a cookie.
NewsDelivery::NewsDelivery(QObject* parent) : QObject(parent), m_network(new QNetworkAccessManager(this)) {}

NewsDelivery::~NewsDelivery()
{
    // The program is going: nothing it started may linger.
    for (const qint64 group : std::as_const(m_groups))
        ::kill(-pid_t(group), SIGKILL);
}

void NewsDelivery::deliver(const NewsDestination& destination, const NewsMessage& message, Done done)
{
    if (const QString problem = destination.problem(); !problem.isEmpty()) {
        QTimer::singleShot(0, this, [done, problem] { done({false, problem, {}}); });
        return;
    }
    if (destination.kind == NewsDestination::Kind::Post) {
        post(destination, message, std::move(done));
        return;
    }
    m_waiting.append({destination, message, std::move(done)});
    commandEnded();
}

void NewsDelivery::commandEnded()
{
    while (m_running < m_maxCommands && !m_waiting.isEmpty())
        runCommand(m_waiting.takeFirst());
}

void NewsDelivery::runCommand(Queued job)
{
    const QStringList words = splitWords(job.destination.target, nullptr);
    ++m_running;
    auto* process = new QProcess(this);
    process->setProgram(words.first());
    process->setArguments(words.mid(1));
    process->setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto it = job.message.environment.cbegin(); it != job.message.environment.cend(); ++it)
        environment.insert(it.key(), it.value());
    process->setProcessEnvironment(environment);
    // A group of its own, so that ending it ends whatever it started as well.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });

    struct State
    {
        QByteArray output;
        bool timedOut = false;
        bool finished = false;
        qint64 group = 0;
    };
    auto state = std::make_shared<State>();
    auto* timer = new QTimer(process);
    timer->setSingleShot(true);
    const int limit = m_outputLimit;
    const Done done = job.done;
    const auto finish = [this, process, state, done](Outcome outcome) {
        if (state->finished)
            return;
        state->finished = true;
        m_groups.removeOne(state->group);
        if (!outcome.delivered)
            outcome.output = QString::fromUtf8(state->output);
        process->deleteLater();
        --m_running;
        done(outcome);
        commandEnded();
    };
    connect(process, &QProcess::readyRead, process, [process, state, limit] {
        state->output += process->readAll();
        if (state->output.size() > limit)
            state->output = state->output.right(limit);
    });
    connect(timer, &QTimer::timeout, process, [process, state] {
        state->timedOut = true;
        if (state->group > 0)
            ::kill(-pid_t(state->group), SIGKILL);
        else
            process->kill();
    });
    connect(process, &QProcess::errorOccurred, process, [process, finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish({false, tr("could not be started: %1").arg(process->errorString()), {}});
    });
    const int timeout = m_commandTimeout;
    connect(process, &QProcess::finished, process,
            [process, state, finish, timeout, limit](int code, QProcess::ExitStatus how) {
                state->output = (state->output + process->readAll()).right(limit);
                if (state->timedOut)
                    finish({false, tr("did not finish within %1 s").arg(timeout / 1000.0), {}});
                else if (how == QProcess::CrashExit)
                    finish({false, tr("ended by a signal"), {}});
                else if (code != 0)
                    finish({false, tr("exit status %1").arg(code), {}});
                else
                    finish({true, {}, {}});
            });
    process->start();
    if (state->finished)
        return;
    state->group = process->processId();
    m_groups.append(state->group);
    timer->start(m_commandTimeout);
    process->write(job.message.json);
    process->closeWriteChannel();
}

void NewsDelivery::post(const NewsDestination& destination, const NewsMessage& message, Done done)
{
    const QUrl url(destination.target.trimmed());
    QNetworkRequest request(url);
    request.setTransferTimeout(m_postTimeout);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setHeader(QNetworkRequest::UserAgentHeader, RequestHeaders::defaultUserAgent());
    QByteArray body = message.json;
    if (destination.plainText) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain; charset=utf-8"));
        // A header holds ISO 8859-1 only and no line break: what does not fit is left out.
        QString title = message.title.simplified();
        for (QChar& c : title) {
            if (c.unicode() > 255)
                c = u'?';
        }
        request.setRawHeader("Title", title.toLatin1());
        body = message.text.toUtf8();
    } else {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    }
    for (const RequestHeaders::Header& header : RequestHeaders::parseEach(destination.headers))
        request.setRawHeader(header.first, header.second);

    QNetworkReply* reply = m_network->post(request, body);
    auto refused = std::make_shared<QString>();
    connect(reply, &QNetworkReply::redirected, reply, [reply, url, refused](const QUrl& to) {
        // Only 307 and 308 post the news again; after any other the receiver would get a GET without it.
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status != 307 && status != 308)
            *refused = tr("redirected (%1) in a way that drops the news").arg(status);
        else if (to.scheme() != url.scheme() || to.host() != url.host() || to.port() != url.port())
            *refused =
                tr("redirected to another site (%1)").arg(to.adjusted(QUrl::RemovePath | QUrl::RemoveQuery).toString());
        if (!refused->isEmpty()) {
            reply->abort();
            return;
        }
        emit reply->redirectAllowed();
    });
    // A whole bound as well: the transfer time-out only counts a silence.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    const int timeout = m_postTimeout;
    connect(deadline, &QTimer::timeout, reply, [reply, refused, timeout] {
        *refused = tr("no answer within %1 s").arg(timeout / 1000.0);
        reply->abort();
    });
    deadline->start(m_postTimeout);
    // The answer's body is not needed; reading it keeps a long one from piling up.
    connect(reply, &QNetworkReply::readyRead, reply, [reply] { reply->skip(reply->bytesAvailable()); });
    connect(reply, &QNetworkReply::finished, this, [reply, refused, done, timeout] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!refused->isEmpty())
            done({false, *refused, {}});
        else if (status >= 200 && status < 300)
            done({true, {}, {}});
        else if (status > 0)
            done({false, QString::number(status), {}});
        else if (reply->error() == QNetworkReply::OperationCanceledError ||
                 reply->error() == QNetworkReply::TimeoutError)
            done({false, tr("no answer within %1 s").arg(timeout / 1000.0), {}});
        else
            done({false, reply->errorString(), {}});
    });
}
