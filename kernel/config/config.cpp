#include "kernel/config/config.h"

#include <array>
#include <cstdlib>

#include "kernel/base/exception.h"
#include "kernel/base/units.h"
#include "kernel/base/utils.h"

namespace cadport {

namespace {

constexpr std::string_view kNil = "nil";
constexpr std::string_view kSectionPrefix = "Tessellarium Layer";
// Upper bound of the layer and section numbers searched.
constexpr std::int32_t kMaxSectionNumber = 999999;
// "RENDER" as an integer value: the value comes from the layer's renderer.
constexpr std::uint32_t kRenderInteger = 0xF0000001u;

struct CharSetName {
  std::string_view name;
  std::int32_t value;
};

constexpr std::array<CharSetName, 19> kCharSets = {{
    {"ANSI", 0},       {"DEFAULT", 1},    {"SYMBOL", 2},      {"MAC", 77},
    {"SHIFTJIS", 128}, {"HANGEUL", 129},  {"JOHAB", 130},     {"GB2312", 134},
    {"CHINESEBIG5", 136}, {"GREEK", 161}, {"TURKISH", 162},   {"VIETNAMESE", 163},
    {"HEBREW", 177},   {"ARABIC", 178},   {"BALTIC", 186},    {"RUSSIAN", 204},
    {"THAI", 222},     {"EASTEUROPE", 238}, {"OEM", 255},
}};

bool IsNil(std::string_view text) { return text == kNil; }

}  // namespace

TGIS_Ini::TGIS_Ini(const std::string& fileName) : path_(ExpandPath({}, fileName)) {
  Load();
  currentSection_ = SectionName(layerNumber_, 0);
}

TGIS_Ini::~TGIS_Ini() = default;

std::string TGIS_Ini::SectionName(std::int32_t layerNumber, std::int32_t index) {
  std::string name(kSectionPrefix);
  if (layerNumber > 0) name += std::to_string(layerNumber);
  if (index > 0) {
    name += ' ';
    name += std::to_string(index);
  }
  return name;
}

void TGIS_Ini::Load() {
  // The file syntax is read by the full INI reader; until then every file,
  // present or not, is an empty configuration.
  sections_.clear();
}

void TGIS_Ini::Reload() {
  Load();
  sectionCount_ = CountSections(bound_);
}

void TGIS_Ini::Save() {
  if (!modified_) return;
  throw EGIS_Exception(GIS_RS_ERR_UNIMPLEMENTED, path_);
}

const TGIS_Ini::Section* TGIS_Ini::FindSection(std::string_view name) const {
  for (const Section& s : sections_) {
    if (SameTextNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

TGIS_Ini::Section* TGIS_Ini::FindSection(std::string_view name) {
  for (Section& s : sections_) {
    if (SameTextNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

const std::string* TGIS_Ini::FindValue(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return nullptr;
  for (const Entry& e : s->entries) {
    if (SameTextNoCase(e.key, key)) return &e.value;
  }
  return nullptr;
}

std::int32_t TGIS_Ini::FindLayerNumber(const std::string& layerName) const {
  for (std::int32_t n = 1; n <= kMaxSectionNumber; ++n) {
    const std::string section = SectionName(n, 0);
    const std::string* value = FindValue(section, "Name");
    std::string name = value ? *value : std::string();
    if (name.empty()) {
      const std::string* path = FindValue(section, "Path");
      if (path != nullptr) name = BaseName(*path);
    }
    if (name.empty()) return 0;
    if (name == layerName) return n;
  }
  return 0;
}

std::int32_t TGIS_Ini::CountSections(bool bound) const {
  if (!bound) return 1;
  std::int32_t count = 0;
  while (count <= kMaxSectionNumber) {
    const Section* s = FindSection(SectionName(layerNumber_, count));
    if (s == nullptr || s->entries.empty()) break;
    ++count;
  }
  return count;
}

void TGIS_Ini::BindLayer(const std::string& layerName) {
  bound_ = true;
  layerNumber_ = FindLayerNumber(layerName);
  sectionCount_ = CountSections(true);
  SelectSection(0);
}

bool TGIS_Ini::SelectSection(std::int32_t index) {
  currentIndex_ = index;
  currentSection_ = SectionName(layerNumber_, index);
  return index < sectionCount_;
}

void TGIS_Ini::ClearExtraSections() {
  for (std::int32_t i = 1; i <= kMaxSectionNumber; ++i) {
    const std::string name = SectionName(layerNumber_, i);
    auto it = sections_.begin();
    while (it != sections_.end() && !SameTextNoCase(it->name, name)) ++it;
    if (it == sections_.end()) break;
    sections_.erase(it);
    modified_ = true;
  }
  if (bound_) sectionCount_ = CountSections(true);
}

// ---- raw access -------------------------------------------------------------

std::string TGIS_Ini::ReadRaw(std::string_view key) const {
  const std::string* value = FindValue(currentSection_, key);
  return value ? *value : std::string(kNil);
}

void TGIS_Ini::WriteRaw(std::string_view key, const std::string& value) {
  Section* s = FindSection(currentSection_);
  if (s == nullptr) {
    sections_.push_back(Section{currentSection_, {}});
    s = &sections_.back();
  }
  modified_ = true;
  for (Entry& e : s->entries) {
    if (SameTextNoCase(e.key, key)) {
      e.value = value;
      return;
    }
  }
  s->entries.push_back(Entry{std::string(key), value});
  if (bound_) sectionCount_ = CountSections(true);
}

// ---- readers ------------------------------------------------------------------

std::string TGIS_Ini::ReadString(std::string_view key, const std::string& def) const {
  const std::string raw = ReadRaw(key);
  if (raw.empty() || IsNil(raw)) return def;
  // "\n" stands for a line break; any other backslash stays as written.
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == 'n') {
      text += "\r\n";
      ++i;
    } else {
      text += raw[i];
    }
  }
  return text;
}

bool TGIS_Ini::ReadBoolean(std::string_view key, bool def) const {
  const std::string raw = ReadRaw(key);
  const std::string_view t = TrimText(raw);
  if (SameTextNoCase(t, "YES") || SameTextNoCase(t, "TRUE") || t == "1") return true;
  if (SameTextNoCase(t, "NO") || SameTextNoCase(t, "FALSE") || t == "0") return false;
  return def;
}

std::int32_t TGIS_Ini::ReadInteger(std::string_view key, std::int32_t def) const {
  const std::string raw = ReadRaw(key);
  if (raw.empty() || IsNil(raw)) return def;
  if (SameTextNoCase(TrimText(raw), "RENDER")) return static_cast<std::int32_t>(kRenderInteger);
  std::int32_t value = 0;
  return TryTextToInt(raw, value) ? value : def;
}

double TGIS_Ini::ReadFloat(std::string_view key, double def) const {
  const std::string raw = ReadRaw(key);
  if (raw.empty() || IsNil(raw)) return def;
  double value = 0;
  return TryTextToFloat(raw, value) ? value : def;
}

std::int32_t TGIS_Ini::ReadCharSet(std::string_view key, std::int32_t def) const {
  const std::string raw = ReadRaw(key);
  if (IsNil(raw)) return def;
  const std::string_view t = TrimText(raw);
  std::int32_t number = -1;
  const bool isNumber = TryTextToInt(t, number);
  for (const CharSetName& c : kCharSets) {
    if (SameTextNoCase(t, c.name) || (isNumber && number == c.value)) return c.value;
  }
  return def;
}

bool TGIS_Ini::ReadUnits(std::string_view key, TGIS_Units& units) const {
  const std::string raw = ReadRaw(key);
  if (IsNil(raw)) return false;
  const std::string_view t = TrimText(raw);
  std::uint8_t kind = 0;
  if (UnitsKindFromName(t, kind)) {
    units = TGIS_Units(kind, 1.0);
    return true;
  }
  double factor = 0;
  if (!TryTextToFloat(t, factor) || factor == 0) return false;
  units = factor > 0 ? TGIS_Units(kUnitsLinearCustom, factor)
                     : TGIS_Units(kUnitsAngularCustom, -factor);
  return true;
}

// ---- writers ------------------------------------------------------------------

void TGIS_Ini::WriteString(std::string_view key, const std::string& value) {
  std::string text;
  text.reserve(value.size());
  for (char c : value) {
    if (c == '\n') continue;
    if (c == '\r') {
      text += "\\n";
    } else {
      text += c;
    }
  }
  WriteRaw(key, text);
}

void TGIS_Ini::WriteBoolean(std::string_view key, bool value) {
  WriteRaw(key, value ? "YES" : "NO");
}

void TGIS_Ini::WriteInteger(std::string_view key, std::int32_t value) {
  WriteRaw(key, std::to_string(value));
}

void TGIS_Ini::WriteFloat(std::string_view key, double value) {
  WriteRaw(key, FloatToDotText(value));
}

void TGIS_Ini::WriteCharSet(std::string_view key, std::int32_t value) {
  for (const CharSetName& c : kCharSets) {
    if (c.value == value) {
      WriteRaw(key, std::string(c.name));
      return;
    }
  }
  WriteRaw(key, "DEFAULT");
}

void TGIS_Ini::WriteUnits(std::string_view key, const TGIS_Units& units) {
  if (units.Kind() == kUnitsLinearCustom) {
    WriteRaw(key, FloatToDotText(units.Factor()));
  } else if (units.Kind() == kUnitsAngularCustom) {
    WriteRaw(key, FloatToDotText(-units.Factor()));
  } else if (const std::string_view name = UnitsKindName(units.Kind()); !name.empty()) {
    WriteRaw(key, std::string(name));
  } else if (units.Kind() != kUnitsNone) {
    // A kind beyond the table is kept through its factor.
    WriteRaw(key, FloatToDotText(units.Factor()));
  }
}

}  // namespace cadport
