// Fuzz target: opening a whole drawing with the DXF layer (header, tables,
// blocks and inserts, polylines, hatches) and walking every shape.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_util.h"
#include "fuzz/layer_walk.h"
#include "kernel/base/exception.h"
#include "kernel/dxf/layer_dxf.h"
#include "kernel/shapefile/mapped_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cadport;
  static fuzz::ScratchFolder folder;
  static const std::string path = folder.File("drawing.dxf");
  fuzz::ScratchFolder::Write(path, data, size);
  fuzz::Sink sink;
  try {
    auto layer = std::make_unique<TGIS_LayerDXF>();
    layer->SetPath(path);
    // Expansion bombs are refused as in use, but after fewer lines: the
    // instrumented reader is too slow for the full allowance.
    layer->SetExpansionAllowance(250'000);
    layer->Open();
    fuzz::WalkLayer(*layer, sink);
  } catch (const EGIS_Exception& e) {
    sink.Add(std::string_view(e.what()));
  } catch (const EFOpenError& e) {
    sink.Add(std::string_view(e.what()));  // an empty file cannot be mapped
  }
  return 0;
}
