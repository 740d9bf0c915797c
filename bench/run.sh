#!/usr/bin/env bash
# Builds Shrinkwell for speed and prints the benchmark table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DSHRINKWELL_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" -j"$(nproc)" --target shrinkwell shrinkwell-meta shrinkwell_bench >/dev/null
scratch=$(mktemp -d /tmp/shrinkwell-bench-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
"$root/build-bench/bench/shrinkwell_bench" "$root/build-bench/programs/shrinkwell" "$root/build-bench/programs/shrinkwell-meta" "$scratch"
