#include "kernel/shapefile/mapped_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/shapefile/binary_io.h"

namespace cadport {
namespace {

namespace fs = std::filesystem;

class MappedStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("cadport_mapped_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string MakeFile(const std::string& name, const std::string& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  fs::path dir_;
};

TEST_F(MappedStreamTest, TwoReadersShareOneView) {
  const std::string path = MakeFile("a.bin", "0123456789");
  const std::size_t before = TGIS_MappedStream::SharedViewCount();
  {
    TGIS_MappedStream first(path, false);
    EXPECT_EQ(first.ViewRefCount(), 1);
    {
      TGIS_MappedStream second(path, false);
      EXPECT_EQ(first.ViewRefCount(), 2);
      EXPECT_EQ(first.Memory(), second.Memory());
      EXPECT_EQ(TGIS_MappedStream::SharedViewCount(), before + 1);
    }
    EXPECT_EQ(first.ViewRefCount(), 1);
    char c = 0;
    first.Seek(9, TGIS_SeekOrigin::FromBeginning);
    first.Read(&c, 1);
    EXPECT_EQ(c, '9');
  }
  EXPECT_EQ(TGIS_MappedStream::SharedViewCount(), before);
}

TEST_F(MappedStreamTest, ViewsAreSharedByFileIdentityNotPathText) {
  const std::string path = MakeFile("same.bin", "shared");
  const std::string other = (dir_ / "." / "same.bin").string();
  fs::create_hard_link(path, dir_ / "link.bin");
  TGIS_MappedStream a(path, false);
  TGIS_MappedStream b(other, false);
  TGIS_MappedStream c((dir_ / "link.bin").string(), false);
  EXPECT_EQ(a.ViewRefCount(), 3);
  EXPECT_EQ(a.Memory(), b.Memory());
  EXPECT_EQ(a.Memory(), c.Memory());
  EXPECT_EQ(b.Path(), other);
}

TEST_F(MappedStreamTest, ReplacedFileGetsFreshMapping) {
  const std::string path = MakeFile("r.bin", "old!");
  TGIS_MappedStream oldStream(path, false);
  // Replace the file by a new one under the same name (new inode).
  const std::string other = MakeFile("r2.bin", "brand new");
  fs::rename(other, path);
  TGIS_MappedStream newStream(path, false);
  EXPECT_EQ(newStream.Size(), 9);
  EXPECT_NE(oldStream.Memory(), newStream.Memory());
  EXPECT_EQ(std::string(newStream.Memory(), 9), "brand new");
  EXPECT_EQ(std::string(oldStream.Memory(), 4), "old!");
}

TEST_F(MappedStreamTest, ReadBoundaries) {
  const std::string path = MakeFile("b.bin", "abcdefgh");
  TGIS_MappedStream s(path, false);
  std::array<char, 4> buf{};
  s.Seek(s.Size() - 4, TGIS_SeekOrigin::FromBeginning);
  EXPECT_EQ(s.Read(buf.data(), 4), 4);
  EXPECT_EQ(std::string(buf.data(), 4), "efgh");
  EXPECT_EQ(s.Position(), 8);

  // At the end even a zero-byte read raises, and nothing moves.
  EXPECT_THROW(s.Read(buf.data(), 0), EGIS_Exception);
  s.Seek(s.Size() - 3, TGIS_SeekOrigin::FromBeginning);
  try {
    s.Read(buf.data(), 4);
    FAIL() << "read past the end succeeded";
  } catch (const EGIS_Exception& e) {
    EXPECT_NE(std::string(e.what()).find("0034"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
  }
  EXPECT_EQ(s.Position(), 5);
  s.Seek(-1, TGIS_SeekOrigin::FromBeginning);
  EXPECT_THROW(s.Read(buf.data(), 1), EGIS_Exception);
  s.Seek(0, TGIS_SeekOrigin::FromBeginning);
  EXPECT_THROW(s.Read(buf.data(), -1), EGIS_Exception);
}

TEST_F(MappedStreamTest, SeekOrigins) {
  const std::string path = MakeFile("s.bin", "0123456789");
  TGIS_MappedStream s(path, false);
  EXPECT_EQ(s.Seek(4, TGIS_SeekOrigin::FromBeginning), 4);
  EXPECT_EQ(s.Seek(3, TGIS_SeekOrigin::FromCurrent), 7);
  EXPECT_EQ(s.Seek(2, TGIS_SeekOrigin::FromEnd), 8);  // Size - offset
  EXPECT_EQ(s.Seek(20, TGIS_SeekOrigin::FromBeginning), 20);  // not validated here
}

TEST_F(MappedStreamTest, OpenFailuresCarryStageCodes) {
  struct Case {
    std::string path;
    int32_t code;
  };
  const std::string empty = MakeFile("empty.bin", "");
  const std::vector<Case> cases = {
      {(dir_ / "missing.bin").string(), TGIS_MappedStream::kStageOpen},
      {empty, TGIS_MappedStream::kStageMapping},
      {dir_.string(), TGIS_MappedStream::kStageSize},
  };
  const std::size_t before = TGIS_MappedStream::SharedViewCount();
  for (const Case& c : cases) {
    try {
      TGIS_MappedStream s(c.path, false);
      ADD_FAILURE() << c.path << " opened";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Code(), c.code) << c.path;
      const std::string msg = e.what();
      const std::string expectedHead =
          "0030 Error during mapping file \"" + c.path + "\" (code " + std::to_string(c.code) + "), ";
      EXPECT_EQ(msg.substr(0, expectedHead.size()), expectedHead) << msg;
      EXPECT_NE(msg.find("(errno "), std::string::npos) << msg;
    }
  }
  EXPECT_EQ(TGIS_MappedStream::SharedViewCount(), before);
}

TEST_F(MappedStreamTest, ReadLineTerminators) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {std::string("A\r\nB"), {"A", "B"}},
      {std::string("A\n\rB"), {"A", "", "B"}},
      {std::string("A\rB\n"), {"A", "B"}},
      {std::string("A\0B", 3), {"A", "B"}},
      {std::string("A\x1A" "B"), {"A", "B"}},
      {std::string("A\r\n\0\x1A" "B", 6), {"A", "B"}},
      {std::string("A\n\x1A"), {"A"}},
      {std::string("  0\r\nSECTION \r\n"), {"  0", "SECTION "}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string path = MakeFile("l" + std::to_string(i) + ".txt", cases[i].bytes);
    TGIS_MappedStream s(path, false);
    std::vector<std::string> got;
    while (s.Position() < s.Size()) got.emplace_back(s.ReadLine());
    EXPECT_EQ(got, cases[i].lines) << "case " << i;
    EXPECT_EQ(s.Position(), s.Size()) << "case " << i;
    EXPECT_TRUE(s.ReadLine().empty());
  }
}

TEST_F(MappedStreamTest, WritingStream) {
  const std::string path = (dir_ / "w.bin").string();
  MakeFile("w.bin", "previous content that must go");
  {
    TGIS_MappedStream w(path, true);
    EXPECT_EQ(w.Size(), -1);
    EXPECT_EQ(w.Position(), -1);
    EXPECT_EQ(w.Memory(), nullptr);
    w.Write("hello", 5);
    EXPECT_EQ(w.Size(), 5);
    EXPECT_EQ(w.Position(), 5);
    w.Seek(0, TGIS_SeekOrigin::FromBeginning);
    w.Write("J", 1);
    EXPECT_EQ(w.Position(), 1);
    EXPECT_EQ(w.Size(), 5);
    w.Seek(5, TGIS_SeekOrigin::FromBeginning);
    w.Write(" world", 6);
    w.Close();
  }
  TGIS_MappedStream r(path, false);
  EXPECT_EQ(std::string(r.Memory(), static_cast<std::size_t>(r.Size())), "Jello world");

  try {
    TGIS_MappedStream bad((dir_ / "no" / "such" / "dir.bin").string(), true);
    FAIL() << "created a file in a missing directory";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Code(), 0);
  }
}

TEST_F(MappedStreamTest, ConcurrentOpenAndClose) {
  const std::string path = MakeFile("c.bin", std::string(4096, 'x'));
  const std::size_t before = TGIS_MappedStream::SharedViewCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&path] {
      for (int i = 0; i < 200; ++i) {
        TGIS_MappedStream s(path, false);
        char c = 0;
        s.Read(&c, 1);
        if (c != 'x') std::abort();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(TGIS_MappedStream::SharedViewCount(), before);
}

// Dropping a file's cached pages leaves the file as it was; a missing
// name or a FIFO (which open could block on) is passed over at once.
TEST_F(MappedStreamTest, DroppingCachedPagesKeepsTheFile) {
  std::string bytes(3 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
  const std::string path = MakeFile("set.shp", bytes);
  DropCachedPages(path);
  std::ifstream in(path, std::ios::binary);
  const std::string read((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(read, bytes);

  DropCachedPages((dir_ / "missing.shp").string());
  const std::string fifo = (dir_ / "fifo.shp").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  DropCachedPages(fifo);  // returns: nobody writes to the FIFO
  EXPECT_TRUE(fs::is_fifo(fifo));
}

}  // namespace

}  // namespace cadport
