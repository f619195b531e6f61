#!/usr/bin/env bash
# Builds the Debian package of Tarvex: a Release build in BUILD_DIR (default
# build-deb), installed under /usr and packed by CPack's DEB generator, its
# dependencies read from the linked libraries. Prints the package's path.
#   tools/make-deb.sh [BUILD_DIR]
# Install it with `apt install ./tarvex_*.deb`; `apt remove tarvex` removes it.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
build=${1:-build-deb}
command -v dpkg-shlibdeps >/dev/null || {
  echo "make-deb.sh: dpkg-shlibdeps is missing (install dpkg-dev)" >&2
  exit 1
}
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVEX_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tarvex tarvex-run
(cd "$build" && cpack -G DEB >/dev/null)
ls -1t "$build"/tarvex_*.deb | head -n 1
