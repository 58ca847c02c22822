// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/matching/readingresult.h"

#include <QString>
#include <QStringView>
#include <QUrl>

#include <functional>

struct FetchedPage;

// The links a task keeps of a page: those whose text holds the rule's keyword and none of its excluded words
// (capitals ignored, as written or with character references decoded), inside the rule's region when it names one.
// At most 4 links ending at the same "</a>" are looked at, none whose address is longer than 64 Ki characters,
// and at most Task::MaxLinksPerPage are kept, so a hostile page cannot make the work grow beyond its size.
namespace KeywordMatch {
// A link kept: formed against the page's own base element where it names one, else against the base; its text as
// the page holds it.
using OnLink = std::function<void(const QString& link, QStringView text)>;

// Each link of the page kept by the rule, in page order. regionMissed, when given, is set to whether the rule's
// region selected nothing on the page.
void forEachLink(QStringView page, const QUrl& base, const LinkRule& rule, bool* regionMissed, const OnLink& onLink);

// Reads a downloaded page by the rule (see Task::readPage).
PageReading readPage(const FetchedPage& page, const LinkRule& rule);
} // namespace KeywordMatch
