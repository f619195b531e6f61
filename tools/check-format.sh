#!/usr/bin/env bash
# Checks that the C++ lines changed since a base commit are formatted as
# .clang-format says; prints clang-format's diff and fails when they are not.
# Lines no change touched are left alone, so older code needs no reformat.
#   tools/check-format.sh [BRANCH-OR-COMMIT]
# The base is the merge base with the argument; without one, the commit named
# in tools/format-base, else HEAD~1. The working tree is checked: on a clean
# checkout that is what was committed, locally it includes edits to tracked
# files not yet committed. CLANG_FORMAT names the binary; the style is set for
# clang-format 14, which is preferred when several are installed.
set -euo pipefail
cd "$(dirname "$0")/.."

skip() {
  echo "format check skipped: $*"
  exit 0
}

cf=${CLANG_FORMAT:-}
if [ -z "$cf" ]; then
  cf=clang-format
  command -v clang-format-14 >/dev/null && cf=clang-format-14
fi
command -v "$cf" >/dev/null || skip "$cf is not installed"
git clang-format -h >/dev/null 2>&1 || skip "git clang-format is not installed"

if [ $# -gt 0 ]; then
  ref=$1
elif [ -s tools/format-base ]; then
  ref=$(awk '!/^[[:space:]]*#/ && NF { print $1; exit }' tools/format-base)
fi
ref=${ref:-HEAD~1}
# A shallow clone may lack the base, a first commit has none.
git rev-parse -q --verify "$ref^{commit}" >/dev/null || skip "no commit $ref here"
base=$(git merge-base "$ref" HEAD 2>/dev/null) || skip "no merge base with $ref"

# git clang-format 14 exits 0 whether or not it prints a diff (later versions
# exit 1 after one), and 2 on errors: the diff itself tells.
rc=0
out=$(git -c color.ui=never clang-format -q --binary "$cf" --extensions cpp,h,cc,hpp --diff "$base") ||
  rc=$?
short=$(git rev-parse --short "$base")
if [ "$rc" -gt 1 ]; then
  printf '%s\n' "$out" >&2
  echo "format check: git clang-format failed ($rc)" >&2
  exit 2
fi
if grep -q '^diff ' <<<"$out"; then
  printf '%s\n' "$out"
  echo "format check: lines changed since $short are not formatted; 'git clang-format -f $short' formats them" >&2
  exit 1
fi
echo "format check: lines changed since $short are formatted"
