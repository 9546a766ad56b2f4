#!/bin/sh
# Measures Tarnwick against the floors it cannot beat, side by side in one run:
#   launching 300 entries of `true`   vs  a bare posix_spawnp loop (spawn_floor.c), and dex -a
#   reading a million rejected lines  vs  wc -l on the same 33 MB file, and vs Tarnwick 1.2.0
#   (built from commit dc889d4, before the reader knew UTF-8 and UTF-16); the same lines in UTF-8 vs
#   wc -l, and as UTF-16 vs the UTF-8 file; peak memory while reading
#   under Wine, where it is installed: tarnwick.exe launching 40 entries of a windowless no-op
#   program  vs  a bare C loop calling ShellExecuteA 40 times with the same arguments, without
#   COM and after the same COM initialization as the launcher
# Rounds alternate the commands; each figure is the median of every run of every round.
# Prerequisites (Debian): apt-get install hyperfine dex time gcc python3, and a git checkout
#   and for the Wine row the packages of the Windows build in doc/development.md (MinGW-w64, wine).
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
# 1.2.0, built the same way from its own commit.
old=$out/v1.2.0
rm -rf "$old" && mkdir -p "$old/src"
git -C "$top" archive dc889d4 | tar -x -C "$old/src"
cmake -S "$old/src" -B "$old" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$old" --target tarnwick >/dev/null
cc -O2 -o "$out/spawn_floor" "$top/bench/spawn_floor.c"
"$top/bench/generate.sh" "$out/input"

# The Windows row: the 32-bit exe where this machine runs 32-bit programs, else the 64-bit one.
wine_preset=
if command -v wine >/dev/null && command -v i686-w64-mingw32-gcc >/dev/null; then
  wine_preset=windows64 triple=x86_64-w64-mingw32 loader=/usr/lib/wine/wine64
  if [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    wine_preset=windows triple=i686-w64-mingw32 loader=wine
  fi
  cmake --preset $wine_preset >/dev/null
  cmake --build --preset $wine_preset --target tarnwick >/dev/null
  wine_exe=$top/build/$wine_preset/tarnwick.exe
  $triple-gcc -O2 -mwindows -o "$out/noop.exe" "$top/bench/noop.c"
  $triple-gcc -O2 -o "$out/shell_floor.exe" "$top/bench/shell_floor.c" -lshell32 -lole32
  export WINEPREFIX=$out/wineprefix WINEDEBUG=-all
  [ -f "$WINEPREFIX/system.reg" ] || $loader wineboot -i >/dev/null 2>&1
  noop='Z:'$(printf '%s' "$out/noop.exe" | tr / '\\')
  NOOP=$noop awk 'BEGIN { for (i = 0; i < 40; i++) printf "%s\r\n", ENVIRON["NOOP"] }' \
    > "$WINEPREFIX/drive_c/Tarnwick.cfg"
  # One server for every run, and no run starts while the no-ops of the last one still run.
  wineserver -p || true  # already running is as good
  settle="while pgrep -x noop.exe >/dev/null; do sleep 0.01; done"
else
  echo "wine or MinGW-w64 is not installed: the Windows row is skipped" >&2
fi

i=1
while [ "$i" -le "$rounds" ]; do
  (cd "$out/input/launch" && hyperfine -N --warmup 2 --runs 10 --export-json "$out/launch-$i.json" \
    -n tarnwick "$tarnwick" -n floor "$out/spawn_floor 300" \
    -n dex "env XDG_CONFIG_HOME=$out/input/autostart XDG_CONFIG_DIRS=/nonexistent dex -a" >/dev/null)
  (cd "$out/input/read" && hyperfine -N --warmup 2 --runs 10 --export-json "$out/read-$i.json" \
    -n tarnwick "$tarnwick" -n floor "wc -l 'C:\\Tarnwick.cfg'" -n v1.2.0 "$old/tarnwick" >/dev/null)
  (cd "$out/input/read-utf8" && hyperfine -N --warmup 2 --runs 10 --export-json "$out/utf8-$i.json" \
    -n tarnwick "$tarnwick" -n floor "wc -l 'C:\\Tarnwick.cfg'" >/dev/null)
  (cd "$out/input/read-utf16" && hyperfine -N --warmup 2 --runs 10 --export-json "$out/utf16-$i.json" \
    -n tarnwick "$tarnwick" >/dev/null)
  if [ -n "$wine_preset" ]; then
    hyperfine -N --warmup 2 --runs 10 --prepare "sh -c '$settle'" --export-json "$out/wine-$i.json" \
      -n tarnwick "$loader $wine_exe" -n floor "$loader $out/shell_floor.exe '$noop' 40" \
      -n com "$loader $out/shell_floor.exe '$noop' 40 com" >/dev/null
  fi
  i=$((i + 1))
done
[ -z "$wine_preset" ] || wineserver -k
peak=$(cd "$out/input/read" && /usr/bin/time -f %M "$tarnwick" 2>&1 >/dev/null)
peak16=$(cd "$out/input/read-utf16" && /usr/bin/time -f %M "$tarnwick" 2>&1 >/dev/null)

python3 - "$out" "$rounds" "$peak" "$wine_preset" "$peak16" <<'PYTHON' | tee "$out/results.md"
import json, statistics, sys
out, rounds, peak_kb, wine_preset = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
peak16_kb = int(sys.argv[5])
def medians(group):
    times = {}
    for i in range(1, rounds + 1):
        for result in json.load(open(f"{out}/{group}-{i}.json"))["results"]:
            times.setdefault(result["command"], []).extend(result["times"])
    return {name: statistics.median(values) * 1000 for name, values in times.items()}
launch, read = medians("launch"), medians("read")
utf8, utf16 = medians("utf8"), medians("utf16")
rows = [
    ("Launch 300 entries of `true`", "bare posix_spawnp loop", launch["tarnwick"], launch["floor"], "at most 1.10x"),
    ("Read 1,000,000 rejected lines (33 MB)", "`wc -l`", read["tarnwick"], read["floor"], "at most 4x"),
    ("Read the same lines", "Tarnwick 1.2.0 (commit dc889d4)", read["tarnwick"], read["v1.2.0"], "at most 1.00x"),
    ("Read the same lines in UTF-8 (35 MB)", "`wc -l`", utf8["tarnwick"], utf8["floor"], "at most 6x"),
    ("Read the same lines in UTF-16 (70 MB)", "Tarnwick, the UTF-8 file", utf16["tarnwick"], utf8["tarnwick"], "at most 2x"),
    ("Launch 300 entries of `true`", "`dex -a` (300 autostart entries)", launch["tarnwick"], launch["dex"], "peer"),
]
if wine_preset:
    wine = medians("wine")
    bits = "32" if wine_preset == "windows" else "64"
    rows.append((f"Wine: launch 40 entries of a windowless no-op ({bits}-bit `tarnwick.exe`)",
                 "bare `ShellExecuteA` loop, no COM", wine["tarnwick"], wine["floor"], "at most 1.10x"))
    rows.append((f"Wine: the same", "the same loop after the same COM initialization",
                 wine["tarnwick"], wine["com"], "Tarnwick's own cost"))
print("| Task | Against | Tarnwick (ms) | Other (ms) | Ratio | Goal |")
print("|---|---|---|---|---|---|")
for task, other, mine, theirs, goal in rows:
    print(f"| {task} | {other} | {mine:.1f} | {theirs:.1f} | {mine / theirs:.2f}x | {goal} |")
print(f"\nPeak memory reading the 33 MB file: {peak_kb / 1024:.1f} MB, the UTF-16 file: "
      f"{peak16_kb / 1024:.1f} MB (goal: under 8 MB).")
print(f"Medians of {rounds} alternating rounds of 10 runs each.")
PYTHON
