// Shape measures, distances, extent and shape tests, point in polygon and
// clipping.
#include "kernel/vector/shape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace cadport {
namespace {

using Ring = std::vector<TGIS_Coord>;
using Rings = std::vector<Ring>;

// Rings are given open; AddPoint closes them.
std::unique_ptr<TGIS_ShapePolygon> Polygon(const Rings& rings) {
  auto p = std::make_unique<TGIS_ShapePolygon>();
  for (const Ring& ring : rings) {
    p->AddPart();
    for (const TGIS_Coord& c : ring) p->AddPoint(c);
  }
  return p;
}

std::unique_ptr<TGIS_ShapeArc> Line(const Rings& parts) {
  auto a = std::make_unique<TGIS_ShapeArc>();
  for (const Ring& part : parts) {
    a->AddPart();
    for (const TGIS_Coord& c : part) a->AddPoint(c);
  }
  return a;
}

std::unique_ptr<TGIS_ShapeMultipoint> Points(const Ring& points) {
  auto m = std::make_unique<TGIS_ShapeMultipoint>();
  m->AddPart();
  for (const TGIS_Coord& c : points) m->AddPoint(c);
  return m;
}

std::unique_ptr<TGIS_ShapePoint> PointAt(double x, double y) {
  auto p = std::make_unique<TGIS_ShapePoint>();
  p->AddPart();
  p->AddPoint({x, y});
  return p;
}

Ring Square(double x, double y, double size) {  // counter-clockwise
  return {{x, y}, {x + size, y}, {x + size, y + size}, {x, y + size}};
}

// ---- measures ----------------------------------------------------------------------

TEST(ShapeMeasures, AreaWithHoleAndWithSameOrientation) {
  // Outer 10x10 counter-clockwise; hole 4x4 clockwise.
  auto holed = Polygon({{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{3, 3}, {3, 7}, {7, 7}, {7, 3}}});
  EXPECT_DOUBLE_EQ(holed->Area(), 100 - 16);
  auto doubled = Polygon({{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{3, 3}, {7, 3}, {7, 7}, {3, 7}}});
  EXPECT_DOUBLE_EQ(doubled->Area(), 100 + 16);
  // Far from the origin the shifted coordinates keep the area exact.
  auto far = Polygon({{{1e9, 1e9}, {1e9 + 3, 1e9}, {1e9 + 3, 1e9 + 2}}});
  EXPECT_DOUBLE_EQ(far->Area(), 3);
  EXPECT_DOUBLE_EQ(holed->Length(), 40 + 16);
  EXPECT_DOUBLE_EQ(holed->PartLength(1), 16);
  EXPECT_EQ(holed->PartLength(2), 0);
  EXPECT_EQ(holed->PartLength(-1), 0);
  EXPECT_EQ(TGIS_ShapeArc().Length(), 0);
  EXPECT_EQ(Line({{{0, 0}, {3, 4}}})->Area(), 0);
}

TEST(ShapeMeasures, Centroids) {
  auto square = Polygon({{{2, 2}, {6, 2}, {6, 6}, {2, 6}}});
  EXPECT_DOUBLE_EQ(square->Centroid().X, 4);
  EXPECT_DOUBLE_EQ(square->Centroid().Y, 4);
  // Zero area: the centre of the extent.
  auto flat = Polygon({{{0, 0}, {10, 0}, {4, 0}}});
  EXPECT_EQ(flat->Area(), 0);
  EXPECT_DOUBLE_EQ(flat->Centroid().X, 5);
  EXPECT_DOUBLE_EQ(flat->Centroid().Y, 0);
  // Polyline: the point halfway along.
  auto line = Line({{{0, 0}, {10, 0}, {10, 10}}});
  EXPECT_DOUBLE_EQ(line->Centroid().X, 10);
  EXPECT_DOUBLE_EQ(line->Centroid().Y, 0);
  auto mp = Points({{0, 0}, {4, 2}, {1, 8}});
  EXPECT_DOUBLE_EQ(mp->Centroid().X, 2);
  EXPECT_DOUBLE_EQ(mp->Centroid().Y, 4);
  EXPECT_DOUBLE_EQ(PointAt(3, 4)->Centroid().Y, 4);
  // An L-shape's centroid lies outside; its label point does not.
  auto ell = Polygon({{{0, 0}, {10, 0}, {10, 1}, {1, 1}, {1, 10}, {0, 10}}});
  EXPECT_FALSE(PointInPolygon(ell->Centroid(), *ell, -1));
  EXPECT_TRUE(PointInPolygon(ell->LabelPoint(), *ell, -1));
}

TEST(ShapeMeasures, NearestVertex) {
  auto line = Line({{{0, 0}, {10, 0}}, {{5, 5}, {6, 6}}});
  double distance = 0;
  TGIS_Coord vertex{};
  line->NearestVertex({5.5, 5}, distance, vertex, 2);
  EXPECT_EQ(vertex.X, 5);
  EXPECT_EQ(vertex.Y, 5);
  EXPECT_DOUBLE_EQ(distance, 0.5);
  // Nothing closer than |tolerance|: the point itself comes back.
  line->NearestVertex({50, 50}, distance, vertex, -3);
  EXPECT_EQ(vertex.X, 50);
  EXPECT_EQ(vertex.Y, 50);
  EXPECT_EQ(distance, 3);
  TGIS_Coord3D v3{};
  line->NearestVertex3D({10, 0, 0, 0}, distance, v3, 1);
  EXPECT_EQ(v3.X, 10);
  EXPECT_EQ(distance, 0);
}

TEST(ShapeMeasures, IsWithinDistanceModes) {
  auto line = Line({{{0, 0}, {1, 0}, {9, 0}}});
  EXPECT_FALSE(line->IsWithinDistance({0, 0}, 0, 2));  // (9,0) is too far
  EXPECT_TRUE(line->IsWithinDistance({0, 0}, 0, 9));
  EXPECT_TRUE(line->IsWithinDistance({0, 0}, 2, 1));   // (1,0) is close
  EXPECT_FALSE(line->IsWithinDistance({0, 5}, 2, 1));
  EXPECT_TRUE(line->IsWithinDistance({4.5, 0}, 1, 0));  // the centroid
  EXPECT_FALSE(line->IsWithinDistance({0, 0}, 7, 100));
  EXPECT_TRUE(PointAt(0, 0)->IsWithinDistance({3, 4}, 99, 5));
  EXPECT_FALSE(TGIS_ShapePolygon().IsWithinDistance({0, 0}, 2, 1e9));
}

TEST(ShapeDistance, InsideARingTheDistanceIsCappedAndShortened) {
  auto square = Polygon({{{0, 0}, {20, 0}, {20, 20}, {0, 20}}});
  TGIS_Coord nearest{};
  // Inside, nearest edge 4 away, limit 10: min(10, 4) x 0.9.
  EXPECT_DOUBLE_EQ(square->DistanceToPart({4, 10}, 0, nearest, 10), 3.6);
  EXPECT_DOUBLE_EQ(nearest.X, 0);
  EXPECT_DOUBLE_EQ(nearest.Y, 10);
  // Edge farther than the limit: the limit, shortened; nearest stays the point.
  EXPECT_DOUBLE_EQ(square->DistanceToPart({10, 10}, 0, nearest, 2), 1.8);
  EXPECT_DOUBLE_EQ(nearest.X, 10);
  // A negative limit asks for the plain edge distance.
  EXPECT_DOUBLE_EQ(square->DistanceToPart({4, 10}, 0, nearest, -1), 4);
  // Outside: the plain distance.
  EXPECT_DOUBLE_EQ(square->Distance({25, 10}, 10), 5);
  EXPECT_EQ(TGIS_ShapeArc().Distance({0, 0}, 1), 1.7e308);
  auto mp = Points({{0, 0}, {3, 4}});
  EXPECT_DOUBLE_EQ(mp->Distance({3, 5}, 0), 1);
  auto line = Line({{{0, 0}, {10, 0}}});
  EXPECT_DOUBLE_EQ(line->DistanceToPart({5, 3}, 0, nearest, 0), 3);
  EXPECT_DOUBLE_EQ(nearest.X, 5);
  EXPECT_DOUBLE_EQ(nearest.Y, 0);
}

// ---- point in polygon ----------------------------------------------------------------

TEST(ShapePointInPolygon, EvenOddAcrossRings) {
  // Outer 0..30, hole 10..20, island 13..17 inside the hole.
  auto p = Polygon({Square(0, 0, 30), Square(10, 10, 10), Square(13, 13, 4)});
  EXPECT_TRUE(PointInPolygon({5, 5}, *p, -1));
  EXPECT_FALSE(PointInPolygon({11, 11}, *p, -1));  // in the hole
  EXPECT_TRUE(PointInPolygon({15, 15}, *p, -1));   // on the island
  EXPECT_FALSE(PointInPolygon({35, 5}, *p, -1));
  EXPECT_TRUE(PointInPolygon({11, 11}, *p, 0));    // one ring only
  EXPECT_TRUE(PointInPolygon({11, 11}, *p, 1));
  EXPECT_FALSE(PointInPolygon({5, 5}, *p, 1));
  EXPECT_FALSE(PointInPolygon({5, 5}, *p, 3));     // no such ring
  EXPECT_FALSE(PointInPolygon({5, 5}, *Line({Square(0, 0, 30)}), -1));
}

// ---- extent tests -----------------------------------------------------------------------

TEST(ShapeExtentTest, Modes) {
  auto line = Line({{{0, 0}, {10, 10}}});
  const TGIS_Bounds all{-1, -1, 11, 11};
  const TGIS_Bounds corner{-1, -1, 2, 2};
  const TGIS_Bounds middle{4, 4, 6, 6};
  EXPECT_TRUE(line->IsInsideExtent(all, 0));
  EXPECT_FALSE(line->IsInsideExtent(corner, 0));
  EXPECT_TRUE(line->IsInsideExtent(corner, 2));    // vertex (0,0) inside
  EXPECT_FALSE(line->IsInsideExtent(middle, 2));   // no vertex inside
  EXPECT_TRUE(line->IsInsideExtent(middle, 1));    // the centroid (5,5)
  EXPECT_FALSE(line->IsInsideExtent({20, 20, 30, 30}, 2));
  EXPECT_FALSE(line->IsInsideExtent(all, 3));
  // Degenerate extents make every test False.
  for (int mode = 0; mode < 3; ++mode) {
    EXPECT_FALSE(line->IsInsideExtent({0, 0, 0, 10}, mode));
    EXPECT_FALSE(line->IsInsideExtent({0, 5, 10, 5}, mode));
  }
  EXPECT_FALSE(TGIS_ShapeArc().IsInsideExtent(all, 0));
  // A vertical line (extent of zero width) still has vertices inside.
  auto vertical = Points({{5, 0}, {5, 20}});
  EXPECT_TRUE(vertical->IsInsideExtent({0, -5, 10, 5}, 2));
}

// ---- shape tests -------------------------------------------------------------------------

TEST(ShapeInsideShape, WithinAndInteriorsMeet) {
  auto big = Polygon({Square(0, 0, 10)});
  auto holed = Polygon({Square(0, 0, 10), Square(4, 4, 2)});
  auto small = Polygon({Square(2, 2, 3)});
  auto overHole = Polygon({Square(3, 3, 4)});
  auto neighbour = Polygon({Square(10, 0, 5)});
  auto crossing = Line({{{-5, 5}, {15, 5}}});
  auto inside = Line({{{1, 1}, {9, 1}, {9, 9}}});
  auto alongEdge = Line({{{0, 0}, {10, 0}}});

  EXPECT_TRUE(PointAt(5, 5)->IsInsideShape(*big, 0));
  EXPECT_FALSE(PointAt(5, 5)->IsInsideShape(*holed, 0));
  EXPECT_FALSE(PointAt(5, 5)->IsInsideShape(*alongEdge, 0));  // only polygons contain points

  EXPECT_TRUE(small->IsInsideShape(*big, 0));
  EXPECT_FALSE(big->IsInsideShape(*small, 0));
  EXPECT_TRUE(small->IsInsideShape(*small, 0));
  EXPECT_FALSE(overHole->IsInsideShape(*holed, 0));  // covers the hole
  EXPECT_TRUE(overHole->IsInsideShape(*big, 0));
  EXPECT_TRUE(inside->IsInsideShape(*big, 0));
  EXPECT_TRUE(alongEdge->IsInsideShape(*big, 0));    // boundary is not exterior
  EXPECT_FALSE(crossing->IsInsideShape(*big, 0));
  EXPECT_TRUE(Points({{1, 1}, {10, 10}})->IsInsideShape(*big, 0));
  EXPECT_FALSE(Points({{1, 1}, {11, 10}})->IsInsideShape(*big, 0));
  EXPECT_TRUE(Line({{{2, 0}, {5, 0}}})->IsInsideShape(*alongEdge, 0));
  EXPECT_FALSE(Line({{{2, 0}, {5, 1}}})->IsInsideShape(*alongEdge, 0));

  // Mode 1: the centroid.
  EXPECT_TRUE(crossing->IsInsideShape(*big, 1));
  EXPECT_FALSE(Polygon({Square(4.5, 4.5, 1)})->IsInsideShape(*holed, 1));

  // Mode 2: interiors meet.
  EXPECT_TRUE(crossing->IsInsideShape(*big, 2));
  EXPECT_FALSE(neighbour->IsInsideShape(*big, 2));    // they only touch
  EXPECT_TRUE(small->IsInsideShape(*big, 2));
  EXPECT_TRUE(big->IsInsideShape(*small, 2));
  EXPECT_FALSE(alongEdge->IsInsideShape(*big, 2));
  EXPECT_TRUE(Line({{{5, -5}, {5, 15}}})->IsInsideShape(*crossing, 2));  // lines cross
  EXPECT_FALSE(Line({{{15, 0}, {15, 15}}})->IsInsideShape(*crossing, 2));  // touch at an end
  EXPECT_FALSE(Polygon({Square(4.2, 4.2, 1)})->IsInsideShape(*holed, 2));  // in the hole

  EXPECT_FALSE(TGIS_ShapePolygon().IsInsideShape(*big, 0));
  EXPECT_FALSE(small->IsInsideShape(*big, 5));
}

// ---- clipping ------------------------------------------------------------------------------

TEST(ShapeClip, PolygonsInsideOutsideAndAcross) {
  const TGIS_Bounds window{0, 0, 10, 10};
  auto outside = Polygon({Square(20, 20, 5)});
  EXPECT_EQ(outside->ClipToExtent(window), nullptr);
  auto inside = Polygon({Square(2, 2, 3)});
  auto copy = inside->ClipToExtent(window);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy.get(), inside.get());
  EXPECT_EQ(copy->ExportGeometryBlob(), inside->ExportGeometryBlob());
  // Half in: the area halves and the rings stay closed.
  auto across = Polygon({Square(5, 2, 10), {{7, 4}, {7, 6}, {9, 6}, {9, 4}}});  // with a hole
  auto clipped = across->ClipToExtent(window);
  ASSERT_NE(clipped, nullptr);
  EXPECT_EQ(clipped->ShapeKind(), TGIS_ShapeKind::Polygon);
  EXPECT_DOUBLE_EQ(clipped->Area(), 5 * 8 - 4);
  ASSERT_EQ(clipped->GetNumParts(), 2);
  for (int part = 0; part < 2; ++part) {
    const int last = clipped->GetPartSize(part) - 1;
    EXPECT_TRUE(CoordsEqual(clipped->GetPoint(part, 0), clipped->GetPoint(part, last)));
  }
  EXPECT_TRUE(BoundsInside(clipped->Extent(), window));
  // Only touching the window along an edge: nothing with area is left.
  EXPECT_EQ(Polygon({Square(10, 0, 5)})->ClipToExtent(window), nullptr);
  // Around a corner: the corner point is part of the result.
  auto corner = Polygon({{{5, 5}, {15, 5}, {15, 15}, {5, 15}}});
  auto quarter = corner->ClipToExtent(window);
  ASSERT_NE(quarter, nullptr);
  EXPECT_DOUBLE_EQ(quarter->Area(), 25);
}

TEST(ShapeClip, PolylineLeavingAndReentering) {
  const TGIS_Bounds window{0, 0, 10, 10};
  // In at (2,5), out through the right side, back in, ends at (3,8).
  auto line = Line({{{2, 5}, {15, 5}, {15, 8}, {3, 8}}});
  auto clipped = line->ClipToExtent(window);
  ASSERT_NE(clipped, nullptr);
  ASSERT_EQ(clipped->GetNumParts(), 2);
  EXPECT_EQ(clipped->GetPartSize(0), 2);
  EXPECT_EQ(clipped->GetPartSize(1), 2);
  EXPECT_EQ(clipped->GetPoint(0, 1).X, 10);
  EXPECT_EQ(clipped->GetPoint(1, 0).X, 10);
  EXPECT_EQ(clipped->GetPoint(1, 1).X, 3);
  EXPECT_DOUBLE_EQ(clipped->Length(), 8 + 7);
  // A piece running exactly along the border is dropped and splits the part.
  auto border = Line({{{5, 5}, {10, 5}, {10, 8}, {5, 8}, {5, 12}}});
  auto split = border->ClipToExtent(window);
  ASSERT_NE(split, nullptr);
  EXPECT_EQ(split->GetNumParts(), 2);
  EXPECT_EQ(split->GetPartSize(1), 3);
  EXPECT_DOUBLE_EQ(split->Length(), 5 + 5 + 2);
  // A line wholly inside (its border pieces included) comes back as a copy.
  EXPECT_EQ(Line({{{0, 0}, {10, 0}}})->ClipToExtent(window)->GetNumPoints(), 2);
  // Along the border only, or outside: nothing.
  EXPECT_EQ(Line({{{0, 0}, {10, 0}, {10, -5}}})->ClipToExtent(window), nullptr);
  EXPECT_EQ(Line({{{20, 0}, {30, 0}}})->ClipToExtent(window), nullptr);
  // Vertices that are not exact binary fractions still join into one part.
  auto uneven = Line({{{0.1, 0.1}, {0.3, 0.7}, {0.9, 0.2}, {5, 0.2}}})->ClipToExtent({0, 0, 1, 1});
  ASSERT_NE(uneven, nullptr);
  EXPECT_EQ(uneven->GetNumParts(), 1);
  EXPECT_EQ(uneven->GetNumPoints(), 4);
  // A vertical line crossing the window (dx = 0).
  auto vertical = Line({{{5, -5}, {5, 20}}})->ClipToExtent(window);
  ASSERT_NE(vertical, nullptr);
  EXPECT_EQ(vertical->GetPoint(0, 0).Y, 0);
  EXPECT_EQ(vertical->GetPoint(0, 1).Y, 10);
}

TEST(ShapeClip, PointsAndMultipoints) {
  const TGIS_Bounds window{0, 0, 10, 10};
  EXPECT_NE(PointAt(10, 10)->ClipToExtent(window), nullptr);  // closed intervals
  EXPECT_EQ(PointAt(11, 10)->ClipToExtent(window), nullptr);
  auto mp = Points({{1, 1}, {20, 20}, {10, 5}});
  auto clipped = mp->ClipToExtent(window);
  ASSERT_NE(clipped, nullptr);
  EXPECT_EQ(clipped->GetNumPoints(), 2);
  EXPECT_TRUE(BoundsEqual(clipped->Extent(), {1, 1, 10, 5}));
  EXPECT_EQ(Points({{20, 20}, {30, 1}})->ClipToExtent(window), nullptr);
}

}  // namespace
}  // namespace cadport
