#!/usr/bin/env bash
# Validates the desktop entry and the AppStream file where the validators are
# installed, then packs the build folder as a Debian package and checks what
# it holds and needs, and that its binaries run from an unpacked root: the
# runner (with the plot module found beside it) and the application.
#   check_package.sh SOURCE_DIR BUILD_DIR
set -u
src=$(realpath "$1")
build=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$src/shell/tarvex.desktop" || fail "desktop entry"
else
  echo "desktop-file-validate not installed: desktop entry not validated"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$src"/packaging/*.metainfo.xml || fail "AppStream file"
else
  echo "appstreamcli not installed: AppStream file not validated"
fi

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v $tool >/dev/null || { echo "$tool not installed: no package built"; exit 0; }
done
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >cpack.log 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/tarvex_*_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no package in $work/out"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqscintilla2-qt6 libgvc6 libstdc++6; do
  [[ $depends == *$lib* ]] || fail "Depends lacks $lib: $depends"
done
contents=$(dpkg-deb -c "$deb")
for f in usr/bin/tarvex usr/bin/tarvex-run usr/lib/tarvex/tarvex-run-plot.so \
  usr/share/applications/tarvex.desktop usr/share/metainfo/org.tarvex.tarvex.metainfo.xml \
  usr/share/mime/packages/tarvex.xml usr/share/icons/hicolor/scalable/apps/tarvex.svg \
  usr/share/man/man1/tarvex-run.1; do
  grep -q "\./$f\$" <<<"$contents" || fail "package lacks /$f"
done
grep -q '\./usr/local\|\./home\|\./work' <<<"$contents" && fail "package holds paths outside /usr"

root=$work/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
cd "$work"
"$root/usr/bin/tarvex-run" --version | grep -q '^tarvex-run [0-9]' || fail "tarvex-run --version"
"$root/usr/bin/tarvex-run" -c home --plot=curve.png "$src/examples/curve.tvx" >/dev/null ||
  fail "tarvex-run --plot from the unpacked root"
[ "$(head -c 4 curve.png | tail -c 3)" = PNG ] || fail "--plot wrote no PNG"
timeout 10 "$root/usr/bin/tarvex" --version | grep -q '^tarvex [0-9]' || fail "tarvex --version"
# The application starts and keeps running until stopped (it has no batch mode).
HOME=$work XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=offscreen timeout 5 "$root/usr/bin/tarvex" >app.log 2>&1
[ $? -eq 124 ] || { cat app.log; fail "the application did not start"; }
echo ok
