// POLYLINE, LWPOLYLINE, MPOLYGON and HATCH read from small drawings
// (tests/data/dxf/polylines, written by make_fixtures.py there).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "kernel/dxf/layer_dxf.h"
#include "tests/kernel/dxf/dxf_polylines_fixture.h"

namespace cadport {
namespace {

using dxftest::ByHandle;
using dxftest::ExpectNear;
using dxftest::ExpectPoints;
using dxftest::Fixture;
using dxftest::Load;
using dxftest::ShapeView;

constexpr double kEps = 1e-9;

void ExpectOnCircle(const std::vector<TGIS_Coord>& pts, double cx, double cy, double r) {
  for (size_t i = 0; i < pts.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(std::hypot(pts[i].X - cx, pts[i].Y - cy), r, 1e-9);
  }
}

TEST(DxfPolyline, TwoAndThreeDimensionalOpenAndClosed) {
  const std::vector<ShapeView> shapes = Load(Fixture("polylines/polyline_2d_3d.dxf"));
  struct Case {
    const char* handle;
    TGIS_ShapeKind kind;
    std::vector<TGIS_Coord> points;
  };
  const Case cases[] = {
      {"A0", TGIS_ShapeKind::Arc, {{0, 0}, {1, 0}, {1, 1}}},
      {"B0", TGIS_ShapeKind::Polygon, {{0, 0}, {2, 0}, {2, 2}, {0, 0}}},
      {"C0", TGIS_ShapeKind::Arc, {{0, 0}, {1, 2}, {4, 5}}},
      {"D0", TGIS_ShapeKind::Polygon, {{0, 0}, {3, 0}, {3, 3}, {0, 0}}},
      // Extrusion (0, 0, -1) mirrors object X.
      {"F0", TGIS_ShapeKind::Arc, {{-1, 0}, {-2, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handle);
    const ShapeView* s = ByHandle(shapes, c.handle);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Kind, c.kind);
    ASSERT_EQ(s->Parts.size(), 1u);
    ExpectPoints(s->Parts[0], c.points);
  }
  // A 2D polyline in a tilted plane: object (x, y, elevation 5) -> world
  // (-x, 5); the bulge is flattened in object coordinates first.
  const ShapeView* tilted = ByHandle(shapes, "1B0");
  ASSERT_NE(tilted, nullptr);
  for (const TGIS_Coord& p : tilted->Points()) EXPECT_NEAR(p.Y, 5, 1e-9);
  ExpectNear(tilted->Points().front(), -1, 5);
  ExpectNear(tilted->Points().back(), -3, 5);
  // A closed polyline's closing segment takes the last vertex's bulge: two
  // half circles make the whole circle.
  const ShapeView* circle = ByHandle(shapes, "E0");
  ASSERT_NE(circle, nullptr);
  EXPECT_EQ(circle->Kind, TGIS_ShapeKind::Polygon);
  ASSERT_EQ(circle->Points().size(), 41u);
  ExpectOnCircle(circle->Points(), 0, 0, 1);
  ExpectNear(circle->Points()[10], 0, -1);
  ExpectNear(circle->Points()[30], 0, 1);
}

TEST(DxfPolyline, PolygonMeshRowsThenColumns) {
  const std::vector<ShapeView> shapes = Load(Fixture("polylines/polygon_mesh_3x4.dxf"));
  ASSERT_EQ(shapes.size(), 1u);
  const ShapeView& s = shapes[0];
  ASSERT_EQ(s.Parts.size(), 7u);
  // Vertex r·4 + c lies at (c, r).
  for (int r = 0; r < 3; ++r) {
    SCOPED_TRACE(r);
    ExpectPoints(s.Parts[r], {{0.0, double(r)}, {1.0, double(r)}, {2.0, double(r)}, {3.0, double(r)}});
  }
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c);
    ExpectPoints(s.Parts[3 + c], {{double(c), 0}, {double(c), 1}, {double(c), 2}});
  }
}

TEST(DxfPolyline, PolyfaceFacesUseAbsoluteVertexNumbers) {
  const std::vector<ShapeView> shapes = Load(Fixture("polylines/polyface_two_faces.dxf"));
  ASSERT_EQ(shapes.size(), 1u);
  const ShapeView& s = shapes[0];
  ASSERT_EQ(s.Parts.size(), 2u);
  ExpectPoints(s.Parts[0], {{0, 0}, {1, 0}, {1, 1}});
  // (3, 4, -1, 0): the -1 marks an invisible edge; the corner is vertex 1.
  ExpectPoints(s.Parts[1], {{1, 1}, {0, 1}, {0, 0}});
}

TEST(DxfLwPolyline, FlagsClosingAndElevation) {
  const std::vector<ShapeView> shapes = Load(Fixture("polylines/lwpolyline_flags.dxf"));
  struct Case {
    const char* handle;
    TGIS_ShapeKind kind;
    std::vector<TGIS_Coord> points;
    double elevation;
  };
  const Case cases[] = {
      // Flag 1 alone stays an Arc, but closed.
      {"A0", TGIS_ShapeKind::Arc, {{0, 0}, {4, 0}, {4, 4}, {0, 0}}, 0},
      {"B0", TGIS_ShapeKind::Polygon, {{0, 0}, {4, 0}, {4, 4}, {0, 0}}, 0},
      {"C0", TGIS_ShapeKind::Arc, {{0, 0}, {4, 0}, {4, 4}}, 7.5},
      // Already ends on its first point: no second closing point.
      {"D0", TGIS_ShapeKind::Arc, {{0, 0}, {4, 0}, {0, 0}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handle);
    const ShapeView* s = ByHandle(shapes, c.handle);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->Kind, c.kind);
    ASSERT_EQ(s->Parts.size(), 1u);
    ExpectPoints(s->Parts[0], c.points);
    EXPECT_EQ(s->Elevation, c.elevation);
  }
}

TEST(DxfLwPolyline, ExtendedDataOfBothPolylineKinds) {
  TGIS_LayerDXF layer;
  layer.SetPath(Fixture("polylines/lwpolyline_flags.dxf"));
  layer.Open();
  int found = 0;
  for (const auto& shape : layer.Shapes()) {
    const std::string handle = shape->GetField("DXF_HANDLE").ToText();
    if (handle == "E0" || handle == "F0") {
      SCOPED_TRACE(handle);
      ++found;
      EXPECT_EQ(shape->GetField("OWNER").ToText(), handle == "E0" ? "Smith" : "Jones");
      EXPECT_EQ(shape->GetNumPoints(), 2);
    }
  }
  EXPECT_EQ(found, 2);
}

TEST(DxfLwPolyline, BulgesAreCircularArcsFromTheChord) {
  const std::vector<ShapeView> shapes = Load(Fixture("polylines/bulges.dxf"));

  // b = 1 there and back: the circle of radius 1 through both vertices.
  const ShapeView* circle = ByHandle(shapes, "A0");
  ASSERT_NE(circle, nullptr);
  ASSERT_EQ(circle->Points().size(), 41u);
  ExpectOnCircle(circle->Points(), 0, 0, 1);
  ExpectNear(circle->Points().front(), -1, 0);
  ExpectNear(circle->Points()[20], 1, 0);
  ExpectNear(circle->Points().back(), -1, 0);

  // b = 0.5 from (0, 0) to (2, 0): an arc of 4 atan(0.5), centre (1, 0.75),
  // radius 1.25, sagging 0.5 below the chord (counter-clockwise).
  const ShapeView* arc = ByHandle(shapes, "B0");
  ASSERT_NE(arc, nullptr);
  const std::vector<TGIS_Coord> pts = arc->Points();
  const double angle = 4 * std::atan(0.5);
  const size_t segments = static_cast<size_t>(std::ceil(angle / (2 * std::numbers::pi) * 40));
  ASSERT_EQ(pts.size(), segments + 1);
  ExpectOnCircle(pts, 1, 0.75, 1.25);
  ExpectNear(pts.front(), 0, 0);
  ExpectNear(pts.back(), 2, 0);
  double lowest = 0;
  for (const TGIS_Coord& p : pts) lowest = std::min(lowest, p.Y);
  EXPECT_NEAR(lowest, -0.5, 0.01);

  // b = -1: clockwise, over the chord.
  const ShapeView* cw = ByHandle(shapes, "C0");
  ASSERT_NE(cw, nullptr);
  ASSERT_EQ(cw->Points().size(), 21u);
  ExpectNear(cw->Points()[10], 1, 1);

  // Extrusion (0, 0, -1): the arc is built in object coordinates, then
  // mirrored: (1, 0) -> (3, 0) through (2, -1) lands through (-2, -1).
  const ShapeView* ocs = ByHandle(shapes, "D0");
  ASSERT_NE(ocs, nullptr);
  ASSERT_EQ(ocs->Points().size(), 21u);
  ExpectNear(ocs->Points().front(), -1, 0);
  ExpectNear(ocs->Points()[10], -2, -1);
  ExpectNear(ocs->Points().back(), -3, 0);
}

TEST(DxfHatch, EachBoundaryPathIsOneRing) {
  const std::vector<ShapeView> shapes = Load(Fixture("polylines/hatch_paths.dxf"));
  ASSERT_EQ(shapes.size(), 1u);
  const ShapeView& s = shapes[0];
  EXPECT_EQ(s.Kind, TGIS_ShapeKind::Polygon);
  ASSERT_EQ(s.Parts.size(), 2u);

  // Polyline path: square with a bulged right side, closed.
  const std::vector<TGIS_Coord>& outer = s.Parts[0];
  ASSERT_EQ(outer.size(), 24u);
  ExpectNear(outer[0], 0, 0);
  ExpectNear(outer[1], 10, 0);
  ExpectNear(outer[11], 15, 5);
  ExpectNear(outer[21], 10, 10);
  ExpectNear(outer[22], 0, 10);
  ExpectNear(outer[23], 0, 0);

  // Edge path: line, counter-clockwise half circle around (6, 4), two lines.
  const std::vector<TGIS_Coord>& inner = s.Parts[1];
  ASSERT_EQ(inner.size(), 24u);
  ExpectNear(inner[0], 2, 2);
  ExpectNear(inner[1], 6, 2);
  ExpectNear(inner[11], 8, 4);
  ExpectNear(inner[21], 6, 6);
  ExpectNear(inner[22], 2, 6);
  ExpectNear(inner[23], 2, 2);
  for (size_t i = 1; i <= 21; ++i) EXPECT_NEAR(std::hypot(inner[i].X - 6, inner[i].Y - 4), 2, kEps);

  // Neither the arc centres nor the seed point (5, 5) nor the elevation
  // point are vertices.
  for (const TGIS_Coord& p : s.Points()) {
    EXPECT_FALSE(p.X == 5 && p.Y == 5);
    EXPECT_FALSE(p.X == 6 && p.Y == 4);
    EXPECT_FALSE(p.X == 10 && p.Y == 5);
  }
}

TEST(DxfPolyline, FrozenLayerIsPassedOverWithItsVertices) {
  const std::vector<ShapeView> shapes = Load(Fixture("polylines/frozen_polyline.dxf"));
  EXPECT_EQ(ByHandle(shapes, "A0"), nullptr);
  // The VERTEX and SEQEND entities do not disturb the entity after them.
  const ShapeView* line = ByHandle(shapes, "B0");
  ASSERT_NE(line, nullptr);
  ExpectPoints(line->Points(), {{1, 1}, {2, 2}});
  EXPECT_EQ(shapes.size(), 1u);
}

}  // namespace
}  // namespace cadport
