#!/usr/bin/env python3
"""Runs one test's command under a time limit of its own, so that a test that
hangs costs minutes, not the whole run. When the limit runs out it says so,
lists the processes the test still has (found by a mark in their
environment, which Wine hands on to every Windows process it starts), prints
a backtrace of every thread of each of its Wine prefixes (winedbg's
"bt all", our programs' frames named from their symbol tables), and ends
the test: a terminate signal first, so that the scripts' own clean-up runs
(wine-run.sh removes its prefix), then a kill of whatever is left.
    usage: time-limit.py COMMAND [ARGS...]
Environment: QUENDAL_TEST_LIMIT, the limit in seconds (none: the command runs
as it is); QUENDAL_TEST_NAME, the test's name for the messages.
Exit code: the command's, or 124 when the limit ran out.
"""
import bisect
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import time

TAG_VARIABLE = "QUENDAL_LIMIT_TAG"
TIMED_OUT = 124
# How long the scripts' own clean-up may take after the terminate signal.
CLEANUP_SECONDS = 20
BACKTRACE_SECONDS = 90
HERE = os.path.dirname(os.path.realpath(__file__))


def say(text):
    print("time-limit: " + text, flush=True)


def environment_of(pid):
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            entries = f.read().split(b"\0")
    except OSError:
        return None
    env = {}
    for entry in entries:
        name, _, value = entry.partition(b"=")
        env[name.decode(errors="replace")] = value.decode(errors="replace")
    return env


def command_of(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return " ".join(a.decode(errors="replace") for a in f.read().split(b"\0") if a).strip()
    except OSError:
        return "?"


def marked_processes(tag):
    """pid -> (prefix or None, command line) of the processes carrying the tag."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        env = environment_of(entry)
        if env and env.get(TAG_VARIABLE) == tag:
            found[int(entry)] = (env.get("WINEPREFIX"), command_of(entry))
    return found


# --- Naming our frames --------------------------------------------------------

def image_base(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic == 0x20B:
        return struct.unpack_from("<Q", data, optional + 24)[0]
    return struct.unpack_from("<I", data, optional + 28)[0]


_symbol_tables = {}


def symbols_of(path):
    """Sorted (address, name) of the code symbols of a PE file, or None."""
    if path in _symbol_tables:
        return _symbol_tables[path]
    table = None
    for nm in ("x86_64-w64-mingw32-nm", "i686-w64-mingw32-nm"):
        if not shutil.which(nm):
            continue
        r = subprocess.run([nm, "--defined-only", "-C", path], capture_output=True, text=True)
        if r.returncode != 0:
            continue
        rows = []
        for line in r.stdout.splitlines():
            parts = line.split(" ", 2)
            if len(parts) == 3 and parts[1] in ("T", "t"):
                rows.append((int(parts[0], 16), parts[2]))
        rows.sort()
        table = rows or None
        break
    _symbol_tables[path] = table
    return table


def unix_path(windows_path, prefix):
    """The host file behind a Windows path of a Wine prefix, or None."""
    m = re.match(r"^([A-Za-z]):\\(.*)$", windows_path)
    if not m or not prefix:
        return None
    drive = os.path.join(prefix, "dosdevices", m.group(1).lower() + ":")
    path = os.path.join(os.path.realpath(drive), *m.group(2).split("\\"))
    return path if os.path.isfile(path) else None


FRAME = re.compile(r"^(\s*=?>?\s*\d+ 0x[0-9a-fA-F]+ in )(\S+) \(\+0x([0-9a-fA-F]+)\)(.*)$")
THREAD = re.compile(r"^Backtracing for thread \S+ in process \S+ \((.*)\):$")


def name_frames(block, prefix):
    """Our programs' frames, which winedbg gives as module+offset only,
    with the symbol that holds the address."""
    lines = block.splitlines()
    image = None
    m = THREAD.match(lines[0]) if lines else None
    if m:
        image = unix_path(m.group(1), prefix)
    if not image:
        return block
    folder = os.path.dirname(image)
    out = []
    for line in lines:
        f = FRAME.match(line)
        if f:
            module = f.group(2)
            candidates = [image] if os.path.splitext(os.path.basename(image))[0].lower() == module.lower() else []
            candidates += [os.path.join(folder, module + ext) for ext in (".dll", ".exe")]
            for path in candidates:
                if not os.path.isfile(path):
                    continue
                try:
                    table = symbols_of(path)
                    base = image_base(path) if table else None
                except (OSError, struct.error):
                    # The test's prefix went while it was being read.
                    table = None
                if not table:
                    break
                address = base + int(f.group(3), 16)
                at = bisect.bisect_right(table, (address, "\uffff")) - 1
                if at >= 0:
                    line += f"  [{table[at][1]}+0x{address - table[at][0]:x}]"
                break
        out.append(line)
    return "\n".join(out)


def backtraces(prefix, env):
    """winedbg's backtrace of every thread in the prefix: the blocks of
    programs outside the Windows folder first (the test's own)."""
    env = dict(env)
    env["WINEPREFIX"] = prefix
    env.setdefault("WINEDEBUG", "-all")
    env.pop(TAG_VARIABLE, None)
    try:
        r = subprocess.run(["wine", "winedbg", "--command", "bt all"], env=env, capture_output=True,
                           text=True, errors="replace", timeout=BACKTRACE_SECONDS)
        text = r.stdout + r.stderr
    except subprocess.TimeoutExpired as e:
        text = (e.stdout or b"").decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        text += f"\n(winedbg did not finish within {BACKTRACE_SECONDS} s)"
    blocks = re.split(r"\n(?=Backtracing for thread )", "\n" + text)
    ours, system = [], []
    for block in blocks:
        block = block.strip("\n")
        if not block.startswith("Backtracing"):
            continue
        m = THREAD.match(block.splitlines()[0])
        windows_own = bool(m) and m.group(1).lower().startswith("c:\\windows\\")
        (system if windows_own else ours).append(name_frames(block, prefix))
    if not ours and not system:
        return text.strip()
    return "\n\n".join(ours + system)


def end_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    try:
        proc.wait(timeout=CLEANUP_SECONDS)
    except subprocess.TimeoutExpired:
        pass
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


def main():
    command = sys.argv[1:]
    if not command:
        print(__doc__, file=sys.stderr)
        return 2
    limit = os.environ.get("QUENDAL_TEST_LIMIT")
    name = os.environ.get("QUENDAL_TEST_NAME", os.path.basename(command[0]))
    env = dict(os.environ)
    tag = f"{os.getpid()}-{time.monotonic_ns()}"
    env[TAG_VARIABLE] = tag
    # A group of its own: the whole test can be signalled at once.
    proc = subprocess.Popen(command, env=env, start_new_session=True)
    try:
        code = proc.wait(timeout=float(limit)) if limit else proc.wait()
        return code if code >= 0 else 128 - code
    except subprocess.TimeoutExpired:
        pass
    except KeyboardInterrupt:
        end_group(proc)
        raise

    say(f"{name} still runs after its limit of {limit} s; what it runs:")
    running = marked_processes(tag)
    prefixes = sorted({p for p, _ in running.values() if p})
    for pid, (prefix, cmd) in sorted(running.items()):
        where = f" [prefix {prefix}]" if prefix else ""
        print(f"  {pid}: {cmd}{where}", flush=True)
    for prefix in prefixes:
        say(f"backtrace of every thread in {prefix}:")
        try:
            print(backtraces(prefix, os.environ), flush=True)
        except Exception as e:  # the report must never keep the test from being ended
            say(f"no backtrace: {e!r}")
    end_group(proc)
    # What left the group (wineservers, Wine's services) goes with its prefix.
    for prefix in prefixes:
        subprocess.run([os.path.join(HERE, "kill-prefix.sh"), prefix])
        # A throw-away prefix of wine-run.sh whose clean-up did not get to run.
        if os.path.basename(prefix).startswith("quendal-prefix.") and os.path.isdir(prefix):
            shutil.rmtree(prefix, ignore_errors=True)
    for pid in marked_processes(tag):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    say(f"{name} ended: it ran out of its time limit ({limit} s)")
    return TIMED_OUT


if __name__ == "__main__":
    sys.exit(main())
