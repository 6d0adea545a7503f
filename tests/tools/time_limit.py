#!/usr/bin/env python3
"""The suite's time limits (tools/time-limit.py), as CTest runs them: a test
that hangs on purpose (hang_probe.exe, two Windows processes, three threads
waiting) ends at its own limit, well before CTest's, with the names of its
processes and a backtrace naming the probe's three waiting functions, and
leaves no process and no prefix behind; the test after it still runs and
passes. A command that ends within its limit keeps its exit code.
    usage: time_limit.py TOOLS_DIR HANG_PROBE_EXE
Environment: QUENDAL_WINE_TEMPLATE, as for every test under Wine.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

failures = []
LIMIT = 10
# CTest's own limit for the hanging test: far beyond ours, so that only the
# test's own limit can end it.
CTEST_TIMEOUT = 400


def check(what, ok, detail=""):
    print(("ok      " if ok else "FAILED  ") + what + (f" ({detail})" if detail and not ok else ""))
    if not ok:
        failures.append(what)


def cmake_list(items):
    return " ".join('"' + i.replace("\\", "/").replace('"', '\\"') + '"' for i in items)


def processes_of_prefixes_under(folder):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        for e in env:
            if e.startswith(b"WINEPREFIX=" + folder.encode()):
                found.append(int(entry))
    return found


def main():
    tools, probe = sys.argv[1], sys.argv[2]
    limit_tool = os.path.join(tools, "time-limit.py")
    work = tempfile.mkdtemp(prefix="quendal-time-limit.")
    prefixes = os.path.join(work, "tmp")
    os.makedirs(prefixes)
    env_common = [f"QUENDAL_WINE_TEMPLATE={os.environ['QUENDAL_WINE_TEMPLATE']}", f"TMPDIR={prefixes}"]
    with open(os.path.join(work, "CTestTestfile.cmake"), "w") as f:
        f.write(f"add_test(hangs {cmake_list([limit_tool, os.path.join(tools, 'wine-run.sh'), probe])})\n")
        f.write(f"set_tests_properties(hangs PROPERTIES TIMEOUT {CTEST_TIMEOUT} ENVIRONMENT "
                f"\"{';'.join(env_common + [f'QUENDAL_TEST_LIMIT={LIMIT}', 'QUENDAL_TEST_NAME=hangs'])}\")\n")
        f.write(f"add_test(after {cmake_list([limit_tool, 'sh', '-c', 'echo after ran'])})\n")
        f.write("set_tests_properties(after PROPERTIES TIMEOUT 60 ENVIRONMENT \"QUENDAL_TEST_LIMIT=30\")\n")
    env = dict(os.environ)
    env.pop("WINEPREFIX", None)
    started = time.monotonic()
    r = subprocess.run(["ctest", "--test-dir", work, "-j1", "--output-on-failure"], env=env,
                       capture_output=True, text=True, errors="replace")
    took = time.monotonic() - started
    out = r.stdout + r.stderr
    print(out)

    hangs = re.search(r"Test +#1: hangs \.+\*{0,3}(\w[\w ]*?) +([\d.]+) sec", out)
    check("the hanging test is reported failed by CTest", bool(hangs) and hangs.group(1) == "Failed",
          hangs.group(1) if hangs else "no result line")
    if hangs:
        seconds = float(hangs.group(2))
        # Its limit, the backtraces and the clean-up; CTest's limit is far off.
        check(f"it ended at its own limit, not CTest's ({seconds:.0f} s)", LIMIT <= seconds < LIMIT + 120)
    check("the test after it ran and passed", re.search(r"Test +#2: after \.+ +Passed", out) is not None)
    check("CTest counts one failed of two", "50% tests passed, 1 tests failed out of 2" in out)
    check("the limit says the test ran out of it", f"hangs ended: it ran out of its time limit ({LIMIT} s)" in out)
    # (The first Windows process of a 32-bit prefix keeps its Unix path.)
    listed = re.findall(r"^  \d+: \S*hang_probe\.exe( child)? \[prefix .*\]$", out, re.M)
    check("both of the probe's processes are listed", len(listed) == 2, str(listed))
    for function in ("HangProbeMainThreadWaits", "HangProbeWorkerThreadWaits", "HangProbeChildProcessWaits"):
        check(f"the backtrace names {function}", re.search(r"\[_?" + function + r"(@\d+)?\+0x", out) is not None)
    check("the test's own threads come before Wine's", out.find("hang_probe.exe):") < out.find("services.exe):"))
    check("no process of the test's prefixes is left", not processes_of_prefixes_under(prefixes),
          str(processes_of_prefixes_under(prefixes)))
    # (Wine's own server folders under the temporary folder are Wine's.)
    left = [e for e in os.listdir(prefixes) if not e.startswith("wine-")]
    check("no prefix is left", left == [], str(left))
    check(f"the whole run took less than CTest's limit ({took:.0f} s)", took < CTEST_TIMEOUT)

    # Within the limit the command's own code comes through, a signal's as
    # a shell gives it, and no message is added.
    for script, code in (("exit 0", 0), ("exit 7", 7), ("kill -TERM $$", 128 + 15)):
        e = dict(env, QUENDAL_TEST_LIMIT="30")
        r = subprocess.run([limit_tool, "sh", "-c", script], env=e, capture_output=True, text=True)
        check(f"'{script}' within its limit ends {code}", r.returncode == code and "time-limit" not in r.stdout,
              f"{r.returncode}: {r.stdout!r}")

    shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
