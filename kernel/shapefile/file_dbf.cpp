#include "kernel/shapefile/file_dbf.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

#include "kernel/base/exception.h"
#include "kernel/base/messages.h"
#include "kernel/base/utils.h"
#include "kernel/shapefile/mapped_stream.h"
#include "kernel/vector/layer_vector.h"
#include "kernel/vector/shape.h"

namespace cadport {

namespace {

constexpr std::byte kDescriptorEnd{0x0D};
constexpr char kEndOfFile = 0x1A;
constexpr int32_t kMaxLength16 = 0xFFFF;

std::span<const std::byte> MappedBytes(const TGIS_MappedStream& s) {
  return {reinterpret_cast<const std::byte*>(s.Memory()), size_t(s.Size())};
}

char TypeLetter(TGIS_FieldKind kind) {
  switch (kind) {
    case TGIS_FieldKind::String: return 'C';
    case TGIS_FieldKind::Number: return 'N';
    case TGIS_FieldKind::Float: return 'F';
    case TGIS_FieldKind::Boolean: return 'L';
    case TGIS_FieldKind::Date: return 'D';
  }
  throw EGIS_Exception(GIS_RS_ERR_WRONGFIELD);
}

bool KindOfLetter(char letter, TGIS_FieldKind& kind) {
  switch (letter) {
    case 'C': kind = TGIS_FieldKind::String; return true;
    case 'N': kind = TGIS_FieldKind::Number; return true;
    case 'F': kind = TGIS_FieldKind::Float; return true;
    case 'L': kind = TGIS_FieldKind::Boolean; return true;
    case 'D': kind = TGIS_FieldKind::Date; return true;
    default: return false;
  }
}

// Blanks, NULs and control characters around a value.
std::string_view TrimValue(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

// A number with '.' or ',' as decimal separator, an optional sign, nothing
// else; locale-free.
bool ParseDouble(std::string_view s, double& out) {
  char buf[128];
  if (s.empty() || s.size() >= sizeof buf) return false;
  if (s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  std::replace_copy(s.begin(), s.end(), buf, ',', '.');
  auto [end, ec] = std::from_chars(buf, buf + s.size(), out);
  return ec == std::errc{} && end == buf + s.size() && std::isfinite(out);
}

bool ParseInt64(std::string_view s, int64_t& out) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc{} && end == s.data() + s.size();
}

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 9;
    if (n == 9 || n > s.size() - i - 1) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

// Bytes of text kept in a field of width bytes: cut at a character boundary
// when the text is UTF-8; other code pages are cut at the byte.
size_t StringCut(std::string_view text, int width) {
  size_t cut = std::min(text.size(), size_t(std::max(width, 0)));
  if (cut < text.size() && ValidUtf8(text)) {
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  }
  return cut;
}

}  // namespace

// ---- construction

TGIS_FileDBF::TGIS_FileDBF(const std::string& path, bool writable, TGIS_LayerVector& layer)
    : path_(path), layer_(layer) {
  if (writable) {
    writer_ = std::make_unique<FileWriter>(path);
  } else {
    stream_ = std::make_unique<TGIS_MappedStream>(path, false);
    cursor_ = ByteCursor(MappedBytes(*stream_), path);
    ReadHeader();
    ReadFieldDescriptors();
  }
  valueCache_.assign(size_t(layer_.FieldsCount()), TGIS_Variant());
}

TGIS_FileDBF::TGIS_FileDBF(std::span<const std::byte> bytes, std::string name,
                           TGIS_LayerVector& layer)
    : path_(name), layer_(layer), cursor_(bytes, std::move(name)) {
  ReadHeader();
  ReadFieldDescriptors();
  valueCache_.assign(size_t(layer_.FieldsCount()), TGIS_Variant());
}

TGIS_FileDBF::~TGIS_FileDBF() = default;

void TGIS_FileDBF::Close() {
  if (writer_) {
    if (writer_->IsOpen()) {
      writer_->Write(&kEndOfFile, 1);
      writer_->Close();
    }
  } else if (stream_) {
    cursor_ = ByteCursor({}, path_);
    auto s = std::move(stream_);
    s->Close();
  }
}

void TGIS_FileDBF::Abandon() noexcept {
  if (writer_) writer_->Abandon();
}

// ---- writing

void TGIS_FileDBF::WriteHeader() {
  if (!writer_) return;
  std::array<std::byte, kHeaderSize> b{};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  b[0] = std::byte{3};
  b[1] = std::byte(local.tm_year);  // years since 1900
  b[2] = std::byte(local.tm_mon + 1);
  b[3] = std::byte(local.tm_mday);
  StoreLE32(&b[4], uint32_t(recordCount_));
  StoreLE16(&b[8], uint16_t(headerLength_));
  StoreLE16(&b[10], uint16_t(recordLength_));
  if (writer_->Size() == 0)
    writer_->Write(b.data(), b.size());
  else
    writer_->PatchAt(0, b.data(), b.size());
}

void TGIS_FileDBF::WriteFieldDescriptors() {
  if (!writer_) return;
  // Corrections first: the layer's definitions then say what the file holds.
  int64_t described = 0;
  int64_t recordLength = 1;
  for (int32_t i = 0; i < layer_.FieldsCount(); ++i) {
    TGIS_FieldInfo& f = *layer_.FieldInfo(i);
    if (f.ExportName == kDummyName) f.Deleted = true;
    if (f.Deleted) continue;
    switch (f.FieldKind) {
      case TGIS_FieldKind::String:
        f.NewWidth = std::min(f.NewWidth, kMaxStringWidth);
        break;
      case TGIS_FieldKind::Number:
        f.NewWidth = std::min(f.NewWidth, kMaxNumberWidth);
        if (f.NewWidth - f.NewDecimal < 2) f.NewDecimal = f.NewWidth - 2;
        if (f.NewDecimal < 0) f.NewDecimal = 0;
        break;
      case TGIS_FieldKind::Float: f.NewWidth = kFloatWidth; break;
      case TGIS_FieldKind::Boolean: f.NewWidth = 1; break;
      case TGIS_FieldKind::Date: f.NewWidth = 8; break;
      default: throw EGIS_Exception(GIS_RS_ERR_WRONGFIELD);
    }
    if (f.NewWidth < 0) f.NewWidth = 0;
    ++described;
    recordLength += f.NewWidth;
  }
  dummyOnly_ = described == 0;
  if (dummyOnly_) {
    described = 1;
    recordLength = 2;
  }
  const int64_t headerLength = kHeaderSize + kDescriptorSize * described + 1;
  if (headerLength > kMaxLength16 || recordLength > kMaxLength16)
    throw EGIS_Exception(GIS_RS_ERR_WRONGFIELD);

  std::vector<std::byte> out(size_t(headerLength - kHeaderSize), std::byte{0});
  size_t at = 0;
  auto describe = [&](std::string_view name, char letter, int width, int decimals) {
    std::byte* d = &out[at];
    const std::string upper = AsciiUpperText(name.substr(0, 11));
    std::memcpy(d, upper.data(), upper.size());  // the rest stays zero
    d[11] = std::byte(letter);
    d[16] = std::byte(width);
    d[17] = std::byte(decimals);
    at += kDescriptorSize;
  };
  if (dummyOnly_) {
    describe(kDummyName, 'C', 1, 0);
  } else {
    for (int32_t i = 0; i < layer_.FieldsCount(); ++i) {
      const TGIS_FieldInfo& f = *layer_.FieldInfo(i);
      if (f.Deleted) continue;
      const std::string& name = f.ExportName.empty() ? f.NewName : f.ExportName;
      const char letter = TypeLetter(f.FieldKind);
      int decimals = 0;
      if (f.FieldKind == TGIS_FieldKind::Number) decimals = f.NewDecimal;
      if (f.FieldKind == TGIS_FieldKind::Float) decimals = kFloatDecimals;
      describe(name, letter, f.NewWidth, decimals);
    }
  }
  out[at] = kDescriptorEnd;
  writer_->Write(out.data(), out.size());
  headerLength_ = int32_t(headerLength);
  recordLength_ = int32_t(recordLength);
  record_.reserve(size_t(recordLength));
}

void TGIS_FileDBF::AppendRecord(const TGIS_Shape& shape) {
  if (!writer_) return;
  record_.assign(1, ' ');
  if (dummyOnly_) {
    record_.push_back(' ');
  } else {
    ResolveSourceFields(shape);
    for (int32_t i = 0; i < layer_.FieldsCount(); ++i) {
      const TGIS_FieldInfo& f = *layer_.FieldInfo(i);
      if (!f.Deleted) WriteValue(shape, f, sourceIndex_[size_t(i)]);
    }
  }
  // The lengths were fixed by the descriptors.
  record_.resize(size_t(recordLength_), ' ');
  if (recordCount_ == INT32_MAX) ThrowWriteError(path_, EFBIG);
  writer_->Write(record_.data(), record_.size());
  ++recordCount_;
}

void TGIS_FileDBF::ResolveSourceFields(const TGIS_Shape& shape) {
  TGIS_LayerVector* source = shape.Layer();
  const int32_t count = layer_.FieldsCount();
  const int32_t sourceCount = source != nullptr ? source->FieldsCount() : -1;
  if (source == sourceLayer_ && sourceCount == sourceFieldsCount_ &&
      sourceIndex_.size() == size_t(count)) {
    return;
  }
  sourceIndex_.assign(size_t(count), -1);
  if (source != nullptr) {
    for (int32_t i = 0; i < count; ++i) {
      const std::string& name = layer_.FieldInfo(i)->NewName;
      // A virtual name (GIS_UID, ...) wins over a field of that name: by name.
      if (VirtualFieldIndex(name) >= 0) continue;
      sourceIndex_[size_t(i)] = source->FindField(name);
    }
  }
  sourceLayer_ = source;
  sourceFieldsCount_ = sourceCount;
}

void TGIS_FileDBF::WriteValue(const TGIS_Shape& shape, const TGIS_FieldInfo& f,
                              int32_t sourceIndex) {
  // The value goes straight into the record, then is cut or padded with
  // blanks to the field's width.
  const int width = std::max(f.NewWidth, 0);
  const size_t start = record_.size();
  // The usual case: a value the shape holds itself, used where it lies.
  const TGIS_Variant* stored = nullptr;
  if (sourceIndex >= 0) {
    if (const TGIS_VariantList* values = shape.Attributes()) {
      stored = values->At(sourceIndex);
      if (stored != nullptr && stored->IsUnassigned()) stored = nullptr;
    }
  }
  if (stored != nullptr && f.FieldKind == TGIS_FieldKind::String && stored->IsString()) {
    const std::string_view value = stored->AsString();
    record_.append(value, 0, StringCut(value, width));
    record_.resize(start + size_t(width), ' ');
    return;
  }
  if (stored != nullptr && f.FieldKind == TGIS_FieldKind::Number) {
    AppendNumberText(record_, *stored, width, f.NewDecimal);
    record_.resize(start + size_t(width), ' ');
    return;
  }
  switch (f.FieldKind) {
    case TGIS_FieldKind::String: {
      std::string value;
      try {
        value = (sourceIndex >= 0 ? shape.GetFieldAt(sourceIndex) : shape.GetField(f.NewName))
                    .ToText();
      } catch (...) {
        value.clear();
      }
      record_.append(value, 0, StringCut(value, width));
      break;
    }
    case TGIS_FieldKind::Number:
    case TGIS_FieldKind::Float:
    case TGIS_FieldKind::Boolean:
    case TGIS_FieldKind::Date: {
      TGIS_Variant raw;
      bool failed = false;
      try {
        raw = sourceIndex >= 0 ? shape.GetFieldRawAt(sourceIndex) : shape.GetFieldRaw(f.NewName);
      } catch (...) {
        failed = true;
      }
      if (f.FieldKind == TGIS_FieldKind::Number)
        record_.append(failed ? NumberText(TGIS_Variant(std::string("?")), width, f.NewDecimal)
                              : NumberText(raw, width, f.NewDecimal));
      else if (f.FieldKind == TGIS_FieldKind::Float)
        record_.append(failed ? FloatText(TGIS_Variant(0.0)) : FloatText(raw));
      else if (f.FieldKind == TGIS_FieldKind::Boolean)
        record_.push_back(failed ? ' ' : BooleanText(raw));
      else
        record_.append(failed ? std::string("19000101") : DateText(raw));
      break;
    }
  }
  record_.resize(start + size_t(width), ' ');
}

std::string TGIS_FileDBF::StringText(std::string_view text, int width) {
  std::string out(text.substr(0, StringCut(text, width)));
  out.resize(size_t(std::max(width, 0)), ' ');
  return out;
}

std::string TGIS_FileDBF::NumberText(const TGIS_Variant& value, int width, int decimals) {
  std::string out;
  AppendNumberText(out, value, width, decimals);
  return out;
}

void TGIS_FileDBF::AppendNumberText(std::string& out, const TGIS_Variant& value, int width,
                                    int decimals) {
  width = std::max(width, 0);
  decimals = std::max(decimals, 0);
  char buf[400];
  std::string_view text;
  bool negative = false;
  bool ok = true;
  switch (value.Kind()) {
    case TGIS_VariantKind::Null:
      text = {};
      break;
    case TGIS_VariantKind::Int32:
    case TGIS_VariantKind::Int64: {
      // Integers keep all their digits (no 32-bit narrowing), no decimals.
      const int64_t v = value.Kind() == TGIS_VariantKind::Int32 ? value.AsInt32() : value.AsInt64();
      negative = v < 0;
      auto r = std::to_chars(buf, buf + sizeof buf, v);
      text = {buf, size_t(r.ptr - buf)};
      break;
    }
    default: {
      double d = 0;  // a missing value counts as 0
      if (!value.IsUnassigned()) ok = value.ToDouble(d);
      if (ok && !std::isfinite(d)) ok = false;
      if (ok) {
        negative = d < 0;
        auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed,
                               std::min(decimals, 20));
        ok = r.ec == std::errc{};
        text = {buf, size_t(r.ptr - buf)};
      }
      break;
    }
  }
  std::string filled;
  if (!ok) {
    text = "0";
  } else if (text.size() > size_t(width)) {
    // Too wide: nines, with the value's sign and the decimal point.
    filled.assign(size_t(width), '9');
    if (negative && width > 0) filled[0] = '-';
    if (decimals > 0 && width - decimals > 0) filled[size_t(width - decimals - 1)] = '.';
    text = filled;
  }
  // Right-aligned: blanks, then as much of the text as fits.
  out.append(size_t(width) - std::min(text.size(), size_t(width)), ' ');
  out.append(text.substr(0, size_t(width)));
}

std::string TGIS_FileDBF::FloatText(const TGIS_Variant& value) {
  if (value.IsNull()) return std::string(kFloatWidth, ' ');
  double d = 0;
  if (!value.IsUnassigned() && !value.ToDouble(d)) d = 0;
  // No text can stand for infinity or NaN in a dBASE number: leave it empty.
  if (!std::isfinite(d)) return std::string(kFloatWidth, ' ');
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific, 15);
  std::string_view s(buf, size_t(r.ptr - buf));
  const size_t e = s.find('e');
  std::string_view mantissa = s.substr(0, e);
  const char expSign = s[e + 1];
  std::string_view expDigits = s.substr(e + 2);
  while (expDigits.size() > 2 && expDigits.front() == '0') expDigits.remove_prefix(1);
  std::string out;
  // The digits are cut, not rounded; a three-digit exponent costs one decimal.
  if (expDigits.size() <= 2) {
    out.append(mantissa.substr(0, 16));
  } else {
    out.append(mantissa.substr(0, 15));
  }
  out.push_back('E');
  out.push_back(expSign);
  if (expDigits.size() < 2) out.push_back('0');
  out.append(expDigits);
  out.resize(kFloatWidth, ' ');
  return out;
}

char TGIS_FileDBF::BooleanText(const TGIS_Variant& value) {
  if (value.IsNull()) return ' ';
  bool b = false;
  if (!value.ToBoolean(b)) return ' ';
  return b ? 'Y' : 'N';
}

std::string TGIS_FileDBF::DateText(const TGIS_Variant& value) {
  if (value.IsNull()) return std::string(8, ' ');
  TGIS_DateTime date;
  if (value.Kind() == TGIS_VariantKind::DateTime) {
    date = value.AsDateTime();
  } else if (!value.IsString() || !TextToDateTime(value.AsString(), date)) {
    return "19000101";
  }
  if (!std::isfinite(date.Value)) return "19000101";
  int y = 0, m = 0, d = 0;
  DecodeDate(date, y, m, d);
  if (y < 0 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return "19000101";
  char buf[9];
  buf[0] = char('0' + y / 1000);
  buf[1] = char('0' + y / 100 % 10);
  buf[2] = char('0' + y / 10 % 10);
  buf[3] = char('0' + y % 10);
  buf[4] = char('0' + m / 10);
  buf[5] = char('0' + m % 10);
  buf[6] = char('0' + d / 10);
  buf[7] = char('0' + d % 10);
  return std::string(buf, 8);
}

// ---- reading

void TGIS_FileDBF::ReadHeader() {
  cursor_.Seek(0);
  const std::byte* h = cursor_.Take(kHeaderSize);
  const uint32_t claimedRecords = LoadLE32(h + 4);
  headerLength_ = LoadLE16(h + 8);
  recordLength_ = LoadLE16(h + 10);
  if (headerLength_ < kHeaderSize + 1 || uint64_t(headerLength_) > cursor_.Size()) cursor_.Fail();
  // The count is a claim: only records that lie wholly in the file count.
  uint64_t fit = 0;
  if (recordLength_ > 0) fit = (cursor_.Size() - uint64_t(headerLength_)) / uint64_t(recordLength_);
  recordCount_ = int32_t(std::min<uint64_t>({claimedRecords, fit, uint64_t(INT32_MAX)}));
}

void TGIS_FileDBF::ReadFieldDescriptors() {
  columns_.clear();
  fieldColumn_.clear();
  const int32_t count = std::max((headerLength_ - 33) / kDescriptorSize, 1);
  uint32_t offset = 0;
  for (int32_t i = 0; i < count; ++i) {
    const uint64_t at = kHeaderSize + uint64_t(i) * kDescriptorSize;
    if (at >= uint64_t(headerLength_) || cursor_.Bytes()[size_t(at)] == kDescriptorEnd) break;
    cursor_.Seek(at);
    const std::byte* d = cursor_.Take(kDescriptorSize);
    const char* raw = reinterpret_cast<const char*>(d);
    std::string_view name(raw, strnlen(raw, 11));
    name = TrimText(name);
    if (name.empty()) break;
    TGIS_FieldKind kind;
    if (!KindOfLetter(raw[11], kind)) throw EGIS_Exception(GIS_RS_ERR_WRONGFIELD);
    Column c;
    c.Offset = offset;
    c.Width = std::to_integer<uint32_t>(d[16]);
    c.Decimals = std::to_integer<int32_t>(d[17]);
    c.Kind = kind;
    offset += c.Width;
    // Every column must lie inside the record (after its deletion flag).
    if (int64_t(offset) + 1 > int64_t(recordLength_)) ThrowBadFormat(path_);
    columns_.push_back(c);

    int32_t index = -1;
    std::string fieldName(name);
    for (int k = 0; k <= 255 && index < 0; ++k) {
      if (k > 0) {
        char suffix[3];
        static constexpr char kHex[] = "0123456789ABCDEF";
        suffix[0] = kHex[k >> 4];
        suffix[1] = kHex[k & 15];
        suffix[2] = 0;
        fieldName = std::string(name.substr(0, 9)) + suffix;
      }
      try {
        index = layer_.DeclareFileField(fieldName, kind, int32_t(c.Width), c.Decimals, true);
      } catch (const EGIS_Exception&) {
        index = -1;
      }
    }
    if (index >= 0) {
      if (fieldColumn_.size() <= size_t(index)) fieldColumn_.resize(size_t(index) + 1, -1);
      fieldColumn_[size_t(index)] = int32_t(columns_.size() - 1);
    }
  }
  const int32_t dummy = layer_.FindDeclaredField(kDummyName);
  if (dummy >= 0) layer_.FieldInfo(dummy)->Deleted = true;
}

TGIS_Variant TGIS_FileDBF::ReadValue(int32_t recordNumber, std::string_view fieldName,
                                     int32_t fieldIndex) {
  if (writer_ || recordNumber < 1 || recordNumber > recordCount_) return {};
  if (recordNumber != cachedRecord_) {
    valueCache_.assign(size_t(layer_.FieldsCount()), TGIS_Variant());
    cachedRecord_ = recordNumber;
  }
  const int32_t index = fieldName.empty() ? fieldIndex : layer_.FindDeclaredField(fieldName);
  if (index < 0) return {};
  try {
    if (size_t(index) >= valueCache_.size()) valueCache_.resize(size_t(index) + 1);
    if (!valueCache_[size_t(index)].IsUnassigned()) return valueCache_[size_t(index)];
    if (size_t(index) >= fieldColumn_.size() || fieldColumn_[size_t(index)] < 0) return {};
    const TGIS_FieldInfo* info = layer_.FieldInfo(index);
    if (info == nullptr || !info->Persistent) return {};
    const Column& c = columns_[size_t(fieldColumn_[size_t(index)])];
    const uint64_t at = uint64_t(headerLength_) +
                        uint64_t(recordNumber - 1) * uint64_t(recordLength_) + 1 + c.Offset;
    cursor_.Seek(at);
    const std::byte* p = c.Width > 0 ? cursor_.Take(c.Width) : nullptr;
    std::string_view bytes(reinterpret_cast<const char*>(p), p ? c.Width : 0);
    TGIS_Variant v = ParseValue(c.Kind, c.Decimals, bytes);
    valueCache_[size_t(index)] = v;
    return v;
  } catch (...) {
    throw EGIS_Exception(GIS_RS_ERR_FIELDNOEXIST, fieldName, 0);
  }
}

TGIS_Variant TGIS_FileDBF::ParseValue(TGIS_FieldKind kind, int decimals, std::string_view bytes) {
  switch (kind) {
    case TGIS_FieldKind::String: {
      std::string_view s = bytes;
      while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
      return TGIS_Variant(std::string(s));
    }
    case TGIS_FieldKind::Number: {
      std::string_view s = TrimValue(bytes);
      if (s.empty()) return TGIS_Variant::Null();
      if (decimals == 0) {
        int64_t i;
        if (ParseInt64(s, i)) return TGIS_Variant(i);
      }
      // Other writers put fractions into N(x,0) fields; text that is no
      // number at all reads as no value rather than as 0.
      double d;
      if (ParseDouble(s, d)) return TGIS_Variant(d);
      return TGIS_Variant::Null();
    }
    case TGIS_FieldKind::Float: {
      std::string_view s = TrimValue(bytes);
      if (s.empty()) return TGIS_Variant::Null();
      double d;
      if (!ParseDouble(s, d)) throw EGIS_Exception(GIS_RS_ERR_WRONGFLOAT, s, 0);
      return TGIS_Variant(d);
    }
    case TGIS_FieldKind::Boolean: {
      const char c = bytes.empty() ? ' ' : bytes.front();
      if (c == ' ' || c == '?' || c == '\0') return TGIS_Variant::Null();
      return TGIS_Variant(c == '1' || c == 'T' || c == 'Y' || c == 't' || c == 'y');
    }
    case TGIS_FieldKind::Date: {
      std::string_view s = TrimValue(bytes);
      if (s.empty()) return TGIS_Variant::Null();
      if (s.size() != 8 || !std::all_of(s.begin(), s.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        return TGIS_Variant::Null();
      auto num = [&](size_t from, size_t n) {
        int v = 0;
        for (size_t k = from; k < from + n; ++k) v = v * 10 + (s[k] - '0');
        return v;
      };
      const int y = num(0, 4), m = num(4, 2), d = num(6, 2);
      static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      if (y < 1 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return TGIS_Variant::Null();
      const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
      if (m == 2 && d == 29 && !leap) return TGIS_Variant::Null();
      return TGIS_Variant(EncodeDate(y, m, d));
    }
  }
  return {};
}

}  // namespace cadport
