#!/usr/bin/env bash
# A session that ends in the middle of an installation, as at a power loss,
# and the same command as the first of the next session. Under Wine the first
# command of a prefix's session carries out the operations pending for the
# restart and starts the automatic services, as a start of Windows does: the
# service that the cut-off run registered may then already run from the
# half-installed folder when the installer undoes that run.
#   usage: new-session.sh INSTALLER.exe REG_VIEW(32|64)
set -u
installer=$1 view=$2
here=$(dirname "$(realpath "$0")")
run="$here/../../tools/wine-run.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/quendal-session.XXXXXX")
export QUENDAL_PREFIX=$work/prefix
trap '"$here/../../tools/kill-prefix.sh" "$QUENDAL_PREFIX"; rm -rf "$work"' EXIT
dir='C:\Sites\Quendal-Power'
fail() { echo "FAIL: $*"; for f in "$work"/*.log; do echo "--- $f"; tr -d '\r' < "$f"; done; exit 1; }

# 1. Cut off while the COM server registers: every process of the session
#    ends at once.
QUENDAL_FORCE_EXIT='QuendalCfgManip.exe:/RegServer=hang' \
  "$run" "$installer" "-installDir=$dir" -acceptEULA > "$work/cut.log" 2>&1 &
for _ in $(seq 600); do
  grep -q 'Registering server' "$work/cut.log" && break
  sleep 0.1
done
grep -q 'Registering server' "$work/cut.log" || fail "the first run never reached the COM server"
sleep 1
WINEPREFIX=$QUENDAL_PREFIX wineserver -k
wait

# 2. The next session: the same command finishes the installation.
"$run" "$installer" "-installDir=$dir" -acceptEULA > "$work/again.log" 2>&1
code=$?
[ "$code" = 0 ] || fail "the same command ended with $code"
tr -d '\r' < "$work/again.log" | grep -qx 'An earlier installation of Quendal-Power did not finish; undoing what it changed' ||
  fail "no recovery line"
tr -d '\r' < "$work/again.log" | tail -n 2 | grep -qx 'Korvane Quendal 5.18 installation completed.' ||
  fail "not completed"

# 3. A third session: the journal is gone, the entry is there, the service is
#    registered, and its program is the new one.
"$run" reg query 'HKLM\Software\Korvane\Quendal-Power' /v InstallJournal "/reg:$view" > "$work/journal.log" 2>&1 &&
  fail "the journal was left"
"$run" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quendal-Power' /v Version "/reg:$view" \
  > "$work/entry.log" 2>&1 || fail "no uninstall entry"
grep -q '5\.18' "$work/entry.log" || fail "the entry's version"
"$run" sc query Quendal-Power > "$work/service.log" 2>&1 || fail "no service"
# What the second session's run did, without the file lines.
tr -d '\r' < "$work/again.log" | grep -v '^Installing \|^Rollback: removing previously created C'
echo "passed"
