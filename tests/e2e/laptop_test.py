#!/usr/bin/env python3
"""End-to-end test of writes from a laptop with two adapters (tests/e2e/topology.py):
Wi-Fi with the default route, and the wired port on the site LAN without a gateway.
Devices on the site LAN and one behind the Wi-Fi's access point are heard; every
write to either must be confirmed, each answer leaving through the adapter its
device was heard on, all from the one source port of the run.

The devices are orven-devsim (--devsim, a native build) or, for a Windows build
under Wine (whose programs all share one wine server, hence one namespace),
devices played by this script in their namespaces.

Usage (only inside tools/isolated-net, or tools/wine-session for a Windows build):
    python3 tests/e2e/laptop_test.py CLI [--devsim DEVSIM] [--window TEST_APP]
"""
import json
import os
import select
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devsim_test as dt  # noqa: E402  (packet helpers)
import isolation  # noqa: E402
import topology  # noqa: E402

check = dt.check
SITE, AP = 0x0012AB00000100, 0x0012AB00000200  # the site LAN's three devices, the one behind the Wi-Fi
RUNNER = [os.environ["ORVEN_EMULATOR"]] if os.environ.get("ORVEN_EMULATOR") else []
TMP = tempfile.mkdtemp(prefix="orven-laptop-test-")


def ident(value):
    return "%014X" % value


def play(first, count):
    """Plays `count` devices from identity `first` in this namespace, as devsim does: announce
    every 0.3 s by broadcast and to the group from one port, take a configuration-set of one's own
    identity, announce it at once (kind 0xFC), and print "set-received IDENT from=IP:PORT"."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.bind(("0.0.0.0", 0))
    configs = {first + i: dt.config("设备%d" % i, "192.168.1.%d" % (100 + i)) for i in range(count)}

    def announce(value, kind=0xFF):
        data = dt.packet(kind, value, configs[value])
        s.sendto(data, ("255.255.255.255", 60080))
        s.sendto(data, ("230.1.1.100", 60081))

    print("devsim: playing", flush=True)
    deadline = time.monotonic() + 300
    next_round = 0
    while time.monotonic() < deadline:
        if time.monotonic() >= next_round:
            for value in configs:
                announce(value)
            next_round = time.monotonic() + 0.3
        if not select.select([s], [], [], 0.05)[0]:
            continue
        data, (address, port) = s.recvfrom(8192)
        got = dt.parse(data)
        if got and got[0] == 0x5A and got[2] in configs:
            configs[got[2]] = got[3]
            print("set-received %s from=%s:%d" % (ident(got[2]), address, port), flush=True)
            announce(got[2], 0xFC)


class Devices:
    """Devices in one namespace of the topology, with what they print."""

    def __init__(self, namespace, first, count, devsim):
        command = ([*devsim, "--devices", str(count), "--ident-base", "%X" % first, "--interval-ms", "300",
                    "--quiet", "--real-network"] if devsim else
                   [sys.executable, os.path.abspath(__file__), "--play", "%X" % first, str(count)])
        self.proc = subprocess.Popen(namespace.command(*command), stdout=subprocess.PIPE, text=True)
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.strip())

    def sources(self, value):
        """Where each configuration-set for the device came from: [(address, port)]."""
        prefix = "set-received %s from=" % ident(value)
        found = []
        for line in list(self.lines):
            if line.startswith(prefix):
                address, port = line[len(prefix):].rsplit(":", 1)
                found.append((address, int(port)))
        return found

    def close(self):
        self.proc.kill()
        self.proc.wait()


def in_laptop(top, command, timeout=120, env=None):
    p = subprocess.run(top.laptop.command(*command), capture_output=True, text=True, timeout=timeout,
                       env=dict(os.environ, **(env or {})))
    return p.returncode, p.stdout, p.stderr


def one_port(name, sources_by_adapter):
    """Every answer came from the laptop's address on the device's adapter, all from one port."""
    ports = set()
    for address, sources in sources_by_adapter:
        check(sources and all(a == address for a, _ in sources),
              f"{name}: answers to the devices heard on {address} leave from it: {sources}")
        ports |= {p for _, p in sources}
    check(len(ports) == 1 and not ports & {60080, 60081, 60100}, f"{name}: one source port for all: {ports}")


def test_cli(top, site, ap, cli):
    rc, out, err = in_laptop(top, [*cli, "list", "--seconds", "3", "--format", "json"])
    heard = {d["identity"]: d for d in json.loads(out)} if rc == 0 else {}
    check(rc == 0, f"list: {rc} {err}")
    for value, adapter in ((SITE, "site"), (SITE + 1, "site"), (AP, "wifi")):
        d = heard.get(ident(value), {})
        check(d.get("adapter") == adapter and d.get("adapter_index", 0) > 0,
              f"list shows {ident(value)} on {adapter}: {d.get('adapter')} {d.get('adapter_index')}")

    started = time.monotonic()
    # (--force: the two sites' simulated devices announce the same addresses, which the
    # pre-write checks would refuse.)
    rc, out, err = in_laptop(top, [*cli, "set", ident(SITE), "--name", "现场一号", "--timeout", "60", "--force"])
    check(rc == 0 and "confirmed" in out, f"set without --interface on the site LAN: {rc} {out} {err}")
    print("set confirmed in %.1f s" % (time.monotonic() - started), flush=True)
    check(site.sources(SITE) and all(a == topology.LAPTOP_SITE for a, _ in site.sources(SITE)),
          f"set's answers left by the site adapter: {site.sources(SITE)}")
    rc, out, err = in_laptop(top, [*cli, "history", "--device", ident(SITE), "--format", "json"])
    entry = (json.loads(out) or [{}])[0] if rc == 0 else {}
    check(entry.get("adapter", {}).get("name") == "site", f"the journal names the adapter: {rc} {entry} {err}")

    plan = os.path.join(TMP, "plan.csv")
    with open(plan, "w", encoding="utf-8") as f:
        f.write("identity,name\n%s,现场二号\n%s,无线一号\n" % (ident(SITE + 1), ident(AP)))
    rc, out, err = in_laptop(top, [*cli, "apply", plan, "--timeout", "60", "--force"])
    check(rc == 0 and out.count("confirmed") == 2, f"apply to both adapters: {rc} {out} {err}")
    one_port("apply", [(topology.LAPTOP_SITE, site.sources(SITE + 1)), (topology.LAPTOP_WIFI, ap.sources(AP))])


def test_window(top, site, ap, window):
    before = len(ap.sources(AP))
    devices = "%s=现场三号,%s=无线二号" % (ident(SITE + 2), ident(AP))
    rc, out, err = in_laptop(top, [*window, "--gtest_filter=*LaptopWithTwoAdapters*"], timeout=300,
                             env={"ORVEN_LAPTOP_DEVICES": devices, "QT_QPA_PLATFORM": "offscreen"})
    print(out[-3000:], err[-2000:], flush=True)
    check(rc == 0 and "[  PASSED  ] 1 test" in out, f"the window's writes on the laptop: {rc}")
    one_port("window", [(topology.LAPTOP_SITE, site.sources(SITE + 2)),
                        (topology.LAPTOP_WIFI, ap.sources(AP)[before:])])


def main():
    if sys.argv[1:2] == ["--play"]:
        play(int(sys.argv[2], 16), int(sys.argv[3]))
        return 0
    isolation.require()
    args = sys.argv[1:]
    cli = RUNNER + [args.pop(0)]
    devsim = window = None
    while args:
        option, value = args.pop(0), args.pop(0)
        if option == "--devsim":
            devsim = RUNNER + [value]
        elif option == "--window":
            window = RUNNER + [value]
    if RUNNER:
        # Wine makes a program's sockets in its wine server: the laptop's programs must start a
        # server of their own in the laptop's namespace, not share one started out here.
        subprocess.run(["wineserver", "-k"], capture_output=True)
    top = topology.Laptop()
    site = ap = None
    try:
        site = Devices(top.site, SITE, 3, devsim)
        ap = Devices(top.ap, AP, 1, devsim)
        print("== cli", flush=True)
        test_cli(top, site, ap, cli)
        if window:
            print("== window", flush=True)
            test_window(top, site, ap, window)
    finally:
        for devices in (site, ap):
            if devices:
                devices.close()
        if RUNNER:
            subprocess.run(top.laptop.command("wineserver", "-k"), capture_output=True)
        top.close()
    print("FAILED: %d" % len(dt.failures) if dt.failures else "all passed", flush=True)
    return 1 if dt.failures else 0


if __name__ == "__main__":
    sys.exit(main())
