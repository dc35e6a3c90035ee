// Shapefile set writing and reading: 1 million polylines of 10 points with
// their attribute records, written by ConvertFrom and scanned back.
// Reports MB/s of the files written or read and shapes/s.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "kernel/shapefile/layer_shp.h"

namespace {

using namespace cadport;

constexpr int kShapes = 1000000;
constexpr int kPoints = 10;

// The source layer, built once (fixed seed).
TGIS_LayerVector& Source() {
  static TGIS_LayerVector* layer = [] {
    auto* l = new TGIS_LayerVector();  // lives for the whole run
    l->SetSupportedKinds(ShapeKindBit(TGIS_ShapeKind::Arc));
    l->AddField("LAYER", TGIS_FieldKind::String, 16, 0);
    l->AddField("ELEVATION", TGIS_FieldKind::Float, 20, 5);
    l->AddField("COLOR", TGIS_FieldKind::Number, 6, 0);
    std::mt19937_64 rng(301);
    std::uniform_real_distribution<double> coord(0, 100000);
    for (int i = 0; i < kShapes; ++i) {
      TGIS_Shape* s = l->CreateShape(TGIS_ShapeKind::Arc);
      s->Lock(2);
      s->AddPart();
      double x = coord(rng), y = coord(rng);
      for (int k = 0; k < kPoints; ++k) s->AddPoint({x + k * 1.5, y + (k % 3) * 0.25});
      s->Unlock();
      s->SetField("LAYER", TGIS_Variant(i % 2 ? "ROADS" : "BUILDINGS"));
      s->SetField("ELEVATION", TGIS_Variant(double(i % 1000) * 0.125));
      s->SetField("COLOR", TGIS_Variant(int32_t(i % 256)));
    }
    return l;
  }();
  return *layer;
}

std::string Folder() {
  static const std::string dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "cadport-bench-XXXXXX").string();
    return std::string(::mkdtemp(tmpl.data()));
  }();
  return dir;
}

int64_t SetSize(const std::string& shp) {
  std::string base = shp.substr(0, shp.size() - 4);
  return int64_t(std::filesystem::file_size(shp) + std::filesystem::file_size(base + ".shx") +
                 std::filesystem::file_size(base + ".dbf"));
}

void BM_WriteSet(benchmark::State& state) {
  TGIS_LayerVector& src = Source();
  const std::string path = Folder() + "/write.shp";
  for (auto _ : state) {
    TGIS_LayerSHP shp;
    shp.SetPath(path);
    shp.ConvertFrom(&src, src.Extent(), TGIS_ShapeKind::Unknown, "", false);
    for (const std::string& b : shp.BackupNames()) std::filesystem::remove(b);
    benchmark::DoNotOptimize(shp.WrittenCount());
  }
  state.SetBytesProcessed(state.iterations() * SetSize(path));
  state.SetItemsProcessed(state.iterations() * kShapes);
}
BENCHMARK(BM_WriteSet)->Unit(benchmark::kMillisecond)->UseRealTime();

const std::string& WrittenSet() {
  static const std::string path = [] {
    const std::string p = Folder() + "/scan.shp";
    TGIS_LayerSHP shp;
    shp.SetPath(p);
    shp.ConvertFrom(&Source(), Source().Extent(), TGIS_ShapeKind::Unknown, "", false);
    return p;
  }();
  return path;
}

// Geometry only: the shapes borrow from the mapping.
void BM_ScanSet(benchmark::State& state) {
  const std::string& path = WrittenSet();
  TGIS_LayerSHP layer;
  layer.SetPath(path);
  layer.Open();
  for (auto _ : state) {
    double sum = 0;
    for (layer.StartScan(UnboundedBounds()); !layer.ScanDone(); layer.ScanNext()) {
      TGIS_Shape* s = layer.ScanCurrent();
      sum += s->GetPoint(0, s->GetNumPoints() - 1).X;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * int64_t(std::filesystem::file_size(path)));
  state.SetItemsProcessed(state.iterations() * kShapes);
}
BENCHMARK(BM_ScanSet)->Unit(benchmark::kMillisecond)->UseRealTime();

// Geometry and one attribute per shape.
void BM_ScanSetWithAttribute(benchmark::State& state) {
  const std::string& path = WrittenSet();
  TGIS_LayerSHP layer;
  layer.SetPath(path);
  layer.Open();
  for (auto _ : state) {
    double sum = 0;
    for (layer.StartScan(UnboundedBounds()); !layer.ScanDone(); layer.ScanNext()) {
      TGIS_Shape* s = layer.ScanCurrent();
      double v = 0;
      s->GetFieldRaw("ELEVATION").ToDouble(v);
      sum += s->GetPoint(0, 0).Y + v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * SetSize(path));
  state.SetItemsProcessed(state.iterations() * kShapes);
}
BENCHMARK(BM_ScanSetWithAttribute)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(Folder(), ec);
  return 0;
}
