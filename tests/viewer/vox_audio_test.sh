#!/usr/bin/env bash
# The VOX player against a real sound server: a private PulseAudio with a
# null sink, in its own runtime directory. The audio test must run, not skip.
set -euo pipefail
ui_tests=$1
command -v pulseaudio >/dev/null || { echo "FAIL: no pulseaudio (scripts/bootstrap installs it)" >&2; exit 1; }
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime HOME=$runtime PULSE_RUNTIME_PATH=$runtime/pulse
pulseaudio --daemonize=no --exit-idle-time=-1 -n --disallow-exit \
  --load="module-null-sink sink_name=nullsink" --load=module-native-protocol-unix >"$runtime/pa.log" 2>&1 &
pa=$!
trap 'kill $pa 2>/dev/null; wait $pa 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 50); do [ -S "$PULSE_RUNTIME_PATH/native" ] && break; sleep 0.1; done
[ -S "$PULSE_RUNTIME_PATH/native" ] || { cat "$runtime/pa.log"; echo "FAIL: pulseaudio did not start" >&2; exit 1; }
out=$(QT_QPA_PLATFORM=offscreen "$ui_tests" --gtest_filter='VoxAudio.*:VoxPage.*' 2>&1) || { printf '%s\n' "$out"; exit 1; }
printf '%s\n' "$out"
! grep -q '\[  SKIPPED \]' <<<"$out" || { echo "FAIL: the audio test was skipped" >&2; exit 1; }
