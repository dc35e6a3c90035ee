// The in-memory vector layer: an owning list of shapes in ascending uid order,
// the attribute field list, uid assignment, enumeration by extent (and, once
// the query language and spatial index are plugged in, by query and through
// the index), and the generic copy of another layer's content.
//
// File layers (DXF, shapefile) derive from it. A shapefile layer keeps only its
// edited shapes in the list and reads the rest from its file, overriding the
// enumeration, uid and copy operations.
//
// Enumeration:
//   for (layer.StartScan(extent); !layer.ScanDone(); layer.ScanNext())
//     Use(layer.ScanCurrent());
// or FindFirst / FindNext until nullptr. Only one enumeration per layer runs at
// a time: StartScan, FindFirst and ShapeByUid all change the shared scan state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/base/types.h"
#include "kernel/layer/layer_abstract.h"
#include "kernel/vector/field.h"
#include "kernel/vector/block_arena.h"
#include "kernel/vector/shape.h"

namespace cadport {

class TGIS_LayerVector;
class TGIS_Ini;

// Bit set over TGIS_ShapeKind: bit k set = kind k allowed (kinds 0..7 only;
// ShapeKindBit in shape.h gives the bit of a kind).
using TGIS_ShapeKindSet = std::uint8_t;

// Spatial index over shape extents keyed by uid (the R-tree implements it).
// Ids are uids; SearchFirst/SearchNext return -1 at the end.
class TGIS_SpatialIndex {
 public:
  virtual ~TGIS_SpatialIndex() = default;
  virtual bool IsEmpty() const = 0;
  // Opened read-only: inserts and deletes are ignored.
  virtual bool ReadOnly() const = 0;
  virtual void InsertEntry(const TGIS_Bounds& bounds, std::int32_t id) = 0;
  // Returns whether the entry was found and removed.
  virtual bool DeleteEntry(const TGIS_Bounds& bounds, std::int32_t id) = 0;
  // Entries overlapping bounds (closed intervals); id < 0 = any id.
  virtual std::int32_t SearchFirst(const TGIS_Bounds& bounds, std::int32_t id) = 0;
  virtual std::int32_t SearchNext() = 0;
  // Marks the index consistent with the data it indexes (or not).
  virtual void SetComplete(bool complete) = 0;
};

// Opens (or creates) the spatial index of a layer on path (empty = in memory).
// The factory discards an index file older than the layer's data. Without a
// registered factory layers have no spatial index.
using TGIS_SpatialIndexFactory = std::unique_ptr<TGIS_SpatialIndex> (*)(
    TGIS_LayerVector& layer, const std::string& path);
void SetSpatialIndexFactory(TGIS_SpatialIndexFactory factory);

// A compiled attribute query of an enumeration. Evaluate reads the values of
// the layer's ScanCurrent through GetFieldByIndex and resolves names through
// FieldIndex.
class TGIS_ScanQuery {
 public:
  virtual ~TGIS_ScanQuery() = default;
  virtual bool Evaluate(TGIS_LayerVector& layer) = 0;
};

// Compiles a query text for a layer; throws GIS_RS_ERR_SQLQUERY for a
// malformed text. Without a registered compiler, enumerations accept only an
// empty query (a non-empty one raises GIS_RS_ERR_UNIMPLEMENTED).
using TGIS_ScanQueryCompiler = std::unique_ptr<TGIS_ScanQuery> (*)(TGIS_LayerVector& layer,
                                                                   const std::string& text);
void SetScanQueryCompiler(TGIS_ScanQueryCompiler compiler);

class TGIS_LayerVector : public TGIS_LayerAbstract {
 public:
  TGIS_LayerVector();
  ~TGIS_LayerVector() override;
  TGIS_LayerVector(const TGIS_LayerVector&) = delete;
  TGIS_LayerVector& operator=(const TGIS_LayerVector&) = delete;

  // ---- overrides of TGIS_LayerAbstract --------------------------------------
  // Base step, then SupportedKinds := {Point, MultiPoint, Arc, Polygon} and
  // Description := "Generic Vector Layer".
  void Setup() override;
  // Base step, then the spatial index decision (SetUseRTree).
  void SetupFinish() override;
  // Base keys plus "Scope", "JoinPrimary", "JoinForeign".
  void ReadConfig(TGIS_Ini& config) override;
  void WriteConfig(TGIS_Ini& config) override;
  // Drops every shape (last first) and every added field; declared fields go
  // back to their declared state.
  void RevertAll() override;
  bool IsModified() override;
  // Extent := union of the extents of all shapes not deleted; unchanged when
  // there are none.
  void RecalcExtent() override;
  // SetUseRTree(UseRTree()): builds or loads the index as needed.
  void ApplyUseRTree() override;

  // ---- virtual operations of the vector layer, in their fixed order ---------
  // First of Point, MultiPoint, Arc, Polygon in SupportedKinds, else Unknown.
  virtual TGIS_ShapeKind DefaultShapeKind();
  // File of the spatial index; empty here (in memory).
  virtual std::string RTreePath();
  virtual bool UseRTree();
  // Builds (on) or drops (off) the spatial index. Only for a layer with a
  // viewer; errors while building are swallowed.
  virtual void SetUseRTree(bool on);
  // Sets up an enumeration: ScanExtent (grown by 1e-10 of its larger side, at
  // least 1e-10), ScanQuery (Scope AND query), relation filter, position before
  // the first shape. relationShape must be null (no relation evaluator yet).
  virtual void ScanPrepare(const TGIS_Bounds& extent, const std::string& query,
                           TGIS_Shape* relationShape, const std::string& relationPattern,
                           bool skipDeleted);
  // ScanPosition += 1; CurrentShape := the shape there or null.
  virtual void ScanAdvance();
  // How far ahead ScanAdvance fetches shapes, their blocks and their values.
  static constexpr std::size_t kScanFetchObject = 12;
  static constexpr std::size_t kScanFetchBlocks = 6;
  static constexpr std::size_t kScanFetchValues = 3;
  virtual bool ScanAtEnd();
  // CurrentShape when set, else the listed shape at ScanPosition, else null.
  virtual TGIS_Shape* ScanItem();
  // Binary search by uid. Found: true and its index. Not found: false and the
  // insertion position.
  virtual bool FindUidIndex(std::int32_t uid, std::int32_t& index);
  // Value of a persistent field from the layer's file; Unassigned here.
  virtual TGIS_Variant ReadFileField(std::int32_t uid, const std::string& name);
  // Index code of a name: virtual field codes, FileFieldIndex, FindField, -1.
  virtual std::int32_t FieldIndex(const std::string& name);
  // FindDeclaredField here; file layers may map names of their own.
  virtual std::int32_t FileFieldIndex(const std::string& name);
  // Value of ScanCurrent by index code (for the query language).
  virtual TGIS_Variant GetFieldByIndex(std::int32_t index);
  // Value of a persistent field of ScanCurrent from the file; Unassigned here.
  virtual TGIS_Variant ReadFileFieldByIndex(std::int32_t index);
  // Filter of the running enumeration: extent test, query, relation.
  virtual bool MatchesScan(TGIS_Shape* shape);
  // Whether the shapes a scan hands out stay as they are while the scan goes
  // on (listed shapes); false for a layer that re-points one shape object at
  // record after record of its file.
  virtual bool ScanKeepsShapes() const { return true; }
  // Path := path; file layers create an empty file set.
  virtual void Build(const std::string& path, const TGIS_Bounds& extent, TGIS_ShapeKind kind);
  // Adds every field of source (by NewName) this layer lacks; marks deleted
  // the fields deleted there.
  virtual void CopyFieldsFrom(TGIS_LayerVector& source);
  // Replaces the content by the shapes of source within extent (clipped to it
  // when clip), of the given kind (Unknown = any), matching query, with their
  // attributes. Progress through the source's viewer.
  virtual void ConvertFrom(TGIS_LayerVector* source, const TGIS_Bounds& extent,
                           TGIS_ShapeKind kind, const std::string& query, bool clip);
  virtual void StartScan(const TGIS_Bounds& extent, const std::string& query = {},
                         TGIS_Shape* relationShape = nullptr,
                         const std::string& relationPattern = {}, bool skipDeleted = true);
  virtual void ScanNext();
  virtual bool ScanDone();
  // Like StartScan, but through the spatial index when the extent is small
  // (below 1/16 of the layer's extent area). Returns the first shape or null.
  virtual TGIS_Shape* FindFirst(const TGIS_Bounds& extent, const std::string& query = {},
                                TGIS_Shape* relationShape = nullptr,
                                const std::string& relationPattern = {},
                                bool skipDeleted = true);
  virtual TGIS_Shape* ScanCurrent();
  // The shape of a uid or null; it becomes CurrentShape (what ScanCurrent
  // returns until the next ScanNext).
  virtual TGIS_Shape* ShapeByUid(std::int32_t uid);
  // Uid of the last listed shape, 0 when there is none.
  virtual std::int32_t LastUid();
  virtual std::int32_t NextUid();
  virtual TGIS_Variant GetShapeField(std::int32_t uid, const std::string& name);
  virtual TGIS_Variant GetShapeFieldRaw(std::int32_t uid, const std::string& name);
  // Marks the shape deleted (it stays listed).
  virtual void DeleteShape(std::int32_t uid);
  // Forgets the edits of a shape: a listed shape is removed and freed.
  virtual void RevertShape(std::int32_t uid);
  virtual TGIS_Shape* DeselectShape(std::int32_t uid);
  virtual void DeselectAll();
  // Nearest shape to point within tolerance, or null.
  virtual TGIS_Shape* Locate(const TGIS_Coord& point, double tolerance, bool visibleOnly);
  virtual TGIS_Shape* LocateEx(const TGIS_Coord& point, std::int32_t skipUid, bool visibleOnly,
                               TGIS_Coord& nearest, std::int32_t& part, double& distance,
                               double tolerance);
  // Field list (see field.h). Lookups by name ignore case and include deleted
  // fields; they return -1 when nothing matches.
  virtual std::int32_t FindField(std::string_view name);
  virtual std::int32_t FindDeclaredField(std::string_view name);
  // Appends a field (not persistent); GIS_RS_ERR_FIELDEXIST when the name is
  // taken. Sets Modified. Returns the new index.
  virtual std::int32_t AddField(const std::string& name, TGIS_FieldKind kind,
                                std::int32_t width, std::int32_t decimal);
  // As AddField, for file readers; Modified is not touched.
  virtual std::int32_t DeclareFileField(const std::string& name, TGIS_FieldKind kind,
                                        std::int32_t width, std::int32_t decimal,
                                        bool persistent);
  virtual void RenameField(const std::string& oldName, const std::string& newName,
                           std::int32_t width, std::int32_t decimal);
  // Marks the field deleted and returns it; GIS_RS_ERR_FIELDNOEXIST when absent.
  virtual TGIS_FieldInfo* DeleteField(const std::string& name);
  // Descriptor at index, or null outside 0 .. FieldsCount()-1.
  virtual TGIS_FieldInfo* FieldInfo(std::int32_t index);
  // Sets ExportName of every field: fitted to maxLength (at least 4) and to
  // the characters A-Z, a-z, 0-9, '_', unique without regard to case.
  virtual void MakeExportNames(std::int32_t maxLength, bool renameAll);

  // ---- non-virtual operations ------------------------------------------------
  // New empty shape of kind (Unknown = DefaultShapeKind), uid NextUid, listed.
  // Null for a kind not in SupportedKinds (empty until Setup: open the layer
  // or set the kinds first).
  TGIS_Shape* CreateShape(TGIS_ShapeKind kind);
  // From now on the shapes CreateShape makes take their geometry blocks from
  // an arena of the layer (see block_arena.h) until CloseBlockArena: for a
  // layer filled in one go by one thread. The blocks last as long as the
  // layer's shapes do.
  void OpenBlockArena();
  void CloseBlockArena() noexcept { blockArenaOpen_ = false; }
  // The open arena, or nullptr.
  TGIS_BlockArena* OpenArena() noexcept { return blockArenaOpen_ ? blockArena_.get() : nullptr; }
  // Takes over other's arena blocks, for shapes moved from other to here.
  void AdoptBlockArena(TGIS_LayerVector& other);
  // Appends a copy of shape with uid NextUid (and its attributes when
  // copyAttributes and the shape has a layer). Returns the copy.
  TGIS_Shape* AddShape(const TGIS_Shape& shape, bool copyAttributes);
  TGIS_Shape* FindNext();
  // The listed (edited) version of a shape read from a file, or the shape.
  TGIS_Shape* EditedVersion(TGIS_Shape* shape);
  // The listed version of shape, listing a copy first when needed.
  TGIS_Shape* MakeEditable(TGIS_Shape* shape);
  // Enters an appended shape into the spatial index (when there is one).
  void AddToIndex(TGIS_Shape& shape);
  // Moves the shape's index entry to its current extent (removes it for a
  // deleted shape).
  void UpdateIndex(TGIS_Shape& shape);
  // Whether the shape's paint extent overlaps extent (closed intervals) for an
  // enumeration. An empty shape fails, except on a layer without a viewer,
  // where it passes (it has nothing to test).
  bool ExtentTest(TGIS_Shape& shape, const TGIS_Bounds& extent);

  // ---- state ------------------------------------------------------------------
  // Listed shapes, ascending uid; the list owns them.
  const std::vector<std::unique_ptr<TGIS_Shape>>& Shapes() const { return shapes_; }
  std::int32_t FieldsCount() const { return static_cast<std::int32_t>(fields_.size()); }
  const std::vector<std::unique_ptr<TGIS_FieldInfo>>& Fields() const { return fields_; }
  TGIS_ShapeKindSet SupportedKinds() const { return supportedKinds_; }
  void SetSupportedKinds(TGIS_ShapeKindSet kinds) { supportedKinds_ = kinds; }
  const std::string& Scope() const { return scope_; }
  void SetScope(const std::string& scope) { scope_ = scope; }
  const std::string& JoinPrimary() const { return joinPrimary_; }
  void SetJoinPrimary(const std::string& name) { joinPrimary_ = name; }
  const std::string& JoinForeign() const { return joinForeign_; }
  void SetJoinForeign(const std::string& name) { joinForeign_ = name; }
  TGIS_SpatialIndex* RTree() const { return rtree_.get(); }
  bool RTreeActive() const { return rtreeActive_; }
  const TGIS_Bounds& ScanExtent() const { return scanExtent_; }
  const std::string& ScanQuery() const { return scanQuery_; }
  TGIS_Shape* ScanShape() const { return scanShape_; }
  const std::string& ScanPattern() const { return scanPattern_; }
  bool ScanSkipDeleted() const { return scanSkipDeleted_; }
  std::int32_t ScanPosition() const { return scanPosition_; }
  TGIS_Shape* CurrentShape() const { return currentShape_; }
  bool ScanUsesIndex() const { return scanUsesIndex_; }
  const TGIS_Bounds& ScanIndexExtent() const { return scanIndexExtent_; }

 protected:
  // Steps 1-3 of StartScan after ScanPrepare: position before the first shape
  // and advance to the first match.
  void ScanFirstMatch();
  // Whether the running enumeration skips this shape as deleted.
  bool ScanSkips(const TGIS_Shape& shape) const;
  // Appends an owned shape to the list (its uid must exceed LastUid).
  TGIS_Shape* AppendShape(std::unique_ptr<TGIS_Shape> shape);
  // Drops the spatial index: frees it and clears RTreeActive.
  void DropIndex();

  // Before the shapes: they go first.
  std::unique_ptr<TGIS_BlockArena> blockArena_;
  bool blockArenaOpen_ = false;
  std::vector<std::unique_ptr<TGIS_Shape>> shapes_;
  std::vector<std::unique_ptr<TGIS_FieldInfo>> fields_;
  TGIS_ShapeKindSet supportedKinds_ = 0;
  std::string scope_;
  std::string joinPrimary_;
  std::string joinForeign_;
  std::unique_ptr<TGIS_SpatialIndex> rtree_;
  bool rtreeActive_ = false;

  TGIS_Bounds scanExtent_ = NullBounds();
  std::string scanQuery_;
  TGIS_Shape* scanShape_ = nullptr;  // not owned
  std::string scanPattern_;
  bool scanSkipDeleted_ = true;
  std::int32_t scanPosition_ = -1;
  TGIS_Shape* currentShape_ = nullptr;  // not owned; a listed shape or a file layer's
  bool scanUsesIndex_ = false;
  TGIS_Bounds scanIndexExtent_ = NullBounds();
  std::unique_ptr<TGIS_ScanQuery> scanEvaluator_;  // compiled ScanQuery, null when empty

 private:
  // FindFirst/FindNext through the index: resolves uids until a match.
  TGIS_Shape* NextIndexedMatch(std::int32_t uid);
};

}  // namespace cadport
