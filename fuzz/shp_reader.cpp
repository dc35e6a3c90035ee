// Fuzz target: opening a shapefile set (SHP, SHX and DBF) with the shapefile
// layer, scanning it and reading shapes back by uid.
//
// Input: a 16-bit little-endian SHX length, a 16-bit DBF length, the SHX
// bytes, the DBF bytes, and the SHP bytes (the rest).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_util.h"
#include "fuzz/layer_walk.h"
#include "kernel/base/exception.h"
#include "kernel/shapefile/layer_shp.h"
#include "kernel/shapefile/mapped_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cadport;
  static fuzz::ScratchFolder folder;
  static const std::string shpPath = folder.File("set.shp");
  static const std::string shxPath = folder.File("set.shx");
  static const std::string dbfPath = folder.File("set.dbf");
  if (size < 4) return 0;
  size_t shxSize = size_t(data[0]) | (size_t(data[1]) << 8);
  size_t dbfSize = size_t(data[2]) | (size_t(data[3]) << 8);
  data += 4;
  size -= 4;
  if (shxSize > size) shxSize = size;
  fuzz::ScratchFolder::Write(shxPath, data, shxSize);
  data += shxSize;
  size -= shxSize;
  if (dbfSize > size) dbfSize = size;
  fuzz::ScratchFolder::Write(dbfPath, data, dbfSize);
  data += dbfSize;
  size -= dbfSize;
  fuzz::ScratchFolder::Write(shpPath, data, size);

  fuzz::Sink sink;
  try {
    auto layer = std::make_unique<TGIS_LayerSHP>();
    layer->SetPath(shpPath);
    layer->Open();
    const std::vector<int32_t> uids = fuzz::WalkLayer(*layer, sink);
    // Random access goes through the index: last, first, one past the end.
    for (const int32_t uid : {uids.empty() ? 1 : uids.back(), 1, layer->LastUid() + 1, -1, 0}) {
      if (TGIS_Shape* shape = layer->ShapeByUid(uid)) {
        sink.Add(uint64_t(shape->GetNumParts()));
        if (shape->GetNumParts() > 0 && shape->GetPartSize(0) > 0) {
          sink.Add(shape->GetPoint(0, 0).X);
        }
      }
    }
  } catch (const EGIS_Exception& e) {
    sink.Add(std::string_view(e.what()));
  } catch (const EFOpenError& e) {
    sink.Add(std::string_view(e.what()));  // an empty file cannot be mapped
  }
  return 0;
}
