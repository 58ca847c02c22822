// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Task definitions no way into the program may take, with how the message about the first problem begins and
// the ways in (doors) that can be handed each: a dialog's line edit holds no more than its length, and a row
// of task.db is taken with the frequency and options it holds.
#include "engine/definition/task.h"
#include "engine/definition/taskdefinition.h"

#include <QList>
#include <QTest>

struct HostileTask
{
    enum Door
    {
        Dialog = 1,
        Core = 2,
        Import = 4,
        Load = 8,
        All = 15,
        NoDialog = Core | Import | Load,
        NoLoad = Dialog | Core | Import
    };
    const char* tag;
    TaskDefinition definition;
    QString prefix; // "keyword: ", "options.user_agent: "
    int doors;
};

inline QList<HostileTask> hostileTasks()
{
    const QString at = QStringLiteral("http://a.test/x");
    const QString huge(TaskDefinition::MaxTextLength + 1, u'n');
    const QString ua = QString::fromLatin1(Task::UserAgentOption);
    const QString rh = QString::fromLatin1(Task::RequestHeadersOption);
    const QString uaProblem = "options." + ua + ": ";
    const QString rhProblem = "options." + rh + ": ";
    using H = HostileTask;
    // clang-format off
    return {
        {"empty name", {"", at, "qt", 3600, {}}, "name: ", H::All},
        {"name of spaces", {"   ", at, "qt", 3600, {}}, "name: ", H::All},
        {"name beyond the line edit", {huge, at, "qt", 3600, {}}, "name: ", H::NoDialog},
        {"keyword of spaces", {"N", at, " \t ", 3600, {}}, "keyword: ", H::All},
        {"keyword beyond the line edit", {"N", at, huge, 3600, {}}, "keyword: ", H::NoDialog},
        {"file address", {"N", "file:///etc/passwd", "qt", 3600, {}}, "address: ", H::All},
        {"no host", {"N", "http://", "qt", 3600, {}}, "address: ", H::All},
        {"frequency of none", {"N", at, "qt", 0, {}}, "frequency: ", H::Core | H::Import},
        {"User-Agent with CR LF", {"N", at, "qt", 60, {{ua, "A\r\nX-I: 1"}}}, uaProblem, H::Core | H::Import},
        {"Host header", {"N", at, "qt", 60, {{rh, "Host: evil.test"}}}, rhProblem, H::NoLoad},
        {"header with a control byte", {"N", at, "qt", 60, {{rh, "X-A: a\x01b"}}}, rhProblem, H::NoLoad},
        {"region that does not parse", {"N", at, "qt", 60, {{"region", "ul > [href"}}}, "options.region: ", H::NoLoad},
        {"XPath that does not parse", {"N", at, "qt", 60, {{"region", "//ul[@id="}}}, "options.region: ", H::NoLoad},
        {"XPath joining sets in a predicate", {"N", at, "qt", 60, {{"region", "//li[.//a | .//b]"}}}, "options.region: ",
         H::NoDialog},
        {"region beyond its bound", {"N", at, "qt", 60, {{"region", QString(1001, u'p')}}}, "options.region: ", H::NoLoad},
        {"excluded words beyond their bound", {"N", at, "qt", 60, {{"excluded_words", QString(1001, u'w')}}},
         "options.excluded_words: ", H::NoLoad},
        {"scripts not 1", {"N", at, "qt", 60, {{"scripts", "yes"}}}, "options.scripts: ", H::Core | H::Import},
        {"name with BEL", {"N\aN", at, "qt", 3600, {}}, "name: ", H::All},
        {"name with DEL", {"N\x7fN", at, "qt", 3600, {}}, "name: ", H::All},
        {"name with a right-to-left override", {QStringLiteral("N\u202Egpj.exe"), at, "qt", 3600, {}}, "name: ", H::All},
        {"name with an isolate", {QStringLiteral("N\u2066N"), at, "qt", 3600, {}}, "name: ", H::All},
        {"keyword with ESC", {"N", at, "q\x1b[2Jt", 3600, {}}, "keyword: ", H::All},
        {"keyword with NUL", {"N", at, QString("q") + QChar(0) + "t", 3600, {}}, "keyword: ", H::All},
        {"keyword with a C1 control", {"N", at, QStringLiteral("q\u009Bt"), 3600, {}}, "keyword: ", H::All},
        {"keyword with an embedding", {"N", at, QStringLiteral("q\u202At"), 3600, {}}, "keyword: ", H::All},
        {"excluded word with a control", {"N", at, "qt", 60, {{"excluded_words", "a\x1b"}}}, "options.excluded_words: ",
         H::NoLoad},
    };
    // clang-format on
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
