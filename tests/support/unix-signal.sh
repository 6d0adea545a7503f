#!/bin/sh
# Sends a Unix signal to the Wine processes of this test's own prefix whose
# command line contains a text: SIGINT is how a terminal's Ctrl+C reaches a
# Windows program under Wine, which turns it into the console's CTRL_C_EVENT.
# Started by a test program through Wine, so WINEPREFIX is the test's prefix.
#   usage: unix-signal.sh SIGNAL TEXT...   exit 1 when no process matched
signal=$1; shift
found=1
for proc in /proc/[0-9]*; do
  [ "${proc#/proc/}" = $$ ] && continue
  # Processes come and go meanwhile, and others' environments are closed.
  { tr '\0' '\n' < "$proc/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
  cmdline=$({ tr '\0' ' ' < "$proc/cmdline"; } 2>/dev/null)
  for text in "$@"; do
    case $cmdline in
      *"$text"*) kill -s "$signal" "${proc#/proc/}" && found=0 ;;
    esac
  done
done
exit $found
