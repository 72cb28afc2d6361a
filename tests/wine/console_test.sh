#!/bin/sh
# The failure line on a real console: the launcher runs under Wine in a tmux pane, so its
# standard error is a terminal and the line must go out through WriteConsoleW. Written as bytes
# instead, Wine would read them as code page 437 and the non-ASCII path would come out garbled.
# Usage: console_test.sh <norix-native-sandbox.exe>
set -eu
exe="$1" session="norix-console-$$"
export LANG=C.UTF-8 LC_ALL=C.UTF-8 WINEDEBUG=-all
tmux -u new-session -d -s "$session" -x 220 -y 10 \
    "wine '$exe' --network deny --project 'C:\\nöpe-€' -- t; echo status=\$?; sleep 60"
trap 'tmux kill-session -t "$session" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
    pane=$(tmux capture-pane -p -t "$session")
    case "$pane" in *status=*) break ;; esac
    sleep 0.2
done
printf '%s\n' "$pane"
expected='native sandbox failed: cannot resolve C:\nöpe-€: '
printf '%s\n' "$pane" | grep -F -q "$expected" || { echo "missing: $expected"; exit 1; }
printf '%s\n' "$pane" | grep -q '(os error 2)$' || { echo "missing the os error 2"; exit 1; }
printf '%s\n' "$pane" | grep -q '^status=126$' || { echo "status is not 126"; exit 1; }
