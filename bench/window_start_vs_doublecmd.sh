#!/usr/bin/env bash
# The window's start with a 100,000-entry folder in both panes, against
# Double Commander on the same folder in the same run (the two take turns,
# each with a fresh configuration), under Xvfb. For each program:
#   mapped  time from the start until its main window is viewable
#   cpu     user + system time until the process is idle (its CPU time
#           stops rising for a while)
#   peak    highest resident memory (VmHWM) by then, settled: VmRSS then
# Prints every round and the medians, with Tarnel's share of each.
#
# usage: window_start_vs_doublecmd.sh TARNEL_BINARY [FOLDER] [ROUNDS]
# Needs Xvfb, xev, xprop and doublecmd on PATH. Without FOLDER a folder of
# 100,000 small files of several kinds (some with names that say nothing)
# and 1,000 subfolders is made once under /tmp.
set -euo pipefail
tarnel=$(readlink -f "${1:?usage: window_start_vs_doublecmd.sh TARNEL_BINARY [FOLDER] [ROUNDS]}")
dir=${2:-/tmp/tarnel-window-bench}
rounds=${3:-5}
for tool in Xvfb xev xprop xwininfo doublecmd; do
    command -v "$tool" > /dev/null || { echo "$tool is not installed" >&2; exit 2; }
done

if [ ! -e "$dir/.generated" ]; then
    mkdir -p "$dir"
    (
        cd "$dir"
        exts=(.txt .jpg .cpp .doc .png .pdf "" .dat .html .sh)
        for ((i = 0; i < 100000; i++)); do
            printf 'file %d\n' "$i" > "${i}_item${exts[i % 10]}"
        done
        for ((i = 0; i < 1000; i++)); do mkdir "dir$i"; done
        : > .generated
    )
fi

work=$(mktemp -d /tmp/window-bench.XXXXXX)
display=
cleanup() {
    [ -n "${xev:-}" ] && kill "$xev" 2> /dev/null
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT
for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    display=:$n
    break
done
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp > /dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
for ((i = 0; i < 100; i++)); do xwininfo -root > /dev/null 2>&1 && break; sleep 0.05; done

now_ms() { echo $(($(date +%s%N) / 1000000)); }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2> /dev/null || echo -1; }
status_kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status" 2> /dev/null || echo 0; }

# Every window mapped on the screen, stamped when the X server said so.
mkfifo "$work/xev"
stdbuf -oL xev -root -event substructure > "$work/xev" 2> /dev/null &
xev=$!
while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done < "$work/xev" > "$work/events" &
sleep 0.5 # xev has selected the events

# The time (s.us) at which a window of the given WM_CLASS was first mapped
# after the given time; nothing when none was.
mapped_at() {
    local since=$1 class=$2 at id
    while read -r at id; do
        if xprop -id "$id" WM_CLASS 2> /dev/null | grep -q "= \"$class\""; then
            echo "$at"
            return
        fi
    done < <(awk -v since="$since" '$2 == "MapNotify" { map = 1; next }
        map && $1 > since { for (i = 2; i < NF; i++) if ($i == "window") { id = $(i + 1); sub(",", "", id); print $1, id } }
        { map = 0 }' "$work/events")
}

# run CLASS COMMAND...: prints "mapped_ms cpu_ms peak_kB settled_kB".
run() {
    local class=$1
    shift
    local start pid at mappedMs=-1 ticks last quietSince now
    local tick_ms=$((1000 / $(getconf CLK_TCK)))
    start=$EPOCHREALTIME
    "$@" > /dev/null 2>&1 &
    pid=$!
    # Idle: no more than one tick of CPU in two seconds, once the window is up.
    last=0
    quietSince=$(now_ms)
    ticks=0
    while kill -0 "$pid" 2> /dev/null; do
        sleep 0.25
        if ((mappedMs < 0)); then
            at=$(mapped_at "$start" "$class")
            [ -n "$at" ] && mappedMs=$(awk -v a="$at" -v s="$start" 'BEGIN { printf "%d", (a - s) * 1000 }')
        fi
        now=$(cpu_ticks "$pid")
        if ((now - last > 1 || mappedMs < 0)); then
            last=$now
            quietSince=$(now_ms)
        elif (($(now_ms) - quietSince >= 2000)); then
            ticks=$last
            break
        fi
        if (($(now_ms) - ${start%.*} * 1000 > 180000)); then
            ticks=$now
            break
        fi
    done
    local peak settled
    peak=$(status_kb "$pid" VmHWM)
    settled=$(status_kb "$pid" VmRSS)
    kill "$pid" 2> /dev/null || true
    for ((i = 0; i < 50; i++)); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
    echo "$mappedMs $((ticks * tick_ms)) $peak $settled"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: > "$work/results"
printf '%-6s %-8s %10s %10s %10s %12s\n' round program mapped_ms cpu_ms peak_kB settled_kB
for ((r = 1; r <= rounds; r++)); do
    home=$work/home-$r
    mkdir -p "$home/run" && chmod 700 "$home/run"
    t=$(HOME=$home XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run TARNEL_INSTANCE_TAG=-bench-$$-$r \
        run tarnel "$tarnel" "$dir" "$dir")
    d=$(HOME=$home XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run \
        run doublecmd doublecmd --config-dir="$home/doublecmd" -L "$dir" -R "$dir")
    printf '%-6s %-8s %10s %10s %10s %12s\n' "$r" tarnel $t
    printf '%-6s %-8s %10s %10s %10s %12s\n' "$r" doublecmd $d
    echo "$t $d" >> "$work/results"
done

col() { awk -v c="$1" '{ print $c }' "$work/results" | median; }
ratio() { awk -v a="$1" -v b="$2" '{ print $a / $b }' "$work/results" | median; }
echo
printf '%-22s %10s %10s %10s %12s\n' median mapped_ms cpu_ms peak_kB settled_kB
printf '%-22s %10s %10s %10s %12s\n' tarnel "$(col 1)" "$(col 2)" "$(col 3)" "$(col 4)"
printf '%-22s %10s %10s %10s %12s\n' doublecmd "$(col 5)" "$(col 6)" "$(col 7)" "$(col 8)"
printf '%-22s %10s %10s %10s %12s\n' "tarnel / doublecmd" "$(ratio 1 5)" "$(ratio 2 6)" "$(ratio 3 7)" "$(ratio 4 8)"
echo "targets: mapped <= 0.5, cpu <= 0.5, memory <= 0.25"
