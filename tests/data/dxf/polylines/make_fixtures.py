#!/usr/bin/python3
"""Writes the small DXF fixtures of tests/data/dxf/polylines and
tests/data/dxf/blocks.  The files are committed; rerun this script only to
change them.  Every file is a minimal text drawing (HEADER, TABLES, BLOCKS,
ENTITIES) with right-aligned group codes, as CAD programs write them."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))
BLOCKS = os.path.join(os.path.dirname(HERE), "blocks")


def fmt(v):
    if isinstance(v, float):
        return repr(v)
    return str(v)


class Dxf:
    def __init__(self):
        self.groups = []

    def g(self, code, value):
        self.groups.append((code, value))
        return self

    def gs(self, *pairs):
        for code, value in pairs:
            self.g(code, value)
        return self

    def text(self):
        return "".join("%3d\n%s\n" % (c, fmt(v)) for c, v in self.groups)


def drawing(entities, blocks=None, layers=None, version="AC1009"):
    d = Dxf()
    d.gs((0, "SECTION"), (2, "HEADER"), (9, "$ACADVER"), (1, version), (0, "ENDSEC"))
    d.gs((0, "SECTION"), (2, "TABLES"))
    d.gs((0, "TABLE"), (2, "LAYER"), (70, len(layers or []) + 1))
    d.gs((0, "LAYER"), (2, "0"), (70, 0), (62, 7), (6, "CONTINUOUS"))
    for name, flags in layers or []:
        d.gs((0, "LAYER"), (2, name), (70, flags), (62, 1), (6, "CONTINUOUS"))
    d.gs((0, "ENDTAB"), (0, "ENDSEC"))
    d.gs((0, "SECTION"), (2, "BLOCKS"))
    for name, base, body in blocks or []:
        d.gs((0, "BLOCK"), (8, "0"), (2, name), (70, 0),
             (10, base[0]), (20, base[1]), (30, base[2]), (3, name))
        for e in body:
            d.groups.extend(e)
        d.gs((0, "ENDBLK"), (8, "0"))
    d.g(0, "ENDSEC")
    d.gs((0, "SECTION"), (2, "ENTITIES"))
    for e in entities:
        d.groups.extend(e)
    d.gs((0, "ENDSEC"), (0, "EOF"))
    return d.text()


def line(h, a, b, layer="0"):
    return [(0, "LINE"), (5, h), (8, layer), (10, a[0]), (20, a[1]), (30, 0.0),
            (11, b[0]), (21, b[1]), (31, 0.0)]


def circle(h, c, r, layer="0"):
    return [(0, "CIRCLE"), (5, h), (8, layer), (10, c[0]), (20, c[1]), (30, 0.0), (40, r)]


def insert(h, name, at, scale=(1.0, 1.0, 1.0), rot=None, layer="0", extrusion=None):
    e = [(0, "INSERT"), (5, h), (8, layer), (2, name), (10, at[0]), (20, at[1]), (30, at[2])]
    if scale != (1.0, 1.0, 1.0):
        e += [(41, scale[0]), (42, scale[1]), (43, scale[2])]
    if rot is not None:
        e.append((50, rot))
    if extrusion:
        e += [(210, extrusion[0]), (220, extrusion[1]), (230, extrusion[2])]
    return e


def polyline(h, flags, vertices, layer="0", extra=(), vflags=0, extrusion=None, elevation=0.0):
    """vertices: (x, y, z, bulge) tuples or ("face", a, b, c, d)."""
    e = [(0, "POLYLINE"), (5, h), (8, layer), (66, 1), (10, 0.0), (20, 0.0), (30, elevation),
         (70, flags)]
    e += list(extra)
    if extrusion:
        e += [(210, extrusion[0]), (220, extrusion[1]), (230, extrusion[2])]
    for i, v in enumerate(vertices):
        vh = "%s%X" % (h, i + 1)
        if v[0] == "face":
            e += [(0, "VERTEX"), (5, vh), (8, layer), (10, 0.0), (20, 0.0), (30, 0.0),
                  (70, 128), (71, v[1]), (72, v[2]), (73, v[3]), (74, v[4])]
            continue
        e += [(0, "VERTEX"), (5, vh), (8, layer), (10, v[0]), (20, v[1]), (30, v[2])]
        if v[3]:
            e.append((42, v[3]))
        if vflags:
            e.append((70, vflags))
    e += [(0, "SEQEND"), (5, h + "F"), (8, layer)]
    return e


def lwpolyline(h, flags, vertices, layer="0", elevation=None, extrusion=None):
    e = [(0, "LWPOLYLINE"), (5, h), (100, "AcDbEntity"), (8, layer),
         (100, "AcDbPolyline"), (90, len(vertices)), (70, flags)]
    if elevation is not None:
        e.append((38, elevation))
    for x, y, b in vertices:
        e += [(10, x), (20, y)]
        if b:
            e.append((42, b))
    if extrusion:
        e += [(210, extrusion[0]), (220, extrusion[1]), (230, extrusion[2])]
    return e


def hatch(h, layer="0"):
    """A square polyline path with one bulged side, and an edge path made of
    two lines and a counter-clockwise half circle; elevation and seed points
    that must not become vertices."""
    e = [(0, "HATCH"), (5, h), (100, "AcDbEntity"), (8, layer), (100, "AcDbHatch"),
         (10, 0.0), (20, 0.0), (30, 0.0), (210, 0.0), (220, 0.0), (230, 1.0),
         (2, "SOLID"), (70, 1), (71, 0), (91, 2)]
    # Path 1: polyline path (bit 2), external (bit 1), closed, with bulges.
    e += [(92, 3), (72, 1), (73, 1), (93, 4),
          (10, 0.0), (20, 0.0), (42, 0.0),
          (10, 10.0), (20, 0.0), (42, 1.0),
          (10, 10.0), (20, 10.0), (42, 0.0),
          (10, 0.0), (20, 10.0), (42, 0.0),
          (97, 0)]
    # Path 2: edge path: line (2,2)-(6,2), arc centre (6,4) r 2 from -90 to 90
    # counter-clockwise, line (6,6)-(2,6), line (2,6)-(2,2).
    e += [(92, 16), (93, 4),
          (72, 1), (10, 2.0), (20, 2.0), (11, 6.0), (21, 2.0),
          (72, 2), (10, 6.0), (20, 4.0), (40, 2.0), (50, 270.0), (51, 90.0), (73, 1),
          (72, 1), (10, 6.0), (20, 6.0), (11, 2.0), (21, 6.0),
          (72, 1), (10, 2.0), (20, 6.0), (11, 2.0), (21, 2.0),
          (97, 0)]
    e += [(75, 1), (76, 1), (98, 1), (10, 5.0), (20, 5.0)]
    return e


def xdata(*pairs):
    return [(1001, "ADE"), (1002, "{")] + [(1000, p) for p in pairs] + [(1002, "}")]


def write(path, text):
    with open(path, "w", newline="\n") as f:
        f.write(text)


def polylines():
    p = lambda name: os.path.join(HERE, name)
    write(p("polyline_2d_3d.dxf"), drawing([
        polyline("A0", 0, [(0.0, 0.0, 0.0, 0), (1.0, 0.0, 0.0, 0), (1.0, 1.0, 0.0, 0)]),
        polyline("B0", 1, [(0.0, 0.0, 0.0, 0), (2.0, 0.0, 0.0, 0), (2.0, 2.0, 0.0, 0)]),
        polyline("C0", 8, [(0.0, 0.0, 1.0, 0), (1.0, 2.0, 3.0, 0), (4.0, 5.0, 6.0, 0)],
                 vflags=32),
        polyline("D0", 9, [(0.0, 0.0, 1.0, 0), (3.0, 0.0, 2.0, 0), (3.0, 3.0, 3.0, 0)],
                 vflags=32),
        # 2D polyline with a half-circle bulge and a closing bulge.
        polyline("E0", 1, [(-1.0, 0.0, 0.0, 1.0), (1.0, 0.0, 0.0, 1.0)]),
        # 2D polyline with extrusion (0, 0, -1): mirrored in X.
        polyline("F0", 0, [(1.0, 0.0, 0.0, 0), (2.0, 0.0, 0.0, 0)], extrusion=(0.0, 0.0, -1.0)),
        # 2D polyline at elevation 5 in the plane of extrusion (0, 1, 0): object
        # (x, y, 5) is world (-x, 5, y); the vertices' own Z (0) is not used.
        polyline("1B0", 0, [(1.0, 2.0, 0.0, 0), (3.0, 2.0, 0.0, 0.5), (3.0, 4.0, 0.0, 0)],
                 extrusion=(0.0, 1.0, 0.0), elevation=5.0),
    ]))
    mesh = [(float(c), float(r), float(r * c), 0) for r in range(3) for c in range(4)]
    write(p("polygon_mesh_3x4.dxf"), drawing([
        polyline("A0", 16, mesh, extra=[(71, 3), (72, 4)], vflags=64),
    ]))
    verts = [(0.0, 0.0, 0.0, 0), (1.0, 0.0, 0.0, 0), (1.0, 1.0, 0.0, 0), (0.0, 1.0, 0.0, 0)]
    write(p("polyface_two_faces.dxf"), drawing([
        polyline("A0", 64, [v for v in verts] + [("face", 1, 2, 3, 0), ("face", 3, 4, -1, 0)],
                 extra=[(71, 4), (72, 2)], vflags=192),
    ]))
    square = [(0.0, 0.0, 0), (4.0, 0.0, 0), (4.0, 4.0, 0)]
    write(p("lwpolyline_flags.dxf"), drawing([
        lwpolyline("A0", 1, square),
        lwpolyline("B0", 129, square),
        lwpolyline("C0", 0, square, elevation=7.5),
        lwpolyline("D0", 1, [(0.0, 0.0, 0), (4.0, 0.0, 0), (0.0, 0.0, 0)]),
        lwpolyline("E0", 0, [(0.0, 0.0, 0), (1.0, 0.0, 0)]) + xdata("OWNER=Smith"),
        polyline("F0", 0, [(0.0, 0.0, 0.0, 0), (2.0, 0.0, 0.0, 0)],
                 extra=xdata("OWNER=Jones")),
    ], version="AC1015"))
    write(p("bulges.dxf"), drawing([
        lwpolyline("A0", 1, [(-1.0, 0.0, 1.0), (1.0, 0.0, 1.0)]),
        lwpolyline("B0", 0, [(0.0, 0.0, 0.5), (2.0, 0.0, 0)]),
        lwpolyline("C0", 0, [(0.0, 0.0, -1.0), (2.0, 0.0, 0)]),
        lwpolyline("D0", 0, [(1.0, 0.0, 1.0), (3.0, 0.0, 0)], extrusion=(0.0, 0.0, -1.0)),
    ], version="AC1015"))
    write(p("hatch_paths.dxf"), drawing([hatch("A0")], version="AC1015"))
    write(p("frozen_polyline.dxf"), drawing([
        polyline("A0", 0, [(0.0, 0.0, 0.0, 0), (5.0, 5.0, 0.0, 0)], layer="FROZEN"),
        line("B0", (1.0, 1.0), (2.0, 2.0)),
    ], layers=[("FROZEN", 1)]))


def blocks():
    p = lambda name: os.path.join(BLOCKS, name)
    unit_line = [line("10", (0.0, 0.0), (1.0, 0.0))]
    write(p("insert_scale_rotate.dxf"), drawing(
        [insert("A0", "UNIT", (10.0, 0.0, 0.0), (2.0, 2.0, 2.0), 90.0),
         insert("B0", "UNIT", (10.0, 0.0, 0.0), (2.0, 1.0, 1.0), 90.0)],
        blocks=[("UNIT", (0.0, 0.0, 0.0), unit_line)]))
    write(p("base_point.dxf"), drawing(
        [insert("A0", "BASE", (100.0, 100.0, 0.0))],
        blocks=[("BASE", (5.0, 5.0, 1.0), [line("10", (5.0, 5.0), (6.0, 5.0))])]))
    # The second INSERT names no point, scale or rotation: the defaults hold,
    # not the first INSERT's values.  The LINE after them is not transformed.
    write(p("two_inserts.dxf"), drawing(
        [insert("A0", "UNIT", (10.0, 10.0, 0.0), (3.0, 3.0, 3.0), 45.0),
         [(0, "INSERT"), (5, "B0"), (8, "0"), (2, "UNIT")],
         line("C0", (0.0, 5.0), (1.0, 5.0))],
        blocks=[("UNIT", (0.0, 0.0, 0.0), unit_line)]))
    write(p("recursion.dxf"), drawing(
        [insert("A0", "SELF", (0.0, 0.0, 0.0)),
         insert("B0", "PING", (0.0, 0.0, 0.0)),
         insert("C0", "self", (100.0, 0.0, 0.0))],
        blocks=[("SELF", (0.0, 0.0, 0.0), [line("10", (0.0, 0.0), (1.0, 0.0)),
                                            insert("11", "SELF", (5.0, 0.0, 0.0)),
                                            insert("12", "Self", (5.0, 0.0, 0.0))]),
                ("PING", (0.0, 0.0, 0.0), [line("20", (0.0, 1.0), (1.0, 1.0)),
                                            insert("21", "PONG", (0.0, 10.0, 0.0))]),
                ("PONG", (0.0, 0.0, 0.0), [line("30", (0.0, 2.0), (1.0, 2.0)),
                                            insert("31", "ping", (0.0, 10.0, 0.0))])]))
    write(p("circle_scaled.dxf"), drawing(
        [insert("A0", "RING", (0.0, 0.0, 0.0), (3.0, 3.0, 3.0))],
        blocks=[("RING", (0.0, 0.0, 0.0), [circle("10", (1.0, 1.0), 1.0)])]))
    write(p("lwcircle_block.dxf"), drawing(
        [insert("A0", "LWC", (10.0, 20.0, 0.0), (2.0, 2.0, 2.0))],
        blocks=[("LWC", (0.0, 0.0, 0.0),
                 [lwpolyline("10", 1, [(-1.0, 0.0, 1.0), (1.0, 0.0, 1.0)])])],
        version="AC1015"))
    # Nested blocks with a rotated and mirrored inner reference and a polyline
    # with bulges, for the comparison with an independent reader.
    write(p("nested_bulges.dxf"), drawing(
        [insert("A0", "OUTER", (50.0, 20.0, 0.0), (1.0, -1.0, 1.0), 30.0),
         insert("B0", "OUTER", (0.0, 0.0, 0.0), (0.5, 0.5, 0.5), None,
                extrusion=(0.0, 0.0, -1.0))],
        blocks=[("INNER", (1.0, 1.0, 0.0),
                 [lwpolyline("10", 0, [(1.0, 1.0, 0.4), (4.0, 1.0, -0.7), (4.0, 5.0, 0)]),
                  polyline("11", 1, [(1.0, 1.0, 0.0, 1.0), (3.0, 1.0, 0.0, 0.0),
                                     (3.0, 3.0, 0.0, 0.0)])]),
                ("OUTER", (0.0, 0.0, 0.0),
                 [line("20", (0.0, 0.0), (10.0, 0.0)),
                  insert("21", "INNER", (10.0, 0.0, 0.0), (2.0, 1.0, 1.0), 90.0)])],
        version="AC1015"))
    # Every entity type the entity pass converts, inside a block.
    body = [
        [(0, "POINT"), (5, "10"), (8, "0"), (10, 1.0), (20, 1.0), (30, 0.0)],
        [(0, "TEXT"), (5, "11"), (8, "0"), (10, 2.0), (20, 2.0), (30, 0.0), (40, 1.0),
         (1, "Title")],
        [(0, "MTEXT"), (5, "12"), (8, "0"), (10, 3.0), (20, 3.0), (30, 0.0), (40, 1.0),
         (1, "Block text")],
        [(0, "SOLID"), (5, "13"), (8, "0"), (10, 0.0), (20, 0.0), (30, 0.0), (11, 1.0),
         (21, 0.0), (31, 0.0), (12, 0.0), (22, 1.0), (32, 0.0), (13, 1.0), (23, 1.0),
         (33, 0.0)],
        [(0, "3DFACE"), (5, "14"), (8, "0"), (10, 0.0), (20, 0.0), (30, 0.0), (11, 1.0),
         (21, 0.0), (31, 0.0), (12, 1.0), (22, 1.0), (32, 0.0), (13, 0.0), (23, 1.0),
         (33, 0.0)],
        [(0, "SPLINE"), (5, "15"), (8, "0"), (70, 8), (71, 3), (72, 0), (73, 0), (74, 3),
         (11, 0.0), (21, 0.0), (31, 0.0), (11, 1.0), (21, 1.0), (31, 0.0), (11, 2.0),
         (21, 0.0), (31, 0.0)],
        line("16", (0.0, 0.0), (1.0, 0.0)),
        [(0, "ARC"), (5, "17"), (8, "0"), (10, 0.0), (20, 0.0), (30, 0.0), (40, 1.0),
         (50, 0.0), (51, 90.0)],
        circle("18", (0.0, 0.0), 1.0),
        polyline("19", 0, [(0.0, 0.0, 0.0, 0), (1.0, 1.0, 0.0, 0)]),
        lwpolyline("1A", 0, [(0.0, 0.0, 0), (1.0, 1.0, 0)]),
        [(0, "MPOLYGON"), (5, "1B"), (8, "0"), (10, 0.0), (20, 0.0), (30, 0.0), (2, "SOLID"),
         (70, 1), (71, 0), (91, 1), (92, 2), (72, 0), (73, 1), (93, 3),
         (10, 0.0), (20, 0.0), (10, 1.0), (20, 0.0), (10, 1.0), (20, 1.0),
         (75, 0), (76, 1), (11, 0.0), (21, 0.0), (99, 0)],
        hatch("1C"),
    ]
    write(p("all_types.dxf"), drawing(
        [insert("A0", "ALL", (100.0, 0.0, 0.0))],
        blocks=[("ALL", (0.0, 0.0, 0.0), body)], version="AC1015"))
    # A block of 200 lines inserted eight times: block expansion re-reads
    # some 30000 lines, reporting progress while it jumps back and forth.
    big = [line("%X" % (0x100 + i), (float(i), 0.0), (float(i), 1.0)) for i in range(200)]
    write(p("many_inserts.dxf"), drawing(
        [insert("%X0" % (k + 1), "BIG", (0.0, 10.0 * k, 0.0)) for k in range(8)],
        blocks=[("BIG", (0.0, 0.0, 0.0), big)]))
    # A chain of 70 blocks, each inserting the next once, one unit higher:
    # only the first 64 levels are expanded.
    chain = []
    for i in range(70):
        body = [line("%X0" % (i + 1), (0.0, 0.0), (1.0, 0.0))]
        if i + 1 < 70:
            body.append(insert("%X1" % (i + 1), "C%d" % (i + 1), (0.0, 1.0, 0.0)))
        chain.append(("C%d" % i, (0.0, 0.0, 0.0), body))
    write(p("deep_nesting.dxf"), drawing([insert("A0", "C0", (0.0, 0.0, 0.0))], blocks=chain))
    # Each level inserts the next one four times: 4^20 lines from a few
    # kilobytes.  The expansion must give up, not run out of time or memory.
    levels = 20
    bomb = []
    for i in range(levels):
        body = [line("%X0" % (i + 1), (0.0, 0.0), (1.0, 0.0))]
        if i + 1 < levels:
            body += [insert("%X%d" % (i + 1, k + 1), "L%d" % (i + 1), (float(k), 0.0, 0.0))
                     for k in range(4)]
        bomb.append(("L%d" % i, (0.0, 0.0, 0.0), body))
    write(p("expansion_bomb.dxf"), drawing([insert("A0", "L0", (0.0, 0.0, 0.0))], blocks=bomb))


def binary_blocks():
    """The nested_bulges drawing again, written by ezdxf in the binary form
    (release 2000): block expansion jumps back and forth in binary data.
    ezdxf stamps the file (GUIDs, dates): it is written only when missing."""
    import ezdxf

    target = os.path.join(BLOCKS, "nested_bulges_binary.dxf")
    if os.path.exists(target):
        return

    doc = ezdxf.new("R2000")
    inner = doc.blocks.new("INNER", base_point=(1, 1, 0))
    inner.add_lwpolyline([(1, 1, 0.4), (4, 1, -0.7), (4, 5, 0)], format="xyb")
    inner.add_polyline2d([(1, 1), (3, 1), (3, 3)], close=True).vertices[0].dxf.bulge = 1.0
    outer = doc.blocks.new("OUTER")
    outer.add_line((0, 0), (10, 0))
    outer.add_blockref("INNER", (10, 0), dxfattribs={"xscale": 2, "rotation": 90})
    msp = doc.modelspace()
    msp.add_blockref("OUTER", (50, 20), dxfattribs={"yscale": -1, "rotation": 30})
    msp.add_blockref("OUTER", (0, 0), dxfattribs={
        "xscale": 0.5, "yscale": 0.5, "zscale": 0.5, "extrusion": (0, 0, -1)})
    msp.add_circle((5, 5), 2)
    doc.saveas(target, fmt="bin")


if __name__ == "__main__":
    os.makedirs(BLOCKS, exist_ok=True)
    polylines()
    blocks()
    binary_blocks()
