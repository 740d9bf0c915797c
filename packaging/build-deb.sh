#!/usr/bin/env bash
# Builds the Debian package of Shrinkwell: a Release build of the programs in
# BUILD_DIR (build-package/ by default), then `cpack -G DEB` there. Prints
# the package's path; install it with: apt-get install ./shrinkwell_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-package}
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSHRINKWELL_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
cd "$build"
rm -f shrinkwell_*.deb
cpack -G DEB >/dev/null
ls "$build"/shrinkwell_*.deb
