#!/usr/bin/env bash
# Runs a Windows program in the project's Wine prefix (the CTest emulator).
# Wine's own background processes, started by the first program of a session,
# inherit its output; a file instead of CTest's pipe keeps CTest from waiting
# for them. The output is shown also when the run is stopped from outside.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
out=$(mktemp)
wine "$@" >"$out" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; cat "$out"; rm -f "$out"; exit 124' TERM INT
wait $pid
rc=$?
cat "$out"
rm -f "$out"
exit $rc
