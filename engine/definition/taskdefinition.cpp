// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/definition/taskdefinition.h"

#include "engine/definition/checkhours.h"

#include "engine/definition/task.h"
#include "engine/fetching/requestheaders.h"
#include "engine/matching/pageregion.h"
#include "engine/news/newsdelivery.h"

#include <QRegularExpression>
#include <QUrl>

TaskDefinition TaskDefinition::of(const Task& task)
{
    return {task.name(), task.address(), task.keyword(), task.frequency(), task.options()};
}

QString TaskDefinition::normalAddress(const QString& typed)
{
    QString address = typed;
    address.remove(QLatin1Char(' '));
    for (const QLatin1String scheme : {QLatin1String("http://"), QLatin1String("https://")}) {
        if (address.startsWith(scheme, Qt::CaseInsensitive))
            address.replace(0, scheme.size(), scheme);
    }
    if (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address;
}

QString TaskDefinition::withoutScheme(const QString& typed)
{
    // Anything naming a scheme of its own ("ftp:", "https:/x") is not offered one; a port ("example.org:8080")
    // is no scheme. The host must look like one typed for the web: with a dot, or this machine.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?!\\d)"));
    const QString address = normalAddress(typed);
    if (address.isEmpty() || scheme.match(address).hasMatch())
        return {};
    const QString withHttps = QStringLiteral("https://") + address;
    const QString host = QUrl(withHttps).host();
    if (!isWebAddress(withHttps) || !(host.contains(QLatin1Char('.')) || host == QLatin1String("localhost")))
        return {};
    return address;
}

TaskDefinition TaskDefinition::normalised() const
{
    TaskDefinition normal = *this;
    normal.name = name.simplified();
    normal.address = normalAddress(address);
    normal.keyword = keyword.simplified();
    const QString region = QLatin1String(Task::RegionOption);
    const QString excluded = QLatin1String(Task::ExcludedWordsOption);
    const auto set = [&normal](const QString& option, const QString& value) {
        if (value.isEmpty())
            normal.options.remove(option);
        else
            normal.options.insert(option, value);
    };
    set(region, options.value(region).trimmed());
    set(excluded, Task::excludedWords(options.value(excluded)).join(QStringLiteral(", ")));
    return normal;
}

bool TaskDefinition::isWebAddress(const QString& address)
{
    const bool knownScheme =
        address.startsWith(QLatin1String("http://")) || address.startsWith(QLatin1String("https://"));
    if (!knownScheme)
        return false;
    const QUrl url(address);
    return url.isValid() && !url.host().isEmpty();
}

namespace {
QString codePoint(char16_t u)
{
    return QString::number(u, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}
} // namespace

QString TaskDefinition::textProblem(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool bidi = (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
        if (bidi)
            return tr("holds the bidirectional control U+%1").arg(codePoint(u));
        if (c.category() == QChar::Other_Control && !c.isSpace())
            return tr("holds the control character U+%1").arg(codePoint(u));
    }
    return {};
}

bool TaskDefinition::sameWatch(const QString& address, const QString& keyword, const QString& otherAddress,
                               const QString& otherKeyword)
{
    return address == otherAddress && keyword.compare(otherKeyword, Qt::CaseInsensitive) == 0;
}

const QStringList& TaskDefinition::userOptions()
{
    static const QStringList names = {Task::scriptsOption(),
                                      QString::fromLatin1(Task::UserAgentOption),
                                      QString::fromLatin1(Task::RequestHeadersOption),
                                      QString::fromLatin1(Task::RegionOption),
                                      QString::fromLatin1(Task::ExcludedWordsOption),
                                      QString::fromLatin1(Task::PausedOption),
                                      QString::fromLatin1(Task::MutedOption),
                                      QString::fromLatin1(CheckHours::TaskOption),
                                      QString::fromLatin1(CheckHours::VaryOption),
                                      QString::fromLatin1(Task::ReportNewLinksOption)};
    static const QStringList withNews = names + NewsDestination::taskOptions();
    return withNews;
}

const QStringList& TaskDefinition::switchOptions()
{
    static const QStringList names = {QString::fromLatin1(Task::PausedOption), QString::fromLatin1(Task::MutedOption)};
    return names;
}

QString TaskDefinition::optionProblem(const QString& option, const QString& value)
{
    if (value.isEmpty())
        return {};
    if (option == QLatin1String(CheckHours::TaskOption))
        return CheckHours::problem(value);
    if (option == Task::scriptsOption() || option == QLatin1String(CheckHours::VaryOption) ||
        switchOptions().contains(option))
        return value == QLatin1String("1") ? QString() : tr("expected \"1\"");
    if (option == QLatin1String(Task::ReportNewLinksOption))
        return value == QLatin1String("1") || value == QLatin1String("0") ? QString() : tr("expected \"1\" or \"0\"");
    if (NewsDestination::taskOptions().contains(option))
        return NewsDestination::optionProblem(option, value);
    if (option == QLatin1String(Task::UserAgentOption))
        return RequestHeaders::problem(QStringLiteral("User-Agent"), value.trimmed());
    if (option == QLatin1String(Task::RequestHeadersOption)) {
        QString error;
        RequestHeaders::parse(value, &error);
        return error;
    }
    if (option == QLatin1String(Task::RegionOption))
        return PageRegion::problem(value);
    if (option == QLatin1String(Task::ExcludedWordsOption))
        return value.size() > MaxExcludedLength ? tr("longer than %1 characters").arg(MaxExcludedLength)
                                                : textProblem(value);
    return {};
}

QHash<QString, QString> TaskDefinition::userOptionsOf(const QHash<QString, QString>& options)
{
    QHash<QString, QString> kept;
    for (const QString& option : userOptions()) {
        const QString value = options.value(option);
        if (!value.isEmpty())
            kept.insert(option, value);
    }
    return kept;
}

TaskDefinition::Problem TaskDefinition::check(int parts) const
{
    const auto tooLong = [](const QString& text) { return text.size() > MaxTextLength; };
    const QString longer = tr("longer than %1 characters").arg(MaxTextLength);
    if (name.isEmpty())
        return {Field::Name, {}, tr("empty"), true};
    if (tooLong(name))
        return {Field::Name, {}, longer};
    if (const QString why = textProblem(name); !why.isEmpty())
        return {Field::Name, {}, why};
    if (address.isEmpty())
        return {Field::Address, {}, tr("empty"), true};
    if (tooLong(address))
        return {Field::Address, {}, longer};
    if (keyword.isEmpty())
        return {Field::Keyword, {}, tr("empty"), true};
    if (tooLong(keyword))
        return {Field::Keyword, {}, longer};
    if (const QString why = textProblem(keyword); !why.isEmpty())
        return {Field::Keyword, {}, why};
    if (!isWebAddress(address))
        return {Field::Address, {}, tr("not a web address beginning with http:// or https://")};
    if ((parts & Frequency) && (frequency < 1 || frequency > MaxFrequency))
        return {Field::Frequency, {}, tr("expected from 1 to %1 seconds").arg(MaxFrequency)};
    if (parts & (Options | Region)) {
        for (const QString& option : userOptions()) {
            if (!(parts & Options) && option != QLatin1String(Task::RegionOption))
                continue;
            const QString why = optionProblem(option, options.value(option));
            if (!why.isEmpty())
                return {Field::Option, option, why};
        }
        // Its own news goes somewhere: a task told to use its own destinations names at least one.
        const auto own = [this](const char* option) {
            return !options.value(QLatin1String(option)).trimmed().isEmpty();
        };
        if ((parts & Options) && options.value(QLatin1String(NewsDestination::ToOption)) == QLatin1String("own") &&
            !own(NewsDestination::CommandOption) && !own(NewsDestination::PostOption))
            return {Field::Option, QString::fromLatin1(NewsDestination::CommandOption), NewsDestination{}.problem()};
    }
    return {};
}

QString TaskDefinition::Problem::text() const
{
    QString where;
    switch (field) {
    case Field::None:
        return {};
    case Field::Name:
        where = QStringLiteral("name");
        break;
    case Field::Address:
        where = QStringLiteral("address");
        break;
    case Field::Keyword:
        where = QStringLiteral("keyword");
        break;
    case Field::Frequency:
        where = QStringLiteral("frequency");
        break;
    case Field::Option:
        where = QStringLiteral("options.") + option;
        break;
    }
    return tr("%1: %2").arg(where, reason);
}
