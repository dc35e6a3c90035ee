#include "kernel/layer/viewer.h"

#include <algorithm>
#include <cmath>

#include "kernel/base/exception.h"
#include "kernel/base/units.h"
#include "kernel/base/utils.h"
#include "kernel/config/config.h"
#include "kernel/layer/layer_abstract.h"

namespace cadport {

namespace {

constexpr double kMaxZoom = 1e10;
// The full zoom wins over a requested zoom more than 1 % below it.
constexpr double kZoomOutTolerance = 1.01;
// Busy cursor and Esc polling intervals.
constexpr std::uint32_t kHourglassDelayMs = 500;
// TickCount wraps modulo 2^31 - 1.
constexpr std::uint32_t kTickModulus = 0x7FFFFFFFu;

std::uint32_t TicksSince(std::uint32_t start) {
  const std::uint32_t now = TickCount();
  return now >= start ? now - start : now + (kTickModulus - start);
}

// size shrunk by percent, rounded to the nearest whole number, ties to even
// (exact: integer arithmetic).
std::int64_t ShrinkRoundHalfEven(std::int64_t size, std::int32_t percent) {
  const std::int64_t num = size * (100 - percent);
  std::int64_t q = num / 100;
  const std::int64_t r = num % 100;
  if (r > 50 || (r == 50 && (q % 2) != 0)) ++q;
  return q;
}

}  // namespace

TGIS_Viewer::TGIS_Viewer() : codePage_(SystemCodePage()), outCodePage_(SystemCodePage()) {}

TGIS_Viewer::TGIS_Viewer(const TGIS_ViewerBitmap& bitmap) : TGIS_Viewer() {
  drawTarget_ = TGIS_DrawTarget::Bitmap;
  bitmap_ = bitmap;
}

TGIS_Viewer::~TGIS_Viewer() {
  releasing_ = true;
  ReleaseLayers();
  projectName_.clear();
  projectConfig_.reset();
}

// ---- layers ----------------------------------------------------------------------

void TGIS_Viewer::ReleaseLayers() noexcept {
  // Last attached first: a layer may refer to layers attached before it.
  while (!layers_.empty()) {
    std::unique_ptr<TGIS_LayerAbstract> layer = std::move(layers_.back());
    layers_.pop_back();
    layer.reset();
  }
}

void TGIS_Viewer::Clear() {
  ReleaseLayers();
  projectName_.clear();
  projectConfig_.reset();
  // Nothing is drawn, so there is no control to update.
}

TGIS_LayerAbstract* TGIS_Viewer::FindLayer(const std::string& name) const {
  for (const auto& layer : layers_) {
    if (SameTextNoCase(layer->Name(), name)) return layer.get();
  }
  return nullptr;
}

std::string TGIS_Viewer::UniqueLayerName(const std::string& path) const {
  const std::string base = BaseName(path);
  if (FindLayer(base) == nullptr) return base;
  for (std::int32_t n = 1;; ++n) {
    std::string name = base + " [" + std::to_string(n) + "]";
    if (FindLayer(name) == nullptr) return name;
  }
}

TGIS_LayerAbstract* TGIS_Viewer::AttachLayer(std::unique_ptr<TGIS_LayerAbstract> layer) {
  if (!layer) throw EGIS_Exception(GIS_RS_ERR_BAD_CALL, "AttachLayer");
  TGIS_LayerAbstract& l = *layer;
  // Set before opening: the layer reports progress and takes the viewer's
  // code pages while it reads.
  l.SetViewer(this);
  if (!l.Opened()) l.Open();
  if (l.Name().empty()) l.SetName(UniqueLayerName(l.Path()));
  if (l.Caption().empty()) l.SetCaption(l.Name());
  if (FindLayer(l.Name()) != nullptr) throw EGIS_Exception(GIS_RS_ERR_LAYEREXIST, l.Name());

  layers_.push_back(std::move(layer));
  if (projectConfig_) {
    projectConfig_->BindLayer(l.Name());
    projectConfig_->SelectSection(0);
    l.ReadProjectionConfig(*projectConfig_);
  }
  UpdateExtent();
  l.ApplyConfig();
  l.ApplyUseRTree();
  return &l;
}

// ---- extent and view --------------------------------------------------------------

void TGIS_Viewer::UpdateExtent() {
  const TGIS_Bounds old = extent_;
  const bool hadExtent = !IsNullBounds(old);
  const TGIS_Coord remembered = hadExtent ? PixelToMap(0, 0) : TGIS_Coord{0, 0};

  TGIS_Bounds ext = NullBounds();
  for (const auto& layer : layers_) {
    layer->RecalcProjectedExtent();
    if (!IsNullBounds(layer->ProjectedExtent())) ext = BoundsUnion(ext, layer->ProjectedExtent());
  }
  extent_ = BoundsIntersection(restrictedExtent_, ext);

  if (!BoundsEqual(extent_, old)) {
    if (hadExtent) {
      offsetX_ += extent_.XMin - old.XMin;
      offsetY_ += old.YMax - extent_.YMax;
    } else {
      // No earlier view to keep: start at the extent's top left corner.
      offsetX_ = 0;
      offsetY_ = 0;
    }
    if (OnExtentChange) OnExtentChange(this);
  }

  if (hadExtent && !IsNullBounds(extent_)) {
    // Keep the map point under pixel (0, 0) where it was.
    const TGIS_Coord current = PixelToMap(0, 0);
    const double newX = remembered.X - current.X + offsetX_;
    const double newY = current.Y - remembered.Y + offsetY_;
    if (newX != offsetX_ || newY != offsetY_) {
      offsetX_ = newX;
      offsetY_ = newY;
      redrawPending_ = true;
    }
  }
}

TGIS_Coord TGIS_Viewer::PixelToMap(double px, double py) const {
  if (!(zoom_ > 0)) return TGIS_Coord{0, 0};
  const double edgeX = marginLeft_ + borderWidth_;
  const double edgeY = marginTop_ + borderWidth_;
  return TGIS_Coord{(px - edgeX) / zoom_ + offsetX_ + extent_.XMin,
                    extent_.YMax - ((py - edgeY) / zoom_ + offsetY_)};
}

void TGIS_Viewer::FitTarget(double& width, double& height) const {
  width = bitmap_.Width;
  height = bitmap_.Height;
  if (bigExtentMargin_ < 0) {
    width = static_cast<double>(ShrinkRoundHalfEven(bitmap_.Width, -bigExtentMargin_));
    height = static_cast<double>(ShrinkRoundHalfEven(bitmap_.Height, -bigExtentMargin_));
  }
}

double TGIS_Viewer::FullZoom() const {
  if (IsNullBounds(extent_)) return 1;
  double w = extent_.XMax - extent_.XMin;
  double h = extent_.YMax - extent_.YMin;
  if (bigExtentMargin_ >= 1) {
    w += w * bigExtentMargin_ / 100.0;
    h += h * bigExtentMargin_ / 100.0;
  }
  double width = 0;
  double height = 0;
  FitTarget(width, height);
  if (!layers_.empty() && width >= 1 && height >= 1 && w > 0 && h > 0) {
    return std::min(width / w, height / h);
  }
  return 1;
}

void TGIS_Viewer::SetZoom(double zoom) {
  // A zoom that is not a positive number would make every pixel map to
  // nowhere (and divide by zero); refuse it.
  if (!(zoom > 0)) throw EGIS_Exception(GIS_RS_ERR_BAD_CALL, "SetZoom");
  double z = std::min(zoom, kMaxZoom);
  const double before = zoom_;
  if (layers_.empty()) {
    zoom_ = z;
  } else {
    const double full = FullZoom();
    if (RestrictedDrag() && full > kZoomOutTolerance * z) z = full;
    offsetX_ = 0;
    offsetY_ = 0;
    zoom_ = z;
    Recenter();
  }
  if (zoom_ != before && OnZoomChange) OnZoomChange(this);
}

void TGIS_Viewer::Recenter() {
  if (!(zoom_ > 0) || IsNullBounds(extent_)) return;
  const TGIS_Coord p = PixelToMap(bitmap_.Width / 2, bitmap_.Height / 2);
  const double dx = center_.X - p.X;
  const double dy = p.Y - center_.Y;
  if (dx != 0 || dy != 0) Pan(dx, dy);
}

void TGIS_Viewer::SetCenter(const TGIS_Coord& center) {
  center_ = center;
  Recenter();
}

void TGIS_Viewer::Pan(double dx, double dy) {
  const double targetW = bitmap_.Width;
  const double targetH = bitmap_.Height;
  const double vw = targetW / zoom_;
  const double vh = targetH / zoom_;
  const double ew = extent_.XMax - extent_.XMin;
  const double eh = extent_.YMax - extent_.YMin;

  TGIS_Bounds area = extent_;
  if (bigExtentMargin_ < 0) {
    const double b = -bigExtentMargin_ / 200.0 / zoom_;
    area.XMin -= targetW * b;
    area.XMax += targetW * b;
    area.YMin -= targetH * b;
    area.YMax += targetH * b;
  } else if (bigExtentMargin_ >= 1) {
    const double e = bigExtentMargin_ / 200.0;
    area.XMin = extent_.XMin - (extent_.XMax - extent_.XMin) * e;
    area.XMax = extent_.XMax + (extent_.XMax - area.XMin) * e;
    area.YMin = extent_.YMin - (extent_.YMax - extent_.YMin) * e;
    area.YMax = extent_.YMax + (extent_.YMax - area.YMin) * e;
  }

  if (RestrictedDrag()) {
    if (area.XMax - area.XMin > vw) {
      const double lo = area.XMin - extent_.XMin;
      const double hi = area.XMax - extent_.XMin - vw;
      dx = std::clamp(offsetX_ + dx, lo, hi) - offsetX_;
    } else {
      dx = -(vw - ew) / 2 - offsetX_;
    }
    if (area.YMax - area.YMin > vh) {
      const double lo = area.YMin - extent_.YMin;
      const double hi = area.YMax - extent_.YMin - vh;
      dy = std::clamp(offsetY_ + dy, lo, hi) - offsetY_;
    } else {
      dy = -(vh - eh) / 2 - offsetY_;
    }
  }
  offsetX_ += dx;
  offsetY_ += dy;
  if (drawTarget_ == TGIS_DrawTarget::Window && cachedPaint_) redrawPending_ = true;
}

void TGIS_Viewer::ZoomToAll() {
  if (layers_.empty()) return;
  offsetX_ = 0;
  offsetY_ = 0;
  center_ = BoundsCenter(extent_);
  SetZoom(FullZoom());
}

void TGIS_Viewer::BeginUpdate() { ++updateLock_; }

void TGIS_Viewer::EndUpdate() {
  if (updateLock_ > 0) --updateLock_;
  // The collected redraw would run here; nothing is drawn.
  if (updateLock_ == 0) redrawPending_ = false;
}

// ---- map coordinates ----------------------------------------------------------------

void TGIS_Viewer::SetUnits(const TGIS_Units& units) { units_ = std::make_unique<TGIS_Units>(units); }

void TGIS_Viewer::ClearUnits() { units_.reset(); }

void TGIS_Viewer::SetRotationAngle(double radians) {
  rotationAngle_ = radians;
  rotationSin_ = std::sin(radians);
  rotationCos_ = std::cos(radians);
}

// ---- project ---------------------------------------------------------------------------

void TGIS_Viewer::OpenProject(const std::string& path) {
  auto config = std::make_unique<TGIS_Ini>(path);
  projectConfig_ = std::move(config);
  projectName_ = path;
}

void TGIS_Viewer::CloseProject() {
  projectConfig_.reset();
  projectName_.clear();
}

// ---- busy notifications -------------------------------------------------------------

void TGIS_Viewer::BusyBegin(TGIS_BaseObject* sender) {
  HourglassBegin();
  ++busyLevel_;
  if (!OnBusy) return;
  bool abort = false;  // asked, not heeded: the operation has not started
  try {
    OnBusy(sender, 0, 100, abort);
  } catch (...) {
    // The caller never saw the begin succeed and will not release it.
    --busyLevel_;
    --hourglassLevel_;
    if (hourglassLevel_ == 0) hourglassInterrupt_ = false;
    throw;
  }
}

void TGIS_Viewer::BusyShake(TGIS_BaseObject* sender, std::int32_t position, std::int32_t end,
                            bool& abort) {
  if (busyLevel_ <= 0) throw EGIS_Exception(GIS_RS_ERR_BAD_CALL, "BusyShake");
  HourglassShake();
  if (!OnBusy) return;
  OnBusy(sender, position, end, abort);
  if (abort && abortRaises_) {
    // The user stopped the operation: end it through its error path so that
    // nothing half-done is committed.
    throw EGIS_Exception(GIS_RS_BTN_CANCEL, "BusyShake", position);
  }
}

void TGIS_Viewer::BusyRelease(TGIS_BaseObject* /*sender*/) {
  if (busyLevel_ == 0) throw EGIS_Exception(GIS_RS_ERR_BAD_CALL, "BusyRelease");
  HourglassRelease();
  --busyLevel_;
  if (!OnBusy) return;
  bool abort = false;  // the operation is over: nothing left to stop
  OnBusy(this, -1, -1, abort);
}

// ---- hourglass ------------------------------------------------------------------------------

void TGIS_Viewer::HourglassBegin() {
  if (hourglassLevel_ == 0) {
    // No window: no owner handle and no cursor to remember.
    hourglassCursorTick_ = TickCount();
    hourglassPollTick_ = hourglassCursorTick_;
    hourglassInterrupt_ = false;
  }
  ++hourglassLevel_;
}

bool TGIS_Viewer::HourglassShake() {
  if (hourglassLevel_ <= 0) return hourglassInterrupt_;
  // The busy cursor would be set once kHourglassDelayMs have passed; there
  // is no cursor here.
  if (TicksSince(hourglassPollTick_) > kHourglassDelayMs) {
    hourglassPollTick_ = TickCount();
    // Esc is polled from the parent window's keyboard messages; without a
    // window there are none, so the interrupt flag stays as it is.
  }
  return hourglassInterrupt_;
}

void TGIS_Viewer::HourglassRelease() {
  if (hourglassLevel_ == 0) throw EGIS_Exception(GIS_RS_ERR_BAD_CALL, "HourglassRelease");
  --hourglassLevel_;
  if (hourglassLevel_ == 0) hourglassInterrupt_ = false;
}

// ---- published properties ----------------------------------------------------------------

void TGIS_Viewer::SetBigExtentMargin(std::int32_t value) {
  bigExtentMargin_ = std::clamp<std::int32_t>(value, -50, 50);
}

bool TGIS_Viewer::RestrictedDrag() const {
  return drawTarget_ == TGIS_DrawTarget::Canvas ? false : restrictedDrag_;
}

void TGIS_Viewer::SetIncrementalPaint(bool value) {
  incrementalPaint_ = value;
  if (value) fullPaint_ = true;
}

void TGIS_Viewer::SetFullPaint(bool value) {
  fullPaint_ = value;
  if (!value) incrementalPaint_ = false;
}

void TGIS_Viewer::SetPrinterTileSize(std::int32_t value) {
  printerTileSize_ = std::clamp<std::int32_t>(value, 128, 8192);
}

}  // namespace cadport
