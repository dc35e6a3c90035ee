#include "kernel/layer/viewer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/base/utils.h"
#include "kernel/config/config.h"
#include "kernel/layer/layer_abstract.h"
#include "tests/kernel/layer/test_layer.h"

namespace cadport {
namespace {

using testing::MakeLayer;
using testing::TestLayer;

constexpr TGIS_ViewerBitmap kBitmap128{128, 128};

void ExpectBounds(const TGIS_Bounds& got, const TGIS_Bounds& want) {
  EXPECT_EQ(got.XMin, want.XMin);
  EXPECT_EQ(got.YMin, want.YMin);
  EXPECT_EQ(got.XMax, want.XMax);
  EXPECT_EQ(got.YMax, want.YMax);
}

TestLayer* Attach(TGIS_Viewer& viewer, std::unique_ptr<TestLayer> layer) {
  TestLayer* raw = layer.get();
  EXPECT_EQ(viewer.AttachLayer(std::move(layer)), raw);
  return raw;
}

TEST(Viewer, Defaults) {
  TGIS_Viewer viewer(kBitmap128);
  EXPECT_EQ(viewer.DrawTarget(), TGIS_DrawTarget::Bitmap);
  EXPECT_EQ(viewer.TargetWidth(), 128);
  EXPECT_EQ(viewer.LayersCount(), 0);
  EXPECT_TRUE(IsNullBounds(viewer.Extent()));
  EXPECT_TRUE(IsUnbounded(viewer.RestrictedExtent()));
  EXPECT_EQ(viewer.Zoom(), 1.0);
  EXPECT_EQ(viewer.BusyLevel(), 0);
  EXPECT_TRUE(viewer.InterruptByEsc());
  EXPECT_EQ(viewer.BigExtentMargin(), -10);
  EXPECT_TRUE(viewer.RestrictedDrag());
  EXPECT_TRUE(viewer.CachedPaint());
  EXPECT_TRUE(viewer.IncrementalPaint());
  EXPECT_FALSE(viewer.FullPaint());
  EXPECT_EQ(viewer.Color(), 0xFFFFFFu);
  EXPECT_EQ(viewer.SelectionWidth(), 100);
  EXPECT_EQ(viewer.SelectionTransparency(), 100);
  EXPECT_EQ(viewer.CodePage(), SystemCodePage());
  EXPECT_EQ(viewer.OutCodePage(), SystemCodePage());
  EXPECT_EQ(viewer.CharSet(), 1);
  EXPECT_FALSE(viewer.UseRTree());
  EXPECT_EQ(viewer.PrinterTileSize(), 512);
  EXPECT_TRUE(viewer.AbortRaises());
  EXPECT_EQ(TGIS_Viewer().DrawTarget(), TGIS_DrawTarget::Window);
}

TEST(Viewer, PropertySettersClampAndCouple) {
  TGIS_Viewer viewer;
  viewer.SetBigExtentMargin(-80);
  EXPECT_EQ(viewer.BigExtentMargin(), -50);
  viewer.SetBigExtentMargin(51);
  EXPECT_EQ(viewer.BigExtentMargin(), 50);
  viewer.SetPrinterTileSize(1);
  EXPECT_EQ(viewer.PrinterTileSize(), 128);
  viewer.SetPrinterTileSize(100000);
  EXPECT_EQ(viewer.PrinterTileSize(), 8192);
  viewer.SetFullPaint(false);
  EXPECT_FALSE(viewer.IncrementalPaint());
  viewer.SetIncrementalPaint(true);
  EXPECT_TRUE(viewer.FullPaint());
}

TEST(Viewer, AttachOpensNamesAndCaptionsLayers) {
  TGIS_Viewer viewer(kBitmap128);
  TestLayer* a = Attach(viewer, MakeLayer("data/roads.dxf", {0, 0, 1, 1}));
  TestLayer* b = Attach(viewer, MakeLayer("other/roads.shp", {0, 0, 1, 1}));
  TestLayer* c = Attach(viewer, MakeLayer("data/roads.dxf", {0, 0, 1, 1}));
  TestLayer* d = Attach(viewer, MakeLayer("ROADS.DXF", {0, 0, 1, 1}));
  EXPECT_EQ(a->Name(), "roads");
  EXPECT_EQ(b->Name(), "roads [1]");
  EXPECT_EQ(c->Name(), "roads [2]");
  EXPECT_EQ(d->Name(), "ROADS [3]");  // the base collides ignoring case
  EXPECT_EQ(c->Caption(), "roads [2]");
  EXPECT_TRUE(a->Opened());
  EXPECT_EQ(a->Viewer(), &viewer);
  EXPECT_EQ(a->setupCalls, 1);
  EXPECT_EQ(viewer.LayersCount(), 4);
  EXPECT_EQ(viewer.Layer(1), b);
  EXPECT_EQ(viewer.FindLayer("Roads [1]"), b);
  EXPECT_EQ(viewer.FindLayer("roads [9]"), nullptr);
  // The spatial index setting is applied by Open and again once attached.
  EXPECT_EQ(a->applyUseRTreeCalls, 2);
}

TEST(Viewer, AttachKeepsAnExplicitNameAndCaption) {
  TGIS_Viewer viewer(kBitmap128);
  auto layer = MakeLayer("roads.dxf");
  layer->SetName("Streets");
  layer->SetCaption("City streets");
  TestLayer* l = Attach(viewer, std::move(layer));
  EXPECT_EQ(l->Name(), "Streets");
  EXPECT_EQ(l->Caption(), "City streets");
}

TEST(Viewer, ExplicitNameCollidingIgnoringCaseIsRefused) {
  TGIS_Viewer viewer(kBitmap128);
  Attach(viewer, MakeLayer("roads.dxf"));
  auto second = MakeLayer("other.dxf");
  second->SetName("ROADS");
  std::vector<std::string> released;
  second->LogReleaseTo(&released);
  try {
    viewer.AttachLayer(std::move(second));
    FAIL() << "attached twice";
  } catch (const EGIS_Exception& e) {
    EXPECT_EQ(e.Name(), "ROADS");
    EXPECT_EQ(e.Message(), "0080 Layer \"ROADS\" already exist");
  }
  EXPECT_EQ(viewer.LayersCount(), 1);
  EXPECT_EQ(released, std::vector<std::string>{"ROADS"});  // not leaked
}

TEST(Viewer, OpenErrorsPassThroughAndTheLayerIsNotAttached) {
  TGIS_Viewer viewer(kBitmap128);
  auto layer = MakeLayer("broken.dxf");
  layer->failSetup = true;
  EXPECT_THROW(viewer.AttachLayer(std::move(layer)), std::runtime_error);
  EXPECT_EQ(viewer.LayersCount(), 0);
  EXPECT_THROW(viewer.AttachLayer(nullptr), EGIS_Exception);
}

TEST(Viewer, SetNameRefusesNamesOfTheViewerEvenInAnotherCase) {
  TGIS_Viewer viewer(kBitmap128);
  TestLayer* a = Attach(viewer, MakeLayer("roads.dxf"));
  TestLayer* b = Attach(viewer, MakeLayer("rivers.dxf"));
  EXPECT_THROW(b->SetName("Roads"), EGIS_Exception);
  EXPECT_EQ(b->Name(), "rivers");
  EXPECT_NO_THROW(a->SetName("roads"));  // unchanged: nothing to check
  // Only the case changes: the search finds the layer itself.
  EXPECT_THROW(a->SetName("ROADS"), EGIS_Exception);
  a->SetName("lakes");
  EXPECT_EQ(viewer.FindLayer("LAKES"), a);
}

TEST(Viewer, ExtentIsTheUnionOfTheLayersAndFiresOnce) {
  TGIS_Viewer viewer(kBitmap128);
  int changes = 0;
  TGIS_BaseObject* sender = nullptr;
  viewer.OnExtentChange = [&](TGIS_BaseObject* s) {
    ++changes;
    sender = s;
  };
  Attach(viewer, MakeLayer("a.dxf", {0, 0, 10, 5}));
  ExpectBounds(viewer.Extent(), {0, 0, 10, 5});
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(sender, &viewer);

  TestLayer* b = Attach(viewer, MakeLayer("b.dxf", {-5, 2, 3, 20}));
  ExpectBounds(viewer.Extent(), {-5, 0, 10, 20});
  EXPECT_EQ(changes, 2);
  viewer.UpdateExtent();
  EXPECT_EQ(changes, 2);  // unchanged extent: no event

  // A layer without data does not widen the extent.
  Attach(viewer, MakeLayer("c.dxf"));
  ExpectBounds(viewer.Extent(), {-5, 0, 10, 20});

  viewer.SetRestrictedExtent({0, 0, 4, 4});
  viewer.UpdateExtent();
  ExpectBounds(viewer.Extent(), {0, 0, 4, 4});
  b->SetExtent({100, 100, 101, 101});
  viewer.SetRestrictedExtent({-1, -1, 0, 0});
  viewer.UpdateExtent();
  ExpectBounds(viewer.Extent(), {0, 0, 0, 0});  // touches layer a at a corner
}

TEST(Viewer, SetExtentRecomputesOnlyOnChangeAndOnceWhileLocked) {
  TGIS_Viewer viewer(kBitmap128);
  TestLayer* l = Attach(viewer, MakeLayer("a.dxf", {0, 0, 10, 5}));
  const int before = l->projectedCalls;

  l->SetExtent({0, 0, 10, 5});
  EXPECT_EQ(l->projectedCalls, before);
  l->SetExtent({0, 0, 10, 6});
  EXPECT_EQ(l->projectedCalls, before + 1);
  ExpectBounds(viewer.Extent(), {0, 0, 10, 6});

  l->LockExtent();
  for (int i = 7; i < 12; ++i) l->SetExtent({0, 0, 10, static_cast<double>(i)});
  EXPECT_EQ(l->projectedCalls, before + 1);
  ExpectBounds(viewer.Extent(), {0, 0, 10, 6});
  l->UnlockExtent();
  EXPECT_EQ(l->projectedCalls, before + 2);
  EXPECT_FALSE(l->ExtentLocked());
  ExpectBounds(viewer.Extent(), {0, 0, 10, 11});
}

TEST(Viewer, FitZoomShrinksTheTargetByTheMargin) {
  TGIS_Viewer viewer(kBitmap128);
  EXPECT_EQ(viewer.FullZoom(), 1);  // no extent
  Attach(viewer, MakeLayer("a.dxf", {0, 0, 230, 115}));
  // 128 pixels less 10 % is 115.2, rounded to 115: 115 / 230.
  EXPECT_EQ(viewer.FullZoom(), 0.5);
  viewer.ZoomToAll();
  EXPECT_EQ(viewer.Zoom(), 0.5);
  // The view is centred on the extent.
  EXPECT_EQ(viewer.Center().X, 115);
  EXPECT_EQ(viewer.Center().Y, 57.5);
  const TGIS_Coord mid = viewer.PixelToMap(64, 64);
  EXPECT_EQ(mid.X, 115);
  EXPECT_EQ(mid.Y, 57.5);

  viewer.SetBigExtentMargin(0);
  EXPECT_EQ(viewer.FullZoom(), 128.0 / 230);
  viewer.SetBigExtentMargin(10);  // the extent grows by 10 %
  EXPECT_DOUBLE_EQ(viewer.FullZoom(), 128.0 / 253);
}

TEST(Viewer, MarginRoundingTiesGoToEven) {
  struct Case {
    std::int32_t size, margin;
    double want;
  };
  // The zoom on a 1 x 1 extent is the shrunk target size itself.
  const Case cases[] = {{128, -10, 115}, {5, -10, 4},  {15, -10, 14}, {25, -10, 22},
                        {10, -50, 5},    {3, -50, 2},  {128, -1, 127}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " " + std::to_string(c.margin));
    TGIS_Viewer viewer(TGIS_ViewerBitmap{c.size, c.size});
    viewer.SetBigExtentMargin(c.margin);
    Attach(viewer, MakeLayer("a.dxf", {0, 0, 1, 1}));
    EXPECT_EQ(viewer.FullZoom(), c.want);
  }
  // 1 pixel less 50 % rounds to 0 (0.5 ties to even): nothing to fit into.
  TGIS_Viewer tiny(TGIS_ViewerBitmap{1, 1});
  tiny.SetBigExtentMargin(-50);
  Attach(tiny, MakeLayer("a.dxf", {0, 0, 1, 1}));
  EXPECT_EQ(tiny.FullZoom(), 1);
}

TEST(Viewer, ZoomToAllWithoutLayersChangesNothing) {
  TGIS_Viewer viewer(kBitmap128);
  viewer.ZoomToAll();
  EXPECT_EQ(viewer.Zoom(), 1);
  EXPECT_EQ(viewer.OffsetX(), 0);
  EXPECT_EQ(viewer.OffsetY(), 0);
  EXPECT_TRUE(IsNullBounds(viewer.Extent()));
}

TEST(Viewer, ZoomCannotGoBelowTheFullExtentWithRestrictedDrag) {
  TGIS_Viewer viewer(kBitmap128);
  Attach(viewer, MakeLayer("a.dxf", {0, 0, 230, 115}));
  viewer.ZoomToAll();
  viewer.SetZoom(0.1);
  EXPECT_EQ(viewer.Zoom(), 0.5);
  viewer.SetZoom(0.499);  // within 1 %: accepted
  EXPECT_EQ(viewer.Zoom(), 0.499);
  viewer.SetZoom(1e20);
  EXPECT_EQ(viewer.Zoom(), 1e10);
  viewer.SetRestrictedDrag(false);
  viewer.SetZoom(0.1);
  EXPECT_EQ(viewer.Zoom(), 0.1);
  EXPECT_THROW(viewer.SetZoom(0), EGIS_Exception);
  EXPECT_THROW(viewer.SetZoom(-1), EGIS_Exception);
  EXPECT_EQ(viewer.Zoom(), 0.1);
}

TEST(Viewer, RestrictedDragKeepsTheViewNearTheExtent) {
  TGIS_Viewer viewer(kBitmap128);
  Attach(viewer, MakeLayer("a.dxf", {0, 0, 100, 100}));
  viewer.SetZoom(12.8);  // 10 map units across the view
  // Margin -10: the drag area grows by 0.05 * 128 / 12.8 = 0.5 on each side.
  viewer.Pan(1e9, -1e9);
  EXPECT_DOUBLE_EQ(viewer.OffsetX(), 100.5 - 10);
  EXPECT_DOUBLE_EQ(viewer.OffsetY(), -0.5);
  viewer.Pan(-1e9, 1e9);
  EXPECT_DOUBLE_EQ(viewer.OffsetX(), -0.5);
  EXPECT_DOUBLE_EQ(viewer.OffsetY(), 100.5 - 10);

  viewer.SetRestrictedDrag(false);
  viewer.Pan(1000, 0);
  EXPECT_DOUBLE_EQ(viewer.OffsetX(), 999.5);
}

TEST(Viewer, BusyEventSequence) {
  TGIS_Viewer viewer(kBitmap128);
  struct Call {
    TGIS_BaseObject* sender;
    std::int32_t position, end;
  };
  std::vector<Call> calls;
  viewer.OnBusy = [&](TGIS_BaseObject* s, std::int32_t p, std::int32_t e, bool&) {
    calls.push_back({s, p, e});
  };
  TestLayer layer;
  viewer.BusyBegin(&layer);
  EXPECT_EQ(viewer.BusyLevel(), 1);
  EXPECT_EQ(viewer.HourglassLevel(), 1);
  bool abort = false;
  viewer.BusyShake(&layer, 5000, 120000, abort);
  viewer.BusyShake(&layer, 10000, 120000, abort);
  EXPECT_FALSE(abort);
  viewer.BusyRelease(&layer);
  EXPECT_EQ(viewer.BusyLevel(), 0);
  EXPECT_EQ(viewer.HourglassLevel(), 0);

  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].sender, &layer);
  EXPECT_EQ(calls[0].position, 0);
  EXPECT_EQ(calls[0].end, 100);
  EXPECT_EQ(calls[1].position, 5000);
  EXPECT_EQ(calls[2].position, 10000);
  EXPECT_EQ(calls[2].end, 120000);
  EXPECT_EQ(calls[3].sender, &viewer);
  EXPECT_EQ(calls[3].position, -1);
  EXPECT_EQ(calls[3].end, -1);
}

TEST(Viewer, BusyCallsOutOfOrderAreBadCalls) {
  TGIS_Viewer viewer(kBitmap128);
  auto expectBadCall = [](auto&& call, const char* name) {
    try {
      call();
      ADD_FAILURE() << "no error for " << name;
    } catch (const EGIS_Exception& e) {
      EXPECT_EQ(e.Name(), name);
      EXPECT_EQ(e.Message(), std::string("0006 Improper call of the method (bad parameters?) ") + name);
    }
  };
  bool abort = false;
  expectBadCall([&] { viewer.BusyRelease(&viewer); }, "BusyRelease");
  expectBadCall([&] { viewer.BusyShake(&viewer, 1, 2, abort); }, "BusyShake");
  expectBadCall([&] { viewer.HourglassRelease(); }, "HourglassRelease");
  viewer.BusyBegin(&viewer);
  viewer.BusyShake(&viewer, 1, 2, abort);
  viewer.BusyRelease(&viewer);
  expectBadCall([&] { viewer.BusyShake(&viewer, 1, 2, abort); }, "BusyShake");
  EXPECT_EQ(viewer.BusyLevel(), 0);
}

TEST(Viewer, NestedBusyCallsWithoutHandler) {
  TGIS_Viewer viewer(kBitmap128);
  bool abort = false;
  viewer.BusyBegin(nullptr);
  viewer.BusyBegin(nullptr);
  viewer.BusyShake(nullptr, 1, 2, abort);
  viewer.BusyRelease(nullptr);
  viewer.BusyShake(nullptr, 1, 2, abort);
  viewer.BusyRelease(nullptr);
  EXPECT_EQ(viewer.BusyLevel(), 0);
  EXPECT_FALSE(viewer.HourglassShake());
}

TEST(Viewer, AbortFromTheHandlerEndsTheOperationWithAnError) {
  TGIS_Viewer viewer(kBitmap128);
  bool stop = false;
  viewer.OnBusy = [&](TGIS_BaseObject*, std::int32_t, std::int32_t, bool& abort) {
    if (stop) abort = true;
  };
  viewer.BusyBegin(&viewer);
  bool abort = false;
  viewer.BusyShake(&viewer, 1, 10, abort);
  EXPECT_FALSE(abort);
  stop = true;
  try {
    viewer.BusyShake(&viewer, 2, 10, abort);
    FAIL() << "abort did not end the operation";
  } catch (const EGIS_Exception& e) {
    EXPECT_EQ(e.Name(), "BusyShake");
    EXPECT_EQ(e.Value(), 2);
  }
  // The operation's clean-up releases as usual.
  viewer.BusyRelease(&viewer);
  EXPECT_EQ(viewer.BusyLevel(), 0);

  // Without AbortRaises the flag is only handed back.
  viewer.SetAbortRaises(false);
  viewer.BusyBegin(&viewer);
  abort = false;
  EXPECT_NO_THROW(viewer.BusyShake(&viewer, 3, 10, abort));
  EXPECT_TRUE(abort);
  viewer.BusyRelease(&viewer);
}

TEST(Viewer, AbortInBeginAndReleaseIsIgnored) {
  TGIS_Viewer viewer(kBitmap128);
  viewer.OnBusy = [](TGIS_BaseObject*, std::int32_t, std::int32_t, bool& abort) {
    abort = true;
  };
  EXPECT_NO_THROW(viewer.BusyBegin(&viewer));
  EXPECT_NO_THROW(viewer.BusyRelease(&viewer));
}

TEST(Viewer, HandlerErrorsPassThroughAndKeepTheLevelsConsistent) {
  TGIS_Viewer viewer(kBitmap128);
  viewer.OnBusy = [](TGIS_BaseObject*, std::int32_t position, std::int32_t, bool&) {
    if (position == 0) throw std::runtime_error("interrupted");
  };
  EXPECT_THROW(viewer.BusyBegin(&viewer), std::runtime_error);
  EXPECT_EQ(viewer.BusyLevel(), 0);
  EXPECT_EQ(viewer.HourglassLevel(), 0);
}

TEST(Viewer, LayersAreReleasedLastAttachedFirst) {
  std::vector<std::string> released;
  {
    TGIS_Viewer viewer(kBitmap128);
    for (const char* path : {"a.dxf", "b.dxf", "c.dxf"}) {
      auto layer = MakeLayer(path);
      layer->LogReleaseTo(&released);
      viewer.AttachLayer(std::move(layer));
    }
  }
  EXPECT_EQ(released, (std::vector<std::string>{"c", "b", "a"}));

  released.clear();
  TGIS_Viewer viewer(kBitmap128);
  for (const char* path : {"x.dxf", "y.dxf"}) {
    auto layer = MakeLayer(path, {0, 0, 1, 1});
    layer->LogReleaseTo(&released);
    viewer.AttachLayer(std::move(layer));
  }
  viewer.OpenProject("/nonexistent-cadport-dir/p.ttkgp");
  viewer.Clear();
  EXPECT_EQ(released, (std::vector<std::string>{"y", "x"}));
  EXPECT_EQ(viewer.LayersCount(), 0);
  EXPECT_EQ(viewer.ProjectConfig(), nullptr);
  EXPECT_TRUE(viewer.ProjectName().empty());
  // Names are free again.
  Attach(viewer, MakeLayer("x.dxf"));
  EXPECT_EQ(viewer.Layer(0)->Name(), "x");
}

TEST(Viewer, ProjectSettingsApplyToAttachedLayers) {
  TGIS_Viewer viewer(kBitmap128);
  viewer.OpenProject("/nonexistent-cadport-dir/p.ttkgp");
  ASSERT_NE(viewer.ProjectConfig(), nullptr);
  auto layer = MakeLayer("roads.dxf", {0, 0, 1, 1});
  layer->SetCaption("Own");
  TestLayer* l = Attach(viewer, std::move(layer));
  EXPECT_EQ(l->Caption(), "Own");  // the project is empty: nothing changes

  // Saving writes into the project (ParamsInProject), and re-applying reads
  // the project's values back.
  l->SetTransparency(30);
  l->SaveConfig();
  EXPECT_TRUE(viewer.ProjectConfig()->Modified());
  l->SetTransparency(90);
  l->ApplyConfig();
  EXPECT_EQ(l->Transparency(), 30);
}

}  // namespace
}  // namespace cadport
