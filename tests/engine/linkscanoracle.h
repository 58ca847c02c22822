// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The reference the link scanner is held to: the minimal-matching QRegExp it replaces, searched again
// one position after the start of every match. Used only by tests, benchmarks and the fuzz target.

#include <QRegExp>
#include <QStringList>

#include "engine/matching/linkscanner.h"

class LinkScanOracle
{
public:
    LinkScanOracle() : rx(QStringLiteral("href=\\s*([^<]* ?) *\\s*>([^<]* ?)</a>"), Qt::CaseSensitive, QRegExp::RegExp)
    {
        rx.setMinimal(true);
    }

    // Calls onMatch(start, capture 1, capture 2) for every match, in page order.
    template <typename F> void scan(const QString& page, F onMatch)
    {
        int pos = 0;
        while ((pos = rx.indexIn(page, pos)) != -1) {
            onMatch(pos, rx.cap(1), rx.cap(2));
            ++pos;
        }
    }

    // Every match as "start|length of capture 1|capture 1|capture 2" (the length keeps a '|' inside a
    // capture from making two different matches read the same).
    QStringList describe(const QString& page)
    {
        QStringList found;
        scan(page,
             [&found](int start, const QString& href, const QString& text) { found.append(line(start, href, text)); });
        return found;
    }

    // The scanner's matches in the same form.
    static QStringList describe(const QList<LinkScanner::Match>& matches)
    {
        QStringList found;
        for (const LinkScanner::Match& m : matches)
            found.append(line(m.start, m.href, m.text));
        return found;
    }

    static QString line(qsizetype start, QStringView href, QStringView text)
    {
        QString line = QString::number(start) + u'|' + QString::number(href.size()) + u'|';
        line.append(href).append(u'|').append(text);
        return line;
    }

private:
    QRegExp rx;
};
