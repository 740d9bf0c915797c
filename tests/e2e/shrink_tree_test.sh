#!/usr/bin/env bash
# scripts/shrink-tree.sh (or the one given) over a tree of generated example
# photos on two cores, with a PATH that holds no bzip2: every copy equals the
# one a single run of the program over all the photos makes; a second run
# shrinks no copy again; through a list of machines, a folder whose photo
# cannot be decoded fails alone.
# Usage: shrink_tree_test.sh SHRINKWELL MAKE_EXAMPLE_PHOTOS [SHRINK_TREE_SCRIPT]
set -euo pipefail
program=$1 examples=$2
script=${3:-"$(cd "$(dirname "$0")/../.." && pwd)/scripts/shrink-tree.sh"}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Debian's parallel does not bring bzip2 along: a PATH without it.
mkdir "$scratch/bin"
for tool in /usr/bin/* /bin/*; do
  case ${tool##*/} in bzip2 | bunzip2 | bzcat | bzip2recover) continue ;; esac
  [ -e "$scratch/bin/${tool##*/}" ] || ln -s "$tool" "$scratch/bin/${tool##*/}"
done
nobzip2=$scratch/bin

# Folders at several depths, one inside another.
plant() {
  for folder in "$1" "$1/x" "$1/x/y" "$1/z"; do
    mkdir -p "$folder"
    "$examples" "$folder" >/dev/null
  done
}
plant "$scratch/single"
plant "$scratch/tree"
mkdir "$scratch/work"
(cd "$scratch/work" && find "$scratch/single" -type f -print0 | xargs -0 "$program" >/dev/null)

export SHRINKWELL=$program
cd "$scratch/work"
TIMEFORMAT='two jobs at once: %R s'
time PATH=$nobzip2 bash "$script" -j 2 "$scratch/tree" >"$scratch/first.log" 2>&1 ||
  fail "first run: status $?: $(cat "$scratch/first.log")"
copies=$(find "$scratch/tree" -name '*+.*' | wc -l)
[ "$copies" -eq 16 ] || fail "$copies copies, not 16"
diff -r "$scratch/single" "$scratch/tree" || fail "the copies differ from a single run's"
[ -z "$(ls -A "$scratch/work")" ] || fail "scratch files left in the working directory"

PATH=$nobzip2 bash "$script" -j 2 "$scratch/tree" >"$scratch/second.log" 2>&1 || fail "second run: status $?"
diff -r "$scratch/single" "$scratch/tree" || fail "a second run changed the tree"
grep -q 'skipped: .* exists' "$scratch/second.log" || fail "the second run found no copy"

# Through a list of machines. The one machine named is reached through a
# stand-in for ssh that runs the job here, as sshd would, in an environment
# that holds only what the script sends along.
mkdir "$scratch/tree/x/broken"
echo "no JPEG at all" >"$scratch/tree/x/broken/broken.jpg"
cat >"$scratch/ssh" <<END
#!/bin/bash
shift
[ "\${1:-}" = -- ] && shift
exec env -i PATH=$nobzip2 HOME="\$HOME" SHELL=/bin/bash bash -c "\$*"
END
chmod +x "$scratch/ssh"
echo 2/elsewhere >"$scratch/machines"
status=0
PATH=$nobzip2 PARALLEL_SSH="$scratch/ssh" bash "$script" --sshloginfile "$scratch/machines" "$scratch/tree" \
  >"$scratch/third.log" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "a folder with a photo that cannot be decoded gave status $status: $(cat "$scratch/third.log")"
grep -q '1 folder(s) not done' "$scratch/third.log" || fail "the failing folder was not reported"
rm -r "$scratch/tree/x/broken"
diff -r "$scratch/single" "$scratch/tree" || fail "the other folders changed"
echo "shrink-tree: every check passed"
