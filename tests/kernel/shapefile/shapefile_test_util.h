// Helpers shared by the shapefile tests: a scratch folder, whole-file reads
// and writes, and small source layers.
#ifndef CADPORT_TESTS_KERNEL_SHAPEFILE_SHAPEFILE_TEST_UTIL_H
#define CADPORT_TESTS_KERNEL_SHAPEFILE_SHAPEFILE_TEST_UTIL_H

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "kernel/vector/layer_vector.h"
#include "kernel/vector/shape.h"

namespace cadport::testing {

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "cadport-shp-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }
  // Names of the files in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(path_))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::string path_;
};

inline std::vector<std::byte> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::byte> out(chars.size());
  for (size_t i = 0; i < chars.size(); ++i) out[i] = std::byte(static_cast<unsigned char>(chars[i]));
  return out;
}

inline void WriteBytes(const std::string& path, const std::vector<std::byte>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// A vector layer ready to take shapes of every kind.
inline void PrepareLayer(TGIS_LayerVector& layer) {
  layer.SetSupportedKinds(ShapeKindBit(TGIS_ShapeKind::Point) |
                          ShapeKindBit(TGIS_ShapeKind::MultiPoint) |
                          ShapeKindBit(TGIS_ShapeKind::Arc) |
                          ShapeKindBit(TGIS_ShapeKind::Polygon));
}

// A shape of kind with the given parts (a point or multipoint takes the
// points of the first part).
inline TGIS_Shape* AddShape(TGIS_LayerVector& layer, TGIS_ShapeKind kind,
                            std::initializer_list<std::initializer_list<TGIS_Coord>> parts) {
  TGIS_Shape* s = layer.CreateShape(kind);
  for (const auto& part : parts) {
    s->AddPart();
    for (const TGIS_Coord& c : part) s->AddPoint(c);
  }
  return s;
}

// Runs a command through the shell; its standard output.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = ::pclose(p);
  if (status) *status = rc;
  return out;
}

inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace cadport::testing

#endif  // CADPORT_TESTS_KERNEL_SHAPEFILE_SHAPEFILE_TEST_UTIL_H
