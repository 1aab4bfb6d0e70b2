#!/bin/sh
# Installs the build into a temporary prefix (with a space in its name, as a user's folder
# may have) and checks what a desktop finds there.
#   install_test.sh CMAKE BUILD_DIR
set -eu
cmake=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/my prefix"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "cmake --install"; }

for f in bin/tethrocam bin/tethrocam-info; do
  [ -x "$prefix/$f" ] || fail "$f is not installed as an executable"
done
if [ -f "$build/src/tools/tethrocam-remote" ] || grep -q tethrocam-remote "$build/build.ninja" 2>/dev/null; then
  [ -x "$prefix/bin/tethrocam-remote" ] || fail "bin/tethrocam-remote is not installed"
  [ -f "$prefix/share/man/man1/tethrocam-remote.1" ] || fail "the man page of tethrocam-remote is missing"
fi
for f in share/applications/com.larkspurworks.Tethrocam.desktop \
         share/icons/hicolor/scalable/apps/com.larkspurworks.Tethrocam.svg \
         share/doc/tethrocam/Tethrocam.htm \
         share/metainfo/com.larkspurworks.Tethrocam.metainfo.xml \
         share/man/man1/tethrocam.1 share/man/man1/tethrocam-info.1; do
  [ -s "$prefix/$f" ] || fail "$f is missing"
done

# The desktop entry starts the installed program, whatever the prefix is called.
desktop="$prefix/share/applications/com.larkspurworks.Tethrocam.desktop"
grep -qxF "Exec=\"$prefix/bin/tethrocam\"" "$desktop" || { cat "$desktop" >&2; fail "Exec does not name the installed program"; }
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$prefix/share/metainfo/com.larkspurworks.Tethrocam.metainfo.xml" || fail "appstreamcli validate"

# The man pages are well-formed enough for man to lay them out without complaint.
if command -v man >/dev/null 2>&1; then
  for page in "$prefix"/share/man/man1/*.1; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man $page"
    [ -z "$out" ] || { echo "$out" >&2; fail "man warns about $page"; }
  done
fi

# The installed program finds the installed help page (nothing lies beside it in bin/).
found=$("$prefix/bin/tethrocam" --help-file) || fail "the installed program does not find its help page"
[ "$found" = "$prefix/share/doc/tethrocam/Tethrocam.htm" ] || fail "help page found at $found"
echo "installed layout OK under $prefix"
