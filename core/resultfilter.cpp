// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/resultfilter.h"

#include "engine/tools.h"

ResultFilter::ResultFilter(const QString& typed) : m_words(typed.simplified().split(u' ', Qt::SkipEmptyParts)) {}

bool ResultFilter::matches(const TaskResult& result) const
{
    return m_words.isEmpty() || matches(Tools::displayText(result.text), result.link);
}

bool ResultFilter::matches(const QString& shown, const QString& link) const
{
    for (const QString& word : m_words) {
        if (!shown.contains(word, Qt::CaseInsensitive) && !link.contains(word, Qt::CaseInsensitive))
            return false;
    }
    return true;
}
