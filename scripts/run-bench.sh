#!/usr/bin/env bash
# Runs each benchmark from the 32-bit tree under WoW64 and from the 64-bit
# tree natively: run-bench.sh TREE PREFIX BUILD NAME...
set -uo pipefail
export CLEARWAY_WINE_TREE="$1" WINEPREFIX="$2"
build="$3"
shift 3
. "$(dirname "$0")/wine-env.sh"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineserver -p >/dev/null 2>&1 </dev/null || true
rc=0
for b in "$@"; do
  for arch in x86 x64; do
    case $arch in
      x86) what="i686 build, 32-bit process under WoW64 (emulated on this machine)" ;;
      x64) what="x86_64 build, native 64-bit process" ;;
    esac
    echo "== $b: $what"
    "$(dirname "$0")/wine-run" "$build/$arch/bench/$b.exe" || rc=1
  done
done
exit $rc
