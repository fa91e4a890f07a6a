"""The guard of the end-to-end scripts that open sockets beyond 127.0.0.1.

Such a script runs only inside the private network namespace that
tools/isolated-net makes (or a test topology built inside one). That
namespace holds a veth pair of ours, orvenisol0 and orvenisol1, left down,
which no other namespace has; the variable ORVEN_ISOLATED alone proves
nothing. The C++ test programs have the same guard
(tests/common/isolation_guard.h), with the same exit code.

    import isolation
    isolation.require()   # first thing in main(), before any socket
"""
import os
import sys

MARKER = ("orvenisol0", "orvenisol1")
EXIT_NOT_ISOLATED = 78


def adapters():
    """The names of this process's network namespace's adapters (read from a file: no socket)."""
    try:
        with open("/proc/self/net/dev") as f:
            return {line.split(":", 1)[0].strip() for line in f if ":" in line}
    except OSError:
        return set()


def inside():
    return all(name in adapters() for name in MARKER)


def require(program=None):
    """Ends the process with EXIT_NOT_ISOLATED and a message naming tools/isolated-net unless inside."""
    if inside():
        return
    program = program or os.path.basename(sys.argv[0])
    print(f"{program}: refusing to run: this is not the private network namespace of tools/isolated-net "
          f"(its marker adapter {MARKER[0]} is missing here).\n"
          f"It binds the devices' ports, joins their multicast group and broadcasts: run it through ctest, "
          f"or as tools/isolated-net python3 {sys.argv[0]} ...", file=sys.stderr, flush=True)
    sys.exit(EXIT_NOT_ISOLATED)
