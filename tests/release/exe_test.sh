#!/bin/sh
# The exe as shipped, read back: it imports only system DLLs, and its resources hold the
# long-path aware manifest and the project version.
# Usage: exe_test.sh <objdump> <windres> <norix-native-sandbox.exe> <version>
set -eu
objdump="$1" windres="$2" exe="$3" version="$4"
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort |
    tr '\n' ' ')
[ "$imports" = "advapi32.dll kernel32.dll msvcrt.dll userenv.dll " ] ||
    { echo "imports: $imports"; exit 1; }
resources=$("$windres" -i "$exe" -J coff -O rc)
numbers=$(echo "$version" | sed 's/\./, /g')
for expected in '1 24 /* RT_MANIFEST */' '<ws2:longPathAware>true</ws2:longPathAware>' \
    '<requestedExecutionLevel level=""asInvoker""' "FILEVERSION $numbers, 0" \
    "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\""; do
    printf '%s\n' "$resources" | grep -F -q "$expected" || { echo "missing: $expected"; exit 1; }
done
