#!/usr/bin/python3
"""Prints a shapefile set as another program reads it, in one canonical form.

    read_set.py pyshp|gdal path/to/set.shp
    read_set.py pyshp-geo path/to/set.shp

pyshp-geo prints how pyshp assembles each record's rings into polygons
(its __geo_interface__: clockwise rings are outer rings, counter-clockwise
ones holes), one line per record:
    G <n> <geo type> <rings of each polygon, "+"-separated>

pyshp and gdal print two lines per record:
    S <n> <kind> <part sizes, comma-separated> <x:y bit patterns, comma-separated>
    R <n> <NAME>=<value>|<NAME>=<value>...
Coordinates are the 64-bit patterns of the doubles (16 hex digits), so the
comparison is exact.  Values: text as is, integers in decimal, reals as bit
patterns prefixed "f", dates yyyymmdd, logicals T/F, no value NULL.
"""
import struct
import sys


def bits(x):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", float(x)))[0]


def value_text(v):
    if v is None:
        return "NULL"
    if isinstance(v, bool):
        return "T" if v else "F"
    if isinstance(v, int):
        return str(v)
    if isinstance(v, float):
        return "f" + bits(v)
    if hasattr(v, "year"):
        return "%04d%02d%02d" % (v.year, v.month, v.day)
    return str(v)


def shape_line(n, kind, parts):
    sizes = ",".join(str(len(p)) for p in parts)
    pts = ",".join(bits(x) + ":" + bits(y) for p in parts for (x, y) in p)
    return "S %d %s %s %s" % (n, kind, sizes, pts)


def read_pyshp(path):
    import shapefile
    r = shapefile.Reader(path)
    names = [f[0] for f in r.fields[1:]]
    kinds = {0: "null", 1: "point", 8: "multipoint", 3: "line", 5: "polygon"}
    for n, sr in enumerate(r.iterShapeRecords(), 1):
        s = sr.shape
        kind = kinds.get(s.shapeType, "other")
        pts = [(p[0], p[1]) for p in s.points]
        if kind in ("line", "polygon"):
            bounds = list(s.parts) + [len(pts)]
            parts = [pts[bounds[i]:bounds[i + 1]] for i in range(len(s.parts))]
        elif kind == "null":
            parts = []
        else:
            parts = [pts]
        print(shape_line(n, kind, parts))
        values = []
        for name, v in zip(names, sr.record):
            values.append("%s=%s" % (name, value_text(v)))
        print("R %d %s" % (n, "|".join(values)))


def read_pyshp_geo(path):
    import shapefile
    r = shapefile.Reader(path)
    for n, s in enumerate(r.iterShapes(), 1):
        g = s.__geo_interface__
        if g["type"] == "Polygon":
            rings = str(len(g["coordinates"]))
        elif g["type"] == "MultiPolygon":
            rings = "+".join(str(len(p)) for p in g["coordinates"])
        else:
            rings = "-"
        print("G %d %s %s" % (n, g["type"], rings))


def read_gdal(path):
    from osgeo import ogr
    ds = ogr.Open(path)
    layer = ds.GetLayer(0)
    defn = layer.GetLayerDefn()
    for n, f in enumerate(layer, 1):
        g = f.GetGeometryRef()
        if g is None:
            print(shape_line(n, "null", []))
        else:
            name = g.GetGeometryName()
            if name == "POINT":
                print(shape_line(n, "point", [[(g.GetX(), g.GetY())]]))
            elif name in ("LINESTRING", "MULTILINESTRING", "MULTIPOINT"):
                geoms = [g] if name == "LINESTRING" else [g.GetGeometryRef(i) for i in range(g.GetGeometryCount())]
                if name == "MULTIPOINT":
                    parts = [[(p.GetX(), p.GetY()) for p in geoms]]
                    kind = "multipoint"
                else:
                    parts = [[(p[0], p[1]) for p in l.GetPoints()] for l in geoms]
                    kind = "line"
                print(shape_line(n, kind, parts))
            else:
                polys = [g] if name == "POLYGON" else [g.GetGeometryRef(i) for i in range(g.GetGeometryCount())]
                parts = []
                for poly in polys:
                    for i in range(poly.GetGeometryCount()):
                        parts.append([(p[0], p[1]) for p in poly.GetGeometryRef(i).GetPoints()])
                print(shape_line(n, "polygon", parts))
        values = []
        for i in range(defn.GetFieldCount()):
            fd = defn.GetFieldDefn(i)
            if not f.IsFieldSetAndNotNull(i):
                v = None
            elif fd.GetType() in (ogr.OFTInteger, ogr.OFTInteger64):
                v = f.GetFieldAsInteger64(i)
            elif fd.GetType() == ogr.OFTReal:
                v = f.GetFieldAsDouble(i)
            elif fd.GetType() == ogr.OFTDate:
                y, m, d = f.GetFieldAsDateTime(i)[:3]
                v = "%04d%02d%02d" % (y, m, d)
            else:
                v = f.GetFieldAsString(i)
                # Logical columns arrive as their letters.
                if fd.GetWidth() == 1 and v in ("Y", "y", "T", "t"):
                    v = True
                elif fd.GetWidth() == 1 and v in ("N", "n", "F", "f"):
                    v = False
            values.append("%s=%s" % (fd.GetName(), value_text(v)))
        print("R %d %s" % (n, "|".join(values)))


if __name__ == "__main__":
    {"pyshp": read_pyshp, "pyshp-geo": read_pyshp_geo, "gdal": read_gdal}[sys.argv[1]](sys.argv[2])
