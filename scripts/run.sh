#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it in the current folder (its task.db lives
# in the folder it is started from).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_TESTS=OFF -DVANTREL_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build" -j"$(nproc)" --target vantrel-monitor vantrel-render
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: run it under a virtual X server with: xvfb-run -a $top/build/vantrel-monitor" >&2
    exit 1
fi
exec "$top/build/vantrel-monitor"
