#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the engine and
# application tests, then the engine tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source tools/ensure-packages.sh
tarvex_ensure_packages

# A comma locale proves that numbers ignore the process locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  sudo=(); [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
export TARVEX_COMMA_LOCALE=de_DE.UTF-8

echo "== format of changed lines"
tools/check-format.sh

jobs=$(nproc)
echo "== build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
echo "== tests"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs"

echo "== sanitizer build (address, undefined)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVEX_SANITIZE=ON -DTARVEX_GUI=OFF >/dev/null
cmake --build build-asan -j "$jobs"
echo "== sanitizer tests"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
echo "== fuzzing (each target for a short time)"
tools/fuzz.sh 20
echo "== all tests passed"
