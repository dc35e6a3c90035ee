#!/usr/bin/python3
"""Writes the shapefile sets that other programs produce, for the reader tests.

Run with Debian's Python (it has pyshp and GDAL's bindings):
    /usr/bin/python3 tests/data/shapefile/make_fixtures.py
The values here are repeated in tests/kernel/shapefile/layer_shp_test.cpp.
"""
import datetime
import os

import shapefile  # pyshp
from osgeo import ogr

HERE = os.path.dirname(os.path.abspath(__file__))


def path(name):
    return os.path.join(HERE, name)


def pyshp_lines():
    # Type 3 with a null record in the middle and every field type.
    w = shapefile.Writer(path("pyshp_lines"), shapeType=shapefile.POLYLINE)
    w.field("NAME", "C", size=12)
    w.field("COUNT", "N", size=9, decimal=0)
    w.field("RATIO", "N", size=12, decimal=3)
    w.field("SCORE", "F", size=19, decimal=11)
    w.field("FLAG", "L", size=1)
    w.field("DAY", "D")
    w.line([[[0.1, 0.2], [1.5, -2.25], [3.0, 4.0]]])
    w.record("first", 42, 3.25, -1.5, True, datetime.date(1999, 12, 31))
    w.null()
    w.record("null shape", 0, 0, 0, False, datetime.date(2000, 1, 1))
    w.line([[[10, 10], [11, 11]], [[20, 20], [21, 22], [23, 24]]])
    w.record("two parts", -7, None, None, None, None)
    w.close()


def pyshp_polylinez():
    w = shapefile.Writer(path("pyshp_polylinez"), shapeType=shapefile.POLYLINEZ)
    w.field("ID", "N", size=5)
    w.linez([[[1, 2, 3], [4, 5, 6]]])
    w.record(1)
    w.linez([[[7, 8, 9], [10, 11, 12], [13, 14, 15]]])
    w.record(2)
    w.close()


def pyshp_multipoint():
    w = shapefile.Writer(path("pyshp_multipoint"), shapeType=shapefile.MULTIPOINT)
    w.field("ID", "N", size=5)
    w.multipoint([[1, 1], [2, 3], [-4.5, 6.25]])
    w.record(1)
    w.close()


def pyshp_points():
    w = shapefile.Writer(path("pyshp_points"), shapeType=shapefile.POINT)
    w.field("NAME", "C", size=8)
    w.point(-122.5, 37.75)
    w.record("west")
    w.point(139.6875, 35.6875)
    w.record("east")
    w.close()


def pyshp_polygonm():
    w = shapefile.Writer(path("pyshp_polygonm"), shapeType=shapefile.POLYGONM)
    w.field("ID", "N", size=5)
    w.polym([[[0, 0, 1], [0, 4, 2], [4, 4, 3], [4, 0, 4], [0, 0, 1]]])
    w.record(9)
    w.close()


def gdal_set(name, geometry_type, features, fields):
    driver = ogr.GetDriverByName("ESRI Shapefile")
    target = path(name + ".shp")
    if os.path.exists(target):
        driver.DeleteDataSource(target)
    ds = driver.CreateDataSource(target)
    layer = ds.CreateLayer(name, geom_type=geometry_type)
    for fname, ftype, width, precision, subtype in fields:
        fd = ogr.FieldDefn(fname, ftype)
        if width:
            fd.SetWidth(width)
        if precision:
            fd.SetPrecision(precision)
        if subtype is not None:
            fd.SetSubType(subtype)
        layer.CreateField(fd)
    for wkt, values in features:
        f = ogr.Feature(layer.GetLayerDefn())
        f.SetGeometry(ogr.CreateGeometryFromWkt(wkt))
        for k, v in values.items():
            if v is None:
                f.SetFieldNull(k)
            elif isinstance(v, datetime.date):
                f.SetField(k, v.year, v.month, v.day, 0, 0, 0, 0)
            else:
                f.SetField(k, v)
        layer.CreateFeature(f)
    ds = None


def gdal_fixtures():
    fields = [
        ("NAME", ogr.OFTString, 16, 0, None),
        ("COUNT", ogr.OFTInteger, 0, 0, None),
        ("BIG", ogr.OFTInteger64, 0, 0, None),
        ("VALUE", ogr.OFTReal, 0, 0, None),
        ("DAY", ogr.OFTDate, 0, 0, None),
        ("FLAG", ogr.OFTInteger, 0, 0, ogr.OFSTBoolean),
    ]
    gdal_set("gdal_polygons", ogr.wkbPolygon, [
        ("POLYGON ((0 0,0 10,10 10,10 0,0 0),(2 2,4 2,4 4,2 4,2 2))",
         {"NAME": "with hole", "COUNT": 3, "BIG": 9876543210123, "VALUE": 0.1,
          "DAY": datetime.date(2024, 2, 29), "FLAG": 1}),
        ("POLYGON ((20 20,20 21,21 21,20 20))",
         {"NAME": "triangle", "COUNT": -1, "BIG": None, "VALUE": -2.5e-7,
          "DAY": None, "FLAG": 0}),
    ], fields)
    gdal_set("gdal_pointsz", ogr.wkbPoint25D, [
        ("POINT Z (1.25 2.5 100)", {"NAME": "a"}),
        ("POINT Z (-3 4 5)", {"NAME": "b"}),
    ], fields[:1])
    gdal_set("gdal_linesm", ogr.wkbLineStringM, [
        ("LINESTRING M (0 0 1,5 5 2,10 0 3)", {"NAME": "measured"}),
    ], fields[:1])


if __name__ == "__main__":
    pyshp_lines()
    pyshp_polylinez()
    pyshp_multipoint()
    pyshp_points()
    pyshp_polygonm()
    gdal_fixtures()
    for f in os.listdir(HERE):
        if f.endswith(".prj") or f.endswith(".cpg"):
            os.remove(path(f))
