#!/usr/bin/env bash
# Installs the Debian packages Shrinkwell needs to build, test and benchmark,
# asking apt only when something is missing. Runs as root without questions.
set -euo pipefail

packages=(g++ make cmake libjpeg62-turbo-dev libgtest-dev libgmock-dev libjpeg-turbo-progs)
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
