#!/usr/bin/env bash
# Builds Shrinkwell for speed and prints the benchmark tables. vipsthumbnail
# is installed here, for comparison only: Shrinkwell never needs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
if ! dpkg-query -W -f='${Status}' libvips-tools 2>/dev/null | grep -q 'install ok installed'; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq </dev/null && apt-get install -y -qq --no-install-recommends libvips-tools </dev/null >/dev/null ||
    echo "(libvips-tools could not be installed; the benchmark runs without vipsthumbnail)"
fi
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DSHRINKWELL_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" -j"$(nproc)" --target shrinkwell shrinkwell-meta shrinkwell_bench >/dev/null
scratch=$(mktemp -d /tmp/shrinkwell-bench-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
"$root/build-bench/bench/shrinkwell_bench" "$root/build-bench/programs/shrinkwell" "$root/build-bench/programs/shrinkwell-meta" "$scratch"
