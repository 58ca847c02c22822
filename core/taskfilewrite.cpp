// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a task file: the tasks (and their results when asked) as JSON, put in place whole or not at all.
#include "core/taskexchange.h"

#include "engine/definition/taskdefinition.h"
#include "engine/news/newsdelivery.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace {
QString stateName(int state)
{
    return state == StateRead ? QStringLiteral("read") : QStringLiteral("new");
}

// Writes the data to a new file beside the path and renames it over the path: a failure leaves what was there
// as it was, and a symbolic link that appears at the path in the meantime is replaced, never followed (the
// new file is created exclusively, and a rename replaces the name itself). Gives the reason of a failure.
QString writeReplacing(const QString& path, const QByteArray& data, bool ownerOnly)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 20; ++attempt) {
        temporary = target + ".new-" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        // The permissions are given at creation, so the secrets are never readable by others.
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return qt_error_string(errno);
    int fault = 0;
    for (qsizetype done = 0; !fault && done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            fault = n == 0 ? EIO : errno;
    }
    if (!fault && ::fsync(fd) != 0)
        fault = errno;
    if (::close(fd) != 0 && !fault)
        fault = errno;
    if (!fault && ::rename(temporary.constData(), target.constData()) != 0)
        fault = errno;
    if (fault) {
        ::unlink(temporary.constData());
        return qt_error_string(fault);
    }
    return {};
}
} // namespace

QByteArray TaskExchange::toJson(const QList<Task*>& tasks, bool withResults)
{
    QJsonArray list;
    for (const Task* task : tasks) {
        QJsonObject entry{{QStringLiteral("name"), task->name()},
                          {QStringLiteral("address"), task->address()},
                          {QStringLiteral("keyword"), task->keyword()},
                          {QStringLiteral("frequency"), task->frequency()}};
        if (task->taskDate().isValid())
            entry.insert(QStringLiteral("created"), task->taskDate().toString(DateFormat));
        const QHash<QString, QString> options = portableOptions(task->options());
        if (!options.isEmpty()) {
            QJsonObject named;
            for (auto it = options.cbegin(); it != options.cend(); ++it)
                named.insert(it.key(), it.value());
            entry.insert(QStringLiteral("options"), named);
        }
        if (withResults) {
            QJsonArray results;
            for (const Task::ResultPtr& result : task->results()) {
                QJsonObject record{{QStringLiteral("text"), result->text},
                                   {QStringLiteral("link"), result->link},
                                   {QStringLiteral("state"), stateName(result->state)}};
                if (result->date.isValid())
                    record.insert(QStringLiteral("date"), result->date.toString(DateFormat));
                results.append(record);
            }
            entry.insert(QStringLiteral("results"), results);
        }
        list.append(entry);
    }
    const QJsonObject document{
        {QStringLiteral("format"), Format}, {QStringLiteral("version"), Version}, {QStringLiteral("tasks"), list}};
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

bool TaskExchange::holdsSecrets(const QList<Task*>& tasks)
{
    return std::any_of(tasks.cbegin(), tasks.cend(), [](const Task* task) {
        const QHash<QString, QString> options = portableOptions(task->options());
        // Where news goes holds tokens as often as headers do: a command's arguments, an address, its headers.
        return options.contains(QLatin1String(Task::RequestHeadersOption)) ||
               options.contains(QLatin1String(Task::UserAgentOption)) ||
               options.contains(QLatin1String(NewsDestination::CommandOption)) ||
               options.contains(QLatin1String(NewsDestination::PostOption)) ||
               options.contains(QLatin1String(NewsDestination::HeadersOption));
    });
}

bool TaskExchange::writeFile(const QString& path, const QList<Task*>& tasks, bool withResults, QString* error)
{
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = tr("Could not write %1: %2").arg(QFileInfo(path).fileName(), reason);
        return false;
    };
    // Writing through a link would replace a file the user did not name (and take its permissions away).
    if (QFileInfo(path).isSymLink())
        return fail(tr("it is a symbolic link. Choose another name."));
    const QString reason = writeReplacing(path, toJson(tasks, withResults), holdsSecrets(tasks));
    return reason.isEmpty() || fail(reason);
}
