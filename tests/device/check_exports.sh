#!/bin/sh
# Fails unless the library exports exactly our calls: read from the dynamic
# symbol table of an ELF shared object, or from the export table of a
# Windows DLL.
set -eu
lib="$1"
expected="GetDeviceIdent OrvenBuildPacket OrvenCrc16 OrvenReadConfigSet PreparePackage ReadNetConfigration SendNetConfigration"
case "$lib" in
  *.dll|*.DLL)
    # The "[Ordinal/Name Pointer] Table" of objdump -p lists each exported name.
    objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
    names=$("$objdump" -p "$lib" | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9][0-9]*\][[:space:]]\{1,\}\([^[:space:]]\{1,\}\)$/\1/p')
    ;;
  *)
    names=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sed 's/@.*//')
    ;;
esac
actual=$(printf '%s\n' $names | sort -u | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
echo "exports ok: $actual"
