#!/usr/bin/env bash
# The real program starts, and stays a single instance, whatever another local
# user or a stray file has put in its way: a shared memory block under its
# name, its private folder's name taken in the shared temporary folder, a
# named pipe as the settings file.
set -euo pipefail
tarnel=$1
tarnel_open=$(dirname "$tarnel")/tarnel-open
work=$(mktemp -d)
first=""
shm=""
cleanup() { [ -n "$first" ] && kill -9 "$first" 2>/dev/null; [ -n "$shm" ] && rm -f "$shm"; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen
export XDG_CONFIG_HOME=$work/config HOME=$work/home XDG_CACHE_HOME=$work/home/.cache
mkdir -p "$HOME" "$XDG_CONFIG_HOME/tarnel"
export TARNEL_INSTANCE_TAG=-hostile-test-$$
reg=$XDG_CONFIG_HOME/tarnel/user.reg

start() { "$tarnel" >"$work/out" 2>&1 & first=$!; }
# Up: tarnel-open reaches it (wherever its socket had to go).
wait_up() {
  for _ in $(seq 150); do
    kill -0 "$first" 2>/dev/null || { cat "$work/out" >&2; fail "$1: the program ended"; }
    "$tarnel_open" "$work" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "$1: no instance"
}
# SIGTERM ends it within ten seconds.
stop() {
  kill -TERM "$first"
  for _ in $(seq 100); do
    kill -0 "$first" 2>/dev/null || { wait "$first" || fail "$1: exit status after SIGTERM"; first=""; return 0; }
    sleep 0.1
  done
  fail "$1: SIGTERM did not end it"
}
second_start_ends() {
  timeout 20 "$tarnel" >/dev/null 2>&1 || fail "$1: the second start failed"
}

# A named pipe as the settings file: nobody writes to it.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkfifo "$reg"
start
wait_up "settings file a pipe"
stop "settings file a pipe"
[ -p "$reg" ] || fail "the pipe was replaced"
rm -f "$reg"

if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }

  # Another user's shared memory block under our name.
  shm=/dev/shm/OrvBuffer-$(id -u)$TARNEL_INSTANCE_TAG
  nobody sh -c ": > '$shm'"
  start
  wait_up "foreign block"
  second_start_ends "foreign block"
  stop "foreign block"
  [ "$(stat -c %u "$shm")" = 65534 ] || fail "the other user's block was touched"
  [ "$(grep -c 'is not this user' "$work/out")" = 1 ] || fail "the foreign block was not reported once"
  rm -f "$shm"
  shm=""

  # No runtime folder, and the shared temporary folder's name taken.
  chmod 755 "$work"
  unset XDG_RUNTIME_DIR
  export TMPDIR=$work/tmp
  mkdir -m 1777 "$TMPDIR"
  nobody mkdir -m 700 "$TMPDIR/tarnel-$(id -u)"
  start
  wait_up "folder taken"
  second_start_ends "folder taken"
  stop "folder taken"
  ls "$XDG_CACHE_HOME"/tarnel-* >/dev/null || fail "no folder in the home"
fi
exit 0
