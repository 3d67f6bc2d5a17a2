#!/bin/bash
# Runs inside the fresh Debian 12 chroot that deb_chroot_test.sh prepared: installs the program's
# package alone as a user would and runs it headless, then the desktop package and runs the
# program with its Qt module, checks the udev rules and the maintainer scripts, removes
# and purges it. Prints "ok"/"FAIL" per check; exit 1 on any failure, 77 when the mirror cannot
# be reached (nothing about the package was tried then).
# Usage (inside): deb_chroot_inside.sh /tmp/PACKAGE.deb /tmp/DESKTOP.deb DEBIAN_VERSION PROGRAM_VERSION
set -u
# It changes the system it runs on (users, udevadm, /sys, /run/udev): only in our chroot.
if [ ! -e /etc/package-test-chroot ]; then
    echo "deb_chroot_inside.sh runs only inside the test chroot" >&2
    exit 1
fi
deb=$1
desktop_deb=$2
version=$3
program_version=$4
failures=0
export DEBIAN_FRONTEND=noninteractive

check() {  # check "what" command...
    local what=$1
    shift
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        failures=$((failures + 1))
    fi
}

# Waits up to $1 seconds for a command to succeed.
wait_for() {
    local tenths=$(($1 * 10))
    shift
    while ! "$@"; do
        tenths=$((tenths - 1))
        [ "$tenths" -gt 0 ] || return 1
        sleep 0.1
    done
}

if ! apt-get update -q >/tmp/apt-update.log 2>&1; then
    tail -5 /tmp/apt-update.log
    echo "the Debian mirror cannot be reached: skipped"
    exit 77
fi

# In place of udevadm, one that only notes its calls (the real one stays for "udevadm test"):
# the maintainer scripts must leave it alone while udev does not run (no /run/udev/control), as
# in this chroot. Put in its place because dpkg's maintainer scripts need not see our PATH.
mv /usr/bin/udevadm /usr/bin/udevadm.real
cat >/usr/bin/udevadm <<'EOF'
#!/bin/sh
echo "$*" >>/tmp/udevadm.log
EOF
chmod 755 /usr/bin/udevadm

# --- install: apt-get pulls the dependencies dpkg-shlibdeps computed and the ones named by
# hand; without the recommended font, which a minimal installation goes without. First the
# program alone, as on a machine without a desktop ---
install_package() {  # install_package PACKAGE.deb
    if apt-get install -y -q --no-install-recommends "$1" >/tmp/apt-install.log 2>&1; then
        echo "ok   apt-get install --no-install-recommends $(basename "$1")"
    else
        tail -20 /tmp/apt-install.log
        echo "FAIL apt-get install --no-install-recommends $(basename "$1")"
        exit 1
    fi
}
installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]; }
not_installed() { ! installed "$1"; }
install_package "$deb"
check "dpkg knows ovra7server $version" \
    test "$(dpkg-query -W -f='${Status} ${Version}' ovra7server)" = "install ok installed $version"
for package in libqt6core6 qt6-qpa-plugins libxcb1; do
    check "the program alone brought no $package" not_installed "$package"
done
for path in /usr/bin/ovra7server \
        /usr/share/man/man1/ovra7server.1.gz \
        /usr/lib/systemd/user/ovra7server-headless.service \
        /usr/lib/udev/rules.d/70-ovra7server.rules \
        /usr/share/doc/ovra7server/copyright /usr/share/doc/ovra7server/changelog.Debian.gz; do
    check "installed $path" test -s "$path"
done
check "no Qt module without the desktop package" test ! -e /usr/lib/ovra7server
check "the user unit is installed, not enabled" \
    test ! -e /etc/systemd/user/default.target.wants/ovra7server-headless.service
check "the man page carries the version" \
    sh -c "zcat /usr/share/man/man1/ovra7server.1.gz | grep -q 'ovra7server $program_version'"
check "ovra7server --version prints the program's version" \
    test "$(ovra7server --version)" = "ovra7server $program_version"
check "the postinst did nothing where udev does not run" test ! -e /tmp/udevadm.log

# --- a short headless start as an ordinary user ---
useradd -m -s /bin/bash reader-user
home=/home/reader-user
runtime=$home/run
install -d -m 0700 -o reader-user -g reader-user "$runtime"
as_user() {
    setpriv --reuid=reader-user --regid=reader-user --init-groups \
        env HOME="$home" XDG_RUNTIME_DIR="$runtime" "$@"
}
# Not through the function: setpriv and env execute the program, so $! is its own process.
setpriv --reuid=reader-user --regid=reader-user --init-groups \
    env HOME="$home" XDG_RUNTIME_DIR="$runtime" ovra7server --headless \
    >/tmp/headless.out 2>/tmp/headless.err &
pid=$!
check "--headless starts and listens on its control socket" \
    wait_for 20 test -S "$runtime/ovra7server.sock"
# No reader here: the instance answers -1, which is a failed command (exit 1), not a missing
# instance (exit 3).
control_status() {
    as_user ovra7server --control status >/tmp/status.out
    [ $? -eq 1 ] && [ "$(cat /tmp/status.out)" = "-1" ]
}
check "--control status gets an answer from it (-1, exit 1: no reader)" wait_for 10 control_status
check "--headless has loaded no Qt library" sh -c "! grep -q libQt6 /proc/$pid/maps"
kill -TERM "$pid"
wait "$pid"
code=$?
check "SIGTERM ends it with exit 0 (got $code)" test "$code" -eq 0
check "its control socket is gone" test ! -e "$runtime/ovra7server.sock"
if [ "$failures" -gt 0 ]; then
    echo "ovra7server said:"
    tail -20 /tmp/headless.err
fi

# --- started for the desktop on an X display, as a session starts it (Xvfb stands in) ---
check "Xvfb and xwininfo for the desktop start" \
    sh -c 'apt-get install -y -q --no-install-recommends xvfb x11-utils >/tmp/apt-x.log 2>&1'
Xvfb :7 -screen 0 1366x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
xvfb=$!
check "Xvfb answers on :7" wait_for 20 test -S /tmp/.X11-unix/X7
start_for_desktop() {
    setpriv --reuid=reader-user --regid=reader-user --init-groups \
        env HOME="$home" XDG_RUNTIME_DIR="$runtime" DISPLAY=:7 ovra7server \
        >/tmp/window.out 2>/tmp/window.err &
    pid=$!
    check "started for the desktop, it listens on its control socket" \
        wait_for 20 test -S "$runtime/ovra7server.sock"
}
stop_it() {
    kill -TERM "$pid"
    wait "$pid"
    code=$?
    check "SIGTERM ends it with exit 0 (got $code)" test "$code" -eq 0
    if [ "$failures" -gt 0 ]; then
        echo "ovra7server said:"
        tail -20 /tmp/window.err
    fi
}
# Without the desktop package it runs headless, though a display answers, and says why in one line.
start_for_desktop
check "without the desktop package: headless, with one line saying why" \
    test "$(grep -c 'running headless' /tmp/window.err)" -eq 1
check "without the desktop package: no Qt library loaded" sh -c "! grep -q libQt6 /proc/$pid/maps"
stop_it

install_package "$desktop_deb"
check "dpkg knows ovra7server-desktop $version" \
    test "$(dpkg-query -W -f='${Status} ${Version}' ovra7server-desktop)" = \
        "install ok installed $version"
check "Qt's platform plugins came with it (qt6-qpa-plugins)" installed qt6-qpa-plugins
for path in /usr/lib/ovra7server/ovra7server-qt.so /usr/share/applications/ovra7server.desktop \
        /usr/share/icons/hicolor/16x16/apps/ovra7server.png \
        /usr/share/icons/hicolor/32x32/apps/ovra7server.png \
        /usr/share/icons/hicolor/48x48/apps/ovra7server.png \
        /usr/share/icons/hicolor/scalable/apps/ovra7server.svg \
        /usr/share/doc/ovra7server-desktop/copyright; do
    check "installed $path" test -s "$path"
done
start_for_desktop
check "it has loaded its Qt module and Qt" sh -c "grep -q /usr/lib/ovra7server/ovra7server-qt.so \
    /proc/$pid/maps && grep -q libQt6Widgets /proc/$pid/maps"
check "it has not fallen back to headless" sh -c "! grep -q 'running headless' /tmp/window.err"
check "it talks to the X display through Qt's xcb platform" grep -q libqxcb.so /proc/$pid/maps
# xwininfo prints a title in the locale's character set: UTF-8, whatever this shell was given.
main_window_exists() { DISPLAY=:7 LC_ALL=C.UTF-8 xwininfo -root -tree | grep -q '"读卡器设置"'; }
check "its window 读卡器设置 exists on the display" wait_for 20 main_window_exists
stop_it
kill -TERM "$xvfb"
wait "$xvfb" 2>/dev/null

# --- the udev rules, checked by udevadm on fake devices (no sysfs is mounted here) ---
pci=/sys/devices/pci0000:00/0000:00:14.0/usb1
mkdir -p /sys/bus/usb/devices /sys/class/tty /sys/class/hidraw
usb_device() {  # usb_device PORT VID PID
    local d=$pci/$1
    mkdir -p "$d"
    echo "$2" >"$d/idVendor"
    echo "$3" >"$d/idProduct"
    printf 'MAJOR=189\nMINOR=%d\nDEVNAME=bus/usb/001/%03d\nDEVTYPE=usb_device\n' \
        "${1#1-}" "${1#1-}" >"$d/uevent"
    ln -sfn /sys/bus/usb "$d/subsystem"
    ln -sfn "$d" "/sys/bus/usb/devices/$1"
}
child() {  # child PATH SUBSYSTEM MAJOR MINOR NAME
    mkdir -p "$1"
    printf 'MAJOR=%d\nMINOR=%d\nDEVNAME=%s\n' "$3" "$4" "$5" >"$1/uevent"
    ln -sfn "/sys/class/$2" "$1/subsystem"
}
usb_device 1-3 0425 8159
child "$pci/1-3/1-3:1.0/tty/ttyACM0" tty 166 0 ttyACM0
child "$pci/1-3/1-3:1.2/0003:0425:8159.0001/hidraw/hidraw0" hidraw 240 0 hidraw0
usb_device 1-4 0400 c35a
child "$pci/1-4/1-4:1.0/tty/ttyUSB0" tty 188 0 ttyUSB0
usb_device 1-5 0483 a19b
child "$pci/1-5/1-5:1.0/0003:0483:A19B.0002/hidraw/hidraw1" hidraw 240 1 hidraw1
usb_device 1-6 0483 df11
usb_device 1-9 1234 5678
child "$pci/1-9/1-9:1.0/tty/ttyACM1" tty 166 1 ttyACM1
child "$pci/1-9/1-9:1.1/0003:1234:5678.0003/hidraw/hidraw2" hidraw 240 2 hidraw2

udev_test() {  # what udevadm test says of a device
    SYSTEMD_DEVICE_VERIFY_SYSFS=0 /usr/bin/udevadm.real test --action=add "$1" 2>&1
}
tags_of() {  # the TAGS udevadm test gives a device; rule errors make it fail
    local out
    out=$(udev_test "$1")
    # Our file is named only for its assignments of GROUP and MODE, and for errors.
    if grep '70-ovra7server\.rules:' <<<"$out" | grep -v -E 'rules:[0-9]+ (GROUP|MODE) [0-9]+$'; then
        echo "rule error"
        return
    fi
    sed -n 's/^TAGS=//p' <<<"$out"
}
# The group and mode the device node gets (the last rule that sets them wins).
group_of() { udev_test "$1" | sed -n 's/.*rules:[0-9]* GROUP \([0-9]*\)$/\1/p' | tail -n 1; }
mode_of() { udev_test "$1" | sed -n 's/.*rules:[0-9]* MODE \([0-7]*\)$/\1/p' | tail -n 1; }
plugdev=$(getent group plugdev | cut -d: -f3)
in_plugdev() { [ -n "$plugdev" ] && [ "$(group_of "$1")" = "$plugdev" ] && [ "$(mode_of "$1")" = 0660 ]; }
not_in_plugdev() { [ "$(group_of "$1")" != "$plugdev" ]; }
mm_ignores() { udev_test "$1" | grep -qx 'ID_MM_DEVICE_IGNORE=1'; }
has_uaccess() { [[ "$(tags_of "$1")" == *:uaccess:* ]]; }
lacks_uaccess() { [[ "$(tags_of "$1")" != *uaccess* && "$(tags_of "$1")" != "rule error" ]]; }
check "udevadm reads the rules without an error" \
    test "$(tags_of "$pci/1-9")" != "rule error"
check "uaccess: reader 0425:8159 serial port" has_uaccess "$pci/1-3/1-3:1.0/tty/ttyACM0"
check "uaccess: reader 0425:8159 HID interface" \
    has_uaccess "$pci/1-3/1-3:1.2/0003:0425:8159.0001/hidraw/hidraw0"
check "uaccess: reader 0400:c35a serial port" has_uaccess "$pci/1-4/1-4:1.0/tty/ttyUSB0"
check "uaccess: reader 0483:a19b HID interface" \
    has_uaccess "$pci/1-5/1-5:1.0/0003:0483:A19B.0002/hidraw/hidraw1"
check "uaccess: DFU-mode device 0483:df11" has_uaccess "$pci/1-6"
check "no uaccess: the reader's 0483:a19b as a whole (its HID interface, no DFU-mode device)" \
    lacks_uaccess "$pci/1-5"
# Users who are not at the seat: plugdev for the HID interface and the DFU-mode device
# (the serial ports are dialout's by Debian's own rules).
check "plugdev, 0660: reader 0425:8159 HID interface" \
    in_plugdev "$pci/1-3/1-3:1.2/0003:0425:8159.0001/hidraw/hidraw0"
check "plugdev, 0660: reader 0483:a19b HID interface" \
    in_plugdev "$pci/1-5/1-5:1.0/0003:0483:A19B.0002/hidraw/hidraw1"
check "plugdev, 0660: DFU-mode device 0483:df11" in_plugdev "$pci/1-6"
check "not plugdev: another USB device" not_in_plugdev "$pci/1-9"
check "not plugdev: another device's HID interface" \
    not_in_plugdev "$pci/1-9/1-9:1.1/0003:1234:5678.0003/hidraw/hidraw2"
check "ModemManager leaves the reader's serial port alone (0425:8159)" \
    mm_ignores "$pci/1-3/1-3:1.0/tty/ttyACM0"
check "ModemManager leaves the reader's serial port alone (0400:c35a)" \
    mm_ignores "$pci/1-4/1-4:1.0/tty/ttyUSB0"
check "ModemManager may probe another device's serial port" \
    sh -c "! SYSTEMD_DEVICE_VERIFY_SYSFS=0 /usr/bin/udevadm.real test --action=add \
        $pci/1-9/1-9:1.0/tty/ttyACM1 2>&1 | grep -qx ID_MM_DEVICE_IGNORE=1"
check "no uaccess: the reader's USB device in serial mode" lacks_uaccess "$pci/1-3"
check "no uaccess: another device's serial port" lacks_uaccess "$pci/1-9/1-9:1.0/tty/ttyACM1"
check "no uaccess: another device's HID interface" \
    lacks_uaccess "$pci/1-9/1-9:1.1/0003:1234:5678.0003/hidraw/hidraw2"
check "no uaccess: another USB device" lacks_uaccess "$pci/1-9"

# --- the postinst where udev runs: reload, then a trigger for each present reader device ---
mkdir -p /run/udev
perl -MSocket -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Type => SOCK_STREAM,
    Local => "/run/udev/control", Listen => 1) or die "socket: $!"'
/var/lib/dpkg/info/ovra7server.postinst configure
check "postinst reloads the rules where udev runs" grep -qx 'control --reload-rules' /tmp/udevadm.log
for port in 1-3 1-4 1-5 1-6; do
    check "postinst triggers the reader device $port" \
        grep -qx "trigger --action=change --parent-match=/sys/bus/usb/devices/$port" /tmp/udevadm.log
done
check "postinst leaves other devices alone" sh -c '! grep -q 1-9 /tmp/udevadm.log'
: >/tmp/udevadm.log

# --- remove and purge ---
check "apt-get remove (the desktop package goes with the program)" \
    sh -c 'apt-get remove -y -q ovra7server >/tmp/apt-remove.log 2>&1 && \
           ! dpkg-query -W -f="\${Status}" ovra7server-desktop | grep -q "ok installed"'
check "postrm reloads the rules where udev runs" grep -qx 'control --reload-rules' /tmp/udevadm.log
check "the program and its rules are gone" \
    sh -c '! test -e /usr/bin/ovra7server && ! test -e /usr/lib/udev/rules.d/70-ovra7server.rules'
check "apt-get purge" \
    sh -c 'apt-get purge -y -q ovra7server ovra7server-desktop >/tmp/apt-purge.log 2>&1'
check "dpkg forgot the packages" sh -c '! dpkg-query -W ovra7server >/dev/null 2>&1 &&
                                        ! dpkg-query -W ovra7server-desktop >/dev/null 2>&1'
left=$(find /usr /etc /var/lib/dpkg/info -name '*ovra7*' 2>/dev/null)
check "nothing of the package is left${left:+: $left}" test -z "$left"

[ "$failures" -eq 0 ]
