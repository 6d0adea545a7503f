#!/usr/bin/env bash
# Ends a Wine prefix's session as a power cut would: every process whose
# environment names the prefix, its wineserver among them, killed at once,
# nothing saved, and the server's folder (its socket and lock) removed.
# A process being started while the list is read escapes that kill and may
# start a server of its own for the prefix: the kill is repeated until no
# process is left. A server left running, or its folder left behind, would
# be met by the next prefix made at the same device and inode (ext4 hands a
# freed inode out again at once): that prefix's programs would talk to the
# server of one that is gone.
#   usage: kill-prefix.sh PREFIX
set -u
here=$(dirname "$(realpath "$0")")
# Started from a session's own script, this script would be one of the
# prefix's processes, and its first kill its own end.
[ -z "${WINEPREFIX+set}" ] || exec env -u WINEPREFIX "$0" "$@"
prefix=$1

for round in $(seq 100); do
  pids=$("$here/prefix-pids.sh" "$prefix")
  [ -n "$pids" ] || break
  kill -9 $pids 2>/dev/null
  # A killed process can stay listed until the kernel has torn it down.
  [ "$round" = 1 ] || sleep 0.05
done
[ -z "$pids" ] || echo "kill-prefix.sh: processes of $prefix outlived every kill: $pids" >&2

# The server's folder is named after the prefix's device and inode, under
# /tmp/.wine-UID upstream, /tmp/wine-* on Debian.
if ids=$(stat -c '%d %i' "$prefix" 2>/dev/null); then
  server=server-$(printf '%x-%x' $ids)
  rm -rf "/tmp/.wine-$(id -u)/$server" /tmp/wine-*/"$server"
fi
