#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test under Wine.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/setup.sh"
"$root/tools/build.sh"
cd "$root/build/x64"
ctest --output-on-failure -j"${QUENVAR_JOBS:-2}" "$@"
