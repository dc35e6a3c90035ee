// TGIS_LayerDXF: a vector layer that loads a DXF drawing (text or binary)
// completely into memory when it is opened. Every supported entity becomes a
// shape with the seven DXF_ attribute fields; nothing of the file stays open
// afterwards.
//
// The load is one pass over the mapped file through TGIS_DxfGroupReader:
// section dispatch (header variables, tables, block index), then the entity
// pass. Readers share one convention: on entry the current group is the one
// that started them; on return the current group is the first group they did
// not consume (normally the next code-0 group).
//
// The readers are split over several files:
//   layer_dxf.cpp            Setup, group reader frame, header and tables, style
//   layer_dxf_entities.cpp   entity pass and the immediate readers
//   layer_dxf_polylines.cpp  POLYLINE, LWPOLYLINE, MPOLYGON, HATCH
//   layer_dxf_blocks.cpp     block index and INSERT expansion
//
// This header is shared by the authors of those files: from now on it only
// grows (members and declarations are added, never changed or removed).
#ifndef CADPORT_KERNEL_DXF_LAYER_DXF_H
#define CADPORT_KERNEL_DXF_LAYER_DXF_H

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kernel/base/types.h"
#include "kernel/dxf/dxf_geometry.h"
#include "kernel/dxf/dxf_group_reader.h"
#include "kernel/shapefile/mapped_stream.h"
#include "kernel/vector/layer_vector.h"
#include "kernel/vector/shape.h"

namespace cadport {

// Case-insensitive (ASCII) ordering for the name tables.
struct TGIS_DxfNameLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept;
};

// Hashing and equality of names byte for byte, for lookups by string_view.
struct TGIS_DxfExactHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    return std::hash<std::string_view>{}(s);
  }
};
struct TGIS_DxfExactEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};

// A sorted name table: the first entry for a name wins, lookups ignore case.
// Entities ask for the same few names over and over: the answers are
// remembered by the name's exact bytes.  So a table, like the layer holding
// it, serves one thread at a time.
template <typename T>
class TGIS_DxfNameTable {
 public:
  TGIS_DxfNameTable() = default;
  // A copy has the items, not the remembered answers (they point into the
  // source).
  TGIS_DxfNameTable(const TGIS_DxfNameTable& other) : items_(other.items_) {}
  TGIS_DxfNameTable& operator=(const TGIS_DxfNameTable& other) {
    if (this != &other) {
      items_ = other.items_;
      answers_.clear();
    }
    return *this;
  }

  // Adds (name, value) unless the name is already present.
  void Add(std::string_view name, const T& value) {
    if (items_.find(name) == items_.end()) {
      items_.emplace(std::string(name), value);
      answers_.clear();
    }
  }
  const T* Find(std::string_view name) const {
    if (const auto a = answers_.find(name); a != answers_.end()) return a->second;
    const auto it = items_.find(name);
    const T* const found = it == items_.end() ? nullptr : &it->second;
    if (answers_.size() < kAnswersKept) answers_.emplace(std::string(name), found);
    return found;
  }
  bool Contains(std::string_view name) const { return Find(name) != nullptr; }
  bool Empty() const noexcept { return items_.empty(); }
  std::size_t Count() const noexcept { return items_.size(); }
  void Clear() noexcept {
    items_.clear();
    answers_.clear();
  }
  const std::map<std::string, T, TGIS_DxfNameLess>& Items() const noexcept { return items_; }

 private:
  static constexpr std::size_t kAnswersKept = 4096;
  std::map<std::string, T, TGIS_DxfNameLess> items_;
  mutable std::unordered_map<std::string, const T*, TGIS_DxfExactHash, TGIS_DxfExactEqual>
      answers_;
};

// Pen styles given by the line type rules (dash classes 0..4).
enum class TGIS_DxfPenStyle : uint8_t {
  Solid = 0,
  Dash = 1,
  DashDot = 2,
  DashDotDot = 3,
  Dot = 4,
};

// Label positions set by texts (group 71), as the label style's keywords.
enum class TGIS_DxfLabelPosition : uint8_t {
  MiddleCenter = 0,
  DownRight = 1,
  DownLeft = 2,
  MiddleLeft = 3,
  MiddleRight = 4,
  UpRight = 5,
  UpCenter = 6,
};

// The style a shape received while the drawing was loaded: colour, pen style
// and pen width, and for texts the label settings. Colours are MakeRGB
// values (red in the low byte). Kept compact: one record per shape.
struct TGIS_DxfShapeStyle {
  uint32_t LineColor = 0;        // arcs: line colour; polygons: outline colour
  uint32_t AreaColor = 0;        // polygons: fill colour
  uint32_t MarkerColor = 0;      // points: marker and label colour
  uint32_t LabelFontColor = 0;   // points: NonZeroColor of the marker colour
  double LabelRotation = 0;      // radians (minus the angle read)
  int32_t PenWidth = 1;
  TGIS_DxfPenStyle PenStyle = TGIS_DxfPenStyle::Solid;
  TGIS_DxfLabelPosition LabelPosition = TGIS_DxfLabelPosition::MiddleCenter;
  bool Styled = false;           // the load gave the shape a colour or pen
  bool ShowsLabel = false;       // the label shows the field "DXF_LABEL"
  bool ClearFill = false;        // polygons: no area fill
};

// The label style keyword of a position ("MIDDLECENTER", "DOWNRIGHT", ...).
const char* DxfLabelPositionName(TGIS_DxfLabelPosition position) noexcept;

// A block definition found in the BLOCKS section.
struct TGIS_DxfBlockEntry {
  int64_t Position = 0;          // stream position behind the (0, "BLOCK") group
  TGIS_Coord3D BasePoint{};      // the BLOCK header's 10/20/30
  bool HasBasePoint = false;
};

class TGIS_LayerDXF : public TGIS_LayerVector {
 public:
  // Field names, in declaration order.
  static constexpr const char* kFieldHandle = "DXF_HANDLE";
  static constexpr const char* kFieldLayer = "DXF_LAYER";
  static constexpr const char* kFieldElevation = "DXF_ELEVATION";
  static constexpr const char* kFieldLabel = "DXF_LABEL";
  static constexpr const char* kFieldLabelAngle = "DXF_LABEL_ANGLE";
  static constexpr const char* kFieldColor = "DXF_COLOR";
  static constexpr const char* kFieldWeight = "DXF_WEIGHT";

  TGIS_LayerDXF();
  ~TGIS_LayerDXF() override;

  // Loads the file named by Path. Raises GIS_RS_ERR_TXTFILESTRUCT (Path, the
  // line or item number) when the drawing is damaged; the stream's own
  // EFOpenError when the file cannot be mapped.
  void Setup() override;

  // Enumeration and uid lookup apply the style rule first (see .cpp).
  void StartScan(const TGIS_Bounds& extent, const std::string& query = {},
                 TGIS_Shape* relationShape = nullptr, const std::string& relationPattern = {},
                 bool skipDeleted = true) override;
  TGIS_Shape* ShapeByUid(std::int32_t uid) override;

  // When True, the header extents ($EXTMIN/$EXTMAX) clip the layer after the
  // entity pass. False by default: writers often leave them stale.
  bool ClipToHeaderExtent() const noexcept { return clipToHeaderExtent_; }
  void SetClipToHeaderExtent(bool on) noexcept { clipToHeaderExtent_ = on; }

  // Block references may make the load read at most this many lines (items
  // of a binary drawing) beyond 128 per byte of the file; past it the
  // drawing is refused as an expansion bomb.  The default lets a tiny file
  // place about a million block entities; fuzzing lowers it to stay quick.
  static constexpr int64_t kDefaultExpansionAllowance = 16'000'000;
  static constexpr int64_t kExpansionPerByte = 128;
  int64_t ExpansionAllowance() const noexcept { return expansionAllowance_; }
  void SetExpansionAllowance(int64_t lines) noexcept { expansionAllowance_ = lines < 0 ? 0 : lines; }

  // Threads the entity pass of a large text drawing may use: 0 (the default)
  // one per processor available, 1 only the caller's. The ENTITIES section is
  // cut at entity boundaries into pieces of at least kParallelPieceMinimum
  // bytes, several per thread. The caller's reader reads from the start; the
  // other threads claim pieces from the end backwards, and a claimed piece is
  // taken over in order when the reading before it arrives exactly at its
  // boundary. A piece is read again in order whenever its result could
  // differ (a damaged drawing, the block expansion bound), so the layer is
  // always the one a single reader would build.
  static constexpr int64_t kParallelPieceMinimum = 2 << 20;
  int32_t LoadThreads() const noexcept { return loadThreads_; }
  void SetLoadThreads(int32_t threads) noexcept { loadThreads_ = threads < 0 ? 0 : threads; }
  // Byte positions from which piece boundaries are searched, instead of
  // equal pieces (no minimum size); for tests. With LoadThreads 0 every
  // piece then gets a thread of its own at once.
  void SetLoadSplitTargets(std::vector<int64_t> targets) { loadSplitTargets_ = std::move(targets); }
  // Pieces read on threads of their own and taken over by the last load.
  int32_t ParallelPiecesAdopted() const noexcept { return parallelPiecesAdopted_; }

  // Release of the drawing as named by $ACADVER ("" when none).
  const std::string& VersionText() const noexcept { return versionText_; }
  const TGIS_Bounds3D& HeaderExtent() const noexcept { return headerExtent_; }
  // Set by a writer's Build for a file that does not exist yet; while it is
  // not empty Setup reads nothing.
  const std::string& NewFilePath() const noexcept { return newFilePath_; }
  void SetNewFilePath(const std::string& path) { newFilePath_ = path; }

  // The code page named by $DWGCODEPAGE (-1 when none or not known), and the
  // code page the drawing's texts were read in (see Setup).
  int32_t DrawingCodePage() const noexcept { return drawingCodePage_; }
  int32_t InputCodePage() const noexcept { return inputCodePage_; }
  // The code page number of a $DWGCODEPAGE name ("ANSI_1252", "DOS850",
  // "ISO8859-2", ...); -1 for a name not known.
  static int32_t CodePageOfName(std::string_view name);
  // Text with its \U+XXXX escapes replaced by the UTF-8 characters.
  static std::string DecodeUnicodeEscapes(std::string_view text);

  // The style the load gave a shape (null when none).
  const TGIS_DxfShapeStyle* ShapeStyle(std::int32_t uid) const;

  // The palette entry of a colour number 0..255 as a MakeRGB value.
  static uint32_t PaletteColor(int32_t number) noexcept;
  // Dash class of an LTYPE description.
  static int32_t LineTypeDescriptionClass(std::string_view description);

  // Visibility tests on the LAYER table (see .cpp for the rules).
  bool LayerInFilter(std::string_view name);
  bool LayerIsVisible(std::string_view name);
  bool LayerIsOff(std::string_view name);

 protected:
  // ---- group reader ----------------------------------------------------------
  void ReadGroup() { reader_.ReadGroup(); }
  bool IsGroup(int32_t code) const noexcept { return reader_.IsGroup(code); }
  bool IsGroup(int32_t code, std::string_view value) const noexcept {
    return reader_.IsGroup(code, value);
  }
  int32_t GroupCode() const noexcept { return reader_.GroupCode(); }
  std::string_view GroupValue() const noexcept { return reader_.GroupValue(); }
  bool AtEnd() const noexcept { return reader_.AtEnd(); }
  bool IsBinary() const noexcept { return reader_.IsBinary(); }
  // Stream position get and set, for block expansion.
  int64_t StreamPosition() const noexcept { return reader_.Position(); }
  void SetStreamPosition(int64_t position) noexcept { reader_.SetPosition(position); }
  // The current value as a number: TextToFloat, or the strict integer parse
  // (leading blanks and a sign, nothing after). Both raise on bad text.
  double ValueFloat() const;
  int32_t ValueInt() const;
  // Whether the current value is blank after trimming.
  bool ValueBlank() const;
  // A drawing text (layer name, label, extended data value) converted from
  // the drawing's input code page to the layer's output one; texts of
  // drawings before release 2007 also get their \U+XXXX escapes decoded.
  std::string Recode(std::string_view text) const;
  // The same without escape decoding.
  std::string RecodePlain(std::string_view text) const;

  void ReadVersion();
  // Decides InputCodePage from the layer's CodePage, the release and
  // $DWGCODEPAGE.
  void ChooseInputCodePage();

  // ---- header and tables -----------------------------------------------------
  void ReadExtMin();
  void ReadExtMax();
  void ReadTables();
  void CompleteLayerFilter();
  void ClipToHeader();
  // Style of EntityShape. A missing name (std::nullopt) means no drawing layer is given.
  void ApplyColor(std::optional<std::string_view> layerName, int32_t colorNumber);
  void ApplyLineType(std::optional<std::string_view> name);
  void ApplyLineWidth(std::optional<std::string_view> nameOrWeight);
  // The style record of EntityShape (created on demand).
  TGIS_DxfShapeStyle* EntityStyle();

  // ---- entity pass and immediate readers ---------------------------------------
  void ReadEntities();
  // Calls the reader of the current code-0 group and returns True, or returns
  // False (nothing consumed) when the entity is not converted. Block
  // expansion uses it for the entities inside a block.
  bool DispatchEntity();
  void ReadPoint();
  void ReadText();          // TEXT and MTEXT
  void ReadLineEntity();
  void ReadArc();
  void ReadCircle();
  void ReadSolid();
  void Read3DFace();
  void ReadSpline();
  // Frame of the immediate readers: steps 1-3. Returns False when the entity's
  // first group names an invisible layer (nothing created).
  bool BeginImmediate(TGIS_ShapeKind kind);
  // Handles the common groups 5, 8, 62 (and 6 / 370 when allowed). Returns
  // True when the group was one of them.
  bool HandleCommonGroup(bool lineType, bool lineWeight);
  // Ends the shape being built: Unlock.
  void FinishEntityShape();

  // EntityMatrix := the object matrix of the extrusion (x InsertMatrix inside
  // a block). Raises EDxfStructure for a zero-length extrusion.
  void SetEntityTransform(const TGIS_Coord3D& extrusion);
  TGIS_Coord3D TransformPoint(const TGIS_Coord3D& point) const {
    // Most entities lie in the world plane outside any block: the identity
    // gives the same numbers as the full product (adding 0 turns -0 into 0,
    // as the product's translation term does).
    if (entityIdentity_) return TGIS_Coord3D{point.X + 0.0, point.Y + 0.0, point.Z + 0.0};
    return DxfMatrixApply(entityMatrix_, point);
  }
  // Adds the points of the uniform cubic B-spline through `count` points.
  void EvaluateSpline(const std::vector<TGIS_Coord3D>& points, int32_t count, int32_t steps);
  // The NURBS curve of control points, knots and weights (de Boor).
  void EvaluateNurbs(const std::vector<TGIS_Coord3D>& control, const std::vector<double>& knots,
                     const std::vector<double>& weights, int32_t degree, int32_t segments);
  // Reads one "ADE" extended data block into string fields of EntityShape.
  void ReadXData();
  // Sets a field on EntityShape.  The name is one of the layer's constant
  // names; its index is looked up once per load.
  void SetEntityField(const char* name, const TGIS_Variant& value);
  // Recode of a drawing layer's name, remembered: a drawing has few layers.
  const std::string& RecodedLayerName(std::string_view name);

  // ---- deferred readers (layer_dxf_polylines.cpp) ------------------------------
  void ReadPolyline();
  void ReadVertex();
  void ReadLwPolyline();
  void ReadMPolygon();
  void ReadHatch();
  // Creates EntityShape from deferred_ when it is still null; addPart False
  // for POLYLINE, which adds its parts itself.
  void CreateDeferredShape(TGIS_ShapeKind kind, bool addPart = true);
  void CreatePolylineShape();
  void CreateLwShape();
  void BulgeArc(int32_t segments, const TGIS_Coord3D& centre, double angle, double radiusY,
                double radiusX);
  // Common groups of the deferred readers (added after the handover).
  int HandleDeferredGroup();

  // ---- blocks and inserts (layer_dxf_blocks.cpp) -------------------------------
  void IndexBlock();
  // parentName: the block being expanded, null at the top level.
  void ReadInsert(const std::string* parentName);
  void BuildInsertMatrix(const TGIS_Coord3D& extrusion, const TGIS_Coord3D& scale,
                         const TGIS_Coord3D& point, double rotation);

  // ---- reader state (reset by every Setup) --------------------------------------
  std::unique_ptr<TGIS_MappedStream> stream_;  // lives only during Setup
  TGIS_DxfGroupReader reader_;
  std::string versionText_;
  std::string newFilePath_;
  std::string versionCode_;        // $ACADVER as written ("AC1015", ...)
  int32_t drawingCodePage_ = -1;   // from $DWGCODEPAGE
  int32_t inputCodePage_ = -1;     // texts are read in this code page
  bool decodeEscapes_ = false;     // release before 2007: \U+XXXX escapes

  // ---- tables -------------------------------------------------------------------
  TGIS_DxfNameTable<int32_t> layerVisibility_;  // kept after Setup
  TGIS_DxfNameTable<int32_t> layerFilter_;
  TGIS_DxfNameTable<int32_t> layerColors_;
  TGIS_DxfNameTable<int32_t> layerLineTypes_;
  TGIS_DxfNameTable<int32_t> layerLineWeights_;
  TGIS_DxfNameTable<int32_t> lineTypeClasses_;
  TGIS_Bounds3D headerExtent_ = NullBounds3D();
  bool clipToHeaderExtent_ = false;
  bool foundInFilter_ = false;
  bool layerStyleUnchanged_ = true;
  bool previousLayerStyleUnchanged_ = true;
  // Styles given during the load, indexed by uid.
  std::vector<TGIS_DxfShapeStyle> styles_;

  // ---- entity state -------------------------------------------------------------
  TGIS_Shape* entityShape_ = nullptr;     // the shape being built; owned by the layer
  std::string entityLayer_;               // drawing layer of the entity being read
  // Field indexes of the constant names SetEntityField met in this load.
  std::array<std::pair<const char*, int32_t>, 8> entityFieldIndexes_{};
  // RecodedLayerName's answers in this load, by the name's exact bytes.
  std::unordered_map<std::string, std::string, TGIS_DxfExactHash, TGIS_DxfExactEqual>
      recodedLayerNames_;
  TGIS_DxfMatrix entityMatrix_ = TGIS_DxfMatrix::Identity();
  bool entityIdentity_ = true;            // entityMatrix_ is the identity
  int64_t expansionAllowance_ = kDefaultExpansionAllowance;

  // ---- deferred entity state (POLYLINE, LWPOLYLINE, MPOLYGON, HATCH) -------------
  struct T_deferredEntity {
    std::string Handle;
    std::string LayerName;
    std::string LineType;
    std::string Weight;
    int32_t Color = 0;
    double Elevation = 0;
    TGIS_Coord3D Extrusion{0, 0, 1, 0};
    int32_t Flags = 0;
    int32_t M = 0;
    int32_t N = 0;
    int32_t MDensity = 0;
    int32_t NDensity = 0;
  };
  T_deferredEntity deferred_;
  std::vector<TGIS_Coord3D> vertexList_;           // M holds the bulge
  std::vector<std::array<int32_t, 4>> faceList_;  // polyface vertex numbers
  std::vector<TGIS_Coord3D> pointList_;            // scratch list of one entity
  std::vector<TGIS_DxfBulgeVertex> bulgeVertices_; // scratch vertices of one LWPOLYLINE

  // ---- block state ----------------------------------------------------------------
  TGIS_DxfNameTable<TGIS_DxfBlockEntry> blockIndex_;
  TGIS_DxfMatrix insertMatrix_ = TGIS_DxfMatrix::Identity();
  int32_t blockDepth_ = 0;
  TGIS_Coord3D insertPoint_{};
  TGIS_Coord3D insertScale_{1, 1, 1, 0};
  std::vector<std::string> blockStack_;   // names of the blocks being expanded
  int64_t expansionItems_ = 0;            // groups read inside block expansions

  // Lines (text) or items (binary) the load may read in all, block expansions
  // included: the allowance plus a multiple of the file's size. A plain pass
  // reads at most one line per byte, so only expansions reach it.
  int64_t ExpansionLimit() const noexcept {
    return expansionAllowance_ + kExpansionPerByte * reader_.Size();
  }

  // ---- parallel entity pass (layer_dxf_parallel.cpp) ------------------------------
  struct T_entityWorker;
  // Entity loop from the current group; stops before dispatching a group
  // that starts at or after stop. True when one starts exactly at stop.
  bool ReadEntitiesUntil(int64_t stop);
  // Entity boundaries ("0" and an entity name at the start of a line) after
  // start at which the section is cut; empty when it is read in one piece.
  std::vector<int64_t> FindPieceBoundaries(int64_t start);
  void ReadEntitiesInPieces(const std::vector<int64_t>& boundaries);
  // Runs on a worker thread: reads one piece into the worker's own layer.
  void RunEntityWorker(T_entityWorker& worker) const;
  // Appends the worker layer's shapes (with their styles) as the next uids.
  // Fields the worker declared are declared here in the order it met them
  // (unless present already) and its shapes' values move to their indexes.
  void AdoptShapes(TGIS_LayerDXF& worker);
  // Gives the pages of the drawing behind position back to the system (see
  // Setup); released tracks what is given back already.
  void ReleasePagesBehind(int64_t position, int64_t& released) const;
  // Gives back the pages wholly inside [from, to) of the drawing's mapping.
  void ReleasePages(int64_t from, int64_t to) const;
  // The first page boundary at or after position.
  static int64_t PageAfter(int64_t position);

  // Fewest bytes an entity takes in a text drawing, as a rule of thumb.
  static constexpr int64_t kBytesPerEntity = 64;
  void ReserveShapeRoom(int64_t bytes);

  int32_t loadThreads_ = 0;
  std::vector<int64_t> loadSplitTargets_;
  int32_t parallelPiecesAdopted_ = 0;
  bool entityWorker_ = false;                         // reads a piece for another layer
  std::size_t workerKnownFields_ = 0;                 // fields a worker started with
  const std::atomic<int64_t>* parallelDone_ = nullptr;  // bytes read by the workers
  std::optional<uint32_t> backgroundColor_;           // the viewer's, captured by Setup

 private:
  void ReadExtent(bool maximum);
  void DeclareDxfFields();
  void FreeLoadState() noexcept;
};

}  // namespace cadport

#endif  // CADPORT_KERNEL_DXF_LAYER_DXF_H
