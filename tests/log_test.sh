#!/bin/sh
# Runs the built program on configurations that fail in each way and checks what reaches the
# platform's log, and that a clean run leaves nothing there and a quiet one prints nothing:
#   log_test.sh wine PROGRAM ARGREC SCRATCH WINE_RUN PREFIX LOADER
#     under Wine, whose trace of the event log shows the type and ID of each ReportEventW call,
#     whether it named a user (the SID's address only), and every string handed to it (as an
#     error or a warning, as the record is);
#   log_test.sh syslog PROGRAM ARGREC SCRATCH SINK
#     natively, in a private mount namespace whose /dev/log is the datagram socket of SINK (a
#     receiver of the test's own), so that the machine's own log is never touched.
# Exits 77 (skipped) where a private mount namespace cannot be made.
set -eu
mode=$1 program=$2 argrec=$3 scratch=$4
shift 4

case $mode in
syslog)
  # Outside the namespace: the receiver, and a file for the bind mount to cover where /dev/log
  # does not exist (removed afterwards).
  sink=$1
  if ! unshare -m true 2>/dev/null; then
    echo "no private mount namespace (unshare -m needs root): the syslog test is skipped"
    exit 77
  fi
  rm -rf "$scratch"
  mkdir -p "$scratch/out"
  "$sink" "$scratch/log.socket" "$scratch/log" &
  sink_pid=$!
  made=
  if [ ! -e /dev/log ] && [ ! -L /dev/log ]; then
    : >/dev/log
    made=yes
  fi
  trap 'kill $sink_pid; [ -z "$made" ] || rm -f /dev/log' EXIT
  while [ ! -S "$scratch/log.socket" ]; do sleep 0.01; done
  unshare -m "$0" syslog-inside "$program" "$argrec" "$scratch"
  exit
  ;;
syslog-inside)
  mount --bind "$scratch/log.socket" /dev/log
  config="$scratch/C:\\Tarnwick.cfg"
  native() { printf '%s' "$1"; }
  run() { (cd "$scratch" && "$program" >"$scratch/stdout" || true); }
  # One line a record: its priority (11 error, 12 warning, both of the user facility) and text.
  records() { sed -e 's/^<\([0-9]*\)>.* tarnwick\[[0-9]*\]: /<\1> /' "$scratch/log" 2>/dev/null || true; }
  missing='<11> The configuration file C:\\Tarnwick.cfg could not be read: No such file or directory.'
  planted='<11> The configuration file C:\\Tarnwick.cfg could not be read: Writable by other users.'
  rejected() { printf '<12> Ignored a line of the configuration file that opens a quote and never closes it: %s\n' "$1"; }
  failed() { printf '<11> Could not start %s with the parameters "%s": the shell answered %s (%s).\n' "$@"; }
  omitted() { printf '<12> %s more failures of this run were not recorded.\n' "$1"; }
  ;;
wine)
  wine_run=$1 prefix=$2 loader=$3
  rm -rf "$scratch"
  mkdir -p "$scratch/out"
  config="$prefix/drive_c/Tarnwick.cfg"
  native() { printf 'Z:%s' "$1" | tr / '\\'; }
  locale=  # the locale Wine takes the ANSI code page from, where not the test's own
  run() {
    env ${locale:+LC_ALL=$locale} WINEDEBUG=-all,err+eventlog,warn+eventlog,fixme+advapi \
      "$wine_run" "$prefix" "$loader" "$program" >"$scratch/stdout" 2>"$scratch/trace" || true
  }
  # One line a record: its type (1 error, 2 warning), its event ID and its strings.
  records() {
    awk '/:fixme:advapi:ReportEventW \(/ {
           if (record != "") print record
           split($0, field, ","); record = (field[2] + 0) " " (field[4] + 0) ":"
           if (field[5] ~ /^0+$/) record = record " (no user)"; next }
         /:(err|warn):eventlog:ReportEventW L"/ {
           text = $0; sub(/^[^"]*"/, "", text); if (!sub(/"$/, "", text)) sub(/"\.\.\.$/, "...", text)
           gsub(/\\"/, "\"", text); gsub(/\\\\/, "\\", text)
           record = record (record ~ /:$/ ? " " : "|") text }
         END { if (record != "") print record }' "$scratch/trace"
  }
  missing='1 1: C:\\Tarnwick.cfg|No such file or directory'
  # Wine's trace shows no more of a string than fits in about 290 characters, and then "...".
  planted='1 1: C:\\Tarnwick.cfg|Accounts other than Administrators, SYSTEM, TrustedInstaller and the user running Tarnwick may change it; the fix, from a console run as administrator: ren C:\\Tarnwick.cfg Tarnwick.old && copy C:\\Tarnwick.old C:\\Tarnwick.cfg && del C:\\Tarnwick.old && icacls C:\\Tarnwick.cfg ...'
  rejected() { printf '2 3: %s\n' "$1"; }
  failed() { printf '1 2: %s|%s|%s|%s\n' "$@"; }
  omitted() { printf '2 4: %s\n' "$1"; }
  ;;
esac

# What a record shows of a text: each backslash doubled.
shown() { printf '%s' "$1" | sed 's/\\/\\\\/g'; }

status=0
check() {
  name=$1 expected=$2
  run
  # Datagrams reach the receiver after the run: give them a moment.
  tries=0
  while actual=$(records) && [ "$actual" != "$expected" ] && [ $tries -lt 50 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
  rm -f "$scratch/log"
  if [ "$actual" != "$expected" ]; then
    printf '%s: the log holds\n%s\ninstead of\n%s\n' "$name" "$actual" "$expected"
    status=1
  fi
  if [ -s "$scratch/stdout" ]; then
    echo "$name: a quiet run printed something"
    status=1
  fi
}

rec=$(native "$argrec") out=$(native "$scratch/out/") missing_program=$(native "$scratch/missing-program")
printf '%s %s1 one\r\n' "$rec" "$out" >"$config"
check "a clean run" ""
rm -f "$config"
check "no configuration file" "$missing"
printf '%s %s2\r\n"unclosed\033[2K\r\n%s x\r\n' "$rec" "$out" "$missing_program" >"$config"
check "a failing entry and a rejected line" \
  "$(rejected '"unclosed\x1b[2K')
$(failed "$(shown "$missing_program")" x 2 'file not found')"
awk 'BEGIN { for (i = 0; i < 60; i++) printf "\"broken %d\r\n", i }' >"$config"
expected=$(awk 'BEGIN { for (i = 0; i < 50; i++) printf "\"broken %d\n", i }' | while read -r line; do
  rejected "$line"
done)
check "60 rejected lines" "$expected
$(omitted 10)"
# A list anyone may change starts nothing (under Wine, a host file's o+w reads as Everyone: write).
printf '%s %s3\r\n' "$rec" "$out" >"$config"
chmod o+w "$config"
check "a file anyone may change" "$planted"
[ ! -e "$scratch/out/3" ] || { echo "a file anyone may change: its entry was started"; status=1; }
chmod o-w "$config"
if [ "$mode" = syslog-inside ]; then
  rm -f "$config" && mkfifo "$config"
  check "a FIFO" "${planted%%: Writable*}: Not a regular file."
  # The owner's primary group is its own only when named as the owner (a directory may give one
  # group to all its users unlisted), with no other member, and no one else's primary group.
  rm -f "$config" && printf '%s %s4\n' "$rec" "$out" >"$config"
  chmod 664 "$config"
  me=$(id -un) gid=$(id -g)
  shared="${planted%%: Writable*}: Writable by a group that is not its owner's own."
  own_group() { # NAME EXPECTED GROUP [ANOTHER USER]
    printf '%s:x:%s:%s::/:/bin/sh\n%s' "$me" "$(id -u)" "$gid" "${4:+$4
}" >"$scratch/passwd" && printf '%s\n' "$3" >"$scratch/group"
    mount --bind "$scratch/passwd" /etc/passwd && mount --bind "$scratch/group" /etc/group
    check "$1" "$2"
    umount /etc/passwd /etc/group
  }
  own_group "the owner's own group" "" "$me:x:$gid:"
  own_group "a primary group of another name" "$shared" "domain-users:x:$gid:"
  own_group "an own group with another member" "$shared" "$me:x:$gid:$me,other"
  own_group "another user's primary group too" "$shared" "$me:x:$gid:" "other:x:4242:$gid::/:/bin/sh"
fi
if [ "$mode" = wine ]; then
  # ANSI is read in the ANSI code page before it is escaped: in 932 a character ending in a
  # backslash's byte stays one (U+8868, \8868 in Wine's trace); 1255's direction marks are escaped.
  printf '"\225\\x\r\n' >"$config"
  locale=ja_JP.UTF-8
  check "code page 932" "$(rejected '"\8868x')"
  printf '"\375\376\r\n' >"$config"
  locale=he_IL.UTF-8
  check "code page 1255" "$(rejected '"\u200e\u200f')"
  locale=
  # No DLL is loaded by name before the search is restricted: in Wine's trace of the program's own
  # thread, the first call that restricts it comes before the stack protector's crypto DLLs.
  first=$(WINEDEBUG=+loaddll,+relay "$wine_run" "$prefix" "$loader" "$program" 2>&1 >/dev/null |
    awk -v exe="$(basename "$program")\" at" 'index($0, exe) && /Loaded/ { tid = substr($0, 1, 5) }
      tid != "" && index($0, tid) == 1 && /SetDefaultDllDirectories\(|Loaded L.*(bcrypt|rsaenh)/ { print; exit }')
  case $first in *Call*SetDefaultDllDirectories*) ;; *) echo "loaded before the DLL search was restricted: $first"; status=1 ;; esac
fi
rm -f "$config"
exit $status
