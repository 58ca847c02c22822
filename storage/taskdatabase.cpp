// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "taskdatabase.h"
TaskDatabase::TaskDatabase(const QString& fileName) : m_fileName(fileName) {}
TaskDatabase::~TaskDatabase() = default;
bool TaskDatabase::createConnection() { return false; }
void TaskDatabase::createTables() {}
QList<Task*> TaskDatabase::loadTasks() { return {}; }
bool TaskDatabase::taskExists(const Task*) { return false; }
bool TaskDatabase::resultExists(const Task::TaskResult&) { return false; }
bool TaskDatabase::insertTask(const Task*) { return false; }
bool TaskDatabase::insertResults(const Task::ResultList&) { return false; }
bool TaskDatabase::updateLastUpdate(const Task*) { return false; }
bool TaskDatabase::updateResultState(const Task::TaskResult&, int) { return false; }
bool TaskDatabase::removeTask(const Task*) { return false; }
bool TaskDatabase::removeTaskResults(int) { return false; }
bool TaskDatabase::removeResult(const Task::TaskResult&) { return false; }
bool TaskDatabase::removeAllTasks() { return false; }
bool TaskDatabase::removeOldResults(int) { return false; }
