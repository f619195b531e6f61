#!/usr/bin/env bash
# Runs one acceptance web through tarvex-run in a scratch directory and
# compares what it printed (stdout, then the exit status) with NAME.out.
#   NAME.tvx    the web
#   NAME.steps  optional: one tarvex-run argument list per line ({web} is the
#               web's copy); default: "{web}" plus the arguments in NAME.args
#   NAME.in     optional: stdin of every step
#   NAME.out    expected output: each step's stdout followed by "[exit N]"
set -u
runner=$(realpath "$1")
web=$(realpath "$2")
base=${web%.tvx}
name=$(basename "$base")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$web" "$work/$name.tvx"
if [ -f "$base.steps" ]; then
  mapfile -t steps < "$base.steps"
else
  args=""
  [ -f "$base.args" ] && args=$(cat "$base.args")
  steps=("$args {web}")
fi
input=/dev/null
[ -f "$base.in" ] && input="$base.in"
actual="$work/actual"
: > "$actual"
cd "$work"
for step in "${steps[@]}"; do
  [ -z "$step" ] && continue
  line=${step//\{web\}/$name.tvx}
  eval "set -- $line"
  "$runner" "$@" < "$input" >> "$actual" 2>/dev/null
  echo "[exit $?]" >> "$actual"
done
if ! diff -u "$base.out" "$actual"; then
  echo "FAILED: $name"
  exit 1
fi
