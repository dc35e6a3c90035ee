// Deferred readers: owned by the polylines-and-blocks developer.
//
// Placeholders until the real block index and INSERT expansion land: each
// passes over its entity (up to the next code-0 group) and creates nothing.
#include "kernel/dxf/layer_dxf.h"

namespace cadport {

void TGIS_LayerDXF::IndexBlock() {
  ReadGroup();
  while (!AtEnd() && !IsGroup(0)) ReadGroup();
}

void TGIS_LayerDXF::ReadInsert(const std::string* /*parentName*/) {
  ReadGroup();
  while (!AtEnd() && !IsGroup(0)) ReadGroup();
}

void TGIS_LayerDXF::BuildInsertMatrix(const TGIS_Coord3D& /*extrusion*/,
                                      const TGIS_Coord3D& /*scale*/,
                                      const TGIS_Coord3D& /*point*/, double /*rotation*/) {}

}  // namespace cadport
