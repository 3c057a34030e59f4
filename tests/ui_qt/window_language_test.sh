#!/usr/bin/env bash
# The program's window speaks the user's language: Korean when the locale
# (LC_ALL, LC_MESSAGES or LANG, refined by LANGUAGE) is Korean, else English.
# Starts the real program on the X server of xvfb-run and reads the title of
# its window.
# Usage: xvfb-run -a bash window_language_test.sh PATH-TO-MORIX
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb

# Prints the main window's title with the given locale variables set.
title_with() {
    env -u LC_ALL -u LC_MESSAGES -u LANG -u LANGUAGE "$@" "$program" >"$work/out" 2>&1 &
    local pid=$! title=""
    for _ in $(seq 1 300); do
        title=$(xdotool search --pid "$pid" --name ' 1\.8$' getwindowname 2>/dev/null | head -n 1) || true
        # The name read after the search may still be an earlier one.
        [[ $title == *' 1.8' ]] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    printf '%s' "$title"
}

failures=0
expect() {
    local want=$1
    shift
    local got attempt
    # A start that could not reach the X server (seen once under heavy load)
    # says nothing about the language: try it again.
    for attempt in 1 2 3; do
        got=$(title_with "$@")
        [ -n "$got" ] || ! grep -q "could not connect to display" "$work/out" || continue
        break
    done
    if [ "$got" = "$want" ]; then
        echo "ok: $* -> $got"
    else
        echo "FAIL: $* -> '$got', expected '$want'"
        cat "$work/out"
        failures=$((failures + 1))
    fi
}

expect "트렐보 리네이머 1.8" LANG=ko_KR.UTF-8
expect "Trelvo Renamer 1.8" LANG=en_US.UTF-8
expect "Trelvo Renamer 1.8" LC_ALL=C.UTF-8 LANG=ko_KR.UTF-8
expect "트렐보 리네이머 1.8" LANG=en_US.UTF-8 LANGUAGE=ko
[ "$failures" -eq 0 ]
