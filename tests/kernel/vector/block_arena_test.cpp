// The block arena, and shapes whose geometry blocks come from their layer's
// arena: the same geometry as blocks of their own, whatever is done to the
// shapes afterwards.
#include "kernel/vector/block_arena.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "kernel/base/types.h"
#include "kernel/vector/layer_vector.h"
#include "kernel/vector/shape.h"

namespace cadport {
namespace {

TEST(BlockArena, BlocksAreAlignedAndApartAndOnlyTheLastResizesInPlace) {
  TGIS_BlockArena arena;
  std::vector<std::pair<std::byte*, std::size_t>> blocks;
  for (std::size_t size : {1u, 16u, 17u, 100u, 4096u, 3u}) {
    std::byte* b = arena.Allocate(size);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % TGIS_BlockArena::kAlignment, 0u);
    std::memset(b, static_cast<int>(size), size);
    blocks.emplace_back(b, size);
  }
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    for (std::size_t k = 0; k < blocks[i].second; ++k)
      ASSERT_EQ(blocks[i].first[k], std::byte(blocks[i].second & 0xFF)) << "block " << i;
  }
  std::byte* last = blocks.back().first;
  EXPECT_FALSE(arena.ResizeLast(blocks.front().first, 64)) << "not the last block";
  EXPECT_TRUE(arena.ResizeLast(last, 1000));
  std::memset(last, 7, 1000);
  EXPECT_TRUE(arena.ResizeLast(last, 8));  // shrinks, and the room after it is free again
  std::byte* next = arena.Allocate(8);
  EXPECT_EQ(next, last + TGIS_BlockArena::kAlignment);
  EXPECT_FALSE(arena.ResizeLast(last, 64)) << "no longer the last block";
  EXPECT_FALSE(arena.ResizeLast(next, TGIS_BlockArena::kLargestChunk * 4)) << "past its chunk";
  // A block larger than any chunk gets a chunk of its own.
  const std::size_t huge = TGIS_BlockArena::kLargestChunk + 5;
  std::byte* big = arena.Allocate(huge);
  big[0] = std::byte{1};
  big[huge - 1] = std::byte{2};
  EXPECT_GE(arena.Reserved(), huge);
}

TEST(BlockArena, AdoptedBlocksStayWhereTheyAre) {
  auto other = std::make_unique<TGIS_BlockArena>();
  std::byte* kept = other->Allocate(32);
  std::memset(kept, 0x5A, 32);
  TGIS_BlockArena arena;
  std::byte* mine = arena.Allocate(16);
  arena.Adopt(*other);
  EXPECT_EQ(other->Reserved(), 0u);
  other.reset();  // the adopted chunk outlives the arena it came from
  for (int k = 0; k < 32; ++k) ASSERT_EQ(kept[k], std::byte{0x5A});
  EXPECT_TRUE(arena.ResizeLast(mine, 48)) << "the arena's own last block stays the last";
}

class ArenaLayer : public TGIS_LayerVector {
 public:
  ArenaLayer() { SetSupportedKinds(60); }
};

std::vector<std::byte> Blocks(const TGIS_Shape& s) {
  std::vector<std::byte> b(s.GeometryHeader().begin(), s.GeometryHeader().end());
  b.insert(b.end(), s.GeometryPoints().begin(), s.GeometryPoints().end());
  return b;
}

// Builds the same shapes in a layer with an arena and in one without, in the
// ways a reader builds them: one after the other, a point at a time and in
// bulk, parts added, and two shapes growing in turn (so that the older one
// is no longer the last block).
void Build(TGIS_LayerVector& layer, std::vector<TGIS_Shape*>& out) {
  for (int n : {1, 2, 9, 40}) {
    TGIS_Shape* s = layer.CreateShape(n % 2 ? TGIS_ShapeKind::Arc : TGIS_ShapeKind::Polygon);
    s->Lock(2);
    s->AddPart();
    std::vector<TGIS_Coord3D> bulk;
    for (int i = 0; i < n; ++i) bulk.push_back({double(i), double(i * i % 7), 0, 0});
    s->AddPoints3D(bulk);
    s->AddPart();
    for (int i = 0; i < n; ++i) s->AddPoint({-double(i), 3.5});
    s->Unlock();
    out.push_back(s);
  }
  TGIS_Shape* a = layer.CreateShape(TGIS_ShapeKind::Arc);
  TGIS_Shape* b = layer.CreateShape(TGIS_ShapeKind::Arc);
  a->AddPart();
  b->AddPart();
  for (int i = 0; i < 30; ++i) {
    a->AddPoint({double(i), 1});
    b->AddPoint({1, double(i)});
  }
  a->Unlock();
  b->Unlock();
  out.push_back(a);
  out.push_back(b);
}

TEST(ShapeArena, ShapesHoldTheSameGeometryAsWithBlocksOfTheirOwn) {
  ArenaLayer plain;
  ArenaLayer arena;
  arena.OpenBlockArena();
  std::vector<TGIS_Shape*> p;
  std::vector<TGIS_Shape*> q;
  Build(plain, p);
  Build(arena, q);
  ASSERT_EQ(p.size(), q.size());
  int inArena = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(p[i]->BlocksInArena());
    inArena += q[i]->BlocksInArena();
    EXPECT_EQ(Blocks(*p[i]), Blocks(*q[i]));
    EXPECT_TRUE(BoundsEqual(p[i]->Extent(), q[i]->Extent()));
  }
  EXPECT_EQ(inArena, static_cast<int>(q.size()));

  // Edited after the load (arena closed): the blocks move out as they grow;
  // copies have blocks of their own; a cleared layer lets its arena go.
  arena.CloseBlockArena();
  for (std::size_t i = 0; i < p.size(); ++i) {
    SCOPED_TRACE(i);
    for (TGIS_Shape* s : {p[i], q[i]}) {
      s->AddPart();
      for (int k = 0; k < 50; ++k) s->AddPoint({double(k), -double(k)});
    }
    EXPECT_EQ(Blocks(*p[i]), Blocks(*q[i]));
    const std::unique_ptr<TGIS_Shape> copy = q[i]->CreateCopy();
    EXPECT_FALSE(copy->BlocksInArena());
    EXPECT_EQ(Blocks(*copy), Blocks(*q[i]));
  }
  TGIS_Shape* fresh = arena.CreateShape(TGIS_ShapeKind::Arc);
  fresh->AddPart();
  fresh->AddPoint({1, 2});
  EXPECT_FALSE(fresh->BlocksInArena()) << "no arena blocks once it is closed";
}

// Shapes moved to another layer (as the pieces of a drawing read on other
// threads are) take their arena blocks along.
class MovingLayer : public ArenaLayer {
 public:
  void TakeShapes(MovingLayer& other) {
    AdoptBlockArena(other);
    for (auto& s : other.shapes_) {
      s->SetLayer(this);
      shapes_.push_back(std::move(s));
    }
    other.shapes_.clear();
  }
};

TEST(ShapeArena, MovedShapesKeepTheirBlocks) {
  auto from = std::make_unique<MovingLayer>();
  from->OpenBlockArena();
  std::vector<TGIS_Shape*> built;
  Build(*from, built);
  std::vector<std::vector<std::byte>> before;
  for (const TGIS_Shape* s : built) before.push_back(Blocks(*s));
  MovingLayer to;
  to.OpenBlockArena();
  to.TakeShapes(*from);
  from.reset();
  ASSERT_EQ(to.Shapes().size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(Blocks(*to.Shapes()[i]), before[i]);
  // They grow on in their new layer.
  for (const auto& s : to.Shapes()) s->AddPoint({9, 9});
  EXPECT_EQ(to.Shapes().back()->GetLastPoint().X, 9);
}

}  // namespace
}  // namespace cadport
