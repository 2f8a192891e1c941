#!/usr/bin/env bash
# Installs a configured and built tree into a fresh prefix and checks what a
# desktop needs: the executable, the menu entry, the icons at every size and the
# AppStream data, each validated by the freedesktop tools.
#   check_install.sh BUILD_DIR PREFIX VERSION HAS_EXECUTABLE(0|1)
set -euo pipefail
build="$1" prefix="$2" version="$3" has_exe="$4"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
share="$prefix/share"

if [ "$has_exe" = 1 ]; then
  [ -x "$prefix/bin/vurma" ] || bad "bin/vurma missing or not executable"
  out="$(QT_QPA_PLATFORM=offscreen timeout 20 "$prefix/bin/vurma" --version 2>/dev/null || true)"
  [ "$out" = "Vurma $version" ] || bad "vurma --version printed '$out', expected 'Vurma $version'"
else
  echo "note: no vurma target in this build, executable not checked"
fi

desktop="$share/applications/vurma.desktop"
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || bad "desktop-file-validate rejects vurma.desktop"
  grep -qx 'Exec=vurma %f' "$desktop" || bad "vurma.desktop does not start 'vurma %f'"
  grep -qx 'Icon=vurma' "$desktop" || bad "vurma.desktop does not name the icon 'vurma'"
  grep -q '^MimeType=.*audio/x-wav;' "$desktop" || bad "vurma.desktop does not claim WAV files"
else
  bad "share/applications/vurma.desktop missing"
fi

for size in 16 22 24 32 48 64 128 256; do
  icon="$share/icons/hicolor/${size}x${size}/apps/vurma.png"
  if [ -f "$icon" ]; then
    file -b "$icon" | grep -q "^PNG image data, $size x $size," ||
      bad "$icon is not a ${size}x${size} PNG: $(file -b "$icon")"
  else
    bad "icon missing: $icon"
  fi
done
svg="$share/icons/hicolor/scalable/apps/vurma.svg"
[ -f "$svg" ] && grep -q '<svg' "$svg" || bad "scalable icon missing: $svg"

metainfo="$share/metainfo/vurma.metainfo.xml"
if [ -f "$metainfo" ]; then
  appstreamcli validate --no-net "$metainfo" || bad "appstreamcli rejects vurma.metainfo.xml"
  grep -q "<release version=\"$version\"" "$metainfo" ||
    bad "vurma.metainfo.xml has no release entry for $version"
  grep -q '<launchable type="desktop-id">vurma.desktop</launchable>' "$metainfo" ||
    bad "vurma.metainfo.xml does not launch vurma.desktop"
else
  bad "share/metainfo/vurma.metainfo.xml missing"
fi

copyright="$share/doc/vurma/copyright"
if [ -f "$copyright" ]; then
  for licence in Expat LGPL-3 LGPL-2.1+; do
    grep -q -- "$licence" "$copyright" || bad "copyright does not name $licence"
  done
else
  bad "share/doc/vurma/copyright missing"
fi

[ "$fail" = 0 ] && echo "install tree under $prefix is complete"
exit "$fail"
