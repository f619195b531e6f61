#!/bin/sh
# Checks the folder layering. The README's layout table lists the source
# folders bottom up; a folder may include only the folders listed before it.
# Prints every include that runs back up that order, and every source
# folder the table leaves out; exits 1 when there is any. The tests, the
# benchmarks and the fuzz targets stand above everything and are not read.
cd "$(dirname "$0")/.." || exit 2

order=$(sed -n '/^## Layout/,/^## [^L]/p' README.md |
    sed -n 's/^| `\([A-Za-z0-9_]*\)\/` |.*/\1/p' | grep -v '^tests$')
if [ -z "$order" ]; then
    echo "check-layers: no layout table in README.md" >&2
    exit 2
fi

rank_of() {
    echo "$order" | awk -v f="$1" '$0 == f { print NR; exit }'
}

faults=$(
    for dir in */; do
        dir=${dir%/}
        case $dir in tests | bench | fuzz | build* | docs | examples | tools) continue ;; esac
        [ -n "$(find "$dir" -name '*.cpp' -o -name '*.h' | head -n 1)" ] || continue
        [ -n "$(rank_of "$dir")" ] || echo "$dir/ is missing from the layout table"
    done
    rank=0
    for dir in $order; do
        rank=$((rank + 1))
        [ -d "$dir" ] || continue
        find "$dir" \( -name '*.cpp' -o -name '*.h' \) -print | sort | while read -r file; do
            sed -n 's/^#include "\([A-Za-z0-9_]*\)\/.*"$/\1/p' "$file" | sort -u |
                while read -r inc; do
                    [ "$inc" = "$dir" ] && continue
                    r=$(rank_of "$inc")
                    [ -z "$r" ] && continue
                    [ "$r" -gt "$rank" ] && echo "$file includes $inc/, which stands above $dir/"
                done
        done
    done
)

if [ -n "$faults" ]; then
    echo "$faults"
    exit 1
fi
echo "layers: each folder includes only the folders before it in:" $order
