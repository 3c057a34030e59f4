#!/usr/bin/env bash
# The desktop can tie the program's window to its desktop entry and show its
# icon: the window's instance name (WM_CLASS) is the entry's name,
# "trelvo-renamer", and the window carries the program icon (_NET_WM_ICON).
# Starts the real program on the X server of xvfb-run.
# Usage: xvfb-run -a bash window_identity_test.sh PATH-TO-MORIX
set -euo pipefail
program=$1
work=$(mktemp -d)
pid=""
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8

"$program" >"$work/out" 2>&1 &
pid=$!
window=""
for _ in $(seq 1 300); do
    window=$(xdotool search --pid "$pid" --name ' 1\.8$' 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "FAIL: no window"
    cat "$work/out"
    exit 1
fi

failures=0
class=$(xprop -id "$window" WM_CLASS)
if [[ $class == *'"trelvo-renamer", '* ]]; then
    echo "ok: $class"
else
    echo "FAIL: $class, expected the instance name \"trelvo-renamer\""
    failures=$((failures + 1))
fi
icon=$(xprop -id "$window" _NET_WM_ICON)
if [[ $icon == *"Icon ("* ]]; then
    echo "ok: the window has an icon"
else
    echo "FAIL: no icon: $icon"
    failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
