// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/taskcommands.h"

#include "core/monitorparts.h"

#include "app/appsettings.h"
#include "core/announcement.h"
#include "core/settings.h"
#include "core/taskchecker.h"
#include "core/taskexchange.h"
#include "dialogs/dialognewtask.h"
#include "dialogs/dialogoption.h"
#include "dialogs/dialogprogress.h"
#include "engine/definition/taskdefinition.h"
#include "engine/fetching/fetchrequest.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>

namespace {
// The task dialog's scripts box follows whether the page renderer's engine starts here.
void offerScripts(DialogNewTask& dialog, PageRenderRunner& renderer)
{
    dialog.setScriptsAvailable(renderer.isAvailable(), renderer.unavailableReason());
    QObject::connect(&renderer, &PageRenderRunner::engineChecked, &dialog,
                     [&dialog](bool works, const QString& why) { dialog.setScriptsAvailable(works, why); });
}

// The task's options as the dialog gives them: request headers, and the scripts option when it is ticked.
} // namespace

// Text from a file or a task shown as it is, never read as markup, so it is escaped by no one.
void TaskCommands::showPlain(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, window);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

TaskCommands::TaskCommands(QWidget* window, TaskChecker& core, Settings& settings, std::function<Task*()> selectedTask)
    : QObject(window), window(window), core(core), watches(core.watches()), settings(settings),
      selectedTask(std::move(selectedTask))
{
}

bool TaskCommands::busy() const
{
    return core.waits().isAborting() || core.guard().isBusy();
}

QString TaskCommands::pagesText(int pages)
{
    return pages == 1 ? tr("1 page") : tr("%1 pages").arg(pages);
}

void TaskCommands::showWait(DialogProgress& box)
{
    window->setDisabled(true);
    // A window of its own, the box is enabled again under the disabled main window: it takes Escape and its
    // Cancel button, which end the command's wait.
    box.setEnabled(true);
    connect(&box, &DialogProgress::cancelRequested, &core, [this] { core.waits().cancel(); });
    box.watchAwaited([this] { return core.waits().awaited(); });
    box.show();
}

void TaskCommands::reportFailure(const QString& what, const QString& why)
{
    emit message(tr("Could not %1: %2").arg(what, why));
}

void TaskCommands::updateAll()
{
    if (watches.tasks().isEmpty() || busy())
        return;
    if (watches.isPreparing()) {
        emit message(tr("task.db is still being prepared; try Update Tasks Now again in a moment."));
        return;
    }
    DialogProgress dialog(window);
    dialog.setMessage(tr("Updating all tasks right now..."));
    showWait(dialog);

    const Commands::UpdateRun run = core.updater().run();
    if (run.aborted)
        return; // quitting: nothing to report
    if (!run.ran) {
        dialog.close(); // the command that runs already enables the window when it ends
        return;
    }
    // Shown afresh once for all tasks: the table shows the selected task only.
    if (run.anyNew)
        emit resultsReplaced();
    dialog.close();
    window->setDisabled(false);
    // A result that could not be stored, or a page that could not be read, is not passed off as a
    // finished update.
    QString text = tr("Update for all tasks finished!");
    if (run.cancelled)
        text = tr("Update for all tasks cancelled: %1 not read; the pages read by then were taken over.")
                   .arg(pagesText(run.unread));
    if (!run.storageFailure.isEmpty())
        text = run.storageFailure;
    else if (core.checks().hasUnstored())
        text = core.checks().unstoredFailure();
    else if (run.failedPages > 0 && !run.cancelled)
        text = tr("Update for all tasks finished! %1 could not be downloaded.").arg(pagesText(run.failedPages));
    emit message(text);
    const QString kind = QStringLiteral("update-all");
    Task* first = run.news.isEmpty() ? nullptr : run.news.first().task;
    if (run.anyNew && !run.news.isEmpty())
        emit announce(kind, tr("New Results"), Announcement::updateAllText(run.news), first);
    else if (run.anyNew)
        return; // only muted tasks got news
    else if (run.unstoredNew)
        emit announce(kind, tr("New Results"),
                      tr("New results were found but could not be stored yet; they are stored at the next check."),
                      first);
    else if (!run.cancelled)
        emit announce(kind, tr("No New Results"), tr("There are not new results now."), first);
}

void TaskCommands::resetResults()
{
    if (busy())
        return;
    const auto answer = QMessageBox::information(
        window, tr("Reset Results"),
        tr("<b>Reset Results</b> will remove all the results in the task and reinitialize the task results back "
           "to original.\nClick <b>\"Yes\"</b> to reset results, or click <b>\"Cancel\"</b> to cancel it"),
        QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel);
    // The question waits for the user: the task is the one selected when it is answered.
    if (answer != QMessageBox::Yes || busy())
        return;
    Task* task = selectedTask();
    if (!task)
        return;

    DialogProgress dialog(window);
    dialog.setMessage(tr("Resetting <b>%1</b> results right now...").arg(task->name().toHtmlEscaped()));
    showWait(dialog);
    const QString name = task->name();
    const QString address = task->address();
    const Commands::Outcome outcome = core.resetter().run(task);
    if (outcome == Commands::Outcome::Aborted || outcome == Commands::Outcome::Dropped)
        return;

    QString text = tr("Reset results finished!");
    if (outcome == Commands::Outcome::StoreFailed)
        text = tr("Could not save the reset results of %1: %2").arg(name, core.resetter().error());
    else if (outcome == Commands::Outcome::FetchFailed)
        text = tr("Reset failed: %1 could not be downloaded. The results were kept.").arg(address);
    else if (outcome == Commands::Outcome::TaskGone)
        text = tr("Reset failed: task %1 was removed.").arg(name);
    else if (outcome == Commands::Outcome::Cancelled)
        text = tr("Reset cancelled: the results of %1 were kept.").arg(name);
    if (outcome != Commands::Outcome::Cancelled)
        emit resultsReplaced();

    dialog.close();
    window->setDisabled(false);
    emit message(text);
}

void TaskCommands::newTask()
{
    if (busy())
        return;
    DialogNewTask dialog(window);
    dialog.setReportNewLinksDefault(core.checks().reportNewLinks());
    offerScripts(dialog, core.renderer());
    // Refused in the dialog, which keeps what was typed.
    dialog.setDuplicateCheck([this](const QString& address, const QString& keyword) {
        const Task* clash = watches.duplicateOf(address, keyword);
        return clash ? clash->name() : QString();
    });
    core.renderer().probeEngine();
    if (dialog.exec() != QDialog::Accepted || busy())
        return;
    // The dialog's choices are read before the window, and the dialog with it, is disabled.
    const TaskDefinition entered = dialog.task();
    DialogProgress progress(window);
    showWait(progress);
    if (!createTask(entered, &progress))
        return; // quitting
    window->setDisabled(false);
    progress.close();
}

bool TaskCommands::createTask(const TaskDefinition& entered, QWidget* progress)
{
    const QString& name = entered.name;
    const Commands::Created created = core.creator().run(entered);
    switch (created.outcome) {
    case Commands::Outcome::Exists:
        // The progress popup grabs the input while it shows; the question must get it instead.
        progress->hide();
        QMessageBox::information(window, tr("New Task"), tr("This task already exists!"), QMessageBox::Ok);
        return true;
    case Commands::Outcome::StoreFailed:
        reportFailure(tr("store task %1").arg(name), created.error);
        return true;
    case Commands::Outcome::Invalid:
        progress->hide();
        showPlain(tr("New Task"), tr("The task was not created: %1").arg(created.error));
        return true;
    case Commands::Outcome::Done:
    case Commands::Outcome::FetchFailed:
        break;
    case Commands::Outcome::Aborted:
        return false;
    case Commands::Outcome::Cancelled:
        emit message(tr("New task cancelled: %1 was not created.").arg(name));
        return true;
    default:
        return true;
    }
    // The task list has its row already; selecting it shows its results.
    emit selectTask(created.task);
    if (created.outcome == Commands::Outcome::FetchFailed && PageFetch::isReadingFailure(created.failureReason))
        emit message(tr("Task %1 created, but its page could not be read (%2). Use Reset Results when it can be "
                        "read.")
                         .arg(name, created.failureReason));
    else if (created.outcome == Commands::Outcome::FetchFailed)
        emit message(tr("Task %1 created, but its page could not be downloaded (%2). Use Reset Results "
                        "when it is reachable.")
                         .arg(name, created.failureReason));
    else if (core.health().needsLook(created.task))
        emit message(tr("Task %1 created, but it needs a look: %2").arg(name, core.health().reason(created.task)));
    else
        emit message(tr("Task %1 created!").arg(name));
    return true;
}

void TaskCommands::editTask()
{
    if (busy())
        return;
    QPointer<Task> task = selectedTask();
    if (!task) {
        emit noTaskSelected();
        return;
    }
    DialogNewTask dialog(window);
    dialog.setReportNewLinksDefault(core.checks().reportNewLinks());
    dialog.setTask(TaskDefinition::of(*task));
    offerScripts(dialog, core.renderer());
    dialog.setDuplicateCheck([this, task](const QString& address, const QString& keyword) {
        const Task* clash = watches.duplicateOf(address, keyword, task);
        return clash ? clash->name() : QString();
    });
    // The dialog waits for the user: the task may be removed, or a command started, meanwhile.
    if (dialog.exec() != QDialog::Accepted || !task)
        return;
    const QString oldAddress = task->address();
    const QString oldKeyword = task->keyword();
    const bool oldScripts = task->runsScripts();
    const TaskDefinition entered = dialog.task();
    const QString& name = entered.name;
    switch (core.editor().run(task, entered)) {
    case Commands::Outcome::Done:
        break;
    case Commands::Outcome::Exists:
        QMessageBox::information(window, tr("Edit Task"), tr("This task already exists!"), QMessageBox::Ok);
        return;
    case Commands::Outcome::StoreFailed:
        reportFailure(tr("change task %1").arg(name), core.editor().error());
        return;
    case Commands::Outcome::Invalid:
        showPlain(tr("Edit Task"), tr("The task was not changed: %1").arg(core.editor().error()));
        return;
    default:
        emit message(tr("Task %1 was not changed: another command was running or it was removed.").arg(name));
        return;
    }
    emit taskEdited(task);
    // Running the page's scripts or not changes the page read as much as a new address does.
    if (task->address() != oldAddress || task->keyword() != oldKeyword || task->runsScripts() != oldScripts)
        emit message(tr("Task %1 changed. Use Reset Results to rebuild its results from the new page.").arg(name));
    else
        emit message(tr("Task %1 changed.").arg(name));
}

void TaskCommands::exportTasks()
{
    if (watches.tasks().isEmpty()) {
        emit message(tr("There are no tasks to export."));
        return;
    }
    const QString path = QFileDialog::getSaveFileName(window, tr("Export Tasks"), QStringLiteral("vantrel-tasks.json"),
                                                      tr("Exported tasks (*.json)"));
    if (path.isEmpty())
        return;
    const auto answer = QMessageBox::question(window, tr("Export Tasks"),
                                              tr("Export the results of the tasks too (date, text, link, state)?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    QString error;
    if (!TaskExchange::writeFile(path, watches.tasks(), answer == QMessageBox::Yes, &error))
        QMessageBox::information(window, tr("Export Tasks"), error, QMessageBox::Ok);
    else if (TaskExchange::holdsSecrets(watches.tasks()))
        emit message(tr("%1 tasks exported to %2. It holds request headers or User-Agents of tasks, so only you "
                        "can read it.")
                         .arg(watches.tasks().size())
                         .arg(path));
    else
        emit message(tr("%1 tasks exported to %2.").arg(watches.tasks().size()).arg(path));
}

void TaskCommands::importTasks()
{
    if (busy())
        return;
    const QString path = QFileDialog::getOpenFileName(window, tr("Import Tasks"), QString(),
                                                      tr("Exported tasks or addresses (*.json *.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    TaskExchange::Read read = TaskExchange::readFile(path);
    if (!read.error.isEmpty()) {
        showPlain(tr("Import Tasks"), read.error);
        return;
    }
    if (read.kind == TaskExchange::Kind::AddressList) {
        // Asked once for every address of the list.
        bool ok = false;
        const QString keyword =
            QInputDialog::getText(window, tr("Import Tasks"),
                                  tr("%1 addresses. The keyword their links must contain:").arg(read.tasks.size()),
                                  QLineEdit::Normal, QString(), &ok)
                .simplified();
        if (!ok || keyword.isEmpty())
            return;
        const int minutes = QInputDialog::getInt(window, tr("Import Tasks"), tr("Check every (minutes):"), 60, 1,
                                                 TaskDefinition::MaxFrequency / 60, 1, &ok);
        if (!ok)
            return;
        TaskExchange::setKeyword(read, keyword, minutes * 60);
    }
    if (busy())
        return;
    DialogProgress progress(window);
    progress.setMessage(tr("Importing %1 tasks...").arg(read.tasks.size()));
    showWait(progress);
    const Commands::ImportRun run = core.importer().run(read.tasks);
    if (run.aborted || !run.ran)
        return; // quitting, or the command that runs enables the window when it ends
    progress.close();
    window->setDisabled(false);
    if (run.cancelled) {
        emit message(tr("Import cancelled: nothing was imported."));
        return;
    }
    if (!run.refusal.isEmpty()) {
        showPlain(tr("Import Tasks"), tr("Nothing was imported: %1").arg(run.refusal));
        return;
    }
    if (!run.storageFailure.isEmpty()) {
        emit message(tr("Nothing was imported: %1").arg(run.storageFailure));
        return;
    }
    if (!run.created.isEmpty())
        emit selectTask(run.created.first());
    // Counts of one are said in the singular.
    const QString tasks = run.imported == 1 ? tr("1 task") : tr("%1 tasks").arg(run.imported);
    const QString pages = pagesText(run.failedPages);
    emit message(tr("Imported %1, %2 skipped as duplicates, %3 could not be downloaded.")
                     .arg(tasks)
                     .arg(run.duplicates)
                     .arg(pages));
}

void TaskCommands::markAllRead()
{
    Task* task = selectedTask();
    if (!task) {
        emit noTaskSelected();
        return;
    }
    if (!watches.markAllRead(task))
        reportFailure(tr("mark the results of %1 read").arg(task->name()), watches.lastError());
    else
        emit message(tr("All results of %1 marked read.").arg(task->name()));
}

void TaskCommands::removeSelectedTask()
{
    if (busy())
        return;
    Task* task = selectedTask();
    if (!task) {
        emit noTaskSelected();
        return;
    }
    removeTask(task);
}

void TaskCommands::removeTask(Task* task)
{
    if (!watches.contains(task))
        return;
    const QString name = task->name();
    if (!watches.removeTask(task)) {
        reportFailure(tr("remove task %1").arg(name), watches.lastError());
        return;
    }
    emit taskRemoved();
    emit message(watches.canUndo() ? tr("%1 removed.").arg(watches.undoText()) : tr("Task %1 removed.").arg(name));
}

void TaskCommands::undoRemoval()
{
    if (busy())
        return;
    if (!watches.canUndo()) {
        emit message(tr("There is no removal to undo."));
        return;
    }
    const QString what = watches.undoText();
    if (!watches.undo()) {
        emit message(tr("Could not put back %1: %2").arg(what, watches.lastError()));
        return;
    }
    const QList<Task*> restored = watches.restoredTasks();
    if (!restored.isEmpty())
        emit selectTask(restored.first());
    emit message(tr("%1 put back.").arg(what));
}

void TaskCommands::removeAllTasks()
{
    if (watches.tasks().isEmpty() || busy())
        return;
    const auto answer = QMessageBox::information(
        window, tr("Remove All Tasks"),
        tr("All the tasks and results will be delete forever.\nDo you want to remove all tasks?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes || busy())
        return;
    if (!watches.removeAllTasks()) {
        reportFailure(tr("remove all tasks"), watches.lastError());
        return;
    }
    emit allTasksRemoved();
    emit message(tr("All tasks removed!"));
}

void TaskCommands::removeTaskResults()
{
    // Offered by the task list's and the results table's menus: it acts on the selected task wherever the
    // focus is.
    if (watches.tasks().isEmpty() || busy())
        return;
    Task* task = selectedTask();
    if (!task)
        return;
    if (!watches.removeTaskResults(task)) {
        reportFailure(tr("remove the results of %1").arg(task->name()), watches.lastError());
        return;
    }
    emit message(tr("All results removed from task %1!").arg(task->name()));
}

void TaskCommands::changeOptions()
{
    if (busy())
        return;
    const Options before = settings.options();
    DialogOption dialog(before, window);
    {
        // The last outcome of each destination, and the Test button's sample sent the way news goes.
        QStringList outcomes;
        for (const NewsDestination& destination : core.news().destinations()) {
            const QString outcome = core.news().lastOutcome(destination);
            if (!outcome.isEmpty())
                outcomes << destination.label() + QStringLiteral(": ") + outcome;
        }
        dialog.setNewsTester([this](const NewsDestination& destination) { core.news().sendTest(destination); },
                             outcomes.join(QLatin1Char('\n')));
    }
    connect(&core.news(), &NewsOutbox::testFinished, &dialog,
            [&dialog](const QString&, bool, const QString& text) { dialog.showNewsOutcome(text); });
    if (dialog.exec() != QDialog::Accepted || busy())
        return;
    Options options = dialog.options();
    // Turned on, new links are reported from each task's next check on; it first records what is there.
    QString failure;
    if (!core.setReportNewLinks(options.reportNewLinks, options.reportNewLinks && !core.checks().reportNewLinks())) {
        failure = tr("Could not turn on reporting new links: %1").arg(core.lastError());
        options.reportNewLinks = false;
    }
    MonitorParts::applyCheckOptions(core, options);
    if (!settings.setOptions(options))
        emit message(tr("The options could not be saved."));
    MonitorParts::applyNewsOptions(core.news(), options);
    // task.db is opened from the folder the program was started in: the log-on start must use the same one.
    const bool autoRunChanged = options.autoRun
                                    ? AutoStart::install(QCoreApplication::applicationFilePath(), QDir::currentPath())
                                    : AutoStart::remove();
    if (!autoRunChanged)
        emit message(tr("The log-on start entry %1 could not be changed.").arg(AutoStart::entryPath()));
    if (!failure.isEmpty())
        emit message(failure);
}
