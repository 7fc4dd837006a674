#!/usr/bin/env bash
# Sets everything up and runs the system end to end under Wine: the setup
# program installs the stand-in driver, the protection service and the
# user-interface program; a scripted sequence of access events is fed through
# the driver, the prompts are answered, screenshots are taken (build/demo-shots)
# and what the driver received is printed.
#   demo.sh [--tier x64|i686] [SCENARIO_FILE]
# --tier i686 runs the product's own 32-bit build in a win32 prefix under
# 32-bit Wine; the default is the x86_64 build under wine64.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
tier=x64
if [ "${1:-}" = --tier ]; then
  tier="${2:-}"
  shift 2 || true
fi
case "$tier" in
  x64) arch=win64 ;;
  i686) arch=win32 ;;
  *) echo "usage: $0 [--tier x64|i686] [SCENARIO_FILE]" >&2; exit 2 ;;
esac
scenario="$(cd "$(dirname "${1:-$root/tools/demo-events.txt}")" && pwd)/$(basename "${1:-$root/tools/demo-events.txt}")"
"$root/tools/setup.sh"
QUENVAR_BUILD_TIERS="$tier" "$root/tools/build.sh" >/dev/null
shots="$root/build/demo-shots"
mkdir -p "$shots"
exec "$root/tools/wine-run.sh" --arch "$arch" --template "$root/build/$tier/wine-template" --unix \
  bash "$root/tools/demo-inside-wine.sh" "$root/build/$tier/bin" "$scenario" "$shots"
