#!/usr/bin/env bash
# Runs "tarnel --find" as a separate process on a generated tree.
set -euo pipefail
tarnel=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$dir/src/lib" "$dir/src/build" "$dir/docs"
printf 'int main() { return Answer(); }\n' > "$dir/src/main.c"
printf 'int Answer() {\n  return 42;\n}\n' > "$dir/src/lib/answer.c"
printf 'object\n' > "$dir/src/build/answer.o"
printf 'The ANSWER is 42.\n' > "$dir/docs/ANSWER.txt"
printf 'answer\0binary' > "$dir/docs/blob.bin"
touch "$dir/docs/$(printf 'bad\xffname.c')"

sorted() { "$tarnel" --find "$@" | sort; }

# Names: wildcards without case, several patterns, an excluded folder not entered.
out=$(sorted "$dir" --name '*.C;*.txt;!build')
expected=$(printf '%s\n' "$dir/docs/ANSWER.txt" "$dir/docs/$(printf 'bad\xffname.c')" "$dir/src/lib/answer.c" "$dir/src/main.c" | sort)
[ "$out" = "$expected" ] || fail "names: $out"

# Several folders, content with and without case, a regular expression.
out=$(sorted "$dir/src" "$dir/docs" --content answer)
[ -z "$out" ] || fail "content is matched with case by default: $out"
out=$(sorted "$dir/src" "$dir/docs" --content answer --ignore-case)
expected=$(printf '%s\n' "$dir/docs/ANSWER.txt" "$dir/src/lib/answer.c" "$dir/src/main.c" | sort)
[ "$out" = "$expected" ] || fail "content without case (the binary file skipped): $out"
out=$(sorted "$dir" --name '*.c' --regex 'return [0-9]+;')
[ "$out" = "$dir/src/lib/answer.c" ] || fail "regex: $out"

# Results come as they are found: the first line is out before the find ends.
mkfifo "$dir/pipe"
"$tarnel" --find "$dir" --name 'main.c' > "$dir/pipe" &
finder=$!
read -r -t 20 first < "$dir/pipe" || fail "no line came"
wait $finder || fail "exit status of a streamed find"
[ "$first" = "$dir/src/main.c" ] || fail "streamed line: $first"
rm "$dir/pipe"

# A bad expression: a message and status 2; so is a missing folder argument.
set +e
"$tarnel" --find "$dir" --regex 'a(b' >"$dir/out" 2>"$dir/err"
status=$?
set -e
[ $status -eq 2 ] || fail "bad regex exit status $status"
grep -q "does not compile" "$dir/err" || fail "bad regex message: $(cat "$dir/err")"
[ ! -s "$dir/out" ] || fail "a bad regex printed results"
"$tarnel" --find --name '*' >/dev/null 2>&1 && fail "no folder was accepted"

# A folder that cannot be read is said on stderr; the rest is still found.
out=$("$tarnel" --find "$dir/nope" "$dir/src" --name main.c 2>"$dir/err")
[ "$out" = "$dir/src/main.c" ] || fail "beside a missing folder: $out"
grep -q "Cannot read $dir/nope/" "$dir/err" || fail "missing folder: $(cat "$dir/err")"
exit 0
