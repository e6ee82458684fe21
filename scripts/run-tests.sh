#!/usr/bin/env bash
# Runs every test program under Wine; leaves no wineserver behind.
set -uo pipefail
build="$1"
prefix="$2"
export WINEPREFIX="$prefix"
stop_wine() { WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
# One wineserver for the whole run, started before the parallel tests.
WINEPREFIX="$prefix" WINEDEBUG=-all wineserver -p >/dev/null 2>&1 || true
ctest --test-dir "$build" --output-on-failure -j2 -LE bench
