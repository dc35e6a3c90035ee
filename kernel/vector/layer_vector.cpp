#include "kernel/vector/layer_vector.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <utility>

#include "kernel/base/exception.h"
#include "kernel/base/utils.h"
#include "kernel/config/config.h"
#include "kernel/layer/viewer.h"

namespace cadport {

namespace {

TGIS_SpatialIndexFactory gSpatialIndexFactory = nullptr;
TGIS_ScanQueryCompiler gScanQueryCompiler = nullptr;

constexpr TGIS_ShapeKindSet kVectorKinds =
    static_cast<TGIS_ShapeKindSet>(ShapeKindBit(TGIS_ShapeKind::Point) |
                                   ShapeKindBit(TGIS_ShapeKind::MultiPoint) |
                                   ShapeKindBit(TGIS_ShapeKind::Arc) |
                                   ShapeKindBit(TGIS_ShapeKind::Polygon));
static_assert(kVectorKinds == 60);

constexpr double kNoDistance = 1.7e308;

// Index entry extent of a shape: an empty shape is kept under (0,0,0,0).
TGIS_Bounds IndexExtent(const TGIS_Shape& shape) {
  return shape.IsEmpty() ? MakeBounds(0, 0, 0, 0) : shape.Extent();
}

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

// Length in bytes of the UTF-8 character starting at text[at]; a stray byte
// counts as a character of its own.
std::size_t CharLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 1;
  if (at + n > text.size()) return 1;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 1;
  return n;
}

std::size_t CharCount(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); at += CharLength(text, at)) ++count;
  return count;
}

// Names are counted and replaced by characters, not bytes: a letter such as
// "ö" is one character and becomes one "_", so the result is plain ASCII
// that fits the format's name length.  The first `characters` characters,
// trimmed (blanks are single bytes, so trimming cannot split a character).
std::string IdentifierCandidate(std::string_view name, std::size_t characters) {
  std::size_t end = 0;
  for (std::size_t n = 0; end < name.size() && n < characters; ++n) end += CharLength(name, end);
  const std::string_view kept = TrimText(name.substr(0, end));
  std::string candidate;
  for (std::size_t at = 0; at < kept.size(); at += CharLength(kept, at)) {
    const bool first = candidate.empty();
    const char c = kept[at];
    const bool keep = CharLength(kept, at) == 1 && (first ? IsIdentStart(c) : IsIdentChar(c));
    candidate += keep ? c : (first ? 'F' : '_');
  }
  return candidate;
}

// text followed by counter as upper-case hexadecimal of at least digits digits.
std::string WithCounter(std::string_view text, int digits, int counter) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.*X", digits, static_cast<unsigned>(counter));
  std::string out(text);
  out += buf;
  return out;
}

}  // namespace

void SetSpatialIndexFactory(TGIS_SpatialIndexFactory factory) { gSpatialIndexFactory = factory; }

void SetScanQueryCompiler(TGIS_ScanQueryCompiler compiler) { gScanQueryCompiler = compiler; }

TGIS_LayerVector::TGIS_LayerVector() = default;

TGIS_LayerVector::~TGIS_LayerVector() {
  if (rtree_) {
    // The index file is consistent with the data only when nothing is unsaved.
    try {
      rtree_->SetComplete(!Modified());
    } catch (...) {
    }
    rtree_.reset();
  }
  currentShape_ = nullptr;
  shapes_.clear();
  blockArena_.reset();  // no shape holds a block any more
  fields_.clear();
  scanEvaluator_.reset();
}

// ---- overrides of TGIS_LayerAbstract ------------------------------------------

void TGIS_LayerVector::Setup() {
  TGIS_LayerAbstract::Setup();
  supportedKinds_ = kVectorKinds;
  SetDescription("Generic Vector Layer");
}

void TGIS_LayerVector::SetupFinish() {
  TGIS_LayerAbstract::SetupFinish();
  const std::string path = RTreePath();
  std::error_code ec;
  if (!path.empty() && std::filesystem::exists(path, ec)) {
    SetUseRTree(true);
  } else if (Viewer() != nullptr) {
    SetUseRTree(Viewer()->UseRTree());
  }
}

void TGIS_LayerVector::ReadConfig(TGIS_Ini& config) {
  TGIS_LayerAbstract::ReadConfig(config);
  scope_ = config.ReadString("Scope", scope_);
  joinPrimary_ = config.ReadString("JoinPrimary", joinPrimary_);
  joinForeign_ = config.ReadString("JoinForeign", joinForeign_);
}

void TGIS_LayerVector::WriteConfig(TGIS_Ini& config) {
  TGIS_LayerAbstract::WriteConfig(config);
  config.WriteString("Scope", scope_);
  config.WriteString("JoinPrimary", joinPrimary_);
  config.WriteString("JoinForeign", joinForeign_);
}

void TGIS_LayerVector::RevertAll() {
  for (std::size_t i = shapes_.size(); i-- > 0;) {
    if (i < shapes_.size()) RevertShape(shapes_[i]->Uid());
  }
  currentShape_ = nullptr;
  shapes_.clear();
  blockArena_.reset();  // no shape holds a block any more
  scanPosition_ = -1;

  // Declared fields return to their declared state; added ones go.
  std::erase_if(fields_, [](const std::unique_ptr<TGIS_FieldInfo>& f) { return !f->Persistent; });
  for (auto& f : fields_) {
    f->Deleted = false;
    f->NewName = f->Name;
    f->NewWidth = f->Width;
    f->NewDecimal = f->Decimal;
  }
}

bool TGIS_LayerVector::IsModified() { return TGIS_LayerAbstract::IsModified() || Modified(); }

void TGIS_LayerVector::RecalcExtent() {
  LockExtent();
  try {
    TGIS_Bounds extent = Extent();
    bool first = true;
    for (StartScan(UnboundedBounds(), {}, nullptr, {}, true); !ScanDone(); ScanNext()) {
      const TGIS_Shape* shape = ScanCurrent();
      // An empty shape has no extent; the (0,0,0,0) of a shape that got a
      // part but no point would otherwise stretch the layer to the origin.
      if (shape == nullptr || shape->IsEmpty()) continue;
      extent = first ? shape->Extent() : BoundsUnion(extent, shape->Extent());
      first = false;
    }
    SetExtent(extent);
  } catch (...) {
    UnlockExtent();
    throw;
  }
  UnlockExtent();
}

void TGIS_LayerVector::ApplyUseRTree() { SetUseRTree(UseRTree()); }

// ---- shape kinds, spatial index -------------------------------------------------

TGIS_ShapeKind TGIS_LayerVector::DefaultShapeKind() {
  for (TGIS_ShapeKind kind : {TGIS_ShapeKind::Point, TGIS_ShapeKind::MultiPoint,
                              TGIS_ShapeKind::Arc, TGIS_ShapeKind::Polygon}) {
    if (supportedKinds_ & ShapeKindBit(kind)) return kind;
  }
  return TGIS_ShapeKind::Unknown;
}

std::string TGIS_LayerVector::RTreePath() { return {}; }

bool TGIS_LayerVector::UseRTree() { return rtreeActive_; }

void TGIS_LayerVector::DropIndex() {
  rtree_.reset();
  rtreeActive_ = false;
}

void TGIS_LayerVector::SetUseRTree(bool on) {
  TGIS_Viewer* viewer = Viewer();
  if (viewer == nullptr || on == (rtree_ != nullptr)) return;
  if (!on) {
    DropIndex();
    return;
  }
  // Building an index is an optimisation: any failure leaves the layer
  // without one (or with a partial one), never the caller with an error.
  try {
    rtreeActive_ = false;
    if (gSpatialIndexFactory == nullptr) return;
    rtree_ = gSpatialIndexFactory(*this, RTreePath());
    if (!rtree_) return;
    rtreeActive_ = true;
  } catch (...) {
    DropIndex();
    return;
  }

  bool abort = false;
  bool busy = false;
  const bool wasModified = Modified();
  try {
    viewer->BusyBegin(this);
    busy = true;
    if (rtree_->IsEmpty()) {
      std::int32_t count = 0;
      for (StartScan(UnboundedBounds(), {}, nullptr, {}, true); !ScanDone(); ScanNext()) {
        TGIS_Shape* shape = ScanCurrent();
        AddToIndex(*shape);
        if (!rtree_) break;  // dropped (read-only)
        if (count % 100 == 1) {
          viewer->BusyShake(this, shape->Uid(), LastUid(), abort);
          if (abort) break;
        }
        ++count;
      }
    } else {
      const std::int32_t count = static_cast<std::int32_t>(shapes_.size());
      for (std::int32_t i = 0; i < count && rtree_; ++i) {
        UpdateIndex(*shapes_[static_cast<std::size_t>(i)]);
        if ((i + 1) % 100 == 1) {
          viewer->BusyShake(this, i, count - 1, abort);
          if (abort) break;
        }
      }
    }
  } catch (...) {
    // Swallowed: the layer keeps what was built.
  }
  SetModified(wasModified);
  if (busy) {
    try {
      viewer->BusyRelease(this);
    } catch (...) {
    }
  }
  if (abort) DropIndex();
}

void TGIS_LayerVector::AddToIndex(TGIS_Shape& shape) {
  if (!UseRTree()) return;
  if (rtree_->ReadOnly()) {
    DropIndex();
    return;
  }
  const TGIS_Bounds extent = IndexExtent(shape);
  shape.SetIndexed(true);
  rtree_->InsertEntry(extent, shape.Uid());
  shape.MarkModified();
  shape.SetIndexedExtent(extent);
}

void TGIS_LayerVector::UpdateIndex(TGIS_Shape& shape) {
  TGIS_LayerVector* layer = shape.Layer();
  if (layer == nullptr || !layer->UseRTree()) return;
  if (layer != this) {
    layer->UpdateIndex(shape);
    return;
  }
  if (!shape.Indexed() && !shape.Borrowed()) return;
  if (rtree_->ReadOnly()) {
    DropIndex();
    return;
  }
  if (rtree_->DeleteEntry(shape.IndexedExtent(), shape.Uid())) shape.MarkModified();
  if (shape.Deleted()) return;
  const TGIS_Bounds extent = IndexExtent(shape);
  rtree_->InsertEntry(extent, shape.Uid());
  shape.SetIndexedExtent(extent);
  shape.MarkModified();
}

// ---- shapes and uids -----------------------------------------------------------

TGIS_Shape* TGIS_LayerVector::AppendShape(std::unique_ptr<TGIS_Shape> shape) {
  shapes_.push_back(std::move(shape));
  return shapes_.back().get();
}

TGIS_Shape* TGIS_LayerVector::CreateShape(TGIS_ShapeKind kind) {
  if (kind == TGIS_ShapeKind::Unknown) kind = DefaultShapeKind();
  const auto k = static_cast<std::uint8_t>(kind);
  if (k > 7 || !(supportedKinds_ & ShapeKindBit(kind))) return nullptr;
  std::unique_ptr<TGIS_Shape> shape;
  const std::int32_t uid = NextUid();
  switch (kind) {
    case TGIS_ShapeKind::Point:
      shape = std::make_unique<TGIS_ShapePoint>(nullptr, this, uid);
      break;
    case TGIS_ShapeKind::MultiPoint:
      shape = std::make_unique<TGIS_ShapeMultipoint>(nullptr, this, uid);
      break;
    case TGIS_ShapeKind::Arc:
      shape = std::make_unique<TGIS_ShapeArc>(nullptr, this, uid);
      break;
    case TGIS_ShapeKind::Polygon:
      shape = std::make_unique<TGIS_ShapePolygon>(nullptr, this, uid);
      break;
    default:
      return nullptr;
  }
  if (OpenArena() != nullptr) shape->UseLayerArena();
  TGIS_Shape* created = AppendShape(std::move(shape));
  AddToIndex(*created);
  created->MarkModified();
  return created;
}

void TGIS_LayerVector::OpenBlockArena() {
  if (!blockArena_) blockArena_ = std::make_unique<TGIS_BlockArena>();
  blockArenaOpen_ = true;
}

void TGIS_LayerVector::AdoptBlockArena(TGIS_LayerVector& other) {
  if (!other.blockArena_) return;
  if (!blockArena_) blockArena_ = std::make_unique<TGIS_BlockArena>();
  blockArena_->Adopt(*other.blockArena_);
}

TGIS_Shape* TGIS_LayerVector::AddShape(const TGIS_Shape& shape, bool copyAttributes) {
  std::unique_ptr<TGIS_Shape> copy = shape.CreateCopy();
  // The copy's values are indexed by the source layer's fields; they are
  // meaningless here (a value would land in whichever field has that index).
  TGIS_LayerVector* sourceLayer = shape.Layer();
  if (sourceLayer != nullptr && sourceLayer != this && copy->Attributes() != nullptr)
    copy->Attributes()->Clear();
  copy->SetLayer(this);
  copy->SetUid(NextUid());
  TGIS_Shape* added = AppendShape(std::move(copy));
  AddToIndex(*added);
  // A new shape is a change of the layer's data like any other.
  added->MarkModified();
  if (!shape.IsEmpty()) {
    const TGIS_Bounds extent = shape.Extent();
    if (!BoundsEqual(extent, Extent())) SetExtent(BoundsUnion(Extent(), extent));
  }
  if (copyAttributes && sourceLayer != nullptr) {
    CopyFieldsFrom(*sourceLayer);
    added->CopyFields(shape);
  }
  return added;
}

bool TGIS_LayerVector::FindUidIndex(std::int32_t uid, std::int32_t& index) {
  const auto it = std::lower_bound(
      shapes_.begin(), shapes_.end(), uid,
      [](const std::unique_ptr<TGIS_Shape>& s, std::int32_t u) { return s->Uid() < u; });
  index = static_cast<std::int32_t>(it - shapes_.begin());
  return it != shapes_.end() && (*it)->Uid() == uid;
}

TGIS_Shape* TGIS_LayerVector::ShapeByUid(std::int32_t uid) {
  std::int32_t index = 0;
  currentShape_ = FindUidIndex(uid, index) ? shapes_[static_cast<std::size_t>(index)].get()
                                           : nullptr;
  return currentShape_;
}

std::int32_t TGIS_LayerVector::LastUid() { return shapes_.empty() ? 0 : shapes_.back()->Uid(); }

std::int32_t TGIS_LayerVector::NextUid() { return LastUid() + 1; }

void TGIS_LayerVector::DeleteShape(std::int32_t uid) {
  if (TGIS_Shape* shape = MakeEditable(ShapeByUid(uid))) shape->Delete();
}

TGIS_Shape* TGIS_LayerVector::MakeEditable(TGIS_Shape* shape) {
  if (shape == nullptr || shape->Layer() == nullptr) return nullptr;
  if (shape->Uid() == 0) {
    std::unique_ptr<TGIS_Shape> copy = shape->CreateCopy();
    copy->SetLayer(this);
    copy->SetUid(NextUid());
    TGIS_Shape* added = AppendShape(std::move(copy));
    AddToIndex(*added);
    return added;
  }
  std::int32_t index = 0;
  if (FindUidIndex(shape->Uid(), index)) return shapes_[static_cast<std::size_t>(index)].get();

  // A file layer's shape edited for the first time: list an owned copy at
  // its uid's place, keeping a running list enumeration on the same shapes.
  std::unique_ptr<TGIS_Shape> copy = shape->CreateCopy();
  copy->SetIndexed(true);
  copy->SetIndexedExtent(copy->Extent());
  TGIS_Shape* added = copy.get();
  shapes_.insert(shapes_.begin() + index, std::move(copy));
  if (scanPosition_ >= index) ++scanPosition_;
  if (shape == currentShape_) scanPosition_ = index;
  return added;
}

void TGIS_LayerVector::RevertShape(std::int32_t uid) {
  std::int32_t index = 0;
  if (FindUidIndex(uid, index)) {
    const auto pos = shapes_.begin() + index;
    (*pos)->Delete();
    // Never leave the enumeration pointing at a freed shape, and let a
    // running list enumeration go on with the shape after it.
    if (currentShape_ == pos->get()) currentShape_ = nullptr;
    if (scanPosition_ >= index) --scanPosition_;
    shapes_.erase(pos);
  }
  if (TGIS_Shape* fileVersion = ShapeByUid(uid)) AddToIndex(*fileVersion);
}

TGIS_Shape* TGIS_LayerVector::EditedVersion(TGIS_Shape* shape) {
  if (shape == nullptr) return nullptr;
  std::int32_t index = 0;
  if (!FindUidIndex(shape->Uid(), index)) return shape;
  TGIS_Shape* listed = shapes_[static_cast<std::size_t>(index)].get();
  if (!ScanAtEnd()) {
    const TGIS_Shape* item = ScanItem();
    const std::int32_t uid = std::max(item != nullptr ? item->Uid() : 0, shape->Uid());
    std::int32_t pos = 0;
    FindUidIndex(uid, pos);
    scanPosition_ = pos;
    ScanAdvance();
  }
  return listed;
}

TGIS_Shape* TGIS_LayerVector::DeselectShape(std::int32_t uid) {
  TGIS_Shape* shape = ShapeByUid(uid);
  if (shape == nullptr) return nullptr;
  shape->SetSelected(false);
  shape->Invalidate(1);
  return shape;
}

void TGIS_LayerVector::DeselectAll() {
  for (std::size_t i = shapes_.size(); i-- > 0;) {
    TGIS_Shape& shape = *shapes_[i];
    if (!shape.Selected()) continue;
    shape.SetSelected(false);
    shape.Invalidate(1);
  }
}

// ---- enumeration -----------------------------------------------------------------

void TGIS_LayerVector::ScanPrepare(const TGIS_Bounds& extent, const std::string& query,
                                   TGIS_Shape* relationShape,
                                   const std::string& relationPattern, bool skipDeleted) {
  double margin = std::max(std::abs(extent.YMax - extent.YMin),
                           std::abs(extent.XMax - extent.XMin)) / 1e10;
  if (margin == 0) margin = 1e-10;
  scanExtent_ = MakeBounds(extent.XMin - margin, extent.YMin - margin, extent.XMax + margin,
                           extent.YMax + margin);

  if (!scope_.empty() && !query.empty()) {
    scanQuery_ = "(" + scope_ + ") AND (" + query + ")";
  } else {
    scanQuery_ = scope_.empty() ? query : scope_;
  }
  // Hook of the attribute query language: the compiled query is evaluated by
  // MatchesScan. Until a compiler is registered only an empty query is
  // accepted; ignoring a query would return shapes the caller filtered out.
  scanEvaluator_.reset();
  if (!scanQuery_.empty()) {
    if (gScanQueryCompiler == nullptr)
      throw EGIS_Exception(GIS_RS_ERR_UNIMPLEMENTED, scanQuery_, 0);
    scanEvaluator_ = gScanQueryCompiler(*this, scanQuery_);
  }

  // Spatial relations need the topology engine, which this kernel lacks.
  if (relationShape != nullptr)
    throw EGIS_Exception(GIS_RS_ERR_UNIMPLEMENTED, relationPattern, 0);
  scanShape_ = relationShape;
  scanPattern_ = relationPattern;
  scanSkipDeleted_ = skipDeleted;

  scanPosition_ = 0;
  currentShape_ = shapes_.empty() ? nullptr : shapes_.front().get();
}

void TGIS_LayerVector::ScanAdvance() {
  ++scanPosition_;
  currentShape_ = scanPosition_ >= 0 && static_cast<std::size_t>(scanPosition_) < shapes_.size()
                      ? shapes_[static_cast<std::size_t>(scanPosition_)].get()
                      : nullptr;
  if (currentShape_ == nullptr) return;
  // Shapes live all over the heap: the ones a few steps ahead are fetched
  // while this one is worked on (the object, then what it points to).
  const auto at = static_cast<std::size_t>(scanPosition_);
  const std::size_t count = shapes_.size();
  if (at + kScanFetchObject < count) __builtin_prefetch(shapes_[at + kScanFetchObject].get());
  if (at + kScanFetchBlocks < count) {
    if (const TGIS_Shape* s = shapes_[at + kScanFetchBlocks].get()) s->PrefetchBlocks();
  }
  if (at + kScanFetchValues < count) {
    if (const TGIS_Shape* s = shapes_[at + kScanFetchValues].get()) s->PrefetchValues();
  }
}

bool TGIS_LayerVector::ScanAtEnd() {
  return shapes_.empty() || static_cast<std::size_t>(std::max(scanPosition_, 0)) >= shapes_.size();
}

TGIS_Shape* TGIS_LayerVector::ScanItem() {
  if (currentShape_ != nullptr) return currentShape_;
  if (scanPosition_ >= 0 && static_cast<std::size_t>(scanPosition_) < shapes_.size())
    return shapes_[static_cast<std::size_t>(scanPosition_)].get();
  return nullptr;
}

bool TGIS_LayerVector::ScanSkips(const TGIS_Shape& shape) const {
  return scanSkipDeleted_ && shape.Deleted();
}

bool TGIS_LayerVector::ExtentTest(TGIS_Shape& shape, const TGIS_Bounds& extent) {
  // Without a viewer an empty shape passes (there is nothing to test), but a
  // shape with geometry must still lie in the extent: a scan by extent that
  // ignored it would hand out shapes from anywhere.
  if (Viewer() == nullptr && shape.IsEmpty()) return true;
  if (shape.IsEmpty()) return false;
  if (extent.XMin > extent.XMax || extent.YMin > extent.YMax) return false;
  return BoundsOverlap(shape.PaintExtent(), extent);
}

bool TGIS_LayerVector::MatchesScan(TGIS_Shape* shape) {
  if (shape == nullptr) return false;
  if (!ExtentTest(*shape, scanExtent_)) return false;
  if (scanEvaluator_ && !scanEvaluator_->Evaluate(*this)) return false;
  // (A relation filter is refused by ScanPrepare.)
  return true;
}

void TGIS_LayerVector::ScanFirstMatch() {
  scanPosition_ = -1;
  ScanNext();
}

void TGIS_LayerVector::StartScan(const TGIS_Bounds& extent, const std::string& query,
                                 TGIS_Shape* relationShape, const std::string& relationPattern,
                                 bool skipDeleted) {
  ScanPrepare(extent, query, relationShape, relationPattern, skipDeleted);
  ScanFirstMatch();
}

void TGIS_LayerVector::ScanNext() {
  for (;;) {
    ScanAdvance();
    if (ScanAtEnd()) return;
    TGIS_Shape* shape = ScanItem();
    if (shape != nullptr && !ScanSkips(*shape) && MatchesScan(shape)) return;
  }
}

bool TGIS_LayerVector::ScanDone() { return ScanAtEnd(); }

TGIS_Shape* TGIS_LayerVector::ScanCurrent() { return ScanItem(); }

TGIS_Shape* TGIS_LayerVector::FindFirst(const TGIS_Bounds& extent, const std::string& query,
                                        TGIS_Shape* relationShape,
                                        const std::string& relationPattern, bool skipDeleted) {
  ScanPrepare(extent, query, relationShape, relationPattern, skipDeleted);
  scanIndexExtent_ = ExtentFromMap(extent);
  scanUsesIndex_ = rtree_ != nullptr && !IsNullBounds(extent) && !IsUnbounded(extent) &&
                   BoundsArea(extent) < BoundsArea(Extent()) / 16;
  if (scanUsesIndex_) return NextIndexedMatch(rtree_->SearchFirst(scanIndexExtent_, -1));
  StartScan(extent, query, relationShape, relationPattern, skipDeleted);
  return ScanDone() ? nullptr : ScanCurrent();
}

TGIS_Shape* TGIS_LayerVector::FindNext() {
  if (scanUsesIndex_) {
    if (!rtree_) return nullptr;
    return NextIndexedMatch(rtree_->SearchNext());
  }
  ScanNext();
  return ScanDone() ? nullptr : ScanCurrent();
}

TGIS_Shape* TGIS_LayerVector::NextIndexedMatch(std::int32_t uid) {
  for (; uid >= 0; uid = rtree_->SearchNext()) {
    TGIS_Shape* shape = ShapeByUid(uid);
    if (shape != nullptr && !ScanSkips(*shape) && MatchesScan(shape)) return shape;
  }
  currentShape_ = nullptr;
  return nullptr;
}

// ---- copying another layer -------------------------------------------------------

void TGIS_LayerVector::Build(const std::string& path, const TGIS_Bounds& /*extent*/,
                             TGIS_ShapeKind /*kind*/) {
  SetPath(path);
}

void TGIS_LayerVector::ConvertFrom(TGIS_LayerVector* source, const TGIS_Bounds& extent,
                                   TGIS_ShapeKind kind, const std::string& query, bool clip) {
  // Copying a layer into itself would revert it first and copy nothing.
  if (source == nullptr || source == this) return;
  const std::int32_t total = source->LastUid();
  std::int32_t count = 0;
  bool abort = false;
  TGIS_Viewer* viewer = source->Viewer();
  if (viewer != nullptr) viewer->BusyBegin(source);
  try {
    RevertAll();
    CopyFieldsFrom(*source);
    for (source->StartScan(extent, query, nullptr, {}, true); !source->ScanDone();
         source->ScanNext()) {
      TGIS_Shape* shape = source->ScanCurrent();
      std::unique_ptr<TGIS_Shape> clipped;
      const TGIS_Shape* c = shape;
      if (clip) {
        clipped = shape->ClipToExtent(extent);
        c = clipped.get();
      }
      if (c != nullptr && !c->Deleted() &&
          (kind == TGIS_ShapeKind::Unknown || c->ShapeKind() == kind)) {
        if (c->Layer() == source) {
          AddShape(*c, true);
        } else {
          // A clipped shape that lost its layer still carries the values of
          // the shape it was cut from.
          TGIS_Shape* added = AddShape(*c, false);
          if (added->Attributes() != nullptr) added->Attributes()->Clear();
          added->CopyFields(*shape);
        }
      }
      clipped.reset();
      if (count % 100 == 1 && viewer != nullptr) {
        viewer->BusyShake(source, source->ScanCurrent()->Uid(), total, abort);
        if (abort) break;
      }
      ++count;
    }
  } catch (...) {
    if (viewer != nullptr) viewer->BusyRelease(source);
    throw;
  }
  if (viewer != nullptr) viewer->BusyRelease(source);
}

// ---- attribute fields -------------------------------------------------------------

std::int32_t TGIS_LayerVector::FindField(std::string_view name) {
  if (name.empty()) {
    for (std::size_t i = 0; i < fields_.size(); ++i)
      if (fields_[i]->NewName.empty()) return static_cast<std::int32_t>(i);
    return -1;
  }
  // Names often share a prefix ("DXF_..."): the length and the last letter
  // rule out most fields before the full comparison.
  const char last = AsciiUpper(name.back());
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const std::string& candidate = fields_[i]->NewName;
    if (candidate.size() == name.size() && AsciiUpper(candidate.back()) == last &&
        FieldNamesEqual(candidate, name)) {
      return static_cast<std::int32_t>(i);
    }
  }
  return -1;
}

std::int32_t TGIS_LayerVector::FindDeclaredField(std::string_view name) {
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (FieldNamesEqual(fields_[i]->Name, name)) return static_cast<std::int32_t>(i);
  return -1;
}

std::int32_t TGIS_LayerVector::FileFieldIndex(const std::string& name) {
  return FindDeclaredField(name);
}

std::int32_t TGIS_LayerVector::FieldIndex(const std::string& name) {
  std::int32_t index = VirtualFieldIndex(name);
  if (index >= 0) return index;
  index = FileFieldIndex(name);
  if (index >= 0) return index;
  // (Joined tables are not supported: their names resolve to nothing.)
  return FindField(name);
}

TGIS_FieldInfo* TGIS_LayerVector::FieldInfo(std::int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= fields_.size()) return nullptr;
  return fields_[static_cast<std::size_t>(index)].get();
}

std::int32_t TGIS_LayerVector::DeclareFileField(const std::string& name, TGIS_FieldKind kind,
                                                std::int32_t width, std::int32_t decimal,
                                                bool persistent) {
  if (FindField(name) >= 0) throw EGIS_Exception(GIS_RS_ERR_FIELDEXIST, name, 0);
  auto field = std::make_unique<TGIS_FieldInfo>();
  field->Persistent = persistent;
  field->FieldKind = kind;
  field->Name = name;
  field->NewName = name;
  field->Width = width;
  field->NewWidth = width;
  field->Decimal = decimal;
  field->NewDecimal = decimal;
  fields_.push_back(std::move(field));
  return static_cast<std::int32_t>(fields_.size() - 1);
}

std::int32_t TGIS_LayerVector::AddField(const std::string& name, TGIS_FieldKind kind,
                                        std::int32_t width, std::int32_t decimal) {
  const std::int32_t index = DeclareFileField(name, kind, width, decimal, false);
  SetModified(true);
  return index;
}

void TGIS_LayerVector::RenameField(const std::string& oldName, const std::string& newName,
                                   std::int32_t width, std::int32_t decimal) {
  const std::int32_t index = FindField(oldName);
  if (index < 0) throw EGIS_Exception(GIS_RS_ERR_FIELDNOEXIST, oldName, 0);
  TGIS_FieldInfo& field = *fields_[static_cast<std::size_t>(index)];
  if (!FieldNamesEqual(oldName, newName)) {
    if (FindField(newName) >= 0) throw EGIS_Exception(GIS_RS_ERR_FIELDEXIST, newName, 0);
    field.NewName = newName;
    SetModified(true);
  }
  if (field.NewWidth != width) {
    field.NewWidth = width;
    SetModified(true);
  }
  if (field.NewDecimal != decimal) {
    field.NewDecimal = decimal;
    SetModified(true);
  }
}

TGIS_FieldInfo* TGIS_LayerVector::DeleteField(const std::string& name) {
  const std::int32_t index = FindField(name);
  if (index < 0) throw EGIS_Exception(GIS_RS_ERR_FIELDNOEXIST, name, 0);
  TGIS_FieldInfo* field = fields_[static_cast<std::size_t>(index)].get();
  field->Deleted = true;
  SetModified(true);
  return field;
}

void TGIS_LayerVector::CopyFieldsFrom(TGIS_LayerVector& source) {
  if (&source == this) return;
  const std::int32_t count = source.FieldsCount();
  for (std::int32_t i = 0; i < count; ++i) {
    const TGIS_FieldInfo& from = *source.FieldInfo(i);
    std::int32_t index = FindField(from.NewName);
    if (index < 0) index = AddField(from.NewName, from.FieldKind, from.NewWidth, from.NewDecimal);
    if (from.Deleted) fields_[static_cast<std::size_t>(index)]->Deleted = true;
  }
}

void TGIS_LayerVector::MakeExportNames(std::int32_t maxLength, bool renameAll) {
  const std::size_t limit = maxLength <= 4 ? 4 : static_cast<std::size_t>(maxLength);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    TGIS_FieldInfo& field = *fields_[i];
    std::string candidate;
    if (!renameAll && field.Persistent && field.Name == field.NewName) {
      // A field as the file declares it keeps its name.
      candidate = field.NewName;
    } else {
      std::size_t a = std::min(CharCount(field.NewName) + 2, limit);
      candidate = IdentifierCandidate(field.NewName, a);
      if (candidate.empty()) {
        candidate = "FIELD";
        // Room for the name itself, so that a counter does not replace it.
        a = std::min(candidate.size() + 2, limit);
      }

      const auto taken = [&](const std::string& name) {
        for (std::size_t k = 0; k < fields_.size(); ++k)
          if (k != i && FieldNamesEqual(fields_[k]->ExportName, name)) return true;
        return false;
      };
      const std::string base = candidate;
      for (int j = 1; taken(candidate); ++j) {
        const int digits = j < 255 ? 2 : (j <= 0xfff ? 3 : (j <= 0xffff ? 4 : 8));
        const std::size_t keep = a > static_cast<std::size_t>(digits) ? a - digits : 0;
        candidate = WithCounter(std::string_view(base).substr(0, keep), digits, j);
      }
    }
    if (candidate != field.ExportName) {
      field.ExportName = candidate;
      SetModified(true);
    }
  }
}

TGIS_Variant TGIS_LayerVector::ReadFileField(std::int32_t /*uid*/, const std::string& /*name*/) {
  return {};
}

TGIS_Variant TGIS_LayerVector::ReadFileFieldByIndex(std::int32_t /*index*/) { return {}; }

TGIS_Variant TGIS_LayerVector::GetFieldByIndex(std::int32_t index) {
  TGIS_Shape* shape = ScanCurrent();
  if (shape == nullptr || index < 0) return {};
  switch (index) {
    case kFieldIndexUid:
      return TGIS_Variant(shape->Uid());
    case kFieldIndexSelected:
      return TGIS_Variant(shape->Selected());
    case kFieldIndexArea:
      return TGIS_Variant(shape->Area());
    case kFieldIndexLength:
      return TGIS_Variant(shape->Length());
    default:
      break;
  }
  if (const TGIS_VariantList* values = shape->Attributes()) {
    const TGIS_Variant* stored = values->At(index);
    if (stored != nullptr && !stored->IsUnassigned()) return *stored;
  }
  if (index >= kFieldIndexJoined) return {};  // joined tables: not supported
  try {
    return ReadFileFieldByIndex(index);
  } catch (const std::exception&) {
    return {};
  }
}

TGIS_Variant TGIS_LayerVector::GetShapeField(std::int32_t uid, const std::string& name) {
  TGIS_Shape* current = ScanCurrent();
  TGIS_Shape* shape = current != nullptr && current->Uid() == uid ? current : ShapeByUid(uid);
  return shape != nullptr ? shape->GetField(name) : TGIS_Variant();
}

TGIS_Variant TGIS_LayerVector::GetShapeFieldRaw(std::int32_t uid, const std::string& name) {
  TGIS_Shape* current = ScanCurrent();
  TGIS_Shape* shape = current != nullptr && current->Uid() == uid ? current : ShapeByUid(uid);
  return shape != nullptr ? shape->GetFieldRaw(name) : TGIS_Variant();
}

// ---- locating ------------------------------------------------------------------------

TGIS_Shape* TGIS_LayerVector::Locate(const TGIS_Coord& point, double tolerance,
                                     bool visibleOnly) {
  TGIS_Coord nearest{};
  std::int32_t part = 0;
  double distance = 0;
  return LocateEx(point, -1, visibleOnly, nearest, part, distance, tolerance);
}

TGIS_Shape* TGIS_LayerVector::LocateEx(const TGIS_Coord& point, std::int32_t skipUid,
                                       bool visibleOnly, TGIS_Coord& nearest,
                                       std::int32_t& part, double& distance,
                                       double tolerance) {
  double best = kNoDistance;
  std::int32_t bestUid = -1;
  TGIS_Coord bestPoint{};
  std::int32_t bestPart = 0;
  const TGIS_Bounds area = MakeBounds(point.X - tolerance, point.Y - tolerance,
                                      point.X + tolerance, point.Y + tolerance);
  for (TGIS_Shape* shape = FindFirst(area, {}, nullptr, {}, true); shape != nullptr;
       shape = FindNext()) {
    if (visibleOnly && shape->Hidden()) continue;
    double limit = tolerance;
    if (shape->ShapeKind() == TGIS_ShapeKind::Polygon && !PointInPolygon(point, *shape, -1))
      limit = kNoDistance;
    const int parts = shape->GetNumParts();
    for (int p = 0; p < parts; ++p) {
      TGIS_Coord candidate{};
      const double d = shape->DistanceToPart(point, p, candidate, limit);
      if (shape->Uid() != skipUid && d < best) {
        best = d;
        bestUid = shape->Uid();
        bestPoint = candidate;
        bestPart = p;
      }
    }
  }
  if (bestUid < 0 || std::abs(tolerance) < best) return nullptr;
  TGIS_Shape* found = ShapeByUid(bestUid);
  if (found == nullptr) return nullptr;
  nearest = bestPoint;
  part = bestPart;
  distance = best;
  return found;
}

}  // namespace cadport
