#!/usr/bin/python3
"""Seeds fuzz/corpus/<target>/ from the test fixtures in tests/data.
Inputs kept from fuzzing runs (crash regressions, corpus growth) live beside
the seeds under other names and are left alone.  Run from the repository
root: /usr/bin/python3 fuzz/make_corpus.py"""
import glob
import os
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests", "data")
CORPUS = os.path.join(ROOT, "fuzz", "corpus")
SENTINEL = b"AutoCAD Binary DXF\r\n\x1a\x00"


def put(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


dxfs = sorted(glob.glob(os.path.join(DATA, "dxf", "**", "*.dxf"), recursive=True)
              + glob.glob(os.path.join(DATA, "hardening", "*.dxf")))
for path in dxfs:
    data = read(path)
    name = os.path.relpath(path, DATA).replace(os.sep, "_")
    if len(data) <= 64 * 1024:
        put("dxf_layer", name, data)
    if data.startswith(SENTINEL):
        put("dxf_binary_reader", name, data[len(SENTINEL):])
    else:
        put("dxf_text_reader", name, data)

for shp in sorted(glob.glob(os.path.join(DATA, "shapefile", "*.shp"))):
    base = shp[:-4]
    shx, dbf, main = read(base + ".shx"), read(base + ".dbf"), read(shp)
    name = os.path.basename(base)
    put("shp_reader", name, struct.pack("<HH", len(shx), len(dbf)) + shx + dbf + main)
    put("dbf_reader", name + ".dbf", dbf)
