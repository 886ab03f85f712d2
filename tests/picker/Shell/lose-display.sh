#!/bin/sh
# vexil on an X server of its own: when the server is killed, vexil says so in
# one line, ends within a second with status 1, and spends no CPU meanwhile.
#   lose-display.sh <vexil>
vexil="$1"
command -v Xvfb >/dev/null || { echo "Xvfb is not installed: skipped"; exit 0; }
work=$(mktemp -d) || exit 1
trap 'kill $xvfb $pid 2>/dev/null; rm -rf "$work"' EXIT
# The server picks a free display number and writes it on descriptor 3.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
i=0
until [ -s "$work/display" ]; do
  i=$((i + 1)); [ $i -gt 200 ] && { echo "FAIL: Xvfb did not start"; exit 1; }
  sleep 0.05
done
display=":$(cat "$work/display")"
DISPLAY="$display" VEXIL_BACKEND=x11 VEXIL_HOME="$work/home" "$vexil" >"$work/out" 2>"$work/err" &
pid=$!
i=0
until grep -q "Update menu done" "$work/out"; do
  i=$((i + 1))
  if [ $i -gt 200 ] || ! kill -0 $pid 2>/dev/null; then
    echo "FAIL: vexil did not finish launching"; cat "$work/out" "$work/err"; exit 1
  fi
  sleep 0.05
done
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null; }
before=$(ticks)
kill -KILL $xvfb
start=$(date +%s%N)
last=$before
while kill -0 $pid 2>/dev/null && [ -e "/proc/$pid/stat" ] && [ "$(awk '{ print $3 }' "/proc/$pid/stat")" != Z ]; do
  now=$(date +%s%N)
  [ $(( (now - start) / 1000000 )) -gt 5000 ] && { echo "FAIL: vexil still runs 5 s after its display went away"; cat "$work/err"; exit 1; }
  t=$(ticks); [ -n "$t" ] && last=$t
  sleep 0.02
done
wait $pid
status=$?
ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ $status -eq 1 ] || { echo "FAIL: exit status $status (want 1)"; cat "$work/err"; exit 1; }
[ $ms -le 1000 ] || { echo "FAIL: ended $ms ms after the display went away (want at most 1000)"; exit 1; }
# Clock ticks are hundredths of a second: 20 would be a fifth of a second busy.
[ $((last - before)) -lt 20 ] || { echo "FAIL: $((last - before)) ticks of CPU after the display went away"; exit 1; }
n=$(grep -c "^vexil: lost the connection to the X display $display" "$work/err")
[ "$n" -eq 1 ] || { echo "FAIL: want one line about the lost display, got $n"; cat "$work/err"; exit 1; }
[ -f "$work/home/.local/share/vexil/default.realm" ] || { echo "FAIL: no library store"; exit 1; }
echo "vexil ended $ms ms after its display went away"
