#!/bin/sh
# Builds the Debian package as it is shipped: the programs compiled and linked with Debian's
# hardening flags (dpkg-buildflags with hardening=+all: fortify, stack protector, relro, now),
# stripped, then packaged by cpack and checked by lintian when it is installed.
#
#   scripts/package.sh [BUILD_DIR]        (default BUILD_DIR: build-deb in the tree)
#
# Prints the package's path on the last line. Exits non-zero when lintian reports an error or
# a warning (information tags are shown; docs/INSTALL.md says why the remaining ones are fine).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build-deb"}
cd "$here"

# The files' dates in the package: SOURCE_DATE_EPOCH (cpack honours it) when set, else the last
# commit's date, so that two builds of one commit give the same package.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$here" log -1 --format=%ct 2>/dev/null || true)
    [ -n "$SOURCE_DATE_EPOCH" ] || SOURCE_DATE_EPOCH=$(stat -c %Y "$here/data/debian/changelog")
fi
export SOURCE_DATE_EPOCH

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

# Build type None: the flags above are all the flags. Only the packaged programs are built.
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DKALVOR_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j"$(nproc)" --target kalvor-tp zeda-sim
rm -f "$build"/kalvor-tp_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/kalvor-tp_*.deb)

if command -v lintian >/dev/null 2>&1; then
    lintian -i -I --pedantic --fail-on error,warning "$deb"
else
    echo "lintian is not installed: the package was not checked" >&2
fi
echo "$deb"
