#!/usr/bin/env python3
"""Where an installation's time goes: runs the real installer unattended into
a fresh Wine prefix, notes when each console line arrives, and charges the
time from one line to the next to the step the first line announces. Wine's
own cost of a program in a fresh prefix (copying the prefix, starting and
stopping Wine) is measured with a program that does nothing, and the cost of
Wine's desktop (a process of its own, started by a program's first window or
shell object; Windows always has one) with a program that says it started,
then brings the desktop up and says so: the time to its first line is Wine's
start, from there to the second the desktop's, the rest Wine's stop. Both
are shown apart, and the phases that pay them are also given less them: the
first (Wine's start), the shortcuts (an unattended installation's first
shell object starts the desktop) and the last (Wine's stop). Each figure is
the median of five runs.
    usage: install-profile.py BUILD_DIR
"""
import os
import statistics
import subprocess
import sys
import time

ROUNDS = 5


def phase_of(line):
    if line.startswith("Installing "):
        return "package writing (all files)"
    if line.startswith("Creating shortcut"):
        return "shortcuts"
    for prefix, name in (("Registering service", "service registration"),
                         ("Registering server", "COM server registration (the server's own command)"),
                         ("Registering uninstaller", "uninstaller registration"),
                         ("Starting ", "service start"),
                         ("Creating Korvane registry key", "product key")):
        if line.startswith(prefix):
            return name
    return None


def run(cmd, env):
    """The arrival time of each line, and the time the run ended."""
    start = time.monotonic()
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    lines = []
    for raw in p.stdout:
        lines.append((time.monotonic() - start, raw.decode("utf-8", "replace").rstrip()))
    p.wait()
    if p.returncode != 0 and "QuendalInstaller" in cmd[1]:
        sys.exit(f"install-profile.py: the installer ended with {p.returncode}")
    return lines, time.monotonic() - start


def main():
    build = os.path.realpath(sys.argv[1])
    here = os.path.dirname(os.path.realpath(__file__))
    env = dict(os.environ, QUENDAL_WINE_TEMPLATE=os.path.join(build, "wine-template"))
    wine_run = os.path.join(here, "wine-run.sh")
    nothing = os.path.join(build, "tests", "screenshot_driver.exe")  # exits at once without arguments
    desktop = [os.path.join(build, "tests", "package_bench.exe"), "--desktop"]
    installer = os.path.join(build, "QuendalInstaller.exe")
    args = ["-installDir=C:\\Sites\\Korvane Quendal", "-acceptEULA", "-startService"]

    wine_alone = statistics.median(run([wine_run, nothing], env)[1] for _ in range(ROUNDS))
    with_desktop = [run([wine_run] + desktop, env) for _ in range(ROUNDS)]
    if any([line for _, line in lines] != ["started", "desktop up"] for lines, _ in with_desktop):
        sys.exit("install-profile.py: the baseline did not bring up the desktop")
    desktop_total = statistics.median(total for _, total in with_desktop)
    wine_start = statistics.median(lines[0][0] for lines, _ in with_desktop)
    desktop_up = statistics.median(lines[1][0] - lines[0][0] for lines, _ in with_desktop)
    desktop_stop = statistics.median(total - lines[1][0] for lines, total in with_desktop)
    rounds = []
    for _ in range(ROUNDS):
        lines, total = run([wine_run, installer] + args, env)
        phases = {"start: Wine and the installer's checks, up to its first step": lines[0][0] if lines else total}
        for (t, line), nxt in zip(lines, [t for t, _ in lines[1:]] + [total]):
            name = phase_of(line) or ("end: the last line to the end of the run" if nxt == total else "other")
            phases[name] = phases.get(name, 0.0) + (nxt - t)
        phases["total"] = total
        rounds.append(phases)

    names = list(rounds[0])
    total = statistics.median(r["total"] for r in rounds)
    print(f"Installation into a fresh prefix, {ROUNDS} runs, medians: {total:.2f} s")
    print(f"  of which Wine alone (a program that does nothing, same prefix setup): {wine_alone:.2f} s")
    print(f"  Wine's desktop, which the installation needs (its shortcuts): {desktop_total - wine_alone:.2f} s")
    print(f"  the installer's own: {total - desktop_total:.2f} s")
    for name in names:
        value = statistics.median(r.get(name, 0.0) for r in rounds)
        print(f"  {value:6.2f} s  {100 * value / total:5.1f} %  {name}")
    first, shortcuts, last = names[0], "shortcuts", "end: the last line to the end of the run"
    start_own = statistics.median(r[first] for r in rounds) - wine_start
    print(f"  {start_own:6.2f} s  {100 * start_own / total:5.1f} %  of the first, the installer's own "
          f"(less {wine_start:.2f} s for Wine to start a program)")
    if shortcuts in names:
        own = statistics.median(r[shortcuts] for r in rounds) - desktop_up
        print(f"  {own:6.2f} s  {100 * own / total:5.1f} %  of the shortcuts, the installer's own "
              f"(less {desktop_up:.2f} s for Wine to start its desktop)")
    if last in names:
        end_own = statistics.median(r[last] for r in rounds) - desktop_stop
        print(f"  {end_own:6.2f} s  {100 * end_own / total:5.1f} %  of the last, the installer's own "
              f"(less {desktop_stop:.2f} s for Wine to stop)")


if __name__ == "__main__":
    main()
