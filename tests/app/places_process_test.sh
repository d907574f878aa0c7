#!/usr/bin/env bash
# The panes' places across restarts of the real program: folders given on the
# command line (relative ones against the working directory), the places and
# sort orders kept when none is given, a folder handed to a running instance
# by a second start, and the start place when a kept folder is gone.
set -euo pipefail
tarnel=$(realpath "$1")
work=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config HOME=$work/home
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$HOME" "$XDG_CONFIG_HOME/tarnel" "$work/one" "$work/two words" "$work/three"
export TARNEL_INSTANCE_TAG=-places-test-$$
reg=$XDG_CONFIG_HOME/tarnel/user.reg
root='[HKEY_CURRENT_USER\Software\Vormane\orv'

start() { "$tarnel" "$@" >/dev/null 2>&1 & pid=$!; }
wait_up() { for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/tarnel-instance$TARNEL_INSTANCE_TAG.sock" ] && return 0; sleep 0.1; done; fail "no instance"; }
stop() { sleep 0.5; kill -TERM "$pid"; wait "$pid" || fail "exit status after SIGTERM"; pid=""; }
restart() { start "$@"; wait_up; stop; }
value() { # key value: the text after = of the first such value below [key]
  awk -v key="$root\\$1]" -v name="\"$2\"" '
    $0 == key { inside = 1; next } /^\[/ { inside = 0 }
    inside && index($0, name "=") == 1 { print substr($0, length(name) + 2); exit }' "$reg"
}

# Both folders given, the second relative to the working directory.
(cd "$work" && restart "$work/one" "two words")
[ "$(value LeftPane Path)" = "\"$work/one/\"" ] || fail "left pane not on the given folder: $(value LeftPane Path)"
[ "$(value RightPane Path)" = "\"$work/two words/\"" ] || fail "right pane not on the given folder: $(value RightPane Path)"

# None given: both panes start where they were, their sort orders kept.
sed -i "/^\"SortKey\"=/d; /^\"Ascending\"=/d" "$reg"
awk -v key="$root\\RightPane]" '{ print } $0 == key { print "\"SortKey\"=dword:00000003"; print "\"Ascending\"=dword:00000000" }' \
  "$reg" > "$reg.new" && mv "$reg.new" "$reg"
restart
[ "$(value LeftPane Path)" = "\"$work/one/\"" ] || fail "left place lost across a restart: $(value LeftPane Path)"
[ "$(value RightPane Path)" = "\"$work/two words/\"" ] || fail "right place lost across a restart: $(value RightPane Path)"
[ "$(value RightPane SortKey)" = dword:00000003 ] || fail "right sort key lost: $(value RightPane SortKey)"
[ "$(value RightPane Ascending)" = dword:00000000 ] || fail "right direction lost: $(value RightPane Ascending)"

# A second start with a folder hands it to the running instance, whose active
# (left) pane goes there; the second start ends at once.
start
wait_up
"$tarnel" "$work/three" >/dev/null 2>&1 || fail "the second start failed"
stop
[ "$(value LeftPane Path)" = "\"$work/three/\"" ] || fail "the handed folder was not gone to: $(value LeftPane Path)"

# A kept folder that is gone: that pane starts at the volume root of the
# working directory; the other keeps its place.
rm -rf "$work/three"
(cd "$work" && restart)
[ "$(value LeftPane Path)" = '"/"' ] || fail "a gone folder did not fall back to the start place: $(value LeftPane Path)"
[ "$(value RightPane Path)" = "\"$work/two words/\"" ] || fail "right place lost: $(value RightPane Path)"
exit 0
