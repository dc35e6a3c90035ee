#include "kernel/config/config.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "kernel/base/exception.h"
#include "kernel/base/units.h"

namespace cadport {
namespace {

constexpr const char* kAbsent = "/nonexistent-cadport-dir/roads.dxf.ini";

TEST(ConfigIni, AbsentFileIsEmptyAndEveryReaderGivesItsDefault) {
  TGIS_Ini ini(kAbsent);
  EXPECT_EQ(ini.Path(), kAbsent);
  EXPECT_EQ(ini.ReadRaw("Caption"), "nil");
  EXPECT_EQ(ini.ReadString("Caption", "keep"), "keep");
  EXPECT_TRUE(ini.ReadBoolean("Active", true));
  EXPECT_FALSE(ini.ReadBoolean("Active", false));
  EXPECT_EQ(ini.ReadInteger("Transparency", 42), 42);
  EXPECT_EQ(ini.ReadFloat("Scale", 2.5), 2.5);
  EXPECT_EQ(ini.ReadCharSet("CharSet", 238), 238);
  TGIS_Units units(kUnitsFoot, 0);
  EXPECT_FALSE(ini.ReadUnits("Units", units));
  EXPECT_EQ(units.Kind(), kUnitsFoot);
  EXPECT_FALSE(ini.Modified());
  EXPECT_NO_THROW(ini.Save());  // nothing to save
}

TEST(ConfigIni, SectionNamesOfLayerFilesAndProjects) {
  EXPECT_EQ(TGIS_Ini::SectionName(0, 0), "Tessellarium Layer");
  EXPECT_EQ(TGIS_Ini::SectionName(0, 2), "Tessellarium Layer 2");
  EXPECT_EQ(TGIS_Ini::SectionName(3, 0), "Tessellarium Layer3");
  EXPECT_EQ(TGIS_Ini::SectionName(3, 1), "Tessellarium Layer3 1");
}

TEST(ConfigIni, BoundLayerCountsItsNonEmptySectionsAndSelects) {
  TGIS_Ini ini(kAbsent);
  ini.BindLayer("roads");
  EXPECT_EQ(ini.LayerNumber(), 0);
  EXPECT_EQ(ini.SectionCount(), 0);
  EXPECT_FALSE(ini.SelectSection(0));
  ini.WriteString("Caption", "Roads");
  ini.SelectSection(1);
  ini.WriteInteger("Width", 2);
  ini.SelectSection(3);  // a gap: section 2 is missing, so 3 does not count
  ini.WriteInteger("Width", 4);
  ini.BindLayer("roads");
  EXPECT_EQ(ini.SectionCount(), 2);
  EXPECT_EQ(ini.CurrentIndex(), 0);
  EXPECT_EQ(ini.CurrentSection(), "Tessellarium Layer");
  EXPECT_TRUE(ini.SelectSection(1));
  EXPECT_EQ(ini.ReadInteger("width", 0), 2);  // keys ignore case
  EXPECT_FALSE(ini.SelectSection(2));

  ini.ClearExtraSections();
  ini.BindLayer("roads");
  EXPECT_EQ(ini.SectionCount(), 1);
  ini.SelectSection(1);
  EXPECT_EQ(ini.ReadInteger("Width", -1), -1);
  ini.SelectSection(0);
  EXPECT_EQ(ini.ReadString("Caption", ""), "Roads");
}

TEST(ConfigIni, BooleanKeywords) {
  struct Case {
    const char* text;
    bool def;
    bool want;
  };
  const Case cases[] = {{"yes", false, true},   {"TRUE", false, true}, {"1", false, true},
                        {" Yes ", false, true}, {"no", true, false},   {"False", true, false},
                        {"0", true, false},     {"maybe", true, true}, {"maybe", false, false},
                        {"", true, true}};
  TGIS_Ini ini(kAbsent);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ini.WriteRaw("Flag", c.text);
    EXPECT_EQ(ini.ReadBoolean("Flag", c.def), c.want);
  }
  ini.WriteBoolean("Flag", true);
  EXPECT_EQ(ini.ReadRaw("Flag"), "YES");
  ini.WriteBoolean("Flag", false);
  EXPECT_EQ(ini.ReadRaw("Flag"), "NO");
  EXPECT_TRUE(ini.Modified());
}

TEST(ConfigIni, IntegersFloatsAndRender) {
  TGIS_Ini ini(kAbsent);
  struct Case {
    const char* text;
    std::int32_t want;
  };
  const Case ints[] = {{"17", 17},   {" -3 ", -3}, {"", 5},   {"nil", 5},
                       {"1.5", 5},   {"abc", 5},   {"99999999999", 5},
                       {"RENDER", static_cast<std::int32_t>(0xF0000001u)},
                       {"render", static_cast<std::int32_t>(0xF0000001u)}};
  for (const Case& c : ints) {
    SCOPED_TRACE(c.text);
    ini.WriteRaw("N", c.text);
    EXPECT_EQ(ini.ReadInteger("N", 5), c.want);
  }
  ini.WriteRaw("F", "3,5");
  EXPECT_EQ(ini.ReadFloat("F", 0), 3.5);
  ini.WriteRaw("F", "1e3");
  EXPECT_EQ(ini.ReadFloat("F", 0), 1000);
  ini.WriteRaw("F", "x");
  EXPECT_EQ(ini.ReadFloat("F", 7), 7);
  ini.WriteFloat("F", 0.1);
  EXPECT_EQ(ini.ReadRaw("F"), "0.1");
  EXPECT_EQ(ini.ReadFloat("F", 0), 0.1);
  ini.WriteInteger("N", -12);
  EXPECT_EQ(ini.ReadRaw("N"), "-12");
}

TEST(ConfigIni, TextEscapesRoundTrip) {
  TGIS_Ini ini(kAbsent);
  ini.WriteRaw("T", "Line1\\nLine2");
  EXPECT_EQ(ini.ReadString("T", ""), "Line1\r\nLine2");
  ini.WriteString("T", "Line1\r\nLine2");
  EXPECT_EQ(ini.ReadRaw("T"), "Line1\\nLine2");
  // Other backslashes, and one at the very end, stay as written.
  ini.WriteRaw("T", "C:\\data\\");
  EXPECT_EQ(ini.ReadString("T", ""), "C:\\data\\");
  ini.WriteRaw("T", "");
  EXPECT_EQ(ini.ReadString("T", "def"), "def");
}

TEST(ConfigIni, CharSetNamesAndNumbers) {
  TGIS_Ini ini(kAbsent);
  struct Case {
    const char* text;
    std::int32_t want;
  };
  const Case cases[] = {{"ANSI", 0},    {"0", 0},     {"default", 1}, {"EASTEUROPE", 238},
                        {"238", 238},   {"OEM", 255}, {"mac", 77},    {"5", 9},
                        {"KLINGON", 9}, {"nil", 9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ini.WriteRaw("CharSet", c.text);
    EXPECT_EQ(ini.ReadCharSet("CharSet", 9), c.want);
  }
  ini.WriteCharSet("CharSet", 204);
  EXPECT_EQ(ini.ReadRaw("CharSet"), "RUSSIAN");
  ini.WriteCharSet("CharSet", 5);
  EXPECT_EQ(ini.ReadRaw("CharSet"), "DEFAULT");
}

TEST(ConfigIni, UnitsByNameOrFactor) {
  TGIS_Ini ini(kAbsent);
  TGIS_Units units;
  ini.WriteRaw("Units", "kilometer");
  EXPECT_TRUE(ini.ReadUnits("Units", units));
  EXPECT_EQ(units.Kind(), kUnitsKilometer);
  EXPECT_EQ(units.Factor(), 1000);

  ini.WriteRaw("Units", "0.5");
  EXPECT_TRUE(ini.ReadUnits("Units", units));
  EXPECT_EQ(units.Kind(), kUnitsLinearCustom);
  EXPECT_EQ(units.Factor(), 0.5);

  ini.WriteRaw("Units", "-0.25");
  EXPECT_TRUE(ini.ReadUnits("Units", units));
  EXPECT_EQ(units.Kind(), kUnitsAngularCustom);
  EXPECT_EQ(units.Factor(), 0.25);

  for (const char* keep : {"0", "parsec", ""}) {
    SCOPED_TRACE(keep);
    ini.WriteRaw("Units", keep);
    EXPECT_FALSE(ini.ReadUnits("Units", units));
    EXPECT_EQ(units.Kind(), kUnitsAngularCustom);
  }

  ini.WriteUnits("Units", TGIS_Units(kUnitsFootUS, 0));
  EXPECT_EQ(ini.ReadRaw("Units"), "FOOTUS");
  ini.WriteUnits("Units", TGIS_Units(kUnitsLinearCustom, 2));
  EXPECT_EQ(ini.ReadRaw("Units"), "2");
  ini.WriteUnits("Units", TGIS_Units(kUnitsAngularCustom, 2));
  EXPECT_EQ(ini.ReadRaw("Units"), "-2");
}

TEST(ConfigIni, SavingChangesIsRefusedNotFaked) {
  TGIS_Ini ini(kAbsent);
  ini.WriteString("Caption", "x");
  try {
    ini.Save();
    FAIL() << "a changed configuration cannot be written yet";
  } catch (const EGIS_Exception& e) {
    EXPECT_EQ(e.Name(), kAbsent);
  }
  EXPECT_TRUE(ini.Modified());
}

TEST(ConfigIni, ReloadForgetsUnsavedChanges) {
  TGIS_Ini ini(kAbsent);
  ini.WriteString("Caption", "x");
  ini.Reload();
  EXPECT_EQ(ini.ReadString("Caption", "def"), "def");
}

}  // namespace
}  // namespace cadport
