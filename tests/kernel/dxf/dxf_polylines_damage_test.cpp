// Damaged polyline, hatch and block drawings: counts and sizes are claims,
// and a drawing cut anywhere either opens or fails with the kernel's error,
// never crashes (run under the sanitizers in CI).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/dxf/layer_dxf.h"
#include "tests/kernel/dxf/dxf_polylines_fixture.h"

namespace cadport {
namespace {

using dxftest::ShapeView;
using dxftest::WriteTemp;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the first occurrence of `from` (which must be there).
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(DxfPolylineClaims, HugeMeshSizesStayWithinTheVertexList) {
  const std::string mesh = ReadFile(dxftest::Fixture("polylines/polygon_mesh_3x4.dxf"));
  struct Case {
    const char* name;
    std::string m, n;
    size_t parts;
  };
  const Case cases[] = {
      {"both huge", "2147483647", "2147483647", 1},  // one row of all twelve
      {"M huge", "2147483647", "4", 3 + 4},
      {"N huge", "3", "2147483647", 1},
      {"M negative", "-3", "4", 0},
      {"N zero", "3", "0", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = Replace(mesh, " 71\n3\n", " 71\n" + c.m + "\n");
    text = Replace(text, " 72\n4\n", " 72\n" + c.n + "\n");
    const std::vector<ShapeView> shapes = dxftest::Load(WriteTemp("mesh_claims.dxf", text));
    const size_t parts = shapes.empty() ? 0 : shapes[0].Parts.size();
    EXPECT_EQ(parts, c.parts);
    for (const ShapeView& s : shapes) EXPECT_LE(s.Points().size(), 12u * 2);
  }
}

TEST(DxfPolylineClaims, FaceNumbersOutsideTheVertexListAreDropped) {
  std::string text = ReadFile(dxftest::Fixture("polylines/polyface_two_faces.dxf"));
  // The first face (1, 2, 3, 0) becomes (-2^31, 2^31 - 1, 3, 0).
  text = Replace(text, " 71\n1\n 72\n2\n", " 71\n-2147483648\n 72\n2147483647\n");
  const std::vector<ShapeView> shapes = dxftest::Load(WriteTemp("face_claims.dxf", text));
  ASSERT_EQ(shapes.size(), 1u);
  ASSERT_EQ(shapes[0].Parts.size(), 2u);
  // Only vertex 3 is valid (a one-point part may be padded by the shape).
  ASSERT_FALSE(shapes[0].Parts[0].empty());
  for (const TGIS_Coord& p : shapes[0].Parts[0]) dxftest::ExpectNear(p, 1, 1);
}

TEST(DxfPolylineClaims, HatchCountsAreNotTrusted) {
  std::string text = ReadFile(dxftest::Fixture("polylines/hatch_paths.dxf"));
  text = Replace(text, " 91\n2\n", " 91\n2147483647\n");
  text = Replace(text, " 93\n4\n", " 93\n-5\n");
  const std::vector<ShapeView> shapes = dxftest::Load(WriteTemp("hatch_claims.dxf", text));
  ASSERT_EQ(shapes.size(), 1u);
  EXPECT_EQ(shapes[0].Parts.size(), 2u);
}

// Every cut of the drawing either opens (a prefix of the shapes) or fails
// with EGIS_Exception.
TEST(DxfPolylineDamage, TruncatedDrawingsOpenOrFailCleanly) {
  const char* const fixtures[] = {
      "polylines/polyline_2d_3d.dxf", "polylines/polyface_two_faces.dxf",
      "polylines/hatch_paths.dxf",    "polylines/lwpolyline_flags.dxf",
      "blocks/nested_bulges.dxf",     "blocks/recursion.dxf",
      "blocks/nested_bulges_binary.dxf",
  };
  for (const char* f : fixtures) {
    SCOPED_TRACE(f);
    const std::string full = ReadFile(dxftest::Fixture(f));
    ASSERT_FALSE(full.empty());
    const size_t step = std::max<size_t>(1, full.size() / 80);
    for (size_t len = 1; len < full.size(); len += step) {
      SCOPED_TRACE(len);
      const std::string path = WriteTemp("cut.dxf", full.substr(0, len));
      TGIS_LayerDXF layer;
      layer.SetPath(path);
      try {
        layer.Open();
      } catch (const EGIS_Exception&) {
        // refused: fine
      }
    }
  }
}

// A text drawing cut off after a whole group is read to its end: the last
// group counts (the LWPOLYLINE used to drop it and give the vertex Y = 0),
// and a vertex whose Y never came is not made up. A drawing cut off between
// a code line and its value is damaged.
TEST(DxfPolylineDamage, DataEndingInsideAnEntity) {
  const std::string head = "  0\nSECTION\n  2\nENTITIES\n";
  const std::string lw = head + "  0\nLWPOLYLINE\n  5\nA1\n  8\n0\n 90\n4\n 70\n";
  const std::string poly = head + "  0\nPOLYLINE\n  5\nB1\n  8\n0\n 66\n1\n 70\n0\n"
                           "  0\nVERTEX\n  8\n0\n 10\n1\n 20\n2\n  0\nVERTEX\n  8\n0\n 10\n5\n 20\n6\n"
                           "  0\nVERTEX\n  8\n0\n 10\n3\n";
  const std::string hatch = head + "  0\nHATCH\n  5\nC1\n  8\n0\n 70\n1\n 91\n1\n 92\n2\n 72\n0\n"
                            " 73\n1\n 93\n3\n 10\n0\n 20\n0\n 10\n4\n 20\n0\n 10\n4\n";
  struct Case {
    std::string text;
    std::string handle;
    std::vector<TGIS_Coord> points;
  };
  const Case cases[] = {
      {lw + "1\n 10\n1\n 20\n2\n 10\n3\n 20\n4\n", "A1", {{1, 2}, {3, 4}, {1, 2}}},
      {lw + "0\n 10\n1\n 20\n2\n 10\n3\n 20\n4\n", "A1", {{1, 2}, {3, 4}}},
      {lw + "0\n 10\n1\n 20\n2\n 10\n3\n 20\n4\n 10\n5\n", "A1", {{1, 2}, {3, 4}}},
      {poly, "B1", {{1, 2}, {5, 6}}},
      {poly + " 20\n4\n", "B1", {{1, 2}, {5, 6}, {3, 4}}},
      {hatch, "C1", {{0, 0}, {4, 0}, {0, 0}}},
      {hatch + " 20\n3\n", "C1", {{0, 0}, {4, 0}, {4, 3}, {0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::vector<ShapeView> shapes = dxftest::Load(WriteTemp("ended.dxf", c.text));
    const ShapeView* s = dxftest::ByHandle(shapes, c.handle);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->Parts.size(), 1u);
    dxftest::ExpectPoints(s->Parts[0], c.points);
  }

  // Cut between a code line and its value: refused with the line number
  // of that code line.
  const std::string cut = lw + "1\n 10\n1\n 20\n2\n 10\n3\n 20\n";
  const std::string path = WriteTemp("cut_value.dxf", cut);
  TGIS_LayerDXF layer;
  layer.SetPath(path);
  try {
    layer.Open();
    ADD_FAILURE() << "a drawing cut inside a group opened";
  } catch (const EGIS_Exception& e) {
    EXPECT_EQ(e.ErrorCode(), 9) << e.what();
    EXPECT_EQ(e.Name(), path);
    EXPECT_EQ(e.Value(), 21);
  }
}

}  // namespace
}  // namespace cadport
