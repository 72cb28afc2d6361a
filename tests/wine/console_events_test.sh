#!/bin/sh
# Console control events on a real console: the launcher runs under Wine in a tmux pane, its child
# (sandbox_child) on the same console. tmux's C-c reaches both; the launcher's handler keeps it
# alive, and when the child ends the run tears down as usual. A closed console (tmux
# kill-session) gives Wine's processes a hangup and the handler no CTRL_CLOSE_EVENT, so the
# launcher ends without its teardown: the test shows what stays and removes it; the simulated
# Windows carries the close event.
# Usage: console_events_test.sh <wine-double/norix-native-sandbox.exe> <sandbox_child.exe>
set -eu
exe="$1" child="$2"
dir="$WINEPREFIX/drive_c/norix-console-events"
record="$dir/.scratch.norix-native-sandbox-mounts" session="norix-events-$$"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="userenv=n,b"
rm -rf "$dir" && mkdir -p "$dir/project/bin" "$dir/scratch"
cp "$child" "$dir/project/bin/child.exe"
trap 'tmux kill-session -t "$session" 2>/dev/null || true' EXIT
letters() { ls "$WINEPREFIX/dosdevices" | grep ':$' | tr '\n' ' '; }
before=$(letters)
fail() { echo "FAILED: $*"; exit 1; }
launch="wine '$exe' --project 'C:\\norix-console-events\\project' --scratch \
'C:\\norix-console-events\\scratch' --profile norix-console-events --network deny -- 'bin\\child.exe'"

# The launcher in a new console, its child in the given mode; returns once the child waits.
start() {
    rm -f "$dir/status"
    tmux -u new-session -d -s "$session" -x 200 -y 50 \
        "$launch $1; echo \$? >'$dir/status'"
    for _ in $(seq 1 150); do
        tmux capture-pane -p -t "$session" | grep -q waiting && return 0
        sleep 0.2
    done
    fail "the child ($1) never waited"
}
# C-c to the console; then the launcher's status, and no letter or record left.
interrupt() {
    tmux send-keys -t "$session" C-c
    for _ in $(seq 1 150); do [ -s "$dir/status" ] && break; sleep 0.2; done
    [ "$(cat "$dir/status")" = "$1" ] || fail "status $(cat "$dir/status"), not $1"
    [ "$(letters)" = "$before" ] || fail "letters left: $(letters)"
    [ ! -e "$record" ] || fail "the record is left"
}

# The child ends as under Windows' default handler: its status comes back mapped.
start ctrl-c; interrupt 125
start ignore-ctrl-c; interrupt 7
for _ in $(seq 1 12); do start ctrl-c; interrupt 125; done
# Then a normal run, on the first two free letters from Z: down.
set -- $(for l in z y x w v u t s r q p o n m l k j i h g f e d; do
    case " $before" in *" $l: "*) ;; *) echo "$l:" ;; esac
done | head -2 | tr a-z A-Z)
status=0 && eval "$launch 0" </dev/null >"$dir/out" 2>&1 || status=$?
echo "after 12 interrupted runs: letters $(letters)(before: $before); the 13th run: status $status"
[ "$status" = 0 ] && grep -qxF "NORIX_PROJECT_ROOT=$1\\" "$dir/out" &&
    grep -qxF "NORIX_SCRATCH_ROOT=$2\\" "$dir/out" || fail "not on $1 $2: $(cat "$dir/out")"

# A closed console: the launcher ends without its teardown.
start ctrl-c
tmux kill-session -t "$session" && sleep 2
left=$(tr '\0' '\n' <"$record" | sed -n '1p;3p' | tr '\n' ' ')
echo "after tmux kill-session: letters $(letters); the record names $left"
[ "$(letters)" != "$before" ] || fail "Wine now tears down after a closed console"
wine "$child" forget $left && rm "$record"
[ "$(letters)" = "$before" ] || fail "letters left after the clean-up: $(letters)"
