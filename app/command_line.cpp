#include "app/command_line.h"

#include <sys/stat.h>

#include <mutex>

#include "app/crt.h"
#include "kernel/base/utils.h"

namespace cadport {
namespace {

constexpr std::size_t kBannerWidth = 61;
constexpr std::size_t kBannerIndent = 15;

std::string BannerLine(std::string_view text) {
  std::string line(kBannerIndent, ' ');
  line.append(text);
  if (line.size() < kBannerWidth) line.append(kBannerWidth - line.size(), ' ');
  return line;
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// A drawing to read: anything but a folder.
// A drawing is a regular file (or a link to one): a folder is not, and a
// FIFO or device would block the reader or cannot be mapped.
bool InputExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A name the conversion would replace: anything at all, a dangling
// symbolic link included.
bool TargetExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string WithoutExtension(std::string_view path) {
  return std::string(path.substr(0, path.size() - PathExtension(path).size()));
}

}  // namespace

std::string_view PathExtension(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return path.substr(dot);
}

// Named like the shapefile layer names them.
std::string ShxNameOf(std::string_view shpName) { return RemoveExtension(shpName) + ".shx"; }

std::string DbfNameOf(std::string_view shpName) { return RemoveExtension(shpName) + ".dbf"; }

void ShowBanner(Crt& crt) {
  std::lock_guard lock(crt.Lock());
  crt.WriteLine();
  crt.SetTextForeground(2);
  crt.WriteLine("               DXF to SHP converter v1.0                     ");
  crt.WriteLine(BannerLine("cadport - DXF drawings to ESRI shapefiles"));
  crt.SetTextForeground(3);
  crt.WriteLine(BannerLine("Help: cadport --help; manual: README.md"));
  crt.RestoreNormalAttribute();
}

void ShowUsage(Crt& crt) {
  std::lock_guard lock(crt.Lock());
  crt.SetTextForeground(2);
  crt.WriteLine();
  crt.WriteLine("Usage:");
  crt.WriteLine("    cadport [-o]  <dxffile> [shapefile]");
  crt.WriteLine();
  crt.WriteLine("        -o        Overwrite dxf file");
  crt.WriteLine("        dxffile   Dxf file to convert from");
  crt.WriteLine("        shapefile Shape file to create");
}

void ShowError(Crt& crt, std::string_view text) {
  std::lock_guard lock(crt.Lock());
  crt.WriteLine();
  crt.SetTextBackground(14);
  crt.SetTextForeground(1);
  crt.Write(text);
  // Back to the start-up colours before the line break, so that a line
  // scrolled in below is not painted in the error colours.
  crt.RestoreNormalAttribute();
  crt.WriteLine();
}

bool ParseArguments(std::span<const std::string_view> args, TRunState& state, Crt& crt) {
  const std::size_t n = args.size();
  state.ExitStatus = kExitRefused;
  if (n == 1 && (args[0] == "-h" || args[0] == "--help")) {
    ShowUsage(crt);
    state.ExitStatus = kExitSuccess;
    return false;
  }
  if (n < 1 || n > 3) {
    ShowUsage(crt);
    return false;
  }
  state.Overwrite = AsciiUpper(args[0]) == "-O";
  if (state.Overwrite && n < 2) {
    ShowUsage(crt);
    return false;
  }

  state.DxfName = std::string(state.Overwrite ? args[1] : args[0]);
  if (AsciiUpper(PathExtension(state.DxfName)) != ".DXF") state.DxfName += ".dxf";
  if (!InputExists(state.DxfName)) {
    ShowError(crt, "File not found: " + state.DxfName);
    return false;
  }

  if (n == 2 && !state.Overwrite) {
    state.ShpName = std::string(args[1]);
  } else if (n == 3) {
    state.ShpName = std::string(args[2]);
  } else {
    state.ShpName = WithoutExtension(state.DxfName) + ".shp";
  }
  if (AsciiUpper(PathExtension(state.ShpName)) != ".SHP") state.ShpName += ".shp";

  if (TargetExists(state.ShpName)) {
    if (!state.Overwrite) {
      ShowError(crt, "Can't overwrite: " + state.ShpName);
      return false;
    }
    state.Verb = "Overwriting ";
  } else {
    // Without the switch a stray index or table of the same name would be
    // moved aside by the conversion and then deleted: refuse as well.
    if (!state.Overwrite) {
      for (const std::string& other : {ShxNameOf(state.ShpName), DbfNameOf(state.ShpName)}) {
        if (TargetExists(other)) {
          ShowError(crt, "Can't overwrite: " + other);
          return false;
        }
      }
    }
    state.Verb = "Creating";
  }
  state.ExitStatus = kExitSuccess;
  return true;
}

}  // namespace cadport
