#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, quietly skipping
# everything when they are all present. Sourced by run.sh and test.sh.
tarvex_packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libqscintilla2-qt6-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format libclang-rt-14-dev
  locales xvfb xauth
  libgraphviz-dev libxml2-dev cmark graphviz
  dpkg-dev desktop-file-utils appstream
)

tarvex_ensure_packages() {
  local missing=() p
  for p in "${tarvex_packages[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q >/dev/null || return 1
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null || return 1
}
