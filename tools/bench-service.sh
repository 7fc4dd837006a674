#!/usr/bin/env bash
# Events per second through the service's whole path beside a bare named pipe,
# connections per second (hello, status, close), and the service's memory per
# queued event, in a fresh Wine prefix.
#   bench-service.sh [BUILD_DIR] [EVENTS] [QUEUED]
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/x64}" && pwd)"
cmake --build "$build" --target ServicePathBenchmark -j2 >/dev/null
QUENVAR_BIN="$build/bin" "$root/tools/wine-run.sh" --template "$build/wine-template" \
  "$build/bin/ServicePathBenchmark.exe" "${2:-10000}" "${3:-6000}"
