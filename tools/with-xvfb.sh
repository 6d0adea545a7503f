#!/usr/bin/env bash
# Runs a command with a virtual X display, for the tests that show windows
# (message boxes, dialogs). An existing DISPLAY is used as it is.
set -u
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$@"
fi
for n in $(seq 90 140); do
  [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do
  DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
DISPLAY=$display "$@"
rc=$?
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
exit $rc
