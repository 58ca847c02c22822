// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fetching/hostdeferrals.h"

#include <QLocale>
#include <QUrl>

namespace {
QString statusWords(int status)
{
    return status == 429 ? QStringLiteral("HTTP 429, too many requests")
                         : QStringLiteral("HTTP 503, service unavailable");
}

QString nextTry(const QDateTime& until)
{
    return QStringLiteral("next try after ") + QLocale().toString(until.toLocalTime().time(), QStringLiteral("HH:mm"));
}
} // namespace

bool HostDeferrals::note(const QString& host, FetchedPage& page, const QDateTime& now)
{
    if (page.status != 429 && page.status != 503)
        return false;
    page.ok = false;
    page.body.clear();
    page.retryAt = now.addSecs(page.retryAfterSeconds);
    Deferral& deferral = m_hosts[host];
    deferral.until = qMax(deferral.until, page.retryAt);
    deferral.status = page.status;
    page.error = statusWords(page.status) + QStringLiteral("; ") + nextTry(page.retryAt);
    return true;
}

std::optional<HostDeferrals::Deferral> HostDeferrals::take(const QString& host, const QDateTime& now)
{
    const auto it = m_hosts.constFind(host);
    if (it == m_hosts.constEnd())
        return std::nullopt;
    if (now < it->until)
        return *it;
    m_hosts.erase(it);
    return std::nullopt;
}

QDateTime HostDeferrals::until(const QString& host, const QDateTime& now) const
{
    const auto it = m_hosts.constFind(host);
    return it == m_hosts.constEnd() || now >= it->until ? QDateTime() : it->until;
}

FetchedPage HostDeferrals::refused(const QString& address, const Deferral& deferral)
{
    FetchedPage page;
    page.url = QUrl(address);
    page.retryAt = deferral.until;
    page.error = statusWords(deferral.status) + QStringLiteral(" earlier; ") + nextTry(deferral.until);
    return page;
}
