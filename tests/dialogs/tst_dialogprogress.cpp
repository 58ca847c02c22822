// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialogprogress.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <QtTest>

class TestDialogProgress : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void setMessage_data();
    void setMessage();
    void languageChangeRestoresDefaultText();
    void awaited_data();
    void awaited();
    void cancelKeepsTheBox();

private:
    static QString plain(const QString& html)
    {
        QTextDocument document;
        document.setHtml(html);
        return document.toPlainText();
    }
};

void TestDialogProgress::defaults()
{
    DialogProgress dialog;
    QCOMPARE(dialog.windowTitle(), QString("Process"));
    QCOMPARE(dialog.windowFlags() & Qt::WindowType_Mask, Qt::Popup);
    QCOMPARE(dialog.size(), QSize(465, 101));

    auto* label = dialog.findChild<QLabel*>("label");
    QCOMPARE(plain(label->text()), QString("Creating new task right now, please wait for a few seconds!"));
    QVERIFY2(label->text().contains("font-size:12pt; font-weight:600;"), qPrintable(label->text()));
    QVERIFY2(label->text().contains("<p align=\"center\""), qPrintable(label->text()));

    auto* bar = dialog.findChild<QProgressBar*>("progressBar");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 0);
    QVERIFY(!bar->isTextVisible());
}

void TestDialogProgress::setMessage_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown"); // the text a reader sees

    QTest::addRow("plain") << "Updating all tasks right now..."
                           << "Updating all tasks right now...";
    QTest::addRow("markup") << "Resetting <b>News</b> results right now..."
                            << "Resetting News results right now...";
    QTest::addRow("percent placeholders stay") << "50% of %1 and %2"
                                               << "50% of %1 and %2";
    QTest::addRow("empty") << ""
                           << "";
}

void TestDialogProgress::setMessage()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);

    DialogProgress dialog;
    dialog.setMessage(message);
    auto* label = dialog.findChild<QLabel*>("label");
    QCOMPARE(label->text(), "<font color=\"red\" size=\"40\">" + message + "</font>");
    QCOMPARE(label->alignment(), Qt::AlignCenter);
    QCOMPARE(plain(label->text()), shown);
}

void TestDialogProgress::languageChangeRestoresDefaultText()
{
    DialogProgress dialog;
    dialog.setMessage("busy");
    dialog.setWindowTitle("x");
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&dialog, &change);
    QCOMPARE(dialog.windowTitle(), QString("Process"));
    QVERIFY(dialog.findChild<QLabel*>("label")->text().contains("Creating new task right now"));
}

// Once slow, the box names what it waits for, as plain text cut to its width.
void TestDialogProgress::awaited_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("shown");
    const QString longAddress = "http://example.org/" + QString(200, 'a');
    QTest::addRow("none") << QStringList() << "";
    QTest::addRow("one") << QStringList{"http://a.test/<b>"} << "Still waiting for http://a.test/<b>";
    QTest::addRow("several") << QStringList{"http://a.test/", "http://b.test/"}
                             << "Still waiting for 2 pages, among them http://a.test/";
    QTest::addRow("long cut") << QStringList{longAddress}
                              << "Still waiting for " + longAddress.left(69) + QChar(0x2026);
}

void TestDialogProgress::awaited()
{
    QFETCH(QStringList, addresses);
    QFETCH(QString, shown);
    DialogProgress dialog;
    dialog.show();
    auto* line = dialog.findChild<QLabel*>("awaited");
    QVERIFY(!line->isVisible());
    dialog.watchAwaited([addresses] { return addresses; }, 0);
    QTRY_COMPARE(line->text(), shown);
    QCOMPARE(line->textFormat(), Qt::PlainText);
    QCOMPARE(line->isVisible(), !shown.isEmpty());
}

// Escape and the Cancel button ask to leave the wait; the box stays until the command has ended it.
void TestDialogProgress::cancelKeepsTheBox()
{
    DialogProgress dialog;
    QSignalSpy cancel(&dialog, &DialogProgress::cancelRequested);
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    QCOMPARE(cancel.count(), 2);
    QVERIFY(dialog.isVisible());
}

QTEST_MAIN(TestDialogProgress)
#include "tst_dialogprogress.moc"
