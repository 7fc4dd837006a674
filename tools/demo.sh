#!/usr/bin/env bash
# Sets everything up and runs the system end to end under Wine: the stand-in
# driver, the protection service and (once built) the user-interface program, fed
# with a scripted sequence of access events; prints what the driver received.
#   demo.sh [SCENARIO_FILE]
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
scenario="$(cd "$(dirname "${1:-$root/tools/demo-events.txt}")" && pwd)/$(basename "${1:-$root/tools/demo-events.txt}")"
"$root/tools/setup.sh"
"$root/tools/build.sh" >/dev/null
exec "$root/tools/wine-run.sh" --template "$root/build/x64/wine-template" --unix \
  bash "$root/tools/demo-inside-wine.sh" "$root/build/x64/bin" "$scenario"
