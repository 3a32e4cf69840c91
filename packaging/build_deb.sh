#!/usr/bin/env bash
# Makes the Debian packages the way Debian builds its own: the program (zelkgen), the tone
# generator's library (libzelkgen-tonegen2) and its development files (libzelkgen-tonegen-dev),
# from one build without the tests, compiled and linked
# with the flags dpkg-buildflags gives (all hardening on), and every time stamp taken from
# SOURCE_DATE_EPOCH (the last commit's time unless set), so that two builds of one commit in
# different folders give the same .deb byte for byte.
#
#   packaging/build_deb.sh [BUILD_DIR [CMAKE_OPTION ...]]
#
# BUILD_DIR (default build/package) receives the build and the .deb files. dpkg-buildflags maps the
# source folder to "." in what the compiler records, so a BUILD_DIR inside it keeps the folder's
# name out of the program.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:-$source_dir/build/package}")
if [ $# -gt 0 ]; then shift; fi

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  # Without git (a source tarball), the newest changelog entry's date, as Debian takes it.
  SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null ||
    dpkg-parsechangelog -l "$source_dir/packaging/changelog" -STimestamp)
fi
export SOURCE_DATE_EPOCH

# The resource compiler writes SOURCE_DATE_EPOCH into the program and reruns only when its
# files change: a build folder made at another time is started afresh.
if [ -f "$build_dir/CMakeCache.txt" ] &&
  [ "$(cat "$build_dir/source_date_epoch" 2>/dev/null)" != "$SOURCE_DATE_EPOCH" ]; then
  rm -rf "$build_dir"
fi
mkdir -p "$build_dir"
echo "$SOURCE_DATE_EPOCH" >"$build_dir/source_date_epoch"

# dpkg-buildflags takes the folder it runs in as the one to map.
cd "$source_dir"
export DEB_BUILD_MAINT_OPTIONS=${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}
# CMake reads no CPPFLAGS: the preprocessor's flags go with the compiler's.
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# Installed under /usr, so that the library goes to the multiarch folder (/usr/lib/<triplet>).
# Linked as installed, without the build folder as the program's library path: removing that at
# install leaves its text behind in the program, and with it the folder's name.
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE= -DZELKGEN_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" "$@"
cmake --build "$build_dir"
cd "$build_dir"
cpack -G DEB

# CPack calls ldconfig from the library package's maintainer scripts; Debian has dpkg's ldconfig
# trigger do that instead. The package is opened, given the trigger in place of the scripts and
# closed again, every time stamp at SOURCE_DATE_EPOCH as before.
library_deb=$(echo libzelkgen-tonegen[0-9]*_*.deb)
unpacked=$build_dir/library-deb
rm -rf "$unpacked"
dpkg-deb -R "$library_deb" "$unpacked"
rm -f "$unpacked/DEBIAN/postinst" "$unpacked/DEBIAN/postrm"
echo "activate-noawait ldconfig" >"$unpacked/DEBIAN/triggers"
chmod 0644 "$unpacked/DEBIAN/triggers"
find "$unpacked" -newermt "@$SOURCE_DATE_EPOCH" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
dpkg-deb --root-owner-group -b "$unpacked" "$library_deb" >/dev/null
rm -rf "$unpacked"
