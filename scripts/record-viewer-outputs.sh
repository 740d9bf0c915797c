#!/usr/bin/env bash
# Records what shrinkwell-meta --all shows for every file of the corpus
# (../shared/corpus beside the repository, or SHRINKWELL_CORPUS) into
# tests/e2e/corpus_viewer_outputs.txt, which the test suite compares with,
# and shows what changed. Run it when a change of the viewer's output is
# meant, and commit the file with that change. Builds the viewer in
# build-test/ (as scripts/test.sh does) when it is not built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${SHRINKWELL_CORPUS:-$root/../shared/corpus}
[ -d "$corpus" ] || { echo "record-viewer-outputs.sh: no corpus at $corpus" >&2; exit 1; }
build="$root/build-test"
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSHRINKWELL_SANITIZE=ON >/dev/null
cmake --build "$build" --target shrinkwell-meta >/dev/null
recorded="$root/tests/e2e/corpus_viewer_outputs.txt"
new=$(mktemp)
trap 'rm -f "$new"' EXIT
# The test's order (names as bytes) and decimal point.
(cd "$corpus" && find . -type f ! -name '*.md' -printf '%P\n' | LC_ALL=C sort |
  tr '\n' '\0' | LC_ALL=C.UTF-8 xargs -0 "$build/programs/shrinkwell-meta" --all) >"$new" 2>/dev/null || true
if [ -f "$recorded" ] && cmp -s "$recorded" "$new"; then
  echo "no change"
else
  [ -f "$recorded" ] && diff -u "$recorded" "$new" || true
  cp "$new" "$recorded"
  echo "recorded: $recorded"
fi
