// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

namespace Ui {
class DialogHelp;
}

// The user guide, shown from the copy of the README built into the program, so it needs no network.
class DialogHelp : public QDialog
{
    Q_OBJECT

public:
    explicit DialogHelp(QWidget* parent = nullptr);
    ~DialogHelp() override;

    // The "## User guide" section of a Markdown text, up to the next heading of the same level; empty when
    // there is none.
    static QString guideSection(const QString& markdown);
    // The anchor a link names a heading by, as GitHub makes it: small letters, spaces made hyphens, other
    // punctuation dropped ("Watching a feed" is "watching-a-feed").
    static QString anchorOf(const QString& heading);

protected:
    void changeEvent(QEvent* event) override;

private:
    // A link to a heading of the guide moves the guide there; a web address opens in the browser.
    void follow(const QUrl& link);

    Ui::DialogHelp* ui;
};
