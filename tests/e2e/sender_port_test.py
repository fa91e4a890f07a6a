#!/usr/bin/env python3
"""orven-cli's sender never sends from 60080, 60081 or 60100 (the rule the window's sender follows too).

Run with the namespace's range of ephemeral ports narrowed to "60080 60101" (tests/net/with-port-range.sh,
inside tools/isolated-net): every port of it is held here but those three and the last, and orven-cli holds
60080 and 60081 itself, so the system's first choice for the sender is most often 60100. Each configuration-set
that reaches the simulated device must come from the last port of the range.

    with-port-range.sh "60080 60101" python3 sender_port_test.py BUILD/cli/orven-cli BUILD/tools/devsim/orven-devsim
"""
import os
import signal
import socket
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devsim_test as dt  # noqa: E402  (Sim and check)
import isolation  # noqa: E402


def main():
    isolation.require()  # before any socket
    first, last = map(int, os.environ["ORVEN_PORT_RANGE"].split())
    runner = [os.environ["ORVEN_EMULATOR"]] if os.environ.get("ORVEN_EMULATOR") else []
    cli, sim_exe = runner + [sys.argv[1]], runner + [sys.argv[2]]
    holders = []
    for port in range(first, last):
        if port not in (60080, 60081, 60100):
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind(("0.0.0.0", port))
            holders.append(s)
    sim = dt.Sim(sim_exe, "--devices", "1", "--port", "60200", "--interval-ms", "200", "--duration-ms", "120000")
    ident = "%014X" % dt.BASE
    try:
        for round in range(5):
            p = subprocess.run([*cli, "set", ident, "--name", "端口%d" % round, "--timeout", "20"],
                               capture_output=True, text=True, timeout=60)
            line = sim.wait_line(lambda l: l.startswith("set-received " + ident), 20)
            port = int(line.rsplit(":", 1)[1]) if line else None
            dt.check(p.returncode == 0 and port == last,
                     f"round {round}: the set came from port {port}, not {last} (exit {p.returncode}: {p.stderr})")
    finally:
        sim.stop(signal.SIGINT)
        for s in holders:
            s.close()
    print("FAILED: %d" % len(dt.failures) if dt.failures else "all passed", flush=True)
    return 1 if dt.failures else 0


if __name__ == "__main__":
    sys.exit(main())
