#!/bin/sh
# Runs a test binary (one that writes preferences) with an empty HOME and no
# VEXIL_HOME or VEXIL_RESOURCES, as a developer would; the HOME must stay empty
# and the scratch home must be gone afterwards.
#   run-by-hand.sh <test binary>
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
mkdir "$work/home" "$work/tmp"
env -u VEXIL_HOME -u VEXIL_RESOURCES -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME \
  HOME="$work/home" TMPDIR="$work/tmp" "$1" >"$work/out" 2>&1 || { cat "$work/out"; echo "FAIL: the tests failed"; exit 1; }
if [ -n "$(ls -A "$work/home")" ]; then
  echo "FAIL: the run wrote into HOME:"; find "$work/home"; exit 1
fi
if [ -n "$(ls -A "$work/tmp")" ]; then
  echo "FAIL: the scratch home was left behind:"; find "$work/tmp" | head; exit 1
fi
echo "HOME untouched"
