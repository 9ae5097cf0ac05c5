#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Runs the README's many-hosts example as written, against an ssh server
# started here for the run, on 127.0.0.1 only, with a key made for the run
# and two host names for it (an ssh configuration of its own, which
# parallel is told of through PARALLEL_SSH).  The built program is
# installed to a temporary prefix that is first on the remote side's PATH.
# The example's output and reports must equal those of kepsift run on each
# file in turn on this machine, both host names must have been used, and
# --cleanup must have removed the files sent over.  Checks too that the
# manual shows the same command.  Skipped where a tool is missing, except
# in CI.
#   many_hosts.sh BUILD_FOLDER SOURCE_FOLDER
set -euo pipefail
build=$(cd "$1" && pwd) source_folder=$(cd "$2" && pwd)

for tool in /usr/sbin/sshd ssh ssh-keygen parallel rsync ss; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is not installed"
    [ -n "${CI:-}" ] && exit 1
    exit 77
  fi
done

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The command as the README writes it, and as the manual does over two
# lines.
recipe=$(grep -x 'parallel -k -S host1,host2 .*' "$source_folder/README.md")
manual=$(sed -n '/^\$ parallel -k -S host1,host2/{N;s/ \\e\n *\(.*\)/ \1/;s/^\$ //p}' "$source_folder/man/kepsift.1.in")
[ "$recipe" = "$manual" ] || fail "the README shows '$recipe', the manual '$manual'"

work=$(mktemp -d)
server=""
stop() {
  [ -z "$server" ] || { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true; }
  rm -rf "$work"
}
trap stop EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir -p "$work/files/examples" "$work/remote" "$work/home"
cp "$source_folder"/examples/*.txt "$work/files/examples/"
user=$(id -un)

ssh-keygen -q -t ed25519 -N '' -C 'kepsift test server' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -C 'kepsift test user' -f "$work/user_key"
cp "$work/user_key.pub" "$work/authorized_keys"
echo "kepsift-test-server $(cat "$work/host_key.pub")" > "$work/known_hosts"

# The server takes this key alone, for this user alone, on the loopback
# address alone.  Each session starts in a folder of the run's own rather
# than in the user's home, where the files sent over would land, with the
# installed kepsift first on the PATH.
write_server_config() { # port
  cat > "$work/sshd_config" <<CONFIG
ListenAddress 127.0.0.1:$1
AddressFamily inet
HostKey $work/host_key
PidFile none
AuthorizedKeysFile $work/authorized_keys
AuthenticationMethods publickey
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
AllowUsers $user
UsePAM no
StrictModes no
PrintMotd no
AllowAgentForwarding no
AllowTcpForwarding no
X11Forwarding no
PermitTunnel no
SetEnv PATH=$work/prefix/bin:/usr/bin:/bin HOME=$work/remote
ForceCommand cd $work/remote && exec "\$SHELL" -c "\$SSH_ORIGINAL_COMMAND"
CONFIG
}

# The server runs in the foreground of a job of this script, so that it
# is stopped by its own process number.  A port another program holds is
# tried again elsewhere.
[ "$(id -u)" -ne 0 ] || mkdir -p /run/sshd
for attempt in $(seq 10); do
  port=$((20000 + RANDOM % 40000))
  write_server_config "$port"
  /usr/sbin/sshd -D -f "$work/sshd_config" -E "$work/sshd.log" &
  server=$!
  for wait in $(seq 50); do
    grep -q "Server listening on 127.0.0.1 port $port" "$work/sshd.log" 2>/dev/null && break 2
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  server=""
done
if [ -z "$server" ]; then
  cat "$work/sshd.log"
  echo "FAILED: the ssh server did not start"
  exit 1
fi
listening=$(ss -ltnpH | grep "pid=$server," | awk '{ print $4 }' | sort -u | tr '\n' ' ')
[ "$listening" = "127.0.0.1:$port " ] || fail "the ssh server listens on $listening"

# Two names for the one server.  ssh is started through a script that
# notes the host each connection goes to.
cat > "$work/ssh_config" <<CONFIG
Host host1 host2
  HostName 127.0.0.1
  Port $port
  User $user
  IdentityFile $work/user_key
  IdentitiesOnly yes
  IdentityAgent none
  HostKeyAlias kepsift-test-server
  UserKnownHostsFile $work/known_hosts
  GlobalKnownHostsFile /dev/null
  StrictHostKeyChecking yes
  BatchMode yes
  LogLevel ERROR
CONFIG
cat > "$work/ssh" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$*" >> "$work/connections.log"
exec ssh -F "$work/ssh_config" "\$@"
SCRIPT
chmod +x "$work/ssh"

cd "$work/files"
for file in examples/*.txt; do "$work/prefix/bin/kepsift" "$file"; done > "$work/expected.tle" 2> "$work/expected.err"
echo "\$ $recipe"
status=0
PARALLEL_SSH="$work/ssh" HOME="$work/home" \
  bash -c "$recipe" < /dev/null 2> "$work/recipe.err" || status=$?

[ "$status" -eq 0 ] || fail "status $status: $(cat "$work/recipe.err")"
cmp -s all.tle "$work/expected.tle" || fail "the output differs from the one-machine run's"
cmp -s "$work/recipe.err" "$work/expected.err" || fail "the reports differ: $(tr '\n' '|' < "$work/recipe.err")"
for host in host1 host2; do
  grep -qw "$host" "$work/connections.log" || fail "no job went to $host"
done
left=$(ls -A "$work/remote")
[ -z "$left" ] || fail "--cleanup left on the remote side: $left"

[ "$failures" -eq 0 ] || exit 1
echo "$(($(wc -l < all.tle) / 3)) sets from $(ls examples/*.txt | wc -l) files over host1 and host2, as on one machine"
