// Throughput of the DXF group reader alone over a text drawing held in
// memory (generated with a fixed seed: LINE, ARC, TEXT and LWPOLYLINE
// entities with the usual handles, layers and subclass markers).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "kernel/dxf/dxf_group_reader.h"
#include "kernel/dxf/layer_dxf.h"

namespace {

void Group(std::string& out, int code, const std::string& value) {
  char line[16];
  std::snprintf(line, sizeof line, "%3d\r\n", code);
  out += line;
  out += value;
  out += "\r\n";
}

std::string Number(std::mt19937& rng) {
  std::uniform_real_distribution<double> d(-100000.0, 100000.0);
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", d(rng));
  return text;
}

const std::string& Drawing() {
  static const std::string drawing = [] {
    std::mt19937 rng(20240229);
    std::string out;
    out.reserve(64u << 20);
    Group(out, 0, "SECTION");
    Group(out, 2, "ENTITIES");
    int handle = 0x100;
    char hex[16];
    while (out.size() < (48u << 20)) {
      std::snprintf(hex, sizeof hex, "%X", handle++);
      switch (rng() % 4) {
        case 0:
          Group(out, 0, "LINE");
          Group(out, 5, hex);
          Group(out, 100, "AcDbEntity");
          Group(out, 8, "ROADS");
          Group(out, 100, "AcDbLine");
          for (int code : {10, 20, 30, 11, 21, 31}) Group(out, code, Number(rng));
          break;
        case 1:
          Group(out, 0, "ARC");
          Group(out, 5, hex);
          Group(out, 8, "BUILDINGS");
          Group(out, 62, "3");
          for (int code : {10, 20, 30, 40, 50, 51}) Group(out, code, Number(rng));
          break;
        case 2:
          Group(out, 0, "TEXT");
          Group(out, 5, hex);
          Group(out, 8, "LABELS");
          for (int code : {10, 20, 30, 40}) Group(out, code, Number(rng));
          Group(out, 1, "Parcel 1234/5 with some words");
          break;
        default:
          Group(out, 0, "LWPOLYLINE");
          Group(out, 5, hex);
          Group(out, 8, "PARCELS");
          Group(out, 90, "12");
          Group(out, 70, "1");
          for (int i = 0; i < 12; ++i) {
            Group(out, 10, Number(rng));
            Group(out, 20, Number(rng));
          }
          break;
      }
    }
    Group(out, 0, "ENDSEC");
    Group(out, 0, "EOF");
    return out;
  }();
  return drawing;
}

void BM_DxfGroupReaderText(benchmark::State& state) {
  const std::string& data = Drawing();
  int64_t groups = 0;
  for (auto _ : state) {
    cadport::TGIS_DxfGroupReader reader;
    reader.Reset(data.data(), static_cast<int64_t>(data.size()));
    int64_t zeroCodes = 0;
    while (!reader.AtEnd()) {
      reader.ReadGroup();
      zeroCodes += reader.GroupCode() == 0;
      ++groups;
    }
    benchmark::DoNotOptimize(zeroCodes);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
  state.counters["groups"] = benchmark::Counter(static_cast<double>(groups), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DxfGroupReaderText)->Unit(benchmark::kMillisecond);

// The whole load: mapping, groups, shapes and attributes.
void BM_DxfLayerOpen(benchmark::State& state) {
  const std::string& data = Drawing();
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "cadport_bench_dxf_reader.dxf";
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
  for (auto _ : state) {
    cadport::TGIS_LayerDXF layer;
    layer.SetPath(path.string());
    layer.Open();
    benchmark::DoNotOptimize(layer.Shapes().size());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
  std::error_code ec;
  std::filesystem::remove(path, ec);
}
BENCHMARK(BM_DxfLayerOpen)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
