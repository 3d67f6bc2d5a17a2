#!/bin/bash
# Makes the two Debian packages from the build (CPack, as "--target package" does) and checks
# them as Debian would: lintian has nothing to say (every info tag included); the control fields
# an installation relies on (the program's package without Qt or X, the desktop package on top); the installed program's hardening, read from its ELF headers and from
# the compile commands (stack clash protection leaves no mark in the binary); its debug
# symbols in the dbgsym package; the AppStream data. lintian and appstreamcli come with the
# README's set-up (scripts/install-deps.sh): without them this fails instead of passing
# unchecked.
# Usage: deb_package_test.sh BUILD_DIR PACKAGE.deb DESKTOP_PACKAGE.deb DEBIAN_VERSION
set -uo pipefail
build=$1
deb=$2
desktop_deb=$3
version=$4
# name_version_arch.deb -> name-dbgsym_version_arch.ddeb
ddeb_of() { echo "$(dirname "$1")/$(basename "$1" .deb | sed 's/_/-dbgsym_/').ddeb"; }
ddeb=$(ddeb_of "$deb")
desktop_ddeb=$(ddeb_of "$desktop_deb")
failures=0

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
holds() { grep -q -- "$2" <<<"$1"; }  # holds TEXT PATTERN
lacks() { ! grep -q -- "$2" <<<"$1"; }

for tool in lintian appstreamcli readelf dpkg-deb python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL $tool is not installed (scripts/install-deps.sh installs it)"
        exit 1
    fi
done

rm -f "$deb" "$ddeb" "$desktop_deb" "$desktop_ddeb"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake >/dev/null)
for made in "$deb" "$desktop_deb"; do
    test -s "$made" || { echo "FAIL cpack made no $made"; exit 1; }
    echo "ok   cpack made $(basename "$made")"
done

# --- control fields ---
field() { dpkg-deb -f "$deb" "$1"; }
desktop_field() { dpkg-deb -f "$desktop_deb" "$1"; }
check "Package names: ovra7server and ovra7server-desktop" \
    test "$(field Package) $(desktop_field Package)" = "ovra7server ovra7server-desktop"
for package in "$deb" "$desktop_deb"; do
    name=$(dpkg-deb -f "$package" Package)
    check "$name: Version is $version (with the Debian revision)" \
        test "$(dpkg-deb -f "$package" Version)" = "$version"
    check "$name: Architecture is dpkg's" \
        test "$(dpkg-deb -f "$package" Architecture)" = "$(dpkg --print-architecture)"
    for name_field in Maintainer Homepage; do
        value=$(dpkg-deb -f "$package" $name_field)
        check "$name: $name_field is set ($value)" holds "$value" '\.[a-z][a-z]*[/>]'
        check "$name: $name_field is no reserved address" lacks "$value" '\.invalid'
    done
done
# The program's package serves a machine without a desktop: nothing of Qt or X.
depends=", $(field Depends),"
check "ovra7server Depends: what dpkg-shlibdeps found (libc6) ($depends)" \
    holds "$depends" ', libc6 (>= '
check "ovra7server Depends: no Qt, no X" lacks "$depends" 'qt6\|libx\|libX'
check "ovra7server: no Recommends or Suggests" test -z "$(field Recommends)$(field Suggests)"
desktop_depends=", $(desktop_field Depends),"
check "ovra7server-desktop Depends: the program of the same version ($desktop_depends)" \
    holds "$desktop_depends" ", ovra7server (= $version)[ ,]"
check "ovra7server-desktop Depends: qt6-qpa-plugins, which Qt loads at run time" \
    holds "$desktop_depends" ', qt6-qpa-plugins[ ,]'
check "ovra7server-desktop Depends: what dpkg-shlibdeps found (libqt6widgets6)" \
    holds "$desktop_depends" ', libqt6widgets6 (>= '
check "ovra7server-desktop Recommends: a CJK font ($(desktop_field Recommends))" \
    test "$(desktop_field Recommends)" = "fonts-noto-cjk | fonts-wqy-microhei"
check "ovra7server-desktop Suggests: the GNOME tray extension and Qt's Wayland platform" \
    test "$(desktop_field Suggests)" = "gnome-shell-extension-appindicator, qt6-wayland"

# --- lintian; as root it says so on stderr, its findings go to stdout ---
for package in "$deb" "$desktop_deb"; do
    if lintian --fail-on error,warning,info --display-info "$package" 2>/dev/null; then
        echo "ok   lintian has nothing to say on $(basename "$package")"
    else
        echo "FAIL lintian on $(basename "$package") (above)"
        failures=$((failures + 1))
    fi
done

# --- the installed program ---
root=$(mktemp -d "${TMPDIR:-/tmp}/ovra7-deb.XXXXXX")
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root/deb"
check "the program's package holds no Qt module" test ! -e "$root/deb/usr/lib/ovra7server"
dpkg-deb -x "$desktop_deb" "$root/deb"
bin=$root/deb/usr/bin/ovra7server
headers=$(LC_ALL=C readelf -hlW "$bin")
dynamic=$(LC_ALL=C readelf -dW "$bin")
symbols=$(LC_ALL=C readelf --dyn-syms -W "$bin")
sections=$(LC_ALL=C readelf -SW "$bin")
notes=$(LC_ALL=C readelf -nW "$bin")
check "position independent (PIE)" holds "$headers" 'Type: *DYN'
check "marked PIE for the loader" holds "$dynamic" 'FLAGS_1.*PIE'
check "read-only relocations (RELRO)" holds "$headers" 'GNU_RELRO'
check "bound at start (BIND_NOW)" holds "$dynamic" 'BIND_NOW\|FLAGS_1.* NOW'
check "no executable stack" holds "$headers" 'GNU_STACK.* RW  '
check "stack protector (__stack_chk_fail)" holds "$symbols" ' __stack_chk_fail'
check "fortified calls (__*_chk)" holds "$symbols" ' __[a-z_]*_chk'
# Stack clash protection leaves no mark in a binary, and the program as a whole carries the
# control-flow protection mark (IBT, SHSTK) only when every object linked in has it, which
# Debian 12's own C start-up files do not. So: every compile of ours had every flag, and every
# object it made carries the mark where the machine has CET.
check "every compile of the program had the hardening flags" python3 - "$build" <<'PY'
import json, os, re, subprocess, sys
wanted = ("-fstack-protector-strong", "-fstack-clash-protection", "-fcf-protection",
          "-D_FORTIFY_SOURCE=2")
entries = [e for e in json.load(open(os.path.join(sys.argv[1], "compile_commands.json")))
           if "/src/" in e["file"]]
flagless, unmarked = [], []
cet = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                     text=True).stdout.strip() in ("amd64", "i386")
for e in entries:
    words = e["command"].split()
    if not all(w in words for w in wanted):
        flagless.append(e["file"])
    out = re.search(r" -o (\S+)", e["command"])
    if cet and out:
        notes = subprocess.run(["readelf", "-nW", os.path.join(e["directory"], out.group(1))],
                               capture_output=True, text=True, env=dict(os.environ, LC_ALL="C"))
        if "x86 feature: IBT, SHSTK" not in notes.stdout:
            unmarked.append(out.group(1))
print("  %d compiles of src/; without every flag: %s; objects without the IBT/SHSTK mark: %s" %
      (len(entries), flagless[:3], unmarked[:3]))
sys.exit(0 if entries and not flagless and not unmarked else 1)
PY
check "stripped of debug information" lacks "$sections" '\.debug_info'

# --- the Qt module: the program itself links no Qt, so a headless start loads none ---
module=$root/deb/usr/lib/ovra7server/ovra7server-qt.so
check "the program links no Qt library" lacks "$dynamic" 'NEEDED.*libQt6'
check "the program exports its symbols for the module (ui::GetBackend)" \
    holds "$(LC_ALL=C readelf --dyn-syms -W -C "$bin")" ' ui::GetBackend()'
check "the Qt module is installed ($module)" test -s "$module"
if [ -s "$module" ]; then
    module_dynamic=$(LC_ALL=C readelf -dW "$module")
    check "the module links Qt Widgets" holds "$module_dynamic" 'NEEDED.*libQt6Widgets'
    check "the module is bound at start (BIND_NOW)" holds "$module_dynamic" 'BIND_NOW\|FLAGS.* NOW'
    check "the module has read-only relocations (RELRO)" \
        holds "$(LC_ALL=C readelf -lW "$module")" 'GNU_RELRO'
    check "the module has its entry point" \
        holds "$(LC_ALL=C readelf --dyn-syms -W "$module")" ' ovra7_qt_module_open_v1$'
    check "the module is stripped of debug information" \
        lacks "$(LC_ALL=C readelf -SW "$module")" '\.debug_info'
    module_id=$(LC_ALL=C readelf -nW "$module" | sed -n 's/.*Build ID: *\([0-9a-f]*\).*/\1/p')
    if test -n "$module_id" && test -s "$desktop_ddeb" && dpkg-deb -x "$desktop_ddeb" "$root/ddeb"; then
        check "the desktop dbgsym package holds the module's debug symbols" holds \
            "$(LC_ALL=C readelf -SW "$root/ddeb/usr/lib/debug/.build-id/${module_id:0:2}/${module_id:2}.debug" 2>&1)" \
            '\.debug_info'
    else
        check "cpack made $(basename "$desktop_ddeb") and the module has a build id" false
    fi
fi
check "with a link to its debug file" holds "$sections" '\.gnu_debuglink'
check "without the compilers' .comment" lacks "$sections" ' \.comment '
build_id=$(sed -n 's/.*Build ID: *\([0-9a-f]*\).*/\1/p' <<<"$notes")
check "the program has a build id" test -n "$build_id"
if test -s "$ddeb" && dpkg-deb -x "$ddeb" "$root/ddeb"; then
    debug_file=$root/ddeb/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug
    check "the dbgsym package holds the debug symbols of this build ($build_id)" \
        holds "$(LC_ALL=C readelf -SW "$debug_file" 2>&1)" '\.debug_info'
else
    check "cpack made the dbgsym package $(basename "$ddeb")" false
fi

# --- AppStream ---
metainfo=$(find "$root/deb/usr/share/metainfo" -name '*.metainfo.xml' 2>/dev/null)
check "AppStream data installed ($metainfo)" test -n "$metainfo"
if [ -n "$metainfo" ]; then
    check "appstreamcli validates it" appstreamcli validate --no-net --pedantic "$metainfo"
fi

[ "$failures" -eq 0 ]
