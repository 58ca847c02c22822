// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/matching/feedreader.h"
#include "engine/fetching/requestheaders.h"

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <memory>

class BodyInflater;
class QNetworkReply;
struct PageReading;

// What one download gave: the body, where redirections led, and whether it succeeded.
struct FetchedPage
{
    bool ok = false;
    QByteArray body;
    QUrl url;                 // the address of the page that was read (after redirections)
    QByteArray contentType;   // the Content-Type header as the server sent it
    QString error;            // empty when ok
    int status = 0;           // the HTTP status, 0 when no answer came
    bool notModified = false; // ok: the server answered 304 to a conditional request; no body
    QByteArray etag;          // the validators of a page that was read (2xx), as the server sent them
    QByteArray lastModified;
    int retryAfterSeconds = 0; // with 429 and 503: how long the server asks to be left alone
    QDateTime retryAt;         // set by PageFetcher: no request goes to the host before then
    bool feed = false;         // the body is a feed that was read (readFeed): its items are the page's links
    QList<FeedItem> feedItems;
    // The page's links as read for a task ahead of its delivery (PageReader); null when not read yet.
    std::shared_ptr<const PageReading> reading;
};
Q_DECLARE_METATYPE(FetchedPage)

// One download: the address, the task's own headers (a User-Agent among them replaces the default one)
// and, for a conditional request, the validators of the page as it was last read.
struct FetchRequest
{
    QString address;
    RequestHeaders::List headers;
    QByteArray etag;         // sent as If-None-Match
    QByteArray lastModified; // sent as If-Modified-Since
};

// Bounds and helpers shared by every download of a task's page.
namespace PageFetch {
constexpr int DefaultTransferTimeoutMs = 30000;
constexpr qint64 MaxBodyBytes = 32LL * 1024 * 1024;
constexpr int MaxRedirects = 5;
// What a 429 or 503 asks for at most, and what it means without a Retry-After.
constexpr int MaxRetryAfterSeconds = 3600;
constexpr int DefaultRetryAfterSeconds = 60;

// Whether a failure (FetchedPage::error) is of a page that was downloaded but could not be read (a feed that
// does not parse), which the user is told as such, not as a download that failed.
bool isReadingFailure(const QString& error);

// The transfer timeout given to each new request; tests lower it.
int transferTimeout();
void setTransferTimeout(int ms);
// The largest body accepted; tests lower it.
qint64 maxBodyBytes();
void setMaxBodyBytes(qint64 bytes);

// A GET request for the address with the timeout, the redirection policy and the default headers set
// (User-Agent, Accept, Accept-Language of the user's locale, and Accept-Encoding: gzip and deflate, which
// the body's reader inflates itself within the bound on bodies, see BodyInflater).
QNetworkRequest makeRequest(const QString& address);
// The same with the request's own headers and validators.
QNetworkRequest makeRequest(const FetchRequest& request);
// The seconds a Retry-After value asks for (seconds, or an HTTP date against now), at most
// MaxRetryAfterSeconds; DefaultRetryAfterSeconds when it is missing or unreadable.
int retryAfterSeconds(const QByteArray& value, const QDateTime& now);
// Aborts the reply as soon as its body grows past maxBodyBytes().
void guardBody(QNetworkReply* reply);
// Aborts a running reply; takePage() then fails it with the reason.
void abortWith(QNetworkReply* reply, const QString& reason);
// The reason of a body larger than maxBodyBytes().
QString tooLargeReason();
// Reads the finished reply; received is what was already read out of it, inflated by inflater when the body
// is compressed (null: the reply's own inflater is made from its Content-Encoding, nothing having been read
// out). A body that inflates past maxBodyBytes() fails as too large. A network failure, a
// timeout, an oversized, truncated or undecodable body gives ok == false and an empty body; an HTTP
// error status keeps its body (it is scanned like any page) but is not ok. A failure's error text
// always names its reason. A 304 is ok (notModified) only as the answer to a conditional request and
// without a body. A Retry-After date is counted from now, the caller's clock reading.
FetchedPage takePage(QNetworkReply* reply, const QDateTime& now, QByteArray received = {},
                     BodyInflater* inflater = nullptr);
// Reads a page that is a feed (FeedReader::isFeed): its items become feedItems, and a feed that cannot be
// read fails the page with the reason. Called with the page's reading (Task::readPage), off the window thread. Any
// other page, a failed one or a 304 is left as it is; a plain page costs a look at its first bytes.
void readFeed(FetchedPage& page, const QString& address);
// The address the page's links are relative to: where the download ended, or the requested
// address when the reply carries none.
QUrl baseOf(const FetchedPage& page, const QString& address);
// Decodes the body as a browser does: by its byte-order mark, else the charset of the Content-Type
// header, else a meta charset in its first 1,024 bytes, else as UTF-8 when the bytes are valid UTF-8,
// else as ISO 8859-1. A charset name no codec knows counts as absent.
QString decode(const QByteArray& body, const QByteArray& contentType = {});
// The charset parameter of a Content-Type header, without quotes; empty when there is none.
QByteArray charsetOf(const QByteArray& contentType);
} // namespace PageFetch
