#include "app/conversion_run.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/crt.h"
#include "app/interrupt.h"
#include "app/memory_backend.h"
#include "kernel/base/exception.h"

namespace cadport {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class RunConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("cadport_run_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const char* f : {"mixed.dxf", "empty.dxf", "garbage.dxf"}) {
      fs::copy_file(fs::path(CADPORT_TEST_DATA) / "app" / f, dir_ / f);
    }
    auto b = std::make_unique<MemoryBackend>(200, 12, 7, 0, 0);
    mem_ = b.get();
    crt_ = std::make_unique<Crt>(std::move(b));
  }
  void TearDown() override {
    crt_.reset();
    fs::remove_all(dir_);
  }

  TRunState State(const std::string& dxf, const std::string& shp, bool overwrite) {
    TRunState s;
    s.DxfName = (dir_ / dxf).string();
    s.ShpName = (dir_ / shp).string();
    s.Overwrite = overwrite;
    s.Verb = fs::exists(s.ShpName) ? "Overwriting " : "Creating";
    return s;
  }
  std::string Row(int y) const {
    std::string r = mem_->RowText(y);
    r.erase(r.find_last_not_of(' ') + 1);
    return r;
  }
  // An old set whose bytes the test can compare afterwards.
  void WriteOldSet(const std::string& base) {
    for (const char* ext : {".shp", ".shx", ".dbf"}) std::ofstream(dir_ / (base + ext)) << "old " << ext;
  }
  void ExpectOldSet(const std::string& base) {
    for (const char* ext : {".shp", ".shx", ".dbf"}) {
      SCOPED_TRACE(ext);
      EXPECT_EQ(ReadFile(dir_ / (base + ext)), std::string("old ") + ext);
    }
  }
  // No backup or temporary file of the run is left.
  void ExpectNoLeftovers() {
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      EXPECT_EQ(name.find('~'), std::string::npos) << name;
    }
  }

  fs::path dir_;
  MemoryBackend* mem_ = nullptr;
  std::unique_ptr<Crt> crt_;
};

TEST_F(RunConversionTest, WritesTheSetShowsDoneAndCountsSkippedShapes) {
  const TRunState s = State("mixed.dxf", "mixed.shp", false);
  EXPECT_TRUE(RunConversion(s, *crt_));
  EXPECT_EQ(Row(0), "Creating  »»  " + (dir_ / "mixed.shp").string());
  EXPECT_EQ(Row(1), "Done");
  EXPECT_EQ(Row(2), "Skipped 2 points (a shapefile holds one kind)");
  EXPECT_EQ(mem_->Cell(0, 2).Attribute, 7);  // start-up colours, not those of "Done"
  EXPECT_EQ(crt_->CursorRow(), 4);
  for (const char* ext : {".shp", ".shx", ".dbf"}) EXPECT_TRUE(fs::exists(dir_ / (std::string("mixed") + ext)));
  EXPECT_EQ(fs::file_size(dir_ / "mixed.shp"), 100u + 2 * (8 + 4 + 32 + 4 + 4 + 4 + 32));
  ExpectNoLeftovers();
}

TEST_F(RunConversionTest, OverwriteReplacesTheSetAndRemovesTheBackups) {
  WriteOldSet("b");
  const TRunState s = State("mixed.dxf", "b.shp", true);
  EXPECT_EQ(s.Verb, "Overwriting ");
  EXPECT_TRUE(RunConversion(s, *crt_));
  EXPECT_EQ(Row(0).substr(0, 18), "Overwriting   »»");
  EXPECT_NE(ReadFile(dir_ / "b.shp"), "old .shp");
  EXPECT_NE(ReadFile(dir_ / "b.dbf"), "old .dbf");
  ExpectNoLeftovers();
}

TEST_F(RunConversionTest, UnreadableDrawingLeavesTheOldSetAndEndsWithFailed) {
  WriteOldSet("g");
  const TRunState s = State("garbage.dxf", "g.shp", true);
  EXPECT_THROW(RunConversion(s, *crt_), EGIS_Exception);
  EXPECT_EQ(Row(1), "Failed");
  EXPECT_EQ(Row(2), "Error while converting");
  EXPECT_EQ(mem_->Cell(0, 2).Attribute, 0x61);
  ExpectOldSet("g");
  ExpectNoLeftovers();
}

TEST_F(RunConversionTest, DrawingWithoutShapesWritesNothing) {
  WriteOldSet("e");
  for (bool existing : {false, true}) {
    SCOPED_TRACE(existing);
    auto b = std::make_unique<MemoryBackend>(200, 12, 7, 0, 0);
    mem_ = b.get();
    crt_ = std::make_unique<Crt>(std::move(b));
    const TRunState s = State("empty.dxf", existing ? "e.shp" : "new.shp", existing);
    EXPECT_FALSE(RunConversion(s, *crt_));
    EXPECT_FALSE(fs::exists(dir_ / "new.shp"));
    EXPECT_FALSE(fs::exists(dir_ / "new.dbf"));
    EXPECT_EQ(Row(1), "Failed");
    EXPECT_EQ(Row(2), "Nothing to convert");
  }
  ExpectOldSet("e");
  ExpectNoLeftovers();
}

TEST_F(RunConversionTest, InterruptEndsTheRunThroughTheErrorPath) {
  WriteOldSet("i");
  InstallInterruptHandlers();
  std::raise(SIGTERM);  // only sets the flag
  const TRunState s = State("mixed.dxf", "i.shp", true);
  try {
    RunConversion(s, *crt_);
    ADD_FAILURE() << "no interrupt";
  } catch (const TInterrupted& e) {
    EXPECT_EQ(e.Signal(), SIGTERM);
  }
  ClearInterrupt();
  EXPECT_EQ(Row(1), "Failed");
  ExpectOldSet("i");
  ExpectNoLeftovers();
}

TEST_F(RunConversionTest, WriteFailureLeavesTheOldSetAndNoTemporaryFile) {
  // 300 lines give a main file of about 26 KB; allow files of 4 KB only.
  {
    std::ofstream out(dir_ / "lines.dxf");
    out << "0\nSECTION\n2\nENTITIES\n";
    for (int i = 0; i < 300; ++i) {
      out << "0\nLINE\n8\n0\n10\n" << i << "\n20\n0\n11\n" << i << "\n21\n1\n";
    }
    out << "0\nENDSEC\n0\nEOF\n";
  }
  WriteOldSet("w");
  InstallInterruptHandlers();  // SIGXFSZ ignored: the write fails instead
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const TRunState s = State("lines.dxf", "w.shp", true);
  bool threw = false;
  try {
    RunConversion(s, *crt_);
  } catch (...) {
    threw = true;
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_TRUE(threw);
  EXPECT_EQ(Row(2), "Error while converting");
  ExpectOldSet("w");
  ExpectNoLeftovers();
}

TEST(SkippedLine, NamesEachKindWithItsCount) {
  EXPECT_EQ(SkippedLine(0, 0, 0, 0), "");
  EXPECT_EQ(SkippedLine(12, 0, 0, 3), "Skipped 12 points, 3 polygons (a shapefile holds one kind)");
  EXPECT_EQ(SkippedLine(1, 1, 1, 1),
            "Skipped 1 point, 1 multipoint, 1 polyline, 1 polygon (a shapefile holds one kind)");
}

}  // namespace
}  // namespace cadport
