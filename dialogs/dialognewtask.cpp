// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialognewtask.h"
#include "ui_dialognewtask.h"

#include "dialogs/hoursedit.h"
#include "dialogs/newsedit.h"
#include "dialogs/numberbox.h"
#include "engine/definition/checkhours.h"
#include "engine/definition/task.h"
#include "engine/fetching/requestheaders.h"
#include "engine/news/newsdelivery.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <iterator>

namespace {
// Seconds per unit, in the order of the items of comboBoxFrequencyUnit: Day, Hour, Minute.
constexpr int SecondsPerUnit[] = {86400, 3600, 60};
constexpr int UnitHour = 1;
constexpr int UnitMinute = 2;
// The items of the news box, by the values of the task option they stand for.
const QString NewsModes[] = {QString(), QStringLiteral("none"), QStringLiteral("own")};
// The options of the task's own parts below the form, besides the news destinations.
const char* const OwnParts[] = {Task::RegionOption,     Task::ExcludedWordsOption,  CheckHours::TaskOption,
                                CheckHours::VaryOption, Task::ReportNewLinksOption, NewsDestination::ToOption};
} // namespace

DialogNewTask::DialogNewTask(QWidget* parent) : QDialog(parent), ui(new Ui::DialogNewTask)
{
    ui->setupUi(this);
    ui->comboBoxFrequencyUnit->setCurrentIndex(UnitHour);
    ui->lineEditUserAgent->setPlaceholderText(QString::fromLatin1(RequestHeaders::defaultUserAgent()));
    ui->lineEditUserAgent->setMaxLength(RequestHeaders::MaxValueLength);
    NumberBox::guard(ui->spinBoxFrequencyNum, tr("Frequency"));
    // Folded away until asked for: most pages need none of it.
    m_advancedMargins = ui->verticalLayoutAdvanced->contentsMargins();
    addTaskParts();
    showAdvanced(false);
}

void DialogNewTask::addTaskParts()
{
    m_reportNew = new QCheckBox(tr("Report links that n&ewly appear on the page"), this);
    m_reportNew->setObjectName(QStringLiteral("checkBoxReportNewLinks"));
    ui->formLayout->insertRow(5, QString(), m_reportNew);
    QWidget* advanced = ui->widgetAdvanced;
    QFormLayout* form = ui->formLayoutAdvanced;
    m_hoursMode = new QComboBox(advanced);
    m_hoursMode->setObjectName(QStringLiteral("comboBoxCheckHours"));
    m_hoursMode->addItems({tr("As in Options"), tr("Its own:")});
    m_hours = new HoursEdit(tr("f&rom"), advanced);
    m_hours->setObjectName(QStringLiteral("hoursEditCheckHours"));
    m_hours->setHours(*CheckHours::fromText(QStringLiteral("08:00-18:00 12345")));
    m_vary = new QCheckBox(tr("&Vary each check by up to 10% of its interval (at most 5 minutes)"), advanced);
    m_vary->setObjectName(QStringLiteral("checkBoxVaryChecks"));
    m_newsTo = new QComboBox(advanced);
    m_newsTo->setObjectName(QStringLiteral("comboBoxNewsTo"));
    m_newsTo->addItems({tr("As in Options"), tr("Nowhere beyond this desktop"), tr("Its own:")});
    m_news = new NewsEdit(tr("Hea&ders of the post:"), advanced);
    form->addRow(tr("&Check hours:"), m_hoursMode);
    form->addRow(QString(), m_hours);
    form->addRow(QString(), m_vary);
    form->addRow(tr("&News goes:"), m_newsTo);
    form->addRow(QString(), m_news);
    const auto follow = [this] {
        m_hours->setEnabled(m_hoursMode->currentIndex() == 1);
        m_news->setEnabled(m_newsTo->currentIndex() == 2);
    };
    connect(m_hoursMode, &QComboBox::currentIndexChanged, this, follow);
    connect(m_newsTo, &QComboBox::currentIndexChanged, this, follow);
    follow();
    // The keyboard reaches the new fields where they show, not after the buttons.
    QList<QWidget*> order{
        ui->checkBoxRunScripts,          m_reportNew,        ui->groupBoxAdvanced,      ui->lineEditUserAgent,
        ui->plainTextEditRequestHeaders, ui->lineEditRegion, ui->lineEditExcludedWords, m_hoursMode};
    order += m_hours->fields();
    order += {m_vary, m_newsTo};
    order += m_news->fields();
    order += {ui->pushButtonOk, ui->pushButtonCancel};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void DialogNewTask::setReportNewLinksDefault(bool on)
{
    m_reportDefault = on;
    if (!m_reportGiven)
        m_reportNew->setChecked(on);
}

QString DialogNewTask::reportNewLinksValue() const
{
    // A task edited that follows the Options goes on following them while the box is left as they say.
    if (editing && !m_reportGiven && m_reportNew->isChecked() == m_reportDefault)
        return {};
    return m_reportNew->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}

void DialogNewTask::showAdvanced(bool on)
{
    ui->widgetAdvanced->setVisible(on);
    // Folded, only its check box shows: no frame around nothing.
    ui->groupBoxAdvanced->setFlat(!on);
    ui->verticalLayoutAdvanced->setContentsMargins(on ? m_advancedMargins : QMargins());
}

void DialogNewTask::on_groupBoxAdvanced_toggled(bool on)
{
    showAdvanced(on);
    if (on)
        ui->lineEditUserAgent->setFocus();
    adjustSize();
}

QHash<QString, QString> DialogNewTask::taskOptions() const
{
    QHash<QString, QString> options;
    QString error;
    const QString agent = ui->lineEditUserAgent->text().trimmed();
    if (!agent.isEmpty() && RequestHeaders::problem(QStringLiteral("User-Agent"), agent).isEmpty())
        options.insert(QLatin1String(Task::UserAgentOption), agent);
    const QString headers =
        RequestHeaders::format(RequestHeaders::parse(ui->plainTextEditRequestHeaders->toPlainText(), &error));
    if (!headers.isEmpty())
        options.insert(QLatin1String(Task::RequestHeadersOption), headers);
    const TaskDefinition entered = definition();
    QStringList own = NewsDestination::taskOptions();
    for (const char* part : OwnParts)
        own.append(QLatin1String(part));
    for (const QString& option : std::as_const(own)) {
        const QString value = entered.options.value(option);
        if (!value.isEmpty() && TaskDefinition::optionProblem(option, value).isEmpty())
            options.insert(option, value);
    }
    return options;
}

bool DialogNewTask::checkAdvanced(const TaskDefinition::Problem& problem)
{
    if (!problem || problem.field != TaskDefinition::Field::Option)
        return true;
    // Shown where it can be corrected; the text names the line, never a header's value.
    QWidget* field = ui->plainTextEditRequestHeaders;
    QString title = tr("Request headers");
    QString text = problem.reason;
    if (problem.option == QLatin1String(Task::UserAgentOption)) {
        field = ui->lineEditUserAgent;
    } else if (problem.option == QLatin1String(Task::RegionOption)) {
        field = ui->lineEditRegion;
        title = tr("Region");
        text = tr("The region cannot be used: %1.").arg(problem.reason);
    } else if (problem.option == QLatin1String(Task::ExcludedWordsOption)) {
        field = ui->lineEditExcludedWords;
        title = tr("Left-out words");
        text = tr("The words to leave out cannot be used: %1.").arg(problem.reason);
    } else if (problem.option == QLatin1String(CheckHours::TaskOption)) {
        field = m_hours->firstField();
        title = tr("Check hours");
        text = m_hours->problem().isEmpty() ? problem.reason : m_hours->problem();
    } else if (NewsDestination::taskOptions().contains(problem.option)) {
        field = problem.option == QLatin1String(NewsDestination::ToOption) ? static_cast<QWidget*>(m_newsTo)
                                                                           : m_news->fieldOf(problem.option);
        title = tr("When there is news");
    }
    ui->groupBoxAdvanced->setChecked(true);
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    field->setFocus();
    return false;
}

DialogNewTask::~DialogNewTask()
{
    delete ui;
}

void DialogNewTask::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        setTitle();
    }
}

void DialogNewTask::setTitle()
{
    if (editing)
        setWindowTitle(tr("Edit Task"));
}

void DialogNewTask::setTask(const TaskDefinition& task)
{
    const QHash<QString, QString>& options = task.options;
    const int frequency = task.frequency;
    const QString agent = options.value(QLatin1String(Task::UserAgentOption));
    const QString headers = options.value(QLatin1String(Task::RequestHeadersOption));
    const QString region = options.value(QLatin1String(Task::RegionOption));
    const QString excluded = options.value(QLatin1String(Task::ExcludedWordsOption));
    ui->lineEditUserAgent->setText(agent);
    ui->plainTextEditRequestHeaders->setPlainText(headers);
    ui->lineEditRegion->setText(region);
    ui->lineEditExcludedWords->setText(excluded);
    if (!agent.isEmpty() || !headers.isEmpty() || !region.isEmpty() || !excluded.isEmpty())
        ui->groupBoxAdvanced->setChecked(true);
    ui->checkBoxRunScripts->setChecked(options.value(Task::scriptsOption()) == QLatin1String("1"));
    const std::optional<CheckHours> hours = CheckHours::fromText(options.value(QLatin1String(CheckHours::TaskOption)));
    const bool ownHours = !options.value(QLatin1String(CheckHours::TaskOption)).isEmpty() && hours;
    if (ownHours)
        m_hours->setHours(*hours);
    m_hoursMode->setCurrentIndex(ownHours ? 1 : 0);
    m_vary->setChecked(options.value(QLatin1String(CheckHours::VaryOption)) == QLatin1String("1"));
    const QString report = options.value(QLatin1String(Task::ReportNewLinksOption));
    m_reportGiven = !report.isEmpty();
    m_reportNew->setChecked(m_reportGiven ? report == QLatin1String("1") : m_reportDefault);
    const QString newsTo = options.value(QLatin1String(NewsDestination::ToOption));
    // A value no item stands for (written by hand) shows as following the Options, as the outbox reads it.
    const auto* mode = std::find(std::begin(NewsModes), std::end(NewsModes), newsTo);
    m_newsTo->setCurrentIndex(mode == std::end(NewsModes) ? 0 : int(mode - std::begin(NewsModes)));
    m_news->setOptions(options);
    if (ownHours || m_vary->isChecked() || !newsTo.isEmpty())
        ui->groupBoxAdvanced->setChecked(true);
    editing = true;
    setTitle();
    ui->lineEditTaskName->setText(task.name);
    ui->lineEditWebaddress->setText(task.address);
    ui->lineEditGrabtext->setText(task.keyword);
    // The largest unit that divides the frequency; a frequency of no whole minutes (an older file) is shown
    // rounded up to them.
    int unit = UnitMinute;
    for (int i = 0; i < UnitMinute; ++i) {
        if (frequency > 0 && frequency % SecondsPerUnit[i] == 0) {
            unit = i;
            break;
        }
    }
    const int count = qMax(1, (frequency + SecondsPerUnit[unit] - 1) / SecondsPerUnit[unit]);
    // Beyond the usual 31 the count is kept as it is rather than cut.
    ui->spinBoxFrequencyNum->setMaximum(qMax(ui->spinBoxFrequencyNum->maximum(), count));
    ui->spinBoxFrequencyNum->setValue(count);
    ui->comboBoxFrequencyUnit->setCurrentIndex(unit);
    m_givenFrequency = frequency;
    m_givenCount = ui->spinBoxFrequencyNum->value();
    m_givenUnit = unit;
    // Opens on the name, also when the unfolded Advanced part took the focus.
    ui->lineEditTaskName->setFocus(Qt::OtherFocusReason);
}

bool DialogNewTask::frequencyAsGiven() const
{
    return editing && ui->spinBoxFrequencyNum->value() == m_givenCount &&
           ui->comboBoxFrequencyUnit->currentIndex() == m_givenUnit;
}

TaskDefinition DialogNewTask::definition() const
{
    QHash<QString, QString> options;
    options.insert(QLatin1String(Task::UserAgentOption), ui->lineEditUserAgent->text().trimmed());
    options.insert(QLatin1String(Task::RequestHeadersOption), ui->plainTextEditRequestHeaders->toPlainText());
    options.insert(QLatin1String(Task::RegionOption), ui->lineEditRegion->text());
    options.insert(QLatin1String(Task::ExcludedWordsOption), ui->lineEditExcludedWords->text());
    options.insert(QLatin1String(CheckHours::TaskOption),
                   m_hoursMode->currentIndex() == 1 ? m_hours->text() : QString());
    options.insert(QLatin1String(CheckHours::VaryOption), m_vary->isChecked() ? QStringLiteral("1") : QString());
    options.insert(QLatin1String(Task::ReportNewLinksOption), reportNewLinksValue());
    const int newsTo = qBound(0, m_newsTo->currentIndex(), int(std::size(NewsModes)) - 1);
    options.insert(QLatin1String(NewsDestination::ToOption), NewsModes[newsTo]);
    // The own destinations count only while the task has them: typed and then given up, they are not kept.
    if (NewsModes[newsTo] == QLatin1String("own"))
        options.insert(m_news->options());
    return TaskDefinition{ui->lineEditTaskName->text(), ui->lineEditWebaddress->text(), ui->lineEditGrabtext->text(),
                          frequency(), options}
        .normalised();
}

void DialogNewTask::setDuplicateCheck(std::function<QString(const QString&, const QString&)> check)
{
    duplicateCheck = std::move(check);
}

QString DialogNewTask::taskName() const
{
    return ui->lineEditTaskName->text().simplified();
}

QString DialogNewTask::webAddress() const
{
    return TaskDefinition::normalAddress(ui->lineEditWebaddress->text());
}

QString DialogNewTask::keyword() const
{
    return ui->lineEditGrabtext->text().simplified();
}

int DialogNewTask::frequency() const
{
    // An older file's frequency (0, or not whole minutes) is kept while the user does not change it.
    if (frequencyAsGiven())
        return m_givenFrequency;
    const int unit = ui->comboBoxFrequencyUnit->currentIndex();
    if (unit < 0 || unit >= int(std::size(SecondsPerUnit)))
        return -1;
    return ui->spinBoxFrequencyNum->value() * SecondsPerUnit[unit];
}

TaskDefinition DialogNewTask::task() const
{
    QHash<QString, QString> options = taskOptions();
    if (runScripts())
        options.insert(Task::scriptsOption(), QStringLiteral("1"));
    return {taskName(), webAddress(), keyword(), frequency(), options};
}

bool DialogNewTask::runScripts() const
{
    // Enabled as the dialog sees it: a window disabled around the dialog does not untick the box.
    return ui->checkBoxRunScripts->isEnabledTo(this) && ui->checkBoxRunScripts->isChecked();
}

void DialogNewTask::setScriptsAvailable(bool available, const QString& why)
{
    if (m_scriptsToolTip.isNull())
        m_scriptsToolTip = ui->checkBoxRunScripts->toolTip();
    ui->checkBoxRunScripts->setEnabled(available);
    ui->checkBoxRunScripts->setToolTip(available ? m_scriptsToolTip : why);
    if (!available)
        ui->checkBoxRunScripts->setChecked(false);
}

bool DialogNewTask::accepts(const TaskDefinition::Problem& problem)
{
    using Field = TaskDefinition::Field;
    const bool empty = problem.empty;
    // Every entry is tested as the task would use it: a keyword of spaces only would match every link or
    // none, and a name of spaces only would show no text in the list.
    if (problem.field == Field::Name && empty) {
        QMessageBox::information(this, tr("Task name"), tr("Please enter the <b>Task name</b> first!"),
                                 QMessageBox::Ok);
    } else if (problem.field == Field::Address && empty) {
        QMessageBox::information(this, tr("Web address"), tr("Please enter the <b>Web address</b> first!"),
                                 QMessageBox::Ok);
    } else if (problem.field == Field::Keyword && empty) {
        QMessageBox::information(this, tr("Grab text"), tr("Please enter the <b>Detect keyword</b> first!"),
                                 QMessageBox::Ok);
    } else if (problem.field == Field::Address) {
        // Most pages today are served over https.
        QMessageBox::information(this, tr("Invalid Web Address"),
                                 tr("Please enter a <b>Valid Url</b> like "
                                    "'<b>http://www.example.com/news.html</b>', do not forget '<b>http://</b>'!"),
                                 QMessageBox::Ok);
    } else if (problem.field == Field::Option) {
        return checkAdvanced(problem);
    } else if (problem) {
        // Named by the field's own label: the reason alone does not say which entry it is about.
        const QString title = problem.field == Field::Name      ? tr("Task name")
                              : problem.field == Field::Keyword ? tr("Grab text")
                                                                : windowTitle();
        QMessageBox box(QMessageBox::Information, title, tr("%1: %2").arg(title, problem.reason), QMessageBox::Ok,
                        this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
    // The cursor goes to the entry to correct, with what was typed kept.
    QLineEdit* field = problem.field == Field::Name      ? ui->lineEditTaskName
                       : problem.field == Field::Address ? ui->lineEditWebaddress
                       : problem.field == Field::Keyword ? ui->lineEditGrabtext
                                                         : nullptr;
    if (problem && field) {
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
    }
    return !problem;
}

bool DialogNewTask::offerScheme(const QString& address)
{
    const QString bare = TaskDefinition::withoutScheme(address);
    if (bare.isEmpty())
        return false;
    QMessageBox box(QMessageBox::Question, tr("Add a scheme?"),
                    tr("The web address %1 does not say how the page is reached. Put https:// (most pages) or "
                       "http:// before it?")
                        .arg(bare),
                    QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    QPushButton* https = box.addButton(tr("Use &https://"), QMessageBox::AcceptRole);
    QPushButton* http = box.addButton(tr("Use h&ttp://"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(https);
    box.exec();
    const QString scheme = box.clickedButton() == https  ? QStringLiteral("https://")
                           : box.clickedButton() == http ? QStringLiteral("http://")
                                                         : QString();
    if (scheme.isEmpty()) {
        ui->lineEditWebaddress->setFocus(Qt::OtherFocusReason);
        return false;
    }
    ui->lineEditWebaddress->setText(scheme + ui->lineEditWebaddress->text().trimmed());
    return true;
}

void DialogNewTask::on_pushButtonOk_clicked()
{
    TaskDefinition entered = definition();
    // A frequency left as an older file gave it is not judged again.
    const int parts = frequencyAsGiven() ? TaskDefinition::Options : TaskDefinition::Everything;
    TaskDefinition::Problem problem = entered.check(parts);
    if (problem && problem.field == TaskDefinition::Field::Address && !problem.empty && offerScheme(entered.address)) {
        entered = definition();
        problem = entered.check(parts);
    } else if (problem && problem.field == TaskDefinition::Field::Address && !problem.empty &&
               !TaskDefinition::withoutScheme(entered.address).isEmpty()) {
        return; // the offer was declined: the cursor is in the address
    }
    if (!accepts(problem))
        return;
    const QString clash = duplicateCheck ? duplicateCheck(entered.address, entered.keyword) : QString();
    if (!clash.isEmpty()) {
        QMessageBox box(QMessageBox::Information, windowTitle(), tr("This task already exists!"), QMessageBox::Ok,
                        this);
        box.setTextFormat(Qt::PlainText);
        box.setInformativeText(tr("The task %1 watches the same web address for the same keyword.").arg(clash));
        // The name is the user's text, never markup.
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            label->setTextFormat(Qt::PlainText);
        box.exec();
        ui->lineEditGrabtext->setFocus(Qt::OtherFocusReason);
        ui->lineEditGrabtext->selectAll();
        return;
    }
    accept();
}

void DialogNewTask::on_pushButtonCancel_clicked()
{
    reject();
}
