// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

// What vantrel-render writes on standard output and the exit statuses it ends with: the one contract
// between the helper and the program that starts it. The frame is
//   vantrel-render 1\n
//   url: <final address>\n
//   status: <HTTP status>\n
//   length: <bytes of the document>\n
//   \n
//   <the serialised document, UTF-8>
// and nothing after it, so a cut or padded output is told from a whole one.
namespace RenderFrame {

enum ExitStatus
{
    Rendered = 0,
    Usage = 1,         // bad arguments
    LoadFailed = 2,    // the address could not be loaded (network error, refused redirection)
    HttpError = 3,     // the server answered with an error status
    TimedOut = 4,      // the whole run took longer than its bound
    EngineCrashed = 5, // the browser engine's page process ended
    TooLarge = 6,      // the document is larger than the output bound
    NoEngine = 7       // the browser engine could not start
};

constexpr int DefaultQuietMs = 500;      // the DOM must stay unchanged this long
constexpr int DefaultSettleCapMs = 8000; // but no longer than this after loading
constexpr int DefaultTimeoutMs = 30000;  // the whole run
constexpr qint64 MaxOutputBytes = 32LL * 1024 * 1024;
constexpr int MaxRedirects = 5; // as a download follows them

struct Page
{
    QUrl url;
    int status = 0;
    QByteArray document;
};

QByteArray encode(const Page& page);
// The page of a whole frame; nullopt for anything else (a cut, a bad header, bytes after the document).
std::optional<Page> decode(const QByteArray& output);
// A user-readable reason for an exit status, for when the helper wrote none.
QString describe(int exitStatus);

} // namespace RenderFrame
