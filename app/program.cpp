#include "app/program.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "app/command_line.h"
#include "app/conversion_run.h"
#include "app/crt.h"
#include "app/interrupt.h"
#include "kernel/base/exception.h"

namespace cadport {
namespace {

std::string ClassNameOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EGIS_Exception&) {
    return "EGIS_Exception";
  } catch (...) {
    // A readable name for other errors: the demangled type of the one in flight.
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type == nullptr) return "unknown exception";
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), &std::free);
    std::string text = status == 0 && name ? std::string(name.get()) : std::string(type->name());
    // The program's own error classes go by their plain names, as
    // EGIS_Exception does.
    constexpr std::string_view kOwnNamespace = "cadport::";
    if (std::string_view(text).starts_with(kOwnNamespace)) text.erase(0, kOwnNamespace.size());
    return text;
  }
}

std::string MessageOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

std::string_view ModuleName(const char* argv0) {
  std::string_view path = argv0 != nullptr && *argv0 != '\0' ? argv0 : "cadport";
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string ErrorReport(std::exception_ptr error, std::string_view module) {
  // No code address is known for an error raised in C++: eight zeros.
  std::string report = "Exception " + ClassNameOf(error) + " in module " + std::string(module) +
                       " at 00000000.\n";
  const std::string message = MessageOf(error);
  report += message;
  if (message.empty() || message.back() != '.') report += '.';
  report += "\n\n";
  return report;
}

int RunProgram(int argc, char** argv) {
  InstallInterruptHandlers();
  std::unique_ptr<Crt> crt = Crt::Open();
  int status = kExitSuccess;
  std::exception_ptr escaped;
  try {
    TRunState state;
    ShowBanner(*crt);
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (!ParseArguments(args, state, *crt)) {
      status = state.ExitStatus;
    } else {
      status = RunConversion(state, *crt, TDrawingRelease::KeepToExit) ? kExitSuccess : kExitFailure;
    }
  } catch (const TInterrupted& e) {
    status = InterruptExitStatus(e.Signal());
  } catch (...) {
    escaped = std::current_exception();
    status = kExitFailure;
  }
  // The console ends its line and the terminal gets its colours and cursor
  // back before anything goes to standard error.
  crt->Close();
  if (escaped) {
    const std::string report = ErrorReport(escaped, ModuleName(argc > 0 ? argv[0] : nullptr));
    std::fflush(stdout);
    std::fputs(report.c_str(), stderr);
    std::fflush(stderr);
  }
  // A signal that arrived during the run decides the status, also when it
  // broke a system call and so ended the run through an error.
  if (const int s = PendingInterrupt(); s != 0 && status != kExitRefused) {
    status = InterruptExitStatus(s);
  }
  return status;
}

}  // namespace cadport
