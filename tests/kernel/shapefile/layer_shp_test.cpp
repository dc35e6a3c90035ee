#include "kernel/shapefile/layer_shp.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "kernel/base/exception.h"
#include "kernel/base/utils.h"
#include "kernel/layer/viewer.h"
#include "kernel/shapefile/binary_io.h"
#include "kernel/shapefile/mapped_stream.h"
#include "tests/kernel/shapefile/shapefile_test_util.h"

namespace cadport {
namespace {

using testing::AddShape;
using testing::Exists;
using testing::ReadBytes;
using testing::ScratchDir;

// A source layer of mixed kinds with a name on every shape:
// point p1, arc a1, polygon g1, point p2, arc a2.
void FillMixed(TGIS_LayerVector& src) {
  testing::PrepareLayer(src);
  src.AddField("NAME", TGIS_FieldKind::String, 10, 0);
  src.AddField("N", TGIS_FieldKind::Number, 6, 0);
  AddShape(src, TGIS_ShapeKind::Point, {{{1, 1}}})->SetField("NAME", TGIS_Variant("p1"));
  AddShape(src, TGIS_ShapeKind::Arc, {{{0, 0}, {5, 5}}})->SetField("NAME", TGIS_Variant("a1"));
  AddShape(src, TGIS_ShapeKind::Polygon, {{{0, 0}, {0, 1}, {1, 1}}})
      ->SetField("NAME", TGIS_Variant("g1"));
  TGIS_Shape* p2 = AddShape(src, TGIS_ShapeKind::Point, {{{7, -3}}});
  p2->SetField("NAME", TGIS_Variant("p2"));
  p2->SetField("N", TGIS_Variant(int32_t(12)));
  AddShape(src, TGIS_ShapeKind::Arc, {{{2, 2}, {3, 3}}})->SetField("NAME", TGIS_Variant("a2"));
}

// Opens the set on path as an unattached layer.
std::unique_ptr<TGIS_LayerSHP> OpenSet(const std::string& path) {
  auto layer = std::make_unique<TGIS_LayerSHP>();
  layer->SetPath(path);
  layer->Open();
  return layer;
}

struct ReadShape {
  int32_t uid;
  TGIS_ShapeKind kind;
  std::vector<TGIS_Coord> points;
  std::string name;
};

std::vector<ReadShape> ReadAll(TGIS_LayerSHP& layer, const char* field = "NAME") {
  std::vector<ReadShape> out;
  for (layer.StartScan(UnboundedBounds()); !layer.ScanDone(); layer.ScanNext()) {
    TGIS_Shape* s = layer.ScanCurrent();
    ReadShape r{s->Uid(), s->ShapeKind(), {}, {}};
    for (int p = 0; p < s->GetNumParts(); ++p)
      for (int i = 0; i < s->GetPartSize(p); ++i) r.points.push_back(s->GetPoint(p, i));
    if (field) r.name = s->GetField(field).ToText();
    out.push_back(r);
  }
  return out;
}

TEST(LayerSHP, FirstKindRuleWritesConsecutiveRecords) {
  ScratchDir dir;
  TGIS_LayerVector src;
  FillMixed(src);
  TGIS_LayerSHP shp;
  shp.SetPath(dir.File("roads.shp"));
  shp.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);
  EXPECT_EQ(shp.WrittenCount(), 2);
  EXPECT_EQ(shp.SkippedCount(TGIS_ShapeKind::Arc), 2);
  EXPECT_EQ(shp.SkippedCount(TGIS_ShapeKind::Polygon), 1);
  EXPECT_EQ(shp.SkippedCount(TGIS_ShapeKind::Point), 0);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"roads.dbf", "roads.shp", "roads.shx"}));

  auto back = OpenSet(dir.File("roads.shp"));
  EXPECT_EQ(back->Description(), "ArcView Shape Files (SHP)");
  EXPECT_EQ(back->SupportedKinds(), ShapeKindBit(TGIS_ShapeKind::Point));
  const auto shapes = ReadAll(*back);
  ASSERT_EQ(shapes.size(), 2u);
  EXPECT_EQ(shapes[0].uid, 1);
  EXPECT_EQ(shapes[0].name, "p1");
  EXPECT_EQ(shapes[1].uid, 2);
  EXPECT_EQ(shapes[1].name, "p2");
  EXPECT_EQ(shapes[1].points[0].X, 7);
  EXPECT_EQ(shapes[1].points[0].Y, -3);
  // The header box is the union of what was written.
  EXPECT_EQ(back->SHP()->Header.Bounds.XMin, 1);
  EXPECT_EQ(back->SHP()->Header.Bounds.YMin, -3);
  EXPECT_EQ(back->SHP()->Header.Bounds.XMax, 7);
  EXPECT_EQ(back->SHP()->Header.Bounds.YMax, 1);
  EXPECT_EQ(back->SHP()->Header.ShapeType, 1);
  EXPECT_EQ(back->SHX()->Header.ShapeType, 1);

  // A wanted kind writes only that kind.
  TGIS_LayerSHP arcs;
  arcs.SetPath(dir.File("arcs.shp"));
  arcs.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Arc, "", false);
  auto arcsBack = OpenSet(dir.File("arcs.shp"));
  const auto a = ReadAll(*arcsBack);
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[0].name, "a1");
  EXPECT_EQ(a[1].name, "a2");
  EXPECT_EQ(arcsBack->FieldInfo(arcsBack->FindField("N"))->FieldKind, TGIS_FieldKind::Number);
}

TEST(LayerSHP, NothingWrittenTouchesNothing) {
  ScratchDir dir;
  TGIS_LayerVector src;
  FillMixed(src);
  TGIS_LayerSHP first;
  first.SetPath(dir.File("roads.shp"));
  first.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);
  const auto shp = ReadBytes(dir.File("roads.shp"));
  const auto dbf = ReadBytes(dir.File("roads.dbf"));

  TGIS_LayerVector none;
  testing::PrepareLayer(none);
  TGIS_LayerSHP again;
  again.SetPath(dir.File("roads.shp"));
  again.ConvertFrom(&none, none.Extent(), TGIS_ShapeKind::Unknown, "", false);
  EXPECT_EQ(again.WrittenCount(), 0);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"roads.dbf", "roads.shp", "roads.shx"}));
  EXPECT_EQ(ReadBytes(dir.File("roads.shp")), shp);
  EXPECT_EQ(ReadBytes(dir.File("roads.dbf")), dbf);

  TGIS_LayerSHP fresh;
  fresh.SetPath(dir.File("new.shp"));
  fresh.ConvertFrom(&none, none.Extent(), TGIS_ShapeKind::Unknown, "", false);
  EXPECT_FALSE(Exists(dir.File("new.shp")));
  EXPECT_FALSE(Exists(dir.File("new.shp~tmp")));
}

TEST(LayerSHP, ReplacingASetLeavesBackups) {
  ScratchDir dir;
  TGIS_LayerVector src;
  FillMixed(src);
  for (int round = 0; round < 2; ++round) {
    TGIS_LayerSHP shp;
    shp.SetPath(dir.File("roads.shp"));
    shp.ConvertFrom(&src, src.Extent(), round == 0 ? TGIS_ShapeKind::Point : TGIS_ShapeKind::Arc,
                    "", false);
    EXPECT_EQ(shp.ReplacedASet(), round == 1);
    if (round == 1) {
      EXPECT_EQ(shp.BackupNames()[0], dir.File("roads.shp~"));
      EXPECT_EQ(shp.BackupNames()[1], dir.File("roads.shx~"));
      EXPECT_EQ(shp.BackupNames()[2], dir.File("roads.dbf~"));
      EXPECT_EQ(shp.TemporaryNames()[2], dir.File("roads.dbf~tmp"));
    }
  }
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"roads.dbf", "roads.dbf~", "roads.shp",
                                                   "roads.shp~", "roads.shx", "roads.shx~"}));
  auto backup = ReadBytes(dir.File("roads.shp~"));
  EXPECT_EQ(LoadLE32(&backup[32]), 1u);  // the points of the first round
  auto current = OpenSet(dir.File("roads.shp"));
  EXPECT_EQ(current->SHP()->Header.ShapeType, 3);
}

// The viewer's busy notifications of an import.
struct BusyLog {
  std::vector<std::pair<int32_t, int32_t>> shakes;  // position, end
  int abortAt = -1;                                  // shake index that aborts
  bool raise = false;                                // ... by raising
};

void Watch(TGIS_Viewer& viewer, BusyLog& log) {
  viewer.OnBusy = [&log](TGIS_BaseObject*, int32_t pos, int32_t end, bool& abort) {
    if (pos < 0 || (pos == 0 && end == 100)) return;  // begin and release
    log.shakes.emplace_back(pos, end);
    if (int(log.shakes.size()) - 1 == log.abortAt) {
      if (log.raise) throw std::runtime_error("interrupted");
      abort = true;
    }
  };
}

void FillPoints(TGIS_LayerVector& src, int n) {
  testing::PrepareLayer(src);
  src.AddField("I", TGIS_FieldKind::Number, 6, 0);
  for (int i = 1; i <= n; ++i)
    AddShape(src, TGIS_ShapeKind::Point, {{{double(i), double(i)}}})->SetField("I", TGIS_Variant(int32_t(i)));
}

TEST(LayerSHP, ProgressOnTheSecondAndEveryHundredthShape) {
  ScratchDir dir;
  TGIS_Viewer viewer(TGIS_ViewerBitmap{128, 128});
  BusyLog log;
  Watch(viewer, log);
  TGIS_LayerVector src;
  FillPoints(src, 250);
  src.SetViewer(&viewer);
  TGIS_LayerSHP shp;
  shp.SetPath(dir.File("p.shp"));
  shp.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);
  src.SetViewer(nullptr);
  EXPECT_EQ(log.shakes, (std::vector<std::pair<int32_t, int32_t>>{{2, 250}, {102, 250}, {202, 250}}));
  EXPECT_EQ(viewer.BusyLevel(), 0);
  EXPECT_EQ(shp.WrittenCount(), 250);
}

TEST(LayerSHP, AbortCommitsTheShapesWrittenSoFar) {
  ScratchDir dir;
  TGIS_Viewer viewer(TGIS_ViewerBitmap{128, 128});
  viewer.SetAbortRaises(false);
  BusyLog log;
  log.abortAt = 0;
  Watch(viewer, log);
  TGIS_LayerVector src;
  FillPoints(src, 250);
  src.SetViewer(&viewer);
  TGIS_LayerSHP shp;
  shp.SetPath(dir.File("p.shp"));
  shp.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);
  src.SetViewer(nullptr);
  EXPECT_EQ(shp.WrittenCount(), 2);
  auto back = OpenSet(dir.File("p.shp"));
  const auto shapes = ReadAll(*back, "I");
  ASSERT_EQ(shapes.size(), 2u);
  EXPECT_EQ(shapes[1].name, "2");
  EXPECT_EQ(back->SHX()->RecordCount(), 2);
  EXPECT_EQ(back->DBF()->RecordCount(), 2);
}

// ---- the main file and index written on a second thread ------------------------

// Arcs of 2 to maxPoints points, every seventh without geometry, every eleventh a
// point (skipped: the set holds arcs); a name on each.
void FillArcs(TGIS_LayerVector& src, int n, int nameLength = 8, int maxPoints = 40) {
  testing::PrepareLayer(src);
  src.AddField("NAME", TGIS_FieldKind::String, nameLength, 0);
  std::mt19937 rng(5);
  for (int i = 1; i <= n; ++i) {
    const bool point = i % 11 == 0;
    TGIS_Shape* s = src.CreateShape(point ? TGIS_ShapeKind::Point : TGIS_ShapeKind::Arc);
    if (i % 7 != 0) {
      s->AddPart();
      const int count = point ? 1 : 2 + static_cast<int>(rng() % static_cast<unsigned>(maxPoints - 1));
      for (int k = 0; k < count; ++k) s->AddPoint({double(i) + k * 0.25, double(rng() % 1000)});
    }
    s->SetField("NAME", TGIS_Variant(std::string(static_cast<size_t>(nameLength), char('a' + i % 26))));
  }
}

struct WriteResult {
  std::string error;
  int64_t written = 0;
  int64_t skipped = 0;
  std::vector<std::string> names;
  std::string shp, shx, dbf;
};

WriteResult ConvertWith(int32_t threads, TGIS_LayerVector& src, BusyLog* log = nullptr) {
  ScratchDir dir;
  WriteResult r;
  TGIS_Viewer viewer(TGIS_ViewerBitmap{128, 128});
  viewer.SetAbortRaises(false);
  if (log != nullptr) {
    Watch(viewer, *log);
    src.SetViewer(&viewer);
  }
  TGIS_LayerSHP shp;
  shp.SetWriteThreads(threads);
  shp.SetPath(dir.File("w.shp"));
  try {
    shp.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);
  } catch (const std::exception& e) {
    r.error = e.what();
    // The scratch folders differ; the file named must not.
    const size_t at = r.error.find(dir.Path());
    if (at != std::string::npos) r.error.replace(at, dir.Path().size(), "<dir>");
  }
  src.SetViewer(nullptr);
  r.written = shp.WrittenCount();
  r.skipped = shp.SkippedCount(TGIS_ShapeKind::Point);
  r.names = dir.Names();
  if (Exists(dir.File("w.shp"))) {
    const auto text = [](const std::vector<std::byte>& b) {
      return std::string(reinterpret_cast<const char*>(b.data()), b.size());
    };
    r.shp = text(ReadBytes(dir.File("w.shp")));
    r.shx = text(ReadBytes(dir.File("w.shx")));
    r.dbf = text(ReadBytes(dir.File("w.dbf")));
  }
  return r;
}

void ExpectSameResult(const WriteResult& one, const WriteResult& two) {
  EXPECT_EQ(one.error, two.error);
  EXPECT_EQ(one.written, two.written);
  EXPECT_EQ(one.skipped, two.skipped);
  EXPECT_EQ(one.names, two.names);
  EXPECT_TRUE(one.shp == two.shp);
  EXPECT_TRUE(one.shx == two.shx);
  EXPECT_TRUE(one.dbf == two.dbf);
}

TEST(LayerSHPWriterThread, SameSetWithASecondThread) {
  TGIS_LayerVector src;
  FillArcs(src, 3000);
  const WriteResult one = ConvertWith(1, src);
  ASSERT_TRUE(one.error.empty()) << one.error;
  EXPECT_GT(one.written, 2500);
  EXPECT_GT(one.skipped, 200);
  ExpectSameResult(one, ConvertWith(2, src));
}

// An abort commits the same records; a handler that raises leaves nothing.
TEST(LayerSHPWriterThread, AbortAndRaiseAlike) {
  TGIS_LayerVector src;
  FillArcs(src, 3000);
  for (const bool raise : {false, true}) {
    SCOPED_TRACE(raise ? "raises" : "aborts");
    BusyLog logOne;
    logOne.abortAt = 7;
    logOne.raise = raise;
    const WriteResult one = ConvertWith(1, src, &logOne);
    BusyLog logTwo = logOne;
    logTwo.shakes.clear();
    const WriteResult two = ConvertWith(2, src, &logTwo);
    ExpectSameResult(one, two);
    EXPECT_EQ(logOne.shakes, logTwo.shakes);
    EXPECT_EQ(raise, !one.error.empty());
    if (raise) {
      EXPECT_TRUE(one.names.empty());
    }
  }
}

// When the file size limit stops the writing, the error is the one of the
// first record that fails, whichever file that is, and nothing remains.
TEST(LayerSHPWriterThread, WriteFailureRaisesTheFirstFailingRecordsError) {
  struct Case {
    const char* name;
    int shapes;
    int nameLength;
    int maxPoints;
    rlim_t limit;
    const char* failing;
  };
  // Files are written in 1 MiB blocks, so a limit below a block stops the
  // first file whose block fills first.
  const Case cases[] = {
      {"the main file fills a block first", 3000, 4, 40, 64 * 1024, "w.shp~tmp"},
      {"the attribute table fills a block first", 6000, 250, 3, 64 * 1024, "w.dbf~tmp"},
      {"the main file's second block", 6000, 4, 40, 1536 * 1024, "w.shp~tmp"},
      {"both fill a block, the main file first", 6000, 200, 40, 64 * 1024, "w.shp~tmp"},
      {"nothing fails before the files are closed", 3000, 4, 3, 200 * 1024, "w.shp~tmp"},
  };
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGIS_LayerVector src;
    FillArcs(src, c.shapes, c.nameLength, c.maxPoints);
    rlimit small = old;
    small.rlim_cur = c.limit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const WriteResult one = ConvertWith(1, src);
    const WriteResult two = ConvertWith(2, src);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_NE(one.error.find(c.failing), std::string::npos) << one.error;
    ExpectSameResult(one, two);
    EXPECT_TRUE(one.names.empty());
  }
  std::signal(SIGXFSZ, previous);
}

TEST(LayerSHP, FailureLeavesAnExistingSetAsItWas) {
  ScratchDir dir;
  TGIS_LayerVector small;
  FillPoints(small, 3);
  TGIS_LayerSHP first;
  first.SetPath(dir.File("p.shp"));
  first.ConvertFrom(&small, small.Extent(), TGIS_ShapeKind::Unknown, "", false);
  const auto before = dir.Names();
  const auto shp = ReadBytes(dir.File("p.shp"));
  const auto shx = ReadBytes(dir.File("p.shx"));
  const auto dbf = ReadBytes(dir.File("p.dbf"));

  for (bool raises : {true, false}) {
    SCOPED_TRACE(raises ? "the handler raises" : "the viewer raises on abort");
    TGIS_Viewer viewer(TGIS_ViewerBitmap{128, 128});
    BusyLog log;
    log.abortAt = 1;
    log.raise = raises;
    Watch(viewer, log);
    TGIS_LayerVector src;
    FillPoints(src, 250);
    src.SetViewer(&viewer);
    TGIS_LayerSHP shp2;
    shp2.SetPath(dir.File("p.shp"));
    EXPECT_ANY_THROW(shp2.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false));
    src.SetViewer(nullptr);
    EXPECT_EQ(viewer.BusyLevel(), 0);
    EXPECT_EQ(dir.Names(), before);
    EXPECT_EQ(ReadBytes(dir.File("p.shp")), shp);
    EXPECT_EQ(ReadBytes(dir.File("p.shx")), shx);
    EXPECT_EQ(ReadBytes(dir.File("p.dbf")), dbf);
  }

  // A temporary that cannot be created: the others are removed again.
  std::filesystem::create_directory(dir.File("p.dbf~tmp"));
  TGIS_LayerSHP shp3;
  shp3.SetPath(dir.File("p.shp"));
  EXPECT_ANY_THROW(shp3.ConvertFrom(&small, small.Extent(), TGIS_ShapeKind::Unknown, "", false));
  std::filesystem::remove(dir.File("p.dbf~tmp"));
  EXPECT_EQ(dir.Names(), before);
  EXPECT_EQ(ReadBytes(dir.File("p.shp")), shp);
}

TEST(LayerSHP, ExtentSelectsAndClipCuts) {
  ScratchDir dir;
  TGIS_Viewer viewer(TGIS_ViewerBitmap{128, 128});
  TGIS_LayerVector src;
  testing::PrepareLayer(src);
  src.AddField("NAME", TGIS_FieldKind::String, 10, 0);
  AddShape(src, TGIS_ShapeKind::Arc, {{{0, 0}, {10, 0}}})->SetField("NAME", TGIS_Variant("long"));
  AddShape(src, TGIS_ShapeKind::Arc, {{{20, 20}, {30, 30}}})->SetField("NAME", TGIS_Variant("far"));
  src.SetViewer(&viewer);

  TGIS_LayerSHP none;
  none.SetPath(dir.File("none.shp"));
  none.ConvertFrom(&src, MakeBounds(100, 100, 200, 200), TGIS_ShapeKind::Unknown, "", false);
  EXPECT_EQ(none.WrittenCount(), 0);
  EXPECT_FALSE(Exists(dir.File("none.shp")));

  // Selected by overlap, not cut: the box reaches beyond the extent.
  TGIS_LayerSHP half;
  half.SetPath(dir.File("half.shp"));
  half.ConvertFrom(&src, MakeBounds(5, -1, 15, 1), TGIS_ShapeKind::Unknown, "", false);
  EXPECT_EQ(half.WrittenCount(), 1);

  TGIS_LayerSHP clipped;
  clipped.SetPath(dir.File("clip.shp"));
  clipped.ConvertFrom(&src, MakeBounds(5, -1, 15, 1), TGIS_ShapeKind::Unknown, "", true);
  src.SetViewer(nullptr);

  auto h = OpenSet(dir.File("half.shp"));
  EXPECT_EQ(h->SHP()->Header.Bounds.XMin, 0);
  EXPECT_EQ(h->SHP()->Header.Bounds.XMax, 10);
  auto c = OpenSet(dir.File("clip.shp"));
  const auto shapes = ReadAll(*c);
  ASSERT_EQ(shapes.size(), 1u);
  EXPECT_EQ(shapes[0].name, "long");  // the unclipped source's attributes
  ASSERT_EQ(shapes[0].points.size(), 2u);
  EXPECT_EQ(shapes[0].points[0].X, 5);
  EXPECT_EQ(shapes[0].points[1].X, 10);
  EXPECT_EQ(c->SHP()->Header.Bounds.XMin, 5);
}

TEST(LayerSHP, FailedCommitPutsThePreviousFilesBack) {
  ScratchDir dir;
  TGIS_LayerVector src;
  FillPoints(src, 3);
  // An attribute name that cannot be replaced: a folder, with a folder in
  // the way of its backup.
  std::filesystem::create_directories(dir.File("p.dbf/x"));
  std::filesystem::create_directories(dir.File("p.dbf~/x"));
  const auto before = dir.Names();
  {
    SCOPED_TRACE("a new set: the files already placed go again");
    TGIS_LayerSHP shp;
    shp.SetPath(dir.File("p.shp"));
    try {
      shp.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);
      FAIL() << "no error";
    } catch (const EGIS_Exception& e) {
      EXPECT_EQ(e.ErrorCode(), 3);
      EXPECT_EQ(e.Name(), dir.File("p.dbf"));
    }
    EXPECT_EQ(dir.Names(), before);
  }
  {
    SCOPED_TRACE("over an existing main and index file: they come back");
    testing::WriteBytes(dir.File("p.shp"), {std::byte{1}, std::byte{2}});
    testing::WriteBytes(dir.File("p.shx"), {std::byte{3}});
    const auto names = dir.Names();
    TGIS_LayerSHP shp;
    shp.SetPath(dir.File("p.shp"));
    EXPECT_THROW(shp.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false),
                 EGIS_Exception);
    EXPECT_EQ(dir.Names(), names);
    EXPECT_EQ(ReadBytes(dir.File("p.shp")), (std::vector<std::byte>{std::byte{1}, std::byte{2}}));
    EXPECT_EQ(ReadBytes(dir.File("p.shx")), (std::vector<std::byte>{std::byte{3}}));
  }
}

TEST(LayerSHP, UidsAndDirectAccess) {
  ScratchDir dir;
  TGIS_LayerVector src;
  FillPoints(src, 10);
  TGIS_LayerSHP w;
  w.SetPath(dir.File("p.shp"));
  w.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);

  auto layer = OpenSet(dir.File("p.shp"));
  EXPECT_EQ(layer->NextUid(), 11);
  EXPECT_EQ(layer->NextUid(), 12);
  EXPECT_EQ(layer->ShapeByUid(0), nullptr);
  EXPECT_EQ(layer->ShapeByUid(11), nullptr);
  TGIS_Shape* s = layer->ShapeByUid(7);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Uid(), 7);
  EXPECT_EQ(s->GetPoint(0, 0).X, 7);
  EXPECT_EQ(s->GetField("I"), TGIS_Variant(int64_t(7)));

  // Without the index file the set still opens and finds shapes by scanning.
  layer.reset();
  std::filesystem::remove(dir.File("p.shx"));
  layer = OpenSet(dir.File("p.shp"));
  EXPECT_EQ(layer->SHX(), nullptr);
  s = layer->ShapeByUid(4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetPoint(0, 0).Y, 4);
  EXPECT_EQ(layer->ShapeByUid(11), nullptr);

  // Without the attribute table it does not.
  layer.reset();
  std::filesystem::remove(dir.File("p.dbf"));
  TGIS_LayerSHP noTable;
  noTable.SetPath(dir.File("p.shp"));
  EXPECT_THROW(noTable.Open(), EFOpenError);
}

TEST(LayerSHP, SiblingsDifferingInCaseAreAccepted) {
  ScratchDir dir;
  TGIS_LayerVector src;
  FillPoints(src, 2);
  TGIS_LayerSHP w;
  w.SetPath(dir.File("ROADS.SHP"));
  w.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);
  ASSERT_TRUE(Exists(dir.File("ROADS.dbf")));
  std::filesystem::rename(dir.File("ROADS.dbf"), dir.File("ROADS.DBF"));
  std::filesystem::rename(dir.File("ROADS.shx"), dir.File("ROADS.SHX"));
  auto layer = OpenSet(dir.File("ROADS.SHP"));
  EXPECT_NE(layer->SHX(), nullptr);
  EXPECT_EQ(ReadAll(*layer, "I").size(), 2u);
}

TEST(LayerSHP, CorruptRecordRaisesDuringTheScan) {
  ScratchDir dir;
  TGIS_LayerVector src;
  FillPoints(src, 3);
  TGIS_LayerSHP w;
  w.SetPath(dir.File("p.shp"));
  w.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);
  auto bytes = ReadBytes(dir.File("p.shp"));
  StoreBE32(&bytes[100 + 28 + 4], 5000);  // second record's content length
  testing::WriteBytes(dir.File("p.shp"), bytes);
  auto layer = OpenSet(dir.File("p.shp"));
  EXPECT_THROW(ReadAll(*layer, nullptr), EGIS_Exception);
}

TEST(LayerSHP, RevertBringsTheFileVersionBack) {
  ScratchDir dir;
  TGIS_LayerVector src;
  FillPoints(src, 5);
  TGIS_LayerSHP w;
  w.SetPath(dir.File("p.shp"));
  w.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);
  auto layer = OpenSet(dir.File("p.shp"));
  TGIS_Shape* s = layer->MakeEditable(layer->ShapeByUid(3));
  ASSERT_NE(s, nullptr);
  s->SetField("I", TGIS_Variant(int32_t(300)));
  ASSERT_EQ(layer->ShapeByUid(3), s);
  layer->RevertShape(3);
  TGIS_Shape* back = layer->ShapeByUid(3);
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(back->Borrowed());
  EXPECT_EQ(back->GetField("I"), TGIS_Variant(int64_t(3)));
  layer->MakeEditable(back);
  layer->RevertAll();
  EXPECT_EQ(ReadAll(*layer, "I").size(), 5u);
}

TEST(LayerSHP, RewritingItsOwnSet) {
  ScratchDir dir;
  TGIS_LayerVector src;
  FillPoints(src, 5);
  TGIS_LayerSHP w;
  w.SetPath(dir.File("p.shp"));
  w.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);

  auto layer = OpenSet(dir.File("p.shp"));
  layer->DeleteShape(2);
  TGIS_Shape* s = layer->MakeEditable(layer->ShapeByUid(4));
  ASSERT_NE(s, nullptr);
  s->SetField("I", TGIS_Variant(int32_t(400)));
  ASSERT_TRUE(layer->IsModified());
  layer->SaveData();
  EXPECT_FALSE(layer->Modified());
  EXPECT_TRUE(layer->Shapes().empty());
  const auto shapes = ReadAll(*layer, "I");
  ASSERT_EQ(shapes.size(), 4u);
  EXPECT_EQ(shapes[1].points[0].X, 3);
  EXPECT_EQ(shapes[2].name, "400");
  EXPECT_TRUE(Exists(dir.File("p.shp~")));
}

// Sets written by other programs.
std::string Fixture(const std::string& name) {
  return std::string(CADPORT_TEST_DATA) + "/shapefile/" + name;
}

TEST(LayerSHP, ReadsSetsOfOtherWriters) {
  {
    SCOPED_TRACE("pyshp lines with a null record and every field type");
    auto layer = OpenSet(Fixture("pyshp_lines.shp"));
    const auto shapes = ReadAll(*layer);
    ASSERT_EQ(shapes.size(), 2u);  // the null record is skipped
    EXPECT_EQ(shapes[0].uid, 1);
    EXPECT_EQ(shapes[1].uid, 3);
    ASSERT_EQ(shapes[0].points.size(), 3u);
    EXPECT_EQ(shapes[0].points[0].X, 0.1);
    EXPECT_EQ(shapes[0].points[0].Y, 0.2);
    EXPECT_EQ(shapes[0].points[1].Y, -2.25);
    EXPECT_EQ(shapes[1].points.size(), 5u);
    TGIS_Shape* s = layer->ShapeByUid(1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetFieldRaw("NAME"), TGIS_Variant("first"));
    EXPECT_EQ(s->GetFieldRaw("COUNT"), TGIS_Variant(int64_t(42)));
    EXPECT_EQ(s->GetFieldRaw("RATIO"), TGIS_Variant(3.25));
    EXPECT_EQ(s->GetFieldRaw("SCORE"), TGIS_Variant(-1.5));
    EXPECT_EQ(s->GetFieldRaw("FLAG"), TGIS_Variant(true));
    EXPECT_EQ(s->GetFieldRaw("DAY"), TGIS_Variant(EncodeDate(1999, 12, 31)));
    EXPECT_EQ(layer->ShapeByUid(2), nullptr);
    s = layer->ShapeByUid(3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetNumParts(), 2);
    EXPECT_EQ(s->GetFieldRaw("COUNT"), TGIS_Variant(int64_t(-7)));
    EXPECT_TRUE(s->GetFieldRaw("RATIO").IsNull());
    EXPECT_TRUE(s->GetFieldRaw("FLAG").IsNull());
    EXPECT_TRUE(s->GetFieldRaw("DAY").IsNull());
  }
  {
    SCOPED_TRACE("pyshp polyline Z reads as arcs");
    auto layer = OpenSet(Fixture("pyshp_polylinez.shp"));
    EXPECT_EQ(layer->SHP()->Header.ShapeType, 13);
    EXPECT_EQ(layer->SupportedKinds(), ShapeKindBit(TGIS_ShapeKind::Arc));
    const auto shapes = ReadAll(*layer, "ID");
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(shapes[1].kind, TGIS_ShapeKind::Arc);
    ASSERT_EQ(shapes[1].points.size(), 3u);
    EXPECT_EQ(shapes[1].points[2].X, 13);
    EXPECT_EQ(shapes[1].points[2].Y, 14);
    EXPECT_EQ(shapes[1].name, "2");
  }
  {
    SCOPED_TRACE("pyshp multipoint");
    auto layer = OpenSet(Fixture("pyshp_multipoint.shp"));
    const auto shapes = ReadAll(*layer, "ID");
    ASSERT_EQ(shapes.size(), 1u);
    ASSERT_EQ(shapes[0].points.size(), 3u);
    EXPECT_EQ(shapes[0].points[2].X, -4.5);
    EXPECT_EQ(shapes[0].points[2].Y, 6.25);
  }
  {
    SCOPED_TRACE("pyshp points and polygon M");
    auto points = OpenSet(Fixture("pyshp_points.shp"));
    EXPECT_EQ(points->SupportedKinds(), ShapeKindBit(TGIS_ShapeKind::Point));
    const auto p = ReadAll(*points);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].points[0].X, -122.5);
    EXPECT_EQ(p[1].points[0].Y, 35.6875);
    EXPECT_EQ(p[1].name, "east");
    auto polygons = OpenSet(Fixture("pyshp_polygonm.shp"));
    EXPECT_EQ(polygons->SHP()->Header.ShapeType, 25);
    const auto g = ReadAll(*polygons, "ID");
    ASSERT_EQ(g.size(), 1u);
    EXPECT_EQ(g[0].kind, TGIS_ShapeKind::Polygon);
    ASSERT_EQ(g[0].points.size(), 5u);
    EXPECT_EQ(g[0].points[2].X, 4);
    EXPECT_EQ(g[0].name, "9");
  }
  {
    SCOPED_TRACE("GDAL polygons with a hole");
    auto layer = OpenSet(Fixture("gdal_polygons.shp"));
    const auto shapes = ReadAll(*layer);
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(shapes[0].points.size(), 10u);
    TGIS_Shape* s = layer->ShapeByUid(1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetNumParts(), 2);
    EXPECT_EQ(s->GetPartSize(1), 5);
    EXPECT_EQ(s->GetFieldRaw("NAME"), TGIS_Variant("with hole"));
    EXPECT_EQ(s->GetFieldRaw("COUNT"), TGIS_Variant(int64_t(3)));
    EXPECT_EQ(s->GetFieldRaw("BIG"), TGIS_Variant(int64_t(9876543210123)));
    EXPECT_EQ(s->GetFieldRaw("VALUE"), TGIS_Variant(0.1));
    EXPECT_EQ(s->GetFieldRaw("DAY"), TGIS_Variant(EncodeDate(2024, 2, 29)));
    s = layer->ShapeByUid(2);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->GetFieldRaw("BIG").IsNull());
    EXPECT_EQ(s->GetFieldRaw("VALUE"), TGIS_Variant(-2.5e-7));
    EXPECT_EQ(s->GetFieldRaw("COUNT"), TGIS_Variant(int64_t(-1)));
  }
  {
    SCOPED_TRACE("GDAL points Z and lines M");
    auto points = OpenSet(Fixture("gdal_pointsz.shp"));
    EXPECT_EQ(points->SHP()->Header.ShapeType, 11);
    const auto p = ReadAll(*points);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].points[0].X, 1.25);
    EXPECT_EQ(p[1].name, "b");
    auto lines = OpenSet(Fixture("gdal_linesm.shp"));
    const auto l = ReadAll(*lines);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].kind, TGIS_ShapeKind::Arc);
    EXPECT_EQ(l[0].points.size(), 3u);
    EXPECT_EQ(l[0].points[1].Y, 5);
  }
}

// Damaged sets raise or read; they never crash or read out of bounds (the
// sanitizer build runs this too).
TEST(LayerSHP, DamagedSetsRaiseOrRead) {
  ScratchDir dir;
  std::mt19937 rng(7);
  for (const char* name : {"pyshp_lines", "gdal_polygons", "pyshp_multipoint"}) {
    SCOPED_TRACE(name);
    const auto shp = ReadBytes(Fixture(std::string(name) + ".shp"));
    const auto shx = ReadBytes(Fixture(std::string(name) + ".shx"));
    const auto dbf = ReadBytes(Fixture(std::string(name) + ".dbf"));
    for (int round = 0; round < 60; ++round) {
      auto s = shp, x = shx, d = dbf;
      for (int k = 0; k < 4; ++k) {
        auto& target = k % 3 == 0 ? s : k % 3 == 1 ? x : d;
        target[rng() % target.size()] = std::byte(rng());
      }
      if (round % 10 == 0) s.resize(rng() % s.size());
      testing::WriteBytes(dir.File("d.shp"), s);
      testing::WriteBytes(dir.File("d.shx"), x);
      testing::WriteBytes(dir.File("d.dbf"), d);
      try {
        auto layer = OpenSet(dir.File("d.shp"));
        for (layer->StartScan(UnboundedBounds()); !layer->ScanDone(); layer->ScanNext()) {
          TGIS_Shape* sh = layer->ScanCurrent();
          for (int32_t f = 0; f < layer->FieldsCount(); ++f)
            sh->GetFieldRaw(layer->FieldInfo(f)->NewName);
        }
        for (int32_t uid = 0; uid < 6; ++uid) layer->ShapeByUid(uid);
      } catch (const std::exception&) {
      }
    }
  }
}

TEST(LayerSHP, BuildCreatesAnEmptySetAndRefusesToOverwrite) {
  ScratchDir dir;
  TGIS_LayerSHP layer;
  layer.AddField("NAME", TGIS_FieldKind::String, 8, 0);
  layer.Build(dir.File("e.shp"), MakeBounds(0, 0, 1, 1), TGIS_ShapeKind::Polygon);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"e.dbf", "e.shp", "e.shx"}));
  auto back = OpenSet(dir.File("e.shp"));
  EXPECT_EQ(back->SHP()->Header.ShapeType, 5);
  EXPECT_EQ(back->FieldsCount(), 1);
  EXPECT_EQ(ReadAll(*back).size(), 0u);
  TGIS_LayerSHP again;
  try {
    again.Build(dir.File("e.shp"), MakeBounds(0, 0, 1, 1), TGIS_ShapeKind::Polygon);
    FAIL() << "no error";
  } catch (const EGIS_Exception& e) {
    EXPECT_EQ(e.Name(), dir.File("e.shp"));
  }
}

}  // namespace
}  // namespace cadport
