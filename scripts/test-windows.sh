#!/usr/bin/env bash
# Builds the Windows programs and runs their end-to-end tests under Wine:
# the same output bytes as the Linux program for the corpus photos, the
# command-line rules through the real GetCommandLineW, names with blanks and
# outside the code page, the no-replace move, the error report in the OEM
# code page, the exit statuses and Ctrl+C. Installs what is missing; about
# two minutes on a quiet 2-core machine, the first Wine start included.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" wine wine64

bin="$root/build-windows/bin"
"$root/scripts/build-windows.sh" "$bin" >/dev/null
# The tests themselves are Linux programs that drive Wine.
cmake -S "$root" -B "$root/build-windows/linux" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-windows/linux" -j"$(nproc)" --target windows_e2e_test shrinkwell >/dev/null

WINEPREFIX=$(mktemp -d /tmp/shrinkwell-wine-XXXXXX)
export WINEPREFIX WINEDEBUG=-all
# Wine reads Unix file names in the locale's character set, and the tests
# name files in UTF-8: a fresh system without a locale would not find them.
export LC_ALL=C.UTF-8
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
# A server kept running starts each program in about 50 ms instead of 0.5 s.
wineserver -p
wineboot -i >/dev/null 2>&1 || true
# A fresh prefix goes on starting its services after wineboot returns; one
# run of the program through its scratch files (a file that is no photo)
# lets them settle before the tests time anything.
warm=$(mktemp -d /tmp/shrinkwell-warm-XXXXXX)
echo "no photo" >"$warm/warm.jpg"
(cd "$warm" && timeout 120 wine "$bin/shrinkwell.exe" warm.jpg </dev/null >/dev/null 2>&1) || true
rm -rf "$warm"
SHRINKWELL_WINDOWS_BIN="$bin" "$root/build-windows/linux/tests/e2e/windows_e2e_test" </dev/null
