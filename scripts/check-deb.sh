#!/usr/bin/env bash
# The package's install check, as CI runs it: builds the package, installs it
# with dpkg -i into an empty root and runs the programs from there, then installs
# it on this system through apt, so that its dependencies must resolve and its
# post-install step runs, and removes it again.
set -euo pipefail
cd "$(dirname "$0")/.."

deb=$(scripts/build-deb.sh | tail -n 1)
echo "== installing $deb into an empty root"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
# The empty root holds none of the libraries; the programs use this system's.
dpkg --root="$root" --force-depends --force-script-chrootless --log=/dev/null -i "$deb"
for f in usr/bin/vantrell usr/bin/vantrell-rig usr/bin/vantrell-line-report \
         usr/share/applications/vantrell.desktop usr/share/metainfo/io.github.vantrell.Vantrell.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/vantrell.svg usr/share/icons/hicolor/48x48/apps/vantrell.png \
         usr/lib/udev/rules.d/60-vantrell-ftdi.rules usr/share/doc/vantrell/copyright \
         usr/share/man/man1/vantrell.1.gz usr/share/man/man1/vantrell-rig.1.gz \
         usr/share/man/man1/vantrell-cli.1.gz usr/bin/vantrell-cli; do
    [ -e "$root/$f" ] || { echo "check-deb: the package has no /$f" >&2; exit 1; }
done
for program in vantrell vantrell-rig vantrell-line-report vantrell-cli; do
    "$root/usr/bin/$program" --version
    "$root/usr/bin/$program" --help >/dev/null
done

echo "== installing $deb on this system"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
had=$(dpkg-query -W -f='${Status}' vantrell 2>/dev/null | grep -c "install ok installed" || true)
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "./$deb"
/usr/bin/vantrell-rig --help >/dev/null
/usr/bin/vantrell --version
/usr/bin/vantrell-cli --help >/dev/null
if [ "$had" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq vantrell
fi
echo "== package check passed: $deb"
