#include "kernel/layer/layer_abstract.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>

#include "kernel/base/exception.h"
#include "kernel/base/units.h"
#include "kernel/base/utils.h"
#include "kernel/config/config.h"
#include "kernel/layer/viewer.h"
#include "tests/kernel/layer/test_layer.h"

namespace cadport {
namespace {

using testing::MakeLayer;
using testing::TestLayer;

void ExpectBounds(const TGIS_Bounds& got, const TGIS_Bounds& want) {
  EXPECT_EQ(got.XMin, want.XMin);
  EXPECT_EQ(got.YMin, want.YMin);
  EXPECT_EQ(got.XMax, want.XMax);
  EXPECT_EQ(got.YMax, want.YMax);
}

void ExpectBoundsNear(const TGIS_Bounds& got, const TGIS_Bounds& want) {
  EXPECT_NEAR(got.XMin, want.XMin, 1e-9);
  EXPECT_NEAR(got.YMin, want.YMin, 1e-9);
  EXPECT_NEAR(got.XMax, want.XMax, 1e-9);
  EXPECT_NEAR(got.YMax, want.YMax, 1e-9);
}

TEST(LayerAbstract, Defaults) {
  TestLayer layer;
  EXPECT_EQ(layer.Viewer(), nullptr);
  EXPECT_TRUE(layer.Name().empty());
  ExpectBounds(layer.ProjectedExtent(), {0, 0, 0, 0});
  EXPECT_TRUE(IsNullBounds(layer.Extent()));
  EXPECT_EQ(layer.Units(), nullptr);
  EXPECT_TRUE(layer.Active());
  EXPECT_FALSE(layer.HideFromLegend());
  EXPECT_TRUE(layer.UseFileParams());
  EXPECT_TRUE(layer.UseConfigFile());
  EXPECT_FALSE(layer.IncrementalPaint());
  EXPECT_TRUE(layer.CachedPaint());
  EXPECT_EQ(layer.Transparency(), 100);
  EXPECT_EQ(layer.Addition(), 0);
  EXPECT_EQ(layer.DormantMode(), 1);
  EXPECT_FALSE(layer.ExtentLocked());
  EXPECT_FALSE(layer.Opened());
  EXPECT_EQ(layer.Config(), nullptr);
  EXPECT_EQ(layer.CodePage(), -1);
  EXPECT_EQ(layer.OutCodePage(), -1);
  EXPECT_EQ(layer.CharSet(), -1);
  EXPECT_EQ(layer.ParamsCount(), 1);
  EXPECT_EQ(layer.OpenTime(), 0);
  EXPECT_FALSE(layer.Modified());
  EXPECT_TRUE(layer.ParamsInProject());
}

TEST(LayerAbstract, TransparencyAndAdditionAreClamped) {
  struct Case {
    std::int32_t in, want;
  };
  const Case cases[] = {{150, 100}, {-5, 0}, {0, 0}, {100, 100}, {37, 37}};
  TestLayer layer;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    layer.SetTransparency(c.in);
    layer.SetAddition(c.in);
    EXPECT_EQ(layer.Transparency(), c.want);
    EXPECT_EQ(layer.Addition(), c.want);
  }
}

TEST(LayerAbstract, OpenRunsOnceEvenAfterAFailure) {
  auto layer = MakeLayer("roads.dxf", {0, 0, 10, 5});
  layer->failSetup = true;
  EXPECT_THROW(layer->Open(), std::runtime_error);
  EXPECT_TRUE(layer->Opened());
  layer->Open();
  EXPECT_EQ(layer->setupCalls, 1);
  EXPECT_EQ(layer->setupFinishCalls, 0);
}

TEST(LayerAbstract, OpenChecksTheExtentAgainst1e100) {
  struct Case {
    TGIS_Bounds extent;
    bool bad;
  };
  const Case cases[] = {
      {{0, 0, 1e100, 5}, false},   {{-1e100, -1e100, 1e100, 1e100}, false},
      {{0, 0, 1e101, 5}, true},    {{-1e101, 0, 1, 5}, true},
      {{0, -1e101, 1, 5}, true},   {{0, 0, 1, 1e101}, true},
      {{0, 0, INFINITY, 1}, true},
      // A null extent is not checked, however large its values.
      {{1e200, 1e200, -1e200, -1e200}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extent.XMax);
    auto layer = MakeLayer("a.dxf", c.extent);
    layer->SetName("a");
    if (c.bad) {
      try {
        layer->Open();
        ADD_FAILURE() << "no error";
      } catch (const EGIS_Exception& e) {
        EXPECT_EQ(e.Name(), "a");
        EXPECT_EQ(e.ErrorCode(), 8);
        EXPECT_EQ(e.Message(), "0082 Layer \"a\" has bad extent. Probably corrupted world file");
      }
      EXPECT_TRUE(layer->Opened());
    } else {
      EXPECT_NO_THROW(layer->Open());
    }
  }
}

TEST(LayerAbstract, NullOrDegenerateExtentIsRecalculated) {
  struct Case {
    TGIS_Bounds extent;
    int recalcs;
  };
  const Case cases[] = {
      {{0, 0, 10, 5}, 0},   {{0, 0, 10, 0}, 1},  {{0, 0, 0, 5}, 1},
      {{2, 2, 2, 2}, 1},    {NullBounds(), 1},   {{NAN, 0, 10, 5}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extent.XMin);
    auto layer = MakeLayer("a.dxf", c.extent);
    layer->Open();
    EXPECT_EQ(layer->recalcExtentCalls, c.recalcs);
  }
}

TEST(LayerAbstract, OpenResolvesThePathWithoutChangingTheCurrentDirectory) {
  const auto cwd = std::filesystem::current_path();
  auto layer = MakeLayer("sub/../roads.dxf");
  layer->Open();
  EXPECT_EQ(std::filesystem::current_path(), cwd);
  EXPECT_EQ(layer->Path(), (cwd / "roads.dxf").string());
  EXPECT_EQ(layer->DataFolder(), cwd.string());
  // The configuration follows the data: roads.dxf.ini beside it.
  EXPECT_EQ(layer->ConfigName(), layer->Path());
  ASSERT_NE(layer->Config(), nullptr);
  EXPECT_EQ(layer->Config()->Path(), layer->Path() + ".ini");
  EXPECT_GT(layer->OpenTime(), 40000);  // a date after 2009
  EXPECT_EQ(layer->applyUseRTreeCalls, 1);
}

TEST(LayerAbstract, OpenLeavesUrlsAndMissingFoldersAlone) {
  for (const char* path : {"http://example.com/roads.dxf", "/nonexistent-cadport-dir/r.dxf"}) {
    SCOPED_TRACE(path);
    auto layer = MakeLayer(path);
    layer->Open();
    EXPECT_EQ(layer->Path(), path);
    EXPECT_TRUE(layer->DataFolder().empty());
    EXPECT_EQ(layer->ConfigName(), path);
  }
}

TEST(LayerAbstract, EmptyConfigNameBecomesDummy) {
  TestLayer layer;
  layer.SetConfigName("   ");
  EXPECT_EQ(layer.ConfigName(), "_DUMMY");
  ASSERT_NE(layer.Config(), nullptr);
  EXPECT_EQ(BaseName(layer.Config()->Path()), "_DUMMY");
  EXPECT_TRUE(layer.Config()->Path().ends_with("/_DUMMY.ini"));

  // The same name again, in another case and with blanks, keeps the object.
  layer.SetConfigName(" x.dxf ");
  const TGIS_Ini* first = layer.Config();
  layer.SetConfigName("X.DXF");
  EXPECT_EQ(layer.Config(), first);
  EXPECT_EQ(layer.ConfigName(), "x.dxf");
}

TEST(LayerAbstract, NoConfigFileWhenTheLayerDoesNotWantOne) {
  auto layer = MakeLayer("a.dxf", {0, 0, 1, 1});
  layer->SetUseConfigFile(false);
  layer->Open();
  EXPECT_EQ(layer->Config(), nullptr);
}

TEST(LayerAbstract, EffectiveCodePagesFallBackToViewerThenSystem) {
  TestLayer layer;
  EXPECT_EQ(layer.EffectiveCodePage(), SystemCodePage());
  EXPECT_EQ(layer.EffectiveOutCodePage(), SystemCodePage());
  EXPECT_EQ(layer.EffectiveCharSet(), 1);

  TGIS_Viewer viewer;
  viewer.SetCodePage(1250);
  viewer.SetOutCodePage(1252);
  viewer.SetCharSet(238);
  layer.SetViewer(&viewer);
  EXPECT_EQ(layer.EffectiveCodePage(), 1250);
  EXPECT_EQ(layer.EffectiveOutCodePage(), 1252);
  EXPECT_EQ(layer.EffectiveCharSet(), 238);

  layer.SetCodePage(0);
  layer.SetOutCodePage(866);
  layer.SetCharSet(0);
  EXPECT_EQ(layer.EffectiveCodePage(), 0);
  EXPECT_EQ(layer.EffectiveOutCodePage(), 866);
  EXPECT_EQ(layer.EffectiveCharSet(), 0);
  layer.SetViewer(nullptr);
}

TEST(LayerAbstract, SettingsRoundTripThroughAConfiguration) {
  TestLayer source;
  source.SetCaption("Main roads\r\nnorth");
  source.SetComments("surveyed 2024");
  source.SetActive(false);
  source.SetHideFromLegend(true);
  source.SetCachedPaint(false);
  source.SetIncrementalPaint(true);
  source.SetTransparency(40);
  source.SetAddition(7);
  source.SetDormantMode(3);
  source.SetCodePage(1250);
  source.SetOutCodePage(1252);
  source.SetCharSet(238);
  TGIS_Ini ini("/nonexistent-cadport-dir/x.ini");
  source.WriteConfig(ini);
  EXPECT_EQ(ini.ReadRaw("CharSet"), "EASTEUROPE");
  EXPECT_EQ(ini.ReadRaw("UseFileParams"), "nil");  // read, never written

  TestLayer target;
  target.ReadConfig(ini);
  EXPECT_EQ(target.Caption(), "Main roads\r\nnorth");
  EXPECT_EQ(target.Comments(), "surveyed 2024");
  EXPECT_FALSE(target.Active());
  EXPECT_TRUE(target.HideFromLegend());
  EXPECT_FALSE(target.CachedPaint());
  EXPECT_TRUE(target.IncrementalPaint());
  EXPECT_EQ(target.Transparency(), 40);
  EXPECT_EQ(target.Addition(), 7);
  EXPECT_EQ(target.DormantMode(), 3);
  EXPECT_EQ(target.CodePage(), 1250);
  EXPECT_EQ(target.OutCodePage(), 1252);
  EXPECT_EQ(target.CharSet(), 238);

  // Out-of-range values from a file are clamped like the setters do.
  ini.WriteInteger("Transparency", 400);
  ini.WriteInteger("Addition", -3);
  target.ReadConfig(ini);
  EXPECT_EQ(target.Transparency(), 100);
  EXPECT_EQ(target.Addition(), 0);
}

TEST(LayerAbstract, EmptyConfigurationKeepsSettingsAndFixesCodePages) {
  auto layer = MakeLayer("a.dxf", {0, 0, 1, 1});
  layer->SetCaption("Keep");
  layer->SetTransparency(60);
  layer->Open();
  EXPECT_EQ(layer->Caption(), "Keep");
  EXPECT_EQ(layer->Transparency(), 60);
  // An absent key reads as the effective value, which then sticks.
  EXPECT_EQ(layer->CodePage(), SystemCodePage());
  EXPECT_EQ(layer->CharSet(), 1);
  EXPECT_FALSE(layer->IsModified());
}

TEST(LayerAbstract, SaveConfigWritesToTheLayersOwnFileOnlyWhenAsked) {
  TestLayer layer;
  layer.SetConfigName("/nonexistent-cadport-dir/l.dxf");
  layer.SetCaption("C");
  layer.SaveConfig();  // ParamsInProject, no viewer: nothing written
  EXPECT_FALSE(layer.IsModified());
  layer.SetParamsInProject(false);
  layer.SaveConfig();
  EXPECT_TRUE(layer.Config()->Modified());
  EXPECT_TRUE(layer.IsModified());
  layer.Config()->SelectSection(0);
  EXPECT_EQ(layer.Config()->ReadString("Caption", ""), "C");
}

TEST(LayerAbstract, RevertAllIsAbstract) {
  TestLayer layer;
  EXPECT_THROW(layer.RevertAll(), EGIS_Exception);
}

TEST(LayerAbstract, ConversionsAreIdentityWithoutUnitsOrRotation) {
  TGIS_Viewer viewer;
  TestLayer layer;
  layer.SetViewer(&viewer);
  const TGIS_Coord p{12.5, -3};
  EXPECT_EQ(layer.LayerToMap(p).X, 12.5);
  EXPECT_EQ(layer.MapToLayer(p).Y, -3);
  // Units on one side only do not convert.
  layer.SetUnits(TGIS_Units(kUnitsKilometer, 0));
  EXPECT_EQ(layer.LayerToMap(p).X, 12.5);
  ExpectBounds(layer.ExtentToMap({0, 0, 10, 5}), {0, 0, 10, 5});
  layer.SetViewer(nullptr);
}

TEST(LayerAbstract, UnitsAndRotationConvertBothWays) {
  TGIS_Viewer viewer;
  viewer.SetUnits(TGIS_Units(kUnitsMeter, 0));
  TestLayer layer;
  layer.SetUnits(TGIS_Units(kUnitsKilometer, 0));
  layer.SetViewer(&viewer);
  EXPECT_EQ(layer.LayerToMap({2, 3}).X, 2000);
  EXPECT_EQ(layer.MapToLayer({2000, 3000}).Y, 3);

  viewer.SetRotationAngle(std::numbers::pi / 2);
  const TGIS_Coord m = layer.LayerToMap({1, 0});  // 1 km east, turned north
  EXPECT_NEAR(m.X, 0, 1e-9);
  EXPECT_NEAR(m.Y, 1000, 1e-9);
  const TGIS_Coord back = layer.MapToLayer(m);
  EXPECT_NEAR(back.X, 1, 1e-12);
  EXPECT_NEAR(back.Y, 0, 1e-12);

  ExpectBoundsNear(layer.ExtentToMap({0, 0, 10, 5}), {-5000, 0, 0, 10000});
  ExpectBoundsNear(layer.ExtentFromMap({-5000, 0, 0, 10000}), {0, 0, 10, 5});
  // Null and unbounded extents pass unchanged in both directions.
  ExpectBounds(layer.ExtentToMap(NullBounds()), NullBounds());
  ExpectBounds(layer.ExtentFromMap(NullBounds()), NullBounds());
  ExpectBounds(layer.ExtentFromMap(UnboundedBounds()), UnboundedBounds());
  layer.SetViewer(nullptr);
}

TEST(LayerAbstract, ProjectedExtentWalksTheSidesOfARotatedExtent) {
  TGIS_Viewer viewer;
  TestLayer layer;
  layer.SetViewer(&viewer);
  layer.SetExtent({0, 0, 10, 10});
  viewer.SetRotationAngle(std::numbers::pi / 4);
  layer.RecalcProjectedExtent();
  // The square turned by 45 degrees about the origin: a diamond whose
  // corners are the extremes.
  const double d = 10 / std::sqrt(2.0);
  ExpectBoundsNear(layer.ProjectedExtent(), {-d, 0, d, 2 * d});

  viewer.SetRotationAngle(0);
  layer.RecalcProjectedExtent();
  ExpectBounds(layer.ProjectedExtent(), {0, 0, 10, 10});
  layer.SetViewer(nullptr);
  layer.SetExtent({1, 1, 2, 2});
  layer.RecalcProjectedExtent();
  ExpectBounds(layer.ProjectedExtent(), {1, 1, 2, 2});
}

TEST(LayerAbstract, LocalNowIsASerialDate) {
  const double now = TGIS_LayerAbstract::LocalNow();
  // 2020-01-01 is serial day 43831; this code runs after that.
  EXPECT_GT(now, 43831);
  EXPECT_LT(now, 43831 + 365 * 200);
}

}  // namespace
}  // namespace cadport
