// The vector layer's shape list: uids, creation, copies, deletion, reverts,
// extent.
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "kernel/base/types.h"
#include "kernel/config/config.h"
#include "kernel/layer/viewer.h"
#include "kernel/vector/layer_vector.h"
#include "kernel/vector/shape.h"

namespace cadport {
namespace {

class VectorLayer : public TGIS_LayerVector {
 public:
  VectorLayer() { SetSupportedKinds(60); }
};

TGIS_Shape* AddLine(TGIS_LayerVector& layer, std::vector<TGIS_Coord> points) {
  TGIS_Shape* s = layer.CreateShape(TGIS_ShapeKind::Arc);
  s->AddPart();
  for (const TGIS_Coord& p : points) s->AddPoint(p);
  return s;
}

TGIS_Shape* AddPoint(TGIS_LayerVector& layer, TGIS_Coord p) {
  TGIS_Shape* s = layer.CreateShape(TGIS_ShapeKind::Point);
  s->AddPart();
  s->AddPoint(p);
  return s;
}

std::vector<std::int32_t> Uids(const TGIS_LayerVector& layer) {
  std::vector<std::int32_t> uids;
  for (const auto& s : layer.Shapes()) uids.push_back(s->Uid());
  return uids;
}

TEST(LayerVectorStore, OpenedLayerCreatesShapesWithRisingUids) {
  TGIS_LayerVector layer;
  EXPECT_EQ(layer.LastUid(), 0);
  EXPECT_EQ(layer.NextUid(), 1);
  // Before Setup no kind is supported.
  EXPECT_EQ(layer.CreateShape(TGIS_ShapeKind::Point), nullptr);

  layer.Open();
  EXPECT_EQ(layer.Description(), "Generic Vector Layer");
  EXPECT_EQ(layer.SupportedKinds(), 60);
  TGIS_Shape* first = layer.CreateShape(TGIS_ShapeKind::Unknown);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->ShapeKind(), TGIS_ShapeKind::Point);
  EXPECT_EQ(first->Uid(), 1);
  EXPECT_EQ(first->Layer(), &layer);
  EXPECT_TRUE(first->IsEmpty());
  EXPECT_TRUE(layer.Modified());
  layer.CreateShape(TGIS_ShapeKind::Polygon);
  layer.CreateShape(TGIS_ShapeKind::MultiPoint);
  EXPECT_EQ(layer.LastUid(), 3);
  EXPECT_EQ(layer.NextUid(), 4);
}

TEST(LayerVectorStore, UnsupportedKindsGiveNothing) {
  VectorLayer layer;
  for (int k : {1, 6, 7, 8, 200}) {
    SCOPED_TRACE(k);
    EXPECT_EQ(layer.CreateShape(static_cast<TGIS_ShapeKind>(k)), nullptr);
  }
  layer.SetSupportedKinds(static_cast<TGIS_ShapeKindSet>(ShapeKindBit(TGIS_ShapeKind::Arc)));
  EXPECT_EQ(layer.DefaultShapeKind(), TGIS_ShapeKind::Arc);
  EXPECT_EQ(layer.CreateShape(TGIS_ShapeKind::Point), nullptr);
  ASSERT_NE(layer.CreateShape(TGIS_ShapeKind::Unknown), nullptr);
  EXPECT_EQ(layer.Shapes().size(), 1u);
  layer.SetSupportedKinds(0);
  EXPECT_EQ(layer.DefaultShapeKind(), TGIS_ShapeKind::Unknown);
  EXPECT_EQ(layer.CreateShape(TGIS_ShapeKind::Unknown), nullptr);
}

TEST(LayerVectorStore, UidLookupBySearch) {
  VectorLayer layer;
  for (int i = 0; i < 5; ++i) layer.CreateShape(TGIS_ShapeKind::Point);
  layer.RevertShape(2);  // removed from the list: uids 1, 3, 4, 5
  ASSERT_EQ(Uids(layer), (std::vector<std::int32_t>{1, 3, 4, 5}));
  struct Case { std::int32_t uid; bool found; std::int32_t index; };
  for (const Case& c : {Case{1, true, 0}, Case{2, false, 1}, Case{5, true, 3},
                        Case{0, false, 0}, Case{-7, false, 0}, Case{6, false, 4}}) {
    SCOPED_TRACE(c.uid);
    std::int32_t index = -99;
    EXPECT_EQ(layer.FindUidIndex(c.uid, index), c.found);
    EXPECT_EQ(index, c.index);
  }
  // Removing the last shape makes its uid available again.
  layer.RevertShape(5);
  EXPECT_EQ(layer.NextUid(), 5);
}

TEST(LayerVectorStore, ShapeByUidBecomesCurrent) {
  VectorLayer layer;
  AddPoint(layer, {1, 1});
  AddPoint(layer, {2, 2});
  AddPoint(layer, {3, 3});
  layer.StartScan(UnboundedBounds());
  ASSERT_EQ(layer.ScanCurrent()->Uid(), 1);
  EXPECT_EQ(layer.ShapeByUid(3)->Uid(), 3);
  EXPECT_EQ(layer.ScanCurrent()->Uid(), 3);
  // The enumeration itself goes on from where it was.
  layer.ScanNext();
  EXPECT_EQ(layer.ScanCurrent()->Uid(), 2);
  // A missing uid: nothing, and ScanCurrent falls back to the position.
  EXPECT_EQ(layer.ShapeByUid(42), nullptr);
  EXPECT_EQ(layer.ScanCurrent()->Uid(), 2);
}

TEST(LayerVectorStore, AddShapeCopiesWithANewUidAndGrowsTheExtent) {
  VectorLayer source;
  TGIS_Shape* line = AddLine(source, {{10, 10}, {20, 30}});
  VectorLayer target;
  AddPoint(target, {0, 0});
  target.SetModified(false);
  TGIS_Shape* copy = target.AddShape(*line, false);
  EXPECT_TRUE(target.Modified());
  EXPECT_NE(copy, line);
  EXPECT_EQ(copy->Uid(), 2);
  EXPECT_EQ(copy->Layer(), &target);
  EXPECT_EQ(line->Uid(), 1);
  EXPECT_TRUE(BoundsEqual(target.Extent(), MakeBounds(0, 0, 20, 30)));
  // The copy is independent of its source.
  copy->AddPoint({40, 40});
  EXPECT_EQ(line->GetNumPoints(), 2);
  // An empty source leaves the extent alone.
  TGIS_Shape* empty = source.CreateShape(TGIS_ShapeKind::Arc);
  target.AddShape(*empty, false);
  EXPECT_TRUE(BoundsEqual(target.Extent(), MakeBounds(0, 0, 40, 40)));
}

TEST(LayerVectorStore, DeleteShapeKeepsItListed) {
  VectorLayer layer;
  AddPoint(layer, {1, 1});
  AddPoint(layer, {2, 2});
  layer.SetModified(false);
  layer.DeleteShape(1);
  EXPECT_TRUE(layer.Modified());
  ASSERT_EQ(layer.Shapes().size(), 2u);
  EXPECT_TRUE(layer.Shapes()[0]->Deleted());
  ASSERT_NE(layer.ShapeByUid(1), nullptr);

  std::vector<std::int32_t> seen;
  for (layer.StartScan(UnboundedBounds()); !layer.ScanDone(); layer.ScanNext())
    seen.push_back(layer.ScanCurrent()->Uid());
  EXPECT_EQ(seen, (std::vector<std::int32_t>{2}));
  seen.clear();
  for (layer.StartScan(UnboundedBounds(), {}, nullptr, {}, false); !layer.ScanDone();
       layer.ScanNext())
    seen.push_back(layer.ScanCurrent()->Uid());
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2}));
  layer.DeleteShape(77);  // nothing there: nothing happens
}

TEST(LayerVectorStore, RevertAllDropsShapesAndAddedFields) {
  VectorLayer layer;
  layer.DeclareFileField("KEEP", TGIS_FieldKind::String, 10, 0, true);
  layer.AddField("DROP", TGIS_FieldKind::String, 10, 0);
  AddPoint(layer, {1, 1});
  AddPoint(layer, {2, 2});
  layer.StartScan(UnboundedBounds());
  layer.RevertAll();
  EXPECT_TRUE(layer.Shapes().empty());
  EXPECT_EQ(layer.LastUid(), 0);
  EXPECT_EQ(layer.FieldsCount(), 1);
  EXPECT_EQ(layer.ScanCurrent(), nullptr);
  EXPECT_TRUE(layer.ScanDone());
}

TEST(LayerVectorStore, RevertingTheCurrentShapeLeavesNoDanglingCurrent) {
  VectorLayer layer;
  AddPoint(layer, {1, 1});
  AddPoint(layer, {2, 2});
  AddPoint(layer, {3, 3});
  layer.StartScan(UnboundedBounds());
  layer.ScanNext();
  ASSERT_EQ(layer.ScanCurrent()->Uid(), 2);
  layer.RevertShape(2);
  // The enumeration continues with the shape after the removed one.
  layer.ScanNext();
  ASSERT_FALSE(layer.ScanDone());
  EXPECT_EQ(layer.ScanCurrent()->Uid(), 3);
}

TEST(LayerVectorStore, MakeEditableListsUnnumberedShapes) {
  VectorLayer layer;
  TGIS_Shape* listed = AddPoint(layer, {1, 1});
  EXPECT_EQ(layer.MakeEditable(listed), listed);
  EXPECT_EQ(layer.MakeEditable(nullptr), nullptr);

  // A shape without uid: a copy is listed under the next uid.
  TGIS_ShapePoint loose(nullptr, &layer, 0);
  loose.AddPart();
  loose.AddPoint({5, 5});
  TGIS_Shape* copy = layer.MakeEditable(&loose);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, &loose);
  EXPECT_EQ(copy->Uid(), 2);
  EXPECT_EQ(layer.Shapes().size(), 2u);

  // A shape of no layer is not editable.
  TGIS_ShapePoint orphan;
  EXPECT_EQ(layer.MakeEditable(&orphan), nullptr);
}

TEST(LayerVectorStore, MakeEditableInsertsAFileShapeAtItsUid) {
  // Shapes 1 and 3 are listed (edited); 2 lives only in the "file".
  VectorLayer layer;
  AddPoint(layer, {1, 1});
  AddPoint(layer, {2, 2});
  AddPoint(layer, {3, 3});
  layer.RevertShape(2);
  TGIS_ShapePoint fileShape(nullptr, &layer, 2);
  fileShape.AddPart();
  fileShape.AddPoint({2, 2});

  layer.StartScan(UnboundedBounds());
  layer.ScanNext();  // at uid 3, position 1
  ASSERT_EQ(layer.ScanPosition(), 1);
  TGIS_Shape* edited = layer.MakeEditable(&fileShape);
  ASSERT_NE(edited, nullptr);
  EXPECT_NE(edited, &fileShape);
  EXPECT_EQ(Uids(layer), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_TRUE(edited->Indexed());
  EXPECT_EQ(layer.ScanPosition(), 2);  // still on uid 3
  // The listed version is what file enumerations hand out from now on.
  EXPECT_EQ(layer.EditedVersion(&fileShape), edited);
  TGIS_ShapePoint other(nullptr, &layer, 9);
  EXPECT_EQ(layer.EditedVersion(&other), &other);
}

TEST(LayerVectorStore, RecalcExtentUnitesShapesAndIgnoresEmptyOnes) {
  VectorLayer layer;
  layer.RecalcExtent();
  EXPECT_TRUE(IsNullBounds(layer.Extent()));  // nothing to unite: unchanged

  AddLine(layer, {{2, 3}, {4, 5}});
  AddPoint(layer, {-1, 10});
  TGIS_Shape* partOnly = layer.CreateShape(TGIS_ShapeKind::Arc);
  partOnly->AddPart();  // a part but no point: bounds still (0,0,0,0)
  layer.CreateShape(TGIS_ShapeKind::Polygon);
  TGIS_Shape* gone = AddPoint(layer, {100, 100});
  layer.DeleteShape(gone->Uid());

  layer.SetExtent(MakeBounds(-50, -50, 500, 500));
  layer.RecalcExtent();
  EXPECT_TRUE(BoundsEqual(layer.Extent(), MakeBounds(-1, 3, 4, 10)));
}

TEST(LayerVectorStore, SelectionIsClearedPerShapeOrAll) {
  VectorLayer layer;
  for (int i = 0; i < 3; ++i) AddPoint(layer, {1.0 * i, 0})->SetSelected(true);
  TGIS_Shape* s = layer.DeselectShape(2);
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(s->Selected());
  EXPECT_TRUE(layer.Shapes()[0]->Selected());
  EXPECT_EQ(layer.DeselectShape(99), nullptr);
  layer.DeselectAll();
  for (const auto& shape : layer.Shapes()) EXPECT_FALSE(shape->Selected());
}

TEST(LayerVectorStore, ConfigurationCarriesScopeAndJoinKeys) {
  VectorLayer layer;
  layer.SetScope("TYPE = 'road'");
  layer.SetJoinPrimary("ID");
  layer.SetJoinForeign("ROAD_ID");
  TGIS_Ini config("/nonexistent-dir/layer.ini");
  layer.WriteConfig(config);

  VectorLayer other;
  other.SetScope("kept when absent");
  other.ReadConfig(config);
  EXPECT_EQ(other.Scope(), "TYPE = 'road'");
  EXPECT_EQ(other.JoinPrimary(), "ID");
  EXPECT_EQ(other.JoinForeign(), "ROAD_ID");

  TGIS_Ini empty("/nonexistent-dir/empty.ini");
  other.ReadConfig(empty);
  EXPECT_EQ(other.Scope(), "TYPE = 'road'");
}

TEST(LayerVectorStore, BuildSetsThePath) {
  VectorLayer layer;
  layer.Build("/tmp/somewhere.shp", NullBounds(), TGIS_ShapeKind::Arc);
  EXPECT_EQ(layer.Path(), "/tmp/somewhere.shp");
}

}  // namespace
}  // namespace cadport
