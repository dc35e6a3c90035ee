#include "kernel/base/units.h"

#include <numbers>

#include "kernel/base/utils.h"

namespace cadport {

namespace {

struct UnitsKindInfo {
  std::string_view name;  // empty: no configuration name
  double factor;          // 0: no table factor
};

constexpr double kPi = std::numbers::pi;

// Indexed by kind.  Linear factors are metres per unit, angular ones radians
// per unit.
constexpr UnitsKindInfo kUnitsTable[kUnitsLastKnown + 1] = {
    {"", 1.0},                                        // 0  none
    {"", 0.0},                                        // 1  a positive number
    {"METER", 1.0},                                   // 2
    {"KILOMETER", 1000.0},                            // 3
    {"FOOT", 0.3048},                                 // 4
    {"FOOTUS", 0.3048006096012192},                   // 5  1200/3937
    {"FOOTMODIFIEDAMERICAN", 0.304812252984506},      // 6
    {"FOOTCLARKES", 0.3047972651150996},              // 7
    {"FOOTINDIAN", 0.30479951799004223},              // 8
    {"LINK", 0.20116619497596572},                    // 9
    {"LINKBENOIT", 0.20116782494375873},              // 10
    {"LINKSERAS", 0.20116765121552632},               // 11
    {"CHAINBENOIT", 20.116782494375872},              // 12
    {"CHAINSEARS", 20.116765121552632},               // 13
    {"YARDINDIAN", 0.9143985539701267},               // 14
    {"YARDSEARS", 0.9143984146160288},                // 15
    {"FATHOM", 1.8288},                               // 16
    {"MILENAUTICAL", 1852.0},                         // 17
    {"", 0.0},                                        // 18 a negative number
    {"RADIAN", 1.0},                                  // 19
    {"DEGREEDECIMAL", kPi / 180.0},                   // 20
    {"MINUTEDECIMAL", kPi / 10800.0},                 // 21
    {"SECONDDECIMAL", kPi / 648000.0},                // 22 one arc-second
    {"GON", kPi / 200.0},                             // 23
    {"GRAD", kPi / 200.0},                            // 24
};

}  // namespace

double UnitsKindFactor(std::uint8_t kind) noexcept {
  return kind <= kUnitsLastKnown ? kUnitsTable[kind].factor : 0.0;
}

std::string_view UnitsKindName(std::uint8_t kind) noexcept {
  return kind <= kUnitsLastKnown ? kUnitsTable[kind].name : std::string_view{};
}

bool UnitsKindFromName(std::string_view name, std::uint8_t& kind) noexcept {
  const std::string_view n = TrimText(name);
  if (n.empty()) return false;
  for (std::uint8_t k = 0; k <= kUnitsLastKnown; ++k) {
    if (!kUnitsTable[k].name.empty() && SameTextNoCase(kUnitsTable[k].name, n)) {
      kind = k;
      return true;
    }
  }
  return false;
}

TGIS_Units::TGIS_Units(std::uint8_t kind, double factor) noexcept : kind_(kind), factor_(factor) {
  const double table = UnitsKindFactor(kind);
  if (table != 0.0) factor_ = table;
}

void TGIS_Units::SetKind(std::uint8_t kind) noexcept {
  kind_ = kind;
  const double table = UnitsKindFactor(kind);
  if (table != 0.0) factor_ = table;
}

void TGIS_Units::Assign(const TGIS_Units& other) noexcept {
  kind_ = other.kind_;
  factor_ = other.factor_;
}

}  // namespace cadport
