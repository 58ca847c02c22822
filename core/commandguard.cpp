// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/commandguard.h"

bool CommandGuard::begin()
{
    if (m_busy)
        return false;
    m_busy = true;
    emit busyChanged(true);
    return true;
}

void CommandGuard::end()
{
    if (!m_busy)
        return;
    m_busy = false;
    emit busyChanged(false);
}
