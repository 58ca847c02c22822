#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need, when they are missing.
set -euo pipefail
packages=(
    g++ cmake make pkg-config
    qt6-base-dev libqt6sql6-sqlite qt6-5compat-dev libgl-dev qt6-qpa-plugins
    qt6-webengine-dev
    libxml2-dev libsqlite3-dev zlib1g-dev
    libbenchmark-dev
    xvfb xauth xdotool x11-utils imagemagick sqlite3 fonts-dejavu-core
    dbus desktop-file-utils appstream dpkg-dev
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Run this as root (or with sudo) to install the missing packages." >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
