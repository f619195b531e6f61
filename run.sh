#!/usr/bin/env bash
# Installs what is missing, builds, and opens Tarvex on the given web
# (default: the tour web in examples/).
set -euo pipefail
cd "$(dirname "$0")"
source tools/ensure-packages.sh
tarvex_ensure_packages
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ -x build/shell/tarvex ]; then
  exec build/shell/tarvex "${1:-examples/tour.tvx}"
fi
echo "Built: $(ls build/libtarvex_core.a build/cli/tarvex-run 2>/dev/null | tr '\n' ' ')"
echo "The desktop application is not part of this build yet."
