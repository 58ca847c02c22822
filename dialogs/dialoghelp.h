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

protected:
    void changeEvent(QEvent* event) override;

private:
    Ui::DialogHelp* ui;
};
