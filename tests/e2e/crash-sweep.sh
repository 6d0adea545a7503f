#!/usr/bin/env bash
# The installer stopped at random moments of a whole installation, in five
# ways, each in a prefix of its own; after each, the same command must finish
# the installation (0, or 300 and then 0 after a restart) and the product's
# uninstaller must leave the machine as a clean installation and removal
# leave it. The moments come from a seed, printed, so that a failure replays.
#
# The ways:
#   terminate   the installer alone, as TerminateProcess ends it; the next
#               run in the same session, with what the killed run started
#   session     the whole Wine session (every process at once: wineserver -k)
#   power       the wineserver itself with SIGKILL: files written stay, the
#               registry changes it had not saved are lost, as at a power cut
#   twice       killed, and the run that recovers killed too
#   upgrade     killed while it replaces an installed, running site; the
#               same command then once with the previous uninstaller failing
#               (107), which must leave the site as it was before the upgrade,
#               its service running: what the recovery put back is what ran
#
# The moments are spread over SPAN milliseconds, by default the time a clean
# installation takes here (measured first); a seed and a span replay a sweep.
#   usage: crash-sweep.sh INSTALLER.exe CRASH_PROBE.exe SEED COUNT [SPAN]
set -u
installer=$1 probe=$2 seed=$3 count=$4 span=${5:-}
here=$(dirname "$(realpath "$0")")
run="$here/../../tools/wine-run.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/quendal-sweep.XXXXXX")
cleanup() {
  for p in "$work"/p*/; do [ -d "$p" ] && power_cut "${p%/}"; done
  rm -rf "$work"
}
trap cleanup EXIT
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
installer_win=$(winpath "$installer")
site=Quendal-Crash
dir='C:\Sites\Quendal-Crash'
args=("-installDir=$dir" -acceptEULA)
before=$work/before.txt
# SWEEP_KINDS="upgrade ..." sweeps those ways alone.
read -r -a kinds <<< "${SWEEP_KINDS:-terminate session power twice upgrade}"
declare -A done_by_kind
failed=0

# The wineserver of a prefix and its processes, killed by one kill, so that
# none runs on while the others go; the server's folder goes with them, as
# a restart clears it.
power_cut() {
  "$here/../../tools/kill-prefix.sh" "$1"
}

# How long a whole installation takes here: the moments spread over it.
if [ -z "$span" ]; then
  export QUENDAL_PREFIX=$work/measure
  start=$(date +%s%N)
  "$run" "$installer" "${args[@]}" > "$work/measure.log" 2>&1 || { cat "$work/measure.log"; echo "FAIL: the clean installation"; exit 1; }
  span=$(( ($(date +%s%N) - start) / 1000000 ))
  power_cut "$QUENDAL_PREFIX"; rm -rf "$QUENDAL_PREFIX"
fi
# An upgrade of a running site removes one installation and makes another:
# its moments spread over about twice a clean installation's time.
upgrade_span=$(( span * 2 ))
echo "crash sweep: seed $seed, $count moments over $span ms, an upgrade's over $upgrade_span ms" \
  "(replay: SEED=$seed N=$count SPAN=$span)"

# The machine before, with the folder the sites go in (a removal leaves the
# folder it was in): every moment starts from a copy of this prefix, so one
# picture of it serves them all.
QUENDAL_PREFIX=$work/base "$run" "$probe" snapshot "$(winpath "$work")\\before.txt" 'C:\Sites' > "$work/base.log" 2>&1 ||
  { cat "$work/base.log"; echo "FAIL: no picture of the machine before"; exit 1; }
export QUENDAL_WINE_TEMPLATE=$work/base
before_win=$(winpath "$before")

RANDOM=$seed
for i in $(seq "$count"); do
  kind=${kinds[$(( (i - 1) % ${#kinds[@]} ))]}
  kind_span=$span
  [ "$kind" = upgrade ] && kind_span=$upgrade_span
  moment=$(( RANDOM * kind_span / 32768 ))
  second=$(( RANDOM * kind_span / 32768 ))
  export QUENDAL_PREFIX=$work/p$i
  log=$work/p$i.log
  : > "$log"
  note() { echo "$*" >> "$log"; }
  fail() { echo "FAIL: moment $i ($kind at ${moment} ms, seed $seed): $*"; tr -d '\r' < "$log" | sed 's/^/    /'; failed=$((failed + 1)); }
  code=
  case $kind in
    terminate|twice|upgrade)
      delays=$moment
      [ "$kind" = twice ] && delays="$moment,$second"
      if [ "$kind" = upgrade ]; then
        "$run" "$installer" "${args[@]}" -startService >> "$log" 2>&1 || { fail "the site to upgrade"; continue; }
        "$run" "$probe" snapshot 'C:\windows\temp\installed.txt' >> "$log" 2>&1 || { fail "no picture of the site"; continue; }
        export QUENDAL_FINAL_FORCE_EXIT='uninst.exe:-reinstall=131072'
      fi
      note "== $kind: killed after $delays ms, then the same command"
      "$run" "$probe" terminate "$delays" 'C:\windows\temp\runs.log' "$installer_win" "${args[@]}" >> "$log" 2>&1
      code=$?
      unset QUENDAL_FINAL_FORCE_EXIT
      cat "$QUENDAL_PREFIX/drive_c/windows/temp/runs.log" >> "$log" 2>/dev/null
      if [ "$kind" = upgrade ]; then
        [ "$code" = 107 ] || { fail "the same command with the uninstaller failing ended with $code, not 107"; continue; }
        note "== the site as before the upgrade, running"
        "$run" "$probe" same 'C:\windows\temp\installed.txt' "$site" "$dir" >> "$log" 2>&1 ||
          { fail "the recovery did not give the site back as it was"; continue; }
        note "== the same command"
        "$run" "$installer" "${args[@]}" >> "$log" 2>&1
        code=$?
      fi
      ;;
    session|power)
      note "== $kind: cut after $moment ms"
      "$run" "$installer" "${args[@]}" >> "$log" 2>&1 &
      runner=$!
      sleep "$(printf '%d.%03d' $((moment / 1000)) $((moment % 1000)))"
      if [ "$kind" = session ]; then
        WINEPREFIX=$QUENDAL_PREFIX wineserver -k >/dev/null 2>&1
      else
        power_cut "$QUENDAL_PREFIX"
      fi
      # A process still starting when its server went may wait for it for
      # ever: whatever did not go with the session goes now.
      sleep 0.5
      power_cut "$QUENDAL_PREFIX"
      wait "$runner" 2>/dev/null
      note "== the same command, the next session"
      "$run" "$installer" "${args[@]}" >> "$log" 2>&1
      code=$?
      ;;
  esac
  # A Unix exit status keeps the low 8 bits: 300 arrives as 44.
  if [ "$code" = 300 ] || [ "$code" = 44 ]; then
    note "== 300: the same command after the restart (the next session)"
    "$run" "$installer" "${args[@]}" >> "$log" 2>&1
    code=$?
  fi
  [ "$code" = 0 ] || { fail "the same command ended with $code"; continue; }
  note "== the product's uninstaller, then the machine against the picture before"
  "$run" "$probe" remove "$site" "$before_win" "$dir" >> "$log" 2>&1 ||
    { fail "the removal failed, or the machine differs from a clean installation and removal"; continue; }
  done_by_kind[$kind]=$(( ${done_by_kind[$kind]:-0} + 1 ))
  power_cut "$QUENDAL_PREFIX"
  rm -rf "$QUENDAL_PREFIX"
done
summary=
for kind in "${kinds[@]}"; do summary="$summary $kind ${done_by_kind[$kind]:-0},"; done
echo "sound by way:${summary%,}"
echo "$((count - failed)) passed, $failed failed"
[ "$failed" = 0 ]
