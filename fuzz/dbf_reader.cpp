// Fuzz target: the DBF attribute file read from memory, every value of every
// record.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_util.h"
#include "kernel/base/exception.h"
#include "kernel/shapefile/file_dbf.h"
#include "kernel/vector/field.h"
#include "kernel/vector/layer_vector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cadport;
  fuzz::Sink sink;
  TGIS_LayerVector layer;
  try {
    TGIS_FileDBF dbf(std::span(reinterpret_cast<const std::byte*>(data), size), "fuzz.dbf", layer);
    // A reader must fail on records the data does not hold; the loop stops
    // at the first failure, and never runs past what the bytes could hold.
    const int64_t fits = dbf.RecordLength() > 0 ? int64_t(size) / dbf.RecordLength() + 2 : 2;
    const int64_t records = std::min<int64_t>(dbf.RecordCount(), fits);
    for (int32_t r = 1; r <= records; ++r) {
      for (int32_t f = 0; f < layer.FieldsCount(); ++f) {
        sink.Add(dbf.ReadValue(r, {}, f).ToText());
      }
    }
    sink.Add(dbf.ReadValue(dbf.RecordCount() + 1, {}, 0).ToText());
  } catch (const EGIS_Exception& e) {
    sink.Add(std::string_view(e.what()));
  }
  return 0;
}
