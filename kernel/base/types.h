#pragma once

// Coordinate and extent records and the free functions that combine them.
//
// All comparisons are exact: no tolerance is applied anywhere here.  The
// null extent (1, 1, -1, -1) means "no extent yet" and starts every
// accumulation; UnboundedBounds() means "everything".  Intervals are closed,
// so a single point is a valid (non-null) extent.

#include <cmath>

namespace cadport {

struct TGIS_Coord {
  double X = 0;
  double Y = 0;
};

struct TGIS_Coord3D {
  double X = 0;
  double Y = 0;
  double Z = 0;
  double M = 0;
};

struct TGIS_Bounds {
  double XMin = 0;
  double YMin = 0;
  double XMax = 0;
  double YMax = 0;
};

struct TGIS_Bounds3D {
  double XMin = 0;
  double YMin = 0;
  double ZMin = 0;
  double XMax = 0;
  double YMax = 0;
  double ZMax = 0;
};

// Half of the largest double: widths and sums of the unbounded extent stay
// finite.
inline constexpr double kUnboundedLimit = 8.5e307;
// An extent is taken as unbounded beyond a tenth of that limit.
inline constexpr double kUnboundedThreshold = 8.5e306;

// --- construction ----------------------------------------------------------

inline constexpr TGIS_Coord MakeCoord(double x, double y) noexcept { return {x, y}; }

inline constexpr TGIS_Coord3D MakeCoord3D(double x, double y, double z, double m) noexcept {
  return {x, y, z, m};
}

inline constexpr TGIS_Coord3D Coord3DFromCoord(const TGIS_Coord& c) noexcept {
  return {c.X, c.Y, 0, 0};
}

inline constexpr TGIS_Coord CoordFromCoord3D(const TGIS_Coord3D& c) noexcept { return {c.X, c.Y}; }

// Stored as given: no normalisation of swapped corners.
inline constexpr TGIS_Bounds MakeBounds(double xMin, double yMin, double xMax,
                                        double yMax) noexcept {
  return {xMin, yMin, xMax, yMax};
}

inline constexpr TGIS_Bounds NullBounds() noexcept { return {1, 1, -1, -1}; }

inline constexpr TGIS_Bounds3D NullBounds3D() noexcept { return {1, 1, 1, -1, -1, -1}; }

inline constexpr TGIS_Bounds UnboundedBounds() noexcept {
  return {-kUnboundedLimit, -kUnboundedLimit, kUnboundedLimit, kUnboundedLimit};
}

// --- predicates --------------------------------------------------------------

// Null unless both intervals are well ordered; written as a negation so that
// any NaN member makes the extent null.
inline constexpr bool IsNullBounds(const TGIS_Bounds& b) noexcept {
  return !(b.XMax >= b.XMin && b.YMax >= b.YMin);
}

inline constexpr bool IsNullBounds3D(const TGIS_Bounds3D& b) noexcept {
  return !(b.XMax >= b.XMin && b.YMax >= b.YMin && b.ZMax >= b.ZMin);
}

inline constexpr bool IsUnbounded(const TGIS_Bounds& b) noexcept {
  return b.XMin < -kUnboundedThreshold && b.YMin < -kUnboundedThreshold &&
         b.XMax > kUnboundedThreshold && b.YMax > kUnboundedThreshold;
}

inline constexpr bool BoundsEqual(const TGIS_Bounds& a, const TGIS_Bounds& b) noexcept {
  return a.XMin == b.XMin && a.YMin == b.YMin && a.XMax == b.XMax && a.YMax == b.YMax;
}

inline constexpr bool CoordsEqual(const TGIS_Coord& a, const TGIS_Coord& b) noexcept {
  return a.X == b.X && a.Y == b.Y;
}

// M is deliberately not compared.
inline constexpr bool Coords3DEqual(const TGIS_Coord3D& a, const TGIS_Coord3D& b) noexcept {
  return a.X == b.X && a.Y == b.Y && a.Z == b.Z;
}

// Closed intervals: extents touching along an edge or at a corner overlap.
inline constexpr bool BoundsOverlap(const TGIS_Bounds& a, const TGIS_Bounds& b) noexcept {
  return a.XMin <= b.XMax && a.XMax >= b.XMin && a.YMin <= b.YMax && a.YMax >= b.YMin;
}

// An extent is inside itself.
inline constexpr bool BoundsInside(const TGIS_Bounds& inner, const TGIS_Bounds& outer) noexcept {
  return inner.XMin >= outer.XMin && inner.XMax <= outer.XMax && inner.YMin >= outer.YMin &&
         inner.YMax <= outer.YMax;
}

// --- arithmetic --------------------------------------------------------------

inline constexpr double MinOf(double a, double b) noexcept { return a < b ? a : b; }
inline constexpr double MaxOf(double a, double b) noexcept { return a > b ? a : b; }

// A null operand is ignored; the union of two null extents is the second one.
inline constexpr TGIS_Bounds BoundsUnion(const TGIS_Bounds& a, const TGIS_Bounds& b) noexcept {
  if (IsNullBounds(a)) return b;
  if (IsNullBounds(b)) return a;
  return {MinOf(a.XMin, b.XMin), MinOf(a.YMin, b.YMin), MaxOf(a.XMax, b.XMax),
          MaxOf(a.YMax, b.YMax)};
}

// Disjoint extents give the zero extent (0, 0, 0, 0), which is not null.
inline constexpr TGIS_Bounds BoundsIntersection(const TGIS_Bounds& a,
                                                const TGIS_Bounds& b) noexcept {
  if (!BoundsOverlap(a, b)) return {0, 0, 0, 0};
  return {MaxOf(a.XMin, b.XMin), MaxOf(a.YMin, b.YMin), MinOf(a.XMax, b.XMax),
          MinOf(a.YMax, b.YMax)};
}

// Computed as is: meaningless (possibly negative) for a null extent.
inline constexpr double BoundsArea(const TGIS_Bounds& b) noexcept {
  return (b.XMax - b.XMin) * (b.YMax - b.YMin);
}

inline constexpr TGIS_Coord BoundsCenter(const TGIS_Bounds& b) noexcept {
  return {b.XMin + (b.XMax - b.XMin) / 2, b.YMin + (b.YMax - b.YMin) / 2};
}

inline constexpr TGIS_Coord CoordAdd(const TGIS_Coord& a, const TGIS_Coord& d) noexcept {
  return {a.X + d.X, a.Y + d.Y};
}

inline double CoordDistance(const TGIS_Coord& a, const TGIS_Coord& b) noexcept {
  const double dx = b.X - a.X;
  const double dy = b.Y - a.Y;
  return std::sqrt(dx * dx + dy * dy);
}

// Spatial distance: Z takes part, M does not.
inline double CoordDistance3D(const TGIS_Coord3D& a, const TGIS_Coord3D& b) noexcept {
  const double dx = b.X - a.X;
  const double dy = b.Y - a.Y;
  const double dz = b.Z - a.Z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Distance from p to the segment a-b (to a when the segment has no length).
double SegmentDistance(const TGIS_Coord& a, const TGIS_Coord& b, const TGIS_Coord& p) noexcept;

// The point of segment a-b nearest to p; beyond the segment the nearer end,
// ties going to b.
TGIS_Coord SegmentNearestPoint(const TGIS_Coord& a, const TGIS_Coord& b,
                               const TGIS_Coord& p) noexcept;

// p rotated about center by angle radians, counter-clockwise in a Y-up system.
TGIS_Coord CoordRotate(const TGIS_Coord& center, const TGIS_Coord& p, double angle) noexcept;

}  // namespace cadport
