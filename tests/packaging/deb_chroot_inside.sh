#!/bin/bash
# Inside the chroot deb_chroot_test.sh made: the program's package alone, run headless; the
# desktop package, run on an X display; the udev rules on fake devices; the maintainer scripts;
# remove and purge. Exit 1 on any failure, 77 when the mirror cannot be reached.
# Usage (inside): deb_chroot_inside.sh /tmp/PACKAGE.deb /tmp/DESKTOP.deb DEBIAN_VERSION PROGRAM_VERSION
set -u
# It changes the system it runs on (users, udevadm, /sys, /run/udev): only in our chroot.
[ -e /etc/package-test-chroot ] || { echo "runs only inside the test chroot" >&2; exit 1; }
deb=$1 desktop_deb=$2 version=$3 program_version=$4
export DEBIAN_FRONTEND=noninteractive
. "$(dirname "$0")/checks.sh"

if ! apt-get update -q >/tmp/apt-update.log 2>&1; then
    tail -5 /tmp/apt-update.log
    echo "the Debian mirror cannot be reached: skipped"
    exit 77
fi

# A udevadm that only notes its calls (the real one stays for "udevadm test"), in the real one's
# place because maintainer scripts need not see our PATH. They must leave it alone while udev
# does not run (no /run/udev/control), as here.
mv /usr/bin/udevadm /usr/bin/udevadm.real
printf '#!/bin/sh\necho "$*" >>/tmp/udevadm.log\n' >/usr/bin/udevadm
chmod 755 /usr/bin/udevadm

# apt-get pulls the dependencies; not the recommended font, which a minimal installation skips.
install_package() {  # install_package PACKAGE.deb NAME
    apt-get install -y -q --no-install-recommends "$1" >/tmp/apt-install.log 2>&1 ||
        { tail -20 /tmp/apt-install.log; echo "FAIL apt-get install $1"; exit 1; }
    check "apt-get installed $2 $version" \
        test "$(dpkg-query -W -f='${Status} ${Version}' "$2")" = "install ok installed $version"
}
installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]; }
not_installed() { ! installed "$1"; }

# --- the program alone, as on a machine without a desktop ---
install_package "$deb" ovra7server
for package in libqt6core6 qt6-qpa-plugins libxcb1; do
    check "the program alone brought no $package" not_installed "$package"
done
# The copyright files, the changelog and the man page are lintian's to find in the packages.
for path in systemd/user/ovra7server-headless.service udev/rules.d/70-ovra7server.rules; do
    check "installed /usr/lib/$path" test -s "/usr/lib/$path"
done
check "the user unit is installed, not enabled" \
    test ! -e /etc/systemd/user/default.target.wants/ovra7server-headless.service
check "the man page carries the version" \
    sh -c "zcat /usr/share/man/man1/ovra7server.1.gz | grep -q 'ovra7server $program_version'"
check "ovra7server --version prints the program's version" \
    test "$(ovra7server --version)" = "ovra7server $program_version"
check "the postinst did nothing where udev does not run" test ! -e /tmp/udevadm.log

# --- run as an ordinary user, as a session starts it ---
useradd -m -s /bin/bash reader-user
home=/home/reader-user
runtime=$home/run
install -d -m 0700 -o reader-user -g reader-user "$runtime"
# setpriv and env execute the program, so $! of a start is the program's own process.
as_user=(setpriv --reuid=reader-user --regid=reader-user --init-groups
         env HOME="$home" XDG_RUNTIME_DIR="$runtime")
start_it() {  # start_it [VAR=VALUE] ovra7server [OPTION]
    "${as_user[@]}" "$@" >/tmp/program.out 2>/tmp/program.err &
    pid=$!
    check "$* listens on its control socket" wait_for 20 test -S "$runtime/ovra7server.sock"
}
stop_it() {
    kill -TERM "$pid"
    wait "$pid"
    local code=$?
    check "SIGTERM ends it with exit 0 (got $code)" test "$code" -eq 0
    check "its control socket is gone" test ! -e "$runtime/ovra7server.sock"
    [ "$failures" -eq 0 ] || { echo "ovra7server said:"; tail -20 /tmp/program.err; }
}
loaded() { grep -q "$1" "/proc/$pid/maps"; }
not_loaded() { ! loaded "$1"; }
# No reader here: the instance answers -1, a failed command (exit 1), not a missing one (exit 3).
control_status() {
    "${as_user[@]}" ovra7server --control status >/tmp/status.out
    [ $? -eq 1 ] && [ "$(cat /tmp/status.out)" = "-1" ]
}
start_it ovra7server --headless
check "--control status gets an answer from it (-1, exit 1: no reader)" wait_for 10 control_status
check "--headless has loaded no Qt library" not_loaded libQt6
stop_it

# --- started for the desktop on an X display (Xvfb stands in) ---
check "Xvfb and xwininfo for the desktop start" \
    sh -c 'apt-get install -y -q --no-install-recommends xvfb x11-utils >/tmp/apt-x.log 2>&1'
Xvfb :7 -screen 0 1366x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
xvfb=$!
check "Xvfb answers on :7" wait_for 20 test -S /tmp/.X11-unix/X7
# Without the desktop package it runs headless, though a display answers, and says why once.
start_it DISPLAY=:7 ovra7server
check "without the desktop package: headless, with one line saying why" \
    test "$(grep -c 'running headless' /tmp/program.err)" -eq 1
check "without the desktop package: no Qt library loaded" not_loaded libQt6
stop_it

install_package "$desktop_deb" ovra7server-desktop
check "Qt's platform plugins came with it (qt6-qpa-plugins)" installed qt6-qpa-plugins
for path in applications/ovra7server.desktop icons/hicolor/scalable/apps/ovra7server.svg \
        icons/hicolor/{16x16,32x32,48x48}/apps/ovra7server.png; do
    check "installed /usr/share/$path" test -s "/usr/share/$path"
done
start_it DISPLAY=:7 ovra7server
check "it has loaded its installed Qt module" loaded /usr/lib/ovra7server/ovra7server-qt.so
check "and Qt Widgets" loaded libQt6Widgets
check "it has not fallen back to headless" sh -c "! grep -q 'running headless' /tmp/program.err"
check "it talks to the X display through Qt's xcb platform" loaded libqxcb.so
# xwininfo prints a title in the locale's character set: UTF-8, whatever this shell was given.
main_window_exists() { DISPLAY=:7 LC_ALL=C.UTF-8 xwininfo -root -tree | grep -q '"读卡器设置"'; }
check "its window 读卡器设置 exists on the display" wait_for 20 main_window_exists
stop_it
kill -TERM "$xvfb"
wait "$xvfb" 2>/dev/null

# --- the udev rules, as udevadm test applies them to fake devices (no sysfs is mounted here).
# uaccess for the user at the seat; plugdev, 0660 for the others (serial ports are dialout's by
# Debian's own rules); ModemManager told to leave the reader's serial ports alone. "-": not ours.
# A row with ids is a USB device; one without, a tty or hidraw node below one.
devices="
1-3 0425:8159                                   no  -   -   reader 0425:8159 in serial mode
1-3/1-3:1.0/tty/ttyACM0                        - yes -   yes reader 0425:8159 serial port
1-3/1-3:1.2/0003:0425:8159.0001/hidraw/hidraw0 - yes yes -   reader 0425:8159 HID interface
1-4 0400:c35a                                   -   -   -   reader 0400:c35a USB device
1-4/1-4:1.0/tty/ttyUSB0                        - yes -   yes reader 0400:c35a serial port
1-5 0483:a19b                                   no  -   -   reader 0483:a19b USB device as a whole
1-5/1-5:1.0/0003:0483:A19B.0002/hidraw/hidraw1 - yes yes -   reader 0483:a19b HID interface
1-6 0483:df11                                   yes yes -   DFU-mode device 0483:df11
1-9 1234:5678                                   no  no  -   another USB device
1-9/1-9:1.0/tty/ttyACM1                        - no  -   no  another device's serial port
1-9/1-9:1.1/0003:1234:5678.0003/hidraw/hidraw2 - no  no  -   another device's HID interface"
pci=/sys/devices/pci0000:00/0000:00:14.0/usb1
mkdir -p /sys/bus/usb/devices /sys/class/tty /sys/class/hidraw
while read -r device ids _; do
    d=$pci/$device name=${device##*/} class=${device%/*}
    mkdir -p "$d"
    if [ "$ids" != - ]; then
        echo "${ids%:*}" >"$d/idVendor"
        echo "${ids#*:}" >"$d/idProduct"
        printf 'MAJOR=189\nMINOR=%d\nDEVNAME=bus/usb/001/%03d\nDEVTYPE=usb_device\n' \
            "${device#1-}" "${device#1-}" >"$d/uevent"
        ln -sfn /sys/bus/usb "$d/subsystem"
        ln -sfn "$d" "/sys/bus/usb/devices/$device"
    else
        case $name in ttyACM*) major=166 ;; ttyUSB*) major=188 ;; *) major=240 ;; esac
        printf 'MAJOR=%d\nMINOR=%d\nDEVNAME=%s\n' "$major" "${name//[a-zA-Z]/}" "$name" >"$d/uevent"
        ln -sfn "/sys/class/${class##*/}" "$d/subsystem"
    fi
done <<<"${devices#?}"

plugdev=$(getent group plugdev | cut -d: -f3)
check "the group plugdev exists" test -n "$plugdev"
last_set() { sed -n "s/.*rules:[0-9]* $1 \([0-9]*\)\$/\1/p" <<<"$out" | tail -n 1; }
while read -r device _ uaccess in_plugdev mm_ignores what <&3; do
    out=$(SYSTEMD_DEVICE_VERIFY_SYSFS=0 /usr/bin/udevadm.real test --action=add "$pci/$device" 2>&1)
    # Our file is named only for its assignments of GROUP and MODE, and for errors.
    errors=$(grep '70-ovra7server\.rules:' <<<"$out" | grep -v -E 'rules:[0-9]+ (GROUP|MODE) [0-9]+$')
    check "udevadm reads our rules for $what without an error $errors" test -z "$errors"
    tags=$(sed -n 's/^TAGS=//p' <<<"$out")
    got=no
    [[ $tags == *:uaccess:* ]] && got=yes
    [[ $tags == *uaccess* && $got == no ]] && got="a mangled tag: $tags"
    [ "$uaccess" = - ] || check "$what: uaccess $uaccess (got $got)" test "$got" = "$uaccess"
    got=no
    [ "$(last_set GROUP)" = "$plugdev" ] && got=yes
    [ "$in_plugdev" = yes ] && [ "$(last_set MODE)" != 0660 ] && got="mode $(last_set MODE)"
    [ "$in_plugdev" = - ] || check "$what: plugdev, 0660 $in_plugdev (got $got)" \
        test "$got" = "$in_plugdev"
    got=no
    grep -qx 'ID_MM_DEVICE_IGNORE=1' <<<"$out" && got=yes
    [ "$mm_ignores" = - ] || check "$what: ModemManager leaves it alone $mm_ignores" \
        test "$got" = "$mm_ignores"
done 3<<<"${devices#?}"

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
check "apt-get remove" sh -c 'apt-get remove -y -q ovra7server >/tmp/apt-remove.log 2>&1'
check "the desktop package went with the program" not_installed ovra7server-desktop
check "postrm reloads the rules where udev runs" grep -qx 'control --reload-rules' /tmp/udevadm.log
check "apt-get purge, and dpkg forgot the packages" \
    sh -c 'apt-get purge -y -q ovra7server ovra7server-desktop >/tmp/apt-purge.log 2>&1 &&
           ! dpkg-query -W ovra7server >/dev/null 2>&1 &&
           ! dpkg-query -W ovra7server-desktop >/dev/null 2>&1'
left=$(find /usr /etc /var/lib/dpkg/info -name '*ovra7*' 2>/dev/null)
check "nothing of the package is left${left:+: $left}" test -z "$left"

[ "$failures" -eq 0 ]
