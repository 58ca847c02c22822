// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The request headers of a download: the ones every request carries, and a task's own, as the user
// writes them ("Name: value", one a line) and as task.db keeps them (the same text).
namespace RequestHeaders {
using Header = QPair<QByteArray, QByteArray>;
using List = QList<Header>;

constexpr int MaxNameLength = 64;
constexpr int MaxValueLength = 8192;
constexpr int MaxHeaders = 32;

// "Mozilla/5.0 (X11; Linux x86_64) VantrelMonitor/<version>", what servers expect of a desktop client.
QByteArray defaultUserAgent();
// What a browser sends for a page.
QByteArray defaultAccept();
// The languages of the user's locale, most wanted first ("de-DE,de;q=0.9,en;q=0.8").
QByteArray acceptLanguage(const QStringList& uiLanguages);

// Why a header cannot be sent, or an empty text when it can: a name must be an HTTP token the program
// does not set itself, a value may hold no line break or other control character, and both are bounded.
QString problem(const QString& name, const QString& value);
// The headers of the text, one "Name: value" a line (blank lines skipped). On a problem, *error names the
// line and the list is empty.
List parse(const QString& text, QString* error);
// The same for text read back from task.db when a request is built: a line with a problem is left out
// alone and the others are kept.
List parseEach(const QString& text);
// Whether a validator (an ETag or Last-Modified value, from a server or from task.db) may be sent back:
// printable ISO 8859-1 only (no control character at all), at most MaxValidatorLength bytes, not empty.
constexpr int MaxValidatorLength = 1024;
bool isValidator(const QByteArray& value);
QString format(const List& headers);
} // namespace RequestHeaders
