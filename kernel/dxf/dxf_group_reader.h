// TGIS_DxfGroupReader: turns a DXF file held in memory (normally a mapped
// file) into (group code, value) pairs, for the text form and both binary
// forms (2-byte codes from release 13 on, 1-byte codes in release 12).
//
// The reader walks the bytes in place: a text value is a view into the data,
// a binary value is converted to text in a buffer the reader reuses. Nothing
// is allocated per group; a consumer copies a value only when it keeps it.
// Views returned by GroupValue() stay valid until the next ReadGroup().
#ifndef CADPORT_KERNEL_DXF_DXF_GROUP_READER_H
#define CADPORT_KERNEL_DXF_DXF_GROUP_READER_H

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace cadport {

// A structural or numeric fault in the drawing. The layer turns it into
// GIS_RS_ERR_TXTFILESTRUCT with the path and the line number.
class EDxfStructure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TGIS_DxfForm : uint8_t {
  Text = 0,
  Binary = 1,    // 16-bit little-endian group codes
  BinaryR12 = 2, // 8-bit group codes, 255 followed by a 16-bit code
};

class TGIS_DxfGroupReader {
 public:
  // Lines or items between two progress reports.
  static constexpr int64_t kProgressStep = 5000;
  // "AutoCAD Binary DXF" CR LF Ctrl-Z NUL.
  static constexpr int64_t kBinarySentinelSize = 22;

  TGIS_DxfGroupReader() = default;

  // Starts reading `size` bytes at `data` (not owned; must outlive the
  // reader's use). Detects the form from the first line and positions the
  // reader at the first group. Resets every counter.
  void Reset(const char* data, int64_t size);

  // Advances to the next group. Raises EDxfStructure on a code line that is
  // not an integer, on a code line that ends the data without its value
  // line, or on a binary group running past the end of the data. At the end
  // of the data the current group stays as it is.
  void ReadGroup();

  bool IsGroup(int32_t code) const noexcept { return code_ == code; }
  bool IsGroup(int32_t code, std::string_view value) const noexcept {
    return code_ == code && value_ == value;
  }

  int32_t GroupCode() const noexcept { return code_; }
  std::string_view GroupValue() const noexcept { return value_; }
  bool AtEnd() const noexcept { return position_ >= size_; }
  TGIS_DxfForm Form() const noexcept { return form_; }
  bool IsBinary() const noexcept { return form_ != TGIS_DxfForm::Text; }

  // Lines (text) or items (binary) read so far; a group costs two.
  int64_t ItemsRead() const noexcept { return itemsRead_; }
  int64_t ProgressCount() const noexcept { return progressCount_; }
  int64_t FurthestPosition() const noexcept { return furthest_; }

  // Byte position in the data; block expansion jumps back and forth.
  int64_t Position() const noexcept { return position_; }
  // Where the current group starts, and ItemsRead before it was read.
  int64_t GroupStart() const noexcept { return groupStart_; }
  int64_t GroupStartItems() const noexcept { return groupStartItems_; }
  // Moves to position as if itemsRead items had been read to get there (a
  // piece of the data read by another reader is taken over); progress
  // counters move along. The current group is read by the next ReadGroup.
  void Resume(int64_t position, int64_t itemsRead) noexcept;
  // Calls the progress handler now, with the furthest position so far.
  void NotifyProgress() {
    if (progress_) progress_(furthest_, size_);
  }
  void SetPosition(int64_t position) noexcept { position_ = position; }
  int64_t Size() const noexcept { return size_; }

  // Called with (FurthestPosition, Size) each time ProgressCount passes a
  // multiple of kProgressStep.
  void SetProgressHandler(std::function<void(int64_t, int64_t)> handler) {
    progress_ = std::move(handler);
  }

  // Strict decimal integer: optional leading blanks, an optional sign,
  // digits, nothing after. Returns false when the text is not one.
  static bool ParseInteger(std::string_view text, int64_t& out) noexcept;
  // The same, raising EDxfStructure; the result must fit 32 bits.
  static int32_t ToInteger(std::string_view text);

 private:
  std::string_view ReadLine() noexcept;
  // Where the next line starts, p being the end of a line's text.
  int64_t PastLineEnd(int64_t p) const noexcept;
  // Reads a code line of blanks and at most nine digits; false (nothing
  // read) for any other.
  bool ReadPlainCode(int64_t& code) noexcept;
  void ReadTextGroup();
  void ReadBinaryGroup();
  void Need(int64_t bytes) const;
  void ProgressStep();

  const char* data_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
  TGIS_DxfForm form_ = TGIS_DxfForm::Text;
  int32_t code_ = 0;
  std::string_view value_;
  std::string buffer_;  // text of the current binary value, reused
  int64_t itemsRead_ = 0;
  int64_t groupStart_ = 0;
  int64_t groupStartItems_ = 0;
  int64_t progressCount_ = 0;
  int64_t nextProgress_ = kProgressStep;
  int64_t furthest_ = 0;
  std::function<void(int64_t, int64_t)> progress_;
};

}  // namespace cadport

#endif  // CADPORT_KERNEL_DXF_DXF_GROUP_READER_H
