# Sourced by the scripts that run programs under Wine: the build's own prefix, set up on first
# use, and one wineserver for the whole script, stopped when it exits.
export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # No display and no 32-bit Wine here: wineboot complains but still sets the prefix up,
    # sometimes only on its second start.
    wineboot -i >/dev/null 2>&1 || true
    [ -f "$WINEPREFIX/system.reg" ] || { wineserver -k >/dev/null 2>&1 || true; wineboot -i >/dev/null 2>&1 || true; }
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot could not set up $WINEPREFIX" >&2; exit 1; }
fi
wineserver -p 2>/dev/null || true # already running: use it
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# The first program started on a fresh wineserver also starts Wine's own services, which keep
# that program's standard handles; so it must not be one whose output is captured.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
