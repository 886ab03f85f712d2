#!/bin/sh
# vexil-cloud-daemon's options, usage errors and bind failures.
#   command-line.sh <daemon> <version>
daemon="$1"; version="$2"
work=$(mktemp -d) || exit 1
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
failures=0

# expect <exit status> <text the output must hold> <arguments...>
expect() {
  want="$1"; text="$2"; shift 2
  "$daemon" "$@" >"$work/out" 2>&1 </dev/null
  got=$?
  if [ "$got" -ne "$want" ] || ! grep -qF -- "$text" "$work/out"; then
    echo "FAIL: $*: exit $got (want $want), output:"; sed 's/^/  /' "$work/out"
    echo "  (wanted text: $text)"
    failures=$((failures + 1))
  fi
}

expect 0 "vexil-cloud-daemon $version" --version
expect 0 "usage: vexil-cloud-daemon" --help
expect 0 "usage: vexil-cloud-daemon" -h
expect 2 "unrecognized option '--bogus'" --bogus
expect 2 "Try 'vexil-cloud-daemon --help'" --bogus
expect 2 "unexpected argument '8741'" 8741
expect 2 "option '--port' requires an argument" --port
expect 2 "invalid port '70000'" --port 70000
expect 2 "invalid port 'x'" --port=x
expect 2 "invalid batch limit '0'" --batch-limit 0
expect 2 "the host is empty" --host ""
expect 1 "cannot resolve" --host no-such-host.invalid --port 0

# A daemon on every address warns; a second one on a port in use fails and
# says why.
"$daemon" --host 0.0.0.0 --port 0 >"$work/first" 2>&1 &
pid=$!
tries=0
until grep -q "listening on" "$work/first"; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ] || ! kill -0 "$pid" 2>/dev/null; then
    echo "FAIL: the first daemon did not start:"; cat "$work/first"; exit 1
  fi
  sleep 0.05
done
port=$(sed -n 's/.*listening on http:\/\/0\.0\.0\.0:\([0-9]*\)$/\1/p' "$work/first")
if ! grep -q "warning: listening on 0.0.0.0, not a loopback address" "$work/first"; then
  echo "FAIL: no warning for 0.0.0.0:"; cat "$work/first"; failures=$((failures + 1))
fi
expect 1 "cannot listen on 127.0.0.1 port $port: Address already in use" --port "$port"

[ "$failures" -eq 0 ] && echo "all cases passed"
[ "$failures" -eq 0 ]
