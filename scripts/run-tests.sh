#!/usr/bin/env bash
# Runs every test program under Wine: run-tests.sh TREE PREFIX BUILD...
# The 32-bit tree's programs run as 32-bit processes under WoW64; a 64-bit
# tree runs only the programs that exist as 64-bit code. Leaves no wineserver
# behind.
set -uo pipefail
export CLEARWAY_WINE_TREE="$1" WINEPREFIX="$2"
shift 2
. "$(dirname "$0")/wine-env.sh"
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
# One wineserver for the whole run, up before the tests start: a server that
# a test's own wine process started would hold that test's output open.
wineserver -p >/dev/null 2>&1 </dev/null || true
wine reg query 'HKCU\Software\Wine\Drivers' >/dev/null 2>&1 </dev/null || true
rc=0
for build in "$@"; do
  ctest --test-dir "$build" -N -LE bench | grep -q '^Total Tests: 0$' && continue
  case $(grep -sh '^set(CMAKE_CXX_SIZEOF_DATA_PTR' "$build/CMakeFiles"/*/CMakeCXXCompiler.cmake | head -n 1) in
    *\"4\"*) echo "== $build: i686 test programs, each a 32-bit process under WoW64 (32-bit Wine under qemu-i386)" ;;
    *) echo "== $build: x86_64 test programs, each a native 64-bit process" ;;
  esac
  # A program that hangs (seen once under the emulated 32-bit loader: a test
  # program that passes alone in 11 s sat until its 300 s time-out) runs once
  # more; a program that fails is never run again.
  ctest --test-dir "$build" --output-on-failure -j2 -LE bench --no-tests=ignore --repeat after-timeout:2 || rc=1
done
exit $rc
