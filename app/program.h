#pragma once

// The program sequence: banner, command line, conversion, exit status.

#include <exception>
#include <string>
#include <string_view>

namespace cadport {

class Crt;

// Runs cadport with the process's arguments and returns its exit status:
// 0 after success and for the help text, 1 when the conversion failed, 2
// when the command line was refused, 128 + n after interrupt signal n.
int RunProgram(int argc, char** argv);

// The report of an error that escaped the run, as written to standard
// error: "Exception <class> in module <module> at <address>.", then the
// message (with a full stop added when it has none), then an empty line.
std::string ErrorReport(std::exception_ptr error, std::string_view module);

}  // namespace cadport
