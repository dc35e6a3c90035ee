#include "kernel/dxf/layer_dxf.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <iterator>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/base/utils.h"
#include "kernel/layer/viewer.h"

namespace cadport {
namespace {

namespace fs = std::filesystem;

using Groups = std::vector<std::pair<int, std::string>>;

// A text drawing from groups, codes right-aligned in three columns.
std::string DxfText(const Groups& groups) {
  std::ostringstream out;
  for (const auto& [code, value] : groups) {
    std::string c = std::to_string(code);
    if (c.size() < 3) c.insert(0, 3 - c.size(), ' ');
    out << c << "\r\n" << value << "\r\n";
  }
  return out.str();
}

// ENTITIES section around the given entity groups.
std::string Entities(const Groups& entities, const Groups& before = {}) {
  Groups all = before;
  all.push_back({0, "SECTION"});
  all.push_back({2, "ENTITIES"});
  all.insert(all.end(), entities.begin(), entities.end());
  all.push_back({0, "ENDSEC"});
  all.push_back({0, "EOF"});
  return DxfText(all);
}

class LayerDxfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("cadport_dxf_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Write(const std::string& content, const std::string& name = "drawing.dxf") {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    return p.string();
  }
  std::unique_ptr<TGIS_LayerDXF> Open(const std::string& content) {
    auto layer = std::make_unique<TGIS_LayerDXF>();
    layer->SetPath(Write(content));
    layer->Open();
    return layer;
  }
  fs::path dir_;
};

std::vector<TGIS_Coord> Points(const TGIS_Shape& shape) {
  std::vector<TGIS_Coord> out;
  for (int part = 0; part < shape.GetNumParts(); ++part) {
    for (int i = 0; i < shape.GetPartSize(part); ++i) out.push_back(shape.GetPoint(part, i));
  }
  return out;
}

void ExpectPoint(const TGIS_Coord& got, double x, double y, double tol = 1e-9) {
  EXPECT_NEAR(got.X, x, tol);
  EXPECT_NEAR(got.Y, y, tol);
}

std::string Field(const TGIS_Shape& shape, const char* name) { return shape.GetField(name).ToText(); }

// ---- reader frame ---------------------------------------------------------------

TEST_F(LayerDxfTest, DeclaresTheSevenFieldsInOrder) {
  auto layer = Open(Entities({}));
  const std::vector<std::string> names = {"DXF_HANDLE", "DXF_LAYER",   "DXF_ELEVATION", "DXF_LABEL",
                                          "DXF_LABEL_ANGLE", "DXF_COLOR", "DXF_WEIGHT"};
  ASSERT_EQ(layer->FieldsCount(), 7);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(layer->FieldInfo(i)->Name, names[static_cast<std::size_t>(i)]);
  }
  EXPECT_EQ(layer->FieldInfo(2)->FieldKind, TGIS_FieldKind::Number);
  EXPECT_EQ(layer->FieldInfo(2)->Width, 18);
  EXPECT_EQ(layer->FieldInfo(2)->Decimal, 6);
  EXPECT_FALSE(layer->Modified());
}

TEST_F(LayerDxfTest, VersionGivesTheDescription) {
  struct Case {
    const char* acadver;
    const char* description;
  };
  const Case cases[] = {{"AC1015", "Autocad Export (AutoCAD 2000 DXF)"},
                        {"AC1009", "Autocad Export (R11 or R12 DXF)"},
                        {"AC1032", "Autocad Export (Unknown DXF)"},
                        {nullptr, "Autocad Export ( DXF)"}};
  for (const Case& c : cases) {
    Groups header = {{0, "SECTION"}, {2, "HEADER"}};
    if (c.acadver != nullptr) header.push_back({9, "$ACADVER"}), header.push_back({1, c.acadver});
    header.push_back({0, "ENDSEC"});
    auto layer = Open(Entities({}, header));
    EXPECT_EQ(layer->Description(), c.description);
  }
  TGIS_LayerDXF binary;
  binary.SetPath(std::string(CADPORT_TEST_DATA) + "/dxf/ezdxf_binary_r2000.dxf");
  binary.Open();
  EXPECT_EQ(binary.Description(), "Autocad Export (AutoCAD 2000 binary DXF)");
}

TEST_F(LayerDxfTest, FaultsFailWithTheLineNumber) {
  struct Case {
    std::string text;
    int32_t line;
  };
  const Case cases[] = {
      // A code line with a trailing blank.
      {"  0\nSECTION\n  2\nENTITIES\n  0 \nLINE\n", 5},
      // A coordinate that is not a number.
      {"0\nSECTION\n2\nENTITIES\n0\nLINE\n10\nabc\n0\nEOF\n", 8},
      // A colour that is not an integer.
      {"0\nSECTION\n2\nENTITIES\n0\nPOINT\n62\n1.5\n0\nEOF\n", 8},
      // A zero-length extrusion.
      {"0\nSECTION\n2\nENTITIES\n0\nCIRCLE\n40\n1\n210\n0\n220\n0\n230\n0\n0\nEOF\n", 16},
  };
  for (const Case& c : cases) {
    TGIS_LayerDXF layer;
    const std::string path = Write(c.text);
    layer.SetPath(path);
    try {
      layer.Open();
      ADD_FAILURE() << "opened: " << c.text;
    } catch (const EGIS_Exception& e) {
      EXPECT_EQ(e.ErrorCode(), 9) << e.what();
      EXPECT_EQ(e.Name(), path);
      EXPECT_EQ(e.Value(), c.line) << c.text;
      EXPECT_NE(std::string(e.what()).find("0090 File structure error"), std::string::npos);
    }
  }
}

// Name tables remember their answers by the exact bytes asked for; the
// answers stay right as names are added, in any case, and in copies that
// outlive the table they were copied from.
TEST(DxfNameTable, RememberedAnswersStayRight) {
  auto table = std::make_unique<TGIS_DxfNameTable<int32_t>>();
  table->Add("Walls", 1);
  ASSERT_NE(table->Find("walls"), nullptr);
  EXPECT_EQ(*table->Find("WALLS"), 1);
  EXPECT_EQ(*table->Find("walls"), 1);
  EXPECT_EQ(table->Find("Roof"), nullptr);
  table->Add("ROOF", 2);  // a name asked for in vain before
  ASSERT_NE(table->Find("Roof"), nullptr);
  EXPECT_EQ(*table->Find("Roof"), 2);
  table->Add("roof", 3);  // the first entry for a name wins
  EXPECT_EQ(*table->Find("Roof"), 2);

  TGIS_DxfNameTable<int32_t> copy(*table);
  TGIS_DxfNameTable<int32_t> assigned;
  EXPECT_EQ(assigned.Find("Walls"), nullptr);
  assigned = *table;
  table.reset();
  for (const TGIS_DxfNameTable<int32_t>* t : {&copy, &assigned}) {
    ASSERT_NE(t->Find("Walls"), nullptr);
    EXPECT_EQ(*t->Find("Walls"), 1);
    EXPECT_EQ(*t->Find("walls"), 1);
    EXPECT_EQ(t->Find("Door"), nullptr);
  }
  copy.Clear();
  EXPECT_EQ(copy.Find("Walls"), nullptr);
}

TEST_F(LayerDxfTest, ValuesAreNotTrimmed) {
  auto layer = Open(DxfText({{0, "SECTION"}, {2, "ENTITIES "}, {0, "POINT"}, {0, "EOF"}}));
  EXPECT_TRUE(layer->Shapes().empty());
  auto spaced = Open(DxfText({{0, "SECTION"}, {2, "ENTITIES"}, {0, "POINT "}, {0, "POINT"}, {0, "EOF"}}));
  EXPECT_EQ(spaced->Shapes().size(), 1u);
}

TEST_F(LayerDxfTest, MissingFileFailsBeforeAnyBusyCall) {
  TGIS_Viewer viewer(TGIS_ViewerBitmap{128, 128});
  int calls = 0;
  viewer.OnBusy = [&](TGIS_BaseObject*, int32_t, int32_t, bool&) { ++calls; };
  auto layer = std::make_unique<TGIS_LayerDXF>();
  layer->SetPath((dir_ / "missing.dxf").string());
  EXPECT_THROW(viewer.AttachLayer(std::move(layer)), EFOpenError);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(viewer.BusyLevel(), 0);
}

TEST_F(LayerDxfTest, EmptyFileCannotBeMapped) {
  TGIS_LayerDXF layer;
  layer.SetPath(Write(""));
  try {
    layer.Open();
    FAIL() << "opened an empty file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Code(), TGIS_MappedStream::kStageMapping);
  }
}

TEST_F(LayerDxfTest, ProgressOncePerFiveThousandLines) {
  Groups groups;
  for (int i = 0; i < 2499; ++i) groups.push_back({999, "comment"});
  groups.push_back({0, "EOF"});  // 5000 lines
  const std::string path = Write(DxfText(groups));
  TGIS_Viewer viewer(TGIS_ViewerBitmap{128, 128});
  std::vector<std::pair<int32_t, int32_t>> shakes;
  viewer.OnBusy = [&](TGIS_BaseObject*, int32_t pos, int32_t end, bool& abort) {
    if (pos >= 0 && end > 0 && !(pos == 0 && end == 100)) shakes.emplace_back(pos, end);
    abort = true;  // loading cannot be cancelled
  };
  viewer.SetAbortRaises(false);
  auto layer = std::make_unique<TGIS_LayerDXF>();
  layer->SetPath(path);
  viewer.AttachLayer(std::move(layer));
  ASSERT_EQ(shakes.size(), 1u);
  EXPECT_EQ(shakes[0].first, shakes[0].second);
  EXPECT_EQ(viewer.BusyLevel(), 0);
}

// ---- tables and visibility --------------------------------------------------------------

Groups LayerTable(const std::vector<Groups>& entries) {
  Groups g = {{0, "SECTION"}, {2, "TABLES"}, {0, "TABLE"}, {2, "LAYER"}, {70, "3"}};
  for (const Groups& e : entries) {
    g.push_back({0, "LAYER"});
    g.insert(g.end(), e.begin(), e.end());
  }
  g.push_back({0, "ENDTAB"});
  g.push_back({0, "ENDSEC"});
  return g;
}

TEST_F(LayerDxfTest, FrozenLayersAreSkippedOrHidden) {
  const Groups tables = LayerTable({
      {{2, "0"}, {70, "0"}, {62, "7"}},
      {{2, "FROZEN"}, {70, "1"}, {62, "1"}},
      {{2, "FROZEN65"}, {70, "65"}, {62, "1"}},
      {{2, "FROZENLOCKED"}, {70, "5"}, {62, "1"}},
      {{2, "LOCKED"}, {70, "4"}, {62, "1"}},
      {{2, "OFF"}, {70, "0"}, {62, "-7"}},
  });
  const Groups entities = {
      {0, "POINT"}, {8, "FROZEN"}, {10, "1"}, {20, "1"},             // skipped
      {0, "POINT"}, {8, "FROZEN65"}, {10, "1"}, {20, "1"},           // skipped
      {0, "POINT"}, {8, "FROZENLOCKED"}, {10, "1"}, {20, "1"},       // skipped
      {0, "POINT"}, {5, "A1"}, {8, "FROZEN"}, {10, "1"}, {20, "1"},  // read, hidden
      {0, "POINT"}, {5, "A2"}, {8, "LOCKED"}, {10, "1"}, {20, "1"},
      {0, "POINT"}, {5, "A3"}, {8, "OFF"}, {10, "1"}, {20, "1"},     // layer off: hidden
      {0, "POINT"}, {5, "A4"}, {8, "NOT_IN_TABLE"}, {10, "1"}, {20, "1"},
      {0, "POINT"}, {8, "NOT_IN_TABLE"}, {5, "A5"}, {10, "1"}, {20, "1"},
  };
  auto layer = Open(Entities(entities, tables));
  const auto& shapes = layer->Shapes();
  ASSERT_EQ(shapes.size(), 5u);
  const std::vector<std::pair<std::string, bool>> expected = {
      {"A1", true}, {"A2", false}, {"A3", true}, {"A4", false}, {"A5", false}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Field(*shapes[i], "DXF_HANDLE"), expected[i].first);
    EXPECT_EQ(shapes[i]->Hidden(), expected[i].second) << expected[i].first;
  }
  EXPECT_TRUE(layer->LayerIsVisible("frozen_not_there"));
  EXPECT_FALSE(layer->LayerIsVisible("frozen"));  // names ignore case
}

TEST_F(LayerDxfTest, WithoutFlagsEveryLayerIsVisible) {
  const Groups tables = LayerTable({{{2, "A"}, {62, "1"}}, {{2, "B"}, {62, "2"}}});
  auto layer = Open(Entities({{0, "POINT"}, {8, "A"}, {10, "1"}, {20, "1"}}, tables));
  ASSERT_EQ(layer->Shapes().size(), 1u);
  EXPECT_FALSE(layer->Shapes()[0]->Hidden());
}

TEST_F(LayerDxfTest, ColoursByLayerAndExplicit) {
  const Groups tables = LayerTable({{{2, "RED"}, {70, "0"}, {62, "1"}}});
  const Groups entities = {
      {0, "LINE"}, {5, "L1"}, {8, "RED"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
      {0, "LINE"}, {5, "L2"}, {8, "RED"}, {62, "5"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
      {0, "LINE"}, {5, "L3"}, {8, "RED"}, {62, "256"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
      {0, "LINE"}, {5, "L4"}, {8, "RED"}, {62, "257"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
  };
  auto layer = Open(Entities(entities, tables));
  const auto& shapes = layer->Shapes();
  ASSERT_EQ(shapes.size(), 4u);
  const uint32_t red = MakeRGB(255, 0, 0);
  const uint32_t blue = MakeRGB(0, 0, 255);
  ASSERT_NE(layer->ShapeStyle(shapes[0]->Uid()), nullptr);
  EXPECT_EQ(layer->ShapeStyle(shapes[0]->Uid())->LineColor, red);
  EXPECT_EQ(layer->ShapeStyle(shapes[1]->Uid())->LineColor, blue);
  EXPECT_EQ(Field(*shapes[1], "DXF_COLOR"), "5");
  // BYLAYER takes the drawing layer's colour; it does not hide the shape.
  EXPECT_EQ(layer->ShapeStyle(shapes[2]->Uid())->LineColor, red);
  EXPECT_FALSE(shapes[2]->Hidden());
  EXPECT_TRUE(shapes[3]->Hidden());
}

TEST_F(LayerDxfTest, PaletteExamples) {
  struct Case {
    int number, r, g, b;
  };
  const Case cases[] = {{0, 255, 255, 255},  {1, 255, 0, 0},     {7, 255, 255, 255},
                        {8, 128, 128, 128},  {9, 192, 192, 192}, {10, 255, 0, 0},
                        {11, 255, 127, 127}, {12, 204, 0, 0},    {17, 127, 63, 63},
                        {20, 255, 63, 0},    {21, 255, 159, 127}, {50, 255, 255, 0},
                        {240, 255, 0, 63},   {249, 76, 38, 47},  {250, 51, 51, 51},
                        {255, 255, 255, 255}};
  for (const Case& c : cases) {
    EXPECT_EQ(TGIS_LayerDXF::PaletteColor(c.number), MakeRGB(c.r, c.g, c.b)) << c.number;
  }
}

TEST_F(LayerDxfTest, ContrastWithTheViewerBackground) {
  const Groups entities = {
      {0, "LINE"}, {62, "7"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
      {0, "LINE"}, {62, "1"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
      {0, "LINE"}, {62, "250"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
  };
  const std::string path = Write(Entities(entities));
  struct Case {
    uint32_t background;
    uint32_t expected[3];
  };
  const Case cases[] = {
      {MakeRGB(255, 255, 255), {MakeRGB(85, 85, 85), MakeRGB(255, 0, 0), MakeRGB(51, 51, 51)}},
      {MakeRGB(0, 0, 0), {MakeRGB(255, 255, 255), MakeRGB(255, 0, 0), MakeRGB(51, 51, 51)}},
  };
  for (const Case& c : cases) {
    TGIS_Viewer viewer(TGIS_ViewerBitmap{128, 128});
    viewer.SetColor(c.background);
    auto owned = std::make_unique<TGIS_LayerDXF>();
    owned->SetPath(path);
    auto* layer = static_cast<TGIS_LayerDXF*>(viewer.AttachLayer(std::move(owned)));
    ASSERT_EQ(layer->Shapes().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(layer->ShapeStyle(layer->Shapes()[i]->Uid())->LineColor, c.expected[i]) << i;
    }
  }
}

TEST_F(LayerDxfTest, LineTypeClasses) {
  struct Case {
    const char* description;
    int32_t cls;
  };
  const Case cases[] = {{"ISO dash dot __ . __ .", 2},
                        {"ISO long-dash double-dot ____ .. ____", 3},
                        {"ISO dash __ __ __", 1},
                        {"Dashed __ __ __", 1},
                        {"Dash dot __ . __", 2},
                        {"Hidden __ __", 4},
                        {". . . .", 4},
                        {"__ . __ .", 2},
                        {"Center ____ _ ____", 0},
                        {"", 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(TGIS_LayerDXF::LineTypeDescriptionClass(c.description), c.cls) << c.description;
  }
  // Through the table: 73 = 0 gives class 0 whatever the description;
  // element values that are not numbers are ignored, and so is a blank 73.
  const Groups tables = {
      {0, "SECTION"}, {2, "TABLES"}, {0, "TABLE"}, {2, "LTYPE"},
      {0, "LTYPE"}, {2, "DASHED"}, {3, "Dashed __ __"}, {73, "2"}, {40, "0.75"}, {49, "0.5"}, {49, "x"},
      {0, "LTYPE"}, {2, "HIDDENZERO"}, {3, "Hidden __"}, {73, "0"}, {40, "0"},
      {0, "LTYPE"}, {2, "BLANKCOUNT"}, {3, "Dashed __"}, {73, "  "}, {40, "0"},  // ignored
      {0, "ENDTAB"},
      {0, "TABLE"}, {2, "LAYER"},
      {0, "LAYER"}, {2, "DL"}, {70, "0"}, {6, "DASHED"}, {370, "211"},
      {0, "ENDTAB"}, {0, "ENDSEC"}};
  const Groups entities = {
      {0, "LINE"}, {8, "DL"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
      {0, "LINE"}, {8, "DL"}, {6, "HIDDENZERO"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
      {0, "LINE"}, {8, "DL"}, {370, "53"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
      {0, "LINE"}, {8, "DL"}, {370, "-1"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
      {0, "LINE"}, {8, "DL"}, {370, "-3"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"},
  };
  auto layer = Open(Entities(entities, tables));
  ASSERT_EQ(layer->Shapes().size(), 5u);
  EXPECT_EQ(layer->ShapeStyle(layer->Shapes()[3]->Uid())->PenWidth, 8);  // BYLAYER
  EXPECT_EQ(layer->ShapeStyle(layer->Shapes()[4]->Uid())->PenWidth, 1);  // default
  const TGIS_DxfShapeStyle* s0 = layer->ShapeStyle(layer->Shapes()[0]->Uid());
  EXPECT_EQ(s0->PenStyle, TGIS_DxfPenStyle::Dash);
  EXPECT_EQ(s0->PenWidth, 8);  // 2.11 mm
  EXPECT_EQ(layer->ShapeStyle(layer->Shapes()[1]->Uid())->PenStyle, TGIS_DxfPenStyle::Solid);
  EXPECT_EQ(layer->ShapeStyle(layer->Shapes()[2]->Uid())->PenWidth, 2);  // 0.53 mm
  EXPECT_TRUE(layer->Shapes()[2]->GetFieldRaw("DXF_WEIGHT").IsEmpty());  // not set by LINE
}

// ---- header extents -----------------------------------------------------------------------

Groups Header(const Groups& variables) {
  Groups g = {{0, "SECTION"}, {2, "HEADER"}};
  g.insert(g.end(), variables.begin(), variables.end());
  g.push_back({0, "ENDSEC"});
  return g;
}

TEST_F(LayerDxfTest, HeaderExtentsClipOnlyWhenAsked) {
  const Groups header = Header({{9, "$EXTMIN"}, {10, "0"}, {20, "0"}, {30, "0"},
                                {9, "$EXTMAX"}, {10, "100"}, {20, "100"}, {30, "0"}});
  const Groups entities = {
      {0, "POINT"}, {5, "IN"}, {10, "50"}, {20, "50"},
      {0, "POINT"}, {5, "OUT"}, {10, "150"}, {20, "50"},
      {0, "LINE"}, {5, "EDGE"}, {10, "100"}, {20, "0"}, {11, "200"}, {21, "0"},
  };
  const std::string path = Write(Entities(entities, header));
  TGIS_LayerDXF keep;
  keep.SetPath(path);
  keep.Open();
  EXPECT_EQ(keep.Shapes().size(), 3u);
  EXPECT_DOUBLE_EQ(keep.HeaderExtent().XMax, 100);

  TGIS_LayerDXF clip;
  clip.SetClipToHeaderExtent(true);
  clip.SetPath(path);
  clip.Open();
  ASSERT_EQ(clip.Shapes().size(), 2u);
  EXPECT_EQ(Field(*clip.Shapes()[0], "DXF_HANDLE"), "IN");
  EXPECT_EQ(Field(*clip.Shapes()[1], "DXF_HANDLE"), "EDGE");
}

TEST_F(LayerDxfTest, ExtentReaderStopsAtTheNextVariable) {
  // $EXTMIN without Z must not swallow $EXTMAX.
  const Groups header = Header({{9, "$EXTMIN"}, {10, "1"}, {20, "2"},
                                {9, "$EXTMAX"}, {10, "30"}, {20, "40"}, {30, "5"}});
  auto layer = Open(Entities({}, header));
  EXPECT_DOUBLE_EQ(layer->HeaderExtent().XMin, 1);
  EXPECT_DOUBLE_EQ(layer->HeaderExtent().YMin, 2);
  EXPECT_DOUBLE_EQ(layer->HeaderExtent().XMax, 30);
  EXPECT_DOUBLE_EQ(layer->HeaderExtent().YMax, 40);
  EXPECT_DOUBLE_EQ(layer->HeaderExtent().ZMax, 5);
}

// ---- entities -----------------------------------------------------------------------------

TEST_F(LayerDxfTest, ArcSegmentCounts) {
  struct Case {
    const char* a0;
    const char* a1;
    std::size_t points;
  };
  const Case cases[] = {{"0", "30", 6}, {"0", "45", 12}, {"0", "90", 23},
                        {"0", "180", 45}, {"0", "270", 45}, {"350", "10", 6}};
  Groups entities;
  for (const Case& c : cases) {
    entities.insert(entities.end(), {{0, "ARC"}, {10, "5"}, {20, "5"}, {30, "2"}, {40, "2"},
                                     {50, c.a0}, {51, c.a1}});
  }
  auto layer = Open(Entities(entities));
  ASSERT_EQ(layer->Shapes().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const TGIS_Shape& s = *layer->Shapes()[i];
    EXPECT_EQ(s.ShapeKind(), TGIS_ShapeKind::Arc);
    const auto pts = Points(s);
    ASSERT_EQ(pts.size(), cases[i].points) << i;
    const double a0 = std::stod(cases[i].a0) * std::numbers::pi / 180;
    const double a1 = std::stod(cases[i].a1) * std::numbers::pi / 180;
    ExpectPoint(pts.front(), 5 + 2 * std::cos(a0), 5 + 2 * std::sin(a0));
    ExpectPoint(pts.back(), 5 + 2 * std::cos(a1), 5 + 2 * std::sin(a1));
    EXPECT_EQ(Field(s, "DXF_ELEVATION"), "2");
  }
  // 350 -> 10 runs counter-clockwise through 0.
  const auto pts = Points(*layer->Shapes()[5]);
  EXPECT_GT(pts[3].X, 6.99);
}

TEST_F(LayerDxfTest, CircleHasFortyFivePointsInObjectCoordinates) {
  auto layer = Open(Entities({{0, "CIRCLE"}, {10, "0"}, {20, "0"}, {40, "1"},
                              {0, "CIRCLE"}, {10, "2"}, {20, "3"}, {40, "1"},
                              {210, "0"}, {220, "0"}, {230, "-1"}}));
  ASSERT_EQ(layer->Shapes().size(), 2u);
  const auto pts = Points(*layer->Shapes()[0]);
  ASSERT_EQ(pts.size(), 45u);
  ExpectPoint(pts.front(), 1, 0);
  EXPECT_EQ(pts.back().X, pts.front().X);
  EXPECT_EQ(pts.back().Y, pts.front().Y);
  ExpectPoint(pts[11], 0, 1);
  // Extrusion (0, 0, -1) mirrors the object X axis.
  const auto mirrored = Points(*layer->Shapes()[1]);
  ExpectPoint(mirrored.front(), -3, 3);
  ExpectPoint(mirrored[11], -2, 4);
}

TEST_F(LayerDxfTest, ObjectCoordinatesAgainstEzdxf) {
  TGIS_LayerDXF layer;
  layer.SetPath(std::string(CADPORT_TEST_DATA) + "/dxf/ezdxf_ocs.dxf");
  layer.Open();
  ASSERT_EQ(layer.Shapes().size(), 4u);
  const auto arc = Points(*layer.Shapes()[0]);
  ExpectPoint(arc.front(), -3, 3);
  ExpectPoint(arc.back(), -2, 4);
  const auto circle = Points(*layer.Shapes()[1]);
  ExpectPoint(circle[0], -3, 3);
  ExpectPoint(circle[11], -2, 4);
  ExpectPoint(circle[22], -1, 3);
  ExpectPoint(circle[33], -2, 2);
  ExpectPoint(Points(*layer.Shapes()[2])[0], -2, 3);  // TEXT insertion point
  const auto tilted = Points(*layer.Shapes()[3]);
  ExpectPoint(tilted[0], -1.41421356237, 1.41421356237, 1e-9);
  ExpectPoint(tilted[11], -0.816496580928, -0.816496580928, 1e-9);
  ExpectPoint(tilted[22], 1.41421356237, -1.41421356237, 1e-9);
  ExpectPoint(tilted[33], 0.816496580928, 0.816496580928, 1e-9);
}

TEST_F(LayerDxfTest, PointStaysInWorldCoordinates) {
  auto layer = Open(Entities({{0, "POINT"}, {10, "2"}, {20, "3"}, {30, "0"},
                              {210, "0"}, {220, "0"}, {230, "-1"}}));
  ASSERT_EQ(layer->Shapes().size(), 1u);
  EXPECT_EQ(layer->Shapes()[0]->ShapeKind(), TGIS_ShapeKind::Point);
  ExpectPoint(layer->Shapes()[0]->GetPoint(0, 0), 2, 3);
}

TEST_F(LayerDxfTest, SolidAndFaceCornerOrders) {
  const Groups corners3 = {{10, "0"}, {20, "0"}, {11, "1"}, {21, "0"}, {12, "1"}, {22, "1"}};
  const Groups corners4 = {{10, "0"}, {20, "0"}, {11, "1"}, {21, "0"},
                           {12, "0"}, {22, "1"}, {13, "1"}, {23, "1"}};
  Groups entities;
  auto add = [&](const char* type, const Groups& corners, const char* edges) {
    entities.push_back({0, type});
    entities.insert(entities.end(), corners.begin(), corners.end());
    if (edges != nullptr) entities.push_back({70, edges});
  };
  add("SOLID", corners3, nullptr);
  add("SOLID", corners4, nullptr);
  add("3DFACE", corners4, "1");
  add("3DFACE", corners4, "3");
  add("3DFACE", corners4, "8");
  auto layer = Open(Entities(entities));
  ASSERT_EQ(layer->Shapes().size(), 5u);
  using P = std::vector<std::pair<double, double>>;
  const P expected[] = {
      {{0, 0}, {1, 0}, {1, 1}, {0, 0}},
      {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}},
      {{1, 0}, {0, 1}, {1, 1}},
      {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0, 0}},
      {{0, 0}, {1, 0}, {0, 1}, {0, 0}},
  };
  EXPECT_EQ(layer->Shapes()[0]->ShapeKind(), TGIS_ShapeKind::Polygon);
  EXPECT_EQ(layer->Shapes()[2]->ShapeKind(), TGIS_ShapeKind::Arc);
  for (std::size_t i = 0; i < 5; ++i) {
    const auto pts = Points(*layer->Shapes()[i]);
    ASSERT_EQ(pts.size(), expected[i].size()) << i;
    for (std::size_t k = 0; k < pts.size(); ++k) ExpectPoint(pts[k], expected[i][k].first, expected[i][k].second);
  }
}

TEST_F(LayerDxfTest, TextLabelsAndPositions) {
  const Groups entities = {
      {0, "TEXT"}, {5, "T1"}, {10, "2"}, {20, "3"}, {30, "4"}, {1, "{\\fArial|b0;Hello\\PWorld}"},
      {50, "30"}, {71, "5"}, {210, "0"}, {220, "0"}, {230, "-1"},
      {0, "TEXT"}, {5, "T2"}, {10, "0"}, {20, "0"}, {1, "No\\Pbraces"},
      {0, "MTEXT"}, {5, "T3"}, {10, "5"}, {20, "6"}, {71, "2"}, {3, "first "}, {3, "second "},
      {1, "last"}, {210, "0"}, {220, "0"}, {230, "-1"},
      {101, "Embedded Object"}, {10, "99"}, {20, "99"}, {1, "not the label"},
      // Extended data comes after the embedded object and is the entity's.
      {1001, "ADE"}, {1002, "{"}, {1000, "OWNER=Smith"}, {1002, "}"},
  };
  auto layer = Open(Entities(entities));
  const auto& shapes = layer->Shapes();
  ASSERT_EQ(shapes.size(), 3u);
  EXPECT_EQ(Field(*shapes[0], "DXF_LABEL"), "Hello\rWorld");
  EXPECT_EQ(Field(*shapes[0], "DXF_LABEL_ANGLE"), "30");
  EXPECT_EQ(Field(*shapes[0], "DXF_ELEVATION"), "4");
  ExpectPoint(shapes[0]->GetPoint(0, 0), -2, 3);  // object coordinates
  const TGIS_DxfShapeStyle* style = layer->ShapeStyle(shapes[0]->Uid());
  ASSERT_NE(style, nullptr);
  EXPECT_TRUE(style->ShowsLabel);
  EXPECT_STREQ(DxfLabelPositionName(style->LabelPosition), "MIDDLECENTER");
  EXPECT_NEAR(style->LabelRotation, -std::numbers::pi / 6, 1e-12);
  EXPECT_EQ(Field(*shapes[1], "DXF_LABEL"), "No\\Pbraces");
  EXPECT_EQ(Field(*shapes[2], "DXF_LABEL"), "first second last");
  EXPECT_EQ(Field(*shapes[2], "OWNER"), "Smith");
  ExpectPoint(shapes[2]->GetPoint(0, 0), 5, 6);  // MTEXT: world coordinates
  EXPECT_STREQ(DxfLabelPositionName(layer->ShapeStyle(shapes[2]->Uid())->LabelPosition), "DOWNLEFT");
}

TEST_F(LayerDxfTest, LongMTextFromEzdxf) {
  TGIS_LayerDXF layer;
  layer.SetPath(std::string(CADPORT_TEST_DATA) + "/dxf/ezdxf_mtext_r2018.dxf");
  layer.Open();
  ASSERT_EQ(layer.Shapes().size(), 1u);
  EXPECT_EQ(Field(*layer.Shapes()[0], "DXF_LABEL"), std::string(300, 'A') + "END");
  ExpectPoint(layer.Shapes()[0]->GetPoint(0, 0), 5, 6);
}

TEST_F(LayerDxfTest, ExtendedDataFields) {
  const Groups entities = {
      {0, "POINT"}, {5, "P1"}, {10, "1"}, {20, "1"},
      {1001, "ADE"}, {1002, "{"}, {1000, "OWNER=Smith"}, {1000, "A=B=C"}, {1000, "NOEQUALS"},
      {1000, "PARCEL==17"}, {1011, "1"}, {1021, "2"}, {1031, "3"}, {1002, "}"},
      {1001, "OTHERAPP"}, {1000, "IGNORED=1"},
      {0, "POINT"}, {5, "P2"}, {10, "2"}, {20, "2"},
      {1001, "ADE"}, {1000, "OWNER=Jones"},  // no closing brace
      {0, "POINT"}, {5, "P3"}, {10, "3"}, {20, "3"},
  };
  auto layer = Open(Entities(entities));
  const auto& shapes = layer->Shapes();
  ASSERT_EQ(shapes.size(), 3u);
  ASSERT_GE(layer->FindField("OWNER"), 0);
  EXPECT_EQ(layer->FieldInfo(layer->FindField("OWNER"))->Width, 255);
  EXPECT_EQ(Field(*shapes[0], "OWNER"), "Smith");
  EXPECT_EQ(Field(*shapes[0], "PARCEL"), "17");
  EXPECT_LT(layer->FindField("A"), 0);
  EXPECT_LT(layer->FindField("IGNORED"), 0);
  EXPECT_EQ(Field(*shapes[1], "OWNER"), "Jones");
  EXPECT_EQ(Field(*shapes[2], "DXF_HANDLE"), "P3");

  // A drawing that ends right after a value (no ENDSEC, no EOF) keeps it.
  auto ended = Open(DxfText({{0, "SECTION"}, {2, "ENTITIES"}, {0, "POINT"}, {5, "P4"}, {10, "1"},
                             {20, "1"}, {1001, "ADE"}, {1000, "OWNER=Last"}}));
  ASSERT_EQ(ended->Shapes().size(), 1u);
  EXPECT_EQ(Field(*ended->Shapes()[0], "OWNER"), "Last");
}

// Drawings before release 2007 hold their texts in the code page named by
// $DWGCODEPAGE, with \U+XXXX escapes for characters outside it; later ones
// hold UTF-8. Layer names, labels and extended data arrive as UTF-8.
TEST_F(LayerDxfTest, TextsArriveAsUtf8WhateverTheDrawingsCodePage) {
  struct Case {
    const char* file;
    int32_t drawingCodePage;
    int32_t inputCodePage;
    const char* layerName;
    const char* text;
    const char* mtext;
    const char* owner;
  };
  const Case cases[] = {
      {"ezdxf_cp1252_r2000.dxf", 1252, 1252, "Straße", "Höhe 12° Ж", "Maß Ü", "Müller"},
      {"ezdxf_cp1251_r2000.dxf", 1251, 1251, "Слой", "Высота 5", "Ж°", "Иван"},
      {"ezdxf_utf8_r2018.dxf", 1252, kCodePageUTF8, "Straße", "Höhe 12° Ж", "Maß Ü", "Müller"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TGIS_LayerDXF layer;
    layer.SetPath(std::string(CADPORT_TEST_DATA) + "/dxf/" + c.file);
    layer.Open();
    EXPECT_EQ(layer.DrawingCodePage(), c.drawingCodePage);
    EXPECT_EQ(layer.InputCodePage(), c.inputCodePage);
    const auto& shapes = layer.Shapes();
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(Field(*shapes[0], "DXF_LAYER"), c.layerName);
    EXPECT_EQ(Field(*shapes[0], "DXF_LABEL"), c.text);
    EXPECT_EQ(Field(*shapes[0], "OWNER"), c.owner);
    EXPECT_EQ(Field(*shapes[1], "DXF_LAYER"), c.layerName);
    EXPECT_EQ(Field(*shapes[1], "DXF_LABEL"), c.mtext);
  }

  // A code page set on the layer wins over the drawing's.
  TGIS_LayerDXF forced;
  forced.SetPath(std::string(CADPORT_TEST_DATA) + "/dxf/ezdxf_cp1251_r2000.dxf");
  forced.SetCodePage(1252);
  forced.Open();
  EXPECT_EQ(forced.InputCodePage(), 1252);
  ASSERT_FALSE(forced.Shapes().empty());
  EXPECT_EQ(Field(*forced.Shapes()[0], "DXF_LAYER"), "Ñëîé");
}

TEST_F(LayerDxfTest, CodePageNamesAndEscapes) {
  const std::pair<const char*, int32_t> names[] = {
      {"ANSI_1252", 1252}, {"ansi_1251", 1251}, {"ANSI_932", 932}, {"DOS850", 850},
      {"DOS866", 866},     {"ISO8859-2", 28592}, {"MACINTOSH", 10000}, {"BIG5", 950},
      {"UTF8", kCodePageUTF8}, {" ANSI_1250 ", 1250}, {"ANSI_", -1}, {"KLINGON", -1}, {"", -1},
  };
  for (const auto& [name, codePage] : names) EXPECT_EQ(TGIS_LayerDXF::CodePageOfName(name), codePage) << name;

  const std::pair<const char*, const char*> escapes[] = {
      {"\\U+00B0", "°"},          {"45\\U+00b0 N", "45° N"}, {"\\U+0416\\U+20AC", "Ж€"},
      {"\\U+00", "\\U+00"},       {"\\U+GGGG", "\\U+GGGG"},  {"\\U+D800", "\\U+D800"},
      {"a\\P\\U+0041", "a\\PA"},  {"plain", "plain"},
  };
  for (const auto& [in, out] : escapes) EXPECT_EQ(TGIS_LayerDXF::DecodeUnicodeEscapes(in), out) << in;

  // Hand-written drawings: an unknown code page name recodes nothing; a
  // release-2018 text keeps a backslash sequence as it is.
  const std::string latin = "\xC4" "bc";  // "Äbc" in code page 1252
  struct Case {
    std::string version;
    std::string codePage;
    std::string text;
    std::string label;
  };
  const Case cases[] = {
      {"AC1015", "ANSI_1252", latin + " \\U+0416", "Äbc Ж"},
      {"", "ANSI_1252", latin, "Äbc"},
      {"AC1015", "KLINGON", latin, latin},
      {"AC1032", "ANSI_1252", "Äbc \\U+0416", "Äbc \\U+0416"},
  };
  for (const Case& c : cases) {
    Groups header = {{0, "SECTION"}, {2, "HEADER"}};
    if (!c.version.empty()) header.push_back({9, "$ACADVER"}), header.push_back({1, c.version});
    header.push_back({9, "$DWGCODEPAGE"});
    header.push_back({3, c.codePage});
    header.push_back({0, "ENDSEC"});
    auto layer = Open(Entities({{0, "TEXT"}, {8, "0"}, {10, "1"}, {20, "2"}, {1, c.text}}, header));
    ASSERT_EQ(layer->Shapes().size(), 1u);
    EXPECT_EQ(Field(*layer->Shapes()[0], "DXF_LABEL"), c.label) << c.version << " " << c.codePage;
  }
}

TEST_F(LayerDxfTest, SplineThroughFitPoints) {
  const Groups entities = {
      {0, "SPLINE"}, {5, "S1"}, {74, "3"}, {11, "0"}, {21, "0"}, {31, "0"},
      {11, "1"}, {21, "1"}, {31, "0"}, {11, "2"}, {21, "0"}, {31, "0"},
      // 2D fit points without group 31, and a count that lies.
      {0, "SPLINE"}, {5, "S2"}, {74, "1"}, {11, "0"}, {21, "0"}, {11, "5"}, {21, "5"},
      {11, "10"}, {21, "0"}, {11, "15"}, {21, "5"},
  };
  auto layer = Open(Entities(entities));
  ASSERT_EQ(layer->Shapes().size(), 2u);
  const auto s1 = Points(*layer->Shapes()[0]);
  ASSERT_EQ(s1.size(), 13u);
  ExpectPoint(s1.front(), 0, 0);
  // The uniform cubic B-spline of the fit points: (P0 + 4 P1 + P2) / 6 midway.
  ExpectPoint(s1[6], 1, 2.0 / 3.0, 1e-6);
  ExpectPoint(s1.back(), 2, 0);
  const auto s2 = Points(*layer->Shapes()[1]);
  ASSERT_EQ(s2.size(), 17u);
  ExpectPoint(s2.back(), 15, 5);
}

TEST_F(LayerDxfTest, SplineFromControlPointsAgainstEzdxf) {
  TGIS_LayerDXF layer;
  layer.SetPath(std::string(CADPORT_TEST_DATA) + "/dxf/ezdxf_spline_control.dxf");
  layer.Open();
  ASSERT_EQ(layer.Shapes().size(), 1u);
  const auto pts = Points(*layer.Shapes()[0]);
  std::ifstream ref(std::string(CADPORT_TEST_DATA) + "/dxf/ezdxf_spline_control.txt");
  std::vector<TGIS_Coord> expected;
  double t = 0, x = 0, y = 0;
  while (ref >> t >> x >> y) expected.push_back({x, y});
  ASSERT_EQ(expected.size(), 21u);
  ASSERT_EQ(pts.size(), expected.size());
  for (std::size_t i = 0; i < pts.size(); ++i) ExpectPoint(pts[i], expected[i].X, expected[i].Y, 1e-9);
}

// A spline that has fit points and also its control points and knots is the
// NURBS curve of those: it passes through its fit points (ezdxf made the
// control points from the fit points; the fit points sit at knots 0, 1/4,
// ..., 1, i.e. at every seventh of the 28 segments).
TEST_F(LayerDxfTest, SplineWithFitAndControlPointsIsTheNurbsCurve) {
  TGIS_LayerDXF layer;
  layer.SetPath(std::string(CADPORT_TEST_DATA) + "/dxf/ezdxf_spline_fit_control.dxf");
  layer.Open();
  ASSERT_EQ(layer.Shapes().size(), 1u);
  const auto pts = Points(*layer.Shapes()[0]);
  std::ifstream ref(std::string(CADPORT_TEST_DATA) + "/dxf/ezdxf_spline_fit_control.txt");
  std::vector<TGIS_Coord> expected;
  double t = 0, x = 0, y = 0;
  while (ref >> t >> x >> y) expected.push_back({x, y});
  ASSERT_EQ(expected.size(), 29u);
  ASSERT_EQ(pts.size(), expected.size());
  for (std::size_t i = 0; i < pts.size(); ++i) ExpectPoint(pts[i], expected[i].X, expected[i].Y, 1e-9);
  const TGIS_Coord fit[] = {{0, 0}, {5, 5}, {10, 0}, {15, 5}, {20, 0}};
  for (std::size_t i = 0; i < 5; ++i) ExpectPoint(pts[7 * i], fit[i].X, fit[i].Y, 1e-9);

  // Knots that do not fit the control points: the fit points are used.
  const Groups bad = {
      {0, "SPLINE"}, {5, "S3"}, {71, "3"}, {40, "0"}, {40, "1"},
      {10, "0"}, {20, "0"}, {10, "1"}, {20, "3"}, {10, "2"}, {20, "0"}, {10, "3"}, {20, "3"},
      {11, "0"}, {21, "0"}, {11, "1"}, {21, "1"}, {11, "2"}, {21, "0"},
  };
  auto fallback = Open(Entities(bad));
  ASSERT_EQ(fallback->Shapes().size(), 1u);
  const auto f = Points(*fallback->Shapes()[0]);
  ASSERT_EQ(f.size(), 13u);
  ExpectPoint(f[6], 1, 2.0 / 3.0, 1e-6);
}

TEST_F(LayerDxfTest, BinaryDrawingFromEzdxf) {
  for (const char* name : {"ezdxf_binary_r2000.dxf", "ezdxf_text_r2000.dxf"}) {
    TGIS_LayerDXF layer;
    layer.SetPath(std::string(CADPORT_TEST_DATA) + "/dxf/" + name);
    layer.Open();
    // LINE, CIRCLE, TEXT; the POINT lies on a frozen layer.
    ASSERT_EQ(layer.Shapes().size(), 4u) << name;
    std::vector<std::string> kinds;
    const auto& shapes = layer.Shapes();
    EXPECT_EQ(Field(*shapes[0], "DXF_LAYER"), "WALLS");
    EXPECT_EQ(Field(*shapes[0], "DXF_ELEVATION"), "5");
    ExpectPoint(Points(*shapes[0]).back(), 10, 0);
    EXPECT_EQ(layer.ShapeStyle(shapes[0]->Uid())->PenWidth, 2);  // 0.50 mm
    EXPECT_EQ(Points(*shapes[1]).size(), 45u);
    EXPECT_EQ(Field(*shapes[1], "DXF_COLOR"), "3");
    EXPECT_EQ(Field(*shapes[2], "DXF_LABEL"), "Binary label");
    EXPECT_EQ(Field(*shapes[2], "DXF_LABEL_ANGLE"), "30");
    EXPECT_TRUE(shapes[3]->Hidden()) << name;  // the frozen layer's POINT: handle first
  }
}

// ---- regression drawings ------------------------------------------------------------------

std::string Corpus(const char* name) { return std::string(CADPORT_TEST_DATA) + "/dxf/corpus/" + name; }

TEST(LayerDxfRegression, BinaryReleaseThirteen) {
  TGIS_LayerDXF layer;
  layer.SetPath(Corpus("bin_dxf_r13.dxf"));
  layer.Open();
  EXPECT_EQ(layer.Description(), "Autocad Export (R13 binary DXF)");
  ASSERT_EQ(layer.Shapes().size(), 3u);
  const auto first = Points(*layer.Shapes()[0]);
  ASSERT_EQ(first.size(), 2u);
  ExpectPoint(first[0], 335.717551, 383.161624, 1e-6);
  ExpectPoint(first[1], 533.246842, 304.270352, 1e-6);
  EXPECT_EQ(Field(*layer.Shapes()[2], "DXF_HANDLE"), "113");
}

TEST(LayerDxfRegression, BinaryRelease2018AndRelease12) {
  TGIS_LayerDXF r2018;
  r2018.SetPath(Corpus("gdal_BINARY_wipeout.dxf"));
  r2018.Open();  // only wipeouts in blocks: nothing to convert, nothing refused
  EXPECT_EQ(r2018.Description(), "Autocad Export (Unknown binary DXF)");
  EXPECT_TRUE(r2018.Shapes().empty());

  TGIS_LayerDXF r12;
  r12.SetPath(std::string(CADPORT_TEST_DATA) + "/dxf/ezdxf_binary_r12.dxf");
  r12.Open();
  EXPECT_EQ(r12.Description(), "Autocad Export (R11 or R12 binary DXF)");
  ASSERT_EQ(r12.Shapes().size(), 3u);
  EXPECT_EQ(Field(*r12.Shapes()[0], "DXF_LAYER"), "R12LINES");
  EXPECT_EQ(Field(*r12.Shapes()[0], "DXF_COLOR"), "2");
  ExpectPoint(Points(*r12.Shapes()[0]).back(), 3, 4);
  EXPECT_EQ(Field(*r12.Shapes()[1], "DXF_LABEL"), "R12 text");
}

TEST(LayerDxfRegression, TextsInObjectCoordinates) {
  // Positions as ezdxf computes them.
  TGIS_LayerDXF layer;
  layer.SetPath(Corpus("gdal_mtext-ocs-reduced.dxf"));
  layer.Open();
  ASSERT_EQ(layer.Shapes().size(), 6u);
  const std::vector<std::pair<double, double>> expected = {
      {320000, 5815010}, {320000, 5815012.5}, {-2612222.701120017, -4508903.649440102},
      {320000, 5815002.5}, {320000, 5815005}, {320000, 5815007.5}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ExpectPoint(layer.Shapes()[i]->GetPoint(0, 0), expected[i].first, expected[i].second, 1e-6);
  }
}

TEST(LayerDxfRegression, SolidVertexOrdering) {
  TGIS_LayerDXF layer;
  layer.SetPath(Corpus("gdal_solid-vertex-ordering.dxf"));
  layer.Open();
  ASSERT_EQ(layer.Shapes().size(), 2u);
  for (const auto& shape : layer.Shapes()) {
    EXPECT_EQ(shape->ShapeKind(), TGIS_ShapeKind::Polygon);
    const auto pts = Points(*shape);
    ASSERT_EQ(pts.size(), 5u);
    EXPECT_EQ(pts.front().X, pts.back().X);
    EXPECT_EQ(pts.front().Y, pts.back().Y);
  }
}

TEST(LayerDxfRegression, DamagedDrawingIsRefused) {
  // A code line "  2 " (trailing blank) in front of the ENTITIES section.
  TGIS_LayerDXF layer;
  layer.SetPath(Corpus("gdal_header_extended.dxf"));
  try {
    layer.Open();
    FAIL() << "opened";
  } catch (const EGIS_Exception& e) {
    EXPECT_EQ(e.ErrorCode(), 9);
    EXPECT_EQ(e.Value(), 1757);
  }
}

// ---- damaged input --------------------------------------------------------------------------

// Truncated and byte-flipped copies of real drawings (fixed seed) either
// open or fail with a kernel error; nothing crashes or escapes otherwise.
TEST_F(LayerDxfTest, DamagedCopiesOpenOrFailCleanly) {
  std::mt19937 rng(12345);
  for (const char* name : {"ezdxf_text_r2000.dxf", "ezdxf_binary_r2000.dxf", "ezdxf_binary_r12.dxf"}) {
    std::ifstream in(std::string(CADPORT_TEST_DATA) + "/dxf/" + name, std::ios::binary);
    const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(original.size(), 100u);
    for (int round = 0; round < 40; ++round) {
      std::string damaged = original;
      if (round % 3 == 0) {
        damaged.resize(1 + rng() % (damaged.size() - 1));
      } else {
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < flips; ++i) {
          // Keep the binary sentinel so that the binary reader is exercised.
          const std::size_t at = 22 + rng() % (damaged.size() - 22);
          damaged[at] = static_cast<char>(rng() & 0xFF);
        }
      }
      TGIS_LayerDXF layer;
      layer.SetPath(Write(damaged));
      try {
        layer.Open();
      } catch (const EGIS_Exception& e) {
        // A flipped byte may also make a coordinate absurdly large: the
        // layer's extent check refuses that (GIS_RS_ERR_LAYERBADEXTENT).
        EXPECT_TRUE(e.ErrorCode() == 9 || e.ErrorCode() == 8)
            << name << " round " << round << ": " << e.what();
      }
    }
  }
}

// ---- corpus ---------------------------------------------------------------------------------

TEST(LayerDxfCorpus, EveryDrawingOpensOrFailsCleanly) {
  const fs::path corpus(CADPORT_CORPUS_DIR);
  if (!fs::is_directory(corpus / "dxf")) GTEST_SKIP() << "no corpus at " << corpus;
  int opened = 0;
  int refused = 0;
  for (const char* sub : {"dxf", "openscad"}) {
    if (!fs::is_directory(corpus / sub)) continue;
    for (const auto& entry : fs::directory_iterator(corpus / sub)) {
      const std::string ext = AsciiLowerText(entry.path().extension().string());
      if (ext != ".dxf") continue;
      TGIS_LayerDXF layer;
      layer.SetPath(entry.path().string());
      try {
        layer.Open();
        ++opened;
      } catch (const EGIS_Exception& e) {
        EXPECT_EQ(e.ErrorCode(), 9) << entry.path() << ": " << e.what();
        std::cout << "refused: " << e.what() << "\n";
        ++refused;
      }
    }
  }
  EXPECT_GT(opened, 0);
  RecordProperty("opened", opened);
  RecordProperty("refused", refused);
}

}  // namespace
}  // namespace cadport
