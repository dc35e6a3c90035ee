// Code-page conversion (declared in utils.h), on top of iconv.

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "kernel/base/utils.h"

namespace cadport {

namespace {

// Windows code page numbers and the iconv names that serve them, first
// choice first.
struct CodePageName {
  int codePage;
  const char* names[3];
};

constexpr CodePageName kCodePages[] = {
    {437, {"CP437", "IBM437", nullptr}},
    {737, {"CP737", nullptr, nullptr}},
    {775, {"CP775", "IBM775", nullptr}},
    {850, {"CP850", "IBM850", nullptr}},
    {852, {"CP852", "IBM852", nullptr}},
    {855, {"CP855", "IBM855", nullptr}},
    {857, {"CP857", "IBM857", nullptr}},
    {860, {"CP860", "IBM860", nullptr}},
    {861, {"CP861", "IBM861", nullptr}},
    {862, {"CP862", "IBM862", nullptr}},
    {863, {"CP863", "IBM863", nullptr}},
    {864, {"CP864", "IBM864", nullptr}},
    {865, {"CP865", "IBM865", nullptr}},
    {866, {"CP866", "IBM866", nullptr}},
    {869, {"CP869", "IBM869", nullptr}},
    {874, {"CP874", "WINDOWS-874", "TIS-620"}},
    {932, {"CP932", "WINDOWS-31J", "SHIFT_JIS"}},
    {936, {"CP936", "GBK", nullptr}},
    {949, {"CP949", "UHC", nullptr}},
    {950, {"CP950", "BIG5", nullptr}},
    {1200, {"UTF-16LE", nullptr, nullptr}},
    {1201, {"UTF-16BE", nullptr, nullptr}},
    {1250, {"CP1250", "WINDOWS-1250", nullptr}},
    {1251, {"CP1251", "WINDOWS-1251", nullptr}},
    {1252, {"CP1252", "WINDOWS-1252", nullptr}},
    {1253, {"CP1253", "WINDOWS-1253", nullptr}},
    {1254, {"CP1254", "WINDOWS-1254", nullptr}},
    {1255, {"CP1255", "WINDOWS-1255", nullptr}},
    {1256, {"CP1256", "WINDOWS-1256", nullptr}},
    {1257, {"CP1257", "WINDOWS-1257", nullptr}},
    {1258, {"CP1258", "WINDOWS-1258", nullptr}},
    {10000, {"MACINTOSH", "MAC", nullptr}},
    {20127, {"ASCII", "US-ASCII", nullptr}},
    {20866, {"KOI8-R", nullptr, nullptr}},
    {20932, {"EUC-JP", nullptr, nullptr}},
    {21866, {"KOI8-U", nullptr, nullptr}},
    {28591, {"ISO-8859-1", nullptr, nullptr}},
    {28592, {"ISO-8859-2", nullptr, nullptr}},
    {28593, {"ISO-8859-3", nullptr, nullptr}},
    {28594, {"ISO-8859-4", nullptr, nullptr}},
    {28595, {"ISO-8859-5", nullptr, nullptr}},
    {28596, {"ISO-8859-6", nullptr, nullptr}},
    {28597, {"ISO-8859-7", nullptr, nullptr}},
    {28598, {"ISO-8859-8", nullptr, nullptr}},
    {28599, {"ISO-8859-9", nullptr, nullptr}},
    {28603, {"ISO-8859-13", nullptr, nullptr}},
    {28605, {"ISO-8859-15", nullptr, nullptr}},
    {51949, {"EUC-KR", nullptr, nullptr}},
    {54936, {"GB18030", nullptr, nullptr}},
    {65001, {"UTF-8", nullptr, nullptr}},
};

// Code pages whose bytes below 0x80 are ASCII, one byte per character: an
// ASCII text is the same in all of them.  (Multi-byte Asian code pages use
// bytes below 0x80 only as second bytes of a pair, after a byte >= 0x80.)
bool IsAsciiCompatible(int codePage) noexcept {
  return codePage != 1200 && codePage != 1201;
}

bool IsAscii(std::string_view text) noexcept {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

int ResolveCodePage(int codePage) noexcept { return codePage == 0 ? SystemCodePage() : codePage; }

// The internal form: UTF-32 in host order (wchar_t is UTF-32 on Linux).
constexpr const char* kInternal = "WCHAR_T";
static_assert(sizeof(wchar_t) == 4, "wchar_t must hold UTF-32");

// A few open converters per thread: iconv_open is far dearer than a
// conversion of a short text.
class ConverterCache {
 public:
  ~ConverterCache() {
    for (Slot& s : slots_) {
      if (s.cd != kInvalid) iconv_close(s.cd);
    }
  }

  // A converter from (decode) or to (encode) the code page; kInvalid when
  // the code page is not supported.
  iconv_t Get(int codePage, bool decode) {
    for (Slot& s : slots_) {
      if (s.used && s.codePage == codePage && s.decode == decode) {
        iconv(s.cd, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
        return s.cd;
      }
    }
    iconv_t cd = Open(codePage, decode);
    Slot& slot = slots_[next_];
    next_ = (next_ + 1) % slots_.size();
    if (slot.used && slot.cd != kInvalid) iconv_close(slot.cd);
    slot = {true, codePage, decode, cd};
    return cd;
  }

  static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);

 private:
  static iconv_t Open(int codePage, bool decode) {
    for (const CodePageName& cp : kCodePages) {
      if (cp.codePage != codePage) continue;
      for (const char* name : cp.names) {
        if (!name) break;
        iconv_t cd = decode ? iconv_open(kInternal, name) : iconv_open(name, kInternal);
        if (cd != kInvalid) return cd;
      }
      break;
    }
    return kInvalid;
  }

  struct Slot {
    bool used = false;
    int codePage = 0;
    bool decode = false;
    iconv_t cd = kInvalid;
  };
  std::array<Slot, 8> slots_{};
  std::size_t next_ = 0;
};

ConverterCache& Converters() {
  thread_local ConverterCache cache;
  return cache;
}

// Runs iconv over the whole input into out (appending).  onBadInput is
// called on an invalid or unconvertible input sequence with the input
// position; it appends a replacement and returns how many input bytes to
// skip (0 stops the conversion).
template <typename OnBad>
void RunIconv(iconv_t cd, const char* in, std::size_t inLeft, std::string& out, OnBad onBadInput) {
  char* inPtr = const_cast<char*>(in);
  std::size_t chunk = inLeft * 4 + 16;
  while (true) {
    const std::size_t used = out.size();
    out.resize(used + chunk);
    char* outPtr = out.data() + used;
    std::size_t outLeft = chunk;
    const std::size_t rc = iconv(cd, inLeft ? &inPtr : nullptr, &inLeft, &outPtr, &outLeft);
    const int err = errno;
    out.resize(static_cast<std::size_t>(outPtr - out.data()));
    if (rc != static_cast<std::size_t>(-1)) {
      if (inLeft == 0) {
        // Flush any pending shift sequence.
        out.resize(out.size() + 16);
        outPtr = out.data() + out.size() - 16;
        outLeft = 16;
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        out.resize(static_cast<std::size_t>(outPtr - out.data()));
        return;
      }
      continue;
    }
    if (err == E2BIG) {
      chunk = chunk * 2;
      continue;
    }
    // EILSEQ: a bad or unconvertible sequence; EINVAL: cut off at the end.
    const std::size_t skip = onBadInput(out, err == EINVAL);
    if (skip == 0 || skip > inLeft) return;
    inPtr += skip;
    inLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
}

void AppendWide(std::string& out, wchar_t c) {
  const std::size_t n = out.size();
  out.resize(n + sizeof(wchar_t));
  std::memcpy(out.data() + n, &c, sizeof(wchar_t));
}

// Text in a code page to UTF-32 (as raw wchar_t bytes); false when the code
// page is not supported.
bool Decode(std::string_view text, int codePage, std::string& wide) {
  iconv_t cd = Converters().Get(codePage, true);
  if (cd == ConverterCache::kInvalid) return false;
  RunIconv(cd, text.data(), text.size(), wide, [](std::string& out, bool truncated) {
    AppendWide(out, L'\xFFFD');
    return truncated ? std::size_t{0} : std::size_t{1};
  });
  return true;
}

// UTF-32 (raw wchar_t bytes) to a code page; false when not supported.
bool Encode(const std::string& wide, int codePage, std::string& out) {
  iconv_t cd = Converters().Get(codePage, false);
  if (cd == ConverterCache::kInvalid) return false;
  RunIconv(cd, wide.data(), wide.size(), out, [cd](std::string& o, bool truncated) {
    // A character the target cannot hold: write '?' in the target's form.
    static const wchar_t kQuestion = L'?';
    char* in = const_cast<char*>(reinterpret_cast<const char*>(&kQuestion));
    std::size_t inLeft = sizeof kQuestion;
    char rep[8];
    char* outPtr = rep;
    std::size_t outLeft = sizeof rep;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
      o.append(rep, static_cast<std::size_t>(outPtr - rep));
    }
    return truncated ? std::size_t{0} : sizeof(wchar_t);
  });
  return true;
}

// UTF-16 to UTF-32 (raw wchar_t bytes); unpaired surrogates become U+FFFD.
std::string WidenUtf16(std::u16string_view text) {
  std::string wide;
  wide.reserve(text.size() * sizeof(wchar_t));
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      const char32_t lo = text[++i];
      AppendWide(wide, static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00)));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendWide(wide, L'\xFFFD');
    } else {
      AppendWide(wide, static_cast<wchar_t>(c));
    }
  }
  return wide;
}

}  // namespace

int SystemCodePage() noexcept { return kCodePageUTF8; }

bool IsCodePageSupported(int codePage) noexcept {
  try {
    return Converters().Get(ResolveCodePage(codePage), true) != ConverterCache::kInvalid;
  } catch (...) {
    return false;
  }
}

std::string RecodeText(std::string_view text, int fromCodePage, int toCodePage) {
  if (fromCodePage == toCodePage) return std::string(text);
  const int from = ResolveCodePage(fromCodePage);
  const int to = ResolveCodePage(toCodePage);
  if (from == to) return std::string(text);
  if (IsAscii(text) && IsAsciiCompatible(from) && IsAsciiCompatible(to) &&
      IsCodePageSupported(from) && IsCodePageSupported(to)) {
    return std::string(text);
  }
  std::string wide;
  std::string out;
  if (!Decode(text, from, wide)) return {};
  if (!Encode(wide, to, out)) return {};
  return out;
}

std::string WideToCodePage(std::u16string_view text, int codePage) {
  std::string out;
  if (!Encode(WidenUtf16(text), ResolveCodePage(codePage), out)) return {};
  return out;
}

std::u16string CodePageToWide(std::string_view text, int codePage) {
  std::string wide;
  if (!Decode(text, ResolveCodePage(codePage), wide)) return {};
  std::u16string out;
  out.reserve(wide.size() / sizeof(wchar_t));
  for (std::size_t i = 0; i + sizeof(wchar_t) <= wide.size(); i += sizeof(wchar_t)) {
    wchar_t w;
    std::memcpy(&w, wide.data() + i, sizeof w);
    const auto c = static_cast<char32_t>(w);
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

}  // namespace cadport
