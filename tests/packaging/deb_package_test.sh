#!/bin/bash
# Makes the Debian package from the build (CPack, as "--target package" does) and holds it to
# lintian: no error or warning, and every info tag either gone or explained in the package's
# lintian overrides. Usage: deb_package_test.sh BUILD_DIR PACKAGE.deb
set -euo pipefail
build=$1
deb=$2
rm -f "$deb"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake >/dev/null)
test -s "$deb" || { echo "FAIL cpack made no $deb"; exit 1; }
echo "ok   cpack made $(basename "$deb")"
if ! command -v lintian >/dev/null; then
    echo "lintian not installed: not checked"
    exit 0
fi
# As root lintian says so on stderr; its findings go to stdout.
if lintian --fail-on error,warning,info --display-info "$deb" 2>/dev/null; then
    echo "ok   lintian has nothing to say"
else
    echo "FAIL lintian (above)"
    exit 1
fi
