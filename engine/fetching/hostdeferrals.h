// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/fetching/fetchrequest.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

// The hosts that asked to be left alone. A 429 or 503 answer defers its host for the seconds its
// Retry-After names (PageFetch::takePage bounds them); until then no request goes to the host, and a
// download from it fails at once with the time of the next try. Times are the caller's clock readings.
class HostDeferrals
{
public:
    struct Deferral
    {
        QDateTime until;
        int status = 0; // the answer that asked for it
    };

    // Whether the page is such an answer. Then its host is deferred until now plus the seconds it asked for
    // (a later time already noted stands), and the page becomes a failure naming its next try, without a body:
    // an answer that asks to come back later is no state of the page.
    bool note(const QString& host, FetchedPage& page, const QDateTime& now);
    // The host's deferral while it lasts at now; one that has run out is forgotten.
    std::optional<Deferral> take(const QString& host, const QDateTime& now);
    // Until when the host is deferred at now; invalid when it may be asked.
    QDateTime until(const QString& host, const QDateTime& now) const;
    // The failure of a download of the address that was not sent because of the deferral.
    static FetchedPage refused(const QString& address, const Deferral& deferral);

private:
    QHash<QString, Deferral> m_hosts;
};
