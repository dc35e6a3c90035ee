#include "kernel/dxf/dxf_group_reader.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cadport {

namespace {

constexpr std::string_view kBinarySentinel = "AutoCAD Binary DXF";

// How a binary value is encoded, by group code.
enum class ValueKind : uint8_t { String, Double, Int16, Int32, Int64, Boolean, Chunk };

ValueKind KindOf(int32_t code) noexcept {
  if ((code >= 10 && code <= 59) || (code >= 110 && code <= 149) || (code >= 210 && code <= 239) ||
      (code >= 460 && code <= 469) || (code >= 1010 && code <= 1059)) {
    return ValueKind::Double;
  }
  if ((code >= 60 && code <= 79) || (code >= 170 && code <= 179) || (code >= 270 && code <= 289) ||
      (code >= 370 && code <= 389) || (code >= 400 && code <= 409) || (code >= 1060 && code <= 1070)) {
    return ValueKind::Int16;
  }
  if ((code >= 90 && code <= 99) || (code >= 420 && code <= 429) || (code >= 440 && code <= 459) ||
      code == 1071) {
    return ValueKind::Int32;
  }
  if (code >= 160 && code <= 169) return ValueKind::Int64;
  if (code >= 290 && code <= 299) return ValueKind::Boolean;
  if ((code >= 310 && code <= 319) || code == 1004) return ValueKind::Chunk;
  return ValueKind::String;
}

// The bytes that end a text line: LF, CR, NUL and Ctrl-Z.
bool IsLineEnd(char c) noexcept { return c == '\n' || c == '\r' || c == '\0' || c == '\x1A'; }

uint64_t LoadLE(const char* p, int bytes) noexcept {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

}  // namespace

bool TGIS_DxfGroupReader::ParseInteger(std::string_view text, int64_t& out) noexcept {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t firstDigit = i;
  uint64_t value = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    if (i - firstDigit >= 18) return false;  // far beyond any code or count
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    ++i;
  }
  if (i == firstDigit || i != n) return false;
  out = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  return true;
}

int32_t TGIS_DxfGroupReader::ToInteger(std::string_view text) {
  int64_t v = 0;
  if (!ParseInteger(text, v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max()) {
    throw EDxfStructure("'" + std::string(text) + "' is not a valid integer value");
  }
  return static_cast<int32_t>(v);
}

void TGIS_DxfGroupReader::Reset(const char* data, int64_t size) {
  data_ = data;
  size_ = data == nullptr ? 0 : std::max<int64_t>(size, 0);
  position_ = 0;
  form_ = TGIS_DxfForm::Text;
  code_ = 0;
  value_ = {};
  buffer_.clear();
  itemsRead_ = 0;
  groupStart_ = 0;
  groupStartItems_ = 0;
  progressCount_ = 0;
  nextProgress_ = kProgressStep;
  furthest_ = 0;

  // A text drawing saved with a UTF-8 byte order mark starts behind it.
  const int64_t start = (size_ >= 3 && std::memcmp(data_, "\xEF\xBB\xBF", 3) == 0) ? 3 : 0;
  position_ = start;
  // The first line decides the form; it costs nothing in ItemsRead.
  const std::string_view first = ReadLine();
  if (first == kBinarySentinel && size_ >= kBinarySentinelSize) {
    // Release 12 writes 1-byte codes: the first group's code is one zero
    // byte, so SECTION starts right at byte 23.
    form_ = (size_ > kBinarySentinelSize + 1 && data_[kBinarySentinelSize + 1] == 'S')
                ? TGIS_DxfForm::BinaryR12
                : TGIS_DxfForm::Binary;
    position_ = kBinarySentinelSize;
  } else {
    position_ = start;
  }
}

std::string_view TGIS_DxfGroupReader::ReadLine() noexcept {
  if (position_ < 0 || position_ >= size_) return {};
  const char* const base = data_;
  const int64_t end = size_;
  const int64_t start = position_;
  int64_t p = start;
  for (;;) {
    bool seen = false;  // p is at a byte below 0x1B
#if defined(__SSE2__)
    // Sixteen bytes at a time up to the first one below 0x1B (only those can
    // end a line): min(b, 0x1A) == b exactly for those.
    const __m128i below = _mm_set1_epi8(0x1A);
    while (end - p >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p));
      const auto mask = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(bytes, below), bytes)));
      if (mask != 0) {
        p += std::countr_zero(mask);
        seen = true;
        break;
      }
      p += 16;
    }
#endif
    // Eight bytes at a time (the rest, without SSE2 all): the lowest byte
    // flagged by the borrow test is a true one.
    while (!seen && end - p >= 8) {
      uint64_t word = 0;
      std::memcpy(&word, base + p, sizeof word);
      const uint64_t low = (word - 0x1B1B1B1B1B1B1B1Bull) & ~word & 0x8080808080808080ull;
      if (low != 0) {
        p += std::countr_zero(low) / 8;
        break;
      }
      p += 8;
    }
    if (p >= end || IsLineEnd(base[p])) break;
    ++p;  // a tab or another control character inside the line
  }
  const std::string_view line(base + start, static_cast<std::size_t>(p - start));
  position_ = PastLineEnd(p);
  return line;
}

int64_t TGIS_DxfGroupReader::PastLineEnd(int64_t p) const noexcept {
  if (p < size_ && data_[p] == '\r') ++p;
  if (p < size_ && data_[p] == '\n') ++p;
  if (p < size_ && data_[p] == '\0') ++p;
  if (p < size_ && data_[p] == '\x1A') ++p;
  return p;
}

void TGIS_DxfGroupReader::Resume(int64_t position, int64_t itemsRead) noexcept {
  position_ = position;
  itemsRead_ = itemsRead;
  progressCount_ = std::max(progressCount_, itemsRead_);
  nextProgress_ = (progressCount_ / kProgressStep + 1) * kProgressStep;
  furthest_ = std::max(furthest_, position_);
}

void TGIS_DxfGroupReader::ReadGroup() {
  if (position_ < size_) {
    groupStart_ = position_;
    groupStartItems_ = itemsRead_;
  }
  if (form_ == TGIS_DxfForm::Text) {
    ReadTextGroup();
  } else {
    ReadBinaryGroup();
  }
  ProgressStep();
}

bool TGIS_DxfGroupReader::ReadPlainCode(int64_t& code) noexcept {
  // The usual code line: blanks, digits, the line's end. Anything else takes
  // the general way (ReadLine and ParseInteger), which reads it the same.
  const char* const base = data_;
  int64_t p = position_;
  while (p < size_ && (base[p] == ' ' || base[p] == '\t')) ++p;
  const int64_t firstDigit = p;
  int64_t value = 0;
  while (p < size_ && base[p] >= '0' && base[p] <= '9' && p - firstDigit < 9) {
    value = value * 10 + (base[p] - '0');
    ++p;
  }
  if (p == firstDigit || (p < size_ && !IsLineEnd(base[p]))) return false;
  position_ = PastLineEnd(p);
  code = value;
  return true;
}

void TGIS_DxfGroupReader::ReadTextGroup() {
  if (position_ >= size_) return;
  int64_t code = 0;
  if (!ReadPlainCode(code)) {
    const std::string_view codeLine = ReadLine();
    if (!ParseInteger(codeLine, code) || code < std::numeric_limits<int32_t>::min() ||
        code > std::numeric_limits<int32_t>::max()) {
      ++itemsRead_;
      throw EDxfStructure("'" + std::string(codeLine) + "' is not a valid group code");
    }
  }
  ++itemsRead_;
  code_ = static_cast<int32_t>(code);
  // A code line without its value line: the data was cut off in the middle
  // of a group, so the drawing is damaged (a drawing that merely ends after
  // a complete group, without ENDSEC or EOF, is still read).
  if (position_ >= size_) throw EDxfStructure("group code without a value at the end of the data");
  value_ = ReadLine();
  ++itemsRead_;
}

void TGIS_DxfGroupReader::Need(int64_t bytes) const {
  if (position_ < 0 || bytes > size_ - position_) {
    throw EDxfStructure("binary group runs past the end of the data");
  }
}

void TGIS_DxfGroupReader::ReadBinaryGroup() {
  if (position_ >= size_) return;
  if (form_ == TGIS_DxfForm::BinaryR12) {
    Need(1);
    code_ = static_cast<unsigned char>(data_[position_++]);
    if (code_ == 255) {
      Need(2);
      code_ = static_cast<int32_t>(static_cast<int16_t>(LoadLE(data_ + position_, 2)));
      position_ += 2;
    }
  } else {
    Need(2);
    code_ = static_cast<int32_t>(LoadLE(data_ + position_, 2));
    position_ += 2;
  }
  ++itemsRead_;

  char number[40];
  switch (KindOf(code_)) {
    case ValueKind::Double: {
      Need(8);
      const uint64_t bits = LoadLE(data_ + position_, 8);
      position_ += 8;
      double d = 0;
      std::memcpy(&d, &bits, sizeof d);
      const auto r = std::to_chars(number, number + sizeof number, d);
      buffer_.assign(number, r.ptr);
      value_ = buffer_;
      break;
    }
    case ValueKind::Int16:
    case ValueKind::Int32:
    case ValueKind::Int64:
    case ValueKind::Boolean: {
      const ValueKind kind = KindOf(code_);
      const int bytes = kind == ValueKind::Int16 ? 2 : kind == ValueKind::Int32 ? 4 : kind == ValueKind::Int64 ? 8 : 1;
      Need(bytes);
      const uint64_t raw = LoadLE(data_ + position_, bytes);
      position_ += bytes;
      int64_t v = 0;
      switch (bytes) {
        case 1: v = static_cast<int64_t>(raw & 0xFF); break;
        case 2: v = static_cast<int16_t>(raw); break;
        case 4: v = static_cast<int32_t>(raw); break;
        default: v = static_cast<int64_t>(raw); break;
      }
      const auto r = std::to_chars(number, number + sizeof number, v);
      buffer_.assign(number, r.ptr);
      value_ = buffer_;
      break;
    }
    case ValueKind::Chunk: {
      Need(1);
      const int64_t length = static_cast<unsigned char>(data_[position_++]);
      Need(length);
      static constexpr char kHex[] = "0123456789ABCDEF";
      buffer_.resize(static_cast<std::size_t>(length) * 2);
      for (int64_t i = 0; i < length; ++i) {
        const auto b = static_cast<unsigned char>(data_[position_ + i]);
        buffer_[static_cast<std::size_t>(2 * i)] = kHex[b >> 4];
        buffer_[static_cast<std::size_t>(2 * i + 1)] = kHex[b & 15];
      }
      position_ += length;
      value_ = buffer_;
      break;
    }
    case ValueKind::String: {
      const void* zero = position_ < size_
                             ? std::memchr(data_ + position_, 0, static_cast<std::size_t>(size_ - position_))
                             : nullptr;
      if (zero == nullptr) throw EDxfStructure("binary string runs past the end of the data");
      const int64_t end = static_cast<const char*>(zero) - data_;
      value_ = std::string_view(data_ + position_, static_cast<std::size_t>(end - position_));
      position_ = end + 1;
      break;
    }
  }
  ++itemsRead_;
}

void TGIS_DxfGroupReader::ProgressStep() {
  progressCount_ = std::max(progressCount_, itemsRead_);
  furthest_ = std::max(furthest_, position_);
  if (progressCount_ >= nextProgress_) {
    // Once per step passed, even when a single group jumps over a multiple.
    nextProgress_ = (progressCount_ / kProgressStep + 1) * kProgressStep;
    if (progress_) progress_(furthest_, size_);
  }
}

}  // namespace cadport
