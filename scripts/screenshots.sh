#!/usr/bin/env bash
# Pictures of the dialogs, as make screenshots takes them:
#   screenshots.sh TREE CLEAN_PREFIX SHOTS_PREFIX X86_BUILD OUT_FOLDER
# Copies the untouched prefix to SHOTS_PREFIX with the X11 graphics driver
# (the test prefix draws nothing: null driver), runs the helper program
# screenshots.exe of X86_BUILD under Xvfb and copies its PNGs to OUT_FOLDER.
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: $0 TREE CLEAN_PREFIX SHOTS_PREFIX X86_BUILD OUT_FOLDER" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
# Under a virtual display of its own: the Wine processes draw to it.
if [ -z "${CLEARWAY_UNDER_XVFB:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" env CLEARWAY_UNDER_XVFB=1 "$0" "$@"
fi
export CLEARWAY_WINE_TREE="$1" WINEPREFIX="$3" CLEARWAY_DISPLAY="$DISPLAY"
clean=$2 x86=$4 out=$5
. "$here/wine-env.sh"
helper="$x86/demo/screenshots.exe"
[ -f "$helper" ] || { echo "screenshots: $helper is missing: build the 32-bit tree" >&2; exit 2; }
[ -f "$clean/.clearway-ready" ] || { echo "screenshots: no clean prefix in $clean" >&2; exit 2; }

wineserver -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
cp -a "$clean" "$WINEPREFIX"
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
wineserver -p >/dev/null 2>&1 </dev/null || true
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f </dev/null >/dev/null 2>&1
# Xvfb has no window manager: Wine draws captions and frames itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
# Every Wine process from now on reads it: restart the server.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 </dev/null || true
# Wine's own fonts (Marlett draws the caption buttons), where every Wine
# process finds them: the 32-bit side's tree has no font files of its own.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null ||
  echo "screenshots: no Wine fonts in /usr/share/wine/fonts (fonts-wine): captions may lack their buttons" >&2
mkdir -p "$WINEPREFIX/drive_c/screenshots"
cp "$helper" "$WINEPREFIX/drive_c/screenshots/"
wine 'C:\screenshots\screenshots.exe' 'C:\screenshots' </dev/null | tr -d '\r'
mkdir -p "$out"
cp "$WINEPREFIX"/drive_c/screenshots/*.png "$out/"
echo "screenshots in $out:"
ls "$out"
