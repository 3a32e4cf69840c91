#!/usr/bin/env bash
# Shared set-up behind ./run and ./test: install the Debian packages that are missing, then
# configure build/. Safe to run again: apt is skipped when nothing is missing and the build only
# redoes what changed.
set -euo pipefail

ZELKGEN_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What building and running the program needs (./run).
ZELKGEN_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
  qt6-serialport-dev libsdl2-dev libpulse-dev libjpeg62-turbo-dev libsndfile1-dev libxcb1-dev)
# What every test and benchmark uses besides (./test): GoogleTest and Google Benchmark, the tools
# that check exports (sox, flac), the private X display with a window manager, the mocked desktop
# services, the load generator, the package's makers and checkers (hardening-check comes with
# devscripts) and the second compiler.
ZELKGEN_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev sox flac xvfb xdotool openbox
  wmctrl dbus-daemon python3-dbusmock stress-ng dpkg-dev file lintian devscripts appstream
  desktop-file-utils clang libclang-rt-14-dev)

package_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# A private PulseAudio serves the sound tests; where another sound server package already
# provides PulseAudio (pipewire-pulse), installing pulseaudio would fight it, so those tests skip.
sound_server_packages() {
  if package_installed pipewire-pulse; then
    return
  fi
  echo pulseaudio pulseaudio-utils
}

install_missing_packages() {
  local missing=()
  local p
  for p in "$@"; do
    package_installed "$p" || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return
  fi
  echo "Installing missing Debian packages: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  "${sudo[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

# Configures build/ (RelWithDebInfo) when it is new or lacks one of the given cache settings
# (NAME=VALUE).
configure_zelkgen() {
  local build_dir="$ZELKGEN_ROOT/build"
  local configure=0 setting
  [ -f "$build_dir/build.ninja" ] || configure=1
  for setting in "$@"; do
    grep -qx "${setting%%=*}:[A-Z]*=${setting#*=}" "$build_dir/CMakeCache.txt" 2>/dev/null ||
      configure=1
  done
  if [ $configure -eq 1 ]; then
    cmake -S "$ZELKGEN_ROOT" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${@/#/-D}"
  fi
}
