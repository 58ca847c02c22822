// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <libxml/parser.h>

// libxml2's global state is set up once, before the first document is read on any thread.
inline void initLibxml()
{
    static const bool done = (xmlInitParser(), true);
    (void)done;
}
