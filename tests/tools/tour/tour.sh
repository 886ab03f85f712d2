#!/bin/sh
# The tour writes a picture per step and an index naming each, into the
# folder it prints; a bad argument is refused.
#   tour.sh <vexil-tour>
tour="$1"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$tour" --out "$work/out" >"$work/log" 2>&1 || { cat "$work/log"; fail "the tour failed"; }
grep -q "$work/out" "$work/log" || fail "the folder is not named: $(cat "$work/log")"
count=0
for png in "$work"/out/*.png; do
  [ -s "$png" ] || continue
  count=$((count + 1))
  head -c 8 "$png" | od -An -c | grep -q "P   N   G" || fail "$png is not a PNG"
  grep -q "($(basename "$png"))" "$work/out/index.md" || fail "index.md does not show $(basename "$png")"
done
[ "$count" -ge 7 ] || fail "only $count pictures"
"$tour" --bogus >/dev/null 2>&1
[ $? -eq 2 ] || fail "an unknown argument is not refused with status 2"
[ "$failures" -eq 0 ]
