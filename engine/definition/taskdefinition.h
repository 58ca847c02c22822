// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QHash>
#include <QString>

class Task;

// Everything that defines a task, wherever it comes from (the new-task and edit dialogs, an import file, a
// row of task.db): its name, address, keyword, frequency and the options the user sets. normalised() takes
// the entries as the task uses them; check() names the first problem, so every way in refuses what the
// dialog refuses.
struct TaskDefinition
{
    Q_DECLARE_TR_FUNCTIONS(TaskDefinition)

public:
    QString name;
    QString address;
    QString keyword;
    int frequency = 0;
    QHash<QString, QString> options; // by their names in task.db

    // What the dialog's line edits hold at most.
    static constexpr int MaxTextLength = 32767;
    static constexpr int MaxFrequency = 31 * 86400;
    // The longest list of excluded words (each is looked for in every link's text).
    static constexpr int MaxExcludedLength = 1000;

    enum class Field
    {
        None,
        Name,
        Address,
        Keyword,
        Frequency,
        Option
    };
    struct Problem
    {
        Field field = Field::None;
        QString option;     // Field::Option: its name in task.db
        QString reason;     // plain text, names no value
        bool empty = false; // the field is empty (the dialogs have a message of their own for it)
        explicit operator bool() const { return field != Field::None; }
        // "keyword: empty": the field as an exported file names it, then the reason.
        QString text() const;
    };
    // What check() looks at besides name, address and keyword. A row of task.db is taken with the frequency
    // and options it holds but its region: the timer copes with any frequency, and the other options are checked
    // again when a request is built (a bad header line is left out alone), while a region no door accepts now
    // is not read.
    enum Part
    {
        Frequency = 0x1,
        Options = 0x2, // every option, the region among them
        Region = 0x4,
        Everything = Frequency | Options
    };

    static TaskDefinition of(const Task& task);
    // Name and keyword simplified (trimmed, inner runs of white space made one space); every space removed
    // from the address, a scheme of http or https written in capitals made small ("HTTP://" is "http://"), and
    // then one trailing "/" dropped; the region trimmed, the excluded words simplified
    // and joined by ", " with empty ones dropped.
    TaskDefinition normalised() const;
    static QString normalAddress(const QString& typed);
    // An address typed without a scheme ("www.example.com/news") that is a web address with one; empty for
    // any other.
    static QString withoutScheme(const QString& typed);
    // The first problem in the order of the dialog's tests: name, address, keyword, then frequency and the
    // options the task uses.
    Problem check(int parts = Everything) const;

    // The options a user sets, with their checks. A new option is one more entry here (task.cpp's accessors
    // read it); options not listed (the validators kept by checks) are not part of a definition.
    static const QStringList& userOptions();
    // The options of the list set by their own commands (pause, mute) rather than by the task's dialog.
    static const QStringList& switchOptions();
    // Why the option's value cannot be used, empty when it can (also for an option not listed).
    static QString optionProblem(const QString& option, const QString& value);
    // The options of the list only, empty values left out.
    static QHash<QString, QString> userOptionsOf(const QHash<QString, QString>& options);

    // Why a name or keyword cannot be shown as it is, empty when it can: a control character (C0 but the white
    // space that normalised() makes a space, DEL, C1), or a bidirectional embedding, override or isolate
    // (U+202A to U+202E, U+2066 to U+2069), which would turn the text around it in the list, the balloons and
    // the exports. The marks U+200E, U+200F and U+061C stay: right-to-left writing uses them, and they
    // reorder nothing beyond themselves.
    static QString textProblem(const QString& text);
    // An absolute address beginning with http:// or https:// (case-sensitive), with a host.
    static bool isWebAddress(const QString& address);
    // The one duplicate rule: the same address, and keywords equal but for case (the keyword test ignores
    // case, so such tasks find the same links).
    static bool sameWatch(const QString& address, const QString& keyword, const QString& otherAddress,
                          const QString& otherKeyword);
};
