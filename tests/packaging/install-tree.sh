#!/bin/sh
# Installs the build into a scratch prefix and checks the tree and its programs.
#   install-tree.sh <cmake> <build directory> <version>
cmake="$1"; build="$2"; version="$3"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
prefix="$work/stage/usr"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }

for f in bin/vexil bin/vexil-cloud-daemon \
    share/vexil/Info.plist share/vexil/formats.json \
    share/applications/com.tarnwick.vexil.desktop \
    share/icons/hicolor/scalable/apps/com.tarnwick.vexil.svg \
    share/doc/vexil/examples/autostart/com.tarnwick.vexil.desktop \
    share/man/man1/vexil.1 share/man/man1/vexil-cloud-daemon.1; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
[ -x "$prefix/bin/vexil" ] || fail "bin/vexil is not executable"

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

# Desktop entries name the installed program and icon; man pages format cleanly.
for entry in share/applications/com.tarnwick.vexil.desktop \
    share/doc/vexil/examples/autostart/com.tarnwick.vexil.desktop; do
  grep -qx "Exec=vexil" "$prefix/$entry" || fail "$entry: no Exec=vexil"
  grep -qx "Icon=com.tarnwick.vexil" "$prefix/$entry" || fail "$entry: no Icon"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/com.tarnwick.vexil.desktop" || fail "desktop entry does not validate"
fi
if command -v groff >/dev/null; then
  for page in vexil vexil-cloud-daemon; do
    out=$(groff -man -Tutf8 -ww -Wbreak -z "$prefix/share/man/man1/$page.1" 2>&1)
    [ -z "$out" ] || fail "$page.1: $out"
    grep -q "$version" "$prefix/share/man/man1/$page.1" || fail "$page.1 does not carry the version"
  done
fi

[ "$failures" -eq 0 ] && echo "installed tree is complete"
[ "$failures" -eq 0 ]
