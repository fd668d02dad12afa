#!/usr/bin/env bash
# Builds the Debian package, vantrell_<version>_<arch>.deb, from a committed tree
# and checks it with lintian. Usage: scripts/build-deb.sh [VERSION]
# VERSION, when given, must be the one in CMakeLists.txt's project(); the
# package is written to build-deb/ (or $BUILD_DIR) and its path printed last.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "build-deb: $*" >&2; exit 1; }

version=$(sed -n 's/^project(Vantrell VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt's project(... VERSION ...)"
if [ $# -gt 0 ] && [ "$1" != "$version" ]; then
    fail "version $1 does not match project(Vantrell VERSION $version) in CMakeLists.txt"
fi
changelog=$(sed -n '1s/^vantrell (\([^)]*\)).*/\1/p' packaging/changelog)
[ "$changelog" = "$version" ] ||
    fail "packaging/changelog starts with version '$changelog', not $version: add an entry for $version"
grep -q "<release version=\"$version\"" packaging/io.github.vantrell.Vantrell.metainfo.xml ||
    fail "packaging/io.github.vantrell.Vantrell.metainfo.xml has no <release version=\"$version\">"
if ! git diff --quiet HEAD -- 2>/dev/null || [ -n "$(git ls-files --others --exclude-standard)" ]; then
    git status --short >&2
    fail "the tree has uncommitted changes (above); a package is built from committed sources only"
fi

scripts/setup.sh
missing=()
for p in help2man lintian dpkg-dev fakeroot; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

build=${BUILD_DIR:-build-deb}
rm -rf "$build"
# Debian's compiler and linker flags, hardening included, as a distribution build uses.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS" LDFLAGS=$(dpkg-buildflags --get LDFLAGS) \
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=None -DVANTRELL_TESTS=OFF -DVANTRELL_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)
deb="$build/vantrell_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "cpack wrote no $deb"

# Errors fail the build; warnings and notes are listed for the record.
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors in $deb"
echo "$deb"
