// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <map>

// The bound on the bodies a fetcher holds at once. A download begins only while the bytes the running ones
// received or announced stay under maxBytes() (the first download the user waits for never waits for
// background bodies), and the running ones read on only while the bodies held leave room under it for the
// oldest download, and the oldest one the user waits for, to arrive whole; the others wait with their data
// in the network buffers until bodies have been handed over. Downloads are known by their tickets, which
// grow: a smaller ticket is an older download.
class BodyBudget
{
public:
    static constexpr qint64 DefaultMaxBytes = 256LL * 1024 * 1024;

    qint64 maxBytes() const { return m_maxBytes; }
    // Zero or less means the default.
    void setMaxBytes(qint64 bytes);
    // The bytes of bodies held now (received by running downloads or being handed over), and the most held
    // at once so far.
    qint64 heldBytes() const { return m_heldBytes; }
    qint64 peakHeldBytes() const { return m_peakHeldBytes; }

    bool mayBegin(bool waited) const;
    void begin(quint64 ticket, bool waited);
    // The length the server announced for the body.
    void announce(quint64 ticket, qint64 length);
    bool mayRead(quint64 ticket) const;
    void receive(quint64 ticket, qint64 bytes);
    // The download ended; its body, now of delivered bytes, stays held until release(delivered).
    void end(quint64 ticket, qint64 delivered);
    void release(qint64 delivered);

private:
    struct Download
    {
        bool waited = false;
        qint64 received = 0;
        qint64 announced = 0;
        qint64 committed() const { return qMax(received, announced); }
    };
    void hold(qint64 bytes);

    std::map<quint64, Download> m_running; // by ticket: the oldest first
    int m_runningWaited = 0;
    qint64 m_committed = 0; // the sum of the running downloads' committed()
    qint64 m_maxBytes = DefaultMaxBytes;
    qint64 m_heldBytes = 0;
    qint64 m_peakHeldBytes = 0;
};
