#!/usr/bin/env bash
# Fuzzes the metadata reader, the IPTC reader, the makers' notes and the codec
# with libFuzzer:
#
#   bash fuzz/run.sh [SECONDS-PER-TARGET] [TARGET...]
#
# SECONDS defaults to 60; TARGET is any of fuzz_metadata fuzz_iptc fuzz_icc
# fuzz_maker_notes fuzz_codec (default: all). Installs clang and libFuzzer
# when missing (as root, without questions), builds the targets in
# build-fuzz/ and runs them one after another. Each target's corpus grows in
# build-fuzz/corpus/<target>/ from run to run; inputs that crash, leak, time
# out (10 s), run out of memory (2 GB) or take over 5 s land in
# build-fuzz/findings/<target>/, with the target's output in
# build-fuzz/logs/<target>.log. Exits 1 when a target found something.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
all_targets=(fuzz_metadata fuzz_iptc fuzz_maker_notes fuzz_codec fuzz_icc)

seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: bash fuzz/run.sh [SECONDS-PER-TARGET] [TARGET...]" >&2
  exit 2
fi
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  if ! [[ " ${all_targets[*]} " == *" $t "* ]]; then
    echo "unknown target $t (known: ${all_targets[*]})" >&2
    exit 2
  fi
done

# The project's own build needs (compiler, cmake, libjpeg), then clang with
# its sanitizer and libFuzzer runtimes, and llvm-symbolizer for readable
# stacks in the findings' reports.
"$root/scripts/install-deps.sh" clang libclang-rt-14-dev llvm-14
if [ -x /usr/lib/llvm-14/bin/llvm-symbolizer ]; then
  export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi
# Undefined behaviour is reported with its stack, like the address errors.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

build="$root/build-fuzz"
cmake -S "$root" -B "$build" --no-warn-unused-cli -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSHRINKWELL_FUZZ=ON -DSHRINKWELL_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" make_seeds

# Generated seeds, made anew each run, plus the real photos beside the
# repository when they are there. A photo gets its target's leading byte
# (the reading, or the turn and the worker thread), varied from photo to photo.
seeds="$build/seeds"
rm -rf "$seeds"
"$build/fuzz/make_seeds" "$seeds"
photos="$root/../shared/corpus"
if [ -d "$photos" ]; then
  i=0
  while IFS= read -r -d '' photo; do
    name="photo-$i-$(basename "$photo")"
    { printf "\\$(printf '%03o' $((i % 2)))"; cat "$photo"; } >"$seeds/fuzz_metadata/$name"
    { printf "\\$(printf '%03o' $((i % 8)))"; cat "$photo"; } >"$seeds/fuzz_codec/$name"
    i=$((i + 1))
  done < <(find "$photos" -type f \( -iname '*.jpg' -o -iname '*.jpeg' \) -print0 | sort -z)
  echo "Seeds: generated ones and $i photos from $photos"
else
  echo "Seeds: generated ones only ($photos is not there)"
fi

# The longest input worth making: a TIFF file is read up to 256000 bytes, an
# APP13 section or a maker's note holds at most 64 KB.
max_len() {
  case $1 in
    fuzz_metadata) echo 262144 ;;
    fuzz_codec) echo 1048576 ;;
    *) echo 65536 ;;
  esac
}

# Numbers from one libFuzzer output: its final statistics, or for a run cut
# short without them, its last status line.
executions_of() {
  local n
  n=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$1" | tail -n 1)
  [ -n "$n" ] || n=$(sed -n 's/^#\([0-9][0-9]*\)[[:space:]].*/\1/p' "$1" | tail -n 1)
  echo "${n:-0}"
}

mkdir -p "$build/logs"
summary=()
found_any=0
passed=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  log="$build/logs/$t.log"
  mkdir -p "$corpus" "$findings"
  : >"$log"
  stamp=$(mktemp)
  echo "== $t: $seconds s"
  # libFuzzer stops at its first finding; the rest of the time goes to
  # further runs over the grown corpus (a few at most, so that an input
  # found again at once cannot keep the loop busy).
  executions=0
  started=$SECONDS
  deadline=$((SECONDS + seconds))
  runs=0
  last_status=0
  while [ $((deadline - SECONDS)) -gt 0 ] && [ $runs -lt 5 ]; do
    runs=$((runs + 1))
    run_log="$build/logs/$t.run"
    status=0
    "$build/fuzz/$t" -dict="$root/fuzz/jpeg_tiff.dict" -rss_limit_mb=2048 -timeout=10 -report_slow_units=5 \
      -max_len="$(max_len "$t")" -max_total_time=$((deadline - SECONDS)) -print_final_stats=1 \
      -artifact_prefix="$findings/" "$corpus" "$seeds/$t" >"$run_log" 2>&1 || status=$?
    cat "$run_log" >>"$log"
    executions=$((executions + $(executions_of "$run_log")))
    rm -f "$run_log"
    last_status=$status
    [ $status -eq 0 ] && break
  done
  elapsed=$((SECONDS - started))
  [ $elapsed -gt 0 ] || elapsed=1
  new=$(find "$findings" -type f -newer "$stamp" -printf '%f ' | sed 's/ $//')
  rm -f "$stamp"
  if [ -n "$new" ]; then
    found_any=1
    result="FOUND in $findings/: $new"
  elif [ $last_status -ne 0 ]; then
    # Stopped without leaving an input behind: not a finding, a broken run.
    found_any=1
    result="FAILED (exit status $last_status), see $log"
  else
    result="nothing found"
  fi
  line="$t: $executions executions, $((executions / elapsed))/s over $elapsed s; $result"
  echo "$line"
  summary+=("$line")
  [ -n "$new" ] || [ $last_status -ne 0 ] || passed=$((passed + 1))
done

echo
echo "Fuzzing summary (logs in $build/logs/):"
printf '  %s\n' "${summary[@]}"
echo "fuzz: $passed passed, $((${#targets[@]} - passed)) failed"
exit $found_any
