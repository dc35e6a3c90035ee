// The entity pass in pieces on several threads must build exactly the layer a
// single reader builds: same shapes, uids, attributes, fields and their
// order, styles and extent; and a damaged drawing must fail with the same
// message and line number. Pieces are forced on small drawings by giving the
// layer split targets.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/dxf/layer_dxf.h"
#include "tests/kernel/dxf/dxf_polylines_fixture.h"

namespace cadport {
namespace {

namespace fs = std::filesystem;

using dxftest::Group;

// Everything a load produced, as text: one line per shape plus the layer's
// fields and extent; or the error it raised.
struct LoadResult {
  std::vector<std::string> Lines;
  std::string Error;
  int32_t Adopted = 0;
};

std::string StyleText(const TGIS_DxfShapeStyle* s) {
  if (s == nullptr) return "-";
  std::ostringstream out;
  out << s->LineColor << ',' << s->AreaColor << ',' << s->MarkerColor << ',' << s->LabelFontColor
      << ',' << s->LabelRotation << ',' << s->PenWidth << ',' << static_cast<int>(s->PenStyle)
      << ',' << static_cast<int>(s->LabelPosition) << ',' << s->Styled << s->ShowsLabel
      << s->ClearFill;
  return out.str();
}

// With targets and no thread count every piece gets a thread of its own at
// once; with a thread count, that many threads share the pieces as they go.
LoadResult Load(const std::string& path, std::optional<std::vector<int64_t>> targets,
                int64_t allowance = TGIS_LayerDXF::kDefaultExpansionAllowance,
                int32_t threads = 0) {
  LoadResult r;
  TGIS_LayerDXF layer;
  layer.SetPath(path);
  layer.SetExpansionAllowance(allowance);
  if (targets) {
    layer.SetLoadSplitTargets(*targets);
    layer.SetLoadThreads(threads);
  } else {
    layer.SetLoadThreads(1);
  }
  try {
    layer.Open();
  } catch (const EGIS_Exception& e) {
    r.Error = e.what();
    return r;
  }
  r.Adopted = layer.ParallelPiecesAdopted();
  std::ostringstream fields;
  for (const auto& f : layer.Fields())
    fields << f->Name << ':' << static_cast<int>(f->FieldKind) << ':' << f->Width << ' ';
  r.Lines.push_back(fields.str());
  const TGIS_Bounds e = layer.Extent();
  std::ostringstream extent;
  extent.precision(17);
  extent << e.XMin << ' ' << e.YMin << ' ' << e.XMax << ' ' << e.YMax;
  r.Lines.push_back(extent.str());
  for (const auto& shape : layer.Shapes()) {
    std::ostringstream line;
    line << shape->Uid() << ' ' << static_cast<int>(shape->ShapeKind()) << ' ' << shape->Hidden()
         << ' ' << shape->Deleted() << " |";
    for (const auto& f : layer.Fields()) {
      const TGIS_Variant v = shape->GetField(f->Name);
      line << static_cast<int>(v.Kind()) << '=' << v.ToText() << '|';
    }
    line << StyleText(layer.ShapeStyle(shape->Uid())) << " |";
    for (const std::byte b : shape->ExportGeometryBlob()) line << static_cast<int>(b) << ',';
    r.Lines.push_back(line.str());
  }
  return r;
}

void ExpectSameLoad(const LoadResult& serial, const LoadResult& pieces, const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(serial.Error, pieces.Error);
  ASSERT_EQ(serial.Lines.size(), pieces.Lines.size());
  for (size_t i = 0; i < serial.Lines.size(); ++i) {
    if (serial.Lines[i] != pieces.Lines[i]) {
      ADD_FAILURE() << "line " << i << "\n serial: " << serial.Lines[i]
                    << "\n pieces: " << pieces.Lines[i];
      return;
    }
  }
}

// Split targets spread over the file: one piece boundary near each.
std::vector<int64_t> Spread(int64_t size, int count, int shift = 0) {
  std::vector<int64_t> t;
  for (int i = 1; i <= count; ++i) t.push_back(size * i / (count + 1) + shift);
  return t;
}

bool IsTextDrawing(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  char head[18] = {};
  in.read(head, sizeof head);
  return std::memcmp(head, "AutoCAD Binary DXF", 18) != 0;
}

std::vector<fs::path> Drawings() {
  std::vector<fs::path> out;
  std::vector<fs::path> roots = {fs::path(CADPORT_TEST_DATA) / "dxf",
                                 fs::path(CADPORT_TEST_DATA) / "app"};
  const fs::path corpus = CADPORT_CORPUS_DIR;
  if (fs::is_directory(corpus)) roots.push_back(corpus);
  for (const fs::path& root : roots) {
    if (!fs::is_directory(root)) continue;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      std::string ext = e.path().extension().string();
      for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (e.is_regular_file() && ext == ".dxf" && IsTextDrawing(e.path())) out.push_back(e.path());
    }
  }
  return out;
}

// Every text drawing of the test data (and of the corpus when it is there),
// cut into pieces at many places, one cut and many cuts at a time.
TEST(DxfParallelLoad, PiecesBuildTheSameLayerAsOneReader) {
  int64_t adopted = 0;
  size_t drawings = 0;
  for (const fs::path& path : Drawings()) {
    const int64_t size = static_cast<int64_t>(fs::file_size(path));
    const LoadResult serial = Load(path.string(), std::nullopt);
    ++drawings;
    ExpectSameLoad(serial, Load(path.string(), Spread(size, 7)), path.string() + " 7 cuts");
    for (int i = 1; i <= 7; ++i) {
      const LoadResult one = Load(path.string(), std::vector<int64_t>{size * i / 8 + 13});
      ExpectSameLoad(serial, one, path.string() + " cut " + std::to_string(i));
      adopted += one.Adopted;
    }
  }
  EXPECT_GE(drawings, 15u);
  // The comparison means something only when pieces were taken over.
  EXPECT_GE(adopted, 60);
}

// A drawing of many kinds of entity, with blocks, extended data, styles and
// an extended data key that first appears in the second half, before the
// key every text has (so a piece there meets the keys in another order).
std::string MixedDrawing(int repeats) {
  std::string t = Group(0, "SECTION") + Group(2, "HEADER") + Group(9, "$ACADVER") +
                  Group(1, "AC1015") + Group(0, "ENDSEC");
  t += Group(0, "SECTION") + Group(2, "TABLES") + Group(0, "TABLE") + Group(2, "LAYER") +
       Group(0, "LAYER") + Group(2, "WALLS") + Group(62, "3") + Group(70, "0") +
       Group(0, "LAYER") + Group(2, "FROZEN") + Group(62, "5") + Group(70, "1") +
       Group(0, "ENDTAB") + Group(0, "ENDSEC");
  t += Group(0, "SECTION") + Group(2, "BLOCKS") + Group(0, "BLOCK") + Group(2, "DOOR") +
       Group(70, "0") + Group(10, "0") + Group(20, "0") + Group(30, "0") + Group(0, "LINE") +
       Group(8, "0") + Group(10, "0") + Group(20, "0") + Group(11, "1") + Group(21, "0") +
       Group(0, "ARC") + Group(8, "WALLS") + Group(10, "0") + Group(20, "0") + Group(40, "1") +
       Group(50, "0") + Group(51, "90") + Group(0, "ENDBLK") + Group(0, "ENDSEC");
  t += Group(0, "SECTION") + Group(2, "ENTITIES");
  for (int i = 0; i < repeats; ++i) {
    const std::string x = std::to_string(i * 10);
    t += Group(0, "LINE") + Group(5, "L" + x) + Group(8, "WALLS") + Group(62, "256") +
         Group(10, x) + Group(20, "0") + Group(11, x) + Group(21, "5");
    t += Group(0, "LWPOLYLINE") + Group(5, "P" + x) + Group(8, "0") + Group(90, "3") +
         Group(70, "1") + Group(10, x) + Group(20, "1") + Group(42, "0.5") + Group(10, "1" + x) +
         Group(20, "2") + Group(10, "2" + x) + Group(20, "0");
    t += Group(0, "CIRCLE") + Group(5, "C" + x) + Group(8, "FROZEN") + Group(10, x) +
         Group(20, "9") + Group(40, "2");
    t += Group(0, "INSERT") + Group(5, "I" + x) + Group(8, "0") + Group(2, "DOOR") +
         Group(10, x) + Group(20, "20") + Group(50, "30") + Group(41, "2");
    t += Group(0, "POLYLINE") + Group(5, "Q" + x) + Group(8, "0") + Group(66, "1") +
         Group(70, "8") + Group(0, "VERTEX") + Group(8, "0") + Group(10, x) + Group(20, "30") +
         Group(30, "1") + Group(70, "32") + Group(0, "VERTEX") + Group(8, "0") + Group(10, x) +
         Group(20, "31") + Group(30, "2") + Group(70, "32") + Group(0, "SEQEND");
    t += Group(0, "TEXT") + Group(5, "T" + x) + Group(8, "0") + Group(62, "1") + Group(10, x) +
         Group(20, "40") + Group(40, "1") + Group(1, "Room " + x) + Group(50, "45") +
         Group(1001, "ADE") + Group(1002, "{") +
         (i >= repeats / 2 ? Group(1000, "LATE=" + x) : std::string()) +
         Group(1000, "OWNER=Ann") + Group(1002, "}");
    t += Group(0, "DIMENSION") + Group(5, "D" + x) + Group(8, "0") + Group(10, x);
    t += Group(0, "POINT") + Group(5, "O" + x) + Group(8, "0") + Group(10, x) + Group(20, "50") +
         Group(30, "3") + Group(210, "0") + Group(220, "0") + Group(230, "-1");
  }
  t += Group(0, "ENDSEC") + Group(0, "EOF");
  return t;
}

TEST(DxfParallelLoad, MixedDrawingAtEveryFewLines) {
  const std::string text = MixedDrawing(60);
  const std::string path = dxftest::WriteTemp("parallel_mixed.dxf", text);
  const LoadResult serial = Load(path, std::nullopt);
  ASSERT_TRUE(serial.Error.empty()) << serial.Error;
  const auto size = static_cast<int64_t>(text.size());
  int32_t adopted = 0;
  for (int64_t target = size / 3; target < size; target += 97) {
    const LoadResult one = Load(path, std::vector<int64_t>{target});
    ExpectSameLoad(serial, one, "cut at " + std::to_string(target));
    adopted += one.Adopted;
  }
  EXPECT_GT(adopted, 0);
  // Extended data keys first met by a piece's worker ("LATE" before "OWNER"
  // in the second half) are declared in reading order.
  for (const std::vector<int64_t>& targets : {Spread(size, 5), Spread(size, 2, 17)}) {
    const LoadResult pieces = Load(path, targets);
    ExpectSameLoad(serial, pieces, "several cuts");
    EXPECT_EQ(pieces.Adopted, static_cast<int32_t>(targets.size()));
  }
}

// Fewer threads than pieces: the workers claim pieces from the end, the
// caller's reader reads on through the ones nobody has claimed and takes the
// rest over; whoever reads which piece, the layer (or the error) is the one
// a single reader gives.
TEST(DxfParallelLoad, ThreadsSharePiecesAsTheyGo) {
  const std::string text = MixedDrawing(200);
  const auto size = static_cast<int64_t>(text.size());
  std::string damaged = text;
  damaged.replace(damaged.find("Room 1230"), 9, "Room\n1230");  // a stray line mid-way
  const struct {
    std::string name;
    std::string path;
  } drawings[] = {{"whole", dxftest::WriteTemp("parallel_shared.dxf", text)},
                  {"damaged", dxftest::WriteTemp("parallel_shared_damaged.dxf", damaged)}};
  int32_t adopted = 0;
  for (const auto& d : drawings) {
    const LoadResult serial = Load(d.path, std::nullopt);
    EXPECT_EQ(serial.Error.empty(), d.name == "whole") << serial.Error;
    for (const int32_t threads : {2, 3, 5}) {
      for (int run = 0; run < 3; ++run) {
        const LoadResult pieces =
            Load(d.path, Spread(size, 15), TGIS_LayerDXF::kDefaultExpansionAllowance, threads);
        ExpectSameLoad(serial, pieces, d.name + ", threads " + std::to_string(threads));
        EXPECT_LE(pieces.Adopted, 15);
        adopted += pieces.Adopted;
      }
    }
  }
  EXPECT_GT(adopted, 0);
}

// Drawings written with CR LF line ends are cut at the same boundaries.
TEST(DxfParallelLoad, CrLfDrawingsAreCutToo) {
  std::string text;
  for (const char c : MixedDrawing(30)) {
    if (c == '\n') text += '\r';
    text += c;
  }
  const std::string path = dxftest::WriteTemp("parallel_crlf.dxf", text);
  const LoadResult serial = Load(path, std::nullopt);
  const LoadResult pieces = Load(path, Spread(static_cast<int64_t>(text.size()), 5));
  ExpectSameLoad(serial, pieces, "CR LF");
  EXPECT_EQ(pieces.Adopted, 5);
}

// Entities after the end-of-file mark are not read, whichever piece holds
// the mark.
TEST(DxfParallelLoad, NothingIsReadAfterTheEndMark) {
  const std::string once = MixedDrawing(20);
  const std::string text = once + once.substr(once.find("ENTITIES"));
  const std::string path = dxftest::WriteTemp("parallel_eof.dxf", text);
  const LoadResult serial = Load(path, std::nullopt);
  const LoadResult single = Load(dxftest::WriteTemp("parallel_once.dxf", once), std::nullopt);
  ASSERT_EQ(serial.Lines.size(), single.Lines.size());
  const auto size = static_cast<int64_t>(text.size());
  for (int i = 1; i < 10; ++i) {
    ExpectSameLoad(serial, Load(path, Spread(size, 3, i * 301)), "cuts " + std::to_string(i));
  }
}

// Damage anywhere (a line dropped, a number spoiled) gives the same error,
// at the same line, or the same layer, whether the drawing is read in pieces
// or not.
TEST(DxfParallelLoad, DamagedDrawingsFailAlike) {
  const std::string text = MixedDrawing(12);
  std::vector<size_t> lineStarts = {0};
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n' && i + 1 < text.size()) lineStarts.push_back(i + 1);
  const auto size = static_cast<int64_t>(text.size());
  int failures = 0;
  for (size_t k = lineStarts.size() / 4; k < lineStarts.size(); k += 7) {
    for (int mode = 0; mode < 2; ++mode) {
      std::string damaged = text;
      const size_t start = lineStarts[k];
      const size_t end = damaged.find('\n', start) + 1;
      if (mode == 0) {
        damaged.erase(start, end - start);
      } else {
        damaged.replace(start, end - start - 1, "1x");
      }
      const std::string path = dxftest::WriteTemp("parallel_damaged.dxf", damaged);
      const LoadResult serial = Load(path, std::nullopt);
      if (!serial.Error.empty()) ++failures;
      for (const std::vector<int64_t>& targets :
           {Spread(size, 3), Spread(size, 1), Spread(size, 2, 41)}) {
        ExpectSameLoad(serial, Load(path, targets), "line " + std::to_string(k) + " mode " +
                                                         std::to_string(mode));
      }
    }
  }
  EXPECT_GT(failures, 20);
}

// Block B1: 200 lines on a frozen layer (read, not converted); B2: 30
// references to B1. The ENTITIES section holds 60 references to B2, each
// after a visible line: about 72,000 lines read per reference.
std::string BoundDrawing() {
  std::string t = Group(0, "SECTION") + Group(2, "TABLES") + Group(0, "TABLE") +
                  Group(2, "LAYER") + Group(0, "LAYER") + Group(2, "FROZEN") + Group(70, "1") +
                  Group(0, "ENDTAB") + Group(0, "ENDSEC");
  t += Group(0, "SECTION") + Group(2, "BLOCKS") + Group(0, "BLOCK") + Group(2, "B1") +
       Group(10, "0") + Group(20, "0");
  for (int i = 0; i < 200; ++i)
    t += Group(0, "LINE") + Group(8, "FROZEN") + Group(10, "0") + Group(20, "0") +
         Group(11, "1") + Group(21, "1");
  t += Group(0, "ENDBLK") + Group(0, "BLOCK") + Group(2, "B2") + Group(10, "0") + Group(20, "0");
  for (int i = 0; i < 30; ++i) t += Group(0, "INSERT") + Group(2, "B1") + Group(10, std::to_string(i));
  t += Group(0, "ENDBLK") + Group(0, "ENDSEC") + Group(0, "SECTION") + Group(2, "ENTITIES");
  for (int i = 0; i < 60; ++i) {
    t += Group(0, "LINE") + Group(5, "L" + std::to_string(i)) + Group(8, "0") +
         Group(10, std::to_string(i)) + Group(20, "0") + Group(11, "0") + Group(21, "1");
    t += Group(0, "INSERT") + Group(8, "0") + Group(2, "B2") + Group(10, std::to_string(i));
  }
  t += Group(0, "ENDSEC") + Group(0, "EOF");
  return t;
}

// The block expansion bound counts the lines of all pieces: a drawing that
// passes it only piece by piece is refused, at the line a single reader
// refuses it.
TEST(DxfParallelLoad, ExpansionBoundCountsEveryPiece) {
  const std::string text = BoundDrawing();
  const std::string path = dxftest::WriteTemp("parallel_bound.dxf", text);
  const auto size = static_cast<int64_t>(text.size());
  const auto entities = static_cast<int64_t>(text.find("ENTITIES"));
  int refused = 0;
  for (const int64_t allowance : {0, 1'000'000, 2'000'000, 3'000'000}) {
    const LoadResult serial = Load(path, std::nullopt, allowance);
    std::vector<int64_t> targets = Spread(size - entities, 3);
    for (int64_t& t : targets) t += entities;
    ExpectSameLoad(serial, Load(path, targets, allowance),
                   "allowance " + std::to_string(allowance));
    if (!serial.Error.empty()) ++refused;
  }
  EXPECT_EQ(refused, 3);
}

}  // namespace
}  // namespace cadport
