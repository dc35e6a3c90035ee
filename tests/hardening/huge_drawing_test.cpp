// A text drawing over 2 GiB (make check-slow only): block definitions before
// and after the 2 GiB mark, references that jump back across it, and
// progress that stays in range and moves forward.  Needs about 2.2 GB free
// in the temporary folder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/dxf/layer_dxf.h"
#include "kernel/layer/viewer.h"
#include "kernel/shapefile/layer_shp.h"
#include "tests/hardening/hardening_util.h"

namespace cadport {
namespace {

using hardening::Scratch;

constexpr int64_t kTwoGiB = int64_t{1} << 31;

// NEAR (a line from 0,0 to 1,0) at the start; a never-used block PAD whose
// comments carry the file past 2 GiB + 64 MiB; FAR (a line from 0,0 to
// 0,1) behind it; then three entities: INSERT NEAR at 100,0, INSERT FAR at
// 0,200 and a LINE from 5,5 to 6,6.
void WriteHugeDrawing(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::vector<char> buffer(4 << 20);
  std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
  auto line = [&](const char* name, const char* x1, const char* y1) {
    std::fprintf(f, "  0\nBLOCK\n  8\n0\n  2\n%s\n 70\n0\n 10\n0\n 20\n0\n 30\n0\n"
                    "  0\nLINE\n  8\n0\n 10\n0\n 20\n0\n 30\n0\n 11\n%s\n 21\n%s\n 31\n0\n"
                    "  0\nENDBLK\n  8\n0\n", name, x1, y1);
  };
  std::fputs("  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  0\nENDSEC\n"
             "  0\nSECTION\n  2\nBLOCKS\n", f);
  line("NEAR", "1", "0");
  std::fputs("  0\nBLOCK\n  8\n0\n  2\nPAD\n 70\n0\n 10\n0\n 20\n0\n 30\n0\n", f);
  const std::string comment = "999\n" + std::string(4091, 'c') + "\n";  // 4 KiB a group
  for (int64_t written = 0; written < kTwoGiB + (64 << 20); written += int64_t(comment.size())) {
    std::fwrite(comment.data(), 1, comment.size(), f);
  }
  std::fputs("  0\nENDBLK\n  8\n0\n", f);
  line("FAR", "0", "1");
  std::fputs("  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n"
             "  0\nINSERT\n  8\n0\n  2\nNEAR\n 10\n100\n 20\n0\n 30\n0\n"
             "  0\nINSERT\n  8\n0\n  2\nFAR\n 10\n0\n 20\n200\n 30\n0\n"
             "  0\nLINE\n  8\n0\n 10\n5\n 20\n5\n 30\n0\n 11\n6\n 21\n6\n 31\n0\n"
             "  0\nENDSEC\n  0\nEOF\n", f);
  ASSERT_EQ(std::fclose(f), 0);
  ASSERT_GT(int64_t(std::filesystem::file_size(path)), kTwoGiB);
}

using Segment = std::vector<TGIS_Coord>;

std::vector<Segment> Segments(TGIS_LayerVector& layer) {
  std::vector<Segment> out;
  for (layer.StartScan(UnboundedBounds()); !layer.ScanDone(); layer.ScanNext()) {
    TGIS_Shape* s = layer.ScanCurrent();
    Segment seg;
    for (int p = 0; p < s->GetNumParts(); ++p)
      for (int i = 0; i < s->GetPartSize(p); ++i) seg.push_back(s->GetPoint(p, i));
    out.push_back(seg);
  }
  return out;
}

void ExpectThreeLines(const std::vector<Segment>& got) {
  const Segment want[] = {{{100, 0}, {101, 0}}, {{0, 200}, {0, 201}}, {{5, 5}, {6, 6}}};
  ASSERT_EQ(got.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(got[i].size(), 2u) << "shape " << i;
    for (size_t k = 0; k < 2; ++k) {
      EXPECT_NEAR(got[i][k].X, want[i][k].X, 1e-9) << "shape " << i;
      EXPECT_NEAR(got[i][k].Y, want[i][k].Y, 1e-9) << "shape " << i;
    }
  }
}

TEST(HugeDrawing, ConvertsAcrossTheTwoGiBMark) {
  Scratch dir(/*onDisk=*/true);
  const std::string path = dir.File("huge.dxf");
  WriteHugeDrawing(path);
  if (HasFatalFailure()) return;

  TGIS_ViewerBitmap bitmap{128, 128};
  TGIS_Viewer viewer(bitmap);
  std::vector<std::pair<int32_t, int32_t>> progress;
  viewer.OnBusy = [&](TGIS_BaseObject*, int32_t position, int32_t end, bool&) {
    progress.emplace_back(position, end);
  };
  auto owned = std::make_unique<TGIS_LayerDXF>();
  owned->SetPath(path);
  auto* dxf = static_cast<TGIS_LayerDXF*>(viewer.AttachLayer(std::move(owned)));
  ExpectThreeLines(Segments(*dxf));

  // Many reports over a file this size, each in range and none going back.
  ASSERT_GT(progress.size(), 10u);
  int64_t last = -1;
  for (const auto& [position, end] : progress) {
    if (position == -1 && end == -1) continue;  // BusyRelease
    EXPECT_GE(position, 0);
    if (end > 0) {
      EXPECT_LE(position, end);
    }
    if (end > 100) {  // the operation's own reports, not BusyBegin's 0..100
      EXPECT_GE(position, last);
      last = position;
    }
  }

  // The whole road: written as a shapefile set and read back.
  TGIS_LayerSHP shp;
  shp.SetPath(dir.File("huge.shp"));
  shp.ConvertFrom(dxf, dxf->Extent(), TGIS_ShapeKind::Unknown, std::string(), false);
  TGIS_LayerSHP back;
  back.SetPath(dir.File("huge.shp"));
  back.Open();
  ExpectThreeLines(Segments(back));
}

}  // namespace
}  // namespace cadport
