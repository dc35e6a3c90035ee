// Coordinate values in every written form: blanks, signs, exponents, a
// decimal comma, and the values that are refused.
#include "kernel/dxf/layer_dxf.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <charconv>
#include <random>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/base/utils.h"

namespace cadport {
namespace {

namespace fs = std::filesystem;

class LayerDxfNumbers : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRememberedDecimalSeparator('.');
    dir_ = fs::temp_directory_path() /
           ("cadport_dxfnum_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    SetRememberedDecimalSeparator('.');
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // One POINT per (x, y) text pair.
  std::string Path(const std::vector<std::pair<std::string, std::string>>& points) {
    std::string text = "  0\nSECTION\n  2\nENTITIES\n";
    for (const auto& [x, y] : points) {
      text += "  0\nPOINT\n  8\n0\n 10\n" + x + "\n 20\n" + y + "\n";
    }
    text += "  0\nENDSEC\n  0\nEOF\n";
    const fs::path p = dir_ / "numbers.dxf";
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  fs::path dir_;
};

TEST_F(LayerDxfNumbers, WrittenFormsGiveTheirValues) {
  struct Case {
    const char* x;
    const char* y;
    double ex;
    double ey;
  };
  const Case cases[] = {
      {"512308.125", "-5403108.5", 512308.125, -5403108.5},
      {"  1.5", "2.25  ", 1.5, 2.25},
      {"+2.5", "+7", 2.5, 7},
      {".5", "5.", 0.5, 5},
      {"-.25", "-0", -0.25, -0.0},
      {"1e3", "1.5E-2", 1000, 0.015},
      {"1.e2", "2E+1", 100, 20},
      {"1e-400", "-1e-400", 0, -0.0},
      {"0.1", "123456789012345678901234567890", 0.1, 123456789012345678901234567890.0},
      // A decimal comma is taken, and a dot after it again.
      {"1,5", "2.5", 1.5, 2.5},
      {"3,75", "-0,125", 3.75, -0.125},
      {"4.5", "1e1", 4.5, 10},
  };
  std::vector<std::pair<std::string, std::string>> points;
  for (const Case& c : cases) points.emplace_back(c.x, c.y);
  TGIS_LayerDXF layer;
  layer.SetPath(Path(points));
  layer.Open();
  ASSERT_EQ(layer.Shapes().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const TGIS_Coord p = layer.Shapes()[i]->GetPoint(0, 0);
    EXPECT_EQ(p.X, cases[i].ex) << cases[i].x;
    EXPECT_EQ(p.Y, cases[i].ey) << cases[i].y;
  }
  EXPECT_EQ(RememberedDecimalSeparator(), '.');
}

TEST_F(LayerDxfNumbers, RandomDecimalsMatchFromChars) {
  // Mantissas of every length, long fractions, exponents: each coordinate
  // must be the correctly rounded value from_chars gives for its text.
  std::mt19937_64 rng(8);
  auto digits = [&](int n) {
    std::string d;
    for (int k = 0; k < n; ++k) d += static_cast<char>('0' + rng() % 10);
    return d;
  };
  std::vector<std::pair<std::string, std::string>> points;
  std::vector<double> expected;
  while (points.size() < 3000) {
    std::string text = rng() % 3 == 0 ? "-" : "";
    const std::string whole = digits(static_cast<int>(rng() % 21));
    const std::string fraction = digits(static_cast<int>(rng() % 27));
    if (whole.empty() && fraction.empty()) continue;
    text += whole;
    if (!fraction.empty() || rng() % 4 == 0) text += "." + fraction;
    if (rng() % 8 == 0) text += "e" + std::to_string(static_cast<int>(rng() % 40) - 20);
    double value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    ASSERT_EQ(res.ec, std::errc()) << text;
    ASSERT_EQ(res.ptr, text.data() + text.size()) << text;
    points.emplace_back(text, "0");
    expected.push_back(value);
  }
  TGIS_LayerDXF layer;
  layer.SetPath(Path(points));
  layer.Open();
  ASSERT_EQ(layer.Shapes().size(), points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(layer.Shapes()[i]->GetPoint(0, 0).X, expected[i]) << points[i].first;
  }
}

TEST_F(LayerDxfNumbers, NonNumbersAndOverflowAreRefused) {
  const char* bad[] = {"inf", "-inf", "nan", "1e400", "-1e400", "0x10", "1.5.2", "+", "-",
                       "1e", "1,5,2", "", "  ", "1 2", "++1", "--1"};
  for (const char* value : bad) {
    TGIS_LayerDXF layer;
    layer.SetPath(Path({{"1", value}}));
    try {
      layer.Open();
      ADD_FAILURE() << "opened with '" << value << "'";
    } catch (const EGIS_Exception& e) {
      EXPECT_NE(std::string(e.what()).find("0090 File structure error"), std::string::npos)
          << value << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace cadport
