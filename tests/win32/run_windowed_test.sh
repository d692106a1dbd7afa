#!/bin/sh
# Runs one windowed test program under wine, its output going through a file.
# The first program that opens a window starts wine's desktop process, which
# keeps the output streams it inherited until the last wine program has
# ended: ctest, reading them, would wait that long for the test to end.
out=$(mktemp)
"$@" >"$out" 2>&1
status=$?
cat "$out"
rm -f "$out"
exit $status
