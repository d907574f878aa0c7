#!/usr/bin/env bash
# Runs "tarnel --list" as a separate process on a generated directory.
set -euo pipefail
tarnel=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir "$dir/sub" "$dir/Zeta"
printf 'x%.0s' $(seq 1 1025) > "$dir/big.txt"
: > "$dir/a.doc"
printf '\xff\xfename' > /dev/null
touch "$dir/$(printf 'bad\xffname.txt')" "$dir/-dash.txt"
printf 'big.txt Some text\r\n"sub" A folder\r\n' > "$dir/DESCRIPT.ION"

out=$("$tarnel" --list "$dir" --filter '*.txt')
rows=$(grep -ac $'^[df]\t' <<<"$out" || true)
# "..", Zeta, sub, -dash.txt, bad\xffname.txt, big.txt
[ "$rows" -eq 6 ] || fail "expected 6 directory and file rows, got $rows: $out"
head -1 <<<"$out" | grep -aq $'^d\t\.\.\t' || fail "'..' is not the first row"
grep -aq $'^f\tbig.txt\t1 KB\t' <<<"$out" || fail "size column text of big.txt"
grep -aq $'^f\tbig.txt\t.*\tSome text$' <<<"$out" || fail "description of big.txt"
grep -aq $'^d\tsub\t.*\tA folder$' <<<"$out" || fail "description of sub"
grep -aq $'^f\tbad\xffname.txt\t' <<<"$out" || fail "non-UTF-8 name not printed as is"
grep -aq $'^f\ta.doc' <<<"$out" && fail "a.doc passed the filter"
grep -aq $'^v\t/' <<<"$out" || fail "no volume rows"

bytes=$("$tarnel" --list "$dir" --sort size --descending --bytes)
first_file=$(grep -a -m1 $'^f\t' <<<"$bytes" | cut -f2,3)
[ "$first_file" = $'big.txt\t1025' ] || fail "descending size sort with --bytes: $first_file"
grep -aq $'^d\tsub\t-1\t' <<<"$bytes" || fail "an unmeasured directory is not -1 with --bytes"

# --sizes waits for the directory totals: 1000 + 24 bytes in two files below sub
# ("1,024" with the locale's group separator).
head -c 1000 /dev/zero > "$dir/sub/a.bin"
mkdir "$dir/sub/deeper"
head -c 24 /dev/zero > "$dir/sub/deeper/b.bin"
sizes=$("$tarnel" --list "$dir" --sizes)
grep -aq $'^d\tsub\t1[^0-9]\\{1,3\\}024\t' <<<"$sizes" || fail "--sizes total of sub: $sizes"
grep -aq $'^d\tZeta\t0\t' <<<"$sizes" || fail "--sizes total of an empty directory: $sizes"
sized_bytes=$("$tarnel" --list "$dir" --sizes --bytes)
grep -aq $'^d\tsub\t1024\t' <<<"$sized_bytes" || fail "--sizes --bytes total of sub: $sized_bytes"
grep -aq $'^d\t\.\.\t-1\t' <<<"$sized_bytes" || fail "'..' was measured: $sized_bytes"
unsized=$("$tarnel" --list "$dir" --bytes)
grep -aq $'^d\tsub\t-1\t' <<<"$unsized" || fail "a total appeared without --sizes: $unsized"

# A folder that cannot be listed lists as a pane shows it (the volume rows)
# and says why on stderr; a fifo named like an archive is never opened, so
# the command cannot hang on it.
missing=$("$tarnel" --list "$dir/nope" 2>"$dir/err")
grep -aq $'^[df]\t' <<<"$missing" && fail "a missing directory listed entries"
grep -aq $'^v\t' <<<"$missing" || fail "a missing directory lost its volume rows"
grep -q "cannot list $dir/nope/: No such file or directory" "$dir/err" || fail "missing folder: $(cat "$dir/err")"
mkfifo "$dir/pipe.zip"
timeout 20 "$tarnel" --list "$dir/pipe.zip" >/dev/null 2>"$dir/err" || fail "a fifo named .zip"
grep -q "Not a directory" "$dir/err" || fail "fifo: $(cat "$dir/err")"
rm "$dir/pipe.zip"

# An archive lists as a pane shows it, and so does a folder inside it.
mkdir -p "$dir/z/docs/old"
printf 'abc' > "$dir/z/docs/old/c.txt"
printf 'hello' > "$dir/z/top.txt"
(cd "$dir/z" && zip -qr ../Arch.ZIP docs top.txt)
arch=$("$tarnel" --list "$dir/Arch.ZIP" --bytes)
[ "$(grep -ac $'^[df]\t' <<<"$arch")" -eq 3 ] || fail "archive root rows: $arch"
grep -aq $'^d\tdocs\t3\t' <<<"$arch" || fail "folder size inside the archive: $arch"
grep -aq $'^f\ttop.txt\t5\t' <<<"$arch" || fail "file inside the archive: $arch"
inner=$("$tarnel" --list "$dir/Arch.ZIP/docs/old" --bytes)
grep -aq $'^f\tc.txt\t3\t' <<<"$inner" || fail "folder inside the archive: $inner"
doubled=$("$tarnel" --list "$dir/Arch.ZIP//docs//old//" --bytes)
grep -aq $'^f\tc.txt\t3\t' <<<"$doubled" || fail "doubled slashes inside the archive: $doubled"
head -c 100 /dev/urandom > "$dir/junk.zip"
junk=$("$tarnel" --list "$dir/junk.zip" 2>&1)
[ "$(grep -ac $'^[df]\t' <<<"$junk")" -eq 1 ] || fail "garbage named .zip: $junk"

# Every other kind of archive lists the same way, by name or by content.
for kind in tar tar.gz tar.bz2 tar.xz tar.zst tar.lz4 tar.lzma 7z cpio ar xar iso; do
  case $kind in
    tar) flags=() ;; tar.gz) flags=(-z) ;; tar.bz2) flags=(-j) ;; tar.xz) flags=(-J) ;;
    tar.zst) flags=(--zstd) ;; tar.lz4) flags=(--lz4) ;; tar.lzma) flags=(--lzma) ;;
    7z) flags=(--format 7zip) ;; cpio) flags=(--format cpio) ;; ar) flags=(--format ar) ;;
    xar) flags=(--format xar) ;; iso) flags=(--format iso9660) ;;
  esac
  if [ "$kind" = ar ]; then
    # ar holds no folders
    (cd "$dir/z" && bsdtar -cf "../a.$kind" "${flags[@]}" top.txt)
    out=$("$tarnel" --list "$dir/a.$kind" --bytes) || fail "$kind: exit status"
    grep -aq $'^f\ttop.txt\t5\t' <<<"$out" || fail "$kind: $out"
    continue
  fi
  (cd "$dir/z" && bsdtar -cf "../a.$kind" "${flags[@]}" docs top.txt)
  out=$("$tarnel" --list "$dir/a.$kind" --bytes) || fail "$kind: exit status"
  grep -aq $'^d\tdocs\t3\t' <<<"$out" || fail "$kind: folder size: $out"
  grep -aq $'^f\ttop.txt\t5\t' <<<"$out" || fail "$kind: file: $out"
  deep=$("$tarnel" --list "$dir/a.$kind/docs/old/" --bytes)
  grep -aq $'^f\tc.txt\t3\t' <<<"$deep" || fail "$kind: folder inside: $deep"
done
cp "$dir/a.tar.xz" "$dir/no-suffix"
out=$("$tarnel" --list "$dir/no-suffix/docs/old" --bytes)
grep -aq $'^f\tc.txt\t3\t' <<<"$out" || fail "an archive known by its content: $out"
head -c 100 /dev/urandom > "$dir/junk.tar"
junk=$("$tarnel" --list "$dir/junk.tar" 2>"$dir/err")
[ "$(grep -ac $'^[df]\t' <<<"$junk")" -eq 1 ] || fail "garbage named .tar: $junk"
[ -s "$dir/err" ] || fail "garbage named .tar said nothing"

"$tarnel" --list "$dir" --sort bogus >/dev/null 2>&1 && fail "a bad --sort was accepted"
exit 0
