#!/usr/bin/env bash
# The guard's oracle over many generated configurations (make fuzz):
# run-fuzz.sh TREE PREFIX BUILD [CASES]. It prints the cases per second.
set -uo pipefail
export CLEARWAY_WINE_TREE="$1" WINEPREFIX="$2"
build="$3"
export CLEARWAY_ORACLE_CASES="${4:-2000}"
scripts="$(cd "$(dirname "$0")" && pwd)"
. "$scripts/wine-env.sh"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineserver -p >/dev/null 2>&1 </dev/null || true
wine reg query 'HKCU\Software\Wine\Drivers' >/dev/null 2>&1 </dev/null || true
echo "== the guard's oracle: $CLEARWAY_ORACLE_CASES generated configurations, i686 build under WoW64"
cd "$build/tests/profile" && "$scripts/wine-run" ./oracle_tests.exe
