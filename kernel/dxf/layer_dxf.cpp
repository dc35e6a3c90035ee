#include "kernel/dxf/layer_dxf.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <exception>
#include <limits>

#include "kernel/base/exception.h"
#include "kernel/base/messages.h"
#include "kernel/base/tokenizer.h"
#include "kernel/base/utils.h"
#include "kernel/layer/viewer.h"
#include "kernel/vector/field.h"

namespace cadport {

namespace {

// Pixels per hundredth of a millimetre at 96 dots per inch.
constexpr double kPixelsPerWeightUnit = 96.0 / 2540.0;

struct T_palette {
  uint32_t colors[256];
  T_palette() {
    auto rgb = [](double r, double g, double b) {
      return MakeRGB(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b));
    };
    colors[0] = colors[7] = MakeRGB(255, 255, 255);
    colors[1] = MakeRGB(255, 0, 0);
    colors[2] = MakeRGB(255, 255, 0);
    colors[3] = MakeRGB(0, 255, 0);
    colors[4] = MakeRGB(0, 255, 255);
    colors[5] = MakeRGB(0, 0, 255);
    colors[6] = MakeRGB(255, 0, 255);
    colors[8] = MakeRGB(128, 128, 128);
    colors[9] = MakeRGB(192, 192, 192);
    static constexpr double kLevels[5] = {255, 204, 153, 127, 76};
    for (int number = 10; number <= 249; ++number) {
      const int k = number - 10;
      const int hue = k / 10;
      const int shade = k % 10;
      const double level = kLevels[shade / 2];
      const bool pale = (shade % 2) != 0;
      const int g = hue / 4;
      const double f = (hue % 4) / 4.0;
      double c[3] = {0, 0, 0};
      switch (g) {
        case 0: c[0] = 1; c[1] = f; c[2] = 0; break;
        case 1: c[0] = 1 - f; c[1] = 1; c[2] = 0; break;
        case 2: c[0] = 0; c[1] = 1; c[2] = f; break;
        case 3: c[0] = 0; c[1] = 1 - f; c[2] = 1; break;
        case 4: c[0] = f; c[1] = 0; c[2] = 1; break;
        default: c[0] = 1; c[1] = 0; c[2] = 1 - f; break;
      }
      for (double& x : c) {
        if (pale) x = 0.5 + 0.5 * x;
        x = std::floor(level * x);
      }
      colors[number] = rgb(c[0], c[1], c[2]);
    }
    static constexpr int kGreys[6] = {51, 91, 132, 173, 214, 255};
    for (int i = 0; i < 6; ++i) colors[250 + i] = MakeRGB(kGreys[i], kGreys[i], kGreys[i]);
  }
};

const T_palette& Palette() {
  static const T_palette palette;
  return palette;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// Modification time of a file as a serial date, local time.
bool FileModificationTime(const std::string& path, double& days) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  const std::time_t seconds = st.st_mtim.tv_sec;
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) return false;
  days = EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec + st.st_mtim.tv_nsec / 1e9)
             .Value;
  return true;
}

// The viewer's progress takes 32-bit positions: large files report in units
// of a power of two.
void ScaledProgress(int64_t position, int64_t size, int32_t& outPosition, int32_t& outSize) {
  int shift = 0;
  while ((size >> shift) > std::numeric_limits<int32_t>::max()) ++shift;
  outPosition = static_cast<int32_t>(std::min(position, size) >> shift);
  outSize = static_cast<int32_t>(size >> shift);
}

// Pages of the drawing are released in steps of this many bytes, keeping
// this many bytes behind the reader's furthest position.
constexpr int64_t kReleaseStep = 8 << 20;
constexpr int64_t kReleaseBehind = 1 << 20;

// Raised through the reader when the viewer's busy handler raises: the
// load then ends with the handler's own error, not a structure error.
struct T_busyFailure {
  std::exception_ptr error;
};

}  // namespace

bool TGIS_DxfNameLess::operator()(std::string_view a, std::string_view b) const noexcept {
  // Shorter names first, then case-blind: names are equal exactly when they
  // are equal case-blind, and most comparisons end at the length.
  if (a.size() != b.size()) return a.size() < b.size();
  return CompareTextNoCase(a, b) < 0;
}

const char* DxfLabelPositionName(TGIS_DxfLabelPosition position) noexcept {
  switch (position) {
    case TGIS_DxfLabelPosition::DownRight: return "DOWNRIGHT";
    case TGIS_DxfLabelPosition::DownLeft: return "DOWNLEFT";
    case TGIS_DxfLabelPosition::MiddleLeft: return "MIDDLELEFT";
    case TGIS_DxfLabelPosition::MiddleRight: return "MIDDLERIGHT";
    case TGIS_DxfLabelPosition::UpRight: return "UPRIGHT";
    case TGIS_DxfLabelPosition::UpCenter: return "UPCENTER";
    case TGIS_DxfLabelPosition::MiddleCenter: break;
  }
  return "MIDDLECENTER";
}

TGIS_LayerDXF::TGIS_LayerDXF() = default;

TGIS_LayerDXF::~TGIS_LayerDXF() = default;

uint32_t TGIS_LayerDXF::PaletteColor(int32_t number) noexcept {
  if (number < 0 || number > 255) return 0;
  return Palette().colors[number];
}

// ---- values -----------------------------------------------------------------

double TGIS_LayerDXF::ValueFloat() const {
  // Nearly every value is a plain number with a dot: from_chars takes it as
  // it is.  Anything else (a comma, a '+', out of range, not a number at all)
  // goes through the full parse, which also remembers the separator.
  if (RememberedDecimalSeparator() == '.') {
    std::string_view t = GroupValue();
    // Values are rarely padded: trimmed only when an end is a blank.
    if (!t.empty() && (static_cast<unsigned char>(t.front()) <= ' ' ||
                       static_cast<unsigned char>(t.back()) <= ' '))
      t = TrimText(t);
    if (!t.empty() && t.front() != '+') {
      double fast = 0;
      const auto res = std::from_chars(t.data(), t.data() + t.size(), fast);
      if (res.ec == std::errc() && res.ptr == t.data() + t.size() && std::isfinite(fast)) {
        return fast;
      }
    }
  }
  double value = 0;
  if (!TryTextToFloat(GroupValue(), value) || !std::isfinite(value)) {
    throw EDxfStructure("'" + std::string(GroupValue()) + "' is not a valid floating point value");
  }
  return value;
}

int32_t TGIS_LayerDXF::ValueInt() const { return TGIS_DxfGroupReader::ToInteger(GroupValue()); }

bool TGIS_LayerDXF::ValueBlank() const { return TrimBlanks(GroupValue()).empty(); }

std::string TGIS_LayerDXF::RecodePlain(std::string_view text) const {
  const int32_t from = inputCodePage_ >= 0 ? inputCodePage_ : EffectiveCodePage();
  const int32_t to = EffectiveOutCodePage();
  if (from == to) return std::string(text);
  return RecodeText(text, from, to);
}

std::string TGIS_LayerDXF::Recode(std::string_view text) const {
  std::string out = RecodePlain(text);
  if (!decodeEscapes_ || out.find("\\U+") == std::string::npos) return out;
  out = DecodeUnicodeEscapes(out);
  const int32_t to = EffectiveOutCodePage();
  if (to != 0 && to != kCodePageUTF8) out = RecodeText(out, kCodePageUTF8, to);
  return out;
}

std::string TGIS_LayerDXF::DecodeUnicodeEscapes(std::string_view text) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\\' && i + 7 <= text.size() && text[i + 1] == 'U' &&
        text[i + 2] == '+') {
      uint32_t cp = 0;
      bool ok = true;
      for (std::size_t k = 3; k < 7; ++k) {
        const int h = hex(text[i + k]);
        if (h < 0) {
          ok = false;
          break;
        }
        cp = cp * 16 + static_cast<uint32_t>(h);
      }
      if (ok && cp != 0 && (cp < 0xD800 || cp > 0xDFFF)) {
        if (cp < 0x80) {
          out += static_cast<char>(cp);
        } else if (cp < 0x800) {
          out += static_cast<char>(0xC0 | (cp >> 6));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (cp >> 12));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        i += 7;
        continue;
      }
    }
    out += text[i];
    ++i;
  }
  return out;
}

int32_t TGIS_LayerDXF::CodePageOfName(std::string_view name) {
  const std::string upper = AsciiUpperText(TrimBlanks(name));
  auto numberAfter = [&](std::string_view prefix) -> int32_t {
    if (upper.size() <= prefix.size() || upper.compare(0, prefix.size(), prefix) != 0) return -1;
    int64_t n = 0;
    if (!TGIS_DxfGroupReader::ParseInteger(std::string_view(upper).substr(prefix.size()), n)) return -1;
    return n > 0 && n < 100000 ? static_cast<int32_t>(n) : -1;
  };
  if (const int32_t n = numberAfter("ANSI_"); n > 0) return n;
  if (const int32_t n = numberAfter("DOS"); n > 0) return n;
  for (std::string_view iso : {"ISO8859-", "ISO-8859-", "ISO8859_"}) {
    if (const int32_t n = numberAfter(iso); n > 0) return n <= 16 ? 28590 + n : -1;
  }
  struct T_named {
    std::string_view name;
    int32_t codePage;
  };
  static constexpr T_named kNamed[] = {
      {"MACINTOSH", 10000}, {"BIG5", 950},   {"GB2312", 936},      {"KSC5601", 949},
      {"JOHAB", 1361},      {"ASCII", 20127}, {"UTF8", kCodePageUTF8}, {"UTF-8", kCodePageUTF8},
  };
  for (const T_named& n : kNamed) {
    if (upper == n.name) return n.codePage;
  }
  return -1;
}

// ---- Setup --------------------------------------------------------------------

void TGIS_LayerDXF::DeclareDxfFields() {
  DeclareFileField(kFieldHandle, TGIS_FieldKind::String, 15, 0, true);
  DeclareFileField(kFieldLayer, TGIS_FieldKind::String, 15, 0, true);
  DeclareFileField(kFieldElevation, TGIS_FieldKind::Number, 18, 6, true);
  DeclareFileField(kFieldLabel, TGIS_FieldKind::String, 5, 0, true);
  DeclareFileField(kFieldLabelAngle, TGIS_FieldKind::Number, 5, 0, true);
  DeclareFileField(kFieldColor, TGIS_FieldKind::Number, 5, 0, true);
  DeclareFileField(kFieldWeight, TGIS_FieldKind::Number, 5, 0, true);
}

void TGIS_LayerDXF::FreeLoadState() noexcept {
  stream_.reset();
  reader_.Reset(nullptr, 0);
  reader_.SetProgressHandler(nullptr);
  blockIndex_.Clear();
  layerFilter_.Clear();
  layerColors_.Clear();
  layerLineTypes_.Clear();
  layerLineWeights_.Clear();
  lineTypeClasses_.Clear();
  vertexList_.clear();
  faceList_.clear();
  pointList_.clear();
  blockStack_.clear();
  entityShape_ = nullptr;
}

void TGIS_LayerDXF::Setup() {
  TGIS_LayerVector::Setup();

  if (!Path().empty() && newFilePath_.empty()) {
    if (FindDeclaredField(kFieldHandle) < 0) DeclareDxfFields();

    stream_ = std::make_unique<TGIS_MappedStream>(Path(), false);
    stream_->AdviseSequential();
    TGIS_Viewer* viewer = Viewer();
    if (viewer != nullptr) viewer->BusyBegin(this);

    // Reader state.
    versionText_.clear();
    versionCode_.clear();
    drawingCodePage_ = -1;
    inputCodePage_ = -1;
    decodeEscapes_ = false;
    reader_.Reset(stream_->Memory(), stream_->Size());
    entityMatrix_ = TGIS_DxfMatrix::Identity();
    entityIdentity_ = true;
    insertMatrix_ = TGIS_DxfMatrix::Identity();
    blockDepth_ = 0;
    expansionItems_ = 0;
    headerExtent_ = NullBounds3D();
    entityShape_ = nullptr;
    entityLayer_.clear();
    // Room for the shapes and their styles the drawing may hold, so that
    // the lists are not copied as they grow (the room is only address
    // space until it is used).
    ReserveShapeRoom(stream_->Size());
    // The shapes are built one after the other: their blocks come one after
    // the other from the layer's arena.
    OpenBlockArena();
    backgroundColor_.reset();
    if (viewer != nullptr) backgroundColor_ = viewer->Color();
    parallelPiecesAdopted_ = 0;
    // The pages read are given back to the system as the reader moves on,
    // so that the peak holds the shapes and a window of the drawing, not
    // the whole drawing beside them.  The mapping is shared and read-only:
    // a page needed again (a block definition) comes back from the file.
    reader_.SetProgressHandler([this, viewer, released = int64_t{0}](
                                   int64_t position, int64_t size) mutable {
      ReleasePagesBehind(position, released);
      if (viewer != nullptr) {
        // Pieces read on other threads count as read.
        const int64_t done =
            parallelDone_ != nullptr ? parallelDone_->load(std::memory_order_relaxed) : 0;
        int32_t pos = 0;
        int32_t end = 0;
        ScaledProgress(position + done, size, pos, end);
        bool abort = false;  // loading cannot be cancelled: the answer is ignored
        try {
          viewer->BusyShake(this, pos, end, abort);
        } catch (...) {
          throw T_busyFailure{std::current_exception()};
        }
      }
    });

    std::exception_ptr busyError;
    bool failed = false;
    try {
      bool entities = false;
      ReadGroup();
      while (!AtEnd() && !IsGroup(0, "EOF")) {
        if (IsGroup(9, "$ACADVER")) {
          ReadVersion();
        } else if (IsGroup(9, "$DWGCODEPAGE")) {
          ReadGroup();
          if (IsGroup(0) || IsGroup(9)) continue;  // a variable without its value
          const int32_t codePage = CodePageOfName(GroupValue());
          drawingCodePage_ = codePage > 0 && IsCodePageSupported(codePage) ? codePage : -1;
        } else if (IsGroup(2, "TABLES")) {
          ReadTables();
        } else if (IsGroup(0, "BLOCK")) {
          IndexBlock();
        } else if (IsGroup(9, "$EXTMIN") || IsGroup(9, "$EXTMAX")) {
          ReadExtent(IsGroup(9, "$EXTMAX"));
          // A reader that stopped on a new variable or a code-0 group leaves
          // it to be examined here.
          if (IsGroup(0) || IsGroup(9)) continue;
        } else if (IsGroup(2, "ENTITIES")) {
          entities = true;
          break;
        }
        ReadGroup();
      }
      CompleteLayerFilter();
      ChooseInputCodePage();
      if (entities) ReadEntities();
      ClipToHeader();
    } catch (const T_busyFailure& f) {
      busyError = f.error;
    } catch (...) {
      failed = true;
    }

    // Whatever happened: the layer counts as unchanged, the busy state ends,
    // and nothing of the file stays open.
    CloseBlockArena();
    const int64_t itemsRead = reader_.ItemsRead();
    SetModified(false);
    if (viewer != nullptr) {
      try {
        viewer->BusyRelease(this);
      } catch (...) {
        if (!busyError && !failed) busyError = std::current_exception();
      }
    }
    FreeLoadState();
    if (busyError) std::rethrow_exception(busyError);
    if (failed) {
      throw EGIS_Exception(GIS_RS_ERR_TXTFILESTRUCT, Path(),
                           static_cast<int32_t>(std::min<int64_t>(
                               itemsRead, std::numeric_limits<int32_t>::max())));
    }
  }

  double modified = 0;
  if (!Path().empty() && FileModificationTime(Path(), modified)) SetOpenTime(modified);
  SetDescription("Autocad Export (" + versionText_ + " DXF)");
  newFilePath_.clear();
}

void TGIS_LayerDXF::ReserveShapeRoom(int64_t bytes) {
  const auto entities = static_cast<std::size_t>(std::max<int64_t>(bytes, 0) / kBytesPerEntity);
  shapes_.reserve(shapes_.size() + entities);
  styles_.reserve(styles_.size() + entities);
}

namespace {

int64_t PageSize() {
  static const int64_t size = ::sysconf(_SC_PAGESIZE) > 0 ? ::sysconf(_SC_PAGESIZE) : 4096;
  return size;
}

}  // namespace

int64_t TGIS_LayerDXF::PageAfter(int64_t position) {
  const int64_t page = PageSize();
  return (std::max<int64_t>(position, 0) + page - 1) / page * page;
}

void TGIS_LayerDXF::ReleasePagesBehind(int64_t position, int64_t& released) const {
  const char* const base = stream_ != nullptr ? stream_->Memory() : nullptr;
  const int64_t keep = position - kReleaseBehind;
  if (base == nullptr || keep - released < kReleaseStep) return;
  const int64_t upTo = keep / PageSize() * PageSize();
  ::madvise(const_cast<char*>(base) + released, static_cast<std::size_t>(upTo - released),
            MADV_DONTNEED);
  released = upTo;
}

void TGIS_LayerDXF::ReleasePages(int64_t from, int64_t to) const {
  const char* const base = stream_ != nullptr ? stream_->Memory() : nullptr;
  const int64_t first = PageAfter(from);
  const int64_t last = std::min(to, stream_ != nullptr ? stream_->Size() : 0) / PageSize() * PageSize();
  if (base == nullptr || last <= first) return;
  ::madvise(const_cast<char*>(base) + first, static_cast<std::size_t>(last - first), MADV_DONTNEED);
}

// Texts of a drawing before release 2007 (AC1021) are in the code page its
// $DWGCODEPAGE names, with \U+XXXX escapes for characters outside it; from
// release 2007 on they are UTF-8. A code page set on the layer wins.
void TGIS_LayerDXF::ChooseInputCodePage() {
  const bool unicode = !versionCode_.empty() && versionCode_ >= "AC1021";
  decodeEscapes_ = !unicode;
  if (CodePage() >= 0) {
    inputCodePage_ = EffectiveCodePage();
  } else if (unicode) {
    inputCodePage_ = kCodePageUTF8;
  } else if (drawingCodePage_ > 0) {
    inputCodePage_ = drawingCodePage_;
  } else {
    inputCodePage_ = EffectiveCodePage();
  }
}

void TGIS_LayerDXF::ReadVersion() {
  ReadGroup();
  const std::string_view v = GroupValue();
  versionCode_.assign(TrimBlanks(v));
  if (v == "AC1006") {
    versionText_ = "R10";
  } else if (v == "AC1009") {
    versionText_ = "R11 or R12";
  } else if (v == "AC1012") {
    versionText_ = "R13";
  } else if (v == "AC1014") {
    versionText_ = "R14";
  } else if (v == "AC1015") {
    versionText_ = "AutoCAD 2000";
  } else if (v == "AC1018") {
    versionText_ = "AutoCAD 2004";
  } else {
    versionText_ = "Unknown";
  }
  if (IsBinary()) versionText_ += " binary";
}

// ---- header -------------------------------------------------------------------

void TGIS_LayerDXF::ReadExtMin() { ReadExtent(false); }

void TGIS_LayerDXF::ReadExtMax() { ReadExtent(true); }

void TGIS_LayerDXF::ReadExtent(bool maximum) {
  double& x = maximum ? headerExtent_.XMax : headerExtent_.XMin;
  double& y = maximum ? headerExtent_.YMax : headerExtent_.YMin;
  double& z = maximum ? headerExtent_.ZMax : headerExtent_.ZMin;
  for (;;) {
    ReadGroup();
    if (AtEnd() || IsGroup(0) || IsGroup(9)) return;
    switch (GroupCode()) {
      case 10: x = ValueFloat(); break;
      case 20: y = ValueFloat(); break;
      case 30: z = ValueFloat(); return;
      default: break;
    }
  }
}

// ---- tables -------------------------------------------------------------------

int32_t TGIS_LayerDXF::LineTypeDescriptionClass(std::string_view description) {
  TGIS_Tokenizer tokenizer;
  tokenizer.Tokenize(description, " ");
  const std::vector<std::string>& t = tokenizer.Items();
  int32_t cls = 0;
  if (t.empty()) return cls;
  if ((t[0] == "Dash" || t[0] == "Dashed") && t.size() >= 2) cls = t[1] == "dot" ? 2 : 1;
  if (!t[0].empty() && t[0][0] == '_') cls = 2;
  if (t[0] == "Hidden" || (!t[0].empty() && t[0][0] == '.')) cls = 4;
  if (t[0] == "ISO" && t.size() >= 3 && (t[1] == "long-dash" || t[1] == "dash")) {
    cls = t[2] == "dot" ? 2 : t[2] == "double-dot" ? 3 : 1;
  }
  return cls;
}

void TGIS_LayerDXF::ReadTables() {
  while (!AtEnd() && !IsGroup(0, "SECTION") && !IsGroup(0, "ENDSEC")) {
    if (IsGroup(0, "LAYER")) {
      // All entries of the table in one run; the variables carry over.
      std::string name;
      int32_t color = 0;
      int32_t cls = 0;
      int32_t weight = 0;
      int32_t visible = 1;
      ReadGroup();
      while (!AtEnd() && !IsGroup(0, "ENDTAB")) {
        switch (GroupCode()) {
          case 2:
            name.assign(GroupValue());
            break;
          case 62:
            if (!ValueBlank()) {
              color = ValueInt();
              layerColors_.Add(name, color);
            }
            break;
          case 70:
            if (!ValueBlank()) {
              visible = (ValueInt() & 1) != 0 ? 0 : 1;  // bit 1: frozen
              layerVisibility_.Add(name, visible);
            }
            break;
          case 6:
            if (!ValueBlank()) {
              if (const int32_t* c = lineTypeClasses_.Find(GroupValue())) cls = *c;
              layerLineTypes_.Add(name, cls);
            }
            break;
          case 370:
            if (!ValueBlank()) {
              weight = ValueInt();
              layerLineWeights_.Add(name, weight);
            }
            break;
          default:
            break;
        }
        ReadGroup();
      }
      ReadGroup();
      continue;
    }
    if (IsGroup(0, "LTYPE")) {
      // One entry, up to the next code-0 group (examined by this loop).
      std::string name;
      std::string description;
      int32_t elements = 0;
      ReadGroup();
      while (!AtEnd() && !IsGroup(0)) {
        switch (GroupCode()) {
          case 2: name.assign(GroupValue()); break;
          case 3: description.assign(GroupValue()); break;
          case 73:
            if (!ValueBlank()) elements = ValueInt();  // a blank value is ignored
            break;
          default: break;  // pattern elements are not used
        }
        ReadGroup();
      }
      lineTypeClasses_.Add(name, !name.empty() && elements > 0
                                     ? LineTypeDescriptionClass(description)
                                     : 0);
      continue;
    }
    ReadGroup();
  }
}

void TGIS_LayerDXF::CompleteLayerFilter() {
  if (layerFilter_.Empty()) {
    for (const auto& [name, value] : layerVisibility_.Items()) layerFilter_.Add(name, value);
  }
  if (!layerFilter_.Empty()) layerFilter_.Add("0", 1);
}

bool TGIS_LayerDXF::LayerInFilter(std::string_view name) {
  const int32_t* v = layerFilter_.Find(name);
  foundInFilter_ = v != nullptr;
  return v != nullptr && *v == 1;
}

bool TGIS_LayerDXF::LayerIsVisible(std::string_view name) {
  if (layerVisibility_.Empty()) return true;
  const int32_t* v = layerVisibility_.Find(name);
  if (v == nullptr) return true;  // a layer missing from the table is visible
  const bool inFilter = LayerInFilter(name);
  if (foundInFilter_) return inFilter;
  return *v != 0;
}

bool TGIS_LayerDXF::LayerIsOff(std::string_view name) {
  const int32_t* v = layerVisibility_.Find(name);
  if (v == nullptr || *v == 1) return false;
  return !LayerInFilter(name) && foundInFilter_;
}

void TGIS_LayerDXF::ClipToHeader() {
  if (!clipToHeaderExtent_ || IsNullBounds3D(headerExtent_)) return;
  const TGIS_Bounds extent =
      MakeBounds(headerExtent_.XMin, headerExtent_.YMin, headerExtent_.XMax, headerExtent_.YMax);
  SetExtent(extent);
  for (std::size_t i = shapes_.size(); i-- > 0;) {
    if (!BoundsOverlap(shapes_[i]->Extent(), extent)) shapes_.erase(shapes_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

// ---- style ---------------------------------------------------------------------

TGIS_DxfShapeStyle* TGIS_LayerDXF::EntityStyle() {
  if (entityShape_ == nullptr || entityShape_->Uid() < 0) return nullptr;
  const auto uid = static_cast<std::size_t>(entityShape_->Uid());
  if (styles_.size() <= uid) styles_.resize(std::max(uid + 1, styles_.size() * 3 / 2));
  return &styles_[uid];
}

const TGIS_DxfShapeStyle* TGIS_LayerDXF::ShapeStyle(std::int32_t uid) const {
  if (uid < 0 || static_cast<std::size_t>(uid) >= styles_.size()) return nullptr;
  const TGIS_DxfShapeStyle& s = styles_[static_cast<std::size_t>(uid)];
  return s.Styled || s.ShowsLabel ? &s : nullptr;
}

void TGIS_LayerDXF::ApplyColor(std::optional<std::string_view> layerName, int32_t colorNumber) {
  if (entityShape_ == nullptr) return;
  int32_t number = colorNumber;
  if (layerName) {
    if (const int32_t* c = layerColors_.Find(*layerName)) number = *c;
  } else if (number == 256) {
    // BYLAYER: the drawing layer's colour (7 when the table gives none).
    const int32_t* c = layerColors_.Find(entityLayer_);
    number = c != nullptr ? *c : 7;
  }
  if (static_cast<uint32_t>(number) >= 256) {
    entityShape_->SetHidden(true);
  } else if (TGIS_DxfShapeStyle* style = EntityStyle()) {
    uint32_t rgb = PaletteColor(number);
    if (backgroundColor_) {
      const uint32_t bg = *backgroundColor_;
      bool close = true;
      for (int shift = 0; shift < 24; shift += 8) {
        const int a = static_cast<int>((rgb >> shift) & 0xFF);
        const int b = static_cast<int>((bg >> shift) & 0xFF);
        if (std::abs(a - b) >= 16) close = false;
      }
      if (close) rgb ^= 0xAAAAAA;
    }
    style->Styled = true;
    switch (entityShape_->ShapeKind()) {
      case TGIS_ShapeKind::Arc:
        style->LineColor = rgb;
        break;
      case TGIS_ShapeKind::Polygon:
        style->LineColor = rgb;
        style->AreaColor = rgb;
        break;
      default:
        style->MarkerColor = rgb;
        style->LabelFontColor = NonZeroColor(rgb);
        break;
    }
    style->PenStyle = TGIS_DxfPenStyle::Solid;
  }
  ApplyLineType(layerName);
}

void TGIS_LayerDXF::ApplyLineType(std::optional<std::string_view> name) {
  if (entityShape_ == nullptr) return;
  int32_t cls = 0;
  if (name) {
    if (const int32_t* c = lineTypeClasses_.Find(*name)) {
      cls = *c;
    } else if (const int32_t* l = layerLineTypes_.Find(*name)) {
      cls = *l;
    }
  }
  const TGIS_ShapeKind kind = entityShape_->ShapeKind();
  if (kind == TGIS_ShapeKind::Arc || kind == TGIS_ShapeKind::Polygon) {
    if (TGIS_DxfShapeStyle* style = EntityStyle()) {
      style->Styled = true;
      style->PenStyle = cls >= 1 && cls <= 4 ? static_cast<TGIS_DxfPenStyle>(cls) : TGIS_DxfPenStyle::Solid;
    }
  }
  ApplyLineWidth(name);
}

void TGIS_LayerDXF::ApplyLineWidth(std::optional<std::string_view> nameOrWeight) {
  if (entityShape_ == nullptr) return;
  const TGIS_ShapeKind kind = entityShape_->ShapeKind();
  if (kind != TGIS_ShapeKind::Arc && kind != TGIS_ShapeKind::Polygon) return;
  // Line weights are hundredths of a millimetre; negative values mean by
  // layer, by block or the default, which give nothing better than 1.
  int64_t weight = 0;
  if (nameOrWeight) {
    if (const int32_t* w = layerLineWeights_.Find(*nameOrWeight)) {
      weight = *w;
    } else if (!TGIS_DxfGroupReader::ParseInteger(*nameOrWeight, weight)) {
      weight = 0;
    } else if (weight == -1) {
      // BYLAYER: the weight of the entity's drawing layer.
      const int32_t* w = layerLineWeights_.Find(entityLayer_);
      weight = w != nullptr ? *w : 0;
    }
  }
  int32_t width = 1;
  if (weight > 0) {
    width = static_cast<int32_t>(std::lround(static_cast<double>(std::min<int64_t>(weight, 10000)) *
                                             kPixelsPerWeightUnit));
    width = std::max(width, 1);
  }
  if (TGIS_DxfShapeStyle* style = EntityStyle()) {
    style->Styled = true;
    style->PenWidth = width;
  }
}

// ---- enumeration style rule -------------------------------------------------------

// The layer's own style applies when the user turned file parameters off: the
// styles given during the load are then dropped.
void TGIS_LayerDXF::StartScan(const TGIS_Bounds& extent, const std::string& query,
                              TGIS_Shape* relationShape, const std::string& relationPattern,
                              bool skipDeleted) {
  layerStyleUnchanged_ = UseFileParams();
  if (!layerStyleUnchanged_ && previousLayerStyleUnchanged_) {
    for (TGIS_DxfShapeStyle& style : styles_) style = TGIS_DxfShapeStyle();
  }
  previousLayerStyleUnchanged_ = layerStyleUnchanged_;
  TGIS_LayerVector::StartScan(extent, query, relationShape, relationPattern, skipDeleted);
}

TGIS_Shape* TGIS_LayerDXF::ShapeByUid(std::int32_t uid) {
  layerStyleUnchanged_ = UseFileParams();
  if (!layerStyleUnchanged_ && uid >= 0 && static_cast<std::size_t>(uid) < styles_.size()) {
    styles_[static_cast<std::size_t>(uid)] = TGIS_DxfShapeStyle();
  }
  return TGIS_LayerVector::ShapeByUid(uid);
}

}  // namespace cadport
