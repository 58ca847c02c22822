// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

namespace Ui {
class DialogAbout;
}

class DialogAbout : public QDialog
{
    Q_OBJECT

public:
    explicit DialogAbout(QWidget* parent = nullptr);
    ~DialogAbout() override;

protected:
    void changeEvent(QEvent* event) override;

private:
    // Puts the running Qt version into the information page.
    void showQtVersion();

    Ui::DialogAbout* ui;
};
