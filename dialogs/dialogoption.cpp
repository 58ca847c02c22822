// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialogoption.h"
#include "ui_dialogoption.h"

#include "dialogs/numberbox.h"

#include "engine/newsdelivery.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
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
    m_newsCommand->setText(options.newsCommand);
    m_newsPost->setText(options.newsPost);
    m_newsHeaders->setPlainText(options.newsHeaders);
    m_newsPlain->setChecked(options.newsPlain);
    ui->spinBoxChecksBeforeLook->setValue(options.checksBeforeLook);
}

void DialogOption::addNewsTab()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("tabNews"));
    auto* form = new QFormLayout(tab);
    m_newsCommand = new QLineEdit(tab);
    m_newsCommand->setObjectName(QStringLiteral("lineEditNewsCommand"));
    m_newsCommand->setMaxLength(NewsDestination::MaxTargetLength);
    m_newsCommand->setPlaceholderText(tr("a program and its arguments; the news comes as JSON on its input"));
    m_newsPost = new QLineEdit(tab);
    m_newsPost->setObjectName(QStringLiteral("lineEditNewsPost"));
    m_newsPost->setMaxLength(NewsDestination::MaxTargetLength);
    m_newsPost->setPlaceholderText(QStringLiteral("https://"));
    m_newsHeaders = new QPlainTextEdit(tab);
    m_newsHeaders->setObjectName(QStringLiteral("plainTextEditNewsHeaders"));
    m_newsHeaders->setTabChangesFocus(true);
    m_newsHeaders->setPlaceholderText(tr("Authorization: Bearer ..."));
    m_newsHeaders->setMaximumHeight(60);
    m_newsPlain = new QCheckBox(tr("Post plain te&xt with a Title header instead of JSON"), tab);
    m_newsPlain->setObjectName(QStringLiteral("checkBoxNewsPlain"));
    auto* test = new QPushButton(tr("&Test"), tab);
    test->setObjectName(QStringLiteral("pushButtonNewsTest"));
    m_newsOutcome = new QLabel(tab);
    m_newsOutcome->setObjectName(QStringLiteral("labelNewsOutcome"));
    m_newsOutcome->setWordWrap(true);
    m_newsOutcome->setTextFormat(Qt::PlainText);
    form->addRow(tr("Run a co&mmand on news:"), m_newsCommand);
    form->addRow(tr("&Post news to:"), m_newsPost);
    form->addRow(tr("Headers of the p&ost:"), m_newsHeaders);
    form->addRow(QString(), m_newsPlain);
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

QList<NewsDestination> DialogOption::newsDestinations(QString* problem) const
{
    QList<NewsDestination> destinations;
    if (!m_newsCommand->text().trimmed().isEmpty())
        destinations.append({NewsDestination::Kind::Command, m_newsCommand->text().trimmed(), {}, false});
    if (!m_newsPost->text().trimmed().isEmpty())
        destinations.append({NewsDestination::Kind::Post, m_newsPost->text().trimmed(), m_newsHeaders->toPlainText(),
                             m_newsPlain->isChecked()});
    for (const NewsDestination& destination : destinations) {
        if (const QString why = destination.problem(); !why.isEmpty()) {
            *problem = why;
            break;
        }
    }
    return destinations;
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
    return Options{isAutoRun(),
                   isAutoDelete(),
                   deleteDays(),
                   isReportNewLinks(),
                   m_newsCommand->text().trimmed(),
                   m_newsPost->text().trimmed(),
                   m_newsHeaders->toPlainText().trimmed(),
                   m_newsPlain->isChecked(),
                   ui->spinBoxChecksBeforeLook->value()};
}

void DialogOption::on_pushButtonOk_clicked()
{
    QString problem;
    newsDestinations(&problem);
    if (!problem.isEmpty()) {
        ui->tabWidget->setCurrentWidget(m_newsCommand->parentWidget());
        QMessageBox::warning(this, tr("When there is news"), problem);
        return;
    }
    accept();
}

void DialogOption::on_pushButtonCancel_clicked()
{
    reject();
}
