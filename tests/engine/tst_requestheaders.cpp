// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fetching/requestheaders.h"

#include <QTest>

class TestRequestHeaders : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void acceptLanguage_data();
    void acceptLanguage();
};

void TestRequestHeaders::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("formatted"); // the headers kept, written back; empty when refused
    QTest::addColumn<QString>("error");     // part of the message; empty when accepted

    QTest::addRow("cookie and authorization") << "Cookie: a=1; b=2\n\n  Authorization:  Bearer xyz  \r\n"
                                              << "Cookie: a=1; b=2\nAuthorization: Bearer xyz"
                                              << "";
    QTest::addRow("value with a colon and a tab") << "X-Time: 12:30\tnow"
                                                  << "X-Time: 12:30\tnow"
                                                  << "";
    QTest::addRow("empty value") << "X-Empty:"
                                 << "X-Empty: "
                                 << "";
    QTest::addRow("nothing") << "\n \n"
                             << ""
                             << "";
    QTest::addRow("no colon") << "Cookie a=1"
                              << ""
                              << "Line 1: Write a header as Name: value.";
    QTest::addRow("no name") << ": value"
                             << ""
                             << "Line 1: A header needs a name";
    QTest::addRow("space in the name") << "X-Ok: 1\nMy Header: x"
                                       << ""
                                       << "Line 2: The header name \"My Header\"";
    QTest::addRow("control character in the value") << QString("Cookie: a=1\x01") << ""
                                                    << "control character";
    QTest::addRow("escape in the value") << QString("X-A: \x1b[31m") << ""
                                         << "control character";
    QTest::addRow("line break smuggled as CR") << QString("X-A: 1\rHost: evil") << ""
                                               << "control character";
    QTest::addRow("reserved name") << "Host: example.org"
                                   << ""
                                   << "set by the program itself";
    QTest::addRow("validator name") << "If-None-Match: x"
                                    << ""
                                    << "set by the program itself";
    QTest::addRow("name too long") << QString(65, 'X') + ": 1"
                                   << ""
                                   << "longer than 64";
    QTest::addRow("value too long") << "Cookie: " + QString(8193, 'a') << ""
                                    << "longer than 8192";
    QTest::addRow("outside latin-1") << QStringLiteral("X-A: \u20ac") << ""
                                     << "outside ISO 8859-1";
    QString many;
    for (int i = 0; i < 33; ++i)
        many += QStringLiteral("X-%1: v\n").arg(i);
    QTest::addRow("too many") << many << ""
                              << "Line 33: At most 32";
}

void TestRequestHeaders::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, formatted);
    QFETCH(QString, error);
    QString why = "unset";
    const RequestHeaders::List headers = RequestHeaders::parse(text, &why);
    QCOMPARE(RequestHeaders::format(headers), formatted);
    if (error.isEmpty())
        QVERIFY2(why.isEmpty(), qPrintable(why));
    else
        QVERIFY2(why.contains(error), qPrintable(why));
}

void TestRequestHeaders::acceptLanguage_data()
{
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<QByteArray>("header");
    QTest::addRow("german") << QStringList{"de-DE", "de", "en-US"} << QByteArray("de-DE,de;q=0.9,en-US;q=0.8");
    QTest::addRow("underscores, repeats") << QStringList{"pt_BR", "pt-BR", "pt"} << QByteArray("pt-BR,pt;q=0.9");
    QTest::addRow("C locale") << QStringList{"C"} << QByteArray("en");
    QTest::addRow("odd characters left out") << QStringList{"fr;q=1", "fr"} << QByteArray("fr");
}

void TestRequestHeaders::acceptLanguage()
{
    QFETCH(QStringList, languages);
    QFETCH(QByteArray, header);
    QCOMPARE(RequestHeaders::acceptLanguage(languages), header);
}

QTEST_GUILESS_MAIN(TestRequestHeaders)
#include "tst_requestheaders.moc"
