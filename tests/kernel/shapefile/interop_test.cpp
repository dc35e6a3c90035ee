// Sets written by the shapefile layer, read by independent programs: pyshp,
// GDAL (its Python binding and ogrinfo) and shapelib's shpdump / dbfdump.
// Every record's kind, parts, points (exact doubles) and values must be what
// was written.  A test skips only when its program is not installed.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "kernel/shapefile/layer_shp.h"
#include "tests/kernel/shapefile/shapefile_test_util.h"

namespace cadport {
namespace {

using testing::AddShape;
using testing::RunCommand;
using testing::ScratchDir;

const char* const kPython = "/usr/bin/python3";

std::string Bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  char buf[20];
  std::snprintf(buf, sizeof buf, "%016" PRIx64, u);
  return buf;
}

bool HavePythonModule(const char* module) {
  return std::system((std::string(kPython) + " -c 'import " + module + "' >/dev/null 2>&1").c_str()) == 0;
}

struct Value {
  const char* name;  // the exported (11-character) column name
  std::string text;  // canonical text (see read_set.py)
};

struct Expected {
  const char* kind;
  std::vector<std::vector<TGIS_Coord>> parts;
  std::vector<Value> values;
};

// The source: fields with long names (exported as 11 characters) and of
// every kind; shapes with exact doubles, several parts, an empty one.
struct Source {
  TGIS_LayerVector layer;
  std::vector<Expected> arcs;
  std::vector<Expected> polygons;

  Source() {
    testing::PrepareLayer(layer);
    layer.AddField("NAME", TGIS_FieldKind::String, 16, 0);
    layer.AddField("DXF_ELEVATION", TGIS_FieldKind::Float, 20, 5);
    layer.AddField("DXF_LABEL_ANGLE", TGIS_FieldKind::Number, 12, 3);
    layer.AddField("COUNT", TGIS_FieldKind::Number, 18, 0);
    layer.AddField("FLAG", TGIS_FieldKind::Boolean, 1, 0);
    layer.AddField("DAY", TGIS_FieldKind::Date, 8, 0);

    const double third = 1.0 / 3.0;
    TGIS_Shape* a = AddShape(layer, TGIS_ShapeKind::Arc, {{{0.1, 0.2}, {third, -2.25}, {1e6 + 0.7, 4}}});
    Set(a, "first", 0.5, 3.25, int64_t(42), true, EncodeDate(1999, 12, 31));
    arcs.push_back({"line", {{{0.1, 0.2}, {third, -2.25}, {1e6 + 0.7, 4}}},
                    Values("first", 0.5, "3.25", "42", "T", "19991231")});
    TGIS_Shape* b = AddShape(layer, TGIS_ShapeKind::Arc, {{{10, 10}, {11, 11}}, {{-20, 20}, {21, 22}, {23, 24.125}}});
    Set(b, "two parts", -1.5, -0.125, int64_t(9876543210123), false, EncodeDate(2024, 2, 29));
    arcs.push_back({"line", {{{10, 10}, {11, 11}}, {{-20, 20}, {21, 22}, {23, 24.125}}},
                    Values("two parts", -1.5, "-0.125", "9876543210123", "F", "20240229")});
    TGIS_Shape* c = layer.CreateShape(TGIS_ShapeKind::Arc);  // no geometry: a null record
    c->SetField("NAME", TGIS_Variant("empty"));
    c->SetField("DXF_ELEVATION", TGIS_Variant(1e150));
    // Values never set count as 0 (numbers) and 1900-01-01 (dates); a
    // logical without value stays blank.
    arcs.push_back({"null", {}, Values("empty", 1e150, "0", "0", "NULL", "19000101")});
    AddShape(layer, TGIS_ShapeKind::Point, {{{5, 5}}})->SetField("NAME", TGIS_Variant("skipped"));

    // Polygons as drawings hold them: outer rings counter-clockwise, holes
    // clockwise.  The set carries them the other way round (outer rings
    // clockwise, holes counter-clockwise), which is how peers tell them apart.
    TGIS_Shape* p = AddShape(layer, TGIS_ShapeKind::Polygon,
                             {{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{2, 2}, {2, 4}, {4, 4}, {4, 2}}});
    Set(p, "holed", 0, 1, int64_t(-7), true, EncodeDate(2000, 1, 1));
    polygons.push_back({"polygon",
                        {{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}}, {{2, 2}, {4, 2}, {4, 4}, {2, 4}, {2, 2}}},
                        Values("holed", 0, "1", "-7", "T", "20000101")});
    TGIS_Shape* t = AddShape(layer, TGIS_ShapeKind::Polygon, {{{20, 0}, {30, 0}, {25, 5}}});
    Set(t, "triangle", 0, 1, int64_t(2), false, EncodeDate(2000, 1, 2));
    polygons.push_back({"polygon", {{{20, 0}, {25, 5}, {30, 0}, {20, 0}}},
                        Values("triangle", 0, "1", "2", "F", "20000102")});
    // An island in a lake in a field, all counter-clockwise.
    TGIS_Shape* n = AddShape(layer, TGIS_ShapeKind::Polygon,
                             {{{40, 0}, {70, 0}, {70, 30}, {40, 30}},
                              {{45, 5}, {65, 5}, {65, 25}, {45, 25}},
                              {{50, 10}, {60, 10}, {60, 20}, {50, 20}}});
    Set(n, "nested", 0, 1, int64_t(3), true, EncodeDate(2000, 1, 3));
    polygons.push_back({"polygon",
                        {{{40, 0}, {40, 30}, {70, 30}, {70, 0}, {40, 0}},
                         {{45, 5}, {65, 5}, {65, 25}, {45, 25}, {45, 5}},
                         {{50, 10}, {50, 20}, {60, 20}, {60, 10}, {50, 10}}},
                        Values("nested", 0, "1", "3", "T", "20000103")});
  }

  static void Set(TGIS_Shape* s, const char* name, double elevation, double angle, int64_t count,
                  bool flag, TGIS_DateTime day) {
    s->SetField("NAME", TGIS_Variant(name));
    s->SetField("DXF_ELEVATION", TGIS_Variant(elevation));
    s->SetField("DXF_LABEL_ANGLE", TGIS_Variant(angle));
    s->SetField("COUNT", TGIS_Variant(count));
    s->SetField("FLAG", TGIS_Variant(flag));
    s->SetField("DAY", TGIS_Variant(day));
  }

  static std::vector<Value> Values(const char* name, double elevation, const char* angle,
                                   const char* count, const char* flag, const char* day) {
    double a = std::strtod(angle, nullptr);
    return {{"NAME", name},
            {"DXF_ELEVATI", "f" + Bits(elevation)},
            {"DXF_LABEL_A", "f" + Bits(a)},
            {"COUNT", count},
            {"FLAG", flag},
            {"DAY", day}};
  }
};

// The canonical text of the expected records; pyshp reads an 11-character
// column name as its first 10 characters (its limitation, not the file's).
std::string Canonical(const std::vector<Expected>& records, bool tenCharacterNames) {
  std::ostringstream out;
  int n = 1;
  for (const Expected& e : records) {
    out << "S " << n << " " << e.kind << " ";
    for (size_t i = 0; i < e.parts.size(); ++i) out << (i ? "," : "") << e.parts[i].size();
    out << " ";
    bool first = true;
    for (const auto& part : e.parts)
      for (const TGIS_Coord& c : part) {
        out << (first ? "" : ",") << Bits(c.X) << ":" << Bits(c.Y);
        first = false;
      }
    out << "\nR " << n << " ";
    for (size_t i = 0; i < e.values.size(); ++i) {
      std::string name = e.values[i].name;
      if (tenCharacterNames) name = name.substr(0, 10);
      out << (i ? "|" : "") << name << "=" << e.values[i].text;
    }
    out << "\n";
    ++n;
  }
  return out.str();
}

class Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    arcs_ = dir_.File("arcs.shp");
    polygons_ = dir_.File("polygons.shp");
    TGIS_LayerSHP a;
    a.SetPath(arcs_);
    a.ConvertFrom(&source_.layer, source_.layer.Extent(), TGIS_ShapeKind::Unknown, "", false);
    ASSERT_EQ(a.WrittenCount(), 3);
    TGIS_LayerSHP p;
    p.SetPath(polygons_);
    p.ConvertFrom(&source_.layer, source_.layer.Extent(), TGIS_ShapeKind::Polygon, "", false);
    ASSERT_EQ(p.WrittenCount(), 3);
  }

  static std::string Script() {
    return std::string(CADPORT_SOURCE_DIR) + "/tests/kernel/shapefile/read_set.py";
  }

  std::string ReadWith(const char* reader, const std::string& path) {
    int status = 0;
    std::string out = RunCommand(std::string(kPython) + " " + Script() + " " + reader + " " + path, &status);
    EXPECT_EQ(status, 0) << reader;
    return out;
  }

  ScratchDir dir_;
  Source source_;
  std::string arcs_, polygons_;
};

TEST_F(Interop, PyshpReadsWhatWasWritten) {
  if (!HavePythonModule("shapefile")) GTEST_SKIP() << "pyshp is not installed";
  EXPECT_EQ(ReadWith("pyshp", arcs_), Canonical(source_.arcs, true));
  EXPECT_EQ(ReadWith("pyshp", polygons_), Canonical(source_.polygons, true));
}

TEST_F(Interop, GdalReadsWhatWasWritten) {
  if (!HavePythonModule("osgeo.ogr")) GTEST_SKIP() << "GDAL's Python binding is not installed";
  EXPECT_EQ(ReadWith("gdal", arcs_), Canonical(source_.arcs, false));
  EXPECT_EQ(ReadWith("gdal", polygons_), Canonical(source_.polygons, false));
}

TEST_F(Interop, OgrinfoSeesTheLayer) {
  if (!testing::HaveTool("ogrinfo")) GTEST_SKIP() << "ogrinfo is not installed";
  int status = 0;
  const std::string out = RunCommand("ogrinfo -ro -al -so " + arcs_ + " 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Geometry: Line String"), std::string::npos) << out;
  EXPECT_NE(out.find("Feature Count: 3"), std::string::npos) << out;
  EXPECT_NE(out.find("Extent: (-20.000000, -2.250000) - (1000000.700000, 24.125000)"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("DXF_ELEVATI: Real (20.5)"), std::string::npos) << out;
  EXPECT_NE(out.find("DXF_LABEL_A: Real (12.3)"), std::string::npos) << out;
  EXPECT_NE(out.find("COUNT: Integer64 (18.0)"), std::string::npos) << out;
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
  EXPECT_EQ(out.find("Warning"), std::string::npos) << out;
}

TEST_F(Interop, ShapelibReadsWhatWasWritten) {
  if (!testing::HaveTool("shpdump") || !testing::HaveTool("dbfdump"))
    GTEST_SKIP() << "shapelib's tools are not installed";
  int status = 0;
  const std::string shp = RunCommand("shpdump -validate -precision 17 " + arcs_ + " 2>&1", &status);
  EXPECT_EQ(status, 0) << shp;
  // Vertices in order, as %.17g texts that read back to the same doubles.
  std::vector<TGIS_Coord> got;
  std::istringstream lines(shp);
  std::string line;
  std::vector<std::string> headers;
  while (std::getline(lines, line)) {
    if (line.rfind("Shape:", 0) == 0) headers.push_back(line.substr(0, line.find("  ")));
    const size_t open = line.find('(');
    if (open == std::string::npos || line.find("Bounds") != std::string::npos ||
        line.find("File") != std::string::npos || line.rfind("Shape:", 0) == 0 ||
        line.find("to") != std::string::npos)
      continue;
    char* end = nullptr;
    const double x = std::strtod(line.c_str() + open + 1, &end);
    const double y = std::strtod(end + 1, nullptr);
    got.push_back({x, y});
  }
  std::vector<TGIS_Coord> want;
  for (const Expected& e : source_.arcs)
    for (const auto& part : e.parts) want.insert(want.end(), part.begin(), part.end());
  ASSERT_EQ(got.size(), want.size()) << shp;
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Bits(got[i].X), Bits(want[i].X));
    EXPECT_EQ(Bits(got[i].Y), Bits(want[i].Y));
  }
  EXPECT_EQ(headers, (std::vector<std::string>{"Shape:0 (Arc)", "Shape:1 (Arc)", "Shape:2 (NullShape)"}));

  const std::string dbf = RunCommand("dbfdump -h -m -r " + dir_.File("arcs.dbf") + " 2>&1", &status);
  EXPECT_EQ(status, 0) << dbf;
  for (const char* want : {"DXF_ELEVATI", "DXF_LABEL_A", "NAME: first", "COUNT: 9876543210123",
                           "DXF_ELEVATI: 5.00000000000000E-01", "DXF_ELEVATI: 1.0000000000000E+150",
                           "DXF_LABEL_A: -0.125", "FLAG: Y", "DAY: 20240229"}) {
    EXPECT_NE(dbf.find(want), std::string::npos) << want << "\n" << dbf;
  }
}


// Peers tell outer rings from holes by their orientation (clockwise outer,
// counter-clockwise hole): every polygon must come back whole, its holes as
// holes, the island in the lake as a polygon of its own.
TEST_F(Interop, PyshpAssemblesPolygonsWithTheirHoles) {
  if (!HavePythonModule("shapefile")) GTEST_SKIP() << "pyshp is not installed";
  int status = 0;
  // With its warnings: pyshp tells when it has to guess which rings are holes.
  const std::string out =
      RunCommand(std::string(kPython) + " " + Script() + " pyshp-geo " + polygons_ + " 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "G 1 Polygon 2\nG 2 Polygon 1\nG 3 MultiPolygon 2+1\n");
}

TEST_F(Interop, OgrinfoReadsPolygonsWithTheirHoles) {
  if (!testing::HaveTool("ogrinfo")) GTEST_SKIP() << "ogrinfo is not installed";
  int status = 0;
  const std::string out = RunCommand("ogrinfo -ro -al -q " + polygons_ + " 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  std::vector<std::string> geometries;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t start = line.find_first_not_of(' ');
    if (start != std::string::npos && (line.compare(start, 8, "POLYGON ") == 0 ||
                                       line.compare(start, 13, "MULTIPOLYGON ") == 0))
      geometries.push_back(line.substr(start));
  }
  EXPECT_EQ(geometries,
            (std::vector<std::string>{
                "POLYGON ((0 0,0 10,10 10,10 0,0 0),(2 2,4 2,4 4,2 4,2 2))",
                "POLYGON ((20 0,25 5,30 0,20 0))",
                "MULTIPOLYGON (((40 0,40 30,70 30,70 0,40 0),(45 5,65 5,65 25,45 25,45 5)),"
                "((50 10,50 20,60 20,60 10,50 10)))"}))
      << out;
}

TEST_F(Interop, ShpdumpFindsTheRingOrderValid) {
  if (!testing::HaveTool("shpdump")) GTEST_SKIP() << "shapelib's tools are not installed";
  int status = 0;
  const std::string out = RunCommand("shpdump -validate " + polygons_ + " 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("\n0 object has invalid ring orderings."), std::string::npos) << out;
  EXPECT_NE(out.find("Shape:2 (Polygon)"), std::string::npos) << out;
}

}  // namespace
}  // namespace cadport
