// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialogoption.h"
#include "ui_dialogoption.h"

#include "dialogs/hoursedit.h"
#include "dialogs/newsedit.h"
#include "dialogs/numberbox.h"

#include "core/newsoutbox.h"
#include "engine/news/newsdelivery.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

DialogOption::DialogOption(const Options& options, QWidget* parent) : QDialog(parent), ui(new Ui::DialogOption)
{
    ui->setupUi(this);
    // The spin box clamps a day count edited outside the program to 7..31.
    ui->checkBoxAutoDelete->setChecked(options.autoDelete);
    ui->checkBoxAutorun->setChecked(options.autoRun);
    ui->spinBoxDays->setValue(options.deleteDays);
    ui->checkBoxReportNewLinks->setChecked(options.reportNewLinks);
    NumberBox::guard(ui->spinBoxDays, tr("Days"));
    addNewsTab();
    m_news->setOptions({{QLatin1String(NewsDestination::CommandOption), options.newsCommand},
                        {QLatin1String(NewsDestination::PostOption), options.newsPost},
                        {QLatin1String(NewsDestination::HeadersOption), options.newsHeaders},
                        {QLatin1String(NewsDestination::PlainOption), options.newsPlain ? "1" : ""}});
    ui->spinBoxChecksBeforeLook->setValue(options.checksBeforeLook);
    addHours();
    const std::optional<CheckHours> hours = CheckHours::fromText(options.checkHours);
    m_hoursOn->setChecked(hours && !hours->isAlways());
    // Unset, the fields offer working hours to start from.
    m_hours->setHours(m_hoursOn->isChecked() ? *hours : *CheckHours::fromText(QStringLiteral("08:00-18:00 12345")));
    m_hours->setEnabled(m_hoursOn->isChecked());
}

void DialogOption::addHours()
{
    m_hoursOn = new QCheckBox(tr("&Check only in these hours (Update Tasks Now checks at any time):"), ui->tabTask);
    m_hoursOn->setObjectName(QStringLiteral("checkBoxCheckHours"));
    m_hours = new HoursEdit(tr("&from"), ui->tabTask);
    m_hours->setObjectName(QStringLiteral("hoursEditCheckHours"));
    ui->formLayout->addRow(m_hoursOn);
    ui->formLayout->addRow(m_hours);
    connect(m_hoursOn, &QCheckBox::toggled, m_hours, &QWidget::setEnabled);
    // Reached by the keyboard after the fields above them, not after the buttons.
    QList<QWidget*> order{ui->spinBoxChecksBeforeLook, m_hoursOn};
    order += m_hours->fields();
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void DialogOption::addNewsTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("tabNews"));
    auto* form = new QFormLayout(tab);
    m_news = new NewsEdit(tr("Headers of the p&ost:"), tab);
    auto* test = new QPushButton(tr("&Test"), tab);
    test->setObjectName(QStringLiteral("pushButtonNewsTest"));
    m_newsOutcome = new QLabel(tab);
    m_newsOutcome->setObjectName(QStringLiteral("labelNewsOutcome"));
    m_newsOutcome->setWordWrap(true);
    m_newsOutcome->setTextFormat(Qt::PlainText);
    form->addRow(m_news);
    form->addRow(test, m_newsOutcome);
    ui->tabWidget->addTab(tab, tr("When there is news"));
    connect(test, &QPushButton::clicked, this, [this] {
        QString problem;
        const QList<NewsDestination> destinations = newsDestinations(&problem);
        if (!problem.isEmpty() || destinations.isEmpty()) {
            showNewsOutcome(problem.isEmpty() ? tr("Enter a command or an address first.") : problem);
            return;
        }
        showNewsOutcome(tr("Sending a sample..."));
        for (const NewsDestination& destination : destinations) {
            if (m_newsTester)
                m_newsTester(destination);
        }
    });
}

QList<NewsDestination> DialogOption::newsDestinations(QString* problem, QString* option) const
{
    QString field;
    m_news->refuses(option ? option : &field, problem);
    return NewsOutbox::ownDestinations(m_news->options());
}

void DialogOption::setNewsTester(std::function<void(const NewsDestination&)> tester, const QString& lastOutcomes)
{
    m_newsTester = std::move(tester);
    m_newsOutcome->setText(lastOutcomes);
}

void DialogOption::showNewsOutcome(const QString& text)
{
    m_newsOutcome->setText(text);
}

DialogOption::~DialogOption()
{
    delete ui;
}

void DialogOption::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

bool DialogOption::isAutoRun() const
{
    return ui->checkBoxAutorun->isChecked();
}

bool DialogOption::isAutoDelete() const
{
    return ui->checkBoxAutoDelete->isChecked();
}

int DialogOption::deleteDays() const
{
    return ui->spinBoxDays->value();
}

bool DialogOption::isReportNewLinks() const
{
    return ui->checkBoxReportNewLinks->isChecked();
}

Options DialogOption::options() const
{
    const QHash<QString, QString> news = m_news->options();
    return Options{isAutoRun(),
                   isAutoDelete(),
                   deleteDays(),
                   isReportNewLinks(),
                   news.value(QLatin1String(NewsDestination::CommandOption)),
                   news.value(QLatin1String(NewsDestination::PostOption)),
                   news.value(QLatin1String(NewsDestination::HeadersOption)),
                   news.contains(QLatin1String(NewsDestination::PlainOption)),
                   ui->spinBoxChecksBeforeLook->value(),
                   m_hoursOn->isChecked() ? m_hours->hours().toText() : QString()};
}

void DialogOption::on_pushButtonOk_clicked()
{
    // Refused with what was typed kept and the cursor in the field at fault.
    if (const QString problem = m_hoursOn->isChecked() ? m_hours->problem() : QString(); !problem.isEmpty()) {
        ui->tabWidget->setCurrentWidget(ui->tabTask);
        QMessageBox::warning(this, tr("Hours"), problem);
        m_hours->firstField()->setFocus(Qt::OtherFocusReason);
        return;
    }
    QString problem;
    QString option;
    newsDestinations(&problem, &option);
    if (!problem.isEmpty()) {
        ui->tabWidget->setCurrentWidget(m_news->parentWidget());
        QMessageBox::warning(this, tr("When there is news"), problem);
        m_news->fieldOf(option)->setFocus(Qt::OtherFocusReason);
        return;
    }
    accept();
}

void DialogOption::on_pushButtonCancel_clicked()
{
    reject();
}
