#!/usr/bin/env python3
"""tools/kill-prefix.sh on the host, with stand-ins for a prefix's processes:
a process that keeps starting others is ended with all it started, however
many rounds that takes; a process of another prefix (whose path begins the
same) and one of no prefix live on; the prefix's server folder goes, another
prefix's stays; and the script finishes its work when it is started from a
session's own script, with the prefix in its own environment.
    usage: kill_prefix.py TOOLS_DIR
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

failures = []


def check(what, ok):
    print(("ok      " if ok else "FAILED  ") + what)
    if not ok:
        failures.append(what)


def processes_of(prefix):
    found = []
    for environ in glob.glob("/proc/[0-9]*/environ"):
        try:
            with open(environ, "rb") as f:
                if b"WINEPREFIX=" + prefix.encode() in f.read().split(b"\0"):
                    found.append(int(environ.split("/")[2]))
        except OSError:
            pass
    return found


def server_folder(prefix):
    st = os.stat(prefix)
    return f"/tmp/.wine-{os.getuid()}/server-{st.st_dev:x}-{st.st_ino:x}"


def start(prefix, script):
    env = dict(os.environ)
    env.pop("WINEPREFIX", None)
    if prefix:
        env["WINEPREFIX"] = prefix
    return subprocess.Popen(["bash", "-c", script], env=env, start_new_session=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    kill = os.path.join(sys.argv[1], "kill-prefix.sh")
    work = tempfile.mkdtemp(prefix="quendal-kill-prefix.")
    prefix, other = os.path.join(work, "p"), os.path.join(work, "p-other")
    os.makedirs(prefix)
    os.makedirs(other)
    folders = [server_folder(prefix), server_folder(other)]
    started = []
    try:
        for folder in folders:
            os.makedirs(folder, exist_ok=True)
            open(os.path.join(folder, "lock"), "w").close()
        for with_own_prefix in (False, True):
            os.makedirs(folders[0], exist_ok=True)
            # Starts another process every hundredth of a second.
            spawner = start(prefix, "while :; do sleep 30 & sleep 0.01; done")
            bystanders = [start(other, "sleep 30"), start(None, "sleep 30")]
            started += [spawner] + bystanders
            # Counted once: the short-lived ones come and go meanwhile.
            deadline, count = time.monotonic() + 5, 0
            while count < 5 and time.monotonic() < deadline:
                time.sleep(0.05)
                count = len(processes_of(prefix))
            how = "started with the prefix in its environment" if with_own_prefix else "started from outside"
            check(f"{how}: the prefix has its processes before ({count})", count >= 5)
            env = dict(os.environ)
            if with_own_prefix:
                env["WINEPREFIX"] = prefix
            else:
                env.pop("WINEPREFIX", None)
            r = subprocess.run([kill, prefix], env=env, capture_output=True, text=True, timeout=60)
            check(f"{how}: the script ends with 0 and says nothing ({r.returncode}, {r.stderr.strip()!r})",
                  r.returncode == 0 and r.stderr == "")
            left = processes_of(prefix)
            check(f"{how}: no process of the prefix is left ({left})", not left)
            check(f"{how}: the other prefix's process and the one of no prefix live on",
                  all(b.poll() is None for b in bystanders))
            check(f"{how}: the prefix's server folder is gone", not os.path.exists(folders[0]))
            check(f"{how}: the other prefix's server folder stays", os.path.isdir(folders[1]))
        # A prefix that is gone already: nothing to do, nothing said.
        shutil.rmtree(prefix)
        r = subprocess.run([kill, prefix], capture_output=True, text=True, timeout=60)
        check("a prefix that is gone: 0, nothing said", r.returncode == 0 and r.stderr == "")
    finally:
        for p in started:
            try:
                os.killpg(p.pid, 9)
            except OSError:
                pass
            p.wait()
        for pid in processes_of(prefix) + processes_of(other):
            try:
                os.kill(pid, 9)
            except OSError:
                pass
        for folder in folders:
            shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        sys.exit(f"{len(failures)} failed")


if __name__ == "__main__":
    main()
