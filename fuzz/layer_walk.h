// Walks every shape of an opened layer the way a converter does: geometry,
// every field, the shape's extent.
#ifndef CADPORT_FUZZ_LAYER_WALK_H
#define CADPORT_FUZZ_LAYER_WALK_H

#include <cstdint>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "kernel/base/types.h"
#include "kernel/vector/field.h"
#include "kernel/vector/layer_vector.h"
#include "kernel/vector/shape.h"

namespace cadport::fuzz {

// Returns the uids seen, in scan order.
inline std::vector<int32_t> WalkLayer(TGIS_LayerVector& layer, Sink& sink) {
  std::vector<int32_t> uids;
  std::vector<std::string> names;
  for (int32_t i = 0; i < layer.FieldsCount(); ++i) {
    if (const TGIS_FieldInfo* info = layer.FieldInfo(i)) names.push_back(info->NewName);
  }
  for (layer.StartScan(UnboundedBounds()); !layer.ScanDone(); layer.ScanNext()) {
    TGIS_Shape* shape = layer.ScanCurrent();
    if (shape == nullptr) continue;
    uids.push_back(shape->Uid());
    sink.Add(uint64_t(shape->ShapeKind()));
    for (int p = 0; p < shape->GetNumParts(); ++p) {
      for (int i = 0; i < shape->GetPartSize(p); ++i) {
        const TGIS_Coord3D c = shape->GetPoint3D(p, i);
        sink.Add(c.X);
        sink.Add(c.Y);
        sink.Add(c.Z);
      }
    }
    const TGIS_Bounds e = shape->Extent();
    sink.Add(e.XMin + e.YMax);
    for (const std::string& n : names) sink.Add(shape->GetField(n).ToText());
  }
  return uids;
}

}  // namespace cadport::fuzz

#endif  // CADPORT_FUZZ_LAYER_WALK_H
