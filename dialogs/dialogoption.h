// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

namespace Ui {
class DialogOption;
}

class DialogOption : public QDialog
{
    Q_OBJECT

public:
    explicit DialogOption(QWidget* parent = nullptr);
    ~DialogOption() override;

    bool isAutoRun() const;
    bool isAutoDelete() const;
    int deleteDays() const;
    bool isReportNewLinks() const;

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void on_pushButtonOk_clicked();
    void on_pushButtonCancel_clicked();

private:
    Ui::DialogOption* ui;
};
