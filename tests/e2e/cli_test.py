#!/usr/bin/env python3
"""End-to-end tests of orven-cli against orven-devsim (and against devices
played here, speaking the wire format on their own), inside the private
network namespace.

Usage (only inside tools/isolated-net):
    python3 tests/e2e/cli_test.py BUILD/cli/orven-cli BUILD/tools/devsim/orven-devsim
"""
import csv
import io
import json
import os
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devsim_test as dt  # noqa: E402  (the simulator test's packet helpers and Sim)
import isolation  # noqa: E402

check, packet, config, Sim, again_until = dt.check, dt.packet, dt.config, dt.Sim, dt.again_until
BASE = dt.BASE
CLI = SIM = None
TMP = tempfile.mkdtemp(prefix="orven-cli-test-")


def ident(i):
    return "%014X" % (BASE + i)


def cli(*args, timeout=60):
    """Runs orven-cli; returns (exit code, stdout, stderr)."""
    p = subprocess.run([*CLI, *args], capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def listed(out):
    """The devices of a JSON listing by identity ({} for anything else)."""
    try:
        return {d["identity"]: d for d in json.loads(out)}
    except (ValueError, TypeError, KeyError):
        return {}


def show_sockets():
    """Prints the namespace's UDP sockets and their owners: why a port was taken."""
    print(subprocess.run(["ss", "-uanp"], capture_output=True, text=True).stdout, flush=True)


def sets_received(sim, who):
    return [l for l in sim.all_lines if l.startswith("set-received " + who)]


def settle(sim):
    """Reads what the simulator printed so far into sim.all_lines."""
    while sim.wait_line(lambda l: False, 0.3) is not None:
        pass


def plan_file(name, text, encoding="utf-8"):
    path = os.path.join(TMP, name)
    with open(path, "wb") as f:
        f.write(text.encode(encoding) if isinstance(text, str) else text)
    return path


def expected(i, flag, index):
    """What devsim announces as device `index` of its fleet, identity BASE+i, as list fields."""
    names = ["一号泵站", "二号泵站", "三号泵站", "四号泵站", "五号泵站", "六号泵站"]
    value = BASE + i
    fourth = "%02X" % (sum((value >> (8 * k)) & 0xFF for k in range(7)) & 0xFF) if flag == 1 else "06"
    return {"identity": ident(i), "auto": "off", "ip": "192.168.1.%d" % (100 + index), "mask": "255.255.255.0",
            "gateway": "192.168.1.1", "dns1": "192.168.1.1", "dns2": "114.114.114.114" if index % 2 else "",
            "server": "192.168.1.10", "port": "60110",
            "mac": "00:04:A3:%s:%02X:%02X" % (fourth, (value >> 8) & 0xFF, value & 0xFF), "name": names[index],
            "format_flag": flag}


def test_usage():
    """Usage errors exit 1 with a message on stderr, not with the option parser's own codes."""
    for args in (["list", "--colour", "red"], [], ["list", "--seconds", "0"]):
        rc, out, err = cli(*args)
        check(rc == 1 and err.strip(), f"usage error {args}: exit 1 with a message, got {rc}: {err}")
    rc, out, err = cli("--help")
    check(rc == 0 and "Exit codes" in out, f"--help exits 0: {rc}")


def test_list():
    """list as JSON, CSV and table, read back and compared with what the simulators announce;
    malformed datagrams are ignored."""
    both = Sim(SIM, "--devices", "4", "--format-flag", "1", "--interval-ms", "500", "--quiet", "--duration-ms", "20000")
    bc = Sim(SIM, "--devices", "2", "--mode", "broadcast", "--ident-base", "%X" % (BASE + 4), "--interval-ms", "500",
             "--quiet", "--duration-ms", "20000")
    # Garbage beside them: a bad check, a short packet, an empty datagram, another kind.
    tx = dt.sender()
    good = packet(0xFF, 0x77, config("坏", "192.168.9.9"))
    for junk in (packet(0xFF, 0x77, config("坏", "192.168.9.9"), good_crc=False), good[:50], b"", packet(0x5A, 0x78, good[12:72])):
        tx.sendto(junk, ("255.255.255.255", 60080))
    def all_heard(result):
        got = listed(result[1])
        return all(got.get(ident(i), {}).get("announcements", 0) >= 2
                   and got[ident(i)].get("heard_via") == ("both" if i < 4 else "broadcast") for i in range(6))

    rc, out, err = again_until(
        lambda: cli("list", "--seconds", "2", "--format", "json", "--pcap", os.path.join(TMP, "list.pcap")), all_heard)
    check(rc == 0, f"list json exit 0, got {rc}: {err}") or show_sockets()
    devices = json.loads(out) if rc == 0 else []
    by_ident = {d["identity"]: d for d in devices}
    check(len(devices) == 6 and len(by_ident) == 6, f"six devices listed once each, got {[d['identity'] for d in devices]}")
    for i in range(6):
        d = by_ident.get(ident(i), {})
        want = expected(i, 1 if i < 4 else 0, i if i < 4 else i - 4)
        check(all(d.get(k) == v for k, v in want.items()), f"device {i} fields {d} match {want}")
        check(d.get("heard_via") == ("both" if i < 4 else "broadcast"), f"device {i} heard via {d.get('heard_via')}")
        check(d.get("source_address") == "127.0.0.1" and d.get("source_port") == (both.port if i < 4 else bc.port),
              f"device {i} source {d.get('source_address')}:{d.get('source_port')}")
        check(d.get("announcements", 0) >= 2, f"device {i} announcements counted: {d.get('announcements')}")
    check("00000000000077" not in by_ident, "malformed and other-kind datagrams are not listed")

    # A name that needs quoting in CSV, announced beside the simulators.
    odd = '北区,"1"号'

    def csv_listing():
        proc = subprocess.Popen([*CLI, "list", "--seconds", "1.5", "--format", "csv"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 30
        while proc.poll() is None and time.monotonic() < deadline:  # announced until the listing ends
            tx.sendto(packet(0xFF, 0x99, config(odd, "192.168.1.99")), ("255.255.255.255", 60080))
            time.sleep(0.2)
        out, err = proc.communicate(timeout=30)
        return proc.returncode, out, err

    def csv_all_heard(result):
        heard = {r.get("identity") for r in csv.DictReader(io.StringIO(result[1], newline=""))}
        return heard >= set(by_ident) | {"00000000000099"}

    rc, out, err = again_until(csv_listing, csv_all_heard)
    check(rc == 0 and out.startswith("identity,source_address,"), f"csv with a header row: {rc} {err}")
    rows = list(csv.DictReader(io.StringIO(out, newline="")))
    quoted = [r for r in rows if r["identity"] == "00000000000099"]
    check(len(quoted) == 1 and quoted[0]["name"] == odd, f"a name with a comma and quotes reads back: {quoted}")
    rows = [r for r in rows if r not in quoted]
    check(sorted(r["identity"] for r in rows) == sorted(by_ident), "csv lists the same devices")
    for r in rows:
        d = by_ident.get(r["identity"], {})
        check(all(str(d.get(k)) == v for k, v in r.items() if k not in ("announcements", "source_port")),
              f"csv row equals the json object: {r}")
    # Six devices and the header; a seventh device would be a fault, a missed one is waited for.
    rc, out, err = again_until(lambda: cli("list", "--seconds", "1", "--format", "table"),
                               lambda result: len(result[1].splitlines()) >= 7)
    lines = out.splitlines()
    check(rc == 0 and len(lines) == 7 and lines[0].split()[:2] == ["identity", "source_address"], f"table: {out}")
    # Columns aligned: every line has the 'name' column at the same display column as the header.
    if lines:
        col = lines[0].index("name")
        widths = [sum(2 if ord(ch) > 0x2E80 else 1 for ch in l[:len(l) - len(l.split()[-1])]) for l in lines[1:]]
        check(all(w == col for w in widths), f"table aligned at column {col}: {widths}")

    r = subprocess.run(["tcpdump", "-r", os.path.join(TMP, "list.pcap"), "-nn"], capture_output=True, text=True)
    check(r.returncode == 0 and "230.1.1.100.60081" in r.stdout and "255.255.255.255.60080" in r.stdout,
          f"tcpdump reads the capture: {r.returncode} {r.stderr[:200]}")
    both.stop(signal.SIGINT)
    bc.stop(signal.SIGINT)
    tx.close()


def test_set():
    """set: confirmed, timed out for a device that ignores sets, refused and usage errors with nothing sent,
    not heard, dry run; the capture holds the sets."""
    sim = Sim(SIM, "--devices", "4", "--ignore-sets", "2", "--interval-ms", "500", "--quiet", "--duration-ms", "60000")
    pcap = os.path.join(TMP, "set.pcap")
    rc, out, err = cli("set", ident(1), "--ip", "192.168.1.150", "--name", "新名字", "--dns2", "0.0.0.0",
                       "--mac5", "ab", "--pcap", pcap)
    check(rc == 0 and "confirmed" in out, f"set confirmed: {rc} {out} {err}")
    line = sim.wait_line(lambda l: l.startswith("applied " + ident(1)), 30)
    check(line is not None and "ip=192.168.1.150" in line and "name=新名字" in line, f"device applied it: {line}")
    rc, out, _ = again_until(lambda: cli("list", "--seconds", "1.2", "--format", "json"),
                             lambda result: ident(1) in listed(result[1]))
    d = listed(out).get(ident(1), {})
    check(d.get("ip") == "192.168.1.150" and d.get("dns2") == "" and d.get("mac", "").endswith(":AB:01")
          and d.get("mask") == "255.255.255.0" and d.get("server") == "192.168.1.10", f"other fields kept: {d}")
    r = subprocess.run(["tcpdump", "-r", pcap, "-nn"], capture_output=True, text=True)
    check(r.returncode == 0 and "> 255.255.255.255.%d: UDP, length 74" % sim.port in r.stdout,
          f"capture holds the set sent to the device's port: {r.stdout[-300:]} {r.stderr[:200]}")

    rc, out, err = cli("set", ident(2), "--name", "不理睬", "--timeout", "3")
    check(rc == 3 and "timed out" in out, f"ignoring device: exit 3, timed out: {rc} {out} {err}")
    settle(sim)
    check(len(sets_received(sim, ident(2))) >= 2, "a set per differing announcement until the time-out")

    refusals = [
        (["--mask", "255.0.255.0"], 2, "mask 255.0.255.0"),
        (["--gateway", "10.0.0.1"], 2, "gateway 10.0.0.1"),
        (["--ip", "192.168.1.255"], 2, "broadcast address"),
        (["--ip", "192.168.1.0"], 2, "network address"),
        (["--ip", "192.168.1.100"], 2, "already announced by device " + ident(0)),
        (["--ip", "127.0.0.1"], 2, "不允许设置此IP地址"),
        (["--ip", "192.168.1.300"], 1, "not an IPv4 address"),
        (["--name", "这是一个非常非常长的设备名称超过三十字节"], 1, "at most 30"),
        (["--name", ""], 1, "设备名称不能为空"),
        (["--auto", "on", "--ip", "192.168.1.9"], 1, "auto on"),
        (["--port", "70000"], 1, "port"),
        (["--mac6", "XY"], 1, "hexadecimal"),
    ]
    for args, code, text in refusals:
        rc, out, err = cli("set", ident(3), *args, "--timeout", "5")
        check(rc == code and text in err, f"set {args}: exit {code} naming '{text}', got {rc}: {err}")
    rc, out, err = cli("set", ident(3), "--ip", "192.168.1.200", "--dry-run")
    check(rc == 0 and "192.168.1.200" in out and "nothing sent" in out, f"dry run shows the record: {rc} {out} {err}")
    settle(sim)
    check(not sets_received(sim, ident(3)), "nothing sent for refusals, usage errors and the dry run")
    rc, out, err = cli("set", ident(3), "--mask", "255.0.255.0", "--force", "--timeout", "5")
    check(rc == 0 and "confirmed" in out, f"--force writes despite a pre-write check: {rc} {out} {err}")

    rc, out, err = cli("set", "ABCDEF", "--ip", "192.168.1.201", "--timeout", "2")
    check(rc == 3 and "not heard" in out, f"unknown device: exit 3, not heard: {rc} {out}")
    rc, out, err = cli("set", "xyz", "--ip", "192.168.1.201")
    check(rc == 1, f"bad identity: exit 1, got {rc}")
    sim.stop(signal.SIGINT)


def test_apply():
    """apply: a plan with one bad row sends nothing; 100 devices all confirmed; plan file problems with line numbers."""
    n = 100
    sim = Sim(SIM, "--devices", str(n), "--interval-ms", "1000", "--quiet", "--duration-ms", "60000")
    header = "identity,ip,mask,gateway,name,auto\n"
    rows = ["%s,192.168.5.%d,255.255.255.0,192.168.5.1,站点%d," % (ident(i), i + 10, i) for i in range(n)]
    bad = rows[:]
    bad[41] = "%s,192.168.5.300,255.255.255.0,192.168.5.1,x," % ident(41)
    rc, out, err = cli("apply", plan_file("bad.csv", header + "\n".join(bad) + "\n"))
    check(rc == 1 and "line 43" in err and "192.168.5.300" in err, f"bad row reported with its line: {rc} {err}")
    problems = [
        ("empty.csv", "", "line 1"),
        ("header.csv", "identity,ip,colour\n%s,192.168.5.1,red\n" % ident(0), "line 1: unknown column 'colour'"),
        ("dup.csv", header + rows[0] + "\n" + rows[1] + "\n" + rows[0].replace("192.168.5.10,", "192.168.5.99,") + "\n",
         "line 4: identity " + ident(0) + " is already given on line 2"),
        ("sameip.csv", header + rows[0] + "\n" + rows[1].replace("192.168.5.11", "192.168.5.10") + "\n",
         "line 3: ip 192.168.5.10 is already given on line 2"),
        ("long.csv", header + rows[0] + "\n" + '%s,,,,"%s",\n' % (ident(1), "长" * 16), "line 3: name"),
        ("latin1.csv", (header + "%s,,,,ok,\n%s,,,,caf\xe9,\n" % (ident(0), ident(1))).encode("latin-1"), "line 3: not UTF-8"),
        ("quote.csv", header + rows[0] + '\n%s,1.2.3.4,"oops\n' % ident(1), "line 3: a quoted cell is not closed"),
        ("cells.csv", header + rows[0] + ",extra\n", "line 2: 7 cells"),
    ]
    for name, text, want in problems:
        rc, out, err = cli("apply", plan_file(name, text))
        check(rc == 1 and want in err, f"{name}: exit 1 with '{want}', got {rc}: {err}")
    settle(sim)
    check(not [l for l in sim.all_lines if l.startswith("set-received")], "nothing sent for any bad plan")

    good = plan_file("good.csv", header + "\n".join(rows) + "\n")
    rc, out, err = cli("apply", good, "--dry-run")
    check(rc == 0 and "would write" in out and out.count("dry run") == n, f"dry run decides every row: {rc} {err[-300:]}")
    settle(sim)
    check(not [l for l in sim.all_lines if l.startswith("set-received")], "nothing sent by the dry run")

    # With a terminal on standard error: the progress line.
    import pty
    master, slave = pty.openpty()
    p = subprocess.run([*CLI, "apply", good, "--timeout", "20"], stdout=subprocess.PIPE, stderr=slave, text=True,
                       timeout=60)
    os.close(slave)
    progress = b""
    while True:
        ready, _, _ = select.select([master], [], [], 0.2)
        try:
            chunk = os.read(master, 65536) if ready else b""
        except OSError:  # the program has ended and closed its side
            chunk = b""
        if not chunk:
            break
        progress += chunk
    os.close(master)
    rc, out = p.returncode, p.stdout
    shown = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", progress)  # a console emulation's cursor codes
    check(b"confirmed 100/100, " in shown, f"progress line on a terminal: {progress[-200:]}")
    table = [l.split() for l in out.splitlines()[1:]]
    check(rc == 0 and len(table) == n and all(r[1] == "confirmed" for r in table),
          f"100 devices confirmed: {rc} {err[-300:]} {[r for r in table if r[1] != 'confirmed'][:5]}")
    # All confirmed within the 20-second time-out: written side by side, since
    # one after the other (an announcement interval each) would take 100 s.
    settle(sim)
    applied = [l for l in sim.all_lines if l.startswith("applied")]
    check(len({l.split()[1] for l in applied}) == n, f"every device applied its row: {len(applied)}")

    # A row refused by a pre-write check stops the whole write, unless --keep-going.
    mixed = plan_file("mixed.csv", "identity,gateway,name\n%s,10.0.0.1,\n%s,,改名\n" % (ident(0), ident(1)))
    before = len(sets_received(sim, ""))
    rc, out, err = cli("apply", mixed)
    table = {l.split()[0]: l.split()[1] for l in out.splitlines()[1:] if l.strip()}
    check(rc == 2 and table == {ident(0): "refused", ident(1): "stopped"} and "gateway 10.0.0.1" in err,
          f"a refused row stops the write: {rc} {table} {err}")
    settle(sim)
    check(len(sets_received(sim, "")) == before, "nothing sent when a row is refused")
    before = len(sets_received(sim, ident(0)))
    rc, out, err = cli("apply", mixed, "--keep-going")
    table = {l.split()[0]: l.split()[1] for l in out.splitlines()[1:] if l.strip()}
    check(rc == 2 and table == {ident(0): "refused", ident(1): "confirmed"}, f"--keep-going writes the rest: {rc} {table}")
    settle(sim)
    check(len(sets_received(sim, ident(0))) == before, "nothing sent to the refused device")
    sim.stop(signal.SIGINT)


def test_apply_interrupted():
    """Ctrl+C during apply stops at once, prints what was confirmed, exits 130."""
    n = 20
    sim = Sim(SIM, "--devices", str(n), "--ignore-sets", "10-19", "--interval-ms", "1000", "--quiet",
              "--duration-ms", "60000")
    rows = ["%s,192.168.1.%d" % (ident(i), i + 150) for i in range(n)]
    # A time-out far beyond the wait below: only the interruption can end it in time.
    # Standard error on a terminal: its progress line says when the ten are confirmed.
    import pty
    master, slave = pty.openpty()
    proc = subprocess.Popen([*CLI, "apply", plan_file("ctrlc.csv", "identity,ip\n" + "\n".join(rows) + "\n"),
                             "--timeout", "300"],
                            stdout=subprocess.PIPE, stderr=slave, text=True)
    os.close(slave)
    progress = b""
    deadline = time.monotonic() + 120
    while b"confirmed 10/20" not in re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", progress) and time.monotonic() < deadline \
            and proc.poll() is None:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            try:
                progress += os.read(master, 65536)
            except OSError:
                break
    check(b"confirmed 10/20" in re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", progress),
          f"the ten writable devices confirmed before the interruption: {progress[-200:]}")
    proc.send_signal(signal.SIGINT)
    try:
        out, _ = proc.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
        out, _ = proc.communicate()
    err = progress.decode(errors="replace")[-300:]
    os.close(master)
    check(proc.returncode == 130, f"exit 130 on Ctrl+C (stops at once, not at the time-out), got {proc.returncode}: {err}")
    table = {l.split()[0]: l.split()[1] for l in out.splitlines()[1:] if l.strip()}
    check(sum(v == "confirmed" for v in table.values()) == 10 and sum(v == "stopped" for v in table.values()) == 10,
          f"the confirmed devices are printed, the rest stopped: {table}")
    settle(sim)
    before = len([l for l in sim.all_lines if l.startswith("set-received")])
    time.sleep(1.5)
    settle(sim)
    check(len([l for l in sim.all_lines if l.startswith("set-received")]) == before, "nothing sent after the exit")
    sim.stop(signal.SIGINT)


def test_watch():
    """watch: one line per new device and per changed configuration; Ctrl+C ends it with exit 0;
    a second program on port 60080 fails with the socket error (exit 4)."""
    proc = subprocess.Popen([*CLI, "watch"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    tx = dt.sender()
    a, b = config("甲站", "192.168.1.20"), config("乙站", "192.168.1.21")
    out = b""

    def announce_until(datagrams, lines):
        """Announces until watch has printed `lines` lines (it may start late)."""
        nonlocal out
        deadline = time.monotonic() + 30
        while out.count(b"\n") < lines and time.monotonic() < deadline:
            for data in datagrams:
                tx.sendto(data, ("255.255.255.255", 60080))
            ready, _, _ = select.select([proc.stdout], [], [], 0.2)
            if ready:
                out += os.read(proc.stdout.fileno(), 65536)

    announce_until([packet(0xFF, 0x101, a), packet(0xFF, 0x102, b), packet(0xFF, 0x101, a)], 2)
    announce_until([packet(0xFF, 0x101, config("甲站", "192.168.1.22")), packet(0xFF, 0x102, b)], 3)
    rc, _, err = cli("list", "--seconds", "1")
    check(rc == 4 and "Address already in use" in err,
          f"port 60080 taken: exit 4 with the socket error: {rc} {err}") or show_sockets()
    proc.send_signal(signal.SIGINT)
    try:
        rest, err = proc.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        rest, err = proc.communicate()
    events = [json.loads(l) for l in (out + rest).decode().splitlines() if l.strip()]
    got = [(e["event"], e["identity"], e["ip"]) for e in events]
    check(got == [("new", "00000000000101", "192.168.1.20"), ("new", "00000000000102", "192.168.1.21"),
                  ("changed", "00000000000101", "192.168.1.22")], f"watch lines: {got}")
    check(proc.returncode == 0, f"watch exits 0 on Ctrl+C, got {proc.returncode}")
    tx.close()


class Peer:
    """A device played here whose datagrams leave through one adapter only (tied to it), announcing on both
    paths every 0.3 s and applying the configuration-set packets that reach it through that adapter."""

    def __init__(self, dev, ident_value, rec):
        import threading
        self.ident, self.rec, self.sets = ident_value, rec, 0
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, dev.encode())
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        self.sock.bind(("0.0.0.0", 0))
        self.stop_at = time.monotonic() + 60
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def announce(self, kind):
        for target in (("255.255.255.255", 60080), (dt.GROUP, 60081)):
            self.sock.sendto(packet(kind, self.ident, self.rec), target)

    def _run(self):
        import select
        next_at = 0
        while time.monotonic() < self.stop_at:
            if time.monotonic() >= next_at:
                self.announce(0xFF)
                next_at = time.monotonic() + 0.3
            ready, _, _ = select.select([self.sock], [], [], 0.05)
            if ready:
                data = self.sock.recv(2048)
                p = dt.parse(data)
                if p and p[0] == 0x5A and p[2] == self.ident:
                    self.sets += 1
                    self.rec = p[3]
                    self.announce(0xFC)

    def close(self):
        self.stop_at = 0
        self.thread.join()
        self.sock.close()


class Capture:
    """tcpdump on one adapter: the UDP datagrams that leave through it to a port."""

    def __init__(self, dev, port):
        self.proc = subprocess.Popen(["tcpdump", "-i", dev, "-Q", "out", "-nn", "-l", "--immediate-mode",
                                      "udp and dst port %d" % port],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.proc.stderr.readline()  # "listening on ...": capturing from now on

    def packets(self):
        time.sleep(0.3)
        self.proc.send_signal(signal.SIGINT)
        out, _ = self.proc.communicate(timeout=10)
        return [l for l in out.splitlines() if " UDP" in l]


def test_interface():
    """--interface with two virtual adapters: the receivers hear only the chosen one, and the
    configuration-set packets leave through it only."""
    setup = ["ip link add va type veth peer name vb", "ip link add vc type veth peer name vd",
             "ip addr add 10.9.0.1/24 dev va", "ip addr add 10.9.0.2/24 dev vb",
             "ip addr add 10.9.1.1/24 dev vc", "ip addr add 10.9.1.2/24 dev vd"]
    setup += ["ip link set %s up" % d for d in ("va", "vb", "vc", "vd")]
    for cmd in setup:
        subprocess.run(cmd.split(), check=True)
    # The peers' sources are addresses of this namespace: let them in.
    for d in ("all", "default", "va", "vb", "vc", "vd"):
        for key, value in (("accept_local", "1"), ("rp_filter", "0")):
            with open("/proc/sys/net/ipv4/conf/%s/%s" % (d, key), "w") as f:
                f.write(value)
    a = Peer("vb", 0xA1, config("甲站", "192.168.1.31"))  # heard through va
    b = Peer("vd", 0xB2, config("乙站", "192.168.1.32"))  # heard through vc
    try:
        for chosen, heard, other in (("va", 0xA1, 0xB2), ("10.9.1.1", 0xB2, 0xA1)):
            rc, out, err = again_until(
                lambda: cli("list", "--seconds", "1.5", "--format", "json", "--interface", chosen),
                lambda result: listed(result[1]).get("%014X" % heard, {}).get("heard_via") == "both")
            got = listed(out) if rc == 0 else {}
            check(rc == 0 and list(got) == ["%014X" % heard], f"--interface {chosen} hears only its adapter: {rc} {list(got)} {err}")
            check(got.get("%014X" % heard, {}).get("heard_via") == "both", f"--interface {chosen}: group joined on it")
        port = a.sock.getsockname()[1]
        captures = {d: Capture(d, port) for d in ("va", "vc", "lo")}
        rc, out, err = cli("set", "A1", "--name", "新甲站", "--interface", "va", "--timeout", "10")
        sent = {d: c.packets() for d, c in captures.items()}
        check(rc == 0 and "confirmed" in out, f"set through va confirmed: {rc} {out} {err}")
        check(a.sets >= 1 and b.sets == 0, f"the set reached the device behind va only: {a.sets} {b.sets}")
        check(len(sent["va"]) >= 1 and not sent["vc"] and not sent["lo"], f"sets left through va only: {sent}")
        rc, out, err = cli("list", "--seconds", "1", "--interface", "nosuch0")
        check(rc == 1 and "nosuch0" in err, f"unknown adapter: exit 1 naming it: {rc} {err}")
    finally:
        a.close()
        b.close()
        for d in ("va", "vc"):
            subprocess.run(["ip", "link", "del", d])


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def test_commissioning():
    """A site from factory state to handed over: plan skips the address another device uses and the
    workstation's, apply leaves a report and an undo file, verify matches; planning again changes nothing;
    the undo restores the factory addresses and verify then names every device as differing."""
    n, other = 20, "00000000AB0000"
    subprocess.run(["ip", "addr", "add", "10.30.0.3/32", "dev", "lo"], check=True)  # the workstation's
    fleet = Sim(SIM, "--devices", str(n), "--interval-ms", "500", "--quiet", "--duration-ms", "120000")
    stranger = Sim(SIM, "--devices", "1", "--ident-base", other, "--interval-ms", "500", "--quiet",
                   "--duration-ms", "120000")
    try:
        rc, out, err = cli("set", other, "--ip", "10.30.0.2", "--mask", "255.255.255.0", "--gateway", "10.30.0.254")
        check(rc == 0, f"the other device moved into the range: {rc} {err}")
        plan, report, undo = (os.path.join(TMP, f) for f in ("site.csv", "report.csv", "undo.csv"))

        def all_answered(result):
            """Every device of the fleet and the stranger heard by verify (no "not heard" row)."""
            rows = list(csv.DictReader(io.StringIO(result[1], newline="")))
            heard = {r.get("identity") for r in rows if r.get("result") != "not heard"}
            return heard >= {ident(i) for i in range(n)} | {other}
        args = ["plan", "--range", "10.30.0.0-10.30.0.40", "--mask", "255.255.255.0", "--gateway", "10.30.0.254",
                "--name", '站{n},"{ident}"', "--only", ",".join(ident(i) for i in range(n)), "--seconds", "2"]
        rc, out, err = again_until(lambda: cli(*args, "-o", plan), lambda result: result[0] != 3)  # 3: one not heard
        rows = read_csv(plan) if rc == 0 else []
        want = ["10.30.0.1"] + ["10.30.0.%d" % h for h in range(4, 4 + n - 1)]  # .0 network, .2 taken, .3 ours
        check(rc == 0 and [r["ip"] for r in rows] == want and [r["identity"] for r in rows] == [ident(i) for i in range(n)],
              f"plan skips the taken addresses: {rc} {err} {[r.get('ip') for r in rows]}")
        check(all(r["name"] == '站%d,"%s"' % (i + 1, ident(i)) and r["gateway"] == "10.30.0.254"
                  for i, r in enumerate(rows)), f"names and common columns: {rows[:1]}")

        rc, out, err = cli("apply", plan, "--report", report, "--undo", undo)
        got = read_csv(report) if os.path.exists(report) else []
        check(rc == 0 and len(got) == n and all(r["result"] == "confirmed" and r["confirmed_at"] for r in got),
              f"apply confirms all and reports them: {rc} {err[-300:]}")
        check(all(r["ip_before"] == "192.168.1.%d" % (100 + i) and r["ip_after"] == want[i]
                  and r["name_after"] == rows[i]["name"] for i, r in enumerate(got)), f"before and after: {got[:1]}")
        back = read_csv(undo) if os.path.exists(undo) else []
        check([(r["identity"], r["ip"]) for r in back] == [(ident(i), "192.168.1.%d" % (100 + i)) for i in range(n)],
              f"the undo file restores the addresses: {back[:2]}")

        rc, out, err = again_until(lambda: cli("verify", plan, "--seconds", "2", "--format", "csv"), all_answered)
        seen = {r["identity"]: r["result"] for r in csv.DictReader(io.StringIO(out, newline=""))}
        check(rc == 0 and seen == {**{ident(i): "matches" for i in range(n)}, other: "extra"},
              f"verify: every device matches: {rc} {seen} {err}")
        again = subprocess.run([*CLI, *args], capture_output=True, timeout=60)  # the plan on standard output
        with open(plan, "rb") as f:
            check(again.returncode == 0 and again.stdout == f.read() and b"%d keep their address" % n in again.stderr,
                  f"planning again changes nothing: {again.returncode} {again.stderr}")

        rc, out, err = cli("apply", undo, "--force", "--report", report)
        check(rc == 0 and out.count("confirmed") == n, f"the undo applied: {rc} {err[-300:]}")
        rc, out, err = again_until(lambda: cli("verify", plan, "--seconds", "2", "--format", "csv"), all_answered)
        seen = {r["identity"]: r for r in csv.DictReader(io.StringIO(out, newline=""))}
        check(rc == 5 and all(seen.get(ident(i), {}).get("result") == "differs"
                              and "announced 192.168.1.%d" % (100 + i) in seen[ident(i)]["differences"]
                              for i in range(n)), f"verify names every device as differing: {rc} {out[-300:]}")
    finally:
        fleet.stop(signal.SIGINT)
        stranger.stop(signal.SIGINT)
        subprocess.run(["ip", "addr", "del", "10.30.0.3/32", "dev", "lo"])


def main():
    global CLI, SIM
    isolation.require()  # before any socket
    # A Windows build runs both programs through its emulator (Wine).
    runner = [os.environ["ORVEN_EMULATOR"]] if os.environ.get("ORVEN_EMULATOR") else []
    CLI, SIM = runner + [sys.argv[1]], runner + [sys.argv[2]]
    only = sys.argv[3:]
    for test in (test_usage, test_list, test_set, test_apply, test_apply_interrupted, test_commissioning, test_watch,
                 test_interface):
        if only and test.__name__ not in only:
            continue
        print("==", test.__name__, flush=True)
        test()
    print("FAILED: %d" % len(dt.failures) if dt.failures else "all passed", flush=True)
    return 1 if dt.failures else 0


if __name__ == "__main__":
    sys.exit(main())
