#!/usr/bin/env bash
# Creates the headless WoW64 Wine prefix once: make-prefix.sh TREE DIR, where
# TREE is what scripts/setup-wow64.sh made. A complete prefix is reused.
set -euo pipefail
export CLEARWAY_WINE_TREE="$1" WINEPREFIX="$2"
. "$(dirname "$0")/wine-env.sh"
[ -f "$WINEPREFIX/.clearway-ready" ] && exit 0
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
start=$(date +%s)
printf 'Creating the WoW64 Wine prefix %s ... ' "$WINEPREFIX"
wine wineboot -i >/dev/null 2>&1 || true
# Null graphics driver: windows and message boxes exist without a display.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
if [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "failed" >&2
  echo "make-prefix: $WINEPREFIX has no 32-bit side (drive_c/windows/syswow64/kernel32.dll)" >&2
  exit 1
fi
touch "$WINEPREFIX/.clearway-ready"
echo "done in $(( $(date +%s) - start )) s"
