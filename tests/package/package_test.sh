#!/usr/bin/env bash
# The Debian packages as a user gets them: packaging/build_deb.sh makes
# BUILD_DIR/package/zelkgen_<version>_<arch>.deb, libzelkgen-tonegen2_... and
# libzelkgen-tonegen-dev_... with Debian's flags (warnings as errors here), a second build from a
# copy of the sources in another folder must give the same files byte for byte, then their
# control fields, their file lists, their hardening, lintian, the AppStream metadata and the
# desktop entry are checked; the program installed from them into a throw-away root must start,
# offscreen and on a private Xvfb display, until its main window is there; and the library's
# example, built against that root once through pkg-config and once through CMake, must write
# the file `zelkgen tone --export` writes for the same settings.
#
#   package_test.sh SOURCE_DIR BUILD_DIR VERSION WINDOW_WATCH
#
# Every check runs and reports; the test fails if any did. Exit code 77 (a skip) only when a
# tool is missing that ./test would have installed.
set -euo pipefail
source_dir=$1 build=$2 version=$3 window_watch=$4

main_caption="Dr. Zelk frequency ganarator                 GENERAL VERSION"
app_id=org.zelkgen.Zelkgen

for tool in dpkg-buildflags dpkg-deb dpkg-shlibdeps lintian hardening-check appstreamcli \
  desktop-file-validate file Xvfb pkg-config c++; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing; ./test installs it (Debian packages dpkg-dev, lintian," \
      "devscripts, appstream, desktop-file-utils, file, xvfb)"
    exit 77
  fi
done

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

scratch=$(mktemp -d)
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# --- The package, twice ------------------------------------------------------------------------
arch=$(dpkg --print-architecture)
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
package_build=$build/package
library_package=libzelkgen-tonegen2
development_package=libzelkgen-tonegen-dev
packages=(zelkgen $library_package $development_package)
deb=$package_build/zelkgen_${version}_${arch}.deb
library_deb=$package_build/${library_package}_${version}_${arch}.deb
development_deb=$package_build/${development_package}_${version}_${arch}.deb
debs=("$deb" "$library_deb" "$development_deb")
rm -f "${debs[@]}"
if ! "$source_dir/packaging/build_deb.sh" "$package_build" -DZELKGEN_WERROR=ON \
  >"$scratch/build.log" 2>&1 || ! ls "${debs[@]}" >/dev/null 2>&1; then
  cat "$scratch/build.log"
  echo "FAIL: packaging/build_deb.sh did not make ${debs[*]}"
  exit 1
fi
for file in "${debs[@]}"; do echo "package: $file, $(stat -c %s "$file") bytes"; done

# The same sources in another folder, the same time stamp. Both folders are kept, so that a
# later run rebuilds only what changed.
copy=$build/package-elsewhere/zelkgen
mkdir -p "$copy"
find "$copy" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
excludes=(--exclude=./.git --exclude=./build --exclude='./build-*')
inside=$(realpath --relative-to="$source_dir" "$build")
if [[ $inside != ..* && $inside != . ]]; then excludes+=(--exclude="./$inside"); fi
tar -C "$source_dir" "${excludes[@]}" -cf - . | tar -C "$copy" -xf -
rm -f "$copy"/build/package/*.deb
if ! SOURCE_DATE_EPOCH=$(cat "$package_build/source_date_epoch") \
  "$copy/packaging/build_deb.sh" "$copy/build/package" -DZELKGEN_WERROR=ON \
  >"$scratch/copy.log" 2>&1; then
  cat "$scratch/copy.log"
  fail "the build in $copy failed"
else
  for file in "${debs[@]}"; do
    copy_deb=$copy/build/package/$(basename "$file")
    if cmp "$file" "$copy_deb"; then
      echo "reproducible: $copy_deb is the same file"
    else
      fail "the package built in $copy differs from $file"
    fi
  done
fi

# --- Control fields ----------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
expect_field() {
  local actual
  actual=$(field "$1")
  [ "$actual" = "$2" ] || fail "control field $1 is '$actual', expected '$2'"
}
expect_field Package zelkgen
expect_field Version "$version"
expect_field Architecture "$arch"
expect_field Section sound
expect_field Priority optional
field Maintainer | grep -Eq '^[^<]+ <[^@>]+@[^>]+>$' || fail "Maintainer '$(field Maintainer)' is not 'Name <address>'"
[ "$(field Description | wc -l)" -ge 3 ] || fail "Description has no extended description"

echo "Depends: $(field Depends)"
# The package names alone, without versions; alternatives count as well.
depends=$(field Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/[[:space:]]//g' | sed '/^$/d')
# SDL2, libsndfile and the platform plugins are named by hand; the rest proves dpkg-shlibdeps ran.
for package in libsdl2-2.0-0 libsndfile1 qt6-qpa-plugins libqt6widgets6 libjpeg62-turbo libc6 \
  $library_package; do
  grep -qx "$package" <<<"$depends" || fail "Depends lacks $package"
done
# The library's package: its section, what it needs, the shlibs that make packages linking it
# depend on it, and dpkg's ldconfig trigger.
[ "$(dpkg-deb -f "$library_deb" Section)" = libs ] || fail "$library_package is not in section libs"
[ "$(dpkg-deb -f "$development_deb" Section)" = libdevel ] ||
  fail "$development_package is not in section libdevel"
dpkg-deb -f "$library_deb" Depends | grep -q 'libstdc++6' || fail "$library_package lacks libstdc++6"
dpkg-deb -f "$development_deb" Depends | grep -q "$library_package (= $version)" ||
  fail "$development_package does not depend on $library_package (= $version)"
dpkg-deb --ctrl-tarfile "$library_deb" | tar -xOf - ./shlibs 2>/dev/null |
  grep -qx "libzelkgen-tonegen 2 $library_package (>= $version)" ||
  fail "$library_package has no shlibs line for libzelkgen-tonegen.so.2"
dpkg-deb --ctrl-tarfile "$library_deb" | tar -xOf - ./triggers 2>/dev/null |
  grep -qx "activate-noawait ldconfig" || fail "$library_package has no ldconfig trigger"

# --- File list ---------------------------------------------------------------------------------
icons=/usr/share/icons/hicolor
expected_files=(
  /usr/bin/zelkgen
  /usr/share/applications/$app_id.desktop
  /usr/share/doc/zelkgen/changelog.gz
  /usr/share/doc/zelkgen/copyright
  /usr/share/man/man1/zelkgen.1.gz
  /usr/share/metainfo/$app_id.metainfo.xml
  /usr/share/mime/packages/$app_id.xml
  /usr/share/zelkgen/programs/amplifier-check.zelkgen
  /usr/share/zelkgen/programs/evening-tones.zelkgen
  /usr/share/zelkgen/programs/gated-tones.zelkgen
  /usr/share/zelkgen/programs/square-ladder.zelkgen
  $icons/scalable/apps/$app_id.svg
)
icon_sizes=(16 24 32 48 64 128 256)
for size in "${icon_sizes[@]}"; do
  expected_files+=("$icons/${size}x${size}/apps/$app_id.png")
done
libdir=/usr/lib/$triplet
expected_library_files=(
  $libdir/libzelkgen-tonegen.so.1.0.0
  /usr/share/doc/$library_package/changelog.gz
  /usr/share/doc/$library_package/copyright
)
expected_development_files=(
  $libdir/cmake/ZelkgenToneGen/ZelkgenToneGenConfig.cmake
  $libdir/cmake/ZelkgenToneGen/ZelkgenToneGenConfigVersion.cmake
  $libdir/cmake/ZelkgenToneGen/ZelkgenToneGenTargets-noconfig.cmake
  $libdir/cmake/ZelkgenToneGen/ZelkgenToneGenTargets.cmake
  $libdir/pkgconfig/zelkgen-tonegen.pc
  /usr/share/doc/$development_package/changelog.gz
  /usr/share/doc/$development_package/copyright
  /usr/share/doc/$development_package/examples/CMakeLists.txt
  /usr/share/doc/$development_package/examples/export_tone.cpp
  /usr/share/doc/$development_package/tonegen-api.md
)
for header in component.h note_names.h stored_form.h tg_types.h tone_gen.h tone_settings.h \
  tonegen_api.h; do
  expected_development_files+=("/usr/include/zelkgen/tonegen/$header")
done
# Regular files only: the lines of dpkg-deb -c that start with '-'.
check_files() {
  local file=$1
  shift
  dpkg-deb -c "$file" | awk '/^-/ {print $6}' | sed 's|^\.||' | sort >"$scratch/files"
  printf '%s\n' "$@" | sort >"$scratch/expected_files"
  if ! diff -u "$scratch/expected_files" "$scratch/files" >"$scratch/files.diff"; then
    fail "the files of $(basename "$file") differ from the expected list (- missing, + unexpected):"
    sed -n '3,$p' "$scratch/files.diff"
  fi
}
check_files "$deb" "${expected_files[@]}"
check_files "$library_deb" "${expected_library_files[@]}"
check_files "$development_deb" "${expected_development_files[@]}"
# The links: the library's name for the loader in the library's package, the one for the linker
# in the development package.
# The listing is read whole first: grep -q leaving early would break dpkg-deb's pipe.
grep -q " \.$libdir/libzelkgen-tonegen.so.2 -> libzelkgen-tonegen.so.1.0.0$" \
  <<<"$(dpkg-deb -c "$library_deb")" || fail "$library_package lacks the link libzelkgen-tonegen.so.2"
grep -q " \.$libdir/libzelkgen-tonegen.so -> libzelkgen-tonegen.so.2$" \
  <<<"$(dpkg-deb -c "$development_deb")" ||
  fail "$development_package lacks the link libzelkgen-tonegen.so"

# --- lintian -----------------------------------------------------------------------------------
# As root lintian warns about running as root; that line is about the run, not the package.
lintian --tag-display-limit 0 --display-info "${debs[@]}" 2>&1 |
  grep -v 'running with root privileges' >"$scratch/lintian" || true
echo "lintian:"
sed 's/^/  /' "$scratch/lintian"
echo "lintian: $(grep -c '^E:' "$scratch/lintian" || true) errors, $(grep -c '^W:' "$scratch/lintian" || true) warnings"
grep -q '^E:' "$scratch/lintian" && fail "lintian reports errors"
grep -q '^W:' "$scratch/lintian" && fail "lintian reports warnings"
grep -q ' hardening-' "$scratch/lintian" && fail "lintian finds hardening missing"

# --- The installed files -----------------------------------------------------------------------
root=$scratch/root
mkdir "$root"
for file in "${debs[@]}"; do dpkg -x "$file" "$root"; done

program=$root/usr/bin/zelkgen
# Debian 12's C start files carry no control-flow protection marking, so no program linked there
# has it (/usr/bin/ls neither); every other check must pass.
for binary in "$program" "$root$libdir/libzelkgen-tonegen.so.1.0.0"; do
  if ! hardening-check --nocfprotection "$binary" >"$scratch/hardening" 2>&1; then
    fail "hardening-check finds hardening missing in $binary"
  fi
  sed 's/^/  /' "$scratch/hardening"
done

metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml
desktop=$root/usr/share/applications/$app_id.desktop

appstream_check() {
  local status=0
  appstreamcli "$@" >"$scratch/appstream" 2>&1 || status=$?
  echo "appstreamcli $1:"
  sed 's/^/  /' "$scratch/appstream"
  grep -q '^E:' "$scratch/appstream" && fail "appstreamcli $1 reports errors"
  # 0 is a pass; 3 a failed validation, counted above by its E: or W: lines.
  if [ $status -ne 0 ] && [ $status -ne 3 ]; then
    fail "appstreamcli $1 could not run (exit status $status)"
  fi
}
appstream_check validate --no-net --pedantic "$metainfo"
# The tree check also finds the desktop entry the metainfo launches.
appstream_check validate-tree --no-net "$root"

if ! desktop-file-validate "$desktop" >"$scratch/desktop" 2>&1; then
  fail "desktop-file-validate rejects the desktop entry"
fi
sed 's/^/  desktop-file-validate: /' "$scratch/desktop"

grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry's icon is not $app_id"
grep -qx "Exec=zelkgen %f" "$desktop" || fail "the desktop entry does not start zelkgen with a file"
grep -qx "MimeType=application/x-zelkgen-program;" "$desktop" ||
  fail "the desktop entry does not open program files"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo does not launch $app_id.desktop"
for size in "${icon_sizes[@]}"; do
  png=$root$icons/${size}x${size}/apps/$app_id.png
  file -b "$png" | grep -q "^PNG image data, $size x $size," ||
    fail "icon for ${size}x${size} is $(file -b "$png")"
done

# One version: the newest release of the metadata and the changelog's top entry carry the
# project's version, like the package itself.
newest_release=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
[ "$newest_release" = "$version" ] ||
  fail "the metainfo's newest release is '$newest_release', the project's version '$version'"
changelog_version=$(zcat "$root/usr/share/doc/zelkgen/changelog.gz" | head -1 | sed -n 's/^zelkgen (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] ||
  fail "the changelog's top entry is '$changelog_version', the project's version '$version'"

# --- The installed program starts ---------------------------------------------------------------
home=$scratch/home
mkdir -m 700 "$home" "$scratch/runtime"
# Only what a desktop session gives, and nothing that could reach a sound device: the program
# loads SDL only at the first sound, and SDL_AUDIODRIVER=dummy keeps even that silent.
# The library comes from the root, as it would from /usr/lib once installed.
run_env=(env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$scratch/runtime"
  SDL_AUDIODRIVER=dummy LD_LIBRARY_PATH="$root$libdir")

# The program's own version.
status=0
"${run_env[@]}" QT_QPA_PLATFORM=offscreen timeout 10 "$program" --version >"$scratch/version" 2>&1 ||
  status=$?
if [ $status -ne 0 ] || [ "$(cat "$scratch/version")" != "zelkgen $version" ]; then
  fail "zelkgen --version printed '$(cat "$scratch/version")' (status $status), expected 'zelkgen $version'"
fi

# The example programs are good program files.
if ! "${run_env[@]}" "$program" --check "$root"/usr/share/zelkgen/programs/*.zelkgen >"$scratch/check" 2>&1; then
  fail "the example programs do not pass zelkgen --check:"
  cat "$scratch/check"
fi

# Offscreen: it must still run after two seconds, print nothing, and end cleanly on SIGTERM.
"${run_env[@]}" QT_QPA_PLATFORM=offscreen "$program" >"$scratch/offscreen.out" 2>&1 &
pid=$!
sleep 2
if kill -0 "$pid" 2>/dev/null; then
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  [ $status -eq 0 ] || fail "offscreen: the program ended with status $status on SIGTERM"
else
  status=0
  wait "$pid" || status=$?
  fail "offscreen: the program ended by itself within two seconds (status $status)"
fi
if [ -s "$scratch/offscreen.out" ]; then
  fail "offscreen: the program printed:"
  cat "$scratch/offscreen.out"
fi

# On a private X display: its main window, by its caption, must be mapped.
exec 3>"$scratch/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
  [ -s "$scratch/display" ] && break
  sleep 0.1
done
if [ ! -s "$scratch/display" ]; then
  fail "Xvfb did not start"
else
  display=:$(head -1 "$scratch/display")
  if watched=$("${run_env[@]}" DISPLAY="$display" "$window_watch" "$main_caption" "$program" 2>&1); then
    echo "installed program on Xvfb: main window mapped after ${watched% *} ms"
  else
    fail "X11: the installed program's main window did not appear: $watched"
  fi
fi

# --- The library's example, built against the packages -----------------------------------------
# Its settings, as zelkgen tone writes them (the example's own comment).
"${run_env[@]}" "$program" tone --frequency 330 --duration 250 --waveform triangle \
  --am 2,30,square,1.5 --stereo --quality low --envelope --export "$scratch/command.wav" ||
  fail "zelkgen tone --export failed"
example_source=$root/usr/share/doc/$development_package/examples
run_example() {
  local how=$1 binary=$2
  rm -f "$scratch/example.wav"
  if ! "${run_env[@]}" "$binary" "$scratch/example.wav"; then
    fail "the example built through $how did not run"
  elif cmp "$scratch/command.wav" "$scratch/example.wav"; then
    echo "example through $how: the same $(stat -c %s "$scratch/example.wav") bytes as zelkgen tone"
  else
    fail "the example built through $how writes another file than zelkgen tone --export"
  fi
}
# pkg-config, with the root as the system's root.
if flags=$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$root$libdir/pkgconfig \
  pkg-config --cflags --libs zelkgen-tonegen) &&
  c++ -std=c++17 -Wall -Werror -o "$scratch/example-pkg-config" "$example_source/export_tone.cpp" \
    $flags >"$scratch/example.log" 2>&1; then
  run_example pkg-config "$scratch/example-pkg-config"
else
  cat "$scratch/example.log"
  fail "the example does not build through pkg-config"
fi
# CMake, finding the package in the root.
if cmake -S "$example_source" -B "$scratch/example-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" \
  -DCMAKE_CXX_FLAGS="-Wall -Werror" >"$scratch/example.log" 2>&1 &&
  cmake --build "$scratch/example-cmake" >>"$scratch/example.log" 2>&1; then
  run_example find_package "$scratch/example-cmake/export_tone"
else
  cat "$scratch/example.log"
  fail "the example does not build through find_package(ZelkgenToneGen)"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed"
