#!/bin/sh
# Starts the built program the way a real log-on does, from a configuration of recorder entries,
# and checks that every entry was started:
#   logon_test.sh wine PROGRAM ARGREC SCRATCH WINE_RUN PREFIX LOADER
#     registers PROGRAM in the prefix's HKCU Run key and runs Wine's log-on processing (wineboot
#     without options), then removes the key;
#   logon_test.sh dex PROGRAM ARGREC SCRATCH DESKTOP_ENTRY
#     fills in DESKTOP_ENTRY's Exec and Path and lets dex run it from a scratch autostart folder;
#   logon_test.sh msi MSI ARGREC SCRATCH WINE_RUN PREFIX LOADER OLDER_MSI
#     in a fresh prefix of the loader's architecture: installs OLDER_MSI, upgrades it with MSI and
#     refuses the downgrade, checks the licence and the event log's source it installed, lets
#     Wine's log-on run the Run value the package wrote (two of the entries are a program only in
#     C:\windows\system32), uninstalls, and checks that nothing of the product is left and that C:\Tarnwick.cfg is as it was. A 32-bit MSI must refuse to
#     install in PREFIX when that is a 64-bit prefix.
# Exits 77 (skipped) when the runner is missing.
set -eu
mode=$1 program=$2 argrec=$3 scratch=$4
shift 4
rm -rf "$scratch"
mkdir -p "$scratch/out"
# Under Wine: the prefix's own programs, and paths as Windows sees the build's files.
wine() { "$wine_run" "$prefix" "$loader" "$@"; }
native() { printf 'Z:%s' "$1" | tr / '\\'; }
machine_run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
event_source='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Tarnwick'

case $mode in
wine)
  wine_run=$1 prefix=$2 loader=$3
  run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
  # Made first: the configuration lives in the prefix's drive C.
  wine reg add "$run_key" /v TarnwickLogonTest /d "$(native "$program")" /f >/dev/null
  trap 'wine reg delete "$run_key" /v TarnwickLogonTest /f >/dev/null 2>&1 || true' EXIT
  config="$prefix/drive_c/Tarnwick.cfg"
  ;;
msi)
  wine_run=$1 prefix=$2 loader=$3 older=$4
  if [ ! -f "$program" ] || [ ! -f "$older" ]; then
    echo "no MSI was built (needs wixl, msitools and faketime): the installer test is skipped"
    exit 77
  fi
  case $loader in
  */wine64) ;;
  *)
    if wine msiexec /i "$program" /qn && grep -q '^#arch=win64' "$prefix/system.reg"; then
      echo "the 32-bit package installed on 64-bit Windows"
      exit 1
    fi
    export WINEARCH=win32
    ;;
  esac
  prefix=$scratch/prefix
  trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT
  wine cmd /c exit >/dev/null
  config="$prefix/drive_c/Tarnwick.cfg"
  cp "$argrec" "$prefix/drive_c/windows/system32/tarnwick-rec.exe"
  ;;
dex)
  if ! command -v dex >/dev/null; then
    echo "dex is not installed (Debian package dex): the autostart test is skipped"
    exit 77
  fi
  native() { printf '%s' "$1"; }
  mkdir -p "$scratch/home" "$scratch/config/autostart"
  sed -e "s|^Exec=.*|Exec=$program|" -e "s|^Path=.*|Path=$scratch/home|" "$1" \
    > "$scratch/config/autostart/tarnwick.desktop"
  config="$scratch/home/C:\\Tarnwick.cfg"
  ;;
esac

# Three entries, CR LF ends, one of them quoted.
rec=$(native "$argrec")
out=$(native "$scratch/out/")
printf '%s %s1 one\r\n"%s" %s2 two words\r\n%s %s3\r\n' \
  "$rec" "$out" "$rec" "$out" "$rec" "$out" > "$config"
set -- 'one\n' 'two\nwords\n' ''

case $mode in
wine) wine wineboot ;;
msi)
  printf 'C:\\windows\\system32\\tarnwick-rec.exe %s4 four\r\ntarnwick-rec.exe %s5\r\n' \
    "$out" "$out" >> "$config"
  set -- "$@" 'four\n' ''
  cp "$config" "$scratch/config.before"
  apps='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
  products() { wine reg query "$apps" /s | grep -c 'DisplayName.*Tarnwick' || true; }
  wine msiexec /i "$older" /qn
  wine msiexec /i "$program" /qn
  [ "$(products)" = 1 ] || { echo "the upgrade left $(products) entries in Apps"; exit 1; }
  ! wine msiexec /i "$older" /qn || { echo "a downgrade was not refused"; exit 1; }
  for file in LICENSE THIRD-PARTY-NOTICES.txt Tarnwick.task.xml; do
    [ -f "$prefix/drive_c/Program Files/Tarnwick/$file" ] || { echo "no $file installed"; exit 1; }
  done
  # Wine's Task Scheduler takes the shipped task as it is: at normal priority, with no network
  # condition that could skip the start.
  wine schtasks /create /xml 'C:\Program Files\Tarnwick\Tarnwick.task.xml' /tn Tarnwick
  task=$(cat "$prefix/drive_c/windows/system32/tasks/Tarnwick")
  case $task in *'<Priority>5<'*) ;; *) echo "the task does not start at normal priority"; exit 1 ;; esac
  case $task in *'<RunOnlyIfNetworkAvailable>true'*) echo "the task needs a network"; exit 1 ;; esac
  wine schtasks /delete /tn Tarnwick /f
  source=$(wine reg query "$event_source" | tr -s ' \t' ' ')
  case $source in
  *'EventMessageFile REG_SZ C:\Program Files\Tarnwick\tarnwickw.exe'*'TypesSupported REG_DWORD 0x7'*) ;;
  *) printf '%s\n' "the event log's source is not registered as expected: $source"; exit 1 ;;
  esac
  run_value=$(wine reg query "$machine_run_key" /v Tarnwick)
  case $run_value in
  *'"C:\Program Files\Tarnwick\tarnwickw.exe"'*) ;;
  *) echo "the Run value does not name the installed program: $run_value"; exit 1 ;;
  esac
  wine wineboot
  ;;
dex) XDG_CONFIG_HOME="$scratch/config" XDG_CONFIG_DIRS="$scratch/nowhere" dex -a ;;
esac

# The log-on returns before what it starts has run: poll, with a deadline. Each entry's file holds
# its arguments, a line each.
status=0 n=0
for expected in "$@"; do
  n=$((n + 1)) waited=0
  while [ ! -f "$scratch/out/$n" ] && [ $waited -lt 300 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if [ ! -f "$scratch/out/$n" ]; then
    echo "entry $n was not started within 30 s"
    status=1
  elif ! printf "$expected" | cmp -s - "$scratch/out/$n"; then
    echo "entry $n received the wrong arguments"
    status=1
  fi
done
if [ "$mode" = msi ]; then
  wine msiexec /x "$program" /qn
  left=$(find "$prefix/drive_c" -path '*/Program Files*/Tarnwick*')
  [ -z "$left" ] || { echo "uninstall left: $left"; status=1; }
  [ "$(products)" = 0 ] || { echo "uninstall left the entry in Apps"; status=1; }
  ! wine reg query "$machine_run_key" /v Tarnwick >/dev/null 2>&1 ||
    { echo "uninstall left the Run value"; status=1; }
  ! wine reg query "$event_source" >/dev/null 2>&1 ||
    { echo "uninstall left the event log's source"; status=1; }
  cmp -s "$config" "$scratch/config.before" || { echo "C:\\Tarnwick.cfg was changed"; status=1; }
  # The start switched off and on again on an installed machine.
  runs() { wine reg query "$machine_run_key" /v Tarnwick >/dev/null 2>&1; }
  wine msiexec /i "$program" /qn && wine msiexec /i "$program" /qn REMOVE=StartAtLogOn
  ! runs || { echo "REMOVE=StartAtLogOn left the Run value"; status=1; }
  wine msiexec /i "$program" /qn ADDLOCAL=StartAtLogOn
  runs || { echo "ADDLOCAL=StartAtLogOn did not write the Run value"; status=1; }
  wine msiexec /x "$program" /qn
fi
rm -f "$config"
exit $status
