#!/usr/bin/env bash
# "cmake --install" gives a desktop program: both binaries, a desktop entry
# that validates and opens folders through tarnel-open, AppStream data that
# validates, and the icon in the hicolor theme.
set -euo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$dest/usr" >/dev/null
for f in bin/tarnel bin/tarnel-open lib/tarnel/libzipdll.so lib/tarnel/libunzdll.so lib/tarnel/libunrar.so share/applications/tarnel.desktop \
         share/metainfo/io.github.tarnel.tarnel.metainfo.xml \
         share/icons/hicolor/scalable/apps/tarnel.svg share/icons/hicolor/48x48/apps/tarnel.png; do
  [ -e "$dest/usr/$f" ] || fail "$f not installed"
done
[ -x "$dest/usr/bin/tarnel-open" ] || fail "tarnel-open is not executable"
desktop=$dest/usr/share/applications/tarnel.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate refused tarnel.desktop"
grep -qx 'Exec=tarnel-open --start %F' "$desktop" || fail "Exec does not go through tarnel-open with %F"
grep -qx 'MimeType=inode/directory;' "$desktop" || fail "folders are not offered"
appstreamcli validate --no-net "$dest/usr/share/metainfo/io.github.tarnel.tarnel.metainfo.xml" >/dev/null ||
  fail "appstreamcli refused the metainfo file"
[ "$(head -c 8 "$dest/usr/share/icons/hicolor/48x48/apps/tarnel.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
  fail "the 48 px icon is not a PNG"
# The started program answers its usage line: the installed binary runs.
"$dest/usr/bin/tarnel-open" --help | grep -q 'tarnel-open --start' || fail "installed tarnel-open does not run"
