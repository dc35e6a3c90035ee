// Shape measures, distances, extent and shape tests, point in polygon and
// clipping to a rectangle. Everything works on the points as GetPoint
// returns them (map coordinates).
#include "kernel/vector/shape.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "kernel/vector/layer_vector.h"

namespace cadport {

namespace {

constexpr double kFarAway = 1.7e308;
constexpr double kTiny = 1e-30;

using Ring = std::vector<TGIS_Coord>;
using Parts = std::vector<Ring>;

Parts ReadParts(const TGIS_Shape& shape) {
  Parts parts;
  if (shape.IsEmpty()) return parts;
  const int count = shape.GetNumParts();
  parts.resize(static_cast<std::size_t>(count));
  for (int part = 0; part < count; ++part) {
    const int size = shape.GetPartSize(part);
    Ring& ring = parts[static_cast<std::size_t>(part)];
    ring.reserve(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) ring.push_back(shape.GetPoint(part, i));
  }
  return parts;
}

double Cross(const TGIS_Coord& o, const TGIS_Coord& a, const TGIS_Coord& b) {
  return (a.X - o.X) * (b.Y - o.Y) - (a.Y - o.Y) * (b.X - o.X);
}

bool InClosed(const TGIS_Coord& p, const TGIS_Bounds& b) {
  return p.X >= b.XMin && p.X <= b.XMax && p.Y >= b.YMin && p.Y <= b.YMax;
}

// Even-odd crossing count of one ring; the edge from the last to the first
// vertex is included (zero length for a closed ring).
bool RingContains(const Ring& ring, const TGIS_Coord& p) {
  bool inside = false;
  const std::size_t n = ring.size();
  for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
    const TGIS_Coord& a = ring[j];
    const TGIS_Coord& b = ring[i];
    if ((b.Y > p.Y) != (a.Y > p.Y) &&
        p.X < (a.X - b.X) * (p.Y - b.Y) / (a.Y - b.Y) + b.X) {
      inside = !inside;
    }
  }
  return inside;
}

// Twice the signed area of a ring taken as cyclic, with shifted coordinates.
double RingCross(const Ring& ring, double dx, double dy) {
  double sum = 0;
  const std::size_t n = ring.size();
  for (std::size_t i = 0; i < n; ++i) {
    const TGIS_Coord& a = ring[i];
    const TGIS_Coord& b = ring[(i + 1) % n];
    sum += (a.X - dx) * (b.Y - dy) - (b.X - dx) * (a.Y - dy);
  }
  return sum;
}

// ---- relation tests ------------------------------------------------------------
// Interior / boundary / exterior of a point against a geometry, and the two
// relations asked of IsInsideShape: "interior of A avoids the exterior of B"
// and "the interiors meet". Segments are split where the other geometry
// crosses or touches them; each piece then lies wholly in one location,
// which its midpoint tells.

enum class Loc { Interior, Boundary, Exterior };

struct Geo {
  TGIS_ShapeKind kind;
  Parts parts;
};

int Dimension(const Geo& g) {
  switch (g.kind) {
    case TGIS_ShapeKind::Arc:
      return 1;
    case TGIS_ShapeKind::Polygon:
      return 2;
    default:
      return 0;
  }
}

bool OnSegment(const TGIS_Coord& a, const TGIS_Coord& b, const TGIS_Coord& p) {
  if (Cross(a, b, p) != 0) return false;
  return p.X >= std::min(a.X, b.X) && p.X <= std::max(a.X, b.X) && p.Y >= std::min(a.Y, b.Y) &&
         p.Y <= std::max(a.Y, b.Y);
}

bool OnAnySegment(const Parts& parts, const TGIS_Coord& p) {
  for (const Ring& ring : parts) {
    if (ring.size() == 1 && CoordsEqual(ring[0], p)) return true;
    for (std::size_t i = 1; i < ring.size(); ++i) {
      if (OnSegment(ring[i - 1], ring[i], p)) return true;
    }
  }
  return false;
}

bool InRings(const Parts& parts, const TGIS_Coord& p) {
  bool inside = false;
  for (const Ring& ring : parts) {
    if (!ring.empty() && RingContains(ring, p)) inside = !inside;
  }
  return inside;
}

Loc Locate(const Geo& g, const TGIS_Coord& p) {
  switch (Dimension(g)) {
    case 0:
      for (const Ring& ring : g.parts) {
        for (const TGIS_Coord& q : ring) {
          if (CoordsEqual(p, q)) return Loc::Interior;
        }
      }
      return Loc::Exterior;
    case 1: {
      if (!OnAnySegment(g.parts, p)) return Loc::Exterior;
      // Boundary of a line: part ends met an odd number of times.
      int ends = 0;
      for (const Ring& ring : g.parts) {
        if (ring.size() < 2 || CoordsEqual(ring.front(), ring.back())) continue;
        if (CoordsEqual(ring.front(), p)) ++ends;
        if (CoordsEqual(ring.back(), p)) ++ends;
      }
      return ends % 2 == 1 ? Loc::Boundary : Loc::Interior;
    }
    default:
      if (OnAnySegment(g.parts, p)) return Loc::Boundary;
      return InRings(g.parts, p) ? Loc::Interior : Loc::Exterior;
  }
}

// Parameters along a-b where the other geometry's segments cross or touch it.
void SplitParameters(const TGIS_Coord& a, const TGIS_Coord& b, const Geo& other,
                     std::vector<double>& ts) {
  const double dx = b.X - a.X;
  const double dy = b.Y - a.Y;
  const double len2 = dx * dx + dy * dy;
  ts.clear();
  ts.push_back(0);
  ts.push_back(1);
  if (len2 == 0) return;
  auto project = [&](const TGIS_Coord& p) {
    if (OnSegment(a, b, p)) ts.push_back(((p.X - a.X) * dx + (p.Y - a.Y) * dy) / len2);
  };
  for (const Ring& ring : other.parts) {
    for (std::size_t i = 0; i < ring.size(); ++i) {
      project(ring[i]);
      if (i == 0) continue;
      const TGIS_Coord& c = ring[i - 1];
      const TGIS_Coord& d = ring[i];
      const double ex = d.X - c.X;
      const double ey = d.Y - c.Y;
      const double denom = dx * ey - dy * ex;
      if (denom == 0) continue;  // parallel: touching ends were projected
      const double t = ((c.X - a.X) * ey - (c.Y - a.Y) * ex) / denom;
      const double u = ((c.X - a.X) * dy - (c.Y - a.Y) * dx) / denom;
      if (t > 0 && t < 1 && u >= 0 && u <= 1) ts.push_back(t);
    }
  }
  std::sort(ts.begin(), ts.end());
  ts.erase(std::unique(ts.begin(), ts.end()), ts.end());
}

// Calls visit(point) for every vertex of g and the midpoint of every piece
// of its segments split by other; stops when visit returns true.
template <typename Visit>
bool AnyPiece(const Geo& g, const Geo& other, Visit visit) {
  std::vector<double> ts;
  for (const Ring& ring : g.parts) {
    for (std::size_t i = 0; i < ring.size(); ++i) {
      if (visit(ring[i])) return true;
      if (i == 0 || g.kind == TGIS_ShapeKind::MultiPoint) continue;
      const TGIS_Coord& a = ring[i - 1];
      const TGIS_Coord& b = ring[i];
      SplitParameters(a, b, other, ts);
      for (std::size_t k = 1; k < ts.size(); ++k) {
        const double t = (ts[k - 1] + ts[k]) / 2;
        if (visit(TGIS_Coord{a.X + t * (b.X - a.X), a.Y + t * (b.Y - a.Y)})) return true;
      }
    }
  }
  return false;
}

// A point of the interior of a polygon given by its rings: the middle of the
// widest inside span of a horizontal line through the rings' extent.
bool InteriorPoint(const Parts& rings, TGIS_Coord& out) {
  TGIS_Bounds b = NullBounds();
  for (const Ring& ring : rings) {
    for (const TGIS_Coord& p : ring) b = BoundsUnion(b, {p.X, p.Y, p.X, p.Y});
  }
  if (IsNullBounds(b)) return false;
  // A few scan lines, away from vertices in most drawings.
  for (const double f : {0.5, 0.37, 0.63, 0.21, 0.79}) {
    const double y = b.YMin + (b.YMax - b.YMin) * f;
    std::vector<double> xs;
    for (const Ring& ring : rings) {
      const std::size_t n = ring.size();
      for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const TGIS_Coord& p = ring[j];
        const TGIS_Coord& q = ring[i];
        if ((q.Y > y) != (p.Y > y)) xs.push_back((p.X - q.X) * (y - q.Y) / (p.Y - q.Y) + q.X);
      }
    }
    std::sort(xs.begin(), xs.end());
    double best = 0;
    bool found = false;
    for (std::size_t i = 1; i < xs.size(); i += 2) {
      const double w = xs[i] - xs[i - 1];
      if (w > best) {
        best = w;
        out = {(xs[i] + xs[i - 1]) / 2, y};
        found = true;
      }
    }
    if (found) return true;
  }
  return false;
}

// "**F": the interior of a does not meet the exterior of b.
bool InteriorAvoidsExterior(const Geo& a, const Geo& b) {
  const auto outside = [&](const TGIS_Coord& p) { return Locate(b, p) == Loc::Exterior; };
  if (Dimension(a) < 2) return !AnyPiece(a, b, outside);
  if (Dimension(b) < 2) return false;
  if (AnyPiece(a, b, outside)) return false;
  // b's boundary (a hole of b, say) must not pass through a's interior...
  const auto insideA = [&](const TGIS_Coord& p) { return Locate(a, p) == Loc::Interior; };
  if (AnyPiece(b, a, insideA)) return false;
  // ...and a's interior must not be one of b's holes.
  TGIS_Coord inner;
  return !InteriorPoint(a.parts, inner) || !outside(inner);
}

// "T": the interiors of a and b meet.
bool InteriorsMeet(const Geo& first, const Geo& second) {
  const Geo* a = &first;
  const Geo* b = &second;
  if (Dimension(*a) > Dimension(*b)) std::swap(a, b);
  const auto inB = [&](const TGIS_Coord& p) { return Locate(*b, p) == Loc::Interior; };
  const auto inA = [&](const TGIS_Coord& p) { return Locate(*a, p) == Loc::Interior; };
  if (Dimension(*a) == 0) return AnyPiece(*a, *b, inB);
  if (Dimension(*a) == 1) {
    if (Dimension(*b) == 2) return AnyPiece(*a, *b, inB);
    // Two lines: a shared stretch, or a crossing inside both.
    const auto both = [&](const TGIS_Coord& p) { return inA(p) && inB(p); };
    return AnyPiece(*a, *b, both) || AnyPiece(*b, *a, both) || [&] {
      for (const Ring& r : a->parts) {
        for (std::size_t i = 1; i < r.size(); ++i) {
          std::vector<double> ts;
          SplitParameters(r[i - 1], r[i], *b, ts);
          for (const double t : ts) {
            const TGIS_Coord p{r[i - 1].X + t * (r[i].X - r[i - 1].X),
                               r[i - 1].Y + t * (r[i].Y - r[i - 1].Y)};
            if (both(p)) return true;
          }
        }
      }
      return false;
    }();
  }
  if (AnyPiece(*a, *b, inB) || AnyPiece(*b, *a, inA)) return true;
  TGIS_Coord inner;
  if (InteriorPoint(a->parts, inner) && inB(inner)) return true;
  return InteriorPoint(b->parts, inner) && inA(inner);
}

Geo ReadGeo(const TGIS_Shape& shape) { return {shape.ShapeKind(), ReadParts(shape)}; }

bool ShapeInsideShape(const TGIS_Shape& self, const TGIS_Shape& other, int mode) {
  if (self.IsEmpty() || other.IsEmpty()) return false;
  switch (mode) {
    case 0:
      return InteriorAvoidsExterior(ReadGeo(self), ReadGeo(other));
    case 1: {
      const Geo centroid{TGIS_ShapeKind::Point, Parts{Ring{self.Centroid()}}};
      return InteriorAvoidsExterior(centroid, ReadGeo(other));
    }
    case 2:
      return InteriorsMeet(ReadGeo(self), ReadGeo(other));
    default:
      return false;
  }
}

bool WithinDistance(const TGIS_Shape& shape, const TGIS_Coord& point, int mode, double radius) {
  if (shape.IsEmpty()) return false;
  if (mode == 1) return CoordDistance(shape.Centroid(), point) <= radius;
  if (mode != 0 && mode != 2) return false;
  const bool all = mode == 0;
  const int parts = shape.GetNumParts();
  for (int part = 0; part < parts; ++part) {
    const int size = shape.GetPartSize(part);
    for (int i = 0; i < size; ++i) {
      const bool within = CoordDistance(shape.GetPoint(part, i), point) <= radius;
      if (all && !within) return false;
      if (!all && within) return true;
    }
  }
  return all;
}

// Distance to the segments of one part (a part of one point: to that point).
double DistanceToLine(const TGIS_Shape& shape, const TGIS_Coord& point, int part,
                      TGIS_Coord& nearest, double start) {
  double best = start;
  const int size = shape.GetPartSize(part);
  if (size == 1) {
    const TGIS_Coord p = shape.GetPoint(part, 0);
    const double d = CoordDistance(p, point);
    if (d < best) {
      best = d;
      nearest = p;
    }
    return best;
  }
  TGIS_Coord a = size > 0 ? shape.GetPoint(part, 0) : TGIS_Coord{};
  for (int i = 1; i < size; ++i) {
    const TGIS_Coord b = shape.GetPoint(part, i);
    const double d = SegmentDistance(a, b, point);
    if (d < best) {
      best = d;
      nearest = SegmentNearestPoint(a, b, point);
    }
    a = b;
  }
  return best;
}

// ---- clipping ----------------------------------------------------------------

// Liang-Barsky: the parameter range [t0, t1] of a-b inside the rectangle.
bool ClipSegment(const TGIS_Coord& a, const TGIS_Coord& b, const TGIS_Bounds& r, double& t0,
                 double& t1) {
  const double dx = b.X - a.X;
  const double dy = b.Y - a.Y;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.X - r.XMin, r.XMax - a.X, a.Y - r.YMin, r.YMax - a.Y};
  t0 = 0;
  t1 = 1;
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      // Parallel to this side: inside or outside for the whole segment
      // (what a direction of +-1e-30 would give).
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      if (t > t1) return false;
      if (t > t0) t0 = t;
    } else {
      if (t < t0) return false;
      if (t < t1) t1 = t;
    }
  }
  return true;
}

bool OnBorder(const TGIS_Coord& p, const TGIS_Bounds& r) {
  return std::fabs(p.X - r.XMin) <= kTiny || std::fabs(p.X - r.XMax) <= kTiny ||
         std::fabs(p.Y - r.YMin) <= kTiny || std::fabs(p.Y - r.YMax) <= kTiny;
}

// One ring clipped to the rectangle, side by side (the clipped ring follows
// the rectangle's border where the ring runs outside; corners are
// inserted where it turns around them). Open ring in, open ring out.
Ring ClipRing(const Ring& ring, const TGIS_Bounds& r) {
  Ring current = ring;
  Ring next;
  for (int side = 0; side < 4 && !current.empty(); ++side) {
    const auto inside = [&](const TGIS_Coord& p) {
      switch (side) {
        case 0: return p.X >= r.XMin;
        case 1: return p.X <= r.XMax;
        case 2: return p.Y >= r.YMin;
        default: return p.Y <= r.YMax;
      }
    };
    const auto cut = [&](const TGIS_Coord& a, const TGIS_Coord& b) {
      if (side < 2) {
        const double x = side == 0 ? r.XMin : r.XMax;
        const double t = (x - a.X) / (b.X - a.X);
        return TGIS_Coord{x, a.Y + t * (b.Y - a.Y)};
      }
      const double y = side == 2 ? r.YMin : r.YMax;
      const double t = (y - a.Y) / (b.Y - a.Y);
      return TGIS_Coord{a.X + t * (b.X - a.X), y};
    };
    next.clear();
    const std::size_t n = current.size();
    for (std::size_t i = 0; i < n; ++i) {
      const TGIS_Coord& a = current[(i + n - 1) % n];
      const TGIS_Coord& b = current[i];
      const bool ina = inside(a);
      const bool inb = inside(b);
      if (inb) {
        if (!ina) next.push_back(cut(a, b));
        next.push_back(b);
      } else if (ina) {
        next.push_back(cut(a, b));
      }
    }
    std::swap(current, next);
  }
  // Drop repeated vertices the cuts may have produced.
  Ring out;
  for (const TGIS_Coord& p : current) {
    if (out.empty() || !CoordsEqual(out.back(), p)) out.push_back(p);
  }
  while (out.size() > 1 && CoordsEqual(out.front(), out.back())) out.pop_back();
  return out;
}

}  // namespace

// ---- free function ---------------------------------------------------------------

bool PointInPolygon(const TGIS_Coord& point, const TGIS_Shape& polygon, int part) {
  if (polygon.ShapeKind() != TGIS_ShapeKind::Polygon || polygon.IsEmpty()) return false;
  const int parts = polygon.GetNumParts();
  if (part >= parts) return false;
  const int first = part < 0 ? 0 : part;
  const int last = part < 0 ? parts - 1 : part;
  bool inside = false;
  for (int ring = first; ring <= last; ++ring) {
    const int size = polygon.GetPartSize(ring);
    if (size == 0) continue;
    bool odd = false;
    TGIS_Coord a = polygon.GetPoint(ring, size - 1);
    for (int i = 0; i < size; ++i) {
      const TGIS_Coord b = polygon.GetPoint(ring, i);
      if ((b.Y > point.Y) != (a.Y > point.Y) &&
          point.X < (a.X - b.X) * (point.Y - b.Y) / (a.Y - b.Y) + b.X) {
        odd = !odd;
      }
      a = b;
    }
    if (odd) inside = !inside;
  }
  return inside;
}

// ---- base operations ---------------------------------------------------------------

void TGIS_Shape::NearestVertex(const TGIS_Coord& point, double& distance, TGIS_Coord& vertex,
                               double tolerance) const {
  vertex = point;
  double best = std::fabs(tolerance);
  const int parts = IsEmpty() ? 0 : GetNumParts();
  for (int part = 0; part < parts; ++part) {
    const int size = GetPartSize(part);
    for (int i = 0; i < size; ++i) {
      const TGIS_Coord p = GetPoint(part, i);
      const double d = CoordDistance(p, point);
      if (d < best) {
        best = d;
        vertex = p;
      }
    }
  }
  distance = best;
}

void TGIS_Shape::NearestVertex3D(const TGIS_Coord3D& point, double& distance,
                                 TGIS_Coord3D& vertex, double tolerance) const {
  vertex = point;
  double best = std::fabs(tolerance);
  const int parts = IsEmpty() ? 0 : GetNumParts();
  for (int part = 0; part < parts; ++part) {
    const int size = GetPartSize(part);
    for (int i = 0; i < size; ++i) {
      const TGIS_Coord3D p = GetPoint3D(part, i);
      const double d = CoordDistance3D(p, point);
      if (d < best) {
        best = d;
        vertex = p;
      }
    }
  }
  distance = best;
}

double TGIS_Shape::Distance(const TGIS_Coord& point, double limit) const {
  double best = kFarAway;
  const int parts = IsEmpty() ? 0 : GetNumParts();
  for (int part = 0; part < parts; ++part) {
    TGIS_Coord nearest;
    best = std::min(best, DistanceToPart(point, part, nearest, limit));
  }
  return best;
}

TGIS_Coord TGIS_Shape::Centroid() const { return {0, 0}; }
TGIS_Coord TGIS_Shape::LabelPoint() const { return Centroid(); }
double TGIS_Shape::Area() const { return 0; }
double TGIS_Shape::Length() const { return 0; }
double TGIS_Shape::PartLength(int /*part*/) const { return 0; }
bool TGIS_Shape::IsWithinDistance(const TGIS_Coord& /*point*/, int /*mode*/,
                                  double /*radius*/) const {
  return false;
}
bool TGIS_Shape::IsInsideShape(const TGIS_Shape& /*other*/, int /*mode*/) const { return false; }

bool TGIS_Shape::IsInsideExtent(const TGIS_Bounds& extent, int mode) const {
  if (IsEmpty()) return false;
  if (extent.XMax == extent.XMin || extent.YMax == extent.YMin) return false;
  const TGIS_Bounds own = ProjectedExtent();
  if (!BoundsOverlap(own, extent)) return false;
  switch (mode) {
    case 0:
      return BoundsInside(own, extent);
    case 1:
      return InClosed(Centroid(), extent);
    case 2: {
      const int parts = GetNumParts();
      for (int part = 0; part < parts; ++part) {
        const int size = GetPartSize(part);
        for (int i = 0; i < size; ++i) {
          if (InClosed(GetPoint(part, i), extent)) return true;
        }
      }
      return false;
    }
    default:
      return false;
  }
}

// Polylines: each segment clipped, pieces joined into parts; pieces along
// the border are dropped and end a part.
std::unique_ptr<TGIS_Shape> TGIS_Shape::ClipLines(const TGIS_Bounds& extent) const {
  // Built at level 3 in layer coordinates: clipping a shape is no change of
  // its layer (no Modified flag, no extent growth).
  auto result = std::make_unique<TGIS_ShapeArc>(nullptr, layer_, uid_);
  result->Lock(3);
  const auto toLayer = [&](const TGIS_Coord& p) {
    return layer_ != nullptr ? layer_->MapToLayer(p) : p;
  };
  const Parts parts = ReadParts(*this);
  for (const Ring& line : parts) {
    bool open = false;  // a part of the result is being continued
    TGIS_Coord last{};
    for (std::size_t i = 1; i < line.size(); ++i) {
      const TGIS_Coord& a = line[i - 1];
      const TGIS_Coord& b = line[i];
      double t0 = 0;
      double t1 = 1;
      if (!ClipSegment(a, b, extent, t0, t1)) {
        open = false;
        continue;
      }
      // Unclipped ends are taken as they are, so that consecutive pieces
      // join exactly.
      const TGIS_Coord c0 = t0 == 0 ? a : TGIS_Coord{a.X + t0 * (b.X - a.X), a.Y + t0 * (b.Y - a.Y)};
      const TGIS_Coord c1 = t1 == 1 ? b : TGIS_Coord{a.X + t1 * (b.X - a.X), a.Y + t1 * (b.Y - a.Y)};
      if (OnBorder({(c0.X + c1.X) / 2, (c0.Y + c1.Y) / 2}, extent)) {
        open = false;
        continue;
      }
      if (!open || !CoordsEqual(c0, last)) {
        result->AddPart();
        result->AddPoint(toLayer(c0));
      }
      result->AddPoint(toLayer(c1));
      last = c1;
      open = true;
    }
  }
  if (result->IsEmpty()) return nullptr;
  result->Unlock();
  if (attributes_) result->attributes_ = CloneAttributes(*attributes_);
  return result;
}

// Polygons: each ring clipped to the rectangle; nothing when the clipped
// rings enclose no area.
std::unique_ptr<TGIS_Shape> TGIS_Shape::ClipRings(const TGIS_Bounds& extent) const {
  auto result = std::make_unique<TGIS_ShapePolygon>(nullptr, layer_, uid_);
  result->Lock(3);
  const auto toLayer = [&](const TGIS_Coord& p) {
    return layer_ != nullptr ? layer_->MapToLayer(p) : p;
  };
  double area = 0;
  Parts parts = ReadParts(*this);
  for (Ring& ring : parts) {
    while (ring.size() > 1 && CoordsEqual(ring.front(), ring.back())) ring.pop_back();
    if (ring.size() < 3) continue;
    const Ring clipped = ClipRing(ring, extent);
    if (clipped.size() < 3) continue;  // no area: a sliver along the border
    area += RingCross(clipped, 0, 0) / 2;
    result->AddPart();
    for (const TGIS_Coord& p : clipped) result->AddPointClosing(toLayer(p));
  }
  if (std::fabs(area) <= kTiny || result->IsEmpty()) return nullptr;
  result->Unlock();
  if (attributes_) result->attributes_ = CloneAttributes(*attributes_);
  return result;
}

// ==== Point ==========================================================================

std::unique_ptr<TGIS_Shape> TGIS_ShapePoint::Clip(const TGIS_Bounds& extent,
                                                  bool /*forDisplay*/) const {
  if (IsInsideExtent(extent, 0)) return CreateCopy();
  return nullptr;
}

double TGIS_ShapePoint::DistanceToPart(const TGIS_Coord& point, int /*part*/,
                                       TGIS_Coord& nearest, double /*limit*/) const {
  nearest = point;
  if (IsEmpty()) return kFarAway;
  nearest = GetPoint(0, 0);
  return CoordDistance(nearest, point);
}

TGIS_Coord TGIS_ShapePoint::Centroid() const {
  return IsEmpty() ? TGIS_Coord{0, 0} : GetPoint(0, 0);
}
double TGIS_ShapePoint::Area() const { return 0; }
double TGIS_ShapePoint::Length() const { return 0; }
double TGIS_ShapePoint::PartLength(int /*part*/) const { return 0; }

bool TGIS_ShapePoint::IsWithinDistance(const TGIS_Coord& point, int /*mode*/,
                                       double radius) const {
  return !IsEmpty() && CoordDistance(GetPoint(0, 0), point) <= radius;
}

bool TGIS_ShapePoint::IsInsideShape(const TGIS_Shape& other, int /*mode*/) const {
  if (IsEmpty() || other.IsEmpty()) return false;
  return PointInPolygon(GetPoint(0, 0), other, -1);
}

bool TGIS_ShapePoint::Intersects(const TGIS_Shape& /*other*/) const { return false; }
std::vector<TGIS_Coord> TGIS_ShapePoint::Intersections(const TGIS_Shape& /*other*/) const {
  return {};
}

// ==== MultiPoint =====================================================================

std::unique_ptr<TGIS_Shape> TGIS_ShapeMultipoint::Clip(const TGIS_Bounds& extent,
                                                       bool /*forDisplay*/) const {
  if (IsInsideExtent(extent, 0)) return CreateCopy();
  if (!IsInsideExtent(extent, 2)) return nullptr;
  auto result = std::make_unique<TGIS_ShapeMultipoint>(nullptr, Layer(), Uid());
  result->Lock(3);
  const int count = GetNumPoints();
  for (int i = 0; i < count; ++i) {
    const TGIS_Coord p = GetPoint(0, i);
    if (!InClosed(p, extent)) continue;
    result->AddPoint(Layer() != nullptr ? Layer()->MapToLayer(p) : p);
  }
  if (result->IsEmpty()) return nullptr;
  result->Unlock();
  if (attributes_) result->attributes_ = CloneAttributes(*attributes_);
  return result;
}

double TGIS_ShapeMultipoint::DistanceToPart(const TGIS_Coord& point, int /*part*/,
                                            TGIS_Coord& nearest, double /*limit*/) const {
  double best = kFarAway;
  nearest = point;
  const int count = IsEmpty() ? 0 : GetNumPoints();
  for (int i = 0; i < count; ++i) {
    const TGIS_Coord p = GetPoint(0, i);
    const double d = CoordDistance(p, point);
    if (d < best) {
      best = d;
      nearest = p;
    }
  }
  return best;
}

TGIS_Coord TGIS_ShapeMultipoint::Centroid() const {
  if (IsEmpty()) return {0, 0};
  return BoundsCenter(ProjectedExtent());
}
double TGIS_ShapeMultipoint::Area() const { return 0; }
double TGIS_ShapeMultipoint::Length() const { return 0; }
double TGIS_ShapeMultipoint::PartLength(int /*part*/) const { return 0; }

bool TGIS_ShapeMultipoint::IsWithinDistance(const TGIS_Coord& point, int mode,
                                            double radius) const {
  return WithinDistance(*this, point, mode, radius);
}

bool TGIS_ShapeMultipoint::IsInsideShape(const TGIS_Shape& other, int mode) const {
  return ShapeInsideShape(*this, other, mode);
}

bool TGIS_ShapeMultipoint::Intersects(const TGIS_Shape& /*other*/) const { return false; }
std::vector<TGIS_Coord> TGIS_ShapeMultipoint::Intersections(const TGIS_Shape& /*other*/) const {
  return {};
}

// ==== Arc ============================================================================

std::unique_ptr<TGIS_Shape> TGIS_ShapeArc::Clip(const TGIS_Bounds& extent,
                                                bool /*forDisplay*/) const {
  if (IsInsideExtent(extent, 0)) return CreateCopy();
  return ClipLines(extent);
}

double TGIS_ShapeArc::DistanceToPart(const TGIS_Coord& point, int part, TGIS_Coord& nearest,
                                     double /*limit*/) const {
  nearest = point;
  if (IsEmpty() || part < 0 || part >= GetNumParts()) return kFarAway;
  return DistanceToLine(*this, point, part, nearest, kFarAway);
}

// The point at half the length along the line.
TGIS_Coord TGIS_ShapeArc::Centroid() const {
  if (IsEmpty()) return {0, 0};
  double remaining = Length() / 2;
  const int parts = GetNumParts();
  for (int part = 0; part < parts; ++part) {
    const int size = GetPartSize(part);
    if (size == 0) continue;
    TGIS_Coord a = GetPoint(part, 0);
    for (int i = 1; i < size; ++i) {
      const TGIS_Coord b = GetPoint(part, i);
      const double d = CoordDistance(a, b);
      if (d > 0 && remaining <= d) {
        const double t = remaining / d;
        return {a.X + t * (b.X - a.X), a.Y + t * (b.Y - a.Y)};
      }
      remaining -= d;
      a = b;
    }
  }
  return GetFirstPoint();  // no length at all
}

double TGIS_ShapeArc::Area() const { return 0; }

double TGIS_ShapeArc::Length() const {
  double sum = 0;
  const int parts = IsEmpty() ? 0 : GetNumParts();
  for (int part = 0; part < parts; ++part) sum += PartLength(part);
  return sum;
}

double TGIS_ShapeArc::PartLength(int part) const {
  if (IsEmpty() || part < 0 || part >= GetNumParts()) return 0;
  const int size = GetPartSize(part);
  double sum = 0;
  TGIS_Coord a = size > 0 ? GetPoint(part, 0) : TGIS_Coord{};
  for (int i = 1; i < size; ++i) {
    const TGIS_Coord b = GetPoint(part, i);
    sum += CoordDistance(a, b);
    a = b;
  }
  return sum;
}

bool TGIS_ShapeArc::IsWithinDistance(const TGIS_Coord& point, int mode, double radius) const {
  return WithinDistance(*this, point, mode, radius);
}

bool TGIS_ShapeArc::IsInsideShape(const TGIS_Shape& other, int mode) const {
  return ShapeInsideShape(*this, other, mode);
}

bool TGIS_ShapeArc::Intersects(const TGIS_Shape& /*other*/) const { return false; }
std::vector<TGIS_Coord> TGIS_ShapeArc::Intersections(const TGIS_Shape& /*other*/) const {
  return {};
}

// ==== Polygon ========================================================================

std::unique_ptr<TGIS_Shape> TGIS_ShapePolygon::Clip(const TGIS_Bounds& extent,
                                                    bool /*forDisplay*/) const {
  if (IsInsideExtent(extent, 0)) return CreateCopy();
  return ClipRings(extent);
}

double TGIS_ShapePolygon::DistanceToPart(const TGIS_Coord& point, int part,
                                         TGIS_Coord& nearest, double limit) const {
  nearest = point;
  if (IsEmpty() || part < 0 || part >= GetNumParts()) return kFarAway;
  // Inside the ring a shape is "nearer" than its edges: the distance is
  // capped by the limit and shortened by a tenth.
  const bool inside = limit >= 0 && PointInPolygon(point, *this, part);
  const double result = DistanceToLine(*this, point, part, nearest, inside ? std::fabs(limit)
                                                                           : kFarAway);
  return inside ? result * 0.9 : result;
}

TGIS_Coord TGIS_ShapePolygon::Centroid() const {
  if (IsEmpty()) return {0, 0};
  const TGIS_Bounds shift = ProjectedExtent();
  const Parts rings = ReadParts(*this);
  double cross = 0;
  double sx = 0;
  double sy = 0;
  for (const Ring& ring : rings) {
    const std::size_t n = ring.size();
    for (std::size_t i = 0; i < n; ++i) {
      const double x0 = ring[i].X - shift.XMin;
      const double y0 = ring[i].Y - shift.YMin;
      const double x1 = ring[(i + 1) % n].X - shift.XMin;
      const double y1 = ring[(i + 1) % n].Y - shift.YMin;
      const double c = x0 * y1 - x1 * y0;
      cross += c;
      sx += (x0 + x1) * c;
      sy += (y0 + y1) * c;
    }
  }
  const double area = cross / 2;
  if (area == 0) return BoundsCenter(Extent());
  return {std::fabs(sx / 6 / area) + shift.XMin, std::fabs(sy / 6 / area) + shift.YMin};
}

// The centroid when it lies inside, else a point inside the polygon.
TGIS_Coord TGIS_ShapePolygon::LabelPoint() const {
  const TGIS_Coord centroid = Centroid();
  if (IsEmpty() || PointInPolygon(centroid, *this, -1)) return centroid;
  TGIS_Coord inner;
  return InteriorPoint(ReadParts(*this), inner) ? inner : centroid;
}

double TGIS_ShapePolygon::Area() const {
  if (IsEmpty()) return 0;
  const TGIS_Bounds shift = ProjectedExtent();
  double sum = 0;
  for (const Ring& ring : ReadParts(*this)) sum += RingCross(ring, shift.XMin, shift.YMin);
  return std::fabs(sum / 2);
}

double TGIS_ShapePolygon::Length() const {
  double sum = 0;
  const int parts = IsEmpty() ? 0 : GetNumParts();
  for (int part = 0; part < parts; ++part) sum += PartLength(part);
  return sum;
}

double TGIS_ShapePolygon::PartLength(int part) const {
  if (IsEmpty() || part < 0 || part >= GetNumParts()) return 0;
  const int size = GetPartSize(part);
  double sum = 0;
  TGIS_Coord a = size > 0 ? GetPoint(part, 0) : TGIS_Coord{};
  for (int i = 1; i < size; ++i) {
    const TGIS_Coord b = GetPoint(part, i);
    sum += CoordDistance(a, b);
    a = b;
  }
  return sum;
}

bool TGIS_ShapePolygon::IsWithinDistance(const TGIS_Coord& point, int mode,
                                         double radius) const {
  return WithinDistance(*this, point, mode, radius);
}

bool TGIS_ShapePolygon::IsInsideShape(const TGIS_Shape& other, int mode) const {
  return ShapeInsideShape(*this, other, mode);
}

bool TGIS_ShapePolygon::Intersects(const TGIS_Shape& /*other*/) const { return false; }
std::vector<TGIS_Coord> TGIS_ShapePolygon::Intersections(const TGIS_Shape& /*other*/) const {
  return {};
}

}  // namespace cadport
