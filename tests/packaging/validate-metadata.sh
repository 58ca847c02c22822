#!/usr/bin/env bash
# The installed menu entry and the AppStream metainfo pass their validators: the entry without a single
# hint, the metainfo without warnings or errors (and without reaching the network).
# Usage: validate-metadata.sh DESKTOP_FILE METAINFO_FILE
set -euo pipefail
desktop=$1 metainfo=$2
id=$(basename "$desktop" .desktop)
[ "$(basename "$metainfo" .metainfo.xml)" = "$id" ] || { echo "metainfo and desktop entry differ in id"; exit 1; }
grep -q "<id>$id</id>" "$metainfo" || { echo "metainfo does not carry the id $id"; exit 1; }
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || { echo "no launchable $id.desktop"; exit 1; }

out=$(desktop-file-validate "$desktop" 2>&1) || { echo "$out"; exit 1; }
if [ -n "$out" ]; then echo "desktop-file-validate: $out"; exit 1; fi
appstreamcli validate --no-net "$metainfo"
echo "metadata of $id valid"
