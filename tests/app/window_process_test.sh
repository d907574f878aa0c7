#!/usr/bin/env bash
# The window binary as a process: the screenshot run, one of a picture that
# cannot be shown, an unreachable display, and a start from a working
# directory that no longer exists.
set -euo pipefail
tarnel=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export TARNEL_INSTANCE_TAG=-process-test-$$

mkdir "$work/left" "$work/right"
touch "$work/left/$(printf 'odd\xffname')"
"$tarnel" --screenshot "$work/shot.png" --size 800x500 "$work/left" "$work/right" 2>/dev/null ||
  fail "screenshot run failed"
[ "$(head -c 8 "$work/shot.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "no PNG written"

# A picture that cannot be shown: the message goes to standard error instead
# of a box nobody answers, and the page is written as it is.
mkdir "$work/pics"
printf 'no picture at all' >"$work/pics/broken.jpg"
printf 'GIF89a broken' >"$work/pics/broken.gif"
for case in 'broken.jpg:Not a JPEG' 'broken.gif:GIF: '; do
  name=${case%%:*} message=${case#*:}
  set +e
  timeout 60 "$tarnel" --screenshot "$work/pic.png" --size 800x500 --view "$work/pics/$name" \
    2>"$work/stderr" >/dev/null
  status=$?
  set -e
  [ "$status" -ne 124 ] || fail "$name: the run did not end (a modal box waits)"
  [ "$status" -eq 0 ] || fail "$name: exit status $status: $(cat "$work/stderr")"
  grep -q "^tarnel: $message" "$work/stderr" || fail "$name: no message on standard error: $(cat "$work/stderr")"
  ! grep -q 'closed the dialog' "$work/stderr" || fail "$name: a box was shown: $(cat "$work/stderr")"
  [ "$(head -c 8 "$work/pic.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$name: no PNG written"
  rm "$work/pic.png"
done

# A deleted working directory still gives a window.
mkdir "$work/gone"
(cd "$work/gone" && rmdir "$work/gone" && "$tarnel" --screenshot "$work/shot2.png" 2>/dev/null) ||
  fail "a vanished working directory stopped the start"
[ -s "$work/shot2.png" ] || fail "no picture from the vanished working directory"

# No display at all: one line naming the other modes, not Qt's abort.
set +e
message=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tarnel" 2>&1)
status=$?
set -e
[ "$status" -ne 0 ] || fail "started without a display"
[ "$(printf '%s\n' "$message" | wc -l)" -eq 1 ] || fail "more than one line: $message"
grep -q -- '--list' <<<"$message" || fail "message does not name --list: $message"
grep -q -- '--screenshot' <<<"$message" || fail "message does not name --screenshot: $message"
exit 0
