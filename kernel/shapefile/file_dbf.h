// The attribute table of a shapefile set: a dBASE III file (.dbf) with one
// record per shape, in the order of the main file's records.
//
// Layout (integers little-endian): a 32-byte header (version 3, date of last
// update, record count, header length, record length), 32-byte field
// descriptors, 0x0D, the records (a deletion flag and each field's bytes at
// its width) and the end mark 0x1A.
//
// A writer streams records through a large buffer and patches the header at
// the end (Close).  A reader turns the descriptors into the layer's fields
// and fetches single values on demand, caching the values of one record.
#ifndef CADPORT_KERNEL_SHAPEFILE_FILE_DBF_H
#define CADPORT_KERNEL_SHAPEFILE_FILE_DBF_H

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/shapefile/binary_io.h"
#include "kernel/vector/field.h"

namespace cadport {

class TGIS_LayerVector;
class TGIS_MappedStream;
class TGIS_Shape;

class TGIS_FileDBF {
 public:
  static constexpr int kHeaderSize = 32;
  static constexpr int kDescriptorSize = 32;
  static constexpr int kMaxStringWidth = 254;
  static constexpr int kMaxNumberWidth = 20;
  static constexpr int kFloatWidth = 20;
  static constexpr int kFloatDecimals = 5;
  static constexpr std::string_view kDummyName = "_DUMMY";

  // Writable: creates (truncates) Path; the header starts all zero.
  // Otherwise opens Path read-only and declares one persistent field per
  // column in Layer, whose field list the caller has emptied.  Open failures raise EFOpenError; a
  // damaged header GIS_RS_ERR_FILEBADFORMAT; an unknown column type
  // GIS_RS_ERR_WRONGFIELD.  Layer must outlive this object.
  TGIS_FileDBF(const std::string& path, bool writable, TGIS_LayerVector& layer);
  // A reader over bytes the caller keeps alive (Name is used in errors).
  TGIS_FileDBF(std::span<const std::byte> bytes, std::string name, TGIS_LayerVector& layer);
  ~TGIS_FileDBF();
  TGIS_FileDBF(const TGIS_FileDBF&) = delete;
  TGIS_FileDBF& operator=(const TGIS_FileDBF&) = delete;

  // ---- writing
  // Version 3, today's local date, the record count and both lengths, at
  // offset 0 (the first call writes it, later calls patch it).
  void WriteHeader();
  // Corrects the widths of the layer's fields (C at most 254, N at most 20
  // with at least 2 more than its decimals, F 20, L 1, D 8), marks a field
  // exported as "_DUMMY" deleted, writes one descriptor per field not deleted
  // (or one C(1) "_DUMMY" when there is none) and the terminator.  A field
  // list that does not fit the 16-bit header or record length raises
  // GIS_RS_ERR_WRONGFIELD before anything is written.
  void WriteFieldDescriptors();
  // One record for Shape: the values of the layer's fields (by NewName)
  // taken from Shape.  Conversion failures give the fallback texts.
  void AppendRecord(const TGIS_Shape& shape);
  // Writers: appends 0x1A, flushes and closes (GIS_RS_ERR_FILEWRITE on
  // failure).  Readers: releases the file.  Idempotent.
  void Close();
  // Closes a writer without reporting anything (error paths).
  void Abandon() noexcept;

  // ---- reading
  // The value of one field of one record (1-based), by declared name when
  // FieldName is not empty, else by field index.  Unassigned for a record
  // or field that does not exist and for fields not in the file.
  TGIS_Variant ReadValue(int32_t recordNumber, std::string_view fieldName, int32_t fieldIndex);

  const std::string& Path() const { return path_; }
  bool Writing() const { return writer_ != nullptr; }
  int32_t RecordCount() const { return recordCount_; }
  int32_t HeaderLength() const { return headerLength_; }
  int32_t RecordLength() const { return recordLength_; }

  // ---- value texts (exactly the field's width) and their reading
  // N(width, decimals): integers as their digits, other values fixed-point;
  // too wide: nines with the value's sign and the decimal point; null:
  // blanks; failure "0".  Right-aligned.
  static std::string NumberText(const TGIS_Variant& value, int width, int decimals);
  // The same text appended to out.
  static void AppendNumberText(std::string& out, const TGIS_Variant& value, int width,
                               int decimals);
  // F(20): exponent form, 20 characters; null: blanks.
  static std::string FloatText(const TGIS_Variant& value);
  static char BooleanText(const TGIS_Variant& value);
  // D(8): yyyymmdd; null: blanks; failure "19000101".
  static std::string DateText(const TGIS_Variant& value);
  // The first Width bytes of Text, never cutting a UTF-8 character in two,
  // padded with blanks.
  static std::string StringText(std::string_view text, int width);
  // A value read from a field's bytes.
  static TGIS_Variant ParseValue(TGIS_FieldKind kind, int decimals, std::string_view bytes);

 private:
  struct Column {
    uint32_t Offset = 0;  // in the record, after the deletion flag
    uint32_t Width = 0;
    int32_t Decimals = 0;
    TGIS_FieldKind Kind = TGIS_FieldKind::String;
  };

  void ReadHeader();
  void ReadFieldDescriptors();
  // sourceIndex: the field's index in the shape's layer, or -1 to look the
  // name up (virtual fields, no layer).
  void WriteValue(const TGIS_Shape& shape, const TGIS_FieldInfo& field, int32_t sourceIndex);
  // Fills sourceIndex_ for the layer of shape when it is not the one cached.
  void ResolveSourceFields(const TGIS_Shape& shape);

  std::string path_;
  TGIS_LayerVector& layer_;  // not owned; outlives this object
  std::unique_ptr<TGIS_MappedStream> stream_;  // reading a file
  ByteCursor cursor_;                          // reading
  std::unique_ptr<FileWriter> writer_;         // writing

  int32_t recordCount_ = 0;
  int32_t headerLength_ = 0;
  int32_t recordLength_ = 0;

  // Reading: file columns, and the column of each field index (-1 none).
  std::vector<Column> columns_;
  std::vector<int32_t> fieldColumn_;
  int32_t cachedRecord_ = -1;
  std::vector<TGIS_Variant> valueCache_;

  // Writing: the record being built (reused).
  std::string record_;
  bool dummyOnly_ = false;
  // Writing: for each field of layer_, its index in sourceLayer_ (the layer
  // of the shapes written), or -1 for a lookup by name.  A scan does not
  // change its layer's fields, so the names are resolved once per layer.
  const TGIS_LayerVector* sourceLayer_ = nullptr;
  int32_t sourceFieldsCount_ = -1;
  std::vector<int32_t> sourceIndex_;
};

}  // namespace cadport

#endif  // CADPORT_KERNEL_SHAPEFILE_FILE_DBF_H
