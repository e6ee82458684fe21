#!/usr/bin/env bash
# Installs the Debian packages the build and the Wine test bed need, only
# those that are missing. Not root: prints the one line to run, and fails.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_cmd cmake || need+=(cmake)
have_cmd make || need+=(make)
have_cmd i686-w64-mingw32-g++-posix || need+=(g++-mingw-w64-i686-posix)
have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
have_cmd i686-w64-mingw32-windres || need+=(binutils-mingw-w64-i686)
have_cmd x86_64-w64-mingw32-windres || need+=(binutils-mingw-w64-x86-64)
# The 64-bit loader is what the tests run on (see README: Test bed).
{ have_cmd wine && [ -x /usr/lib/wine/wine64 ]; } || need+=(wine wine64)
have_cmd wixl || need+=(wixl)
have_cmd xvfb-run || need+=(xvfb xauth)
# Wine's own fonts (Tahoma, Marlett's caption buttons): the screenshots.
[ -f /usr/share/wine/fonts/marlett.ttf ] || need+=(fonts-wine)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)

[ ${#need[@]} -eq 0 ] && exit 0

line="apt-get update && apt-get install -y --no-install-recommends ${need[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Clearway needs these Debian packages: ${need[*]}" >&2
  echo "Install them as root with:" >&2
  echo "  sudo sh -c '$line'" >&2
  exit 1
fi
echo "Installing: ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${need[@]}"
