// Shapes: building rules per kind, the two geometry blocks byte by byte,
// borrowed versus owned geometry, lock levels and the geometry blob.
#include "kernel/vector/shape.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <span>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/vector/layer_vector.h"

namespace cadport {
namespace {

// ---- helpers ------------------------------------------------------------------

// Little-endian record content, as a shapefile stores it.
class RecordBuilder {
 public:
  RecordBuilder& I32(std::int32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(std::byte((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF));
    return *this;
  }
  RecordBuilder& F64(double d) {
    const auto u = std::bit_cast<std::uint64_t>(d);
    for (int i = 0; i < 8; ++i) bytes_.push_back(std::byte((u >> (8 * i)) & 0xFF));
    return *this;
  }
  RecordBuilder& Bounds(double a, double b, double c, double d) { return F64(a).F64(b).F64(c).F64(d); }
  RecordBuilder& Point(double x, double y) { return F64(x).F64(y); }
  std::vector<std::byte>& Bytes() { return bytes_; }

 private:
  std::vector<std::byte> bytes_;
};

std::vector<TGIS_Coord> PartPoints(const TGIS_Shape& s, int part) {
  std::vector<TGIS_Coord> out;
  for (int i = 0; i < s.GetPartSize(part); ++i) out.push_back(s.GetPoint(part, i));
  return out;
}

MATCHER_P2(IsCoord, x, y, "") { return arg.X == x && arg.Y == y; }

bool SameBounds(const TGIS_Bounds& a, const TGIS_Bounds& b) { return BoundsEqual(a, b); }

// Two-part polyline record: (0,0)-(10,5) and (-3,2)-(4,4)-(7,-1).
std::vector<std::byte> TwoPartArcRecord() {
  RecordBuilder r;
  r.Bounds(-3, -1, 10, 5).I32(2).I32(5).I32(0).I32(2);
  r.Point(0, 0).Point(10, 5).Point(-3, 2).Point(4, 4).Point(7, -1);
  return r.Bytes();
}

// ---- building rules -------------------------------------------------------------

TEST(ShapeArc, FirstPointIsStoredTwiceUntilTheSecondArrives) {
  TGIS_ShapeArc arc;
  arc.AddPart();
  EXPECT_TRUE(arc.IsEmpty());
  arc.AddPoint({1, 2});
  EXPECT_FALSE(arc.IsEmpty());
  EXPECT_EQ(arc.GetNumPoints(), 2);
  EXPECT_THAT(PartPoints(arc, 0), testing::ElementsAre(IsCoord(1, 2), IsCoord(1, 2)));
  arc.AddPoint({3, 4});
  EXPECT_THAT(PartPoints(arc, 0), testing::ElementsAre(IsCoord(1, 2), IsCoord(3, 4)));
}

TEST(ShapeArc, RepeatedFirstPointCollapses) {
  TGIS_ShapeArc arc;
  arc.AddPart();
  for (const TGIS_Coord p : {TGIS_Coord{1, 1}, TGIS_Coord{1, 1}, TGIS_Coord{2, 3}}) arc.AddPoint(p);
  EXPECT_THAT(PartPoints(arc, 0), testing::ElementsAre(IsCoord(1, 1), IsCoord(2, 3)));
  // A second part follows the same rule and leaves the first alone.
  arc.AddPart();
  arc.AddPoint({5, 5});
  EXPECT_EQ(arc.GetNumParts(), 2);
  EXPECT_EQ(arc.GetPartSize(0), 2);
  EXPECT_EQ(arc.GetPartSize(1), 2);
  EXPECT_EQ(arc.GetNumPoints(), 4);
}

TEST(ShapeArc, AddPartAfterAnEmptyPartAddsNothing) {
  TGIS_ShapeArc arc;
  arc.AddPart();
  arc.AddPart();
  EXPECT_EQ(arc.GetNumParts(), 1);
  arc.AddPoint({0, 0});
  arc.AddPoint({1, 0});
  arc.AddPart();
  arc.AddPart();
  EXPECT_EQ(arc.GetNumParts(), 2);
  EXPECT_EQ(arc.GetPartSize(1), 0);
}

TEST(ShapeArc, MissingAddPartIsSupplied) {
  TGIS_ShapeArc arc;
  arc.AddPoint({1, 1});
  arc.AddPoint({2, 2});
  EXPECT_EQ(arc.GetNumParts(), 1);
  EXPECT_THAT(PartPoints(arc, 0), testing::ElementsAre(IsCoord(1, 1), IsCoord(2, 2)));
}

// Appending many points at once builds what adding them one by one builds,
// whatever the part held before, under every lock level, with and without
// a layer (its extent included), for every kind.
TEST(ShapeBuild, AddPointsMatchesAddingOneByOne) {
  using Points = std::vector<TGIS_Coord3D>;
  const Points runs[] = {
      {},
      {{1, 2, 3, 0}},
      {{1, 1, 0, 0}, {1, 1, 0, 0}},
      {{1, 1, 0, 0}, {1, 1, 0, 0}, {1, 1, 0, 0}, {2, 3, 0, 0}, {2, 3, 0, 0}},
      {{0, 0, 0, 0}, {5, -1, 0, 0}, {5, -1, 0, 0}, {-3, 8, 0, 0}, {0, 0, 0, 0}},
  };
  const TGIS_ShapeKind kinds[] = {TGIS_ShapeKind::Arc, TGIS_ShapeKind::Polygon,
                                  TGIS_ShapeKind::MultiPoint};
  auto blocks = [](const TGIS_Shape& s) {
    std::vector<std::byte> b(s.GeometryHeader().begin(), s.GeometryHeader().end());
    b.insert(b.end(), s.GeometryPoints().begin(), s.GeometryPoints().end());
    return b;
  };
  for (const TGIS_ShapeKind kind : kinds) {
    for (const int level : {0, 2}) {
      for (const bool withLayer : {false, true}) {
        for (const Points& before : runs) {
          for (const Points& added : runs) {
            for (const bool newPart : {false, true}) {
              SCOPED_TRACE(testing::Message() << "kind " << int(kind) << " level " << level
                                              << " layer " << withLayer << " before "
                                              << before.size() << " added " << added.size()
                                              << " new part " << newPart);
              TGIS_LayerVector oneLayer;
              TGIS_LayerVector bulkLayer;
              auto make = [&](TGIS_LayerVector& layer) -> std::unique_ptr<TGIS_Shape> {
                TGIS_LayerVector* owner = withLayer ? &layer : nullptr;
                if (kind == TGIS_ShapeKind::Arc) return std::make_unique<TGIS_ShapeArc>(nullptr, owner, 1);
                if (kind == TGIS_ShapeKind::Polygon)
                  return std::make_unique<TGIS_ShapePolygon>(nullptr, owner, 1);
                return std::make_unique<TGIS_ShapeMultipoint>(nullptr, owner, 1);
              };
              const std::unique_ptr<TGIS_Shape> oneShape = make(oneLayer);
              const std::unique_ptr<TGIS_Shape> bulkShape = make(bulkLayer);
              TGIS_Shape* const one = oneShape.get();
              TGIS_Shape* const bulk = bulkShape.get();
              for (TGIS_Shape* s : {one, bulk}) {
                s->Lock(level);
                s->AddPart();
                for (const TGIS_Coord3D& p : before) s->AddPoint3D(p);
                if (newPart) s->AddPart();
              }
              for (const TGIS_Coord3D& p : added) one->AddPoint3D(p);
              bulk->AddPoints3D(added);
              for (TGIS_Shape* s : {one, bulk}) s->Unlock();
              EXPECT_EQ(blocks(*bulk), blocks(*one));
              EXPECT_EQ(bulk->IsEmpty(), one->IsEmpty());
              EXPECT_TRUE(SameBounds(bulk->Extent(), one->Extent()));
              EXPECT_TRUE(SameBounds(bulkLayer.Extent(), oneLayer.Extent()));
            }
          }
        }
      }
    }
  }
}

TEST(ShapePolygon, RingsAreAlwaysClosed) {
  const TGIS_Coord a{0, 0}, b{4, 0}, c{4, 3};
  {
    TGIS_ShapePolygon p;
    p.AddPart();
    p.AddPoint(a);
    EXPECT_THAT(PartPoints(p, 0), testing::ElementsAre(IsCoord(0, 0), IsCoord(0, 0)));
    p.AddPoint(b);
    p.AddPoint(c);
    EXPECT_THAT(PartPoints(p, 0),
                testing::ElementsAre(IsCoord(0, 0), IsCoord(4, 0), IsCoord(4, 3), IsCoord(0, 0)));
    p.AddPoint(a);  // the explicit closing point is not doubled
    EXPECT_THAT(PartPoints(p, 0),
                testing::ElementsAre(IsCoord(0, 0), IsCoord(4, 0), IsCoord(4, 3), IsCoord(0, 0)));
  }
  {
    TGIS_ShapePolygon p;
    p.AddPart();
    for (const TGIS_Coord q : {a, b, c}) p.AddPointClosing(q);
    p.AddPointClosing(a);  // always closes again
    EXPECT_EQ(p.GetPartSize(0), 5);
    EXPECT_THAT(p.GetLastPoint(), IsCoord(0, 0));
  }
}

TEST(ShapeMultipoint, OnePartHoldsEveryPoint) {
  TGIS_ShapeMultipoint mp;
  EXPECT_EQ(mp.GetNumParts(), 0);
  mp.AddPart();
  mp.AddPoint({1, 2});
  mp.AddPart();  // no effect: one implicit part
  mp.AddPoint({-1, 5});
  mp.AddPoint({1, 2});
  EXPECT_EQ(mp.GetNumParts(), 1);
  EXPECT_EQ(mp.GetNumPoints(), 3);
  EXPECT_EQ(mp.GetPartSize(0), 3);
  EXPECT_EQ(mp.GeometryHeaderSize(), 36);
  EXPECT_EQ(mp.GeometryPointsSize(), 48);
  EXPECT_TRUE(SameBounds(mp.Extent(), {-1, 2, 1, 5}));
}

TEST(ShapePoint, SinglePointIsOverwritten) {
  TGIS_ShapePoint pt;
  EXPECT_TRUE(pt.IsEmpty());
  EXPECT_TRUE(SameBounds(pt.Extent(), NullBounds()));
  pt.AddPart();
  pt.AddPoint({3, 4});
  pt.AddPoint({5, 6});
  EXPECT_EQ(pt.GetNumPoints(), 1);
  EXPECT_EQ(pt.GetNumParts(), 1);
  EXPECT_THAT(pt.GetPoint(0, 0), IsCoord(5, 6));
  EXPECT_TRUE(SameBounds(pt.Extent(), {5, 6, 5, 6}));
  EXPECT_EQ(pt.GeometryHeaderSize(), 0);
  EXPECT_EQ(pt.GeometryPointsSize(), 16);
  const TGIS_Coord3D p3 = pt.GetPoint3D(0, 0);
  EXPECT_EQ(p3.Z, 0);
  EXPECT_EQ(p3.M, 0);
}

TEST(ShapeSizes, HeaderAndPointBlockSizes) {
  TGIS_ShapeArc arc;
  EXPECT_EQ(arc.GeometryHeaderSize(), 0);
  EXPECT_EQ(arc.GeometryPointsSize(), 0);
  for (int part = 0; part < 3; ++part) {
    arc.AddPart();
    arc.AddPoint({double(part), 0});
    arc.AddPoint({double(part), 1});
  }
  EXPECT_EQ(arc.GeometryHeaderSize(), 52);
  EXPECT_EQ(arc.GeometryPointsSize(), 6 * 16);
  EXPECT_EQ(arc.GeometryHeader().size(), 52u);
  EXPECT_EQ(arc.GeometryPoints().size(), 96u);
}

// The blocks are a shapefile record's content, byte for byte.
TEST(ShapeBlocks, LayoutMatchesTheShapefileRecord) {
  TGIS_ShapeArc arc;
  arc.AddPart();
  arc.AddPoint({0, 0});
  arc.AddPoint({10, 5});
  arc.AddPart();
  arc.AddPoint({-3, 2});
  arc.AddPoint({4, 4});
  arc.AddPoint({7, -1});
  std::vector<std::byte> blocks(arc.GeometryHeader().begin(), arc.GeometryHeader().end());
  blocks.insert(blocks.end(), arc.GeometryPoints().begin(), arc.GeometryPoints().end());
  EXPECT_EQ(blocks, TwoPartArcRecord());
  EXPECT_EQ(arc.ExportGeometryBlob(), TwoPartArcRecord());
}

TEST(ShapeBlocks, ManyPointsAppendInOrder) {
  TGIS_ShapeArc arc;
  arc.Lock(2);
  arc.AddPart();
  constexpr int kCount = 100000;
  for (int i = 0; i < kCount; ++i) arc.AddPoint({double(i), double(-i)});
  arc.Unlock();
  ASSERT_EQ(arc.GetNumPoints(), kCount);
  for (int i = 0; i < kCount; i += 997) {
    ASSERT_THAT(arc.GetPoint(0, i), IsCoord(double(i), double(-i)));
  }
  EXPECT_TRUE(SameBounds(arc.Extent(), {0, -(kCount - 1.0), kCount - 1.0, 0}));
}

// ---- bounds and lock levels ---------------------------------------------------------

TEST(ShapeLock, BoundsWaitForUnlock) {
  TGIS_ShapeArc arc;
  arc.Lock(2);
  arc.AddPart();
  arc.AddPoint({5, 7});
  arc.AddPoint({-2, 9});
  arc.AddPoint({3, 1});
  EXPECT_TRUE(SameBounds(arc.Extent(), {0, 0, 0, 0}));
  arc.Unlock();
  EXPECT_EQ(arc.LockLevel(), 0);
  EXPECT_TRUE(SameBounds(arc.Extent(), {-2, 1, 5, 9}));
}

// The bounds Unlock stores (read from the header block, as the writers do):
// a bound moves only to a coordinate strictly beyond it, so a NaN coordinate
// never moves one (a NaN first point keeps its NaN) and 0 stays ahead of -0.
TEST(ShapeLock, UnlockBoundsFollowStrictComparisons) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::vector<TGIS_Coord> points;
    double want[4];  // XMin, YMin, XMax, YMax; NaN for NaN
  };
  const Case cases[] = {
      {{{5, 7}, {-2, 9}, {3, 1}, {4, 4}}, {-2, 1, 5, 9}},
      {{{1, 1}, {nan, nan}, {0, 3}, {2, nan}}, {0, 1, 2, 3}},
      {{{nan, 0}, {1, 1}, {-1, -1}}, {nan, -1, nan, 1}},
      {{{0.0, -0.0}, {-0.0, 0.0}}, {0.0, -0.0, 0.0, -0.0}},
      {{{-1e300, 1e-300}, {1e300, -1e-300}, {3, 3}}, {-1e300, -1e-300, 1e300, 3}},
  };
  for (const Case& c : cases) {
    TGIS_ShapeArc arc;
    arc.Lock(2);
    arc.AddPart();
    for (const TGIS_Coord& p : c.points) arc.AddPoint(p);
    arc.Unlock();
    const std::span<const std::byte> h = arc.GeometryHeader();
    ASSERT_GE(h.size(), 32u);
    for (int k = 0; k < 4; ++k) {
      double got = 0;
      std::memcpy(&got, h.data() + 8 * k, 8);
      SCOPED_TRACE(testing::Message() << "bound " << k << " of " << c.points.size() << " points");
      if (std::isnan(c.want[k])) {
        EXPECT_TRUE(std::isnan(got));
      } else {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(c.want[k]))
            << got << " != " << c.want[k];
      }
    }
  }
}

TEST(ShapeLock, LevelZeroMaintainsBoundsPerPoint) {
  TGIS_ShapePolygon p;
  p.AddPart();
  p.AddPoint({5, 7});
  EXPECT_TRUE(SameBounds(p.Extent(), {5, 7, 5, 7}));
  p.AddPoint({-2, 9});
  p.AddPoint({3, 1});
  EXPECT_TRUE(SameBounds(p.Extent(), {-2, 1, 5, 9}));
}

TEST(ShapeLock, LevelFourIsPermanent) {
  TGIS_ShapeArc arc;
  arc.Lock(4);
  arc.Lock(1);
  EXPECT_EQ(arc.LockLevel(), 4);
  arc.Unlock();
  EXPECT_EQ(arc.LockLevel(), 4);
}

TEST(ShapeExtent, NaNXMinGivesTheNullExtent) {
  RecordBuilder r;
  r.Bounds(std::numeric_limits<double>::quiet_NaN(), 0, 1, 1).I32(1).I32(2).I32(0);
  r.Point(0, 0).Point(1, 1);
  TGIS_ShapeArc arc(nullptr, nullptr, 0, true, r.Bytes());
  EXPECT_FALSE(arc.IsEmpty());
  EXPECT_TRUE(SameBounds(arc.Extent(), NullBounds()));
}

// ---- borrowed and owned geometry ------------------------------------------------------

TEST(ShapeBorrowed, ReadsTheRecordInPlace) {
  std::vector<std::byte> record = TwoPartArcRecord();
  TGIS_ShapeArc arc(nullptr, nullptr, 7, true, record);
  EXPECT_TRUE(arc.Borrowed());
  EXPECT_EQ(arc.Uid(), 7);
  EXPECT_EQ(arc.GeometryHeader().data(), record.data());
  EXPECT_EQ(arc.GetNumParts(), 2);
  EXPECT_EQ(arc.GetPartSize(1), 3);
  EXPECT_THAT(arc.GetPoint(1, 2), IsCoord(7, -1));
  EXPECT_TRUE(SameBounds(arc.Extent(), {-3, -1, 10, 5}));
}

TEST(ShapeBorrowed, CopyOwnsItsGeometryAndLeavesTheRecordAlone) {
  std::vector<std::byte> record = TwoPartArcRecord();
  const std::vector<std::byte> original = record;
  TGIS_ShapeArc arc(nullptr, nullptr, 3, true, record);
  std::unique_ptr<TGIS_Shape> copy = arc.CreateCopy();
  EXPECT_FALSE(copy->Borrowed());
  EXPECT_EQ(copy->Uid(), 3);
  EXPECT_NE(copy->GeometryHeader().data(), record.data());
  copy->AddPoint({100, 100});
  copy->AddPart();
  copy->AddPoint({-50, 0});
  EXPECT_EQ(record, original);
  EXPECT_EQ(copy->GetNumParts(), 3);
  EXPECT_EQ(arc.GetNumParts(), 2);
  // Modifying the borrowing shape itself copies first as well.
  arc.AddPoint({1, 1});
  EXPECT_FALSE(arc.Borrowed());
  EXPECT_EQ(record, original);
  EXPECT_EQ(arc.GetPartSize(1), 4);
}

TEST(ShapeBorrowed, ConstructedFromABorrowingSourceSharesTheRecord) {
  std::vector<std::byte> record = TwoPartArcRecord();
  TGIS_ShapeArc arc(nullptr, nullptr, 1, true, record);
  TGIS_ShapeArc shared(&arc);
  EXPECT_TRUE(shared.Borrowed());
  EXPECT_EQ(shared.GeometryHeader().data(), record.data());
}

TEST(ShapeOwned, CopiesNeverShareBlocks) {
  TGIS_ShapePolygon p;
  p.AddPart();
  p.AddPoint({0, 0});
  p.AddPoint({1, 0});
  p.AddPoint({1, 1});
  TGIS_ShapePolygon built(&p);
  EXPECT_NE(built.GeometryPoints().data(), p.GeometryPoints().data());
  std::unique_ptr<TGIS_Shape> copy = p.CreateCopy();
  p.Reset();
  EXPECT_TRUE(p.IsEmpty());
  EXPECT_EQ(copy->GetNumPoints(), 4);
  EXPECT_EQ(built.GetNumPoints(), 4);
  // A shape with a part but no point yet is copied too, not shared.
  TGIS_ShapeArc empty;
  empty.AddPart();
  TGIS_ShapeArc fromEmpty(&empty);
  fromEmpty.AddPoint({1, 1});
  EXPECT_EQ(empty.GetNumPoints(), 0);
}

TEST(ShapeReinit, ReusableShapeFollowsEachRecord) {
  std::vector<std::byte> first = TwoPartArcRecord();
  RecordBuilder second;
  second.Bounds(1, 1, 2, 2).I32(1).I32(2).I32(0).Point(1, 1).Point(2, 2);
  TGIS_ShapeArc reader(nullptr, nullptr, 1, true, first);
  reader.Reinit(nullptr, second.Bytes(), nullptr, 2, true);
  EXPECT_EQ(reader.Uid(), 2);
  EXPECT_EQ(reader.GetNumParts(), 1);
  EXPECT_THAT(reader.GetLastPoint(), IsCoord(2, 2));
  // Without borrowing, the record is copied at once.
  reader.Reinit(nullptr, first, nullptr, 3, false);
  EXPECT_FALSE(reader.Borrowed());
  EXPECT_NE(reader.GeometryHeader().data(), first.data());
  EXPECT_EQ(reader.ExportGeometryBlob(), first);
}

TEST(ShapeReset, BorrowedGeometryIsNotTouched) {
  std::vector<std::byte> record = TwoPartArcRecord();
  TGIS_ShapeArc arc(nullptr, nullptr, 1, true, record);
  arc.Reset();
  EXPECT_FALSE(arc.IsEmpty());
  EXPECT_EQ(arc.GetNumPoints(), 5);
}

// Counts that do not fit the record never lead to reads past its end.
TEST(ShapeBorrowed, MalformedRecordsAreRejected) {
  struct Case {
    const char* what;
    TGIS_ShapeKind kind;
    std::vector<std::byte> bytes;
  };
  std::vector<Case> cases;
  {
    RecordBuilder r;
    r.Bounds(0, 0, 1, 1).I32(1).I32(3).I32(0).Point(0, 0).Point(1, 1);  // 3 points, 2 present
    cases.push_back({"points past the end", TGIS_ShapeKind::Arc, r.Bytes()});
  }
  {
    RecordBuilder r;
    r.Bounds(0, 0, 1, 1).I32(0x7FFFFFFF).I32(1).Point(0, 0);
    cases.push_back({"huge part count", TGIS_ShapeKind::Polygon, r.Bytes()});
  }
  {
    RecordBuilder r;
    r.Bounds(0, 0, 1, 1).I32(1).I32(-4).I32(0);
    cases.push_back({"negative point count", TGIS_ShapeKind::Arc, r.Bytes()});
  }
  {
    RecordBuilder r;
    r.Bounds(0, 0, 1, 1).I32(2).I32(2).I32(0).I32(5).Point(0, 0).Point(1, 1);
    cases.push_back({"part beyond the points", TGIS_ShapeKind::Arc, r.Bytes()});
  }
  {
    RecordBuilder r;
    r.Bounds(0, 0, 1, 1).I32(2).I32(2).I32(1).I32(0).Point(0, 0).Point(1, 1);
    cases.push_back({"parts descending", TGIS_ShapeKind::Arc, r.Bytes()});
  }
  {
    RecordBuilder r;
    r.Bounds(0, 0, 1, 1).I32(1).I32(2).I32(1).Point(0, 0).Point(1, 1);
    cases.push_back({"first part not at point 0", TGIS_ShapeKind::Polygon, r.Bytes()});
  }
  {
    RecordBuilder r;
    r.Bounds(0, 0, 1, 1).I32(9).Point(0, 0);
    cases.push_back({"multipoint count", TGIS_ShapeKind::MultiPoint, r.Bytes()});
  }
  {
    RecordBuilder r;
    r.F64(1);
    cases.push_back({"short point", TGIS_ShapeKind::Point, r.Bytes()});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<TGIS_Shape> s;
    switch (c.kind) {
      case TGIS_ShapeKind::Point: s = std::make_unique<TGIS_ShapePoint>(); break;
      case TGIS_ShapeKind::MultiPoint: s = std::make_unique<TGIS_ShapeMultipoint>(); break;
      case TGIS_ShapeKind::Arc: s = std::make_unique<TGIS_ShapeArc>(); break;
      default: s = std::make_unique<TGIS_ShapePolygon>(); break;
    }
    EXPECT_THROW(s->Reinit(nullptr, c.bytes, nullptr, 1, true), EGIS_Exception);
    EXPECT_THROW(s->ImportGeometryBlob(c.bytes), EGIS_Exception);
  }
}

// Random records: each one is either rejected or read whole within its bytes
// (run under the sanitizers, a read past the end fails the test).
TEST(ShapeBorrowed, RandomRecordsNeverReadPastTheirEnd) {
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 2000; ++round) {
    RecordBuilder r;
    r.Bounds(0, 0, 1, 1);
    const int parts = static_cast<int>(next() % 5);
    const int points = static_cast<int>(next() % 7) - 1;
    r.I32(parts).I32(points);
    for (int i = 0; i < parts; ++i) r.I32(static_cast<int>(next() % 8) - 1);
    const int present = static_cast<int>(next() % 8);
    for (int i = 0; i < present; ++i) r.Point(i, -i);
    // Exact-size copy, so that any overrun leaves the allocation.
    const std::vector<std::byte> record(r.Bytes());
    TGIS_ShapePolygon shape;
    try {
      shape.Reinit(nullptr, record, nullptr, 1, true);
    } catch (const EGIS_Exception&) {
      continue;
    }
    double sum = 0;
    for (int part = 0; part < shape.GetNumParts(); ++part) {
      for (int i = 0; i < shape.GetPartSize(part); ++i) sum += shape.GetPoint(part, i).X;
    }
    EXPECT_GE(sum, 0);
    EXPECT_LE(shape.GeometryHeaderSize() + shape.GeometryPointsSize(), int(record.size()));
  }
}

// ---- geometry blob ------------------------------------------------------------------

TEST(ShapeBlob, RoundTripsEveryKind) {
  TGIS_ShapePoint pt;
  pt.AddPart();
  pt.AddPoint({1.5, -2.5});
  TGIS_ShapeMultipoint mp;
  mp.AddPart();
  mp.AddPoint({1, 1});
  mp.AddPoint({2, 3});
  TGIS_ShapePolygon pg;
  pg.AddPart();
  for (const TGIS_Coord p : {TGIS_Coord{0, 0}, TGIS_Coord{2, 0}, TGIS_Coord{2, 2}}) pg.AddPoint(p);

  EXPECT_EQ(pt.ExportGeometryBlob().size(), 16u);
  TGIS_ShapePoint pt2;
  pt2.ImportGeometryBlob(pt.ExportGeometryBlob());
  EXPECT_THAT(pt2.GetPoint(0, 0), IsCoord(1.5, -2.5));

  TGIS_ShapeMultipoint mp2;
  mp2.ImportGeometryBlob(mp.ExportGeometryBlob());
  EXPECT_EQ(mp2.ExportGeometryBlob(), mp.ExportGeometryBlob());
  EXPECT_EQ(mp2.GetNumPoints(), 2);

  TGIS_ShapePolygon pg2;
  pg2.ImportGeometryBlob(pg.ExportGeometryBlob());
  EXPECT_EQ(pg2.ExportGeometryBlob(), pg.ExportGeometryBlob());
  pg2.AddPoint({0, 2});  // the imported copy is owned and can grow
  EXPECT_EQ(pg2.GetPartSize(0), 5);

  TGIS_ShapeArc empty;
  EXPECT_TRUE(empty.ExportGeometryBlob().empty());
  pg2.ImportGeometryBlob({});
  EXPECT_TRUE(pg2.IsEmpty());
}

// ---- polar points ---------------------------------------------------------------------

TEST(ShapePolar, AngleFromNorthTowardsEast) {
  TGIS_ShapeArc arc;
  EXPECT_FALSE(arc.AddPointPolar(true, 1, 0));
  TGIS_ShapeArc line;
  line.AddPart();
  line.AddPoint({0, 0});
  ASSERT_TRUE(line.AddPointPolar(true, 2, 0));
  TGIS_Coord p = line.GetLastPoint();
  EXPECT_NEAR(p.X, 0, 1e-12);
  EXPECT_NEAR(p.Y, 2, 1e-12);
  ASSERT_TRUE(line.AddPointPolar(true, 1, std::numbers::pi / 2));
  p = line.GetLastPoint();
  EXPECT_NEAR(p.X, 1, 1e-12);
  EXPECT_NEAR(p.Y, 2, 1e-12);
  // Relative: angle 0 continues along the last segment (heading east).
  ASSERT_TRUE(line.AddPointPolar(false, 3, 0));
  p = line.GetLastPoint();
  EXPECT_NEAR(p.X, 4, 1e-12);
  EXPECT_NEAR(p.Y, 2, 1e-12);
  TGIS_ShapeArc none;
  EXPECT_FALSE(none.AddPointPolar(false, 1, 0));
}

// ---- with a layer -------------------------------------------------------------------------

TEST(ShapeLayer, UnlockGrowsTheLayerExtentOnce) {
  TGIS_LayerVector layer;
  TGIS_ShapeArc arc(nullptr, &layer, 1);
  arc.Lock(2);
  arc.AddPart();
  arc.AddPoint({1, 2});
  arc.AddPoint({3, 4});
  EXPECT_TRUE(IsNullBounds(layer.Extent()));
  EXPECT_TRUE(layer.Modified());
  arc.Unlock();
  EXPECT_TRUE(SameBounds(layer.Extent(), {1, 2, 3, 4}));
}

// A line lying exactly at the origin has bounds equal to the (0,0,0,0)
// placeholder; its first Unlock must still enter it into the layer extent.
TEST(ShapeLayer, LineAtTheOriginStillGrowsTheExtent) {
  TGIS_LayerVector layer;
  TGIS_ShapeArc arc(nullptr, &layer, 1);
  arc.Lock(2);
  arc.AddPart();
  arc.AddPoint({0, 0});
  arc.AddPoint({0, 0});
  arc.Unlock();
  EXPECT_TRUE(SameBounds(layer.Extent(), {0, 0, 0, 0}));
}

TEST(ShapeLayer, LevelThreeLeavesLayerUntouched) {
  TGIS_LayerVector layer;
  TGIS_ShapePolygon p(nullptr, &layer, 1);
  p.Lock(3);
  p.AddPart();
  p.AddPoint({0, 0});
  p.AddPoint({5, 0});
  p.AddPoint({5, 5});
  p.Unlock();
  EXPECT_FALSE(layer.Modified());
  EXPECT_TRUE(IsNullBounds(layer.Extent()));
  EXPECT_TRUE(SameBounds(p.Extent(), {0, 0, 5, 5}));
}

TEST(ShapeLayer, LevelZeroGrowsTheExtentPerPoint) {
  TGIS_LayerVector layer;
  TGIS_ShapePoint pt(nullptr, &layer, 1);
  pt.AddPart();
  pt.AddPoint({7, 8});
  EXPECT_TRUE(SameBounds(layer.Extent(), {7, 8, 7, 8}));
  TGIS_ShapeMultipoint mp(nullptr, &layer, 2);
  mp.AddPart();
  mp.AddPoint({-1, 0});
  EXPECT_TRUE(SameBounds(layer.Extent(), {-1, 0, 7, 8}));
}

TEST(ShapeLayer, CopiesAndClipsKeepFlagsAndAttributes) {
  TGIS_LayerVector layer;
  layer.AddField("NAME", TGIS_FieldKind::String, 10, 0);
  TGIS_ShapeArc arc(nullptr, &layer, 5);
  arc.AddPart();
  arc.AddPoint({0, 0});
  arc.AddPoint({20, 0});
  arc.SetField("NAME", TGIS_Variant("road"));
  arc.SetHidden(true);
  arc.SetSelected(true);
  std::unique_ptr<TGIS_Shape> copy = arc.CreateCopy();
  EXPECT_EQ(copy->Layer(), &layer);
  EXPECT_EQ(copy->Uid(), 5);
  EXPECT_TRUE(copy->Hidden());
  EXPECT_TRUE(copy->Selected());
  EXPECT_EQ(copy->GetField("NAME"), TGIS_Variant("road"));
  arc.SetField("NAME", TGIS_Variant("lane"));  // the copy's values are its own
  EXPECT_EQ(copy->GetField("NAME"), TGIS_Variant("road"));
  // A clipped piece is a new shape, but the same feature: its values stay.
  std::unique_ptr<TGIS_Shape> piece = arc.ClipToExtent({5, -1, 10, 1});
  ASSERT_NE(piece, nullptr);
  EXPECT_EQ(piece->Uid(), 5);
  EXPECT_EQ(piece->GetField("NAME"), TGIS_Variant("lane"));
  EXPECT_DOUBLE_EQ(piece->Length(), 5);
}

TEST(ShapeLayer, ClippingDoesNotModifyTheSourceLayer) {
  TGIS_LayerVector layer;
  TGIS_ShapePolygon p(nullptr, &layer, 1);
  p.Lock(3);
  p.AddPart();
  for (const TGIS_Coord c : {TGIS_Coord{0, 0}, TGIS_Coord{10, 0}, TGIS_Coord{10, 10}}) p.AddPoint(c);
  p.Unlock();
  ASSERT_FALSE(layer.Modified());
  EXPECT_NE(p.ClipToExtent({0, 0, 5, 5}), nullptr);
  EXPECT_FALSE(layer.Modified());
}

TEST(ShapeLayer, DeleteMarksTheShapeAndTheLayer) {
  TGIS_LayerVector layer;
  TGIS_ShapePoint pt(nullptr, &layer, 1);
  pt.Delete();
  EXPECT_TRUE(pt.Deleted());
  EXPECT_TRUE(layer.Modified());
}

}  // namespace
}  // namespace cadport
