// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/settings.h"

#include "engine/definition/checkhours.h"

#include <QSettings>

namespace {
const QString OptionsGroup = QStringLiteral("options");
const QString WindowGroup = QStringLiteral("mainwindow");
const QString ResultsTableGroup = QStringLiteral("results_table");
const QString TaskListGroup = QStringLiteral("task_list");
// The results table's columns: date, state, text, link.
constexpr int ResultsColumns = 4;
} // namespace

bool AppSettings::readBool(const QSettings& settings, const QString& key, bool fallback)
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    const QString text = value.toString().trimmed().toLower();
    if (text == QStringLiteral("true") || text == QStringLiteral("1"))
        return true;
    if (text == QStringLiteral("false") || text == QStringLiteral("0"))
        return false;
    return fallback;
}

int AppSettings::readDays(const QSettings& settings, const QString& key, int fallback)
{
    bool ok = false;
    const int days = settings.value(key).toInt(&ok);
    return ok && days >= 0 ? days : fallback;
}

Options Settings::options() const
{
    QSettings settings(AppSettings::Organization, AppSettings::Application);
    settings.beginGroup(OptionsGroup);
    const Options defaults;
    Options read;
    read.autoRun = AppSettings::readBool(settings, QStringLiteral("is_auto_run"), defaults.autoRun);
    read.autoDelete = AppSettings::readBool(settings, QStringLiteral("is_auto_delete"), defaults.autoDelete);
    read.deleteDays = AppSettings::readDays(settings, QStringLiteral("delete_days"), defaults.deleteDays);
    read.reportNewLinks = AppSettings::readBool(settings, QStringLiteral("report_new_links"), defaults.reportNewLinks);
    read.newsCommand = settings.value(QStringLiteral("news_command")).toString();
    read.newsPost = settings.value(QStringLiteral("news_post")).toString();
    read.newsHeaders = settings.value(QStringLiteral("news_headers")).toString();
    read.newsPlain = AppSettings::readBool(settings, QStringLiteral("news_plain"), defaults.newsPlain);
    read.checksBeforeLook =
        qBound(1, AppSettings::readDays(settings, QStringLiteral("look_after_checks"), defaults.checksBeforeLook), 100);
    // Hours written by hand that do not read as hours are any time, as none are.
    read.checkHours = settings.value(QStringLiteral("check_hours")).toString().trimmed();
    if (!CheckHours::problem(read.checkHours).isEmpty())
        read.checkHours.clear();
    return read;
}

bool Settings::setOptions(const Options& options)
{
    QSettings settings(AppSettings::Organization, AppSettings::Application);
    settings.beginGroup(OptionsGroup);
    settings.setValue(QStringLiteral("is_auto_run"), options.autoRun);
    settings.setValue(QStringLiteral("is_auto_delete"), options.autoDelete);
    settings.setValue(QStringLiteral("delete_days"), options.deleteDays);
    settings.setValue(QStringLiteral("report_new_links"), options.reportNewLinks);
    settings.setValue(QStringLiteral("news_command"), options.newsCommand);
    settings.setValue(QStringLiteral("news_post"), options.newsPost);
    settings.setValue(QStringLiteral("news_headers"), options.newsHeaders);
    settings.setValue(QStringLiteral("news_plain"), options.newsPlain);
    settings.setValue(QStringLiteral("look_after_checks"), options.checksBeforeLook);
    settings.setValue(QStringLiteral("check_hours"), options.checkHours);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

WindowState Settings::windowState() const
{
    QSettings settings(AppSettings::Organization, AppSettings::Application);
    settings.beginGroup(WindowGroup);
    const WindowState defaults;
    WindowState read;
    read.maximized = AppSettings::readBool(settings, QStringLiteral("maximized"), defaults.maximized);
    read.size = settings.value(QStringLiteral("size"), defaults.size).toSize();
    if (!read.size.isValid() || read.size.isEmpty())
        read.size = defaults.size;
    read.pos = settings.value(QStringLiteral("pos"), defaults.pos).toPoint();
    read.toolbar = AppSettings::readBool(settings, QStringLiteral("toolbar"), defaults.toolbar);
    read.splitter = settings.value(QStringLiteral("splitter")).toByteArray();
    read.splitter2 = settings.value(QStringLiteral("splitter2")).toByteArray();
    settings.endGroup();
    settings.beginGroup(ResultsTableGroup);
    bool columnRead = false;
    bool orderRead = false;
    const int column = settings.value(QStringLiteral("sort_column")).toInt(&columnRead);
    const int order = settings.value(QStringLiteral("sort_order")).toInt(&orderRead);
    // Only a known column with a known order is taken; anything else sorts newest first.
    if (columnRead && orderRead && column >= 0 && column < ResultsColumns &&
        (order == Qt::AscendingOrder || order == Qt::DescendingOrder)) {
        read.resultsSortColumn = column;
        read.resultsSortOrder = Qt::SortOrder(order);
    }
    settings.endGroup();
    read.selectedTaskRow = settings.value(TaskListGroup + QStringLiteral("/selected_row")).toInt();
    return read;
}

void Settings::setWindowState(const WindowState& state)
{
    QSettings settings(AppSettings::Organization, AppSettings::Application);
    settings.beginGroup(WindowGroup);
    settings.setValue(QStringLiteral("pos"), state.pos);
    settings.setValue(QStringLiteral("size"), state.size);
    settings.setValue(QStringLiteral("maximized"), state.maximized);
    settings.setValue(QStringLiteral("splitter"), state.splitter);
    settings.setValue(QStringLiteral("splitter2"), state.splitter2);
    settings.setValue(QStringLiteral("toolbar"), state.toolbar);
    settings.endGroup();
    settings.beginGroup(ResultsTableGroup);
    settings.setValue(QStringLiteral("sort_column"), state.resultsSortColumn);
    settings.setValue(QStringLiteral("sort_order"), int(state.resultsSortOrder));
    settings.endGroup();
    settings.setValue(TaskListGroup + QStringLiteral("/selected_row"), state.selectedTaskRow);
}
