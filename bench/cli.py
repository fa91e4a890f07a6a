#!/usr/bin/env python3
"""Benchmarks of orven-cli against orven-devsim (only inside tools/isolated-net):
  apply to 1,000 simulated devices announcing once a second: all confirmed within 3 s of the start;
  plan + apply for 1,000 devices in factory state: the plan from a range (listening 1.5 s), then its apply,
    all confirmed within 5 s of the plan's start (the plan's listening, the apply goal and 0.5 s for the two
    programs' start and the plan file);
  list of 10,000 devices announcing once a second each: every device listed after 2 s.
Given the Windows build's orven-cli.exe as well, its apply to the same 1,000 devices under Wine (the
simulator stays native, so the figure is orven-cli's own time on Windows' socket calls as Wine makes
them), beside the native apply of the same run; no goal: Wine's own cost per socket call decides it.
Each is run three times with a fresh simulator; every process is bounded in time.
usage: bench/cli.py BUILD/cli/orven-cli BUILD/tools/devsim/orven-devsim [WINDOWS_BUILD/bin/orven-cli.exe]"""
import csv
import io
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROUNDS = 3
BASE = 0x0012AB34CD5600


def simulator(exe, devices):
    sim = subprocess.Popen([exe, "--devices", str(devices), "--interval-ms", "1000", "--quiet",
                            "--duration-ms", "30000"], stdout=subprocess.DEVNULL)
    time.sleep(1.2)  # every device has announced once
    return sim


def stop(sim):
    sim.terminate()
    try:
        sim.wait(10)
    except subprocess.TimeoutExpired:
        sim.kill()


def apply_round(cli, sim_exe, plan):
    """cli: the command that starts orven-cli (a list)."""
    sim = simulator(sim_exe, 1000)
    try:
        start = time.monotonic()
        p = subprocess.run([*cli, "apply", plan, "--timeout", "20"], capture_output=True, text=True, timeout=120)
        wall = time.monotonic() - start
    finally:
        stop(sim)
    rows = [l.split() for l in p.stdout.splitlines()[1:] if l.strip()]
    confirmed = [float(r[2]) for r in rows if r[1] == "confirmed"]
    last = max(confirmed) if len(confirmed) == 1000 else float("inf")
    print(f"   apply: exit {p.returncode}, {len(confirmed)}/1000 confirmed, last at {last:.2f} s, "
          f"process ran {wall:.2f} s", flush=True)
    return last, len(confirmed)


PLAN_SECONDS = 1.5


def plan_apply_round(cli, sim_exe, plan):
    sim = simulator(sim_exe, 1000)
    try:
        start = time.monotonic()
        p = subprocess.run([cli, "plan", "--range", "10.1.0.1-10.1.7.254", "--mask", "255.0.0.0", "--gateway",
                            "10.0.0.1", "--seconds", str(PLAN_SECONDS), "-o", plan], capture_output=True, text=True,
                           timeout=60)
        planned = time.monotonic() - start
        a = subprocess.run([cli, "apply", plan, "--timeout", "20"], capture_output=True, text=True, timeout=60)
        total = time.monotonic() - start
    finally:
        stop(sim)
    confirmed = sum(1 for l in a.stdout.splitlines()[1:] if l.split()[1:2] == ["confirmed"])
    print(f"   plan + apply: plan exit {p.returncode} after {planned:.2f} s, apply exit {a.returncode}, "
          f"{confirmed}/1000 confirmed, both took {total:.2f} s", flush=True)
    return total if p.returncode == 0 and confirmed == 1000 else float("inf")


def list_round(cli, sim_exe):
    sim = simulator(sim_exe, 10000)
    try:
        p = subprocess.run([cli, "list", "--seconds", "2", "--format", "csv"], capture_output=True, text=True,
                           timeout=60)
    finally:
        stop(sim)
    rows = list(csv.DictReader(io.StringIO(p.stdout, newline="")))
    idents = {r["identity"] for r in rows}
    wanted = {"%014X" % (BASE + i) for i in range(10000)}
    print(f"   list: exit {p.returncode}, {len(rows)} rows, {len(idents & wanted)} of 10000 devices", flush=True)
    return len(idents & wanted) if len(rows) == len(idents) else 0


def main():
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
    import isolation
    isolation.require()  # this benchmark broadcasts
    cli, sim_exe = sys.argv[1], sys.argv[2]
    plan = os.path.join(tempfile.mkdtemp(prefix="orven-bench-"), "plan.csv")
    with open(plan, "w") as f:
        f.write("identity,ip,mask,gateway\n")
        for i in range(1000):
            f.write("%014X,10.1.%d.%d,255.0.0.0,10.0.0.1\n" % (BASE + i, i // 250, i % 250 + 1))
    applies = [apply_round([cli], sim_exe, plan) for _ in range(ROUNDS)]
    plan_applies = [plan_apply_round(cli, sim_exe, plan + ".planned") for _ in range(ROUNDS)]
    lists = [list_round(cli, sim_exe) for _ in range(ROUNDS)]
    worst = max(a[0] for a in applies)
    median = statistics.median(a[0] for a in applies)
    fewest = min(lists)
    print("RESULT|cli apply 1000: last confirmed (median)|s|%.3f|3|%.3f|<= 3 s|%s"
          % (median, median / 3, "met" if median <= 3 else "NOT MET"))
    print("RESULT|cli apply 1000: last confirmed (worst)|s|%.3f|3|%.3f|<= 3 s|%s"
          % (worst, worst / 3, "met" if worst <= 3 else "NOT MET"))
    both = statistics.median(plan_applies)
    goal = PLAN_SECONDS + 3 + 0.5
    print("RESULT|cli plan + apply 1000 (median)|s|%.3f|%.1f|%.3f|<= %.1f s|%s"
          % (both, goal, both / goal, goal, "met" if both <= goal else "NOT MET"))
    print("RESULT|cli list 10000 after 2 s (fewest)|devices|%d|10000|%.3f|all 10000|%s"
          % (fewest, fewest / 10000, "met" if fewest == 10000 else "NOT MET"))
    if len(sys.argv) > 3:
        wine_run = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "wine-run")
        on_wine = [apply_round([wine_run, sys.argv[3]], sim_exe, plan) for _ in range(ROUNDS)]
        wine = statistics.median(a[0] for a in on_wine)
        print("RESULT|cli apply 1000 under Wine (median)|s|%.3f|%.3f|%.3f|(no goal)|-|rounds: %s; native rounds: %s"
              % (wine, median, wine / median, " ".join("%.2f" % a[0] for a in on_wine),
                 " ".join("%.2f" % a[0] for a in applies)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
