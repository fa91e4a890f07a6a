"""A technician's laptop with two adapters, built from network namespaces and
veth pairs inside the private namespace of tools/isolated-net:

    laptop  wifi 10.0.0.2/24 (default route via 10.0.0.1)  ---  ap    ap0  10.0.0.1/24
            site 192.168.1.2/24 (no gateway)               ---  site  lan0 192.168.1.10/24

Each namespace is held by a `unshare -n` child and entered with nsenter (no
`ip netns`, which needs a mounted /run/netns). Everything ends with the
topology: the children are killed and their namespaces (with the veth pairs)
go with them. The laptop gets the private namespace's marker pair too, so the
test programs' guard admits them there.
"""
import os
import subprocess
import time

import isolation

LAPTOP_WIFI, LAPTOP_SITE = "10.0.0.2", "192.168.1.2"


class Namespace:
    """A network namespace of its own, held by a sleeping child."""

    def __init__(self):
        own = os.readlink("/proc/self/ns/net")
        self.proc = subprocess.Popen(["unshare", "-n", "sleep", "3600"])
        self.pid = self.proc.pid
        deadline = time.monotonic() + 10
        # Until the child has unshared, entering it would enter this namespace.
        while os.readlink("/proc/%d/ns/net" % self.pid) == own:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise RuntimeError("unshare -n did not make a namespace")
            time.sleep(0.01)

    def command(self, *args):
        return ["nsenter", "-t", str(self.pid), "-n", *args]

    def sh(self, *commands):
        for c in commands:
            subprocess.run(self.command(*c.split()), check=True)

    def close(self):
        self.proc.kill()
        self.proc.wait()


class Laptop:
    def __init__(self):
        self.namespaces = []
        try:
            self.laptop, self.ap, self.site = (self._namespace() for _ in range(3))
            self._pair("wifi", self.laptop, "ap0", self.ap)
            self._pair("site", self.laptop, "lan0", self.site)
            self.laptop.sh("ip link add %s type veth peer name %s" % isolation.MARKER,
                           "ip link set lo up",
                           "ip addr add %s/24 dev wifi" % LAPTOP_WIFI, "ip link set wifi up",
                           "ip addr add %s/24 dev site" % LAPTOP_SITE, "ip link set site up",
                           "ip route add default via 10.0.0.1 dev wifi")
            # The devices' side: their broadcasts and group datagrams leave by their one adapter.
            self.ap.sh("ip link set lo up", "ip addr add 10.0.0.1/24 dev ap0", "ip link set ap0 up",
                       "ip route add default dev ap0")
            self.site.sh("ip link set lo up", "ip addr add 192.168.1.10/24 dev lan0", "ip link set lan0 up",
                         "ip route add default dev lan0")
        except BaseException:
            self.close()
            raise

    def _namespace(self):
        ns = Namespace()
        self.namespaces.append(ns)
        return ns

    @staticmethod
    def _pair(near, near_ns, far, far_ns):
        subprocess.run(["ip", "link", "add", near, "type", "veth", "peer", "name", far], check=True)
        subprocess.run(["ip", "link", "set", near, "netns", str(near_ns.pid)], check=True)
        subprocess.run(["ip", "link", "set", far, "netns", str(far_ns.pid)], check=True)

    def close(self):
        for ns in self.namespaces:
            ns.close()
