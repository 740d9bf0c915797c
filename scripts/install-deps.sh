#!/usr/bin/env bash
# Installs the Debian packages Shrinkwell needs to build, test and benchmark,
# and the packages named as arguments (what one script needs besides),
# asking apt only when something is missing. Runs as root without questions.
set -euo pipefail

# nlohmann-json3-dev: the viewer's JSON; parallel: scripts/shrink-tree.sh;
# dpkg-dev and file: the Debian package's dependencies (dpkg-shlibdeps);
# man-db: the package test reads the installed man pages.
packages=(g++ make cmake libjpeg62-turbo-dev libgtest-dev libgmock-dev libjpeg-turbo-progs nlohmann-json3-dev parallel
          dpkg-dev file man-db "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq </dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
