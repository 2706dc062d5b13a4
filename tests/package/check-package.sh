#!/usr/bin/env bash
# Checks the Debian package: check-package.sh FILE.deb, or check-package.sh --build BUILD_DIR
# to make it first with CPack from that build. The package is unpacked into a scratch root
# (dpkg -x), where both programs must answer --version without a display, every file a
# desktop and the shells look for must be in place, and the desktop entry and metainfo must
# validate. Exits 77 (skipped) when the packaging tools are missing.
set -euo pipefail

for tool in dpkg-deb dpkg-shlibdeps file cpack; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: the package is not checked" >&2
    exit 77
  fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kav-package-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
if [ "$1" = --build ]; then
  cpack -G DEB --config "$2/CPackConfig.cmake" -B "$scratch/cpack" >/dev/null
  deb=$(ls "$scratch"/cpack/kav-graphic-converter_*.deb)
else
  deb=$1
fi

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

root="$scratch/root"
dpkg -x "$deb" "$root"
version=$(dpkg-deb -f "$deb" Version)
grep -q '^Depends: .*libqt6widgets6' <(dpkg-deb -f "$deb") || fail "no Qt dependency computed"

# No display, no platform chosen: --help and --version must not need one.
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
[ "$(run "$root/usr/bin/kav-graphic-converter" --version)" = "kav-graphic-converter $version" ] ||
  fail "kav-graphic-converter --version"
[ "$(run "$root/usr/bin/kavconv" --version)" = "$version" ] || fail "kavconv --version"

id=org.kav.GraphicConverter
for file in usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
  usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/$id.png \
  usr/share/icons/hicolor/scalable/apps/$id.svg \
  usr/share/man/man1/kavconv.1.gz usr/share/man/man1/kav-graphic-converter.1.gz \
  usr/share/bash-completion/completions/kavconv usr/share/zsh/vendor-completions/_kavconv \
  usr/share/fish/vendor_completions.d/kavconv.fish usr/include/kav/kav_formats.h \
  usr/share/cmake/KavFormats/KavFormatsConfig.cmake usr/share/cmake/KavFormats/KavAddAssets.cmake \
  usr/share/pkgconfig/kav-formats.pc \
  usr/share/doc/kav-graphic-converter/copyright usr/share/doc/kav-graphic-converter/changelog.gz; do
  [ -s "$root/$file" ] || fail "not in the package: $file"
done
file "$root"/usr/bin/* | grep -v ', stripped' && fail "binaries not stripped"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "metainfo"
fi
echo "$(basename "$deb"): both programs run from the unpacked package, every file in place"
