#!/usr/bin/env bash
# Exports a web with tarvex-run in each format and hands every file to the
# tool made to read it; also checks the exit statuses of a bad format (2),
# an unreadable web (2) and an unwritable output (1).
set -u
runner=$(realpath "$1")
web=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }

for fmt in html md dot; do
  "$runner" --export "$fmt" "out.$fmt" "$web" || fail "--export $fmt exited $?"
  [ -s "out.$fmt" ] || fail "out.$fmt is empty"
done
[ "$(ls -A)" = "$(printf 'out.dot\nout.html\nout.md')" ] || fail "unexpected files: $(ls -A)"
grep -q '<title>tour</title>' out.html || fail "no title in out.html"
dot -Tsvg out.dot > out.svg || fail "dot refused out.dot"
cmark out.md > md.html || fail "cmark refused out.md"

"$runner" --export pdf out.pdf "$web" 2>/dev/null
[ $? -eq 2 ] || fail "a bad format must exit 2"
"$runner" --export html x.html "$work/none.tvx" 2>/dev/null
[ $? -eq 2 ] || fail "an unreadable web must exit 2"
"$runner" --export html "$work/no/such/dir/x.html" "$web" 2>/dev/null
[ $? -eq 1 ] || fail "an unwritable output must exit 1"
echo ok
