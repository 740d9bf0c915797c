#!/usr/bin/env bash
# What the fuzzing has reached: replays every target's corpus and seeds from
# build-fuzz/ (grown by fuzz/run.sh) through programs built with clang's
# source-based coverage in build-coverage/, and prints the lines of exif/ and
# codec/ that ran.
#
#   bash fuzz/coverage.sh            # summary per file and in total
#   FILES=1 bash fuzz/coverage.sh    # also every line of exif/ and codec/, with counts
#
# Installs clang and llvm-14 (llvm-profdata, llvm-cov) when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
targets=(fuzz_metadata fuzz_iptc fuzz_maker_notes fuzz_codec fuzz_icc)

"$root/scripts/install-deps.sh" clang llvm-14
llvm=/usr/lib/llvm-14/bin

inputs="$root/build-fuzz"
if [ ! -d "$inputs/corpus" ] && [ ! -d "$inputs/seeds" ]; then
  echo "Nothing to replay: run bash fuzz/run.sh first." >&2
  exit 2
fi

build="$root/build-coverage"
cmake -S "$root" -B "$build" --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSHRINKWELL_COVERAGE=ON -DSHRINKWELL_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_replay}"

profiles="$build/profiles"
rm -rf "$profiles"
mkdir -p "$profiles"
objects=()
for t in "${targets[@]}"; do
  folders=()
  for f in "$inputs/corpus/$t" "$inputs/seeds/$t"; do
    [ -d "$f" ] && folders+=("$f")
  done
  [ ${#folders[@]} -gt 0 ] || continue
  LLVM_PROFILE_FILE="$profiles/$t.profraw" "$build/fuzz/${t}_replay" "${folders[@]}" >"$profiles/$t.log" 2>&1 ||
    { echo "$t: the replay failed, see $profiles/$t.log" >&2; exit 1; }
  echo "$t: $(tail -n 1 "$profiles/$t.log")"
  # llvm-cov takes the first program as such, the others after -object.
  if [ ${#objects[@]} -eq 0 ]; then objects+=("$build/fuzz/${t}_replay"); else objects+=(-object "$build/fuzz/${t}_replay"); fi
done
"$llvm/llvm-profdata" merge -sparse "$profiles"/*.profraw -o "$profiles/merged.profdata"

# The targets' own functions share names (LLVMFuzzerTestOneInput), which
# llvm-cov warns about; exif/ and codec/ are not concerned.
report() {
  "$llvm/llvm-cov" report -instr-profile "$profiles/merged.profdata" "${objects[@]}" "$@" 2>&1 |
    grep -v 'functions have mismatched data'
}
echo
report "$root/exif" "$root/codec" | sed "s|$root/||"
echo
for folder in exif codec; do
  # The TOTAL row: lines, missed lines.
  report "$root/$folder" | awk -v folder="$folder" '$1 == "TOTAL" {
    printf "%s/: %d of %d lines reached (%s)\n", folder, $8 - $9, $8, $10 }'
done
if [ "${FILES:-0}" = 1 ]; then
  "$llvm/llvm-cov" show -instr-profile "$profiles/merged.profdata" "${objects[@]}" "$root/exif" "$root/codec"
fi
