#include "kernel/dxf/dxf_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace cadport {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

TGIS_Coord3D Point3(double x, double y, double z) {
  TGIS_Coord3D p;
  p.X = x;
  p.Y = y;
  p.Z = z;
  p.M = 0.0;
  return p;
}

TGIS_Coord3D Cross(const TGIS_Coord3D& a, const TGIS_Coord3D& b) {
  return Point3(a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X);
}

// Normalises v in place; false when it has no direction.
bool Normalise(TGIS_Coord3D& v) {
  const double len = std::sqrt(v.X * v.X + v.Y * v.Y + v.Z * v.Z);
  if (!std::isfinite(len) || len == 0.0) return false;
  v.X /= len;
  v.Y /= len;
  v.Z /= len;
  return true;
}

// Counter-clockwise span from start to end, both in degrees, in [0, 360]:
// equal inputs give 0, inputs a whole number of turns apart give 360.
double SpanDegrees(double startDegrees, double endDegrees) {
  if (startDegrees == endDegrees) return 0.0;
  double span = std::fmod(endDegrees - startDegrees, 360.0);
  if (span < 0.0) span += 360.0;
  if (span == 0.0 || !std::isfinite(span)) span = 360.0;
  return span;
}

constexpr double DegToRad(double d) { return d * (std::numbers::pi / 180.0); }

}  // namespace

TGIS_DxfMatrix TGIS_DxfMatrix::Identity() {
  TGIS_DxfMatrix r{};
  for (int i = 0; i < 4; ++i) r.M[i][i] = 1.0;
  return r;
}

TGIS_DxfMatrix TGIS_DxfMatrix::Translation(double dx, double dy, double dz) {
  TGIS_DxfMatrix r = Identity();
  r.M[3][0] = dx;
  r.M[3][1] = dy;
  r.M[3][2] = dz;
  return r;
}

TGIS_DxfMatrix TGIS_DxfMatrix::Scale(double sx, double sy, double sz) {
  TGIS_DxfMatrix r = Identity();
  r.M[0][0] = sx;
  r.M[1][1] = sy;
  r.M[2][2] = sz;
  return r;
}

TGIS_DxfMatrix TGIS_DxfMatrix::RotationZ(double radians) {
  TGIS_DxfMatrix r = Identity();
  const double c = std::cos(radians);
  const double s = std::sin(radians);
  r.M[0][0] = c;
  r.M[0][1] = s;
  r.M[1][0] = -s;
  r.M[1][1] = c;
  return r;
}

TGIS_DxfMatrix DxfMatrixMultiply(const TGIS_DxfMatrix& a, const TGIS_DxfMatrix& b) {
  TGIS_DxfMatrix r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 4; ++k) sum += a.M[i][k] * b.M[k][j];
      r.M[i][j] = sum;
    }
  return r;
}

TGIS_Coord3D DxfMatrixApply(const TGIS_DxfMatrix& m, const TGIS_Coord3D& p) {
  return Point3(p.X * m.M[0][0] + p.Y * m.M[1][0] + p.Z * m.M[2][0] + m.M[3][0],
                p.X * m.M[0][1] + p.Y * m.M[1][1] + p.Z * m.M[2][1] + m.M[3][1],
                p.X * m.M[0][2] + p.Y * m.M[1][2] + p.Z * m.M[2][2] + m.M[3][2]);
}

bool DxfArbitraryAxes(const TGIS_Coord3D& n, TGIS_Coord3D& ax, TGIS_Coord3D& ay) {
  // The extrusion direction is a unit vector by definition; a writer's
  // rounding (or a damaged file) can make it slightly longer or shorter, so
  // the direction is normalised before the rule is applied and used as the
  // Z row, as other readers of the format do: its length neither flips the
  // choice of axis nor scales heights.
  TGIS_Coord3D unit = Point3(n.X, n.Y, n.Z);
  if (!Normalise(unit)) return false;
  // The format's rule: a direction close to the world Z axis takes its X axis
  // from world Y x N, any other from world Z x N.
  const double kLimit = 1.0 / 64.0;
  const TGIS_Coord3D w = (std::fabs(unit.X) < kLimit && std::fabs(unit.Y) < kLimit)
                             ? Point3(0.0, 1.0, 0.0)
                             : Point3(0.0, 0.0, 1.0);
  TGIS_Coord3D x = Cross(w, unit);
  if (!Normalise(x)) return false;
  TGIS_Coord3D y = Cross(unit, x);
  if (!Normalise(y)) return false;
  ax = x;
  ay = y;
  return true;
}

bool DxfObjectMatrix(const TGIS_Coord3D& n, TGIS_DxfMatrix& out) {
  if (n.X == 0.0 && n.Y == 0.0 && n.Z == 1.0) {
    out = TGIS_DxfMatrix::Identity();
    return true;
  }
  TGIS_Coord3D ax, ay;
  if (!DxfArbitraryAxes(n, ax, ay)) return false;
  TGIS_Coord3D unit = Point3(n.X, n.Y, n.Z);
  if (!Normalise(unit)) return false;
  TGIS_DxfMatrix r = TGIS_DxfMatrix::Identity();
  const TGIS_Coord3D rows[3] = {ax, ay, unit};
  for (int i = 0; i < 3; ++i) {
    r.M[i][0] = rows[i].X;
    r.M[i][1] = rows[i].Y;
    r.M[i][2] = rows[i].Z;
    r.M[i][3] = 0.0;
  }
  out = r;
  return true;
}

bool DxfInsertMatrix(const TGIS_Coord3D& basePoint, const TGIS_Coord3D& scale,
                     double rotationRadians, const TGIS_Coord3D& insertion,
                     const TGIS_Coord3D& extrusion, TGIS_DxfMatrix& out) {
  TGIS_DxfMatrix o;
  if (!DxfObjectMatrix(extrusion, o)) return false;
  TGIS_DxfMatrix m = TGIS_DxfMatrix::Translation(-basePoint.X, -basePoint.Y, -basePoint.Z);
  m = DxfMatrixMultiply(m, TGIS_DxfMatrix::Scale(scale.X, scale.Y, scale.Z));
  m = DxfMatrixMultiply(m, TGIS_DxfMatrix::RotationZ(rotationRadians));
  m = DxfMatrixMultiply(m, TGIS_DxfMatrix::Translation(insertion.X, insertion.Y, insertion.Z));
  out = DxfMatrixMultiply(m, o);
  return true;
}

int DxfArcSegments(double sweepRadians) {
  const double turns = std::fabs(sweepRadians) / kTwoPi;
  if (!std::isfinite(turns)) return kDxfSegmentsPerTurn;
  // A small allowance keeps exact fractions of a turn (a half circle gives
  // 20, not 21) from being pushed up by rounding.
  const double wanted = std::ceil(turns * kDxfSegmentsPerTurn - 1e-9);
  if (wanted < 1.0) return 1;
  if (wanted > 1e6) return 1000000;  // unreachable from file data (|sweep| <= 2 pi)
  return static_cast<int>(wanted);
}

namespace {

// The turn of a bulge and the unit vectors of its intermediate points,
// rotated from the start: a polyline's bulges mostly repeat (fillets of one
// radius, arcs drawn by the same command), so each thread keeps the last one.
struct TBulgeTurns {
  double Bulge = 0.0;  // 0: nothing kept yet
  double Angle = 0.0;
  int Segments = 0;
  double Cos[kDxfSegmentsPerTurn];
  double Sin[kDxfSegmentsPerTurn];
};

const TBulgeTurns& BulgeTurns(double bulge) {
  thread_local TBulgeTurns turns;
  if (turns.Bulge != bulge) {
    turns.Bulge = 0.0;  // half-filled tables are never taken for kept ones
    turns.Angle = 4.0 * std::atan(bulge);
    turns.Segments = DxfArcSegments(turns.Angle);
    for (int i = 1; i < turns.Segments; ++i) {
      const double a = turns.Angle * (static_cast<double>(i) / turns.Segments);
      turns.Cos[i] = std::cos(a);
      turns.Sin[i] = std::sin(a);
    }
    turns.Bulge = bulge;
  }
  return turns;
}

}  // namespace

void DxfAppendBulgeSegment(const TGIS_Coord3D& from, const TGIS_Coord3D& to, double bulge,
                           std::vector<TGIS_Coord3D>& out) {
  const TGIS_Coord3D end = Point3(to.X, to.Y, to.Z);
  const double cx = to.X - from.X;
  const double cy = to.Y - from.Y;
  // The chord's length only matters when it is zero or beyond the doubles;
  // below 2^500 a side its square cannot overflow.
  constexpr double kSafeSide = 0x1p500;
  const bool plainChord = std::fabs(cx) < kSafeSide && std::fabs(cy) < kSafeSide;
  if (bulge == 0.0 || !std::isfinite(bulge) || (cx == 0.0 && cy == 0.0) ||
      (!plainChord && !std::isfinite(std::hypot(cx, cy)))) {
    out.push_back(end);
    return;
  }
  // Included angle 4 atan(b); the centre lies on the chord's perpendicular
  // bisector, (chord / 2) cot(angle / 2) = (chord / 2)(1 - b^2) / (2b) to the
  // left of the chord direction (to the right for b < 0): the chord's unit
  // normal times that offset is the normal (-cy, cx) times (1 - b^2) / (4b).
  const TBulgeTurns& turns = BulgeTurns(bulge);
  const double k = (1.0 - bulge * bulge) / (4.0 * bulge);
  const double centreX = from.X + 0.5 * cx - cy * k;
  const double centreY = from.Y + 0.5 * cy + cx * k;
  // The points are the start's radius vector turned about the centre.
  const double rx = from.X - centreX;
  const double ry = from.Y - centreY;
  if (!plainChord || !std::isfinite(rx) || !std::isfinite(ry)) {
    // Beyond the doubles' comfortable range the angles are taken one by one.
    const double radius = std::hypot(rx, ry);
    const double startAngle = std::atan2(ry, rx);
    for (int i = 1; i < turns.Segments; ++i) {
      const double t = static_cast<double>(i) / turns.Segments;
      const double a = startAngle + turns.Angle * t;
      out.push_back(Point3(centreX + radius * std::cos(a), centreY + radius * std::sin(a),
                           from.Z + (to.Z - from.Z) * t));
    }
    out.push_back(end);
    return;
  }
  for (int i = 1; i < turns.Segments; ++i) {
    const double t = static_cast<double>(i) / turns.Segments;
    const double c = turns.Cos[i];
    const double s = turns.Sin[i];
    out.push_back(Point3(centreX + (rx * c - ry * s), centreY + (ry * c + rx * s),
                         from.Z + (to.Z - from.Z) * t));
  }
  out.push_back(end);
}

void DxfFlattenBulgePolyline(const std::vector<TGIS_DxfBulgeVertex>& vertices, bool closed,
                             std::vector<TGIS_Coord3D>& out) {
  if (vertices.empty()) return;
  const TGIS_Coord3D& first = vertices.front().Point;
  out.push_back(Point3(first.X, first.Y, first.Z));
  for (std::size_t i = 0; i + 1 < vertices.size(); ++i)
    DxfAppendBulgeSegment(vertices[i].Point, vertices[i + 1].Point, vertices[i].Bulge, out);
  if (!closed || vertices.size() < 2) return;
  const TGIS_DxfBulgeVertex& last = vertices.back();
  if (last.Point.X == first.X && last.Point.Y == first.Y) return;
  DxfAppendBulgeSegment(last.Point, first, last.Bulge, out);
}

void DxfAppendArcEdge(const TGIS_Coord& centre, double radius, double startDegrees,
                      double endDegrees, bool ccw, double z, std::vector<TGIS_Coord3D>& out) {
  const double span = DegToRad(SpanDegrees(startDegrees, endDegrees));
  // Clockwise arcs are stored mirrored: the arc runs clockwise from -start.
  const double start = DegToRad(ccw ? startDegrees : -startDegrees);
  const double sweep = ccw ? span : -span;
  const int segments = span == 0.0 ? 0 : DxfArcSegments(sweep);
  for (int i = 0; i <= segments; ++i) {
    const double a = segments == 0 ? start : start + sweep * i / segments;
    out.push_back(Point3(centre.X + radius * std::cos(a), centre.Y + radius * std::sin(a), z));
  }
}

void DxfAppendEllipseEdge(const TGIS_Coord& centre, const TGIS_Coord& majorAxis, double ratio,
                          double startDegrees, double endDegrees, bool ccw, double z,
                          std::vector<TGIS_Coord3D>& out) {
  if (majorAxis.X == 0.0 && majorAxis.Y == 0.0) {
    out.push_back(Point3(centre.X, centre.Y, z));
    return;
  }
  // Angles are measured from the major axis; the parameter of angle a on an
  // ellipse of ratio r is atan2(sin a / r, cos a).
  const bool useRatio = std::isfinite(ratio) && ratio > 0.0;
  auto toParam = [&](double degrees) {
    const double a = DegToRad(degrees);
    return useRatio ? std::atan2(std::sin(a) / ratio, std::cos(a)) : a;
  };
  const double spanDeg = SpanDegrees(startDegrees, endDegrees);
  double span = 0.0;
  double startParam = toParam(startDegrees);
  if (spanDeg == 360.0) {
    span = kTwoPi;
  } else if (spanDeg > 0.0) {
    span = std::fmod(toParam(endDegrees) - startParam, kTwoPi);
    if (span <= 0.0) span += kTwoPi;
  }
  if (!ccw) startParam = -startParam;
  const double sweep = ccw ? span : -span;
  const double minorX = -majorAxis.Y * (useRatio ? ratio : 1.0);
  const double minorY = majorAxis.X * (useRatio ? ratio : 1.0);
  const int segments = span == 0.0 ? 0 : DxfArcSegments(sweep);
  for (int i = 0; i <= segments; ++i) {
    const double p = segments == 0 ? startParam : startParam + sweep * i / segments;
    const double c = std::cos(p);
    const double s = std::sin(p);
    out.push_back(Point3(centre.X + majorAxis.X * c + minorX * s,
                         centre.Y + majorAxis.Y * c + minorY * s, z));
  }
}

std::vector<std::vector<std::size_t>> DxfMeshParts(std::int64_t m, std::int64_t n,
                                                   std::size_t vertexCount) {
  std::vector<std::vector<std::size_t>> parts;
  if (m <= 0 || n <= 0 || vertexCount == 0) return parts;
  const auto count = static_cast<std::uint64_t>(vertexCount);
  const auto rows = static_cast<std::uint64_t>(m);
  const auto cols = static_cast<std::uint64_t>(n);
  // Index r·N + c, computed without overflow: a row starting at or beyond the
  // list ends the rows, and every later column index is larger still.
  auto index = [&](std::uint64_t r, std::uint64_t c, std::uint64_t& out) {
    if (r != 0 && cols > (count - 1) / r) return false;  // r·N alone reaches past the list
    const std::uint64_t rowStart = r * cols;
    if (rowStart >= count || c >= count - rowStart) return false;
    out = rowStart + c;
    return true;
  };
  for (std::uint64_t r = 0; r < rows; ++r) {
    std::vector<std::size_t> part;
    std::uint64_t idx = 0;
    for (std::uint64_t c = 0; c < cols && index(r, c, idx); ++c)
      part.push_back(static_cast<std::size_t>(idx));
    if (part.empty()) break;  // this row and all later ones lie past the list
    if (part.size() >= 2) parts.push_back(std::move(part));
  }
  for (std::uint64_t c = 0; c < cols && c < count; ++c) {
    std::vector<std::size_t> part;
    std::uint64_t idx = 0;
    for (std::uint64_t r = 0; r < rows && index(r, c, idx); ++r)
      part.push_back(static_cast<std::size_t>(idx));
    if (part.size() >= 2) parts.push_back(std::move(part));
  }
  return parts;
}

std::vector<std::size_t> DxfFaceIndexes(const std::int32_t (&numbers)[4], std::size_t vertexCount) {
  std::vector<std::size_t> out;
  for (std::int32_t v : numbers) {
    if (v == 0) continue;
    // Widen before taking the absolute value: -2^31 has none in 32 bits.
    const std::int64_t number = v < 0 ? -static_cast<std::int64_t>(v) : v;
    if (static_cast<std::uint64_t>(number) > vertexCount) continue;
    out.push_back(static_cast<std::size_t>(number - 1));
  }
  return out;
}

}  // namespace cadport
