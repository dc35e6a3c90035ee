// TGIS_LayerSHP: the vector layer whose data lives in a shapefile set.
//
// Files, all named from Path (the .shp name), matched exactly (case
// matters); when an existing set is opened and its .shx or .dbf is not found
// under the exact name, a name differing only in case in the same folder is
// accepted (ROADS.SHP with ROADS.DBF):
//   main        Path
//   index       RemoveExtension(Path) + ".shx"   (optional when reading)
//   attributes  RemoveExtension(Path) + ".dbf"   (required)
//   R-tree      Path + ".rtree"
//   temporary   TempName of each (Path + "~tmp") while ConvertFrom writes
//   backup      BackupName of each (Path + "~") left by a commit for the
//               caller to remove
//
// Reading is lazy: a scan re-points one reusable shape per kind at the mapped
// record (borrowed geometry, nothing copied, valid until the scan moves on);
// the uid of a shape is its record number, which is also its attribute
// record.  Attribute values are read from the .dbf when asked for.
//
// Writing is whole-set: ConvertFrom copies another layer (or this one) into
// new files under temporary names and swaps them into place in one commit.
// Any failure before the commit (a write error, an error of the source, an
// exception from the viewer's busy handler) closes the writers and removes
// every temporary file; existing files are left byte for byte as they were.
#ifndef CADPORT_KERNEL_SHAPEFILE_LAYER_SHP_H
#define CADPORT_KERNEL_SHAPEFILE_LAYER_SHP_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kernel/shapefile/file_dbf.h"
#include "kernel/shapefile/file_shp.h"
#include "kernel/vector/layer_vector.h"

namespace cadport {

class TGIS_LayerSHP : public TGIS_LayerVector {
 public:
  static constexpr const char* kDescription = "ArcView Shape Files (SHP)";

  TGIS_LayerSHP();
  ~TGIS_LayerSHP() override;

  // ---- overrides ------------------------------------------------------------
  // Opens the set on Path: the main file (required), the index (optional),
  // the attribute table (required; its absence raises the file-open error).
  // The layer's fields become the table's columns; its extent the header box.
  void Setup() override;
  // Path + ".rtree".
  std::string RTreePath() override;
  void StartScan(const TGIS_Bounds& extent, const std::string& query = {},
                 TGIS_Shape* relationShape = nullptr, const std::string& relationPattern = {},
                 bool skipDeleted = true) override;
  void ScanNext() override;
  bool ScanDone() override;
  TGIS_Shape* ScanCurrent() override;
  // False: records are read into shape objects the scan re-points.
  bool ScanKeepsShapes() const override { return false; }
  // Null for uids below 1 and beyond the last record.  With an index file the
  // record is found directly; without one, by a scan over the viewer's extent
  // (everything when the layer has no viewer), which replaces a running scan.
  TGIS_Shape* ShapeByUid(std::int32_t uid) override;
  // The highest uid of the set (one full scan, then cached).
  std::int32_t LastUid() override;
  // Counts on from LastUid without scanning again.
  std::int32_t NextUid() override;
  TGIS_Variant ReadFileField(std::int32_t uid, const std::string& name) override;
  TGIS_Variant ReadFileFieldByIndex(std::int32_t index) override;
  // Forget edits; the scan never keeps pointing at a freed listed shape.
  void RevertShape(std::int32_t uid) override;
  void RevertAll() override;
  // When modified, rewrites the layer's own set (ConvertFrom(this, ...)).
  void SaveData() override;
  // Creates an empty set on path (main file, index and attribute table);
  // GIS_RS_ERR_FILEEXIST when the main or attribute file exists.
  void Build(const std::string& path, const TGIS_Bounds& extent, TGIS_ShapeKind kind) override;
  // Writes the shapes of source within extent (of kind; Unknown: the kind of
  // the first shape written, other kinds are skipped and counted) and their
  // attributes as a new set on Path, then commits it.  Nothing written (and
  // not rewriting itself): no file is created or touched.  An abort through
  // the busy handler that does not raise commits the shapes written so far.
  void ConvertFrom(TGIS_LayerVector* source, const TGIS_Bounds& extent, TGIS_ShapeKind kind,
                   const std::string& query, bool clip) override;

  // ---- file names -----------------------------------------------------------
  // The set's files: main, index, attributes, R-tree (in commit order).
  std::string MainPath() const { return Path(); }
  std::string IndexPath() const;
  std::string AttributesPath() const;
  std::vector<std::string> FileNames() const;
  // TempName / BackupName of each of FileNames(): what ConvertFrom writes
  // and what its commit leaves behind.
  std::vector<std::string> TemporaryNames() const;
  std::vector<std::string> BackupNames() const;

  // Threads ConvertFrom writes with: 0 (the default) a second one for the
  // main file and index of a long conversion (kWriterThreadMinimum shapes or
  // more, another processor free, shapes that stay put during the scan, no
  // clipping, no spatial index, not its own set), 1 only the caller's, 2 a
  // second one whenever it may. The files are the same either way, and so is
  // the error raised when writing fails (the one the first failing record
  // gives).
  static constexpr std::int64_t kWriterThreadMinimum = 10000;
  std::int32_t WriteThreads() const { return writeThreads_; }
  void SetWriteThreads(std::int32_t threads) { writeThreads_ = threads < 0 ? 0 : threads; }

  // ---- result of the last ConvertFrom ----------------------------------------
  // Records written.
  std::int64_t WrittenCount() const { return writtenCount_; }
  // Whether the last ConvertFrom's commit moved a previous set aside (its
  // files are then the backups).
  bool ReplacedASet() const { return replacedASet_; }
  // Shapes of the given kind skipped because the set holds another kind.
  std::int64_t SkippedCount(TGIS_ShapeKind kind) const;

  // ---- open files (null while closed) ----------------------------------------
  TGIS_FileSHP* SHP() const { return shp_.get(); }
  TGIS_FileSHX* SHX() const { return shx_.get(); }
  TGIS_FileDBF* DBF() const { return dbf_.get(); }
  const TGIS_ShpRecordHeader& CurrentRecord() const { return currentRecord_; }
  TGIS_ShapeKind CurrentKind() const { return currentKind_; }

 private:
  // Reads the record at the main file's position; the (possibly edited)
  // shape, or null for a record without a shape.
  TGIS_Shape* ReadRecordAtPosition();
  void CloseFiles() noexcept;
  // True for the four shapes re-pointed at file records.
  bool IsReusable(const TGIS_Shape* shape) const;
  // Rewrite of the layer's own files committed: open them again.
  void ReopenAfterRewrite(bool useIndex);

  // Spatial-index file of an import.  The R-tree is not built yet: these
  // create nothing, and the commit includes the R-tree only once a file was
  // written under its temporary name.
  void IndexBegin(const std::string& tempPath);
  void IndexInsert(const TGIS_Bounds& extent, std::int32_t recordNumber);
  void IndexFinish();
  void IndexAbandon() noexcept;
  bool indexWritten_ = false;

  std::unique_ptr<TGIS_FileSHP> shp_;
  std::unique_ptr<TGIS_FileSHX> shx_;
  std::unique_ptr<TGIS_FileDBF> dbf_;
  std::int32_t lastUidCache_ = -1;
  TGIS_Shape* fileShape_ = nullptr;  // the scan's shape: a reusable or listed one
  TGIS_ShpRecordHeader currentRecord_;
  TGIS_ShapeKind currentKind_ = TGIS_ShapeKind::Unknown;
  // Re-pointed at every record read; owned.
  std::unique_ptr<TGIS_ShapePoint> point_;
  std::unique_ptr<TGIS_ShapeMultipoint> multipoint_;
  std::unique_ptr<TGIS_ShapeArc> arc_;
  std::unique_ptr<TGIS_ShapePolygon> polygon_;

  std::int32_t writeThreads_ = 0;
  std::int64_t writtenCount_ = 0;
  bool replacedASet_ = false;
  std::array<std::int64_t, 8> skipped_{};
};

}  // namespace cadport

#endif  // CADPORT_KERNEL_SHAPEFILE_LAYER_SHP_H
