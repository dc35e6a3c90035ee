// Test helpers shared by the polyline and block tests: open a drawing with
// TGIS_LayerDXF and look at its shapes as plain values.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kernel/dxf/layer_dxf.h"

namespace cadport::dxftest {

struct ShapeView {
  TGIS_ShapeKind Kind = TGIS_ShapeKind::Unknown;
  std::string Handle;
  std::string LayerName;
  double Elevation = 0;
  bool Hidden = false;
  std::vector<std::vector<TGIS_Coord>> Parts;

  std::vector<TGIS_Coord> Points() const {
    std::vector<TGIS_Coord> all;
    for (const auto& p : Parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  }
};

inline std::string Fixture(const std::string& relative) {
  return std::string(CADPORT_TEST_DATA) + "/dxf/" + relative;
}

inline std::vector<ShapeView> Snapshot(const TGIS_LayerDXF& layer) {
  std::vector<ShapeView> out;
  for (const auto& shape : layer.Shapes()) {
    if (!shape || shape->Deleted()) continue;
    ShapeView v;
    v.Kind = shape->ShapeKind();
    v.Handle = shape->GetField("DXF_HANDLE").ToText();
    v.LayerName = shape->GetField("DXF_LAYER").ToText();
    double e = 0;
    if (shape->GetField("DXF_ELEVATION").ToDouble(e)) v.Elevation = e;
    v.Hidden = shape->Hidden();
    for (int part = 0; part < shape->GetNumParts(); ++part) {
      std::vector<TGIS_Coord> pts;
      for (int i = 0; i < shape->GetPartSize(part); ++i) pts.push_back(shape->GetPoint(part, i));
      v.Parts.push_back(std::move(pts));
    }
    out.push_back(std::move(v));
  }
  return out;
}

// One group of a text drawing: the code right-aligned in three columns.
inline std::string Group(int code, const std::string& value) {
  std::string c = std::to_string(code);
  if (c.size() < 3) c.insert(0, 3 - c.size(), ' ');
  return c + "\n" + value + "\n";
}

// Writes bytes to `name` in the test's temporary folder; its path.
inline std::string WriteTemp(const std::string& name, const std::string& bytes) {
  const std::filesystem::path p = std::filesystem::path(testing::TempDir()) / name;
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return p.string();
}

// Opens `path` and returns its shapes.
inline std::vector<ShapeView> Load(const std::string& path) {
  TGIS_LayerDXF layer;
  layer.SetPath(path);
  layer.Open();
  return Snapshot(layer);
}

inline const ShapeView* ByHandle(const std::vector<ShapeView>& shapes, const std::string& handle) {
  for (const ShapeView& s : shapes)
    if (s.Handle == handle) return &s;
  return nullptr;
}

inline std::vector<const ShapeView*> AllByHandle(const std::vector<ShapeView>& shapes,
                                                 const std::string& handle) {
  std::vector<const ShapeView*> out;
  for (const ShapeView& s : shapes)
    if (s.Handle == handle) out.push_back(&s);
  return out;
}

inline void ExpectNear(const TGIS_Coord& got, double x, double y, double tol = 1e-9) {
  EXPECT_NEAR(got.X, x, tol);
  EXPECT_NEAR(got.Y, y, tol);
}

inline void ExpectPoints(const std::vector<TGIS_Coord>& got,
                         const std::vector<TGIS_Coord>& want, double tol = 1e-9) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    ExpectNear(got[i], want[i].X, want[i].Y, tol);
  }
}

}  // namespace cadport::dxftest
