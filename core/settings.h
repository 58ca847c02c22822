// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QtGlobal>

class QSettings;

namespace AppSettings {
// Where the program keeps its options and window state.
inline const QString Organization = QStringLiteral("Orrimbel Studio");
inline const QString Application = QStringLiteral("Vantrel Monitor");

// Values written by hand or by another program may be anything: what does not read as the expected type
// gives the fallback, as a missing value does.
bool readBool(const QSettings& settings, const QString& key, bool fallback);
// A day count: a whole number of 0 or more, else the fallback.
int readDays(const QSettings& settings, const QString& key, int fallback);
} // namespace AppSettings

// The options the user sets in the options dialog (group "options").
struct Options
{
    bool autoRun = false;        // is_auto_run
    bool autoDelete = false;     // is_auto_delete
    int deleteDays = 14;         // delete_days, as stored (the dialog shows it within 7..31)
    bool reportNewLinks = false; // report_new_links
    // Where news goes beyond this desktop, for every task that does not choose its own.
    QString newsCommand;      // news_command: a command line, empty for none
    QString newsPost;         // news_post: an http(s) address, empty for none
    QString newsHeaders;      // news_headers: extra request headers of the post, "Name: value" one a line
    bool newsPlain = false;   // news_plain: the post as plain text with a Title header
    int checksBeforeLook = 3; // look_after_checks: failed or empty checks in a row before a task needs a look
    QString checkHours; // check_hours: the hours of the periodic checks as "08:00-18:00 12345", empty for any time
};

// How the main window was left (group "mainwindow").
struct WindowState
{
    QPoint pos{0, 0};
    QSize size{800, 600};
    bool maximized = false;
    bool toolbar = true;
    QByteArray splitter;
    QByteArray splitter2;
    // The results table's sort (group "results_table", its own, so older copies read "mainwindow" unchanged).
    int resultsSortColumn = 0;                            // sort_column: the date
    Qt::SortOrder resultsSortOrder = Qt::DescendingOrder; // sort_order: 0 ascending, 1 descending
    // The task selected when the window closed, by its row in task.db (group "task_list", selected_row); 0: none.
    int selectedTaskRow = 0;
};

// The one reader and writer of the settings file: every key, group and default is written here once.
class Settings
{
public:
    Options options() const;
    // False when the file could not be written.
    bool setOptions(const Options& options);
    WindowState windowState() const;
    void setWindowState(const WindowState& state);
};
