// The main (.shp) and index (.shx) files of a shapefile set.
//
// Both files start with the same 100-byte header (big-endian file code,
// reserved words and length; little-endian version, type and bounding box;
// the Z/M range kept as eight big-endian words, never interpreted, so its bytes
// survive a read and rewrite).  A reader works on the bytes of a shared
// read-only mapping (or on bytes a caller holds); a writer streams through a
// large buffer and patches the header once at the end.
#ifndef CADPORT_KERNEL_SHAPEFILE_FILE_SHP_H
#define CADPORT_KERNEL_SHAPEFILE_FILE_SHP_H

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "kernel/base/types.h"
#include "kernel/shapefile/binary_io.h"
#include "kernel/vector/shape.h"

namespace cadport {

class TGIS_MappedStream;

// The decoded 100-byte header.
struct TGIS_ShpFileHeader {
  int32_t FileCode = 9994;
  std::array<int32_t, 5> Reserved{};
  int64_t FileLength = 0;  // in bytes: the stored word count times 2
  int32_t Version = 1000;
  int32_t ShapeType = 0;
  TGIS_Bounds Bounds{0, 0, 0, 0};
  std::array<int32_t, 8> ZMRange{};  // ZMin, ZMax, MMin, MMax as raw BE words
};

// The 8-byte header of a main-file record, with the kind of its shape type.
struct TGIS_ShpRecordHeader {
  int32_t RecordNumber = 0;   // 1-based
  int32_t ContentLength = 0;  // 16-bit words from the shape type on
  TGIS_ShapeKind Kind = TGIS_ShapeKind::Unknown;
};

// Common base of the main and index files.
class TGIS_FileSHPInternal {
 public:
  static constexpr int64_t kHeaderSize = 100;
  // Lengths and offsets are stored as signed 32-bit counts of 16-bit words.
  static constexpr int64_t kMaxFileSize = int64_t{INT32_MAX} * 2;

  // Writable: creates (truncates) Path; failure raises EFOpenError.
  // Otherwise maps Path read-only (EFOpenError when that fails).
  TGIS_FileSHPInternal(const std::string& path, bool writable);
  // A reader over bytes the caller keeps alive; Name is used in errors.
  TGIS_FileSHPInternal(std::span<const std::byte> bytes, std::string name);
  virtual ~TGIS_FileSHPInternal();
  TGIS_FileSHPInternal(const TGIS_FileSHPInternal&) = delete;
  TGIS_FileSHPInternal& operator=(const TGIS_FileSHPInternal&) = delete;

  // Reads the 100 header bytes; the position is then 100.
  virtual void ReadHeader();
  // Writes the header from Header at offset 0, with the current size as
  // length and 1000 as version.  The first call on a new file writes the
  // placeholder, later calls patch it in place.
  void WriteHeader();

  // Writers: flushes and closes, raising GIS_RS_ERR_FILEWRITE on failure.
  // Readers: releases the mapping.  Idempotent.
  void Close();
  // Closes a writer without reporting anything (error paths).
  void Abandon() noexcept;

  const std::string& Path() const { return path_; }
  bool Writable() const { return writer_ != nullptr; }
  int64_t Position() const;
  void SetPosition(int64_t position);
  int64_t Size() const;

  // Shape type written for a kind: 1, 8, 3, 5; 1 for any other kind.
  static int32_t ShapeTypeOfKind(TGIS_ShapeKind kind);
  // Kind read for a shape type; Z and M types read as their 2D kinds, every
  // other type (0 null shape, 31 multipatch, anything else) as Unknown.
  static TGIS_ShapeKind KindOfShapeType(int32_t shapeType);

  // Record number (BE), content length (BE), shape type (LE).  A record
  // without geometry (content length 2) is written as a null shape (type 0).
  // Raises GIS_RS_ERR_FILEWRITE before the file would outgrow the format.
  void WriteRecordHeader(const TGIS_ShpRecordHeader& header);
  // The shape's header block then its points block, verbatim.  Polygon
  // rings are written in the format's orientation: a ring inside an odd
  // number of the shape's other rings (even-odd) is a hole and runs
  // counter-clockwise, every other ring clockwise.  A ring of the wrong
  // orientation is written reversed (the shape itself is not touched); part
  // order, counts and the bounding box stay, rings of zero area stay as they
  // are.
  void WriteShapeGeometry(const TGIS_Shape& shape);

  TGIS_ShpFileHeader Header;

 protected:
  ByteCursor& Cursor() { return cursor_; }
  FileWriter& Writer() { return *writer_; }
  // Raises GIS_RS_ERR_FILEWRITE when n more bytes would pass kMaxFileSize.
  void CheckRoom(int64_t n) const;

 private:
  struct RingInfo {
    int32_t First = 0;  // index of its first point
    int32_t Count = 0;  // number of points
    double Area = 0;    // signed: positive counter-clockwise
    TGIS_Bounds Box{0, 0, 0, 0};
    bool Reverse = false;
  };
  // Writes a polygon's points block with its rings oriented; false (nothing
  // written) when every ring already runs the right way or the blocks are
  // not a well-formed polygon.
  bool WriteOrientedPolygonPoints(std::span<const std::byte> header, std::span<const std::byte> points);

  std::string path_;
  std::unique_ptr<TGIS_MappedStream> stream_;  // reading a file; owns the view
  ByteCursor cursor_;                          // reading; borrows stream_'s bytes
  std::unique_ptr<FileWriter> writer_;         // writing
  std::vector<RingInfo> rings_;                // reused by every polygon written
  std::vector<std::byte> reversed_;            // one ring's points, reversed
};

// The main file.
class TGIS_FileSHP : public TGIS_FileSHPInternal {
 public:
  using TGIS_FileSHPInternal::TGIS_FileSHPInternal;

  // Reads the record header at the position and checks it: the content
  // length must be at least 2 words and the record must end within the file.
  // A record of a known type without geometry reads as kind Unknown.
  TGIS_ShpRecordHeader ReadRecordHeader();
  // The geometry after the shape type of the record just read, in place
  // (valid while the file is open), checked to hold what its counts claim;
  // the position moves to the next record.
  const std::byte* RecordGeometry();

  const TGIS_ShpRecordHeader& CurrentRecord() const { return current_; }
  int32_t CurrentShapeType() const { return currentType_; }

  // True when Geometry (the record content after the shape type) holds the
  // header and the points that its counts claim for Kind, with parts starting
  // at 0, ascending and below the point count.
  static bool GeometryFits(TGIS_ShapeKind kind, std::span<const std::byte> geometry);

 private:
  TGIS_ShpRecordHeader current_;
  int32_t currentType_ = 0;
  int64_t recordStart_ = 0;  // position of the current record's header
};

// The index file.
class TGIS_FileSHX : public TGIS_FileSHPInternal {
 public:
  static constexpr int64_t kIndexRecordSize = 8;

  using TGIS_FileSHPInternal::TGIS_FileSHPInternal;

  void ReadHeader() override;
  int32_t RecordCount() const { return recordCount_; }

  struct IndexRecord {
    int64_t Offset = 0;         // bytes from the start of the main file
    int32_t ContentLength = 0;  // words
  };
  // Index record N (1-based, at most RecordCount()).  The offset must point
  // at a record header inside a main file of MainSize bytes; otherwise
  // GIS_RS_ERR_FILEBADFORMAT with this file's path.
  IndexRecord ReadIndexRecord(int32_t n, int64_t mainSize);
  // Offset (bytes, stored as words) and the record's content length.
  void WriteIndexRecord(int64_t offsetInBytes, const TGIS_ShpRecordHeader& header);

 private:
  int32_t recordCount_ = 0;
};

}  // namespace cadport

#endif  // CADPORT_KERNEL_SHAPEFILE_FILE_SHP_H
