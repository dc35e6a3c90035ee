// Resource bounds: no input may make a reader hold more memory than a fixed
// allowance plus a small multiple of the input's size, however large the
// counts it claims or however deep and wide its blocks nest.
//
// The test binary counts every byte allocated through operator new, so the
// peak of a load is measured exactly and deterministically.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "fuzz/fuzz_util.h"
#include "fuzz/layer_walk.h"
#include "kernel/base/exception.h"
#include "kernel/dxf/layer_dxf.h"
#include "kernel/shapefile/file_dbf.h"
#include "kernel/shapefile/layer_shp.h"
#include "tests/hardening/hardening_util.h"

// ---- allocation accounting ------------------------------------------------

namespace {

std::atomic<int64_t> gLive{0};
std::atomic<int64_t> gPeak{0};

constexpr size_t kHeader = 16;  // keeps the default new alignment

size_t HeaderFor(size_t align) { return align > kHeader ? align : kHeader; }

void Account(int64_t delta) {
  const int64_t live = gLive.fetch_add(delta, std::memory_order_relaxed) + delta;
  int64_t peak = gPeak.load(std::memory_order_relaxed);
  while (live > peak && !gPeak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
  }
}

void* Allocate(size_t n, size_t align) {
  const size_t header = HeaderFor(align);
  void* raw = nullptr;
  if (align <= kHeader) {
    raw = std::malloc(n + header);
  } else {
    raw = std::aligned_alloc(align, (n + header + align - 1) / align * align);
  }
  if (raw == nullptr) return nullptr;
  char* user = static_cast<char*>(raw) + header;
  std::memcpy(user - sizeof(size_t), &n, sizeof n);
  Account(int64_t(n));
  return user;
}

// Kept out of line: inlined into operator delete, GCC sees the header read
// before the user block and warns about it (-Warray-bounds) at -O2.
[[gnu::noinline]] void Release(void* p, size_t align) noexcept {
  if (p == nullptr) return;
  char* user = static_cast<char*>(p);
  size_t n;
  std::memcpy(&n, user - sizeof(size_t), sizeof n);
  Account(-int64_t(n));
  std::free(user - HeaderFor(align));
}

}  // namespace

void* operator new(size_t n) {
  if (void* p = Allocate(n, 0)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, std::align_val_t a) {
  if (void* p = Allocate(n, size_t(a))) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n, std::align_val_t a) { return operator new(n, a); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n, 0); }
void operator delete(void* p) noexcept { Release(p, 0); }
void operator delete[](void* p) noexcept { Release(p, 0); }
void operator delete(void* p, size_t) noexcept { Release(p, 0); }
void operator delete[](void* p, size_t) noexcept { Release(p, 0); }
void operator delete(void* p, std::align_val_t a) noexcept { Release(p, size_t(a)); }
void operator delete[](void* p, std::align_val_t a) noexcept { Release(p, size_t(a)); }
void operator delete(void* p, size_t, std::align_val_t a) noexcept { Release(p, size_t(a)); }
void operator delete[](void* p, size_t, std::align_val_t a) noexcept { Release(p, size_t(a)); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p, 0); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p, 0); }

namespace cadport {
namespace {

using hardening::DataPath;
using hardening::ReadFile;
using hardening::Scratch;
using hardening::WriteFile;

// The limits promised to users (see the README): reading a file holds at
// most a fixed allowance plus a multiple of the file's size.
constexpr int64_t kFixedAllowance = 64ll << 20;  // 64 MiB
constexpr int64_t kPerInputByte = 64;
// A drawing's blocks may expand to a bounded number of extra groups: a fixed
// allowance plus a multiple of the file's size (each worth a few dozen bytes
// of shape memory at most).
constexpr int64_t kExpansionFixed = 256ll << 20;  // 256 MiB
constexpr int64_t kExpansionPerInputByte = 8 * 1024;

struct Measured {
  int64_t Peak = 0;      // bytes above the level at the start
  size_t Shapes = 0;
  size_t Points = 0;
  bool Failed = false;   // the load raised EGIS_Exception
};

Measured LoadDrawing(const std::string& path) {
  Measured m;
  const int64_t base = gLive.load();
  gPeak.store(base);
  try {
    auto layer = std::make_unique<TGIS_LayerDXF>();
    layer->SetPath(path);
    layer->Open();
    for (layer->StartScan(UnboundedBounds()); !layer->ScanDone(); layer->ScanNext()) {
      TGIS_Shape* s = layer->ScanCurrent();
      ++m.Shapes;
      for (int p = 0; p < s->GetNumParts(); ++p) m.Points += size_t(s->GetPartSize(p));
    }
  } catch (const EGIS_Exception&) {
    m.Failed = true;
  }
  m.Peak = gPeak.load() - base;
  return m;
}

// A drawing of the given blocks and entities (group text, LF lines).
std::string Drawing(const std::string& blocks, const std::string& entities) {
  return "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  0\nENDSEC\n"
         "  0\nSECTION\n  2\nBLOCKS\n" + blocks + "  0\nENDSEC\n"
         "  0\nSECTION\n  2\nENTITIES\n" + entities + "  0\nENDSEC\n  0\nEOF\n";
}

std::string Block(const std::string& name, const std::string& body) {
  return "  0\nBLOCK\n  8\n0\n  2\n" + name + "\n 70\n0\n 10\n0\n 20\n0\n 30\n0\n" + body +
         "  0\nENDBLK\n  8\n0\n";
}

std::string Insert(const std::string& name, double x, const std::string& extra = {}) {
  return "  0\nINSERT\n  8\n0\n  2\n" + name + "\n 10\n" + std::to_string(x) +
         "\n 20\n0\n 30\n0\n" + extra;
}

const std::string kLine = "  0\nLINE\n  8\n0\n 10\n0\n 20\n0\n 30\n0\n 11\n1\n 21\n1\n 31\n0\n";

// Blocks of `levels` levels, each inserting the level below `fanout` times:
// fanout^levels lines if expanded in full.
std::string WideBomb(int levels, int fanout) {
  std::string blocks = Block("B0", kLine);
  for (int l = 1; l <= levels; ++l) {
    std::string body;
    for (int i = 0; i < fanout; ++i) body += Insert("B" + std::to_string(l - 1), i);
    blocks += Block("B" + std::to_string(l), body);
  }
  std::string entities;
  for (int i = 0; i < fanout; ++i) entities += Insert("B" + std::to_string(levels), i);
  return Drawing(blocks, entities);
}

struct BoundCase {
  const char* Name;
  std::string Text;
  bool Expands;  // uses blocks: the expansion allowance applies
};

std::vector<BoundCase> BoundCases() {
  const std::string lw2 = "  0\nLWPOLYLINE\n  8\n0\n 90\n2147483647\n 70\n0\n"
                          " 10\n0\n 20\n0\n 10\n1\n 20\n1\n";
  const std::string mesh =
      "  0\nPOLYLINE\n  8\n0\n 66\n1\n 70\n16\n 71\n32767\n 72\n32767\n 10\n0\n 20\n0\n 30\n0\n"
      "  0\nVERTEX\n  8\n0\n 10\n0\n 20\n0\n 30\n0\n 70\n64\n"
      "  0\nVERTEX\n  8\n0\n 10\n1\n 20\n0\n 30\n0\n 70\n64\n"
      "  0\nVERTEX\n  8\n0\n 10\n1\n 20\n1\n 30\n0\n 70\n64\n"
      "  0\nSEQEND\n  8\n0\n";
  const std::string polyface =
      "  0\nPOLYLINE\n  8\n0\n 66\n1\n 70\n64\n 71\n2000000000\n 72\n2000000000\n"
      "  0\nVERTEX\n  8\n0\n 10\n0\n 20\n0\n 30\n0\n 70\n192\n"
      "  0\nVERTEX\n  8\n0\n 10\n1\n 20\n0\n 30\n0\n 70\n192\n"
      "  0\nVERTEX\n  8\n0\n 70\n128\n 71\n1\n 72\n2\n 73\n32767\n 74\n-32767\n"
      "  0\nSEQEND\n  8\n0\n";
  const std::string hatch =
      "  0\nHATCH\n  8\n0\n 10\n0\n 20\n0\n 30\n0\n  2\nSOLID\n 70\n1\n 71\n0\n"
      " 91\n2000000000\n 92\n2\n 72\n1\n 73\n1\n 93\n2000000000\n"
      " 10\n0\n 20\n0\n 10\n1\n 20\n0\n 10\n1\n 20\n1\n 97\n0\n 75\n0\n 76\n1\n 98\n0\n";
  const std::string spline =
      "  0\nSPLINE\n  8\n0\n 70\n8\n 71\n2147483647\n 72\n2000000000\n 73\n2000000000\n"
      " 74\n2000000000\n 40\n0\n 40\n1\n 10\n0\n 20\n0\n 10\n1\n 20\n1\n";
  std::string manyKnots = "  0\nSPLINE\n  8\n0\n 70\n8\n 71\n3\n";
  for (int i = 0; i < 2000; ++i) manyKnots += " 40\n" + std::to_string(i) + "\n";
  for (int i = 0; i < 2000; ++i) manyKnots += " 10\n" + std::to_string(i) + "\n 20\n0\n";
  std::string manyFit = "  0\nSPLINE\n  8\n0\n 70\n8\n 71\n3\n";
  for (int i = 0; i < 20000; ++i) {
    manyFit += " 11\n" + std::to_string(i) + "\n 21\n" + std::to_string(i % 7) + "\n";
  }
  // Degree one below the point count: without a bound on the degree the
  // evaluation grows with the cube of the points (minutes for 40 KB).
  std::string highDegree = "  0\nSPLINE\n  8\n0\n 70\n8\n 71\n1199\n 73\n1200\n";
  for (int i = 0; i < 1200; ++i) {
    highDegree += " 10\n" + std::to_string(i) + "\n 20\n" + std::to_string(i % 5) + "\n 30\n0\n";
  }
  std::string plain;
  for (int i = 0; i < 20000; ++i) {
    const std::string x = std::to_string(i % 1000) + ".25", y = std::to_string(i / 1000) + ".5";
    plain += "  0\nLWPOLYLINE\n  5\n" + std::to_string(i + 100) + "\n  8\nROADS\n 90\n3\n 70\n0\n";
    plain += " 10\n" + x + "\n 20\n" + y + "\n 10\n" + y + "\n 20\n" + x + "\n";
    plain += " 10\n" + x + "\n 20\n" + x + "\n";
    plain += "  0\nTEXT\n  8\nNAMES\n 10\n" + x + "\n 20\n" + y + "\n 40\n2.5\n  1\nParcel " + x;
    plain += "\n";
  }
  return {
      {"plain drawing of 40000 entities", Drawing("", plain), false},
      {"lwpolyline claiming 2^31 vertices", Drawing("", lw2), false},
      {"mesh of 32767 by 32767", Drawing("", mesh), false},
      {"polyface of huge counts", Drawing("", polyface), false},
      {"hatch of huge path and edge counts", Drawing("", hatch), false},
      {"spline of huge counts", Drawing("", spline), false},
      {"spline of 2000 control points", Drawing("", manyKnots), false},
      {"spline of 20000 fit points", Drawing("", manyFit), false},
      {"spline of degree 1199", Drawing("", highDegree), false},
      {"grid insert of 32767 by 32767",
       Drawing(Block("G", kLine), Insert("G", 0, " 70\n32767\n 71\n32767\n 44\n1\n 45\n1\n")),
       true},
      {"blocks 6 deep, 40 wide", WideBomb(6, 40), true},
      {"blocks 60 deep, 2 wide", WideBomb(60, 2), true},
      {"bundled expansion bomb", std::string(), true},
  };
}

TEST(ResourceBounds, DrawingMemoryStaysWithinTheLimits) {
  Scratch dir;
  for (BoundCase& c : BoundCases()) {
    SCOPED_TRACE(c.Name);
    std::string path = dir.File("bound.dxf");
    if (c.Text.empty()) {
      path = DataPath("dxf/blocks/expansion_bomb.dxf");
    } else {
      WriteFile(path, c.Text);
    }
    const int64_t size = int64_t(ReadFile(path).size());
    const Measured m = LoadDrawing(path);
    const int64_t limit = c.Expands ? kExpansionFixed + kExpansionPerInputByte * size
                                    : kFixedAllowance + kPerInputByte * size;
    EXPECT_LE(m.Peak, limit) << "file " << size << " bytes, " << m.Shapes << " shapes, "
                             << m.Points << " points";
    std::printf("[bounds] %-40s %8lld bytes in, peak %10lld bytes, %7zu shapes, %9zu points%s\n",
                c.Name, static_cast<long long>(size), static_cast<long long>(m.Peak), m.Shapes,
                m.Points, m.Failed ? ", failed" : "");
  }
}

// A shapefile set whose headers claim huge counts must not make the reader
// reserve room for them.
TEST(ResourceBounds, ShapefileCountsDoNotDriveAllocation) {
  Scratch dir;
  const std::string base = "shapefile/pyshp_lines";
  auto shp = ReadFile(DataPath(base + ".shp"));
  auto shx = ReadFile(DataPath(base + ".shx"));
  auto dbf = ReadFile(DataPath(base + ".dbf"));
  // numParts and numPoints of the first record; the DBF record count.
  for (size_t i = 0; i < 8; ++i) shp[144 + i] = i % 4 == 3 ? 0x7F : 0xFF;
  for (size_t i = 0; i < 4; ++i) dbf[4 + i] = i == 3 ? 0x7F : 0xFF;
  WriteFile(dir.File("set.shp"), shp);
  WriteFile(dir.File("set.shx"), shx);
  WriteFile(dir.File("set.dbf"), dbf);
  const int64_t size = int64_t(shp.size() + shx.size() + dbf.size());
  const int64_t start = gLive.load();
  gPeak.store(start);
  try {
    auto layer = std::make_unique<TGIS_LayerSHP>();
    layer->SetPath(dir.File("set.shp"));
    layer->Open();
    fuzz::Sink sink;
    fuzz::WalkLayer(*layer, sink);
  } catch (const EGIS_Exception&) {
  }
  EXPECT_LE(gPeak.load() - start, kFixedAllowance + kPerInputByte * size);
}

}  // namespace
}  // namespace cadport
