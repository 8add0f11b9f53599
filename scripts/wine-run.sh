#!/bin/sh
# Runs one Windows program under Wine for CTest: scripts/wine-run.sh WINE PROGRAM [ARGS...]
# The program's output goes through a file, not straight to CTest's pipe.
# Wine starts a console host for each child made with a console of its own,
# and that host holds the Unix standard streams it was started with; when
# the child is killed it can stay behind, and CTest would wait on the pipe
# until the test's time-out although the test program has ended.
wine=$1
shift
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 1
"$wine" "$@" >"$out" 2>&1 </dev/null
status=$?
# The program never ran when Wine could not reach its server, or when it
# failed without a word (a test program always prints its first line):
# once more.
if [ $status -ne 0 ] && { grep -q '^wine client error' "$out" || [ ! -s "$out" ]; }; then
    "$wine" "$@" >"$out" 2>&1 </dev/null
    status=$?
fi
cat "$out"
rm -f "$out"
exit $status
