// SPDX-License-Identifier: GPL-3.0-or-later
// A program of the single-instance tests: starts as Vantrel Monitor does on the task.db it is given and
// prints what happened, one line each: its outcome, "ready" once its event loop runs, "activated" for each
// later start that asked for the window.
//   singleinstance_helper TASKDB RUNTIMEFOLDER [LOADMS [SERVEMS [UNTIL [EXTRA]]]]
// LOADMS: how long the first program blocks before its event loop runs (a large task.db loading).
// SERVEMS: how long it runs afterwards at most; UNTIL: it ends once that many starts asked for the window.
// EXTRA "child": the first program starts a program of its own that outlives it (as a browser opened from
// a result does) and prints its process id.
#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {
void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 64;
    const int loadMs = args.value(3, QStringLiteral("0")).toInt();
    const int serveMs = args.value(4, QStringLiteral("10000")).toInt();
    const int until = args.value(5, QStringLiteral("0")).toInt();
    const QString extra = args.value(6);

    say(QFileInfo(QFileInfo(args[1]).absolutePath()).isWritable() ? "folder writable" : "folder read-only");
    SingleInstance guard(args[1]);
    guard.setRuntimeFolder(args[2]);
    switch (guard.start()) {
    case SingleInstance::Outcome::HandedOver:
        say("handed-over");
        return 0;
    case SingleInstance::Outcome::NoAnswer:
        say("no-answer");
        return 2;
    case SingleInstance::Outcome::Cancelled:
        say("cancelled");
        return 3;
    case SingleInstance::Outcome::NoLock:
        say("no-lock");
        return 4;
    case SingleInstance::Outcome::Primary:
        say("primary");
        break;
    }
    QThread::msleep(ulong(loadMs));
    if (extra == QLatin1String("child")) {
        qint64 pid = 0;
        if (!QProcess::startDetached(QStringLiteral("sleep"), {QStringLiteral("30")}, QString(), &pid))
            return 70;
        std::printf("child %lld\n", pid);
        std::fflush(stdout);
    }
    int asked = 0;
    QObject::connect(&guard, &SingleInstance::activationRequested, &app, [&] {
        say("activated");
        if (++asked == until)
            QCoreApplication::quit();
    });
    // Queued after the guard's own start of listening, so "ready" means that later starts get answers.
    QTimer::singleShot(0, &app, [] { say("ready"); });
    QTimer::singleShot(serveMs, &app, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
