#!/usr/bin/env bash
# check-exports.sh OBJDUMP FILE NAME...
# Fails unless the export name table of FILE (a PE DLL) holds exactly the
# given NAMEs: no name missing, none decorated (no leading underscore, no
# "@N" of stdcall), nothing else exported.
set -euo pipefail
objdump="$1"; file="$2"; shift 2
if ! out=$("$objdump" -p "$file" 2>&1); then
  echo "FAIL $file: objdump could not read it: $out"; exit 1
fi
# The names follow "[Ordinal/Name Pointer] Table" up to the next blank line.
actual=$(printf '%s\n' "$out" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^[[:space:]]*$/s/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' |
  sort)
expected=$(printf '%s\n' "$@" | sort)
if [ "$actual" != "$expected" ]; then
  echo "FAIL $file exports:" $actual
  echo "     expected:" $expected
  exit 1
fi
echo "ok   $file exports:" $actual
