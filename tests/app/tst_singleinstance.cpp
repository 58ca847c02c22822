// SPDX-License-Identifier: GPL-3.0-or-later
// One program per task.db: one lock for every path to the file, hand-over to the running program, locks
// left behind by crashes, a slow first start, a hung one, and several starts at once.
#include "app/singleinstance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>

// Makes a second path from folder A (holding task.db) and the name B; returns the folder to start in, empty
// when it could not be made.
using SecondPath = QString (*)(const QString& a, const QString& b);
Q_DECLARE_METATYPE(SecondPath)

class TestSingleInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir runtime;

    // A guard on task.db in the given folder, with a runtime folder of the test's own.
    std::unique_ptr<SingleInstance> guard(const QString& folder, int timeoutMs = 3000)
    {
        auto g = std::make_unique<SingleInstance>(folder + "/task.db");
        g->setRuntimeFolder(runtime.path());
        g->setAnswerTimeout(timeoutMs);
        // A test that goes wrong must not wait for ever for a program that never listens.
        QTimer::singleShot(20000, g.get(), &SingleInstance::cancel);
        return g;
    }

    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    static QByteArray readFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }

    // Another program on task.db (see singleinstance_helper.cpp). `wrapper` runs before it, as a shell
    // command line ending in the helper's own arguments.
    std::unique_ptr<QProcess> helper(const QString& taskDb, int loadMs, int serveMs, int until,
                                     const QString& wrapper = QString(), const QString& extra = QString())
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList args{
            taskDb, runtime.path(), QString::number(loadMs), QString::number(serveMs), QString::number(until), extra};
        if (wrapper.isEmpty()) {
            p->start(SINGLEINSTANCE_HELPER, args);
        } else {
            p->start("sh", QStringList{"-c", wrapper + " \"$0\" \"$@\"", SINGLEINSTANCE_HELPER} + args);
        }
        return p;
    }

    // Waits (running events, so that guards of this process answer) until the helper printed `line`.
    static bool waitForLine(QProcess& p, const QByteArray& line, QByteArray& seen, int ms = 15000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!seen.split('\n').contains(line)) {
            if (clock.elapsed() > ms || (p.state() == QProcess::NotRunning && p.bytesAvailable() == 0))
                return false;
            QTest::qWait(20);
            seen += p.readAllStandardOutput();
        }
        return true;
    }

    static bool waitForEnd(QProcess& p, QByteArray& seen, int ms = 15000)
    {
        QElapsedTimer clock;
        clock.start();
        while (p.state() != QProcess::NotRunning && clock.elapsed() < ms)
            QTest::qWait(20);
        seen += p.readAllStandardOutput();
        return p.state() == QProcess::NotRunning;
    }

private slots:
    void secondStartHandsOverAndTheFirstStays()
    {
        QTemporaryDir folder;
        auto first = guard(folder.path());
        QSignalSpy asked(first.get(), &SingleInstance::activationRequested);
        QCOMPARE(first->start(), SingleInstance::Outcome::Primary);
        QVERIFY(first->lockPath().startsWith(runtime.path() + '/'));
        QVERIFY(QFile::exists(first->lockPath()));

        QCOMPARE(guard(folder.path())->start(), SingleInstance::Outcome::HandedOver);
        QCOMPARE(asked.count(), 1);
        // The first keeps its lock: a third start hands over as well.
        QCOMPARE(guard(folder.path())->start(), SingleInstance::Outcome::HandedOver);
        QCOMPARE(asked.count(), 2);
        // task.db is made as SQLite makes it, empty, and the later starts leave it so.
        QCOMPARE(readFile(folder.path() + "/task.db"), QByteArray());

        // Once the first has ended, the next start runs.
        first.reset();
        QCOMPARE(guard(folder.path())->start(), SingleInstance::Outcome::Primary);
    }

    void everyPathToOneFileMeetsOneLock_data()
    {
        QTest::addColumn<SecondPath>("make");
        QTest::addColumn<bool>("sameFile");
        QTest::addRow("same folder") << SecondPath([](const QString& a, const QString&) { return a; }) << true;
        QTest::addRow("folder linked symbolically")
            << SecondPath([](const QString& a, const QString& b) { return QFile::link(a, b) ? b : QString(); }) << true;
        QTest::addRow("task.db linked symbolically") << SecondPath([](const QString& a, const QString& b) {
            return QDir().mkpath(b) && QFile::link(a + "/task.db", b + "/task.db") ? b : QString();
        }) << true;
        QTest::addRow("task.db linked hard") << SecondPath([](const QString& a, const QString& b) {
            return QDir().mkpath(b) && ::link(qPrintable(a + "/task.db"), qPrintable(b + "/task.db")) == 0 ? b
                                                                                                           : QString();
        }) << true;
        QTest::addRow("a copy of task.db") << SecondPath([](const QString& a, const QString& b) {
            return QDir().mkpath(b) && QFile::copy(a + "/task.db", b + "/task.db") ? b : QString();
        }) << false;
        QTest::addRow("another folder without task.db")
            << SecondPath([](const QString&, const QString& b) { return QDir().mkpath(b) ? b : QString(); }) << false;
    }

    void everyPathToOneFileMeetsOneLock()
    {
        QFETCH(SecondPath, make);
        QFETCH(bool, sameFile);
        QTemporaryDir top;
        const QString a = top.filePath("A");
        QVERIFY(QDir().mkpath(a));
        const QByteArray content = "stands in for the tasks";
        writeFile(a + "/task.db", content);
        const QString second = make(a, top.filePath("B"));
        QVERIFY(!second.isEmpty());

        auto first = guard(a);
        QSignalSpy asked(first.get(), &SingleInstance::activationRequested);
        QCOMPARE(first->start(), SingleInstance::Outcome::Primary);
        auto later = guard(second);
        QCOMPARE(later->start(), sameFile ? SingleInstance::Outcome::HandedOver : SingleInstance::Outcome::Primary);
        QCOMPARE(asked.count(), sameFile ? 1 : 0);
        QCOMPARE(later->serverName() == first->serverName(), sameFile);
        QCOMPARE(readFile(a + "/task.db"), content);
    }

    // The first program saw task.db's folder read-only and the second sees it writable, or the other way
    // round. Tests run as root, for whom a chmod'ed folder stays writable, so the read-only folder is a
    // read-only bind mount of the writable one, made in a mount namespace of the helper's own.
    void readOnlyAndWritableViewsMeetOneLock_data()
    {
        QTest::addColumn<bool>("readOnlyFirst");
        QTest::addRow("read-only first, writable again later") << true;
        QTest::addRow("writable first, read-only later") << false;
    }

    void readOnlyAndWritableViewsMeetOneLock()
    {
        QFETCH(bool, readOnlyFirst);
        const QString unshare = QStandardPaths::findExecutable("unshare");
        if (unshare.isEmpty() || QProcess::execute(unshare, {"-m", "true"}) != 0)
            QSKIP("no mount namespace can be made here (needs unshare and CAP_SYS_ADMIN)");
        QTemporaryDir top;
        const QString writable = top.filePath("writable"), readOnly = top.filePath("read-only");
        QVERIFY(QDir().mkpath(writable) && QDir().mkpath(readOnly));
        writeFile(writable + "/task.db", "tasks");
        const QString mountReadOnly = QString("unshare -m sh -c 'mount --make-rprivate / && mount --bind %1 %2 && "
                                              "mount -o remount,bind,ro %2 && exec \"$0\" \"$@\"'")
                                          .arg(writable, readOnly);

        QByteArray seen;
        if (readOnlyFirst) {
            auto other = helper(readOnly + "/task.db", 0, 15000, 1, mountReadOnly);
            QVERIFY2(waitForLine(*other, "ready", seen), seen.constData());
            QVERIFY2(seen.contains("folder read-only\nprimary\n"), seen.constData());
            QCOMPARE(guard(writable)->start(), SingleInstance::Outcome::HandedOver);
            QVERIFY(waitForEnd(*other, seen));
            QVERIFY2(seen.endsWith("activated\n"), seen.constData());
        } else {
            auto first = guard(writable);
            QSignalSpy asked(first.get(), &SingleInstance::activationRequested);
            QCOMPARE(first->start(), SingleInstance::Outcome::Primary);
            auto other = helper(readOnly + "/task.db", 0, 15000, 1, mountReadOnly);
            QVERIFY(waitForEnd(*other, seen));
            QCOMPARE(seen, QByteArray("folder read-only\nhanded-over\n"));
            QCOMPARE(asked.count(), 1);
        }
        QCOMPARE(readFile(writable + "/task.db"), QByteArray("tasks"));
    }

    void lockLeftBehindDoesNotBlock_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("holderRuns");
        QTest::addRow("empty (power cut)") << QByteArray() << false;
        QTest::addRow("garbled") << QByteArray("\0\xff\x13 4x\n\n\n", 9) << false;
        QTest::addRow("pid of a process that ended") << QByteArray("ended") << false;
        QTest::addRow("pid of another live program") << QByteArray("live") << false;
        QTest::addRow("pid of this very process") << QByteArray("self") << false;
        QTest::addRow("garbled under a running holder") << QByteArray("garbage") << true;
    }

    void lockLeftBehindDoesNotBlock()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, holderRuns);
        QTemporaryDir folder;
        auto holder = guard(folder.path());
        QCOMPARE(holder->start(), SingleInstance::Outcome::Primary);
        const QString lockPath = holder->lockPath();
        if (!holderRuns)
            holder.reset();

        QProcess other;
        qint64 pid = 0;
        if (content == "ended" || content == "live") {
            other.start("sleep", {"30"});
            QVERIFY(other.waitForStarted());
            pid = other.processId();
            if (content == "ended") {
                other.kill();
                QVERIFY(other.waitForFinished());
            }
        } else if (content == "self") {
            pid = QCoreApplication::applicationPid();
        }
        // A lock file as a crashed program of the lock-file kind leaves it: pid, program name, host.
        if (pid)
            content = QByteArray::number(pid) + '\n' + QCoreApplication::applicationName().toUtf8() + '\n' +
                      QSysInfo::machineHostName().toUtf8() + '\n';
        writeFile(lockPath, content);

        QElapsedTimer clock;
        clock.start();
        auto later = guard(folder.path(), 2000);
        QCOMPARE(later->start(), holderRuns ? SingleInstance::Outcome::HandedOver : SingleInstance::Outcome::Primary);
        QVERIFY2(clock.elapsed() < 1500, "a lock nobody holds is taken at once");
        QCOMPARE(later->lockPath(), lockPath);
        if (other.state() != QProcess::NotRunning) {
            other.kill();
            other.waitForFinished();
        }
    }

    // A first program whose task.db takes 10 s to load; the second start comes a second later. It waits,
    // says after the notice time that the first is still starting, and hands over once the first is up. A
    // start whose wait is cancelled at the notice ends without handing over.
    void slowFirstStartIsWaitedFor()
    {
        QTemporaryDir folder;
        QElapsedTimer clock;
        clock.start();
        auto first = helper(folder.path() + "/task.db", 10000, 15000, 1);
        QByteArray seen;
        QVERIFY2(waitForLine(*first, "primary", seen), seen.constData());
        QTest::qWait(1000);

        auto impatient = guard(folder.path(), 2000);
        impatient->setStillStartingNotice(1000);
        connect(impatient.get(), &SingleInstance::stillStarting, impatient.get(), &SingleInstance::cancel);
        QCOMPARE(impatient->start(), SingleInstance::Outcome::Cancelled);
        QVERIFY2(clock.elapsed() < 5000, "cancelling ends the wait at once");

        auto patient = guard(folder.path(), 2000);
        patient->setStillStartingNotice(2000);
        QSignalSpy notices(patient.get(), &SingleInstance::stillStarting);
        QCOMPARE(patient->start(), SingleInstance::Outcome::HandedOver);
        QCOMPARE(notices.count(), 1);
        QVERIFY2(clock.elapsed() >= 9500, "handed over only once the first program was up");
        QVERIFY(waitForEnd(*first, seen));
        QVERIFY2(seen.endsWith("ready\nactivated\n"), seen.constData());
    }

    // A program that listens but has stopped answering (here: stopped by a signal) is reported after
    // the answer timeout, not waited for.
    void hungProgramGetsNoAnswerInTime()
    {
        QTemporaryDir folder;
        auto first = helper(folder.path() + "/task.db", 0, 15000, 1);
        QByteArray seen;
        QVERIFY2(waitForLine(*first, "ready", seen), seen.constData());
        QCOMPARE(::kill(pid_t(first->processId()), SIGSTOP), 0);
        QElapsedTimer clock;
        clock.start();
        const auto outcome = guard(folder.path(), 500)->start();
        const qint64 took = clock.elapsed();
        ::kill(pid_t(first->processId()), SIGCONT);
        first->kill();
        first->waitForFinished();
        QCOMPARE(outcome, SingleInstance::Outcome::NoAnswer);
        QVERIFY2(took < 3000, "the wait is bounded by the answer timeout");
    }

    // Five starts at once, through four paths to one task.db: exactly one runs, and each of the other four
    // hands over to it.
    void fiveStartsAtOnceRunOneProgram()
    {
        QTemporaryDir top;
        const QString a = top.filePath("A");
        QVERIFY(QDir().mkpath(a) && QDir().mkpath(top.filePath("C")) && QDir().mkpath(top.filePath("D")));
        writeFile(a + "/task.db", "tasks");
        QVERIFY(QFile::link(a, top.filePath("B")));
        QVERIFY(QFile::link(a + "/task.db", top.filePath("C/task.db")));
        QCOMPARE(::link(qPrintable(a + "/task.db"), qPrintable(top.filePath("D/task.db"))), 0);
        const QStringList paths{a, top.filePath("B"), top.filePath("C"), top.filePath("D"), a};

        std::vector<std::unique_ptr<QProcess>> starts;
        for (const QString& path : paths)
            starts.push_back(helper(path + "/task.db", 0, 20000, 4));
        int primaries = 0, handedOver = 0;
        QByteArray primaryOutput;
        for (auto& start : starts) {
            QByteArray seen;
            QVERIFY2(waitForEnd(*start, seen, 30000), seen.constData());
            if (seen.contains("\nprimary\n")) {
                ++primaries;
                primaryOutput = seen;
            } else if (seen.endsWith("\nhanded-over\n")) {
                ++handedOver;
            }
        }
        QCOMPARE(primaries, 1);
        QCOMPARE(handedOver, 4);
        QCOMPARE(primaryOutput.count("activated\n"), 4);
        QCOMPARE(readFile(a + "/task.db"), QByteArray("tasks"));
    }

    // The lock belongs to the program, not to what it starts: a browser opened from a result and still
    // open does not keep the next start waiting.
    void lockEndsWithTheProgramNotWithWhatItStarted()
    {
        QTemporaryDir folder;
        auto first = helper(folder.path() + "/task.db", 0, 0, 0, QString(), "child");
        QByteArray seen;
        QVERIFY(waitForEnd(*first, seen));
        const QByteArrayList lines = seen.split('\n');
        const auto child =
            std::find_if(lines.begin(), lines.end(), [](const QByteArray& l) { return l.startsWith("child "); });
        QVERIFY2(child != lines.end(), seen.constData());
        const pid_t childPid = pid_t(child->mid(6).toLongLong());
        QVERIFY(childPid > 0 && ::kill(childPid, 0) == 0);

        auto later = guard(folder.path());
        later->setStillStartingNotice(0);
        QSignalSpy notices(later.get(), &SingleInstance::stillStarting);
        connect(later.get(), &SingleInstance::stillStarting, later.get(), &SingleInstance::cancel);
        const auto outcome = later->start();
        ::kill(childPid, SIGKILL);
        QCOMPARE(outcome, SingleInstance::Outcome::Primary);
    }

    // task.db that can neither be found nor made (not even root creates files in /proc) is known by its
    // resolved path: the same path meets the same lock, another path one of its own.
    void taskDbThatCannotBeMadeIsKnownByItsPath()
    {
        const QString folder = "/proc/vantrel-monitor-test";
        auto first = guard(folder);
        QCOMPARE(first->start(), SingleInstance::Outcome::Primary);
        QVERIFY(first->lockPath().startsWith(runtime.path() + '/'));
        QCOMPARE(guard(folder)->start(), SingleInstance::Outcome::HandedOver);
        auto other = guard("/proc/vantrel-monitor-other");
        QCOMPARE(other->start(), SingleInstance::Outcome::Primary);
        QVERIFY(other->lockPath() != first->lockPath());
    }

    // Where the runtime folder cannot hold the lock, the folder of task.db does, and a later start meets it
    // there; where neither can, start() says so with the reasons instead of running unguarded.
    void lockFailsClosed()
    {
        QTemporaryDir folder;
        writeFile(folder.filePath("plain"), "a file, not a folder");
        const QString unusable = folder.filePath("plain/run");
        auto first = guard(folder.path());
        first->setRuntimeFolder(unusable);
        QCOMPARE(first->start(), SingleInstance::Outcome::Primary);
        QVERIFY2(first->lockPath().startsWith(folder.path() + "/.vantrel-monitor-"), qPrintable(first->lockPath()));
        auto later = guard(folder.path());
        later->setRuntimeFolder(unusable);
        QCOMPARE(later->start(), SingleInstance::Outcome::HandedOver);

        auto nowhere = guard("/proc/vantrel-monitor-test");
        nowhere->setRuntimeFolder(unusable);
        QCOMPARE(nowhere->start(), SingleInstance::Outcome::NoLock);
        QVERIFY2(nowhere->lockProblem().contains(unusable) && nowhere->lockProblem().contains("/proc/"),
                 qPrintable(nowhere->lockProblem()));
    }

    // Lock files of task.db files that are gone, or made again as other files, are removed by the next start;
    // a held lock and the lock of an existing task.db stay.
    void staleLocksAreRemoved()
    {
        QTemporaryDir folder;
        QTemporaryDir other;
        auto held = guard(other.path());
        QCOMPARE(held->start(), SingleInstance::Outcome::Primary);
        const QString gone = runtime.filePath("vantrel-monitor-1-2.lock");
        writeFile(gone, "1\n" + QFile::encodeName(folder.filePath("gone.db")) + "\n");
        writeFile(folder.filePath("remade.db"), "");
        const QString remade = runtime.filePath("vantrel-monitor-3-4.lock");
        writeFile(remade, "1\n" + QFile::encodeName(folder.filePath("remade.db")) + "\n");
        const QString unknown = runtime.filePath("vantrel-monitor-5-6.lock");
        writeFile(unknown, "1\n");
        auto started = guard(folder.path());
        QCOMPARE(started->start(), SingleInstance::Outcome::Primary);
        QVERIFY(!QFile::exists(gone));
        QVERIFY(!QFile::exists(remade));
        QVERIFY2(QFile::exists(unknown), "a lock file that names no task.db is not judged");
        QVERIFY(QFile::exists(held->lockPath()));
        QVERIFY(QFile::exists(started->lockPath()));
        QVERIFY(readFile(started->lockPath()).endsWith(QFile::encodeName(folder.filePath("task.db")) + "\n"));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
