#pragma once

// The converter's command line: `cadport [-o] <dxffile> [shapefile]`.
//
// ShowBanner, ShowUsage and ShowError print through the console device;
// ParseArguments checks the arguments and derives the names of one run.

#include <span>
#include <string>
#include <string_view>

namespace cadport {

class Crt;

// What the command line asks for, filled by ParseArguments.
struct TRunState {
  std::string DxfName;     // the drawing, ".dxf" appended when its extension is not DXF
  std::string ShpName;     // the shapefile, ".shp" appended when its extension is not SHP
  bool Overwrite = false;  // "-o" or "-O" came first
  std::string Verb;        // "Creating" or "Overwriting " (with its blank)
  // When ParseArguments refuses: 0 for the help text, 2 for a command line
  // that cannot run.
  int ExitStatus = 0;
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;   // the conversion failed
inline constexpr int kExitRefused = 2;   // the command line was refused

// The title, credit and contact lines, each 61 characters.
void ShowBanner(Crt& crt);
// The usage text, in green.
void ShowUsage(Crt& crt);
// One error line, brown background and blue text, on a line of its own.
// Holds the console lock, so it can be called while the progress bar runs.
void ShowError(Crt& crt, std::string_view text);

// Checks the arguments (without the program name) and fills state.  False
// means: stop without converting, with state.ExitStatus; the usage text or
// an error line has been shown.
bool ParseArguments(std::span<const std::string_view> args, TRunState& state, Crt& crt);

// The extension of a path: the text from the last '.' after the last '/',
// dot included; empty when there is none.
std::string_view PathExtension(std::string_view path);

// The names of the shapefile set's index and attribute files, as the
// shapefile layer derives them from the .shp name.
std::string ShxNameOf(std::string_view shpName);
std::string DbfNameOf(std::string_view shpName);

}  // namespace cadport
