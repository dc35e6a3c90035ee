#!/usr/bin/python3
"""Independent reference for the DXF reader's tests: reads a drawing with
ezdxf, expands block references itself (base point, scale, rotation,
insertion point, extrusion, nesting; a block already open further out is
not expanded again, at most 64 levels) and writes, for every LINE, ARC,
CIRCLE, LWPOLYLINE, 2D/3D POLYLINE and HATCH of model space and of the
expanded blocks, in file order:

    E <handle> <type> <part count>
    P <point count>    (for every part: a HATCH has one per boundary path)
    <x> <y>            (finely flattened, world coordinates)

Entities on frozen layers, polyline meshes and hatches with spline edges
(whose curves the converter approximates by their control points) are
left out.

usage: explode_with_ezdxf.py OUTDIR DRAWING...
writes OUTDIR/<drawing's file name>.txt for every drawing ezdxf can read.
"""

import os
import sys

import ezdxf
from ezdxf import recover
from ezdxf import path as ezpath
from ezdxf.entities.boundary_paths import BoundaryPathType, EdgeType
from ezdxf.math import Matrix44

TYPES = {"LINE", "ARC", "CIRCLE", "LWPOLYLINE", "POLYLINE", "HATCH"}
MAX_NESTING = 64


def main(src, dst):
    try:
        doc = ezdxf.readfile(src)
    except ezdxf.DXFError:
        doc, _ = recover.readfile(src)  # damaged or unusual files
    frozen = {layer.dxf.name.upper() for layer in doc.layers if layer.is_frozen()}
    out = []

    def emit(handle, entity, matrix):
        kind = entity.dxftype()
        if entity.dxf.get("layer", "0").upper() in frozen:
            return
        if kind == "POLYLINE" and (entity.is_polygon_mesh or entity.is_poly_face_mesh):
            return
        if kind == "HATCH":
            for boundary in entity.paths:
                if boundary.type == BoundaryPathType.EDGE and any(
                        edge.type == EdgeType.SPLINE for edge in boundary.edges):
                    return
            paths = list(ezpath.from_hatch(entity))
        else:
            paths = [ezpath.make_path(entity)]
        parts = []
        for p in paths:
            if matrix is not None:
                p = p.transform(matrix)
            parts.append(list(p.flattening(distance=1e-4)) if len(p) else [p.start])
        out.append("E %s %s %d" % (handle, kind, len(parts)))
        for pts in parts:
            out.append("P %d" % len(pts))
            out.extend("%.12g %.12g" % (v.x, v.y) for v in pts)

    def walk(entities, matrix, stack):
        for handle, e in entities:
            kind = e.dxftype()
            if kind in TYPES:
                emit(handle, e, matrix)
            elif kind == "INSERT":
                name = e.dxf.name
                if name.upper() in stack or len(stack) >= MAX_NESTING:
                    continue
                block = doc.blocks.get(name)
                if block is None:
                    continue
                m = e.matrix44()
                if matrix is not None:
                    m = Matrix44.chain(m, matrix)
                walk([(b.dxf.handle, b) for b in block], m, stack + [name.upper()])

    walk([(e.dxf.handle, e) for e in doc.modelspace()], None, [])
    with open(dst, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    for drawing in sys.argv[2:]:
        target = os.path.join(sys.argv[1], os.path.basename(drawing) + ".txt")
        try:
            main(drawing, target)
        except Exception as e:  # unreadable for ezdxf: no reference
            sys.stderr.write("%s: %s\n" % (drawing, e))
