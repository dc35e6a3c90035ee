// Attribute values: conversion on store, kind defaults, dates.
#include "kernel/vector/field.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "kernel/base/exception.h"

namespace cadport {
namespace {

using VK = TGIS_VariantKind;

// One row of the store-conversion table. error: the start of the expected
// message ("" = no error).
struct StoreCase {
  const char* name;
  TGIS_FieldKind kind;
  std::int32_t decimal;
  TGIS_Variant in;
  TGIS_Variant want;
  const char* error;
};

// Values are copied, moved, assigned and compared as the kinds they hold:
// texts on both sides of the in-place limit (14 bytes), with zero bytes in
// them, over each other and over numbers; a value of one kind read as
// another fails as before.
TEST(FieldValues, VariantsCopyMoveAndCompareWhateverTheyHold) {
  const std::string texts[] = {"", "ROADS", std::string("a\0b", 3), std::string(14, 'x'),
                               std::string(15, 'y'), std::string(300, 'z') + "\xC3\xA9"};
  std::vector<TGIS_Variant> values = {TGIS_Variant(), TGIS_Variant::Null(),
                                      TGIS_Variant(std::int32_t{-7}),
                                      TGIS_Variant(std::int64_t{1} << 40), TGIS_Variant(2.5),
                                      TGIS_Variant(true), TGIS_Variant(EncodeDate(2026, 12, 10))};
  for (const std::string& t : texts) values.emplace_back(t);
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(i);
    const TGIS_Variant& v = values[i];
    TGIS_Variant copy(v);
    EXPECT_EQ(copy, v);
    EXPECT_EQ(copy.Kind(), v.Kind());
    EXPECT_EQ(copy.ToText(), v.ToText());
    if (v.IsString()) {
      EXPECT_EQ(copy.AsString(), texts[i - 7]);
      EXPECT_NE(copy.AsString().data(), v.AsString().data()) << "a copy has its own text";
    }
    TGIS_Variant moved(std::move(copy));
    EXPECT_EQ(moved, v);
    EXPECT_TRUE(copy.IsUnassigned());  // NOLINT(bugprone-use-after-move): moved-from is Unassigned
    for (const TGIS_Variant& other : values) {
      TGIS_Variant target(other);
      target = v;
      EXPECT_EQ(target, v);
      target = TGIS_Variant(other);
      EXPECT_EQ(target, other);
      EXPECT_EQ(target == v, &other == &v || (other.Kind() == v.Kind() && other.ToText() == v.ToText()));
    }
    TGIS_Variant self(v);
    const TGIS_Variant& alias = self;
    self = alias;
    EXPECT_EQ(self, v);
  }
  EXPECT_EQ(TGIS_Variant(0.0), TGIS_Variant(-0.0));
  EXPECT_NE(TGIS_Variant(std::nan("")), TGIS_Variant(std::nan("")));
  EXPECT_NE(TGIS_Variant(std::int32_t{1}), TGIS_Variant(std::int64_t{1}));
  EXPECT_THROW((void)TGIS_Variant(std::int32_t{1}).AsString(), std::bad_variant_access);
  EXPECT_THROW((void)TGIS_Variant("1").AsInt32(), std::bad_variant_access);
}

TEST(FieldValues, StoreConversionTable) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const StoreCase cases[] = {
      // Empty values become Null whatever the kind.
      {"empty string", TGIS_FieldKind::Number, 0, TGIS_Variant(""), TGIS_Variant::Null(), ""},
      {"unassigned", TGIS_FieldKind::Date, 0, TGIS_Variant(), TGIS_Variant::Null(), ""},
      {"null", TGIS_FieldKind::Boolean, 0, TGIS_Variant::Null(), TGIS_Variant::Null(), ""},
      // Number without decimals: 32-bit while |v| <= 2^31-1, else 64-bit.
      {"text 42", TGIS_FieldKind::Number, 0, TGIS_Variant("42"), TGIS_Variant(std::int32_t{42}), ""},
      {"text with comma", TGIS_FieldKind::Number, 0, TGIS_Variant("7,0"), TGIS_Variant(std::int32_t{7}), ""},
      {"int32 max", TGIS_FieldKind::Number, 0, TGIS_Variant(2147483647.0),
       TGIS_Variant(std::int32_t{2147483647}), ""},
      {"2^31", TGIS_FieldKind::Number, 0, TGIS_Variant(2147483648.0),
       TGIS_Variant(std::int64_t{2147483648LL}), ""},
      {"-2^31", TGIS_FieldKind::Number, 0, TGIS_Variant(std::int32_t{-2147483647 - 1}),
       TGIS_Variant(std::int64_t{-2147483648LL}), ""},
      {"int64 kept exact", TGIS_FieldKind::Number, 0, TGIS_Variant(std::int64_t{9007199254740993LL}),
       TGIS_Variant(std::int64_t{9007199254740993LL}), ""},
      {"half to even 2.5", TGIS_FieldKind::Number, 0, TGIS_Variant(2.5), TGIS_Variant(std::int32_t{2}), ""},
      {"half to even 3.5", TGIS_FieldKind::Number, 0, TGIS_Variant(3.5), TGIS_Variant(std::int32_t{4}), ""},
      {"half to even -2.5", TGIS_FieldKind::Number, 0, TGIS_Variant("-2.5"), TGIS_Variant(std::int32_t{-2}), ""},
      {"Boolean as number", TGIS_FieldKind::Number, 0, TGIS_Variant(true), TGIS_Variant(std::int32_t{1}), ""},
      {"not a number", TGIS_FieldKind::Number, 0, TGIS_Variant("abc"), TGIS_Variant(), "0070"},
      {"NaN", TGIS_FieldKind::Number, 0, TGIS_Variant(nan), TGIS_Variant(), "0070"},
      {"beyond int64", TGIS_FieldKind::Number, 0, TGIS_Variant(1e19), TGIS_Variant(), "0070"},
      {"2^63 exactly", TGIS_FieldKind::Number, 0, TGIS_Variant(9223372036854775808.0), TGIS_Variant(), "0070"},
      {"-2^63 fits", TGIS_FieldKind::Number, 0, TGIS_Variant(-9223372036854775808.0),
       TGIS_Variant(std::numeric_limits<std::int64_t>::min()), ""},
      // Number with decimals, Float: doubles.
      {"decimals 2", TGIS_FieldKind::Number, 2, TGIS_Variant(std::int32_t{42}), TGIS_Variant(42.0), ""},
      {"decimals 2 text", TGIS_FieldKind::Number, 2, TGIS_Variant("3,25"), TGIS_Variant(3.25), ""},
      {"float text", TGIS_FieldKind::Float, 0, TGIS_Variant("1e3"), TGIS_Variant(1000.0), ""},
      {"float int", TGIS_FieldKind::Float, 5, TGIS_Variant(std::int32_t{-3}), TGIS_Variant(-3.0), ""},
      {"float junk", TGIS_FieldKind::Float, 0, TGIS_Variant("1.5x"), TGIS_Variant(), "0070"},
      // Boolean: first character of a text, any case.
      {"yes", TGIS_FieldKind::Boolean, 0, TGIS_Variant("yes"), TGIS_Variant(true), ""},
      {"No", TGIS_FieldKind::Boolean, 0, TGIS_Variant("No"), TGIS_Variant(false), ""},
      {"t", TGIS_FieldKind::Boolean, 0, TGIS_Variant("t"), TGIS_Variant(true), ""},
      {"F", TGIS_FieldKind::Boolean, 0, TGIS_Variant("False"), TGIS_Variant(false), ""},
      {"1", TGIS_FieldKind::Boolean, 0, TGIS_Variant("1"), TGIS_Variant(true), ""},
      {"0", TGIS_FieldKind::Boolean, 0, TGIS_Variant("0"), TGIS_Variant(false), ""},
      {"x", TGIS_FieldKind::Boolean, 0, TGIS_Variant("x"), TGIS_Variant(), "0071"},
      {"number 5", TGIS_FieldKind::Boolean, 0, TGIS_Variant(std::int32_t{5}), TGIS_Variant(true), ""},
      {"number 0.0", TGIS_FieldKind::Boolean, 0, TGIS_Variant(0.0), TGIS_Variant(false), ""},
      {"date", TGIS_FieldKind::Boolean, 0, TGIS_Variant(EncodeDate(2000, 1, 1)), TGIS_Variant(), "0071"},
      // Date: texts are parsed, other values kept.
      {"iso date", TGIS_FieldKind::Date, 0, TGIS_Variant("2024-02-29"),
       TGIS_Variant(EncodeDate(2024, 2, 29)), ""},
      {"dbf date", TGIS_FieldKind::Date, 0, TGIS_Variant("19991231"),
       TGIS_Variant(EncodeDate(1999, 12, 31)), ""},
      {"dotted date", TGIS_FieldKind::Date, 0, TGIS_Variant("01.03.2023"),
       TGIS_Variant(EncodeDate(2023, 3, 1)), ""},
      {"no 29 Feb", TGIS_FieldKind::Date, 0, TGIS_Variant("2023-02-29"), TGIS_Variant(), "0072"},
      {"junk date", TGIS_FieldKind::Date, 0, TGIS_Variant("yesterday"), TGIS_Variant(), "0072"},
      {"double kept", TGIS_FieldKind::Date, 0, TGIS_Variant(3.0), TGIS_Variant(3.0), ""},
      // String: kept as given, numbers included.
      {"string number", TGIS_FieldKind::String, 0, TGIS_Variant(1.5), TGIS_Variant(1.5), ""},
  };
  for (const StoreCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::int32_t width = 10;
    if (*c.error == '\0') {
      const TGIS_Variant got = ConvertFieldValue(c.kind, width, c.decimal, c.in);
      EXPECT_EQ(got.Kind(), c.want.Kind());
      EXPECT_EQ(got, c.want);
    } else {
      try {
        ConvertFieldValue(c.kind, width, c.decimal, c.in);
        ADD_FAILURE() << "no error";
      } catch (const EGIS_Exception& e) {
        EXPECT_EQ(e.Message().substr(0, 4), c.error) << e.Message();
        // The message names the offending value.
        EXPECT_NE(e.Message().find(c.in.ToText()), std::string::npos) << e.Message();
      }
    }
  }
}

TEST(FieldValues, StringFieldWidensToTheLongestText) {
  std::int32_t width = 5;
  ConvertFieldValue(TGIS_FieldKind::String, width, 0, TGIS_Variant("twelve chars"));
  EXPECT_EQ(width, 12);
  ConvertFieldValue(TGIS_FieldKind::String, width, 0, TGIS_Variant("short"));
  EXPECT_EQ(width, 12);  // never narrowed
  // Numbers count with their text form.
  width = 3;
  ConvertFieldValue(TGIS_FieldKind::String, width, 0, TGIS_Variant(12345.5));
  EXPECT_EQ(width, 7);
  // An empty text is Null and leaves the width alone.
  width = 3;
  ConvertFieldValue(TGIS_FieldKind::String, width, 0, TGIS_Variant(""));
  EXPECT_EQ(width, 3);
}

TEST(FieldValues, KindDefaults) {
  EXPECT_EQ(FieldKindDefault(TGIS_FieldKind::String), TGIS_Variant(std::string()));
  EXPECT_EQ(FieldKindDefault(TGIS_FieldKind::Number), TGIS_Variant(0.0));
  EXPECT_EQ(FieldKindDefault(TGIS_FieldKind::Float), TGIS_Variant(0.0));
  EXPECT_EQ(FieldKindDefault(TGIS_FieldKind::Boolean), TGIS_Variant(false));
  EXPECT_EQ(FieldKindDefault(TGIS_FieldKind::Date), TGIS_Variant(TGIS_DateTime{2.0}));
  // The highest bit of the kind byte is ignored; unknown kinds give nothing.
  EXPECT_EQ(FieldKindDefault(static_cast<TGIS_FieldKind>(0x83)), TGIS_Variant(false));
  EXPECT_TRUE(FieldKindDefault(static_cast<TGIS_FieldKind>(9)).IsUnassigned());
  TGIS_Variant v("kept");
  DefaultFieldValue(static_cast<TGIS_FieldKind>(9), v);
  EXPECT_EQ(v, TGIS_Variant("kept"));
  DefaultFieldValue(TGIS_FieldKind::Date, v);
  EXPECT_EQ(v, TGIS_Variant(EncodeDate(1900, 1, 1)));
}

TEST(FieldValues, SerialDates) {
  EXPECT_EQ(EncodeDate(1899, 12, 30).Value, 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1).Value, 2);
  EXPECT_EQ(EncodeDate(2000, 1, 1).Value, 36526);
  EXPECT_EQ(EncodeDate(1899, 12, 29).Value, -1);
  struct Ymd { int y, m, d; };
  for (const Ymd& c : {Ymd{1, 1, 1}, Ymd{1600, 2, 29}, Ymd{1899, 12, 31}, Ymd{1900, 3, 1},
                       Ymd{2024, 2, 29}, Ymd{9999, 12, 31}}) {
    SCOPED_TRACE(c.y);
    int y = 0, m = 0, d = 0;
    DecodeDate(EncodeDate(c.y, c.m, c.d), y, m, d);
    EXPECT_EQ(y, c.y);
    EXPECT_EQ(m, c.m);
    EXPECT_EQ(d, c.d);
  }
}

TEST(FieldValues, DateTexts) {
  TGIS_DateTime d;
  ASSERT_TRUE(TextToDateTime(" 2024-01-31 12:00 ", d));
  EXPECT_DOUBLE_EQ(d.Value, EncodeDate(2024, 1, 31).Value + 0.5);
  ASSERT_TRUE(TextToDateTime("2024-01-31T06:00:00", d));
  EXPECT_DOUBLE_EQ(d.Value, EncodeDate(2024, 1, 31).Value + 0.25);
  EXPECT_EQ(DateTimeToText(EncodeDate(1900, 1, 1)), "1900-01-01");
  EXPECT_EQ(DateTimeToText(EncodeDateTime(2024, 1, 31, 13, 5, 9)), "2024-01-31 13:05:09");
  for (const char* bad : {"", "2024-13-01", "2024-00-10", "2024-01-32", "2024-1-1", "24-01-01",
                          "2024-01-01 25:00", "2024-01-01 10:61", "2024-01-01x", "20240230"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(TextToDateTime(bad, d));
  }
}

TEST(FieldValues, TextForms) {
  EXPECT_EQ(TGIS_Variant().ToText(), "");
  EXPECT_EQ(TGIS_Variant::Null().ToText(), "");
  EXPECT_EQ(TGIS_Variant(std::int64_t{-5000000000LL}).ToText(), "-5000000000");
  EXPECT_EQ(TGIS_Variant(0.1).ToText(), "0.1");
  EXPECT_EQ(TGIS_Variant(true).ToText(), "True");
  EXPECT_TRUE(TGIS_Variant().IsEmpty());
  EXPECT_TRUE(TGIS_Variant::Null().IsEmpty());
  EXPECT_FALSE(TGIS_Variant("").IsEmpty());
  EXPECT_NE(TGIS_Variant(), TGIS_Variant::Null());
  EXPECT_NE(TGIS_Variant(std::int32_t{1}), TGIS_Variant(std::int64_t{1}));
}

TEST(FieldValues, VirtualFieldNamesIgnoreCase) {
  EXPECT_EQ(VirtualFieldIndex("GIS_UID"), kFieldIndexUid);
  EXPECT_EQ(VirtualFieldIndex("gis_Selected"), kFieldIndexSelected);
  EXPECT_EQ(VirtualFieldIndex("gis_area"), kFieldIndexArea);
  EXPECT_EQ(VirtualFieldIndex("GIS_LENGTH"), kFieldIndexLength);
  EXPECT_EQ(VirtualFieldIndex("gis_uidx"), -1);
  EXPECT_EQ(VirtualFieldIndex("uid"), -1);
}

}  // namespace
}  // namespace cadport
