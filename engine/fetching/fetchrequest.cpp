// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fetching/fetchrequest.h"

#include "engine/fetching/bodyinflater.h"

#include <QLocale>
#include <QNetworkReply>
#include <QTextCodec>
#include <QTimeZone>
#include <QTimer>

#include <atomic>

namespace {
std::atomic<int> g_transferTimeout{PageFetch::DefaultTransferTimeoutMs};
std::atomic<qint64> g_maxBodyBytes{PageFetch::MaxBodyBytes};

// Set on a reply that guardBody() aborted, with the reason.
const char* const AbortReasonProperty = "vantrel_abort_reason";

// Errors that can stand for an HTTP error status (with a status of 400 or more: Qt also gives
// UnknownContentError for a body it could not decompress).
bool isStatusError(QNetworkReply::NetworkError error)
{
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
           (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

// Qt's error text, completed where it names no reason ("Decompression failed: " with nothing after it).
QString failureText(QNetworkReply* reply, int status)
{
    const QNetworkReply::NetworkError error = reply->error();
    QString text = reply->errorString().trimmed();
    if (error == QNetworkReply::RemoteHostClosedError && status != 0)
        return QStringLiteral("the connection closed before the whole page arrived");
    if (text.startsWith(u"Decompression failed", Qt::CaseInsensitive))
        return QStringLiteral("Decompression failed: the compressed body is damaged or not in the announced "
                              "encoding");
    if (text.isEmpty() || text == u"Unknown error" || text.endsWith(u':')) {
        const QString reason = error == QNetworkReply::ProtocolFailure
                                   ? QStringLiteral("the answer could not be read")
                                   : QStringLiteral("network error %1").arg(int(error));
        text = text.isEmpty() || text == u"Unknown error" ? reason : text + u' ' + reason;
    }
    return text;
}
} // namespace

void PageFetch::abortWith(QNetworkReply* reply, const QString& reason)
{
    if (reply->isFinished())
        return;
    reply->setProperty(AbortReasonProperty, reason);
    reply->abort();
}

QString PageFetch::tooLargeReason()
{
    return QStringLiteral("body larger than %1 bytes").arg(maxBodyBytes());
}

int PageFetch::transferTimeout()
{
    return g_transferTimeout.load();
}

void PageFetch::setTransferTimeout(int ms)
{
    // Zero would mean "no timeout" to Qt; every download must stay bounded.
    g_transferTimeout.store(ms > 0 ? ms : DefaultTransferTimeoutMs);
}

qint64 PageFetch::maxBodyBytes()
{
    return g_maxBodyBytes.load();
}

void PageFetch::setMaxBodyBytes(qint64 bytes)
{
    g_maxBodyBytes.store(bytes > 0 ? bytes : MaxBodyBytes);
}

QNetworkRequest PageFetch::makeRequest(const QString& address)
{
    FetchRequest request;
    request.address = address;
    return makeRequest(request);
}

QNetworkRequest PageFetch::makeRequest(const FetchRequest& fetch)
{
    QNetworkRequest request{QUrl(fetch.address)};
    request.setTransferTimeout(transferTimeout());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    static const QByteArray language = RequestHeaders::acceptLanguage(QLocale::system().uiLanguages());
    request.setRawHeader("User-Agent", RequestHeaders::defaultUserAgent());
    request.setRawHeader("Accept", RequestHeaders::defaultAccept());
    request.setRawHeader("Accept-Language", language);
    // Named here, so Qt leaves the body compressed: Qt would inflate it whole ahead of any bound, while the
    // body's reader inflates it piece by piece and stops at the bound on bodies.
    request.setRawHeader("Accept-Encoding", "gzip, deflate");
    // The task's own headers replace the defaults of the same name. Each is checked again here, where the
    // request is built: a value with a line break would add header lines of its own.
    for (const RequestHeaders::Header& header : fetch.headers) {
        if (RequestHeaders::problem(QString::fromLatin1(header.first), QString::fromLatin1(header.second)).isEmpty())
            request.setRawHeader(header.first, header.second);
    }
    if (RequestHeaders::isValidator(fetch.etag))
        request.setRawHeader("If-None-Match", fetch.etag);
    if (RequestHeaders::isValidator(fetch.lastModified))
        request.setRawHeader("If-Modified-Since", fetch.lastModified);
    return request;
}

int PageFetch::retryAfterSeconds(const QByteArray& value, const QDateTime& now)
{
    const QByteArray trimmed = value.trimmed();
    if (trimmed.isEmpty())
        return DefaultRetryAfterSeconds;
    bool number = false;
    const qlonglong seconds = trimmed.toLongLong(&number);
    if (number)
        return int(qBound(0LL, seconds, qlonglong(MaxRetryAfterSeconds)));
    // An HTTP date: "Sun, 06 Nov 1994 08:49:37 GMT".
    QDateTime when = QDateTime::fromString(QString::fromLatin1(trimmed), Qt::RFC2822Date);
    if (!when.isValid()) {
        when = QLocale::c().toDateTime(QString::fromLatin1(trimmed).replace(QStringLiteral(" GMT"), QString()),
                                       QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"));
        when.setTimeZone(QTimeZone::utc());
    }
    if (!when.isValid())
        return DefaultRetryAfterSeconds;
    return int(qBound(qint64(0), now.secsTo(when), qint64(MaxRetryAfterSeconds)));
}

void PageFetch::guardBody(QNetworkReply* reply)
{
    const qint64 limit = maxBodyBytes();
    const QString tooLarge = tooLargeReason();
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply, limit, tooLarge](qint64 received, qint64 total) {
                         if (received > limit || total > limit)
                             abortWith(reply, tooLarge);
                     });
    // Qt holds downloadProgress back for the first 100 ms of a reply, and a fast server delivers a whole
    // body in less: the announced length and every arriving chunk are checked as well.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, limit, tooLarge] {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > limit)
            abortWith(reply, tooLarge);
    });
    QObject::connect(reply, &QIODevice::readyRead, reply, [reply, limit, tooLarge] {
        if (reply->bytesAvailable() > limit)
            abortWith(reply, tooLarge);
    });
    // The transfer timeout only fires after a pause in the traffic; a server that keeps sending a
    // byte now and then would hold the download open for ever. This bounds the whole download.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply,
                     [reply] { abortWith(reply, QStringLiteral("download took too long")); });
    deadline->start(transferTimeout());
}

FetchedPage PageFetch::takePage(QNetworkReply* reply, const QDateTime& now, QByteArray received, BodyInflater* inflater)
{
    FetchedPage page;
    page.url = reply->url();
    page.contentType = reply->rawHeader("Content-Type");
    const QString abortReason = reply->property(AbortReasonProperty).toString();
    if (!abortReason.isEmpty()) {
        page.error = abortReason;
        return page;
    }
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    page.status = status;
    const QNetworkReply::NetworkError error = reply->error();
    // Anything but an HTTP error status is a failure of the transfer itself (refused, closed early,
    // timed out, cancelled, too many or unsafe redirections, a body that could not be decompressed):
    // nothing trustworthy arrived.
    if (error != QNetworkReply::NoError && (!isStatusError(error) || status < 400)) {
        page.error = failureText(reply, status);
        return page;
    }
    if (status == 429 || status == 503)
        page.retryAfterSeconds = retryAfterSeconds(reply->rawHeader("Retry-After"), now);
    page.body = std::move(received);
    std::unique_ptr<BodyInflater> own;
    if (!inflater) {
        own = BodyInflater::forEncoding(reply->rawHeader("Content-Encoding"), maxBodyBytes());
        inflater = own.get();
    }
    if (!inflater) {
        page.body += reply->readAll();
    } else if (!inflater->add(reply->readAll(), page.body)) {
        page.body.clear();
        page.error = inflater->error();
        return page;
    }
    if (status == 304) {
        // Not modified: good news only when it was asked for, and nothing came with it.
        const QNetworkRequest request = reply->request();
        const bool asked = request.hasRawHeader("If-None-Match") || request.hasRawHeader("If-Modified-Since");
        const bool withBody =
            !page.body.isEmpty() || reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > 0;
        page.body.clear();
        page.ok = asked && !withBody && error == QNetworkReply::NoError;
        page.notModified = page.ok;
        if (!page.ok)
            page.error =
                asked ? QStringLiteral("HTTP 304 with a body") : QStringLiteral("HTTP 304 that was not asked for");
        return page;
    }
    page.ok = error == QNetworkReply::NoError && status >= 200 && status < 300;
    if (page.ok) {
        // Kept only when they could be sent back as they are.
        page.etag = reply->rawHeader("ETag");
        page.lastModified = reply->rawHeader("Last-Modified");
        if (!RequestHeaders::isValidator(page.etag))
            page.etag.clear();
        if (!RequestHeaders::isValidator(page.lastModified))
            page.lastModified.clear();
    }
    if (!page.ok)
        page.error =
            error != QNetworkReply::NoError ? failureText(reply, status) : QStringLiteral("HTTP status %1").arg(status);
    return page;
}

QUrl PageFetch::baseOf(const FetchedPage& page, const QString& address)
{
    return page.url.isEmpty() ? QUrl(address) : page.url;
}

namespace {
const QString kFeedUnreadable = QStringLiteral("the feed could not be read");
} // namespace

bool PageFetch::isReadingFailure(const QString& error)
{
    return error.startsWith(kFeedUnreadable);
}

void PageFetch::readFeed(FetchedPage& page, const QString& address)
{
    if (!page.ok || page.notModified || !FeedReader::isFeed(page.contentType, page.body))
        return;
    FeedReader::Result feed = FeedReader::read(page.body, page.contentType, baseOf(page, address));
    if (!feed.ok) {
        page.ok = false;
        page.error = feed.abandoned ? feed.error : kFeedUnreadable + QStringLiteral(": ") + feed.error;
        page.body.clear();
        return;
    }
    page.feed = true;
    page.feedItems = std::move(feed.items);
}

namespace {
// Whether the page itself names ISO 8859-1 (or a name of it) in a meta tag: then it is read so even when
// its bytes happen to be valid UTF-8.
bool namesLatin1(const QByteArray& body)
{
    const QByteArray head = body.left(1024).toLower();
    for (const char* name : {"iso-8859-1", "latin1", "latin-1", "iso8859-1", "us-ascii"}) {
        if (head.contains(QByteArray("charset=") + name) || head.contains(QByteArray("charset=\"") + name))
            return true;
    }
    return false;
}
} // namespace

QByteArray PageFetch::charsetOf(const QByteArray& contentType)
{
    for (const QByteArray& parameter : contentType.split(';')) {
        const QByteArray trimmed = parameter.trimmed();
        const qsizetype eq = trimmed.indexOf('=');
        if (eq < 0 || trimmed.left(eq).trimmed().toLower() != "charset")
            continue;
        QByteArray value = trimmed.mid(eq + 1).trimmed();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return value.trimmed();
    }
    return {};
}

QString PageFetch::decode(const QByteArray& body, const QByteArray& contentType)
{
    QTextCodec* codec = QTextCodec::codecForUtfText(body, nullptr);
    const QByteArray charset = charsetOf(contentType);
    if (!codec && !charset.isEmpty())
        codec = QTextCodec::codecForName(charset);
    // codecForHtml looks for a byte-order mark (none here), then a charset in a meta tag; without one
    // it gives the fallback. Bytes that are valid UTF-8 are read as UTF-8, as browsers do, else as
    // ISO 8859-1.
    if (!codec) {
        QTextCodec* const latin1 = QTextCodec::codecForName("ISO-8859-1");
        codec = QTextCodec::codecForHtml(body, latin1);
        if (codec == latin1 && !namesLatin1(body)) {
            QTextCodec::ConverterState state;
            const QString text = QTextCodec::codecForName("UTF-8")->toUnicode(body.constData(), body.size(), &state);
            if (state.invalidChars == 0 && state.remainingChars == 0)
                return text;
        }
    }
    return codec->toUnicode(body);
}
