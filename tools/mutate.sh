#!/bin/bash
# Applies each fault of a list to the source tree, one at a time, rebuilds
# the engine tests, runs them and puts the files back; reports the faults no
# test catches (a survivor is a missing test or code that does nothing).
#
#   tools/mutate.sh [-b BUILD_DIR] [-l LIST] [FAULT...]
#
# BUILD_DIR (default $TARVEX_BUILD or build) is a configured build tree of
# this source tree; its tarvex_engine_tests target is rebuilt for every fault.
# LIST (default tools/mutations.txt) holds one edit a line, fields separated
# by tabs:
#
#   fault-name <TAB> file <TAB> exact text <TAB> replacement
#
# Lines sharing a name make one fault (applied together); "\n" in a text
# stands for a line break; a line starting with '#' is a comment. The text
# must occur exactly once in its file, so that a list gone stale with the
# code is reported, not silently skipped. With FAULT names, only those run.
#
# Exit status: 0 when every fault was caught, 1 when one survived or could
# not be applied, 2 on a usage error.
set -u

here=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVEX_BUILD:-build}
list=$here/tools/mutations.txt
while getopts "b:l:" opt; do
    case $opt in
    b) build=$OPTARG ;;
    l) list=$OPTARG ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
case $build in /*) ;; *) build=$here/$build ;; esac
if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "mutate.sh: $build is not a configured build tree" >&2
    exit 2
fi
tests=$build/tests/tarvex_engine_tests
test_timeout=${MUTATE_TIMEOUT:-300}

# Every fault name, in list order.
mapfile -t names < <(awk -F'\t' '!/^#/ && NF >= 4 && !seen[$1]++ {print $1}' "$list")
if [ $# -gt 0 ]; then names=("$@"); fi

backup=$(mktemp -d)
trap 'restore; rm -rf "$backup"' EXIT
trap 'exit 130' INT TERM
touched=()

restore() {
    local f
    for f in "${touched[@]}"; do cp "$backup/$(echo "$f" | tr / _)" "$here/$f"; done
    touched=()
}

# Applies one edit; fails when the text is not found exactly once.
apply_edit() {
    local file=$1 find=$2 repl=$3
    local key
    key=$(echo "$file" | tr / _)
    if [ ! -f "$backup/$key" ] || [[ ! " ${touched[*]} " == *" $file "* ]]; then
        cp "$here/$file" "$backup/$key" || return 1
        touched+=("$file")
    fi
    FIND=$find REPL=$repl perl -0777 -i -e '
        my ($f, $r) = ($ENV{FIND}, $ENV{REPL});
        s/\\n/\n/g for ($f, $r);
        local $/; my $s = <>;
        my $n = () = $s =~ /\Q$f\E/g;
        if ($n != 1) { print $s; print STDERR "found $n times\n"; exit 3 }
        $s =~ s/\Q$f\E/$r/;
        print $s;' "$here/$file"
}

caught=() survived=() broken=()
for name in "${names[@]}"; do
    applied=1
    while IFS=$'\t' read -r n file find repl; do
        [ "$n" = "$name" ] || continue
        # Not in a subshell: apply_edit records the files it touched.
        if ! apply_edit "$file" "$find" "$repl" 2>"$backup/apply.log"; then
            echo "$name: cannot apply to $file: $(cat "$backup/apply.log")"
            applied=0
        fi
    done < <(grep -v '^#' "$list")
    if [ ${#touched[@]} -eq 0 ] || [ $applied -eq 0 ]; then
        restore
        broken+=("$name")
        echo "$name: NOT APPLIED"
        continue
    fi
    if ! cmake --build "$build" --target tarvex_engine_tests >"$backup/build.log" 2>&1; then
        restore
        caught+=("$name")
        echo "$name: caught (does not build)"
        continue
    fi
    out=$(cd "$build/tests" && timeout "$test_timeout" "$tests" --gtest_fail_fast --gtest_brief=1 2>&1)
    status=$?
    restore
    if [ $status -eq 0 ]; then
        survived+=("$name")
        echo "$name: SURVIVED"
    else
        by=$(echo "$out" | grep -m1 -o '\[  FAILED  \] [A-Za-z0-9_/.]*' | cut -c14-)
        [ $status -eq 124 ] && by="time-out"
        [ -z "$by" ] && by="exit status $status"
        caught+=("$name")
        echo "$name: caught by $by"
    fi
done
restore
# Leaves the build as the sources are.
cmake --build "$build" --target tarvex_engine_tests >/dev/null 2>&1

echo "caught ${#caught[@]}, survived ${#survived[@]}, not applied ${#broken[@]}"
[ ${#survived[@]} -eq 0 ] && [ ${#broken[@]} -eq 0 ]
