// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"
#include "engine/definition/taskdefinition.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDate>
#include <QHash>
#include <QList>
#include <QString>

// One task as a file of exported tasks describes it.
struct ExchangeTask
{
    TaskDefinition definition; // the user's options only
    QDate created;             // invalid: the day of the import
    bool withResults = false;  // false: the page is downloaded, as at creation
    Task::ResultList results;
};

// Tasks taken to another machine or kept as a copy: written as JSON (a "format" and "version" field, then
// the tasks with, if wanted, their results), read back from such a file or from a plain text file of one
// address per line. Reading checks every field and stops at the first fault with a message that names the
// line or field, so a faulty file imports nothing.
class TaskExchange
{
    Q_DECLARE_TR_FUNCTIONS(TaskExchange)

public:
    static constexpr qint64 MaxFileSize = 64 * 1024 * 1024;
    static constexpr int MaxTasks = 10000;
    static constexpr int Version = 1;
    static const QString Format;
    // Dates of tasks and results as a file writes them.
    static const QString DateFormat;

    enum class Kind
    {
        Tasks,      // a file this program exported: complete tasks
        AddressList // addresses only: the keyword and frequency are asked for
    };
    struct Read
    {
        Kind kind = Kind::Tasks;
        QList<ExchangeTask> tasks;
        QString error; // empty when the file was read
    };

    static QByteArray toJson(const QList<Task*>& tasks, bool withResults);
    // Whether an export of the tasks holds what may open a user's account elsewhere: a task's own request
    // headers (a cookie) or User-Agent.
    static bool holdsSecrets(const QList<Task*>& tasks);
    // Written to a temporary file first, so a failure leaves an existing file as it was. A file that
    // holdsSecrets() is readable by its owner only. A symbolic link at the path is refused, and one that
    // appears while the file is written is replaced: the file a link points to is never written.
    static bool writeFile(const QString& path, const QList<Task*>& tasks, bool withResults, QString* error);

    // A JSON document (its first character other than white space is "{") or an address list, in UTF-8, or
    // in the encoding a byte-order mark names (UTF-8, UTF-16 or UTF-32, either byte order).
    static Read parse(const QByteArray& file);
    static Read readFile(const QString& path);
    // Gives every task of an address list the keyword and frequency asked for.
    static void setKeyword(Read& read, const QString& keyword, int frequency);

    // A task's options that mean the same on another machine: the validators of the page last read are left
    // out, so the imported task reads its page whole.
    static QHash<QString, QString> portableOptions(const QHash<QString, QString>& options);
    // The rule of the new-task dialog: an absolute address beginning with http:// or https://.
    static bool isWebAddress(const QString& address);

private:
    static Read parseJson(const QByteArray& data);
    static Read parseAddressList(const QByteArray& data);
};
