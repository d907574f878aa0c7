#!/usr/bin/env bash
# The VOX player against a real sound server: a private PulseAudio with a
# null sink. The audio test must run, not skip.
set -euo pipefail
ui_tests=$1
out=$(QT_QPA_PLATFORM=offscreen "$(dirname "$0")/../../scripts/with-null-sink" "$ui_tests" \
  --gtest_filter='VoxAudio.*:VoxPage.*' 2>&1) || { printf '%s\n' "$out"; exit 1; }
printf '%s\n' "$out"
! grep -q '\[  SKIPPED \]' <<<"$out" || { echo "FAIL: the audio test was skipped" >&2; exit 1; }
