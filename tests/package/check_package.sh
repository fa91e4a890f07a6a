#!/bin/sh
# Builds the Debian package of a finished build into a scratch folder, unpacks
# it there (it is never installed) and checks what a user's machine would get:
# the file list, the desktop entry and AppStream metadata, the control fields,
# the icon, the programs' RUNPATH, lintian's verdict, and that the unpacked
# orven-setup starts with no help from the environment and shows its window.
#
# Usage: check_package.sh CPACK BUILD_DIR ISOLATED_NET VERSION
set -u
if [ "${1:-}" = --window ]; then
  # Inside the private network namespace: a virtual display, the unpacked
  # program with a minimal environment (no library path), and a wait for its
  # main window to be mapped there.
  root=$2 work=$3
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  i=0
  while [ ! -s "$work/display" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
  [ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; kill $xvfb; exit 1; }
  display=":$(cat "$work/display")"
  mkdir -p "$work/home" "$work/runtime" && chmod 700 "$work/runtime"
  env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" DISPLAY="$display" \
      QT_QPA_PLATFORM=xcb "$root/usr/bin/orven-setup" >"$work/orven-setup.log" 2>&1 &
  app=$!
  shown=no i=0
  while [ $i -lt 120 ] && kill -0 $app 2>/dev/null; do
    id=$(DISPLAY=$display LC_ALL=C.UTF-8 xwininfo -root -tree 2>/dev/null |
         awk '/"ORVEN网络设备现场设置程序": \("orven-setup" "orven-setup"\)  548x434/ { print $1; exit }')
    if [ -n "$id" ] && DISPLAY=$display xwininfo -id "$id" | grep -q "Map State: IsViewable"; then
      shown=yes
      break
    fi
    sleep 0.5; i=$((i + 1))
  done
  { kill $app; wait $app; kill $xvfb; wait $xvfb; } 2>/dev/null
  if [ $shown = no ]; then
    echo "FAIL: the main window of the unpacked orven-setup did not show; its output:"
    cat "$work/orven-setup.log"
    exit 1
  fi
  exit 0
fi

CPACK=$1 BUILD=$2 ISOLATED_NET=$3 VERSION=$4
work="$BUILD/package-test"
root="$work/root"
deb="$work/out/orven-setup_${VERSION}_amd64.deb"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$work" && mkdir -p "$work"
if ! "$CPACK" --config "$BUILD/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || [ ! -f "$deb" ]; then
  cat "$work/cpack.log"
  echo "FAIL: no $deb"
  exit 1
fi
dpkg-deb -x "$deb" "$root" || exit 1

(cd "$root" && find . ! -type d | sort) >"$work/files"
cat >"$work/files.expected" <<'LIST'
./usr/bin/orven-cli
./usr/bin/orven-devsim
./usr/bin/orven-setup
./usr/lib/orven-setup/libORVENAPI3.so
./usr/share/applications/com.orven.OrvenSetup.desktop
./usr/share/doc/orven-setup/changelog.gz
./usr/share/doc/orven-setup/copyright
./usr/share/icons/hicolor/48x48/apps/orven-setup.png
./usr/share/icons/hicolor/scalable/apps/orven-setup.svg
./usr/share/man/man1/orven-cli.1.gz
./usr/share/man/man1/orven-devsim.1.gz
./usr/share/man/man1/orven-setup.1.gz
./usr/share/metainfo/com.orven.OrvenSetup.metainfo.xml
LIST
diff -u "$work/files.expected" "$work/files" || fail "the package's file list differs (- expected, + packaged)"

desktop-file-validate "$root/usr/share/applications/com.orven.OrvenSetup.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.orven.OrvenSetup.metainfo.xml" || fail "appstreamcli validate"
grep -q "<release version=\"$VERSION\"" "$root/usr/share/metainfo/com.orven.OrvenSetup.metainfo.xml" ||
  fail "the AppStream metadata has no release $VERSION"
zcat "$root/usr/share/doc/orven-setup/changelog.gz" | head -n 1 | grep -q "^orven-setup ($VERSION)" ||
  fail "the changelog's newest entry is not $VERSION"
file "$root/usr/share/icons/hicolor/48x48/apps/orven-setup.png" | grep -q "PNG image data, 48 x 48" ||
  fail "the PNG icon is not 48x48: $(file "$root/usr/share/icons/hicolor/48x48/apps/orven-setup.png")"

dpkg-deb -I "$deb" >"$work/control"
grep -qx " Package: orven-setup" "$work/control" || fail "package name"
grep -qx " Version: $VERSION" "$work/control" || fail "version is not $VERSION"
grep -qx " Architecture: amd64" "$work/control" || fail "architecture"
for dep in fonts-wqy-zenhei libc6 libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6; do
  grep -q "^ Depends:.*\b$dep\b" "$work/control" || fail "Depends lacks $dep"
done

# Each program finds the library in the package's own folder, wherever the
# package is unpacked, and nothing of the build tree.
for program in orven-setup orven-devsim orven-cli; do
  runpath=$(readelf -d "$root/usr/bin/$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [ "$runpath" = '$ORIGIN/../lib/orven-setup' ] || fail "$program: RUNPATH is '$runpath'"
  env -i ldd "$root/usr/bin/$program" >"$work/ldd-$program" 2>&1
  grep -q "libORVENAPI3.so => $root/usr/bin/../lib/orven-setup/libORVENAPI3.so" "$work/ldd-$program" &&
    ! grep -q "not found" "$work/ldd-$program" || { cat "$work/ldd-$program"; fail "$program: libraries not resolved"; }
done

"$ISOLATED_NET" sh "$0" --window "$root" "$work" || fail "orven-setup did not start from the unpacked package"

lintian --allow-root --fail-on error "$deb" >"$work/lintian.log" 2>&1 || fail "lintian reports errors"
cat "$work/lintian.log"

[ $failures -eq 0 ] || exit 1
echo "package checked: $deb"
