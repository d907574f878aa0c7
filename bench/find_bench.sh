#!/usr/bin/env bash
# Times the find against fd-find and ripgrep on the same tree, warm cache:
# a name search, a fixed string, a regular expression, and the time to the
# first result when one lies in the first folder.
#
#   bench/find_bench.sh FIND_BENCH [TREE [FILES FOLDERS BYTES]]
#
# FIND_BENCH is the find_bench binary of a Release build (-DTARNEL_BENCH=ON);
# TREE is made by bench/find_tree.py when it does not exist yet.
set -euo pipefail
finder=$1
tree=${2:-/tmp/tarnel-findbench}
here=$(cd "$(dirname "$0")" && pwd)
runs=${RUNS:-5}
command -v fdfind >/dev/null || { echo "fdfind (fd-find) is needed" >&2; exit 1; }
command -v rg >/dev/null || { echo "rg (ripgrep) is needed" >&2; exit 1; }
[ -d "$tree" ] || python3 "$here/find_tree.py" "$tree" "${3:-200000}" "${4:-20000}" "${5:-2147483648}"

echo "tree: $(find "$tree" -type f | wc -l) files, $(find "$tree" -type d | wc -l) folders, $(du -sh "$tree" | cut -f1)"
echo "threads: $(nproc)"

# The best of $runs wall-clock times of a command, in seconds; its output is counted once.
best() {
    local best_ns=""
    for _ in $(seq "$runs"); do
        local t0=$(date +%s%N)
        "$@" >/dev/null
        local t1=$(date +%s%N)
        local ns=$((t1 - t0))
        if [ -z "$best_ns" ] || [ "$ns" -lt "$best_ns" ]; then best_ns=$ns; fi
    done
    awk -v ns="$best_ns" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

compare() { # label ours peer limit
    awk -v a="$2" -v b="$3" -v lim="$4" -v label="$1" \
        'BEGIN { r = a / b; printf "%-16s tarnel %6.3f s   peer %6.3f s   ratio %.2f (target <= %.1f) %s\n", label, a, b, r, lim, (r <= lim ? "MET" : "MISSED") }'
}

# Warm the cache: every byte read once by each.
rg -uu -c -F "warm-up-never-there" "$tree" >/dev/null || true
"$finder" "$tree" --content "warm-up-never-there" >/dev/null

ours_names=$("$finder" "$tree" --name '*.json' | wc -l)
fd_names=$(fdfind -u -g '*.json' "$tree" | wc -l)
echo "name search '*.json': tarnel finds $ours_names, fd finds $fd_names"
compare "name" "$(best "$finder" "$tree" --name '*.json')" "$(best fdfind -u -g '*.json' "$tree")" 1.0

ours_fixed=$("$finder" "$tree" --content Quokka_marker | wc -l)
rg_fixed=$(rg -uu -F -c Quokka_marker "$tree" | wc -l)
echo "fixed string: tarnel finds $ours_fixed files, rg finds $rg_fixed"
compare "fixed string" "$(best "$finder" "$tree" --content Quokka_marker)" "$(best rg -uu -F -c Quokka_marker "$tree")" 1.5

re='Quokka_marker_[0-9]+ was'
ours_re=$("$finder" "$tree" --regex "$re" | wc -l)
rg_re=$(rg -uu -l "$re" "$tree" | wc -l)
echo "regex '$re': tarnel finds $ours_re files, rg finds $rg_re"
compare "regex" "$(best "$finder" "$tree" --regex "$re")" "$(best rg -uu "$re" "$tree")" 2.0

re2='(Zebra|Quokka)_[a-z]+_[0-9]{3,}'
compare "regex, no literal" "$(best "$finder" "$tree" --regex "$re2")" "$(best rg -uu "$re2" "$tree")" 2.0

# The first result, in the first folder the walk reads (the start folder).
: > "$tree/first-hit.txt"
for _ in 1 2 3; do "$finder" "$tree" --name 'first-hit.txt' --first 2>&1 >/dev/null | grep first; done
rm -f "$tree/first-hit.txt"
