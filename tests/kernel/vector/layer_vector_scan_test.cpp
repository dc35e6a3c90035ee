// Enumeration of a vector layer: extent filter, query and index hooks,
// FindFirst/FindNext, Locate, and the generic ConvertFrom.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kernel/base/exception.h"
#include "kernel/base/types.h"
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

TGIS_Shape* AddSquare(TGIS_LayerVector& layer, double x, double y, double side) {
  TGIS_Shape* s = layer.CreateShape(TGIS_ShapeKind::Polygon);
  s->AddPart();
  for (TGIS_Coord p : {TGIS_Coord{x, y}, TGIS_Coord{x + side, y}, TGIS_Coord{x + side, y + side},
                       TGIS_Coord{x, y + side}})
    s->AddPoint(p);
  return s;
}

std::vector<std::int32_t> ScanUids(TGIS_LayerVector& layer, const TGIS_Bounds& extent,
                                   const std::string& query = {}) {
  std::vector<std::int32_t> uids;
  for (layer.StartScan(extent, query); !layer.ScanDone(); layer.ScanNext())
    uids.push_back(layer.ScanCurrent()->Uid());
  return uids;
}

std::vector<std::int32_t> FindUids(TGIS_LayerVector& layer, const TGIS_Bounds& extent) {
  std::vector<std::int32_t> uids;
  for (TGIS_Shape* s = layer.FindFirst(extent); s != nullptr; s = layer.FindNext())
    uids.push_back(s->Uid());
  return uids;
}

using Uids = std::vector<std::int32_t>;

class LayerVectorScan : public ::testing::Test {
 protected:
  TGIS_Viewer viewer{TGIS_ViewerBitmap{128, 128}};  // outlives the layers
  VectorLayer layer;
};

TEST_F(LayerVectorScan, ExtentIsGrownByARelativeMargin) {
  layer.StartScan(MakeBounds(0, 0, 10, 20));
  EXPECT_TRUE(BoundsEqual(layer.ScanExtent(), MakeBounds(-2e-9, -2e-9, 10 + 2e-9, 20 + 2e-9)));
  layer.StartScan(MakeBounds(5, 5, 5, 5));
  EXPECT_TRUE(
      BoundsEqual(layer.ScanExtent(), MakeBounds(5 - 1e-10, 5 - 1e-10, 5 + 1e-10, 5 + 1e-10)));
}

TEST_F(LayerVectorScan, PointOnAZeroSizeExtentIsFound) {
  for (bool withViewer : {false, true}) {
    SCOPED_TRACE(withViewer);
    VectorLayer l;
    if (withViewer) l.SetViewer(&viewer);
    AddPoint(l, {5, 5});
    AddPoint(l, {5.001, 5});
    EXPECT_EQ(ScanUids(l, MakeBounds(5, 5, 5, 5)), Uids{1});
    EXPECT_EQ(FindUids(l, MakeBounds(5, 5, 5, 5)), Uids{1});
    EXPECT_EQ(ScanUids(l, MakeBounds(6, 6, 7, 7)), Uids{});
    // An inverted extent holds nothing.
    EXPECT_EQ(ScanUids(l, MakeBounds(7, 7, 4, 4)), Uids{});
    l.SetViewer(nullptr);
  }
}

TEST_F(LayerVectorScan, EmptyShapesPassOnlyWithoutAViewer) {
  AddPoint(layer, {1, 1});
  layer.CreateShape(TGIS_ShapeKind::Arc);  // never given points
  EXPECT_EQ(ScanUids(layer, UnboundedBounds()), (Uids{1, 2}));
  layer.SetViewer(&viewer);
  EXPECT_EQ(ScanUids(layer, UnboundedBounds()), Uids{1});
  layer.SetViewer(nullptr);
}

TEST_F(LayerVectorScan, LineAtTheOriginBuiltUnderLockIsInTheExtent) {
  layer.SetViewer(&viewer);
  AddPoint(layer, {10, 10});
  TGIS_Shape* s = layer.CreateShape(TGIS_ShapeKind::Arc);
  s->Lock(2);
  s->AddPart();
  s->AddPoint({0, 0});
  s->AddPoint({0, 0});
  s->Unlock();
  EXPECT_TRUE(BoundsEqual(layer.Extent(), MakeBounds(0, 0, 10, 10)));
  EXPECT_EQ(ScanUids(layer, layer.Extent()), (Uids{1, 2}));
  layer.SetViewer(nullptr);
}

TEST_F(LayerVectorScan, QueriesNeedTheQueryLanguage) {
  AddPoint(layer, {1, 1});
  try {
    layer.StartScan(UnboundedBounds(), "a > 1");
    ADD_FAILURE() << "a query was ignored";
  } catch (const EGIS_Exception& e) {
    EXPECT_NE(e.Message().find("0001"), std::string::npos) << e.Message();
  }
  layer.SetScope("a > 1");
  EXPECT_THROW(layer.StartScan(UnboundedBounds()), EGIS_Exception);
  // A spatial relation filter is refused rather than ignored.
  layer.SetScope({});
  EXPECT_THROW(layer.StartScan(UnboundedBounds(), {}, layer.Shapes()[0].get(), "T"),
               EGIS_Exception);
}

// A stand-in compiler: keeps the query text and passes shapes of odd uid.
std::string gCompiledText;
class OddUids : public TGIS_ScanQuery {
 public:
  bool Evaluate(TGIS_LayerVector& layer) override {
    const TGIS_Variant uid = layer.GetFieldByIndex(layer.FieldIndex("GIS_UID"));
    return uid.AsInt32() % 2 == 1;
  }
};
std::unique_ptr<TGIS_ScanQuery> CompileOddUids(TGIS_LayerVector&, const std::string& text) {
  gCompiledText = text;
  return std::make_unique<OddUids>();
}

TEST_F(LayerVectorScan, ScopeAndQueryAreCombinedForTheEvaluator) {
  SetScanQueryCompiler(&CompileOddUids);
  for (int i = 0; i < 5; ++i) AddPoint(layer, {1.0 * i, 0});
  EXPECT_EQ(ScanUids(layer, UnboundedBounds(), "b = 2"), (Uids{1, 3, 5}));
  EXPECT_EQ(gCompiledText, "b = 2");
  layer.SetScope("a > 1");
  ScanUids(layer, UnboundedBounds(), "b = 2");
  EXPECT_EQ(layer.ScanQuery(), "(a > 1) AND (b = 2)");
  EXPECT_EQ(gCompiledText, "(a > 1) AND (b = 2)");
  ScanUids(layer, UnboundedBounds());
  EXPECT_EQ(gCompiledText, "a > 1");
  SetScanQueryCompiler(nullptr);
}

// An in-memory index that counts what the layer does with it.
struct FakeIndexState {
  struct Entry { TGIS_Bounds bounds; std::int32_t id; };
  std::vector<Entry> entries;
  bool readOnly = false;
  int searches = 0;
};
FakeIndexState* gIndexState = nullptr;

class FakeIndex : public TGIS_SpatialIndex {
 public:
  bool IsEmpty() const override { return gIndexState->entries.empty(); }
  bool ReadOnly() const override { return gIndexState->readOnly; }
  void InsertEntry(const TGIS_Bounds& bounds, std::int32_t id) override {
    gIndexState->entries.push_back({bounds, id});
  }
  bool DeleteEntry(const TGIS_Bounds& bounds, std::int32_t id) override {
    auto& e = gIndexState->entries;
    auto it = std::find_if(e.begin(), e.end(), [&](const FakeIndexState::Entry& x) {
      return x.id == id && BoundsEqual(x.bounds, bounds);
    });
    if (it == e.end()) return false;
    e.erase(it);
    return true;
  }
  std::int32_t SearchFirst(const TGIS_Bounds& bounds, std::int32_t id) override {
    ++gIndexState->searches;
    found_.clear();
    for (const auto& x : gIndexState->entries)
      if (BoundsOverlap(x.bounds, bounds) && (id < 0 || x.id == id)) found_.push_back(x.id);
    // Index order is not uid order.
    std::reverse(found_.begin(), found_.end());
    next_ = 0;
    return SearchNext();
  }
  std::int32_t SearchNext() override {
    return next_ < found_.size() ? found_[next_++] : -1;
  }
  void SetComplete(bool) override {}

 private:
  std::vector<std::int32_t> found_;
  std::size_t next_ = 0;
};

std::unique_ptr<TGIS_SpatialIndex> MakeFakeIndex(TGIS_LayerVector&, const std::string&) {
  return std::make_unique<FakeIndex>();
}

class LayerVectorIndex : public LayerVectorScan {
 protected:
  void SetUp() override {
    gIndexState = &state;
    SetSpatialIndexFactory(&MakeFakeIndex);
  }
  void TearDown() override {
    layer.SetUseRTree(false);
    layer.SetViewer(nullptr);
    SetSpatialIndexFactory(nullptr);
    gIndexState = nullptr;
  }
  FakeIndexState state;
};

TEST_F(LayerVectorIndex, NoIndexWithoutAViewerOrAFactory) {
  layer.SetUseRTree(true);
  EXPECT_FALSE(layer.UseRTree());
  layer.SetViewer(&viewer);
  SetSpatialIndexFactory(nullptr);
  layer.SetUseRTree(true);
  EXPECT_FALSE(layer.UseRTree());
  EXPECT_EQ(layer.RTree(), nullptr);
}

TEST_F(LayerVectorIndex, BuildingFillsTheIndexWithoutChangingModified) {
  layer.SetViewer(&viewer);
  for (int i = 0; i < 10; ++i) AddPoint(layer, {1.0 * i, 1.0 * i});
  layer.DeleteShape(4);
  layer.SetModified(false);
  layer.SetUseRTree(true);
  ASSERT_TRUE(layer.UseRTree());
  EXPECT_FALSE(layer.Modified());
  EXPECT_EQ(state.entries.size(), 9u);  // deleted shapes are not entered
  EXPECT_EQ(viewer.BusyLevel(), 0);

  // New shapes enter, deleted ones leave, moved ones follow.
  TGIS_Shape* line = layer.CreateShape(TGIS_ShapeKind::Arc);
  ASSERT_TRUE(line->Indexed());
  EXPECT_EQ(state.entries.size(), 10u);
  line->Lock(1);
  line->AddPart();
  line->AddPoint({50, 50});
  line->AddPoint({60, 60});
  line->Unlock();
  layer.DeleteShape(1);
  ASSERT_EQ(state.entries.size(), 9u);
  EXPECT_TRUE(std::none_of(state.entries.begin(), state.entries.end(),
                           [](const auto& e) { return e.id == 1; }));
  EXPECT_TRUE(BoundsEqual(line->IndexedExtent(), MakeBounds(50, 50, 60, 60)));
}

TEST_F(LayerVectorIndex, FindFirstUsesTheIndexForSmallExtentsOnly) {
  layer.SetViewer(&viewer);
  for (int i = 0; i < 100; ++i) AddPoint(layer, {1.0 * i, 1.0 * i});
  layer.SetUseRTree(true);
  ASSERT_TRUE(layer.UseRTree());
  layer.DeleteShape(12);

  const TGIS_Bounds small = MakeBounds(9.5, 9.5, 13.5, 13.5);
  Uids viaIndex = FindUids(layer, small);
  EXPECT_TRUE(layer.ScanUsesIndex());
  EXPECT_EQ(state.searches, 1);
  std::sort(viaIndex.begin(), viaIndex.end());
  EXPECT_EQ(viaIndex, (Uids{11, 13, 14}));
  EXPECT_EQ(ScanUids(layer, small), (Uids{11, 13, 14}));

  EXPECT_EQ(FindUids(layer, MakeBounds(-1, -1, 60, 60)).size(), 60u);
  EXPECT_FALSE(layer.ScanUsesIndex());
  EXPECT_EQ(FindUids(layer, UnboundedBounds()).size(), 99u);
  EXPECT_FALSE(layer.ScanUsesIndex());
}

TEST_F(LayerVectorIndex, AbortingTheBuildDropsTheIndex) {
  layer.SetViewer(&viewer);
  for (int i = 0; i < 150; ++i) AddPoint(layer, {1.0 * i, 0});
  for (bool raises : {false, true}) {
    SCOPED_TRACE(raises);
    viewer.SetAbortRaises(raises);
    viewer.OnBusy = [](TGIS_BaseObject*, std::int32_t pos, std::int32_t, bool& abort) {
      abort = pos > 0;
    };
    layer.SetUseRTree(true);
    EXPECT_FALSE(layer.UseRTree());
    EXPECT_EQ(layer.RTree(), nullptr);
    EXPECT_EQ(viewer.BusyLevel(), 0);
    state.entries.clear();
  }
  viewer.OnBusy = nullptr;
}

TEST_F(LayerVectorIndex, AReadOnlyIndexIsDropped) {
  layer.SetViewer(&viewer);
  AddPoint(layer, {1, 1});
  layer.SetUseRTree(true);
  ASSERT_TRUE(layer.UseRTree());
  state.readOnly = true;
  AddPoint(layer, {2, 2});
  EXPECT_FALSE(layer.UseRTree());
  EXPECT_EQ(layer.RTree(), nullptr);
  EXPECT_EQ(ScanUids(layer, UnboundedBounds()), (Uids{1, 2}));
}

TEST_F(LayerVectorScan, LocateFindsTheNearestShapeWithinTolerance) {
  AddLine(layer, {{0, 0}, {10, 0}});
  AddLine(layer, {{0, 2}, {10, 2}});
  AddSquare(layer, 20, 20, 10);
  TGIS_Coord nearest{};
  std::int32_t part = -1;
  double distance = -1;
  TGIS_Shape* s = layer.LocateEx({5, 0.5}, -1, false, nearest, part, distance, 1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Uid(), 1);
  EXPECT_DOUBLE_EQ(distance, 0.5);
  EXPECT_EQ(part, 0);
  EXPECT_DOUBLE_EQ(nearest.X, 5);
  EXPECT_DOUBLE_EQ(nearest.Y, 0);
  // Skipping the nearest finds the next one within tolerance.
  s = layer.LocateEx({5, 0.5}, 1, false, nearest, part, distance, 2);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Uid(), 2);
  EXPECT_EQ(layer.Locate({5, 5}, 1, false), nullptr);
  // A polygon is found from inside.
  s = layer.Locate({25, 25}, 0.1, false);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Uid(), 3);
  // Hidden shapes are invisible to visible-only searches.
  layer.Shapes()[0]->SetHidden(true);
  s = layer.Locate({5, 0.5}, 2, true);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Uid(), 2);
  EXPECT_EQ(layer.Locate({5, 0.5}, 2, false)->Uid(), 1);
}

class LayerVectorConvert : public LayerVectorScan {
 protected:
  void SetUp() override {
    source.SetViewer(&viewer);
    source.AddField("NAME", TGIS_FieldKind::String, 10, 0);
    source.AddField("GONE", TGIS_FieldKind::Number, 10, 0);
    source.DeleteField("GONE");
    viewer.OnBusy = [this](TGIS_BaseObject* sender, std::int32_t pos, std::int32_t end, bool&) {
      events.push_back({sender, pos, end});
    };
  }
  void TearDown() override { source.SetViewer(nullptr); }

  struct Event {
    TGIS_BaseObject* sender;
    std::int32_t pos, end;
  };
  VectorLayer source;
  std::vector<Event> events;
};

TEST_F(LayerVectorConvert, CopiesShapesWithAttributesAndReportsEvery100) {
  for (int i = 0; i < 250; ++i) {
    TGIS_Shape* s = AddPoint(source, {1.0 * i, 0});
    s->SetField("NAME", TGIS_Variant("p" + std::to_string(i + 1)));
  }
  // Earlier content of the target goes.
  layer.AddField("OLD", TGIS_FieldKind::String, 5, 0);
  AddPoint(layer, {-5, -5});

  layer.ConvertFrom(&source, source.Extent(), TGIS_ShapeKind::Unknown, {}, false);
  ASSERT_EQ(layer.Shapes().size(), 250u);
  EXPECT_EQ(layer.FindField("OLD"), -1);
  ASSERT_EQ(layer.FieldsCount(), 2);
  EXPECT_TRUE(layer.FieldInfo(1)->Deleted);
  EXPECT_EQ(layer.Shapes()[0]->Uid(), 1);
  EXPECT_EQ(layer.Shapes()[249]->GetField("name"), TGIS_Variant("p250"));
  EXPECT_EQ(layer.Shapes()[0]->Layer(), &layer);

  // Begin, shakes at counts 1, 101, 201 (the 2nd, 102nd, 202nd shape), release.
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].sender, &source);
  EXPECT_EQ(events[0].pos, 0);
  EXPECT_EQ(events[0].end, 100);
  const std::int32_t shakes[] = {2, 102, 202};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i + 1].sender, &source);
    EXPECT_EQ(events[i + 1].pos, shakes[i]);
    EXPECT_EQ(events[i + 1].end, 250);
  }
  EXPECT_EQ(events[4].pos, -1);
  EXPECT_EQ(viewer.BusyLevel(), 0);
}

TEST_F(LayerVectorConvert, FiltersByKindAndClipsToTheExtent) {
  AddLine(source, {{0, 0}, {10, 10}})->SetField("NAME", TGIS_Variant("line"));
  AddSquare(source, 100, 100, 5)->SetField("NAME", TGIS_Variant("far"));
  AddSquare(source, 2, 2, 4)->SetField("NAME", TGIS_Variant("near"));
  AddPoint(source, {1, 1});

  layer.ConvertFrom(&source, source.Extent(), TGIS_ShapeKind::Arc, {}, false);
  ASSERT_EQ(layer.Shapes().size(), 1u);
  EXPECT_EQ(layer.Shapes()[0]->ShapeKind(), TGIS_ShapeKind::Arc);

  const TGIS_Bounds window = MakeBounds(0, 0, 5, 5);
  layer.ConvertFrom(&source, window, TGIS_ShapeKind::Polygon, {}, true);
  ASSERT_EQ(layer.Shapes().size(), 1u);
  const TGIS_Shape& near = *layer.Shapes()[0];
  EXPECT_EQ(near.GetField("NAME"), TGIS_Variant("near"));
  EXPECT_TRUE(BoundsEqual(near.Extent(), MakeBounds(2, 2, 5, 5)));

  // A clipped line keeps its values too.
  layer.ConvertFrom(&source, window, TGIS_ShapeKind::Arc, {}, true);
  ASSERT_EQ(layer.Shapes().size(), 1u);
  EXPECT_EQ(layer.Shapes()[0]->GetField("NAME"), TGIS_Variant("line"));
  EXPECT_TRUE(BoundsEqual(layer.Shapes()[0]->Extent(), MakeBounds(0, 0, 5, 5)));
}

TEST_F(LayerVectorConvert, AbortKeepsTheShapesCopiedSoFar) {
  for (int i = 0; i < 250; ++i) AddPoint(source, {1.0 * i, 0});
  viewer.SetAbortRaises(false);
  viewer.OnBusy = [](TGIS_BaseObject*, std::int32_t pos, std::int32_t, bool& abort) {
    abort = pos == 102;
  };
  layer.ConvertFrom(&source, source.Extent(), TGIS_ShapeKind::Unknown, {}, false);
  EXPECT_EQ(layer.Shapes().size(), 102u);
  EXPECT_EQ(viewer.BusyLevel(), 0);
}

TEST_F(LayerVectorConvert, AnErrorStillReleasesTheViewer) {
  AddPoint(source, {1, 1});
  source.SetScope("x = 1");  // no query language: the scan fails
  EXPECT_THROW(layer.ConvertFrom(&source, source.Extent(), TGIS_ShapeKind::Unknown, {}, false),
               EGIS_Exception);
  EXPECT_EQ(viewer.BusyLevel(), 0);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().pos, -1);
  // Nothing for no source.
  layer.ConvertFrom(nullptr, UnboundedBounds(), TGIS_ShapeKind::Unknown, {}, false);
}

}  // namespace
}  // namespace cadport
