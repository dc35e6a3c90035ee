// Damaged drawings: every truncation of small drawings in the three forms, a
// byte sweep over the binary forms, and a table of single-field corruptions.
// Each must load as a valid prefix or fail with EGIS_Exception: never crash,
// never hang, never raise anything else.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "fuzz/layer_walk.h"
#include "kernel/base/exception.h"
#include "kernel/dxf/layer_dxf.h"
#include "kernel/shapefile/mapped_stream.h"
#include "tests/hardening/hardening_util.h"

namespace cadport {
namespace {

using hardening::Bytes;
using hardening::DataPath;
using hardening::ReadFile;
using hardening::Scratch;
using hardening::WriteFile;

// The number of shapes the drawing at path loads, or nullopt when the load
// fails with EGIS_Exception.  An empty file may also fail to map.
std::optional<size_t> LoadDrawing(const std::string& path, bool empty = false) {
  fuzz::Sink sink;
  try {
    auto layer = std::make_unique<TGIS_LayerDXF>();
    layer->SetPath(path);
    layer->Open();
    return fuzz::WalkLayer(*layer, sink).size();
  } catch (const EGIS_Exception&) {
    return std::nullopt;
  } catch (const EFOpenError&) {
    if (!empty) throw;
    return std::nullopt;
  }
}

class DamagedDrawing : public testing::TestWithParam<const char*> {};

TEST_P(DamagedDrawing, EveryTruncationIsAPrefixOrAnError) {
  Scratch dir;
  const Bytes whole = ReadFile(DataPath(GetParam()));
  ASSERT_GT(whole.size(), 100u);
  const std::string path = dir.File("cut.dxf");
  WriteFile(path, whole);
  const std::optional<size_t> full = LoadDrawing(path);
  ASSERT_TRUE(full.has_value());
  ASSERT_GT(*full, 0u);
  size_t failures = 0;
  for (size_t n = 0; n < whole.size(); ++n) {
    WriteFile(path, whole.data(), n);
    std::optional<size_t> count;
    ASSERT_NO_THROW(count = LoadDrawing(path, n == 0)) << "cut at " << n;
    if (count) {
      EXPECT_LE(*count, *full) << "cut at " << n;
    } else {
      ++failures;
    }
  }
  // Cutting inside a group must be noticed somewhere.
  EXPECT_GT(failures, 0u);
}

// Binary forms: there one byte is a code, a length or a number.
class DamagedBinaryDrawing : public testing::TestWithParam<const char*> {};

TEST_P(DamagedBinaryDrawing, EveryByteOverwrittenLoadsOrFails) {
  const Bytes whole = ReadFile(DataPath(GetParam()));
  ASSERT_GT(whole.size(), 22u);
  Scratch dir;
  const std::string path = dir.File("byte.dxf");
  for (size_t at = 22; at < whole.size(); ++at) {
    for (const uint8_t value : {uint8_t(0xFF), uint8_t(0x80), uint8_t(0x00)}) {
      Bytes damaged = whole;
      if (damaged[at] == value) continue;
      damaged[at] = value;
      WriteFile(path, damaged);
      ASSERT_NO_THROW(LoadDrawing(path)) << "byte " << at << " = " << int(value);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, DamagedDrawing,
                         testing::Values("hardening/small.dxf", "hardening/small_bin.dxf",
                                         "hardening/small_bin12.dxf",
                                         "dxf/blocks/nested_bulges.dxf",
                                         "dxf/polylines/polyface_two_faces.dxf",
                                         "dxf/polylines/polygon_mesh_3x4.dxf"));
INSTANTIATE_TEST_SUITE_P(Forms, DamagedBinaryDrawing,
                         testing::Values("hardening/small_bin.dxf", "hardening/small_bin12.dxf"));

// The text fixture with LF line ends, so corruptions can name groups as
// " 90\n3".
std::string SmallText() {
  const Bytes bytes = ReadFile(DataPath("hardening/small.dxf"));
  std::string text;
  for (const uint8_t b : bytes) {
    if (b != '\r') text += char(b);
  }
  return text;
}

struct Corruption {
  const char* Name;
  const char* Find;     // a unique piece of the fixture
  const char* Replace;  // what it becomes
  bool MustFail;        // the damage must be reported
};

const Corruption kDxfCorruptions[] = {
    {"lwpolyline count huge", " 90\n3\n", " 90\n2147483647\n", false},
    {"lwpolyline count negative", " 90\n3\n", " 90\n-7\n", false},
    {"lwpolyline count beyond 32 bits", " 90\n3\n", " 90\n99999999999\n", false},
    {"hatch path count huge", " 91\n1\n", " 91\n2000000000\n", false},
    {"hatch edge count huge", " 93\n3\n", " 93\n1000000000\n", false},
    {"hatch edge type unknown", " 72\n1\n 73", " 72\n77\n 73", false},
    {"hatch boundary kind negative", " 92\n2\n", " 92\n-2147483648\n", false},
    {"hatch without its closing groups", " 97\n0\n 75\n0\n 76\n1\n 98\n0\n", "", false},
    {"polyline as a huge mesh", " 66\n1\n 70\n8\n", " 66\n1\n 70\n16\n 71\n32767\n 72\n32767\n",
     false},
    {"polyline as a polyface of huge counts",
     " 66\n1\n 70\n8\n", " 66\n1\n 70\n64\n 71\n2000000000\n 72\n2000000000\n", false},
    {"polyface vertex of huge face indexes", " 70\n32\n  0\nSEQEND",
     " 70\n128\n 71\n32767\n 72\n-32767\n 73\n0\n 74\n99999\n  0\nSEQEND", false},
    {"vertex without polyline", "  0\nPOLYLINE\n", "  0\nWHATEVER\n", false},
    {"seqend missing", "  0\nSEQEND\n  8\n0\n", "", false},
    {"insert of a grid of 32767 by 32767", " 50\n45.0\n",
     " 50\n45.0\n 70\n32767\n 71\n32767\n 44\n1.0\n 45\n1.0\n", false},
    {"insert of huge scale", " 41\n2.0\n", " 41\n1e308\n", false},
    {"insert of nan rotation", " 50\n45.0\n", " 50\nnan\n", false},
    {"insert of an unknown block", "  2\nTREE\n 10\n20.0", "  2\nBUSH\n 10\n20.0", false},
    {"block inserting itself", "  0\nENDBLK",
     "  0\nINSERT\n  8\n0\n  2\nTREE\n 10\n1.0\n 20\n1.0\n  0\nENDBLK", false},
    {"block without end", "  0\nENDBLK\n  8\n0\n", "", false},
    {"circle radius nan", " 40\n0.5\n", " 40\nnan\n", false},
    {"circle radius huge", " 40\n0.5\n", " 40\n1e300\n", false},
    {"circle radius negative", " 40\n0.5\n", " 40\n-3\n", false},
    {"arc of infinite angle", " 51\n90.0\n", " 51\ninf\n", false},
    {"bulge huge", " 42\n0.5\n", " 42\n1e300\n", false},
    {"bulge nan", " 42\n0.5\n", " 42\nnan\n", false},
    {"coordinate not a number", " 10\n5.0\n", " 10\nfive\n", false},
    {"coordinate empty", " 10\n5.0\n", " 10\n\n", false},
    {"group code not a number", "  0\nLINE\n  5\nA2", "zz\nLINE\n  5\nA2", true},
    {"group code beyond 32 bits", "  0\nLINE\n  5\nA2", "4294967296\nLINE\n  5\nA2", true},
    {"group code negative", "  0\nARC", " -5\nARC", false},
    {"text height nan", " 40\n2.5\n", " 40\nnan\n", false},
    {"text of 64 KiB", "Survey mark", nullptr, false},
    {"header extent huge", " 10\n100.0\n", " 10\n1e308\n", false},
    {"layer table count huge", " 70\n2\n", " 70\n2147483647\n", false},
    {"entities section never ends", "  0\nENDSEC\n  0\nEOF\n", "", false},
    {"spline of huge counts",
     "  0\nARC", "  0\nSPLINE\n  8\n0\n 70\n8\n 71\n2147483647\n 72\n2000000000\n 73\n2000000000\n"
     " 74\n2000000000\n 40\n0\n 40\n1\n 10\n0\n 20\n0\n 10\n1\n 20\n1\n  0\nARC", false},
    {"spline of one fit point", "  0\nARC", "  0\nSPLINE\n  8\n0\n 74\n1\n 11\n3\n 21\n4\n  0\nARC",
     false},
    {"spline of degree zero", "  0\nARC",
     "  0\nSPLINE\n  8\n0\n 71\n0\n 10\n0\n 20\n0\n 10\n1\n 20\n1\n 10\n2\n 20\n0\n"
     "  0\nARC", false},
    {"spline of nan knots", "  0\nARC",
     "  0\nSPLINE\n  8\n0\n 71\n3\n 40\nnan\n 40\nnan\n 40\nnan\n 40\nnan\n 40\nnan\n"
     " 10\n0\n 20\n0\n 10\n1\n 20\n1\n  0\nARC", false},
    {"mpolygon of huge counts", "  0\nARC",
     "  0\nMPOLYGON\n  8\n0\n 91\n2000000000\n 92\n1\n 72\n1\n 73\n1\n 93\n2000000000\n"
     " 10\n0\n 20\n0\n  0\nARC", false},
    {"xdata of huge counts", "  5\nA1\n",
     "  5\nA1\n1001\nACAD\n1071\n2147483647\n1002\n{\n1002\n{\n1040\nnan\n", false},
};

TEST(DamagedDrawing, SingleFieldCorruptions) {
  Scratch dir;
  const std::string fixture = SmallText();
  const std::string path = dir.File("corrupt.dxf");
  for (const Corruption& c : kDxfCorruptions) {
    SCOPED_TRACE(c.Name);
    const size_t at = fixture.find(c.Find);
    ASSERT_NE(at, std::string::npos);
    std::string text = fixture;
    const std::string replacement =
        c.Replace != nullptr ? c.Replace : std::string(c.Find) + std::string(65536, 'x');
    text.replace(at, std::string(c.Find).size(), replacement);
    WriteFile(path, text);
    std::optional<size_t> count;
    ASSERT_NO_THROW(count = LoadDrawing(path));
    if (c.MustFail) {
      EXPECT_FALSE(count.has_value());
    }
  }
}

}  // namespace
}  // namespace cadport
