#!/usr/bin/env bash
# A whole removal on a damaged machine, as make demo runs it:
#   demo.sh TREE CLEAN_PREFIX DEMO_PREFIX X86_BUILD X64_BUILD
# Copies the untouched prefix CLEAN_PREFIX to DEMO_PREFIX (afresh on every
# run), lays the damaged Velmoran Parlowe installation of
# tests/support/damaged_machine.h into it (the MSI product built with wixl
# and installed by msiexec), runs the real Clearway.exe from X86_BUILD
# silently with --noreboot while it shows the trace log's steps, restarts the
# prefix and prints what was removed and what was kept. Exits 1 when
# something that must stay is gone or something that must go is left.
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: $0 TREE CLEAN_PREFIX DEMO_PREFIX X86_BUILD X64_BUILD" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
export CLEARWAY_WINE_TREE="$1" WINEPREFIX="$3"
clean=$2 x86=$4 x64=$5
. "$here/wine-env.sh"

clearway="$x86/bin/Clearway.exe"
helper="$x86/demo/demo_machine.exe"
service_program="$x86/bin/test_service.exe"
for file in "$clearway" "$helper" "$service_program"; do
  [ -f "$file" ] || { echo "demo: $file is missing: build the 32-bit tree" >&2; exit 2; }
done
[ -f "$clean/.clearway-ready" ] || { echo "demo: no clean prefix in $clean" >&2; exit 2; }

say() { printf '%s\n' "$*"; }
now_ms() { date +%s%3N; }
# m:ss.s of milliseconds
clock() { printf '%d:%02d.%d' $(($1 / 60000)) $(($1 / 1000 % 60)) $(($1 / 100 % 10)); }
# s.s of tenths
tenths() { printf '%d.%d' $(($1 / 10)) $(($1 % 10)); }

# A fresh prefix: the earlier demo's is stopped and replaced.
wineserver -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
cp -a "$clean" "$WINEPREFIX"
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
wineserver -p >/dev/null 2>&1 </dev/null || true
work="$WINEPREFIX/drive_c/demo-tools"
program_dir="$WINEPREFIX/drive_c/clearway-demo"
mkdir -p "$work" "$program_dir"
say "== Velmoran Clearway demo, in a fresh WoW64 prefix: $WINEPREFIX"

# The MSI product, from the same package line the whole-program test uses.
line=$(grep -v '^[[:space:]]*#' "$source_dir/tests/support/machine_packages.txt" | grep -m1 '^parlowe_agent')
IFS='|' read -r _ msi_name msi_maker msi_version msi_arch msi_upgrade msi_product msi_files <<<"$line"
trim() { local t="$1"; t="${t#"${t%%[![:space:]]*}"}"; printf '%s' "${t%"${t##*[![:space:]]}"}"; }
msi_name=$(trim "$msi_name") msi_maker=$(trim "$msi_maker") msi_version=$(trim "$msi_version")
msi_arch=$(trim "$msi_arch") msi_upgrade=$(trim "$msi_upgrade") msi_product=$(trim "$msi_product")
read -r -a msi_file_list <<<"$msi_files"
sh "$source_dir/tests/support/make-msi.sh" "$work/parlowe_agent.msi" "$msi_name" "$msi_maker" "$msi_version" \
  "$msi_arch" "$msi_upgrade" "$msi_product" "${msi_file_list[@]}"
msi_folder="C:\\Program Files (x86)\\$msi_name"

cp "$clearway" "$program_dir/Clearway.exe"
cp "$helper" "$service_program" "$work/"
# The LSP step starts instvelps_x64 beside Clearway; with the test stand-in
# for the maker's library it reports its exit code in the trace log.
utility="$x64/lsputil/instvelps_x64.exe" library="$x64/tests/lsputil/instvelps_x64.dll"
if [ -f "$utility" ] && [ -f "$library" ]; then
  cp "$utility" "$library" "$program_dir/"
else
  say "   (no 64-bit tree with instvelps_x64 in $x64: the LSP step will log that the utility failed to start)"
fi

machine_args=('C:\demo-tools\test_service.exe' "$msi_product" "$msi_upgrade" "$msi_folder")
helper_exe='C:\demo-tools\demo_machine.exe'
say "-- laying the damaged installation"
if ! wine msiexec /i 'C:\demo-tools\parlowe_agent.msi' /qn </dev/null >"$work/msiexec.out" 2>&1; then
  echo "demo: msiexec could not install the MSI product" >&2
  exit 1
fi
if ! wine "$helper_exe" lay "${machine_args[@]}" 'C:\clearway-demo\Clearway.cfg' </dev/null >"$work/lay.out" 2>&1; then
  cat "$work/lay.out" >&2
  exit 1
fi
state() { wine "$helper_exe" state "${machine_args[@]}" </dev/null 2>/dev/null | tr -d '\r'; }
state >"$work/before.tsv"
say "   $(wc -l <"$work/before.tsv") items: MSI product, running service and tray process, keys and values in both"
say "   registry views, per-user data in two profiles, setup logs, an ignored folder and key, another vendor's data"
say "   configuration beside the program: C:\\clearway-demo\\Clearway.cfg"

# The run, with the trace log's steps as they arrive. Pauses the run asks
# for: 10 s after each built-in MSI table code, 30 s after the MSI step, 5 s
# after stopping processes, 1.5 s before the files, 0.5 s before the end.
log="$WINEPREFIX/drive_c/ProgramData/Velmoran clearway/Clearway.log"
say "-- running C:\\clearway-demo\\Clearway.exe --noreboot (silent)"
printf '   %-8s %-9s %s\n' elapsed pauses "step (from the trace log)"
start=$(now_ms)
wine "$helper_exe" run 'C:\clearway-demo\Clearway.exe' --noreboot </dev/null >"$work/run.out" 2>&1 &
run_pid=$!
pauses=0 table=0 after_return=0 seen=0
show() { printf '   %-8s %-9s %s\n' "$(clock $(($(now_ms) - start)))" "$(tenths $pauses) s" "$1"; }
step_line() {
  local text=${1#*$'\t'}
  text=${text%$'\r'}
  if [ $after_return -eq 1 ]; then pauses=$((pauses + 100)); after_return=0; fi
  case $text in
    "Clearway v."*) show "Creating uninstallation profile... ($text)" ;;
    *"failed and returned error code"* | *"reported error message"*) show "FAILED: $text" ;;
    Populate*) show "  $text" ;;
    "MsiUninstall: entry") show "Uninstalling msi packages..." ;;
    "MsiUninstall calling VelMsi api using command"*) show "  configured: ${text#*command }" ;;
    "MsiUninstall returned value"*) show "    returned ${text#*value }" ;;
    "HCMSIUninstall calling"*) table=$((table + 1)); show "  built-in table code $table/15 ${text#*command }" ;;
    "HCMSIUninstall returned value"*) after_return=1 ;;
    "MsiUninstall: looping exit") show "  MSI step done; the run waits 30 s" ;;
    StopNTProcesses*) pauses=$((pauses + 300)); show "$text; the run waits 5 s" ;;
    StopNTServices*) pauses=$((pauses + 50)); show "Stopping services... $text" ;;
    "instvelps_x64 process finished"* | "Calling instvelps_x64 failed"*) show "Restoring system defaults... $text" ;;
    ResetLspStack*) show "  $text; the run waits 1.5 s" ;;
    CleanupFiles*) pauses=$((pauses + 15)); show "Cleaning up files... $text (deleted at the restart)" ;;
    CleanupRegValues* | CleanupRegKeys*) show "Cleaning up registry... $text" ;;
    StartProcesses*) show "$text" ;;
  esac
}
while :; do
  running=0
  kill -0 "$run_pid" 2>/dev/null && running=1
  if [ -f "$log" ]; then
    while IFS= read -r entry; do
      seen=$((seen + 1))
      step_line "$entry"
    done < <(tail -n +$((seen + 1)) "$log")
  fi
  [ $running -eq 1 ] || break
  sleep 0.5
done
wait "$run_pid" || true
wall=$(($(now_ms) - start))
code=$(sed -n 's/^exit code \([0-9]*\).*/\1/p' "$work/run.out" | tail -n 1)
code=${code:-none}
[ "$code" = 3010 ] && pauses=$((pauses + 5))
show "Clearway ended with exit code $code"

state >"$work/run.tsv"
say "-- restarting the prefix (wineboot -r): the scheduled files go now"
wine wineboot -r </dev/null >/dev/null 2>&1
state >"$work/restart.tsv"

meaning() {
  case $1 in
    0) echo "nothing left to remove" ;;
    5) echo "no administrator rights" ;;
    87) echo "unknown switch" ;;
    1223) echo "cancelled" ;;
    1601) echo "the installer service cannot run in safe mode" ;;
    1603) echo "incomplete: see the lines that begin 'Not removed:'" ;;
    1618) echo "busy: another Clearway or installation is running" ;;
    1625) echo "the product folder must not be removed" ;;
    1638) echo "other products of the maker must go first" ;;
    1641) echo "completed, restart started" ;;
    3010) echo "completed, restart still needed" ;;
    *) echo "the failing step's Win32 code" ;;
  esac
}

say ""
say "== What the run removed and what it kept (1 = present)"
printf '%-20s %-70s %-5s %-7s %-4s %-8s %s\n' kind item must before run restart verdict
wrong=0
while IFS=$'\t' read -r fate before kind name note && IFS=$'\t' read -r _ mid _ <&3 && IFS=$'\t' read -r _ after _ <&4; do
  verdict=ok
  case $fate in
    stays) must=stay; [ "$mid$after" = 11 ] || verdict="WRONG: gone" ;;
    goes) must=go; [ "$mid$after" = 00 ] || verdict="WRONG: left" ;;
    restart) must=go; [ "$after" = 0 ] || verdict="WRONG: left"
             [ "$after" = 0 ] && [ "$mid" = 0 ] && verdict="WRONG: gone before the restart" ;;
  esac
  [ "$before" = 1 ] || verdict="WRONG: never laid"
  [ "$verdict" = ok ] || wrong=$((wrong + 1))
  name=${name/#HKEY_LOCAL_MACHINE\\/HKLM\\}
  name=${name/#HKEY_CURRENT_USER\\/HKCU\\}
  printf '%-20s %-70s %-5s %-7s %-4s %-8s %s\n' "$kind" "$name" "$must" "$before" "$mid" "$after" "$verdict ($note)"
done <"$work/before.tsv" 3<"$work/run.tsv" 4<"$work/restart.tsv"

say ""
say "Exit code: $code ($(meaning "$code"))"
say "Trace log: C:\\ProgramData\\Velmoran clearway\\Clearway.log"
say "           ($log)"
own=$((wall - pauses * 100))
say "Bench: the run took $(clock $wall) wall time; it asked for $(tenths $pauses) s of pauses" \
  "($table built-in MSI table codes x 10 s + 30 s + 5 s + 1.5 s + 0.5 s); its own cost $(clock $own)"
if [ "$code" != 3010 ]; then
  say "demo: the run did not complete (exit code $code)" >&2
  exit 1
fi
if [ $wrong -ne 0 ]; then
  say "demo: $wrong item(s) wrong" >&2
  exit 1
fi
say "demo: everything that must go is gone, everything that must stay is there"
