#!/usr/bin/env bash
# Creates a headless Wine prefix once: make-prefix.sh DIR. An existing,
# complete prefix is reused.
set -euo pipefail
dir="$1"
[ -f "$dir/.clearway-ready" ] && exit 0
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
export WINEPREFIX="$dir" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "Creating Wine prefix $dir (once; takes a minute)"
wineboot -i >/dev/null 2>&1 || true
# Null graphics driver: windows and message boxes exist without a display.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -k || true
wineserver -w || true
[ -f "$dir/system.reg" ] || { echo "Wine prefix $dir was not created" >&2; exit 1; }
touch "$dir/.clearway-ready"
