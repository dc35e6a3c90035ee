// Shapes: one geographic feature of a vector layer (point, multipoint,
// polyline, polygon) with its uid, state flags and attribute values.
//
// Geometry lives in two blocks whose layout is exactly the content of a
// shapefile record after the 4-byte shape type (little-endian):
//
//   header block (MultiPoint)      header block (Arc, Polygon)
//     0  XMin YMin XMax YMax (f64)   0  XMin YMin XMax YMax (f64)
//    32  NumPoints (i32)            32  NumParts (i32)
//                                   36  NumPoints (i32)
//                                   40  Parts[NumParts] (i32, first point)
//   point block: NumPoints pairs of X, Y (f64), 16 bytes each.
//   A Point has no header block and a 16-byte point block.
//
// The shapefile writer copies GeometryHeader() then GeometryPoints()
// verbatim; the reader points a shape straight into a mapped record
// (borrowed geometry, never freed nor written; OwnGeometry() copies it
// before any change).
//
// Who implements what (the shape and field code meet in this header):
//   shape.cpp, shape_measures.cpp  - geometry, building, reading, measures,
//                                    distances, extent tests, clipping.
//   shape_fields.cpp (field code)  - the attribute operations marked
//                                    "field code" below: GetField,
//                                    GetFieldRaw, SetField, CopyFields and the
//                                    attribute-list helpers CloneAttributes /
//                                    DestroyAttributes (TGIS_AttributesDeleter).
// A shape's attribute values (TGIS_VariantList, kernel/vector/field.h) are kept
// in attributes_, one per field index, allocated on the first SetField; the
// shape code frees them and copies them (CloneAttributes) when a shape is
// built from a source shape (CreateCopy).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "kernel/base/types.h"
#include "kernel/layer/base_object.h"
#include "kernel/vector/field.h"

namespace cadport {

class TGIS_LayerVector;          // kernel/vector/layer_vector.h
class TGIS_BlockArena;           // kernel/vector/block_arena.h
class TGIS_ParamsSectionVector;  // drawing parameters (not built yet)

// Shape kinds. The numbers are stored and compared (and map to shapefile
// types); 1 is never used. In filters Unknown means any kind.
enum class TGIS_ShapeKind : std::uint8_t {
  Unknown = 0,
  Point = 2,
  MultiPoint = 3,
  Arc = 4,
  Polygon = 5,
};

// Bit of a kind in a set of allowed kinds (bit k = kind k); kinds above 7
// are never in a set and give 0.
constexpr unsigned ShapeKindBit(TGIS_ShapeKind kind) {
  return static_cast<unsigned>(kind) <= 7 ? 1u << static_cast<unsigned>(kind) : 0u;
}

// Owner of a shape's attribute list; the body lives with the field code.
struct TGIS_AttributesDeleter {
  void operator()(TGIS_VariantList* list) const noexcept;
};
using TGIS_AttributesPtr = std::unique_ptr<TGIS_VariantList, TGIS_AttributesDeleter>;

// Root of the shape classes; no behaviour of its own.
class TGIS_ShapeAbstract : public TGIS_BaseObject {};

class TGIS_Shape : public TGIS_ShapeAbstract {
 public:
  // Byte sizes of the geometry layout.
  static constexpr int kBoundsSize = 32;
  static constexpr int kMultiPointHeaderSize = 36;
  static constexpr int kPolyHeaderSize = 40;  // + 4 x NumParts
  static constexpr int kPointSize = 16;

  TGIS_Shape(const TGIS_Shape&) = delete;
  TGIS_Shape& operator=(const TGIS_Shape&) = delete;
  ~TGIS_Shape() override;

  // ---- state ---------------------------------------------------------
  std::int32_t Uid() const { return uid_; }
  void SetUid(std::int32_t uid) { uid_ = uid; }
  TGIS_ShapeKind ShapeKind() const { return kind_; }
  // Owning layer, not owned (the layer outlives its shapes); may be nil.
  TGIS_LayerVector* Layer() const { return layer_; }
  void SetLayer(TGIS_LayerVector* layer) { layer_ = layer; }
  bool IsEmpty() const { return flags_ & kEmpty; }
  bool Borrowed() const { return flags_ & kBorrowed; }
  int LockLevel() const { return lockLevel_; }
  bool Deleted() const { return flags_ & kDeleted; }
  void SetDeleted(bool on) { SetFlag(kDeleted, on); }
  bool Hidden() const { return flags_ & kHidden; }
  void SetHidden(bool on) { SetFlag(kHidden, on); }
  bool Selected() const { return flags_ & kSelected; }
  void SetSelected(bool on) { SetFlag(kSelected, on); }
  bool TopologyValid() const { return flags_ & kTopologyValid; }
  void SetTopologyValid(bool on) { SetFlag(kTopologyValid, on); }
  bool Indexed() const { return flags_ & kIndexed; }
  void SetIndexed(bool on) { SetFlag(kIndexed, on); }
  // Extent under which the spatial-index entry was stored; kept out of
  // line (most shapes are never indexed). (0,0,0,0) until set.
  TGIS_Bounds IndexedExtent() const;
  void SetIndexedExtent(const TGIS_Bounds& extent);
  // Attribute values by field index, nil until the first SetField.
  const TGIS_VariantList* Attributes() const { return attributes_.get(); }
  // Ask the processor to fetch what a scan reads of the shape ahead of its
  // use: the geometry blocks' starts and the attribute list, then its values.
  void PrefetchBlocks() const noexcept {
    __builtin_prefetch(header_);
    __builtin_prefetch(points_);
    __builtin_prefetch(attributes_.get());
  }
  void PrefetchValues() const noexcept {
    if (attributes_) attributes_->Prefetch();
  }
  TGIS_VariantList* Attributes() { return attributes_.get(); }
  // The shape's own drawing parameters; shapes carry none in this build.
  TGIS_ParamsSectionVector* Params() const { return nullptr; }

  // Raw geometry blocks, sized GeometryHeaderSize() / GeometryPointsSize().
  std::span<const std::byte> GeometryHeader() const;
  std::span<const std::byte> GeometryPoints() const;

  // ---- virtual operations, in their fixed order ----------------------
  // Bounds from the header (Point: the point twice); NullBounds without
  // geometry or when XMin is NaN.
  virtual TGIS_Bounds Extent() const;
  // Bounds of the points as GetPoint returns them; equal to Extent() as long
  // as the viewer has no coordinate system (this kernel has none).
  virtual TGIS_Bounds ProjectedExtent() const;
  // Rendering: without drawing parameters these are Extent() and 0.
  virtual TGIS_Bounds PaintExtent() const;
  virtual TGIS_Bounds SymbolExtent() const;
  virtual double SymbolSize() const;
  // New shape cut to the extent (nil when nothing is left).
  virtual std::unique_ptr<TGIS_Shape> Clip(const TGIS_Bounds& extent,
                                           bool forDisplay) const = 0;
  // New shape of the same class with independent owned geometry, same
  // layer and uid.
  virtual std::unique_ptr<TGIS_Shape> CreateCopy() const = 0;
  virtual void Lock(int level);
  virtual void Unlock();
  virtual void AddPoint(const TGIS_Coord& point) = 0;
  virtual void AddPoint3D(const TGIS_Coord3D& point) = 0;
  // The points appended as by AddPoint3D one after the other; builders with
  // many points at hand take this way.
  virtual void AddPoints3D(std::span<const TGIS_Coord3D> points);
  // Adds a point at distance and angle (radians, from +Y towards +X) from
  // the last point; False when the part has too few points.
  virtual bool AddPointPolar(bool absolute, double distance, double angle);
  virtual void AddPart();
  // Room for count more points without growing the point block on the way:
  // a hint for builders that know the count in advance.
  void ReservePoints(int count);
  // New geometry blocks of this shape come from its layer's block arena
  // while the layer keeps one open (TGIS_LayerVector::OpenBlockArena);
  // set by the layer on the shapes it creates.
  void UseLayerArena() { SetFlag(kArenaEligible, true); }
  // Whether the geometry blocks lie in a layer's arena (for tests).
  bool BlocksInArena() const { return flags_ & (kArenaHeader | kArenaPoints); }
  virtual TGIS_Coord GetPoint(int part, int index) const;
  virtual TGIS_Coord3D GetPoint3D(int part, int index) const;
  virtual TGIS_Coord GetFirstPoint() const;
  virtual TGIS_Coord3D GetFirstPoint3D() const;
  virtual TGIS_Coord GetLastPoint() const;
  virtual TGIS_Coord3D GetLastPoint3D() const;
  virtual int GetNumPoints() const;
  virtual int GetNumParts() const;
  virtual int GetPartSize(int part) const;
  virtual void NearestVertex(const TGIS_Coord& point, double& distance,
                             TGIS_Coord& vertex, double tolerance) const;
  virtual void NearestVertex3D(const TGIS_Coord3D& point, double& distance,
                               TGIS_Coord3D& vertex, double tolerance) const;
  virtual void Reset();
  virtual void DropParams();
  // Rendering hooks: no renderer in this build, they do nothing.
  virtual void Flash(int times, int delay);
  virtual void Draw();
  virtual void DrawVertices();
  virtual void DrawSelected();
  virtual void Invalidate(int flag);
  virtual void DrawLabel();
  virtual void DrawChart();
  // Field code (shape_fields.cpp).
  virtual TGIS_Variant GetField(std::string_view name) const;
  virtual TGIS_Variant GetFieldRaw(std::string_view name) const;
  // GetField / GetFieldRaw of the layer's field at index (from FindField on
  // Layer(), not a virtual field name), without looking the name up again.
  TGIS_Variant GetFieldAt(std::int32_t index) const;
  TGIS_Variant GetFieldRawAt(std::int32_t index) const;
  // Measures and tests (shape_measures.cpp).
  virtual double Distance(const TGIS_Coord& point, double limit) const;
  virtual double DistanceToPart(const TGIS_Coord& point, int part,
                                TGIS_Coord& nearest, double limit) const = 0;
  virtual TGIS_Coord Centroid() const;
  virtual TGIS_Coord LabelPoint() const;
  virtual double Area() const;
  virtual double Length() const;
  virtual double PartLength(int part) const;
  // mode 0: every vertex, 1: the centroid, 2: any vertex within radius.
  virtual bool IsWithinDistance(const TGIS_Coord& point, int mode,
                                double radius) const;
  // mode 0: inside, 1: centroid inside, 2: some vertex inside.
  virtual bool IsInsideExtent(const TGIS_Bounds& extent, int mode) const;
  // mode 0: this shape lies within other ("**F"), 1: its centroid does,
  // 2: the interiors meet ("T").
  virtual bool IsInsideShape(const TGIS_Shape& other, int mode) const;
  virtual bool Intersects(const TGIS_Shape& other) const;
  virtual std::vector<TGIS_Coord> Intersections(const TGIS_Shape& other) const;
  std::unique_ptr<TGIS_Shape> ClipToExtent(const TGIS_Bounds& extent) const;
  // (The WKT / WKB / GDO encodings join here when they are built.)
  // Replaces the geometry by a copy of header block + point block (Point:
  // point block only); raises GIS_RS_ERR_GEOMETRY for a malformed blob.
  virtual void ImportGeometryBlob(std::span<const std::byte> blob);
  // Header block then point block; empty for an empty shape.
  virtual std::vector<std::byte> ExportGeometryBlob() const;
  // Rendering: scale factors of a preview; nothing is drawn, (0, 0).
  virtual TGIS_Coord DrawPreview(int width, int height, int margin);

  // ---- non-virtual operations ----------------------------------------
  // Body of the constructor; also re-points a live shape at another
  // record. record: shapefile record content after the shape type (empty
  // span = none). Raises GIS_RS_ERR_GEOMETRY when the counts in the record
  // do not fit its size.
  void Reinit(const TGIS_Shape* source, std::span<const std::byte> record,
              TGIS_LayerVector* layer, std::int32_t uid, bool borrowed);
  void AttachGeometry(std::span<const std::byte> record);
  void OwnGeometry();
  int GeometryHeaderSize() const;
  int GeometryPointsSize() const;
  void MarkModified();
  void Delete();
  // Field code (shape_fields.cpp).
  void SetField(std::string_view name, const TGIS_Variant& value);
  // The same for the field at index (0 <= index < the layer's FieldsCount).
  void SetFieldAt(std::int32_t index, const TGIS_Variant& value);
  void CopyFields(const TGIS_Shape& source);

 protected:
  TGIS_Shape(TGIS_ShapeKind kind, const TGIS_Shape* source,
             TGIS_LayerVector* layer, std::int32_t uid, bool borrowed,
             std::span<const std::byte> record);

  // Header fields (little-endian in the block).
  int HeaderNumParts() const;
  int HeaderNumPoints() const;  // Arc/Polygon: offset 36, MultiPoint: 32
  int HeaderPart(int part) const;
  TGIS_Bounds HeaderBounds() const;
  void SetHeaderBounds(const TGIS_Bounds& bounds);
  TGIS_Coord RawPoint(int index) const;  // layer coordinates
  void SetRawPoint(int index, const TGIS_Coord& point);
  void SetHeaderNumParts(int count);
  void SetHeaderNumPoints(int count);
  void SetHeaderPart(int part, int firstPoint);
  bool HasHeader() const { return header_ != nullptr; }
  bool HasPoints() const { return points_ != nullptr; }

  // Map <-> layer coordinates under the current lock level.
  TGIS_Coord ToLayer(const TGIS_Coord& point) const;
  TGIS_Coord ToMap(const TGIS_Coord& point) const;

  // Building helpers shared by the kinds.
  void BeginModify();                 // OwnGeometry, TopologyValid := False
  void EnsureHeader(int extraBytes);  // owned header room for extraBytes more
  void EnsurePoints(int extraPoints);
  void AllocateEmpty();               // fresh blocks, bounds (0,0,0,0)
  void ExtendBounds(const TGIS_Coord& point);  // lock level 0 rule
  void AddPointAt(int part, int index, const TGIS_Coord& point);
  // Appends to the last part as AddPointAt would point by point; the part
  // must exist.
  void AppendPoints3D(std::span<const TGIS_Coord3D> points);
  void DropLastPoint();
  void RecomputeEmpty();
  void RecomputeBounds();
  void GrowLayerExtent(const TGIS_Bounds& bounds);
  void UpdateLayerIndex();
  bool PlaceholderBounds() const { return flags_ & kPlaceholderBounds; }
  void SetPlaceholderBounds(bool on) { SetFlag(kPlaceholderBounds, on); }

  // Clipping helpers used by the kinds (shape_measures.cpp).
  std::unique_ptr<TGIS_Shape> ClipLines(const TGIS_Bounds& extent) const;
  std::unique_ptr<TGIS_Shape> ClipRings(const TGIS_Bounds& extent) const;

 private:
  enum Flag : std::uint16_t {
    kEmpty = 1u << 0,
    kBorrowed = 1u << 1,
    kDeleted = 1u << 2,
    kHidden = 1u << 3,
    kSelected = 1u << 4,
    kTopologyValid = 1u << 5,
    kIndexed = 1u << 6,
    kPlaceholderBounds = 1u << 7,  // bounds are AddPart's (0,0,0,0)
    kArenaEligible = 1u << 8,      // new blocks from the layer's open arena
    kArenaHeader = 1u << 9,        // the header block lies in an arena
    kArenaPoints = 1u << 10,       // the point block lies in an arena
  };
  void SetFlag(Flag flag, bool on) {
    flags_ = on ? static_cast<std::uint16_t>(flags_ | flag)
                : static_cast<std::uint16_t>(flags_ & ~flag);
  }
  void FreeOwned() noexcept;
  void CopyBlocksToOwned();
  // The arena new blocks come from, or nullptr (then malloc).
  TGIS_BlockArena* Arena() const;
  // The block grown (or made, when block is nil) to capacity bytes, its
  // first used bytes kept: in place where it can, else copied to a new one
  // (the arena's or malloc's); arenaFlag tells where it lies.
  std::byte* GrowBlock(const std::byte* block, std::uint32_t used, std::uint32_t capacity,
                       Flag arenaFlag);
  void ShrinkToFit() noexcept;  // owned blocks trimmed to their content
  std::byte* MutableHeader();
  std::byte* MutablePoints();
  // Field code (shape_fields.cpp): value-by-value copy and release of an
  // attribute list.
  static TGIS_AttributesPtr CloneAttributes(const TGIS_VariantList& source);
  static void DestroyAttributes(TGIS_VariantList* list) noexcept;
  friend struct TGIS_AttributesDeleter;

  // Compact per-shape state (64 bytes with the vtable pointer).
  TGIS_LayerVector* layer_ = nullptr;
  const std::byte* header_ = nullptr;  // owned (malloc) unless Borrowed
  const std::byte* points_ = nullptr;

 protected:
  // Attribute values, nil until the first SetField (field code).
  TGIS_AttributesPtr attributes_;

 private:
  std::unique_ptr<TGIS_Bounds> indexedExtent_;
  std::uint32_t headerCapacity_ = 0;  // bytes; 0 for borrowed blocks
  std::uint32_t pointsCapacity_ = 0;
  std::int32_t uid_ = 0;
  TGIS_ShapeKind kind_;
  std::uint8_t lockLevel_ = 0;
  std::uint16_t flags_ = kEmpty;

  // The kinds read each other's blocks (clipping, relation tests).
  friend class TGIS_ShapePoint;
  friend class TGIS_ShapeMultipoint;
  friend class TGIS_ShapeArc;
  friend class TGIS_ShapePolygon;
};

class TGIS_ShapePoint final : public TGIS_Shape {
 public:
  explicit TGIS_ShapePoint(const TGIS_Shape* source = nullptr,
                           TGIS_LayerVector* layer = nullptr,
                           std::int32_t uid = 0, bool borrowed = false,
                           std::span<const std::byte> record = {});
  TGIS_Bounds Extent() const override;
  TGIS_Bounds SymbolExtent() const override;
  double SymbolSize() const override;
  std::unique_ptr<TGIS_Shape> Clip(const TGIS_Bounds& extent,
                                   bool forDisplay) const override;
  std::unique_ptr<TGIS_Shape> CreateCopy() const override;
  void Unlock() override;
  void AddPoint(const TGIS_Coord& point) override;
  void AddPoint3D(const TGIS_Coord3D& point) override;
  void AddPart() override;
  TGIS_Coord GetPoint(int part, int index) const override;
  TGIS_Coord3D GetPoint3D(int part, int index) const override;
  int GetNumPoints() const override;
  int GetNumParts() const override;
  int GetPartSize(int part) const override;
  void Draw() override;
  void DrawSelected() override;
  double DistanceToPart(const TGIS_Coord& point, int part, TGIS_Coord& nearest,
                        double limit) const override;
  TGIS_Coord Centroid() const override;
  double Area() const override;
  double Length() const override;
  double PartLength(int part) const override;
  bool IsWithinDistance(const TGIS_Coord& point, int mode,
                        double radius) const override;
  bool IsInsideShape(const TGIS_Shape& other, int mode) const override;
  bool Intersects(const TGIS_Shape& other) const override;
  std::vector<TGIS_Coord> Intersections(const TGIS_Shape& other) const override;
};

class TGIS_ShapeMultipoint final : public TGIS_Shape {
 public:
  explicit TGIS_ShapeMultipoint(const TGIS_Shape* source = nullptr,
                                TGIS_LayerVector* layer = nullptr,
                                std::int32_t uid = 0, bool borrowed = false,
                                std::span<const std::byte> record = {});
  TGIS_Bounds SymbolExtent() const override;
  double SymbolSize() const override;
  std::unique_ptr<TGIS_Shape> Clip(const TGIS_Bounds& extent,
                                   bool forDisplay) const override;
  std::unique_ptr<TGIS_Shape> CreateCopy() const override;
  void AddPoint(const TGIS_Coord& point) override;
  void AddPoint3D(const TGIS_Coord3D& point) override;
  void AddPart() override;
  TGIS_Coord GetPoint(int part, int index) const override;
  TGIS_Coord3D GetPoint3D(int part, int index) const override;
  int GetNumPoints() const override;
  int GetNumParts() const override;
  int GetPartSize(int part) const override;
  void Draw() override;
  void DrawSelected() override;
  double DistanceToPart(const TGIS_Coord& point, int part, TGIS_Coord& nearest,
                        double limit) const override;
  TGIS_Coord Centroid() const override;
  double Area() const override;
  double Length() const override;
  double PartLength(int part) const override;
  bool IsWithinDistance(const TGIS_Coord& point, int mode,
                        double radius) const override;
  bool IsInsideShape(const TGIS_Shape& other, int mode) const override;
  bool Intersects(const TGIS_Shape& other) const override;
  std::vector<TGIS_Coord> Intersections(const TGIS_Shape& other) const override;
};

// Polyline.
class TGIS_ShapeArc final : public TGIS_Shape {
 public:
  explicit TGIS_ShapeArc(const TGIS_Shape* source = nullptr,
                         TGIS_LayerVector* layer = nullptr,
                         std::int32_t uid = 0, bool borrowed = false,
                         std::span<const std::byte> record = {});
  double SymbolSize() const override;
  std::unique_ptr<TGIS_Shape> Clip(const TGIS_Bounds& extent,
                                   bool forDisplay) const override;
  std::unique_ptr<TGIS_Shape> CreateCopy() const override;
  void AddPoint(const TGIS_Coord& point) override;
  void AddPoint3D(const TGIS_Coord3D& point) override;
  void AddPoints3D(std::span<const TGIS_Coord3D> points) override;
  void Draw() override;
  void DrawSelected() override;
  void DrawLabel() override;
  double DistanceToPart(const TGIS_Coord& point, int part, TGIS_Coord& nearest,
                        double limit) const override;
  TGIS_Coord Centroid() const override;
  double Area() const override;
  double Length() const override;
  double PartLength(int part) const override;
  bool IsWithinDistance(const TGIS_Coord& point, int mode,
                        double radius) const override;
  bool IsInsideShape(const TGIS_Shape& other, int mode) const override;
  bool Intersects(const TGIS_Shape& other) const override;
  std::vector<TGIS_Coord> Intersections(const TGIS_Shape& other) const override;
  TGIS_Coord DrawPreview(int width, int height, int margin) override;
  // (Linear referencing, PointAtDistance and SubLine, is not built.)
};

class TGIS_ShapePolygon final : public TGIS_Shape {
 public:
  explicit TGIS_ShapePolygon(const TGIS_Shape* source = nullptr,
                             TGIS_LayerVector* layer = nullptr,
                             std::int32_t uid = 0, bool borrowed = false,
                             std::span<const std::byte> record = {});
  double SymbolSize() const override;
  std::unique_ptr<TGIS_Shape> Clip(const TGIS_Bounds& extent,
                                   bool forDisplay) const override;
  std::unique_ptr<TGIS_Shape> CreateCopy() const override;
  void AddPoint(const TGIS_Coord& point) override;
  void AddPoint3D(const TGIS_Coord3D& point) override;
  void Draw() override;
  void DrawSelected() override;
  double DistanceToPart(const TGIS_Coord& point, int part, TGIS_Coord& nearest,
                        double limit) const override;
  TGIS_Coord Centroid() const override;
  TGIS_Coord LabelPoint() const override;
  double Area() const override;
  double Length() const override;
  double PartLength(int part) const override;
  bool IsWithinDistance(const TGIS_Coord& point, int mode,
                        double radius) const override;
  bool IsInsideShape(const TGIS_Shape& other, int mode) const override;
  bool Intersects(const TGIS_Shape& other) const override;
  std::vector<TGIS_Coord> Intersections(const TGIS_Shape& other) const override;
  TGIS_Coord DrawPreview(int width, int height, int margin) override;
  // As AddPoint, but the ring's first point is always appended again as
  // the closing point, even when the new point equals it.
  virtual void AddPointClosing(const TGIS_Coord& point);
  virtual void AddPointClosing3D(const TGIS_Coord3D& point);

 private:
  void AddRingPoint(const TGIS_Coord& point, bool alwaysClose);
};

// Even-odd point-in-polygon test over one ring (part >= 0) or all rings
// (part < 0); False unless polygon is a TGIS_ShapePolygon.
bool PointInPolygon(const TGIS_Coord& point, const TGIS_Shape& polygon, int part);

}  // namespace cadport

