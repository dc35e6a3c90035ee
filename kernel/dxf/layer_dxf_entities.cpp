// The entity pass of TGIS_LayerDXF and its immediate readers: POINT, TEXT,
// MTEXT, LINE, ARC, CIRCLE, SOLID, 3DFACE and SPLINE, the object coordinate
// transform, spline evaluation and "ADE" extended data.
#include "kernel/dxf/layer_dxf.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "kernel/base/exception.h"
#include "kernel/base/tokenizer.h"
#include "kernel/base/utils.h"

namespace cadport {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegToRad = kPi / 180.0;
constexpr int32_t kCircleSegments = 44;

const TGIS_Coord3D kWorldZ{0, 0, 1, 0};

// Label clean-up of TEXT and MTEXT: only texts with a "{" are touched.
std::string CleanLabel(std::string text) {
  if (text.find('{') == std::string::npos) return text;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'P') {
      out += '\r';
      ++i;
    } else if (text[i] != '}') {
      out += text[i];
    }
  }
  const std::size_t semicolon = out.find(';');
  if (semicolon != std::string::npos) out.erase(0, semicolon + 1);
  return out;
}

TGIS_DxfLabelPosition LabelPositionOf(int32_t value) {
  switch (value) {
    case 1: return TGIS_DxfLabelPosition::DownRight;
    case 2:
    case 3: return TGIS_DxfLabelPosition::DownLeft;
    case 4: return TGIS_DxfLabelPosition::MiddleLeft;
    case 6: return TGIS_DxfLabelPosition::MiddleRight;
    case 7:
    case 9: return TGIS_DxfLabelPosition::UpRight;
    case 8: return TGIS_DxfLabelPosition::UpCenter;
    default: return TGIS_DxfLabelPosition::MiddleCenter;
  }
}

// Whether knots describe a NURBS curve of `count` control points and the
// given degree: count + degree + 1 ascending values spanning a range.
bool UsableKnots(const std::vector<double>& knots, std::size_t count, int32_t degree) {
  if (count < 2) return false;
  const auto p = static_cast<std::size_t>(std::clamp<int64_t>(degree, 1, static_cast<int64_t>(count) - 1));
  if (knots.size() != count + p + 1) return false;
  for (std::size_t i = 1; i < knots.size(); ++i) {
    if (!(knots[i] >= knots[i - 1])) return false;
  }
  return knots[count] > knots[p];
}

}  // namespace

// ---- entity pass ------------------------------------------------------------------

void TGIS_LayerDXF::ReadEntities() {
  // Fields and code pages may have changed since the last load.
  entityFieldIndexes_ = {};
  recodedLayerNames_.clear();
  ReadGroup();
  const std::vector<int64_t> boundaries = FindPieceBoundaries(reader_.GroupStart());
  if (boundaries.empty()) {
    ReadEntitiesUntil(std::numeric_limits<int64_t>::max());
  } else {
    ReadEntitiesInPieces(boundaries);
  }
}

bool TGIS_LayerDXF::ReadEntitiesUntil(int64_t stop) {
  while (!AtEnd() && !IsGroup(0, "EOF")) {
    if (reader_.GroupStart() >= stop) return reader_.GroupStart() == stop;
    if (!DispatchEntity()) ReadGroup();
  }
  return false;
}

bool TGIS_LayerDXF::DispatchEntity() {
  if (!IsGroup(0)) return false;
  const std::string_view name = GroupValue();
  if (name == "POINT") {
    ReadPoint();
  } else if (name == "TEXT" || name == "MTEXT") {
    ReadText();
  } else if (name == "INSERT") {
    ReadInsert(blockStack_.empty() ? nullptr : &blockStack_.back());
  } else if (name == "SOLID") {
    ReadSolid();
  } else if (name == "3DFACE") {
    Read3DFace();
  } else if (name == "SPLINE") {
    ReadSpline();
  } else if (name == "LINE") {
    ReadLineEntity();
  } else if (name == "ARC") {
    ReadArc();
  } else if (name == "CIRCLE") {
    ReadCircle();
  } else if (name == "POLYLINE") {
    ReadPolyline();
  } else if (name == "LWPOLYLINE") {
    ReadLwPolyline();
  } else if (name == "MPOLYGON") {
    ReadMPolygon();
  } else if (name == "HATCH") {
    ReadHatch();
  } else {
    return false;
  }
  return true;
}

// ---- common frame -------------------------------------------------------------------

bool TGIS_LayerDXF::BeginImmediate(TGIS_ShapeKind kind) {
  ReadGroup();
  if (IsGroup(8) && !LayerIsVisible(GroupValue())) return false;
  entityShape_ = CreateShape(kind);
  if (entityShape_ == nullptr) throw EDxfStructure("shape kind not supported by the layer");
  entityLayer_.clear();
  entityShape_->Lock(2);
  entityShape_->AddPart();
  return true;
}

bool TGIS_LayerDXF::HandleCommonGroup(bool lineType, bool lineWeight) {
  switch (GroupCode()) {
    case 5:
      SetEntityField(kFieldHandle, TGIS_Variant(GroupValue()));
      return true;
    case 8:
      entityLayer_.assign(GroupValue());
      SetEntityField(kFieldLayer, TGIS_Variant(RecodedLayerName(entityLayer_)));
      entityShape_->SetHidden(LayerIsOff(entityLayer_));
      ApplyColor(std::string_view(entityLayer_), 0);
      return true;
    case 62: {
      const int32_t number = ValueInt();
      SetEntityField(kFieldColor, TGIS_Variant(number));
      ApplyColor(std::nullopt, number);
      return true;
    }
    case 6:
      if (!lineType) return false;
      ApplyLineType(GroupValue());
      return true;
    case 370:
      if (!lineWeight) return false;
      ApplyLineWidth(GroupValue());
      return true;
    default:
      return false;
  }
}

void TGIS_LayerDXF::SetEntityField(const char* name, const TGIS_Variant& value) {
  for (auto& [known, index] : entityFieldIndexes_) {
    if (known == name) {
      entityShape_->SetFieldAt(index, value);
      return;
    }
    if (known == nullptr) {
      const int32_t found = FindField(name);
      if (found < 0) break;  // SetField raises the missing field
      known = name;
      index = found;
      entityShape_->SetFieldAt(index, value);
      return;
    }
  }
  entityShape_->SetField(name, value);
}

const std::string& TGIS_LayerDXF::RecodedLayerName(std::string_view name) {
  if (const auto it = recodedLayerNames_.find(name); it != recodedLayerNames_.end())
    return it->second;
  // Bounded: a drawing with more layer names than this recodes the rest
  // each time.
  if (recodedLayerNames_.size() >= 4096) recodedLayerNames_.clear();
  return recodedLayerNames_.emplace(std::string(name), Recode(name)).first->second;
}

void TGIS_LayerDXF::FinishEntityShape() {
  if (entityShape_ != nullptr) entityShape_->Unlock();
}

// ---- transform -------------------------------------------------------------------------

void TGIS_LayerDXF::SetEntityTransform(const TGIS_Coord3D& extrusion) {
  TGIS_DxfMatrix m = TGIS_DxfMatrix::Identity();
  const bool worldPlane = extrusion.X == 0 && extrusion.Y == 0 && extrusion.Z == 1;
  if (!worldPlane) {
    if (!DxfObjectMatrix(extrusion, m)) {
      throw EDxfStructure("extrusion direction of zero length");
    }
  }
  entityMatrix_ = blockDepth_ > 0 ? DxfMatrixMultiply(m, insertMatrix_) : m;
  entityIdentity_ = worldPlane && blockDepth_ == 0;
}

// ---- POINT ----------------------------------------------------------------------------------

void TGIS_LayerDXF::ReadPoint() {
  if (!BeginImmediate(TGIS_ShapeKind::Point)) return;
  TGIS_Coord3D p{};
  bool firstZ = true;
  for (;;) {
    if (IsGroup(0)) break;
    if (!HandleCommonGroup(false, false)) {
      switch (GroupCode()) {
        case 10: p.X = ValueFloat(); break;
        case 20: p.Y = ValueFloat(); break;
        case 30:
          p.Z = ValueFloat();
          if (firstZ) SetEntityField(kFieldElevation, TGIS_Variant(p.Z));
          firstZ = false;
          break;
        case 1001:
          if (GroupValue() == "ADE") {
            ReadXData();
            if (!AtEnd()) continue;  // examine the group that ended it
          }
          break;
        default: break;  // the extrusion does not move a point: it is in world coordinates
      }
    }
    if (AtEnd()) break;
    ReadGroup();
  }
  SetEntityTransform(kWorldZ);
  entityShape_->AddPoint3D(TransformPoint(p));
  FinishEntityShape();
}

// ---- TEXT and MTEXT --------------------------------------------------------------------------

void TGIS_LayerDXF::ReadText() {
  const bool mtext = GroupValue() == "MTEXT";
  if (!BeginImmediate(TGIS_ShapeKind::Point)) return;
  TGIS_Coord3D p{};
  TGIS_Coord3D extrusion = kWorldZ;
  bool firstZ = true;
  bool embedded = false;
  bool haveText = false;
  std::string chunks;  // MTEXT groups 3, in order
  std::string text;
  for (;;) {
    if (IsGroup(0)) break;
    // Groups after (101, "Embedded Object") belong to that object, up to the
    // extended data, which always comes last in an entity.
    if (embedded && GroupCode() >= 1000) embedded = false;
    if (!embedded && !HandleCommonGroup(false, false)) {
      switch (GroupCode()) {
        case 10: p.X = ValueFloat(); break;
        case 20: p.Y = ValueFloat(); break;
        case 30:
          p.Z = ValueFloat();
          if (firstZ) SetEntityField(kFieldElevation, TGIS_Variant(p.Z));
          firstZ = false;
          break;
        case 210: if (!mtext) extrusion.X = ValueFloat(); break;
        case 220: if (!mtext) extrusion.Y = ValueFloat(); break;
        case 230: if (!mtext) extrusion.Z = ValueFloat(); break;
        case 1:
          text.assign(GroupValue());
          haveText = true;
          break;
        case 3:
          if (mtext) chunks.append(GroupValue());
          break;
        case 50: {
          const double degrees = ValueFloat();
          if (TGIS_DxfShapeStyle* style = EntityStyle()) style->LabelRotation = -degrees * kDegToRad;
          SetEntityField(kFieldLabelAngle, TGIS_Variant(degrees));
          break;
        }
        case 71:
          if (TGIS_DxfShapeStyle* style = EntityStyle()) style->LabelPosition = LabelPositionOf(ValueInt());
          break;
        case 101:
          if (mtext && GroupValue() == "Embedded Object") embedded = true;
          break;
        case 1001:
          if (GroupValue() == "ADE") {
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
  if (haveText || !chunks.empty()) {
    SetEntityField(kFieldLabel, TGIS_Variant(CleanLabel(Recode(chunks + text))));
    if (TGIS_DxfShapeStyle* style = EntityStyle()) style->ShowsLabel = true;
  }
  // A TEXT's insertion point is in object coordinates; an MTEXT's in world.
  SetEntityTransform(mtext ? kWorldZ : extrusion);
  entityShape_->AddPoint3D(TransformPoint(p));
  FinishEntityShape();
}

// ---- LINE -----------------------------------------------------------------------------------------

void TGIS_LayerDXF::ReadLineEntity() {
  if (!BeginImmediate(TGIS_ShapeKind::Arc)) return;
  TGIS_Coord3D s{};
  TGIS_Coord3D e{};
  bool firstZ = true;
  for (;;) {
    if (IsGroup(0)) break;
    if (!HandleCommonGroup(true, true)) {
      switch (GroupCode()) {
        case 10: s.X = ValueFloat(); break;
        case 20: s.Y = ValueFloat(); break;
        case 30:
          s.Z = ValueFloat();
          if (firstZ) SetEntityField(kFieldElevation, TGIS_Variant(s.Z));
          firstZ = false;
          break;
        case 11: e.X = ValueFloat(); break;
        case 21: e.Y = ValueFloat(); break;
        case 31: e.Z = ValueFloat(); break;
        default: break;
      }
    }
    if (AtEnd()) break;
    ReadGroup();
  }
  SetEntityTransform(kWorldZ);
  entityShape_->AddPoint3D(TransformPoint(s));
  entityShape_->AddPoint3D(TransformPoint(e));
  FinishEntityShape();
}

// ---- ARC ---------------------------------------------------------------------------------------------

void TGIS_LayerDXF::ReadArc() {
  if (!BeginImmediate(TGIS_ShapeKind::Arc)) return;
  TGIS_Coord3D c{};
  TGIS_Coord3D extrusion = kWorldZ;
  double radius = 0;
  double a0 = 0;
  double a1 = 0;
  bool firstZ = true;
  for (;;) {
    if (IsGroup(0)) break;
    if (!HandleCommonGroup(true, true)) {
      switch (GroupCode()) {
        case 10: c.X = ValueFloat(); break;
        case 20: c.Y = ValueFloat(); break;
        case 30:
          c.Z = ValueFloat();
          if (firstZ) SetEntityField(kFieldElevation, TGIS_Variant(c.Z));
          firstZ = false;
          break;
        case 40: radius = ValueFloat(); break;
        case 50: a0 = ValueFloat() * kDegToRad; break;
        case 51: a1 = ValueFloat() * kDegToRad; break;
        case 210: extrusion.X = ValueFloat(); break;
        case 220: extrusion.Y = ValueFloat(); break;
        case 230: extrusion.Z = ValueFloat(); break;
        default: break;
      }
    }
    if (AtEnd()) break;
    ReadGroup();
  }
  SetEntityTransform(extrusion);
  double sweep = a1 - a0;
  if (a1 < a0) sweep = 2 * kPi - (a0 - a1);
  const int32_t segments = sweep < kPi / 4 ? 5 : sweep < kPi / 2 ? 11 : sweep < kPi ? 22 : 44;
  const double step = std::fabs(sweep) / segments;
  // Points in object coordinates, each carried to the layer.  The unit
  // vector of each step is the previous one turned by the step (a rounding
  // of at most a few units in the last place per step, a fraction of what
  // summing the angles costs); the end is taken from its angle.
  pointList_.clear();
  double cosT = std::cos(a0);
  double sinT = std::sin(a0);
  const double cosStep = std::cos(step);
  const double sinStep = std::sin(step);
  for (int32_t i = 0; i < segments; ++i) {
    pointList_.push_back(TransformPoint({c.X + radius * cosT, c.Y + radius * sinT, c.Z, 0}));
    const double turnedCos = cosT * cosStep - sinT * sinStep;
    sinT = sinT * cosStep + cosT * sinStep;
    cosT = turnedCos;
  }
  const double end = a0 + std::fabs(sweep);
  pointList_.push_back(
      TransformPoint({c.X + radius * std::cos(end), c.Y + radius * std::sin(end), c.Z, 0}));
  entityShape_->AddPoints3D(pointList_);
  FinishEntityShape();
}

// ---- CIRCLE --------------------------------------------------------------------------------------------

void TGIS_LayerDXF::ReadCircle() {
  if (!BeginImmediate(TGIS_ShapeKind::Arc)) return;
  TGIS_Coord3D c{};
  TGIS_Coord3D extrusion = kWorldZ;
  double radius = 0;
  bool firstZ = true;
  for (;;) {
    if (IsGroup(0)) break;
    if (!HandleCommonGroup(true, false)) {
      switch (GroupCode()) {
        case 10: c.X = ValueFloat(); break;
        case 20: c.Y = ValueFloat(); break;
        case 30:
          c.Z = ValueFloat();
          if (firstZ) SetEntityField(kFieldElevation, TGIS_Variant(c.Z));
          firstZ = false;
          break;
        case 40: radius = ValueFloat(); break;
        case 210: extrusion.X = ValueFloat(); break;
        case 220: extrusion.Y = ValueFloat(); break;
        case 230: extrusion.Z = ValueFloat(); break;
        default: break;
      }
    }
    if (AtEnd()) break;
    ReadGroup();
  }
  SetEntityTransform(extrusion);
  // Every circle turns through the same angles: their sines and cosines are
  // computed once.
  struct TCircleTurns {
    double Cos[kCircleSegments + 1];
    double Sin[kCircleSegments + 1];
  };
  static const TCircleTurns turns = [] {
    TCircleTurns r;
    const double step = 2 * kPi / kCircleSegments;
    for (int32_t i = 0; i <= kCircleSegments; ++i) {
      const double t = i == kCircleSegments ? 0.0 : step * i;  // closes exactly
      r.Cos[i] = std::cos(t);
      r.Sin[i] = std::sin(t);
    }
    return r;
  }();
  pointList_.clear();
  for (int32_t i = 0; i <= kCircleSegments; ++i) {
    pointList_.push_back(TransformPoint(
        {c.X + radius * turns.Cos[i], c.Y + radius * turns.Sin[i], c.Z, 0}));
  }
  entityShape_->AddPoints3D(pointList_);
  FinishEntityShape();
}

// ---- SOLID and 3DFACE -----------------------------------------------------------------------------------

namespace {

// Reads corner groups 10..13 / 20..23 / 30..33 into four corners. Returns
// True when the group was a corner group.
bool ReadCorner(int32_t code, double value, TGIS_Coord3D (&corners)[4], int32_t& count) {
  if (code >= 10 && code <= 13) {
    corners[code - 10].X = value;
    ++count;
    return true;
  }
  if (code >= 20 && code <= 23) {
    corners[code - 20].Y = value;
    return true;
  }
  if (code >= 30 && code <= 33) {
    corners[code - 30].Z = value;
    return true;
  }
  return false;
}

bool IsCornerCode(int32_t code) {
  return (code >= 10 && code <= 13) || (code >= 20 && code <= 23) || (code >= 30 && code <= 33);
}

}  // namespace

void TGIS_LayerDXF::ReadSolid() {
  if (!BeginImmediate(TGIS_ShapeKind::Polygon)) return;
  TGIS_Coord3D corners[4] = {};
  TGIS_Coord3D extrusion = kWorldZ;
  int32_t count = 0;
  bool firstZ = true;
  for (;;) {
    if (IsGroup(0)) break;
    if (!HandleCommonGroup(false, false)) {
      const int32_t code = GroupCode();
      if (IsCornerCode(code)) {
        ReadCorner(code, ValueFloat(), corners, count);
        if (code == 30 && firstZ) {
          SetEntityField(kFieldElevation, TGIS_Variant(corners[0].Z));
          firstZ = false;
        }
      } else if (code == 210) {
        extrusion.X = ValueFloat();
      } else if (code == 220) {
        extrusion.Y = ValueFloat();
      } else if (code == 230) {
        extrusion.Z = ValueFloat();
      }
    }
    if (AtEnd()) break;
    ReadGroup();
  }
  SetEntityTransform(extrusion);
  if (count > 0) entityShape_->AddPoint3D(TransformPoint(corners[0]));
  if (count > 1) entityShape_->AddPoint3D(TransformPoint(corners[1]));
  if (count > 3) entityShape_->AddPoint3D(TransformPoint(corners[3]));
  if (count > 2) entityShape_->AddPoint3D(TransformPoint(corners[2]));
  if (count > 0) entityShape_->AddPoint3D(TransformPoint(corners[0]));
  FinishEntityShape();
}

void TGIS_LayerDXF::Read3DFace() {
  if (!BeginImmediate(TGIS_ShapeKind::Arc)) return;
  TGIS_Coord3D corners[4] = {};
  int32_t count = 0;
  int32_t edges = 0;
  bool firstZ = true;
  for (;;) {
    if (IsGroup(0)) break;
    if (!HandleCommonGroup(false, false)) {
      const int32_t code = GroupCode();
      if (IsCornerCode(code)) {
        ReadCorner(code, ValueFloat(), corners, count);
        if (code == 30 && firstZ) {
          SetEntityField(kFieldElevation, TGIS_Variant(corners[0].Z));
          firstZ = false;
        }
      } else if (code == 70) {
        edges = ValueInt();
      }
    }
    if (AtEnd()) break;
    ReadGroup();
  }
  SetEntityTransform(kWorldZ);
  if (count > 0 && edges != 1) entityShape_->AddPoint3D(TransformPoint(corners[0]));
  if (count > 1 && edges != 2) entityShape_->AddPoint3D(TransformPoint(corners[1]));
  if (count > 2 && edges != 4) entityShape_->AddPoint3D(TransformPoint(corners[2]));
  if (count > 3 && edges != 8) entityShape_->AddPoint3D(TransformPoint(corners[3]));
  if (count > 0 && edges != 1) entityShape_->AddPoint3D(TransformPoint(corners[0]));
  FinishEntityShape();
}

// ---- SPLINE ------------------------------------------------------------------------------------------------

namespace {

// One point list of a SPLINE given as X, Y and optional Z groups. A point is
// taken once its X and Y are both read (2D writers omit the Z group); a Z
// group belongs to the point just taken.
struct SplinePoints {
  std::vector<TGIS_Coord3D> points;
  TGIS_Coord3D pending{};
  bool hasX = false;
  bool lastOpen = false;  // the last point may still take its Z

  void X(double v) {
    pending = {v, 0, 0, 0};
    hasX = true;
    lastOpen = false;
  }
  void Y(double v) {
    if (!hasX) return;
    pending.Y = v;
    points.push_back(pending);
    hasX = false;
    lastOpen = true;
  }
  void Z(double v) {
    if (lastOpen) points.back().Z = v;
    lastOpen = false;
  }
};

}  // namespace

void TGIS_LayerDXF::ReadSpline() {
  if (!BeginImmediate(TGIS_ShapeKind::Arc)) return;
  SetEntityTransform(kWorldZ);
  SplinePoints fitGroups;      // 11/21/31
  SplinePoints controlGroups;  // 10/20/30
  std::vector<double> knots;
  std::vector<double> weights;
  int32_t degree = 3;
  for (;;) {
    if (IsGroup(0)) break;
    if (!HandleCommonGroup(false, false)) {
      switch (GroupCode()) {
        case 11: fitGroups.X(ValueFloat()); break;
        case 21: fitGroups.Y(ValueFloat()); break;
        case 31: fitGroups.Z(ValueFloat()); break;
        case 10: controlGroups.X(ValueFloat()); break;
        case 20: controlGroups.Y(ValueFloat()); break;
        case 30: controlGroups.Z(ValueFloat()); break;
        case 40: knots.push_back(ValueFloat()); break;
        case 41: weights.push_back(ValueFloat()); break;
        case 71: degree = ValueInt(); break;
        case 70:
        case 72:
        case 73:
        case 74:
          ValueInt();  // flags and counts: only checked, the points are counted as read
          break;
        default: break;
      }
    }
    if (AtEnd()) break;
    ReadGroup();
  }
  std::vector<TGIS_Coord3D>& fit = fitGroups.points;
  std::vector<TGIS_Coord3D>& control = controlGroups.points;
  // The control points and knots are the curve: when they are there it is
  // evaluated from them, whether or not fit points came along (the fit-point
  // rule only approximates and misses the fit points themselves).
  if (!control.empty() && (fit.empty() || UsableKnots(knots, control.size(), degree))) {
    for (TGIS_Coord3D& p : control) p = TransformPoint(p);
    const auto n = static_cast<int32_t>(std::min<std::size_t>(control.size(), 1u << 24));
    EvaluateNurbs(control, knots, weights, degree, 4 * n);
  } else if (!fit.empty()) {
    for (TGIS_Coord3D& p : fit) p = TransformPoint(p);
    const auto n = static_cast<int32_t>(std::min<std::size_t>(fit.size(), 1u << 24));
    EvaluateSpline(fit, n, 4 * n);
  }
  FinishEntityShape();
}

void TGIS_LayerDXF::EvaluateSpline(const std::vector<TGIS_Coord3D>& points, int32_t count,
                                   int32_t steps) {
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(points.size()));
  if (n <= 0 || steps <= 0) return;
  if (n == 1) {
    entityShape_->AddPoint3D(points[0]);
    return;
  }
  std::vector<TGIS_Coord3D> q(static_cast<std::size_t>(n) + 2);
  for (int32_t i = 0; i < n; ++i) q[static_cast<std::size_t>(i) + 1] = points[static_cast<std::size_t>(i)];
  auto lin = [](const TGIS_Coord3D& a, const TGIS_Coord3D& b) {
    return TGIS_Coord3D{2 * a.X - b.X, 2 * a.Y - b.Y, 2 * a.Z - b.Z, 0};
  };
  q[0] = lin(q[1], q[2]);
  q[static_cast<std::size_t>(n) + 1] = lin(q[static_cast<std::size_t>(n)], q[static_cast<std::size_t>(n) - 1]);
  for (int32_t k = 0; k <= steps; ++k) {
    // The ends are the first and the last point exactly.
    if (k == 0) {
      entityShape_->AddPoint3D(points[0]);
      continue;
    }
    if (k == steps) {
      entityShape_->AddPoint3D(points[static_cast<std::size_t>(n) - 1]);
      continue;
    }
    const double t = static_cast<double>(k) / steps;
    const auto u = static_cast<float>(t * (n - 1) + 1);
    const int32_t d = std::max<int32_t>(static_cast<int32_t>(u - 1), 0);
    TGIS_Coord3D b{};
    for (int32_t i = std::min(d, n + 1); i <= std::min(d + 3, n + 1); ++i) {
      const double e = std::fabs(i - static_cast<double>(u));
      double w = 0;
      if (e < 1) {
        w = 2.0 / 3.0 - e * e + e * e * e / 2;
      } else if (e < 2) {
        w = (2 - e) * (2 - e) * (2 - e) / 6;
      }
      const TGIS_Coord3D& qi = q[static_cast<std::size_t>(i)];
      b.X += w * qi.X;
      b.Y += w * qi.Y;
      b.Z += w * qi.Z;
    }
    entityShape_->AddPoint3D(b);
  }
}

void TGIS_LayerDXF::EvaluateNurbs(const std::vector<TGIS_Coord3D>& control,
                                  const std::vector<double>& knotsIn,
                                  const std::vector<double>& weightsIn, int32_t degree,
                                  int32_t segments) {
  const auto count = static_cast<int64_t>(control.size());
  if (count == 0 || segments <= 0) return;
  if (count == 1) {
    entityShape_->AddPoint3D(control[0]);
    return;
  }
  // The work per point grows with the square of the degree: a degree far
  // beyond any drawing program's (they stop at about 10) is taken as the
  // highest one, so that a small file cannot keep the reader busy for hours.
  constexpr int64_t kMaxDegree = 15;
  const int64_t p = std::clamp<int64_t>(degree, 1, std::min<int64_t>(count - 1, kMaxDegree));
  // Knots are a claim: a vector of the wrong length or not ascending is
  // replaced by the clamped uniform one.
  std::vector<double> knots = knotsIn;
  bool knotsValid = static_cast<int64_t>(knots.size()) == count + p + 1;
  for (std::size_t i = 1; knotsValid && i < knots.size(); ++i) {
    if (!(knots[i] >= knots[i - 1])) knotsValid = false;
  }
  if (knotsValid && !(knots[static_cast<std::size_t>(count)] > knots[static_cast<std::size_t>(p)])) {
    knotsValid = false;
  }
  if (!knotsValid) {
    knots.assign(static_cast<std::size_t>(count + p + 1), 0.0);
    for (int64_t i = 0; i < count + p + 1; ++i) {
      double v = 0;
      if (i > p) v = i >= count ? 1.0 : static_cast<double>(i - p) / static_cast<double>(count - p);
      knots[static_cast<std::size_t>(i)] = v;
    }
  }
  std::vector<double> weights = weightsIn;
  bool weightsValid = static_cast<int64_t>(weights.size()) == count;
  for (double w : weights) {
    if (!(w > 0)) weightsValid = false;
  }
  if (!weightsValid) weights.assign(static_cast<std::size_t>(count), 1.0);

  const double u0 = knots[static_cast<std::size_t>(p)];
  const double u1 = knots[static_cast<std::size_t>(count)];
  std::vector<double> dx(static_cast<std::size_t>(p + 1));
  std::vector<double> dy(dx.size());
  std::vector<double> dz(dx.size());
  std::vector<double> dw(dx.size());
  // Knot span s with knots[s] <= u < knots[s+1], p <= s < count; u only
  // grows, so the search goes on from the span found last.
  int64_t s = p;
  for (int32_t k = 0; k <= segments; ++k) {
    const double u = k == segments ? u1 : u0 + (u1 - u0) * k / segments;
    while (s < count - 1 && knots[static_cast<std::size_t>(s + 1)] <= u) ++s;
    for (int64_t j = 0; j <= p; ++j) {
      const TGIS_Coord3D& c = control[static_cast<std::size_t>(s - p + j)];
      const double w = weights[static_cast<std::size_t>(s - p + j)];
      dx[static_cast<std::size_t>(j)] = c.X * w;
      dy[static_cast<std::size_t>(j)] = c.Y * w;
      dz[static_cast<std::size_t>(j)] = c.Z * w;
      dw[static_cast<std::size_t>(j)] = w;
    }
    // de Boor.
    for (int64_t r = 1; r <= p; ++r) {
      for (int64_t j = p; j >= r; --j) {
        const double left = knots[static_cast<std::size_t>(j + s - p)];
        const double right = knots[static_cast<std::size_t>(j + 1 + s - r)];
        const double alpha = right > left ? (u - left) / (right - left) : 0.0;
        const auto jj = static_cast<std::size_t>(j);
        dx[jj] = (1 - alpha) * dx[jj - 1] + alpha * dx[jj];
        dy[jj] = (1 - alpha) * dy[jj - 1] + alpha * dy[jj];
        dz[jj] = (1 - alpha) * dz[jj - 1] + alpha * dz[jj];
        dw[jj] = (1 - alpha) * dw[jj - 1] + alpha * dw[jj];
      }
    }
    const auto pp = static_cast<std::size_t>(p);
    if (!(dw[pp] != 0)) continue;
    entityShape_->AddPoint3D({dx[pp] / dw[pp], dy[pp] / dw[pp], dz[pp] / dw[pp], 0});
  }
}

// ---- extended data ----------------------------------------------------------------------------------------------

void TGIS_LayerDXF::ReadXData() {
  ReadGroup();
  TGIS_Tokenizer tokenizer;
  // Ends at its closing brace; another application's data or the next
  // entity also ends it, so a block without a brace cannot swallow the rest
  // of the drawing.
  for (;;) {
    if (IsGroup(1002, "}") || IsGroup(0) || IsGroup(1001)) break;
    if (IsGroup(1000)) {
      try {
        tokenizer.Tokenize(GroupValue(), "=");
        const std::vector<std::string>& tokens = tokenizer.Items();
        if (tokens.size() == 2 && !tokens[0].empty()) {
          if (FindField(tokens[0]) < 0) {
            DeclareFileField(tokens[0], TGIS_FieldKind::String, 255, 0, true);
          }
          entityShape_->SetField(tokens[0], TGIS_Variant(Recode(tokens[1])));
        }
      } catch (const std::exception&) {
        // A pair that cannot be stored is skipped.
      }
    }
    if (AtEnd()) break;  // the group read last counts too
    ReadGroup();
  }
}

}  // namespace cadport
