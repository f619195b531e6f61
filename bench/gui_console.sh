#!/bin/bash
# Console output in the desktop application under a real X server: runs
#   for (home = 1 to N) {out('line ', home, ' of a long run of console output text\n')}
# in `tarvex` with the console shown, as a user would (keys sent with
# xdotool), and prints the CPU seconds the process spent on the run.
#
#   bench/gui_console.sh [TARVEX] [ROUNDS] [N...]
#
# TARVEX defaults to build/shell/tarvex; ROUNDS to 3; N to 5000 12000 20000.
# Without a DISPLAY the script runs itself under xvfb-run (1280x800x24);
# with one (say Xvfb :9) it uses that. Installs xdotool and xvfb when
# missing (with sudo when not root).
# BENCH_STOP=1 also measures Stop: a run of 10,000,000 lines is stopped
# after STOP_AFTER seconds (default 3) and the script reports how long the
# window took to go idle and how long the console then was.
# BENCH_WIDTH=PIXELS makes the window that wide (a narrower console).
# Keys: BENCH_SHOW_KEY (ctrl+5), BENCH_RUN_KEY (F5), BENCH_STOP_KEY
# (shift+F5).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/packages.sh"
tarvex=${1:-$here/../build/shell/tarvex}
rounds=${2:-3}
shift $(($# > 2 ? 2 : $#)) || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(5000 12000 20000)
show_key=${BENCH_SHOW_KEY:-ctrl+5}
run_key=${BENCH_RUN_KEY:-F5}
stop_key=${BENCH_STOP_KEY:-shift+F5}

need=()
command -v xdotool >/dev/null || need+=(xdotool)
command -v xvfb-run >/dev/null || need+=(xvfb xauth)
install_packages ${need[@]+"${need[@]}"}
[ -x "$tarvex" ] || { echo "no tarvex at $tarvex (build it: cmake --build build --target tarvex)" >&2; exit 2; }
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s '-screen 0 1280x800x24' "$0" "$tarvex" "$rounds" "${sizes[@]}"
fi

work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work/runtime" "$work/config"
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config TARVEX_INSTANCE=bench-$$

# xdotool, again when the X server was too busy to take the connection.
xdo() {
    local try
    for try in 1 2 3 4 5; do
        xdotool "$@" && return 0
        sleep 0.5
    done
    return 1
}

hz=$(getconf CLK_TCK)
# User + system CPU of a process, in clock ticks.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# Waits until the process has used (almost) no CPU for two seconds; prints
# its ticks at the start of that quiet time.
wait_idle() {
    local before now
    before=$(ticks "$1")
    while sleep 2; do
        now=$(ticks "$1")
        if [ $((now - before)) -le 1 ]; then
            echo "$before"
            return
        fi
        before=$now
    done
}

# BENCH_WIDE=1 makes every line five times as long (too wide for the pane,
# so the console wraps once the run is over).
text=" of a long run of console output text"
[ "${BENCH_WIDE:-0}" = 1 ] && text="$text$text$text$text$text"

web() {
    local n=$1 file=$work/console_$1.tvx
    printf '%s\n' "<cell><cname>home</cname><script>for (home = 1 to $n) {out('line ', home, '$text\\n')}" \
        "</script></cell>" "</eof>" >"$file"
    echo "$file"
}

# Starts tarvex on a web, shows the console and focuses the window.
start() {
    "$tarvex" "$1" >/dev/null 2>&1 &
    pid=$!
    local win
    win=$(xdo search --sync --onlyvisible --pid "$pid" --name Tarvex | head -1)
    [ -n "${BENCH_WIDTH:-}" ] && xdo windowsize --sync "$win" "$BENCH_WIDTH" 680
    xdotool windowactivate --sync "$win" 2>/dev/null || xdo windowfocus --sync "$win"
    wait_idle "$pid" >/dev/null
    xdo key --clearmodifiers "$show_key"
    wait_idle "$pid" >/dev/null
}

finish() {
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
}

median() { sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

printf '%8s  %s\n' lines "CPU seconds of the run (median of $rounds; each round)"
for n in "${sizes[@]}"; do
    file=$(web "$n")
    results=()
    for ((r = 0; r < rounds; ++r)); do
        start "$file"
        before=$(ticks "$pid")
        xdo key --clearmodifiers "$run_key"
        after=$(wait_idle "$pid")
        results+=("$(awk -v t=$((after - before)) -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }')")
        finish
    done
    printf '%8s  %s  (%s)\n' "$n" "$(printf '%s\n' "${results[@]}" | median)" "${results[*]}"
done

if [ "${BENCH_STOP:-0}" = 1 ]; then
    start "$(web 10000000)"
    xdo key --clearmodifiers "$run_key"
    sleep "${STOP_AFTER:-3}"
    t0=$(date +%s.%N)
    xdo key --clearmodifiers "$stop_key"
    # Idle means the run has ended: poll in tenths of a second.
    before=$(ticks "$pid")
    while sleep 0.1; do
        now=$(ticks "$pid")
        [ "$now" -eq "$before" ] && break
        before=$now
    done
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "stop: idle %.2f s after the key (0.1 s polls)\n", b - a }'
    finish
fi
