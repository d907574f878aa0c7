#!/usr/bin/env bash
# What a user set comes back after a restart of the real program: the window
# placement, the tool bar bands and bookmarks byte for byte; and a directory
# that can be read but not searched lists its names.
set -euo pipefail
tarnel=$1
work=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config HOME=$work/home
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$HOME" "$XDG_CONFIG_HOME/tarnel"
export TARNEL_INSTANCE_TAG=-restart-test-$$
reg=$XDG_CONFIG_HOME/tarnel/user.reg
root='[HKEY_CURRENT_USER\Software\Vormane\orv'

start() { "$tarnel" "$@" >/dev/null 2>&1 & pid=$!; }
wait_up() { for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/tarnel-instance$TARNEL_INSTANCE_TAG.sock" ] && return 0; sleep 0.1; done; fail "no instance"; }
stop() { sleep 0.3; kill -TERM "$pid"; wait "$pid" || fail "exit status after SIGTERM"; pid=""; }
restart() { start "$@"; wait_up; stop; }
value() { # key value: the text after = of the first such value below [key]
  awk -v key="$root\\$1]" -v name="\"$2\"" '
    $0 == key { inside = 1; next } /^\[/ { inside = 0 }
    inside && index($0, name "=") == 1 { print substr($0, length(name) + 2); exit }' "$reg"
}
placement() {
  { printf 'Windows Registry Editor Version 5.00\n\n%s\\MainForm]\n' "$root"
    printf '"Left"="40"\n"Top"="30"\n"Width"="900"\n"Height"="560"\n"State"="%s"\n"RestoreToMax"="0"\n' "$1"; } > "$reg"
}

# The placement the user saw comes back, never the hidden state of the end.
for state in 1 3; do
  placement $state
  restart
  [ "$(value MainForm State)" = "\"$state\"" ] || fail "State $state came back as $(value MainForm State)"
  [ "$(value MainForm Width)" = '"900"' ] || fail "Width came back as $(value MainForm Width)"
  restart
  [ "$(value MainForm State)" = "\"$state\"" ] || fail "State $state lost on the second restart"
done

# Tool bar bands in a stored order and width are applied, so they are saved as they were.
{ printf 'Windows Registry Editor Version 5.00\n\n'
  printf '%s\\CoolBar1\\TBDrives]\n"position"=dword:00000000\n"break"=dword:00000000\n"width"=dword:00000190\n\n' "$root"
  printf '%s\\CoolBar1\\TBNavigation]\n"position"=dword:00000001\n"break"=dword:00000001\n"width"=dword:00000118\n\n' "$root"
  printf '%s\\CoolBar1\\TBGeneral]\n"position"=dword:00000002\n"break"=dword:00000000\n"width"=dword:00000065\n' "$root"; } > "$reg"
restart
[ "$(value 'CoolBar1\TBDrives' position)" = dword:00000000 ] || fail "TBDrives is not first: $(value 'CoolBar1\TBDrives' position)"
[ "$(value 'CoolBar1\TBNavigation' break)" = dword:00000001 ] || fail "the break before TBNavigation was lost"
[ "$(value 'CoolBar1\TBGeneral' position)" = dword:00000002 ] || fail "TBGeneral is not last"
width=$((16#$(value 'CoolBar1\TBDrives' width | cut -d: -f2)))
[ "$width" -ge 400 ] || fail "TBDrives narrower than stored: $width"

# Bookmarks: duplicates, paths that differ in case only, a backslash and bytes
# that are not UTF-8 all survive two restarts unchanged and in order.
{ printf 'Windows Registry Editor Version 5.00\n\n'
  n=0
  for path in '/data/' '/Data/' '/data/' '/a\\b/' '/caf\xe9/'; do
    n=$((n + 1))
    printf '%s\\bookmarks\\bookmark%d]\n"path"="%s"\n\n' "$root" $n "$path"
  done; } > "$reg"
restart
restart
got=$(grep -a '^"path"=' "$reg" | tr '\n' ' ')
[ "$got" = '"path"="/data/" "path"="/Data/" "path"="/data/" "path"="/a\\b/" "path"="/caf\xe9/" ' ] ||
  fail "bookmarks changed across a restart: $got"

# The desktop entry's command starts Tarnel when none runs and hands it the folder.
"$(dirname "$tarnel")/tarnel-open" --start "$HOME" >/dev/null 2>&1 || fail "tarnel-open --start failed"
wait_up
pid=$(od -An -tu4 -N4 "/dev/shm/OrvBuffer-$(id -u)$TARNEL_INSTANCE_TAG" | tr -d ' ')
[ -n "$pid" ] && [ "$pid" -gt 0 ] || fail "no running instance recorded"
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the started Tarnel did not end on SIGTERM"
pid=""

# Someone else's block under our name does not stop the run: it is said on
# standard error and left alone; SIGTERM still ends the run normally.
if [ "$(id -u)" -eq 0 ]; then
  shm=/dev/shm/OrvBuffer-0$TARNEL_INSTANCE_TAG
  : > "$shm"
  chown 65534 "$shm"
  "$tarnel" 2>"$work/err" & pid=$!
  wait_up
  kill -TERM "$pid"
  set +e; wait "$pid"; status=$?; set -e
  pid=""
  [ "$(stat -c %u "$shm")" = 65534 ] || fail "the other user's block was touched"
  rm -f "$shm"
  grep -q "is not this user's own" "$work/err" || fail "the other user's block was not reported: $(cat "$work/err")"
  [ "$status" -eq 0 ] || fail "status after SIGTERM beside another user's block: $status"
fi

# A directory that can be read but not searched still names its entries.
mkdir -p "$work/list/closed/inner"
touch "$work/list/closed/file.txt"
chmod 444 "$work/list/closed"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chmod 755 "$work" "$work/list"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
out=$("${as_user[@]}" "$tarnel" --list "$work/list/closed/" 2>&1) || fail "--list failed: $out"
grep -aq $'^f\tfile.txt\t' <<<"$out" || fail "no file row in an unsearchable directory: $out"
grep -aq $'^d\tinner\t' <<<"$out" || fail "no directory row in an unsearchable directory: $out"
exit 0
