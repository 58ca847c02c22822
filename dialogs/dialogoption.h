// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/settings.h"

#include <QDialog>

#include <functional>

class HoursEdit;
class NewsEdit;
class QCheckBox;
class QLabel;
struct NewsDestination;

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
    // What the Test button does with each destination entered (sends a sample through the outbox); the outcome
    // comes back through showNewsOutcome(). lastOutcomes is shown until then.
    void setNewsTester(std::function<void(const NewsDestination&)> tester, const QString& lastOutcomes);
    void showNewsOutcome(const QString& text);

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void on_pushButtonOk_clicked();
    void on_pushButtonCancel_clicked();

private:
    void addNewsTab();
    void addHours();
    // The destinations entered; *problem says why the first that cannot be used cannot, *option names its field.
    QList<NewsDestination> newsDestinations(QString* problem, QString* option = nullptr) const;

    Ui::DialogOption* ui;
    QCheckBox* m_hoursOn = nullptr;
    HoursEdit* m_hours = nullptr;
    NewsEdit* m_news = nullptr;
    QLabel* m_newsOutcome = nullptr;
    std::function<void(const NewsDestination&)> m_newsTester;
};
