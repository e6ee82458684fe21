#!/usr/bin/env bash
# Sets up the 32-bit side of the test bed: setup-wow64.sh DIR
#
# Clearway is a 32-bit program; the tests run it as one, in a WoW64 prefix.
# The 64-bit Wine of the machine runs natively and starts a 32-bit program by
# executing the file `wine` beside its `wine64`. DIR/root is a private tree
# where that file is a wrapper running Wine's 32-bit loader under qemu-i386,
# with the tree as the emulated root (the machine may not run 32-bit code
# itself). The tree holds copies of the machine's wine64, wineserver64 and
# 64-bit Wine libraries (real files: the loader finds its siblings through its
# own path), and wine32/libwine for i386 at exactly the version of the
# installed wine64, with their i386 dependencies, unpacked without dpkg.
#
# No root is needed and nothing outside DIR changes. The packages come through
# a private apt configuration from the mirrors of the machine's own apt
# sources. A complete tree is marked and reused; the tree is built under a
# temporary name and renamed when complete, so a failed run leaves nothing the
# next run would trust.
set -euo pipefail

out=$(realpath -m "${1:?usage: setup-wow64.sh DIR}")
root="$out/root"
here=$(cd "$(dirname "$0")" && pwd)

ver=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null) || ver=""
[ -n "$ver" ] || { echo "setup-wow64: the 64-bit Wine (package wine64) is not installed" >&2; exit 1; }
if [ -f "$root/.clearway-ready" ] && [ "$(cat "$root/.clearway-ready")" = "$ver" ]; then
  exit 0
fi

start=$(date +%s)
mkdir -p "$out"
log="$out/setup.log"
: >"$log"
printf 'Setting up 32-bit Wine %s under qemu-i386 in %s ... ' "$ver" "$root"
fail() {
  echo "failed" >&2
  echo "setup-wow64: $*" >&2
  [ -s "$log" ] && { echo "--- last lines of $log:" >&2; tail -n 15 "$log" >&2; }
  exit 1
}

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || fail "no VERSION_CODENAME in /etc/os-release"

# --- Mirrors: the Debian entries of the machine's own apt sources ----------
# Prints "URI SUITE SIGNED-BY COMPONENTS..." for each enabled deb entry.
read_sources() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk '
      function flush() {
        if (types ~ /(^|[ \t])deb([ \t]|$)/ && enabled != "no") {
          n = split(uris, U, /[ \t]+/); m = split(suites, S, /[ \t]+/)
          for (i = 1; i <= n; i++) for (j = 1; j <= m; j++)
            if (U[i] != "" && S[j] != "") print U[i], S[j], (signed == "" ? "-" : signed), comps
        }
        types = uris = suites = comps = signed = enabled = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/   { next }   # continuation (an inline key): not a file name
      {
        key = tolower($1); sub(/:$/, "", key)
        val = $0; sub(/^[^:]*:[ \t]*/, "", val)
        if (key == "types") types = val
        else if (key == "uris") uris = val
        else if (key == "suites") suites = val
        else if (key == "components") comps = val
        else if (key == "signed-by") signed = val
        else if (key == "enabled") enabled = tolower(val)
      }
      END { flush() }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '
      /^[ \t]*deb[ \t]/ {
        signed = "-"; i = 2
        if ($2 ~ /^\[/) {
          for (; i <= NF; i++) {
            if ($i ~ /^\[?signed-by=/) { s = $i; sub(/^\[?signed-by=/, "", s); sub(/\]$/, "", s); signed = s }
            if ($i ~ /\]$/) { i++; break }
          }
        }
        comps = ""; for (k = i + 2; k <= NF; k++) comps = comps (comps == "" ? "" : " ") $k
        print $i, $(i + 1), signed, comps
      }' "$f"
  done
}

apt_dir="$out/apt"
mkdir -p "$apt_dir/empty" "$apt_dir/state/lists/partial" "$apt_dir/cache" \
         "$apt_dir/archives-$ver/partial" "$apt_dir/qemu"
: >"$apt_dir/state/status"
sources="$apt_dir/sources.list"
: >"$sources"
while read -r uri suite signed comps; do
  case "$suite" in
    "$codename"|"$codename-updates"|"$codename-security") ;;
    *) continue ;;
  esac
  opt=""
  [ "$signed" != "-" ] && opt=" signed-by=$signed"
  echo "deb [arch=i386$opt] $uri $suite $comps" >>"$sources"
  # qemu-i386 of the base distribution spends about a minute on every
  # process start; the backports one does not.
  [ "$suite" = "$codename" ] && echo "deb [arch=amd64$opt] $uri $codename-backports $comps" >>"$sources"
done < <(read_sources | sort -u)
grep -q " $codename-backports " "$sources" || fail "the machine's apt sources name no Debian $codename mirror"

cat >"$apt_dir/apt.conf" <<EOF
Dir::Etc::SourceList "$sources";
Dir::Etc::SourceParts "$apt_dir/empty";
Dir::Etc::Preferences "$apt_dir/empty/none";
Dir::Etc::PreferencesParts "$apt_dir/empty";
Dir::State "$apt_dir/state";
Dir::State::status "$apt_dir/state/status";
Dir::Cache "$apt_dir/cache";
Dir::Cache::archives "$apt_dir/archives-$ver";
APT::Architecture "i386";
APT::Architectures { "i386"; "amd64"; };
APT::Install-Recommends "false";
APT::Sandbox::User "$(id -un)";
Acquire::Languages "none";
Debug::NoLocking "true";
EOF
export APT_CONFIG="$apt_dir/apt.conf"

# The X libraries winex11 loads at run time (it links none of them).
x_libs=(libxcomposite1 libxcursor1 libxfixes3 libxi6 libxinerama1 libxrandr2 libxrender1 libxxf86vm1)
{
  apt-get -q update &&
  apt-get -q -y -d install "wine32:i386=$ver" "libwine:i386=$ver" "${x_libs[@]/%/:i386}" &&
  (cd "$apt_dir/qemu" && rm -f ./*.deb && apt-get -q download "qemu-user:amd64/$codename-backports")
} >>"$log" 2>&1 || fail "downloading the i386 Wine packages or qemu-user failed"

# --- The tree, built under a temporary name --------------------------------
tmp="$out/root.partial"
rm -rf "$tmp" "$out/qemu.partial"
mkdir -p "$tmp"
for deb in "$apt_dir/archives-$ver"/*.deb; do
  dpkg-deb -x "$deb" "$tmp" >>"$log" 2>&1 || fail "unpacking $(basename "$deb") failed"
done
wine_dir="$tmp/usr/lib/wine"
[ -x "$wine_dir/wine" ] || fail "wine32:i386 brought no loader usr/lib/wine/wine"
mv "$wine_dir/wine" "$wine_dir/wine-i386"

mkdir -p "$out/qemu.partial"
dpkg-deb -x "$apt_dir/qemu"/qemu-user_*.deb "$out/qemu.partial" >>"$log" 2>&1 || fail "unpacking qemu-user failed"
qemu=$(find "$out/qemu.partial" -type f \( -name qemu-i386 -o -name qemu-i386-static \) | head -n 1)
[ -n "$qemu" ] || fail "qemu-user brought no qemu-i386"
cp "$qemu" "$wine_dir/qemu-i386"
rm -rf "$out/qemu.partial"

# The machine's 64-bit Wine as real files inside the tree: linked where the
# file system allows, copied otherwise.
copy_real() { cp -al "$1" "$2" 2>/dev/null || cp -a "$1" "$2"; }
copy_real /usr/lib/wine/wine64 "$wine_dir/wine64"
copy_real /usr/lib/wine/wineserver64 "$wine_dir/wineserver64"
copy_real /usr/lib/wine/wineserver64 "$wine_dir/wineserver"
mkdir -p "$tmp/usr/lib/x86_64-linux-gnu"
rm -rf "$tmp/usr/lib/x86_64-linux-gnu/wine"
copy_real /usr/lib/x86_64-linux-gnu/wine "$tmp/usr/lib/x86_64-linux-gnu/wine"

cat >"$wine_dir/wine" <<'EOF'
#!/bin/sh
# Wine's 32-bit loader under qemu-i386, with this tree as the emulated root.
# argv[0] stays this file's path: Wine starts further 32-bit processes through
# the loader it finds in argv[0].
here=$(dirname "$(readlink -f "$0")")
exec "$here/qemu-i386" -L "${here%/usr/lib/wine}" -0 "$here/wine" "$here/wine-i386" "$@"
EOF
chmod 755 "$wine_dir/wine"

# What libwine's install script would have done: zlib1.dll marked as a Wine
# builtin (bytes 64-95 hold the mark) beside the other builtin DLLs.
mark_builtin() {
  [ -f "$1" ] || fail "missing $1 (package libz-mingw-w64)"
  mkdir -p "$(dirname "$2")"
  { head -c 64 "$1"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$1"; } >"$2"
}
mark_builtin "$tmp/usr/i686-w64-mingw32/lib/zlib1.dll" "$tmp/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"
mark_builtin "$tmp/usr/x86_64-w64-mingw32/lib/zlib1.dll" "$tmp/usr/lib/i386-linux-gnu/wine/x86_64-windows/zlib1.dll"

# Only the emulated processes read the tree's ld.so.preload: the fault-number
# fix for Wine's 32-bit signal handlers.
libc="$tmp/lib/i386-linux-gnu/libc.so.6"
[ -f "$libc" ] || libc="$tmp/usr/lib/i386-linux-gnu/libc.so.6"
[ -f "$libc" ] || fail "libc6:i386 brought no libc.so.6"
obj="$out/trapno_fix.o"
{
  gcc -m32 -O2 -fPIC -ffreestanding -fno-stack-protector -c "$here/wow64/trapno_fix.c" -o "$obj" &&
  ld -m elf_i386 -shared -o "$tmp/usr/lib/i386-linux-gnu/clearway-trapno-fix.so" "$obj" "$libc"
} >>"$log" 2>&1 || fail "building the i386 fault-number fix failed"
rm -f "$obj"
echo /usr/lib/i386-linux-gnu/clearway-trapno-fix.so >"$tmp/etc/ld.so.preload"

# The tree's own library cache, so nothing comes from the machine's.
echo 'include /etc/ld.so.conf.d/*.conf' >"$tmp/etc/ld.so.conf"
ldconfig -X -r "$tmp" >>"$log" 2>&1 || fail "ldconfig for the tree failed"

echo "$ver" >"$tmp/.clearway-ready"
rm -rf "$root"
mv "$tmp" "$root"
echo "done in $(( $(date +%s) - start )) s"
