#!/usr/bin/env bash
# End-to-end speed of cadport against ogr2ogr on the same generated drawing.
#
# usage: bench/compare.sh [ENTITIES]      (default 200000, about 130 MB)
#
# Builds Release, generates the drawing with a fixed seed (kept in
# build/bench-data/ between runs), then times both converters alternately
# with hyperfine, reports peak memory with /usr/bin/time -v and the time of
# `wc -l` on the same file as the reading limit, and checks that a drawing
# twice as large takes at most 2.1 times as long.
set -euo pipefail
cd "$(dirname "$0")/.."
N=${1:-200000}
scripts/install-deps.sh bench
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADPORT_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" >/dev/null
CADPORT=$PWD/build/release/cadport
DATA=$PWD/build/bench-data
mkdir -p "$DATA/out"

gen() {  # gen N FILE
  [ -s "$2" ] || { echo "generating $2 ($1 entities)"; /usr/bin/python3 bench/gen_drawing.py "$2" "$1" 301; }
}
D1=$DATA/lines-$N.dxf
D2=$DATA/lines-$((2 * N)).dxf
gen "$N" "$D1"
gen "$((2 * N))" "$D2"

echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), $(uname -sr)"
echo "drawing: $D1, $(du -m "$D1" | cut -f1) MB"

hyperfine --warmup 1 --runs 5 --export-json "$DATA/hyperfine.json" \
  -n wc "wc -l $D1" \
  -n cadport "$CADPORT -o $D1 $DATA/out/cadport.shp" \
  -n ogr2ogr "ogr2ogr -overwrite -f 'ESRI Shapefile' -nlt LINESTRING -dim XY $DATA/out/ogr.shp $D1"

/usr/bin/python3 - "$DATA/hyperfine.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
c, o, w = (r[k]["median"] for k in ("cadport", "ogr2ogr", "wc"))
print(f"median: wc {w:.3f} s, cadport {c:.3f} s, ogr2ogr {o:.3f} s; ogr2ogr/cadport = {o / c:.1f}")
PY

peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ {print $2}'; }
echo "peak memory cadport: $(peak "$CADPORT" -o "$D1" "$DATA/out/cadport.shp") KiB"
echo "peak memory ogr2ogr: $(peak ogr2ogr -overwrite -f 'ESRI Shapefile' -nlt LINESTRING -dim XY "$DATA/out/ogr.shp" "$D1") KiB"

hyperfine --warmup 1 --runs 3 --export-json "$DATA/scale.json" \
  -n single "$CADPORT -o $D1 $DATA/out/c1.shp" \
  -n double "$CADPORT -o $D2 $DATA/out/c2.shp" >/dev/null
/usr/bin/python3 - "$DATA/scale.json" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
print(f"scaling: double-size drawing takes {r['double'] / r['single']:.2f} x as long (target <= 2.1)")
PY
