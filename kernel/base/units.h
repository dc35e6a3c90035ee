#pragma once

#include <cstdint>
#include <string_view>

namespace cadport {

// Unit kinds.  0-17 are linear (factor: metres per unit), 18-24 angular
// (factor: radians per unit).  Kinds 1 and 18 carry a factor of their own.
inline constexpr std::uint8_t kUnitsNone = 0;
inline constexpr std::uint8_t kUnitsLinearCustom = 1;
inline constexpr std::uint8_t kUnitsMeter = 2;
inline constexpr std::uint8_t kUnitsKilometer = 3;
inline constexpr std::uint8_t kUnitsFoot = 4;
inline constexpr std::uint8_t kUnitsFootUS = 5;
inline constexpr std::uint8_t kUnitsFootModifiedAmerican = 6;
inline constexpr std::uint8_t kUnitsFootClarkes = 7;
inline constexpr std::uint8_t kUnitsFootIndian = 8;
inline constexpr std::uint8_t kUnitsLink = 9;
inline constexpr std::uint8_t kUnitsLinkBenoit = 10;
inline constexpr std::uint8_t kUnitsLinkSears = 11;
inline constexpr std::uint8_t kUnitsChainBenoit = 12;
inline constexpr std::uint8_t kUnitsChainSears = 13;
inline constexpr std::uint8_t kUnitsYardIndian = 14;
inline constexpr std::uint8_t kUnitsYardSears = 15;
inline constexpr std::uint8_t kUnitsFathom = 16;
inline constexpr std::uint8_t kUnitsMileNautical = 17;
inline constexpr std::uint8_t kUnitsAngularCustom = 18;
inline constexpr std::uint8_t kUnitsRadian = 19;
inline constexpr std::uint8_t kUnitsDegreeDecimal = 20;
inline constexpr std::uint8_t kUnitsMinuteDecimal = 21;
inline constexpr std::uint8_t kUnitsSecondDecimal = 22;
inline constexpr std::uint8_t kUnitsGon = 23;
inline constexpr std::uint8_t kUnitsGrad = 24;
inline constexpr std::uint8_t kUnitsLastKnown = 24;

// A unit of measure: a kind and its factor.
class TGIS_Units {
 public:
  // Kind 0, factor 1.
  TGIS_Units() noexcept = default;
  // For kinds 1 and 18 the given factor is kept; for kinds of the table the
  // table's factor replaces it; a kind beyond the table keeps the given one.
  TGIS_Units(std::uint8_t kind, double factor) noexcept;

  std::uint8_t Kind() const noexcept { return kind_; }
  double Factor() const noexcept { return factor_; }

  // Sets the kind and its table factor (the factor stays for kinds 1, 18
  // and kinds beyond the table).
  void SetKind(std::uint8_t kind) noexcept;
  void Assign(const TGIS_Units& other) noexcept;

  bool IsLinear() const noexcept { return kind_ < kUnitsAngularCustom; }
  bool IsAngular() const noexcept {
    return kind_ >= kUnitsAngularCustom && kind_ <= kUnitsLastKnown;
  }

 private:
  std::uint8_t kind_ = kUnitsNone;
  double factor_ = 1.0;
};

// The table factor of a kind; 0 for kinds 1, 18 and beyond the table (which
// have no table factor).
double UnitsKindFactor(std::uint8_t kind) noexcept;

// The configuration name of a kind ("METER", "FOOTUS", ...); empty for 0,
// 1, 18 and kinds beyond the table.
std::string_view UnitsKindName(std::uint8_t kind) noexcept;

// The kind named by a configuration name, ASCII case-insensitively; false
// when the name is none of the table's.
bool UnitsKindFromName(std::string_view name, std::uint8_t& kind) noexcept;

}  // namespace cadport
