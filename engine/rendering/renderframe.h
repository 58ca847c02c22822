// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <optional>

// The one contract between vantrel-render and the program that starts it. The program writes requests on
// the helper's standard input; the helper renders several at once and answers each on its standard output
// as it ends. Every frame is a first line, "name: value" lines, a blank line, and as many bytes as its
// "length" names (none when it names none):
//   render <id>                      cancel <id>               vantrel-render 1
//   url: <address>                   (nothing more)            id: <id>
//   timeout-ms: <bound of the render>                          result: <ExitStatus>
//   user-agent: <value>              (optional)                reason: <one line, when not Rendered>
//   header: <Name>: <value>          (any number)              url: <final address>
//                                                              status: <HTTP status>
//                                                              length: <bytes of the document>
//                                                              <the serialised document, UTF-8>
// The task's headers travel only here: no command line or log of either process holds them. The helper
// ends when its standard input closes and no render is left.
namespace RenderFrame {

enum ExitStatus
{
    Rendered = 0,
    Usage = 1,         // bad arguments or a bad request
    LoadFailed = 2,    // the address could not be loaded (network error, refused redirection)
    HttpError = 3,     // the server answered with an error status
    TimedOut = 4,      // the whole run took longer than its bound
    EngineCrashed = 5, // the browser engine's page process ended
    TooLarge = 6,      // the document is larger than the output bound
    NoEngine = 7,      // the browser engine could not start
    OutOfMemory = 8    // the page's process, or the helper's processes together, passed their memory bound
};

constexpr int DefaultQuietMs = 500;      // the DOM must stay unchanged this long
constexpr int DefaultSettleCapMs = 8000; // but no longer than this after loading
constexpr int DefaultTimeoutMs = 30000;  // the whole run
constexpr qint64 MaxOutputBytes = 32LL * 1024 * 1024;
constexpr int MaxRedirects = 5; // as a download follows them
// The memory a page's process may take, and the helper's processes all together.
constexpr qint64 DefaultPageMemoryBytes = 256LL * 1024 * 1024;
constexpr qint64 DefaultTotalMemoryBytes = 1024LL * 1024 * 1024;
// The lines of one frame before its document: room for a request's headers, which are bounded in number
// and size where they are written.
constexpr qsizetype MaxFieldBytes = 512 * 1024;

using Headers = QList<QPair<QByteArray, QByteArray>>;

struct Request
{
    quint64 id = 0;
    QUrl url;
    int timeoutMs = DefaultTimeoutMs;
    QByteArray userAgent; // empty: the engine's own
    Headers headers;      // sent with the requests to the page's own scheme, host and port only
};

struct Page
{
    QUrl url;
    int status = 0;
    QByteArray document;
};

struct Answer
{
    quint64 id = 0;
    int result = Rendered; // an ExitStatus
    QString reason;        // why it is not Rendered
    Page page;             // when it is
};

// A request as the helper reads it; a header or agent holding a line break is left out.
QByteArray encodeRequest(const Request& request);
QByteArray encodeCancel(quint64 id);
QByteArray encodeAnswer(const Answer& answer);

// Cuts a byte stream into frames as it arrives. Bounded: a frame whose lines pass MaxFieldBytes or whose
// document passes the reader's maxDocument fails the stream, and so does anything that is not a frame.
class Reader
{
public:
    explicit Reader(qint64 maxDocument = MaxOutputBytes) : m_maxDocument(maxDocument) {}
    void feed(const QByteArray& bytes) { m_buffer += bytes; }
    // The next whole frame; nullopt while it is not whole, or when the stream failed.
    std::optional<Request> nextRequest(bool* cancel);
    std::optional<Answer> nextAnswer();
    bool failed() const { return m_failed; }
    // The bytes held, for bounding what a peer may leave unread.
    qsizetype buffered() const { return m_buffer.size(); }

private:
    struct Frame
    {
        QByteArray first;
        QList<QPair<QByteArray, QByteArray>> fields;
        QByteArray body;
        QByteArray value(const QByteArray& name) const;
    };
    std::optional<Frame> next();

    QByteArray m_buffer;
    qint64 m_maxDocument;
    bool m_failed = false;
};

// A user-readable reason for an exit status, for when the helper wrote none.
QString describe(int exitStatus);

} // namespace RenderFrame
