#pragma once

// TGIS_Viewer: the map viewer without a window.
//
// It owns the attached layers (in attachment order), opens and names them as
// they are attached, keeps the combined extent of all layers and the view
// (centre, offsets, zoom), and relays busy notifications of long operations
// to its owner through OnBusy.  Nothing is ever drawn: the viewer works over
// an off-screen target of a given size in pixels, which only the zoom and
// pan arithmetic uses.
//
// Progress protocol for long operations of a layer (cheap enough to call
// every few thousand items):
//
//   if (TGIS_Viewer* v = layer.Viewer()) v->BusyBegin(&layer);
//   ... for every N items:
//   bool abort = false;
//   if (v) v->BusyShake(&layer, position, end, abort);
//   ...
//   if (v) v->BusyRelease(&layer);        // also on error
//
// Stopping a long operation: an OnBusy handler stops the running operation
// by setting abort in BusyShake.  With AbortRaises (the default) BusyShake
// then raises EGIS_Exception (key GIS_RS_BTN_CANCEL, Name "BusyShake", Value
// the position), so the operation ends through its error path: partial
// output is discarded, nothing half-done is committed.  With AbortRaises
// false the flag is only passed back and the caller decides (the shapefile
// import then commits the shapes written so far).  A handler may also raise
// an exception of its own; it passes through the busy calls unchanged and
// leaves the busy level consistent.
//
// Single-threaded: the viewer and its layers are used from the thread that
// created them; OnBusy and OnExtentChange run inside the operation that
// raised them.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kernel/base/types.h"
#include "kernel/layer/base_object.h"

namespace cadport {

class TGIS_LayerAbstract;
class TGIS_Ini;
class TGIS_Units;
class TGIS_CSCoordinateSystem;

// Handler of busy notifications: (sender, position, end, abort).  Setting
// abort during BusyShake asks the running operation to stop.
using TGIS_BusyEvent =
    std::function<void(TGIS_BaseObject* sender, std::int32_t position, std::int32_t end,
                       bool& abort)>;
// Handler of plain notifications (extent, zoom, visible extent changed).
using TGIS_NotifyEvent = std::function<void(TGIS_BaseObject* sender)>;

// The off-screen target: only its size matters (nothing is drawn).
struct TGIS_ViewerBitmap {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
};

// Where drawing would go.
enum class TGIS_DrawTarget : std::uint8_t {
  Window = 1,
  Canvas = 2,
  Bitmap = 3,
};

class TGIS_Viewer : public TGIS_BaseObject {
 public:
  // A viewer of a window; without a window the target has no pixels.
  TGIS_Viewer();
  // A viewer drawing into an off-screen bitmap of the given size.
  explicit TGIS_Viewer(const TGIS_ViewerBitmap& bitmap);
  // Releases the layers, last attached first.
  ~TGIS_Viewer() override;
  TGIS_Viewer(const TGIS_Viewer&) = delete;
  TGIS_Viewer& operator=(const TGIS_Viewer&) = delete;

  // ---- layers ------------------------------------------------------------------

  // Takes the layer over: sets its Viewer, opens it when not Opened, names it
  // after BaseName(Path) when unnamed ("roads", "roads [1]", ...), sets an
  // empty Caption to the Name, appends it, recomputes the extent and applies
  // its configuration.  Raises GIS_RS_ERR_LAYEREXIST when another layer bears
  // its Name (ignoring case); errors of Open pass unchanged.  On any error
  // the layer is released and not attached.  Returns the attached layer.
  TGIS_LayerAbstract* AttachLayer(std::unique_ptr<TGIS_LayerAbstract> layer);
  // First attached layer whose Name equals name ignoring ASCII case; null
  // when there is none.
  TGIS_LayerAbstract* FindLayer(const std::string& name) const;
  std::int32_t LayersCount() const { return static_cast<std::int32_t>(layers_.size()); }
  // Layer at index (attachment order), 0 .. LayersCount()-1.
  TGIS_LayerAbstract* Layer(std::int32_t index) const { return layers_[index].get(); }
  // Releases every layer, last attached first, and the project.
  void Clear();

  // ---- extent and view -----------------------------------------------------------

  // Extent := union of the layers' ProjectedExtent within RestrictedExtent;
  // keeps the map point under pixel (0, 0); fires OnExtentChange on change.
  void UpdateExtent();
  // Zoom fitting Extent into the target, respecting BigExtentMargin; 1 when
  // there is nothing to fit.
  double FullZoom() const;
  double Zoom() const { return zoom_; }
  // Zoom := min(zoom, 1e10), not below the full zoom with RestrictedDrag;
  // resets the offsets and re-centres on Center.
  void SetZoom(double zoom);
  // Centres the view on Center(), panning as needed.
  void Recenter();
  // Moves the view by (dx, dy) map units, limited by RestrictedDrag.
  void Pan(double dx, double dy);
  // Fits the whole Extent into the view; nothing without layers.
  void ZoomToAll();
  // Map point shown at a pixel of the target.  With a zoom not above 0 the
  // result is (0, 0).
  TGIS_Coord PixelToMap(double px, double py) const;
  const TGIS_Bounds& Extent() const { return extent_; }
  const TGIS_Bounds& RestrictedExtent() const { return restrictedExtent_; }
  void SetRestrictedExtent(const TGIS_Bounds& bounds) { restrictedExtent_ = bounds; }
  const TGIS_Coord& Center() const { return center_; }
  void SetCenter(const TGIS_Coord& center);
  // View displacement in map units: X to the right of Extent.XMin, Y downward
  // from Extent.YMax.
  double OffsetX() const { return offsetX_; }
  double OffsetY() const { return offsetY_; }
  // Size of the target in pixels.
  std::int32_t TargetWidth() const { return bitmap_.Width; }
  std::int32_t TargetHeight() const { return bitmap_.Height; }
  TGIS_DrawTarget DrawTarget() const { return drawTarget_; }
  // Update lock: redraw requests are collected while above 0.
  void BeginUpdate();
  void EndUpdate();
  std::int32_t UpdateLock() const { return updateLock_; }

  // ---- map coordinates -----------------------------------------------------------

  // Unit of map coordinates; null while not set.
  const TGIS_Units* Units() const { return units_.get(); }
  void SetUnits(const TGIS_Units& units);
  void ClearUnits();
  // Rotation of the map (radians, counter-clockwise) about RotationPoint.
  double RotationAngle() const { return rotationAngle_; }
  void SetRotationAngle(double radians);
  const TGIS_Coord& RotationPoint() const { return rotationPoint_; }
  void SetRotationPoint(const TGIS_Coord& point) { rotationPoint_ = point; }
  // The map's coordinate system; always null in this kernel.
  const TGIS_CSCoordinateSystem* CS() const { return cs_; }

  // ---- project -------------------------------------------------------------------

  const std::string& ProjectName() const { return projectName_; }
  // The project configuration (null without a project).
  TGIS_Ini* ProjectConfig() const { return projectConfig_.get(); }
  // Opens a project file (absent: an empty project).  Layers attached later
  // read their settings from it too.
  void OpenProject(const std::string& path);
  void CloseProject();

  // ---- busy notifications --------------------------------------------------------

  // Start of a long operation: OnBusy(sender, 0, 100).
  void BusyBegin(TGIS_BaseObject* sender);
  // Progress: OnBusy(sender, position, end, abort).  GIS_RS_ERR_BAD_CALL
  // ("BusyShake") outside BusyBegin/BusyRelease.  See the header comment for
  // what a set abort does.
  void BusyShake(TGIS_BaseObject* sender, std::int32_t position, std::int32_t end, bool& abort);
  // End of a long operation: OnBusy(viewer, -1, -1).  GIS_RS_ERR_BAD_CALL
  // ("BusyRelease") without a matching BusyBegin.
  void BusyRelease(TGIS_BaseObject* sender);
  std::int32_t BusyLevel() const { return busyLevel_; }

  // Busy cursor and Esc polling.  Without a window there is no cursor and no
  // Esc, so HourglassShake returns false.
  void HourglassBegin();
  bool HourglassShake();
  // GIS_RS_ERR_BAD_CALL ("HourglassRelease") without a matching begin.
  void HourglassRelease();
  std::int32_t HourglassLevel() const { return hourglassLevel_; }

  // ---- published properties -------------------------------------------------------

  bool InterruptByEsc() const { return interruptByEsc_; }
  void SetInterruptByEsc(bool value) { interruptByEsc_ = value; }
  // Percentage, clamped into -50..50.
  std::int32_t BigExtentMargin() const { return bigExtentMargin_; }
  void SetBigExtentMargin(std::int32_t value);
  // False while drawing into an external canvas.
  bool RestrictedDrag() const;
  void SetRestrictedDrag(bool value) { restrictedDrag_ = value; }
  bool CachedPaint() const { return cachedPaint_; }
  void SetCachedPaint(bool value) { cachedPaint_ = value; }
  // Setting IncrementalPaint also sets FullPaint; clearing FullPaint also
  // clears IncrementalPaint.
  bool IncrementalPaint() const { return incrementalPaint_; }
  void SetIncrementalPaint(bool value);
  bool FullPaint() const { return fullPaint_; }
  void SetFullPaint(bool value);
  std::uint32_t Color() const { return color_; }
  void SetColor(std::uint32_t value) { color_ = value; }
  std::int32_t SelectionWidth() const { return selectionWidth_; }
  void SetSelectionWidth(std::int32_t value) { selectionWidth_ = value; }
  bool SelectionOutlineOnly() const { return selectionOutlineOnly_; }
  void SetSelectionOutlineOnly(bool value) { selectionOutlineOnly_ = value; }
  std::uint32_t SelectionColor() const { return selectionColor_; }
  void SetSelectionColor(std::uint32_t value) { selectionColor_ = value; }
  std::int32_t SelectionTransparency() const { return selectionTransparency_; }
  void SetSelectionTransparency(std::int32_t value) { selectionTransparency_ = value; }
  std::int32_t CodePage() const { return codePage_; }
  void SetCodePage(std::int32_t value) { codePage_ = value; }
  std::int32_t OutCodePage() const { return outCodePage_; }
  void SetOutCodePage(std::int32_t value) { outCodePage_ = value; }
  std::int32_t CharSet() const { return charSet_; }
  void SetCharSet(std::int32_t value) { charSet_ = value; }
  bool UseRTree() const { return useRTree_; }
  void SetUseRTree(bool value) { useRTree_ = value; }
  // Clamped into 128..8192.
  std::int32_t PrinterTileSize() const { return printerTileSize_; }
  void SetPrinterTileSize(std::int32_t value);
  const std::string& PrintTitle() const { return printTitle_; }
  void SetPrintTitle(const std::string& text) { printTitle_ = text; }
  const std::string& PrintSubtitle() const { return printSubtitle_; }
  void SetPrintSubtitle(const std::string& text) { printSubtitle_ = text; }
  const std::string& PrintFooter() const { return printFooter_; }
  void SetPrintFooter(const std::string& text) { printFooter_ = text; }
  // A set abort flag in BusyShake raises (true, the default) or is only
  // passed back to the caller (false).
  bool AbortRaises() const { return abortRaises_; }
  void SetAbortRaises(bool value) { abortRaises_ = value; }

  // ---- events ----------------------------------------------------------------------

  TGIS_BusyEvent OnBusy;
  TGIS_NotifyEvent OnExtentChange;
  TGIS_NotifyEvent OnZoomChange;
  TGIS_NotifyEvent OnVisibleExtentChange;

 private:
  // Releases layers last first; project too.
  void ReleaseLayers() noexcept;
  // A unique automatic name for a layer on path.
  std::string UniqueLayerName(const std::string& path) const;
  // Target size after the negative BigExtentMargin shrink.
  void FitTarget(double& width, double& height) const;

  TGIS_DrawTarget drawTarget_ = TGIS_DrawTarget::Window;
  TGIS_ViewerBitmap bitmap_;
  std::int32_t busyLevel_ = 0;
  std::int32_t updateLock_ = 0;
  bool redrawPending_ = false;
  // Owned; released last attached first (see Clear), not by the vector's
  // own destruction order.
  std::vector<std::unique_ptr<TGIS_LayerAbstract>> layers_;
  std::string projectName_;
  std::unique_ptr<TGIS_Ini> projectConfig_;
  TGIS_Bounds extent_ = NullBounds();
  TGIS_Bounds restrictedExtent_ = UnboundedBounds();
  double offsetX_ = 0;
  double offsetY_ = 0;
  TGIS_Coord center_{0, 0};
  double zoom_ = 1.0;
  std::unique_ptr<TGIS_Units> units_;  // null: not set
  double rotationAngle_ = 0;
  double rotationSin_ = 0;
  double rotationCos_ = 1;
  TGIS_Coord rotationPoint_{0, 0};
  const TGIS_CSCoordinateSystem* cs_ = nullptr;  // not owned
  std::int32_t marginLeft_ = 0;
  std::int32_t marginTop_ = 0;
  std::int32_t borderWidth_ = 0;
  std::int32_t hourglassLevel_ = 0;
  std::uint32_t hourglassCursorTick_ = 0;
  std::uint32_t hourglassPollTick_ = 0;
  bool hourglassInterrupt_ = false;
  bool releasing_ = false;

  bool interruptByEsc_ = true;
  std::int32_t bigExtentMargin_ = -10;
  bool restrictedDrag_ = true;
  bool cachedPaint_ = true;
  bool incrementalPaint_ = true;
  bool fullPaint_ = false;
  std::uint32_t color_ = 0xFFFFFF;
  std::int32_t selectionWidth_ = 100;
  bool selectionOutlineOnly_ = false;
  std::uint32_t selectionColor_ = 0xFFFFFF;
  std::int32_t selectionTransparency_ = 100;
  std::int32_t codePage_;
  std::int32_t outCodePage_;
  std::int32_t charSet_ = 1;
  bool useRTree_ = false;
  std::int32_t printerTileSize_ = 512;
  std::string printTitle_;
  std::string printSubtitle_;
  std::string printFooter_;
  bool abortRaises_ = true;
};

}  // namespace cadport
