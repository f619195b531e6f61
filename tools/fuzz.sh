#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for SECONDS (default 20), in a
# scratch directory, after replaying the kept crash inputs.
#   tools/fuzz.sh [SECONDS] [TARGET...]
# A longer run: tools/fuzz.sh 3600 fuzz_script
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_script fuzz_web_reader fuzz_input_value fuzz_report_format)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVEX_FUZZ=ON -DTARVEX_GUI=OFF -DTARVEX_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" >/dev/null

seeds() {
  case $1 in
    fuzz_script) echo "$root/tests/fuzz/seeds/script" ;;
    fuzz_web_reader) echo "$root/tests/webs $root/examples" ;;
    fuzz_input_value) echo "$root/tests/fuzz/seeds/input" ;;
    fuzz_report_format) echo "$root/tests/fuzz/seeds/report" ;;
  esac
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for t in "${targets[@]}"; do
  bin="$root/build-fuzz/tests/fuzz/$t"
  regressions=("$root/tests/fuzz/regressions/$t"/*)
  if [ -e "${regressions[0]}" ]; then
    "$bin" "${regressions[@]}" >/dev/null 2>&1 || { echo "$t: a kept crash input fails again"; exit 1; }
  fi
  mkdir -p "corpus-$t"
  # shellcheck disable=SC2046
  if ! "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       "corpus-$t" $(seeds "$t") > "$t.log" 2>&1; then
    tail -40 "$t.log"
    cp crash-* leak-* timeout-* oom-* "$root/build-fuzz/" 2>/dev/null || true
    echo "$t: FAILED (inputs copied to build-fuzz/)"
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$t.log" | grep -o '[0-9]*$')
  echo "$t: ${runs:-?} inputs in ${seconds}s, no failure"
done
