// Converted coordinates against an independent reader: ezdxf (Debian's
// python3-ezdxf under /usr/bin/python3) expands the block references of a
// drawing itself (tests/data/dxf/blocks/explode_with_ezdxf.py) and flattens
// lines, arcs, circles, polylines and hatch boundaries finely; every
// converted shape must lie
// on ezdxf's curve and cover it, within a tolerance that allows for our
// fixed segment counts.  Skips when ezdxf or the corpus is not there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/dxf/layer_dxf.h"
#include "tests/kernel/dxf/dxf_polylines_fixture.h"

namespace cadport {
namespace {

namespace fs = std::filesystem;
using dxftest::ShapeView;

const char* const kPython = "/usr/bin/python3";

struct Reference {
  std::string Handle;
  std::string Type;
  std::vector<std::vector<TGIS_Coord>> Parts;
};

bool HaveEzdxf() {
  if (!fs::exists(kPython)) return false;
  const std::string cmd = std::string(kPython) + " -c 'import ezdxf' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// Runs the reference script once over all drawings; returns the folder of
// its outputs.
fs::path RunEzdxf(const std::vector<std::string>& drawings, const std::string& tag) {
  const fs::path out = fs::path(testing::TempDir()) / ("cadport_ezdxf_" + tag);
  fs::remove_all(out);
  fs::create_directories(out);
  // Appended piece by piece: GCC 12 at -O3 warns falsely on literal + string.
  std::string script = CADPORT_TEST_DATA;
  script += "/dxf/blocks/explode_with_ezdxf.py";
  std::string cmd = kPython;
  cmd += ' ';
  cmd += Quote(script);
  cmd += ' ';
  cmd += Quote(out.string());
  for (const std::string& d : drawings) {
    cmd += ' ';
    cmd += Quote(d);
  }
  cmd += " 2>/dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return out;
}

bool ReadReference(const fs::path& file, std::vector<Reference>& refs) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("E ", 0) != 0) continue;
    std::istringstream head(line.substr(2));
    Reference r;
    size_t parts = 0;
    head >> r.Handle >> r.Type >> parts;
    for (size_t k = 0; k < parts && std::getline(in, line) && line.rfind("P ", 0) == 0; ++k) {
      const size_t count = std::stoul(line.substr(2));
      std::vector<TGIS_Coord> pts;
      for (size_t i = 0; i < count && std::getline(in, line); ++i) {
        std::istringstream xy(line);
        TGIS_Coord c;
        xy >> c.X >> c.Y;
        pts.push_back(c);
      }
      r.Parts.push_back(std::move(pts));
    }
    refs.push_back(std::move(r));
  }
  return true;
}

double SegmentDist(const TGIS_Coord& a, const TGIS_Coord& b, const TGIS_Coord& p) {
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  const double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((p.X - a.X) * dx + (p.Y - a.Y) * dy) / len2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(a.X + t * dx - p.X, a.Y + t * dy - p.Y);
}

using Lines = std::vector<std::vector<TGIS_Coord>>;

// Distance from p to the nearest of several polylines.
double LinesDist(const Lines& lines, const TGIS_Coord& p) {
  double best = INFINITY;
  for (const std::vector<TGIS_Coord>& line : lines) {
    if (line.size() == 1) best = std::min(best, std::hypot(line[0].X - p.X, line[0].Y - p.Y));
    for (size_t i = 0; i + 1 < line.size(); ++i)
      best = std::min(best, SegmentDist(line[i], line[i + 1], p));
  }
  return best;
}

// Largest distance from a point of one set of lines to the other, both ways.
double Hausdorff(const Lines& a, const Lines& b) {
  double worst = 0;
  for (const auto& line : a)
    for (const TGIS_Coord& p : line) worst = std::max(worst, LinesDist(b, p));
  for (const auto& line : b)
    for (const TGIS_Coord& p : line) worst = std::max(worst, LinesDist(a, p));
  return worst;
}

// Compares one drawing; returns the number of references checked.
size_t Compare(const std::string& drawing, const fs::path& refDir) {
  SCOPED_TRACE(drawing);
  std::vector<Reference> refs;
  if (!ReadReference(refDir / (fs::path(drawing).filename().string() + ".txt"), refs)) {
    ADD_FAILURE() << "ezdxf could not read the drawing";
    return 0;
  }
  TGIS_LayerDXF layer;
  layer.SetPath(drawing);
  std::vector<ShapeView> shapes;
  try {
    layer.Open();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "open failed: " << e.what();
    return 0;
  }
  shapes = dxftest::Snapshot(layer);

  // Both lists are in file order (block entities in block order at the
  // place of their INSERT); match each reference with our next shape of
  // the same handle.  Drawings without handles (ezdxf invents them) are
  // matched in order.
  const bool noHandles = std::all_of(shapes.begin(), shapes.end(),
                                     [](const ShapeView& s) { return s.Handle.empty(); });
  size_t next = 0, checked = 0;
  for (const Reference& r : refs) {
    SCOPED_TRACE(testing::Message() << r.Type << " " << r.Handle);
    size_t i = next;
    while (!noHandles && i < shapes.size() && shapes[i].Handle != r.Handle) ++i;
    if (i == shapes.size()) {
      ADD_FAILURE() << "no shape for this entity";
      continue;
    }
    next = i + 1;
    const Lines& ours = shapes[i].Parts;
    double xmin = INFINITY, ymin = INFINITY, xmax = -INFINITY, ymax = -INFINITY;
    for (const auto& part : r.Parts)
      for (const TGIS_Coord& p : part) {
        xmin = std::min(xmin, p.X), xmax = std::max(xmax, p.X);
        ymin = std::min(ymin, p.Y), ymax = std::max(ymax, p.Y);
      }
    if (shapes[i].Points().empty() || !std::isfinite(xmin)) {
      EXPECT_EQ(shapes[i].Points().empty(), !std::isfinite(xmin));
      continue;
    }
    if (r.Type == "HATCH") {
      EXPECT_EQ(ours.size(), r.Parts.size()) << "one ring per boundary path";
    }
    // 40 to 44 segments per turn leave a chord error below 0.4 % of a
    // circle's diameter; short arcs (5 segments) stay below 1 % of their
    // extent.  Far from the origin, doubles carry fewer decimals.
    const double diag = std::hypot(xmax - xmin, ymax - ymin);
    const double tol = 0.01 * diag + 1e-7 * (1 + std::fabs(xmax) + std::fabs(ymax));
    EXPECT_LE(Hausdorff(ours, r.Parts), tol);
    ++checked;
  }
  return checked;
}

TEST(DxfAgainstEzdxf, FixturesWithNestedBlocksBulgesAndExtrusions) {
  if (!HaveEzdxf()) GTEST_SKIP() << "ezdxf is not available under " << kPython;
  const std::vector<std::string> drawings = {
      dxftest::Fixture("blocks/nested_bulges.dxf"),
      dxftest::Fixture("blocks/nested_bulges_binary.dxf"),
      dxftest::Fixture("blocks/insert_scale_rotate.dxf"),
      dxftest::Fixture("blocks/base_point.dxf"),
      dxftest::Fixture("blocks/two_inserts.dxf"),
      dxftest::Fixture("blocks/recursion.dxf"),
      dxftest::Fixture("blocks/circle_scaled.dxf"),
      dxftest::Fixture("blocks/lwcircle_block.dxf"),
      dxftest::Fixture("polylines/bulges.dxf"),
      dxftest::Fixture("polylines/polyline_2d_3d.dxf"),
      dxftest::Fixture("polylines/lwpolyline_flags.dxf"),
      dxftest::Fixture("polylines/hatch_paths.dxf"),
  };
  const fs::path refs = RunEzdxf(drawings, "fixtures");
  size_t checked = 0;
  for (const std::string& d : drawings) checked += Compare(d, refs);
  EXPECT_GE(checked, 30u);
}

TEST(DxfAgainstEzdxf, CorpusDrawingsWithBulgesBlocksAndExtrusions) {
  const fs::path corpus = CADPORT_CORPUS_DIR;
  if (!fs::is_directory(corpus / "dxf")) GTEST_SKIP() << "no corpus at " << corpus;
  if (!HaveEzdxf()) GTEST_SKIP() << "ezdxf is not available under " << kPython;
  const char* const names[] = {
      "dxf/POLI-ALL210_12.DXF",        "dxf/uncommon.dxf",
      "dxf/text_negative_extrusion.dxf", "dxf/3dface.dxf",
      "dxf/gdal_block-hidden-entities.dxf", "dxf/gdal_insert_only.dxf",
      "dxf/gdal_insert_only_col_count_zero.dxf", "dxf/gdal_attrib.dxf",
      "dxf/multi_insert_with_attribs.dxf", "dxf/gdal_closed_polyline_with_bulge.dxf",
      "dxf/gdal_polyline_smooth.dxf", "dxf/gdal_additional-entities.dxf",
      "dxf/hatches_1.dxf",             "dxf/gdal_hatch_pattern_generated_by_gdal.dxf",
      "dxf/polylines.dxf",
      "dxf/small_r13.dxf",             "dxf/cc_dxflib.dxf",
      "dxf/arc1.dxf",                  "dxf/gdal_circle.dxf",
      "openscad/transform-insert.dxf",
  };
  std::vector<std::string> drawings;
  for (const char* n : names)
    if (fs::exists(corpus / n)) drawings.push_back((corpus / n).string());
  if (drawings.empty()) GTEST_SKIP() << "none of the drawings is in the corpus";
  const fs::path refs = RunEzdxf(drawings, "corpus");
  size_t checked = 0;
  for (const std::string& d : drawings) checked += Compare(d, refs);
  EXPECT_GE(checked, 100u);
}

}  // namespace
}  // namespace cadport
