// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include "app/appsettings.h"
#include "app/mainwindow.h"
#include "core/monitorparts.h"
#include "core/settings.h"
#include "storage/taskdatabase.h"

#include <functional>
#include <memory>

// Every window test runs in a fresh temporary folder (its own task.db) with a settings store of its own,
// so the user's files are never touched.
class AppFixture
{
public:
    AppFixture()
    {
        // Qt reads the settings location once per process, so one configuration folder serves every test of
        // the process and is emptied for each.
        configDir = configHome();
        QSettings(AppSettings::Organization, AppSettings::Application).clear();
        QDir(QDir(configDir).filePath(QStringLiteral("autostart"))).removeRecursively();
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
    }
    ~AppFixture() { QDir::setCurrent(previous); }

    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }

    static QString configHome()
    {
        static QTemporaryDir home;
        static const bool set = qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
        Q_UNUSED(set);
        return home.path();
    }

    QTemporaryDir dir;
    QString configDir;
    QString previous;
};

// The program's parts built as the program's start builds them, in the current folder: task.db (the box
// when it cannot be opened), the settings, the checking core with the stored tasks, the window.
class WindowParts
{
public:
    WindowParts()
    {
        // Without task.db the program ends before the window appears.
        if (!ok)
            return;
        window = std::make_unique<MainWindow>(core, settings);
        if (!started)
            window->showOldResultsKept(core.lastError());
    }
    bool databaseOk() const { return ok; }

    MonitorParts parts;
    TaskDatabase& db = parts.watches.database();
    const bool ok = opened(db);
    Settings settings;
    TaskChecker& core = parts.core;
    const bool started = parts.start(settings.options());
    std::unique_ptr<MainWindow> window;

private:
    static bool opened(const TaskDatabase& db)
    {
        if (!db.isOpen())
            MainWindow::showDatabaseFailure(db.fileName(), db.openFailure());
        return db.isOpen();
    }
};

// Answers the next modal dialog (a message box) with the given button once it shows, and records its
// title and text. Returns immediately; the answer comes from the event loop.
struct ModalAnswer
{
    QString title;
    QString text;
    bool seen = false;

    void answerNext(QMessageBox::StandardButton button)
    {
        QTimer::singleShot(0, [this, button] { poll(button, 200); });
    }

private:
    void poll(QMessageBox::StandardButton button, int triesLeft)
    {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            seen = true;
            if (QAbstractButton* b = box->button(button))
                b->click();
            else
                box->reject();
            return;
        }
        if (triesLeft > 0)
            QTimer::singleShot(10, [this, button, triesLeft] { poll(button, triesLeft - 1); });
    }
};

#include "tests/support/dbfile.h"

#include <QUrl>

// Receives the addresses handed to QDesktopServices::openUrl for a scheme (setUrlHandler(scheme, &catcher,
// "open")) instead of a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

#include <QAbstractItemView>
#include <QIcon>
#include <QTableView>
#include <QTreeView>

// Rows and cells of the window's views as the user sees them (after sorting).
namespace Views {
inline QModelIndex at(const QAbstractItemView* view, int row, int column = 0)
{
    return view->model()->index(row, column);
}
inline int rows(const QAbstractItemView* view)
{
    return view->model()->rowCount();
}
inline QString text(const QAbstractItemView* view, int row, int column = 0)
{
    return at(view, row, column).data().toString();
}
inline bool hasIcon(const QAbstractItemView* view, int row, int column)
{
    return !qvariant_cast<QIcon>(at(view, row, column).data(Qt::DecorationRole)).isNull();
}
inline QRect rect(const QAbstractItemView* view, int row, int column = 0)
{
    return view->visualRect(at(view, row, column));
}
// Makes the row current and selected, as the program does.
inline void select(QAbstractItemView* view, int row)
{
    view->setCurrentIndex(at(view, row));
}
inline QString header(const QAbstractItemView* view, int column, int role = Qt::DisplayRole)
{
    return view->model()->headerData(column, Qt::Horizontal, role).toString();
}
} // namespace Views
