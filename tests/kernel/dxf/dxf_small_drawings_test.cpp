// Polylines, hatches and inserts in drawings small enough to write inline:
// vertices at survey coordinates, heights after a block reference, and data
// that ends inside an entity.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/dxf/layer_dxf.h"
#include "tests/kernel/dxf/dxf_polylines_fixture.h"

namespace cadport {
namespace {

using dxftest::ExpectPoints;
using dxftest::ShapeView;

// The shapes of a drawing given as text (written under the test's name).
std::vector<ShapeView> LoadText(const std::string& text) {
  const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::string path = dxftest::WriteTemp("cadport_small_" + name + ".dxf", text);
  std::vector<ShapeView> shapes = dxftest::Load(path);
  std::remove(path.c_str());
  return shapes;
}

std::string Block(const std::string& name, const std::string& body) {
  return "  0\nBLOCK\n  8\n0\n  2\n" + name + "\n 70\n0\n 10\n0\n 20\n0\n 30\n0\n  3\n" + name +
         "\n" + body + "  0\nENDBLK\n  8\n0\n";
}

std::string Sections(const std::string& blocks, const std::string& entities) {
  return "  0\nSECTION\n  2\nBLOCKS\n" + blocks + "  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n" +
         entities;
}

TEST(DxfSmallDrawing, InsertEndingTheDataKeepsItsLastGroup) {
  const std::string line = "  0\nLINE\n  8\n0\n 10\n0\n 20\n0\n 11\n1\n 21\n0\n";
  // No ENDSEC or EOF: the rotation is the last group of the data.
  const auto shapes = LoadText(Sections(
      Block("B", line), "  0\nINSERT\n  8\nL\n  2\nB\n 10\n10\n 20\n0\n 30\n0\n 50\n90\n"));
  ASSERT_EQ(shapes.size(), 1u);
  ExpectPoints(shapes[0].Points(), {{10, 0}, {10, 1}});
}

TEST(DxfSmallDrawing, ArraysOfArraysFromATinyFileExpandInFull) {
  // 30 rows of 100 modules of 20 lines: 60,000 lines (840,000 lines read)
  // from a file of a few kilobytes, like a solar field or a car park.
  std::string module;
  for (int i = 0; i < 20; ++i)
    module += "  0\nLINE\n  8\n0\n 10\n" + std::to_string(i) + "\n 20\n0\n 11\n" +
              std::to_string(i) + "\n 21\n1\n";
  std::string row;
  for (int i = 0; i < 100; ++i) row += "  0\nINSERT\n  8\n0\n  2\nM\n 10\n" + std::to_string(30 * i) + "\n 20\n0\n";
  std::string field;
  for (int i = 0; i < 30; ++i) field += "  0\nINSERT\n  8\n0\n  2\nR\n 10\n0\n 20\n" + std::to_string(5 * i) + "\n";
  const auto shapes = LoadText(Sections(Block("M", module) + Block("R", row), field + "  0\nENDSEC\n  0\nEOF\n"));
  ASSERT_EQ(shapes.size(), 60000u);
  ExpectPoints(shapes.back().Points(), {{30 * 99 + 19, 5 * 29}, {30 * 99 + 19, 5 * 29 + 1}});
}

TEST(DxfSmallDrawing, PolyfaceKindFollowsTheHeightAfterTheInsert) {
  std::string face = "  0\nPOLYLINE\n  8\n0\n 66\n1\n 70\n64\n 71\n3\n 72\n1\n";
  for (const char* xy : {" 10\n0\n 20\n0\n", " 10\n1\n 20\n0\n", " 10\n1\n 20\n1\n"})
    face += "  0\nVERTEX\n  8\n0\n" + std::string(xy) + " 30\n0\n 70\n192\n";
  face += "  0\nVERTEX\n  8\n0\n 10\n0\n 20\n0\n 30\n0\n 70\n128\n 71\n1\n 72\n2\n 73\n3\n";
  face += "  0\nSEQEND\n  8\n0\n";
  // Flat in its block, lifted to Z 5 by the reference: a polygon.
  const auto lifted = LoadText(Sections(
      Block("P", face), "  0\nINSERT\n  8\n0\n  2\nP\n 10\n0\n 20\n0\n 30\n5\n  0\nENDSEC\n  0\nEOF\n"));
  ASSERT_EQ(lifted.size(), 1u);
  EXPECT_EQ(lifted[0].Kind, TGIS_ShapeKind::Polygon);
  // The same face at Z 0 stays a polyline.
  const auto flat = LoadText(Sections("", face + "  0\nENDSEC\n  0\nEOF\n"));
  ASSERT_EQ(flat.size(), 1u);
  EXPECT_EQ(flat[0].Kind, TGIS_ShapeKind::Arc);
}

TEST(DxfSmallDrawing, LwPolylineGroup30BeforeTheVerticesIsItsElevation) {
  const auto shapes = LoadText(Sections(
      "", "  0\nLWPOLYLINE\n  8\n0\n 90\n2\n 30\n5\n 70\n0\n 10\n0\n 20\n0\n 10\n1\n 20\n1\n"
          "  0\nENDSEC\n  0\nEOF\n"));
  ASSERT_EQ(shapes.size(), 1u);
  EXPECT_EQ(shapes[0].Elevation, 5);
  ExpectPoints(shapes[0].Points(), {{0, 0}, {1, 1}});
}

TEST(DxfSmallDrawing, HatchEdgesKeepCloseVerticesAtSurveyCoordinates) {
  const double x = 500000, y = 5000000;
  const std::vector<TGIS_Coord> corners = {
      {x, y}, {x + 10, y}, {x + 10, y + 10}, {x + 10.004, y + 10.003}, {x, y + 10}};
  std::string hatch = "  0\nHATCH\n  8\n0\n 10\n0\n 20\n0\n 30\n0\n  2\nSOLID\n 70\n1\n 71\n0\n"
                      " 91\n1\n 92\n1\n 93\n5\n";
  const auto number = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", v);
    return std::string(text);
  };
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const TGIS_Coord& a = corners[i];
    const TGIS_Coord& b = corners[(i + 1) % corners.size()];
    hatch += " 72\n1\n 10\n" + number(a.X) + "\n 20\n" + number(a.Y) + "\n 11\n" + number(b.X) +
             "\n 21\n" + number(b.Y) + "\n";
  }
  hatch += " 97\n0\n 75\n0\n 76\n1\n 98\n0\n  0\nENDSEC\n  0\nEOF\n";
  const auto shapes = LoadText(Sections("", hatch));
  ASSERT_EQ(shapes.size(), 1u);
  const std::vector<TGIS_Coord> ring = shapes[0].Points();
  ASSERT_EQ(ring.size(), corners.size() + 1);  // closed
  for (const TGIS_Coord& c : corners) {
    bool found = false;
    for (const TGIS_Coord& p : ring) found = found || (p.X == c.X && p.Y == c.Y);
    EXPECT_TRUE(found) << c.X << " " << c.Y;
  }
}

TEST(DxfSmallDrawing, HatchSeedPointThatIsNoNumberIsRefused) {
  const std::string hatch =
      "  0\nHATCH\n  8\n0\n 10\n0\n 20\n0\n 30\n0\n  2\nSOLID\n 70\n1\n 71\n0\n 91\n1\n 92\n2\n"
      " 72\n0\n 73\n1\n 93\n3\n 10\n0\n 20\n0\n 10\n4\n 20\n0\n 10\n4\n 20\n3\n"
      " 97\n0\n 75\n0\n 76\n1\n 98\n1\n 10\nqq\n 20\n1\n  0\nENDSEC\n  0\nEOF\n";
  EXPECT_THROW(LoadText(Sections("", hatch)), EGIS_Exception);
}

}  // namespace
}  // namespace cadport
