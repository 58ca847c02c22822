// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

// Update-all, reset and task creation wait for pages while the event loop runs on. The one guard lets
// no other command start meanwhile, whatever way it arrives (keyboard, mouse, a tray menu delivered over
// D-Bus, a timer): a command that finds the guard busy is dropped, not queued.
class CommandGuard : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    bool isBusy() const { return m_busy; }
    // Starts a waiting command; false when one runs already (the caller then does nothing).
    bool begin();
    void end();

    // Holds the guard for a scope: `CommandGuard::Scope command(guard); if (!command) return;`.
    class Scope
    {
    public:
        explicit Scope(CommandGuard& guard) : m_guard(guard), m_held(guard.begin()) {}
        ~Scope()
        {
            if (m_held)
                m_guard.end();
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        explicit operator bool() const { return m_held; }

    private:
        CommandGuard& m_guard;
        bool m_held;
    };

signals:
    void busyChanged(bool busy);

private:
    bool m_busy = false;
};
