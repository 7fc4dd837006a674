#!/usr/bin/env bash
# Configures and builds both targets, tests included: build/i686 (the product,
# warnings are errors; its tests run under 32-bit Wine) and build/x64 (its
# tests run under wine64). QUENVAR_BUILD_TIERS="i686" or "x64" builds one.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${QUENVAR_JOBS:-2}"
launcher=()
if command -v ccache >/dev/null; then
  # Paths below the checkout count as relative, so another clone shares the cache.
  export CCACHE_BASEDIR="$root"
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
for tier in ${QUENVAR_BUILD_TIERS:-i686 x64}; do
  target="$([ "$tier" = x64 ] && echo x86_64 || echo i686)"
  dir="$root/build/$tier"
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$target.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUENVAR_TESTS=ON "${launcher[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
done
