#!/usr/bin/python3
"""Writes the small drawings the damaged-file tests cut and corrupt:
small.dxf (text), small_bin.dxf (binary, 2-byte group codes) and
small_bin12.dxf (binary, 1-byte group codes), all the same drawing.
Run from this folder: /usr/bin/python3 make_fixtures.py"""
import struct

G = []
def g(code, value): G.append((code, str(value)))

g(0, "SECTION"); g(2, "HEADER")
g(9, "$ACADVER"); g(1, "AC1015")
g(9, "$EXTMIN"); g(10, 0.0); g(20, 0.0); g(30, 0.0)
g(9, "$EXTMAX"); g(10, 100.0); g(20, 50.0); g(30, 0.0)
g(0, "ENDSEC")
g(0, "SECTION"); g(2, "TABLES")
g(0, "TABLE"); g(2, "LAYER"); g(70, 2)
g(0, "LAYER"); g(2, "0"); g(70, 0); g(62, 7); g(6, "CONTINUOUS")
g(0, "LAYER"); g(2, "ROADS"); g(70, 0); g(62, 1); g(6, "DASHED")
g(0, "ENDTAB")
g(0, "ENDSEC")
g(0, "SECTION"); g(2, "BLOCKS")
g(0, "BLOCK"); g(8, "0"); g(2, "TREE"); g(70, 0); g(10, 1.0); g(20, 1.0); g(30, 0.0)
g(0, "CIRCLE"); g(8, "0"); g(10, 1.0); g(20, 1.0); g(30, 0.0); g(40, 0.5)
g(0, "LINE"); g(8, "0"); g(10, 0.0); g(20, 0.0); g(30, 0.0); g(11, 2.0); g(21, 2.0); g(31, 0.0)
g(0, "ENDBLK"); g(8, "0")
g(0, "ENDSEC")
g(0, "SECTION"); g(2, "ENTITIES")
g(0, "POINT"); g(5, "A1"); g(8, "0"); g(10, 5.0); g(20, 6.0); g(30, 1.5)
g(0, "LINE"); g(5, "A2"); g(8, "ROADS"); g(10, 0.0); g(20, 0.0); g(30, 0.0); g(11, 10.0); g(21, 5.0); g(31, 0.0)
g(0, "LWPOLYLINE"); g(5, "A3"); g(8, "ROADS"); g(90, 3); g(70, 1)
g(10, 0.0); g(20, 0.0); g(42, 0.5); g(10, 4.0); g(20, 0.0); g(10, 4.0); g(20, 3.0)
g(0, "POLYLINE"); g(5, "A4"); g(8, "0"); g(66, 1); g(70, 8); g(10, 0.0); g(20, 0.0); g(30, 0.0)
g(0, "VERTEX"); g(8, "0"); g(10, 1.0); g(20, 1.0); g(30, 1.0); g(70, 32)
g(0, "VERTEX"); g(8, "0"); g(10, 2.0); g(20, 3.0); g(30, 2.0); g(70, 32)
g(0, "SEQEND"); g(8, "0")
g(0, "TEXT"); g(5, "A5"); g(8, "0"); g(10, 7.0); g(20, 8.0); g(30, 0.0); g(40, 2.5); g(1, "Survey mark"); g(50, 30.0)
g(0, "INSERT"); g(5, "A6"); g(8, "0"); g(2, "TREE"); g(10, 20.0); g(20, 20.0); g(30, 0.0); g(41, 2.0); g(42, 2.0); g(50, 45.0)
g(0, "HATCH"); g(5, "A7"); g(8, "0"); g(10, 0.0); g(20, 0.0); g(30, 0.0); g(2, "SOLID"); g(70, 1); g(71, 0)
g(91, 1); g(92, 2); g(72, 1); g(73, 1); g(93, 3)
g(10, 30.0); g(20, 30.0); g(10, 40.0); g(20, 30.0); g(10, 35.0); g(20, 38.0)
g(97, 0); g(75, 0); g(76, 1); g(98, 0)
g(0, "ARC"); g(5, "A8"); g(8, "0"); g(10, 50.0); g(20, 10.0); g(30, 0.0); g(40, 5.0); g(50, 0.0); g(51, 90.0)
g(0, "ENDSEC")
g(0, "EOF")

with open("small.dxf", "w", newline="\r\n") as f:
    for code, value in G:
        f.write("%3d\n%s\n" % (code, value))

def kind(code):
    if 10 <= code <= 59 or 110 <= code <= 149 or 210 <= code <= 239 or 1010 <= code <= 1059:
        return "d"
    if 60 <= code <= 79 or 170 <= code <= 179 or 270 <= code <= 289 or 370 <= code <= 389:
        return "h"
    if 90 <= code <= 99:
        return "i"
    return "s"

def binary(one_byte):
    out = bytearray(b"AutoCAD Binary DXF\r\n\x1a\x00")
    for code, value in G:
        if one_byte:
            out += bytes([code]) if code < 255 else b"\xff" + struct.pack("<h", code)
        else:
            out += struct.pack("<h", code)
        k = kind(code)
        if k == "d":
            out += struct.pack("<d", float(value))
        elif k == "h":
            out += struct.pack("<h", int(value))
        elif k == "i":
            out += struct.pack("<i", int(value))
        else:
            out += value.encode("ascii") + b"\x00"
    return bytes(out)

open("small_bin.dxf", "wb").write(binary(False))
open("small_bin12.dxf", "wb").write(binary(True))
