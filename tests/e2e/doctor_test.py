#!/usr/bin/env python3
"""End-to-end test of `orven-cli doctor` inside the private network namespace:
two virtual adapters (veth pairs, both ends in the namespace), devices played
here that announce through one of them only, a port held by another process.

The devices' datagrams are written as whole Ethernet frames onto the far end
of a pair (a packet socket), so that they arrive on the near end only and no
local copy reaches the doctor by another adapter.

Usage (only inside tools/isolated-net):
    python3 tests/e2e/doctor_test.py BUILD/cli/orven-cli
"""
import json
import os
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devsim_test as dt  # noqa: E402  (packet helpers)
import isolation  # noqa: E402

check, packet, config, port_taken = dt.check, dt.packet, dt.config, dt.port_taken
CLI = None
ADAPTERS = {"dA": ("pA", "10.61.0.1/24"), "dB": ("pB", "10.62.0.1/24")}


def checksum(data):
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    total = (total >> 16) + (total & 0xFFFF)
    return ~(total + (total >> 16)) & 0xFFFF


def frame(source_ip, destination_ip, port, payload):
    """An Ethernet frame carrying one UDP datagram from source_ip:50000."""
    udp = struct.pack("!HHHH", 50000, port, 8 + len(payload), 0) + payload
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 1, 17, 0,
                         socket.inet_aton(source_ip), socket.inet_aton(destination_ip))
    header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
    group = socket.inet_aton(destination_ip)
    mac = b"\x01\x00\x5e" + bytes([group[1] & 0x7F, group[2], group[3]]) if group[0] >= 224 and group[0] < 240 \
        else b"\xff" * 6
    return mac + b"\x02\x00\x00\x00\x00\x01" + b"\x08\x00" + header + udp


class Devices:
    """Announces (ident, ip, multicast too) through the far end of one pair, every 0.2 s."""

    def __init__(self, far_end, devices):
        self.sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
        self.sock.bind((far_end, 0))
        self.frames = []
        for ident, address, multicast in devices:
            data = packet(0xFF, ident, config("诊断%X" % ident, address))
            self.frames.append(frame(address, "255.255.255.255", 60080, data))
            if multicast:
                self.frames.append(frame(address, "230.1.1.100", 60081, data))
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        for _ in range(300):  # at most a minute
            for f in self.frames:
                self.sock.send(f)
            if self.stop.wait(0.2):
                break

    def close(self):
        self.stop.set()
        self.thread.join()
        self.sock.close()


def doctor(*args, lang="C.UTF-8"):
    env = dict(os.environ, LANG=lang, LC_ALL=lang)
    p = subprocess.run([*CLI, "doctor", *args], capture_output=True, text=True, timeout=120, env=env)
    return p.returncode, p.stdout, p.stderr


def codes(report):
    return {f["code"]: f for f in report.get("findings", [])}


def test_adapters_duplicates():
    """Devices on dA only: per-adapter counts, multicast-adapter-mismatch (the group is joined on lo), no
    finding about broadcasts leaving by lo (answers leave by dA), duplicate-ip, device-outside-subnet; the
    ports free."""
    devices = Devices("pA", [(0xD1, "10.61.0.50", True), (0xD2, "10.61.0.50", False), (0xD3, "192.168.1.100", False)])
    try:
        rc, out, err = doctor("--seconds", "2.5", "--format", "json")
    finally:
        devices.close()
    report = json.loads(out) if out.startswith("{") else {}
    check(rc == 5, f"an error finding gives exit 5: {rc} {err}")
    check(list(report) == ["adapters", "broadcast_adapter", "multicast_adapter", "ports", "firewall", "devices",
                           "findings"], f"top-level fields: {list(report)}")
    adapters = {a["name"]: a for a in report.get("adapters", [])}
    check(set(adapters) >= {"lo", "dA", "dB"}, f"every adapter that is up: {list(adapters)}")
    a, b, lo = adapters.get("dA", {}), adapters.get("dB", {}), adapters.get("lo", {})
    check(a.get("addresses") == ["10.61.0.1/24"] and lo.get("kind") == "loopback", f"addresses and kind: {a} {lo}")
    check(a.get("broadcast", 0) >= 6 and a.get("multicast", 0) >= 2 and a.get("devices") == 3,
          f"dA heard the three devices by broadcast and one by multicast: {a}")
    check(b.get("broadcast") == 0 and b.get("multicast") == 0 and b.get("devices") == 0, f"dB heard nothing: {b}")
    check(lo.get("broadcast") == 0 and lo.get("devices") == 0, f"nothing was heard by loopback: {lo}")
    check(report.get("broadcast_adapter") == "lo" and report.get("multicast_adapter") == "lo",
          f"the system's choices: {report.get('broadcast_adapter')} {report.get('multicast_adapter')}")
    ports = report.get("ports", [])
    check([(p["port"], p["family"], p["free"], p["held_by"]) for p in ports] ==
          [(60080, "IPv4", True, None), (60080, "IPv6", True, None), (60081, "IPv4", True, None)], f"ports: {ports}")
    devices = {d["identity"]: d for d in report.get("devices", [])}
    check([devices.get("%014X" % i, {}).get("adapter") for i in (0xD1, 0xD2, 0xD3)] == ["dA"] * 3,
          f"devices heard on dA: {devices}")
    check(devices.get("%014X" % 0xD1, {}).get("same_subnet") is True and
          devices.get("%014X" % 0xD3, {}).get("same_subnet") is False and
          devices.get("%014X" % 0xD3, {}).get("ip") == "192.168.1.100", f"subnets: {devices}")
    found = codes(report)
    for code, severity in (("multicast-adapter-mismatch", "warning"), ("duplicate-ip", "error"),
                           ("device-outside-subnet", "warning")):
        check(found.get(code, {}).get("severity") == severity, f"{code} is an {severity}: {found.get(code)}")
    check("dA" in found.get("multicast-adapter-mismatch", {}).get("text", ""), "the mismatch names dA")
    check("10.61.0.50" in found.get("duplicate-ip", {}).get("text", ""), "duplicate-ip names the address")
    check(not {"no-devices", "adapter-down-or-missing", "port-in-use", "broadcast-adapter-mismatch"} & set(found),
          f"no false alarms: {list(found)}")


def test_nothing_heard_ports_held():
    """Nothing announcing and the ports held by another orven-cli: no-devices and port-in-use naming
    it, in English and in Chinese, exit 5."""
    holder = subprocess.Popen([*CLI, "list", "--seconds", "300"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 60
        while not port_taken(60081) and holder.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        check(holder.poll() is None and port_taken(60081), f"the holder runs and holds UDP 60081: {holder.poll()}")
        rc, out, err = doctor("--seconds", "0.5")
        check(rc == 5 and "error  no-devices  No device was heard in 0.5 seconds" in out, f"no-devices (text): {rc} {out} {err}")
        check("dA" in out and "Broadcasts to 255.255.255.255 leave by default by: lo (answers to a device" in out, f"the text report: {out}")
        rc, out, err = doctor("--seconds", "0.5", "--format", "json", lang="zh_CN.UTF-8")
    finally:
        holder.send_signal(signal.SIGINT)  # through Wine's runner too
        try:
            holder.wait(timeout=30)
        except subprocess.TimeoutExpired:
            holder.kill()
            holder.wait()
    report = json.loads(out) if out.startswith("{") else {}
    check(rc == 5, f"the ports held and nothing heard: exit 5 in Chinese too: {rc} {err}")
    ports = report.get("ports", [])
    check(len(ports) == 3 and all(not p["free"] and p["held_by"]["program"].startswith("orven-cli") for p in ports),
          f"every port held by orven-cli: {ports}")
    # Under Wine the pid is the Windows one, unknown here.
    check(os.environ.get("ORVEN_EMULATOR") or all(p["held_by"]["pid"] == holder.pid for p in ports), f"and its pid: {ports}")
    held = [f for f in report.get("findings", []) if f["code"] == "port-in-use"]
    check(len(held) == 3 and all("orven-cli" in f["text"] and "占用" in f["text"] for f in held), f"port-in-use: {held}")
    # The holder gone: the ports are free again, and still nothing is heard.
    rc, out, err = doctor("--seconds", "0.5", "--format", "json", lang="zh_CN.UTF-8")
    report = json.loads(out) if out.startswith("{") else {}
    found = codes(report)
    check(rc == 5 and "没有收到任何设备" in found.get("no-devices", {}).get("text", ""), f"no-devices in Chinese: {rc} {out}")
    check(all(p["free"] and p["held_by"] is None for p in report.get("ports", [])) and len(report.get("ports", [])) == 3
          and "port-in-use" not in found, f"the ports free once the holder has ended: {report.get('ports')}")


def main():
    global CLI
    isolation.require()  # before any socket
    runner = [os.environ["ORVEN_EMULATOR"]] if os.environ.get("ORVEN_EMULATOR") else []
    CLI = runner + [sys.argv[1]]
    for near, (far, address) in ADAPTERS.items():
        for cmd in ("ip link add %s type veth peer name %s" % (near, far), "ip addr add %s dev %s" % (address, near),
                    "ip link set %s up" % near, "ip link set %s up" % far):
            subprocess.run(cmd.split(), check=True)
    try:
        for test in (test_adapters_duplicates, test_nothing_heard_ports_held):
            print("==", test.__name__, flush=True)
            test()
    finally:  # the namespace may be shared with the tests after this one (Wine's session)
        for near in ADAPTERS:
            subprocess.run(["ip", "link", "del", near])
    print("FAILED: %d" % len(dt.failures) if dt.failures else "all passed", flush=True)
    return 1 if dt.failures else 0


if __name__ == "__main__":
    sys.exit(main())
