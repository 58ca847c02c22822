// SPDX-License-Identifier: GPL-3.0-or-later
// One program per task.db: the lock, the hand-over to the running program, stale locks and silence.
#include "app/singleinstance.h"

#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

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
        return g;
    }

private slots:
    void secondStartHandsOverAndTheFirstStays()
    {
        QTemporaryDir folder;
        auto first = guard(folder.path());
        QSignalSpy asked(first.get(), &SingleInstance::activationRequested);
        QCOMPARE(first->start(), SingleInstance::Outcome::Primary);
        QCOMPARE(first->lockPath(), folder.path() + "/task.db.lock");
        QVERIFY(QFile::exists(first->lockPath()));

        QCOMPARE(guard(folder.path())->start(), SingleInstance::Outcome::HandedOver);
        QCOMPARE(asked.count(), 1);
        // The first keeps its lock: a third start hands over as well.
        QCOMPARE(guard(folder.path())->start(), SingleInstance::Outcome::HandedOver);
        QCOMPARE(asked.count(), 2);
        QVERIFY(!QFile::exists(folder.path() + "/task.db"));

        // Once the first has ended, the next start runs.
        first.reset();
        QCOMPARE(guard(folder.path())->start(), SingleInstance::Outcome::Primary);
    }

    void anotherFolderRunsOnItsOwn()
    {
        QTemporaryDir one, two;
        auto first = guard(one.path());
        QSignalSpy asked(first.get(), &SingleInstance::activationRequested);
        QCOMPARE(first->start(), SingleInstance::Outcome::Primary);
        auto second = guard(two.path());
        QCOMPARE(second->start(), SingleInstance::Outcome::Primary);
        QCOMPARE(asked.count(), 0);
    }

    void staleLockOfAnEndedProgramDoesNotBlock()
    {
        QTemporaryDir folder;
        // The lock a crashed program leaves: the id of a process that has ended, this machine, this program.
        QProcess ended;
        ended.start("true");
        QVERIFY(ended.waitForFinished());
        const qint64 pid = ended.processId() ? ended.processId() : 999999;
        QFile lock(folder.path() + "/task.db.lock");
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(pid) + '\n' + QCoreApplication::applicationName().toUtf8() + '\n' +
                   QSysInfo::machineHostName().toUtf8() + '\n');
        lock.close();

        auto g = guard(folder.path(), 500);
        QCOMPARE(g->start(), SingleInstance::Outcome::Primary);
        QCOMPARE(g->lockPath(), lock.fileName());
    }

    void silentHolderGetsNoAnswerInTime()
    {
        QTemporaryDir folder;
        // A live holder (this process) that listens to nobody.
        QLockFile held(folder.path() + "/task.db.lock");
        QVERIFY(held.tryLock(0));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(guard(folder.path(), 400)->start(), SingleInstance::Outcome::NoAnswer);
        QVERIFY2(clock.elapsed() < 5000, "the wait is bounded by the answer timeout");
        QVERIFY(!QFile::exists(folder.path() + "/task.db"));
    }

    void unwritableFolderLocksInTheRuntimeFolder()
    {
        // Not even root can create files in /proc.
        const QString folder = "/proc/vantrel-monitor-test";
        auto first = guard(folder);
        QCOMPARE(first->start(), SingleInstance::Outcome::Primary);
        QVERIFY(first->lockPath().startsWith(runtime.path() + '/'));
        QVERIFY(QFile::exists(first->lockPath()));
        QCOMPARE(guard(folder)->start(), SingleInstance::Outcome::HandedOver);
        // Another unwritable folder is another task.db, with a lock of its own.
        auto other = guard("/proc/vantrel-monitor-other");
        QCOMPARE(other->start(), SingleInstance::Outcome::Primary);
        QVERIFY(other->lockPath() != first->lockPath());
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
