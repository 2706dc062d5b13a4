#!/usr/bin/env bash
# Checks the Debian package: check-package.sh FILE.deb, or check-package.sh --build BUILD_DIR
# to make it first with CPack from that build. The package is unpacked into a scratch root
# (dpkg -x), where the three programs must answer --version without a display, every file a
# desktop and the shells look for must be in place, the desktop entries and metainfo must
# validate, the package's file types must name converted files (and no other .rle file) in a
# scratch mime database, where the viewer's entry opens each of them, and its thumbnailer
# entry must draw a thumbnail. Exits 77 (skipped)
# when the packaging or mime tools are missing.
set -euo pipefail

for tool in dpkg-deb dpkg-shlibdeps file cpack update-mime-database; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: the package is not checked" >&2
    exit 77
  fi
done
mime_tools=()
for tool in mimetype gio; do
  command -v "$tool" >/dev/null && mime_tools+=("$tool")
done
if [ ${#mime_tools[@]} -eq 0 ]; then
  echo "neither mimetype nor gio is installed: the package is not checked" >&2
  exit 77
fi
samples=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../samples" && pwd)

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
[ "$(run "$root/usr/bin/kav-view" --version)" = "kav-view $version" ] || fail "kav-view --version"
[ "$(run "$root/usr/bin/kavconv" --version)" = "$version" ] || fail "kavconv --version"

id=org.kav.GraphicConverter
viewer=org.kav.Viewer
for file in usr/share/applications/{$id,$viewer}.desktop usr/share/metainfo/$id.metainfo.xml \
  usr/share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/{$id,$viewer}.png \
  usr/share/icons/hicolor/scalable/apps/{$id,$viewer}.svg \
  usr/share/man/man1/{kavconv,kav-graphic-converter,kav-view}.1.gz \
  usr/share/bash-completion/completions/kavconv usr/share/zsh/vendor-completions/_kavconv \
  usr/share/fish/vendor_completions.d/kavconv.fish usr/include/kav/kav_formats.h \
  usr/share/cmake/KavFormats/KavFormatsConfig.cmake usr/share/cmake/KavFormats/KavAddAssets.cmake \
  usr/share/pkgconfig/kav-formats.pc usr/share/mime/packages/$id.xml \
  usr/share/thumbnailers/kav.thumbnailer \
  usr/share/doc/kav-graphic-converter/copyright usr/share/doc/kav-graphic-converter/changelog.gz; do
  [ -s "$root/$file" ] || fail "not in the package: $file"
done
file "$root"/usr/bin/* | grep -v ', stripped' && fail "binaries not stripped"

if command -v desktop-file-validate >/dev/null; then
  for entry in $id $viewer; do
    desktop-file-validate "$root/usr/share/applications/$entry.desktop" || fail "$entry.desktop"
  done
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "metainfo"
fi

# The file types, in a scratch database of the system's types and the package's (as installing
# it makes), asked by each tool for converted files and a .rle file of another kind.
data="$scratch/data"
mkdir -p "$data/mime/packages" "$scratch/home" "$scratch/files"
cp "$root/usr/share/mime/packages/$id.xml" /usr/share/mime/packages/freedesktop.org.xml \
  "$data/mime/packages/"
XDG_DATA_HOME="$scratch/home" XDG_DATA_DIRS="$data" update-mime-database "$data/mime"
files="$scratch/files"
# RLE and RLS files are both named .RLE.
for output in rle:rle.RLE rls:rls.RLE mzr:wide.MZR; do
  run "$root/usr/bin/kavconv" convert -q -f "${output%%:*}" "$samples/wide.bmp" \
    -o "$files/${output#*:}"
done
printf 'not a KAV picture' >"$files/other.rle"
type_of() {
  if [ "$1" = mimetype ]; then
    XDG_DATA_HOME="$scratch/home" XDG_DATA_DIRS="$data" mimetype -b "$2"
  else
    XDG_DATA_HOME="$scratch/home" XDG_DATA_DIRS="$data" gio info -a standard::content-type "$2" |
      sed -n 's/^ *standard::content-type: //p'
  fi
}
for tool in "${mime_tools[@]}"; do
  for pair in rle.RLE=application/x-kav-rle rls.RLE=application/x-kav-rls \
    wide.MZR=application/x-kav-mzr other.rle=image/rle; do
    type=$(type_of "$tool" "$files/${pair%%=*}")
    [ "$type" = "${pair#*=}" ] || fail "$tool names ${pair%%=*} $type, not ${pair#*=}"
  done
done

# Double-clicking a converted file opens the viewer: in a scratch desktop holding the package's
# entries, gio names the viewer's entry (%F: several files at once) the default application for
# each KAV type, and the dialog's for BMP files. gio lists an entry only when its program is on
# the PATH.
grep -q '^Exec=kav-view %F$' "$root/usr/share/applications/$viewer.desktop" ||
  fail "the viewer's entry does not run kav-view %F"
if command -v gio >/dev/null && command -v update-desktop-database >/dev/null; then
  mkdir -p "$data/applications"
  cp "$root"/usr/share/applications/*.desktop "$data/applications/"
  update-desktop-database "$data/applications"
  for pair in application/x-kav-mzr=$viewer application/x-kav-rle=$viewer \
    application/x-kav-rls=$viewer image/bmp=$id; do
    default=$(PATH="$root/usr/bin:$PATH" XDG_DATA_HOME="$scratch/home" XDG_DATA_DIRS="$data" \
      gio mime "${pair%%=*}" | sed -n 's/^Default application for .*: //p')
    [ "$default" = "${pair#*=}.desktop" ] ||
      fail "${pair%%=*} opens with '$default', not ${pair#*=}.desktop"
  done
fi

# The thumbnailer's command line, as a file manager runs it: %s the size, %i the file, %o the
# PNG to write.
read -ra command <<<"$(sed -n 's/^Exec=//p' "$root/usr/share/thumbnailers/kav.thumbnailer")"
for i in "${!command[@]}"; do
  case ${command[i]} in
    %s) command[i]=64 ;;
    %i) command[i]="$files/rle.RLE" ;;
    %o) command[i]="$scratch/thumbnail.png" ;;
  esac
done
PATH="$root/usr/bin:$PATH" run "${command[@]}"
file "$scratch/thumbnail.png" | grep -q 'PNG image data, 64 x 14, 8-bit/color RGBA' ||
  fail "the thumbnailer drew no 64 x 14 thumbnail"
echo "$(basename "$deb"): the programs run from the unpacked package, every file in place," \
  "the file types, the viewer's entry and the thumbnailer work"
