#!/usr/bin/env bash
# What tarvex-run takes as a web and where an export may go: no export
# replaces a web (the web itself under any name, another web, a web given
# in the export's place), a file that is no web is refused before anything
# is run, a device is refused before it is read, and a web read from a pipe
# is untitled. Every case ends within a few seconds.
#   runner_webs.sh TARVEX-RUN
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
run() { timeout 5 "$runner" "$@"; }

# expect STATUS STDERR-PART WHAT COMMAND...: the runner's exit status, and a
# part of what it wrote to stderr ("" for any).
expect() {
  local want=$1 part=$2 what=$3
  shift 3
  local err
  err=$("$@" 2>&1 >/dev/null)
  local got=$?
  [ "$got" -eq "$want" ] || fail "$what: exit $got, expected $want ($err)"
  case $err in
    *"$part"*) ;;
    *) fail "$what: stderr lacks '$part': $err" ;;
  esac
}

printf '\n<opts><odest>file</odest><oname>result</oname></opts>\n<cell>\n<cname>home</cname><script>out(%s)</script></cell></eof>' \
  "'ran'" >web.tvx
cp web.tvx other.tvx
ln -s web.tvx alias.html
: >empty.tvx
mkdir folder.tvx
mkfifo fifo.tvx
printf '\177ELF\2\1\1\0\0\0\0\0\0\0\0\0' >binary.tvx
web_bytes=$(cat web.tvx)
"$runner" --export html page.html web.tvx || fail "a first export failed"
"$runner" --export md page.md web.tvx || fail "a markdown export failed"

refused="The export file is a Tarvex web: not replaced"
not_web="The file is not a Tarvex web"
not_file="Not a web file (a device, folder, socket or pipe)"
while IFS='|' read -r status part what args; do
  text=""
  [ -z "$part" ] || text=${!part}
  # shellcheck disable=SC2086 # the arguments are split on purpose
  expect "$status" "$text" "$what" run $args </dev/null
done <<'EOF'
2|refused|export onto the web itself|--export html web.tvx web.tvx
2|refused|export onto a link to the web|--export html alias.html web.tvx
2|refused|export onto another web|--export md other.tvx web.tvx
0||export over an earlier export|--export html page.html web.tvx
2|not_web|arguments swapped: the export read as the web|--export html web.tvx page.html
2|not_web|a markdown export as the web|page.md
2|not_web|a binary as the web|binary.tvx
0||an empty file is an empty web|empty.tvx
2|not_file|/dev/zero as the web|/dev/zero
2|not_file|/dev/null as the web|/dev/null
2|not_file|a folder as the web|folder.tvx
EOF
[ "$(cat web.tvx)" = "$web_bytes" ] && [ "$(cat other.tvx)" = "$web_bytes" ] ||
  fail "an export replaced a web"
[ -L alias.html ] || fail "the link to the web was replaced"

# A named pipe is read once its writer has written.
rm -f result.txt
(sleep 0.3; cat web.tvx >fifo.tvx) &
expect 0 "" "a named pipe as the web" run fifo.tvx
wait
[ "$(cat result.txt 2>/dev/null)" = ran ] || fail "a piped web's output is not in the current folder"

# A web from stdin: untitled (files in the current folder), so --save has no
# file to save to, and --save-as has.
rm -f result.txt
expect 0 "" "a web on stdin" run /dev/stdin <web.tvx
[ "$(cat result.txt 2>/dev/null)" = ran ] || fail "stdin web: output not in the current folder"
cat web.tvx | run /dev/stdin >/dev/null 2>&1 || fail "a web piped to /dev/stdin did not run"
rm -f result.txt
expect 2 "--save-as" "--save of a piped web" run --save /dev/stdin <web.tvx
[ ! -e result.txt ] || fail "--save of a piped web ran the web"
cat web.tvx | run --save-as piped.tvx /dev/stdin >/dev/null 2>&1 || fail "--save-as of a piped web failed"
run --save-as direct.tvx web.tvx >/dev/null 2>&1
cmp -s piped.tvx direct.tvx || fail "--save-as of a piped web wrote another web"

[ "$failures" -eq 0 ] || exit 1
echo "runner webs: all passed"
