#pragma once

// TGIS_ParamsSection: one section of a layer's drawing parameters.
//
// A layer keeps a list of these (at least one); each reads itself from and
// writes itself to the selected section of a configuration.  Nothing is drawn
// by this program, so the base section carries no settings yet; richer
// parameter kinds derive from it and override the two operations.

namespace cadport {

class TGIS_Ini;

class TGIS_ParamsSection {
 public:
  TGIS_ParamsSection() = default;
  virtual ~TGIS_ParamsSection() = default;
  TGIS_ParamsSection(const TGIS_ParamsSection&) = delete;
  TGIS_ParamsSection& operator=(const TGIS_ParamsSection&) = delete;

  // Reads the settings from config's selected section; absent keys keep the
  // current values.
  virtual void LoadFromConfig(const TGIS_Ini& config);
  // Writes the settings to config's selected section.
  virtual void SaveToConfig(TGIS_Ini& config) const;
};

}  // namespace cadport
