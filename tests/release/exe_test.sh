#!/bin/sh
# An exe as shipped, read back: it imports only the system DLLs given, and its resources hold the
# long-path aware manifest, the project version and its own file name.
# Usage: exe_test.sh <objdump> <windres> <exe> <version> "<imported DLLs, sorted, lower case>"
set -eu
objdump="$1" windres="$2" exe="$3" version="$4" expected_imports="$5"
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort |
    tr '\n' ' ')
[ "$imports" = "$expected_imports " ] || { echo "imports: $imports"; exit 1; }
resources=$("$windres" -i "$exe" -J coff -O rc)
numbers=$(echo "$version" | sed 's/\./, /g')
for expected in '1 24 /* RT_MANIFEST */' '<ws2:longPathAware>true</ws2:longPathAware>' \
    '<requestedExecutionLevel level=""asInvoker""' "FILEVERSION $numbers, 0" \
    "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
    "VALUE \"OriginalFilename\", \"$(basename "$exe")\""; do
    printf '%s\n' "$resources" | grep -F -q "$expected" || { echo "missing: $expected"; exit 1; }
done
