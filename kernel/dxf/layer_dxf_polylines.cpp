// Deferred readers: owned by the polylines-and-blocks developer.
//
// Placeholders until the real readers land: each passes over its entity
// (up to the next code-0 group) and creates no shape.
#include "kernel/dxf/layer_dxf.h"

namespace cadport {

void TGIS_LayerDXF::ReadPolyline() {
  ReadGroup();
  while (!AtEnd() && !IsGroup(0)) ReadGroup();
}

void TGIS_LayerDXF::ReadVertex() {
  ReadGroup();
  while (!AtEnd() && !IsGroup(0)) ReadGroup();
}

void TGIS_LayerDXF::ReadLwPolyline() {
  ReadGroup();
  while (!AtEnd() && !IsGroup(0)) ReadGroup();
}

void TGIS_LayerDXF::ReadMPolygon() {
  ReadGroup();
  while (!AtEnd() && !IsGroup(0)) ReadGroup();
}

void TGIS_LayerDXF::ReadHatch() {
  ReadGroup();
  while (!AtEnd() && !IsGroup(0)) ReadGroup();
}

void TGIS_LayerDXF::CreateDeferredShape(TGIS_ShapeKind /*kind*/, bool /*addPart*/) {}

void TGIS_LayerDXF::CreatePolylineShape() {}

void TGIS_LayerDXF::CreateLwShape() {}

void TGIS_LayerDXF::BulgeArc(int32_t /*segments*/, const TGIS_Coord3D& /*centre*/,
                             double /*angle*/, double /*radiusY*/, double /*radiusX*/) {}

}  // namespace cadport
