#!/usr/bin/env bash
# Starts the program in an empty folder under a virtual X server, creates a task by keyboard alone for a
# page served on loopback, checks task.db, changes the page, updates with Ctrl+U, quits with Ctrl+Q, and
# starts again to see the task loaded.
# Usage: e2e_keyboard.sh PROGRAM SERVEDIR
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
results() { sqlite3 "$work/run/task.db" "SELECT count(*) FROM results" 2>/dev/null || echo 0; }
wait_for() { # seconds, command...
    local limit=$1; shift
    for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
    return 1
}
# A window with the title once it is mapped and viewable (prints its id). On a busy machine a window is found
# by its title before it is mapped, and focusing it then is an X error (BadMatch).
viewable_window() { # title seconds
    local id
    for _ in $(seq $(($2 * 10))); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}
# Without a window manager nothing gives the window the focus back after a popup closes: the focus is set
# by hand, on a window that is viewable at that moment, and the keys wait until it holds the focus.
focus() {
    for _ in $(seq 100); do
        if xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable" &&
            xdotool windowfocus "$1" 2>/dev/null && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; then
            sleep 0.2
            return 0
        fi
        sleep 0.1
    done
    fail "window $1 did not take the focus"
}
write_page() {
    cat > "$work/site/news.html" <<HTML
<html><body>
<a href="/story/1">Qt $1 released</a>
<a href="story/2.html">Qt tools</a>
<a href="/other">Weather</a>
</body></html>
HTML
}

# The program's debug lines are off by default; the window's ("tasks loaded: N") are turned on to be read.
# They are in vantrel.app, or in vantrel.engine for a window that still logs through the engine's category.
window_log_rules="vantrel.app.debug=true;vantrel.engine.debug=true"

if [ "${1:-}" = "--phase" ]; then
    # Inside the virtual X server: run one phase with the environment the outer part exported.
    phase=$2
else
    program=$(realpath "$1")
    servedir=$(realpath "$2")
    work=$(mktemp -d)
    trap 'kill $(jobs -p) 2>/dev/null || true; [ -n "${E2E_KEEP:-}" ] || rm -rf "$work"' EXIT
    mkdir -p "$work/site" "$work/run" "$work/config"
    export XDG_CONFIG_HOME="$work/config"
fi

if [ -z "${phase:-}" ]; then
write_page "6.4"
"$servedir" "$work/site" > "$work/port" &
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -1 "$work/port")
address="http://127.0.0.1:$port/news.html"
fi

session() {
    cd "$work/run"
    QT_LOGGING_RULES="$window_log_rules" "$program" > "$work/out1.log" 2>&1 &
    local app=$!
    local win; win=$(viewable_window '^Vantrel Monitor$' 30) || fail "no main window"
    focus "$win"
    sleep 0.5
    xdotool key --clearmodifiers ctrl+n
    local dialog; dialog=$(viewable_window '^New Task$' 20) || fail "no New Task dialog"
    focus "$dialog"
    sleep 0.3
    xdotool type --delay 20 "Qt news"
    xdotool key Tab
    xdotool type --delay 20 "$address"
    xdotool key Tab
    xdotool type --delay 20 "qt"
    xdotool key Return
    wait_for 20 bash -c "[ \"\$(sqlite3 '$work/run/task.db' 'SELECT count(*) FROM results' 2>/dev/null)\" = 2 ]" \
        || fail "task.db does not hold the two results (has $(results))"
    [ "$(sqlite3 "$work/run/task.db" 'SELECT name, grabtext, frequency FROM tasks')" = "Qt news|qt|3600" ] \
        || fail "task row: $(sqlite3 "$work/run/task.db" 'SELECT * FROM tasks')"
    sqlite3 "$work/run/task.db" 'SELECT link FROM results ORDER BY id' | grep -qx "http://127.0.0.1:$port/story/2.html" \
        || fail "relative link not resolved"

    write_page "6.5"
    sleep 0.3
    focus "$win"
    xdotool key --clearmodifiers ctrl+u
    wait_for 20 bash -c "[ \"\$(sqlite3 '$work/run/task.db' 'SELECT count(*) FROM results' 2>/dev/null)\" = 3 ]" \
        || fail "the changed link was not stored after Ctrl+U (has $(results))"
    sqlite3 "$work/run/task.db" "SELECT text FROM results" | grep -qx "Qt 6.5 released" || fail "new text missing"

    focus "$win"
    xdotool key --clearmodifiers ctrl+q
    local status=0
    wait "$app" || status=$?
    [ "$status" -eq 0 ] || fail "exit status $status after Ctrl+Q"
}

second_start() {
    cd "$work/run"
    QT_LOGGING_RULES="$window_log_rules" "$program" > "$work/out2.log" 2>&1 &
    local app=$!
    local win; win=$(viewable_window '^Vantrel Monitor$' 30) || fail "no main window on the second start"
    wait_for 10 grep -q "tasks loaded: 1" "$work/out2.log" || fail "the task was not loaded again"
    focus "$win"
    xdotool key --clearmodifiers ctrl+q
    local status=0
    wait "$app" || status=$?
    [ "$status" -eq 0 ] || fail "exit status $status on the second run"
}

if [ -n "${phase:-}" ]; then
    "$phase"
    exit 0
fi
export work program address port
# A start number of its own, so two runs at once (other checkouts on this machine) do not pick one display.
xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1280x1024x24" bash "$0" --phase session
xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1280x1024x24" bash "$0" --phase second_start
echo "e2e: 1 passed, 0 failed"
