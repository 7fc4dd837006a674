#!/usr/bin/env bash
# Decisions per second through the whole system (driver, service, QuenvarUI with
# remembered rights) beside a bare named-pipe ping-pong, in a fresh Wine prefix.
#   bench-decisions.sh [BUILD_DIR] [EVENTS]
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/x64}" && pwd)"
cmake --build "$build" --target DecisionBenchmark -j2 >/dev/null
QUENVAR_BIN="$build/bin" "$root/tools/wine-run.sh" --template "$build/wine-template" \
  "$build/bin/DecisionBenchmark.exe" "${2:-5000}"
