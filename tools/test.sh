#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs the tests of both
# tiers under Wine: x86_64 (build/x64) under wine64, every test; i686
# (build/i686, the product's bitness) under 32-bit Wine in win32 prefixes, the
# tests labelled i686 (see tests/CMakeLists.txt).
#   test.sh [--tier x64|i686|both] [CTEST_ARGS...]
# CTEST_ARGS go to ctest in each tier, e.g. -R ServiceTests.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
tier=both
if [ "${1:-}" = --tier ]; then
  tier="${2:-}"
  shift 2 || true
fi
case "$tier" in
  x64|i686|both) ;;
  *) echo "usage: $0 [--tier x64|i686|both] [CTEST_ARGS...]" >&2; exit 2 ;;
esac
"$root/tools/setup.sh"
QUENVAR_BUILD_TIERS="$([ "$tier" = both ] && echo "i686 x64" || echo "$tier")" "$root/tools/build.sh"

status=0
run_tier() {
  local name="$1" start rc
  shift
  start=$(date +%s)
  echo "== tier $name"
  (cd "$root/build/$name" && ctest --output-on-failure -j"${QUENVAR_JOBS:-2}" "$@") && rc=0 || rc=$?
  echo "== tier $name: $([ "$rc" = 0 ] && echo passed || echo FAILED) in $(($(date +%s) - start)) s"
  [ "$rc" = 0 ] || status=1
}
# The product's own bitness first: its faults are the ones that ship.
[ "$tier" = x64 ] || run_tier i686 -L '^i686$' "$@"
[ "$tier" = i686 ] || run_tier x64 "$@"
exit $status
