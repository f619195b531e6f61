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
  # Without a display Qt would only print a plugin error: say what to do.
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): run webs with build/cli/tarvex-run WEB.tvx, or start the application under a virtual display with: xvfb-run ./run.sh" >&2
    exit 1
  fi
  exec build/shell/tarvex "${1:-examples/tour.tvx}"
fi
echo "Built: $(ls build/libtarvex_core.a build/cli/tarvex-run 2>/dev/null | tr '\n' ' ')"
echo "The desktop application is not part of this build yet."
