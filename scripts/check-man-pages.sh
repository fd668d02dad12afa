#!/usr/bin/env bash
# Renders each program's man page from its --help, as the package builds it, and
# checks that commands, examples and the synopsis each stand on their own lines.
# Usage: check-man-pages.sh BUILD_DIR. Exits 77 (skipped) without help2man or man.
set -uo pipefail
build=${1:?build directory}
command -v help2man >/dev/null && command -v man >/dev/null || { echo "help2man or man missing"; exit 77; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failed=0
render() {
    help2man --no-info --section=1 --name=test --version-string=0 --output="$out/$1.1" "$build/$1" &&
        MANWIDTH=200 man -l "$out/$1.1" 2>/dev/null | col -bx >"$out/$1.txt"
}
expect_line() {  # PROGRAM REGEX WHAT
    if ! grep -Eq "$2" "$out/$1.txt"; then
        echo "FAIL $1: $3"
        failed=1
    fi
}
for p in vantrell-cli vantrell-rig vantrell-line-report; do
    render "$p" || { echo "FAIL $p: help2man"; failed=1; continue; }
done
for c in "list" "discover" "info UID" "get UID PID" "set UID PID" "identify UID" "address UID N" \
         "patch read" "patch write" "patch show" "backup FILE" "restore FILE" "dmx SLOT"; do
    expect_line vantrell-cli "^ {7}$c" "command \"$c\" on its own line"
done
for e in "discover --json" "get 7FF0:00000001 device_label" "get 7FF0:00000001 dmx_personality_description=2" \
         "set 7FF0:00000001 DEVICE_LABEL" "address 7FF0:00000001 101"; do
    expect_line vantrell-cli "^ {7}vantrell-cli $e" "example \"$e\" on its own line"
done
expect_line vantrell-cli "^EXAMPLES" "an EXAMPLES section"
expect_line vantrell-cli "^ {7}6 +the interface stopped" "exit status 6 on its own line"
for p in vantrell-rig vantrell-line-report; do
    expect_line "$p" "^ {7}$p \[.*\]$" "the whole synopsis under SYNOPSIS"
    if sed -n '/^DESCRIPTION/,$p' "$out/$p.txt" | sed -n '2,3p' | grep -q '^ *\[--'; then
        echo "FAIL $p: synopsis text under DESCRIPTION"
        failed=1
    fi
done
[ $failed -eq 0 ] && echo "man pages: every command, example and synopsis on its own line"
exit $failed
