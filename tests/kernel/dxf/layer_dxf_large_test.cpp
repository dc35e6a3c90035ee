// A drawing larger than the reader's release step: pages already read are
// given back while loading, and a block defined near the start is still
// expanded right by an INSERT near the end.
#include "kernel/dxf/layer_dxf.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "kernel/layer/viewer.h"
#include "tests/kernel/dxf/dxf_polylines_fixture.h"

namespace cadport {
namespace {

namespace fs = std::filesystem;

using dxftest::Group;

// Block B (a line (0,0)-(1,2) on layer "IN"), about 20 MB of a section the
// reader passes over, then an INSERT of B at (10, 20) and a LINE.
std::string LargeDrawing() {
  std::string text = Group(0, "SECTION") + Group(2, "BLOCKS") + Group(0, "BLOCK") + Group(2, "B") +
                     Group(70, "0") + Group(10, "0") + Group(20, "0") + Group(0, "LINE") +
                     Group(5, "B1") + Group(8, "IN") + Group(10, "0") + Group(20, "0") +
                     Group(11, "1") + Group(21, "2") + Group(0, "ENDBLK") + Group(0, "ENDSEC");
  text += Group(0, "SECTION") + Group(2, "OBJECTS");
  const std::string filler = Group(1, std::string(250, 'x'));
  while (text.size() < (20u << 20)) text += filler;
  text += Group(0, "ENDSEC");
  text += Group(0, "SECTION") + Group(2, "ENTITIES") + Group(0, "INSERT") + Group(5, "A1") +
          Group(8, "0") + Group(2, "B") + Group(10, "10") + Group(20, "20") + Group(0, "LINE") +
          Group(5, "C1") + Group(8, "0") + Group(10, "3") + Group(20, "4") + Group(11, "5") +
          Group(21, "6") + Group(0, "ENDSEC") + Group(0, "EOF");
  return text;
}

TEST(LayerDxfLarge, BlocksReadAgainAfterTheirPagesWereReleased) {
  const fs::path path =
      fs::temp_directory_path() / ("cadport_dxflarge_" + std::to_string(::getpid()) + ".dxf");
  std::ofstream(path, std::ios::binary) << LargeDrawing();
  // With and without a viewer (the release must not depend on one).
  for (const bool withViewer : {false, true}) {
    TGIS_Viewer viewer;
    auto owned = std::make_unique<TGIS_LayerDXF>();
    TGIS_LayerDXF* layer = owned.get();
    layer->SetPath(path.string());
    if (withViewer) {
      viewer.AttachLayer(std::move(owned));
    } else {
      layer->Open();
    }
    ASSERT_EQ(layer->Shapes().size(), 2u) << withViewer;
    const TGIS_Shape& inserted = *layer->Shapes()[0];
    EXPECT_EQ(inserted.GetField("DXF_LAYER").ToText(), "IN");
    ASSERT_EQ(inserted.GetNumPoints(), 2);
    EXPECT_EQ(inserted.GetPoint(0, 0).X, 10);
    EXPECT_EQ(inserted.GetPoint(0, 0).Y, 20);
    EXPECT_EQ(inserted.GetPoint(0, 1).X, 11);
    EXPECT_EQ(inserted.GetPoint(0, 1).Y, 22);
    const TGIS_Shape& line = *layer->Shapes()[1];
    EXPECT_EQ(line.GetField("DXF_HANDLE").ToText(), "C1");
    EXPECT_EQ(line.GetPoint(0, 1).X, 5);
    EXPECT_EQ(line.GetPoint(0, 1).Y, 6);
  }
  std::error_code ec;
  fs::remove(path, ec);
}

}  // namespace
}  // namespace cadport
