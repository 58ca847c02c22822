// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QNetworkAccessManager;

// One place news is delivered to: a command run with the news on its standard input, or a web address the
// news is posted to. Its key() is what the outbox stores with each event, so an event goes where it was
// addressed when it was written, also after a restart.
struct NewsDestination
{
    Q_DECLARE_TR_FUNCTIONS(NewsDestination)

public:
    enum class Kind
    {
        Command,
        Post
    };
    Kind kind = Kind::Command;
    QString target;         // the command line, or the address
    QString headers;        // Post: extra request headers, "Name: value" one a line, as for a task
    bool plainText = false; // Post: the announcement's text with a Title header instead of the JSON

    static constexpr int MaxTargetLength = 4096;

    // The task options that say where a task's news goes.
    static constexpr const char* ToOption = "news_to"; // empty: as in Options; "none"; "own"
    static constexpr const char* CommandOption = "news_command";
    static constexpr const char* PostOption = "news_post";
    static constexpr const char* HeadersOption = "news_headers";
    static constexpr const char* PlainOption = "news_plain"; // "1": plain text with a Title header
    static const QStringList& taskOptions();
    // Why a task's news option cannot be used, empty when it can: the checks of the options dialog, one by one.
    static QString optionProblem(const QString& option, const QString& value);

    QString key() const;
    // The destination a key names; an empty target when the key is not one.
    static NewsDestination fromKey(const QString& key);
    // Why the destination cannot be used, empty when it can.
    QString problem() const;
    // What the user is shown of it: the program run, or the scheme and site posted to (never a path, a query or a
    // header, where tokens live).
    QString label() const;
    bool operator==(const NewsDestination& other) const { return key() == other.key(); }
};

// What one delivery carries.
struct NewsMessage
{
    QByteArray json;                     // the event, for standard input or the body
    QString title;                       // the plain text's Title header
    QString text;                        // the plain text body
    QHash<QString, QString> environment; // extra variables for a command
};

// Delivers news, never blocking the thread it runs on: commands run without a shell, at most maxCommands at once
// (the others wait their turn), each ended with its process group after commandTimeout; their output (standard
// output and error together) is read as it comes and only its last outputLimit bytes kept. A post waits at most
// postTimeout, follows redirections only within the same scheme, host and port (and only those that post again:
// 307, 308), and carries no cookies.
class NewsDelivery : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        bool delivered = false;
        QString reason; // why not, in a few words ("503", "exit status 2")
        QString output; // a failed command's last output
    };
    using Done = std::function<void(const Outcome&)>;

    explicit NewsDelivery(QObject* parent = nullptr);
    ~NewsDelivery() override;

    // Starts the delivery; done is called once, later, on this object's thread.
    void deliver(const NewsDestination& destination, const NewsMessage& message, Done done);
    int running() const { return m_running; }

    // The words of a command line as a POSIX shell splits them (blanks; single quotes; double quotes, inside
    // which a backslash escapes " $ ` and itself; a backslash outside quotes), with nothing expanded. Empty, with
    // *error, for an unterminated quote or a blank line.
    static QStringList splitWords(const QString& line, QString* error);

    void setCommandTimeout(int ms) { m_commandTimeout = ms; }
    void setMaxCommands(int count) { m_maxCommands = count; }
    void setOutputLimit(int bytes) { m_outputLimit = bytes; }
    void setPostTimeout(int ms) { m_postTimeout = ms; }

private:
    struct Queued
    {
        NewsDestination destination;
        NewsMessage message;
        Done done;
    };
    void runCommand(Queued job);
    void post(const NewsDestination& destination, const NewsMessage& message, Done done);
    void commandEnded();

    QNetworkAccessManager* m_network;
    QList<Queued> m_waiting;
    QList<qint64> m_groups; // process groups of the commands running now
    int m_running = 0;
    int m_commandTimeout = 30000;
    int m_maxCommands = 4;
    int m_outputLimit = 4096;
    int m_postTimeout = 30000;
};
