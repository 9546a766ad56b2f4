#!/bin/sh
# Measures Tarnwick against the floors it cannot beat, side by side in one run:
#   launching 300 entries of `true`   vs  a bare posix_spawnp loop (spawn_floor.c), and dex -a
#   reading a million rejected lines  vs  wc -l on the same 33 MB file; peak memory while reading
# Rounds alternate the commands; each figure is the median of every run of every round.
# Prerequisites (Debian): apt-get install hyperfine dex time gcc python3
# Usage: bench/run.sh [ROUNDS]   (from anywhere; writes build/bench/results.md)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
out=$top/build/bench
mkdir -p "$out"

cd "$top"
cmake --preset default >/dev/null
cmake --build --preset default --target tarnwick >/dev/null
tarnwick=$top/build/default/tarnwick
cc -O2 -o "$out/spawn_floor" "$top/bench/spawn_floor.c"
"$top/bench/generate.sh" "$out/input"

i=1
while [ "$i" -le "$rounds" ]; do
  (cd "$out/input/launch" && hyperfine -N --warmup 2 --runs 10 --export-json "$out/launch-$i.json" \
    -n tarnwick "$tarnwick" -n floor "$out/spawn_floor 300" \
    -n dex "env XDG_CONFIG_HOME=$out/input/autostart XDG_CONFIG_DIRS=/nonexistent dex -a" >/dev/null)
  (cd "$out/input/read" && hyperfine -N --warmup 2 --runs 10 --export-json "$out/read-$i.json" \
    -n tarnwick "$tarnwick" -n floor "wc -l 'C:\\Tarnwick.cfg'" >/dev/null)
  i=$((i + 1))
done
peak=$(cd "$out/input/read" && /usr/bin/time -f %M "$tarnwick" 2>&1 >/dev/null)

python3 - "$out" "$rounds" "$peak" <<'PYTHON' | tee "$out/results.md"
import json, statistics, sys
out, rounds, peak_kb = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def medians(group):
    times = {}
    for i in range(1, rounds + 1):
        for result in json.load(open(f"{out}/{group}-{i}.json"))["results"]:
            times.setdefault(result["command"], []).extend(result["times"])
    return {name: statistics.median(values) * 1000 for name, values in times.items()}
launch, read = medians("launch"), medians("read")
rows = [
    ("Launch 300 entries of `true`", "bare posix_spawnp loop", launch["tarnwick"], launch["floor"], "at most 1.10x"),
    ("Read 1,000,000 rejected lines (33 MB)", "`wc -l`", read["tarnwick"], read["floor"], "at most 6x"),
    ("Launch 300 entries of `true`", "`dex -a` (300 autostart entries)", launch["tarnwick"], launch["dex"], "peer"),
]
print("| Task | Against | Tarnwick (ms) | Other (ms) | Ratio | Goal |")
print("|---|---|---|---|---|---|")
for task, other, mine, theirs, goal in rows:
    print(f"| {task} | {other} | {mine:.1f} | {theirs:.1f} | {mine / theirs:.2f}x | {goal} |")
print(f"\nPeak memory reading the 33 MB file: {peak_kb / 1024:.1f} MB (goal: under 8 MB).")
print(f"Medians of {rounds} alternating rounds of 10 runs each.")
PYTHON
