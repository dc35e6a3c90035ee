#pragma once

// TGIS_LayerAbstract: the base class of every layer (the in-memory vector
// layer and, through it, the DXF and shapefile layers).
//
// A layer is one named source of geographic data.  It keeps its identity
// (Name, Caption, Path), its extent in its own coordinates (Extent) and in the
// viewer's (ProjectedExtent), a non-owning link to the viewer that holds it,
// display and text-encoding settings and its configuration.  Open() runs the
// fixed open sequence; descendants fill in the virtual steps (Setup reads the
// data, RecalcExtent computes the extent, SaveData writes it back).
//
// Lifetime: a layer attached to a viewer is owned by that viewer
// (TGIS_Viewer::AttachLayer) and released by it, last attached first.  The
// viewer outlives its layers, so Viewer() is a plain link; null means the
// layer is not attached, and then it reports no progress and converts no
// coordinates.
//
// Open() never changes the process's current directory: the data folder is
// resolved once (DataFolder()) and Path is made absolute instead, so
// descendants resolve relative names inside their data against DataFolder().

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kernel/base/types.h"
#include "kernel/layer/base_object.h"

namespace cadport {

class TGIS_Viewer;
class TGIS_Ini;
class TGIS_Units;
class TGIS_ParamsSection;
class TGIS_CSCoordinateSystem;  // coordinate systems: not built (no conversion)

class TGIS_LayerAbstract : public TGIS_BaseObject {
 public:
  TGIS_LayerAbstract();
  ~TGIS_LayerAbstract() override;
  TGIS_LayerAbstract(const TGIS_LayerAbstract&) = delete;
  TGIS_LayerAbstract& operator=(const TGIS_LayerAbstract&) = delete;

  // ---- virtual operations, in their fixed order ------------------------------

  // Nothing when bounds equal Extent exactly; else Extent := ProjectedExtent
  // := bounds and, when attached and not ExtentLocked, the viewer recomputes
  // its extent.
  virtual void SetExtent(const TGIS_Bounds& bounds);
  // First open step: OpenTime := now; with UseConfigFile, SetConfigName with
  // ConfigName.  Descendants call the base first, then read their data.
  virtual void Setup();
  // Second open step: nothing here.
  virtual void SetupFinish();
  // Reads "Units" (the coordinate system keys need the coordinate systems,
  // which this kernel does not have).
  virtual void ReadProjectionConfig(TGIS_Ini& config);
  // Reads the layer settings from the selected section; a missing key keeps
  // the current value (for the code settings: the effective value).
  virtual void ReadConfig(TGIS_Ini& config);
  // The current parameter section reads itself.
  virtual void ReadParamsSection(TGIS_Ini& config);
  // Writes the layer settings to the selected section.
  virtual void WriteConfig(TGIS_Ini& config);
  // The current parameter section writes itself.
  virtual void WriteParamsSection(TGIS_Ini& config);
  // Re-reads Config (one parameter section per configuration section, then
  // the viewer's project configuration when there is one).
  virtual void ApplyConfig();
  // When Config exists: re-read its file, then ApplyConfig.
  virtual void ReloadConfig();
  // Writes the settings to the viewer's project configuration
  // (ParamsInProject) or to Config.
  virtual void SaveConfig();
  // Drops every change of the data; the base has no data and raises
  // GIS_RS_ERR_ABSTRACT_METHOD.
  virtual void RevertAll();
  // Writes the data back; nothing here.
  virtual void SaveData();
  // Saves a changed configuration, then the data when Modified.
  virtual void SaveAll();
  // Modified, or a changed configuration.
  virtual bool IsModified();
  // Recomputes Extent from the data; nothing here.
  virtual void RecalcExtent();
  // ProjectedExtent := Extent converted to the viewer's coordinates.
  virtual void RecalcProjectedExtent();
  virtual void LockExtent();
  // When attached, the viewer recomputes its extent once; then unlocks.
  virtual void UnlockExtent();
  // Open and AttachLayer end by re-applying the spatial-index setting; the
  // vector layer does SetUseRTree(UseRTree()) here.  Nothing in the base.
  virtual void ApplyUseRTree();

  // ---- non-virtual operations --------------------------------------------------

  // The open sequence: data folder, ConfigName, Setup, SetupFinish, extent
  // check (GIS_RS_ERR_LAYERBADEXTENT beyond 1e100), RecalcExtent on a
  // degenerate extent, configuration, spatial index.  Runs once per layer:
  // Opened is set first, so a failed open is not retried.
  void Open();
  // GIS_RS_ERR_LAYEREXIST when another layer of the viewer bears the name
  // (ignoring case; also when only the case of this layer's name changes).
  void SetName(const std::string& name);
  // Values are clamped into 0..100.
  void SetTransparency(std::int32_t value);
  void SetAddition(std::int32_t value);
  // Own value when >= 0, else the viewer's, else the system code page
  // (EffectiveCharSet: 1).
  std::int32_t EffectiveCodePage() const;
  std::int32_t EffectiveOutCodePage() const;
  std::int32_t EffectiveCharSet() const;
  // ConfigName := the trimmed name ("_DUMMY" when empty) and Config := the
  // configuration file ConfigName + ".ini" (absent file = empty).  Nothing
  // happens when Config exists and the name is the same ignoring case.
  void SetConfigName(const std::string& name);
  // True once the user asked to interrupt (the viewer's HourglassShake);
  // false when not attached.
  bool InterruptCheck();
  // Point and extent conversion between the layer's and the viewer's
  // coordinates (units and rotation; identity when neither is set).
  TGIS_Coord LayerToMap(const TGIS_Coord& point) const;
  TGIS_Coord MapToLayer(const TGIS_Coord& point) const;
  TGIS_Bounds ExtentToMap(const TGIS_Bounds& bounds) const;
  // A null or unbounded extent is returned unchanged.
  TGIS_Bounds ExtentFromMap(const TGIS_Bounds& bounds) const;

  // ---- fields ------------------------------------------------------------------

  // The viewer holding the layer; set by TGIS_Viewer::AttachLayer.
  TGIS_Viewer* Viewer() const { return viewer_; }
  void SetViewer(TGIS_Viewer* viewer) { viewer_ = viewer; }
  const std::string& Name() const { return name_; }
  const std::string& Comments() const { return comments_; }
  void SetComments(const std::string& text) { comments_ = text; }
  const TGIS_Bounds& ProjectedExtent() const { return projectedExtent_; }
  void SetProjectedExtent(const TGIS_Bounds& bounds) { projectedExtent_ = bounds; }
  // Unit of the layer's coordinates; null while not set (factor 1).
  const TGIS_Units* Units() const { return units_.get(); }
  void SetUnits(const TGIS_Units& units);
  void ClearUnits();
  bool Active() const { return active_; }
  void SetActive(bool value) { active_ = value; }
  bool HideFromLegend() const { return hideFromLegend_; }
  void SetHideFromLegend(bool value) { hideFromLegend_ = value; }
  bool UseFileParams() const { return useFileParams_; }
  void SetUseFileParams(bool value) { useFileParams_ = value; }
  bool UseConfigFile() const { return useConfigFile_; }
  void SetUseConfigFile(bool value) { useConfigFile_ = value; }
  bool IncrementalPaint() const { return incrementalPaint_; }
  void SetIncrementalPaint(bool value) { incrementalPaint_ = value; }
  bool CachedPaint() const { return cachedPaint_; }
  void SetCachedPaint(bool value) { cachedPaint_ = value; }
  std::int32_t Transparency() const { return transparency_; }
  std::int32_t Addition() const { return addition_; }
  std::uint8_t DormantMode() const { return dormantMode_; }
  void SetDormantMode(std::uint8_t value) { dormantMode_ = value; }
  bool ExtentLocked() const { return extentLocked_; }
  bool Opened() const { return opened_; }
  // The layer's own configuration; null until Setup (or SetConfigName).
  TGIS_Ini* Config() const { return config_.get(); }
  std::int32_t CodePage() const { return codePage_; }
  void SetCodePage(std::int32_t value) { codePage_ = value; }
  std::int32_t OutCodePage() const { return outCodePage_; }
  void SetOutCodePage(std::int32_t value) { outCodePage_ = value; }
  std::int32_t CharSet() const { return charSet_; }
  void SetCharSet(std::int32_t value) { charSet_ = value; }
  const std::string& ConfigName() const { return configName_; }
  // The layer's coordinate system; always null in this kernel.
  const TGIS_CSCoordinateSystem* Projection() const { return projection_; }
  // Drawing parameter sections: always at least one; CurrentParams() is the
  // one ReadParamsSection / WriteParamsSection work on.
  std::int32_t ParamsCount() const { return static_cast<std::int32_t>(params_.size()); }
  TGIS_ParamsSection& Params(std::int32_t index) const { return *params_[index]; }
  TGIS_ParamsSection& CurrentParams() const { return *params_[currentParams_]; }
  std::int32_t CurrentParamsIndex() const { return currentParams_; }
  void SetCurrentParamsIndex(std::int32_t index);
  // Back to one default section.
  void ResetParams();
  // Appends a default section and makes it current.
  void AddParams();
  const std::string& Description() const { return description_; }
  void SetDescription(const std::string& text) { description_ = text; }
  // Local date and time as days since 1899-12-30 00:00 (the fraction is the
  // time of day); 0 until Setup runs.
  double OpenTime() const { return openTime_; }
  void SetOpenTime(double days) { openTime_ = days; }
  const TGIS_Bounds& Extent() const { return extent_; }
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }
  // A file path, or a text containing "://".
  const std::string& Path() const { return path_; }
  void SetPath(const std::string& path) { path_ = path; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& text) { caption_ = text; }
  bool ParamsInProject() const { return paramsInProject_; }
  void SetParamsInProject(bool value) { paramsInProject_ = value; }
  // Absolute folder of Path found by Open; empty for a "://" path, for a
  // folder that does not exist and before Open.
  const std::string& DataFolder() const { return dataFolder_; }

  // Local date and time now, in the OpenTime form.
  static double LocalNow();

 protected:
  // A new default drawing-parameter section.  Layers with richer parameters
  // return their own kind.
  virtual std::unique_ptr<TGIS_ParamsSection> CreateParamsSection();

  // Extent without the equality test and without telling the viewer (for
  // descendants that compute it, e.g. RecalcExtent).
  void AssignExtent(const TGIS_Bounds& bounds) { extent_ = bounds; }

 private:
  // Binds config to this layer, reads its sections into parameter sections
  // (the first after resetting them).
  void ReadAllSections(TGIS_Ini& config, bool resetFirst);
  void WriteAllSections(TGIS_Ini& config);
  // Both the layer's and the viewer's units are set (and usable).
  bool ScalesUnits() const;
  // LayerToMap is not the identity.
  bool ConvertsCoordinates() const;

  TGIS_Viewer* viewer_ = nullptr;  // not owned; outlives the layer
  std::string name_;
  std::string comments_;
  TGIS_Bounds projectedExtent_{0, 0, 0, 0};
  std::unique_ptr<TGIS_Units> units_;  // null: not set
  bool active_ = true;
  bool hideFromLegend_ = false;
  bool useFileParams_ = true;
  bool useConfigFile_ = true;
  bool incrementalPaint_ = false;
  bool cachedPaint_ = true;
  std::int32_t transparency_ = 100;
  std::int32_t addition_ = 0;
  std::uint8_t dormantMode_ = 1;
  bool extentLocked_ = false;
  bool opened_ = false;
  std::unique_ptr<TGIS_Ini> config_;
  std::int32_t codePage_ = -1;
  std::int32_t outCodePage_ = -1;
  std::int32_t charSet_ = -1;
  std::string configName_;
  const TGIS_CSCoordinateSystem* projection_ = nullptr;  // not owned
  std::vector<std::unique_ptr<TGIS_ParamsSection>> params_;
  std::int32_t currentParams_ = 0;
  std::string description_;
  double openTime_ = 0;
  TGIS_Bounds extent_ = NullBounds();
  bool modified_ = false;
  std::string path_;
  std::string caption_;
  bool paramsInProject_ = true;
  std::string dataFolder_;
};

}  // namespace cadport
