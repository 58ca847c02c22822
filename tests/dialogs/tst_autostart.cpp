// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/appsettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Reads a desktop entry the way a session manager does: the keys of [Desktop Entry], string
// escapes undone, and the Exec= line split into arguments by the Desktop Entry quoting rules.
namespace {
QMap<QString, QString> readEntry(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QMap<QString, QString> keys;
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    if (lines.value(0) != "[Desktop Entry]")
        return {};
    for (const QString& line : lines.mid(1)) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            keys.insert(line.left(eq), line.mid(eq + 1));
    }
    return keys;
}

QString unescapeString(const QString& value)
{
    QString out;
    for (int i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        out += next == 'n'   ? QChar('\n')
               : next == 't' ? QChar('\t')
               : next == 'r' ? QChar('\r')
               : next == 's' ? QChar(' ')
                             : next;
    }
    return out;
}

QStringList execArguments(const QString& exec)
{
    const QString value = unescapeString(exec);
    QStringList args;
    QString current;
    bool quoted = false, inArg = false;
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (quoted) {
            if (c == '\\' && i + 1 < value.size())
                current += value[++i];
            else if (c == '"')
                quoted = false;
            else if (c == '%' && i + 1 < value.size() && value[i + 1] == '%')
                current += value[++i];
            else
                current += c;
        } else if (c == '"') {
            quoted = inArg = true;
        } else if (c == ' ') {
            if (inArg)
                args << current;
            current.clear();
            inArg = false;
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg)
        args << current;
    return args;
}
} // namespace

class TestAutoStart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void install_data();
    void install();
    void installReplacesTheEntry();
    void removeTouchesNothingElse();
    void installFailsWhenTheFolderCannotBeMade();

private:
    QString folder() const { return config.path() + "/autostart"; }

    QTemporaryDir config;
};

void TestAutoStart::initTestCase()
{
    QVERIFY(config.isValid());
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QCOMPARE(AutoStart::entryPath(), folder() + "/vantrel-monitor.desktop");
}

void TestAutoStart::init()
{
    QFile::remove(folder());
    QDir(folder()).removeRecursively();
}

void TestAutoStart::install_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("exec"); // the Exec= value as written
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path"); // the Path= value as written

    QTest::addRow("plain") << "/usr/bin/vantrel-monitor"
                           << "\"/usr/bin/vantrel-monitor\""
                           << "/home/u"
                           << "/home/u";
    QTest::addRow("blank") << "/home/u/My Apps/vm"
                           << "\"/home/u/My Apps/vm\""
                           << "/home/u/My Tasks"
                           << "/home/u/My Tasks";
    QTest::addRow("quote") << "/opt/a\"b/vm"
                           << "\"/opt/a\\\\\"b/vm\""
                           << "/t/a\"b"
                           << "/t/a\"b";
    QTest::addRow("dollar and backtick") << "/opt/$HOME/`x`/vm"
                                         << "\"/opt/\\\\$HOME/\\\\`x\\\\`/vm\""
                                         << "/t/$HOME"
                                         << "/t/$HOME";
    QTest::addRow("backslash") << "/opt/a\\b/vm"
                               << "\"/opt/a\\\\\\\\b/vm\""
                               << "/t/a\\b"
                               << "/t/a\\\\b";
    QTest::addRow("percent") << "/opt/100%u/vm"
                             << "\"/opt/100%%u/vm\""
                             << "/t/100%u"
                             << "/t/100%u";
    QTest::addRow("control characters") << "/opt/a\nb/vm"
                                        << "\"/opt/a\\nb/vm\""
                                        << "/t/a\nb\tc\rd"
                                        << "/t/a\\nb\\tc\\rd";
    QTest::addRow("leading blank") << "/usr/bin/vm"
                                   << "\"/usr/bin/vm\""
                                   << " tasks"
                                   << "\\stasks";
}

void TestAutoStart::install()
{
    QFETCH(QString, executable);
    QFETCH(QString, exec);
    QFETCH(QString, folder);
    QFETCH(QString, path);

    QCOMPARE(AutoStart::command(executable), exec);
    QVERIFY(AutoStart::install(executable, folder));
    const auto keys = readEntry(AutoStart::entryPath());
    QCOMPARE(keys.value("Type"), QString("Application"));
    QCOMPARE(keys.value("Name"), QString("Vantrel Monitor"));
    QCOMPARE(keys.value("Icon"), QString("vantrel-monitor"));
    QCOMPARE(keys.value("X-GNOME-Autostart-enabled"), QString("true"));
    QCOMPARE(keys.value("Exec"), exec);
    QCOMPARE(execArguments(keys.value("Exec")), QStringList{executable});
    QCOMPARE(keys.value("Path"), path);
    QCOMPARE(unescapeString(keys.value("Path")), folder);

    QVERIFY(AutoStart::remove());
    QVERIFY(!QFile::exists(AutoStart::entryPath()));
}

void TestAutoStart::installReplacesTheEntry()
{
    QVERIFY(AutoStart::install("/old/vm", "/old"));
    QVERIFY(AutoStart::install("/new/vm", "/new"));
    QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList{"vantrel-monitor.desktop"});
    QCOMPARE(execArguments(readEntry(AutoStart::entryPath()).value("Exec")), QStringList{"/new/vm"});
    QCOMPARE(readEntry(AutoStart::entryPath()).value("Path"), QString("/new"));
}

void TestAutoStart::removeTouchesNothingElse()
{
    QVERIFY(QDir().mkpath(folder()));
    QFile other(folder() + "/other.desktop");
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("[Desktop Entry]\nName=Other\n");
    other.close();

    QVERIFY2(AutoStart::remove(), "removing an absent entry is not a failure");
    QVERIFY(AutoStart::install("/usr/bin/vantrel-monitor", "/home/u"));
    QVERIFY(AutoStart::remove());
    QVERIFY(AutoStart::remove());
    QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList{"other.desktop"});
    QVERIFY(other.open(QIODevice::ReadOnly));
    QCOMPARE(other.readAll(), QByteArray("[Desktop Entry]\nName=Other\n"));
}

void TestAutoStart::installFailsWhenTheFolderCannotBeMade()
{
    // A file where the autostart folder should be: nothing can be written below it.
    QFile blocker(folder());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!AutoStart::install("/usr/bin/vantrel-monitor", "/home/u"));
    QVERIFY(QFileInfo(folder()).isFile());
}

QTEST_MAIN(TestAutoStart)
#include "tst_autostart.moc"
