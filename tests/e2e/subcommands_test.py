#!/usr/bin/env python3
"""End-to-end tests of orven-cli's plan, verify, doctor and apply with a report
and an undo file, beside orven-devsim (and devices played here), inside the
private network namespace: one grouped test per command.

Usage (only inside tools/isolated-net):
    python3 tests/e2e/subcommands_test.py BUILD/cli/orven-cli BUILD/tools/devsim/orven-devsim [TEST...]
"""
import csv
import io
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devsim_test as dt  # noqa: E402  (packet helpers and Sim)
import isolation  # noqa: E402

check, packet, config, Sim, port_taken = dt.check, dt.packet, dt.config, dt.Sim, dt.port_taken
BASE = dt.BASE
CLI = SIM = None
TMP = tempfile.mkdtemp(prefix="orven-cli-sub-")


def ident(i):
    return "%014X" % (BASE + i)


def cli(*args, timeout=120):
    p = subprocess.run([*CLI, *args], capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def path(name):
    return os.path.join(TMP, name)


def write(name, text):
    with open(path(name), "w", encoding="utf-8", newline="") as f:
        f.write(text)
    return path(name)


def rows_of(text):
    return list(csv.DictReader(io.StringIO(text, newline="")))


def read_csv(p):
    with open(p, newline="", encoding="utf-8") as f:
        return rows_of(f.read())


def wait_listening(proc, seconds=60):
    """Waits until the program holds UDP 60080 (it has started listening)."""
    deadline = time.monotonic() + seconds
    while not port_taken(60080) and proc.poll() is None and time.monotonic() < deadline:
        time.sleep(0.05)
    return proc.poll() is None and port_taken(60080)


def interrupted(*args):
    """Starts orven-cli, sends Ctrl+C once it listens; returns (exit code, stdout, stderr, seconds after the signal)."""
    proc = subprocess.Popen([*CLI, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    running = wait_listening(proc)
    check(running, f"{args[0]} started listening: {proc.poll()}")
    start = time.monotonic()
    proc.send_signal(signal.SIGINT)
    try:
        out, err = proc.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, err = proc.communicate()
    return proc.returncode, out, err, time.monotonic() - start


def sets_received(sim):
    dt_settle(sim)
    return [l for l in sim.all_lines if l.startswith("set-received")]


def dt_settle(sim):
    while sim.wait_line(lambda l: False, 0.3) is not None:
        pass


class Played:
    """Devices played here: each (ident, record) announced by broadcast every 0.2 s from one socket,
    which counts every datagram that reaches it."""

    def __init__(self, devices, start=True):
        self.devices = devices
        self.sock = dt.sender()
        self.received = 0
        self.sent = 0
        self.stop_at = time.monotonic() + 120
        self.thread = threading.Thread(target=self._run, daemon=True)
        if start:
            self.thread.start()

    def announce(self):
        for i, rec in self.devices:
            self.sock.sendto(packet(0xFF, i, rec), ("255.255.255.255", 60080))
        self.sent += 1

    def _run(self):
        next_at = 0
        while time.monotonic() < self.stop_at:
            if time.monotonic() >= next_at:
                self.announce()
                next_at = time.monotonic() + 0.2
            ready, _, _ = select.select([self.sock], [], [], 0.05)
            if ready:
                self.sock.recv(2048)
                self.received += 1

    def close(self):
        self.stop_at = 0
        if self.thread.is_alive():
            self.thread.join()
        self.sock.close()


def test_plan():
    """plan: usage errors and refusals with nothing written, nothing or a named device not heard (3), --order heard,
    auto=off for a device on automatic addressing."""
    out_file = path("plan.csv")
    common = ["--mask", "255.255.255.0", "--seconds", "2", "-o", out_file]
    gateway = ["--gateway", "192.168.7.1"]
    for args, why in ((["--range", "192.168.7.20-192.168.7.10"], "range not ascending"),
                      (["--range", "192.168.7.10"], "range without a dash"),
                      (["--range", "192.168.7.10-192.168.7.300"], "range with a bad address"),
                      (["--range", "192.168.7.10-192.168.7.20", "--only", "xyz"], "bad --only")):
        rc, out, err = cli("plan", *args, *common)
        check(rc == 1 and err.strip(), f"{why}: exit 1 with a message: {rc} {err}")
    rc, out, err = cli("plan", "--range", "192.168.7.10-192.168.7.20", *gateway, *common)
    check(rc == 3 and "no device heard" in err, f"nothing heard: exit 3: {rc} {err}")
    check(not os.path.exists(out_file), "no plan written when nothing was heard")

    # Heard order against identity order: a device played here (the highest identity) is heard first, the
    # simulator is started only once the plan listens and the played device has announced since.
    first = Played([(0x7F000000000001, config("先到", "192.168.1.60"))])
    sim = None
    try:
        proc = subprocess.Popen([*CLI, "plan", "--range", "192.168.7.10-192.168.7.20", "--mask", "255.255.255.0",
                                 *gateway, "--order", "heard", "--seconds", "3"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        check(wait_listening(proc), "plan listens")
        sent = first.sent
        deadline = time.monotonic() + 30
        while first.sent == sent and time.monotonic() < deadline:
            time.sleep(0.02)
        sim = Sim(SIM, "--devices", "3", "--interval-ms", "200", "--quiet", "--duration-ms", "300000")
        out, err = proc.communicate(timeout=120)
        rows = rows_of(out)
        late = "%014X" % 0x7F000000000001
        check(proc.returncode == 0 and [r["identity"] for r in rows] == [late, ident(0), ident(1), ident(2)],
              f"--order heard: the played device, then the simulator's: {proc.returncode} {err} {out}")

        rc, out, err = cli("set", ident(1), "--auto", "on")
        check(rc == 0, f"device 1 put on automatic addressing: {rc} {err}")
        rc, out, err = cli("plan", "--range", "192.168.7.10-192.168.7.20", "--only", ident(0) + ",ABCDEF", *gateway,
                           *common)
        check(rc == 3 and "00000000ABCDEF" in err, f"a device named by --only not heard: exit 3 naming it: {rc} {err}")
        for args, code, text in (
                (["--range", "192.168.7.10-192.168.7.11", *gateway], 1, "too few free addresses for 4 devices: 2 missing"),
                (["--range", "192.168.7.250-192.168.8.5", *gateway], 2, "refused"),
                (["--range", "192.168.7.10-192.168.7.20", *gateway, "--name", "长" * 16], 1, "at most 30"),
                (["--range", "192.168.7.10-192.168.7.20", *gateway, "--name", "泵\U0001F600"], 1, "code page 936"),
                (["--range", "192.168.7.10-192.168.7.20", "--gateway", "10.0.0.1"], 2, "gateway 10.0.0.1")):
            rc, out, err = cli("plan", *common, *args)
            check(rc == code and text in err, f"plan {args}: exit {code} with '{text}': {rc} {err}")
            check(not os.path.exists(out_file), f"plan {args}: nothing written")

        rc, out, err = dt.again_until(
            lambda: cli("plan", "--range", "192.168.7.10-192.168.7.20", "--mask", "255.255.255.0", *gateway,
                        "--seconds", "2"),
            lambda result: len(rows_of(result[1])) >= 4)  # the four devices heard
        rows = rows_of(out)
        check(rc == 0 and [r["identity"] for r in rows] == [ident(0), ident(1), ident(2), late],
              f"identity order by default: {rc} {err} {out}")
        by = {r["identity"]: r for r in rows}
        check(by.get(ident(1), {}).get("auto") == "off" and by.get(ident(0), {}).get("auto", "") == "",
              f"auto=off only for the device on automatic addressing: {rows}")
        check([r["ip"] for r in rows] == ["192.168.7.%d" % h for h in (10, 11, 12, 13)], f"addresses: {rows}")
    finally:
        first.close()
        if sim:
            sim.stop(signal.SIGINT)


def test_verify():
    """verify: matches, differs, not heard, extra, shares_ip_with, exit 5, table and JSON; Ctrl+C gives 130."""
    sim = Sim(SIM, "--devices", "3", "--interval-ms", "200", "--quiet", "--duration-ms", "300000")
    twin = Played([(0xC1, config("同址", "192.168.1.100"))])  # device 0's address
    try:
        plan = write("verify.csv", "identity,ip,name\n%s,192.168.1.100,\n%s,192.168.1.200,\n00000000000099,10.0.0.9,\n"
                     % (ident(0), ident(1)))
        def heard_all(result):
            """Everyone announcing was heard: the two extra devices are listed, only the absent one is not heard."""
            return ident(2) in result[1] and "000000000000C1" in result[1] and result[1].count("not heard") <= 1

        rc, out, err = dt.again_until(lambda: cli("verify", plan, "--seconds", "2", "--format", "json"), heard_all)
        got = {r["identity"]: r for r in json.loads(out)} if out.startswith("[") else {}
        check(rc == 5, f"a differing, a missing and a shared address: exit 5: {rc} {err}")
        check(got.get(ident(0), {}).get("result") == "matches" and got[ident(0)].get("shares_ip_with") == "000000000000C1",
              f"device 0 matches but shares its address: {got.get(ident(0))}")
        check(got.get(ident(1), {}).get("result") == "differs"
              and "ip: planned 192.168.1.200, announced 192.168.1.101" in got[ident(1)].get("differences", ""),
              f"device 1 differs: {got.get(ident(1))}")
        check(got.get("00000000000099", {}).get("result") == "not heard", f"not heard: {got.get('00000000000099')}")
        check({k: v["result"] for k, v in got.items() if v["result"] == "extra"} ==
              {ident(2): "extra", "000000000000C1": "extra"} and got["000000000000C1"]["shares_ip_with"] == ident(0),
              f"the others are extra: {got}")
        rc, out, err = dt.again_until(lambda: cli("verify", plan, "--seconds", "2"), heard_all)
        table = {l.split()[0]: l.split()[1:] for l in out.splitlines()[1:] if l.strip()}
        check(rc == 5 and out.split("\n")[0].split() == ["identity", "result", "ip", "differences", "shares_ip_with"]
              and table.get("00000000000099", [])[:2] == ["not", "heard"] and table.get(ident(0), [""])[-1] == "000000000000C1",
              f"the table: {rc} {out}")
        check("1 match, 1 differ, 1 not heard; 2 extra" in err, f"the summary: {err}")
        good = write("verify-good.csv", "identity,ip\n%s,192.168.1.101\n" % ident(1))
        rc, out, err = dt.again_until(lambda: cli("verify", good, "--seconds", "2", "--format", "csv"),
                                      lambda result: "matches" in result[1])
        check(rc == 0 and rows_of(out)[0]["result"] == "matches", f"a matching plan: exit 0: {rc} {out} {err}")
        rc, out, err, took = interrupted("verify", plan, "--seconds", "300")
        check(rc == 130 and took < 30, f"Ctrl+C: exit 130 at once: {rc} after {took:.1f} s {err}")
    finally:
        twin.close()
        sim.stop(signal.SIGINT)


def test_doctor():
    """doctor: a clean network gives exit 0; it sends nothing (a device played here and a capture see nothing
    from it); Ctrl+C gives 130."""
    sim = Sim(SIM, "--devices", "2", "--interval-ms", "200", "--quiet", "--duration-ms", "300000")
    # The devices' network: an adapter besides loopback that is up (a veth pair, both ends here).
    for cmd in ("ip link add sA type veth peer name sB", "ip addr add 10.63.0.1/24 dev sA", "ip link set sA up",
                "ip link set sB up"):
        subprocess.run(cmd.split(), check=True)
    peer = Played([(0xD1, config("医生", "127.0.0.9", mask="255.0.0.0", gw="127.0.0.1"))])
    capture = subprocess.Popen(["tcpdump", "-i", "any", "-nn", "-l", "--immediate-mode",
                                "udp and not dst port 60080 and not dst port 60081"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    capture.stderr.readline()  # "listening on ...": capturing from now on
    try:
        before = peer.received
        rc, out, err = dt.again_until(lambda: cli("doctor", "--seconds", "2", "--format", "json"),
                                      lambda result: result[1].startswith("{")
                                      and len(json.loads(result[1]).get("devices", [])) >= 3)
        report = json.loads(out) if out.startswith("{") else {}
        errors = [f for f in report.get("findings", []) if f["severity"] == "error"]
        check(rc == 0 and not errors, f"no error finding: exit 0: {rc} {errors} {err}")
        check(len(report.get("devices", [])) == 3, f"the three devices: {report.get('devices')}")
        rc, out, err = cli("doctor", "--seconds", "1")
        check(rc == 0 and "no-devices" not in out, f"the text report, exit 0: {rc} {out} {err}")
        rc, out, err, took = interrupted("doctor", "--seconds", "300")
        check(rc == 130 and took < 30, f"Ctrl+C: exit 130 at once: {rc} after {took:.1f} s {err}")
        check(peer.received == before, f"the played device received nothing: {peer.received - before}")
    finally:
        time.sleep(0.3)  # what was sent last reaches the capture
        capture.send_signal(signal.SIGINT)
        sent, _ = capture.communicate(timeout=30)
        peer.close()
        sim.stop(signal.SIGINT)
        subprocess.run(["ip", "link", "del", "sA"])
    sent = [l for l in sent.splitlines() if " UDP" in l]
    check(not sent, f"nothing but announcements crossed the namespace: {sent[:5]}")


def test_apply_report_undo():
    """apply --report/--undo: an unwritable path gives exit 1 with nothing sent; Ctrl+C still writes both; a report
    that cannot be written at the end turns 0 into 1; --dry-run --undo sends nothing and restores nothing."""
    sim = Sim(SIM, "--devices", "4", "--ignore-sets", "2-3", "--interval-ms", "200", "--quiet",
              "--duration-ms", "300000")
    try:
        plan = write("site.csv", "identity,ip,name\n" + "".join(
            "%s,192.168.1.%d,站%d\n" % (ident(i), 160 + i, i) for i in range(4)))
        folder = path("a-folder")
        os.mkdir(folder)
        for args in (["--report", path("no/such/dir/report.csv")], ["--undo", path("no/such/dir/undo.csv")],
                     ["--report", folder], ["--undo", folder]):
            rc, out, err = cli("apply", plan, *args)
            check(rc == 1 and "nothing sent" in err, f"apply {args}: exit 1, nothing sent: {rc} {err}")
        check(not sets_received(sim), "nothing sent for an unwritable report or undo path")

        report, undo = path("report.csv"), path("undo.csv")
        rc, out, err = cli("apply", plan, "--dry-run", "--undo", undo, "--report", report)
        check(rc == 0 and out.count("dry run") == 4, f"--dry-run: exit 0: {rc} {out} {err}")
        check(not sets_received(sim), "--dry-run --undo sends nothing")
        back = read_csv(undo) if os.path.exists(undo) else None
        check(back == [], f"--dry-run --undo: an undo file that restores nothing: {back}")

        # Ctrl+C once the two writable devices are confirmed (the progress line on a terminal says so).
        import pty
        master, slave = pty.openpty()
        proc = subprocess.Popen([*CLI, "apply", plan, "--timeout", "300", "--keep-going", "--report", report,
                                 "--undo", undo], stdout=subprocess.PIPE, stderr=slave, text=True)
        os.close(slave)
        progress = b""
        deadline = time.monotonic() + 120
        shown = lambda: re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", progress)  # noqa: E731
        while b"confirmed 2/4" not in shown() and proc.poll() is None and time.monotonic() < deadline:
            if select.select([master], [], [], 0.2)[0]:
                try:
                    progress += os.read(master, 65536)
                except OSError:
                    break
        check(b"confirmed 2/4" in shown(), f"two confirmed before the interruption: {progress[-200:]}")
        proc.send_signal(signal.SIGINT)
        out, _ = proc.communicate(timeout=60)
        os.close(master)
        check(proc.returncode == 130, f"Ctrl+C: exit 130: {proc.returncode}")
        got = {r["identity"]: r for r in read_csv(report)} if os.path.exists(report) else {}
        check([got.get(ident(i), {}).get("result") for i in range(4)] == ["confirmed", "confirmed", "stopped", "stopped"]
              and all(got[ident(i)]["confirmed_at"] for i in (0, 1)) and not got[ident(2)]["confirmed_at"],
              f"the report written when stopped: {got}")
        check(got.get(ident(0), {}).get("ip_before") == "192.168.1.100" and got[ident(0)]["ip_after"] == "192.168.1.160",
              f"before and after: {got.get(ident(0))}")
        back = read_csv(undo) if os.path.exists(undo) else []
        check([(r["identity"], r["ip"]) for r in back] == [(ident(0), "192.168.1.100"), (ident(1), "192.168.1.101")],
              f"the undo file holds the confirmed devices: {back}")

        # The report's folder vanishes while apply writes: the devices are confirmed, yet the exit is 1.
        gone = path("gone")
        os.mkdir(gone)
        one = write("one.csv", "identity,name\n%s,再改\n" % ident(0))
        proc = subprocess.Popen([*CLI, "apply", one, "--report", os.path.join(gone, "report.csv")],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        check(wait_listening(proc), "apply started")
        shutil.rmtree(gone)
        out, err = proc.communicate(timeout=120)
        check(proc.returncode == 1 and "confirmed" in out and "report.csv" in err,
              f"a report that cannot be written turns success into exit 1: {proc.returncode} {out} {err}")
    finally:
        sim.stop(signal.SIGINT)


def main():
    global CLI, SIM
    isolation.require()  # before any socket
    runner = [os.environ["ORVEN_EMULATOR"]] if os.environ.get("ORVEN_EMULATOR") else []
    CLI, SIM = runner + [sys.argv[1]], runner + [sys.argv[2]]
    only = sys.argv[3:]
    for test in (test_plan, test_verify, test_doctor, test_apply_report_undo):
        if only and test.__name__ not in only:
            continue
        print("==", test.__name__, flush=True)
        test()
    shutil.rmtree(TMP, ignore_errors=True)
    print("FAILED: %d" % len(dt.failures) if dt.failures else "all passed", flush=True)
    return 1 if dt.failures else 0


if __name__ == "__main__":
    sys.exit(main())
