#pragma once

// TGIS_Ini: a layer's (or a project's) configuration, an INI file held in
// memory.
//
// A layer's own file holds the sections "Tessellarium Layer",
// "Tessellarium Layer 1", ... (the first with the layer settings and the first
// drawing-parameter section, each further one with one more parameter
// section).  In a project file layer n has "Tessellarium Layer<n>",
// "Tessellarium Layer<n> 1", ...
//
// Every value is text.  An absent key reads as "nil", for which every typed
// reader returns its default, so an absent key leaves a setting unchanged;
// unknown or malformed values also give the default.  Reading never fails.
//
// The file itself is not parsed yet: every file reads as an empty
// configuration, so every reader returns its default until something is
// written in memory.  Save() refuses to write (GIS_RS_ERR_UNIMPLEMENTED)
// rather than pretend.  The interface is that of the full reader and writer,
// so layers need no change when file parsing lands.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cadport {

class TGIS_Units;

class TGIS_Ini {
 public:
  // Loads fileName (made absolute) into memory; an absent file is empty.
  // Not bound to a layer: one section, LayerNumber 0.
  explicit TGIS_Ini(const std::string& fileName);
  ~TGIS_Ini();
  TGIS_Ini(const TGIS_Ini&) = delete;
  TGIS_Ini& operator=(const TGIS_Ini&) = delete;

  // Binds to the layer of that name: LayerNumber := FindLayerNumber, counts
  // the layer's sections, selects section 0.
  void BindLayer(const std::string& layerName);
  // Number of the layer's sections in a project file; 0 when the file has
  // none of that name (a layer's own file).
  std::int32_t FindLayerNumber(const std::string& layerName) const;
  // CurrentIndex := index; returns whether index < SectionCount.
  bool SelectSection(std::int32_t index);
  // Erases the sections 1, 2, ... of the bound layer.
  void ClearExtraSections();
  // Re-reads the file.
  void Reload();
  // Writes the memory image back (only when Modified), keeping the previous
  // file under BackupName.
  void Save();

  // ---- typed readers: (key, default) -> value; "nil" gives the default --------

  // Text; "\n" escapes become CR LF.
  std::string ReadString(std::string_view key, const std::string& def) const;
  // YES/TRUE/1, NO/FALSE/0 (any case).
  bool ReadBoolean(std::string_view key, bool def) const;
  // Decimal integer; "RENDER" gives F0000001h.
  std::int32_t ReadInteger(std::string_view key, std::int32_t def) const;
  // Number with '.' or ','.
  double ReadFloat(std::string_view key, double def) const;
  // Character-set name or number (ANSI 0, DEFAULT 1, ..., OEM 255).
  std::int32_t ReadCharSet(std::string_view key, std::int32_t def) const;
  // Unit name, or a number (positive: metres per unit, negative: radians per
  // unit).  Returns whether units were changed.
  bool ReadUnits(std::string_view key, TGIS_Units& units) const;

  // ---- typed writers: set Modified ---------------------------------------------

  void WriteString(std::string_view key, const std::string& value);
  void WriteBoolean(std::string_view key, bool value);
  void WriteInteger(std::string_view key, std::int32_t value);
  void WriteFloat(std::string_view key, double value);
  void WriteCharSet(std::string_view key, std::int32_t value);
  void WriteUnits(std::string_view key, const TGIS_Units& units);

  // Raw text of key in the current section, "nil" when absent.
  std::string ReadRaw(std::string_view key) const;
  void WriteRaw(std::string_view key, const std::string& value);

  // ---- state ----------------------------------------------------------------------

  const std::string& Path() const { return path_; }
  bool RelativePaths() const { return relativePaths_; }
  void SetRelativePaths(bool value) { relativePaths_ = value; }
  std::int32_t LayerNumber() const { return layerNumber_; }
  std::int32_t SectionCount() const { return sectionCount_; }
  std::int32_t CurrentIndex() const { return currentIndex_; }
  const std::string& CurrentSection() const { return currentSection_; }
  bool Modified() const { return modified_; }

  // Name of section index of layer layerNumber.
  static std::string SectionName(std::int32_t layerNumber, std::int32_t index);

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };

  void Load();
  const Section* FindSection(std::string_view name) const;
  Section* FindSection(std::string_view name);
  const std::string* FindValue(std::string_view section, std::string_view key) const;
  std::int32_t CountSections(bool bound) const;

  std::vector<Section> sections_;
  std::string path_;
  bool relativePaths_ = true;
  bool bound_ = false;
  std::int32_t layerNumber_ = 0;
  std::int32_t sectionCount_ = 1;
  std::int32_t currentIndex_ = 0;
  std::string currentSection_;
  bool modified_ = false;
};

}  // namespace cadport
