#!/bin/sh
# Console control events under Wine, the launcher and its child (sandbox_child) on a tmux console;
# twelve interrupted runs leave no letter. A launcher killed while its child runs ends without its
# teardown; the next run on the same scratch directory removes what it left. (A closed console
# gives the handler no CTRL_CLOSE_EVENT under Wine: it is a kill there, as kill -9 is.)
# Usage: console_events_test.sh <wine-double/norix-native-sandbox.exe> <sandbox_child.exe>
set -eu
exe="$1" child="$2" dir="$WINEPREFIX/drive_c/norix-console-events" session="norix-events-$$"
record="$dir/.scratch.norix-native-sandbox-mounts" w='C:\norix-console-events'
export LANG=C.UTF-8 LC_ALL=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="userenv=n,b"
rm -rf "$dir" && mkdir -p "$dir/project/bin" "$dir/scratch" && cp "$child" "$dir/project/bin/child.exe"
trap 'for s in "$session" "keep-$session"; do tmux kill-session -t "=$s" 2>/dev/null || true; done' EXIT
# A session of its own keeps the tmux server up between the runs: a server that exits with its last
# session can take the next run's new session down with it.
tmux new-session -d -s "keep-$session" 'sleep 3600'
letters() { ls "$WINEPREFIX/dosdevices" | grep ':$' | tr '\n' ' '; }
before=$(letters)
fail() { echo "FAILED: $*"; exit 1; }
launch="wine '$exe' --project '$w\\project' --scratch '$w\\scratch' --profile norix-console-events \
--network deny -- 'bin\\child.exe'"
start() { # the child in mode $1, waiting on a new console
    rm -f "$dir/status"
    tmux -u new-session -d -s "$session" -x 200 -y 50 "$launch $1; echo \$? >'$dir/status'"
    for _ in $(seq 1 300); do # a minute: Wine starts slowly on a loaded machine
        tmux capture-pane -p -t "$session" | grep -q waiting && return 0
        sleep 0.2
    done
    fail "the child ($1) never waited: $(tmux capture-pane -p -t "$session" 2>&1)"
}
interrupt() { # C-c, then the launcher's status $1, and no letter or record left
    tmux send-keys -t "$session" C-c
    for _ in $(seq 1 150); do [ -s "$dir/status" ] && break; sleep 0.2; done
    [ "$(cat "$dir/status")" = "$1" ] || fail "status $(cat "$dir/status"), not $1"
    while tmux has-session -t "=$session" 2>/dev/null; do sleep 0.1; done
    [ "$(letters)" = "$before" ] && [ ! -e "$record" ] || fail "left: $(letters) $(ls -a "$dir")"
}

start ignore-ctrl-c; interrupt 7
for _ in $(seq 1 12); do start ctrl-c; interrupt 125; done

# SIGKILL to the launcher's Wine process while its child waits; the cleanup, meanwhile, refuses
# the record the launcher holds and removes nothing.
wine "$exe" --project "$w\\project" --scratch "$w\\scratch" --profile norix-console-events --network deny \
    -- 'bin\child.exe' ctrl-c </dev/null >"$dir/killed" 2>&1 &
launcher=$!
for _ in $(seq 1 300); do grep -q waiting "$dir/killed" && break; sleep 0.2; done
held=$(letters) status=0 held_record="$w\\.scratch.norix-native-sandbox-mounts"
wine "${exe%/*}/norix-native-sandbox-cleanup.exe" "$held_record" </dev/null >/dev/null 2>"$dir/cleanup" || status=$?
refusal="native sandbox cleanup failed: mount record is held by a running launcher: $held_record"
[ "$status" = 1 ] && [ "$(letters)" = "$held" ] && [ "$(cat "$dir/cleanup")" = "$refusal" ] ||
    fail "the cleanup did not refuse the record: $status"
kill -9 "$launcher" && wait "$launcher" || true
[ "$(letters)" != "$before" ] && [ -e "$record" ] || fail "kill -9 left nothing: $(letters)"
# The next run on the same scratch directory removes what the killed one left.
status=0 && eval "NORIX_SANDBOX_TRACE= $launch 0" </dev/null >"$dir/out" 2>&1 || status=$?
echo "after kill -9: the next run: status $status, letters $(letters)"
[ "$status" = 0 ] && grep -q '^sandbox-stage=recover-record path=' "$dir/out" ||
    fail "no recovery: $(cat "$dir/out")"
[ "$(letters)" = "$before" ] && [ ! -e "$record" ] || fail "left: $(letters) $(ls -a "$dir")"
