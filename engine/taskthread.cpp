// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "taskthread.h"
TaskThread::TaskThread(QObject* parent) : QThread(parent) {}
TaskThread::~TaskThread() = default;
void TaskThread::setTask(Task* t) { task = t; }
void TaskThread::setKnownLinks(const Task::LinkTexts& links) { knownLinks = links; }
int TaskThread::runningCount() { return 0; }
void TaskThread::shutdownAll() {}
void TaskThread::replyFinished(const FetchedPage&) {}
void TaskThread::run() {}
void TaskThread::checkTask() {}
