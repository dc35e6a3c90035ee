// Fuzz target: opening a whole drawing with the DXF layer (header, tables,
// blocks and inserts, polylines, hatches) and walking every shape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "fuzz/layer_walk.h"
#include "kernel/base/exception.h"
#include "kernel/dxf/layer_dxf.h"
#include "kernel/shapefile/mapped_stream.h"

namespace {

// Opens the drawing and folds everything read (or the error) into a value.
// With targets the entity pass is cut into pieces read on threads of their
// own (one each, or `threads` sharing them as they go), which must give
// exactly what one reader gives.
uint64_t LoadAndWalk(const std::string& path, const std::vector<int64_t>* targets,
                     int32_t threads = 0) {
  using namespace cadport;
  fuzz::Sink sink;
  try {
    auto layer = std::make_unique<TGIS_LayerDXF>();
    layer->SetPath(path);
    // Expansion bombs are refused as in use, but after fewer lines: the
    // instrumented reader is too slow for the full allowance.
    layer->SetExpansionAllowance(250'000);
    if (targets != nullptr) {
      layer->SetLoadSplitTargets(*targets);
      layer->SetLoadThreads(threads);
    } else {
      layer->SetLoadThreads(1);
    }
    layer->Open();
    for (const int32_t uid : fuzz::WalkLayer(*layer, sink)) sink.Add(uint64_t(uid));
    sink.Add(uint64_t(layer->FieldsCount()));
  } catch (const EGIS_Exception& e) {
    sink.Add(std::string_view(e.what()));
  } catch (const EFOpenError& e) {
    sink.Add(std::string_view(e.what()));  // an empty file cannot be mapped
  }
  return sink.Value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cadport;
  static fuzz::ScratchFolder folder;
  static const std::string path = folder.File("drawing.dxf");
  fuzz::ScratchFolder::Write(path, data, size);
  const uint64_t whole = LoadAndWalk(path, nullptr);
  const auto n = static_cast<int64_t>(size);
  const std::vector<int64_t> targets = {n / 3, n / 2, n * 2 / 3};
  if (LoadAndWalk(path, &targets) != whole) std::abort();
  if (LoadAndWalk(path, &targets, 2) != whole) std::abort();
  return 0;
}
