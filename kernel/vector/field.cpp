#include "kernel/vector/field.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "kernel/base/exception.h"
#include "kernel/base/utils.h"

namespace cadport {

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr std::int64_t kSerialEpoch = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

bool ValidDate(int y, int m, int d) {
  return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

// Reads exactly n digits at p.
bool Digits(std::string_view s, std::size_t p, std::size_t n, int& out) {
  if (p + n > s.size()) return false;
  out = 0;
  for (std::size_t i = p; i < p + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// "HH:MM" or "HH:MM:SS[.fff]" as a fraction of a day.
bool ParseTime(std::string_view s, double& dayFraction) {
  int h = 0, m = 0;
  if (!Digits(s, 0, 2, h) || s.size() < 5 || s[2] != ':' || !Digits(s, 3, 2, m)) return false;
  double sec = 0;
  if (s.size() > 5) {
    if (s[5] != ':') return false;
    std::string_view rest = s.substr(6);
    if (rest.size() < 2 || rest[0] < '0' || rest[0] > '9') return false;
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), sec);
    if (ec != std::errc{} || end != rest.data() + rest.size()) return false;
  }
  if (h > 23 || m > 59 || !(sec >= 0 && sec < 60)) return false;
  dayFraction = (h * 3600.0 + m * 60.0 + sec) / 86400.0;
  return true;
}

// Text of a value for error messages and string fields.
std::string ValueText(const TGIS_Variant& value) { return value.ToText(); }

[[noreturn]] void Fail(TGIS_MessageKey key, const TGIS_Variant& value) {
  throw EGIS_Exception(key, ValueText(value), 0);
}

// Number from a text, with '.' or ',' as decimal separator.
bool TextNumber(std::string_view text, double& out) { return TryTextToFloat(text, out); }

}  // namespace

TGIS_DateTime EncodeDate(int year, int month, int day) {
  return TGIS_DateTime{static_cast<double>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
      kSerialEpoch)};
}

TGIS_DateTime EncodeDateTime(int year, int month, int day, int hour, int minute,
                             double second) {
  TGIS_DateTime d = EncodeDate(year, month, day);
  // Serial dates before the epoch count the time of day away from zero.
  const double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  d.Value += d.Value < 0 ? -fraction : fraction;
  return d;
}

void DecodeDate(TGIS_DateTime date, int& year, int& month, int& day) {
  // Civil date from days since 1970-01-01 (inverse of DaysFromCivil).
  std::int64_t z = static_cast<std::int64_t>(std::trunc(date.Value)) + kSerialEpoch + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

bool TextToDateTime(std::string_view text, TGIS_DateTime& out) {
  std::string_view s = Trim(text);
  int y = 0, m = 0, d = 0;
  std::size_t used = 0;
  if (s.size() >= 10 && (s[4] == '-' || s[4] == '/') && s[7] == s[4]) {
    if (!Digits(s, 0, 4, y) || !Digits(s, 5, 2, m) || !Digits(s, 8, 2, d)) return false;
    used = 10;
  } else if (s.size() >= 10 && s[2] == '.' && s[5] == '.') {
    if (!Digits(s, 0, 2, d) || !Digits(s, 3, 2, m) || !Digits(s, 6, 4, y)) return false;
    used = 10;
  } else if (s.size() >= 8) {
    if (!Digits(s, 0, 4, y) || !Digits(s, 4, 2, m) || !Digits(s, 6, 2, d)) return false;
    used = 8;
  } else {
    return false;
  }
  if (!ValidDate(y, m, d)) return false;
  TGIS_DateTime result = EncodeDate(y, m, d);
  std::string_view rest = s.substr(used);
  if (!rest.empty()) {
    if (rest[0] != ' ' && rest[0] != 'T') return false;
    double fraction = 0;
    if (!ParseTime(Trim(rest.substr(1)), fraction)) return false;
    result.Value += result.Value < 0 ? -fraction : fraction;
  }
  out = result;
  return true;
}

std::string DateTimeToText(TGIS_DateTime date) {
  int y = 0, m = 0, d = 0;
  DecodeDate(date, y, m, d);
  char buf[40];
  double fraction = std::fabs(date.Value - std::trunc(date.Value));
  long secs = std::lround(fraction * 86400.0);
  if (secs >= 86400) secs = 86399;
  if (secs == 0) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02ld:%02ld:%02ld", y, m, d, secs / 3600,
                  secs / 60 % 60, secs % 60);
  }
  return buf;
}

void TGIS_Variant::AssignText(std::string_view text) {
  if (text.size() <= kInlineText) {
    std::memset(bytes_, 0, kSize);
    if (!text.empty()) std::memcpy(bytes_, text.data(), text.size());
    bytes_[kInlineLength] = static_cast<unsigned char>(text.size());
    SetKind(TGIS_VariantKind::String);
    return;
  }
  char* block = new char[text.size()];
  std::memcpy(block, text.data(), text.size());
  const std::uint64_t length = text.size();
  std::memcpy(bytes_, &block, sizeof block);
  // The length takes bytes 8..14; the tag keeps byte 15.
  std::memcpy(bytes_ + 8, &length, 7);
  bytes_[kTag] = static_cast<unsigned char>(TGIS_VariantKind::String) | kOnHeap;
}

TGIS_Variant::TGIS_Variant(const TGIS_Variant& other) {
  if (other.OnHeap()) {
    AssignText(other.AsString());
  } else {
    std::memcpy(bytes_, other.bytes_, kSize);
  }
}

TGIS_Variant::TGIS_Variant(TGIS_Variant&& other) noexcept {
  std::memcpy(bytes_, other.bytes_, kSize);
  other.SetKind(TGIS_VariantKind::Unassigned);
}

TGIS_Variant& TGIS_Variant::operator=(const TGIS_Variant& other) {
  if (this == &other) return *this;
  if (other.OnHeap()) {
    TGIS_Variant copy(other);  // may throw; this value stays as it was
    return *this = std::move(copy);
  }
  Release();
  std::memcpy(bytes_, other.bytes_, kSize);
  return *this;
}

TGIS_Variant& TGIS_Variant::operator=(TGIS_Variant&& other) noexcept {
  if (this == &other) return *this;
  Release();
  std::memcpy(bytes_, other.bytes_, kSize);
  other.SetKind(TGIS_VariantKind::Unassigned);
  return *this;
}

std::string_view TGIS_Variant::AsString() const {
  if (Kind() != TGIS_VariantKind::String) throw std::bad_variant_access();
  if (!OnHeap()) {
    return std::string_view(reinterpret_cast<const char*>(bytes_), bytes_[kInlineLength]);
  }
  std::uint64_t length = 0;
  std::memcpy(&length, bytes_ + 8, 7);
  return std::string_view(HeapText(), static_cast<std::size_t>(length));
}

bool operator==(const TGIS_Variant& a, const TGIS_Variant& b) {
  if (a.Kind() != b.Kind()) return false;
  switch (a.Kind()) {
    case TGIS_VariantKind::Unassigned:
    case TGIS_VariantKind::Null:
      return true;
    case TGIS_VariantKind::String:
      return a.AsString() == b.AsString();
    case TGIS_VariantKind::Int32:
      return a.AsInt32() == b.AsInt32();
    case TGIS_VariantKind::Int64:
      return a.AsInt64() == b.AsInt64();
    case TGIS_VariantKind::Double:
      return a.AsDouble() == b.AsDouble();
    case TGIS_VariantKind::Boolean:
      return a.AsBoolean() == b.AsBoolean();
    case TGIS_VariantKind::DateTime:
      return a.AsDateTime() == b.AsDateTime();
  }
  return false;
}

bool TGIS_Variant::IsNumeric() const {
  const TGIS_VariantKind k = Kind();
  return k == TGIS_VariantKind::Int32 || k == TGIS_VariantKind::Int64 ||
         k == TGIS_VariantKind::Double;
}

std::string TGIS_Variant::ToText() const {
  switch (Kind()) {
    case TGIS_VariantKind::Unassigned:
    case TGIS_VariantKind::Null:
      return {};
    case TGIS_VariantKind::String:
      return std::string(AsString());
    case TGIS_VariantKind::Int32:
      return std::to_string(AsInt32());
    case TGIS_VariantKind::Int64:
      return std::to_string(AsInt64());
    case TGIS_VariantKind::Double:
      return FloatToDotText(AsDouble());
    case TGIS_VariantKind::Boolean:
      return AsBoolean() ? "True" : "False";
    case TGIS_VariantKind::DateTime:
      return DateTimeToText(AsDateTime());
  }
  return {};
}

bool TGIS_Variant::ToDouble(double& out) const {
  switch (Kind()) {
    case TGIS_VariantKind::Int32:
      out = AsInt32();
      return true;
    case TGIS_VariantKind::Int64:
      out = static_cast<double>(AsInt64());
      return true;
    case TGIS_VariantKind::Double:
      out = AsDouble();
      return true;
    case TGIS_VariantKind::Boolean:
      out = AsBoolean() ? 1 : 0;
      return true;
    case TGIS_VariantKind::DateTime:
      out = AsDateTime().Value;
      return true;
    case TGIS_VariantKind::String:
      return TextNumber(AsString(), out);
    default:
      return false;
  }
}

bool TGIS_Variant::ToBoolean(bool& out) const {
  switch (Kind()) {
    case TGIS_VariantKind::Boolean:
      out = AsBoolean();
      return true;
    case TGIS_VariantKind::Int32:
      out = AsInt32() != 0;
      return true;
    case TGIS_VariantKind::Int64:
      out = AsInt64() != 0;
      return true;
    case TGIS_VariantKind::Double:
      if (std::isnan(AsDouble())) return false;
      out = AsDouble() != 0;
      return true;
    case TGIS_VariantKind::String: {
      const std::string_view s = AsString();
      if (s.empty()) return false;
      switch (FoldAscii(s[0])) {
        case '0':
        case 'f':
        case 'n':
          out = false;
          return true;
        case '1':
        case 't':
        case 'y':
          out = true;
          return true;
        default:
          return false;
      }
    }
    default:
      return false;
  }
}

TGIS_Variant FieldKindDefault(TGIS_FieldKind kind) {
  switch (static_cast<TGIS_FieldKind>(static_cast<std::uint8_t>(kind) & 0x7f)) {
    case TGIS_FieldKind::String:
      return TGIS_Variant(std::string());
    case TGIS_FieldKind::Number:
    case TGIS_FieldKind::Float:
      return TGIS_Variant(0.0);
    case TGIS_FieldKind::Boolean:
      return TGIS_Variant(false);
    case TGIS_FieldKind::Date:
      return TGIS_Variant(EncodeDate(1900, 1, 1));
  }
  return {};
}

void DefaultFieldValue(TGIS_FieldKind kind, TGIS_Variant& value) {
  TGIS_Variant d = FieldKindDefault(kind);
  if (!d.IsUnassigned()) value = std::move(d);
}

TGIS_Variant ConvertFieldValue(TGIS_FieldKind kind, std::int32_t& newWidth,
                               std::int32_t newDecimal, const TGIS_Variant& value) {
  if (value.IsEmpty() || (value.IsString() && value.AsString().empty()))
    return TGIS_Variant::Null();

  switch (kind) {
    case TGIS_FieldKind::String: {
      const std::size_t length =
          value.IsString() ? value.AsString().size() : value.ToText().size();
      if (length > static_cast<std::size_t>(newWidth > 0 ? newWidth : 0))
        newWidth = length > 0x7fffffff ? 0x7fffffff : static_cast<std::int32_t>(length);
      return value;
    }
    case TGIS_FieldKind::Number: {
      if (newDecimal == 0) {
        // Integers are kept exact (a 64-bit integer does not survive a double).
        std::int64_t n = 0;
        if (value.Kind() == TGIS_VariantKind::Int32) {
          n = value.AsInt32();
        } else if (value.Kind() == TGIS_VariantKind::Int64) {
          n = value.AsInt64();
        } else {
          double v = 0;
          if (!value.ToDouble(v)) Fail(GIS_RS_ERR_WRONGFLOAT, value);
          // Round half to even; refuse NaN and values no 64-bit integer holds
          // (converting those is undefined behaviour, not a value).
          const double r = std::nearbyint(v);
          if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
            Fail(GIS_RS_ERR_WRONGFLOAT, value);
          n = static_cast<std::int64_t>(r);
        }
        if (n >= -2147483647 && n <= 2147483647) return TGIS_Variant(static_cast<std::int32_t>(n));
        return TGIS_Variant(n);
      }
      double v = 0;
      if (!value.ToDouble(v)) Fail(GIS_RS_ERR_WRONGFLOAT, value);
      return TGIS_Variant(v);
    }
    case TGIS_FieldKind::Float: {
      double v = 0;
      if (!value.ToDouble(v)) Fail(GIS_RS_ERR_WRONGFLOAT, value);
      return TGIS_Variant(v);
    }
    case TGIS_FieldKind::Boolean: {
      bool b = false;
      if (!value.ToBoolean(b))
        Fail(GIS_RS_ERR_WRONGBOOLEAN, value);
      return TGIS_Variant(b);
    }
    case TGIS_FieldKind::Date: {
      if (!value.IsString()) return value;
      TGIS_DateTime d;
      if (!TextToDateTime(value.AsString(), d)) Fail(GIS_RS_ERR_WRONGDATE, value);
      return TGIS_Variant(d);
    }
  }
  // A kind byte outside the table: keep the value as given.
  return value;
}

std::int32_t VirtualFieldIndex(std::string_view name) {
  if (name.size() < 7 || FoldAscii(name[0]) != 'g') return -1;  // all start "gis_"
  if (FieldNamesEqual(name, kFieldNameUid)) return kFieldIndexUid;
  if (FieldNamesEqual(name, kFieldNameSelected)) return kFieldIndexSelected;
  if (FieldNamesEqual(name, kFieldNameArea)) return kFieldIndexArea;
  if (FieldNamesEqual(name, kFieldNameLength)) return kFieldIndexLength;
  return -1;
}

bool FieldNamesEqual(std::string_view a, std::string_view b) { return SameTextNoCase(a, b); }

}  // namespace cadport
static_assert(sizeof(cadport::TGIS_Variant) == 16, "a value is sixteen bytes");
