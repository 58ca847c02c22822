// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/monitorparts.h"
#include "engine/clock.h"
#include "engine/definition/task.h"
#include "storage/taskdatabase.h"
#include "tests/support/dbfile.h"
#include "tests/support/testserver.h"

#include <QDateTime>
#include <QStringList>

#include <utility>

// A clock the test moves by hand, so tasks fall due without waiting.
// Reads `at`; with a step it moves on by that much at every reading, as a real clock does between two reads.
struct TestClock : Clock
{
    mutable QDateTime at = QDateTime::currentDateTime();
    qint64 stepMs = 0;
    QDateTime now() const override { return std::exchange(at, at.addMSecs(stepMs)); }
};

// The tasks a test stored in its task.db, loaded by the core as the program builds it (on the test's clock
// when given).
struct Loaded : MonitorParts
{
    explicit Loaded(const QString& path, const Clock* clock = nullptr) : MonitorParts(path)
    {
        core.setClock(clock);
        core.watches().loadTasks();
    }
    explicit Loaded(const TempFolder& fixture, const Clock* clock = nullptr) : Loaded(fixture.path("task.db"), clock) {}
    TaskChecker& checker = core;
};

// The texts of the records, in their order.
inline QStringList texts(const Task::ResultList& results)
{
    QStringList out;
    for (const Task::ResultPtr& result : results)
        out << result->text;
    return out;
}

// A page of links /l0, /l1, ... with the given texts.
inline QByteArray linkPage(const QStringList& texts)
{
    QByteArray html = "<html><body>\n";
    for (int i = 0; i < texts.size(); ++i)
        html += "<a href=\"/l" + QByteArray::number(i) + "\">" + texts.at(i).toUtf8() + "</a>\n";
    return html + "</body></html>";
}

// A stored task of the server's page at path whose one result "qt 1" is at link /l0 of its page.
inline void storeLinkTask(DbFile& file, const TestServer& server, int id, const QString& name, const QString& path,
                          const QString& lastUpdate = QStringLiteral("2009-01-01T10:00:00"))
{
    file.addTask(id, name, server.url(path).toString(), QStringLiteral("qt"), 3600, lastUpdate);
    file.addResult(id, QStringLiteral("01/01/2009"), QStringLiteral("qt 1"),
                   server.url(path).resolved(QUrl("/l0")).toString());
}
// The same in the file at dbPath, through a connection open for this task alone.
inline void storeLinkTask(const QString& dbPath, const TestServer& server, int id, const QString& name,
                          const QString& path, const QString& lastUpdate = QStringLiteral("2009-01-01T10:00:00"))
{
    DbFile file(dbPath);
    storeLinkTask(file, server, id, name, path, lastUpdate);
}
