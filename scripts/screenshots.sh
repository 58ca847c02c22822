#!/usr/bin/env bash
# Takes the screenshots of the README: the main window with results, the new-task dialog and the options
# dialog. Builds the program and the page server if needed, serves a small page on loopback, prepares a
# task.db with sqlite3 in a temporary folder and photographs the program under a virtual X server.
# Usage: scripts/screenshots.sh [BUILD_FOLDER]   (default: build; relative to the source folder)
# Needs: cmake, xvfb-run, xdotool, sqlite3, ImageMagick (import, convert).
set -euo pipefail
fail() { echo "screenshots: $*" >&2; exit 1; }
wait_for() { # seconds, command...
    local limit=$1; shift
    for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
    return 1
}
# Without a window manager nothing gives a window the focus; ask for it directly.
focus() { xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1"; sleep 0.3; }
window_of() { xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1; }
# Photographs the whole screen and cuts out the window.
shoot() { # window-id output.png
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    import -window root "$work/root.png"
    convert "$work/root.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$2"
    echo "wrote $2 (${WIDTH}x${HEIGHT})"
}

if [ "${1:-}" = "--inside" ]; then
    # Inside the virtual X server, with the environment the outer part exported.
    cd "$work/run"
    "$program" > "$work/program.log" 2>&1 &
    app=$!
    wait_for 20 bash -c "[ -n \"\$(xdotool search --onlyvisible --name '^Vantrel Monitor\$' 2>/dev/null)\" ]" \
        || fail "the main window did not appear"
    main=$(window_of '^Vantrel Monitor$')
    focus "$main"
    sleep 1
    shoot "$main" "$docs/screenshot-main.png"

    xdotool key --clearmodifiers ctrl+n
    wait_for 10 bash -c "[ -n \"\$(xdotool search --onlyvisible --name '^New Task\$' 2>/dev/null)\" ]" \
        || fail "the new-task dialog did not appear"
    dialog=$(window_of '^New Task$')
    focus "$dialog"
    xdotool type --delay 15 "Qt releases"
    xdotool key Tab
    xdotool type --delay 15 "https://www.example.org/news/"
    xdotool key Tab
    xdotool type --delay 15 "Qt"
    sleep 0.5
    shoot "$dialog" "$docs/screenshot-newtask.png"
    xdotool key Escape
    wait_for 10 bash -c "[ -z \"\$(xdotool search --onlyvisible --name '^New Task\$' 2>/dev/null)\" ]" \
        || fail "the new-task dialog did not close"

    focus "$main"
    xdotool key --clearmodifiers ctrl+k
    wait_for 10 bash -c "[ -n \"\$(xdotool search --onlyvisible --name '^Options\$' 2>/dev/null)\" ]" \
        || fail "the options dialog did not appear"
    dialog=$(window_of '^Options$')
    focus "$dialog"
    sleep 0.5
    shoot "$dialog" "$docs/screenshot-options.png"
    xdotool key Escape
    sleep 0.5

    focus "$main"
    xdotool key --clearmodifiers ctrl+q
    wait_for 10 bash -c "! kill -0 $app 2>/dev/null" || { kill "$app"; fail "the program did not quit"; }
    exit 0
fi

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build}
case "$build" in /*) ;; *) build="$top/$build" ;; esac
for tool in cmake xvfb-run xdotool sqlite3 import convert; do
    command -v "$tool" >/dev/null || fail "$tool is missing (Debian: bash scripts/deps.sh)"
done

[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target vantrel-monitor servedir >/dev/null
program="$build/vantrel-monitor"
servedir="$build/tests/e2e/servedir"
docs="$top/docs"
mkdir -p "$docs"

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/site" "$work/run" "$work/config/Orrimbel Studio"
cat > "$work/site/news.html" <<'HTML'
<html><body>
<h1>News</h1>
<a href="/news/qt-6-4-2.html">Qt 6.4.2 released</a>
<a href="/news/qt-creator-9.html">Qt Creator 9 brings better CMake support</a>
<a href="/news/weather.html">Weather for the weekend</a>
</body></html>
HTML
"$servedir" "$work/site" > "$work/port" &
wait_for 10 test -s "$work/port" || fail "the page server did not start"
port=$(head -1 "$work/port")
site="http://127.0.0.1:$port"

# Three tasks; the first, shown at start, has results from several days, some already read.
today=$(date +%m/%d/%Y)
yesterday=$(date -d yesterday +%m/%d/%Y)
lastweek=$(date -d '6 days ago' +%m/%d/%Y)
now=$(date +%Y-%m-%dT%H:%M:%S)
sqlite3 "$work/run/task.db" <<SQL
CREATE TABLE IF NOT EXISTS tasks(id INTEGER PRIMARY KEY AUTOINCREMENT, task_id INTEGER, task_date TEXT, last_update TEXT, name TEXT, grabtext TEXT, frequency INTEGER, address TEXT);
CREATE TABLE IF NOT EXISTS results(id INTEGER PRIMARY KEY AUTOINCREMENT, result_date TEXT, taskid INTEGER, text TEXT, link TEXT, result_state INTEGER);
INSERT INTO tasks(task_id, task_date, last_update, name, grabtext, frequency, address) VALUES
 (0, '$lastweek', '$now', 'Qt news', 'qt', 3600, '$site/news.html'),
 (1, '$lastweek', '$now', 'Release notes', 'release', 86400, '$site/releases.html'),
 (2, '$yesterday', '$now', 'Job offers', 'developer', 1800, '$site/jobs.html');
INSERT INTO results(result_date, taskid, text, link, result_state) VALUES
 ('$lastweek', 0, 'Qt 6.4.1 released', '$site/news/qt-6-4-1.html', 1),
 ('$lastweek', 0, 'Qt Creator 8 brings better CMake support', '$site/news/qt-creator-8.html', 1),
 ('$yesterday', 0, 'Qt for MCUs 2.3', '$site/news/qt-mcu-2-3.html', 1),
 ('$today', 0, 'Qt 6.4.2 released', '$site/news/qt-6-4-2.html', 0),
 ('$today', 0, 'Qt Creator 9 brings better CMake support', '$site/news/qt-creator-9.html', 0),
 ('$yesterday', 1, 'Release 2.1 notes', '$site/releases/2.1.html', 0),
 ('$today', 2, 'Senior developer (C++/Qt)', '$site/jobs/42.html', 0);
SQL
# A window that fits the 1024x700 screen with room for its dialogs.
cat > "$work/config/Orrimbel Studio/Vantrel Monitor.conf" <<'CONF'
[mainwindow]
pos=@Point(0 0)
size=@Size(960 620)
CONF

export work program docs
XDG_CONFIG_HOME="$work/config" \
    xvfb-run -a -s "-screen 0 1024x700x24" bash "${BASH_SOURCE[0]}" --inside
