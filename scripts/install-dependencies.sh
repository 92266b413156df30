#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, when missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build           # compiler and build
  libicu-dev                      # Unicode text, normalisation, word breaks, locale dates
  libpugixml-dev                  # Content.xml
  nlohmann-json3-dev              # the conversion report (JSON)
  libarchive-dev                  # zipped exports, read as a stream
  qt6-base-dev                    # the desktop window
  libgtest-dev                    # tests
  libbenchmark-dev                # micro-benchmarks
  libxml2-utils                   # xmllint: an independent check of every Content.xml we write
  dbus                            # dbus-daemon: a private session bus for the file-manager test
  mount                           # mount: a small tmpfs in a private namespace, for the full-disk tests
  dosfstools                      # mkfs.vfat: a FAT image for the test of names such disks take
  time                            # /usr/bin/time: CPU times and peak memory in bench/run.sh
  libarchive-tools                # bsdtar: the zipped exports that bench/run.sh times
  clang libclang-rt-14-dev        # libFuzzer targets
  dpkg-dev                        # dpkg-shlibdeps: the .deb's computed dependencies
  lintian                         # checks the .deb
  mandoc                          # mandoc -T lint on the man pages
  desktop-file-utils              # desktop-file-validate on the menu entry
  appstream                       # appstreamcli validate on the metainfo
  bash-completion zsh fish        # the completion tests load each shell's completion
  xvfb xdotool imagemagick        # packaging/screenshot.sh: the metainfo's screenshot
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
fi
