#include "kernel/dxf/dxf_geometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <thread>
#include <vector>

namespace cadport {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kEps = 1e-9;

TGIS_Coord3D P(double x, double y, double z = 0) { return TGIS_Coord3D{x, y, z, 0}; }

double Dist(const TGIS_Coord3D& a, double x, double y) { return std::hypot(a.X - x, a.Y - y); }

// Signed angle swept from a to b around c, in (-pi, pi].
double Turn(const TGIS_Coord3D& c, const TGIS_Coord3D& a, const TGIS_Coord3D& b) {
  const double d = std::atan2(b.Y - c.Y, b.X - c.X) - std::atan2(a.Y - c.Y, a.X - c.X);
  return std::remainder(d, 2 * kPi);
}

TEST(DxfArcSegments, FortyPerTurnAtLeastOne) {
  struct Case { double sweep; int want; };
  const Case cases[] = {{2 * kPi, 40}, {-2 * kPi, 40}, {kPi, 20}, {kPi / 2, 10},
                        {4 * std::atan(0.5), 12}, {1e-12, 1}, {0, 1},
                        {std::nan(""), 40}, {INFINITY, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sweep);
    EXPECT_EQ(DxfArcSegments(c.sweep), c.want);
  }
}

// Every bulge: the arc starts after `from`, ends exactly on `to`, keeps one
// radius around the centre from the chord and sweeps 4 atan(b) in the sign's
// direction.
TEST(DxfBulgeSegment, ArcFollowsTheFormatsDefinition) {
  struct Case { TGIS_Coord3D from, to; double bulge; };
  const Case cases[] = {
      {P(-1, 0), P(1, 0), 1},     {P(1, 0), P(-1, 0), 1},   {P(0, 0), P(2, 0), 0.5},
      {P(0, 0), P(2, 0), -0.5},   {P(3, 4), P(-2, 7), 2.5}, {P(0, 0), P(0, 5), -1},
      {P(10, 10), P(11, 10), 1e-4}, {P(0, 0), P(1, 1), -7},
      // Survey coordinates, and sides whose squares leave the doubles.
      {P(515994.7026039125, 4509884.969027216), P(515979.45859887946, 4509901.548365302), 0.3},
      {P(1e300, 0), P(-1e300, 0), 1},   {P(0, -3e200), P(0, 3e200), -0.25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from.X << "," << c.from.Y << " -> " << c.to.X << ","
                                    << c.to.Y << " b=" << c.bulge);
    std::vector<TGIS_Coord3D> pts;
    DxfAppendBulgeSegment(c.from, c.to, c.bulge, pts);
    const double angle = 4 * std::atan(c.bulge);
    ASSERT_EQ(pts.size(), static_cast<size_t>(DxfArcSegments(angle)));
    EXPECT_EQ(pts.back().X, c.to.X);
    EXPECT_EQ(pts.back().Y, c.to.Y);
    // Centre: on the bisector, (d/2)(1-b^2)/(2b) to the left of the chord.
    const double dx = c.to.X - c.from.X, dy = c.to.Y - c.from.Y, d = std::hypot(dx, dy);
    const double off = d / 2 * (1 - c.bulge * c.bulge) / (2 * c.bulge);
    const TGIS_Coord3D ctr = P((c.from.X + c.to.X) / 2 - dy / d * off,
                               (c.from.Y + c.to.Y) / 2 + dx / d * off);
    const double r = Dist(c.from, ctr.X, ctr.Y);
    EXPECT_NEAR(r, d / (2 * std::fabs(std::sin(angle / 2))), 1e-9 * (1 + r));
    double swept = 0;
    TGIS_Coord3D prev = c.from;
    for (const TGIS_Coord3D& p : pts) {
      EXPECT_NEAR(Dist(p, ctr.X, ctr.Y), r, 1e-9 * (1 + r));
      const double t = Turn(ctr, prev, p);
      EXPECT_GT(t * c.bulge, 0) << "every step turns the bulge's way";
      swept += t;
      prev = p;
    }
    EXPECT_NEAR(swept, angle, 1e-9);
  }
}

// The turns of the last bulge are kept between calls (per thread): a
// segment's points are those a fresh thread computes, whatever bulges were
// flattened before.
TEST(DxfBulgeSegment, PointsDoNotDependOnTheBulgesBefore) {
  const double bulges[] = {0.3, -0.3, 0.3, 0.3, 1, 2.5, 0.3, 1e-4, 1};
  for (double b : bulges) {
    SCOPED_TRACE(b);
    std::vector<TGIS_Coord3D> fresh;
    std::thread([&] { DxfAppendBulgeSegment(P(3, 4), P(-2, 7), b, fresh); }).join();
    std::vector<TGIS_Coord3D> pts;
    DxfAppendBulgeSegment(P(3, 4), P(-2, 7), b, pts);
    ASSERT_EQ(pts.size(), fresh.size());
    for (std::size_t k = 0; k < pts.size(); ++k) {
      EXPECT_EQ(pts[k].X, fresh[k].X);
      EXPECT_EQ(pts[k].Y, fresh[k].Y);
    }
  }
}

TEST(DxfBulgeSegment, HalfCirclesMakeTheUnitCircle) {
  std::vector<TGIS_DxfBulgeVertex> v = {{P(-1, 0), 1}, {P(1, 0), 1}};
  std::vector<TGIS_Coord3D> pts;
  DxfFlattenBulgePolyline(v, /*closed=*/true, pts);
  ASSERT_EQ(pts.size(), 41u);
  EXPECT_EQ(pts.front().X, -1);
  EXPECT_EQ(pts.back().X, -1);
  EXPECT_EQ(pts.back().Y, 0);
  EXPECT_EQ(pts[20].X, 1);
  EXPECT_EQ(pts[20].Y, 0);
  for (const TGIS_Coord3D& p : pts) EXPECT_NEAR(std::hypot(p.X, p.Y), 1, kEps);
  // Counter-clockwise from (-1, 0): the first half passes below the X axis.
  EXPECT_NEAR(pts[10].X, 0, kEps);
  EXPECT_NEAR(pts[10].Y, -1, kEps);
  EXPECT_NEAR(pts[30].Y, 1, kEps);
}

TEST(DxfBulgeSegment, StraightCasesGiveOnlyTheEnd) {
  const double bulges[] = {0, std::nan(""), INFINITY};
  for (double b : bulges) {
    std::vector<TGIS_Coord3D> pts;
    DxfAppendBulgeSegment(P(0, 0), P(3, 4, 2), b, pts);
    ASSERT_EQ(pts.size(), 1u);
    EXPECT_EQ(pts[0].X, 3);
    EXPECT_EQ(pts[0].Z, 2);
  }
  std::vector<TGIS_Coord3D> pts;
  DxfAppendBulgeSegment(P(1, 1), P(1, 1), 1, pts);  // zero chord
  EXPECT_EQ(pts.size(), 1u);
}

TEST(DxfBulgeSegment, ZRunsFromStartToEnd) {
  std::vector<TGIS_Coord3D> pts;
  DxfAppendBulgeSegment(P(0, 0, 2), P(2, 0, 4), 1, pts);
  ASSERT_EQ(pts.size(), 20u);
  EXPECT_NEAR(pts[9].Z, 3, kEps);
  EXPECT_EQ(pts.back().Z, 4);
}

TEST(DxfFlattenBulgePolyline, ClosingSegment) {
  struct Case {
    const char* name;
    std::vector<TGIS_DxfBulgeVertex> v;
    bool closed;
    size_t want;
  };
  const Case cases[] = {
      {"open square", {{P(0, 0), 0}, {P(1, 0), 0}, {P(1, 1), 0}}, false, 3},
      {"closed square", {{P(0, 0), 0}, {P(1, 0), 0}, {P(1, 1), 0}}, true, 4},
      {"already closed", {{P(0, 0), 0}, {P(1, 0), 0}, {P(0, 0), 0}}, true, 3},
      {"closing bulge", {{P(0, 0), 0}, {P(2, 0), 1}}, true, 1 + 1 + 20},
      {"single vertex", {{P(5, 5), 1}}, true, 1},
      {"empty", {}, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TGIS_Coord3D> pts;
    DxfFlattenBulgePolyline(c.v, c.closed, pts);
    ASSERT_EQ(pts.size(), c.want);
    if (c.closed && c.want > 1) {
      EXPECT_EQ(pts.back().X, pts.front().X);
      EXPECT_EQ(pts.back().Y, pts.front().Y);
    }
  }
}

struct MatrixCase {
  const char* name;
  TGIS_Coord3D base, scale;
  double rotationDeg;
  TGIS_Coord3D insertion, extrusion;
  TGIS_Coord3D in, want;
};

TEST(DxfInsertMatrix, BasePointScaleRotationInsertionExtrusion) {
  const TGIS_Coord3D one = P(1, 1, 1), up = P(0, 0, 1);
  const MatrixCase cases[] = {
      {"rotate+scale start", P(0, 0), P(2, 2, 2), 90, P(10, 0), up, P(0, 0), P(10, 0)},
      {"rotate+scale end", P(0, 0), P(2, 2, 2), 90, P(10, 0), up, P(1, 0), P(10, 2)},
      {"scale before rotation", P(0, 0), P(2, 1, 1), 90, P(10, 0), up, P(1, 0), P(10, 2)},
      {"scale y before rotation", P(0, 0), P(2, 1, 1), 90, P(10, 0), up, P(0, 1), P(9, 0)},
      {"mirror", P(0, 0), P(1, -1, 1), 0, P(0, 0), up, P(3, 4), P(3, -4)},
      {"base point", P(5, 5, 1), one, 0, P(100, 100), up, P(5, 5), P(100, 100, -1)},
      {"base point 2", P(5, 5, 1), one, 0, P(100, 100), up, P(6, 5), P(101, 100, -1)},
      {"base, scale, rotation", P(1, 1), P(3, 3, 3), 180, P(0, 0), up, P(2, 1), P(-3, 0)},
      {"flipped extrusion", P(0, 0), one, 0, P(10, 0), P(0, 0, -1), P(2, 3), P(-12, 3)},
      {"tilted extrusion", P(0, 0), one, 0, P(0, 0), P(1, 0, 0), P(1, 0), P(0, 1, 0)},
      {"unnormalised extrusion", P(0, 0), one, 0, P(0, 0), P(0, 0, -5), P(1, 2, 3), P(-1, 2, -3)},
  };
  for (const MatrixCase& c : cases) {
    SCOPED_TRACE(c.name);
    TGIS_DxfMatrix m;
    ASSERT_TRUE(DxfInsertMatrix(c.base, c.scale, c.rotationDeg * kPi / 180, c.insertion,
                                c.extrusion, m));
    const TGIS_Coord3D got = DxfMatrixApply(m, c.in);
    EXPECT_NEAR(got.X, c.want.X, kEps);
    EXPECT_NEAR(got.Y, c.want.Y, kEps);
    EXPECT_NEAR(got.Z, c.want.Z, kEps);
    EXPECT_EQ(got.M, 0);
  }
}

TEST(DxfInsertMatrix, NestedInsertsComposeInnerFirst) {
  // A point of an inner block placed at (1, 0) of an outer block that is
  // itself rotated by 90 degrees and placed at (10, 10).
  TGIS_DxfMatrix inner, outer;
  ASSERT_TRUE(DxfInsertMatrix(P(0, 0), P(1, 1, 1), 0, P(1, 0), P(0, 0, 1), inner));
  ASSERT_TRUE(DxfInsertMatrix(P(0, 0), P(1, 1, 1), kPi / 2, P(10, 10), P(0, 0, 1), outer));
  const TGIS_Coord3D got = DxfMatrixApply(DxfMatrixMultiply(inner, outer), P(1, 0));
  EXPECT_NEAR(got.X, 10, kEps);
  EXPECT_NEAR(got.Y, 12, kEps);
}

TEST(DxfInsertMatrix, DegenerateExtrusionIsRefused) {
  TGIS_DxfMatrix m = TGIS_DxfMatrix::Identity();
  const TGIS_Coord3D bad[] = {P(0, 0, 0), P(std::nan(""), 0, 1), P(INFINITY, 0, 0)};
  for (const TGIS_Coord3D& n : bad) {
    EXPECT_FALSE(DxfInsertMatrix(P(0, 0), P(1, 1, 1), 0, P(0, 0), n, m));
    EXPECT_FALSE(DxfObjectMatrix(n, m));
  }
}

TEST(DxfArbitraryAxes, FollowsTheFormatsRule) {
  struct Case { TGIS_Coord3D n, ax, ay; };
  const Case cases[] = {
      {P(0, 0, 1), P(1, 0, 0), P(0, 1, 0)},
      {P(0, 0, -1), P(-1, 0, 0), P(0, 1, 0)},
      {P(1, 0, 0), P(0, 1, 0), P(0, 0, 1)},
      {P(0, 1, 0), P(-1, 0, 0), P(0, 0, 1)},
      // Just inside the 1/64 limit: X axis from world Y x N.
      {P(0.01, 0, 1), P(0.99995000375, 0, -0.0099995000375), P(0, 1, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.n.X << "," << c.n.Y << "," << c.n.Z);
    TGIS_Coord3D ax, ay;
    ASSERT_TRUE(DxfArbitraryAxes(c.n, ax, ay));
    EXPECT_NEAR(ax.X, c.ax.X, 1e-9);
    EXPECT_NEAR(ax.Y, c.ax.Y, 1e-9);
    EXPECT_NEAR(ax.Z, c.ax.Z, 1e-9);
    EXPECT_NEAR(ay.X, c.ay.X, 1e-9);
    EXPECT_NEAR(ay.Y, c.ay.Y, 1e-9);
    EXPECT_NEAR(ay.Z, c.ay.Z, 1e-9);
  }
}

TEST(DxfArcEdge, DirectionsSpansAndEnds) {
  struct Case {
    const char* name;
    double start, end;
    bool ccw;
    size_t count;
    double firstDeg, lastDeg, midDeg;  // angles of first, last and middle point
  };
  const Case cases[] = {
      {"ccw quarter", 0, 90, true, 11, 0, 90, 45},
      {"ccw through zero", 350, 10, true, 4, 350, 10, 350 + 40.0 / 3},
      // Clockwise from 90 to 0 degrees is stored as 270..360.
      {"cw quarter", 270, 360, false, 11, 90, 0, 45},
      {"cw through zero", 350, 10, false, 4, 10, -10, 10 - 40.0 / 3},
      {"full circle", 0, 360, true, 41, 0, 0, 180},
      {"full circle cw", 0, 360, false, 41, 0, 0, 180},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TGIS_Coord3D> pts;
    DxfAppendArcEdge(TGIS_Coord{5, 5}, 2, c.start, c.end, c.ccw, 7, pts);
    ASSERT_EQ(pts.size(), c.count);
    auto at = [](double deg) {
      return P(5 + 2 * std::cos(deg * kPi / 180), 5 + 2 * std::sin(deg * kPi / 180), 7);
    };
    for (auto [p, deg] : {std::pair{pts.front(), c.firstDeg}, std::pair{pts.back(), c.lastDeg},
                          std::pair{pts[pts.size() / 2], c.midDeg}}) {
      EXPECT_NEAR(p.X, at(deg).X, kEps);
      EXPECT_NEAR(p.Y, at(deg).Y, kEps);
      EXPECT_EQ(p.Z, 7);
    }
    for (size_t i = 1; i < pts.size(); ++i) {
      EXPECT_GT(Turn(P(5, 5), pts[i - 1], pts[i]) * (c.ccw ? 1 : -1), 0);
    }
  }
  std::vector<TGIS_Coord3D> pts;
  DxfAppendArcEdge(TGIS_Coord{0, 0}, 1, 30, 30, true, 0, pts);
  EXPECT_EQ(pts.size(), 1u) << "equal angles: no sweep";
}

TEST(DxfEllipseEdge, AnglesAreMeasuredFromTheMajorAxis) {
  // Major axis (2, 0), ratio 0.5: a quarter from 0 to 45 degrees ends on the
  // 45-degree ray from the centre, not at parameter 45.
  std::vector<TGIS_Coord3D> pts;
  DxfAppendEllipseEdge(TGIS_Coord{1, 1}, TGIS_Coord{2, 0}, 0.5, 0, 45, true, 0, pts);
  ASSERT_GE(pts.size(), 2u);
  EXPECT_NEAR(pts.front().X, 3, kEps);
  EXPECT_NEAR(pts.front().Y, 1, kEps);
  EXPECT_NEAR(pts.back().X - 1, pts.back().Y - 1, kEps);
  for (const TGIS_Coord3D& p : pts) {
    const double x = p.X - 1, y = p.Y - 1;
    EXPECT_NEAR(x * x / 4 + y * y, 1, kEps);
  }
  // Clockwise: from -0 to -90 degrees: ends at (1, 0) below the centre.
  pts.clear();
  DxfAppendEllipseEdge(TGIS_Coord{1, 1}, TGIS_Coord{2, 0}, 0.5, 0, 90, false, 0, pts);
  EXPECT_NEAR(pts.back().X, 1, kEps);
  EXPECT_NEAR(pts.back().Y, 0, kEps);
  EXPECT_EQ(pts.size(), 11u);
  // Rotated major axis, full turn: 41 points, closed.
  pts.clear();
  DxfAppendEllipseEdge(TGIS_Coord{0, 0}, TGIS_Coord{0, 3}, 1.0 / 3, 0, 360, true, 0, pts);
  ASSERT_EQ(pts.size(), 41u);
  EXPECT_NEAR(pts.front().Y, 3, kEps);
  EXPECT_NEAR(pts.back().Y, 3, kEps);
  EXPECT_NEAR(pts[10].X, -1, kEps);
  // A zero major axis collapses to the centre.
  pts.clear();
  DxfAppendEllipseEdge(TGIS_Coord{4, 4}, TGIS_Coord{0, 0}, 0.5, 0, 90, true, 0, pts);
  ASSERT_EQ(pts.size(), 1u);
}

TEST(DxfMeshParts, RowsThenColumnsWithinTheVertexList) {
  using Parts = std::vector<std::vector<size_t>>;
  struct Case {
    const char* name;
    int64_t m, n;
    size_t count;
    Parts want;
  };
  const Case cases[] = {
      {"3 x 4",
       3, 4, 12,
       {{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11},
        {0, 4, 8}, {1, 5, 9}, {2, 6, 10}, {3, 7, 11}}},
      {"short list", 2, 3, 4, {{0, 1, 2}, {0, 3}}},
      {"M zero", 0, 4, 12, {}},
      {"N negative", 3, -1, 12, {}},
      {"no vertices", 3, 4, 0, {}},
      {"one column", 3, 1, 3, {{0, 1, 2}}},
      {"huge claims", INT64_MAX, INT64_MAX, 3, {{0, 1, 2}}},
      {"huge M", INT64_MAX, 2, 5, {{0, 1}, {2, 3}, {0, 2, 4}, {1, 3}}},
      {"huge N", 2, INT64_MAX, 3, {{0, 1, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DxfMeshParts(c.m, c.n, c.count), c.want);
  }
}

TEST(DxfFaceIndexes, NegativeNumbersAreInvisibleEdgesNotMissingCorners) {
  struct Case {
    int32_t v[4];
    size_t count;
    std::vector<size_t> want;
  };
  const Case cases[] = {
      {{1, 2, 3, 0}, 4, {0, 1, 2}},
      {{3, 4, -1, 0}, 4, {2, 3, 0}},
      {{-1, -2, -3, -4}, 4, {0, 1, 2, 3}},
      {{5, 1, 0, 0}, 4, {0}},
      {{INT32_MIN, INT32_MAX, 2, 0}, 4, {1}},
      {{0, 0, 0, 0}, 4, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.v[0] << " " << c.v[1] << " " << c.v[2] << " " << c.v[3]);
    EXPECT_EQ(DxfFaceIndexes(c.v, c.count), c.want);
  }
}

}  // namespace
}  // namespace cadport
