# Sourced by the test bed's scripts: run Wine from the tree that
# scripts/setup-wow64.sh made, so a 32-bit program starts under WoW64.
# Needs CLEARWAY_WINE_TREE (the tree) and WINEPREFIX.
: "${CLEARWAY_WINE_TREE:?CLEARWAY_WINE_TREE is not set: run the tests through make test}"
: "${WINEPREFIX:?WINEPREFIX is not set: run the tests through make test}"
export CLEARWAY_WINE_TREE WINEPREFIX
export WINELOADER="$CLEARWAY_WINE_TREE/usr/lib/wine/wine64"
export WINESERVER="$CLEARWAY_WINE_TREE/usr/lib/wine/wineserver"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# The prefix uses the null graphics driver; no display is needed.
export DISPLAY="${CLEARWAY_DISPLAY:-}"
wine() { "$WINELOADER" "$@"; }
wineserver() { "$WINESERVER" "$@"; }
