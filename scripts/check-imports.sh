#!/usr/bin/env bash
# check-imports.sh OBJDUMP FILE...
# Fails unless every FILE (a PE executable or DLL) imports system DLLs only:
# the C/C++ runtime and threads must be linked in statically.
set -euo pipefail
objdump="$1"; shift
allowed='^(kernel32|msvcrt|ws2_32|advapi32|user32|gdi32|shell32|ole32|oleaut32|ddraw|bcrypt|ntdll|winmm|shlwapi|comctl32|comdlg32|version|iphlpapi|dbghelp|psapi|secur32|crypt32|rpcrt4|uxtheme|dwmapi|imm32)\.dll$'
status=0
for f in "$@"; do
  if ! out=$("$objdump" -p "$f" 2>&1); then
    echo "FAIL $f: objdump could not read it: $out"; status=1; continue
  fi
  dlls=$(printf '%s\n' "$out" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  if [ -z "$dlls" ]; then
    echo "FAIL $f: no import table found"; status=1; continue
  fi
  bad=$(printf '%s\n' "$dlls" | grep -v -E "$allowed" || true)
  if [ -n "$bad" ]; then
    echo "FAIL $f imports non-system DLLs:" $bad; status=1
  else
    echo "ok   $f imports:" $dlls
  fi
done
exit $status
