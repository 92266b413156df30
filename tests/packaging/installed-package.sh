#!/usr/bin/env bash
# Unpacks the .deb into a fresh root and uses what it installed: the converter
# on the sample export, the window's command line, the man pages, the menu
# entry and metainfo together.
# Usage: installed-package.sh PACKAGE.deb ROOT SAMPLE_EXPORT VERSION
set -euo pipefail
deb=$1 root=$2 sample=$3 version=$4
fail() { echo "FAIL: $*" >&2; exit 1; }

# apt resolves the computed dependencies (a simulation: the machine is left as it is).
apt-get install --simulate -o Debug::NoLocking=1 "$(realpath "$deb")" >/dev/null ||
  fail "apt-get can't resolve the package's dependencies"
# Computed from the programs' libraries: libarchive reads zipped exports.
dpkg-deb -f "$deb" Depends | grep -q 'libarchive13' || fail "the package doesn't depend on libarchive13"
rm -rf "$root" && mkdir -p "$root"
dpkg -x "$deb" "$root/tree"
usr=$root/tree/usr
for file in bin/notara2inkvale bin/notara2inkvale-cli \
    "share/notara2inkvale/Sheet Template.inkvale/Content.xml" \
    share/man/man1/notara2inkvale.1.gz share/man/man1/notara2inkvale-cli.1.gz \
    share/applications/net.notara2inkvale.converter.desktop \
    share/icons/hicolor/scalable/apps/net.notara2inkvale.converter.svg \
    share/metainfo/net.notara2inkvale.converter.metainfo.xml \
    share/bash-completion/completions/notara2inkvale-cli share/bash-completion/completions/notara2inkvale \
    share/zsh/vendor-completions/_notara2inkvale \
    share/fish/vendor_completions.d/notara2inkvale-cli.fish share/fish/vendor_completions.d/notara2inkvale.fish \
    share/doc/notara2inkvale/copyright share/doc/notara2inkvale/changelog.gz; do
  [ -f "$usr/$file" ] || fail "the package lacks /usr/$file"
done

# The installed converter finds its template under the install prefix, not the build tree.
export TMPDIR=$root/tmp
mkdir -p "$TMPDIR"
status=0
moved=$(env -u NI_RESOURCE_DIR "$usr/bin/notara2inkvale-cli" -o "$root/out" "$sample") || status=$?
[ "$status" -eq 0 ] || fail "notara2inkvale-cli exited with $status"
[ "$moved" = "$root/out/Notara Export" ] || fail "unexpected output path: $moved"
sheets=$(find "$root/out/Notara Export" -name '*.inkvale' -type d | wc -l)
[ "$sheets" -eq 13 ] || fail "expected 13 sheets from the sample export, found $sheets"
[ -z "$(ls -A "$TMPDIR/net.notara2inkvale.converter")" ] || fail "the run left files in TMPDIR"

# The window answers --help and --version with no display at all.
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
[ "$("${nodisplay[@]}" "$usr/bin/notara2inkvale" --version)" = "notara2inkvale $version" ] ||
  fail "notara2inkvale --version"
"${nodisplay[@]}" "$usr/bin/notara2inkvale" --help | grep -q -- '--version' || fail "notara2inkvale --help"

# The pages read as installed, compressed (the sources are linted in full by their own test).
for page in "$usr"/share/man/man1/*.1.gz; do mandoc -T lint -W warning "$page" || fail "mandoc -T lint $page"; done
appstreamcli validate-tree --no-net --strict "$root/tree" || fail "appstreamcli validate-tree"
grep -qx 'Exec=notara2inkvale %f' "$usr/share/applications/net.notara2inkvale.converter.desktop" ||
  fail "the menu entry doesn't start the window on a folder"
echo "Installed package OK: $sheets sheets"
