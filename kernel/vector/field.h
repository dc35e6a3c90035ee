// Attribute fields and values of vector layers.
//
// A vector layer keeps an ordered list of TGIS_FieldInfo descriptors; a field's
// index is its position in that list and never changes while the layer has
// shapes (fields are only appended; deleting a field marks it). Every shape
// keeps one TGIS_Variant per field index, allocated only once a value is set.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace cadport {

// Value kind of an attribute field. The numbers are stored and compared.
enum class TGIS_FieldKind : std::uint8_t {
  String = 0,   // DBF type C
  Number = 1,   // DBF type N
  Float = 2,    // DBF type F
  Boolean = 3,  // DBF type L
  Date = 4,     // DBF type D
};

// A date and time as days since 1899-12-30 00:00 (the fraction is the time of
// day), the usual serial date of office and GIS software.
struct TGIS_DateTime {
  double Value = 0;
  friend bool operator==(const TGIS_DateTime&, const TGIS_DateTime&) = default;
};

// Serial date of a calendar day (proleptic Gregorian; year 1..9999).
TGIS_DateTime EncodeDate(int year, int month, int day);
// Serial date of a calendar day and a time of day.
TGIS_DateTime EncodeDateTime(int year, int month, int day, int hour, int minute,
                             double second);
// Calendar day of a serial date (the time of day is dropped).
void DecodeDate(TGIS_DateTime date, int& year, int& month, int& day);
// Parses "YYYY-MM-DD", "YYYYMMDD" or "DD.MM.YYYY", each optionally followed by a
// blank or 'T' and "HH:MM" or "HH:MM:SS[.fff]". Blanks around the text are
// ignored. Returns false for anything else, including impossible dates.
bool TextToDateTime(std::string_view text, TGIS_DateTime& out);
// "YYYY-MM-DD", followed by " HH:MM:SS" when the time of day is not midnight.
std::string DateTimeToText(TGIS_DateTime date);

// Explicitly empty value (the database NULL).
struct TGIS_NullValue {
  friend bool operator==(const TGIS_NullValue&, const TGIS_NullValue&) = default;
};

// Kinds of value a TGIS_Variant holds; order as in the variant below.
enum class TGIS_VariantKind : std::uint8_t {
  Unassigned = 0,  // no value stored
  Null = 1,        // value explicitly empty
  String = 2,
  Int32 = 3,
  Int64 = 4,
  Double = 5,
  Boolean = 6,
  DateTime = 7,
};

// An attribute value: a tagged value of one of the kinds above. Default
// constructed it is Unassigned. Accessors As...() require the matching kind
// (std::bad_variant_access otherwise); the To...() conversions are the
// lenient readers used by writers and queries.
//
// Sixteen bytes, since every shape keeps one per field: numbers, Booleans
// and dates in place, texts of up to 14 bytes in place, longer ones in a
// block of their own.
class TGIS_Variant {
 public:
  TGIS_Variant() noexcept { SetKind(TGIS_VariantKind::Unassigned); }
  TGIS_Variant(TGIS_NullValue) noexcept { SetKind(TGIS_VariantKind::Null); }
  TGIS_Variant(std::string_view v) { AssignText(v); }
  TGIS_Variant(const std::string& v) { AssignText(v); }
  TGIS_Variant(const char* v) { AssignText(std::string_view(v)); }
  TGIS_Variant(std::int32_t v) noexcept { SetValue(TGIS_VariantKind::Int32, v); }
  TGIS_Variant(std::int64_t v) noexcept { SetValue(TGIS_VariantKind::Int64, v); }
  TGIS_Variant(double v) noexcept { SetValue(TGIS_VariantKind::Double, v); }
  TGIS_Variant(bool v) noexcept { SetValue(TGIS_VariantKind::Boolean, v); }
  TGIS_Variant(TGIS_DateTime v) noexcept { SetValue(TGIS_VariantKind::DateTime, v.Value); }

  TGIS_Variant(const TGIS_Variant& other);
  TGIS_Variant(TGIS_Variant&& other) noexcept;
  TGIS_Variant& operator=(const TGIS_Variant& other);
  TGIS_Variant& operator=(TGIS_Variant&& other) noexcept;
  ~TGIS_Variant() { Release(); }

  static TGIS_Variant Null() { return TGIS_Variant(TGIS_NullValue{}); }

  TGIS_VariantKind Kind() const noexcept {
    return static_cast<TGIS_VariantKind>(bytes_[kTag] & kKindMask);
  }
  bool IsUnassigned() const noexcept { return Kind() == TGIS_VariantKind::Unassigned; }
  bool IsNull() const noexcept { return Kind() == TGIS_VariantKind::Null; }
  // Unassigned or Null.
  bool IsEmpty() const noexcept { return Kind() <= TGIS_VariantKind::Null; }
  bool IsString() const noexcept { return Kind() == TGIS_VariantKind::String; }
  // Int32, Int64, Double (not Boolean, not DateTime).
  bool IsNumeric() const;

  // The text, valid while the value lives unchanged.
  std::string_view AsString() const;
  std::int32_t AsInt32() const { return Get<std::int32_t>(TGIS_VariantKind::Int32); }
  std::int64_t AsInt64() const { return Get<std::int64_t>(TGIS_VariantKind::Int64); }
  double AsDouble() const { return Get<double>(TGIS_VariantKind::Double); }
  bool AsBoolean() const { return Get<bool>(TGIS_VariantKind::Boolean); }
  TGIS_DateTime AsDateTime() const {
    return TGIS_DateTime{Get<double>(TGIS_VariantKind::DateTime)};
  }

  // Text form: strings as they are; numbers locale-free with '.' (doubles in the
  // shortest form that reads back, at most 15 significant digits); Booleans
  // "True"/"False"; dates DateTimeToText; Unassigned and Null give "".
  std::string ToText() const;
  // Numeric value: numbers as they are, Booleans 1/0, dates their serial
  // number, strings read with '.' or ','. Returns false when there is none.
  bool ToDouble(double& out) const;
  // Boolean value: Booleans as they are, numbers non-zero; strings by their
  // first character ("0", "F", "N" false; "1", "T", "Y" true, any case).
  bool ToBoolean(bool& out) const;

  // Same kind and equal values (doubles and dates as doubles compare).
  friend bool operator==(const TGIS_Variant& a, const TGIS_Variant& b);

 private:
  static constexpr std::size_t kSize = 16;
  static constexpr std::size_t kInlineText = 14;   // bytes 0..13
  static constexpr std::size_t kInlineLength = 14; // byte 14: length of an inline text
  static constexpr std::size_t kTag = 15;          // byte 15: kind, and where a text lies
  static constexpr unsigned char kKindMask = 0x0F;
  static constexpr unsigned char kOnHeap = 0x80;   // bytes 0..7 a block, 8..15 its length

  void SetKind(TGIS_VariantKind kind) noexcept {
    bytes_[kTag] = static_cast<unsigned char>(kind);
  }
  template <typename T>
  void SetValue(TGIS_VariantKind kind, T value) noexcept {
    static_assert(sizeof(T) <= 8);
    std::memcpy(bytes_, &value, sizeof value);
    SetKind(kind);
  }
  template <typename T>
  T Get(TGIS_VariantKind kind) const {
    if (Kind() != kind) throw std::bad_variant_access();
    T value;
    std::memcpy(&value, bytes_, sizeof value);
    return value;
  }
  bool OnHeap() const noexcept { return (bytes_[kTag] & kOnHeap) != 0; }
  char* HeapText() const noexcept {
    char* p = nullptr;
    std::memcpy(&p, bytes_, sizeof p);
    return p;
  }
  void AssignText(std::string_view text);
  void Release() noexcept {
    if (OnHeap()) delete[] HeapText();
  }

  alignas(8) unsigned char bytes_[kSize];
};

// A shape's attribute values by field index. Positions never set hold
// Unassigned. The list owns its values.
class TGIS_VariantList {
 public:
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  void Add(const TGIS_Variant& value) { items_.push_back(value); }
  // Copy of the value at index; Unassigned outside the list.
  TGIS_Variant Get(std::int32_t index) const {
    return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)]
                                         : TGIS_Variant();
  }
  // The value at index, or nullptr outside the list (no copy).
  const TGIS_Variant* At(std::int32_t index) const {
    return index >= 0 && index < Count() ? &items_[static_cast<std::size_t>(index)]
                                         : nullptr;
  }
  // Replaces the value at index (0 <= index < Count()).
  void Put(std::int32_t index, TGIS_Variant value) {
    items_.at(static_cast<std::size_t>(index)) = std::move(value);
  }
  // Extends the list with Unassigned entries up to count entries.
  void Grow(std::int32_t count) {
    if (count > Count()) items_.resize(static_cast<std::size_t>(count));
  }
  void Clear() { items_.clear(); }
  // Room for count entries without reallocating.
  void Reserve(std::int32_t count) {
    if (count > 0) items_.reserve(static_cast<std::size_t>(count));
  }
  // Asks the processor to fetch the values ahead of their use.
  void Prefetch() const noexcept {
    const auto* p = reinterpret_cast<const char*>(items_.data());
    const std::size_t bytes = items_.size() * sizeof(TGIS_Variant);
    for (std::size_t at = 0; at < bytes; at += 64) __builtin_prefetch(p + at);
  }

 private:
  std::vector<TGIS_Variant> items_;
};

// The empty value of a field kind: "" for String, 0.0 for Number and Float,
// False for Boolean, 1900-01-01 for Date. The kind byte's highest bit is
// ignored; an unknown kind gives Unassigned.
TGIS_Variant FieldKindDefault(TGIS_FieldKind kind);
// The same as an out parameter: for an unknown kind value is left as it was.
void DefaultFieldValue(TGIS_FieldKind kind, TGIS_Variant& value);

// Converts value for storage in a field of the given kind, following the
// field rules: Unassigned and "" become Null; String keeps the value and widens
// newWidth to the length of its text form; Number gives a double when
// newDecimal is not 0, else an integer rounded half to even, 32-bit when it
// fits and 64-bit otherwise; Float a double; Boolean a Boolean; Date a date.
// Throws EGIS_Exception GIS_RS_ERR_WRONGFLOAT / GIS_RS_ERR_WRONGBOOLEAN /
// GIS_RS_ERR_WRONGDATE with the value's text when it cannot be converted
// (also for NaN or an integer out of the 64-bit range).
TGIS_Variant ConvertFieldValue(TGIS_FieldKind kind, std::int32_t& newWidth,
                               std::int32_t newDecimal, const TGIS_Variant& value);

// One attribute field of a vector layer, owned by the layer's field list.
// Name/Width/Decimal are as declared; NewName/NewWidth/NewDecimal are current
// (lookups by name use NewName, writers use NewWidth/NewDecimal).
struct TGIS_FieldInfo {
  bool Deleted = false;
  bool Persistent = false;  // declared by a file reader: the field is in the file
  TGIS_FieldKind FieldKind = TGIS_FieldKind::String;
  std::string Name;
  std::int32_t Width = 0;
  std::int32_t Decimal = 0;
  std::string NewName;
  std::int32_t NewWidth = 0;
  std::int32_t NewDecimal = 0;
  std::string ExportName;  // set by MakeExportNames; empty until then
};

// Virtual fields, present on every layer without being in its field list.
// Their names are compared without regard to case.
inline constexpr std::string_view kFieldNameUid = "gis_uid";
inline constexpr std::string_view kFieldNameSelected = "gis_selected";
inline constexpr std::string_view kFieldNameArea = "gis_area";
inline constexpr std::string_view kFieldNameLength = "gis_length";
inline constexpr std::int32_t kFieldIndexUid = 100000;
inline constexpr std::int32_t kFieldIndexSelected = 100001;
inline constexpr std::int32_t kFieldIndexArea = 100002;
inline constexpr std::int32_t kFieldIndexLength = 100003;
// Index codes from here on (10000 + n) denote field n of a joined table.
inline constexpr std::int32_t kFieldIndexJoined = 10000;

// Index code of a virtual field name, or -1.
std::int32_t VirtualFieldIndex(std::string_view name);

// Field names compare without regard to case (ASCII only, locale-free).
bool FieldNamesEqual(std::string_view a, std::string_view b);

}  // namespace cadport
