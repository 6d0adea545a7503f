#!/usr/bin/env bash
# Runs the whole suite: the x86-64 build's tests always, the shipping 32-bit
# build's tests where this host executes 32-bit code and Wine's 32-bit half is
# installed (then in a 64-bit prefix, as 64-bit Windows runs them under WOW64).
# Says at the end, for each build, how many tests ran, passed and failed, and
# why a suite did not run: a skipped one is never silent.
#   usage: run-tests.sh WIN64_BUILD_DIR WIN32_BUILD_DIR JOBS
set -u
win64=$1 win32=$2 jobs=$3
here=$(dirname "$(realpath "$0")")
logs=$(mktemp -d "${TMPDIR:-/tmp}/quendal-suites.XXXXXX")
trap 'rm -rf "$logs"' EXIT

# What CTest's summary says of one run: "N run, N passed, N failed", the
# skipped ones and the names of the failed ones. A run that ended before its
# summary (CTest itself failed) counts as a failure.
counts() {  # LOG
  local log=$1 line total failed skipped names
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    echo "no result (CTest ended without its summary)"
    return
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  skipped=$(listed "$log" 'The following tests did not run:')
  names=$(listed "$log" 'The following tests FAILED:')
  local ran=$((total - $(wc -w <<<"$skipped")))
  printf '%s run, %s passed, %s failed' "$ran" "$((ran - failed))" "$failed"
  [ -z "$skipped" ] || printf ', skipped: %s' "$(tr ' ' , <<<"$skipped")"
  [ -z "$names" ] || printf ' (%s)' "$(tr ' ' , <<<"$names")"
}

# The names CTest lists under its last HEADING (a test's own output may hold
# another CTest's).
listed() {  # LOG HEADING
  awk -v heading="$2" '
    $0 == heading { names = ""; inside = 1; next }
    inside && /^[[:space:]]+[0-9]+ - .* \(.*\)$/ { sub(/^[[:space:]]+[0-9]+ - /, ""); sub(/ \([^(]*\)$/, "")
                                                  names = names (names ? " " : "") $0; next }
    { inside = 0 }
    END { print names }' "$1"
}

run_suite() {  # DIR TITLE LOG [CTEST ARGS...]
  local dir=$1 title=$2 log=$3
  shift 3
  echo "== $title: ctest --test-dir $dir $*"
  # Each test has a limit of its own (tests/CMakeLists.txt); CTest's default
  # applies to none of them.
  "$here/with-xvfb.sh" ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600 "$@" 2>&1 | tee "$log"
  return "${PIPESTATUS[0]}"
}

status=0
summary=()
runs_i386=0
"$here/host-runs-i386.sh" && runs_i386=1
# Where the 32-bit suite cannot run, what needs no Wine still runs: the
# shipping build's import tables, the packer's refusals and the signatures.
# They need no Wine and little processor time: they run beside the suite.
if [ $runs_i386 = 0 ]; then
  ctest --test-dir "$win32" -L host --output-on-failure > "$logs/host" 2>&1 &
  host_checks=$!
fi

title="64-bit suite (x86-64 build)"
if run_suite "$win64" "$title" "$logs/64"; then
  summary+=("$title: passed: $(counts "$logs/64")")
else
  status=1; summary+=("$title: FAILED: $(counts "$logs/64")")
fi

if [ $runs_i386 = 0 ]; then
  summary+=("32-bit suite (shipping build): NOT RUN: this host does not execute 32-bit x86 code (tools/host-runs-i386.sh)")
  echo "== 32-bit build, host-side checks only: ctest --test-dir $win32 -L host"
  wait "$host_checks"
  host_status=$?
  cat "$logs/host"
  title="32-bit build, host-side checks (import tables, packer, signatures)"
  if [ $host_status = 0 ]; then
    summary+=("$title: passed: $(counts "$logs/host")")
  else
    status=1; summary+=("$title: FAILED: $(counts "$logs/host")")
  fi
elif [ ! -x /usr/lib/wine/wine ]; then
  summary+=("32-bit suite (shipping build): FAILED, NOT RUN: this host executes 32-bit code but Wine's 32-bit half (wine32:i386) is not installed; run make deps")
  status=1
else
  title="32-bit suite (shipping i686 build under WoW64)"
  if run_suite "$win32" "$title" "$logs/32"; then
    summary+=("$title: passed: $(counts "$logs/32")")
  else
    status=1; summary+=("$title: FAILED: $(counts "$logs/32")")
  fi
fi

echo
echo "== Suites"
printf '  %s\n' "${summary[@]}"
exit $status
