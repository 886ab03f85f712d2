#!/bin/sh
# vexil starts on the headless display, builds its status menu, and ends
# cleanly on SIGTERM.
#   run-vexil.sh <vexil>
vexil="$1"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
VEXIL_BACKEND=headless VEXIL_HOME="$work/home" "$vexil" >"$work/out" 2>"$work/err" &
pid=$!
# Wait for the launch's menu refresh, 10 s at most.
i=0
until grep -q "Update menu done" "$work/out"; do
  i=$((i + 1))
  if [ $i -gt 200 ] || ! kill -0 $pid 2>/dev/null; then
    echo "FAIL: vexil did not finish launching"; cat "$work/out" "$work/err"; kill $pid 2>/dev/null; exit 1
  fi
  sleep 0.05
done
kill -TERM $pid
wait $pid
status=$?
[ $status -eq 0 ] || { echo "FAIL: exit status $status after SIGTERM"; cat "$work/err"; exit 1; }
grep -q "status item cannot be seen" "$work/err" || { echo "FAIL: no word on the missing display"; exit 1; }
[ -f "$work/home/.local/share/vexil/default.realm" ] || { echo "FAIL: no library store"; ls -R "$work/home"; exit 1; }
echo "vexil launched and quit"
