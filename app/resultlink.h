// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QUrl;

// What may be done with the link of a found result. A page can write any address into a link
// (javascript:, file:, data:, custom schemes of installed programs); only web addresses go to the browser.
namespace ResultLink {
// An http or https address with a host.
bool isBrowsable(const QUrl& url);
// Hands the address to the desktop's default browser; false when nothing took it.
bool openInBrowser(const QUrl& url);
} // namespace ResultLink
