#!/usr/bin/env bash
# Settings survive a restart of the real program: SIGTERM saves them, a second
# start writes nothing, a hand-edited value is loaded and written back.
set -euo pipefail
tarnel=$1
work=$(mktemp -d)
first=""
cleanup() { [ -n "$first" ] && kill -9 "$first" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config HOME=$work/home
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$HOME"
export TARNEL_INSTANCE_TAG=-settings-test-$$
reg=$XDG_CONFIG_HOME/tarnel/user.reg

start() { "$tarnel" >/dev/null 2>&1 & first=$!; }
wait_up() { for _ in $(seq 600); do [ -S "$XDG_RUNTIME_DIR/tarnel-instance$TARNEL_INSTANCE_TAG.sock" ] && return 0; sleep 0.1; done; fail "no instance"; }
stop() { kill -TERM "$first"; wait "$first" || fail "exit status after SIGTERM"; first=""; }

# A second start ends at once, however slow the first is to answer: here
# the first does not run at all until the second has ended.
start
wait_up
kill -STOP "$first"
timeout 60 "$tarnel" >/dev/null 2>&1 || { kill -CONT "$first"; fail "second start did not end beside a busy first"; }
kill -CONT "$first"
timeout 60 "$tarnel" >/dev/null 2>&1 || fail "second start failed"
[ ! -e "$reg" ] || fail "the second start wrote settings"
stop
[ -f "$reg" ] || fail "SIGTERM did not save the settings"
for key in cfg supported bookmarks 'HotKeys\key3' 'CoolBar1\TBDrives' TextView LeftHeader RightHeader MainForm; do
  grep -qF "orv\\$key]" "$reg" || fail "key $key missing after the first run"
done

# A stored width is loaded whatever the order, and written back.
sed -i 's/"width2"=dword:[0-9a-f]*/"width2"=dword:00000078/' "$reg"
start
wait_up
stop
grep -q '"width2"=dword:00000078' "$reg" || fail "width2 did not survive a restart"

# The function-key bar and the commander keys are read back and written again.
grep -q '"FunctionKeyBar"=dword:00000001' "$reg" || fail "the function-key bar option was not saved"
grep -q '"CommanderKeys"=dword:00000000' "$reg" || fail "the commander keys choice was not saved"
sed -i -e 's/"FunctionKeyBar"=dword:[0-9a-f]*/"FunctionKeyBar"=dword:00000000/' \
       -e 's/"CommanderKeys"=dword:[0-9a-f]*/"CommanderKeys"=dword:00000001/' "$reg"
start
wait_up
stop
grep -q '"FunctionKeyBar"=dword:00000000' "$reg" || fail "the hidden function-key bar did not survive a restart"
grep -q '"CommanderKeys"=dword:00000001' "$reg" || fail "the commander keys did not survive a restart"

# The options beyond the function-key bar: each turned off by hand survives.
for key in ConfirmCopyTarget DescriptionsFollow KeepPlaces; do
  grep -q "\"$key\"=dword:00000001" "$reg" || fail "$key was not saved on"
  sed -i "s/\"$key\"=dword:[0-9a-f]*/\"$key\"=dword:00000000/" "$reg"
done
start
wait_up
stop
for key in ConfirmCopyTarget DescriptionsFollow KeepPlaces; do
  grep -q "\"$key\"=dword:00000000" "$reg" || fail "$key turned off did not survive a restart"
done

# The per-disk queue of copies is off until turned on, and kept once it is.
grep -q '"QueuePerVolume"=dword:00000000' "$reg" || fail "the copy queue option was not saved"
sed -i 's/"QueuePerVolume"=dword:[0-9a-f]*/"QueuePerVolume"=dword:00000001/' "$reg"
start
wait_up
stop
grep -q '"QueuePerVolume"=dword:00000001' "$reg" || fail "the copy queue option did not survive a restart"

# A file that cannot be read is never overwritten.
printf 'garbage\n' > "$reg"
start
wait_up
stop
[ "$(cat "$reg")" = garbage ] || fail "an unreadable settings file was overwritten"
exit 0
