#!/bin/sh
# Installs the Windows program folder into an empty directory and fails
# unless it can run on a Windows that has nothing else installed:
# orven-setup.exe is a windowed program, the platform plugin is in place, and
# every DLL that a program, DLL or plugin of the folder loads is in the
# folder or is one of Windows' own (one that Wine provides as Windows').
#   check_folder.sh BUILD_DIR OBJDUMP WINDOWS_DLL_DIR
set -eu
build=$1 objdump=$2 windows=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cmake --install "$build" --prefix "$dir/folder" --component programs >/dev/null
folder=$dir/folder
: >"$dir/faults"

"$objdump" -p "$folder/orven-setup.exe" | grep -q '^Subsystem.*(Windows GUI)' ||
  echo "orven-setup.exe is not a windowed program" >>"$dir/faults"
for f in orven-setup.exe orven-devsim.exe orven-cli.exe ORVENAPI3.dll platforms/qwindows.dll; do
  [ -f "$folder/$f" ] || echo "$f is missing" >>"$dir/faults"
done

ls "$folder" | tr 'A-Z' 'a-z' >"$dir/beside"
find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \) | sort >"$dir/files"
count=0
while read -r file; do
  count=$((count + 1))
  for dll in $("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    name=$(printf '%s' "$dll" | tr 'A-Z' 'a-z')
    case "$name" in api-ms-win-*|ext-ms-win-*) continue ;; esac  # API sets: Windows' own
    grep -qxF "$name" "$dir/beside" && continue
    [ -e "$windows/$name" ] && continue
    echo "${file#"$folder"/} loads $dll, which is neither in the folder nor part of Windows" >>"$dir/faults"
  done
done <"$dir/files"

if [ -s "$dir/faults" ]; then
  cat "$dir/faults"
  exit 1
fi
echo "the folder's $count programs, DLLs and plugins load nothing from outside it but Windows' own DLLs"
