// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

namespace Ui {
class DialogProgress;
}

class DialogProgress : public QDialog
{
    Q_OBJECT

public:
    explicit DialogProgress(QWidget* parent = nullptr);
    ~DialogProgress() override;

    void setMessage(const QString& message);

protected:
    void changeEvent(QEvent* event) override;

private:
    Ui::DialogProgress* ui;
};
