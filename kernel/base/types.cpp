#include "kernel/base/types.h"

#include <cmath>

namespace cadport {

namespace {

// Position of p's projection along a-b, as a fraction of the segment.
inline double ProjectionParameter(const TGIS_Coord& a, const TGIS_Coord& b, const TGIS_Coord& p,
                                  double lengthSquared) noexcept {
  return ((p.X - a.X) * (b.X - a.X) + (p.Y - a.Y) * (b.Y - a.Y)) / lengthSquared;
}

inline double LengthSquared(const TGIS_Coord& a, const TGIS_Coord& b) noexcept {
  const double dx = b.X - a.X;
  const double dy = b.Y - a.Y;
  return dx * dx + dy * dy;
}

}  // namespace

double SegmentDistance(const TGIS_Coord& a, const TGIS_Coord& b, const TGIS_Coord& p) noexcept {
  if (CoordsEqual(a, b)) return CoordDistance(a, p);
  const double l2 = LengthSquared(a, b);
  const double t = ProjectionParameter(a, b, p, l2);
  if (t >= 0 && t <= 1) {
    return std::fabs((a.Y - p.Y) * (b.X - a.X) - (a.X - p.X) * (b.Y - a.Y)) / l2 * std::sqrt(l2);
  }
  return t > 1 ? CoordDistance(b, p) : CoordDistance(a, p);
}

TGIS_Coord SegmentNearestPoint(const TGIS_Coord& a, const TGIS_Coord& b,
                               const TGIS_Coord& p) noexcept {
  if (CoordsEqual(a, b)) return a;
  const double l2 = LengthSquared(a, b);
  const double t = ProjectionParameter(a, b, p, l2);
  if (t >= 0 && t <= 1) return {a.X + t * (b.X - a.X), a.Y + t * (b.Y - a.Y)};
  // Beyond the segment: the nearer end, ties to b.
  return CoordDistance(a, p) >= CoordDistance(b, p) ? b : a;
}

TGIS_Coord CoordRotate(const TGIS_Coord& center, const TGIS_Coord& p, double angle) noexcept {
  const double dx = p.X - center.X;
  const double dy = p.Y - center.Y;
  const double c = std::cos(angle);
  const double s = std::sin(angle);
  return {center.X + dx * c - dy * s, center.Y + dx * s + dy * c};
}

}  // namespace cadport
