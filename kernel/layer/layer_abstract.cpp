#include "kernel/layer/layer_abstract.h"

#include <sys/time.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "kernel/base/exception.h"
#include "kernel/base/units.h"
#include "kernel/base/utils.h"
#include "kernel/config/config.h"
#include "kernel/config/params_section.h"
#include "kernel/layer/viewer.h"

namespace cadport {

namespace {

// An extent with a coordinate beyond this is taken as corrupt.
constexpr double kMaxExtentCoordinate = 1e100;
// Number of steps of the walk along each side in RecalcProjectedExtent.
constexpr int kSideSteps = 72;

std::int32_t Clamp100(std::int32_t value) { return std::clamp<std::int32_t>(value, 0, 100); }

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The bounding box of the corners and side middles of b, each converted.
template <class Convert>
TGIS_Bounds EightPointBox(const TGIS_Bounds& b, Convert convert) {
  const double xm = b.XMin + (b.XMax - b.XMin) / 2;
  const double ym = b.YMin + (b.YMax - b.YMin) / 2;
  const TGIS_Coord pts[8] = {{b.XMin, b.YMin}, {b.XMax, b.YMin}, {b.XMax, b.YMax},
                             {b.XMin, b.YMax}, {xm, b.YMin},     {b.XMax, ym},
                             {xm, b.YMax},     {b.XMin, ym}};
  const TGIS_Coord first = convert(pts[0]);
  TGIS_Bounds box{first.X, first.Y, first.X, first.Y};
  for (int i = 1; i < 8; ++i) {
    const TGIS_Coord p = convert(pts[i]);
    box.XMin = MinOf(box.XMin, p.X);
    box.XMax = MaxOf(box.XMax, p.X);
    box.YMin = MinOf(box.YMin, p.Y);
    box.YMax = MaxOf(box.YMax, p.Y);
  }
  return box;
}

}  // namespace

TGIS_LayerAbstract::TGIS_LayerAbstract() { params_.push_back(CreateParamsSection()); }

// Attached layers are owned by their viewer, which takes them out of its list
// before releasing them; nothing links back here.
TGIS_LayerAbstract::~TGIS_LayerAbstract() = default;

std::unique_ptr<TGIS_ParamsSection> TGIS_LayerAbstract::CreateParamsSection() {
  return std::make_unique<TGIS_ParamsSection>();
}

// ---- virtual operations ------------------------------------------------------

void TGIS_LayerAbstract::SetExtent(const TGIS_Bounds& bounds) {
  if (BoundsEqual(bounds, extent_)) return;
  extent_ = bounds;
  projectedExtent_ = bounds;
  if (viewer_ != nullptr && !extentLocked_) viewer_->UpdateExtent();
}

void TGIS_LayerAbstract::Setup() {
  openTime_ = LocalNow();
  if (useConfigFile_) SetConfigName(configName_);
}

void TGIS_LayerAbstract::SetupFinish() {}

void TGIS_LayerAbstract::ReadProjectionConfig(TGIS_Ini& config) {
  TGIS_Units units = units_ ? *units_ : TGIS_Units();
  if (config.ReadUnits("Units", units)) SetUnits(units);
}

void TGIS_LayerAbstract::ReadConfig(TGIS_Ini& config) {
  caption_ = config.ReadString("Caption", caption_);
  comments_ = config.ReadString("Comments", comments_);
  active_ = config.ReadBoolean("Active", active_);
  hideFromLegend_ = config.ReadBoolean("HideFromLegend", hideFromLegend_);
  useFileParams_ = config.ReadBoolean("UseFileParams", useFileParams_);
  cachedPaint_ = config.ReadBoolean("CachedPaint", cachedPaint_);
  incrementalPaint_ = config.ReadBoolean("IncrementalPaint", incrementalPaint_);
  SetTransparency(config.ReadInteger("Transparency", transparency_));
  SetAddition(config.ReadInteger("Addition", addition_));
  dormantMode_ = static_cast<std::uint8_t>(
      std::clamp<std::int32_t>(config.ReadInteger("DormantMode", dormantMode_), 0, 255));
  codePage_ = config.ReadInteger("CodePage", EffectiveCodePage());
  outCodePage_ = config.ReadInteger("OutCodePage", EffectiveOutCodePage());
  charSet_ = config.ReadCharSet("CharSet", EffectiveCharSet());
}

void TGIS_LayerAbstract::ReadParamsSection(TGIS_Ini& config) {
  CurrentParams().LoadFromConfig(config);
}

void TGIS_LayerAbstract::WriteConfig(TGIS_Ini& config) {
  config.WriteString("Caption", caption_);
  config.WriteString("Comments", comments_);
  config.WriteBoolean("Active", active_);
  config.WriteBoolean("HideFromLegend", hideFromLegend_);
  config.WriteBoolean("CachedPaint", cachedPaint_);
  config.WriteBoolean("IncrementalPaint", incrementalPaint_);
  config.WriteInteger("Transparency", transparency_);
  config.WriteInteger("Addition", addition_);
  config.WriteInteger("DormantMode", dormantMode_);
  config.WriteInteger("CodePage", EffectiveCodePage());
  config.WriteInteger("OutCodePage", EffectiveOutCodePage());
  if (units_) config.WriteUnits("Units", *units_);
  config.WriteCharSet("CharSet", EffectiveCharSet());
}

void TGIS_LayerAbstract::WriteParamsSection(TGIS_Ini& config) {
  CurrentParams().SaveToConfig(config);
}

void TGIS_LayerAbstract::ReadAllSections(TGIS_Ini& config, bool resetFirst) {
  if (resetFirst) ResetParams();
  config.BindLayer(name_);
  config.SelectSection(0);
  ReadConfig(config);
  ReadParamsSection(config);
  for (std::int32_t i = 1; i < config.SectionCount(); ++i) {
    if (i == 1 && !resetFirst) ResetParams();
    AddParams();
    config.SelectSection(i);
    ReadParamsSection(config);
  }
}

void TGIS_LayerAbstract::ApplyConfig() {
  if (!config_) return;
  ReadAllSections(*config_, true);
  if (viewer_ != nullptr && viewer_->ProjectConfig() != nullptr) {
    // The project's settings override the layer's own file.
    ReadAllSections(*viewer_->ProjectConfig(), false);
  }
}

void TGIS_LayerAbstract::ReloadConfig() {
  if (!config_) return;
  config_->Reload();
  ApplyConfig();
}

void TGIS_LayerAbstract::WriteAllSections(TGIS_Ini& config) {
  const std::int32_t formerCurrent = currentParams_;
  config.BindLayer(name_);
  config.ClearExtraSections();
  config.SelectSection(0);
  WriteConfig(config);
  for (std::int32_t i = 0; i < ParamsCount(); ++i) {
    config.SelectSection(i);
    currentParams_ = i;
    WriteParamsSection(config);
  }
  currentParams_ = formerCurrent;
}

void TGIS_LayerAbstract::SaveConfig() {
  TGIS_Ini* target = nullptr;
  if (paramsInProject_) {
    if (viewer_ != nullptr) target = viewer_->ProjectConfig();
  } else {
    target = config_.get();
  }
  if (target != nullptr) WriteAllSections(*target);
}

void TGIS_LayerAbstract::RevertAll() {
  throw EGIS_Exception(GIS_RS_ERR_ABSTRACT_METHOD, "RevertAll");
}

void TGIS_LayerAbstract::SaveData() {}

void TGIS_LayerAbstract::SaveAll() {
  if (config_ && !configName_.empty() && config_->Modified()) config_->Save();
  if (modified_) SaveData();
}

bool TGIS_LayerAbstract::IsModified() {
  return modified_ || (config_ && !configName_.empty() && config_->Modified());
}

void TGIS_LayerAbstract::RecalcExtent() {}

void TGIS_LayerAbstract::RecalcProjectedExtent() {
  // Without units or rotation the conversion is the identity; the walk below
  // would find Extent again, and this runs on every extent change.
  if (viewer_ == nullptr || IsNullBounds(extent_) || !ConvertsCoordinates()) {
    projectedExtent_ = extent_;
    return;
  }
  auto toMap = [this](const TGIS_Coord& p) { return LayerToMap(p); };
  TGIS_Bounds box = EightPointBox(extent_, toMap);

  const double w = (extent_.XMax - extent_.XMin) / kSideSteps;
  const double h = (extent_.YMax - extent_.YMin) / kSideSteps;
  if (w > 0 && h > 0) {
    auto widen = [&box, &toMap](double x, double y) {
      const TGIS_Coord p = toMap(TGIS_Coord{x, y});
      if (p.X < box.XMin) {
        box.XMin = p.X;
      } else if (p.X > box.XMax) {
        box.XMax = p.X;
      }
      if (p.Y < box.YMin) {
        box.YMin = p.Y;
      } else if (p.Y > box.YMax) {
        box.YMax = p.Y;
      }
    };
    for (int k = 0; k < kSideSteps; ++k) widen(extent_.XMin + k * w, extent_.YMin);
    for (int k = 0; k < kSideSteps; ++k) widen(extent_.XMin + k * w, extent_.YMax);
    for (int k = 0; k < kSideSteps; ++k) widen(extent_.XMin, extent_.YMin + k * h);
    for (int k = 0; k < kSideSteps; ++k) widen(extent_.XMax, extent_.YMin + k * h);
  }
  projectedExtent_ = box;
}

void TGIS_LayerAbstract::LockExtent() { extentLocked_ = true; }

void TGIS_LayerAbstract::UnlockExtent() {
  if (viewer_ != nullptr) viewer_->UpdateExtent();
  extentLocked_ = false;
}

void TGIS_LayerAbstract::ApplyUseRTree() {}

// ---- open ----------------------------------------------------------------------

void TGIS_LayerAbstract::Open() {
  if (opened_) return;
  // Set first: a failed open is not retried by a later AttachLayer.
  opened_ = true;

  // The data folder is resolved here once, and Path made absolute, instead
  // of changing the process's current directory for the duration.
  dataFolder_.clear();
  if (!path_.empty() && path_.find("://") == std::string::npos) {
    const std::string absolute = ExpandPath({}, path_);
    const std::filesystem::path folder = std::filesystem::path(absolute).parent_path();
    std::error_code ec;
    if (!folder.empty() && std::filesystem::is_directory(folder, ec)) {
      path_ = absolute;
      dataFolder_ = folder.string();
    }
  }

  if (configName_.empty()) configName_ = path_;

  Setup();
  SetupFinish();

  if (!IsNullBounds(extent_)) {
    if (std::fabs(extent_.XMin) > kMaxExtentCoordinate ||
        std::fabs(extent_.YMin) > kMaxExtentCoordinate ||
        std::fabs(extent_.XMax) > kMaxExtentCoordinate ||
        std::fabs(extent_.YMax) > kMaxExtentCoordinate) {
      throw EGIS_Exception(GIS_RS_ERR_LAYERBADEXTENT, name_);
    }
  }
  // Null (NaN included) or degenerate: let the data compute it.
  if (!(extent_.XMin < extent_.XMax && extent_.YMin < extent_.YMax)) RecalcExtent();

  if (config_) {
    config_->BindLayer(name_);
    config_->SelectSection(0);
    ReadProjectionConfig(*config_);
  }
  ApplyConfig();
  ApplyUseRTree();
}

// ---- non-virtual operations ------------------------------------------------------

void TGIS_LayerAbstract::SetName(const std::string& name) {
  if (name == name_) return;
  if (viewer_ != nullptr && viewer_->FindLayer(name) != nullptr) {
    throw EGIS_Exception(GIS_RS_ERR_LAYEREXIST, name);
  }
  name_ = name;
}

void TGIS_LayerAbstract::SetTransparency(std::int32_t value) { transparency_ = Clamp100(value); }

void TGIS_LayerAbstract::SetAddition(std::int32_t value) { addition_ = Clamp100(value); }

std::int32_t TGIS_LayerAbstract::EffectiveCodePage() const {
  if (codePage_ >= 0) return codePage_;
  if (viewer_ != nullptr) return viewer_->CodePage();
  return SystemCodePage();
}

std::int32_t TGIS_LayerAbstract::EffectiveOutCodePage() const {
  if (outCodePage_ >= 0) return outCodePage_;
  if (viewer_ != nullptr) return viewer_->OutCodePage();
  return SystemCodePage();
}

std::int32_t TGIS_LayerAbstract::EffectiveCharSet() const {
  if (charSet_ >= 0) return charSet_;
  if (viewer_ != nullptr) return viewer_->CharSet();
  return 1;
}

void TGIS_LayerAbstract::SetConfigName(const std::string& name) {
  const std::string_view trimmed = TrimText(name);
  if (config_ && SameTextNoCase(trimmed, TrimText(configName_))) return;
  configName_ = std::string(trimmed);
  config_.reset();
  if (configName_.empty()) configName_ = "_DUMMY";
  config_ = std::make_unique<TGIS_Ini>(configName_ + ".ini");
  config_->BindLayer(name_);
}

bool TGIS_LayerAbstract::InterruptCheck() {
  return viewer_ != nullptr && viewer_->HourglassShake();
}

void TGIS_LayerAbstract::SetUnits(const TGIS_Units& units) {
  units_ = std::make_unique<TGIS_Units>(units);
}

void TGIS_LayerAbstract::ClearUnits() { units_.reset(); }

void TGIS_LayerAbstract::SetCurrentParamsIndex(std::int32_t index) {
  if (index < 0 || index >= ParamsCount()) {
    throw EGIS_Exception(GIS_RS_ERR_BAD_CALL, "SetCurrentParamsIndex", index);
  }
  currentParams_ = index;
}

void TGIS_LayerAbstract::ResetParams() {
  params_.clear();
  params_.push_back(CreateParamsSection());
  currentParams_ = 0;
}

void TGIS_LayerAbstract::AddParams() {
  params_.push_back(CreateParamsSection());
  currentParams_ = ParamsCount() - 1;
}

// ---- coordinate conversion -------------------------------------------------------

bool TGIS_LayerAbstract::ScalesUnits() const {
  // A factor that is not positive cannot scale coordinates; such units are
  // treated as not set rather than dividing by zero.
  return viewer_ != nullptr && units_ && viewer_->Units() != nullptr &&
         units_->Factor() > 0 && viewer_->Units()->Factor() > 0;
}

bool TGIS_LayerAbstract::ConvertsCoordinates() const {
  return viewer_ != nullptr && (ScalesUnits() || viewer_->RotationAngle() != 0);
}

TGIS_Coord TGIS_LayerAbstract::LayerToMap(const TGIS_Coord& point) const {
  if (!ConvertsCoordinates()) return point;
  TGIS_Coord p = point;
  if (ScalesUnits()) {
    // Coordinate systems would convert here (layer -> geographic -> map);
    // this kernel has none, so only the unit factors apply.
    const double layerFactor = units_->Factor();
    const double mapFactor = viewer_->Units()->Factor();
    p.X = p.X * layerFactor / mapFactor;
    p.Y = p.Y * layerFactor / mapFactor;
  }
  if (viewer_->RotationAngle() != 0) {
    p = CoordRotate(viewer_->RotationPoint(), p, viewer_->RotationAngle());
  }
  return p;
}

TGIS_Coord TGIS_LayerAbstract::MapToLayer(const TGIS_Coord& point) const {
  if (!ConvertsCoordinates()) return point;
  TGIS_Coord p = point;
  if (viewer_->RotationAngle() != 0) {
    p = CoordRotate(viewer_->RotationPoint(), p, -viewer_->RotationAngle());
  }
  if (ScalesUnits()) {
    const double mapFactor = viewer_->Units()->Factor();
    const double layerFactor = units_->Factor();
    p.X = p.X * mapFactor / layerFactor;
    p.Y = p.Y * mapFactor / layerFactor;
  }
  return p;
}

TGIS_Bounds TGIS_LayerAbstract::ExtentToMap(const TGIS_Bounds& bounds) const {
  // A null extent has no corners to convert (its "corners" would make a
  // valid box), and the unbounded one would overflow: both stay as they are.
  if (IsNullBounds(bounds) || IsUnbounded(bounds) || !ConvertsCoordinates()) return bounds;
  return EightPointBox(bounds, [this](const TGIS_Coord& p) { return LayerToMap(p); });
}

TGIS_Bounds TGIS_LayerAbstract::ExtentFromMap(const TGIS_Bounds& bounds) const {
  if (IsNullBounds(bounds) || IsUnbounded(bounds) || !ConvertsCoordinates()) return bounds;
  return EightPointBox(bounds, [this](const TGIS_Coord& p) { return MapToLayer(p); });
}

// ---- time ------------------------------------------------------------------------

double TGIS_LayerAbstract::LocalNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  const std::time_t seconds = tv.tv_sec;
  std::tm local{};
  localtime_r(&seconds, &local);
  // Serial dates count days from 1899-12-30.
  const std::int64_t days =
      DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                    static_cast<unsigned>(local.tm_mday)) -
      DaysFromCivil(1899, 12, 30);
  const double dayFraction =
      (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + tv.tv_usec / 1e6) / 86400.0;
  return static_cast<double>(days) + dayFraction;
}

}  // namespace cadport
