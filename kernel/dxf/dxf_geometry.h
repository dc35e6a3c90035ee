// Pure geometry of the DXF reader: bulge arcs, hatch boundary edges, block
// insert matrices and mesh/face vertex indexing.  Nothing here touches a layer,
// a shape or a file; every function is deterministic and bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel/base/types.h"

namespace cadport {

// Segments per full turn used to flatten bulges and hatch edges.
inline constexpr int kDxfSegmentsPerTurn = 40;

// 4 x 4 matrix of doubles in the row-vector convention of the DXF reader:
// a point (X, Y, Z, 1) is multiplied from the left, row 3 holds the
// translation.  A x B therefore applies A first, then B.
struct TGIS_DxfMatrix {
  double M[4][4];

  static TGIS_DxfMatrix Identity();
  static TGIS_DxfMatrix Translation(double dx, double dy, double dz);
  static TGIS_DxfMatrix Scale(double sx, double sy, double sz);
  // Counter-clockwise rotation by `radians` about the Z axis.
  static TGIS_DxfMatrix RotationZ(double radians);
};

// A x B (A applied first).
TGIS_DxfMatrix DxfMatrixMultiply(const TGIS_DxfMatrix& a, const TGIS_DxfMatrix& b);

// P x M for X, Y and Z; M of the result is 0.
TGIS_Coord3D DxfMatrixApply(const TGIS_DxfMatrix& m, const TGIS_Coord3D& p);

// The format's arbitrary axis rule for an extrusion direction N: the object
// coordinate system's X and Y axes in world coordinates.  N need not be a unit
// vector.  Returns false (and leaves the outputs alone) when N has zero length
// or is not finite; the caller decides how to fail.
[[nodiscard]] bool DxfArbitraryAxes(const TGIS_Coord3D& n, TGIS_Coord3D& ax, TGIS_Coord3D& ay);

// The object-to-world matrix of extrusion N: rows Ax, Ay, unit N, no
// translation.  Identity for N = (0, 0, 1).  Returns false for a degenerate N.
[[nodiscard]] bool DxfObjectMatrix(const TGIS_Coord3D& n, TGIS_DxfMatrix& out);

// The matrix of a block reference:
//   T(-base) x S(scale) x R(rotation) x T(insertion) x O(extrusion)
// A block point is moved by the block's base point, scaled, rotated
// counter-clockwise by `rotationRadians`, moved to the insertion point (in the
// reference's object coordinates) and carried into world coordinates.
// Returns false for a degenerate extrusion.
[[nodiscard]] bool DxfInsertMatrix(const TGIS_Coord3D& basePoint, const TGIS_Coord3D& scale,
                                   double rotationRadians, const TGIS_Coord3D& insertion,
                                   const TGIS_Coord3D& extrusion, TGIS_DxfMatrix& out);

// Number of segments of a flattened arc sweeping `sweepRadians` (sign
// ignored): ceil(|sweep| / 2pi x 40), at least 1; 40 for a non-finite sweep.
int DxfArcSegments(double sweepRadians);

// Appends to `out` the points of the polyline segment that starts at `from`
// with bulge `bulge` and ends at `to`: `from` itself is not appended, `to` is
// always appended last and exactly.  A bulge b != 0 is a circular arc with
// included angle 4 atan(b), counter-clockwise for b > 0, whose centre and
// radius follow from the chord; Z runs linearly from `from.Z` to `to.Z`.  A
// zero, non-finite bulge or a zero-length chord gives the straight segment
// (only `to`).  At most 40 points are appended.
void DxfAppendBulgeSegment(const TGIS_Coord3D& from, const TGIS_Coord3D& to, double bulge,
                           std::vector<TGIS_Coord3D>& out);

// A polyline vertex with its bulge (to the next vertex).
struct TGIS_DxfBulgeVertex {
  TGIS_Coord3D Point;
  double Bulge;
};

// Flattens a polyline of vertices with bulges: the first vertex, then every
// segment by DxfAppendBulgeSegment.  When `closed`, the closing segment from
// the last vertex (with its bulge) back to the first is appended, unless the
// last vertex already lies on the first in X and Y.
void DxfFlattenBulgePolyline(const std::vector<TGIS_DxfBulgeVertex>& vertices, bool closed,
                             std::vector<TGIS_Coord3D>& out);

// Hatch boundary edges, all in object coordinates at elevation `z`.  Each
// appends every point of the edge, its start point included.
//
// Circular arc: angles in degrees as stored in the file.  Counter-clockwise
// arcs run from start to end; clockwise arcs (ccw false) are stored with
// complementary angles, so they run clockwise from -start to -end.  Equal
// start and end give the single start point; a span of a multiple of 360
// degrees (other than 0) is a full circle.
void DxfAppendArcEdge(const TGIS_Coord& centre, double radius, double startDegrees,
                      double endDegrees, bool ccw, double z, std::vector<TGIS_Coord3D>& out);

// Elliptic arc: `majorAxis` is the end point of the major axis relative to the
// centre, `ratio` minor/major; start and end are angles in degrees measured
// from the major axis (converted to ellipse parameters), with the same
// clockwise convention as circular arcs.  A zero major axis gives the centre.
void DxfAppendEllipseEdge(const TGIS_Coord& centre, const TGIS_Coord& majorAxis, double ratio,
                          double startDegrees, double endDegrees, bool ccw, double z,
                          std::vector<TGIS_Coord3D>& out);

// Polygon mesh of M x N vertices stored row by row (vertex r·N + c).  Returns
// the parts as vertex indexes: M rows of N vertices, then N columns of M
// vertices.  Sizes are claims: M <= 0 or N <= 0 gives nothing; indexes at or
// beyond `vertexCount` are dropped, parts with fewer than two vertices are
// dropped, and the work done is bounded by vertexCount, never by M x N.
std::vector<std::vector<std::size_t>> DxfMeshParts(std::int64_t m, std::int64_t n,
                                                   std::size_t vertexCount);

// One polyface face of four vertex numbers (1-based; negative marks an
// invisible edge and counts by its absolute value; 0 is no vertex).  Returns
// the vertex indexes (0-based) of the valid numbers, in order; numbers beyond
// `vertexCount` are dropped.
std::vector<std::size_t> DxfFaceIndexes(const std::int32_t (&numbers)[4], std::size_t vertexCount);

}  // namespace cadport
