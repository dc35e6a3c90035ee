#!/usr/bin/python3
"""Writes a large line drawing for the end-to-end benchmark.

usage: gen_drawing.py OUT.dxf [ENTITIES] [SEED]

A mix of LINE, LWPOLYLINE (some with bulges), ARC, CIRCLE and 3D POLYLINE
entities on a few layers, placed at random with a fixed seed so that every
run measures the same file.  200,000 entities make about 130 MB.
"""
import random
import sys

import ezdxf

out = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 200_000
rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 301)

doc = ezdxf.new("R2000")
layers = ["ROADS", "PARCELS", "CONTOURS", "WATER", "BUILDINGS"]
for i, name in enumerate(layers):
    doc.layers.add(name, color=i + 1)
msp = doc.modelspace()

E0, N0, SPAN = 500000.0, 4500000.0, 20000.0


def pt():
    return E0 + rng.random() * SPAN, N0 + rng.random() * SPAN


for i in range(count):
    layer = layers[i % len(layers)]
    r = rng.random()
    x, y = pt()
    if r < 0.20:
        msp.add_line((x, y), (x + rng.uniform(-50, 50), y + rng.uniform(-50, 50)),
                     dxfattribs={"layer": layer})
    elif r < 0.60:
        pts = []
        for _ in range(rng.randint(10, 30)):
            x += rng.uniform(-20, 20)
            y += rng.uniform(-20, 20)
            pts.append((x, y, rng.choice((0.0, 0.0, 0.0, 0.3))))
        msp.add_lwpolyline(pts, format="xyb", dxfattribs={"layer": layer})
    elif r < 0.75:
        msp.add_arc((x, y), rng.uniform(1, 100), rng.uniform(0, 360), rng.uniform(0, 360),
                    dxfattribs={"layer": layer})
    elif r < 0.85:
        msp.add_circle((x, y), rng.uniform(1, 100), dxfattribs={"layer": layer})
    else:
        pts = []
        z = rng.uniform(0, 500)
        for _ in range(rng.randint(5, 15)):
            x += rng.uniform(-20, 20)
            y += rng.uniform(-20, 20)
            z += rng.uniform(-2, 2)
            pts.append((x, y, z))
        msp.add_polyline3d(pts, dxfattribs={"layer": layer})

doc.saveas(out)
