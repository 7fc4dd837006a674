#!/usr/bin/env bash
# Calls that reach the wine server per remembered decision, by thread and by
# request: runs the decision benchmark with Wine's server trace switched on
# when QuenvarUI starts, and counts the requests made between the benchmark's
# two marker events (the timed decisions), divided by the events.
#   bench-calls.sh [BUILD_DIR] [EVENTS]
# BUILD_DIR is an x86_64 build (default build/x64); QUENVAR_BIN, when set,
# names another folder of built programs to measure.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/x64}" && pwd)"
events="${2:-300}"
cmake --build "$build" --target DecisionBenchmark -j2 >/dev/null
trace="$(mktemp)"
out="$(mktemp)"
trap 'rm -f "$trace" "$out"' EXIT
QUENVAR_BIN="${QUENVAR_BIN:-$build/bin}" "$root/tools/wine-run.sh" --template "$build/wine-template" \
  "$build/bin/DecisionBenchmark.exe" "$events" trace >"$out" 2>"$trace"
tr -d '\r' <"$out" | grep -v '^figure '
python3 - "$trace" "$out" "$events" <<'PY'
import re, sys
from collections import Counter, defaultdict
trace, out, events = sys.argv[1], sys.argv[2], int(sys.argv[3])
procs = re.search(r"processes: ui (\w+), service (\w+), benchmark (\w+) \(thread (\w+)\)", open(out).read())
ui, bench = procs.group(1), procs.group(3)
owner, counts, inside = {procs.group(4): bench}, defaultdict(Counter), False
request = re.compile(r"^(\w{4}): (\w+)\( ")
for line in open(trace, errors="replace"):
    m = re.match(r"^(\w{4}): init_first_thread\(\) = 0 \{ pid=(\w+), tid=(\w+)", line)
    if m: owner[m.group(3)] = m.group(2)
    m = re.match(r"^(\w{4}): new_thread\(\) = 0 \{ tid=(\w+)", line)
    if m and m.group(1) in owner and pending.get(m.group(1)): owner[m.group(2)] = owner[m.group(1)]
    m = re.match(r"^(\w{4}): new_thread\( process=(\w+)", line)
    if m:
        pending = globals().setdefault("pending", {})
        pending[m.group(1)] = m.group(2) == "ffffffff"
    if 'name=L"QuenvarBenchTimedBegin"' in line: inside = True
    if 'name=L"QuenvarBenchTimedEnd"' in line: inside = False
    m = request.match(line)
    if inside and m: counts[m.group(1)][m.group(2)] += 1
def name(tid):
    pid = owner.get(tid)
    return {ui: "QuenvarUI", bench: "benchmark"}.get(pid, "service or driver host" if pid is None else "pid " + pid)
total = 0.0
for tid, c in sorted(counts.items(), key=lambda kv: -sum(kv[1].values())):
    n = sum(c.values()) / events
    if n < 0.5: continue
    if name(tid) != "benchmark": total += n
    detail = ", ".join("%s %.2f" % (k, v / events) for k, v in c.most_common())
    print("thread %s (%s): %.2f calls per decision: %s" % (tid, name(tid), n, detail))
print("all threads but the benchmark's: %.2f calls per decision" % total)
PY
