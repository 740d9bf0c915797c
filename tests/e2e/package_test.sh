#!/usr/bin/env bash
# Builds the Debian package with packaging/build-deb.sh, unpacks it into a
# scratch root and runs what it installed: both programs, shrink-tree.sh
# without bzip2, and man on both pages. Usage: package_test.sh BUILD_DIR MAKE_EXAMPLE_PHOTOS
set -euo pipefail
build=$1 examples=$2
source="$(cd "$(dirname "$0")/../.." && pwd)"
fail() { echo "FAIL: $*"; exit 1; }

deb=$(bash "$source/packaging/build-deb.sh" "$build")
echo "package: $deb ($(stat -c %s "$deb") bytes)"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ $depends == *libjpeg62-turbo* ]] || fail "no libjpeg62-turbo among the dependencies"
for path in usr/bin/shrinkwell usr/bin/shrinkwell-meta usr/share/man/man1/shrinkwell.1.gz \
            usr/share/man/man1/shrinkwell-meta.1.gz usr/share/doc/shrinkwell/README.md \
            usr/share/doc/shrinkwell/LICENSE usr/share/doc/shrinkwell/copyright \
            usr/share/doc/shrinkwell/examples/shrink-tree.sh; do
  [ -f "$root/$path" ] || fail "$path not in the package"
done
copyright="$root/usr/share/doc/shrinkwell/copyright"
grep -q '^License: Expat$' "$copyright" || fail "copyright names no licence"
grep -q '^ Permission is hereby granted' "$copyright" || fail "copyright lacks the licence terms"
grep -qx ' \.' "$copyright" || fail "copyright keeps no paragraph break"

# The installed programs, on an example photo.
bin="$root/usr/bin"
[ "$("$bin/shrinkwell-meta" --version)" = "shrinkwell-meta $version" ] || fail "--version is not $version"
photos="$root/photos"
mkdir "$photos"
"$examples" "$photos" >/dev/null
(cd "$photos" && "$bin/shrinkwell" "$photos/tower portrait.JPG" >/dev/null) || fail "shrinkwell: status $?"
[ -f "$photos/tower portrait+.JPG" ] || fail "no copy stored"
[ "$("$bin/shrinkwell-meta" -t Orientation "$photos/tower portrait.JPG")" = "CounterClockwise 90°" ] ||
  fail "shrinkwell-meta -t Orientation"
status=0
"$bin/shrinkwell-meta" "$photos/tower portrait+.JPG" >/dev/null 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "the copy should carry no metadata (status $status)"

# The installed shrink-tree.sh, with nothing but the programs and parallel.
bash "$source/tests/e2e/shrink_tree_test.sh" "$bin/shrinkwell" "$examples" \
  "$root/usr/share/doc/shrinkwell/examples/shrink-tree.sh" >"$root/tree.log" 2>&1 ||
  fail "the installed shrink-tree.sh: $(cat "$root/tree.log")"

# Both pages render without a warning and hold every part they promise.
for page in shrinkwell shrinkwell-meta; do
  file="$root/usr/share/man/man1/$page.1.gz"
  text=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>"$root/warnings") || fail "man -l $page: status $?"
  [ ! -s "$root/warnings" ] || fail "man -l $page: $(cat "$root/warnings")"
  for part in NAME SYNOPSIS DESCRIPTION OUTPUT "EXIT STATUS" ENVIRONMENT EXAMPLES "Shrinkwell $version"; do
    grep -q "$part" <<<"$text" || fail "man $page has no $part"
  done
done

# Whether apt would install it here: its dependencies can be met.
if command -v apt-get >/dev/null; then
  apt-get install --simulate -qq "$deb" >"$root/apt.log" 2>&1 || fail "apt-get install --simulate: $(cat "$root/apt.log")"
fi
echo "package: every check passed"
