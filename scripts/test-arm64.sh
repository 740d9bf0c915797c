#!/usr/bin/env bash
# Builds Shrinkwell for arm64 (64-bit ARM: Raspberry Pi, ARM servers and
# laptops) with Debian's cross toolchain and runs its tests under
# qemu-user. The arm64 libjpeg is the same Debian version as this machine's,
# fetched through an apt configuration of its own (the system's sources
# and architectures stay as they are); GoogleTest is built from Debian's
# sources. Runs as root without questions; installs what is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" g++-aarch64-linux-gnu qemu-user

work="$root/build-arm64"
arm64_root="$work/root"
version=$(dpkg-query -W -f='${Version}' libjpeg62-turbo-dev)
if [ ! -f "$arm64_root/.libjpeg-$version" ]; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  apt_dir="$work/apt"
  rm -rf "$apt_dir" "$arm64_root" && mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" \
    "$apt_dir/parts" "$apt_dir/debs" "$arm64_root"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  {
    echo "deb [arch=arm64 signed-by=$keyring] http://deb.debian.org/debian $codename main"
    echo "deb [arch=arm64 signed-by=$keyring] http://deb.debian.org/debian $codename-updates main"
    echo "deb [arch=arm64 signed-by=$keyring] http://deb.debian.org/debian-security $codename-security main"
  } >"$apt_dir/sources.list"
  touch "$apt_dir/status"
  private_apt=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/parts"
               -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::State::status=$apt_dir/status"
               -o "Dir::Cache=$apt_dir/cache" -o "APT::Architecture=arm64" -o "APT::Architectures=arm64"
               -o "APT::Sandbox::User=root")
  apt-get "${private_apt[@]}" update -qq </dev/null
  (cd "$apt_dir/debs" && apt-get "${private_apt[@]}" download -qq \
    "libjpeg62-turbo:arm64=$version" "libjpeg62-turbo-dev:arm64=$version" </dev/null)
  for deb in "$apt_dir"/debs/*.deb; do dpkg-deb -x "$deb" "$arm64_root"; done
  # GoogleTest for arm64, from the sources Debian's libgtest-dev ships.
  cmake -S /usr/src/googletest -B "$work/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
    -DSHRINKWELL_ARM64_ROOT="$arm64_root" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$arm64_root/usr" >/dev/null
  cmake --build "$work/gtest-build" -j"$(nproc)" >/dev/null
  cmake --install "$work/gtest-build" >/dev/null
  touch "$arm64_root/.libjpeg-$version"
fi

build="$work/shrinkwell"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
  -DSHRINKWELL_ARM64_ROOT="$arm64_root" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
# The end-to-end tests start the arm64 programs themselves: through qemu,
# where the kernel does not run arm64 programs on its own (binfmt_misc).
export SHRINKWELL_TEST_EMULATOR="qemu-aarch64 -L /usr/aarch64-linux-gnu"
export QEMU_SET_ENV="LD_LIBRARY_PATH=$arm64_root/usr/lib/aarch64-linux-gnu"
cd "$build"
# Left out: the package (a Debian package of this machine's architecture),
# and the shell scripts' tests, which are the same on every processor.
ctest --output-on-failure -j"$(nproc)" -E 'debian_package|shrink_tree'
