#!/usr/bin/env python3
"""End-to-end test of orven-devsim, speaking the device wire format on its own
(CRC computed here, not by the library), so faults in either side show.

Usage (only inside the private network namespace):
    tools/isolated-net python3 tests/e2e/devsim_test.py BUILD/tools/devsim/orven-devsim
    tools/wine-session python3 tests/e2e/devsim_test.py --stop-signal INT tools/wine-run BUILD/bin/orven-devsim.exe
The simulator is the command after the options; it is stopped with the stop
signal (default TERM; a Windows program under Wine takes INT, its Ctrl+C).
"""
import os
import queue
import random
import select
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

import isolation  # the script's own folder: tests/e2e

BCAST_PORT, MCAST_PORT, GROUP = 60080, 60081, "230.1.1.100"
BASE = 0x0012AB34CD5600
FF_BASE = 0xFF0012AB34CD56
# How long to wait for an outcome; never a bound on how fast it comes (the
# machine may be loaded, the simulator may run under Wine), only on how long a
# test may hang.
WAIT = 30.0
failures = []
STOP_SIGNAL = signal.SIGTERM


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return condition


def again_until(run, done, seconds=30):
    """Runs run() (a command that listens for a fixed time) again until done(its result) holds, for up to
    `seconds`, and returns the last result: a loaded machine can miss an announcement in one short window;
    on a quiet one the first run is the only one."""
    deadline = time.monotonic() + seconds
    while True:
        result = run()
        if done(result) or time.monotonic() >= deadline:
            return result


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
    return crc


def packet(kind, ident, config, flag=0, good_crc=True):
    head = bytes([0x4F, 0x56, flag, kind]) + struct.pack("<Q", ident) + config
    crc = crc16(head) ^ (0 if good_crc else 0x0101)
    return head + struct.pack("<H", crc)


def parse(data):
    """(kind, flag, ident, config) of a well-formed packet, else None."""
    if len(data) < 74 or data[:2] != b"OV" or struct.unpack("<H", data[72:74])[0] != crc16(data[:72]):
        return None
    return data[3], data[2], struct.unpack("<Q", data[4:12])[0], data[12:72]


def port_taken(port):
    """True when some socket here is bound to UDP `port`. Reads the kernel's socket tables instead of trying a
    bind: a probe that held the port for an instant could make the very program it waits for fail to bind."""
    for table in ("/proc/net/udp", "/proc/net/udp6"):
        try:
            with open(table) as f:
                rows = f.read().splitlines()[1:]
        except OSError:
            continue
        if any(int(row.split()[1].rsplit(":", 1)[1], 16) == port for row in rows if row.strip()):
            return True
    return False


def ip(text):
    return socket.inet_aton(text)


def config(name, paddr, autoip=0, mask="255.255.255.0", gw="192.168.1.1", dns1="192.168.1.1",
           dns2=None, server="192.168.1.10", port=60110, haddr=(0x2B, 0x1A)):
    name_bytes = name.encode("cp936")[:30]
    rec = bytes([autoip]) + ip(server) + struct.pack("<H", port) + bytes(haddr)
    rec += name_bytes + bytes(31 - len(name_bytes))
    for addr in (paddr, mask, gw, dns1, dns2):
        rec += ip(addr) if addr else bytes(4)
    assert len(rec) == 60
    return rec


class Receiver:
    """Collects announcements on 60080 (broadcast) and the multicast group."""

    def __init__(self):
        self.bc = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.bc.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.bc.bind(("0.0.0.0", BCAST_PORT))
        self.mc = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.mc.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.mc.bind(("0.0.0.0", MCAST_PORT))
        self.mc.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                           struct.pack("4s4s", ip(GROUP), ip("0.0.0.0")))

    def drain(self):
        while self.collect(0):
            pass

    def collect(self, seconds, until=None):
        """Receives for up to `seconds`; stops early once until(list) is true."""
        got, deadline = [], time.monotonic() + seconds
        while True:
            left = max(0.0, deadline - time.monotonic())
            ready, _, _ = select.select([self.bc, self.mc], [], [], min(left, 0.05))
            for sock in ready:
                data, source = sock.recvfrom(65536)
                got.append(("broadcast" if sock is self.bc else "multicast", source, data))
            if (until and until(got)) or (left == 0 and not ready):
                return got

    def close(self):
        self.bc.close()
        self.mc.close()


class Sim:
    def __init__(self, command, *args):
        self.proc = subprocess.Popen([*command, *args], stdout=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        self.all_lines = []
        threading.Thread(target=self._read, daemon=True).start()
        first = self.wait_line(lambda l: l.startswith("devsim:"), WAIT)
        check(first is not None, "start line printed")
        self.port = int(first.split("source port ")[1].split(",")[0]) if first else 0

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def wait_line(self, predicate, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                return None
            if line is None:
                return None
            self.all_lines.append(line)
            if predicate(line):
                return line
        return None

    def stop(self, sig=None, seconds=5):
        if sig is not None and self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            rc = self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            rc = "hung"
        while self.wait_line(lambda l: False, 0.5) is not None:
            pass
        summary = self.wait_line(lambda l: l.startswith("devsim: stopped"), 0.1)
        summary = summary or next((l for l in self.all_lines if l.startswith("devsim: stopped")), "")
        return rc, summary


def sender():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind(("0.0.0.0", 0))
    return s


def idents_by_path(got, kind=0xFF):
    paths = {"broadcast": set(), "multicast": set()}
    for path, _, p in announcements(got, kind):
        paths[path].add(p[2])
    return paths


def announcements(got, kind=None, ident=None):
    out = []
    for path, source, data in got:
        p = parse(data)
        if p and (kind is None or p[0] == kind) and (ident is None or p[2] == ident):
            out.append((path, source, p))
    return out


def test_announce_and_sets(exe, rx):
    """Announcements on both paths; a set is applied, an ignoring device
    ignores it, garbage is counted and survived."""
    sim = Sim(exe, "--devices", "3", "--interval-ms", "200", "--format-flag", "1",
              "--ignore-sets", "2", "--duration-ms", "20000")
    rx.drain()
    three = {BASE, BASE + 1, BASE + 2}
    got = rx.collect(WAIT, until=lambda g: all(ids == three for ids in idents_by_path(g).values()))
    check(all(len(d) == 74 and parse(d) for _, _, d in got), "every announcement is a 74-byte packet with a valid CRC")
    anns = announcements(got, kind=0xFF)
    for path in ("broadcast", "multicast"):
        idents = {p[2] for pa, _, p in anns if pa == path}
        check(idents == {BASE, BASE + 1, BASE + 2}, f"{path}: identities base..base+2, got {sorted(map(hex, idents))}")
    check(all(src[1] == sim.port for _, src, _ in anns), "all announcements come from the printed source port")
    check(all(p[1] == 1 for _, _, p in anns), "format flag 1 in byte 2")
    by_ident = {p[2]: p[3] for _, _, p in anns}
    c0, c1 = by_ident.get(BASE, bytes(60)), by_ident.get(BASE + 1, bytes(60))
    check(c0 == config("一号泵站", "192.168.1.100", haddr=(0x00, 0x56)),
          f"device 0 initial record, got {c0.hex()}")
    check(c1[40:60] == ip("192.168.1.101") + ip("255.255.255.0") + ip("192.168.1.1") * 2 + ip("114.114.114.114"),
          "device 1 addresses")
    check(c1[9:40].split(b"\0")[0].decode("cp936") == "二号泵站", "device 1 name in code page 936")

    tx = sender()
    new = config("测试站", "192.168.1.50", dns2="8.8.8.8")
    # Sent as the tool sends it: broadcast to the announcing port; trailing bytes are ignored.
    tx.sendto(packet(0x5A, BASE, new, flag=1) + b"trailing", ("255.255.255.255", sim.port))
    got = rx.collect(WAIT, until=lambda g: len({a[0] for a in announcements(g, 0xFC, BASE)}) == 2)
    fc = announcements(got, 0xFC, BASE)
    check({a[0] for a in fc} == {"broadcast", "multicast"}, "FC announcement on both paths after a set")
    check(all(p[3] == new for _, _, p in fc), "FC announcement carries exactly the set record")
    line = sim.wait_line(lambda l: l.startswith("applied 0012AB34CD5600"), WAIT)
    check(line is not None and "ip=192.168.1.50" in line and "name=测试站" in line, f"applied line: {line}")
    got = rx.collect(WAIT, until=lambda g: len(announcements(g, 0xFF, BASE)) >= 2)
    later = announcements(got, 0xFF, BASE)
    check(later and all(p[3] == new for _, _, p in later), "later FF announcements carry the new record")

    tx.sendto(packet(0x5A, BASE + 2, new), ("255.255.255.255", sim.port))
    check(sim.wait_line(lambda l: l.startswith("ignored-set 0012AB34CD5602"), WAIT) is not None, "ignored-set line")
    # Two further rounds of the ignoring device on each path: an FC would have come before them.
    got = rx.collect(WAIT, until=lambda g: len(announcements(g, 0xFF, BASE + 2)) >= 4)
    check(len(announcements(got, 0xFF, BASE + 2)) >= 4, "the ignoring device goes on announcing")
    check(not announcements(got, 0xFC, BASE + 2), "ignoring device sends no FC")
    check(all(p[3] != new for _, _, p in announcements(got, 0xFF, BASE + 2)), "ignoring device keeps its record")

    target = ("127.0.0.1", sim.port)
    rnd = random.Random(7)
    garbage = [b"", b"O", packet(0x5A, BASE + 1, new)[:73], bytes(rnd.randrange(256) for _ in range(65000)),
               packet(0x5A, BASE + 1, new, good_crc=False)]
    for g in garbage:
        tx.sendto(g, target)
    tx.sendto(packet(0xFF, BASE + 1, new), target)            # other kind
    tx.sendto(packet(0x5A, BASE + 3, new), target)            # unknown identity
    tx.sendto(packet(0x5A, (BASE - 1) & (2**64 - 1), new), target)  # below the base
    other = config("北区雨量站", "192.168.1.77")
    tx.sendto(packet(0x5A, BASE + 1, other), target)
    got = rx.collect(WAIT, until=lambda g: announcements(g, 0xFC, BASE + 1))
    fc = announcements(got, 0xFC, BASE + 1)
    check(fc and fc[0][2][3] == other, "after garbage the simulator still applies a set")
    check(sim.proc.poll() is None, "simulator survives garbage")

    rc, summary = sim.stop(STOP_SIGNAL)
    check(rc == 0, f"exit code 0 on {STOP_SIGNAL.name}, got {rc}")
    for part in ("sets received 3,", "applied 2,", "ignored 1,", "malformed 5,", "other kinds 1,",
                 "unknown identities 2)", "send errors 0,"):
        check(part in summary, f"summary has '{part}': {summary}")
    tx.close()


def test_set_answered_at_once(exe, rx):
    """The FC announcement follows a set at once, not with the next round: with
    a round a minute the difference shows however loaded the machine is."""
    rx.drain()  # before the start: the first round goes out at once
    sim = Sim(exe, "--devices", "1", "--interval-ms", "60000", "--mode", "broadcast")
    got = rx.collect(WAIT, until=lambda g: announcements(g, 0xFF, BASE))
    check(bool(announcements(got, 0xFF, BASE)), "first round announced")
    tx = sender()
    new = config("即时站", "192.168.1.60")
    tx.sendto(packet(0x5A, BASE, new), ("255.255.255.255", sim.port))
    got = rx.collect(WAIT, until=lambda g: announcements(g, 0xFC, BASE))
    fc = announcements(got, 0xFC, BASE)
    check(bool(fc) and fc[0][2][3] == new, "FC comes at once, long before the next round")
    rc, _ = sim.stop(STOP_SIGNAL)
    check(rc == 0, f"exit code 0 on {STOP_SIGNAL.name}, got {rc}")
    tx.close()


def test_delay_auto_addresses_multicast(exe, rx):
    """Multicast only, FF identities, delayed apply, leased addresses while AutoIP is on,
    loopback-bound socket, stop after --count rounds."""
    sim = Sim(exe, "--devices", "2", "--interval-ms", "200", "--mode", "multicast", "--ff-idents",
              "--apply-delay-ms", "400", "--auto-addresses", "--bind-lo", "--count", "12")
    rx.drain()
    # Two rounds of both devices (the count runs to 12).
    got = rx.collect(WAIT, until=lambda g: len(announcements(g, 0xFF)) >= 4)
    check(not [g for g in got if g[0] == "broadcast"], "multicast mode sends no broadcast")
    check({p[2] for _, _, p in announcements(got, 0xFF)} == {FF_BASE, FF_BASE + 1}, "FF identities")
    auto = config("三号泵站", None, autoip=1, mask=None, gw=None, dns1=None)
    tx = sender()
    sent_at = time.monotonic()
    tx.sendto(packet(0x5A, FF_BASE + 1, auto), ("127.0.0.1", sim.port))
    got = rx.collect(WAIT, until=lambda g: announcements(g, 0xFC, FF_BASE + 1))
    delay = time.monotonic() - sent_at
    fc = announcements(got, 0xFC, FF_BASE + 1)
    check(bool(fc), "FC after a delayed set")
    check(delay >= 0.38, f"set applied only after the delay ({delay:.3f}s)")
    before = [p for _, _, p in announcements(got, 0xFF, FF_BASE + 1)]
    check(all(p[3][0] == 0 for p in before), "old record announced until the delay ends")
    if fc:
        rec = fc[0][2][3]
        check(rec[:40] == auto[:40], "bytes 0-39 as set")
        check(rec[40:60] == ip("10.20.0.3") + ip("255.255.0.0") + ip("10.20.0.1") * 2 + bytes(4),
              f"leased addresses while AutoIP is on, got {rec[40:60].hex()}")
    rc, summary = sim.stop(sig=None, seconds=WAIT)  # ends by itself after 12 rounds
    check(rc == 0, f"exit 0 after --count, got {rc}")
    check("announcements sent 25 (FC 1)" in summary, f"12 rounds of 2 devices plus one FC: {summary}")
    tx.close()


def test_many_devices(exe, rx):
    """10,000 devices on one socket: every device announces each round, sets still work."""
    n = 10000
    sim = Sim(exe, "--devices", str(n), "--interval-ms", "1000", "--count", "3", "--quiet",
              "--mode", "broadcast")
    rx.drain()
    seen = set()
    tx = sender()
    got = rx.collect(WAIT, until=lambda g: announcements(g, 0xFF))  # the first round has begun
    tx.sendto(packet(0x5A, BASE + n - 1, config("末号站", "192.168.40.200")), ("127.0.0.1", sim.port))
    # Until every device and the answer to the set were heard, or the rounds
    # are over; generous, for a simulator under Wine on a busy machine.
    applied = False
    deadline = time.monotonic() + 3 * WAIT
    while True:
        for _, _, p in announcements(got, 0xFF):
            seen.add(p[2])
        applied = applied or bool(announcements(got, 0xFC, BASE + n - 1))
        if (len(seen) >= n and applied) or sim.proc.poll() is not None or time.monotonic() > deadline:
            break
        got = rx.collect(0.5)
    got = rx.collect(0.3)  # what was still on its way
    for _, _, p in announcements(got, 0xFF):
        seen.add(p[2])
    applied = applied or bool(announcements(got, 0xFC, BASE + n - 1))
    check(len(seen) >= n * 0.98 and seen <= set(range(BASE, BASE + n)),
          f"announcements of (nearly) all {n} devices received: {len(seen)}")
    check(applied, "set to the last device applied")
    rc, summary = sim.stop(sig=None, seconds=WAIT)
    check(rc == 0, f"exit 0, got {rc}")
    check(f"announcements sent {3 * n + 1} (FC 1), send errors 0," in summary, f"summary: {summary}")
    check(not [l for l in sim.all_lines if l.startswith("announced")], "--quiet suppresses announcement lines")
    check(any(l.startswith("applied 0012AB34CD7D0F") for l in sim.all_lines), "applied line kept under --quiet")
    tx.close()


def main():
    isolation.require()  # before any socket
    global STOP_SIGNAL
    args = sys.argv[1:]
    if args[:1] == ["--stop-signal"]:
        STOP_SIGNAL = signal.Signals["SIG" + args[1]]
        args = args[2:]
    exe = args
    check(crc16(b"123456789") == 0x29B1, "CRC-16/CCITT-FALSE check value")
    rx = Receiver()
    try:
        for test in (test_announce_and_sets, test_set_answered_at_once, test_delay_auto_addresses_multicast,
                     test_many_devices):
            print("==", test.__name__, flush=True)
            test(exe, rx)
    finally:
        rx.close()
    print("FAILED: %d" % len(failures) if failures else "all passed", flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
