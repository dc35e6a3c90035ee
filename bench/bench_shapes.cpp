// Shapes on their own: appending points (amortised constant time), building
// many small polylines, re-pointing one reusable shape at mapped records
// (the shapefile reader's pattern), exporting the raw blocks (the writer's
// pattern), measures and clipping.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DCADPORT_BENCH=ON
//   ninja -C build-bench bench_shapes && build-bench/bench/bench_shapes
//
// Counters: points/s or shapes/s; bytes_per_shape = object size plus the heap
// blocks a 10-point polyline holds (measured with mallinfo2). The layer-level
// benchmark (1 million polylines into a layer, enumeration) is
// bench_layer_vector.
#include <malloc.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "kernel/base/types.h"
#include "kernel/vector/shape.h"

namespace cadport {
namespace {

constexpr int kPointsPerLine = 10;

std::size_t HeapInUse() { return mallinfo2().uordblks; }

// One shape, N points: the time per point stays flat as N grows.
void BM_AppendPoints(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    TGIS_ShapeArc arc;
    arc.Lock(2);
    arc.AddPart();
    for (int i = 0; i < count; ++i) arc.AddPoint({double(i), double(i & 1023)});
    arc.Unlock();
    benchmark::DoNotOptimize(arc.GeometryPoints().data());
  }
  state.counters["points/s"] =
      benchmark::Counter(double(count) * double(state.iterations()), benchmark::Counter::kIsRate);
  state.SetComplexityN(count);
}
BENCHMARK(BM_AppendPoints)->RangeMultiplier(10)->Range(1'000, 1'000'000)->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// Many 10-point polylines built like a file reader builds them.
void BM_BuildPolylines(benchmark::State& state) {
  const std::int64_t count = state.range(0);
  double bytesPerShape = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<TGIS_Shape>> shapes;
    shapes.reserve(static_cast<std::size_t>(count));
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> step(-5, 5);
    double x = 0;
    double y = 0;
    const std::size_t before = HeapInUse();
    for (std::int64_t i = 0; i < count; ++i) {
      auto arc = std::make_unique<TGIS_ShapeArc>(nullptr, nullptr, static_cast<std::int32_t>(i + 1));
      arc->Lock(2);
      arc->AddPart();
      for (int k = 0; k < kPointsPerLine; ++k) {
        x += step(rng);
        y += step(rng);
        arc->AddPoint({x, y});
      }
      arc->Unlock();
      shapes.push_back(std::move(arc));
    }
    const std::size_t after = HeapInUse();
    bytesPerShape = double(after - before - shapes.capacity() * sizeof(void*)) / double(count);
    state.PauseTiming();
    shapes.clear();
    state.ResumeTiming();
  }
  state.counters["points/s"] = benchmark::Counter(
      double(count) * kPointsPerLine * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["bytes_per_shape"] = bytesPerShape;
  state.counters["sizeof_shape"] = double(sizeof(TGIS_ShapeArc));
}
BENCHMARK(BM_BuildPolylines)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Records of 10-point polylines back to back, as in a mapped .shp file
// (record content only).
std::vector<std::byte> MakeRecords(int count, std::vector<std::size_t>& offsets) {
  TGIS_ShapeArc arc;
  arc.AddPart();
  for (int k = 0; k < kPointsPerLine; ++k) arc.AddPoint({double(k), double(k * k)});
  const std::vector<std::byte> one = arc.ExportGeometryBlob();
  std::vector<std::byte> all;
  all.reserve(one.size() * static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    offsets.push_back(all.size());
    all.insert(all.end(), one.begin(), one.end());
  }
  return all;
}

// One reusable shape re-pointed at every record: nothing is copied.
void BM_ReadBorrowedRecords(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<std::size_t> offsets;
  const std::vector<std::byte> records = MakeRecords(count, offsets);
  const std::size_t size = records.size() / static_cast<std::size_t>(count);
  TGIS_ShapeArc reader;
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < count; ++i) {
      reader.Reinit(nullptr, std::span(records.data() + offsets[static_cast<std::size_t>(i)], size),
                    nullptr, i + 1, true);
      sum += reader.GetLastPoint().Y + reader.Extent().XMax;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["shapes/s"] =
      benchmark::Counter(double(count) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadBorrowedRecords)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// The writer's side: the two blocks copied out verbatim.
void BM_CopyBlocksOut(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<TGIS_Shape>> shapes;
  for (int i = 0; i < count; ++i) {
    auto arc = std::make_unique<TGIS_ShapeArc>();
    arc->Lock(2);
    arc->AddPart();
    for (int k = 0; k < kPointsPerLine; ++k) arc->AddPoint({double(i), double(k)});
    arc->Unlock();
    shapes.push_back(std::move(arc));
  }
  std::vector<std::byte> out(1 << 20);
  for (auto _ : state) {
    std::size_t at = 0;
    for (const auto& s : shapes) {
      const auto header = s->GeometryHeader();
      const auto points = s->GeometryPoints();
      if (at + header.size() + points.size() > out.size()) at = 0;
      std::memcpy(out.data() + at, header.data(), header.size());
      std::memcpy(out.data() + at + header.size(), points.data(), points.size());
      at += header.size() + points.size();
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["shapes/s"] =
      benchmark::Counter(double(count) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CopyBlocksOut)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Measures and clipping on a 1000-vertex ring.
std::unique_ptr<TGIS_ShapePolygon> Star(int vertices) {
  auto p = std::make_unique<TGIS_ShapePolygon>();
  p->AddPart();
  for (int i = 0; i < vertices; ++i) {
    const double a = 6.283185307179586 * i / vertices;
    const double r = (i & 1) ? 50 : 100;
    p->AddPoint({r * std::cos(a), r * std::sin(a)});
  }
  return p;
}

void BM_PolygonArea(benchmark::State& state) {
  auto star = Star(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(star->Area() + star->Length());
  state.counters["points/s"] = benchmark::Counter(
      double(star->GetNumPoints()) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PolygonArea)->Arg(1'000);

void BM_ClipPolygon(benchmark::State& state) {
  auto star = Star(static_cast<int>(state.range(0)));
  const TGIS_Bounds window{-40, -60, 70, 30};
  for (auto _ : state) benchmark::DoNotOptimize(star->ClipToExtent(window));
  state.counters["points/s"] = benchmark::Counter(
      double(star->GetNumPoints()) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ClipPolygon)->Arg(1'000);

}  // namespace
}  // namespace cadport

BENCHMARK_MAIN();
