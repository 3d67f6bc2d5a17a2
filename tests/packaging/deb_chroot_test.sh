#!/bin/bash
# The Debian packages in a fresh Debian 12 chroot (deb_chroot_inside.sh runs there), made once
# by debootstrap and kept as a tarball in $OVRA7_CACHE_DIR (default ~/.cache/ovra7), from the
# mirror this machine's apt uses ($OVRA7_DEBIAN_MIRROR overrides). Exit 77 (skipped), saying
# why, before anything is downloaded: without root, debootstrap, chroot, /proc or the mirror.
# Usage: deb_chroot_test.sh PACKAGE.deb DESKTOP_PACKAGE.deb DEBIAN_VERSION PROGRAM_VERSION
set -euo pipefail
deb=$(realpath "$1")
desktop_deb=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "$1: skipped"; exit 77; }

if [ "$(id -u)" -ne 0 ] || ! command -v debootstrap >/dev/null || ! command -v chroot >/dev/null; then
    skip "needs root, debootstrap and chroot"
fi
# The first bookworm mirror in this machine's apt sources (deb822 or one-line form).
host_mirror() {
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '/^URIs:/ {uri = $2}
        /^Suites:/ && / bookworm( |$)/ && uri !~ /security/ {print uri; exit}'
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk '$1 == "deb" && $3 == "bookworm" {print $2; exit}'
}
mirror=${OVRA7_DEBIAN_MIRROR:-$(host_mirror | head -n 1 || true)}
[ -n "$mirror" ] || skip "no Debian 12 mirror in apt's sources (set OVRA7_DEBIAN_MIRROR)"
curl -fs --max-time 20 -o /dev/null "${mirror%/}/dists/bookworm/Release" ||
    skip "the Debian mirror $mirror cannot be reached"

# A mount namespace of our own where the kernel gives one (not in a container or a chroot): its
# /proc goes with it, however this script ends. Elsewhere the trap unmounts it.
isolate=()
if unshare --mount --propagation private true 2>/dev/null; then
    isolate=(unshare --mount --propagation private --fork)
fi
probe=$(mktemp -d "${TMPDIR:-/tmp}/ovra7-proc.XXXXXX")
mount -t proc proc "$probe" 2>/dev/null || { rmdir "$probe"; skip "cannot mount /proc here"; }
umount "$probe"
rmdir "$probe"

cache=${OVRA7_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/ovra7}
tarball=$cache/debian12-minbase-udev.tar.gz
mkdir -p "$cache"
work=$(mktemp -d "${TMPDIR:-/tmp}/ovra7-chroot.XXXXXX")
root=$work/root
# /proc first, should it still be mounted: rm must not walk into it. errexit holds in the trap
# too, so an umount that finds nothing mounted must not decide the exit status.
trap 'umount "$root/proc" 2>/dev/null || true; rm -rf --one-file-system "$work"' EXIT

# One run at a time makes the tarball; the others wait and use it.
exec 9>"$cache/debian12.lock"
flock 9
if [ ! -s "$tarball" ]; then
    echo "making the Debian 12 chroot once (debootstrap from $mirror)"
    if ! debootstrap --variant=minbase --include=udev bookworm "$root" "$mirror" \
            >"$work/debootstrap.log" 2>&1; then
        tail -5 "$work/debootstrap.log"
        skip "debootstrap failed"
    fi
    tar -C "$root" -czf "$tarball.part" . && mv "$tarball.part" "$tarball"
    rm -rf "$root"
fi
flock -u 9

mkdir -p "$root"
tar -C "$root" -xzf "$tarball"
touch "$root/etc/package-test-chroot"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The machine's own sources (updates and security as well) where they are Debian 12's.
if grep -qs 'bookworm' /etc/apt/sources.list.d/*.sources; then
    rm -f "$root/etc/apt/sources.list"
    grep -ls 'bookworm' /etc/apt/sources.list.d/*.sources | xargs cp -t "$root/etc/apt/sources.list.d/"
fi
cp "$deb" "$desktop_deb" "$here/deb_chroot_inside.sh" "$here/checks.sh" "$root/tmp/"

"${isolate[@]}" bash -c '
    mount -t proc proc "$1/proc" || exit 1
    chroot "$1" /bin/bash /tmp/deb_chroot_inside.sh "$2" "$3" "$4" "$5"
    status=$?
    umount "$1/proc" 2>/dev/null || true
    exit $status
' _ "$root" "/tmp/$(basename "$deb")" "/tmp/$(basename "$desktop_deb")" "$3" "$4"
