// Damaged shapefile sets: every truncation of each of the three files, and a
// table of single-field corruptions of counts, lengths, offsets and types.
// Opening, scanning, reading every field and reading by uid must give a
// valid prefix or EGIS_Exception: never a crash, never another error.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "fuzz/layer_walk.h"
#include "kernel/base/exception.h"
#include "kernel/shapefile/layer_shp.h"
#include "kernel/shapefile/mapped_stream.h"
#include "tests/hardening/hardening_util.h"

namespace cadport {
namespace {

using hardening::Bytes;
using hardening::DataPath;
using hardening::ReadFile;
using hardening::Scratch;
using hardening::WriteFile;

struct Set {
  Bytes Shp, Shx, Dbf;
  Bytes& Of(const std::string& ext) { return ext == "shp" ? Shp : ext == "shx" ? Shx : Dbf; }
  const Bytes& Of(const std::string& ext) const {
    return ext == "shp" ? Shp : ext == "shx" ? Shx : Dbf;
  }
};

Set LoadSet(const std::string& base) {
  return {ReadFile(DataPath(base + ".shp")), ReadFile(DataPath(base + ".shx")),
          ReadFile(DataPath(base + ".dbf"))};
}

// Writes the set as dir/set.* and reads it all back: the number of shapes
// scanned, or nullopt when reading fails with EGIS_Exception.  An empty file
// may also fail to map.
std::optional<size_t> ReadSet(const Scratch& dir, const Set& set, bool empty = false) {
  WriteFile(dir.File("set.shp"), set.Shp);
  WriteFile(dir.File("set.shx"), set.Shx);
  WriteFile(dir.File("set.dbf"), set.Dbf);
  fuzz::Sink sink;
  try {
    auto layer = std::make_unique<TGIS_LayerSHP>();
    layer->SetPath(dir.File("set.shp"));
    layer->Open();
    const std::vector<int32_t> uids = fuzz::WalkLayer(*layer, sink);
    for (const int32_t uid : uids) {
      if (TGIS_Shape* shape = layer->ShapeByUid(uid)) sink.Add(uint64_t(shape->GetNumParts()));
    }
    layer->ShapeByUid(layer->LastUid() + 1);
    return uids.size();
  } catch (const EGIS_Exception&) {
    return std::nullopt;
  } catch (const EFOpenError&) {
    if (!empty) throw;
    return std::nullopt;
  }
}

class DamagedSet : public testing::TestWithParam<const char*> {};

TEST_P(DamagedSet, EveryTruncationIsAPrefixOrAnError) {
  Scratch dir;
  const Set whole = LoadSet(std::string("shapefile/") + GetParam());
  const std::optional<size_t> full = ReadSet(dir, whole);
  ASSERT_TRUE(full.has_value());
  ASSERT_GT(*full, 0u);
  for (const std::string ext : {"shp", "shx", "dbf"}) {
    Set set = whole;
    const size_t size = set.Of(ext).size();
    for (size_t n = 0; n < size; ++n) {
      set.Of(ext).assign(whole.Of(ext).begin(), whole.Of(ext).begin() + std::ptrdiff_t(n));
      std::optional<size_t> count;
      ASSERT_NO_THROW(count = ReadSet(dir, set, n == 0)) << ext << " cut at " << n;
      if (count) {
        EXPECT_LE(*count, *full) << ext << " cut at " << n;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sets, DamagedSet,
                         testing::Values("pyshp_lines", "gdal_polygons", "gdal_pointsz",
                                         "pyshp_multipoint", "gdal_linesm"));

enum class Width { BE32, LE32, LE16, Byte, LEDouble };

struct FieldCorruption {
  const char* Name;
  const char* File;  // "shp", "shx" or "dbf"
  size_t Offset;
  Width Kind;
  double Value;
};

// Offsets in pyshp_lines: the first record of .shp starts at 100 (number,
// content length, then the polyline: type 108, box 112, parts 144, points
// 148, part starts 152); .shx records start at 100; the .dbf has six
// 32-byte descriptors from 32, its end mark at 224 and records from 225.
const FieldCorruption kSetCorruptions[] = {
    {"shp file code", "shp", 0, Width::BE32, 1234},
    {"shp file length huge", "shp", 24, Width::BE32, 0x7FFFFFFF},
    {"shp file length negative", "shp", 24, Width::BE32, -1},
    {"shp file length zero", "shp", 24, Width::BE32, 0},
    {"shp version", "shp", 28, Width::LE32, 7},
    {"shp shape type unknown", "shp", 32, Width::LE32, 99},
    {"shp shape type multipatch", "shp", 32, Width::LE32, 31},
    {"shp shape type negative", "shp", 32, Width::LE32, -1},
    {"shp extent nan", "shp", 36, Width::LEDouble, 0.0 / 0.0},
    {"record number zero", "shp", 100, Width::BE32, 0},
    {"record number huge", "shp", 100, Width::BE32, 0x7FFFFFFF},
    {"record content length huge", "shp", 104, Width::BE32, 0x7FFFFFFF},
    {"record content length negative", "shp", 104, Width::BE32, -2},
    {"record content length zero", "shp", 104, Width::BE32, 0},
    {"record content length one word", "shp", 104, Width::BE32, 1},
    {"record shape type of another kind", "shp", 108, Width::LE32, 1},
    {"record shape type null", "shp", 108, Width::LE32, 0},
    {"record shape type unknown", "shp", 108, Width::LE32, 1000},
    {"record box nan", "shp", 112, Width::LEDouble, 0.0 / 0.0},
    {"part count huge", "shp", 144, Width::LE32, 0x7FFFFFFF},
    {"part count negative", "shp", 144, Width::LE32, -1},
    {"part count zero", "shp", 144, Width::LE32, 0},
    {"point count huge", "shp", 148, Width::LE32, 0x7FFFFFFF},
    {"point count negative", "shp", 148, Width::LE32, -5},
    {"point count zero", "shp", 148, Width::LE32, 0},
    {"part start huge", "shp", 152, Width::LE32, 0x7FFFFFFF},
    {"part start negative", "shp", 152, Width::LE32, -1},
    {"part start past the points", "shp", 152, Width::LE32, 3},
    {"shx file length huge", "shx", 24, Width::BE32, 0x7FFFFFFF},
    {"shx file length small", "shx", 24, Width::BE32, 10},
    {"shx file length odd", "shx", 24, Width::BE32, 55},
    {"index offset huge", "shx", 100, Width::BE32, 0x7FFFFFFF},
    {"index offset negative", "shx", 100, Width::BE32, -1},
    {"index offset inside the header", "shx", 100, Width::BE32, 10},
    {"index offset odd into a record", "shx", 100, Width::BE32, 53},
    {"index content length huge", "shx", 104, Width::BE32, 0x7FFFFFFF},
    {"index content length negative", "shx", 104, Width::BE32, -1},
    {"second index offset repeats the first", "shx", 108, Width::BE32, 50},
    {"dbf record count huge", "dbf", 4, Width::LE32, 0x7FFFFFFF},
    {"dbf record count negative", "dbf", 4, Width::LE32, -1},
    {"dbf header length zero", "dbf", 8, Width::LE16, 0},
    {"dbf header length huge", "dbf", 8, Width::LE16, 0xFFFF},
    {"dbf header length inside the descriptors", "dbf", 8, Width::LE16, 40},
    {"dbf record length zero", "dbf", 10, Width::LE16, 0},
    {"dbf record length huge", "dbf", 10, Width::LE16, 0xFFFF},
    {"dbf record length one", "dbf", 10, Width::LE16, 1},
    {"field type unknown", "dbf", 32 + 11, Width::Byte, 'X'},
    {"field type date", "dbf", 32 + 11, Width::Byte, 'D'},
    {"field type logical", "dbf", 32 + 11, Width::Byte, 'L'},
    {"field type float", "dbf", 64 + 11, Width::Byte, 'F'},
    {"field width zero", "dbf", 32 + 16, Width::Byte, 0},
    {"field width 255", "dbf", 32 + 16, Width::Byte, 255},
    {"field decimals 255", "dbf", 64 + 17, Width::Byte, 255},
    {"field decimals above width", "dbf", 64 + 17, Width::Byte, 15},
    {"field name without end", "dbf", 32 + 4, Width::LE32, 0x41414141},
    {"field name empty", "dbf", 32, Width::Byte, 0},
    {"descriptor end mark missing", "dbf", 224, Width::Byte, ' '},
    {"deletion flag odd", "dbf", 225, Width::Byte, 0xFF},
};

void Store(Bytes& bytes, size_t offset, Width kind, double value) {
  const auto word = uint32_t(int64_t(value));
  switch (kind) {
    case Width::BE32:
      for (int i = 0; i < 4; ++i) bytes.at(offset + size_t(i)) = uint8_t(word >> (24 - 8 * i));
      break;
    case Width::LE32:
      for (int i = 0; i < 4; ++i) bytes.at(offset + size_t(i)) = uint8_t(word >> (8 * i));
      break;
    case Width::LE16:
      for (int i = 0; i < 2; ++i) bytes.at(offset + size_t(i)) = uint8_t(word >> (8 * i));
      break;
    case Width::Byte:
      bytes.at(offset) = uint8_t(word);
      break;
    case Width::LEDouble: {
      uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      for (int i = 0; i < 8; ++i) bytes.at(offset + size_t(i)) = uint8_t(bits >> (8 * i));
      break;
    }
  }
}

TEST(DamagedSet, SingleFieldCorruptions) {
  Scratch dir;
  const Set whole = LoadSet("shapefile/pyshp_lines");
  // The offsets above assume this layout.
  ASSERT_EQ(whole.Dbf.at(224), 0x0D);
  ASSERT_EQ(whole.Shp.at(111), 0);
  const size_t indexRecords = (whole.Shx.size() - 100) / 8;
  for (const FieldCorruption& c : kSetCorruptions) {
    SCOPED_TRACE(c.Name);
    Set set = whole;
    Store(set.Of(c.File), c.Offset, c.Kind, c.Value);
    std::optional<size_t> count;
    ASSERT_NO_THROW(count = ReadSet(dir, set));
    if (count) {
      EXPECT_LE(*count, indexRecords);
    }
  }
}

}  // namespace
}  // namespace cadport
