#!/usr/bin/env bash
# Sets everything up, builds Shrinkwell and runs it on example photos that it
# generates into a fresh scratch folder outside the repository; then shows
# each example's size in pixels beside its copy's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DSHRINKWELL_TESTS=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target shrinkwell shrinkwell-meta make_example_photos

scratch=$(mktemp -d /tmp/shrinkwell-examples-XXXXXX)
echo
echo "Example photos in $scratch:"
"$root/build/programs/make_example_photos" "$scratch"
echo
cd "$scratch"
"$root/build/programs/shrinkwell" "$scratch"/* </dev/null
echo
echo "Sizes in pixels: each copy is a quarter of the upright picture, portrait or landscape as the scene:"
"$root/build/programs/make_example_photos" --sizes "$scratch"
echo
echo "Result:"
ls -l "$scratch"
