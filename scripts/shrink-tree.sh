#!/usr/bin/env bash
# Runs Shrinkwell over every folder of one or more folder trees with GNU
# parallel: one job per folder, on all cores of this machine, or of several
# machines with --sshloginfile. Each job runs in a private working directory
# of its own, so that the scratch files of two jobs never meet.
#
#   shrink-tree.sh [-j JOBS] [--sshloginfile FILE] FOLDER...
#
# -j JOBS              jobs at once on each machine (default: one per core)
# --sshloginfile FILE  GNU parallel's list of machines, one a line (":" is
#                      this one). Every machine needs shrinkwell on its PATH
#                      and the folders under the same path (a shared file
#                      system): the photos are not sent, only the commands.
#
# SHRINKWELL names the program to run (default: shrinkwell on the PATH);
# SHRINKWELL_MAX_MEGAPIXELS is passed on to every job.
# Exit status: 0 when every folder's run ended with status 0, 1 when some
# did not (its lines say why), 2 on bad usage.
set -euo pipefail

usage() {
  echo "usage: shrink-tree.sh [-j JOBS] [--sshloginfile FILE] FOLDER..." >&2
  exit 2
}

jobs=100%
remote=()
options=$(getopt -o j:h -l jobs:,sshloginfile:,help -n shrink-tree.sh -- "$@") || usage
eval set -- "$options"
while true; do
  case $1 in
    -j | --jobs) jobs=$2; shift 2 ;;
    --sshloginfile) remote=(--sshloginfile "$2"); shift 2 ;;
    -h | --help) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    --) shift; break ;;
  esac
done
[ $# -gt 0 ] || usage
folders=()
for folder in "$@"; do
  [ -d "$folder" ] || { echo "shrink-tree.sh: $folder: not a folder" >&2; exit 2; }
  # Absolute, so that the same path names it on every machine.
  folders+=("$(cd "$folder" && pwd)")
done
command -v parallel >/dev/null || { echo "shrink-tree.sh: GNU parallel is missing (apt-get install parallel)" >&2; exit 2; }

# One folder's photos (not those below it) in one run of Shrinkwell: the
# text of a bash command, which parallel hands on as it stands, also to
# other machines, with the program, the pixel limit and the folder as its
# arguments. (A function, or a variable passed with --env beside a command
# of several lines, would travel compressed with bzip2, which Debian's
# parallel does not bring along.)
read -r -d '' shrink_folder <<'END' || true
program=$1 limit=$2 folder=$3
[ -z "$limit" ] || export SHRINKWELL_MAX_MEGAPIXELS=$limit
status=0
photos=()
[ -d "$folder" ] || { echo "shrink-tree.sh: no folder $folder on $(hostname)" >&2; exit 1; }
for file in "$folder"/*; do
  [ -f "$file" ] || continue
  case ${file,,} in *.jpg | *.jpeg) ;; *) continue ;; esac
  # The copies of an earlier run (NAME+.jpg beside NAME.jpg) are no photos
  # to shrink again.
  stem=${file%.*}
  if [[ $stem == *+ ]] && [ -e "${stem%+}.${file##*.}" ]; then continue; fi
  photos+=("$file")
done
[ ${#photos[@]} -gt 0 ] || exit 0
work=$(mktemp -d "${TMPDIR:-/tmp}/shrink-tree-XXXXXX")
(cd "$work" && "$program" "${photos[@]}" </dev/null) || status=$?
rm -rf "$work"
exit "$status"
END

# Each job's lines are printed together when it ends (parallel's --group).
# parallel's status is the number of jobs that failed.
failed=0
find "${folders[@]}" -type d -print0 |
  parallel -0 -q -j "$jobs" "${remote[@]}" bash -c "$shrink_folder" shrink-tree "${SHRINKWELL:-shrinkwell}" \
    "${SHRINKWELL_MAX_MEGAPIXELS:-}" {} || failed=$?
[ "$failed" -eq 0 ] || { echo "shrink-tree.sh: $failed folder(s) not done in full; see their lines above" >&2; exit 1; }
