#!/usr/bin/env bash
# Runs one Windows program under Wine in a prefix of its own, made from the
# template prefix, and removes that prefix afterwards: every test starts from
# the same clean machine and leaves nothing behind. The large, read-only parts
# of the template (the system DLLs) are hard-linked, the rest is copied, which
# makes a prefix in well under a second.
#   usage: wine-run.sh PROGRAM.exe [ARGS...]
# Environment: QUENDAL_WINE_TEMPLATE (required), QUENDAL_KEEP_PREFIX=1 keeps
# the prefix for a look after the run, QUENDAL_CDROM_DRIVE=<letter> adds a
# writable drive that Wine reports as a CD-ROM: a volume without access
# control lists. QUENDAL_PREFIX=<dir> runs in that prefix (made from the
# template when the directory does not exist yet) and leaves it for the
# caller: each run there is a session of its own, as from one start of
# Windows to the next. QUENDAL_LOG_PIXELS=<dpi> gives a new prefix that
# system DPI (96 is 100 %, 144 is 150 %, 192 is 200 %).
# QUENDAL_SMALL_DRIVE=<letter>:<size> adds a drive of that size (a tmpfs of
# its own, "2m" is 2 MiB), for a disk that fills up; where the host does not
# let this script mount one, it says so and ends with 77 (CTest: skipped).
set -u
here=$(dirname "$(realpath "$0")")
# A display of the run's own, as a machine has: no other test's X clients.
# On a shared display a window's X id that Wine still held after the X
# connection that made it had closed was handed out again to another
# test's new client, and Wine's next drawing on it ended the test with
# BadMatch (X_CreateGC) (docs/testing.md). The whole run goes inside it, so
# that the prefix's processes end before their display does.
if [ -z "${QUENDAL_RUN_DISPLAY:-}" ]; then
  QUENDAL_RUN_DISPLAY=1 exec "$here/with-xvfb.sh" --new "$0" "$@"
fi
unset QUENDAL_RUN_DISPLAY
template=${QUENDAL_WINE_TEMPLATE:?QUENDAL_WINE_TEMPLATE names the template prefix}
reuse=0
if [ -n "${QUENDAL_PREFIX:-}" ]; then
  prefix=$QUENDAL_PREFIX
  [ -d "$prefix" ] && reuse=1
  mkdir -p "$prefix"
else
  prefix=$(mktemp -d "${TMPDIR:-/tmp}/quendal-prefix.XXXXXX")
fi

# One cp for each kind of copy: a process start costs more than most files.
copy_prefix() {
  shopt -s dotglob nullglob
  local e top=() drive=() linked=() copied=()
  for e in "$template"/*; do
    [ "${e##*/}" = drive_c ] || top+=("$e")
  done
  for e in "$template/drive_c"/*; do
    [ "${e##*/}" = windows ] || drive+=("$e")
  done
  for e in "$template/drive_c/windows"/*; do
    case ${e##*/} in
      system32|syswow64|winsxs) linked+=("$e") ;;
      *) copied+=("$e") ;;
    esac
  done
  mkdir -p "$prefix/drive_c/windows"
  cp -a "${top[@]}" "$prefix/"
  [ ${#drive[@]} -eq 0 ] || cp -a "${drive[@]}" "$prefix/drive_c/"
  [ ${#copied[@]} -eq 0 ] || cp -a "${copied[@]}" "$prefix/drive_c/windows/"
  cp -al "${linked[@]}" "$prefix/drive_c/windows/"
}

# A prefix that is removed afterwards goes at once, as at a power cut: the
# wineserver and every process of the prefix killed, nothing saved
# (kill-prefix.sh). A prefix that is kept has its registry saved first: on
# SIGTERM the wineserver saves it and ends at once. (Its usual stop, SIGINT,
# waits about half a second for Wine's own services, which do not stop by
# themselves, before it kills them.)
small_drive=
# The small drive goes once the session that used it has ended.
unmount_small_drive() {
  [ -z "$small_drive" ] || umount "$small_drive" 2>/dev/null || umount -l "$small_drive"
}
cleanup() {
  if [ -z "${QUENDAL_PREFIX:-}" ] && [ "${QUENDAL_KEEP_PREFIX:-0}" != 1 ]; then
    "$here/kill-prefix.sh" "$prefix"
    unmount_small_drive
    rm -rf "$prefix"
    return
  fi
  WINEPREFIX=$prefix wineserver -k15 >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
  "$here/kill-prefix.sh" "$prefix"
  unmount_small_drive
  [ -n "${QUENDAL_PREFIX:-}" ] || echo "prefix kept: $prefix" >&2
}
trap cleanup EXIT

if [ $reuse = 0 ]; then
  # A server folder that an earlier prefix at this device and inode left
  # behind would be taken for this prefix's.
  "$here/kill-prefix.sh" "$prefix"
  copy_prefix
fi
if [ $reuse = 0 ] && [ -n "${QUENDAL_LOG_PIXELS:-}" ]; then
  "$here/set-log-pixels.sh" "$prefix" "$QUENDAL_LOG_PIXELS"
fi
if [ $reuse = 0 ] && [ -n "${QUENDAL_SMALL_DRIVE:-}" ]; then
  mkdir -p "$prefix/small"
  if ! why=$(mount -t tmpfs -o "size=${QUENDAL_SMALL_DRIVE#*:}" quendal-small "$prefix/small" 2>&1); then
    echo "wine-run.sh: SKIPPED: no drive of ${QUENDAL_SMALL_DRIVE#*:} can be mounted on this host: $why"
    exit 77
  fi
  small_drive=$prefix/small
  ln -s ../small "$prefix/dosdevices/${QUENDAL_SMALL_DRIVE%%:*}:"
fi
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# QUENDAL_DLL_OVERRIDES: more overrides for this run (a test of planted
# libraries makes Wine search for them as Windows does).
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${QUENDAL_DLL_OVERRIDES:+;$QUENDAL_DLL_OVERRIDES}"
if [ -n "${QUENDAL_CDROM_DRIVE:-}" ]; then
  mkdir -p "$prefix/cdrom"
  ln -s ../cdrom "$prefix/dosdevices/${QUENDAL_CDROM_DRIVE}:"
  # Wine's drive types live in the 64-bit registry view; where Wine has its
  # 32-bit half, a plain `wine reg` is the 32-bit tool and writes elsewhere.
  wine reg add 'HKLM\Software\Wine\Drives' /v "${QUENDAL_CDROM_DRIVE}:" /d cdrom /f /reg:64 >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1
  wineserver -w
fi
started=$SECONDS
wine "$@"
rc=$?
# A test that fails before it writes anything still says how it ended.
[ $rc = 0 ] || echo "wine-run.sh: ${1##*/} ended with exit code $rc after $((SECONDS - started)) s" >&2
exit $rc
