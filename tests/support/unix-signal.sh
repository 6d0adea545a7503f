#!/bin/sh
# Sends a Unix signal to the Wine processes of this test's own prefix whose
# command line contains a text: SIGINT is how a terminal's Ctrl+C reaches a
# Windows program under Wine, which turns it into the console's CTRL_C_EVENT.
# Started by a test program through Wine, so WINEPREFIX is the test's prefix.
#   usage: unix-signal.sh SIGNAL TEXT...   exit 1 when no process matched
signal=$1; shift
here=$(dirname "$(realpath "$0")")
found=1
for pid in $("$here/../../tools/prefix-pids.sh" "$WINEPREFIX"); do
  [ "$pid" = $$ ] && continue
  # Processes come and go meanwhile.
  cmdline=$({ tr '\0' ' ' < "/proc/$pid/cmdline"; } 2>/dev/null)
  for text in "$@"; do
    case $cmdline in
      *"$text"*) kill -s "$signal" "$pid" && found=0 ;;
    esac
  done
done
exit $found
