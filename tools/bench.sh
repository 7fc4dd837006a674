#!/usr/bin/env bash
# The event path stage by stage, in one sitting: three repetitions, taken in
# turn, of the service benchmark (driver loop alone, cross-process pipe alone,
# the service path, memory per queued event) and of the decision benchmark
# (the whole system with QuenvarUI and remembered rights); then the median of
# each figure and the ratios between medians.
#   bench.sh [BUILD_DIR] [REPEATS]
# QUENVAR_BIN, when set, names another folder of built programs to measure.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/x64}" && pwd)"
repeats="${2:-3}"
cmake --build "$build" --target ServicePathBenchmark DecisionBenchmark -j2 >/dev/null
figures="$(mktemp)"
trap 'rm -f "$figures"' EXIT

for run in $(seq "$repeats"); do
  echo "== run $run: service benchmark"
  QUENVAR_BIN="${QUENVAR_BIN:-$build/bin}" "$root/tools/wine-run.sh" --template "$build/wine-template" \
    "$build/bin/ServicePathBenchmark.exe" | tr -d '\r' | tee -a "$figures" | grep -v '^figure '
  echo "== run $run: decision benchmark"
  QUENVAR_BIN="${QUENVAR_BIN:-$build/bin}" "$root/tools/wine-run.sh" --template "$build/wine-template" \
    "$build/bin/DecisionBenchmark.exe" | tr -d '\r' | tee -a "$figures" | grep -v '^figure '
done

median() {
  local values
  values="$(awk -v n="$1" '$1 == "figure" && $2 == n { print $3 }' "$figures" | sort -g)"
  [ -n "$values" ] || { echo 0; return; }
  echo "$values" | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}
all() { awk -v n="$1" '$1 == "figure" && $2 == n { printf "%s%.0f", (k++ ? ", " : ""), $3 }' "$figures"; }

pipe="$(median pipe)"; driver="$(median driver)"; fetch="$(median fetch_us)"; reply="$(median reply_us)"
service="$(median service)"; decisions="$(median decisions)"; memory="$(median memory_per_event)"
# The bound from the medians of the stages, as each run computes it.
bound="$(awk -v p="$pipe" -v f="$fetch" -v r="$reply" 'BEGIN { w = 1e6 / p + r; s = (f > w ? f : w); print 1e6 / s }')"
serial="$(awk -v p="$pipe" -v f="$fetch" -v r="$reply" 'BEGIN { print 1e6 / (f + 1e6 / p + r) }')"
echo
echo "== medians of $repeats alternated runs"
printf 'bare pipe ping-pong, two processes:  %8.0f round trips/s  (runs: %s)\n' "$pipe" "$(all pipe)"
printf 'bare driver loop, no service:        %8.0f events/s       (runs: %s); fetch %.0f us, reply %.0f us\n' \
  "$driver" "$(all driver)" "$fetch" "$reply"
printf 'service path bound:                  %8.0f events/s       = 1e6 / max(fetch, 1e6/pipe + reply) us\n' "$bound"
printf 'stages one after another:            %8.0f events/s       = 1e6 / (fetch + 1e6/pipe + reply) us\n' "$serial"
printf 'service path:                        %8.0f events/s       (runs: %s)\n' "$service" "$(all service)"
printf 'decisions, remembered rights:        %8.0f decisions/s    (runs: %s)\n' "$decisions" "$(all decisions)"
printf 'memory per queued event:             %8.0f bytes          (runs: %s)\n' "$memory" "$(all memory_per_event)"
awk -v s="$service" -v b="$bound" -v q="$serial" -v d="$decisions" 'BEGIN {
  printf "ratio service path / bound:          %8.2f  (goal 0.8)\n", s / b
  printf "ratio service path / stages in turn: %8.2f\n", s / q
  printf "ratio decisions / service path:      %8.2f  (goal 0.8)\n", d / s }'
