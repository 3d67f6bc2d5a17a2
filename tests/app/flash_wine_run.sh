#!/bin/sh
# Runs the wine flashing suite with its artifacts folder (as a Windows path) and turns the
# screenshots it saves into PNG files next to the other suites' screenshots.
# Usage: flash_wine_run.sh ARTIFACTS_DIR COMMAND [ARGS...]
set -u
artifacts=$1
shift
mkdir -p "$artifacts"
rm -f "$artifacts"/flash-download.* "$artifacts"/flash-end.*
# Wine's drive Z: is the Unix root.
OVRA7_ARTIFACTS="Z:$(printf '%s' "$artifacts" | tr '/' '\\')"
export OVRA7_ARTIFACTS
"$@"
rc=$?
for shot in "$artifacts"/flash-download.bmp "$artifacts"/flash-end.bmp; do
  if [ -f "$shot" ]; then
    convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
  fi
done
exit $rc
