#include "kernel/base/types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace cadport {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void ExpectBounds(const TGIS_Bounds& b, double xMin, double yMin, double xMax, double yMax) {
  EXPECT_EQ(b.XMin, xMin);
  EXPECT_EQ(b.YMin, yMin);
  EXPECT_EQ(b.XMax, xMax);
  EXPECT_EQ(b.YMax, yMax);
}

TEST(Bounds, SpecialValues) {
  ExpectBounds(NullBounds(), 1, 1, -1, -1);
  const TGIS_Bounds3D n3 = NullBounds3D();
  EXPECT_EQ(n3.XMin, 1);
  EXPECT_EQ(n3.ZMin, 1);
  EXPECT_EQ(n3.ZMax, -1);
  EXPECT_TRUE(IsNullBounds3D(n3));
  ExpectBounds(UnboundedBounds(), -8.5e307, -8.5e307, 8.5e307, 8.5e307);
  // Widths of the unbounded extent stay finite.
  EXPECT_TRUE(std::isfinite(UnboundedBounds().XMax - UnboundedBounds().XMin));
}

TEST(Bounds, NullRule) {
  struct Case {
    TGIS_Bounds b;
    bool null;
  } cases[] = {
      {NullBounds(), true},
      {{2, 2, 2, 2}, false},  // a single point is an extent
      {{3, 0, 2, 1}, true},
      {{0, 3, 1, 2}, true},
      {{0, 0, 0, 0}, false},  // the zero extent covers the origin
      {{kNaN, 0, 1, 1}, true},
      {{0, 0, 1, kNaN}, true},
      {UnboundedBounds(), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsNullBounds(c.b), c.null) << c.b.XMin << " " << c.b.YMin << " " << c.b.XMax << " "
                                         << c.b.YMax;
  }
  EXPECT_TRUE(IsNullBounds3D({0, 0, 1, 1, 1, 0}));   // Z reversed
  EXPECT_FALSE(IsNullBounds3D({0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(IsNullBounds3D({0, 0, kNaN, 1, 1, 1}));
}

TEST(Bounds, Unbounded) {
  EXPECT_TRUE(IsUnbounded(UnboundedBounds()));
  EXPECT_FALSE(IsUnbounded({-1e306, -1e306, 1e306, 1e306}));
  EXPECT_FALSE(IsUnbounded({-8.5e306, -9e306, 9e306, 9e306}));  // strict on every side
  EXPECT_TRUE(IsUnbounded({-9e306, -9e306, 9e306, 9e306}));
  EXPECT_FALSE(IsUnbounded({-9e306, -9e306, 9e306, 1}));
}

TEST(Bounds, Union) {
  const TGIS_Bounds e{10, 20, 30, 40};
  ExpectBounds(BoundsUnion(NullBounds(), e), 10, 20, 30, 40);
  ExpectBounds(BoundsUnion(e, NullBounds()), 10, 20, 30, 40);
  // Two null extents: the second one.
  const TGIS_Bounds otherNull{5, 5, -5, -5};
  ExpectBounds(BoundsUnion(NullBounds(), otherNull), 5, 5, -5, -5);
  // The zero extent is not null: the union stretches to the origin.
  ExpectBounds(BoundsUnion({0, 0, 0, 0}, e), 0, 0, 30, 40);
  ExpectBounds(BoundsUnion({-1, 25, 5, 50}, e), -1, 20, 30, 50);
  // Accumulating points from the null extent.
  TGIS_Bounds acc = NullBounds();
  for (const TGIS_Coord p : {TGIS_Coord{3, -1}, TGIS_Coord{-2, 4}, TGIS_Coord{1, 1}}) {
    acc = BoundsUnion(acc, {p.X, p.Y, p.X, p.Y});
  }
  ExpectBounds(acc, -2, -1, 3, 4);
}

TEST(Bounds, OverlapInsideIntersection) {
  const TGIS_Bounds a{0, 0, 5, 5};
  const TGIS_Bounds touching{5, 1, 8, 3};  // shares the edge X = 5
  EXPECT_TRUE(BoundsOverlap(a, touching));
  ExpectBounds(BoundsIntersection(a, touching), 5, 1, 5, 3);
  EXPECT_TRUE(BoundsOverlap(a, {5, 5, 6, 6}));  // corner only
  ExpectBounds(BoundsIntersection(a, {5, 5, 6, 6}), 5, 5, 5, 5);

  const TGIS_Bounds disjoint{10, 10, 20, 20};
  EXPECT_FALSE(BoundsOverlap(a, disjoint));
  ExpectBounds(BoundsIntersection(a, disjoint), 0, 0, 0, 0);
  EXPECT_FALSE(IsNullBounds(BoundsIntersection(a, disjoint)));

  ExpectBounds(BoundsIntersection(a, {2, -3, 9, 4}), 2, 0, 5, 4);

  EXPECT_TRUE(BoundsInside(a, a));
  EXPECT_TRUE(BoundsInside({1, 1, 2, 2}, a));
  EXPECT_FALSE(BoundsInside({1, 1, 6, 2}, a));
  EXPECT_FALSE(BoundsInside(a, {1, 1, 2, 2}));
  EXPECT_TRUE(BoundsInside(a, UnboundedBounds()));
}

TEST(Bounds, AreaCenterEqual) {
  EXPECT_EQ(BoundsArea({1, 2, 4, 6}), 12);
  EXPECT_EQ(BoundsArea(NullBounds()), 4);  // computed as is
  const TGIS_Coord c = BoundsCenter({1, 2, 4, 6});
  EXPECT_EQ(c.X, 2.5);
  EXPECT_EQ(c.Y, 4);
  // No overflow for the unbounded extent.
  EXPECT_EQ(BoundsCenter(UnboundedBounds()).X, 0);
  EXPECT_TRUE(BoundsEqual({1, 2, 3, 4}, MakeBounds(1, 2, 3, 4)));
  EXPECT_FALSE(BoundsEqual({1, 2, 3, 4}, {1, 2, 3, 4.000000000000001}));
  ExpectBounds(MakeBounds(5, 5, 1, 1), 5, 5, 1, 1);  // no normalisation
}

TEST(Coords, ConstructionAndEquality) {
  const TGIS_Coord3D c3 = Coord3DFromCoord(MakeCoord(1, 2));
  EXPECT_EQ(c3.X, 1);
  EXPECT_EQ(c3.Y, 2);
  EXPECT_EQ(c3.Z, 0);
  EXPECT_EQ(c3.M, 0);
  const TGIS_Coord c = CoordFromCoord3D(MakeCoord3D(7, 8, 9, 10));
  EXPECT_TRUE(CoordsEqual(c, {7, 8}));
  EXPECT_FALSE(CoordsEqual(c, {7, 8.0000001}));
  EXPECT_TRUE(Coords3DEqual({1, 2, 3, 4}, {1, 2, 3, 5}));  // M not compared
  EXPECT_FALSE(Coords3DEqual({1, 2, 3, 4}, {1, 2, 4, 4}));
  EXPECT_TRUE(CoordsEqual(CoordAdd({1, 2}, {10, 20}), {11, 22}));
  EXPECT_EQ(MinOf(3, -2), -2);
  EXPECT_EQ(MaxOf(3, -2), 3);
}

TEST(Coords, Distances) {
  EXPECT_EQ(CoordDistance({0, 0}, {3, 4}), 5);
  EXPECT_EQ(CoordDistance3D({0, 0, 0, 7}, {2, 3, 6, -1}), 7);  // Z counts, M does not
  EXPECT_GE(CoordDistance3D({1, 1, 1, 0}, {1, 1, 1, 0}), 0);

  const TGIS_Coord a{0, 0};
  const TGIS_Coord b{10, 0};
  EXPECT_DOUBLE_EQ(SegmentDistance(a, b, {5, 3}), 3);
  EXPECT_DOUBLE_EQ(SegmentDistance(a, b, {5, -3}), 3);
  EXPECT_DOUBLE_EQ(SegmentDistance(a, b, {13, 4}), 5);    // beyond B: distance to B
  EXPECT_DOUBLE_EQ(SegmentDistance(a, b, {-3, -4}), 5);   // before A: distance to A
  EXPECT_DOUBLE_EQ(SegmentDistance(a, a, {3, 4}), 5);     // zero-length segment
  EXPECT_DOUBLE_EQ(SegmentDistance({1, 1}, {4, 5}, {4, 5}), 0);
  EXPECT_DOUBLE_EQ(SegmentDistance({0, 0}, {2, 2}, {0, 2}), std::sqrt(2.0));
}

TEST(Coords, SegmentNearestPoint) {
  const TGIS_Coord a{0, 0};
  const TGIS_Coord b{10, 0};
  EXPECT_TRUE(CoordsEqual(SegmentNearestPoint(a, b, {4, 7}), {4, 0}));
  EXPECT_TRUE(CoordsEqual(SegmentNearestPoint(a, b, {12, 1}), b));
  EXPECT_TRUE(CoordsEqual(SegmentNearestPoint(a, b, {-2, 1}), a));
  EXPECT_TRUE(CoordsEqual(SegmentNearestPoint(a, a, {5, 5}), a));
  // Equally far from both ends with t outside [0, 1] (here t is not even a
  // number: the segment's squared length underflows to 0): ties go to B.
  const TGIS_Coord tinyB{1e-200, 0};
  EXPECT_TRUE(CoordsEqual(SegmentNearestPoint(a, tinyB, {5e-201, 1}), tinyB));
  EXPECT_TRUE(CoordsEqual(SegmentNearestPoint(a, tinyB, {1, 1}), tinyB));
}

TEST(Coords, Rotate) {
  const TGIS_Coord r = CoordRotate({1, 1}, {2, 1}, std::numbers::pi / 2);
  EXPECT_NEAR(r.X, 1, 1e-15);
  EXPECT_NEAR(r.Y, 2, 1e-15);  // counter-clockwise
  const TGIS_Coord back = CoordRotate({1, 1}, r, -std::numbers::pi / 2);
  EXPECT_NEAR(back.X, 2, 1e-15);
  EXPECT_NEAR(back.Y, 1, 1e-15);
  EXPECT_TRUE(CoordsEqual(CoordRotate({5, 5}, {7, 9}, 0), {7, 9}));
}

}  // namespace
}  // namespace cadport
