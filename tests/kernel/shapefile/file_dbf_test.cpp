#include "kernel/shapefile/file_dbf.h"

#include <gtest/gtest.h>

#include <cstring>

#include "kernel/base/exception.h"
#include "kernel/shapefile/binary_io.h"
#include "kernel/shapefile/mapped_stream.h"
#include "kernel/vector/layer_vector.h"
#include "tests/kernel/shapefile/shapefile_test_util.h"

namespace cadport {
namespace {

using testing::ReadBytes;
using testing::ScratchDir;

TEST(FileDBF, NumberTexts) {
  struct Case {
    const char* what;
    TGIS_Variant value;
    int width, decimals;
    const char* text;
  };
  const Case cases[] = {
      {"fixed", TGIS_Variant(3.14159), 8, 2, "    3.14"},
      {"too wide", TGIS_Variant(123456.789), 6, 2, "999.99"},
      {"too wide negative integer", TGIS_Variant(int32_t(-12345)), 4, 0, "-999"},
      {"negative fits", TGIS_Variant(int32_t(-5)), 4, 0, "  -5"},
      {"1e20 keeps its sign", TGIS_Variant(1e20), 10, 2, "9999999.99"},
      {"-1e20", TGIS_Variant(-1e20), 10, 2, "-999999.99"},
      {"integer ignores decimals", TGIS_Variant(int32_t(42)), 6, 2, "    42"},
      {"64-bit integer keeps its digits", TGIS_Variant(int64_t(9876543210123)), 15, 0,
       "  9876543210123"},
      {"64-bit integer too wide", TGIS_Variant(int64_t(-9876543210123)), 6, 0, "-99999"},
      {"null is blank", TGIS_Variant::Null(), 5, 0, "     "},
      {"unassigned counts as 0", TGIS_Variant(), 5, 1, "  0.0"},
      {"numeric text", TGIS_Variant("2.5"), 5, 1, "  2.5"},
      {"text that is no number", TGIS_Variant("abc"), 5, 1, "    0"},
      {"NaN fails", TGIS_Variant(std::nan("")), 4, 0, "   0"},
      {"an exact half rounds to even", TGIS_Variant(0.125), 6, 2, "  0.12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(TGIS_FileDBF::NumberText(c.value, c.width, c.decimals), c.text);
  }
}

TEST(FileDBF, FloatTexts) {
  struct Case { double value; const char* text; };
  const Case cases[] = {
      {0, "0.00000000000000E+00"},
      {-1.5, "-1.5000000000000E+00"},
      {1234.5, "1.23450000000000E+03"},
      {1e150, "1.0000000000000E+150"},
      {-1e-150, "-1.000000000000E-150"},
      {6.02214076e23, "6.02214076000000E+23"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string t = TGIS_FileDBF::FloatText(TGIS_Variant(c.value));
    EXPECT_EQ(t, c.text);
    EXPECT_EQ(t.size(), 20u);
    EXPECT_EQ(std::stod(t), std::stod(c.text));
  }
  EXPECT_EQ(TGIS_FileDBF::FloatText(TGIS_Variant::Null()), std::string(20, ' '));
}

TEST(FileDBF, BooleanDateAndStringTexts) {
  EXPECT_EQ(TGIS_FileDBF::BooleanText(TGIS_Variant(true)), 'Y');
  EXPECT_EQ(TGIS_FileDBF::BooleanText(TGIS_Variant(false)), 'N');
  EXPECT_EQ(TGIS_FileDBF::BooleanText(TGIS_Variant::Null()), ' ');
  EXPECT_EQ(TGIS_FileDBF::DateText(TGIS_Variant(EncodeDate(1999, 12, 31))), "19991231");
  EXPECT_EQ(TGIS_FileDBF::DateText(TGIS_Variant::Null()), "        ");
  EXPECT_EQ(TGIS_FileDBF::DateText(TGIS_Variant(int32_t(5))), "19000101");
  EXPECT_EQ(TGIS_FileDBF::StringText("abc", 5), "abc  ");
  EXPECT_EQ(TGIS_FileDBF::StringText("abcdef", 4), "abcd");
  // "Zürich" is Z, 2 bytes of ü, r...: a cut inside the ü moves before it.
  EXPECT_EQ(TGIS_FileDBF::StringText("Z\xC3\xBCrich", 2), "Z ");
  EXPECT_EQ(TGIS_FileDBF::StringText("Z\xC3\xBCrich", 3), "Z\xC3\xBC");
  // Not UTF-8 (a code page): cut at the byte.
  EXPECT_EQ(TGIS_FileDBF::StringText("Z\xFCrich", 2), "Z\xFC");
}

TEST(FileDBF, ReadingValues) {
  struct Case {
    const char* what;
    TGIS_FieldKind kind;
    int decimals;
    const char* bytes;
    TGIS_Variant want;
  };
  const Case cases[] = {
      {"string trims the right", TGIS_FieldKind::String, 0, " ab  \0\0", TGIS_Variant(" ab")},
      {"integer", TGIS_FieldKind::Number, 0, "   -42", TGIS_Variant(int64_t(-42))},
      {"fraction in N(x,0)", TGIS_FieldKind::Number, 0, "  12.5", TGIS_Variant(12.5)},
      {"no number in N(x,0)", TGIS_FieldKind::Number, 0, " *****", TGIS_Variant::Null()},
      {"empty number", TGIS_FieldKind::Number, 2, "      ", TGIS_Variant::Null()},
      {"decimals", TGIS_FieldKind::Number, 2, "  3.25", TGIS_Variant(3.25)},
      {"decimal comma", TGIS_FieldKind::Number, 2, "  3,25", TGIS_Variant(3.25)},
      {"float", TGIS_FieldKind::Float, 5, "-1.5000000000000E+00", TGIS_Variant(-1.5)},
      {"empty float", TGIS_FieldKind::Float, 5, "    ", TGIS_Variant::Null()},
      {"true", TGIS_FieldKind::Boolean, 0, "t", TGIS_Variant(true)},
      {"false", TGIS_FieldKind::Boolean, 0, "N", TGIS_Variant(false)},
      {"blank logical", TGIS_FieldKind::Boolean, 0, " ", TGIS_Variant::Null()},
      {"unknown logical", TGIS_FieldKind::Boolean, 0, "?", TGIS_Variant::Null()},
      {"date", TGIS_FieldKind::Date, 0, "19991231", TGIS_Variant(EncodeDate(1999, 12, 31))},
      {"blank date", TGIS_FieldKind::Date, 0, "        ", TGIS_Variant::Null()},
      {"malformed date", TGIS_FieldKind::Date, 0, "1999-1-1", TGIS_Variant::Null()},
      {"impossible date", TGIS_FieldKind::Date, 0, "19990231", TGIS_Variant::Null()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t n = c.kind == TGIS_FieldKind::String ? 7 : std::strlen(c.bytes);
    EXPECT_EQ(TGIS_FileDBF::ParseValue(c.kind, c.decimals, std::string_view(c.bytes, n)), c.want);
  }
  EXPECT_THROW(TGIS_FileDBF::ParseValue(TGIS_FieldKind::Float, 5, "abc"), EGIS_Exception);
}

// Writes the fields and shapes of layer into path.
void WriteTable(const std::string& path, TGIS_LayerVector& layer) {
  TGIS_FileDBF dbf(path, true, layer);
  dbf.WriteHeader();
  dbf.WriteFieldDescriptors();
  for (const auto& shape : layer.Shapes()) dbf.AppendRecord(*shape);
  dbf.WriteHeader();
  dbf.Close();
}

TEST(FileDBF, WidthCorrectionsAndRecords) {
  TGIS_LayerVector layer;
  testing::PrepareLayer(layer);
  layer.AddField("NAME", TGIS_FieldKind::String, 300, 0);
  layer.AddField("RATIO", TGIS_FieldKind::Number, 5, 4);
  layer.AddField("WIDE", TGIS_FieldKind::Number, 30, 2);
  layer.AddField("F", TGIS_FieldKind::Float, 7, 3);
  layer.AddField("OK", TGIS_FieldKind::Boolean, 9, 0);
  layer.AddField("DAY", TGIS_FieldKind::Date, 2, 0);
  layer.MakeExportNames(11, false);
  TGIS_Shape* s = testing::AddShape(layer, TGIS_ShapeKind::Point, {{{1, 2}}});
  s->SetField("NAME", TGIS_Variant("road"));
  s->SetField("RATIO", TGIS_Variant(1.25));
  s->SetField("OK", TGIS_Variant(true));
  s->SetField("DAY", TGIS_Variant(EncodeDate(1999, 12, 31)));
  testing::AddShape(layer, TGIS_ShapeKind::Point, {{{3, 4}}});

  ScratchDir dir;
  WriteTable(dir.File("t.dbf"), layer);
  EXPECT_EQ(layer.FieldInfo(0)->NewWidth, 254);
  EXPECT_EQ(layer.FieldInfo(1)->NewDecimal, 3);
  EXPECT_EQ(layer.FieldInfo(2)->NewWidth, 20);
  EXPECT_EQ(layer.FieldInfo(3)->NewWidth, 20);
  EXPECT_EQ(layer.FieldInfo(3)->NewDecimal, 3);
  EXPECT_EQ(layer.FieldInfo(4)->NewWidth, 1);
  EXPECT_EQ(layer.FieldInfo(5)->NewWidth, 8);

  const auto b = ReadBytes(dir.File("t.dbf"));
  const size_t headerLength = 32 + 6 * 32 + 1;
  const size_t recordLength = 1 + 254 + 5 + 20 + 20 + 1 + 8;
  ASSERT_EQ(b.size(), headerLength + 2 * recordLength + 1);
  EXPECT_EQ(b[0], std::byte{3});
  EXPECT_EQ(LoadLE32(&b[4]), 2u);
  EXPECT_EQ(LoadLE16(&b[8]), headerLength);
  EXPECT_EQ(LoadLE16(&b[10]), recordLength);
  EXPECT_EQ(b[32 + 11], std::byte{'C'});
  EXPECT_EQ(b[32 + 16], std::byte{254});
  EXPECT_EQ(b[64 + 17], std::byte{3});
  EXPECT_EQ(b[128 + 11], std::byte{'F'});
  EXPECT_EQ(b[128 + 17], std::byte{5});
  EXPECT_EQ(b[headerLength - 1], std::byte{0x0D});
  EXPECT_EQ(b.back(), std::byte{0x1A});
  const std::string rec(reinterpret_cast<const char*>(&b[headerLength]), recordLength);
  EXPECT_EQ(rec.substr(0, 5), " road");
  EXPECT_EQ(rec.substr(255, 5), "1.250");
  EXPECT_EQ(rec.substr(300, 1), "Y");
  EXPECT_EQ(rec.substr(301, 8), "19991231");

  // Read back.
  TGIS_LayerVector back;
  TGIS_FileDBF reader(dir.File("t.dbf"), false, back);
  ASSERT_EQ(back.FieldsCount(), 6);
  EXPECT_EQ(reader.RecordCount(), 2);
  EXPECT_EQ(reader.ReadValue(1, "NAME", -1), TGIS_Variant("road"));
  EXPECT_EQ(reader.ReadValue(1, "RATIO", -1), TGIS_Variant(1.25));
  EXPECT_EQ(reader.ReadValue(1, {}, 4), TGIS_Variant(true));
  EXPECT_EQ(reader.ReadValue(1, "DAY", -1), TGIS_Variant(EncodeDate(1999, 12, 31)));
  EXPECT_EQ(reader.ReadValue(2, "OK", -1), TGIS_Variant::Null());
  EXPECT_EQ(reader.ReadValue(2, "WIDE", -1), TGIS_Variant(0.0));  // missing counts as 0
  EXPECT_TRUE(reader.ReadValue(3, "NAME", -1).IsUnassigned());
  EXPECT_TRUE(reader.ReadValue(0, "NAME", -1).IsUnassigned());
  EXPECT_TRUE(reader.ReadValue(1, "MISSING", -1).IsUnassigned());
}

TEST(FileDBF, NoFieldsGivesTheDummyColumn) {
  TGIS_LayerVector layer;
  testing::PrepareLayer(layer);
  layer.AddField("X", TGIS_FieldKind::String, 5, 0);
  layer.MakeExportNames(11, false);
  layer.FieldInfo(0)->ExportName = "_DUMMY";  // such a field is never written
  testing::AddShape(layer, TGIS_ShapeKind::Point, {{{1, 2}}});
  ScratchDir dir;
  WriteTable(dir.File("d.dbf"), layer);
  const auto b = ReadBytes(dir.File("d.dbf"));
  ASSERT_EQ(b.size(), 32u + 32 + 1 + 2 + 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[32]), 6), "_DUMMY");
  EXPECT_EQ(LoadLE16(&b[10]), 2u);
  EXPECT_EQ(b[65], std::byte{' '});
  EXPECT_EQ(b[66], std::byte{' '});

  TGIS_LayerVector back;
  TGIS_FileDBF reader(dir.File("d.dbf"), false, back);
  ASSERT_EQ(back.FieldsCount(), 1);
  EXPECT_TRUE(back.FieldInfo(0)->Deleted);
}

TEST(FileDBF, DuplicateColumnNamesAreRenamed) {
  // Two descriptors named LONGFIELDNA, the second with the 11th character
  // dropping off: 11 bytes, no terminating zero.
  std::vector<std::byte> b(32 + 3 * 32 + 1 + 1, std::byte{0});
  b[0] = std::byte{3};
  StoreLE16(&b[8], uint16_t(32 + 3 * 32 + 1));
  StoreLE16(&b[10], 1 + 3 * 4);
  const char* names[] = {"LONGFIELDNA", "LONGFIELDNA", "longfieldna"};
  for (int i = 0; i < 3; ++i) {
    std::memcpy(&b[size_t(32 + 32 * i)], names[i], 11);
    b[size_t(32 + 32 * i + 11)] = std::byte{'C'};
    b[size_t(32 + 32 * i + 16)] = std::byte{4};
  }
  b[32 + 96] = std::byte{0x0D};
  b.back() = std::byte{0x1A};
  TGIS_LayerVector layer;
  TGIS_FileDBF reader(b, "memory.dbf", layer);
  ASSERT_EQ(layer.FieldsCount(), 3);
  EXPECT_EQ(layer.FieldInfo(0)->Name, "LONGFIELDNA");
  EXPECT_EQ(layer.FieldInfo(1)->Name, "LONGFIELD01");
  EXPECT_EQ(layer.FieldInfo(2)->Name, "longfield02");
  EXPECT_EQ(reader.RecordCount(), 0);
}

TEST(FileDBF, DamagedHeadersRaise) {
  TGIS_LayerVector source;
  testing::PrepareLayer(source);
  source.AddField("A", TGIS_FieldKind::String, 4, 0);
  source.AddField("B", TGIS_FieldKind::Number, 6, 0);
  source.MakeExportNames(11, false);
  testing::AddShape(source, TGIS_ShapeKind::Point, {{{1, 2}}});
  ScratchDir dir;
  WriteTable(dir.File("v.dbf"), source);
  const auto valid = ReadBytes(dir.File("v.dbf"));

  struct Case { const char* what; size_t at; int value; };
  const Case cases[] = {
      {"header length beyond the file", 8, 0xFFFF},
      {"header length too short", 8, 10},
      {"record shorter than its columns", 10, 5},
      {"unknown type letter", 32 + 11, 'M'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto broken = valid;
    if (c.at == 8 || c.at == 10)
      StoreLE16(&broken[c.at], uint16_t(c.value));
    else
      broken[c.at] = std::byte(c.value);
    TGIS_LayerVector layer;
    EXPECT_THROW(TGIS_FileDBF(broken, "memory.dbf", layer), EGIS_Exception);
  }
  // A record count larger than the file holds reads the records that are there.
  auto claims = valid;
  StoreLE32(&claims[4], 1000000);
  TGIS_LayerVector layer;
  TGIS_FileDBF reader(claims, "memory.dbf", layer);
  EXPECT_EQ(reader.RecordCount(), 1);
  // Every truncation raises or reads what is there.
  for (size_t n = 0; n < valid.size(); ++n) {
    SCOPED_TRACE(n);
    std::vector<std::byte> part(valid.begin(), valid.begin() + std::ptrdiff_t(n));
    TGIS_LayerVector l;
    try {
      TGIS_FileDBF r(part, "memory.dbf", l);
      for (int32_t rec = 0; rec <= r.RecordCount() + 1; ++rec) r.ReadValue(rec, "B", -1);
    } catch (const EGIS_Exception&) {
    }
  }
}

TEST(FileDBF, FieldListThatDoesNotFitRaises) {
  TGIS_LayerVector layer;
  testing::PrepareLayer(layer);
  for (int i = 0; i < 300; ++i) {
    std::string name = std::to_string(i);
    name.insert(name.begin(), 'F');  // (GCC 12 warns wrongly about "F" + text)
    layer.AddField(name, TGIS_FieldKind::String, 254, 0);
  }
  layer.MakeExportNames(11, false);
  ScratchDir dir;
  TGIS_FileDBF dbf(dir.File("w.dbf"), true, layer);
  dbf.WriteHeader();
  try {
    dbf.WriteFieldDescriptors();
    FAIL() << "no error";
  } catch (const EGIS_Exception& e) {
    EXPECT_EQ(e.ErrorCode(), 1);  // 0011, wrong field
  }
}

}  // namespace
}  // namespace cadport
