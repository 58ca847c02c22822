// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>

namespace DataFolder {
// The folder task.db is kept in: the working folder the program was started in, except for a start from the
// desktop menu, whose working folder is the home folder. Then it is the program's folder under the user's data
// folder (xdgDataHome when it is an absolute path, else ~/.local/share), as desktop programs keep theirs, unless
// an earlier such start left a task.db in the home folder, which is still used.
inline QString of(const QString& current, const QString& home, const QString& xdgDataHome)
{
    if (QDir(current) != QDir(home) || QFileInfo::exists(QDir(home).filePath(QStringLiteral("task.db"))))
        return current;
    const QString base =
        QDir::isAbsolutePath(xdgDataHome) ? xdgDataHome : QDir(home).filePath(QStringLiteral(".local/share"));
    return QDir(base).filePath(QStringLiteral("vantrel-monitor"));
}
} // namespace DataFolder
