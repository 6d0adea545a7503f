#!/usr/bin/env bash
# Runs a command with a virtual X display, for the tests that show windows
# (message boxes, dialogs). An existing DISPLAY is used as it is, unless
# --new asks for a display of the command's own. Xvfb picks a free display
# number itself (-displayfd), so that runs started at the same moment never
# share, and stop, one display.
#   usage: with-xvfb.sh [--new] COMMAND [ARGS...]
set -u
new=0
[ "${1:-}" = --new ] && { new=1; shift; }
if [ $new = 0 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$@"
fi
numberfile=$(mktemp "${TMPDIR:-/tmp}/quendal-display.XXXXXX")
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
xvfb=$!
display=
for _ in $(seq 100); do
  display=$(tr -dc '0-9' < "$numberfile")
  [ -n "$display" ] && DISPLAY=:$display xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
rm -f "$numberfile"
if [ -z "$display" ]; then
  echo "with-xvfb.sh: Xvfb did not start" >&2
  kill "$xvfb" 2>/dev/null
  exit 1
fi
DISPLAY=:$display "$@"
rc=$?
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
exit $rc
