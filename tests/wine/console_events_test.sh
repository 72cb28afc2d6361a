#!/bin/sh
# Console control events under Wine, the launcher and its child (sandbox_child) on a tmux console.
# A closed console (kill-session) gives the handler no CTRL_CLOSE_EVENT under Wine: the launcher
# ends without its teardown, as after a kill -9, and the test shows what stays; the next run on the
# same scratch directory removes it.
# Usage: console_events_test.sh <wine-double/norix-native-sandbox.exe> <sandbox_child.exe>
set -eu
exe="$1" child="$2" dir="$WINEPREFIX/drive_c/norix-console-events" session="norix-events-$$"
record="$dir/.scratch.norix-native-sandbox-mounts"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="userenv=n,b"
rm -rf "$dir" && mkdir -p "$dir/project/bin" "$dir/scratch" && cp "$child" "$dir/project/bin/child.exe"
trap 'tmux kill-session -t "$session" 2>/dev/null || true' EXIT
letters() { ls "$WINEPREFIX/dosdevices" | grep ':$' | tr '\n' ' '; }
before=$(letters)
fail() { echo "FAILED: $*"; exit 1; }
launch="wine '$exe' --project 'C:\\norix-console-events\\project' --scratch \
'C:\\norix-console-events\\scratch' --profile norix-console-events --network deny -- 'bin\\child.exe'"
start() { # the child in mode $1, waiting on a new console
    rm -f "$dir/status"
    tmux -u new-session -d -s "$session" -x 200 -y 50 "$launch $1; echo \$? >'$dir/status'"
    for _ in $(seq 1 300); do # a minute: Wine starts slowly on a loaded machine
        tmux capture-pane -p -t "$session" | grep -q waiting && return 0
        sleep 0.2
    done
    fail "the child ($1) never waited"
}
interrupt() { # C-c, then the launcher's status $1, and no letter or record left
    tmux send-keys -t "$session" C-c
    for _ in $(seq 1 150); do [ -s "$dir/status" ] && break; sleep 0.2; done
    [ "$(cat "$dir/status")" = "$1" ] || fail "status $(cat "$dir/status"), not $1"
    [ "$(letters)" = "$before" ] && [ ! -e "$record" ] || fail "left: $(letters) $(ls -a "$dir")"
}

start ctrl-c; interrupt 125
start ignore-ctrl-c; interrupt 7
for _ in $(seq 1 12); do start ctrl-c; interrupt 125; done
# Then a normal run, on the first free letters (Wine's own drives are C: and Z:).
status=0 && eval "$launch 0" </dev/null >"$dir/out" 2>&1 || status=$?
echo "after 12 interrupted runs: letters $(letters)(before: $before); the 13th run: status $status"
[ "$status" = 0 ] && grep -qx 'NORIX_PROJECT_ROOT=Y:\\' "$dir/out" &&
    grep -qx 'NORIX_SCRATCH_ROOT=X:\\' "$dir/out" || fail "not on Y: X: $(cat "$dir/out")"

recover() { # the next run on the same scratch directory removes what the killed one left
    status=0 && eval "NORIX_SANDBOX_TRACE= $launch 0" </dev/null >"$dir/out" 2>&1 || status=$?
    echo "$1: the next run: status $status, letters $(letters)"
    [ "$status" = 0 ] && grep -q '^sandbox-stage=recover-record path=' "$dir/out" ||
        fail "no recovery: $(cat "$dir/out")"
    [ "$(letters)" = "$before" ] && [ ! -e "$record" ] || fail "left: $(letters) $(ls -a "$dir")"
}

start ctrl-c
tmux kill-session -t "$session" && sleep 2
left=$(tr '\0' '\n' <"$record" | sed -n '1p;3p' | tr '\n' ' ')
echo "after tmux kill-session: letters $(letters); the record names $left"
[ "$(letters)" != "$before" ] || fail "Wine now tears down after a closed console"
recover "after tmux kill-session"

# SIGKILL to the launcher's Wine process while its child waits; the cleanup, meanwhile, refuses
# the record the launcher holds and removes nothing.
wine "$exe" --project 'C:\norix-console-events\project' --scratch 'C:\norix-console-events\scratch' \
    --profile norix-console-events --network deny -- 'bin\child.exe' ctrl-c </dev/null >"$dir/killed" 2>&1 &
launcher=$!
for _ in $(seq 1 300); do grep -q waiting "$dir/killed" && break; sleep 0.2; done
held=$(letters) status=0
wine "${exe%/*}/norix-native-sandbox-cleanup.exe" 'C:\norix-console-events\.scratch.norix-native-sandbox-mounts' \
    </dev/null >/dev/null 2>"$dir/cleanup" || status=$?
refusal='native sandbox cleanup failed: mount record is held by a running launcher: C:\norix-console-events\.scratch.norix-native-sandbox-mounts'
[ "$status" = 1 ] && [ "$(letters)" = "$held" ] && [ "$(cat "$dir/cleanup")" = "$refusal" ] ||
    fail "the cleanup did not refuse the record: $status"
kill -9 "$launcher" && wait "$launcher" || true
[ "$(letters)" != "$before" ] && [ -e "$record" ] || fail "kill -9 left nothing: $(letters)"
recover "after kill -9"
