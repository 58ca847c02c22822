// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Task definitions no way into the program may take: each with the field the check names first, and the
// ways in that can be handed it (a dialog's line edit cannot hold more than its length, a row of task.db is
// taken with the frequency and options it holds).
#include "engine/task.h"
#include "engine/taskdefinition.h"

#include <QList>
#include <QTest>

struct HostileTask
{
    enum Door
    {
        Dialog = 0x1,
        Core = 0x2,
        Import = 0x4,
        Load = 0x8,
        Every = Dialog | Core | Import | Load
    };
    const char* tag;
    TaskDefinition definition;
    TaskDefinition::Field field;
    int doors;
};

inline QList<HostileTask> hostileTasks()
{
    using F = TaskDefinition::Field;
    const QString address = QStringLiteral("http://a.test/x");
    const auto agent = [](const QString& value) {
        return QHash<QString, QString>{{QString::fromLatin1(Task::UserAgentOption), value}};
    };
    const auto headers = [](const QString& value) {
        return QHash<QString, QString>{{QString::fromLatin1(Task::RequestHeadersOption), value}};
    };
    const QString huge(TaskDefinition::MaxTextLength + 1, u'n');
    return {
        {"empty name", {"", address, "qt", 3600, {}}, F::Name, HostileTask::Every},
        {"name of spaces", {"   ", address, "qt", 3600, {}}, F::Name, HostileTask::Every},
        {"name beyond the line edit",
         {huge, address, "qt", 3600, {}},
         F::Name,
         HostileTask::Core | HostileTask::Import | HostileTask::Load},
        {"keyword of spaces", {"N", address, " \t ", 3600, {}}, F::Keyword, HostileTask::Every},
        {"keyword beyond the line edit",
         {"N", address, huge, 3600, {}},
         F::Keyword,
         HostileTask::Core | HostileTask::Import | HostileTask::Load},
        {"file address", {"N", "file:///etc/passwd", "qt", 3600, {}}, F::Address, HostileTask::Every},
        {"scheme in capitals", {"N", "HTTP://a.test/x", "qt", 3600, {}}, F::Address, HostileTask::Every},
        {"no host", {"N", "http://", "qt", 3600, {}}, F::Address, HostileTask::Every},
        {"frequency of none", {"N", address, "qt", 0, {}}, F::Frequency, HostileTask::Core | HostileTask::Import},
        {"User-Agent with CR LF",
         {"N", address, "qt", 3600, agent("A/1\r\nX-Injected: 1")},
         F::Option,
         HostileTask::Core | HostileTask::Import},
        {"Host header",
         {"N", address, "qt", 3600, headers("Host: evil.test")},
         F::Option,
         HostileTask::Every & ~HostileTask::Load},
        {"header with a control byte",
         {"N", address, "qt", 3600, headers("X-A: a\x01b")},
         F::Option,
         HostileTask::Every & ~HostileTask::Load},
        {"scripts not 1",
         {"N", address, "qt", 3600, {{Task::scriptsOption(), "yes"}}},
         F::Option,
         HostileTask::Core | HostileTask::Import},
    };
}

// How a message about the task's first problem begins ("keyword: ", "options.user_agent: ").
inline QString problemPrefix(const HostileTask& hostile)
{
    switch (hostile.field) {
    case TaskDefinition::Field::Name:
        return QStringLiteral("name: ");
    case TaskDefinition::Field::Address:
        return QStringLiteral("address: ");
    case TaskDefinition::Field::Keyword:
        return QStringLiteral("keyword: ");
    case TaskDefinition::Field::Frequency:
        return QStringLiteral("frequency: ");
    default:
        return QStringLiteral("options.") + hostile.definition.options.keys().value(0) + QStringLiteral(": ");
    }
}

// One data row per hostile task that can be handed in at the door.
inline void addHostileRows(int door)
{
    QTest::addColumn<int>("row");
    const QList<HostileTask> all = hostileTasks();
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i).doors & door)
            QTest::addRow("%s", all.at(i).tag) << i;
    }
}
