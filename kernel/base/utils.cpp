#include "kernel/base/utils.h"

#include <sched.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <thread>

#include "kernel/base/exception.h"

namespace cadport {

// --- text --------------------------------------------------------------------

std::string_view TrimLeftText(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  return text.substr(i);
}

std::string_view TrimRightText(std::string_view text) noexcept {
  std::size_t n = text.size();
  while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= ' ') --n;
  return text.substr(0, n);
}

std::string_view TrimText(std::string_view text) noexcept {
  return TrimRightText(TrimLeftText(text));
}

std::string AsciiUpperText(std::string_view text) {
  std::string r(text);
  for (char& c : r) c = AsciiUpper(c);
  return r;
}

std::string AsciiLowerText(std::string_view text) {
  std::string r(text);
  for (char& c : r) c = AsciiLower(c);
  return r;
}

bool SameTextNoCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

int CompareTextNoCase(std::string_view a, std::string_view b) noexcept {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(AsciiUpper(a[i]));
    const auto cb = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// --- file names --------------------------------------------------------------

namespace {

inline bool IsDirSeparator(char c) noexcept { return c == '/' || c == '\\'; }

}  // namespace

std::string RemoveExtension(std::string_view path) {
  const std::string_view p = TrimText(path);
  for (std::size_t i = p.size(); i > 0; --i) {
    const char c = p[i - 1];
    if (IsDirSeparator(c)) break;
    if (c == '.') return std::string(p.substr(0, i - 1));
  }
  return std::string(p);
}

std::string BaseName(std::string_view path) {
  const std::string_view p = TrimText(path);
  std::size_t start = 0;
  for (std::size_t i = p.size(); i > 0; --i) {
    const char c = p[i - 1];
    if (IsDirSeparator(c) || c == ':') {
      start = i;
      break;
    }
  }
  std::string_view name = p.substr(start);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name);
}

std::string ExpandPath(std::string_view baseDir, std::string_view fileName) {
  namespace fs = std::filesystem;
  if (fileName.empty()) return {};
  if (fileName.find("://") != std::string_view::npos) return std::string(fileName);

  const fs::path file{std::string(fileName)};
  if (file.is_absolute()) return file.lexically_normal().string();

  std::error_code ec;
  fs::path base;
  if (!baseDir.empty()) {
    const fs::path dir{std::string(baseDir)};
    if (fs::is_directory(dir, ec)) {
      base = dir.is_absolute() ? dir : fs::absolute(dir, ec);
      if (ec) base.clear();
    }
  }
  if (base.empty()) {
    base = fs::current_path(ec);
    if (ec) return file.lexically_normal().string();
  }
  return (base / file).lexically_normal().string();
}

std::string RelativePath(std::string_view baseFile, std::string_view target) {
  const std::string base = ExpandPath({}, baseFile);
  const std::string dest = ExpandPath({}, target);
  const std::size_t n = base.size() < dest.size() ? base.size() : dest.size();
  std::size_t start = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (AsciiUpper(base[i]) != AsciiUpper(dest[i])) break;
    if (IsDirSeparator(base[i])) start = i + 1;
  }
  std::string result;
  for (std::size_t i = start; i < base.size(); ++i) {
    if (IsDirSeparator(base[i])) result += "../";
  }
  result.append(dest, start, std::string::npos);
  return result;
}

// --- numbers -----------------------------------------------------------------

namespace {

// The separator TextToFloat tries first: the one that worked last.  The
// program runs in the "C" locale, whose separator is '.'.
std::atomic<char> gDecimalSeparator{'.'};

// Longest number text converted without touching the heap; longer texts
// (thousands of digits) are copied into a string.
constexpr std::size_t kNumberBuffer = 128;

// Parses a trimmed number text using sep as the decimal separator.
bool ParseFloat(std::string_view t, char sep, double& value) noexcept {
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  const std::size_t mantissaStart = i;
  std::size_t digits = 0;
  std::size_t sepPos = std::string_view::npos;
  // Decimal magnitude of the first significant digit, for telling an
  // underflow from an overflow.
  long magnitude = 0;
  bool seenSignificant = false;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (c >= '0' && c <= '9') {
      ++digits;
      if (!seenSignificant && c != '0') {
        seenSignificant = true;
        magnitude = sepPos == std::string_view::npos ? 0 : -static_cast<long>(i - sepPos);
      } else if (seenSignificant && sepPos == std::string_view::npos) {
        ++magnitude;
      }
    } else if (c == sep && sepPos == std::string_view::npos) {
      sepPos = i;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  const std::size_t mantissaEnd = i;
  long exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
      expNegative = t[i] == '-';
      ++i;
    }
    const std::size_t expStart = i;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      if (exponent < 100000) exponent = exponent * 10 + (t[i] - '0');
    }
    if (i == expStart) return false;
    if (expNegative) exponent = -exponent;
  }
  if (i != t.size()) return false;

  // from_chars wants '.' and no '+': a text already in that form goes as
  // it is, any other is handed over rewritten.
  const char* first = t.data();
  const char* last = t.data() + t.size();
  char local[kNumberBuffer];
  std::string heap;
  if (sep != '.' || t.front() == '+') {
    char* buf = local;
    const std::size_t len = 1 + (t.size() - mantissaStart);
    if (len > sizeof local) {
      heap.resize(len);
      buf = heap.data();
    }
    std::size_t n = 0;
    if (negative) buf[n++] = '-';
    for (std::size_t k = mantissaStart; k < t.size(); ++k) {
      const char c = t[k];
      buf[n++] = (k < mantissaEnd && c == sep) ? '.' : c;
    }
    first = buf;
    last = buf + n;
  }
  double v = 0;
  const auto res = std::from_chars(first, last, v, std::chars_format::general);
  if (res.ptr != last) return false;
  if (res.ec == std::errc::result_out_of_range) {
    if (!seenSignificant || magnitude + exponent < 0) {
      value = negative ? -0.0 : 0.0;  // too small for a double
      return true;
    }
    return false;  // too large
  }
  if (res.ec != std::errc()) return false;
  value = v;
  return true;
}

[[noreturn]] void ThrowConvertError(std::string_view text, const char* what) {
  std::string templ = "'%s' is not a valid ";
  templ += what;
  templ += " value";
  throw EGIS_ConvertError(templ, text, 0);
}

}  // namespace

bool TryTextToFloat(std::string_view text, double& value) noexcept {
  const std::string_view t = TrimText(text);
  const char first = gDecimalSeparator.load(std::memory_order_relaxed);
  if (ParseFloat(t, first, value)) return true;
  const char second = first == '.' ? ',' : '.';
  gDecimalSeparator.store(second, std::memory_order_relaxed);
  return ParseFloat(t, second, value);
}

double TextToFloat(std::string_view text) {
  double v = 0;
  if (!TryTextToFloat(text, v)) ThrowConvertError(text, "floating point");
  return v;
}

int32_t AvailableProcessors() noexcept {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set) > 0 ? CPU_COUNT(&set) : 1;
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int32_t>(n) : 1;
}

char RememberedDecimalSeparator() noexcept {
  return gDecimalSeparator.load(std::memory_order_relaxed);
}

void SetRememberedDecimalSeparator(char separator) noexcept {
  gDecimalSeparator.store(separator, std::memory_order_relaxed);
}

std::size_t FloatToDotChars(double value, char* buffer) noexcept {
  constexpr int kMaxDigits = 15;
  auto put = [buffer](std::string_view s) {
    std::memcpy(buffer, s.data(), s.size());
    buffer[s.size()] = '\0';
    return s.size();
  };
  if (std::isnan(value)) return put("NAN");
  if (std::isinf(value)) return put(value < 0 ? "-INF" : "INF");
  if (value == 0) return put("0");

  // Significant digits and decimal exponent: the shortest round trip, or 15
  // digits rounded when that needs more.
  char sci[40];
  auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  char digits[24];
  int nDigits = 0;
  int exponent = 0;
  auto split = [&](const char* end) {
    nDigits = 0;
    const char* p = sci;
    if (*p == '-') ++p;
    for (; p < end && *p != 'e'; ++p) {
      if (*p != '.') digits[nDigits++] = *p;
    }
    exponent = 0;
    if (p < end) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);
  };
  split(res.ptr);
  if (nDigits > kMaxDigits) {
    res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific, kMaxDigits - 1);
    split(res.ptr);
  }
  while (nDigits > 1 && digits[nDigits - 1] == '0') --nDigits;

  std::size_t n = 0;
  if (value < 0) buffer[n++] = '-';
  if (exponent >= kMaxDigits || exponent < -5) {
    buffer[n++] = digits[0];
    if (nDigits > 1) {
      buffer[n++] = '.';
      for (int k = 1; k < nDigits; ++k) buffer[n++] = digits[k];
    }
    buffer[n++] = 'E';
    auto e = std::to_chars(buffer + n, buffer + kFloatTextSize - 1, exponent);
    n = static_cast<std::size_t>(e.ptr - buffer);
  } else if (exponent >= 0) {
    for (int k = 0; k <= exponent; ++k) buffer[n++] = k < nDigits ? digits[k] : '0';
    if (nDigits > exponent + 1) {
      buffer[n++] = '.';
      for (int k = exponent + 1; k < nDigits; ++k) buffer[n++] = digits[k];
    }
  } else {
    buffer[n++] = '0';
    buffer[n++] = '.';
    for (int k = -1; k > exponent; --k) buffer[n++] = '0';
    for (int k = 0; k < nDigits; ++k) buffer[n++] = digits[k];
  }
  buffer[n] = '\0';
  return n;
}

std::string FloatToDotText(double value) {
  char buf[kFloatTextSize];
  const std::size_t n = FloatToDotChars(value, buf);
  return std::string(buf, n);
}

namespace {

template <typename T>
bool ParseInt(std::string_view text, T& value) noexcept {
  std::string_view t = TrimText(text);
  if (!t.empty() && t.front() == '+') {
    t.remove_prefix(1);
    if (!t.empty() && t.front() == '-') return false;
  }
  if (t.empty()) return false;
  T v = 0;
  const auto res = std::from_chars(t.data(), t.data() + t.size(), v, 10);
  if (res.ec != std::errc() || res.ptr != t.data() + t.size()) return false;
  value = v;
  return true;
}

}  // namespace

bool TryTextToInt(std::string_view text, std::int32_t& value) noexcept {
  return ParseInt(text, value);
}

bool TryTextToInt(std::string_view text, std::int64_t& value) noexcept {
  return ParseInt(text, value);
}

std::int32_t TextToInt(std::string_view text) {
  std::int32_t v = 0;
  if (!ParseInt(text, v)) ThrowConvertError(text, "integer");
  return v;
}

std::int64_t TextToInt64(std::string_view text) {
  std::int64_t v = 0;
  if (!ParseInt(text, v)) ThrowConvertError(text, "integer");
  return v;
}

// --- platform ------------------------------------------------------------------

namespace {

// strerror_r comes in a GNU (returns the text) and an XSI (fills the buffer)
// flavour; these pick the text out of either.
[[maybe_unused]] const char* ErrorTextOf(int rc, const char* buffer) {
  return rc == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* ErrorTextOf(const char* text, const char*) { return text; }

}  // namespace

std::string OSErrorText(int errorNumber) {
  char buf[256] = {};
  const char* text = ErrorTextOf(strerror_r(errorNumber, buf, sizeof buf), buf);
  std::string r = text ? text : "Unknown error";
  r += " (errno ";
  r += std::to_string(errorNumber);
  r += ')';
  return r;
}

std::string LastOSErrorText() {
  const int err = errno;
  return OSErrorText(err);
}

std::uint32_t TickCount() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms % 2147483647u);
}

}  // namespace cadport
