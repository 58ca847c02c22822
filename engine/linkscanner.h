// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <functional>

// Finds the links of a page: for every occurrence of "href=", in page order, the address part
// (capture 1) and the text (capture 2) exactly as a minimal-matching QRegExp of
//     href=\s*([^<]* ?) *\s*>([^<]* ?)</a>
// divides them, in time linear in the page size.
namespace LinkScanner {
struct Match
{
    qsizetype start = 0; // position of "href="
    QStringView href;    // capture 1
    QStringView text;    // capture 2
};

void scan(QStringView page, const std::function<void(const Match&)>& onMatch);
QList<Match> matches(QStringView page);
} // namespace LinkScanner
