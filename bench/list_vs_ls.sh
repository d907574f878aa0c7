#!/usr/bin/env bash
# "tarnel --list" of a 100,000-entry folder against "ls -l" of the same folder,
# the two taking turns in the same run. Prints the medians of wall time and of
# CPU time (user + system; a loaded machine disturbs it least) and their ratios.
#
# usage: list_vs_ls.sh TARNEL_BINARY [FOLDER] [ROUNDS]
# Without FOLDER a folder of 100,000 files, 1,000 subfolders and a
# DESCRIPT.ION describing every tenth file is made once under /tmp.
set -euo pipefail
tarnel=${1:?usage: list_vs_ls.sh TARNEL_BINARY [FOLDER] [ROUNDS]}
dir=${2:-/tmp/tarnel-list-bench}
rounds=${3:-7}

if [ ! -e "$dir/.generated" ]; then
    mkdir -p "$dir"
    (
        cd "$dir"
        exts=(.txt .jpg .cpp .doc)
        for ((i = 0; i < 100000; i++)); do
            name="${i}_file_${RANDOM}${exts[i % 4]}"
            : > "$name"
            ((i % 10 == 0)) && printf '%s description of file number %d\r\n' "$name" "$i"
        done > DESCRIPT.ION
        for ((i = 0; i < 1000; i++)); do mkdir "dir$i"; done
        : > .generated
    )
fi

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# One run: "wall cpu" in seconds.
measure() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" > /dev/null; } 2>&1 | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'
}

"$tarnel" --list "$dir" > /dev/null # warm the caches for both
ls -l "$dir" > /dev/null
rows=$("$tarnel" --list "$dir" | grep -c $'^[df]\t' || true)

: > /tmp/list_vs_ls.$$
for ((r = 0; r < rounds; r++)); do
    read -r tw tc < <(measure "$tarnel" --list "$dir")
    read -r lw lc < <(measure ls -l "$dir")
    echo "$tw $tc $lw $lc" >> /tmp/list_vs_ls.$$
done
trap 'rm -f /tmp/list_vs_ls.$$' EXIT

col() { awk -v c="$1" '{ print $c }' /tmp/list_vs_ls.$$ | median; }
ratio() { awk -v a="$1" -v b="$2" '{ print $a / $b }' /tmp/list_vs_ls.$$ | median; }
echo "rows listed:           $rows"
echo "rounds:                $rounds"
echo "tarnel --list (median): $(col 1) s wall, $(col 2) s CPU"
echo "ls -l (median):         $(col 3) s wall, $(col 4) s CPU"
echo "ratio (median of each round's): $(ratio 1 3) wall, $(ratio 2 4) CPU (target <= 0.6)"
