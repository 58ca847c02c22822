// SPDX-License-Identifier: GPL-3.0-or-later
// The start of the program as a user meets it: the program started as a process on the X server of DISPLAY (a
// real one, Xvfb, with a window manager), timed from exec until its main window is mapped, read from the X
// server's own events. Per phase: until the program's first top-level window exists, until it is mapped, and
// the moments the program itself logs (tasks loaded, task.db prepared), on its clock since its start.
//
//   bench_startup_outside [--scale [--db FILE]] [--runs N] PROGRAM [REFERENCE]
//
// Without --scale: an empty task.db and 1,000 tasks / 200,000 results, first start (indexes built) and second
// start. With --scale: 100,000 tasks / 10,000,000 results, the window-shown time of the first and second start,
// then Update Tasks Now (Ctrl+U) with the window's answer time measured by _NET_WM_PING every 10 ms (the longest
// stall), then Quit (Ctrl+Q) timed until the process ends. REFERENCE (an older build) is measured in the same run
// and the ratios are printed. The databases are written by make_task_db.sh beside this file, with sqlite3; --db
// names one it wrote before for the scale run (100,000 tasks / 10,000,000 results take half a minute to write).
#include "bench/benchxwindows.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int run(const std::string& command)
{
    return std::system(command.c_str());
}

struct X
{
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t protocols = 0, ping = 0, pid = 0;

    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : 0;
        free(reply);
        return a;
    }
    bool open()
    {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c))
            return false;
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        // Windows made and mapped, and the answers to pings: a program sends them to the root window for the
        // clients that select its structure's events.
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        protocols = atom("WM_PROTOCOLS");
        ping = atom("_NET_WM_PING");
        pid = atom("_NET_WM_PID");
        xcb_flush(c);
        return true;
    }
    std::optional<uint32_t> pidOf(xcb_window_t window) { return BenchX::pidOf(c, pid, window); }
    xcb_window_t clientOf(xcb_window_t window, uint32_t process) { return BenchX::clientOf(c, pid, window, process); }
    void sendPing(xcb_window_t window, uint32_t serial)
    {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = protocols;
        event.data.data32[0] = ping;
        event.data.data32[1] = serial; // in the place of the timestamp: the reply carries it back
        event.data.data32[2] = window;
        xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
        xcb_flush(c);
    }
};

struct Program
{
    pid_t pid = 0;
    Clock::time_point started;
    std::string log;
};

// Starts the program in dir (its task.db there), its settings in a folder of their own, its debug lines with
// their time since the start written to log.
Program start(X& x, const std::string& program, const std::string& dir)
{
    // Events of earlier programs are not taken for this one's.
    free(xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr)); // a round trip: all events are in
    while (xcb_generic_event_t* event = xcb_poll_for_event(x.c))
        free(event);
    Program p;
    p.log = dir + "/program.log";
    p.started = Clock::now();
    p.pid = fork();
    if (p.pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        setenv("QT_LOGGING_RULES", "vantrel.app.debug=true\nvantrel.core.debug=true", 1);
        setenv("QT_MESSAGE_PATTERN", "%{time process} %{message}", 1);
        const int fd = ::open(p.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return p;
}

// The first moment (s since the program's start, on its clock) of a log line holding text; -1 when none.
double logged(const Program& p, const char* text)
{
    FILE* f = std::fopen(p.log.c_str(), "r");
    if (!f)
        return -1;
    char line[4096];
    double at = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strstr(line, text)) {
            at = std::atof(line) * 1000;
            break;
        }
    }
    std::fclose(f);
    return at;
}

bool exited(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

// Ends the program with Ctrl+Q (as the user quits), or a signal when it has no window; the ms until it ended, or
// -1 when it had not after limitMs (it is killed then).
// With focus false the key goes to the window that has the focus (a dialog of the program, say).
double quit(const Program& p, xcb_window_t client, double limitMs, bool focus = true)
{
    const Clock::time_point asked = Clock::now();
    if (client && focus)
        run("xdotool windowfocus --sync " + std::to_string(client) + " key ctrl+q >/dev/null 2>&1");
    else if (client)
        run("xdotool key ctrl+q >/dev/null 2>&1");
    else
        kill(p.pid, SIGTERM);
    while (msSince(asked) < limitMs) {
        if (exited(p.pid))
            return msSince(asked);
        usleep(2000);
    }
    kill(p.pid, SIGKILL);
    waitpid(p.pid, nullptr, 0);
    return -1;
}

struct Start
{
    double created = -1; // exec until the first top-level window of the program exists
    double mapped = -1;  // exec until it is mapped
    xcb_window_t client = 0;
};

// Waits for the program's main window to be mapped (at most limitMs).
Start awaitWindow(X& x, const Program& p, double limitMs)
{
    Start s;
    while (msSince(p.started) < limitMs && !s.client) {
        pollfd fd{xcb_get_file_descriptor(x.c), POLLIN, 0};
        poll(&fd, 1, 5);
        while (xcb_generic_event_t* event = xcb_poll_for_event(x.c)) {
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_CREATE_NOTIFY && s.created < 0) {
                auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event);
                if (!created->override_redirect && created->parent == x.root)
                    s.created = msSince(p.started);
            } else if (type == XCB_MAP_NOTIFY) {
                auto* mapped = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (!mapped->override_redirect && !s.client) {
                    const xcb_window_t client = x.clientOf(mapped->window, uint32_t(p.pid));
                    if (client) {
                        s.mapped = msSince(p.started);
                        s.client = client;
                    }
                }
            }
            free(event);
        }
        if (exited(p.pid))
            break;
    }
    return s;
}

std::string scriptDir()
{
    return VANTREL_BENCH_DIR;
}

std::string makeDir(const std::string& name)
{
    const std::string dir = "/tmp/bench-outside-" + std::to_string(getpid()) + "-" + name;
    run("rm -rf '" + dir + "' && mkdir -p '" + dir + "/config'");
    return dir;
}

void makeDb(const std::string& file, int tasks, long results)
{
    run(scriptDir() + "/make_task_db.sh '" + file + "' " + std::to_string(tasks) + " " + std::to_string(results) +
        " 20000 1000 >/dev/null");
}

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Phases
{
    std::vector<double> created, mapped, loaded, prepared, quit;
};

// One start of the program on a copy of db (or the file itself with reuse), until its window is mapped and the
// program logged that task.db is prepared (or a few seconds passed), then Quit.
void startOnce(X& x, const std::string& program, const std::string& dir, Phases& phases, bool waitPrepared)
{
    Program p = start(x, program, dir);
    const Start s = awaitWindow(x, p, 120000);
    phases.created.push_back(s.created);
    phases.mapped.push_back(s.mapped);
    // The new build tells when the work beside the window ends; the old one does it all before.
    const Clock::time_point waited = Clock::now();
    while (waitPrepared && logged(p, "task.db prepared") < 0 && msSince(waited) < 120000 && !exited(p.pid))
        usleep(5000);
    phases.loaded.push_back(logged(p, "tasks loaded"));
    phases.prepared.push_back(logged(p, "task.db prepared"));
    phases.quit.push_back(quit(p, s.client, 10000));
}

void printPhases(const char* label, const char* who, const Phases& ph)
{
    std::printf("  %-44s %-9s exec->window created %7.1f ms, ->mapped %7.1f ms | logged: tasks loaded %7.1f, "
                "task.db prepared %7.1f | quit %6.1f ms\n",
                label, who, median(ph.created), median(ph.mapped), median(ph.loaded), median(ph.prepared),
                median(ph.quit));
}

void startup(X& x, const std::vector<std::string>& programs, int runs)
{
    struct Case
    {
        const char* label;
        int tasks;
        long results;
    };
    const Case cases[] = {{"empty task.db", 0, 0}, {"1,000 tasks / 200,000 results", 1000, 200000}};
    std::map<std::string, std::vector<double>> mapped; // by case and program
    for (const Case& c : cases) {
        const std::string master = makeDir("master") + "/task.db";
        makeDb(master, c.tasks, c.results);
        for (size_t i = 0; i < programs.size(); ++i) {
            Phases first, second;
            for (int r = 0; r < runs; ++r) {
                const std::string dir = makeDir("run");
                run("cp '" + master + "' '" + dir + "/task.db'");
                startOnce(x, programs[i], dir, first, i == 0);
                startOnce(x, programs[i], dir, second, i == 0);
                run("rm -rf '" + dir + "'");
            }
            const char* who = i == 0 ? "new" : "reference";
            printPhases((std::string(c.label) + ", first start").c_str(), who, first);
            printPhases((std::string(c.label) + ", second start").c_str(), who, second);
            mapped[std::string(c.label) + " first" + who] = {median(first.mapped)};
            mapped[std::string(c.label) + " second" + who] = {median(second.mapped)};
        }
    }
    const double emptyNew = mapped["empty task.db secondnew"][0];
    const double bigNew = mapped["1,000 tasks / 200,000 results secondnew"][0];
    std::printf("new: 1,000/200,000 second start over empty: %+.1f ms (goal at most +150 ms)\n", bigNew - emptyNew);
    if (programs.size() > 1) {
        const double emptyOld = mapped["empty task.db secondreference"][0];
        const double bigOld = mapped["1,000 tasks / 200,000 results secondreference"][0];
        const double firstOld = mapped["1,000 tasks / 200,000 results firstreference"][0];
        const double firstNew = mapped["1,000 tasks / 200,000 results firstnew"][0];
        std::printf("reference: 1,000/200,000 second start over empty: %+.1f ms\n", bigOld - emptyOld);
        std::printf("ratios new/reference (window mapped): empty %.2f, 1,000/200,000 first %.2f, second %.2f\n",
                    emptyNew / emptyOld, firstNew / firstOld, bigNew / bigOld);
    }
}

struct ScaleRun
{
    double firstMapped = -1, secondMapped = -1, prepared = -1;
    double longestStall = -1, updateMs = -1, quitMs = -1;
    int pings = 0;
};

// Update Tasks Now on the program's window, answered pings every 10 ms, for at most limitMs or until the
// progress dialog that the command shows is gone again; the longest time a ping waited for its answer.
void updateAll(X& x, const Program& p, xcb_window_t client, double limitMs, ScaleRun& out)
{
    run("xdotool windowfocus --sync " + std::to_string(client) + " key ctrl+u >/dev/null 2>&1");
    const Clock::time_point pressed = Clock::now();
    std::map<uint32_t, Clock::time_point> outstanding;
    uint32_t serial = 1;
    Clock::time_point lastPing = Clock::now() - std::chrono::seconds(1);
    bool dialogSeen = false;
    double longest = 0;
    xcb_window_t dialog = 0;
    while (msSince(pressed) < limitMs) {
        if (msSince(lastPing) >= 10) {
            outstanding[serial] = Clock::now();
            x.sendPing(client, serial++);
            lastPing = Clock::now();
        }
        pollfd fd{xcb_get_file_descriptor(x.c), POLLIN, 0};
        poll(&fd, 1, 2);
        bool done = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(x.c)) {
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_CLIENT_MESSAGE) {
                auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                const auto it = outstanding.find(message->data.data32[1]);
                if (message->type == x.protocols && it != outstanding.end()) {
                    longest = std::max(longest, msSince(it->second));
                    outstanding.erase(it);
                    ++out.pings;
                }
            } else if (type == XCB_MAP_NOTIFY) {
                auto* mapped = reinterpret_cast<xcb_map_notify_event_t*>(event);
                const xcb_window_t other = x.clientOf(mapped->window, uint32_t(p.pid));
                if (!mapped->override_redirect && other && other != client && !dialog) {
                    dialog = mapped->window;
                    dialogSeen = true;
                }
            } else if (type == XCB_UNMAP_NOTIFY) {
                auto* unmapped = reinterpret_cast<xcb_unmap_notify_event_t*>(event);
                if (dialogSeen && unmapped->window == dialog)
                    done = true;
            }
            free(event);
        }
        if (!outstanding.empty())
            longest = std::max(longest, msSince(outstanding.begin()->second));
        if (done) {
            out.updateMs = msSince(pressed);
            break;
        }
    }
    out.longestStall = longest;
}

// With given, the file written before by make_task_db.sh (without indexes) is used instead of a new one.
void scale(X& x, const std::vector<std::string>& programs, const std::string& given)
{
    const std::string master = makeDir("scale-master") + "/task.db";
    const Clock::time_point written = Clock::now();
    if (given.empty()) {
        std::printf("writing 100,000 tasks / 10,000,000 results with sqlite3...\n");
        std::fflush(stdout);
        makeDb(master, 100000, 10000000);
    } else {
        run("cp '" + given + "' '" + master + "'");
    }
    std::printf("  written in %.1f s\n", msSince(written) / 1000);
    std::vector<ScaleRun> results;
    for (size_t i = 0; i < programs.size(); ++i) {
        ScaleRun r;
        const std::string dir = makeDir("scale-run");
        run("cp '" + master + "' '" + dir + "/task.db'");
        Phases first;
        startOnce(x, programs[i], dir, first, i == 0);
        r.firstMapped = first.mapped.back();
        Program p = start(x, programs[i], dir);
        const Start s = awaitWindow(x, p, 180000);
        r.secondMapped = s.mapped;
        const Clock::time_point waited = Clock::now();
        while (i == 0 && logged(p, "task.db prepared") < 0 && msSince(waited) < 120000)
            usleep(5000);
        r.prepared = logged(p, "task.db prepared");
        if (s.client) {
            updateAll(x, p, s.client, 60000, r);
            r.quitMs = quit(p, s.client, 30000, r.updateMs >= 0);
        } else {
            quit(p, 0, 5000);
        }
        run("rm -rf '" + dir + "'");
        const char* who = i == 0 ? "new" : "reference";
        std::printf("  %-9s window mapped: first start %8.1f ms, second start %8.1f ms; task.db prepared at %8.1f ms\n",
                    who, r.firstMapped, r.secondMapped, r.prepared);
        std::printf("  %-9s update-all: longest stall %8.1f ms over %d answered pings, %s %8.1f ms; quit %8.1f ms%s\n",
                    who, r.longestStall, r.pings, r.updateMs < 0 ? "not done after" : "done in",
                    r.updateMs < 0 ? 60000.0 : r.updateMs, r.quitMs,
                    r.quitMs < 0 ? " (not ended in 30 s: killed)" : "");
        std::fflush(stdout);
        results.push_back(r);
    }
    std::printf("goals: window within 1,000 ms, no stall over 100 ms, quit within 2,000 ms\n");
    if (results.size() > 1)
        std::printf("ratios new/reference: first start %.3f, second start %.3f, longest stall %.3f\n",
                    results[0].firstMapped / results[1].firstMapped, results[0].secondMapped / results[1].secondMapped,
                    results[0].longestStall / results[1].longestStall);
    run("rm -rf '" + master.substr(0, master.rfind('/')) + "'");
}
} // namespace

int main(int argc, char** argv)
{
    bool scaleRun = false;
    int runs = 3;
    std::string given;
    std::vector<std::string> programs;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--scale"))
            scaleRun = true;
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--db") && i + 1 < argc)
            given = argv[++i];
        else
            programs.emplace_back(argv[i]);
    }
    if (programs.empty()) {
        std::fprintf(stderr, "usage: %s [--scale [--db FILE]] [--runs N] PROGRAM [REFERENCE]\n", argv[0]);
        return 2;
    }
    X x;
    if (!x.open()) {
        std::fprintf(stderr, "no X server on DISPLAY\n");
        return 2;
    }
    std::printf("outside start-up, DISPLAY=%s, median of %d runs; program %s%s%s\n", std::getenv("DISPLAY"), runs,
                programs[0].c_str(), programs.size() > 1 ? ", reference " : "",
                programs.size() > 1 ? programs[1].c_str() : "");
    if (scaleRun)
        scale(x, programs, given);
    else
        startup(x, programs, runs);
    xcb_disconnect(x.c);
    return 0;
}
