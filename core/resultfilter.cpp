// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/resultfilter.h"

#include "engine/tools.h"

ResultFilter::ResultFilter(const QString& typed) : m_words(typed.simplified().split(u' ', Qt::SkipEmptyParts)) {}

bool ResultFilter::matches(const TaskResult& result) const
{
    if (m_words.isEmpty())
        return true;
    const QString shown = Tools::displayText(result.text);
    for (const QString& word : m_words) {
        if (!shown.contains(word, Qt::CaseInsensitive) && !result.link.contains(word, Qt::CaseInsensitive))
            return false;
    }
    return true;
}
