#!/bin/bash
# The Debian packages as a user meets them, in a fresh Debian 12 chroot: deb_chroot_inside.sh
# installs the program's alone with apt-get (which pulls its dependencies) and runs it headless,
# then the desktop package and runs the program with its window module, checks the udev
# rules with udevadm on fake devices and the maintainer scripts, then removes and purges it.
#
# The chroot (debootstrap minbase + udev) is made once and kept as a tarball in the cache
# folder ($OVRA7_CACHE_DIR, default ~/.cache/ovra7), so a rerun downloads only the package's
# dependencies. The mirror is the one this machine's apt uses ($OVRA7_DEBIAN_MIRROR overrides).
# Exit 77 (skipped), with one line saying why, without root, debootstrap or chroot, when /proc
# cannot be mounted, or when the mirror cannot be reached: each found out before anything is
# downloaded. Inside a chroot or a container, where / is no mount point and a private mount
# namespace is refused, /proc is mounted for the test chroot and unmounted by this script.
# Usage: deb_chroot_test.sh PACKAGE.deb DESKTOP_PACKAGE.deb DEBIAN_VERSION PROGRAM_VERSION
set -euo pipefail
deb=$(realpath "$1")
desktop_deb=$(realpath "$2")
version=$3
program_version=$4
here=$(cd "$(dirname "$0")" && pwd)

if [ "$(id -u)" -ne 0 ] || ! command -v debootstrap >/dev/null || ! command -v chroot >/dev/null; then
    echo "needs root, debootstrap and chroot: skipped"
    exit 77
fi

# The first bookworm mirror in this machine's apt sources (deb822 or one-line form).
host_mirror() {
    local file
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -r "$file" ] || continue
        awk '/^URIs:/ {uri = $2} /^Suites:/ && / bookworm( |$)/ && uri !~ /security/ {print uri; exit}' "$file"
    done
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -r "$file" ] || continue
        awk '$1 == "deb" && $3 == "bookworm" {print $2; exit}' "$file"
    done
}
mirror=${OVRA7_DEBIAN_MIRROR:-$(host_mirror | head -n 1)}
if [ -z "$mirror" ]; then
    echo "no Debian 12 mirror in this machine's apt sources (set OVRA7_DEBIAN_MIRROR): skipped"
    exit 77
fi

# The mirror answers, before a minute goes into debootstrap.
if ! curl -fs --max-time 20 -o /dev/null "${mirror%/}/dists/bookworm/Release"; then
    echo "the Debian mirror $mirror cannot be reached: skipped"
    exit 77
fi

# A mount namespace of our own where the kernel gives one: its /proc goes with it, however this
# script ends. Where it is refused (/ is no mount point in a chroot), /proc is mounted directly
# and unmounted on exit; a mount that fails even so means this machine cannot run the test.
if unshare --mount --propagation private true 2>/dev/null; then
    isolate=(unshare --mount --propagation private --fork)
else
    isolate=()
fi
probe=$(mktemp -d "${TMPDIR:-/tmp}/ovra7-proc.XXXXXX")
if ! mount -t proc proc "$probe" 2>/dev/null; then
    rmdir "$probe"
    echo "cannot mount /proc for a chroot here (no CAP_SYS_ADMIN?): skipped"
    exit 77
fi
umount "$probe"
rmdir "$probe"

cache=${OVRA7_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/ovra7}
tarball=$cache/debian12-minbase-udev.tar.gz
mkdir -p "$cache"
work=$(mktemp -d "${TMPDIR:-/tmp}/ovra7-chroot.XXXXXX")
# /proc first, should it still be mounted: rm must not walk into it. errexit holds inside the
# trap too, so the umount that finds nothing mounted must not decide the exit status.
trap 'umount "$work/root/proc" 2>/dev/null || true; rm -rf --one-file-system "$work"' EXIT

# One run at a time makes the tarball; the others wait and use it.
exec 9>"$cache/debian12.lock"
flock 9
if [ ! -s "$tarball" ]; then
    echo "making the Debian 12 chroot once (debootstrap from $mirror)"
    if ! debootstrap --variant=minbase --include=udev bookworm "$work/root" "$mirror" \
            >"$work/debootstrap.log" 2>&1; then
        tail -5 "$work/debootstrap.log"
        echo "debootstrap failed (no mirror?): skipped"
        exit 77
    fi
    tar -C "$work/root" -czf "$tarball.part" . && mv "$tarball.part" "$tarball"
    rm -rf "$work/root"
fi
flock -u 9

root=$work/root
mkdir -p "$root"
tar -C "$root" -xzf "$tarball"
touch "$root/etc/package-test-chroot"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The machine's own sources (updates and security as well) where they are Debian 12's.
if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1 &&
        grep -qs 'bookworm' /etc/apt/sources.list.d/*.sources; then
    rm -f "$root/etc/apt/sources.list"
    for file in /etc/apt/sources.list.d/*.sources; do
        grep -qs 'bookworm' "$file" && cp "$file" "$root/etc/apt/sources.list.d/"
    done
fi
cp "$deb" "$desktop_deb" "$root/tmp/"
cp "$here/deb_chroot_inside.sh" "$root/tmp/"

"${isolate[@]}" bash -c '
    mount -t proc proc "$1/proc" || exit 1
    chroot "$1" /bin/bash /tmp/deb_chroot_inside.sh "$2" "$3" "$4" "$5"
    status=$?
    umount "$1/proc" 2>/dev/null || true
    exit $status
' _ "$root" "/tmp/$(basename "$deb")" "/tmp/$(basename "$desktop_deb")" "$version" "$program_version"
