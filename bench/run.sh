#!/usr/bin/env bash
# Runs the Tarvex benchmark webs side by side with the same programs in
# Python 3, Tcl 8.6, Lua 5.4 and LuaJIT with its compiler off (each peer that
# is installed), interleaved, checks that every program produced the same
# result, and prints the median times and the ratios as Markdown tables,
# both gross and net of each system's start-up (its empty program).
#
#   bench/run.sh [ROUNDS]     the peer comparison (default 5 rounds)
#   bench/run.sh --micro      build and run the micro benchmarks instead
#   bench/run.sh --build      only build the benchmarked tarvex-run; print its path
#   bench/run.sh --big [R]    the big-web figures instead (bench/big.sh)
#
# Each round runs every workload once on every system, one system after the
# other (the first of them rotating from round to round), so that a change
# in the machine's load falls on all of them alike. Times are medians over
# the rounds of the CPU time (user + system) of each process, and of its
# wall time; on a busy machine the CPU time is the one to trust. Every round
# also runs each system's empty program; the net figures are the medians
# less the median of that, so a system's start-up does not count as work.
# BENCH_ONLY="count fib" limits the run to some workloads.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/packages.sh"
root=$(cd "$here/.." && pwd)
build="$root/build-bench"
[ "${1:-}" = "--big" ] && exec "$here/big.sh" "${@:2}"

# ---- packages ---------------------------------------------------------------
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
case ${1:-} in
--micro) [ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev) ;;
--build) ;;
esac
install_packages ${need[@]+"${need[@]}"}

if [ "${1:-}" = "--micro" ]; then
    cmake -S "$here" -B "$root/build-bench-micro" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$root/build-bench-micro" --target tarvex_micro >/dev/null
    exec "$root/build-bench-micro/tarvex_micro" "${@:2}"
fi

# ---- build ------------------------------------------------------------------
# BENCH_CMAKE_ARGS adds configure options, e.g.
# -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON to compare a link-time optimised build.
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVEX_GUI=OFF \
    -DTARVEX_TESTS=OFF -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF ${BENCH_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --target tarvex-run >/dev/null
tarvex="$build/cli/tarvex-run"
if [ "${1:-}" = "--build" ]; then
    echo "$tarvex"
    exit 0
fi

rounds=${1:-5}
case $rounds in '' | *[!0-9]* | 0)
    echo "usage: bench/run.sh [ROUNDS] | --micro | --build | --big [ROUNDS]" >&2
    exit 2 ;;
esac
workloads=(count fib tak strings gaussj outfile console websave)
[ -n "${BENCH_ONLY:-}" ] && read -r -a workloads <<<"$BENCH_ONLY"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# ---- the largest loadable web ------------------------------------------------
# The most cells (100-character text and a value each) that the store loads
# and saves without running low: the reader's records need room too. Only
# websave needs it.
if [[ " ${workloads[*]} " == *" websave "* ]]; then
    loads() {
        python3 "$here/gen_bigweb.py" "$1" big.tvx
        "$tarvex" big.tvx --save-as probe.tvx 2>probe.err >/dev/null &&
            [ "$(cat probe.err)" = "Saved" ]
    }
    lo=1
    hi=4000
    while [ $((hi - lo)) -gt 1 ]; do
        mid=$(((lo + hi) / 2))
        if loads "$mid"; then lo=$mid; else hi=$mid; fi
    done
    python3 "$here/gen_bigweb.py" "$lo" big.tvx
    "$tarvex" big.tvx --save-as bigweb.tvx 2>/dev/null # the writer's own form
    rm -f big.tvx probe.tvx probe.err
    echo "largest loadable web: $lo cells plus home, $(wc -c <bigweb.tvx) bytes"
fi

# ---- workloads ----------------------------------------------------------------
# The peers that are installed (nothing is installed for them). The real
# interpreter binary: python3 on PATH may be a version manager's shell shim
# that adds its own start-up to every timed run.
systems=(tarvex)
missing=()
if command -v python3 >/dev/null; then
    python=$(python3 -c 'import sys; print(sys.executable)')
    systems+=(python)
else missing+=(python3); fi
if command -v tclsh >/dev/null; then systems+=(tcl); else missing+=(tclsh); fi
if command -v lua5.4 >/dev/null; then systems+=(lua); else missing+=(lua5.4); fi
if command -v luajit >/dev/null; then systems+=(luajit); else missing+=(luajit); fi
declare -A title=([tarvex]=Tarvex [python]=CPython [tcl]=Tcl [lua]="Lua 5.4" [luajit]="LuaJIT -joff")
[ ${#missing[@]} -eq 0 ] || echo "not installed, left out: ${missing[*]}" >&2

# A web's files are relative to the web's folder: the webs are run from the
# work folder, where the peers write theirs.
cp "$here"/webs/*.tvx .

# The command line of a system for a workload (empty: its start-up alone);
# websave loads bigweb.tvx and saves it to saved.tvx.
command_for() {
    local sys=$1 w=$2 args=()
    [ "$w" = websave ] && args=(bigweb.tvx saved.tvx)
    case $sys in
    tarvex)
        if [ "$w" = websave ]; then
            echo "$tarvex bigweb.tvx --save-as saved.tvx"
        else
            echo "$tarvex $w.tvx"
        fi ;;
    python) echo "$python $here/peers/$w.py ${args[*]}" ;;
    tcl) echo "tclsh $here/peers/$w.tcl ${args[*]}" ;;
    lua) echo "lua5.4 $here/peers/$w.lua ${args[*]}" ;;
    luajit) echo "luajit -joff $here/peers/$w.lua ${args[*]}" ;;
    esac
}

# What a run produced: its stdout and the file it wrote, as checksums.
result_of() {
    local sum
    sum=$(md5sum <stdout.txt | cut -c1-32)
    for f in bench_out.txt saved.tvx; do
        [ -f "$f" ] && sum="$sum $f:$(md5sum <"$f" | cut -c1-32)"
    done
    echo "$sum"
}

declare -A cpu wall result
failed=0
TIMEFORMAT='%R %U %S'
for ((r = 1; r <= rounds; r++)); do
    for w in empty "${workloads[@]}"; do
        # Rotate the order each round so no system always runs first.
        for ((k = 0; k < ${#systems[@]}; k++)); do
            sys=${systems[$(((k + r) % ${#systems[@]}))]}
            rm -f bench_out.txt saved.tvx
            cmd=$(command_for "$sys" "$w")
            if ! { time $cmd >stdout.txt 2>stderr.txt; } 2>time.txt; then
                echo "FAILED: $sys $w" >&2
                cat stderr.txt >&2
                failed=1
            fi
            read -r real user sys_t <time.txt
            wall[$sys,$w]+="$real "
            cpu[$sys,$w]+="$(awk -v u="$user" -v s="$sys_t" 'BEGIN { print u + s }') "
            res=$(result_of)
            if [ -z "${result[$sys,$w]:-}" ]; then
                result[$sys,$w]=$res
            elif [ "${result[$sys,$w]}" != "$res" ]; then
                echo "UNSTABLE: $sys $w gave a different result in round $r" >&2
                failed=1
            fi
        done
    done
    echo "round $r of $rounds done" >&2
done
rm -f bench_out.txt saved.tvx

for w in "${workloads[@]}"; do
    for sys in "${systems[@]:1}"; do
        if [ "${result[$sys,$w]}" != "${result[tarvex,$w]}" ]; then
            echo "MISMATCH: $w: $sys printed or wrote something else than Tarvex" >&2
            failed=1
        fi
    done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {
    if (NR % 2) print a[(NR + 1) / 2]; else printf "%.3f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# A table ready for RESULTS.md: the medians of each system and Tarvex's
# ratio to each peer (below 1: Tarvex took less). With "net", each median
# less the median of the system's empty program.
table() {
    local -n times=$1
    local net=${2:-} sys w head="| workload |" rule="|----------|" row t base
    for sys in "${systems[@]}"; do head+=" ${title[$sys]} |" rule+="------:|"; done
    for sys in "${systems[@]:1}"; do head+=" Tarvex / ${title[$sys]} |" rule+="------:|"; done
    echo "$head"
    echo "$rule"
    for w in "${workloads[@]}"; do
        declare -A m=()
        for sys in "${systems[@]}"; do
            t=$(echo "${times[$sys,$w]}" | median)
            if [ -n "$net" ]; then
                base=$(echo "${times[$sys,empty]}" | median)
                t=$(awk -v a="$t" -v b="$base" 'BEGIN { printf "%.3f", a - b }')
            fi
            m[$sys]=$t
        done
        row="| $w |"
        for sys in "${systems[@]}"; do row+=" $(printf '%.3f' "${m[$sys]}") |"; done
        for sys in "${systems[@]:1}"; do row+=" $(ratio "${m[tarvex]}" "${m[$sys]}") |"; done
        echo "$row"
    done
}

startup_line() {
    local sys line="Start-up (each system's empty program), median CPU seconds:"
    for sys in "${systems[@]}"; do
        line+=" ${title[$sys]} $(echo "${cpu[$sys,empty]}" | median),"
    done
    echo "${line%,}."
}

versions=""
for sys in "${systems[@]:1}"; do
    case $sys in
    python) versions+="CPython $("$python" -c 'import platform; print(platform.python_version())') (\`$python\`), " ;;
    tcl) versions+="Tcl $(echo 'puts [info patchlevel]' | tclsh), " ;;
    lua) versions+="Lua $(lua5.4 -v 2>&1 | awk '{ print $2; exit }'), " ;;
    luajit) versions+="LuaJIT $(luajit -v 2>&1 | awk '{ print $2; exit }') with -joff, " ;;
    esac
done
[ ${#missing[@]} -eq 0 ] || versions+="not installed: ${missing[*]}, "
command="bench/run.sh $rounds"
[ -n "${BENCH_ONLY:-}" ] && command="BENCH_ONLY=\"$BENCH_ONLY\" $command"
[ -n "${BENCH_CMAKE_ARGS:-}" ] && command="BENCH_CMAKE_ARGS=\"$BENCH_CMAKE_ARGS\" $command"
echo
echo "\`$command\`: ${versions%, };"
echo "$(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end."
echo
startup_line
echo
echo "Median CPU seconds (user + system) over $rounds interleaved rounds, net of start-up:"
echo
table cpu net
echo
echo "Median CPU seconds over $rounds interleaved rounds, gross (start-up included):"
echo
table cpu
echo
echo "Median wall seconds over $rounds interleaved rounds:"
echo
table wall
[ "$failed" -eq 0 ] && echo && echo "All programs printed and wrote the same results in every round."
exit "$failed"
