#include "kernel/shapefile/file_shp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "kernel/base/exception.h"
#include "kernel/shapefile/binary_io.h"
#include "kernel/shapefile/mapped_stream.h"
#include "tests/kernel/shapefile/shapefile_test_util.h"

namespace cadport {
namespace {

using testing::ReadBytes;
using testing::ScratchDir;

std::unique_ptr<TGIS_Shape> MakeShape(TGIS_ShapeKind kind,
                                      std::vector<std::vector<TGIS_Coord>> parts) {
  std::unique_ptr<TGIS_Shape> s;
  switch (kind) {
    case TGIS_ShapeKind::Point: s = std::make_unique<TGIS_ShapePoint>(); break;
    case TGIS_ShapeKind::MultiPoint: s = std::make_unique<TGIS_ShapeMultipoint>(); break;
    case TGIS_ShapeKind::Arc: s = std::make_unique<TGIS_ShapeArc>(); break;
    default: s = std::make_unique<TGIS_ShapePolygon>(); break;
  }
  for (const auto& part : parts) {
    s->AddPart();
    for (const TGIS_Coord& c : part) s->AddPoint(c);
  }
  return s;
}

// Writes the shapes as a main and index file the way the layer does.
void WriteSet(const std::string& shpPath, const std::string& shxPath,
              const std::vector<const TGIS_Shape*>& shapes) {
  TGIS_FileSHP shp(shpPath, true);
  TGIS_FileSHX shx(shxPath, true);
  shp.WriteHeader();
  shx.WriteHeader();
  int32_t n = 1;
  for (const TGIS_Shape* s : shapes) {
    TGIS_ShpRecordHeader h;
    h.RecordNumber = n++;
    h.ContentLength = s->IsEmpty() ? 2 : (s->GeometryHeaderSize() + s->GeometryPointsSize() + 4) / 2;
    h.Kind = s->ShapeKind();
    shx.WriteIndexRecord(shp.Position(), h);
    shp.WriteRecordHeader(h);
    if (!s->IsEmpty()) shp.WriteShapeGeometry(*s);
  }
  shp.Header.ShapeType = 5;
  shp.WriteHeader();
  shp.Close();
  shx.WriteHeader();
  shx.Close();
}

const std::vector<TGIS_Coord> kRing1 = {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}};
const std::vector<TGIS_Coord> kRing2 = {{2, 2}, {4, 2}, {4, 4}, {2, 2}};

TEST(FileSHP, RecordSizesAndIndexOffsets) {
  ScratchDir dir;
  auto point = MakeShape(TGIS_ShapeKind::Point, {{{1.5, -2.5}}});
  auto polygon = MakeShape(TGIS_ShapeKind::Polygon, {kRing1, kRing2});
  ASSERT_EQ(polygon->GetNumPoints(), 9);
  ASSERT_EQ(polygon->GetNumParts(), 2);
  auto empty = MakeShape(TGIS_ShapeKind::Polygon, {});
  WriteSet(dir.File("a.shp"), dir.File("a.shx"), {point.get(), polygon.get(), empty.get()});

  const auto shp = ReadBytes(dir.File("a.shp"));
  const auto shx = ReadBytes(dir.File("a.shx"));
  // Point: 8 header bytes + 20 content bytes; polygon: content 98 words;
  // empty: a 12-byte null record.
  ASSERT_EQ(shp.size(), size_t(100 + 28 + (8 + 196) + 12));
  EXPECT_EQ(LoadBE32(&shp[104]), 10u);
  EXPECT_EQ(LoadBE32(&shp[128 + 4]), 98u);
  EXPECT_EQ(LoadLE32(&shp[128 + 8]), 5u);
  EXPECT_EQ(LoadBE32(&shp[332 + 4]), 2u);
  EXPECT_EQ(LoadLE32(&shp[332 + 8]), 0u) << "an empty shape is a null record";
  EXPECT_EQ(LoadBE32(&shp[24]) * 2, shp.size());
  EXPECT_EQ(LoadLE32(&shp[28]), 1000u);

  ASSERT_EQ(shx.size(), size_t(100 + 3 * 8));
  EXPECT_EQ(LoadBE32(&shx[100]), 50u);
  EXPECT_EQ(LoadBE32(&shx[104]), 10u);
  EXPECT_EQ(LoadBE32(&shx[108]), 64u);
  EXPECT_EQ(LoadBE32(&shx[112]), 98u);
  EXPECT_EQ(LoadBE32(&shx[116]), 166u);
  EXPECT_EQ(LoadBE32(&shx[24]) * 2, shx.size());

  // Read back: the geometry is the shape's blocks, byte for byte.
  TGIS_FileSHP reader(dir.File("a.shp"), false);
  reader.ReadHeader();
  EXPECT_EQ(reader.Position(), 100);
  auto h = reader.ReadRecordHeader();
  EXPECT_EQ(h.Kind, TGIS_ShapeKind::Point);
  const std::byte* g = reader.RecordGeometry();
  EXPECT_EQ(LoadLEDouble(g), 1.5);
  EXPECT_EQ(LoadLEDouble(g + 8), -2.5);
  h = reader.ReadRecordHeader();
  EXPECT_EQ(h.RecordNumber, 2);
  g = reader.RecordGeometry();
  EXPECT_EQ(std::memcmp(g, polygon->GeometryHeader().data(), size_t(polygon->GeometryHeaderSize())), 0);
  h = reader.ReadRecordHeader();
  EXPECT_EQ(h.Kind, TGIS_ShapeKind::Unknown);
  reader.RecordGeometry();
  EXPECT_EQ(reader.Position(), reader.Size());

  TGIS_FileSHX index(dir.File("a.shx"), false);
  index.ReadHeader();
  EXPECT_EQ(index.RecordCount(), 3);
  EXPECT_EQ(index.ReadIndexRecord(2, reader.Size()).Offset, 128);
  EXPECT_THROW(index.ReadIndexRecord(4, reader.Size()), EGIS_Exception);
  EXPECT_THROW(index.ReadIndexRecord(0, reader.Size()), EGIS_Exception);
}

TEST(FileSHP, KindTable) {
  struct Case { int32_t type; TGIS_ShapeKind kind; };
  const Case cases[] = {
      {1, TGIS_ShapeKind::Point},      {11, TGIS_ShapeKind::Point},      {21, TGIS_ShapeKind::Point},
      {8, TGIS_ShapeKind::MultiPoint}, {18, TGIS_ShapeKind::MultiPoint}, {28, TGIS_ShapeKind::MultiPoint},
      {3, TGIS_ShapeKind::Arc},        {13, TGIS_ShapeKind::Arc},        {23, TGIS_ShapeKind::Arc},
      {5, TGIS_ShapeKind::Polygon},    {15, TGIS_ShapeKind::Polygon},    {25, TGIS_ShapeKind::Polygon},
      {0, TGIS_ShapeKind::Unknown},    {31, TGIS_ShapeKind::Unknown},    {-7, TGIS_ShapeKind::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(TGIS_FileSHPInternal::KindOfShapeType(c.type), c.kind);
  }
  EXPECT_EQ(TGIS_FileSHPInternal::ShapeTypeOfKind(TGIS_ShapeKind::Point), 1);
  EXPECT_EQ(TGIS_FileSHPInternal::ShapeTypeOfKind(TGIS_ShapeKind::MultiPoint), 8);
  EXPECT_EQ(TGIS_FileSHPInternal::ShapeTypeOfKind(TGIS_ShapeKind::Arc), 3);
  EXPECT_EQ(TGIS_FileSHPInternal::ShapeTypeOfKind(TGIS_ShapeKind::Polygon), 5);
  EXPECT_EQ(TGIS_FileSHPInternal::ShapeTypeOfKind(TGIS_ShapeKind::Unknown), 1);
}

TEST(FileSHP, HeaderKeepsReservedAndZMBytes) {
  std::vector<std::byte> bytes(100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::byte(i * 7 + 3);
  StoreBE32(&bytes[0], 9994);
  StoreBE32(&bytes[24], 50);
  StoreLE32(&bytes[28], 999);  // becomes 1000
  StoreLE32(&bytes[32], 15);
  StoreLEDouble(&bytes[36], -1.25);
  StoreLEDouble(&bytes[44], 2);
  StoreLEDouble(&bytes[52], 3);
  StoreLEDouble(&bytes[60], 4.5);
  TGIS_FileSHP reader(bytes, "memory.shp");
  reader.ReadHeader();
  EXPECT_EQ(reader.Header.ShapeType, 15);
  EXPECT_EQ(reader.Header.Bounds.XMin, -1.25);
  EXPECT_EQ(reader.Header.Bounds.YMax, 4.5);

  ScratchDir dir;
  {
    TGIS_FileSHP writer(dir.File("b.shp"), true);
    writer.Header = reader.Header;
    writer.WriteHeader();
    writer.Close();
  }
  const auto out = ReadBytes(dir.File("b.shp"));
  ASSERT_EQ(out.size(), 100u);
  EXPECT_TRUE(std::equal(bytes.begin() + 4, bytes.begin() + 24, out.begin() + 4)) << "reserved";
  EXPECT_TRUE(std::equal(bytes.begin() + 32, bytes.end(), out.begin() + 32)) << "type, box, Z/M";
  EXPECT_EQ(LoadLE32(&out[28]), 1000u);
  EXPECT_EQ(LoadBE32(&out[24]), 50u);
}

// A valid file of one polygon (2 rings, 9 points) in memory.
std::vector<std::byte> PolygonFile() {
  ScratchDir dir;
  auto polygon = MakeShape(TGIS_ShapeKind::Polygon, {kRing1, kRing2});
  WriteSet(dir.File("p.shp"), dir.File("p.shx"), {polygon.get()});
  return ReadBytes(dir.File("p.shp"));
}

void ReadAll(const std::vector<std::byte>& bytes) {
  TGIS_FileSHP reader(bytes, "memory.shp");
  reader.ReadHeader();
  while (reader.Position() < reader.Size()) {
    reader.ReadRecordHeader();
    reader.RecordGeometry();
  }
}

TEST(FileSHP, CorruptRecordsRaise) {
  const std::vector<std::byte> valid = PolygonFile();
  ASSERT_NO_THROW(ReadAll(valid));
  constexpr size_t kRec = 100, kGeom = 112;
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
    bool bigEndian;
  };
  const Case cases[] = {
      {"content length 0", kRec + 4, 0, true},
      {"content length 1", kRec + 4, 1, true},
      {"content length past the end", kRec + 4, 99, true},
      {"content length negative", kRec + 4, 0x80000000u, true},
      {"part count past the record", kGeom + 32, 1000, false},
      {"part count negative", kGeom + 32, 0xFFFFFFFFu, false},
      {"part count huge", kGeom + 32, 0x7FFFFFFFu, false},
      {"point count past the record", kGeom + 36, 10, false},
      {"point count huge", kGeom + 36, 0x10000000u, false},
      {"first part not 0", kGeom + 40, 1, false},
      {"parts descending", kGeom + 44, 0xFFFFFFFFu, false},
      {"part beyond the points", kGeom + 44, 9, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::byte> broken = valid;
    if (c.bigEndian)
      StoreBE32(&broken[c.at], c.value);
    else
      StoreLE32(&broken[c.at], c.value);
    EXPECT_THROW(ReadAll(broken), EGIS_Exception);
  }
}

TEST(FileSHP, EveryTruncationThrowsOrReadsAPrefix) {
  ScratchDir dir;
  auto point = MakeShape(TGIS_ShapeKind::Point, {{{1, 2}}});
  auto arc = MakeShape(TGIS_ShapeKind::Arc, {{{0, 0}, {5, 5}, {6, 1}}});
  auto polygon = MakeShape(TGIS_ShapeKind::Polygon, {kRing1, kRing2});
  WriteSet(dir.File("t.shp"), dir.File("t.shx"), {point.get(), arc.get(), polygon.get()});
  const auto full = ReadBytes(dir.File("t.shp"));
  for (size_t n = 0; n < full.size(); ++n) {
    SCOPED_TRACE(n);
    std::vector<std::byte> part(full.begin(), full.begin() + std::ptrdiff_t(n));
    try {
      ReadAll(part);
    } catch (const EGIS_Exception& e) {
      EXPECT_NE(std::string(e.what()).find("memory.shp"), std::string::npos);
    }
  }
}

TEST(FileSHP, IndexOffsetsOutsideTheMainFileRaise) {
  std::vector<std::byte> shx(100 + 3 * 8);
  StoreBE32(&shx[100], 49);     // inside the header
  StoreBE32(&shx[108], 50);     // fine
  StoreBE32(&shx[116], 1000);   // past a 200-byte main file
  TGIS_FileSHX index(shx, "memory.shx");
  index.ReadHeader();
  ASSERT_EQ(index.RecordCount(), 3);
  EXPECT_THROW(index.ReadIndexRecord(1, 200), EGIS_Exception);
  EXPECT_EQ(index.ReadIndexRecord(2, 200).Offset, 100);
  EXPECT_THROW(index.ReadIndexRecord(3, 200), EGIS_Exception);
}

TEST(FileSHP, WriterRefusesToPassTheFormatLimit) {
  ScratchDir dir;
  TGIS_FileSHP shp(dir.File("big.shp"), true);
  shp.WriteHeader();
  TGIS_ShpRecordHeader h;
  h.RecordNumber = 1;
  h.ContentLength = INT32_MAX;  // would end beyond 2^31-1 words
  h.Kind = TGIS_ShapeKind::Arc;
  try {
    shp.WriteRecordHeader(h);
    FAIL() << "no error";
  } catch (const EGIS_Exception& e) {
    EXPECT_EQ(e.ErrorCode(), 3);  // 0032, file write
  }
  EXPECT_EQ(shp.Size(), 100);
}

TEST(FileSHP, MissingFileIsTheOpenError) {
  EXPECT_THROW(TGIS_FileSHP("/nonexistent/x.shp", false), EFOpenError);
  EXPECT_THROW(TGIS_FileSHP("/nonexistent/x.shp", true), EFOpenError);
}

// ---- polygon ring orientation

using Ring = std::vector<TGIS_Coord>;

Ring Reversed(Ring r) {
  std::reverse(r.begin(), r.end());
  return r;
}

// Rings of the first record of a main file: part starts, then points.
std::vector<Ring> ReadRings(const std::string& path, std::vector<std::byte>* geometry) {
  TGIS_FileSHP reader(path, false);
  reader.ReadHeader();
  const TGIS_ShpRecordHeader h = reader.ReadRecordHeader();
  const std::byte* g = reader.RecordGeometry();
  geometry->assign(g, g + size_t(h.ContentLength) * 2 - 4);
  const int32_t parts = int32_t(LoadLE32(g + 32));
  const int32_t points = int32_t(LoadLE32(g + 36));
  const std::byte* p = g + 40 + 4 * parts;
  std::vector<Ring> rings;
  for (int32_t i = 0; i < parts; ++i) {
    const int32_t first = int32_t(LoadLE32(g + 40 + 4 * i));
    const int32_t next = i + 1 < parts ? int32_t(LoadLE32(g + 44 + 4 * i)) : points;
    Ring r;
    for (int32_t k = first; k < next; ++k) r.push_back({LoadLEDouble(p + 16 * k), LoadLEDouble(p + 16 * k + 8)});
    rings.push_back(r);
  }
  return rings;
}

bool SameRing(const Ring& a, const Ring& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](const TGIS_Coord& x, const TGIS_Coord& y) {
           return x.X == y.X && x.Y == y.Y;
         });
}

std::string Text(const std::vector<Ring>& rings) {
  std::string out;
  for (const Ring& r : rings) {
    out += "[";
    for (const TGIS_Coord& c : r) out += "(" + std::to_string(c.X) + "," + std::to_string(c.Y) + ")";
    out += "]";
  }
  return out;
}

// Rings written clockwise, holes counter-clockwise (by nesting, even-odd);
// a ring already right is written as it is, part order stays.
TEST(FileSHP, PolygonRingsAreOrientedByNesting) {
  // Counter-clockwise squares, closed.
  auto square = [](double x0, double y0, double x1, double y1) {
    return Ring{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}};
  };
  const Ring outer = square(0, 0, 100, 100);
  const Ring hole = square(10, 10, 90, 90);
  const Ring island = square(20, 20, 80, 80);
  const Ring lake = square(30, 30, 40, 40);
  const Ring far = square(200, 0, 300, 100);
  // A hole of the outer square touching it at its corner (0,0): the
  // decision falls to its next point.
  const Ring touching = {{0, 0}, {5, 2}, {2, 5}, {0, 0}};
  const Ring flat = {{50, 50}, {60, 60}, {70, 70}, {50, 50}};  // zero area

  struct Case {
    const char* name;
    std::vector<Ring> in;
    std::vector<Ring> want;
  } cases[] = {
      {"single ccw ring becomes cw", {outer}, {Reversed(outer)}},
      {"single cw ring kept", {Reversed(outer)}, {Reversed(outer)}},
      {"ccw outer, cw hole swapped", {outer, Reversed(hole)}, {Reversed(outer), hole}},
      {"hole first keeps its place", {Reversed(hole), outer}, {hole, Reversed(outer)}},
      {"three levels cw/ccw/cw", {outer, hole, island}, {Reversed(outer), hole, Reversed(island)}},
      {"four levels", {outer, hole, island, lake}, {Reversed(outer), hole, Reversed(island), lake}},
      {"two separate outers", {outer, far}, {Reversed(outer), Reversed(far)}},
      {"hole touching the outer at a vertex", {outer, Reversed(touching)}, {Reversed(outer), touching}},
      {"zero-area ring left alone", {outer, flat}, {Reversed(outer), flat}},
      {"already right", {Reversed(outer), hole, Reversed(island)}, {Reversed(outer), hole, Reversed(island)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    auto shape = MakeShape(TGIS_ShapeKind::Polygon, c.in);
    const std::vector<std::byte> header(shape->GeometryHeader().begin(),
                                        shape->GeometryHeader().begin() + shape->GeometryHeaderSize());
    const std::vector<std::byte> points(shape->GeometryPoints().begin(),
                                        shape->GeometryPoints().begin() + shape->GeometryPointsSize());
    WriteSet(dir.File("o.shp"), dir.File("o.shx"), {shape.get()});
    std::vector<std::byte> geometry;
    const std::vector<Ring> got = ReadRings(dir.File("o.shp"), &geometry);
    ASSERT_EQ(got.size(), c.want.size()) << Text(got);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_TRUE(SameRing(got[i], c.want[i])) << i << ": " << Text(got);
    }
    // Box, counts and part starts as in the shape; the shape is untouched.
    EXPECT_TRUE(std::equal(header.begin(), header.end(), geometry.begin()));
    EXPECT_EQ(geometry.size(), header.size() + points.size());
    EXPECT_TRUE(std::equal(points.begin(), points.end(), shape->GeometryPoints().begin()));
  }
}

}  // namespace
}  // namespace cadport
