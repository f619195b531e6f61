#!/usr/bin/env bash
# tarvex-run's promises that an expected-output web cannot show: the exit
# status when the console output is lost, the range of -n, where a web's
# files may be written, and console bytes that do not depend on timing.
#   runner_contract.sh TARVEX-RUN
set -u
runner=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
# expect_status WANT DESCRIPTION COMMAND...
expect_status() {
  local want=$1 what=$2
  shift 2
  "$@"
  local got=$?
  [ "$got" -eq "$want" ] || fail "$what: exit $got, expected $want"
}
run() { timeout 60 "$runner" "$@"; }
CR=$(printf '\r')

# ---- lost console output ------------------------------------------------------
if [ -w /dev/full ]; then
  expect_status 1 "stdout on a full device" run -e "out('x')" >/dev/full 2>/dev/null
  expect_status 1 "--help on a full device" run --help >/dev/full 2>/dev/null
fi
expect_status 1 "closed stdout" run -e "out('x')" >&- 2>/dev/null
expect_status 0 "closed stdout, nothing written" run -e "" >&- 2>/dev/null
# A reader that goes away ends an endless writer; the save still happens.
run -e "while (1) {out('y\n')}" --save-as piped.tvx 2>/dev/null | head -c 1 >/dev/null
status=${PIPESTATUS[0]}
[ "$status" -eq 1 ] || fail "broken pipe: exit $status, expected 1"
[ -s piped.tvx ] || fail "broken pipe: --save-as did not save"

# ---- -n ---------------------------------------------------------------------
for n in 0 -1 4294967296 99999999999999999999 1x ""; do
  expect_status 2 "-n '$n'" run -n "$n" -e "out(1)" >/dev/null 2>&1
done
expect_status 0 "-n 4294967295" run -n 4294967295 -e "exit" >/dev/null 2>&1
[ "$(run -n 3 -e "out(1)" 2>/dev/null)" = "111" ] || fail "-n 3 did not run three times"

# ---- where a web's files go ---------------------------------------------------
mkdir -p webs elsewhere
echo keep >victim.txt
web() { # NAME OUTNAME: a web in webs/ writing 'x' to OUTNAME
  printf '<opts><odest>file</odest><oname>%s</oname></opts><cell><cname>home</cname><script>out(%s)</script></cell>' \
    "$2" "'x'" >"webs/$1.tvx"
}
web up ../victim
web abs "$work/victim.txt"
web rel result
ln -s ../victim.txt webs/link.txt
web link link.txt
cd elsewhere
for w in up abs link; do
  err=$(run "../webs/$w.tvx" 2>&1 >/dev/null)
  status=$?
  [ "$status" -eq 1 ] || fail "$w: exit $status, expected 1"
  case $err in
    *"UNABLE TO OPEN OUTPUT FILE ("*"not allowed): $work/victim.txt"*) ;;
    *) fail "$w: stderr does not name the refusal and the path: $err" ;;
  esac
done
[ "$(cat ../victim.txt)" = keep ] || fail "a refused output file was changed"
expect_status 0 "relative output" run ../webs/rel.tvx 2>/dev/null
[ "$(cat ../webs/result.txt 2>/dev/null)" = x ] || fail "relative output not written beside the web"
[ ! -e result.txt ] || fail "relative output written in the current folder"
expect_status 0 "--allow-paths" run --allow-paths ../webs/abs.tvx 2>/dev/null
[ "$(cat ../victim.txt)" = x ] || fail "--allow-paths did not write the absolute output"
cd ..
# Input outside the folder is refused as well.
echo 42 >victim.txt
printf '<opts><isrc>file</isrc><iname>../victim.txt</iname></opts><cell><cname>home</cname><script>in(home) out(home)</script></cell>' >webs/in.tvx
err=$(run webs/in.tvx 2>&1 >/dev/null)
case $err in
  *"UNABLE TO OPEN INPUT FILE ("*"not allowed): $work/victim.txt"*"Unable to open input"*) ;;
  *) fail "outside input not refused: $err" ;;
esac

# ---- console bytes --------------------------------------------------------------
# A CR, a status message, then the error report's LF: one line end.
got=$(run -e "out(\"abc$CR\") in(home)" </dev/null 2>/dev/null | od -An -c | tr -s ' ')
want=$(printf 'abc\nSCRIPT ERROR\nInput Aborted IN CELL home\n' | od -An -c | tr -s ' ')
[ "$got" = "$want" ] || fail "CR before a status message: got $got"

# ---- the store's size -------------------------------------------------------------
for n in 9999 65536 0 x ""; do
  expect_status 2 "--store '$n'" run --store="$n" -e "out(1)" >/dev/null 2>&1
done
[ "$(run --store=10000 -e "out(mem())" 2>/dev/null)" = "$(run -e "out(mem())" 2>/dev/null)" ] ||
  fail "--store=10000 counts differently from the default store"
# 5,000 cells with 100-character texts: more than the default store holds.
# Home's script names the last one, past the handheld's 256-cell table.
{
  printf '<cell><cname>home</cname><script>out(c5000, %s, c0257)</script></cell>\n' "' '"
  text=$(printf 'text of a cell, long enough to take a few nodes %.0s' 1 2)
  for ((k = 1; k <= 5000; k++)); do
    printf '<cell><cname>c%04d</cname><text>%s</text><val>%d</val></cell>\n' "$k" "$text" "$k"
  done
} >big.tvx
cp big.tvx big-copy.tvx
err=$(run big.tvx 2>&1 >/dev/null)
status=$?
[ "$status" -eq 2 ] || fail "a web past the store: exit $status, expected 2"
case $err in
  *"big.tvx needs a store of "*" nodes; this one has 10000: run it with --store="*) ;;
  *) fail "a web past the store does not name the file and --store: $err" ;;
esac
cmp -s big.tvx big-copy.tvx || fail "a web past the store was changed"
need=${err##*--store=}
[ "$(run --store="$need" big.tvx 2>&1)" = "5000 257" ] || fail "--store=$need: the last cell not named"
[ "$(run --store=65535 big.tvx 2>&1)" = "5000 257" ] || fail "--store=65535: the last cell not named"
# Texts of 4,000 characters in 1,700 cells: past the largest store.
text=$(printf '%4000s' '' | tr ' ' t)
for ((k = 1; k <= 1700; k++)); do
  printf '<cell><cname>c%04d</cname><text>%s</text></cell>\n' "$k" "$text"
done >huge.tvx
err=$(run --store=65535 huge.tvx 2>&1 >/dev/null)
status=$?
[ "$status" -eq 2 ] || fail "a web past the largest store: exit $status, expected 2"
case $err in
  *"huge.tvx does not fit even the largest store (65535 nodes): not even with --store=65535"*) ;;
  *) fail "a web past the largest store does not name the file and --store: $err" ;;
esac

[ "$failures" -eq 0 ] || exit 1
echo "runner contract: all passed"
