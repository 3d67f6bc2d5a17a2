#!/bin/bash
# Makes the two Debian packages from the build (CPack, as "--target package" does) and checks
# them as Debian would: lintian, the control fields, the hardening of the program and its Qt
# module (ELF headers, compile commands), their debug symbols in the dbgsym packages, the
# AppStream data. Without lintian or appstreamcli (scripts/install-deps.sh) it fails.
# Usage: deb_package_test.sh BUILD_DIR PACKAGE.deb DESKTOP_PACKAGE.deb DEBIAN_VERSION
set -uo pipefail
build=$1 deb=$2 desktop_deb=$3 version=$4
. "$(dirname "$0")/checks.sh"

for tool in lintian appstreamcli readelf dpkg-deb python3; do
    command -v "$tool" >/dev/null || { echo "FAIL $tool is not installed"; exit 1; }
done
# name_version_arch.deb -> name-dbgsym_version_arch.ddeb
ddeb_of() { echo "$(dirname "$1")/$(basename "$1" .deb | sed 's/_/-dbgsym_/').ddeb"; }
ddeb=$(ddeb_of "$deb")
desktop_ddeb=$(ddeb_of "$desktop_deb")
rm -f "$deb" "$ddeb" "$desktop_deb" "$desktop_ddeb"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake >/dev/null)
for made in "$deb" "$desktop_deb" "$ddeb" "$desktop_ddeb"; do
    test -s "$made" || { echo "FAIL cpack made no $made"; exit 1; }
done

# --- control fields: the program's package serves a machine without a desktop (no Qt, no X);
# the desktop package brings what Qt loads at run time. "has" looks in ", VALUE,". ---
arch=$(dpkg --print-architecture)
while read -r which name how pattern; do
    package=$deb
    [ "$which" = desktop ] && package=$desktop_deb
    value=$(dpkg-deb -f "$package" "$name")
    case $how in
        =) check "$which $name is '$pattern' (got '$value')" test "$value" = "$pattern" ;;
        *) check "$which $name $how $pattern ($value)" $how ", $value," "$pattern" ;;
    esac
done <<EOF
program Package = ovra7server
desktop Package = ovra7server-desktop
program Version = $version
desktop Version = $version
program Architecture = $arch
desktop Architecture = $arch
program Maintainer holds \.[a-z][a-z]*[/>]
program Homepage holds \.[a-z][a-z]*[/>]
desktop Maintainer holds \.[a-z][a-z]*[/>]
desktop Homepage holds \.[a-z][a-z]*[/>]
program Maintainer lacks \.invalid
program Homepage lacks \.invalid
desktop Maintainer lacks \.invalid
desktop Homepage lacks \.invalid
program Depends holds , libc6 (>=
program Depends lacks qt6\|libx\|libX
program Recommends =
program Suggests =
desktop Depends holds , ovra7server (= $version)[ ,]
desktop Depends holds , qt6-qpa-plugins[ ,]
desktop Depends holds , libqt6widgets6 (>=
desktop Recommends = fonts-noto-cjk | fonts-wqy-microhei
desktop Suggests = gnome-shell-extension-appindicator, qt6-wayland
EOF

# --- lintian; as root it says so on stderr, its findings go to stdout. Among them: a missing
# copyright file, changelog or man page, a binary or module left unstripped, or linked without
# RELRO, BIND_NOW (FLAGS_1 NOW) or PIE. ---
for package in "$deb" "$desktop_deb"; do
    check "lintian has nothing to say on $(basename "$package") (above)" \
        lintian --fail-on error,warning,info --display-info "$package" 2>/dev/null
done

# --- the program and its Qt module as installed ---
root=$(mktemp -d "${TMPDIR:-/tmp}/ovra7-deb.XXXXXX")
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root/deb"
check "the program's package holds no Qt module" test ! -e "$root/deb/usr/lib/ovra7server"
dpkg-deb -x "$desktop_deb" "$root/deb"
dpkg-deb -x "$ddeb" "$root/ddeb"
dpkg-deb -x "$desktop_ddeb" "$root/ddeb"
bin=$root/deb/usr/bin/ovra7server
module=$root/deb/usr/lib/ovra7server/ovra7server-qt.so
elf_expect() {  # elf_expect FILE NAME: lines "READELF-OPTIONS;holds|lacks;PATTERN;what" on stdin
    local options how pattern what
    while IFS=';' read -r options how pattern what; do
        # shellcheck disable=SC2086  # options are words
        check "$2: $what" $how "$(LC_ALL=C readelf $options -W "$1" 2>&1)" "$pattern"
    done
}
elf_expect "$bin" "the program" <<'EOF'
-d;holds;FLAGS_1.*PIE;marked PIE for the loader
-hl;holds;GNU_STACK.* RW  ;no executable stack
--dyn-syms;holds; __stack_chk_fail;stack protector (__stack_chk_fail)
--dyn-syms;holds; __[a-z_]*_chk;fortified calls (__*_chk)
-S;holds;\.gnu_debuglink;with a link to its debug file
-S;lacks; \.comment ;without the compilers' .comment
-d;lacks;NEEDED.*libQt6;links no Qt library, so a headless start loads none
--dyn-syms -C;holds; ui::GetBackend();exports its symbols for the module (ui::GetBackend)
EOF
elf_expect "$module" "the Qt module" <<'EOF'
-d;holds;NEEDED.*libQt6Widgets;links Qt Widgets
--dyn-syms;holds; ovra7_qt_module_open_v1$;has its entry point
EOF
debug_symbols() {  # debug_symbols FILE: the dbgsym packages hold its debug file, by build id
    local id
    id=$(LC_ALL=C readelf -nW "$1" | sed -n 's/.*Build ID: *\([0-9a-f]*\).*/\1/p')
    [ -n "$id" ] && LC_ALL=C readelf -SW "$root/ddeb/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" \
        2>/dev/null | grep -q '\.debug_info'
}
check "the dbgsym package holds the program's debug symbols" debug_symbols "$bin"
check "the desktop dbgsym package holds the module's debug symbols" debug_symbols "$module"
# The program carries the control-flow protection mark (IBT, SHSTK) only when every object
# linked in has it, which Debian 12's own C start-up files do not. So: every compile of ours
# had every flag, and every object it made carries the mark where the machine has CET.
check "every compile of the program had the hardening flags" python3 - "$build" "$arch" <<'PY'
import json, os, re, subprocess, sys
wanted = ("-fstack-protector-strong", "-fstack-clash-protection", "-fcf-protection",
          "-D_FORTIFY_SOURCE=2")
entries = [e for e in json.load(open(os.path.join(sys.argv[1], "compile_commands.json")))
           if "/src/" in e["file"]]
flagless = [e["file"] for e in entries if not all(w in e["command"].split() for w in wanted)]
unmarked = []
for e in entries if sys.argv[2] in ("amd64", "i386") else []:
    out = re.search(r" -o (\S+)", e["command"])
    notes = subprocess.run(["readelf", "-nW", os.path.join(e["directory"], out.group(1))],
                           capture_output=True, text=True, env=dict(os.environ, LC_ALL="C"))
    if "x86 feature: IBT, SHSTK" not in notes.stdout:
        unmarked.append(out.group(1))
print("  %d compiles of src/; without every flag: %s; objects without the IBT/SHSTK mark: %s" %
      (len(entries), flagless[:3], unmarked[:3]))
sys.exit(0 if entries and not flagless and not unmarked else 1)
PY

# --- AppStream ---
metainfo=$(find "$root/deb/usr/share/metainfo" -name '*.metainfo.xml' 2>/dev/null)
check "AppStream data installed ($metainfo)" test -n "$metainfo"
[ -z "$metainfo" ] || check "appstreamcli validates it" \
    appstreamcli validate --no-net --pedantic "$metainfo"

[ "$failures" -eq 0 ]
