// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

// Where news goes beyond this desktop, as the user enters it: a command, an address to post to with its headers,
// and whether the post is plain text. The options dialog and the task dialog show the same fields, checked by
// the same rule (NewsDestination::optionProblem); headersLabel is the caller's, as the rest of its form gives
// the letters.
class NewsEdit : public QWidget
{
    Q_OBJECT

public:
    explicit NewsEdit(const QString& headersLabel, QWidget* parent = nullptr);

    // By the names of the task options (news_command, news_post, news_headers, news_plain), empty ones left out.
    void setOptions(const QHash<QString, QString>& options);
    QHash<QString, QString> options() const;
    // The first option that cannot be used and why; false when all can.
    bool refuses(QString* option, QString* reason) const;
    QWidget* fieldOf(const QString& option) const;
    // Its fields in the order of the keyboard.
    QList<QWidget*> fields() const;

private:
    QLineEdit* m_command;
    QLineEdit* m_post;
    QPlainTextEdit* m_headers;
    QCheckBox* m_plain;
};
