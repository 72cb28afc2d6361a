#!/bin/sh
# A host drives a run under Wine with pipes and no console of its own: a time limit ends a child
# that never exits, through the job; the report is read back with Python's json module. (The
# host's stop event: end_to_end_test.cpp.)
# Usage: host_channel_test.sh <wine-double/norix-native-sandbox.exe> <sandbox_child.exe> <version>
set -eu
exe="$1" child="$2" version="$3" dir="$WINEPREFIX/drive_c/norix-host-channel" w='C:\norix-host-channel'
export WINEDEBUG=-all WINEDLLOVERRIDES="userenv=n,b"
rm -rf "$dir" && mkdir -p "$dir/project/bin" "$dir/scratch" && cp "$child" "$dir/project/bin/child.exe"
fail() { echo "FAILED: $*"; exit 1; }
run="--project $w\\project --scratch $w\\scratch --profile norix-host-channel --network deny"
# The report's events, its last status and the project's host directory.
report() { python3 -c 'import json, sys
lines = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
print(" ".join(line["event"] for line in lines), lines[-1]["status"], lines[0]["mounts"][0]["directory"])' "$dir/$1"; }
sleepers() { ps -eo args | grep -c '[c]hild.exe sleep' || true; }

[ "$(wine "$exe" --version)" = "norix-native-sandbox $version" ] || fail "--version: $(wine "$exe" --version)"
status=0 && wine "$exe" --report "$w\\timeout.jsonl" --timeout 1 $run -- 'bin\child.exe' sleep </dev/null >/dev/null 2>&1 || status=$?
printf "%s\n" "--timeout 1: status $status, report $(report timeout.jsonl)"
[ "$status" = 124 ] && [ "$(report timeout.jsonl)" = "started timeout 124 $w\\project" ] || fail "the time limit"
[ "$(sleepers)" = 0 ] || fail "the child runs on: $(ps -eo args | grep '[c]hild.exe')"
