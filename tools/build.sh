#!/usr/bin/env bash
# Configures and builds both targets: build/i686 (the product, warnings are
# errors) and build/x64 (what the tests run under wine64).
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${QUENVAR_JOBS:-2}"
for target in i686 x86_64; do
  dir="$root/build/$([ "$target" = x86_64 ] && echo x64 || echo i686)"
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$target.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$dir" -j"$jobs"
done
