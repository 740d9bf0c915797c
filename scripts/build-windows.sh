#!/usr/bin/env bash
# Builds the Windows programs, shrinkwell.exe and shrinkwell-meta.exe, with
# Debian's mingw-w64 into OUTDIR, and prints their paths. libjpeg for Windows
# is built from Debian's own libjpeg-turbo source package, of the version
# the Linux build links, static and with its SIMD code: only that encodes
# byte for byte like the Linux program. Runs as root without questions;
# installs what is missing. Extra CMake arguments for Shrinkwell follow OUTDIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: build-windows.sh OUTDIR [CMAKE-ARGUMENTS...]}
shift
work="$root/build-windows"

"$root/scripts/install-deps.sh" g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 nasm
export DEBIAN_FRONTEND=noninteractive

version=$(dpkg-query -W -f='${Version}' libjpeg62-turbo-dev)
library="$work/libjpeg-${version//:/_}"  # make takes no colon in a path
if [ ! -f "$library/lib/libjpeg.a" ]; then
  # The source package comes through an apt configuration of our own, with
  # deb-src entries for Debian's archive: the system's sources stay as
  # they are.
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  apt_dir="$work/apt"
  rm -rf "$apt_dir" && mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  {
    echo "deb-src [signed-by=$keyring] http://deb.debian.org/debian $codename main"
    echo "deb-src [signed-by=$keyring] http://deb.debian.org/debian $codename-updates main"
    echo "deb-src [signed-by=$keyring] http://deb.debian.org/debian-security $codename-security main"
  } >"$apt_dir/sources.list"
  # Downloaded as root: the folder may lie where apt's own user cannot go.
  private_apt=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/parts"
               -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o "APT::Sandbox::User=root")
  apt-get "${private_apt[@]}" update -qq </dev/null
  rm -rf "$work/source" "$work/libjpeg-build" && mkdir -p "$work/source"
  (cd "$work/source" && apt-get "${private_apt[@]}" source -qq "libjpeg-turbo=$version" </dev/null >/dev/null 2>&1)
  source=$(find "$work/source" -maxdepth 1 -mindepth 1 -type d -name 'libjpeg-turbo-*' | head -n 1)
  cmake -S "$source" -B "$work/libjpeg-build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DWITH_JPEG8=OFF -DENABLE_SHARED=OFF \
    -DWITH_TURBOJPEG=OFF -DCMAKE_INSTALL_PREFIX="$library" >/dev/null
  cmake --build "$work/libjpeg-build" -j"$(nproc)" >/dev/null
  cmake --install "$work/libjpeg-build" >/dev/null
fi

cmake -S "$root" -B "$work/shrinkwell" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DSHRINKWELL_TESTS=OFF -DJPEG_INCLUDE_DIR="$library/include" -DJPEG_LIBRARY="$library/lib/libjpeg.a" "$@" >/dev/null
cmake --build "$work/shrinkwell" -j"$(nproc)" >/dev/null
mkdir -p "$out"
for program in programs/shrinkwell programs/shrinkwell-meta tests/windows/argument_probe; do
  cp "$work/shrinkwell/$program.exe" "$out/"
  echo "$(cd "$out" && pwd)/$(basename "$program").exe"
done
