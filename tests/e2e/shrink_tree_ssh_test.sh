#!/usr/bin/env bash
# scripts/shrink-tree.sh as a cluster uses it: an sshd of the test's own on
# the loopback (its own host key, authorized key and port, everything in a
# temporary folder), named twice in GNU parallel's login file as two
# machines; every copy must equal a local run's, and each folder's lines
# come whole. Skips (status 77), saying why, where sshd cannot start.
# Usage: shrink_tree_ssh_test.sh SHRINKWELL MAKE_EXAMPLE_PHOTOS
set -euo pipefail
program=$1 examples=$2
script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/shrink-tree.sh"
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

sshd=$(command -v sshd || true)
[ -n "$sshd" ] || sshd=/usr/sbin/sshd
[ -x "$sshd" ] || skip "no sshd here (Debian's openssh-server)"
command -v ssh >/dev/null || skip "no ssh client here (Debian's openssh-client)"

scratch=$(mktemp -d)
made_privsep=
pid=
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  [ -z "$made_privsep" ] || rmdir /run/sshd 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# sshd run as root wants its privilege separation folder.
if [ "$(id -u)" -eq 0 ] && [ ! -d /run/sshd ]; then
  mkdir -m 0755 /run/sshd && made_privsep=1
fi
ssh-keygen -q -t ed25519 -N '' -f "$scratch/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$scratch/client_key"
cp "$scratch/client_key.pub" "$scratch/authorized_keys"
user=$(id -un)

# A port of our own: the first that sshd can listen on.
started=
for try in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 20000))
  cat >"$scratch/sshd_config" <<END
Port $port
ListenAddress 127.0.0.1
HostKey $scratch/host_key
PidFile $scratch/sshd.pid
AuthorizedKeysFile $scratch/authorized_keys
AllowUsers $user
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
LogLevel ERROR
END
  "$sshd" -D -e -f "$scratch/sshd_config" 2>"$scratch/sshd.log" &
  pid=$!
  cat >"$scratch/ssh_config" <<END
Host machine-a machine-b
  HostName 127.0.0.1
  Port $port
  User $user
  IdentityFile $scratch/client_key
  IdentitiesOnly yes
  BatchMode yes
  StrictHostKeyChecking no
  UserKnownHostsFile $scratch/known_hosts
  LogLevel ERROR
END
  for wait in $(seq 1 50); do
    if ssh -F "$scratch/ssh_config" machine-a true 2>/dev/null; then
      started=1
      break 2
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  pid=
done
[ -n "$started" ] || skip "sshd could not start: $(head -c 300 "$scratch/sshd.log")"

# A tree of example photos, and what a local run makes of it.
plant() {
  for folder in "$1/a" "$1/a/b" "$1/c" "$1/d/e"; do
    mkdir -p "$folder"
    "$examples" "$folder" >/dev/null
  done
}
plant "$scratch/single"
plant "$scratch/tree"
mkdir "$scratch/work"
(cd "$scratch/work" && find "$scratch/single" -type f -print0 | xargs -0 "$program" >/dev/null)

# Two machines, one job at a time each; the program at the same path on
# both, as on a shared file system.
printf '1/machine-a\n1/machine-b\n' >"$scratch/machines"
status=0
(cd "$scratch/work" && SHRINKWELL=$program PARALLEL_SSH="ssh -F $scratch/ssh_config" \
  bash "$script" --sshloginfile "$scratch/machines" "$scratch/tree" >"$scratch/run.log" 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "status $status: $(cat "$scratch/run.log")"
diff -r "$scratch/single" "$scratch/tree" || fail "the copies differ from a local run's"
# Each folder's four lines together, under one banner of their own.
for folder in a a/b c d/e; do
  lines=$(grep -c "^\[0[1-4]/04\] $scratch/tree/$folder/[^/]* OK" "$scratch/run.log" || true)
  [ "$lines" -eq 4 ] || fail "$folder: $lines lines, not 4: $(cat "$scratch/run.log")"
done
[ "$(grep -c '^Shrinkwell ' "$scratch/run.log")" -eq 4 ] || fail "not one run per folder: $(cat "$scratch/run.log")"
echo "shrink-tree over ssh: every check passed"
