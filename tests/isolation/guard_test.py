#!/usr/bin/env python3
"""The isolation guards refuse outside the private network namespace and admit inside it.

Outside: a fresh namespace this script makes for itself with unshare -n (never the host's), with a veth
pair up and addressed as a workstation's adapter is, and ORVEN_ISOLATED=1 set. There every networked test
program and every end-to-end script must end with exit code 78 and a message naming tools/isolated-net,
before sending anything (the pair's counters of datagrams sent stay as they were) and without touching the
routes; listing a program's tests still works. orven-devsim must refuse there with exit code 3, naming the
adapter and --real-network, and announce with --real-network.
Inside (tools/isolated-net, run from in here): the programs start their first test, the scripts' guard
admits, and orven-devsim announces, the marker pair being down.

    guard_test.py SOURCE_DIR DEVSIM PROGRAM...
"""
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return condition


def adapters():
    with open("/proc/self/net/dev") as f:
        return [line.split(":", 1)[0].strip() for line in f if ":" in line]


def sh(command):
    subprocess.run(command, shell=True, check=True)


def tx_packets():
    """Datagrams sent so far through each adapter of this namespace."""
    with open("/proc/self/net/dev") as f:
        return {line.split(":", 1)[0].strip(): int(line.split(":", 1)[1].split()[9]) for line in f if ":" in line}


def run(args, env=None, seconds=120):
    p = subprocess.run(args, capture_output=True, text=True, timeout=seconds, env=env)
    return p.returncode, p.stdout, p.stderr


def first_test_starts(args, seconds=120):
    """Starts a test program; True once it prints the start of its first test (then it is stopped)."""
    p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    deadline, seen = time.monotonic() + seconds, []
    try:
        for line in p.stdout:
            seen.append(line)
            if line.startswith("[ RUN      ]"):
                return True, ""
            if time.monotonic() > deadline:
                break
        return False, "".join(seen)[-2000:]
    finally:
        p.kill()
        p.wait()


def outside(source, devsim, programs):
    # A fresh namespace: nothing but loopback, else this is not the one made for this test.
    if adapters() != ["lo"]:
        sys.exit(f"guard_test: not in a fresh namespace ({adapters()}); refusing to go on")
    sh("ip link set lo up")
    sh("ip link add gA type veth peer name gB")
    for name, address in (("gA", "10.88.0.1/24"), ("gB", "10.88.0.2/24")):
        sh(f"sysctl -qw net.ipv6.conf.{name}.disable_ipv6=1")
        sh(f"ip addr add {address} dev {name}")
        sh(f"ip link set {name} up")
    sh("ip route add 224.0.0.0/4 dev gA")
    sh("ip route add 255.255.255.255 dev gA")
    time.sleep(0.5)  # the pair's carrier
    routes = subprocess.run(["ip", "route", "show", "table", "all"], capture_output=True, text=True).stdout
    before = tx_packets()
    env = dict(os.environ, ORVEN_ISOLATED="1")

    print("== outside: the test programs refuse", flush=True)
    for program in programs:
        name = os.path.basename(program)
        rc, out, err = run([program], env)
        check(rc == 78 and "tools/isolated-net" in err and "[ RUN" not in out,
              f"{name} outside: exit {rc}, {err.strip()!r}")
        rc, out, err = run([program, "--gtest_list_tests"], env)
        check(rc == 0 and out.count("\n") > 1, f"{name} lists its tests outside: exit {rc} {err}")
    print("== outside: the end-to-end scripts refuse", flush=True)
    e2e = os.path.join(source, "tests", "e2e")
    for script in ("devsim_test.py", "cli_test.py", "doctor_test.py", "sender_port_test.py"):
        rc, out, err = run([sys.executable, os.path.join(e2e, script), "x", "y"], env)
        check(rc == 78 and "tools/isolated-net" in err, f"{script} outside: exit {rc}, {err.strip()!r}")
    check(tx_packets() == before, f"nothing sent through the adapters: {before} -> {tx_packets()}")
    check(subprocess.run(["ip", "route", "show", "table", "all"], capture_output=True, text=True).stdout == routes,
          "the routes are as they were")

    print("== outside: orven-devsim refuses unless --real-network", flush=True)
    rc, out, err = run([devsim, "--devices", "2", "--count", "2", "--interval-ms", "20"])
    check(rc == 3 and "gA" in err and "--real-network" in err and "announced" not in out,
          f"orven-devsim refuses: exit {rc}, {err.strip()!r}")
    check(tx_packets() == before, "orven-devsim sent nothing")
    rc, out, err = run([devsim, "--devices", "2", "--count", "2", "--interval-ms", "20", "--real-network"])
    check(rc == 0 and "announcements sent 8" in out and "send errors 0" in out,
          f"orven-devsim --real-network announces: exit {rc}, {out[-300:]!r} {err!r}")

    print("== inside tools/isolated-net: admitted", flush=True)
    net = os.path.join(source, "tools", "isolated-net")
    for program in programs:
        started, seen = first_test_starts([net, program])
        check(started, f"{os.path.basename(program)} inside: its first test starts: {seen}")
    rc, out, err = run([net, sys.executable, "-c", "import isolation; isolation.require(); print('admitted')"],
                       dict(os.environ, PYTHONPATH=e2e))
    check(rc == 0 and "admitted" in out, f"the scripts' guard inside: exit {rc} {err}")
    rc, out, err = run([net, devsim, "--devices", "2", "--count", "2", "--interval-ms", "20"])
    check(rc == 0 and "announcements sent 8" in out, f"orven-devsim inside (marker down): exit {rc} {err}")


def main():
    if sys.argv[1:2] == ["--outside"]:
        outside(sys.argv[2], sys.argv[3], sys.argv[4:])
        print("FAILED: %d" % len(failures) if failures else "all passed", flush=True)
        return 1 if failures else 0
    # Never the host's namespace: a fresh one of its own, or nothing.
    flags = "-n" if os.geteuid() == 0 else "-rn"
    try:
        return subprocess.run(["unshare", flags, sys.executable, __file__, "--outside", *sys.argv[1:]],
                              timeout=900).returncode
    except FileNotFoundError:
        print("guard_test: unshare is missing; refusing to run", file=sys.stderr)
        return 125


if __name__ == "__main__":
    sys.exit(main())
