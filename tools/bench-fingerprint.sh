#!/usr/bin/env bash
# Compares the throughput of Fingerprint (run under wine64) with sha1sum on the
# same file, and checks that both give the same digest.
#   bench-fingerprint.sh [BUILD_DIR] [SIZE_MB] [REPEATS]
# BUILD_DIR is an x86_64 build (default build/x64); the file is SIZE_MB
# megabytes (default 256, at least 256) in /tmp and is removed afterwards.
# Both sides read the file from the page cache; the best of REPEATS runs
# (default 3) counts for each.
set -eu

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/x64}" && pwd)"
size_mb="${2:-256}"
repeats="${3:-3}"
[ "$size_mb" -ge 256 ] || { echo "size must be at least 256 MB" >&2; exit 2; }

cmake --build "$build" --target FingerprintBenchmark -j1 >/dev/null
bench="$build/bin/FingerprintBenchmark.exe"
[ -x "$bench" ] || { echo "no $bench" >&2; exit 1; }

file="$(mktemp /tmp/quenvar-fingerprint-bench.XXXXXX)"
trap 'rm -f "$file"' EXIT
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$file"
bytes="$(stat -c %s "$file")"

best_sha1sum=0
expected=""
for _ in $(seq "$repeats"); do
  start="$(date +%s.%N)"
  expected="$(sha1sum "$file" | cut -d' ' -f1)"
  end="$(date +%s.%N)"
  rate="$(awk -v b="$bytes" -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", b / 1e6 / (e - s) }')"
  echo "sha1sum run: $rate MB/s"
  best_sha1sum="$(awk -v a="$best_sha1sum" -v b="$rate" 'BEGIN { print (b > a ? b : a) }')"
done

winpath="Z:$(echo "$file" | tr '/' '\\')"
output="$("$root/tools/wine-run.sh" --template "$build/wine-template" "$bench" "$winpath" "$repeats")"
echo "$output" | grep '^run' | sed 's/^/fingerprint /'
best_fingerprint="$(echo "$output" | sed -n 's/^best \([0-9.]*\) MB\/s.*/\1/p')"
digest="$(echo "$output" | sed -n 's/^sha1 \([0-9a-f]*\).*/\1/p')"

echo "file:        $bytes bytes"
echo "sha1sum:     $best_sha1sum MB/s"
echo "fingerprint: $best_fingerprint MB/s"
echo "ratio:       $(awk -v f="$best_fingerprint" -v s="$best_sha1sum" 'BEGIN { printf "%.2f", f / s }') (fingerprint / sha1sum)"
if [ "$digest" != "$expected" ]; then
  echo "DIGEST MISMATCH: sha1sum $expected, fingerprint gives $digest" >&2
  exit 1
fi
echo "digests agree: $digest"
