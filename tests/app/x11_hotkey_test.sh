#!/usr/bin/env bash
# The system-wide hot keys, the tray and mouse drag and drop need an X server: the X11 tests of ui_tests run
# on the xcb platform, in a private Xvfb when no display is set. They must
# run, never skip: a skip is a failure here.
set -euo pipefail
ui_tests=$1
filter='SysHotKeyTest.SystemWideGrabOnX11:SysHotKeyTest.KeyGrabbedByAnotherClientFallsBackToTheProgram:TrayMinimise.*:TransferTest.MouseDragOnX11*'
# The xcb platform brings in D-Bus, whose library keeps a buffer to the end.
supp=$(dirname "$0")/x11_lsan.supp
run=(env QT_QPA_PLATFORM=xcb LSAN_OPTIONS="suppressions=$supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
     "$ui_tests" --gtest_filter="$filter")
if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "FAIL: no DISPLAY and no xvfb-run (scripts/bootstrap installs xvfb)" >&2; exit 1; }
  run=(xvfb-run -a "${run[@]}")
fi
out=$("${run[@]}" 2>&1) || { printf '%s\n' "$out"; exit 1; }
printf '%s\n' "$out"
# Here-strings, not pipes: under pipefail an early grep exit would fail printf.
! grep -q '\[  SKIPPED \]' <<<"$out" || { echo "FAIL: an X11 test was skipped" >&2; exit 1; }
grep -q '\[  PASSED  \] 4 tests' <<<"$out" || { echo "FAIL: the four X11 tests did not all pass" >&2; exit 1; }
