#!/bin/sh
# Installs the build into a scratch prefix and checks the tree and its programs.
#   install-tree.sh <cmake> <build directory> <version>
cmake="$1"; build="$2"; version="$3"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
prefix="$work/stage/usr"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$cmake" --install "$build" --prefix "$prefix" --strip >"$work/install.log" 2>&1 || {
  cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }

for f in bin/vexil bin/vexil-cloud-daemon \
    share/vexil/Info.plist share/vexil/formats.json \
    share/applications/com.tarnwick.vexil.desktop \
    share/icons/hicolor/scalable/apps/com.tarnwick.vexil.svg \
    share/doc/vexil/examples/autostart/com.tarnwick.vexil.desktop \
    share/metainfo/com.tarnwick.vexil.metainfo.xml share/doc/vexil/copyright \
    share/man/man1/vexil.1 share/man/man1/vexil-cloud-daemon.1; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
[ -x "$prefix/bin/vexil" ] || fail "bin/vexil is not executable"
for program in vexil vexil-cloud-daemon; do
  if readelf -S --wide "$prefix/bin/$program" | grep -q '\.debug_'; then
    fail "bin/$program keeps debug sections after --strip"
  fi
done
# Debian's machine-readable copyright names the colour names' own source and licence.
head -n 1 "$prefix/share/doc/vexil/copyright" |
  grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
  fail "copyright is not in the machine-readable format"
grep -q "^License: CC0-1.0" "$prefix/share/doc/vexil/copyright" || fail "copyright does not name the colour names' licence"

# The programs run from the staged tree, with no help from the environment.
run() {
  env -u VEXIL_RESOURCES VEXIL_HOME="$work/home" "$@" >"$work/out" 2>&1
}
run "$prefix/bin/vexil" --version || fail "vexil --version failed"
grep -qx "vexil $version" "$work/out" || fail "vexil --version says: $(cat "$work/out")"
run "$prefix/bin/vexil" --help || fail "vexil --help failed"
grep -qx "Resources: $prefix/share/vexil" "$work/out" || fail "resources not found in the tree: $(cat "$work/out")"
run "$prefix/bin/vexil-cloud-daemon" --version || fail "vexil-cloud-daemon --version failed"
grep -qx "vexil-cloud-daemon $version" "$work/out" || fail "daemon --version says: $(cat "$work/out")"
# A tree without resources is refused with a message, not run half-built.
mv "$prefix/share/vexil" "$prefix/share/vexil-moved"
run "$prefix/bin/vexil" && fail "vexil ran without its resources"
grep -q "resources are missing" "$work/out" || fail "no message for missing resources: $(cat "$work/out")"
mv "$prefix/share/vexil-moved" "$prefix/share/vexil"

# Command lines: nothing unknown passes behind a known option; output that
# cannot be written is a failure with a message.
run "$prefix/bin/vexil" --version --bogus; rc=$?
[ "$rc" -eq 2 ] || fail "vexil --version --bogus exits $rc"
env -u VEXIL_RESOURCES VEXIL_HOME="$work/home" "$prefix/bin/vexil" --version >/dev/full 2>"$work/err"; rc=$?
[ "$rc" -eq 1 ] && grep -q "cannot write" "$work/err" || fail "vexil --version >/dev/full exits $rc: $(cat "$work/err")"

# Without a display Vexil says why and exits 1 (no session bus here: nobody to notify).
bare="-u VEXIL_RESOURCES -u DISPLAY -u WAYLAND_DISPLAY -u VEXIL_BACKEND -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR"
app() { env $bare "$@"; }
for setting in VEXIL_UNUSED=1 DISPLAY=:917 WAYLAND_DISPLAY=wayland-0; do
  app "$setting" VEXIL_HOME="$work/nodisplay" "$prefix/bin/vexil" >"$work/out" 2>&1; rc=$?
  [ "$rc" -eq 1 ] || fail "without a display ($setting) vexil exits $rc"
  grep -q "Vexil cannot start: no X display" "$work/out" || fail "no line without a display ($setting): $(cat "$work/out")"
done

# One copy per home. A copy holds its lock when /proc/locks lists its pid.
holds_lock() {
  i=0
  until grep -q "FLOCK.* $1 " /proc/locks; do
    i=$((i + 1))
    kill -0 "$1" 2>/dev/null && [ "$i" -lt 400 ] || return 1
    sleep 0.05
  done
}
# env execs vexil, so $! is the program's own pid.
start_headless() {
  env $bare VEXIL_BACKEND=headless VEXIL_HOME="$work/one" "$prefix/bin/vexil" >"$work/$1.out" 2>&1 &
}
start_headless first; first=$!
if holds_lock "$first"; then
  app VEXIL_BACKEND=headless VEXIL_HOME="$work/one" "$prefix/bin/vexil" >"$work/out" 2>&1; rc=$?
  [ "$rc" -eq 0 ] || fail "a second copy exits $rc"
  grep -qx "Vexil is already running" "$work/out" || fail "a second copy says: $(cat "$work/out")"
  kill -0 "$first" 2>/dev/null || fail "the first copy ended when a second one started"
  # SIGHUP quits as SIGTERM does.
  kill -HUP "$first"; wait "$first"; rc=$?
  [ "$rc" -eq 0 ] || fail "SIGHUP ends vexil with status $rc"
else
  fail "the first headless copy never held its lock: $(cat "$work/first.out")"
  kill -KILL "$first" 2>/dev/null
fi
# A killed copy leaves nothing that blocks the next one.
start_headless killed; killed=$!
holds_lock "$killed" || fail "a headless copy never held its lock"
kill -KILL "$killed" 2>/dev/null; wait "$killed" 2>/dev/null
start_headless next; next=$!
holds_lock "$next" || fail "a copy after a killed one did not start: $(cat "$work/next.out")"
kill -TERM "$next" 2>/dev/null; wait "$next"; rc=$?
[ "$rc" -eq 0 ] || fail "SIGTERM ends vexil with status $rc"

# Desktop entries name the installed program and icon; man pages format cleanly.
for entry in share/applications/com.tarnwick.vexil.desktop \
    share/doc/vexil/examples/autostart/com.tarnwick.vexil.desktop; do
  grep -qx "Exec=vexil" "$prefix/$entry" || fail "$entry: no Exec=vexil"
  grep -qx "Icon=com.tarnwick.vexil" "$prefix/$entry" || fail "$entry: no Icon"
done
# The validators come with the test packages (tools/install-deps test); a
# missing one is a failure, not a skip.
for entry in share/applications/com.tarnwick.vexil.desktop \
    share/doc/vexil/examples/autostart/com.tarnwick.vexil.desktop; do
  out=$(desktop-file-validate "$prefix/$entry" 2>&1) || fail "$entry does not validate: $out"
done
out=$(appstreamcli validate --no-net "$prefix/share/metainfo/com.tarnwick.vexil.metainfo.xml" 2>&1) ||
  fail "metainfo does not validate: $out"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/com.tarnwick.vexil.metainfo.xml" ||
  fail "metainfo does not name release $version"
# Man pages: no warning at the default width nor at 80 columns, and the
# sections a packaged program's page has.
for page in vexil vexil-cloud-daemon; do
  for width in "" -rLL=78n -rLL=80n; do
    out=$(groff -man -Tutf8 -ww -z $width "$prefix/share/man/man1/$page.1" 2>&1) || fail "$page.1: groff failed"
    [ -z "$out" ] || fail "$page.1 ${width:-default width}: $out"
  done
  grep -q "$version" "$prefix/share/man/man1/$page.1" || fail "$page.1 does not carry the version"
done
for section in "EXIT STATUS" ENVIRONMENT FILES; do
  grep -qx ".SH $section" "$prefix/share/man/man1/vexil.1" || fail "vexil.1 has no $section"
done
for variable in VEXIL_HOME VEXIL_BACKEND VEXIL_CLOUD_URL VEXIL_CLOUD_USER VEXIL_RESOURCES DER_AVEDUR_DISABLE DISPLAY; do
  grep -qx ".B $variable" "$prefix/share/man/man1/vexil.1" || fail "vexil.1 does not list $variable"
done

[ "$failures" -eq 0 ] && echo "installed tree is complete"
[ "$failures" -eq 0 ]
