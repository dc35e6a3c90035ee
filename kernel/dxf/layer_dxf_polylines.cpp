// Deferred readers: owned by the polylines-and-blocks developer.
//
// POLYLINE (with VERTEX and SEQEND), LWPOLYLINE, MPOLYGON and HATCH.  These
// readers collect the entity's common groups first and create the shape only
// when geometry (or extended data) arrives, because the kind depends on flags
// and vertices read along the way.
//
// Curved geometry is flattened in object coordinates and every resulting
// point goes through TransformPoint, which carries the extrusion and any
// enclosing block reference: bulges, hatch arcs and ellipses therefore land
// where the drawing shows them, inside blocks too.
#include "kernel/dxf/layer_dxf.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "kernel/dxf/dxf_geometry.h"

namespace cadport {

namespace {

constexpr int32_t kPolylineClosed = 1;
constexpr int32_t kPolyline3D = 8;
constexpr int32_t kPolylinePolygonMesh = 16;
constexpr int32_t kPolylinePolyface = 64;
constexpr int32_t kLwPolylinePlinegen = 128;
constexpr int32_t kVertexMeshVertex = 64;
constexpr int32_t kHatchPolylinePath = 2;

// Group codes that belong to boundary path data of HATCH and MPOLYGON; any
// other code ends the boundary paths.
bool IsBoundaryPathCode(int32_t code) {
  switch (code) {
    case 92: case 93: case 72: case 73: case 74: case 94: case 95: case 96: case 97:
    case 10: case 20: case 11: case 21: case 12: case 22: case 13: case 23:
    case 40: case 42: case 50: case 51: case 330:
      return true;
    default:
      return false;
  }
}

// Appends p unless it repeats the last point (edges of a path share ends).
// The tolerance only absorbs the rounding of an arc's computed end (a few
// units in the last place); at survey coordinates (millions of metres) it is
// some micrometres, so no drawn vertex is lost.
void AppendDistinct(std::vector<TGIS_Coord3D>& ring, const TGIS_Coord3D& p) {
  if (!ring.empty()) {
    const TGIS_Coord3D& q = ring.back();
    const double tol = 1e-12 * (1.0 + std::fabs(p.X) + std::fabs(p.Y));
    if (std::fabs(q.X - p.X) <= tol && std::fabs(q.Y - p.Y) <= tol) return;
  }
  ring.push_back(p);
}

// One edge of a hatch edge path while its groups are read.
struct T_hatchEdge {
  int32_t Type = 0;  // 1 line, 2 circular arc, 3 elliptic arc, 4 spline
  TGIS_Coord P10{};
  TGIS_Coord P11{};
  bool Has10 = false;
  bool Has11 = false;
  double Value40 = 0;
  double Start = 0;
  double End = 360;
  bool Ccw = true;
  std::vector<TGIS_Coord> Control;  // spline control points
  std::vector<TGIS_Coord> Fit;      // spline fit points
};

// One boundary path while its groups are read.
struct T_hatchPath {
  bool IsPolyline = false;
  std::vector<TGIS_DxfBulgeVertex> Vertices;  // polyline path
  std::vector<TGIS_Coord3D> Points;           // edge path, flattened so far
  T_hatchEdge Edge;                           // edge path: the edge being read
};

void FlushEdge(T_hatchPath& path, double z) {
  T_hatchEdge& e = path.Edge;
  auto add = [&](const TGIS_Coord& c) { AppendDistinct(path.Points, TGIS_Coord3D{c.X, c.Y, z, 0}); };
  switch (e.Type) {
    case 1:
      if (e.Has10) add(e.P10);
      if (e.Has11) add(e.P11);
      break;
    case 2: {
      std::vector<TGIS_Coord3D> pts;
      DxfAppendArcEdge(e.P10, e.Value40, e.Start, e.End, e.Ccw, z, pts);
      for (const TGIS_Coord3D& p : pts) AppendDistinct(path.Points, p);
      break;
    }
    case 3: {
      std::vector<TGIS_Coord3D> pts;
      DxfAppendEllipseEdge(e.P10, e.P11, e.Value40, e.Start, e.End, e.Ccw, z, pts);
      for (const TGIS_Coord3D& p : pts) AppendDistinct(path.Points, p);
      break;
    }
    case 4:
      for (const TGIS_Coord& c : e.Control.empty() ? e.Fit : e.Control) add(c);
      break;
    default:
      break;
  }
  e = T_hatchEdge{};
}

// The ring of a finished path, closed.
std::vector<TGIS_Coord3D> FinishPath(T_hatchPath& path, double z) {
  std::vector<TGIS_Coord3D> ring;
  if (path.IsPolyline) {
    for (TGIS_DxfBulgeVertex& v : path.Vertices) v.Point.Z = z;
    DxfFlattenBulgePolyline(path.Vertices, /*closed=*/true, ring);
  } else {
    FlushEdge(path, z);
    ring = std::move(path.Points);
    if (ring.size() > 1 && (ring.front().X != ring.back().X || ring.front().Y != ring.back().Y))
      ring.push_back(ring.front());
  }
  return ring;
}

}  // namespace

int TGIS_LayerDXF::HandleDeferredGroup() {
  switch (GroupCode()) {
    case 5:
      deferred_.Handle = std::string(GroupValue());
      return 1;
    case 8:
      deferred_.LayerName = std::string(GroupValue());
      entityLayer_ = deferred_.LayerName;
      return LayerIsVisible(deferred_.LayerName) ? 1 : -1;
    case 62:
      deferred_.Color = ValueInt();
      return 1;
    case 6:
      deferred_.LineType = std::string(GroupValue());
      ApplyLineType(std::string_view(deferred_.LineType));
      return 1;
    case 370:
      deferred_.Weight = std::string(GroupValue());
      ApplyLineWidth(std::string_view(deferred_.Weight));
      return 1;
    case 210:
      deferred_.Extrusion.X = ValueFloat();
      return 1;
    case 220:
      deferred_.Extrusion.Y = ValueFloat();
      return 1;
    case 230:
      deferred_.Extrusion.Z = ValueFloat();
      return 1;
    case 70:
      deferred_.Flags = ValueInt();
      return 1;
    default:
      return 0;
  }
}

void TGIS_LayerDXF::CreateDeferredShape(TGIS_ShapeKind kind, bool addPart) {
  if (entityShape_ != nullptr) return;
  entityShape_ = CreateShape(kind);
  if (entityShape_ == nullptr) return;  // kind not supported by this layer
  entityShape_->Lock(2);
  if (addPart) entityShape_->AddPart();

  const T_deferredEntity& d = deferred_;
  SetEntityField(kFieldHandle, TGIS_Variant(d.Handle));
  SetEntityField(kFieldLayer, TGIS_Variant(RecodedLayerName(d.LayerName)));
  entityShape_->SetHidden(LayerIsOff(d.LayerName));
  SetEntityField(kFieldElevation, TGIS_Variant(d.Elevation));
  SetEntityField(kFieldColor, TGIS_Variant(d.Color));
  if (d.Color != 0)
    ApplyColor(std::nullopt, d.Color);
  else
    ApplyColor(std::string_view(d.LayerName), 0);
  if (!d.LineType.empty()) ApplyLineType(std::string_view(d.LineType));
  if (!d.Weight.empty()) {
    ApplyLineWidth(std::string_view(d.Weight));
    SetEntityField(kFieldWeight, TGIS_Variant(TGIS_DxfGroupReader::ToInteger(d.Weight)));
  }
}

void TGIS_LayerDXF::CreatePolylineShape() {
  SetEntityTransform(deferred_.Extrusion);
  const int32_t flags = deferred_.Flags;
  // The first vertex's height where it ends up (a block reference may lift
  // a flat polyface, or lower a raised one to 0).
  const bool firstZ = !vertexList_.empty() && TransformPoint(vertexList_.front()).Z != 0.0;
  const bool polygon =
      (flags & kPolylineClosed) != 0 || ((flags & kPolylinePolyface) != 0 && firstZ);
  const bool created = entityShape_ == nullptr;
  CreateDeferredShape(polygon ? TGIS_ShapeKind::Polygon : TGIS_ShapeKind::Arc, false);
  if (created && polygon && entityShape_ != nullptr) EntityStyle()->ClearFill = true;
}

void TGIS_LayerDXF::CreateLwShape() {
  const int32_t flags = deferred_.Flags;
  const bool polygon = (flags & kPolylineClosed) != 0 &&
                       (flags & (kPolylinePolyface | kLwPolylinePlinegen)) != 0;
  CreateDeferredShape(polygon ? TGIS_ShapeKind::Polygon : TGIS_ShapeKind::Arc, true);
}

void TGIS_LayerDXF::ReadPolyline() {
  entityShape_ = nullptr;
  vertexList_.clear();
  faceList_.clear();
  deferred_ = T_deferredEntity{};
  bool started = false;  // past the POLYLINE's own code-0 group
  for (;;) {
    if (IsGroup(0)) {
      if (IsGroup(0, "VERTEX")) {
        if (AtEnd()) break;  // a VERTEX with nothing after it
        ReadVertex();
        started = true;
        // The data ended inside the vertex: its last group is used up.
        if (AtEnd() && !IsGroup(0)) break;
        continue;
      }
      // SEQEND normally; any other entity means the SEQEND is missing, and
      // that entity must not be swallowed.
      if (started) break;
      started = true;
    } else {
      const int common = HandleDeferredGroup();
      if (common < 0) {  // invisible layer: the caller passes over the rest
        if (entityShape_ != nullptr) entityShape_->Unlock();
        return;
      }
      if (common == 0) {
        switch (GroupCode()) {
          case 30: deferred_.Elevation = ValueFloat(); break;
          case 71: deferred_.M = ValueInt(); break;
          case 72: deferred_.N = ValueInt(); break;
          case 73: deferred_.MDensity = ValueInt(); break;
          case 74: deferred_.NDensity = ValueInt(); break;
          case 1001:
            if (GroupValue() == "ADE") {
              CreatePolylineShape();
              ReadXData();
              if (!AtEnd()) continue;  // examine the group that ended it
            }
            break;
          default: break;
        }
      }
    }
    if (AtEnd()) break;
    ReadGroup();
  }

  if (!vertexList_.empty()) {
    CreatePolylineShape();
    const int32_t flags = deferred_.Flags;
    const std::size_t count = vertexList_.size();
    auto vertex = [&](std::size_t i) {
      const TGIS_Coord3D& v = vertexList_[i];
      return TGIS_Coord3D{v.X, v.Y, v.Z, 0};
    };
    if (entityShape_ == nullptr) {
      // kind refused by the layer: nothing to build
    } else if ((flags & kPolylinePolygonMesh) != 0) {
      const int64_t m = deferred_.MDensity != 0 ? deferred_.MDensity : deferred_.M;
      const int64_t n = deferred_.NDensity != 0 ? deferred_.NDensity : deferred_.N;
      for (const std::vector<std::size_t>& part : DxfMeshParts(m, n, count)) {
        entityShape_->AddPart();
        for (std::size_t i : part) entityShape_->AddPoint3D(TransformPoint(vertex(i)));
      }
    } else if ((flags & kPolylinePolyface) != 0) {
      for (const std::array<int32_t, 4>& face : faceList_) {
        const int32_t numbers[4] = {face[0], face[1], face[2], face[3]};
        const std::vector<std::size_t> indexes = DxfFaceIndexes(numbers, count);
        if (indexes.empty()) continue;
        entityShape_->AddPart();
        for (std::size_t i : indexes) entityShape_->AddPoint3D(TransformPoint(vertex(i)));
      }
    } else {
      // A 2D polyline lies in the plane of its elevation (the POLYLINE's own
      // Z); its vertices' Z is not part of the format.  That matters once
      // the extrusion tilts the plane.
      const bool is2D = (flags & kPolyline3D) == 0;
      std::vector<TGIS_DxfBulgeVertex> bulged;
      bulged.reserve(count);
      for (const TGIS_Coord3D& v : vertexList_)
        bulged.push_back({TGIS_Coord3D{v.X, v.Y, is2D ? deferred_.Elevation : v.Z, 0}, v.M});
      pointList_.clear();
      DxfFlattenBulgePolyline(bulged, (flags & kPolylineClosed) != 0, pointList_);
      entityShape_->AddPart();
      for (TGIS_Coord3D& p : pointList_) p = TransformPoint(p);
      entityShape_->AddPoints3D(pointList_);
    }
  }
  if (entityShape_ != nullptr) entityShape_->Unlock();
}

void TGIS_LayerDXF::ReadVertex() {
  ReadGroup();
  TGIS_Coord3D v{0, 0, 0, 0};  // M holds the bulge
  bool hasX = false;
  bool hasY = false;
  bool ended = false;
  for (;;) {
    if (IsGroup(0)) break;
    switch (GroupCode()) {
      case 10: v.X = ValueFloat(); hasX = true; break;
      case 20: v.Y = ValueFloat(); hasY = true; break;
      case 30: v.Z = ValueFloat(); break;
      case 42: v.M = ValueFloat(); break;
      case 70:
        if ((ValueInt() & kVertexMeshVertex) == 0) faceList_.push_back({0, 0, 0, 0});
        break;
      case 71: case 72: case 73: case 74: {
        const int32_t number = ValueInt();
        if (!faceList_.empty()) faceList_.back()[static_cast<std::size_t>(GroupCode() - 71)] = number;
        break;
      }
      default: break;
    }
    if (AtEnd()) {
      ended = true;
      break;
    }
    ReadGroup();
  }
  // The data ended between the vertex's X and its Y: no vertex is made up.
  if (ended && hasX && !hasY) return;
  // Vertices stay in object coordinates: bulges are flattened there, and
  // every point is transformed when the geometry is built.
  vertexList_.push_back(v);
}

void TGIS_LayerDXF::ReadLwPolyline() {
  entityShape_ = nullptr;
  deferred_ = T_deferredEntity{};
  // Kept between entities: a drawing holds many polylines.
  std::vector<TGIS_DxfBulgeVertex>& vertices = bulgeVertices_;
  vertices.clear();
  bool lastHasY = true;       // the last vertex got its group 20
  bool hasElevation = false;  // group 38 read: every vertex lies at Elevation
  ReadGroup();
  if (IsGroup(8) && !LayerIsVisible(GroupValue())) return;
  bool stopped = false;
  // Like the immediate readers: the group read last before the end of the
  // data is handled too.
  for (;;) {
    if (IsGroup(0)) break;
    const int common = HandleDeferredGroup();
    if (common < 0) {
      stopped = true;
      break;
    }
    if (common == 0) {
      switch (GroupCode()) {
        case 10:
          if (entityShape_ == nullptr) CreateLwShape();
          // A vertex that never got its Y is replaced, not kept with Y = 0.
          if (!lastHasY) vertices.pop_back();
          vertices.push_back({TGIS_Coord3D{ValueFloat(), 0, 0, 0}, 0});
          lastHasY = false;
          break;
        case 20:
          if (!vertices.empty()) vertices.back().Point.Y = ValueFloat();
          lastHasY = true;
          break;
        case 30:
          // Also before the first vertex: then the elevation the shape is
          // created with.
          deferred_.Elevation = ValueFloat();
          if (!vertices.empty()) vertices.back().Point.Z = deferred_.Elevation;
          break;
        case 38:
          deferred_.Elevation = ValueFloat();
          hasElevation = true;
          if (entityShape_ != nullptr) SetEntityField(kFieldElevation, TGIS_Variant(deferred_.Elevation));
          break;
        case 42:
          if (!vertices.empty()) vertices.back().Bulge = ValueFloat();
          break;
        case 1001:
          if (GroupValue() == "ADE") {
            if (entityShape_ == nullptr) CreateLwShape();
            ReadXData();
            if (!AtEnd()) continue;  // examine the group that ended it
          }
          break;
        default: break;
      }
    }
    if (AtEnd()) break;
    ReadGroup();
  }
  // The data ended between a vertex's X and its Y.
  if (!lastHasY) vertices.pop_back();
  if (entityShape_ == nullptr) return;
  if (!stopped) {
    if (hasElevation)
      for (TGIS_DxfBulgeVertex& v : vertices) v.Point.Z = deferred_.Elevation;
    SetEntityTransform(deferred_.Extrusion);
    pointList_.clear();
    DxfFlattenBulgePolyline(vertices, (deferred_.Flags & kPolylineClosed) != 0, pointList_);
    for (TGIS_Coord3D& p : pointList_) p = TransformPoint(p);
    entityShape_->AddPoints3D(pointList_);
  }
  entityShape_->Unlock();
}

// MPOLYGON stores its loops as HATCH stores its boundary paths.
void TGIS_LayerDXF::ReadMPolygon() { ReadHatch(); }

// MPOLYGON and HATCH share their boundary data: group 91 gives the number of
// paths, each path starts with 92 (its type flags); a polyline path (bit 2)
// has 72 has-bulge, 73 closed, 93 count and 10/20/42 vertices; an edge path
// has 93 edges, each starting with 72 (1 line, 2 circular arc, 3 elliptic
// arc, 4 spline).  Every path becomes one ring.  The elevation point (10/20/30
// before the paths), arc centres and seed points (after 98) are not vertices.
void TGIS_LayerDXF::ReadHatch() {
  entityShape_ = nullptr;
  deferred_ = T_deferredEntity{};
  ReadGroup();
  if (IsGroup(8) && !LayerIsVisible(GroupValue())) return;

  enum class Stage { Header, Paths, After } stage = Stage::Header;
  double elevationZ = 0;
  std::vector<std::vector<TGIS_Coord3D>> rings;
  T_hatchPath path;
  bool inPath = false;
  auto endPath = [&]() {
    if (!inPath) return;
    rings.push_back(FinishPath(path, elevationZ));
    path = T_hatchPath{};
    inPath = false;
  };

  bool vertexOpen = false;  // a polyline path vertex still waits for its Y
  bool ended = false;       // the data ended inside the entity
  for (;;) {
    if (IsGroup(0)) break;
    const int32_t code = GroupCode();
    if (stage == Stage::Paths && !IsBoundaryPathCode(code)) {
      endPath();
      stage = Stage::After;
    }
    if (stage != Stage::Paths) {
      const int common = HandleDeferredGroup();
      if (common < 0) return;
      if (common == 0) {
        // The elevation point and the seed points are no vertices, but a
        // coordinate that is not a number is a damaged drawing all the same.
        if (code == 10 || code == 20 || code == 11 || code == 21) ValueFloat();
        if (stage == Stage::Header && code == 30) elevationZ = ValueFloat();
        if (stage == Stage::Header && code == 91) stage = Stage::Paths;
      }
      if (AtEnd()) break;
      ReadGroup();
      continue;
    }

    // Boundary path data.
    if (code == 92) {
      endPath();
      path.IsPolyline = (ValueInt() & kHatchPolylinePath) != 0;
      inPath = true;
    } else if (!inPath) {
      // data before the first path type: not a path of ours
    } else if (path.IsPolyline) {
      switch (code) {
        case 10:
          path.Vertices.push_back({TGIS_Coord3D{ValueFloat(), 0, 0, 0}, 0});
          vertexOpen = true;
          break;
        case 20:
          if (!path.Vertices.empty()) path.Vertices.back().Point.Y = ValueFloat();
          vertexOpen = false;
          break;
        case 42: if (!path.Vertices.empty()) path.Vertices.back().Bulge = ValueFloat(); break;
        default: break;  // 72 has-bulge, 73 closed, 93 count, 97/330 sources
      }
    } else {
      T_hatchEdge& e = path.Edge;
      if (code == 72) {
        FlushEdge(path, elevationZ);
        path.Edge.Type = ValueInt();
      } else if (e.Type == 4) {
        switch (code) {
          case 10: e.Control.push_back(TGIS_Coord{ValueFloat(), 0}); break;
          case 20: if (!e.Control.empty()) e.Control.back().Y = ValueFloat(); break;
          case 11: e.Fit.push_back(TGIS_Coord{ValueFloat(), 0}); break;
          case 21: if (!e.Fit.empty()) e.Fit.back().Y = ValueFloat(); break;
          default: break;  // degree, knots, weights, tangents
        }
      } else {
        switch (code) {
          case 10: e.P10.X = ValueFloat(); e.Has10 = true; break;
          case 20: e.P10.Y = ValueFloat(); break;
          case 11: e.P11.X = ValueFloat(); e.Has11 = true; break;
          case 21: e.P11.Y = ValueFloat(); break;
          case 40: e.Value40 = ValueFloat(); break;
          case 50: e.Start = ValueFloat(); break;
          case 51: e.End = ValueFloat(); break;
          case 73: e.Ccw = ValueInt() != 0; break;
          default: break;  // 93 edge count, 97/330 sources
        }
      }
    }
    if (AtEnd()) {
      ended = true;
      break;
    }
    ReadGroup();
  }
  // The data ended between a vertex's X and its Y: no vertex is made up.
  if (ended && vertexOpen && inPath && path.IsPolyline && !path.Vertices.empty()) path.Vertices.pop_back();
  endPath();

  bool any = false;
  for (const std::vector<TGIS_Coord3D>& ring : rings) any = any || ring.size() >= 3;
  if (!any) return;
  CreateDeferredShape(TGIS_ShapeKind::Polygon, false);
  if (entityShape_ == nullptr) return;
  SetEntityTransform(deferred_.Extrusion);
  for (const std::vector<TGIS_Coord3D>& ring : rings) {
    if (ring.size() < 3) continue;
    entityShape_->AddPart();
    entityShape_->ReservePoints(static_cast<int>(ring.size()) + 1);  // with the closing point
    for (const TGIS_Coord3D& p : ring) entityShape_->AddPoint3D(TransformPoint(p));
  }
  entityShape_->Unlock();
}

}  // namespace cadport
