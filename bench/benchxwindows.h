// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the benchmarks from outside ask of the X server about a program's windows.
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace BenchX {
// The process that made the window (its _NET_WM_PID, given as pidAtom), when it says.
inline std::optional<uint32_t> pidOf(xcb_connection_t* c, xcb_atom_t pidAtom, xcb_window_t window)
{
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    std::optional<uint32_t> value;
    if (reply && xcb_get_property_value_length(reply) == 4)
        value = *static_cast<uint32_t*>(xcb_get_property_value(reply));
    free(reply);
    return value;
}

// The window of the process under window (itself or a descendant: a window manager frames it).
inline xcb_window_t clientOf(xcb_connection_t* c, xcb_atom_t pidAtom, xcb_window_t window, uint32_t process,
                             int depth = 0)
{
    if (pidOf(c, pidAtom, window) == process)
        return window;
    if (depth > 3)
        return 0;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
    if (!tree)
        return 0;
    xcb_window_t found = 0;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i)
        found = clientOf(c, pidAtom, children[i], process, depth + 1);
    free(tree);
    return found;
}
} // namespace BenchX
