// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/settings.h"

#include <QDialog>

namespace Ui {
class DialogOption;
}

class DialogOption : public QDialog
{
    Q_OBJECT

public:
    // Shows the given options; options() gives them back as the user left them.
    explicit DialogOption(const Options& options, QWidget* parent = nullptr);
    ~DialogOption() override;

    bool isAutoRun() const;
    bool isAutoDelete() const;
    int deleteDays() const;
    bool isReportNewLinks() const;
    Options options() const;

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void on_pushButtonOk_clicked();
    void on_pushButtonCancel_clicked();

private:
    Ui::DialogOption* ui;
};
