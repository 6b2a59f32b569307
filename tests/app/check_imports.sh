#!/usr/bin/env bash
# The Windows program must be a GUI executable of the expected kind that
# needs nothing but the system's own DLLs, named as its version resource says.
#   check_imports.sh OBJDUMP EXE PE32|PE32+
set -euo pipefail
objdump=$1 exe=$2 kind=$3
headers=$("$objdump" -p "$exe")
grep -q "^Magic.*($kind)\$" <<<"$headers" || { echo "not a $kind executable"; exit 1; }
grep -q '^Subsystem.*(Windows GUI)' <<<"$headers" || { echo "not a GUI executable"; exit 1; }
status=0
while read -r dll; do
  case "${dll^^}" in
    KERNEL32.DLL | USER32.DLL | GDI32.DLL | COMDLG32.DLL | MSVCRT.DLL | ADVAPI32.DLL) echo "imports $dll" ;;
    *) echo "imports $dll, which is not a system DLL"; status=1 ;;
  esac
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
# Version strings are UTF-16: each value follows its name.
original=$(strings -el "$exe" | grep -A1 -x OriginalFilename | tail -n 1)
if [ "$original" != "$(basename "$exe")" ]; then
  echo "file name $(basename "$exe") differs from the original file name '$original'"
  status=1
fi
exit $status
