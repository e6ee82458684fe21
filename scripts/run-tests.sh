#!/usr/bin/env bash
# Runs every test program under Wine; leaves no wineserver behind.
set -uo pipefail
build="$1"
prefix="$2"
export WINEPREFIX="$prefix"
stop_wine() { WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
# One wineserver for the whole run, up before the tests start: a server that
# a test's own wine process started would hold that test's output open.
WINEDEBUG=-all wineserver -p >/dev/null 2>&1 </dev/null || true
WINEDEBUG=-all wine reg query 'HKCU\Software\Wine\Drivers' >/dev/null 2>&1 </dev/null || true
ctest --test-dir "$build" --output-on-failure -j2 -LE bench
