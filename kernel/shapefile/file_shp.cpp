#include "kernel/shapefile/file_shp.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

#include "kernel/shapefile/mapped_stream.h"

namespace cadport {

namespace {

constexpr int32_t kFileCode = 9994;
constexpr int32_t kVersion = 1000;
constexpr int64_t kRecordHeaderSize = 8;

std::span<const std::byte> MappedBytes(const TGIS_MappedStream& s) {
  return {reinterpret_cast<const std::byte*>(s.Memory()), size_t(s.Size())};
}

}  // namespace

// ---- TGIS_FileSHPInternal

TGIS_FileSHPInternal::TGIS_FileSHPInternal(const std::string& path, bool writable)
    : path_(path) {
  if (writable) {
    writer_ = std::make_unique<FileWriter>(path);
  } else {
    stream_ = std::make_unique<TGIS_MappedStream>(path, false);
    cursor_ = ByteCursor(MappedBytes(*stream_), path);
  }
}

TGIS_FileSHPInternal::TGIS_FileSHPInternal(std::span<const std::byte> bytes, std::string name)
    : path_(name), cursor_(bytes, std::move(name)) {}

TGIS_FileSHPInternal::~TGIS_FileSHPInternal() = default;

int64_t TGIS_FileSHPInternal::Position() const {
  return writer_ ? int64_t(writer_->Size()) : int64_t(cursor_.Position());
}

void TGIS_FileSHPInternal::SetPosition(int64_t position) {
  // Writers only ever append; a reader's position is validated by its reads.
  if (!writer_) cursor_.Seek(uint64_t(position));
}

int64_t TGIS_FileSHPInternal::Size() const {
  return writer_ ? int64_t(writer_->Size()) : int64_t(cursor_.Size());
}

void TGIS_FileSHPInternal::ReadHeader() {
  cursor_.Seek(0);
  Header.FileCode = int32_t(cursor_.BE32());
  for (int32_t& r : Header.Reserved) r = int32_t(cursor_.BE32());
  Header.FileLength = int64_t(int32_t(cursor_.BE32())) * 2;
  Header.Version = int32_t(cursor_.LE32());
  Header.ShapeType = int32_t(cursor_.LE32());
  Header.Bounds.XMin = cursor_.LEDouble();
  Header.Bounds.YMin = cursor_.LEDouble();
  Header.Bounds.XMax = cursor_.LEDouble();
  Header.Bounds.YMax = cursor_.LEDouble();
  for (int32_t& z : Header.ZMRange) z = int32_t(cursor_.BE32());
}

void TGIS_FileSHPInternal::WriteHeader() {
  if (!writer_) return;
  std::array<std::byte, kHeaderSize> b{};
  // The placeholder written first is patched later, so its length is that of
  // the header alone.
  const int64_t size = std::max<int64_t>(int64_t(writer_->Size()), kHeaderSize);
  StoreBE32(&b[0], uint32_t(kFileCode));
  for (size_t i = 0; i < Header.Reserved.size(); ++i)
    StoreBE32(&b[4 + 4 * i], uint32_t(Header.Reserved[i]));
  StoreBE32(&b[24], uint32_t(size / 2));
  StoreLE32(&b[28], uint32_t(kVersion));
  StoreLE32(&b[32], uint32_t(Header.ShapeType));
  StoreLEDouble(&b[36], Header.Bounds.XMin);
  StoreLEDouble(&b[44], Header.Bounds.YMin);
  StoreLEDouble(&b[52], Header.Bounds.XMax);
  StoreLEDouble(&b[60], Header.Bounds.YMax);
  for (size_t i = 0; i < Header.ZMRange.size(); ++i)
    StoreBE32(&b[68 + 4 * i], uint32_t(Header.ZMRange[i]));
  Header.FileCode = kFileCode;
  Header.Version = kVersion;
  Header.FileLength = size / 2 * 2;
  if (writer_->Size() == 0)
    writer_->Write(b.data(), b.size());
  else
    writer_->PatchAt(0, b.data(), b.size());
}

void TGIS_FileSHPInternal::Close() {
  if (writer_) {
    writer_->Close();
  } else if (stream_) {
    cursor_ = ByteCursor({}, path_);
    auto s = std::move(stream_);
    s->Close();
  }
}

void TGIS_FileSHPInternal::Abandon() noexcept {
  if (writer_) writer_->Abandon();
}

void TGIS_FileSHPInternal::CheckRoom(int64_t n) const {
  if (n < 0 || n > kMaxFileSize - int64_t(writer_->Size())) ThrowWriteError(path_, EFBIG);
}

int32_t TGIS_FileSHPInternal::ShapeTypeOfKind(TGIS_ShapeKind kind) {
  switch (kind) {
    case TGIS_ShapeKind::Point: return 1;
    case TGIS_ShapeKind::MultiPoint: return 8;
    case TGIS_ShapeKind::Arc: return 3;
    case TGIS_ShapeKind::Polygon: return 5;
    default: return 1;
  }
}

TGIS_ShapeKind TGIS_FileSHPInternal::KindOfShapeType(int32_t shapeType) {
  switch (shapeType) {
    case 1: case 11: case 21: return TGIS_ShapeKind::Point;
    case 8: case 18: case 28: return TGIS_ShapeKind::MultiPoint;
    case 3: case 13: case 23: return TGIS_ShapeKind::Arc;
    case 5: case 15: case 25: return TGIS_ShapeKind::Polygon;
    default: return TGIS_ShapeKind::Unknown;
  }
}

void TGIS_FileSHPInternal::WriteRecordHeader(const TGIS_ShpRecordHeader& header) {
  CheckRoom(kRecordHeaderSize + int64_t(header.ContentLength) * 2);
  std::array<std::byte, 12> b{};
  StoreBE32(&b[0], uint32_t(header.RecordNumber));
  StoreBE32(&b[4], uint32_t(header.ContentLength));
  // A record without geometry is a null shape: peers reject a typed record
  // that lacks the geometry its type promises.
  const int32_t type = header.ContentLength <= 2 ? 0 : ShapeTypeOfKind(header.Kind);
  StoreLE32(&b[8], uint32_t(type));
  writer_->Write(b.data(), b.size());
}

void TGIS_FileSHPInternal::WriteShapeGeometry(const TGIS_Shape& shape) {
  const int64_t headerSize = shape.GeometryHeaderSize();
  const int64_t pointsSize = shape.GeometryPointsSize();
  std::span<const std::byte> h;
  std::span<const std::byte> p;
  if (headerSize > 0) {
    h = shape.GeometryHeader();
    assert(h.size() >= size_t(headerSize) && "header block smaller than reported");
    h = h.first(size_t(headerSize));
    writer_->Write(h.data(), h.size());
  }
  if (pointsSize > 0) {
    p = shape.GeometryPoints();
    assert(p.size() >= size_t(pointsSize) && "points block smaller than reported");
    p = p.first(size_t(pointsSize));
    if (shape.ShapeKind() != TGIS_ShapeKind::Polygon || !WriteOrientedPolygonPoints(h, p))
      writer_->Write(p.data(), p.size());
  }
}

namespace {

TGIS_Coord PointAt(const std::byte* points, int32_t i) {
  const std::byte* q = points + size_t(i) * 16;
  return {LoadLEDouble(q), LoadLEDouble(q + 8)};
}

// Neither zero nor NaN.
bool HasArea(double area) { return area > 0 || area < 0; }

// Signed area of the ring of Count (>= 1) points at Points, closed
// implicitly; positive when it runs counter-clockwise.  Also its box.
double RingArea(const std::byte* points, int32_t count, TGIS_Bounds& box) {
  const TGIS_Coord origin = PointAt(points, 0);
  box = {origin.X, origin.Y, origin.X, origin.Y};
  // Relative to the first point, so that large coordinates (UTM) keep
  // their precision; the closing edge back to the origin adds nothing.
  double twice = 0;
  double px = 0;
  double py = 0;
  for (int32_t i = 1; i < count; ++i) {
    const TGIS_Coord c = PointAt(points, i);
    box.XMin = std::min(box.XMin, c.X);
    box.YMin = std::min(box.YMin, c.Y);
    box.XMax = std::max(box.XMax, c.X);
    box.YMax = std::max(box.YMax, c.Y);
    const double x = c.X - origin.X;
    const double y = c.Y - origin.Y;
    twice += px * y - x * py;
    px = x;
    py = y;
  }
  return twice / 2;
}

enum class Where { Outside, Inside, Boundary };

// Where Q lies against the ring of Count points at Points (closed
// implicitly), by the even-odd rule.  The crossing test uses the same cross
// product as the boundary test, so the two never disagree.
Where Locate(TGIS_Coord q, const std::byte* points, int32_t count) {
  bool inside = false;
  TGIS_Coord a = PointAt(points, count - 1);
  for (int32_t i = 0; i < count; ++i) {
    const TGIS_Coord b = PointAt(points, i);
    const double cross = (b.X - a.X) * (q.Y - a.Y) - (b.Y - a.Y) * (q.X - a.X);
    if (cross == 0 && q.X >= std::min(a.X, b.X) && q.X <= std::max(a.X, b.X) &&
        q.Y >= std::min(a.Y, b.Y) && q.Y <= std::max(a.Y, b.Y))
      return Where::Boundary;
    // An edge crossing the horizontal through Q (half-open in Y) to its right.
    if ((a.Y > q.Y) != (b.Y > q.Y) && (b.Y > a.Y ? cross > 0 : cross < 0)) inside = !inside;
    a = b;
  }
  return inside ? Where::Inside : Where::Outside;
}

}  // namespace

bool TGIS_FileSHPInternal::WriteOrientedPolygonPoints(std::span<const std::byte> h,
                                                     std::span<const std::byte> p) {
  if (h.size() < 40) return false;
  const int32_t numParts = int32_t(LoadLE32(&h[32]));
  const int32_t numPoints = int32_t(LoadLE32(&h[36]));
  if (numParts <= 0 || numPoints <= 0) return false;
  if (h.size() != 40 + 4 * size_t(numParts) || p.size() != 16 * size_t(numPoints)) return false;

  // One pass: the rings, their signed areas and boxes.
  rings_.clear();
  for (int32_t i = 0; i < numParts; ++i) {
    RingInfo r;
    r.First = int32_t(LoadLE32(&h[40 + 4 * size_t(i)]));
    const int32_t next = i + 1 < numParts ? int32_t(LoadLE32(&h[44 + 4 * size_t(i)])) : numPoints;
    if ((i == 0 && r.First != 0) || r.First < 0 || next < r.First || next > numPoints) return false;
    r.Count = next - r.First;
    if (r.Count >= 3) r.Area = RingArea(p.data() + 16 * size_t(r.First), r.Count, r.Box);
    rings_.push_back(r);
  }

  bool any = false;
  if (numParts == 1) {
    rings_[0].Reverse = rings_[0].Area > 0;
    any = rings_[0].Reverse;
  } else {
    for (RingInfo& r : rings_) {
      if (!HasArea(r.Area)) continue;
      int depth = 0;
      for (const RingInfo& o : rings_) {
        if (&o == &r || !HasArea(o.Area) || !BoundsOverlap(r.Box, o.Box)) continue;
        // The first point of R off O's boundary decides; a ring lying wholly
        // on O's boundary is not inside it.
        const std::byte* outer = p.data() + 16 * size_t(o.First);
        for (int32_t k = 0; k < r.Count; ++k) {
          const Where w = Locate(PointAt(p.data(), r.First + k), outer, o.Count);
          if (w == Where::Boundary) continue;
          if (w == Where::Inside) ++depth;
          break;
        }
      }
      r.Reverse = depth % 2 == 1 ? r.Area < 0 : r.Area > 0;
      any = any || r.Reverse;
    }
  }
  if (!any) return false;

  for (const RingInfo& r : rings_) {
    const std::byte* first = p.data() + 16 * size_t(r.First);
    const size_t bytes = 16 * size_t(r.Count);
    if (!r.Reverse) {
      if (bytes > 0) writer_->Write(first, bytes);
      continue;
    }
    reversed_.resize(bytes);
    for (int32_t k = 0; k < r.Count; ++k)
      std::memcpy(&reversed_[16 * size_t(k)], first + 16 * size_t(r.Count - 1 - k), 16);
    writer_->Write(reversed_.data(), bytes);
  }
  return true;
}

// ---- TGIS_FileSHP

TGIS_ShpRecordHeader TGIS_FileSHP::ReadRecordHeader() {
  ByteCursor& c = Cursor();
  const int64_t start = int64_t(c.Position());
  TGIS_ShpRecordHeader h;
  h.RecordNumber = int32_t(c.BE32());
  h.ContentLength = int32_t(c.BE32());
  // The content (shape type included) must lie inside the file.
  if (h.ContentLength < 2 || uint64_t(h.ContentLength) * 2 > c.Remaining()) {
    c.Seek(uint64_t(start));
    c.Fail();
  }
  currentType_ = int32_t(c.LE32());
  h.Kind = h.ContentLength == 2 ? TGIS_ShapeKind::Unknown : KindOfShapeType(currentType_);
  recordStart_ = start;
  current_ = h;
  return h;
}

const std::byte* TGIS_FileSHP::RecordGeometry() {
  ByteCursor& c = Cursor();
  const uint64_t contentStart = uint64_t(recordStart_) + kRecordHeaderSize;
  const uint64_t geometrySize = uint64_t(current_.ContentLength) * 2 - 4;
  c.Seek(contentStart + 4);
  std::span<const std::byte> geometry = c.Bytes().subspan(size_t(contentStart + 4), size_t(geometrySize));
  if (current_.Kind != TGIS_ShapeKind::Unknown && !GeometryFits(current_.Kind, geometry)) {
    c.Seek(uint64_t(recordStart_));
    c.Fail();
  }
  c.Seek(contentStart + 4 + geometrySize);
  return geometry.data();
}

bool TGIS_FileSHP::GeometryFits(TGIS_ShapeKind kind, std::span<const std::byte> g) {
  const uint64_t size = g.size();
  switch (kind) {
    case TGIS_ShapeKind::Point:
      return size >= 16;
    case TGIS_ShapeKind::MultiPoint: {
      if (size < 36) return false;
      const int32_t numPoints = int32_t(LoadLE32(&g[32]));
      return numPoints >= 0 && uint64_t(numPoints) <= (size - 36) / 16;
    }
    case TGIS_ShapeKind::Arc:
    case TGIS_ShapeKind::Polygon: {
      if (size < 40) return false;
      const int32_t numParts = int32_t(LoadLE32(&g[32]));
      const int32_t numPoints = int32_t(LoadLE32(&g[36]));
      if (numParts < 0 || numPoints < 0) return false;
      // 64-bit arithmetic: 4 * parts + 16 * points cannot wrap.
      if (40 + 4 * uint64_t(numParts) + 16 * uint64_t(numPoints) > size) return false;
      if (numParts == 0 || numPoints == 0) return true;  // an empty shape
      int32_t previous = 0;
      for (int32_t i = 0; i < numParts; ++i) {
        const int32_t first = int32_t(LoadLE32(&g[40 + 4 * size_t(i)]));
        if (i == 0 ? first != 0 : first < previous) return false;
        if (first >= numPoints) return false;
        previous = first;
      }
      return true;
    }
    default:
      return true;
  }
}

// ---- TGIS_FileSHX

void TGIS_FileSHX::ReadHeader() {
  TGIS_FileSHPInternal::ReadHeader();
  const int64_t records = (Size() - kHeaderSize) / kIndexRecordSize;
  recordCount_ = int32_t(std::min<int64_t>(records, INT32_MAX));
}

TGIS_FileSHX::IndexRecord TGIS_FileSHX::ReadIndexRecord(int32_t n, int64_t mainSize) {
  ByteCursor& c = Cursor();
  if (n < 1 || n > recordCount_) c.Fail();
  c.Seek(uint64_t(kHeaderSize) + uint64_t(n - 1) * kIndexRecordSize);
  IndexRecord r;
  r.Offset = int64_t(int32_t(c.BE32())) * 2;
  r.ContentLength = int32_t(c.BE32());
  if (r.Offset < kHeaderSize || r.Offset > mainSize - kRecordHeaderSize) c.Fail();
  return r;
}

void TGIS_FileSHX::WriteIndexRecord(int64_t offsetInBytes, const TGIS_ShpRecordHeader& header) {
  CheckRoom(kIndexRecordSize);
  if (offsetInBytes / 2 > INT32_MAX) ThrowWriteError(Path(), EFBIG);
  std::array<std::byte, kIndexRecordSize> b{};
  StoreBE32(&b[0], uint32_t(offsetInBytes / 2));
  StoreBE32(&b[4], uint32_t(header.ContentLength));
  Writer().Write(b.data(), b.size());
}

}  // namespace cadport
