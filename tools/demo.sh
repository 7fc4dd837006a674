#!/usr/bin/env bash
# Sets everything up and runs the system end to end under Wine: the setup
# program installs the stand-in driver, the protection service and the
# user-interface program; a scripted sequence of access events is fed through
# the driver, the prompts are answered, screenshots are taken (build/demo-shots)
# and what the driver received is printed.
#   demo.sh [SCENARIO_FILE]
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
scenario="$(cd "$(dirname "${1:-$root/tools/demo-events.txt}")" && pwd)/$(basename "${1:-$root/tools/demo-events.txt}")"
"$root/tools/setup.sh"
"$root/tools/build.sh" >/dev/null
shots="$root/build/demo-shots"
mkdir -p "$shots"
exec "$root/tools/wine-run.sh" --template "$root/build/x64/wine-template" --unix \
  bash "$root/tools/demo-inside-wine.sh" "$root/build/x64/bin" "$scenario" "$shots"
