#!/usr/bin/env bash
# Installs the Debian package with apt on a clean Debian 12 (a minimal bookworm system made with
# debootstrap, in a chroot), runs the example suite there through /usr/bin/tarvinrunner, then removes
# the package and checks that it took its links along. Needs root and the network (Debian's mirror).
# Usage: scripts/check-package.sh [build dir]
#   TARVIN_BOOKWORM_CACHE  where the pristine system is kept between runs (default: build dir/bookworm)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
pristine=${TARVIN_BOOKWORM_CACHE:-$build/bookworm}

# A chroot needs root and the right to mount; a container without them cannot make the clean system.
probe=$(mktemp -d)
if [[ $(id -u) -ne 0 ]] || ! mount -t tmpfs none "$probe" 2>/dev/null; then
    rmdir "$probe"
    echo "check-package: skipped: making a clean Debian 12 in a chroot needs root with the right to mount" >&2
    exit 0
fi
umount "$probe" && rmdir "$probe"

if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi
if [[ ! -e $pristine/.complete ]]; then
    echo "== a minimal Debian 12 in $pristine"
    rm -rf "$pristine"
    debootstrap --variant=minbase bookworm "$pristine" "$mirror" >"$build/debootstrap.log" 2>&1 \
        || { tail -20 "$build/debootstrap.log"; exit 1; }
    touch "$pristine/.complete"
fi

work=$(mktemp -d)
system=$work/system
cleanup() {
    for mount in proc dev/pts dev; do
        mountpoint -q "$system/$mount" 2>/dev/null && umount -l "$system/$mount"
    done
    rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null 2>&1)
deb=$(ls "$work"/package/*.deb)
echo "== $(basename "$deb") on a clean Debian 12"
cp -a "$pristine" "$system"
mount -t proc proc "$system/proc"
mount --bind /dev "$system/dev"
mount --bind /dev/pts "$system/dev/pts"
cp /etc/resolv.conf "$system/etc/resolv.conf"
cp "$deb" "$system/tmp/"
in_system() { chroot "$system" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

in_system apt-get update -qq
in_system env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "/tmp/$(basename "$deb")" >"$work/apt.log" 2>&1 || { tail -30 "$work/apt.log"; exit 1; }
echo "installed with $(grep -c '^Setting up' "$work/apt.log") packages set up"

# The suite as a user runs it: the program on PATH, a results directory of their own.
in_system mkdir -p /root/run
in_system sh -c 'cd /root/run && tarvinrunner --no-color --junit report.xml /opt/tarvintcl/share/tarvintcl/examples/suite' \
    | grep -E '^(Summary|Scenarios)'
grep -q '<testsuites' "$system/root/run/report.xml"
if grep -q '<failure\|<error' "$system/root/run/report.xml"; then
    echo "the example suite failed on the clean system"
    exit 1
fi

in_system env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tarvintcl >/dev/null
for program in tarvinrunner tarvinlaunch; do
    if [[ -e $system/usr/bin/$program || -L $system/usr/bin/$program ]]; then
        echo "/usr/bin/$program is left after the package was removed"
        exit 1
    fi
done
echo "package: installs, runs the example suite and removes cleanly on Debian 12"
