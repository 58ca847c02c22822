// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/taskexchange.h"

#include "core/taskchecker.h"
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

const QString TaskExchange::Format = QStringLiteral("vantrel-monitor-tasks");
const QString TaskExchange::DateFormat = QStringLiteral("yyyy-MM-dd");

namespace {
// Dates of tasks and results a file may give: none before the program's kind existed, none centuries ahead.
const QDate FirstDate(1990, 1, 1);
const QDate LastDate(2100, 12, 31);
constexpr qsizetype MaxResultText = TaskDefinition::MaxTextLength;
constexpr qsizetype MaxResultLink = 64 * 1024;

// A date as a file writes it, within the range above; invalid otherwise.
QDate fileDate(const QString& text)
{
    const QDate date = QDate::fromString(text, TaskExchange::DateFormat);
    return date >= FirstDate && date <= LastDate ? date : QDate();
}

// Line and column of a byte offset, both from 1, for a message about the file.
QPair<int, int> lineAndColumn(const QByteArray& data, qsizetype offset)
{
    const QByteArray before = data.left(offset);
    const int line = int(before.count('\n')) + 1;
    const int column = int(offset - (before.lastIndexOf('\n') + 1)) + 1;
    return {line, column};
}

// Reads one task's fields; the first fault found is returned as a message, empty when all is well.
class FieldReader
{
    Q_DECLARE_TR_FUNCTIONS(TaskExchange)

public:
    explicit FieldReader(QString path) : m_path(std::move(path)) {}
    QString error;

    bool ok() const { return error.isEmpty(); }
    QString field(const QString& name) const { return m_path + QStringLiteral(", ") + name; }
    void fail(const QString& where, const QString& what)
    {
        if (error.isEmpty())
            error = tr("%1: %2").arg(where, what);
    }
    QString text(const QJsonObject& object, const QString& name, bool required)
    {
        const QJsonValue value = object.value(name);
        if (value.isUndefined()) {
            if (required)
                fail(field(name), tr("missing"));
            return {};
        }
        if (!value.isString()) {
            fail(field(name), tr("expected a text"));
            return {};
        }
        return value.toString();
    }

private:
    QString m_path;
};
} // namespace

bool TaskExchange::isWebAddress(const QString& address)
{
    return TaskDefinition::isWebAddress(address);
}

QHash<QString, QString> TaskExchange::portableOptions(const QHash<QString, QString>& options)
{
    QHash<QString, QString> portable = options;
    portable.remove(QLatin1String(Task::EtagOption));
    portable.remove(QLatin1String(Task::LastModifiedOption));
    // A failure mark belongs to this computer's checks, not to the task's definition.
    portable.remove(QLatin1String(CheckStates::FailureOption));
    portable.remove(QLatin1String(CheckStates::FailuresInRowOption));
    for (const QString& option : TaskHealth::stateOptions())
        portable.remove(option);
    for (auto it = portable.begin(); it != portable.end();) {
        if (it.value().isEmpty())
            it = portable.erase(it);
        else
            ++it;
    }
    return portable;
}

TaskExchange::Read TaskExchange::readFile(const QString& path)
{
    Read read;
    const QString name = QFileInfo(path).fileName();
    const QFileInfo info(path);
    if (!info.isFile()) {
        read.error = tr("%1 is not a file.").arg(name);
        return read;
    }
    if (info.size() > MaxFileSize) {
        read.error = tr("%1 is larger than %2 MiB.").arg(name).arg(MaxFileSize / (1024 * 1024));
        return read;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        read.error = tr("Could not read %1: %2").arg(name, file.errorString());
        return read;
    }
    // The size is read again: the file may have grown since it was looked at.
    const QByteArray data = file.read(MaxFileSize + 1);
    if (data.size() > MaxFileSize) {
        read.error = tr("%1 is larger than %2 MiB.").arg(name).arg(MaxFileSize / (1024 * 1024));
        return read;
    }
    read = parse(data);
    if (!read.error.isEmpty())
        read.error = tr("%1: %2").arg(name, read.error);
    return read;
}

TaskExchange::Read TaskExchange::parse(const QByteArray& file)
{
    // A byte-order mark (editors on some systems write one) says how the text is written: it is read
    // without the mark, as the UTF-8 the rest of the reading expects.
    QByteArray data = file;
    if (const std::optional<QStringConverter::Encoding> encoding = QStringConverter::encodingForData(file)) {
        // Stateless: a sequence cut off at the end is an error, not a wait for more. The decoder lets a lone
        // surrogate and a last odd byte of UTF-16 or UTF-32 through, so they are looked for here.
        QStringDecoder decoder(*encoding, QStringConverter::Flag::Stateless);
        const QString text = decoder(file);
        using Converter = QStringConverter;
        const bool utf16 = *encoding == Converter::Utf16LE || *encoding == Converter::Utf16BE;
        const qsizetype unit = *encoding == Converter::Utf8 ? 1 : utf16 ? 2 : 4;
        if (decoder.hasError() || file.size() % unit != 0 || !text.isValidUtf16()) {
            Read read;
            const QString name = QString::fromLatin1(QStringConverter::nameForEncoding(*encoding));
            read.error = tr("the file begins with the byte-order mark of %1 but is not %1 text").arg(name);
            return read;
        }
        data = text.toUtf8();
    }
    for (const char c : data) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        return c == '{' ? parseJson(data) : parseAddressList(data);
    }
    Read read;
    read.error = tr("the file holds no tasks");
    return read;
}

void TaskExchange::setKeyword(Read& read, const QString& keyword, int frequency)
{
    for (ExchangeTask& task : read.tasks) {
        task.definition.keyword = keyword;
        task.definition.frequency = frequency;
    }
}

TaskExchange::Read TaskExchange::parseAddressList(const QByteArray& data)
{
    Read read;
    read.kind = Kind::AddressList;
    if (data.contains('\0')) {
        read.error = tr("this is neither a list of addresses nor a file of exported tasks");
        return read;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder(data);
    if (decoder.hasError()) {
        read.error = tr("the file is not UTF-8 text");
        return read;
    }
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue; // blank lines and comments
        // As the new-task dialog takes an address: spaces removed, one trailing slash dropped.
        const QString address = TaskDefinition::normalAddress(line);
        if (address.size() > TaskDefinition::MaxTextLength || !isWebAddress(address)) {
            read.error = tr("line %1: \"%2\" is not a web address beginning with http:// or https://")
                             .arg(i + 1)
                             .arg(address.left(80));
            read.tasks.clear();
            return read;
        }
        if (read.tasks.size() == MaxTasks) {
            read.error = tr("line %1: more than %2 addresses").arg(i + 1).arg(MaxTasks);
            read.tasks.clear();
            return read;
        }
        ExchangeTask task;
        const QUrl url(address);
        task.definition.name = (url.host() + url.path()).left(TaskDefinition::MaxTextLength);
        task.definition.address = address;
        read.tasks.append(task);
    }
    if (read.tasks.isEmpty())
        read.error = tr("the file holds no addresses");
    return read;
}

TaskExchange::Read TaskExchange::parseJson(const QByteArray& data)
{
    Read read;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const auto [line, column] = lineAndColumn(data, parseError.offset);
        read.error = tr("line %1, column %2: %3").arg(line).arg(column).arg(parseError.errorString());
        return read;
    }
    const QJsonObject top = document.object();
    if (top.value(QStringLiteral("format")).toString() != Format) {
        read.error = tr("format: not a file of tasks exported by Vantrel Monitor (\"%1\" expected)").arg(Format);
        return read;
    }
    const QJsonValue version = top.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != Version) {
        read.error = tr("version: %1 is not known; this program reads version %2")
                         .arg(version.isDouble() ? QString::number(version.toDouble())
                                                 : QStringLiteral("\"%1\"").arg(version.toVariant().toString()))
                         .arg(Version);
        return read;
    }
    const QJsonValue tasks = top.value(QStringLiteral("tasks"));
    if (!tasks.isArray()) {
        read.error = tr("tasks: expected a list of tasks");
        return read;
    }
    const QJsonArray list = tasks.toArray();
    if (list.size() > MaxTasks) {
        read.error = tr("tasks: more than %1 tasks").arg(MaxTasks);
        return read;
    }
    for (qsizetype i = 0; i < list.size(); ++i) {
        // Tasks are counted from 1, as a user counts them.
        const QString where = tr("task %1").arg(i + 1);
        FieldReader reader(where);
        if (!list.at(i).isObject()) {
            read.error = tr("%1: expected a task (an object)").arg(where);
            read.tasks.clear();
            return read;
        }
        const QJsonObject object = list.at(i).toObject();
        ExchangeTask task;
        TaskDefinition& entered = task.definition;
        entered.name = reader.text(object, QStringLiteral("name"), true);
        entered.address = reader.text(object, QStringLiteral("address"), true);
        entered.keyword = reader.text(object, QStringLiteral("keyword"), true);
        const QJsonValue frequency = object.value(QStringLiteral("frequency"));
        const double seconds = frequency.toDouble();
        // Only its form here: its range is the rule of every door, checked with the definition below.
        if (reader.ok() && (!frequency.isDouble() || seconds != std::floor(seconds) || std::abs(seconds) > INT_MAX))
            reader.fail(reader.field(QStringLiteral("frequency")), tr("expected a whole number of seconds"));
        entered.frequency = reader.ok() ? int(seconds) : 0;
        const QString created = reader.text(object, QStringLiteral("created"), false);
        if (reader.ok() && !created.isEmpty()) {
            task.created = fileDate(created);
            if (!task.created.isValid())
                reader.fail(reader.field(QStringLiteral("created")),
                            tr("expected a date as yyyy-mm-dd from %1 to %2")
                                .arg(FirstDate.toString(DateFormat), LastDate.toString(DateFormat)));
        }
        const QJsonValue options = object.value(QStringLiteral("options"));
        if (reader.ok() && !options.isUndefined()) {
            if (!options.isObject())
                reader.fail(reader.field(QStringLiteral("options")), tr("expected names with texts (an object)"));
            const QJsonObject named = options.toObject();
            // Options this program does not know (a newer copy's) are left out.
            for (const QString& option : TaskDefinition::userOptions()) {
                const QJsonValue value = named.value(option);
                if (!reader.ok() || value.isUndefined())
                    continue;
                if (!value.isString())
                    reader.fail(reader.field(QStringLiteral("options.") + option), tr("expected a text"));
                entered.options.insert(option, value.toString());
            }
        }
        // The checks of the new-task dialog, on the entries as the task would use them.
        if (reader.ok()) {
            entered = entered.normalised();
            if (const TaskDefinition::Problem problem = entered.check())
                reader.error = tr("%1, %2").arg(where, problem.text());
            entered.options = TaskDefinition::userOptionsOf(entered.options);
        }
        const QJsonValue results = object.value(QStringLiteral("results"));
        if (reader.ok() && !results.isUndefined()) {
            task.withResults = true;
            if (!results.isArray())
                reader.fail(reader.field(QStringLiteral("results")), tr("expected a list of results"));
            const QJsonArray records = results.toArray();
            for (qsizetype r = 0; reader.ok() && r < records.size(); ++r) {
                FieldReader field(tr("%1, result %2").arg(where).arg(r + 1));
                if (!records.at(r).isObject()) {
                    reader.fail(tr("%1, result %2").arg(where).arg(r + 1), tr("expected a result (an object)"));
                    break;
                }
                const QJsonObject record = records.at(r).toObject();
                auto result = Task::ResultPtr::create();
                result->text = field.text(record, QStringLiteral("text"), true);
                if (field.ok() && result->text.size() > MaxResultText)
                    field.fail(field.field(QStringLiteral("text")), tr("longer than %1 characters").arg(MaxResultText));
                result->link = field.text(record, QStringLiteral("link"), true);
                if (field.ok() && result->link.size() > MaxResultLink)
                    field.fail(field.field(QStringLiteral("link")), tr("longer than %1 characters").arg(MaxResultLink));
                const QString date = field.text(record, QStringLiteral("date"), false);
                result->date = date.isEmpty() ? QDate() : fileDate(date);
                if (field.ok() && !date.isEmpty() && !result->date.isValid())
                    field.fail(field.field(QStringLiteral("date")),
                               tr("expected a date as yyyy-mm-dd from %1 to %2")
                                   .arg(FirstDate.toString(DateFormat), LastDate.toString(DateFormat)));
                const QString state = field.text(record, QStringLiteral("state"), true);
                if (field.ok() && state != QLatin1String("new") && state != QLatin1String("read"))
                    field.fail(field.field(QStringLiteral("state")), tr("expected \"new\" or \"read\""));
                result->state = state == QLatin1String("read") ? StateRead : StateNew;
                if (!field.ok())
                    reader.error = field.error;
                task.results.append(result);
            }
        }
        if (!reader.ok()) {
            read.error = reader.error;
            read.tasks.clear();
            return read;
        }
        read.tasks.append(task);
    }
    if (read.tasks.isEmpty())
        read.error = tr("tasks: the file holds no tasks");
    return read;
}
