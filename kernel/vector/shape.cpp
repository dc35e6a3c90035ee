// Shapes: geometry storage, building, reading and the raw block interface.
#include "kernel/vector/shape.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kernel/base/exception.h"
#include "kernel/vector/block_arena.h"
#include "kernel/vector/layer_vector.h"

namespace cadport {

namespace {

// ---- little-endian fields of the geometry blocks ---------------------------

[[maybe_unused]] std::uint64_t ByteSwap64(std::uint64_t v) {
  v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
  v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
  return (v << 32) | (v >> 32);
}

[[maybe_unused]] std::uint32_t ByteSwap32(std::uint32_t v) {
  return ((v & 0xFFu) << 24) | ((v & 0xFF00u) << 8) | ((v >> 8) & 0xFF00u) | (v >> 24);
}

std::int32_t LoadLE32(const std::byte* p) {
  std::uint32_t u;
  std::memcpy(&u, p, 4);
  if constexpr (std::endian::native == std::endian::big) u = ByteSwap32(u);
  return static_cast<std::int32_t>(u);
}

void StoreLE32(std::byte* p, std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v);
  if constexpr (std::endian::native == std::endian::big) u = ByteSwap32(u);
  std::memcpy(p, &u, 4);
}

double LoadLEF64(const std::byte* p) {
  std::uint64_t u;
  std::memcpy(&u, p, 8);
  if constexpr (std::endian::native == std::endian::big) u = ByteSwap64(u);
  return std::bit_cast<double>(u);
}

void StoreLEF64(std::byte* p, double v) {
  auto u = std::bit_cast<std::uint64_t>(v);
  if constexpr (std::endian::native == std::endian::big) u = ByteSwap64(u);
  std::memcpy(p, &u, 8);
}

// ---- owned blocks -----------------------------------------------------------
// Blocks are malloc'ed so that growing can use realloc (often in place).
// Capacities come in steps of 64 (header) and 128 (points) bytes and grow
// by half at least, so appending is amortised constant time.

constexpr std::uint32_t kHeaderStep = 64;
constexpr std::uint32_t kPointsStep = 128;

std::uint32_t RoundUp(std::uint64_t bytes, std::uint32_t step) {
  const std::uint64_t r = (bytes / step + 1) * step;
  if (r > 0x7FFFFFF0u) throw std::bad_alloc();
  return static_cast<std::uint32_t>(r);
}

std::byte* Reallocate(const std::byte* block, std::uint32_t capacity) {
  void* p = std::realloc(const_cast<std::byte*>(block), capacity);
  if (p == nullptr) throw std::bad_alloc();
  return static_cast<std::byte*>(p);
}

std::byte* AllocateCopy(const std::byte* source, std::uint32_t size, std::uint32_t capacity) {
  auto* p = static_cast<std::byte*>(std::malloc(capacity));
  if (p == nullptr) throw std::bad_alloc();
  if (size > 0) std::memcpy(p, source, size);
  return p;
}

[[noreturn]] void ThrowBadGeometry(std::int32_t offset) {
  throw EGIS_Exception(GIS_RS_ERR_GEOMETRY, "shape record", offset);
}

// Sizes of the two blocks held by a record (content after the shape type)
// of a kind; raises GIS_RS_ERR_GEOMETRY when the counts do not fit the
// record or the parts are out of order.
struct BlockSizes {
  std::uint32_t header = 0;
  std::uint32_t points = 0;
};

BlockSizes MeasureRecord(TGIS_ShapeKind kind, std::span<const std::byte> record) {
  const std::uint64_t size = record.size();
  const std::byte* p = record.data();
  BlockSizes s;
  switch (kind) {
    case TGIS_ShapeKind::Point:
      if (size < TGIS_Shape::kPointSize) ThrowBadGeometry(0);
      s.points = TGIS_Shape::kPointSize;
      return s;
    case TGIS_ShapeKind::MultiPoint: {
      if (size < TGIS_Shape::kMultiPointHeaderSize) ThrowBadGeometry(0);
      const std::int32_t numPoints = LoadLE32(p + 32);
      if (numPoints < 0) ThrowBadGeometry(32);
      const std::uint64_t points = 16ull * static_cast<std::uint64_t>(numPoints);
      if (TGIS_Shape::kMultiPointHeaderSize + points > size) ThrowBadGeometry(32);
      s.header = TGIS_Shape::kMultiPointHeaderSize;
      s.points = static_cast<std::uint32_t>(points);
      return s;
    }
    case TGIS_ShapeKind::Arc:
    case TGIS_ShapeKind::Polygon: {
      if (size < TGIS_Shape::kPolyHeaderSize) ThrowBadGeometry(0);
      const std::int32_t numParts = LoadLE32(p + 32);
      const std::int32_t numPoints = LoadLE32(p + 36);
      if (numParts < 0) ThrowBadGeometry(32);
      if (numPoints < 0) ThrowBadGeometry(36);
      const std::uint64_t header = 40ull + 4ull * static_cast<std::uint64_t>(numParts);
      const std::uint64_t points = 16ull * static_cast<std::uint64_t>(numPoints);
      if (header + points > size) ThrowBadGeometry(32);
      std::int32_t previous = 0;
      for (std::int32_t i = 0; i < numParts; ++i) {
        const std::int32_t first = LoadLE32(p + 40 + 4 * i);
        // The first part starts at point 0; parts ascend within the points.
        if (first < previous || first > numPoints || (i == 0 && first != 0)) {
          ThrowBadGeometry(40 + 4 * i);
        }
        previous = first;
      }
      s.header = static_cast<std::uint32_t>(header);
      s.points = static_cast<std::uint32_t>(points);
      return s;
    }
    default:
      return s;
  }
}

}  // namespace

// ---- construction and lifetime ----------------------------------------------

TGIS_Shape::TGIS_Shape(TGIS_ShapeKind kind, const TGIS_Shape* source, TGIS_LayerVector* layer,
                       std::int32_t uid, bool borrowed, std::span<const std::byte> record)
    : kind_(kind) {
  Reinit(source, record, layer, uid, borrowed);
}

TGIS_Shape::~TGIS_Shape() { FreeOwned(); }

void TGIS_Shape::FreeOwned() noexcept {
  // Blocks in an arena go with the arena.
  if (!Borrowed()) {
    if (!(flags_ & kArenaHeader)) std::free(const_cast<std::byte*>(header_));
    if (!(flags_ & kArenaPoints)) std::free(const_cast<std::byte*>(points_));
  }
  header_ = nullptr;
  points_ = nullptr;
  headerCapacity_ = 0;
  pointsCapacity_ = 0;
  SetFlag(kBorrowed, false);
  SetFlag(kArenaHeader, false);
  SetFlag(kArenaPoints, false);
}

TGIS_BlockArena* TGIS_Shape::Arena() const {
  return (flags_ & kArenaEligible) && layer_ != nullptr ? layer_->OpenArena() : nullptr;
}

std::byte* TGIS_Shape::GrowBlock(const std::byte* block, std::uint32_t used,
                                 std::uint32_t capacity, Flag arenaFlag) {
  TGIS_BlockArena* const arena = Arena();
  if (block != nullptr && !(flags_ & arenaFlag)) {
    return Reallocate(block, capacity);  // malloc's blocks stay malloc's
  }
  if (block != nullptr && arena != nullptr && arena->ResizeLast(block, capacity)) {
    return const_cast<std::byte*>(block);
  }
  std::byte* grown = arena != nullptr ? arena->Allocate(capacity) : Reallocate(nullptr, capacity);
  if (block != nullptr && used > 0) std::memcpy(grown, block, std::min(used, capacity));
  // An arena block left behind stays until its arena goes.
  SetFlag(arenaFlag, arena != nullptr);
  return grown;
}

void TGIS_Shape::Reinit(const TGIS_Shape* source, std::span<const std::byte> record,
                        TGIS_LayerVector* layer, std::int32_t uid, bool borrowed) {
  assert((source == nullptr || source->kind_ == kind_) && "source of another kind");
  SetIndexed(false);
  indexedExtent_.reset();
  if (source == this) {
    // Re-initialising from itself keeps geometry and attributes.
    if (uid != 0) uid_ = uid;
    if (layer != nullptr) layer_ = layer;
    if (!record.empty()) AttachGeometry(record);
    RecomputeEmpty();
    return;
  }
  FreeOwned();
  attributes_.reset();

  constexpr std::uint16_t kCopied = kDeleted | kTopologyValid | kHidden | kSelected |
                                    kPlaceholderBounds;
  if (source != nullptr) {
    header_ = source->header_;
    points_ = source->points_;
    flags_ = static_cast<std::uint16_t>((source->flags_ & (kCopied | kBorrowed)) | kEmpty);
    uid_ = uid != 0 ? uid : source->uid_;
    layer_ = layer != nullptr ? layer : source->layer_;
    // Owned blocks of the source are never shared: copy them right away.
    if (!Borrowed() && (header_ != nullptr || points_ != nullptr)) {
      SetFlag(kBorrowed, true);  // the blocks are the source's until copied
      headerCapacity_ = 0;
      pointsCapacity_ = 0;
      RecomputeEmpty();
      CopyBlocksToOwned();
    }
  } else {
    flags_ = kEmpty;
    SetFlag(kBorrowed, borrowed);
    uid_ = uid;
    layer_ = layer;
  }
  if (!record.empty()) AttachGeometry(record);
  RecomputeEmpty();
  if (source != nullptr && source->attributes_) {
    attributes_ = CloneAttributes(*source->attributes_);
  }
}

void TGIS_Shape::AttachGeometry(std::span<const std::byte> record) {
  const BlockSizes sizes = MeasureRecord(kind_, record);
  if (kind_ == TGIS_ShapeKind::Unknown) return;
  const bool borrowed = Borrowed();
  FreeOwned();
  header_ = sizes.header > 0 ? record.data() : nullptr;
  points_ = record.data() + sizes.header;
  SetFlag(kBorrowed, true);
  RecomputeEmpty();
  // Geometry that is not to be borrowed is copied out of the record at once.
  if (!borrowed) CopyBlocksToOwned();
}

void TGIS_Shape::RecomputeEmpty() {
  bool empty = true;
  if (points_ != nullptr) {
    switch (kind_) {
      case TGIS_ShapeKind::Point:
        empty = false;
        break;
      case TGIS_ShapeKind::MultiPoint:
        empty = header_ == nullptr || LoadLE32(header_ + 32) == 0;
        break;
      case TGIS_ShapeKind::Arc:
      case TGIS_ShapeKind::Polygon:
        empty = header_ == nullptr || LoadLE32(header_ + 32) == 0 || LoadLE32(header_ + 36) == 0;
        break;
      default:
        break;
    }
  }
  SetFlag(kEmpty, empty);
}

// Current block sizes, independent of IsEmpty.
static std::uint32_t UsedHeaderBytes(TGIS_ShapeKind kind, const std::byte* header) {
  if (header == nullptr) return 0;
  if (kind == TGIS_ShapeKind::MultiPoint) return TGIS_Shape::kMultiPointHeaderSize;
  if (kind == TGIS_ShapeKind::Arc || kind == TGIS_ShapeKind::Polygon) {
    return 40u + 4u * static_cast<std::uint32_t>(LoadLE32(header + 32));
  }
  return 0;
}

static std::uint32_t UsedPointBytes(TGIS_ShapeKind kind, const std::byte* header,
                                    const std::byte* points) {
  if (points == nullptr) return 0;
  switch (kind) {
    case TGIS_ShapeKind::Point:
      return TGIS_Shape::kPointSize;
    case TGIS_ShapeKind::MultiPoint:
      return header ? 16u * static_cast<std::uint32_t>(LoadLE32(header + 32)) : 0;
    case TGIS_ShapeKind::Arc:
    case TGIS_ShapeKind::Polygon:
      return header ? 16u * static_cast<std::uint32_t>(LoadLE32(header + 36)) : 0;
    default:
      return 0;
  }
}

void TGIS_Shape::CopyBlocksToOwned() {
  const std::uint32_t headerSize = UsedHeaderBytes(kind_, header_);
  const std::uint32_t pointsSize = UsedPointBytes(kind_, header_, points_);
  std::byte* header = nullptr;
  std::byte* points = nullptr;
  std::uint32_t headerCapacity = 0;
  std::uint32_t pointsCapacity = 0;
  if (header_ != nullptr) {
    headerCapacity = RoundUp(headerSize, kHeaderStep);
    header = AllocateCopy(header_, headerSize, headerCapacity);
  }
  if (points_ != nullptr) {
    pointsCapacity = kind_ == TGIS_ShapeKind::Point ? kPointSize
                                                    : RoundUp(pointsSize + 16, kPointsStep);
    try {
      points = AllocateCopy(points_, pointsSize, pointsCapacity);
    } catch (...) {
      std::free(header);
      throw;
    }
  }
  if (!Borrowed()) FreeOwned();
  header_ = header;
  points_ = points;
  headerCapacity_ = headerCapacity;
  pointsCapacity_ = pointsCapacity;
  SetFlag(kArenaHeader, false);
  SetFlag(kArenaPoints, false);
  SetFlag(kBorrowed, false);
}

void TGIS_Shape::ShrinkToFit() noexcept {
  if (Borrowed()) return;
  const std::uint32_t headerSize = UsedHeaderBytes(kind_, header_);
  const std::uint32_t pointsSize = UsedPointBytes(kind_, header_, points_);
  // An arena block shrinks only when it is the one carved last.
  TGIS_BlockArena* const arena = Arena();
  if (header_ != nullptr && headerSize > 0 && headerSize < headerCapacity_) {
    if (flags_ & kArenaHeader) {
      if (arena != nullptr && arena->ResizeLast(header_, headerSize)) headerCapacity_ = headerSize;
    } else if (void* p = std::realloc(const_cast<std::byte*>(header_), headerSize)) {
      header_ = static_cast<std::byte*>(p);
      headerCapacity_ = headerSize;
    }
  }
  if (points_ != nullptr && pointsSize > 0 && pointsSize < pointsCapacity_) {
    if (flags_ & kArenaPoints) {
      if (arena != nullptr && arena->ResizeLast(points_, pointsSize)) pointsCapacity_ = pointsSize;
    } else if (void* p = std::realloc(const_cast<std::byte*>(points_), pointsSize)) {
      points_ = static_cast<std::byte*>(p);
      pointsCapacity_ = pointsSize;
    }
  }
}

void TGIS_Shape::OwnGeometry() {
  if (!Borrowed()) return;
  // Borrowed blocks are copied even when empty, so that new blocks are never
  // mixed with borrowed ones.
  CopyBlocksToOwned();
}

std::byte* TGIS_Shape::MutableHeader() {
  assert(!Borrowed() && "borrowed geometry is never written");
  return const_cast<std::byte*>(header_);
}

std::byte* TGIS_Shape::MutablePoints() {
  assert(!Borrowed() && "borrowed geometry is never written");
  return const_cast<std::byte*>(points_);
}

void TGIS_Shape::EnsureHeader(int extraBytes) {
  const std::uint64_t needed =
      static_cast<std::uint64_t>(UsedHeaderBytes(kind_, header_)) + static_cast<unsigned>(extraBytes);
  if (header_ != nullptr && needed <= headerCapacity_) return;
  std::uint64_t capacity = needed;
  if (header_ != nullptr) capacity = std::max<std::uint64_t>(needed, headerCapacity_ + headerCapacity_ / 2);
  const std::uint32_t rounded = RoundUp(capacity, kHeaderStep);
  header_ = GrowBlock(header_, UsedHeaderBytes(kind_, header_), rounded, kArenaHeader);
  headerCapacity_ = rounded;
}

void TGIS_Shape::EnsurePoints(int extraPoints) {
  const std::uint64_t needed = static_cast<std::uint64_t>(UsedPointBytes(kind_, header_, points_)) +
                               16ull * static_cast<unsigned>(extraPoints);
  if (points_ != nullptr && needed <= pointsCapacity_) return;
  std::uint64_t capacity = needed;
  if (points_ != nullptr) capacity = std::max<std::uint64_t>(needed, pointsCapacity_ + pointsCapacity_ / 2);
  const std::uint32_t rounded = RoundUp(capacity, kPointsStep);
  points_ = GrowBlock(points_, UsedPointBytes(kind_, header_, points_), rounded, kArenaPoints);
  pointsCapacity_ = rounded;
}

void TGIS_Shape::ReservePoints(int count) {
  if (count <= 0 || Borrowed() || header_ == nullptr) return;
  const std::uint64_t needed = static_cast<std::uint64_t>(UsedPointBytes(kind_, header_, points_)) +
                               16ull * static_cast<unsigned>(count);
  if (points_ != nullptr && needed <= pointsCapacity_) return;
  if (needed > 0x7FFFFFF0u) throw std::bad_alloc();
  points_ = GrowBlock(points_, UsedPointBytes(kind_, header_, points_),
                      static_cast<std::uint32_t>(needed), kArenaPoints);
  pointsCapacity_ = static_cast<std::uint32_t>(needed);
}

// ---- block fields -------------------------------------------------------------

int TGIS_Shape::HeaderNumParts() const { return header_ ? LoadLE32(header_ + 32) : 0; }

int TGIS_Shape::HeaderNumPoints() const {
  if (header_ == nullptr) return 0;
  return LoadLE32(header_ + (kind_ == TGIS_ShapeKind::MultiPoint ? 32 : 36));
}

int TGIS_Shape::HeaderPart(int part) const { return LoadLE32(header_ + 40 + 4 * part); }

TGIS_Bounds TGIS_Shape::HeaderBounds() const {
  return {LoadLEF64(header_), LoadLEF64(header_ + 8), LoadLEF64(header_ + 16),
          LoadLEF64(header_ + 24)};
}

void TGIS_Shape::SetHeaderBounds(const TGIS_Bounds& bounds) {
  std::byte* h = MutableHeader();
  StoreLEF64(h, bounds.XMin);
  StoreLEF64(h + 8, bounds.YMin);
  StoreLEF64(h + 16, bounds.XMax);
  StoreLEF64(h + 24, bounds.YMax);
}

void TGIS_Shape::SetHeaderNumParts(int count) { StoreLE32(MutableHeader() + 32, count); }

void TGIS_Shape::SetHeaderNumPoints(int count) {
  StoreLE32(MutableHeader() + (kind_ == TGIS_ShapeKind::MultiPoint ? 32 : 36), count);
}

void TGIS_Shape::SetHeaderPart(int part, int firstPoint) {
  StoreLE32(MutableHeader() + 40 + 4 * part, firstPoint);
}

TGIS_Coord TGIS_Shape::RawPoint(int index) const {
  const std::byte* p = points_ + 16 * static_cast<std::ptrdiff_t>(index);
  return {LoadLEF64(p), LoadLEF64(p + 8)};
}

void TGIS_Shape::SetRawPoint(int index, const TGIS_Coord& point) {
  std::byte* p = MutablePoints() + 16 * static_cast<std::ptrdiff_t>(index);
  StoreLEF64(p, point.X);
  StoreLEF64(p + 8, point.Y);
}

std::span<const std::byte> TGIS_Shape::GeometryHeader() const {
  const int size = GeometryHeaderSize();
  if (size == 0) return {};
  return {header_, static_cast<std::size_t>(size)};
}

std::span<const std::byte> TGIS_Shape::GeometryPoints() const {
  const int size = GeometryPointsSize();
  if (size == 0) return {};
  return {points_, static_cast<std::size_t>(size)};
}

int TGIS_Shape::GeometryHeaderSize() const {
  if (IsEmpty()) return 0;
  if (kind_ == TGIS_ShapeKind::MultiPoint) return kMultiPointHeaderSize;
  if (kind_ == TGIS_ShapeKind::Arc || kind_ == TGIS_ShapeKind::Polygon) {
    return kPolyHeaderSize + 4 * GetNumParts();
  }
  return 0;
}

int TGIS_Shape::GeometryPointsSize() const { return IsEmpty() ? 0 : kPointSize * GetNumPoints(); }

TGIS_Bounds TGIS_Shape::IndexedExtent() const {
  return indexedExtent_ ? *indexedExtent_ : TGIS_Bounds{0, 0, 0, 0};
}

void TGIS_Shape::SetIndexedExtent(const TGIS_Bounds& extent) {
  if (indexedExtent_) {
    *indexedExtent_ = extent;
  } else {
    indexedExtent_ = std::make_unique<TGIS_Bounds>(extent);
  }
}

// ---- layer links --------------------------------------------------------------

TGIS_Coord TGIS_Shape::ToLayer(const TGIS_Coord& point) const {
  if (lockLevel_ >= 2 || layer_ == nullptr) return point;
  return layer_->MapToLayer(point);
}

TGIS_Coord TGIS_Shape::ToMap(const TGIS_Coord& point) const {
  if (lockLevel_ >= 2 || layer_ == nullptr) return point;
  return layer_->LayerToMap(point);
}

void TGIS_Shape::GrowLayerExtent(const TGIS_Bounds& bounds) {
  if (layer_ == nullptr) return;
  const TGIS_Bounds grown = BoundsUnion(layer_->Extent(), bounds);
  if (!BoundsEqual(grown, layer_->Extent())) layer_->SetExtent(grown);
}

void TGIS_Shape::UpdateLayerIndex() {
  if (layer_ != nullptr) layer_->UpdateIndex(*this);
}

void TGIS_Shape::MarkModified() {
  if (layer_ != nullptr && lockLevel_ < 3) layer_->SetModified(true);
}

void TGIS_Shape::Delete() {
  SetDeleted(true);
  UpdateLayerIndex();
  MarkModified();
}

// ---- extents ------------------------------------------------------------------

TGIS_Bounds TGIS_Shape::Extent() const {
  if (header_ == nullptr || points_ == nullptr) return NullBounds();
  const TGIS_Bounds b = HeaderBounds();
  if (std::isnan(b.XMin)) return NullBounds();
  return b;
}

TGIS_Bounds TGIS_Shape::ProjectedExtent() const {
  // Only a coordinate system of the viewer makes the points differ from the
  // layer's own beyond a rotation, and this kernel has none: the projected
  // extent is the extent.
  return Extent();
}

TGIS_Bounds TGIS_Shape::PaintExtent() const { return Extent(); }
TGIS_Bounds TGIS_Shape::SymbolExtent() const { return Extent(); }
double TGIS_Shape::SymbolSize() const { return 0; }

// ---- building -----------------------------------------------------------------

void TGIS_Shape::Lock(int level) {
  if (lockLevel_ == 4) return;
  lockLevel_ = static_cast<std::uint8_t>(level < 0 ? 0 : (level > 4 ? 4 : level));
}

void TGIS_Shape::Unlock() {
  const int previous = lockLevel_;
  if (previous == 0 || previous == 4) return;
  struct LevelReset {
    std::uint8_t& level;
    ~LevelReset() { level = 0; }
  } reset{lockLevel_};
  if (Borrowed() || IsEmpty()) return;
  const TGIS_Bounds old = HeaderBounds();
  lockLevel_ = 2;
  RecomputeBounds();
  const TGIS_Bounds fresh = HeaderBounds();
  // A first Unlock enters the shape even when its bounds happen to equal
  // the (0,0,0,0) placeholder, e.g. a line lying at the origin.
  if (layer_ != nullptr && (PlaceholderBounds() || !BoundsEqual(old, fresh))) {
    if (previous < 3) GrowLayerExtent(fresh);
    UpdateLayerIndex();
  }
  // The end of a shape's first build: its blocks are trimmed to size (later
  // edits grow them again geometrically).
  if (PlaceholderBounds()) ShrinkToFit();
  SetPlaceholderBounds(false);
}

void TGIS_Shape::RecomputeBounds() {
  const int count = HeaderNumPoints();
  if (count <= 0) return;
  TGIS_Coord p = RawPoint(0);
  TGIS_Bounds b{p.X, p.Y, p.X, p.Y};
  for (int i = 1; i < count; ++i) {
    p = RawPoint(i);
    if (p.X < b.XMin) {
      b.XMin = p.X;
    } else if (p.X > b.XMax) {
      b.XMax = p.X;
    }
    if (p.Y < b.YMin) {
      b.YMin = p.Y;
    } else if (p.Y > b.YMax) {
      b.YMax = p.Y;
    }
  }
  SetHeaderBounds(b);
}

void TGIS_Shape::BeginModify() {
  OwnGeometry();
  SetTopologyValid(false);
}

void TGIS_Shape::AllocateEmpty() {
  const bool poly = kind_ == TGIS_ShapeKind::Arc || kind_ == TGIS_ShapeKind::Polygon;
  if (header_ == nullptr || headerCapacity_ < kHeaderStep) {
    header_ = GrowBlock(header_, 0, kHeaderStep, kArenaHeader);  // rewritten below
    headerCapacity_ = kHeaderStep;
  }
  std::byte* h = MutableHeader();
  std::memset(h, 0, poly ? kPolyHeaderSize + 4 : kMultiPointHeaderSize);
  if (poly) {
    StoreLE32(h + 32, 1);  // NumParts
    StoreLE32(h + 36, 0);  // NumPoints
    StoreLE32(h + 40, 0);  // Parts[0]
  }
  if (points_ == nullptr) {
    points_ = GrowBlock(nullptr, 0, kPointsStep, kArenaPoints);
    pointsCapacity_ = kPointsStep;
  }
  SetFlag(kEmpty, true);
  SetPlaceholderBounds(true);
}

void TGIS_Shape::AddPart() {
  BeginModify();
  MarkModified();
  if (IsEmpty() || header_ == nullptr || points_ == nullptr) {
    AllocateEmpty();
    return;
  }
  const int parts = HeaderNumParts();
  const int points = HeaderNumPoints();
  if (parts > 0 && points - HeaderPart(parts - 1) == 0) return;  // last part still empty
  EnsureHeader(4);
  SetHeaderPart(parts, points);
  SetHeaderNumParts(parts + 1);
}

void TGIS_Shape::ExtendBounds(const TGIS_Coord& point) {
  TGIS_Bounds b;
  if (HeaderNumPoints() == 0) {
    b = {point.X, point.Y, point.X, point.Y};
  } else {
    b = HeaderBounds();
    if (point.X < b.XMin) {
      b.XMin = point.X;
    } else if (point.X > b.XMax) {
      b.XMax = point.X;
    }
    if (point.Y < b.YMin) {
      b.YMin = point.Y;
    } else if (point.Y > b.YMax) {
      b.YMax = point.Y;
    }
  }
  SetHeaderBounds(b);
  SetPlaceholderBounds(false);
  GrowLayerExtent(b);
}

// Appends a point (layer coordinates) to the last part. The index argument
// is kept for the shared layout; points are only ever appended.
void TGIS_Shape::AddPointAt(int /*part*/, int /*index*/, const TGIS_Coord& point) {
  EnsurePoints(1);
  if (lockLevel_ == 0) ExtendBounds(point);
  const int count = HeaderNumPoints();
  SetRawPoint(count, point);
  SetHeaderNumPoints(count + 1);
  SetFlag(kEmpty, false);
}

void TGIS_Shape::AddPoints3D(std::span<const TGIS_Coord3D> points) {
  for (const TGIS_Coord3D& p : points) AddPoint3D(p);
}

void TGIS_Shape::AppendPoints3D(std::span<const TGIS_Coord3D> points) {
  if (points.empty()) return;
  // More points than a block holds fail here, as they would point by point.
  if (points.size() > 0x7FFFFFF) throw std::bad_alloc();
  ReservePoints(static_cast<int>(points.size()));
  int count = HeaderNumPoints();
  if (lockLevel_ >= 2) {
    // Layer coordinates as they come; the bounds are Unlock's.
    for (const TGIS_Coord3D& p : points) SetRawPoint(count++, {p.X, p.Y});
    SetHeaderNumPoints(count);
  } else {
    for (const TGIS_Coord3D& p : points) {
      const TGIS_Coord c = ToLayer({p.X, p.Y});
      if (lockLevel_ == 0) ExtendBounds(c);
      SetRawPoint(count, c);
      SetHeaderNumPoints(++count);
    }
  }
  SetFlag(kEmpty, false);
}

void TGIS_Shape::DropLastPoint() {
  const int count = HeaderNumPoints();
  if (count > 0) SetHeaderNumPoints(count - 1);
  if (count <= 1) SetFlag(kEmpty, true);
}

bool TGIS_Shape::AddPointPolar(bool absolute, double distance, double angle) {
  const int parts = GetNumParts();
  if (parts == 0) return false;
  const int size = GetPartSize(parts - 1);
  double direction = angle;
  TGIS_Coord from;
  if (absolute) {
    if (size < 1) return false;
    from = GetPoint(parts - 1, size - 1);
  } else {
    if (size < 2) return false;
    const TGIS_Coord a = GetPoint(parts - 1, size - 2);
    from = GetPoint(parts - 1, size - 1);
    // Direction of the last segment measured like the step below (from +Y
    // towards +X), so that an angle of 0 continues straight on.
    direction = std::atan2(from.X - a.X, from.Y - a.Y) + angle;
  }
  AddPoint({from.X + distance * std::sin(direction), from.Y + distance * std::cos(direction)});
  return true;
}

void TGIS_Shape::Reset() {
  SetTopologyValid(false);
  MarkModified();
  if (Borrowed()) return;
  if (header_ != nullptr || points_ != nullptr) {
    FreeOwned();
    SetFlag(kEmpty, true);
    SetPlaceholderBounds(false);
  }
}

void TGIS_Shape::DropParams() {}

// ---- reading ------------------------------------------------------------------

int TGIS_Shape::GetNumParts() const { return HeaderNumParts(); }

int TGIS_Shape::GetNumPoints() const {
  return header_ != nullptr && points_ != nullptr ? HeaderNumPoints() : 0;
}

int TGIS_Shape::GetPartSize(int part) const {
  if (IsEmpty()) return 0;
  const int parts = HeaderNumParts();
  if (parts == 0) return 0;
  const int points = HeaderNumPoints();
  if (parts == 1) return points;
  assert(part >= 0 && part < parts && "part index out of range");
  if (part < parts - 1) return HeaderPart(part + 1) - HeaderPart(part);
  return points - HeaderPart(part);
}

TGIS_Coord TGIS_Shape::GetPoint(int part, int index) const {
  assert(part >= 0 && part < HeaderNumParts() && index >= 0 && "point index out of range");
  const int at = HeaderPart(part) + index;
  assert(at < HeaderNumPoints() && "point index out of range");
  return ToMap(RawPoint(at));
}

TGIS_Coord3D TGIS_Shape::GetPoint3D(int part, int index) const {
  return Coord3DFromCoord(GetPoint(part, index));
}

TGIS_Coord TGIS_Shape::GetFirstPoint() const { return GetPoint(0, 0); }

TGIS_Coord3D TGIS_Shape::GetFirstPoint3D() const { return Coord3DFromCoord(GetFirstPoint()); }

TGIS_Coord TGIS_Shape::GetLastPoint() const {
  const int last = GetNumParts() - 1;
  return GetPoint(last, GetPartSize(last) - 1);
}

TGIS_Coord3D TGIS_Shape::GetLastPoint3D() const { return Coord3DFromCoord(GetLastPoint()); }

// ---- rendering hooks (no renderer in this kernel) -----------------------------

void TGIS_Shape::Flash(int /*times*/, int /*delay*/) {}
void TGIS_Shape::Draw() {}
void TGIS_Shape::DrawVertices() {}
void TGIS_Shape::DrawSelected() {}
void TGIS_Shape::Invalidate(int /*flag*/) {}
void TGIS_Shape::DrawLabel() {}
void TGIS_Shape::DrawChart() {}
TGIS_Coord TGIS_Shape::DrawPreview(int /*width*/, int /*height*/, int /*margin*/) {
  return {0, 0};
}
bool TGIS_Shape::Intersects(const TGIS_Shape& /*other*/) const { return false; }
std::vector<TGIS_Coord> TGIS_Shape::Intersections(const TGIS_Shape& /*other*/) const {
  return {};
}

// ---- geometry blob --------------------------------------------------------------

void TGIS_Shape::ImportGeometryBlob(std::span<const std::byte> blob) {
  // Checked before anything changes: a malformed blob leaves the shape as it was.
  BlockSizes sizes;
  if (!blob.empty()) sizes = MeasureRecord(kind_, blob);
  BeginModify();
  MarkModified();
  FreeOwned();
  SetFlag(kEmpty, true);
  SetPlaceholderBounds(false);
  if (sizes.header == 0 && sizes.points == 0) return;
  // The blob's bytes, copied at once into owned blocks.
  header_ = sizes.header > 0 ? blob.data() : nullptr;
  points_ = blob.data() + sizes.header;
  SetFlag(kBorrowed, true);
  try {
    CopyBlocksToOwned();
  } catch (...) {
    header_ = nullptr;
    points_ = nullptr;
    SetFlag(kBorrowed, false);
    throw;
  }
  RecomputeEmpty();
}

std::vector<std::byte> TGIS_Shape::ExportGeometryBlob() const {
  std::vector<std::byte> blob;
  if (IsEmpty()) return blob;
  const auto header = GeometryHeader();
  const auto points = GeometryPoints();
  blob.reserve(header.size() + points.size());
  blob.insert(blob.end(), header.begin(), header.end());
  blob.insert(blob.end(), points.begin(), points.end());
  return blob;
}

std::unique_ptr<TGIS_Shape> TGIS_Shape::ClipToExtent(const TGIS_Bounds& extent) const {
  return Clip(extent, false);
}

// ==== Point ========================================================================

TGIS_ShapePoint::TGIS_ShapePoint(const TGIS_Shape* source, TGIS_LayerVector* layer,
                                 std::int32_t uid, bool borrowed,
                                 std::span<const std::byte> record)
    : TGIS_Shape(TGIS_ShapeKind::Point, source, layer, uid, borrowed, record) {}

std::unique_ptr<TGIS_Shape> TGIS_ShapePoint::CreateCopy() const {
  auto copy = std::make_unique<TGIS_ShapePoint>(this);
  copy->OwnGeometry();
  return copy;
}

TGIS_Bounds TGIS_ShapePoint::Extent() const {
  if (!HasPoints() || IsEmpty()) return NullBounds();
  const TGIS_Coord p = RawPoint(0);
  if (std::isnan(p.X)) return NullBounds();
  return {p.X, p.Y, p.X, p.Y};
}

TGIS_Bounds TGIS_ShapePoint::SymbolExtent() const { return Extent(); }
double TGIS_ShapePoint::SymbolSize() const { return 0; }

void TGIS_ShapePoint::Unlock() {
  const int previous = LockLevel();
  if (previous == 0 || previous == 4) return;
  struct LevelReset {
    std::uint8_t& level;
    ~LevelReset() { level = 0; }
  } reset{lockLevel_};
  if (Borrowed() || Layer() == nullptr) return;
  if (previous < 3) GrowLayerExtent(Extent());
  UpdateLayerIndex();
}

void TGIS_ShapePoint::AddPart() {
  BeginModify();
  MarkModified();
  if (HasPoints()) return;
  pointsCapacity_ = kPointSize;
  points_ = static_cast<const std::byte*>(std::calloc(1, kPointSize));
  if (points_ == nullptr) {
    pointsCapacity_ = 0;
    throw std::bad_alloc();
  }
  SetFlag(kEmpty, true);  // until the point arrives
}

void TGIS_ShapePoint::AddPoint(const TGIS_Coord& point) {
  BeginModify();
  // A moved point is a change of the layer like any other.
  MarkModified();
  const TGIS_Coord p = ToLayer(point);
  if (!HasPoints()) AddPart();
  SetRawPoint(0, p);
  SetFlag(kEmpty, false);
  if (LockLevel() == 0) GrowLayerExtent({p.X, p.Y, p.X, p.Y});
}

void TGIS_ShapePoint::AddPoint3D(const TGIS_Coord3D& point) { AddPoint({point.X, point.Y}); }

TGIS_Coord TGIS_ShapePoint::GetPoint(int /*part*/, int /*index*/) const {
  assert(HasPoints() && "point of an empty shape");
  return ToMap(RawPoint(0));
}

TGIS_Coord3D TGIS_ShapePoint::GetPoint3D(int part, int index) const {
  return Coord3DFromCoord(GetPoint(part, index));
}

int TGIS_ShapePoint::GetNumPoints() const { return HasPoints() && !IsEmpty() ? 1 : 0; }
int TGIS_ShapePoint::GetNumParts() const { return HasPoints() && !IsEmpty() ? 1 : 0; }
int TGIS_ShapePoint::GetPartSize(int /*part*/) const { return IsEmpty() ? 0 : 1; }
void TGIS_ShapePoint::Draw() {}
void TGIS_ShapePoint::DrawSelected() {}

// ==== MultiPoint ===================================================================

TGIS_ShapeMultipoint::TGIS_ShapeMultipoint(const TGIS_Shape* source, TGIS_LayerVector* layer,
                                           std::int32_t uid, bool borrowed,
                                           std::span<const std::byte> record)
    : TGIS_Shape(TGIS_ShapeKind::MultiPoint, source, layer, uid, borrowed, record) {}

std::unique_ptr<TGIS_Shape> TGIS_ShapeMultipoint::CreateCopy() const {
  auto copy = std::make_unique<TGIS_ShapeMultipoint>(this);
  copy->OwnGeometry();
  return copy;
}

TGIS_Bounds TGIS_ShapeMultipoint::SymbolExtent() const { return Extent(); }
double TGIS_ShapeMultipoint::SymbolSize() const { return 0; }

void TGIS_ShapeMultipoint::AddPart() {
  BeginModify();
  MarkModified();
  if (!IsEmpty() && HasHeader() && HasPoints()) return;  // one implicit part
  AllocateEmpty();
}

void TGIS_ShapeMultipoint::AddPoint(const TGIS_Coord& point) {
  BeginModify();
  MarkModified();
  const TGIS_Coord p = ToLayer(point);
  if (!HasHeader() || !HasPoints()) AddPart();
  AddPointAt(0, -1, p);
}

void TGIS_ShapeMultipoint::AddPoint3D(const TGIS_Coord3D& point) {
  AddPoint({point.X, point.Y});
}

TGIS_Coord TGIS_ShapeMultipoint::GetPoint(int /*part*/, int index) const {
  assert(index >= 0 && index < HeaderNumPoints() && "point index out of range");
  return ToMap(RawPoint(index));
}

TGIS_Coord3D TGIS_ShapeMultipoint::GetPoint3D(int part, int index) const {
  return Coord3DFromCoord(GetPoint(part, index));
}

int TGIS_ShapeMultipoint::GetNumPoints() const { return HasPoints() ? HeaderNumPoints() : 0; }
int TGIS_ShapeMultipoint::GetNumParts() const { return HasPoints() ? 1 : 0; }
int TGIS_ShapeMultipoint::GetPartSize(int /*part*/) const { return GetNumPoints(); }
void TGIS_ShapeMultipoint::Draw() {}
void TGIS_ShapeMultipoint::DrawSelected() {}

// ==== Arc ==========================================================================

TGIS_ShapeArc::TGIS_ShapeArc(const TGIS_Shape* source, TGIS_LayerVector* layer,
                             std::int32_t uid, bool borrowed,
                             std::span<const std::byte> record)
    : TGIS_Shape(TGIS_ShapeKind::Arc, source, layer, uid, borrowed, record) {}

std::unique_ptr<TGIS_Shape> TGIS_ShapeArc::CreateCopy() const {
  auto copy = std::make_unique<TGIS_ShapeArc>(this);
  copy->OwnGeometry();
  return copy;
}

double TGIS_ShapeArc::SymbolSize() const { return 0; }

void TGIS_ShapeArc::AddPoint(const TGIS_Coord& point) {
  BeginModify();
  MarkModified();
  const TGIS_Coord p = ToLayer(point);
  // A missing AddPart is supplied rather than writing into no block.
  if (!HasHeader() || !HasPoints() || HeaderNumParts() == 0) AddPart();
  const int count = HeaderNumPoints();
  const int size = count - HeaderPart(HeaderNumParts() - 1);
  if (size == 0) {
    // A part never holds a single point: the first one is stored twice
    // (a degenerate segment) until the second arrives.
    AddPointAt(-1, -1, p);
  } else if (size == 2 && CoordsEqual(RawPoint(count - 1), RawPoint(count - 2))) {
    DropLastPoint();
  }
  AddPointAt(-1, -1, p);
}

void TGIS_ShapeArc::AddPoint3D(const TGIS_Coord3D& point) { AddPoint({point.X, point.Y}); }

void TGIS_ShapeArc::AddPoints3D(std::span<const TGIS_Coord3D> points) {
  // A part's first points go the usual way (a lone first point is held
  // twice); from a part of two different points on, appending is plain.
  std::size_t i = 0;
  for (; i < points.size(); ++i) {
    if (HasHeader() && HasPoints() && HeaderNumParts() > 0) {
      const int count = HeaderNumPoints();
      const int size = count - HeaderPart(HeaderNumParts() - 1);
      if (size > 2 || (size == 2 && !CoordsEqual(RawPoint(count - 1), RawPoint(count - 2)))) break;
    }
    AddPoint3D(points[i]);
  }
  if (i == points.size()) return;
  BeginModify();
  MarkModified();
  AppendPoints3D(points.subspan(i));
}
void TGIS_ShapeArc::Draw() {}
void TGIS_ShapeArc::DrawSelected() {}
void TGIS_ShapeArc::DrawLabel() {}
TGIS_Coord TGIS_ShapeArc::DrawPreview(int /*width*/, int /*height*/, int /*margin*/) {
  return {0, 0};
}

// ==== Polygon ======================================================================

TGIS_ShapePolygon::TGIS_ShapePolygon(const TGIS_Shape* source, TGIS_LayerVector* layer,
                                     std::int32_t uid, bool borrowed,
                                     std::span<const std::byte> record)
    : TGIS_Shape(TGIS_ShapeKind::Polygon, source, layer, uid, borrowed, record) {}

std::unique_ptr<TGIS_Shape> TGIS_ShapePolygon::CreateCopy() const {
  auto copy = std::make_unique<TGIS_ShapePolygon>(this);
  copy->OwnGeometry();
  return copy;
}

double TGIS_ShapePolygon::SymbolSize() const { return 0; }

void TGIS_ShapePolygon::AddRingPoint(const TGIS_Coord& point, bool alwaysClose) {
  BeginModify();
  MarkModified();
  const TGIS_Coord p = ToLayer(point);
  if (!HasHeader() || !HasPoints() || HeaderNumParts() == 0) AddPart();
  const int count = HeaderNumPoints();
  const int start = HeaderPart(HeaderNumParts() - 1);
  if (count - start == 0) {
    // The first point is start and closing point of the ring.
    AddPointAt(-1, -1, p);
    AddPointAt(-1, -1, p);
    return;
  }
  DropLastPoint();  // the closing point
  AddPointAt(-1, -1, p);
  // The ring's first point, read raw (no conversion round trip).
  const TGIS_Coord first = RawPoint(start);
  if (alwaysClose || !CoordsEqual(p, first)) AddPointAt(-1, -1, first);
}

void TGIS_ShapePolygon::AddPoint(const TGIS_Coord& point) { AddRingPoint(point, false); }
void TGIS_ShapePolygon::AddPoint3D(const TGIS_Coord3D& point) { AddPoint({point.X, point.Y}); }
void TGIS_ShapePolygon::AddPointClosing(const TGIS_Coord& point) { AddRingPoint(point, true); }
void TGIS_ShapePolygon::AddPointClosing3D(const TGIS_Coord3D& point) {
  AddPointClosing({point.X, point.Y});
}
void TGIS_ShapePolygon::Draw() {}
void TGIS_ShapePolygon::DrawSelected() {}
TGIS_Coord TGIS_ShapePolygon::DrawPreview(int /*width*/, int /*height*/, int /*margin*/) {
  return {0, 0};
}

}  // namespace cadport
