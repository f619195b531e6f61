#!/usr/bin/env bash
# Instruction counts of the benchmarked tarvex-run (the Release build of
# bench/run.sh) under callgrind: each interpreter web's whole run, the
# start-up alone (an empty script), and what one unit of the web's work costs
# (the whole run less the start-up, divided by the units the web runs).
# Instruction counts do not depend on the machine's load, unlike times.
#
#   bench/callgrind.sh [WORKLOAD...]    count fib (default), tak, strings, gaussj
#
# CALLGRIND_TOP=N also lists each web's N functions with the most
# instructions of their own. CALLGRIND_KEEP=DIR keeps the callgrind.out
# files there (for callgrind_annotate or kcachegrind).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/packages.sh"

# What one unit of a web's work is, and how many the web runs. The webs of
# run.sh are cut down (cut[W], a sed script) to keep valgrind's run short.
declare -A unit units cut
unit[count]="a round"
units[count]=100000 # rounds of the while loop
cut[count]='s/3000000/100000/'
unit[fib]="a call"
units[fib]=65673 # cell calls: fib(20) 3 times (2 in the loop, 1 printed), 21,891 calls each
cut[fib]='s/for (k = 1 to 300)/for (k = 1 to 2)/'
unit[tak]="a call"
units[tak]=127218 # cell calls: tak(18, 12, 6) twice (1 in the loop, 1 printed), 63,609 calls each
cut[tak]='s/for (k = 1 to 60)/for (k = 1 to 1)/'
unit[strings]="a round"
units[strings]=20000 # rounds of the for loop
cut[strings]='s/600000/20000/'
unit[gaussj]="a solve"
units[gaussj]=2000 # systems refilled and solved

workloads=("$@")
[ ${#workloads[@]} -gt 0 ] || workloads=(count fib)
for w in "${workloads[@]}"; do
    if [ -z "${units[$w]:-}" ]; then
        echo "bench/callgrind.sh: no workload $w (count, fib, tak, strings, gaussj)" >&2
        exit 2
    fi
done

command -v valgrind >/dev/null || install_packages valgrind
tarvex=$("$here/run.sh" --build)

work=${CALLGRIND_KEEP:-$(mktemp -d)}
mkdir -p "$work"
[ -n "${CALLGRIND_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT

# Runs tarvex-run with the given arguments under callgrind; prints the
# instructions executed, from the first one of the dynamic loader on.
instructions() {
    local out=$1
    shift
    valgrind --tool=callgrind --callgrind-out-file="$out" "$tarvex" "$@" \
        >"$work/stdout.txt" 2>"$work/valgrind.txt" || {
        echo "bench/callgrind.sh: tarvex-run $* failed:" >&2
        cat "$work/valgrind.txt" >&2
        exit 1
    }
    awk '$1 == "summary:" || $1 == "totals:" { print $2; exit }' "$out"
}

commas() { echo "$1" | sed -e ':a' -e 's/\B[0-9]\{3\}\>/,&/' -e 'ta'; }

startup=$(instructions "$work/callgrind.out.startup" -e '')
declare -A total
for w in "${workloads[@]}"; do
    echo "callgrind: $w" >&2
    sed "${cut[$w]:-}" "$here/webs/$w.tvx" >"$work/$w.tvx"
    total[$w]=$(instructions "$work/callgrind.out.$w" "$work/$w.tvx")
done

echo
echo "\`bench/callgrind.sh ${workloads[*]}\`: instructions executed by tarvex-run"
echo "(Release), valgrind $(valgrind --version | sed 's/^valgrind-//'); start-up = \`tarvex-run -e ''\`:"
echo "$(commas "$startup") instructions."
echo
echo "| workload | instructions | less start-up | units | per unit |"
echo "|----------|-------------:|--------------:|------:|---------:|"
for w in "${workloads[@]}"; do
    net=$((total[$w] - startup))
    printf '| %s | %s | %s | %s | %s %s |\n' "$w" "$(commas "${total[$w]}")" "$(commas "$net")" \
        "$(commas "${units[$w]}")" "$(commas $(((net + units[$w] / 2) / units[$w])))" "${unit[$w]}"
done

if [ -n "${CALLGRIND_TOP:-}" ]; then
    for w in "${workloads[@]}"; do
        echo
        echo "$w: the $CALLGRIND_TOP functions with the most instructions of their own"
        echo
        callgrind_annotate --inclusive=no "$work/callgrind.out.$w" 2>/dev/null |
            grep -E '^ *[0-9,]+ \(' | grep -v 'PROGRAM TOTALS' | head -n "$CALLGRIND_TOP" |
            sed -e 's/ \[[^]]*\]$//' -e 's/???://' -e 's/^/    /'
    done
fi
