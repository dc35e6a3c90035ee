// Block definitions and INSERT expansion, on small drawings
// (tests/data/dxf/blocks, written by polylines/make_fixtures.py).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/dxf/layer_dxf.h"
#include "kernel/layer/viewer.h"
#include "tests/kernel/dxf/dxf_polylines_fixture.h"

namespace cadport {
namespace {

using dxftest::AllByHandle;
using dxftest::ByHandle;
using dxftest::ExpectNear;
using dxftest::ExpectPoints;
using dxftest::Fixture;
using dxftest::Load;
using dxftest::ShapeView;

TEST(DxfInsert, ScaleThenRotationThenInsertionPoint) {
  const std::vector<ShapeView> shapes = Load(Fixture("blocks/insert_scale_rotate.dxf"));
  const std::vector<const ShapeView*> lines = AllByHandle(shapes, "10");
  ASSERT_EQ(lines.size(), 2u);
  // Scale 2, rotation 90, at (10, 0): (0, 0)-(1, 0) -> (10, 0)-(10, 2).
  ExpectPoints(lines[0]->Points(), {{10, 0}, {10, 2}});
  // Scale (2, 1, 1) is applied before the rotation: still (10, 2), not (10, 1).
  ExpectPoints(lines[1]->Points(), {{10, 0}, {10, 2}});
}

TEST(DxfInsert, BasePointIsAlwaysSubtracted) {
  // Base point (5, 5, 1), inserted at (100, 100, 0).
  const std::vector<ShapeView> shapes = Load(Fixture("blocks/base_point.dxf"));
  ASSERT_EQ(shapes.size(), 1u);
  ExpectPoints(shapes[0].Points(), {{100, 100}, {101, 100}});
}

TEST(DxfInsert, TwoInsertsGiveTwoSetsAndEachStartsFromTheDefaults) {
  const std::vector<ShapeView> shapes = Load(Fixture("blocks/two_inserts.dxf"));
  const std::vector<const ShapeView*> lines = AllByHandle(shapes, "10");
  ASSERT_EQ(lines.size(), 2u);
  const double h = 3 * std::sqrt(0.5);
  ExpectPoints(lines[0]->Points(), {{10, 10}, {10 + h, 10 + h}});
  // The second INSERT names no point, scale or rotation.
  ExpectPoints(lines[1]->Points(), {{0, 0}, {1, 0}});
  // The matrix is restored after the expansions.
  const ShapeView* after = ByHandle(shapes, "C0");
  ASSERT_NE(after, nullptr);
  ExpectPoints(after->Points(), {{0, 5}, {1, 5}});
  EXPECT_EQ(shapes.size(), 3u);
}

TEST(DxfInsert, SelfAndMutualRecursionExpandOnce) {
  const std::vector<ShapeView> shapes = Load(Fixture("blocks/recursion.dxf"));
  // SELF inserts itself twice (names differing in case): one line per INSERT.
  const std::vector<const ShapeView*> self = AllByHandle(shapes, "10");
  ASSERT_EQ(self.size(), 2u);
  ExpectPoints(self[0]->Points(), {{0, 0}, {1, 0}});
  // "self" finds SELF: block names ignore case.
  ExpectPoints(self[1]->Points(), {{100, 0}, {101, 0}});
  // PING inserts PONG, which inserts "ping": the cycle stops there.
  const std::vector<const ShapeView*> ping = AllByHandle(shapes, "20");
  const std::vector<const ShapeView*> pong = AllByHandle(shapes, "30");
  ASSERT_EQ(ping.size(), 1u);
  ASSERT_EQ(pong.size(), 1u);
  ExpectPoints(pong[0]->Points(), {{0, 12}, {1, 12}});
  EXPECT_EQ(shapes.size(), 4u);
}

TEST(DxfInsert, NestingStopsAfterSixtyFourLevels) {
  // A chain of 70 blocks, level k drawing its LINE at height k.
  const std::vector<ShapeView> shapes = Load(Fixture("blocks/deep_nesting.dxf"));
  ASSERT_EQ(shapes.size(), 64u);
  for (size_t k = 0; k < shapes.size(); ++k) {
    SCOPED_TRACE(k);
    ExpectPoints(shapes[k].Points(), {{0, double(k)}, {1, double(k)}});
  }
}

TEST(DxfInsert, ProgressNeverMovesBackwardsAcrossJumps) {
  // Eight inserts of a 200-line block: some 26000 lines read in all, most of
  // them re-read after jumping back into the BLOCKS section.
  TGIS_Viewer viewer;
  std::vector<std::int32_t> positions;
  std::int32_t fileSize = 0;
  viewer.OnBusy = [&](TGIS_BaseObject*, std::int32_t position, std::int32_t end, bool&) {
    if (position >= 0 && end > 100) {
      positions.push_back(position);
      fileSize = end;
    }
  };
  auto owned = std::make_unique<TGIS_LayerDXF>();
  TGIS_LayerDXF* layer = owned.get();
  layer->SetPath(Fixture("blocks/many_inserts.dxf"));
  viewer.AttachLayer(std::move(owned));
  EXPECT_EQ(layer->Shapes().size(), 8u * 200u);
  ASSERT_GE(positions.size(), 4u);
  for (size_t i = 1; i < positions.size(); ++i) EXPECT_GE(positions[i], positions[i - 1]);
  EXPECT_LE(positions.back(), fileSize);
}

TEST(DxfInsert, ExpansionBombFailsInsteadOfRunningAway) {
  // Twenty levels, each inserting the next four times: 4^20 lines.
  TGIS_LayerDXF layer;
  layer.SetPath(Fixture("blocks/expansion_bomb.dxf"));
  try {
    layer.Open();
    FAIL() << "the expansion was not bounded";
  } catch (const EGIS_Exception& e) {
    EXPECT_NE(e.Message().find("File structure error"), std::string::npos) << e.Message();
    EXPECT_EQ(e.Name(), layer.Path());
  }
}

TEST(DxfInsert, CircleInAScaledBlock) {
  const std::vector<ShapeView> shapes = Load(Fixture("blocks/circle_scaled.dxf"));
  ASSERT_EQ(shapes.size(), 1u);
  // CIRCLE (1, 1) radius 1, scale 3: centre (3, 3), radius 3.
  for (const TGIS_Coord& p : shapes[0].Points()) EXPECT_NEAR(std::hypot(p.X - 3, p.Y - 3), 3, 1e-9);
}

TEST(DxfInsert, LwPolylineCircleInAScaledBlock) {
  const std::vector<ShapeView> shapes = Load(Fixture("blocks/lwcircle_block.dxf"));
  ASSERT_EQ(shapes.size(), 1u);
  const std::vector<TGIS_Coord> pts = shapes[0].Points();
  ASSERT_EQ(pts.size(), 41u);
  for (const TGIS_Coord& p : pts) EXPECT_NEAR(std::hypot(p.X - 10, p.Y - 20), 2, 1e-9);
  ExpectNear(pts.front(), 8, 20);
  ExpectNear(pts[10], 10, 18);
  ExpectNear(pts[20], 12, 20);
  ExpectNear(pts[30], 10, 22);
}

TEST(DxfInsert, EveryConvertedEntityTypeExpandsInsideABlock) {
  const std::vector<ShapeView> shapes = Load(Fixture("blocks/all_types.dxf"));
  const char* handles[] = {"10", "11", "12", "13", "14", "15", "16",
                           "17", "18", "19", "1A", "1B", "1C"};
  for (const char* h : handles) {
    SCOPED_TRACE(h);
    const ShapeView* s = ByHandle(shapes, h);
    ASSERT_NE(s, nullptr);
    ASSERT_FALSE(s->Points().empty());
    // The block is inserted at (100, 0): everything moved.
    for (const TGIS_Coord& p : s->Points()) EXPECT_GE(p.X, 98.9);
  }
  const ShapeView* hatch = ByHandle(shapes, "1C");
  ASSERT_NE(hatch, nullptr);
  EXPECT_EQ(hatch->Kind, TGIS_ShapeKind::Polygon);
  EXPECT_EQ(hatch->Parts.size(), 2u);
  const ShapeView* mpolygon = ByHandle(shapes, "1B");
  ASSERT_NE(mpolygon, nullptr);
  ExpectPoints(mpolygon->Points(), {{100, 0}, {101, 0}, {101, 1}, {100, 0}});
}

}  // namespace
}  // namespace cadport
