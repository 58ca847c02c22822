// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/taskresult.h"

#include <QString>
#include <QStringList>

// What the search field above the results lets through: the results whose text (as shown) or link holds
// every typed word, ignoring case. Nothing typed lets everything through.
class ResultFilter
{
public:
    explicit ResultFilter(const QString& typed = {});

    bool isEmpty() const { return m_words.isEmpty(); }
    bool matches(const TaskResult& result) const;
    // The same for a text already in its shown form.
    bool matches(const QString& shownText, const QString& link) const;

private:
    QStringList m_words;
};
