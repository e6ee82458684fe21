#!/usr/bin/env bash
# The release zip: dist.sh X86_BUILD X64_BUILD OUT_FOLDER
# Clearway.exe, instvelps_x64.exe, the sample Clearway.cfg and the README for
# administrators (dist/), with Windows line ends, in
# OUT_FOLDER/Clearway-<version>.zip below one folder of the same name.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 X86_BUILD X64_BUILD OUT_FOLDER" >&2; exit 2; }
source_dir=$(cd "$(dirname "$0")/.." && pwd)
x86=$1 x64=$2 out=$3
version=$(sed -n 's/.*VALUE "ProductVersion", "\([0-9.]*\)".*/\1/p' "$source_dir/app/clearway.rc")
version=${version%.0}
name="Clearway-$version"
for file in "$x86/bin/Clearway.exe" "$x64/lsputil/instvelps_x64.exe"; do
  [ -f "$file" ] || { echo "dist: $file is missing" >&2; exit 1; }
done
stage="$out/$name"
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage"
# Without their symbol tables (as built, but smaller).
i686-w64-mingw32-strip -o "$stage/Clearway.exe" "$x86/bin/Clearway.exe"
x86_64-w64-mingw32-strip -o "$stage/instvelps_x64.exe" "$x64/lsputil/instvelps_x64.exe"
for text in Clearway.cfg README.txt; do
  sed 's/\r*$/\r/' "$source_dir/dist/$text" >"$stage/$text"
done
(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")
rm -rf "$stage"
echo "$out/$name.zip:"
(cd "$out" && cmake -E tar tf "$name.zip" | sed 's/^/  /')
