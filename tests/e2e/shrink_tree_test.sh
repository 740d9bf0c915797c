#!/usr/bin/env bash
# scripts/shrink-tree.sh over a tree of corpus photos on two cores: every
# copy equals the one a single run of the program over all the photos makes;
# a second run shrinks no copy again; through a list of machines, a folder
# whose photo cannot be decoded fails alone. Usage: shrink_tree_test.sh SHRINKWELL CORPUS
set -euo pipefail
program=$1 corpus=$2
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/shrink-tree.sh"
folders=(cameras makernotes formats fullsize orientation codec)
for folder in "${folders[@]}"; do
  if [ ! -d "$corpus/$folder" ]; then
    echo "no corpus folder at $corpus/$folder"
    exit 77
  fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Folders at several depths, one inside another.
plant() {
  mkdir -p "$1/x/y"
  cp -r "$corpus/cameras" "$1/"
  cp -r "$corpus/makernotes" "$1/cameras/"
  cp -r "$corpus/formats" "$1/x/"
  cp -r "$corpus/fullsize" "$1/x/y/"
  cp -r "$corpus/orientation" "$1/"
  chmod -R u+w "$1"
}
plant "$scratch/single"
plant "$scratch/tree"
mkdir "$scratch/work"
(cd "$scratch/work" && find "$scratch/single" -type f -print0 | xargs -0 "$program" >/dev/null)

fail() { echo "FAIL: $*"; exit 1; }
export SHRINKWELL=$program
cd "$scratch/work"
TIMEFORMAT='two jobs at once: %R s'
time bash "$script" -j 2 "$scratch/tree" >"$scratch/first.log" || fail "first run: status $?"
copies=$(find "$scratch/tree" -name '*+.*' | wc -l)
[ "$copies" -gt 100 ] || fail "only $copies copies"
diff -r "$scratch/single" "$scratch/tree" || fail "the copies differ from a single run's"
[ -z "$(ls -A "$scratch/work")" ] || fail "scratch files left in the working directory"

bash "$script" -j 2 "$scratch/tree" >"$scratch/second.log" || fail "second run: status $?"
diff -r "$scratch/single" "$scratch/tree" || fail "a second run changed the tree"
grep -q 'skipped: .* exists' "$scratch/second.log" || fail "the second run found no copy"

# Through a list of machines. The one machine named is reached through a
# stand-in for ssh that runs the job here, as sshd would, in an environment
# that holds only what the script sends along.
cp -r "$corpus/codec" "$scratch/tree/x/codec"
chmod -R u+w "$scratch/tree/x/codec"
cat >"$scratch/ssh" <<'END'
#!/bin/bash
shift
[ "${1:-}" = -- ] && shift
exec env -i PATH=/usr/bin:/bin HOME="$HOME" SHELL=/bin/bash bash -c "$*"
END
chmod +x "$scratch/ssh"
echo 2/elsewhere >"$scratch/machines"
status=0
PARALLEL_SSH="$scratch/ssh" bash "$script" --sshloginfile "$scratch/machines" "$scratch/tree" >"$scratch/third.log" 2>&1 ||
  status=$?
[ "$status" -eq 1 ] || fail "a folder with a photo that cannot be decoded gave status $status"
grep -q '1 folder(s) not done' "$scratch/third.log" || fail "the failing folder was not reported"
rm -r "$scratch/tree/x/codec"
diff -r "$scratch/single" "$scratch/tree" || fail "the other folders changed"
echo "shrink-tree: every check passed"
