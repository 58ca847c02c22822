// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/appsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

QString AutoStart::entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/vantrel-monitor.desktop");
}

QString AutoStart::command(const QString& executablePath)
{
    // Desktop Entry quoting: inside double quotes ", `, $ and \ take a backslash, and % is a field
    // code unless doubled. The whole value is then escaped as a string value.
    QString quoted;
    quoted.reserve(executablePath.size() + 8);
    for (const QChar c : executablePath) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }

    return stringValue(QLatin1Char('"') + quoted + QLatin1Char('"'));
}

QString AutoStart::stringValue(const QString& text)
{
    QString value;
    value.reserve(text.size() + 8);
    for (const QChar c : text) {
        // Readers drop blanks at the start of a value; \s keeps a leading one.
        if (c == QLatin1Char(' ') && value.isEmpty())
            value += QLatin1String("\\s");
        else if (c == QLatin1Char('\\'))
            value += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            value += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            value += QLatin1String("\\r");
        else
            value += c;
    }
    return value;
}

bool AutoStart::install(const QString& executablePath, const QString& workingFolder)
{
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;

    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Vantrel Monitor\n"
                                         "Exec=%1\n"
                                         "Path=%2\n"
                                         "Icon=vantrel-monitor\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(command(executablePath), stringValue(workingFolder));

    // Written to a temporary file and renamed, so a failed write never leaves half an entry behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = entry.toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool AutoStart::remove()
{
    const QString path = entryPath();
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return true;
    return QFile::remove(path);
}
