#!/bin/sh
# Fails unless the library's dynamic symbol table defines exactly our calls.
set -eu
lib="$1"
expected="GetDeviceIdent OrvenBuildPacket OrvenCrc16 OrvenReadConfigSet PreparePackage ReadNetConfigration SendNetConfigration"
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sed 's/@.*//' | sort -u | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
echo "exports ok: $actual"
