#!/usr/bin/env bash
# Runs the whole suite: the x86-64 build's tests always, the shipping 32-bit
# build's tests where this host executes 32-bit code and Wine's 32-bit half is
# installed (then in a 64-bit prefix, as 64-bit Windows runs them under WOW64).
# Says at the end which suites ran, so a skipped one is never silent.
#   usage: run-tests.sh WIN64_BUILD_DIR WIN32_BUILD_DIR JOBS
set -u
win64=$1 win32=$2 jobs=$3
here=$(dirname "$(realpath "$0")")

run_suite() {
  local dir=$1 title=$2
  echo "== $title: ctest --test-dir $dir"
  "$here/with-xvfb.sh" ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600
}

status=0
summary=()
runs_i386=0
"$here/host-runs-i386.sh" && runs_i386=1
# Where the 32-bit suite cannot run, what needs no Wine still runs: the
# shipping build's import tables, the packer's refusals and the signatures.
# They need no Wine and little processor time: they run beside the suite.
if [ $runs_i386 = 0 ]; then
  host_log=$(mktemp "${TMPDIR:-/tmp}/quendal-host-checks.XXXXXX")
  ctest --test-dir "$win32" -L host --output-on-failure > "$host_log" 2>&1 &
  host_checks=$!
fi

if run_suite "$win64" "64-bit suite (x86-64 build)"; then
  summary+=("64-bit suite (x86-64 build): passed")
else
  status=1; summary+=("64-bit suite (x86-64 build): FAILED")
fi

if [ $runs_i386 = 0 ]; then
  summary+=("32-bit suite (shipping build): NOT RUN - this host does not execute 32-bit x86 code")
  echo "== 32-bit build, host-side checks only: ctest --test-dir $win32 -L host"
  wait "$host_checks"
  host_status=$?
  cat "$host_log"
  rm -f "$host_log"
  if [ $host_status = 0 ]; then
    summary+=("32-bit build, host-side checks (import tables, packer, signatures): passed")
  else
    status=1; summary+=("32-bit build, host-side checks (import tables, packer, signatures): FAILED")
  fi
elif [ ! -x /usr/lib/wine/wine ]; then
  summary+=("32-bit suite (shipping build): NOT RUN - Wine's 32-bit half (wine32:i386) is not installed; run make deps")
  status=1
elif run_suite "$win32" "32-bit suite (shipping i686 build under WoW64)"; then
  summary+=("32-bit suite (shipping i686 build under WoW64): passed")
else
  status=1; summary+=("32-bit suite (shipping i686 build under WoW64): FAILED")
fi

echo
echo "== Suites"
printf '  %s\n' "${summary[@]}"
exit $status
