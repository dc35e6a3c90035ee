// Failure injection on the real cadport binary: a file-size limit that makes
// a write fail part-way, a read-only target folder, SIGINT/SIGTERM/SIGHUP and
// SIGKILL during a long conversion.  After each: the documented exit status,
// an existing set byte-identical to before, and no "~" or "~tmp" file left
// (after SIGKILL only "~tmp" files may remain).
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/hardening/hardening_util.h"

namespace cadport {
namespace {

using hardening::Bytes;
using hardening::DataPath;
using hardening::ReadFile;
using hardening::Scratch;

namespace fs = std::filesystem;

struct RunOptions {
  rlim_t FileSizeLimit = RLIM_INFINITY;  // ulimit -f, SIGXFSZ ignored
  bool WithoutFileRights = false;        // drop the capabilities that pass file modes
};

// Drops CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH and CAP_FOWNER from this
// process and from what it executes, so file modes bind even for root.
void DropFileCapabilities() {
  for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
    prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return;
  for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
    data[cap / 32].effective &= ~(1u << (cap % 32));
    data[cap / 32].permitted &= ~(1u << (cap % 32));
    data[cap / 32].inheritable &= ~(1u << (cap % 32));
  }
  syscall(SYS_capset, &header, data);
}

// A running cadport, output to files in the working folder.
class Process {
 public:
  Process(const std::vector<std::string>& args, const std::string& folder,
          const RunOptions& options = {}) {
    const std::string out = folder + "/.stdout";
    const std::string err = folder + "/.stderr";
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(folder.c_str()) != 0) _exit(120);
      const int in = open("/dev/null", O_RDONLY);
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || o < 0 || e < 0) _exit(121);
      dup2(in, 0);
      dup2(o, 1);
      dup2(e, 2);
      if (options.FileSizeLimit != RLIM_INFINITY) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{options.FileSizeLimit, options.FileSizeLimit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(122);
      }
      if (options.WithoutFileRights) DropFileCapabilities();
      std::vector<char*> argv;
      static std::string binary = CADPORT_BINARY;
      argv.push_back(binary.data());
      std::vector<std::string> copies(args);
      for (std::string& a : copies) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(binary.c_str(), argv.data());
      _exit(123);
    }
  }
  ~Process() {
    if (pid_ > 0 && !done_) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  void Signal(int signal) const { kill(pid_, signal); }
  // Whether the process has a file whose name ends in `name` mapped.
  bool Maps(const std::string& name) const {
    std::ifstream maps("/proc/" + std::to_string(pid_) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
      if (line.ends_with("/" + name)) return true;
    }
    return false;
  }
  bool Running() {
    if (done_) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      done_ = true;
      status_ = Decode(status);
    }
    return !done_;
  }
  // Exit status; 128 + signal when a signal ended the process.
  int Wait() {
    if (!done_) {
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      done_ = true;
      status_ = Decode(status);
    }
    return status_;
  }
  bool KilledBySignal() const { return killed_; }

 private:
  int Decode(int status) {
    if (WIFSIGNALED(status)) {
      killed_ = true;
      return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
  }
  pid_t pid_ = -1;
  bool done_ = false;
  bool killed_ = false;
  int status_ = -1;
};

int RunCadport(const std::vector<std::string>& args, const std::string& folder,
        const RunOptions& options = {}) {
  Process p(args, folder, options);
  return p.Wait();
}

// A drawing of `lines` LINE entities on a few layers, written in one go.
void WriteLargeDrawing(const std::string& path, int64_t lines) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::vector<char> buffer(1 << 20);
  std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
  std::fputs("  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  0\nENDSEC\n"
             "  0\nSECTION\n  2\nENTITIES\n", f);
  for (int64_t i = 0; i < lines; ++i) {
    std::fprintf(f,
                 "  0\nLINE\n  5\n%llX\n  8\nLAYER%d\n 10\n%lld.25\n 20\n%lld.5\n 30\n0.0\n"
                 " 11\n%lld.75\n 21\n%lld.125\n 31\n0.0\n",
                 static_cast<unsigned long long>(i + 256), int(i % 7),
                 static_cast<long long>(i % 100000), static_cast<long long>(i / 100000),
                 static_cast<long long>(i % 100000 + 1), static_cast<long long>(i / 100000 + 1));
  }
  std::fputs("  0\nENDSEC\n  0\nEOF\n", f);
  ASSERT_EQ(std::fclose(f), 0);
}

// Every file of the folder but the run's own output; the bytes of the
// target set's files (the inputs are only named).
std::map<std::string, Bytes> Snapshot(const std::string& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name == ".stdout" || name == ".stderr") continue;
    files[name] = name.starts_with("target") ? ReadFile(e.path().string()) : Bytes();
  }
  return files;
}

std::vector<std::string> Leftovers(const std::string& folder, bool temporariesAllowed) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    const bool tmp = name.size() > 4 && name.ends_with("~tmp");
    if (name.ends_with("~") || (tmp && !temporariesAllowed)) out.push_back(name);
  }
  return out;
}

class FailureInjection : public testing::Test {
 protected:
  void SetUp() override {
    // The binary must convert by now; until the front end runs conversions
    // these tests have nothing to inject failures into.
    const std::string drawing = dir_.File("probe.dxf");
    fs::copy_file(DataPath("hardening/small.dxf"), drawing);
    const int status = RunCadport({"probe.dxf"}, dir_.Path());
    if (status != 0 || !fs::exists(dir_.File("probe.shp"))) {
      GTEST_SKIP() << "cadport does not convert a drawing yet (status " << status << ")";
    }
    for (const char* ext : {".dxf", ".shp", ".shx", ".dbf"}) fs::remove(dir_.File("probe") + ext);
  }

  // Converts the small fixture into target.shp: the set a failed run must
  // leave alone.
  void MakeExistingSet() {
    fs::copy_file(DataPath("hardening/small.dxf"), dir_.File("old.dxf"));
    ASSERT_EQ(RunCadport({"old.dxf", "target.shp"}, dir_.Path()), 0);
    ASSERT_TRUE(fs::exists(dir_.File("target.shp")));
    ASSERT_TRUE(fs::exists(dir_.File("target.dbf")));
    before_ = Snapshot(dir_.Path());
  }

  void ExpectExistingSetIntact(bool afterKill = false) {
    std::map<std::string, Bytes> now = Snapshot(dir_.Path());
    for (auto it = now.begin(); it != now.end();) {
      it = afterKill && it->first.ends_with("~tmp") ? now.erase(it) : std::next(it);
    }
    EXPECT_EQ(now.size(), before_.size());
    for (const auto& [name, bytes] : before_) {
      const auto it = now.find(name);
      ASSERT_NE(it, now.end()) << name << " is gone";
      EXPECT_TRUE(it->second == bytes) << name << " changed";
    }
    EXPECT_EQ(Leftovers(dir_.Path(), afterKill), std::vector<std::string>());
  }

  std::string Output() const {
    const Bytes out = ReadFile(dir_.File(".stdout"));
    const Bytes err = ReadFile(dir_.File(".stderr"));
    return std::string(out.begin(), out.end()) + std::string(err.begin(), err.end());
  }

  // Starts converting a large drawing over the existing set and waits until
  // the run is under way: reading (the drawing is mapped) or writing (the
  // new .shp exists under its temporary name).  Returns false when the run
  // ended first.
  bool StartLongRun(std::unique_ptr<Process>& p, bool writing) {
    p = std::make_unique<Process>(std::vector<std::string>{"-o", "big.dxf", "target.shp"},
                                  dir_.Path());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (writing ? fs::exists(dir_.File("target.shp~tmp")) : p->Maps("big.dxf")) {
        return p->Running();
      }
      if (!p->Running()) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
  }

  static constexpr int64_t kLongDrawingLines = 250'000;  // about 29 MB

  Scratch dir_;
  std::map<std::string, Bytes> before_;
};

TEST_F(FailureInjection, WriteFailingPartWayLeavesTheSetAlone) {
  MakeExistingSet();
  WriteLargeDrawing(dir_.File("mid.dxf"), 20'000);
  // The new .shp needs about 1.8 MB; the limit stops it at 256 KiB.
  RunOptions options;
  options.FileSizeLimit = 256 * 1024;
  EXPECT_EQ(RunCadport({"-o", "mid.dxf", "target.shp"}, dir_.Path(), options), 1) << Output();
  before_["mid.dxf"] = {};
  ExpectExistingSetIntact();
}

TEST_F(FailureInjection, ReadOnlyFolderFailsCleanly) {
  MakeExistingSet();
  fs::permissions(dir_.Path(), fs::perms::owner_read | fs::perms::owner_exec |
                                   fs::perms::group_read | fs::perms::group_exec);
  RunOptions options;
  options.WithoutFileRights = true;
  // Output files cannot be made beside the set (.stdout/.stderr exist
  // already), unless this user passes file modes whatever we do.
  const pid_t probe = fork();
  if (probe == 0) {
    DropFileCapabilities();
    const int fd = open(dir_.File("probe").c_str(), O_WRONLY | O_CREAT, 0600);
    _exit(fd >= 0 ? 1 : 0);
  }
  int probeStatus = 0;
  waitpid(probe, &probeStatus, 0);
  if (!WIFEXITED(probeStatus) || WEXITSTATUS(probeStatus) != 0) {
    fs::permissions(dir_.Path(), fs::perms::owner_all);
    fs::remove(dir_.File("probe"));
    GTEST_SKIP() << "file modes do not bind for this user; no read-only folder possible";
  }
  {
    Process p({"-o", "old.dxf", "target.shp"}, dir_.Path(), options);
    EXPECT_EQ(p.Wait(), 1) << Output();
  }
  fs::permissions(dir_.Path(), fs::perms::owner_all);
  ExpectExistingSetIntact();
}

struct SignalCase {
  int Signal;
  bool Writing;  // sent while the new set is being written, else while reading
};

class SignalDuringRun : public FailureInjection,
                        public testing::WithParamInterface<SignalCase> {};

TEST_P(SignalDuringRun, EndsWithTheSignalStatusAndLeavesTheSetAlone) {
  MakeExistingSet();
  WriteLargeDrawing(dir_.File("big.dxf"), kLongDrawingLines);
  before_["big.dxf"] = {};
  std::unique_ptr<Process> p;
  ASSERT_TRUE(StartLongRun(p, GetParam().Writing)) << "the run ended before the signal";
  p->Signal(GetParam().Signal);
  const int status = p->Wait();
  if (GetParam().Signal == SIGKILL) {
    EXPECT_EQ(status, 128 + SIGKILL);
    ExpectExistingSetIntact(/*afterKill=*/true);
  } else {
    EXPECT_FALSE(p->KilledBySignal()) << "the signal was not handled";
    EXPECT_EQ(status, 128 + GetParam().Signal) << Output();
    ExpectExistingSetIntact();
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringRun,
                         testing::Values(SignalCase{SIGINT, false}, SignalCase{SIGTERM, false},
                                         SignalCase{SIGHUP, false}, SignalCase{SIGINT, true},
                                         SignalCase{SIGTERM, true}, SignalCase{SIGKILL, false},
                                         SignalCase{SIGKILL, true}),
                         [](const testing::TestParamInfo<SignalCase>& info) {
                           const char* name = info.param.Signal == SIGINT    ? "Int"
                                              : info.param.Signal == SIGTERM ? "Term"
                                              : info.param.Signal == SIGHUP  ? "Hup"
                                                                             : "Kill";
                           return std::string(name) + (info.param.Writing ? "Writing" : "Reading");
                         });

// On a terminal, an interrupted run gives the terminal back as it found it:
// the same mode, the cursor shown again and the colours reset after the last
// change.
TEST_F(FailureInjection, InterruptedRunRestoresTheTerminal) {
  MakeExistingSet();
  WriteLargeDrawing(dir_.File("big.dxf"), kLongDrawingLines);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(dir_.Path().c_str()) != 0) _exit(120);
    static std::string binary = CADPORT_BINARY;
    char o[] = "-o", in[] = "big.dxf", out[] = "target.shp";
    char* argv[] = {binary.data(), o, in, out, nullptr};
    execv(binary.c_str(), argv);
    _exit(123);
  }
  termios before{};
  ASSERT_EQ(tcgetattr(master, &before), 0);
  std::string output;
  bool signalled = false;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  for (;;) {
    pollfd fd{master, POLLIN, 0};
    if (poll(&fd, 1, 20) > 0) {
      char buffer[4096];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) output.append(buffer, size_t(n));
    }
    // The drawing is being read once the target line is out and it is mapped.
    if (!signalled && output.find("target.shp") != std::string::npos) {
      std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
      std::string line;
      while (std::getline(maps, line)) {
        if (line.ends_with("/big.dxf")) {
          kill(pid, SIGINT);
          signalled = true;
          break;
        }
      }
    }
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      FAIL() << "the run did not end";
    }
  }
  // What is left in the terminal's buffer.
  for (;;) {
    pollfd fd{master, POLLIN, 0};
    if (poll(&fd, 1, 50) <= 0) break;
    char buffer[4096];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    output.append(buffer, size_t(n));
  }
  termios after{};
  const bool modeRead = tcgetattr(master, &after) == 0;
  close(master);
  ASSERT_TRUE(signalled) << "the run ended before the signal:\n" << output;
  ASSERT_TRUE(WIFEXITED(status)) << "the signal was not handled";
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
  if (modeRead) {
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
  }
  EXPECT_NE(output.find("\x1b["), std::string::npos) << "no colours: not seen as a terminal";
  const size_t hidden = output.rfind("\x1b[?25l");
  if (hidden != std::string::npos) {
    EXPECT_NE(output.find("\x1b[?25h", hidden), std::string::npos) << "cursor left hidden";
  }
  // The last attribute change is a reset (or there is none).
  {
    size_t sgr = std::string::npos;
    for (size_t at = output.find("\x1b["); at != std::string::npos;
         at = output.find("\x1b[", at + 2)) {
      size_t end = at + 2;
      while (end < output.size() &&
             (std::isdigit(static_cast<unsigned char>(output[end])) || output[end] == ';')) {
        ++end;
      }
      if (end < output.size() && output[end] == 'm') sgr = at;
    }
    if (sgr != std::string::npos) {
      const std::string last = output.substr(sgr, output.find('m', sgr) - sgr + 1);
      EXPECT_TRUE(last == "\x1b[0m" || last == "\x1b[m") << "colours left as " << last.substr(1);
    }
  }
  before_["big.dxf"] = {};
  ExpectExistingSetIntact();
}

TEST_F(FailureInjection, RefusedCommandLinesTouchNothing) {
  MakeExistingSet();
  EXPECT_EQ(RunCadport({"old.dxf", "target.shp"}, dir_.Path()), 2) << Output();  // no -o
  EXPECT_EQ(RunCadport({"missing.dxf"}, dir_.Path()), 2) << Output();
  EXPECT_EQ(RunCadport({}, dir_.Path()), 2) << Output();
  ExpectExistingSetIntact();
}

}  // namespace
}  // namespace cadport
