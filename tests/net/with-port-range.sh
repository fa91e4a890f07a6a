#!/bin/sh
# with-port-range.sh "FIRST LAST" COMMAND [ARG...]
# Runs COMMAND with the network namespace's range of ephemeral ports (the
# ports the system chooses from for a bind to port 0) narrowed to FIRST-LAST,
# told to the command as ORVEN_PORT_RANGE, and puts the range back afterwards
# (the tests of a Wine session share one namespace). Only inside the private
# namespace of tools/isolated-net: the host's range is never touched.
set -u
# (The marker adapter that only that namespace has: tests/common/isolation_guard.h.)
if ! grep -q "^ *orvenisol0:" /proc/self/net/dev 2>/dev/null; then
  echo "with-port-range.sh: only inside tools/isolated-net" >&2
  exit 125
fi
range=$1
shift
file=/proc/sys/net/ipv4/ip_local_port_range
old=$(cat "$file") || exit 125
echo "$range" > "$file" || exit 125
ORVEN_PORT_RANGE=$range "$@"
rc=$?
echo "$old" > "$file"
exit $rc
