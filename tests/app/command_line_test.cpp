#include "app/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/crt.h"
#include "app/memory_backend.h"
#include "app/program.h"
#include "kernel/base/exception.h"
#include "kernel/shapefile/mapped_stream.h"

namespace cadport {
namespace {

namespace fs = std::filesystem;

struct Screen {
  Screen() {
    auto b = std::make_unique<MemoryBackend>(200, 30, 7, 0, 0);
    mem = b.get();
    crt = std::make_unique<Crt>(std::move(b));
  }
  // All rows as text, trailing blanks trimmed, joined by '\n'.
  std::string Text() const {
    std::string all;
    for (int y = 0; y < 30; ++y) {
      std::string row = mem->RowText(y);
      row.erase(row.find_last_not_of(' ') + 1);
      all += row + "\n";
    }
    all.erase(all.find_last_not_of('\n') + 1);
    return all;
  }
  MemoryBackend* mem;
  std::unique_ptr<Crt> crt;
};

class ParseArgumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("cadport_cl_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string P(const std::string& name) const { return (dir_ / name).string(); }
  void Touch(const std::string& name) const { std::ofstream(P(name)) << "x"; }

  bool Parse(std::vector<std::string> args) {
    std::vector<std::string_view> views(args.begin(), args.end());
    return ParseArguments(views, state_, *screen_.crt);
  }

  fs::path dir_;
  Screen screen_;
  TRunState state_;
};

TEST_F(ParseArgumentsTest, NamesAreDerivedFromTheArguments) {
  Touch("a.dxf");
  Touch("a.txt.dxf");
  Touch("c.DXF");
  struct Case {
    std::vector<std::string> args;
    std::string dxf, shp, verb;
    bool overwrite;
  };
  const Case cases[] = {
      {{P("a")}, P("a.dxf"), P("a.shp"), "Creating", false},
      {{P("a.dxf"), P("b"), P("c")}, P("a.dxf"), P("c.shp"), "Creating", false},
      {{"-o", P("a.txt")}, P("a.txt.dxf"), P("a.txt.shp"), "Creating", true},
      {{"-O", P("a"), P("out.SHP")}, P("a.dxf"), P("out.SHP"), "Creating", true},
      {{P("c.DXF"), P("d.shp.x")}, P("c.DXF"), P("d.shp.x.shp"), "Creating", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    state_ = TRunState{};
    ASSERT_TRUE(Parse(c.args));
    EXPECT_EQ(state_.DxfName, c.dxf);
    EXPECT_EQ(state_.ShpName, c.shp);
    EXPECT_EQ(state_.Verb, c.verb);
    EXPECT_EQ(state_.Overwrite, c.overwrite);
    EXPECT_EQ(state_.ExitStatus, 0);
  }
}

TEST_F(ParseArgumentsTest, OverwriteNeedsTheSwitchInFirstPlace) {
  Touch("a.dxf");
  Touch("b.shp");
  EXPECT_TRUE(Parse({"-O", P("a"), P("b")}));
  EXPECT_EQ(state_.Verb, "Overwriting ");
  state_ = TRunState{};
  EXPECT_FALSE(Parse({P("a"), P("b")}));
  EXPECT_EQ(state_.ExitStatus, 2);
  EXPECT_NE(screen_.Text().find("Can't overwrite: " + P("b.shp")), std::string::npos);
  state_ = TRunState{};
  EXPECT_FALSE(Parse({P("a"), "-o", P("b")}));  // the switch only counts first
}

TEST_F(ParseArgumentsTest, StrayIndexOrTableIsNotOverwrittenWithoutTheSwitch) {
  Touch("a.dxf");
  for (const std::string other : {"a.shx", "a.dbf"}) {
    SCOPED_TRACE(other);
    Touch(other);
    state_ = TRunState{};
    EXPECT_FALSE(Parse({P("a")}));
    EXPECT_EQ(state_.ExitStatus, 2);
    EXPECT_NE(screen_.Text().find("Can't overwrite: " + P(other)), std::string::npos);
    state_ = TRunState{};
    EXPECT_TRUE(Parse({"-o", P("a")}));
    EXPECT_EQ(state_.Verb, "Creating");
    fs::remove(P(other));
  }
}

TEST_F(ParseArgumentsTest, MissingInputFoldersAndFifosAreNotFound) {
  fs::create_directories(P("dir.dxf"));
  // A FIFO would block the reader for good.
  ASSERT_EQ(::mkfifo(P("pipe.dxf").c_str(), 0600), 0);
  for (const std::string name : {"none", "dir", "pipe"}) {
    SCOPED_TRACE(name);
    state_ = TRunState{};
    EXPECT_FALSE(Parse({P(name)}));
    EXPECT_EQ(state_.ExitStatus, 2);
    EXPECT_NE(screen_.Text().find("File not found: " + P(name + ".dxf")), std::string::npos);
  }
}

TEST_F(ParseArgumentsTest, WrongArgumentCountShowsUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"-o"}, {"-O"}, {"a", "b", "c", "d"}}) {
    SCOPED_TRACE(args.size());
    Screen screen;
    state_ = TRunState{};
    std::vector<std::string_view> views(args.begin(), args.end());
    EXPECT_FALSE(ParseArguments(views, state_, *screen.crt));
    EXPECT_EQ(state_.ExitStatus, 2);
    EXPECT_EQ(screen.Text(),
              "\nUsage:\n    cadport [-o]  <dxffile> [shapefile]\n\n"
              "        -o        Overwrite dxf file\n"
              "        dxffile   Dxf file to convert from\n"
              "        shapefile Shape file to create");
    EXPECT_EQ(screen.mem->Cell(0, 1).Attribute, 0x02);
  }
  for (const std::string help : {"-h", "--help"}) {
    Screen screen;
    std::string_view arg = help;
    EXPECT_FALSE(ParseArguments({&arg, 1}, state_, *screen.crt));
    EXPECT_EQ(state_.ExitStatus, 0);
    EXPECT_NE(screen.Text().find("Usage:"), std::string::npos);
  }
}

TEST(FrontEnd, BannerLinesAre61CharactersInGreenAndCyan) {
  auto b = std::make_unique<MemoryBackend>(80, 10, 0x17, 0, 0);  // a blue console
  MemoryBackend* mem = b.get();
  Crt blue(std::move(b));
  ShowBanner(blue);
  EXPECT_EQ(mem->RowText(0), std::string(80, ' '));
  EXPECT_EQ(mem->RowText(1).substr(0, 62),
            "               DXF to SHP converter v1.0                      ");
  for (int y = 1; y <= 3; ++y) {
    SCOPED_TRACE(y);
    const std::string row = mem->RowText(y);
    EXPECT_EQ(row.substr(0, 15), std::string(15, ' '));
    EXPECT_NE(row[15], ' ');
    // Exactly 61 cells were written on the line.
    const auto writes = mem->Writes();
    std::size_t cells = 0;
    for (const auto& w : writes) {
      if (w.Y == y) cells += w.Glyphs.size();
    }
    EXPECT_EQ(cells, 61u);
    EXPECT_EQ(mem->Cell(0, y).Attribute, y < 3 ? 0x12 : 0x13);  // background kept
  }
  EXPECT_EQ(blue.TextAttribute(), 0x17);
}

TEST(FrontEnd, ErrorLineIsBlueOnBrownOnALineOfItsOwn) {
  for (std::uint8_t start : {0x07, 0xF0}) {
    auto b = std::make_unique<MemoryBackend>(40, 6, start, 0, 0);
    MemoryBackend* mem = b.get();
    Crt crt(std::move(b));
    crt.Write("progress");
    ShowError(crt, "Error while converting");
    EXPECT_EQ(mem->RowText(1).substr(0, 23), "Error while converting ");
    EXPECT_EQ(mem->Cell(0, 1).Attribute, 0x61);
    EXPECT_EQ(mem->Cell(22, 1).Attribute, start);
    EXPECT_EQ(crt.CursorRow(), 3);
    EXPECT_EQ(crt.CursorColumn(), 1);
    EXPECT_EQ(crt.TextAttribute(), start);
  }
}

TEST(FrontEnd, ErrorReportNamesTheClassAndEndsTheMessageWithAFullStop) {
  const std::string kernel =
      ErrorReport(std::make_exception_ptr(EGIS_Exception(GIS_RS_ERR_FILEWRITE, "/t/a.shp", 28)),
                  "cadport");
  EXPECT_EQ(kernel,
            "Exception EGIS_Exception in module cadport at 00000000.\n"
            "0032 Error during writing file \"/t/a.shp\" (code 28).\n\n");
  const std::string other =
      ErrorReport(std::make_exception_ptr(std::runtime_error("bad thing.")), "cadport");
  EXPECT_EQ(other,
            "Exception std::runtime_error in module cadport at 00000000.\nbad thing.\n\n");
  // The program's own classes without their namespace.
  const std::string open =
      ErrorReport(std::make_exception_ptr(EFOpenError("cannot open", "/t/a.dxf", 0)), "cadport");
  EXPECT_EQ(open.substr(0, open.find('\n')), "Exception EFOpenError in module cadport at 00000000.");
}

}  // namespace
}  // namespace cadport
