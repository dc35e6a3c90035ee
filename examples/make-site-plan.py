#!/usr/bin/python3
"""Draws examples/site-plan.dxf, the sample drawing `make demo` converts.

A small survey plan on a projected grid: parcels, buildings, a road with a
curved centre line, a fence, trees as block references and labels.  Written
with ezdxf (Debian's python3-ezdxf); the committed file is the output, this
script only documents how it was made.
"""
import math
import ezdxf

E0, N0 = 512300.0, 5403100.0  # grid origin of the plan


def p(x, y):
    return (E0 + x, N0 + y)


doc = ezdxf.new("R2000")
doc.header["$INSUNITS"] = 6  # metres
for name, color in [("PARCELS", 7), ("BUILDINGS", 1), ("ROAD", 8), ("FENCE", 30),
                    ("TREES", 3), ("LABELS", 2)]:
    doc.layers.add(name, color=color)

tree = doc.blocks.new("TREE", base_point=(0, 0))
tree.add_circle((0, 0), 1.0)
tree.add_line((-0.7, 0), (0.7, 0))
tree.add_line((0, -0.7), (0, 0.7))

north = doc.blocks.new("NORTH", base_point=(0, 0))
north.add_lwpolyline([(0, 3), (1, -1), (0, 0), (-1, -1)], close=True)
north.add_text("N", dxfattribs={"height": 0.8}).set_placement((-0.3, 3.4))

msp = doc.modelspace()

# Parcels: closed boundaries, one with a curved front along the road.
msp.add_lwpolyline([p(0, 0), p(40, 0), p(40, 30), p(0, 30)], close=True,
                   dxfattribs={"layer": "PARCELS"})
msp.add_lwpolyline([(E0 + 40, N0 + 0, 0), (E0 + 80, N0 + 0, -0.25),
                    (E0 + 80, N0 + 30, 0), (E0 + 40, N0 + 30, 0)],
                   format="xyb", close=True, dxfattribs={"layer": "PARCELS"})
msp.add_lwpolyline([p(0, 30), p(40, 30), p(40, 62), p(0, 62)], close=True,
                   dxfattribs={"layer": "PARCELS"})

# Buildings.
msp.add_lwpolyline([p(8, 8), p(24, 8), p(24, 20), p(8, 20)], close=True,
                   dxfattribs={"layer": "BUILDINGS"})
msp.add_lwpolyline([p(50, 6), p(66, 6), p(66, 14), p(58, 14), p(58, 22), p(50, 22)],
                   close=True, dxfattribs={"layer": "BUILDINGS"})
msp.add_lwpolyline([p(10, 40), p(28, 40), p(28, 54), p(10, 54)], close=True,
                   dxfattribs={"layer": "BUILDINGS"})

# Road: centre line with two curves, and a turning circle at its end.
msp.add_lwpolyline([(E0 - 10, N0 - 8, 0), (E0 + 70, N0 - 8, 0.2),
                    (E0 + 95, N0 + 15, 0), (E0 + 95, N0 + 50, -0.3),
                    (E0 + 110, N0 + 70, 0)], format="xyb",
                   dxfattribs={"layer": "ROAD", "lineweight": 50})
msp.add_arc(p(110, 78), 8, 200, 160, dxfattribs={"layer": "ROAD"})

# Fence along the back of the parcels, drawn as separate lines.
for x in range(0, 80, 10):
    msp.add_line(p(x, 64), p(x + 10, 64), dxfattribs={"layer": "FENCE"})

# Trees.
for i, (x, y) in enumerate([(32, 24), (34, 50), (72, 26), (5, 45), (30, 58)]):
    msp.add_blockref("TREE", p(x, y), dxfattribs={
        "layer": "TREES", "xscale": 1.0 + 0.25 * (i % 3), "yscale": 1.0 + 0.25 * (i % 3),
        "rotation": 15 * i})
msp.add_blockref("NORTH", p(-15, 55), dxfattribs={"layer": "LABELS", "rotation": 10})

# Labels.
for text, (x, y) in [("Lot 1", (18, 25)), ("Lot 2", (60, 25)), ("Lot 3", (18, 58)),
                     ("Harbour Road", (30, -6))]:
    msp.add_text(text, dxfattribs={"layer": "LABELS", "height": 1.5}).set_placement(p(x, y))
msp.add_point(p(0, 0), dxfattribs={"layer": "LABELS"})

from ezdxf import bbox
box = bbox.extents(msp)
doc.saveas("site-plan.dxf")

# ezdxf writes placeholder extents (1e+20); put the drawing's real box in
# the header, as CAD programs do.
text = open("site-plan.dxf").read()
ext = "$EXTMIN\n 10\n{}\n 20\n{}\n 30\n0.0\n  9\n$EXTMAX\n 10\n{}\n 20\n{}\n 30\n0.0\n"
old = ext.format("1e+20", "1e+20", "-1e+20", "-1e+20").replace("0.0\n  9", "1e+20\n  9", 1)
old = old[:old.rfind("0.0")] + "-1e+20\n"
new = ext.format(box.extmin.x, box.extmin.y, box.extmax.x, box.extmax.y)
assert old in text
open("site-plan.dxf", "w").write(text.replace(old, new, 1))
