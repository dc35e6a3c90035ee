// Deferred readers: owned by the polylines-and-blocks developer.
//
// Block definitions and their references.  The section dispatch only records
// where each BLOCK starts and its base point; every INSERT met later jumps
// back to the recorded position, converts the block's entities under the
// reference's matrix and returns to where it was.  Expansion nests.
//
// Bounds: a block already being expanded further out is not expanded again
// (direct and indirect cycles), nesting stops at kMaxBlockNesting levels, and
// the whole load may re-read only a bounded number of lines or items tied to
// the file's size, so a small file cannot demand unbounded time or memory.
#include "kernel/dxf/layer_dxf.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "kernel/dxf/dxf_geometry.h"

namespace cadport {

namespace {

constexpr std::size_t kMaxBlockNesting = 64;

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

void TGIS_LayerDXF::IndexBlock() {
  TGIS_DxfBlockEntry entry;
  entry.Position = StreamPosition();
  std::string name;
  bool named = false;
  bool inHeader = true;  // before the block's first entity
  auto record = [&]() {
    if (inHeader && named && !name.empty()) blockIndex_.Add(name, entry);
    inHeader = false;
  };
  ReadGroup();
  while (!AtEnd() && !IsGroup(0, "ENDBLK") && !IsGroup(1, "ENDBLK")) {
    if (IsGroup(0, "ENDSEC") || IsGroup(0, "EOF")) break;  // ENDBLK missing
    if (inHeader) {
      if (IsGroup(0)) {
        record();
      } else {
        switch (GroupCode()) {
          case 2:
            if (!named) {
              name = std::string(GroupValue());
              named = true;
            }
            break;
          case 10: entry.BasePoint.X = ValueFloat(); entry.HasBasePoint = true; break;
          case 20: entry.BasePoint.Y = ValueFloat(); entry.HasBasePoint = true; break;
          case 30: entry.BasePoint.Z = ValueFloat(); entry.HasBasePoint = true; break;
          default: break;
        }
      }
    }
    ReadGroup();
  }
  record();
}

void TGIS_LayerDXF::BuildInsertMatrix(const TGIS_Coord3D& extrusion, const TGIS_Coord3D& scale,
                                      const TGIS_Coord3D& point, double rotation) {
  const TGIS_Coord3D origin{0, 0, 0, 0};
  if (!DxfInsertMatrix(origin, scale, rotation, point, extrusion, insertMatrix_))
    throw EDxfStructure("INSERT with a zero-length extrusion direction");
}

void TGIS_LayerDXF::ReadInsert(const std::string* parentName) {
  // Whatever happens below, the enclosing state is restored on the way out.
  struct T_restore {
    TGIS_LayerDXF& Layer;
    TGIS_DxfMatrix Matrix;
    int32_t Depth;
    std::size_t Stack;
    ~T_restore() {
      Layer.insertMatrix_ = Matrix;
      Layer.blockDepth_ = Depth;
      Layer.blockStack_.resize(Stack);
    }
  } restore{*this, insertMatrix_, blockDepth_, blockStack_.size()};
  // The caller's name is always on the stack; nothing else is needed of it.
  (void)parentName;

  // Every INSERT starts from the format's defaults.
  TGIS_Coord3D extrusion{0, 0, 1, 0};
  insertPoint_ = TGIS_Coord3D{0, 0, 0, 0};
  insertScale_ = TGIS_Coord3D{1, 1, 1, 0};
  double rotation = 0;
  std::string blockName;

  int64_t resumePosition = StreamPosition();
  ReadGroup();
  if (IsGroup(8) && !LayerIsVisible(GroupValue())) return;
  // Like the entity readers: the group read last before the end of the
  // data is handled too.
  for (;;) {
    if (IsGroup(0)) break;
    switch (GroupCode()) {
      case 2: blockName = std::string(GroupValue()); break;
      case 10: insertPoint_.X = ValueFloat(); break;
      case 20: insertPoint_.Y = ValueFloat(); break;
      case 30: insertPoint_.Z = ValueFloat(); break;
      case 41: insertScale_.X = ValueFloat(); break;
      case 42: insertScale_.Y = ValueFloat(); break;
      case 43: insertScale_.Z = ValueFloat(); break;
      case 50: rotation = ValueFloat() * (std::numbers::pi / 180.0); break;
      case 210: extrusion.X = ValueFloat(); break;
      case 220: extrusion.Y = ValueFloat(); break;
      case 230: extrusion.Z = ValueFloat(); break;
      default: break;
    }
    resumePosition = StreamPosition();
    if (AtEnd()) break;
    ReadGroup();
  }
  // resumePosition: where the code-0 group that ended the INSERT starts
  // (the data's end when the file stops inside the INSERT).

  const TGIS_DxfBlockEntry* entry = blockIndex_.Find(blockName);
  if (entry == nullptr) return;
  // A block already being expanded further out is not expanded again.
  for (const std::string& open : blockStack_)
    if (SameNameIgnoringCase(open, blockName)) return;
  if (blockStack_.size() >= kMaxBlockNesting) return;
  if (reader_.ItemsRead() > ExpansionLimit())
    throw EDxfStructure("block references expand beyond what the file's size allows");

  // InsertMatrix := T(-base) x S x R x T(insertion) x O x enclosing matrix.
  const TGIS_DxfMatrix saved = insertMatrix_;
  BuildInsertMatrix(extrusion, insertScale_, insertPoint_, rotation);
  const TGIS_Coord3D& base = entry->BasePoint;
  insertMatrix_ = DxfMatrixMultiply(
      DxfMatrixMultiply(TGIS_DxfMatrix::Translation(-base.X, -base.Y, -base.Z), insertMatrix_),
      saved);

  const std::string name = blockName;  // the stack may grow while nested inserts run
  blockStack_.push_back(blockName);
  const int64_t itemsBefore = reader_.ItemsRead();
  ++blockDepth_;
  SetStreamPosition(entry->Position);
  ReadGroup();
  // The header (name, flags, base point) was read by IndexBlock.
  while (!AtEnd() && !IsGroup(0)) ReadGroup();
  while (!AtEnd() && !IsGroup(0, "ENDBLK")) {
    if (IsGroup(0, "ENDSEC") || IsGroup(0, "EOF") || IsGroup(0, "BLOCK")) break;  // ENDBLK missing
    if (IsGroup(0, "INSERT")) {
      ReadInsert(&name);
      continue;
    }
    if (!DispatchEntity()) ReadGroup();
  }
  if (blockDepth_ == 1) expansionItems_ += reader_.ItemsRead() - itemsBefore;

  // Back to the code-0 group that ended the INSERT.
  SetStreamPosition(resumePosition);
  ReadGroup();
}

}  // namespace cadport
