#!/usr/bin/env bash
# What the work on a big web costs, size by size (bench/run.sh --big):
#
#   bench/big.sh [ROUNDS]      default 3 rounds; BIG_SIZES="250 500 1000 5000 max"
#
# For each size a web of generated cells with short texts naming other
# cells (gen_bigweb.py --text BIG_TEXT --links BIG_LINKS, default 40 and 3):
# every text names c00001, so that cell has an in-link from every other.
# "max" is the most such cells the largest node store loads and saves. A
# size the store cannot hold is skipped with a line saying so; when
# tarvex-run takes --store, the largest store is asked for.
#
# Two sets of figures per size, as Markdown tables of CPU milliseconds:
#  - the engine, through the headless runner: open, save, the exports, the
#    reports and a script that adds 1 to every cell the cell table reaches,
#    each the median over ROUNDS runs less the median of a plain open (the
#    open less the runner's start-up with an empty web);
#  - the desktop application, tarvex_big_bench (the real main window on the
#    offscreen platform, or on an X server when DISPLAY is set): open, save,
#    the cell list and its filter, moves with the Links docks shown, search
#    and Replace All over every cell, the web map's graph and layout, the
#    exports, the reports and the same script; the best of ROUNDS for what
#    changes nothing. BIG_LAYOUT=0 skips the map's layout.
# The last column is the growth, t ~ n^k (1 linear, 2 quadratic), fitted
# over the sizes with a figure of at least 1 ms (5 ms for the runner's,
# whose times have a 1 ms resolution). A figure
# marked † is of an operation during which the node store ran low, so it
# failed part way.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/packages.sh"
root=$(cd "$here/.." && pwd)
build="$root/build-bench-big"

rounds=${1:-3}
case $rounds in '' | *[!0-9]* | 0)
    echo "usage: bench/run.sh --big [ROUNDS]" >&2
    exit 2 ;;
esac
read -r -a sizes <<<"${BIG_SIZES:-250 500 1000 5000 max}"
text=${BIG_TEXT:-40}
links=${BIG_LINKS:-3}

# ---- packages and build ----------------------------------------------------------
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v python3 >/dev/null || need+=(python3)
for p in qt6-base-dev libqscintilla2-qt6-dev libgraphviz-dev pkg-config; do
    dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
install_packages ${need[@]+"${need[@]}"}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVEX_TESTS=OFF >/dev/null
cmake --build "$build" --target tarvex-run tarvex_big_bench >/dev/null
tarvex="$build/cli/tarvex-run"
gui="$build/shell/tarvex_big_bench"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The largest store, when the runner lets one be chosen.
store=()
if "$tarvex" --help | grep -q -- '--store'; then
    store=(--store=65535)
fi

gen() { python3 "$here/gen_bigweb.py" --text "$text" --links "$links" "$@"; }

# Whether n cells load and save with room to spare.
fits() {
    gen "$1" probe.tvx
    "$tarvex" ${store[@]+"${store[@]}"} probe.tvx --save-as probe-saved.tvx 2>probe.err >/dev/null &&
        [ "$(cat probe.err)" = "Saved" ]
}

largest() {
    local lo=1 hi=4000 mid
    [ ${#store[@]} -gt 0 ] && hi=70000
    while [ $((hi - lo)) -gt 1 ]; do
        mid=$(((lo + hi) / 2))
        if fits "$mid"; then lo=$mid; else hi=$mid; fi
    done
    echo "$lo"
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {
    if (NR == 0) print "-"; else if (NR % 2) print a[(NR + 1) / 2];
    else printf "%.1f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# The median CPU milliseconds of ROUNDS runs of the runner with args; "-"
# when a run fails.
TIMEFORMAT='%U %S'
cpu_ms() {
    local times="" t
    for ((r = 0; r < rounds; ++r)); do
        if ! t=$({ time "$tarvex" ${store[@]+"${store[@]}"} "$@" >/dev/null 2>run.err; } 2>&1); then
            echo "-"
            return
        fi
        times+="$(awk -v u="${t% *}" -v s="${t#* }" 'BEGIN { print (u + s) * 1000 }') "
    done
    echo "$times" | median
}
minus() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-") print "-"; else printf "%.1f", a - b }'; }

# shellcheck disable=SC2034 # read through the namerefs of table() and growth()
declare -A engine gui_ms note
done_sizes=()
for size in "${sizes[@]}"; do
    n=$size
    if [ "$size" = max ]; then
        n=$(largest)
        echo "max: $n cells (${store[*]:-the default store}) load and save" >&2
    elif ! fits "$n"; then
        echo "$n cells: skipped, they do not fit ${store[*]:-the default store} of this build" >&2
        continue
    fi
    gen "$n" big.tvx
    # ---- the desktop application ----
    layout=()
    [ "${BIG_LAYOUT:-1}" = 0 ] && layout=(--no-layout)
    table=""
    if "$gui" --rounds "$rounds" ${layout[@]+"${layout[@]}"} ${store[@]+"${store[@]}"} "$PWD/big.tvx" >gui.txt 2>gui.err; then
        while IFS='|' read -r op wall cpu what _ low; do
            case $op in
            cells) table=$cpu ;;
            *_bytes | map_engine | script_result) note[$op,$n]=$what ;;
            *)
                gui_ms[$op,$n]=$cpu
                [ "$cpu" = - ] && gui_ms[$op,$n]=$wall
                [ "${low:-}" = low ] && gui_ms[$op,$n]+="†"
                ;;
            esac
        done <gui.txt
    else
        echo "$n cells: the desktop figures are missing: $(grep -v 'propagateSizeHints\|XDG_RUNTIME' gui.err | tail -1)" >&2
        cat gui.txt >&2
    fi
    # ---- the engine ----
    start=$(cpu_ms -e '')
    open=$(cpu_ms big.tvx)
    engine[open,$n]=$(minus "$open" "$start")
    engine[save,$n]=$(minus "$(cpu_ms big.tvx --save-as saved.tvx)" "$open")
    for f in html md dot; do
        engine[export_$f,$n]=$(minus "$(cpu_ms --export $f out.$f big.tvx)" "$open")
    done
    engine[report_fmt,$n]=$(minus "$(cpu_ms --report big.tvx)" "$open")
    for t in inptr outptr; do
        gen --report $t "$n" rep.tvx
        engine[report_$t,$n]=$(minus "$(cpu_ms --report rep.tvx)" "$open")
    done
    # Every cell the table reaches: what the window saw, else halved until
    # the run stops failing on the subscript.
    k=$n
    [ -n "$table" ] && [ "$table" -le "$n" ] && k=$table
    while :; do
        gen --touch "$k" "$n" touch.tvx
        "$tarvex" ${store[@]+"${store[@]}"} touch.tvx >/dev/null 2>&1 && break
        [ "$k" -le 1 ] && break
        k=$((k / 2))
    done
    engine[script_touch,$n]=$(minus "$(cpu_ms touch.tvx)" "$open")
    # shellcheck disable=SC2034
    [ "$k" -le 1 ] && engine[script_touch,$n]=-
    note[script_touch,$n]="c00002..c$(printf %05d "$k") of $n cells"
    done_sizes+=("$n")
    echo "$n cells done" >&2
done
rm -f probe* big.tvx saved.tvx out.* rep.tvx touch.tvx gui.txt gui.err run.err

# ---- tables ------------------------------------------------------------------------
# The slope of log t against log n over the sizes with a figure of at least
# least ms that did not fail (a least-squares fit, so that one noisy figure
# weighs less).
growth() {
    local -n t=$1
    local op=$2 least=$3 n points=""
    for n in "${done_sizes[@]}"; do
        points+="$n ${t[$op,$n]:--}"$'\n'
    done
    awk -v m="$least" '$2 ~ /^[0-9.]+$/ && $2 >= m {
            x = log($1); y = log($2); k++; sx += x; sy += y; sxx += x * x; sxy += x * y }
        END {
            if (k < 2 || sxx * k == sx * sx) { print "-"; exit }
            e = (k * sxy - sx * sy) / (k * sxx - sx * sx)
            w = e < 1.35 ? "linear" : e < 1.7 ? "n log n or worse" : "quadratic"
            printf "n^%.1f %s\n", e, w }' <<<"$points"
}
table() {
    local title=$1 name=$2 least=$3
    shift 3
    local -n t=$name
    echo
    echo "$title"
    echo
    printf '| operation |'
    for n in "${done_sizes[@]}"; do printf ' %s cells |' "$n"; done
    echo ' growth |'
    printf '|---|'
    for _ in "${done_sizes[@]}"; do printf -- '---:|'; done
    echo '---|'
    for op in "$@"; do
        printf '| %s |' "$op"
        for n in "${done_sizes[@]}"; do printf ' %s |' "${t[$op,$n]:--}"; done
        echo " $(growth "$name" "$op" "$least") |"
    done
}

echo
echo "\`bench/run.sh --big $rounds\` (BIG_SIZES=\"${sizes[*]}\", texts of $text characters naming $links cells${store[*]:+, ${store[*]}});"
echo "$(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end."
table "Engine (tarvex-run), median CPU ms over $rounds runs, less the open (growth from 5 ms):" engine 5 \
    open save export_html export_md export_dot report_fmt report_inptr report_outptr script_touch
echo
for n in "${done_sizes[@]}"; do echo "- script_touch at $n cells: ${note[script_touch,$n]}"; done
table "Desktop application (tarvex_big_bench), CPU ms (best of $rounds where repeatable):" gui_ms 1 \
    open save list_refill filter_type filter_key visit_hub visit_cell next_cell export_html \
    export_md export_dot report_fmt report_inptr report_outptr map_graph map_layout search_miss \
    replace_all script_touch
echo
for n in "${done_sizes[@]}"; do
    echo "- $n cells: map ${note[map_engine,$n]:-not laid out}; script ${note[script_result,$n]:--};" \
        "in-pointer report ${note[report_inptr_bytes,$n]:--}"
done
