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
rows=$(printf '%s\n' "$out" | grep -ac $'^[df]\t' || true)
# "..", Zeta, sub, -dash.txt, bad\xffname.txt, big.txt
[ "$rows" -eq 6 ] || fail "expected 6 directory and file rows, got $rows: $out"
printf '%s\n' "$out" | head -1 | grep -aq $'^d\t\.\.\t' || fail "'..' is not the first row"
printf '%s\n' "$out" | grep -aq $'^f\tbig.txt\t1 KB\t' || fail "size column text of big.txt"
printf '%s\n' "$out" | grep -aq $'^f\tbig.txt\t.*\tSome text$' || fail "description of big.txt"
printf '%s\n' "$out" | grep -aq $'^d\tsub\t.*\tA folder$' || fail "description of sub"
printf '%s\n' "$out" | grep -aq $'^f\tbad\xffname.txt\t' || fail "non-UTF-8 name not printed as is"
printf '%s\n' "$out" | grep -aq $'^f\ta.doc' && fail "a.doc passed the filter"
printf '%s\n' "$out" | grep -aq $'^v\t/' || fail "no volume rows"

bytes=$("$tarnel" --list "$dir" --sort size --descending --bytes)
first_file=$(printf '%s\n' "$bytes" | grep -a $'^f\t' | head -1 | cut -f2,3)
[ "$first_file" = $'big.txt\t1025' ] || fail "descending size sort with --bytes: $first_file"
printf '%s\n' "$bytes" | grep -aq $'^d\tsub\t-1\t' || fail "an unmeasured directory is not -1 with --bytes"

missing=$("$tarnel" --list "$dir/nope")
printf '%s\n' "$missing" | grep -aq $'^[df]\t' && fail "a missing directory listed entries"
printf '%s\n' "$missing" | grep -aq $'^v\t' || fail "a missing directory lost its volume rows"

"$tarnel" --list "$dir" --sort bogus >/dev/null 2>&1 && fail "a bad --sort was accepted"
exit 0
