// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "task.h"
Task::Task(int taskId, const QString& name, const QString& address, const QString& grabText, int frequency)
    : m_taskId(taskId), m_lastUpdate(QDateTime::currentDateTime()), m_taskDate(QDate::currentDate()), m_name(name),
      m_address(address), m_grabText(grabText), m_frequency(frequency)
{
}
Task::~Task() = default;
QString Task::taskDateText() const { return m_taskDate.toString(QStringLiteral("MM/dd/yyyy")); }
void Task::setTaskDate(const QString& text) { m_taskDate = QDate::fromString(text, QStringLiteral("MM/dd/yyyy")); }
QString Task::lastUpdateText() const { return m_lastUpdate.toString(Qt::ISODate); }
void Task::setLastUpdate(const QString& text) { m_lastUpdate = QDateTime::fromString(text, Qt::ISODate); }
void Task::setResults(const ResultList& list) { m_results = list; }
void Task::appendResults(const ResultList& list) { m_results += list; }
void Task::clearResults() { m_results.clear(); }
void Task::setResultState(int, int) {}
void Task::removeResult(int) {}
bool Task::fetchAllResults() { return false; }
bool Task::checkForUpdates() { return false; }
bool Task::startBackgroundCheck() { return false; }
Task::ResultList Task::scanResults(const QString&, const QUrl&) const { return {}; }
Task::ResultList Task::compareWithResults(const QString&, const QUrl&, LinkTexts&) const { return {}; }
void Task::setUpdateResults(const Task::ResultList&) {}
void Task::requestFinished(QNetworkReply*) {}
void Task::replyFinished(QNetworkReply*) {}
