#!/bin/sh
# The installed tree holds what a shop's IT and a host program's developer
# look for, and none of it leans on the build tree.
set -u
prefix=$1 libdir=$2 build=$3 check_exports=$4 with_app=$5
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
need() { [ -e "$prefix/$1" ] || fail "missing $1"; }

programs="dncctl ncsim"
[ "$with_app" = 1 ] && programs="$programs dncpanel"

for p in $programs; do
    [ -x "$prefix/bin/$p" ] || { fail "missing bin/$p"; continue; }
    # An installed program must not look for libraries in the build tree.
    if readelf -d "$prefix/bin/$p" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
        fail "bin/$p keeps a run path into the build tree"
    fi
    need "share/man/man1/$p.1.gz"
    [ -e "$prefix/share/man/man1/$p.1.gz" ] && { gzip -t "$prefix/share/man/man1/$p.1.gz" || fail "$p.1.gz is not gzip"; }
done
for p in dncctl ncsim; do
    "$prefix/bin/$p" --help >/dev/null || fail "bin/$p --help failed"
done

lib=$prefix/$libdir
[ -f "$lib/libfilelink.so.1" ] || fail "missing $libdir/libfilelink.so.1"
[ -e "$lib/libfilelink.so" ] || fail "missing $libdir/libfilelink.so for linking"
soname=$(readelf -d "$lib/libfilelink.so.1" 2>/dev/null | sed -n 's/.*Library soname: \[\(.*\)\].*/\1/p')
[ "$soname" = libfilelink.so.1 ] || fail "SONAME is '$soname', not libfilelink.so.1"
"$check_exports" "$lib/libfilelink.so.1" >/dev/null || fail "installed library exports more or less than its six names"

need include/filelink/filelink.h
need include/filelink/uart_callbacks.h
need "$libdir/cmake/filelink/filelink-config.cmake"
need "$libdir/cmake/filelink/filelink-config-version.cmake"
need "$libdir/cmake/filelink/filelink-targets.cmake"

# The pkg-config file points at this prefix's headers and library, wherever
# the tree was installed.
need "$libdir/pkgconfig/filelink.pc"
flags=$(PKG_CONFIG_PATH="$lib/pkgconfig" PKG_CONFIG_LIBDIR="$lib/pkgconfig" pkg-config --cflags --libs filelink) ||
    fail "pkg-config does not know filelink"
incdir=$(echo "$flags" | tr ' ' '\n' | sed -n 's/^-I//p')
pclibdir=$(echo "$flags" | tr ' ' '\n' | sed -n 's/^-L//p')
[ -f "$incdir/filelink.h" ] || fail "pkg-config's -I '$incdir' holds no filelink.h"
[ -e "$pclibdir/libfilelink.so" ] || fail "pkg-config's -L '$pclibdir' holds no libfilelink.so"
echo "$flags" | grep -q -- '-lfilelink' || fail "pkg-config's libs lack -lfilelink: $flags"

if [ "$with_app" = 1 ]; then
    desktop=$prefix/share/applications/dncpanel.desktop
    need share/applications/dncpanel.desktop
    if [ -f "$desktop" ]; then
        exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
        icon=$(sed -n 's/^Icon=//p' "$desktop")
        [ -x "$prefix/bin/$exec_name" ] || fail "the desktop entry starts '$exec_name', not an installed program"
        need "share/icons/hicolor/scalable/apps/$icon.svg"
        need "share/icons/hicolor/48x48/apps/$icon.png"
    fi
fi

[ "$failures" -eq 0 ] || exit 1
echo "install layout ok under $prefix"
