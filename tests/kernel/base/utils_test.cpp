#include "kernel/base/utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include "kernel/base/exception.h"

namespace cadport {
namespace {

namespace fs = std::filesystem;

TEST(FileNames, TempAndBackup) {
  EXPECT_EQ(TempName("C:\\data\\roads.shp"), "C:\\data\\roads.shp~tmp");
  EXPECT_EQ(BackupName("C:\\data\\roads.shp"), "C:\\data\\roads.shp~");
  EXPECT_EQ(TempName("/data/roads.shp"), "/data/roads.shp~tmp");
  EXPECT_EQ(BackupName(""), "~");
}

TEST(FileNames, RemoveExtension) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"C:\\my.dir\\file", "C:\\my.dir\\file"},
      {"/my.dir/file", "/my.dir/file"},
      {"  a.b.c  ", "a.b"},
      {"/data/roads.shp", "/data/roads"},
      {"/data\\roads.shp", "/data\\roads"},
      {"roads", "roads"},
      {"roads.", "roads"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(RemoveExtension(c.in), c.out) << c.in;
}

TEST(FileNames, BaseName) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"/data/x/Roads.DXF", "Roads"},
      {"C:\\data\\x\\Roads.DXF", "Roads"},
      {"C:Roads.dxf", "Roads"},
      {" plain.tar.gz ", "plain.tar"},
      {"noext", "noext"},
      {"/data/dir.v2/noext", "noext"},
      {"/data/", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(BaseName(c.in), c.out) << c.in;
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("cadport_base_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "sub");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

TEST_F(TempDir, ExpandPath) {
  const fs::path cwd = fs::current_path();
  EXPECT_EQ(ExpandPath("", ""), "");
  EXPECT_EQ(ExpandPath(dir_.string(), ""), "");
  EXPECT_EQ(ExpandPath("", "http://host/a/../b"), "http://host/a/../b");
  EXPECT_EQ(ExpandPath(dir_.string(), "x://y"), "x://y");
  EXPECT_EQ(ExpandPath("", "/a/b/../c/./d.shp"), "/a/c/d.shp");
  EXPECT_EQ(ExpandPath(dir_.string(), "/abs/x.shp"), "/abs/x.shp");
  EXPECT_EQ(ExpandPath(dir_.string(), "sub/../x.shp"), (dir_ / "x.shp").string());
  EXPECT_EQ(ExpandPath((dir_ / "sub").string(), "../y.dxf"), (dir_ / "y.dxf").string());
  // A base that is no existing directory falls back to the current one.
  EXPECT_EQ(ExpandPath((dir_ / "missing").string(), "z.shp"), (cwd / "z.shp").string());
  EXPECT_EQ(ExpandPath("", "z.shp"), (cwd / "z.shp").string());
  // The current directory is never changed.
  EXPECT_EQ(fs::current_path(), cwd);
}

TEST(FileNames, RelativePath) {
  struct Case {
    const char* base;
    const char* target;
    const char* out;
  } cases[] = {
      {"/a/b/project.ini", "/a/b/roads.shp", "roads.shp"},
      {"/a/b/project.ini", "/a/b/sub/roads.shp", "sub/roads.shp"},
      {"/a/b/project.ini", "/a/c/roads.shp", "../c/roads.shp"},
      {"/a/b/c/project.ini", "/a/x/y/roads.shp", "../../x/y/roads.shp"},
      {"/a/bc/project.ini", "/a/b", "../b"},
      {"/A/B/project.ini", "/a/b/roads.shp", "roads.shp"},  // prefix compared ignoring case
      {"/a/b/p.ini", "/a/b/../b/q.shp", "q.shp"},           // both expanded first
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RelativePath(c.base, c.target), c.out) << c.base << " -> " << c.target;
  }
}

TEST(Text, TrimAndCase) {
  EXPECT_EQ(TrimText(" \t\r\n a b \x01"), "a b");
  EXPECT_EQ(TrimLeftText("  a "), "a ");
  EXPECT_EQ(TrimRightText("  a "), "  a");
  EXPECT_EQ(TrimText("   "), "");
  EXPECT_EQ(AsciiUpperText("abz\xe9Q"), "ABZ\xe9Q");  // bytes above ASCII untouched
  EXPECT_EQ(AsciiLowerText("ABZ\xc9q"), "abz\xc9q");
  EXPECT_TRUE(SameTextNoCase("Layer_1", "LAYER_1"));
  EXPECT_FALSE(SameTextNoCase("Layer", "Layers"));
  EXPECT_FALSE(SameTextNoCase("\xe9", "\xc9"));
  EXPECT_LT(CompareTextNoCase("abc", "ABD"), 0);
  EXPECT_GT(CompareTextNoCase("b", "A"), 0);
  EXPECT_EQ(CompareTextNoCase("abc", "ABC"), 0);
  EXPECT_LT(CompareTextNoCase("ab", "abc"), 0);
}

// --- numbers ---------------------------------------------------------------------

class Numbers : public ::testing::Test {
 protected:
  void SetUp() override { SetRememberedDecimalSeparator('.'); }
  void TearDown() override { SetRememberedDecimalSeparator('.'); }
};

TEST_F(Numbers, TextToFloatAccepts) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"3,5", 3.5},
      {"3.5", 3.5},
      {"1e3", 1000},
      {"1E+3", 1000},
      {"-2.5e-3", -0.0025},
      {"+7", 7},
      {"  12.25  ", 12.25},
      {"\t-0,125\r", -0.125},
      {".5", 0.5},
      {"5.", 5},
      {",5", 0.5},
      {"0", 0},
      {"-0", -0.0},
      {"1e-400", 0},                  // too small for a double: zero
      {"0.1", 0.1},
      {"123456789012345678", 123456789012345678.0},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
  };
  for (const Case& c : cases) {
    double v = -99;
    EXPECT_TRUE(TryTextToFloat(c.text, v)) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(TextToFloat(c.text), c.value) << c.text;
  }
  EXPECT_TRUE(std::signbit(TextToFloat("-0")));
}

TEST_F(Numbers, TextToFloatRejects) {
  const char* bad[] = {"",     "   ",   "abc",  "1,2,3", "1.2.3", "1.000,5", "1e",   "1e+",
                       "e5",   "--1",   "+-1",  "- 1",   "1 2",   "inf",     "nan",  "0x10",
                       "1e999", "-1e400000", "12a", ".",    ",",     "1,5e",    "+",    "1d5"};
  for (const char* t : bad) {
    double v = 42;
    EXPECT_FALSE(TryTextToFloat(t, v)) << t;
    EXPECT_EQ(v, 42) << t;
    try {
      TextToFloat(t);
      ADD_FAILURE() << "no error for " << t;
    } catch (const EGIS_ConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(t) + "' is not a valid floating point value");
      EXPECT_EQ(e.Name(), t);
    }
  }
}

TEST_F(Numbers, LongTextsConvert) {
  std::string longText = "0." + std::string(300, '0') + "15";
  EXPECT_EQ(TextToFloat(longText), 1.5e-301);
  std::replace(longText.begin(), longText.end(), '.', ',');
  EXPECT_EQ(TextToFloat(longText), 1.5e-301);
}

TEST_F(Numbers, SeparatorIsRemembered) {
  EXPECT_EQ(RememberedDecimalSeparator(), '.');
  EXPECT_EQ(TextToFloat("3,5"), 3.5);
  EXPECT_EQ(RememberedDecimalSeparator(), ',');  // tried first from now on
  EXPECT_EQ(TextToFloat("4,25"), 4.25);
  EXPECT_EQ(RememberedDecimalSeparator(), ',');
  EXPECT_EQ(TextToFloat("12"), 12);              // works with either
  EXPECT_EQ(RememberedDecimalSeparator(), ',');
  EXPECT_EQ(TextToFloat("1.5"), 1.5);
  EXPECT_EQ(RememberedDecimalSeparator(), '.');
  // A failure leaves the separator tried last.
  double v = 0;
  EXPECT_FALSE(TryTextToFloat("x", v));
  EXPECT_EQ(RememberedDecimalSeparator(), ',');
  EXPECT_FALSE(TryTextToFloat("y", v));
  EXPECT_EQ(RememberedDecimalSeparator(), '.');
}

TEST_F(Numbers, FloatToDotText) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {1, "1"},
      {-1.5, "-1.5"},
      {0.1, "0.1"},
      {3.14159, "3.14159"},
      {1234567.875, "1234567.875"},
      {100, "100"},
      {123456789012345, "123456789012345"},
      {1e15, "1E15"},
      {1.5e20, "1.5E20"},
      {0.00001, "0.00001"},
      {0.000012, "0.000012"},
      {1e-6, "1E-6"},
      {-2.5e-7, "-2.5E-7"},
      {1.0 / 3, "0.333333333333333"},                   // 15 significant digits
      {2.0 / 3, "0.666666666666667"},
      {0.1 + 0.2, "0.3"},                               // rounded to 15 digits
      {123456.7890123456789, "123456.789012346"},
      {9.9999999999999999e14, "1E15"},                  // rounding carries into the exponent
      {std::numeric_limits<double>::max(), "1.79769313486232E308"},
      {std::numeric_limits<double>::denorm_min(), "5E-324"},
      {-1.2345678901234567e-300, "-1.23456789012346E-300"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToDotText(c.value), c.text) << c.text;
    char buf[kFloatTextSize];
    const std::size_t n = FloatToDotChars(c.value, buf);
    EXPECT_EQ(n, std::strlen(c.text));
    EXPECT_STREQ(buf, c.text);
  }
}

TEST_F(Numbers, FloatTextRoundTrips) {
  // Values of at most 15 significant digits read back exactly.
  const double values[] = {0.1,        -273.15,   6378137.0, 1e-5,        1e-300,
                           512345.678, 1.25e100,  -9.5e-10,  450359962737049.0, 42};
  for (const double v : values) {
    const std::string t = FloatToDotText(v);
    EXPECT_EQ(TextToFloat(t), v) << t;
  }
  // Every text fits the fixed buffer.
  EXPECT_LE(FloatToDotText(-1.2345678901234567e-300).size(), kFloatTextSize - 1);
  EXPECT_LE(FloatToDotText(-0.000012345678901234567).size(), kFloatTextSize - 1);
}

TEST_F(Numbers, Integers) {
  struct Case {
    const char* text;
    bool ok;
    std::int64_t value;
  } cases[] = {
      {"42", true, 42},       {"  -7 ", true, -7},     {"+5", true, 5},
      {"0", true, 0},         {"", false, 0},          {" ", false, 0},
      {"1.0", false, 0},      {"12a", false, 0},       {"+-1", false, 0},
      {"2147483647", true, 2147483647},                {"-2147483648", true, -2147483648LL},
      {"2147483648", true, 2147483648LL},              // int64 only
      {"9223372036854775808", false, 0},
  };
  for (const Case& c : cases) {
    std::int64_t v64 = 0;
    EXPECT_EQ(TryTextToInt(c.text, v64), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v64, c.value) << c.text;
    }
    std::int32_t v32 = 0;
    const bool fits = c.ok && c.value >= INT32_MIN && c.value <= INT32_MAX;
    EXPECT_EQ(TryTextToInt(c.text, v32), fits) << c.text;
    if (fits) {
      EXPECT_EQ(v32, c.value);
      EXPECT_EQ(TextToInt(c.text), c.value);
    } else {
      EXPECT_THROW(TextToInt(c.text), EGIS_ConvertError) << c.text;
    }
  }
  try {
    TextToInt64("x1");
    ADD_FAILURE();
  } catch (const EGIS_Exception& e) {
    EXPECT_STREQ(e.what(), "'x1' is not a valid integer value");
  }
}

// --- platform and colours ------------------------------------------------------------

TEST(Platform, OSErrorText) {
  errno = ENOENT;
  const std::string t = LastOSErrorText();
  EXPECT_EQ(t, std::string(std::strerror(ENOENT)) + " (errno " + std::to_string(ENOENT) + ")");
  EXPECT_NE(OSErrorText(123456).find("(errno 123456)"), std::string::npos);
}

TEST(Platform, TickCountIsMonotonicMilliseconds) {
  const std::uint32_t a = TickCount();
  const std::uint32_t b = TickCount();
  EXPECT_LE(a, 2147483646u);
  EXPECT_GE(b, a);
}

TEST(Colours, MakeRGBAndNonZero) {
  EXPECT_EQ(MakeRGB(1, 2, 3), 0x030201u);
  EXPECT_EQ(MakeRGB(255, 255, 255), 0xFFFFFFu);
  EXPECT_EQ(MakeRGB(256, 257, -1), 0xFF0100u);  // each modulo 256
  EXPECT_EQ(NonZeroColor(0), 0x010101u);
  EXPECT_EQ(NonZeroColor(0x123456), 0x123456u);
}

}  // namespace
}  // namespace cadport
