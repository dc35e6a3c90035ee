// The entity pass of a large text drawing on several threads.
//
// The ENTITIES section is cut at entity boundaries: a line "0" followed by
// the name of an entity the layer reads, found near equal fractions of the
// section. Piece 0 is read by the layer's own reader, which goes on in order
// through every later piece no worker has claimed yet; the workers claim
// pieces from the end backwards, so the two meet wherever the threads'
// speeds put them. A worker reads its piece into a fresh layer with copies
// of the tables, block index, fields and code pages, whose reader starts at
// the piece's boundary and stops at the next one.
//
// Entities do not depend on each other outside blocks: every reader starts
// from the format's defaults, so a worker that starts at a boundary reads
// what the layer's own reader reads from there, provided that reader gets to
// the boundary exactly (at the top of the entity loop, with the boundary's
// group current). The layer's reader checks this at every boundary before it
// takes the piece over; when it does not arrive there exactly (a damaged
// drawing, a boundary inside an entity) it reads the piece itself. So does
// it for a piece whose worker stopped on an error (the error is then raised
// with its own line number) or read so many block lines that the expansion
// bound might have been passed. Extended data keys a worker meets first are
// declared as fields when its piece is taken over, in the order it met them,
// which is the order a single reader declares them in.
#include "kernel/dxf/layer_dxf.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <limits>
#include <mutex>
#include <system_error>

#include "kernel/base/utils.h"
#include "kernel/vector/field.h"

namespace cadport {

namespace {

constexpr int64_t kNoStop = std::numeric_limits<int64_t>::max();
// A boundary is looked for this far past its target at most.
constexpr int64_t kBoundarySearch = 1 << 20;
// The caller's reader reports progress this often while it waits.
constexpr auto kWaitStep = std::chrono::milliseconds(20);
// Pieces per thread: small enough that a thread slowed down by others on the
// machine leaves more of the section to the rest, large enough that each
// piece's copy of the tables costs little.
constexpr int64_t kPiecesPerThread = 8;
// Bytes of the section per table entry copied for a piece: keeps the copies
// at about a hundredth of the time the pieces take to read.
constexpr int64_t kBytesPerTableEntry = 4096;

// Raised in a worker's reader when the load ends early (an error or a
// cancelled run on the caller's side).
struct T_workerCancel {};

// Entity names that may start a piece: the ones the entity loop reads.
constexpr std::string_view kPieceEntities[] = {
    "LINE", "LWPOLYLINE", "ARC",    "CIRCLE", "POINT",  "TEXT",  "MTEXT",
    "INSERT", "POLYLINE", "SPLINE", "SOLID",  "3DFACE", "HATCH", "MPOLYGON",
};

// The line at data[p, end) without its terminator; next is where the
// following line starts (end when the line is the last).
std::string_view LineAt(const char* data, int64_t p, int64_t end, int64_t& next) {
  const void* nl = std::memchr(data + p, '\n', static_cast<std::size_t>(end - p));
  const int64_t stop = nl != nullptr ? static_cast<const char*>(nl) - data : end;
  next = nl != nullptr ? stop + 1 : end;
  int64_t last = stop;
  if (last > p && data[last - 1] == '\r') --last;
  return std::string_view(data + p, static_cast<std::size_t>(last - p));
}

bool IsZeroCodeLine(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  return i + 1 == line.size() && line[i] == '0';
}

bool IsPieceEntity(std::string_view name) {
  return std::find(std::begin(kPieceEntities), std::end(kPieceEntities), name) !=
         std::end(kPieceEntities);
}

// The first entity boundary at or after target and before limit, or -1.
int64_t BoundaryAfter(const char* data, int64_t size, int64_t target, int64_t limit) {
  // Start at a line start: behind the first line feed at target - 1 or later.
  int64_t p = 0;
  LineAt(data, target - 1, size, p);
  limit = std::min(limit, size);
  while (p < limit) {
    int64_t next = 0;
    const std::string_view code = LineAt(data, p, size, next);
    if (IsZeroCodeLine(code) && next < size) {
      int64_t after = 0;
      if (IsPieceEntity(LineAt(data, next, size, after))) return p;
    }
    p = next;
  }
  return -1;
}

}  // namespace

struct TGIS_LayerDXF::T_entityWorker {
  int64_t Start = 0;       // the piece's boundary
  int64_t Stop = kNoStop;  // the next boundary; kNoStop for the last piece
  std::unique_ptr<TGIS_LayerDXF> Layer;
  std::atomic<int64_t>* Progress = nullptr;  // bytes read by all workers
  std::atomic<int64_t>* Items = nullptr;     // lines read by all workers
  std::atomic<bool> Cancel{false};
  // Who reads the piece; set under the claims' mutex, once.
  enum class Owner : uint8_t { Nobody, Caller, Worker } ClaimedBy = Owner::Nobody;
  // Set by the worker before Finished.
  bool Completed = false;  // read to Stop (or the end) without an error
  bool Aligned = false;    // a group starts exactly at Stop
  std::promise<void> Finished;
  std::future<void> Done = Finished.get_future();
};

std::vector<int64_t> TGIS_LayerDXF::FindPieceBoundaries(int64_t start) {
  std::vector<int64_t> boundaries;
  if (IsBinary() || stream_ == nullptr || UseRTree() || entityWorker_) return boundaries;
  const char* const data = stream_->Memory();
  const int64_t size = stream_->Size();
  if (data == nullptr || start <= 0 || start >= size) return boundaries;

  std::vector<int64_t> targets = loadSplitTargets_;
  if (targets.empty()) {
    const int32_t threads = loadThreads_ > 0 ? loadThreads_ : AvailableProcessors();
    const int64_t bytes = size - start;
    // Every worker's piece costs a copy of the tables: a drawing with very
    // many layers or blocks gets fewer pieces, at least one per thread.
    const auto entries = static_cast<int64_t>(
        layerVisibility_.Count() + layerFilter_.Count() + layerColors_.Count() +
        layerLineTypes_.Count() + layerLineWeights_.Count() + lineTypeClasses_.Count() +
        blockIndex_.Count());
    const int64_t byCopies = std::max<int64_t>(threads, bytes / (kBytesPerTableEntry * (entries + 1)));
    const int64_t pieces =
        threads < 2 ? 1
                    : std::min<int64_t>({threads * kPiecesPerThread, byCopies,
                                         bytes / kParallelPieceMinimum, 64});
    for (int64_t k = 1; k < pieces; ++k) targets.push_back(start + bytes / pieces * k);
  } else if (loadThreads_ == 1) {
    targets.clear();
  }
  std::sort(targets.begin(), targets.end());
  for (const int64_t target : targets) {
    const int64_t from = std::max(target, boundaries.empty() ? start + 1 : boundaries.back() + 1);
    if (from >= size) break;
    const int64_t found = BoundaryAfter(data, size, from, from + kBoundarySearch);
    if (found > start && (boundaries.empty() || found > boundaries.back())) boundaries.push_back(found);
  }
  return boundaries;
}

void TGIS_LayerDXF::RunEntityWorker(T_entityWorker& worker) const {
  TGIS_LayerDXF& layer = *worker.Layer;
  try {
    layer.reader_.Reset(stream_->Memory(), stream_->Size());
    layer.reader_.SetPosition(worker.Start);
    layer.reader_.SetProgressHandler([this, &worker, &layer, reported = worker.Start,
                                      released = PageAfter(worker.Start),
                                      counted = int64_t{0}](int64_t position, int64_t) mutable {
      if (worker.Cancel.load(std::memory_order_relaxed)) throw T_workerCancel{};
      if (position > reported) {
        worker.Progress->fetch_add(position - reported, std::memory_order_relaxed);
        reported = position;
      }
      // Block references that expand beyond the bound in the pieces together
      // are refused by the reading in order: the workers stop, so that such
      // a drawing costs no more than the bound once more.
      const int64_t items = layer.reader_.ItemsRead();
      const int64_t all = worker.Items->fetch_add(items - counted, std::memory_order_relaxed) +
                          (items - counted);
      counted = items;
      if (all > ExpansionLimit()) throw T_workerCancel{};
      ReleasePagesBehind(position, released);
    });
    layer.ReadGroup();
    worker.Aligned = layer.ReadEntitiesUntil(worker.Stop);
    worker.Completed = true;
  } catch (...) {
    // Whatever stopped the piece, the caller's reader reads it again in
    // order and meets any error at its own place.
    worker.Completed = false;
  }
  // The piece's pages go back as a whole: a piece is shorter than the steps
  // in which pages are given back while reading.
  ReleasePages(worker.Start, worker.Stop == kNoStop ? stream_->Size() : worker.Stop);
}

void TGIS_LayerDXF::ReadEntitiesInPieces(const std::vector<int64_t>& boundaries) {
  std::atomic<int64_t> progress{0};
  std::atomic<int64_t> items{0};
  std::vector<std::unique_ptr<T_entityWorker>> workers;
  // Guards the pieces' ClaimedBy.
  std::mutex claims;
  // However the pass ends, no worker outlives it: pieces not started yet are
  // claimed by nobody any more, the ones being read are cancelled.
  struct T_stopWorkers {
    TGIS_LayerDXF& Owner;
    std::vector<std::unique_ptr<T_entityWorker>>& Workers;
    std::mutex& Claims;
    std::vector<std::future<void>> Threads;
    ~T_stopWorkers() {
      {
        std::lock_guard<std::mutex> lock(Claims);
        for (auto& w : Workers) {
          if (w->ClaimedBy == T_entityWorker::Owner::Nobody) w->ClaimedBy = T_entityWorker::Owner::Caller;
          w->Cancel.store(true, std::memory_order_relaxed);
        }
      }
      for (auto& t : Threads) t.wait();
      Owner.parallelDone_ = nullptr;
    }
  } stopWorkers{*this, workers, claims, {}};

  for (std::size_t i = 0; i < boundaries.size(); ++i) {
    auto w = std::make_unique<T_entityWorker>();
    w->Start = boundaries[i];
    w->Stop = i + 1 < boundaries.size() ? boundaries[i + 1] : kNoStop;
    w->Progress = &progress;
    w->Items = &items;
    TGIS_LayerDXF& layer = *(w->Layer = std::make_unique<TGIS_LayerDXF>());
    layer.entityWorker_ = true;
    layer.SetSupportedKinds(SupportedKinds());
    layer.SetCodePage(EffectiveCodePage());
    layer.SetOutCodePage(EffectiveOutCodePage());
    for (const auto& field : fields_) layer.fields_.push_back(std::make_unique<TGIS_FieldInfo>(*field));
    layer.workerKnownFields_ = layer.fields_.size();
    layer.versionCode_ = versionCode_;
    layer.drawingCodePage_ = drawingCodePage_;
    layer.inputCodePage_ = inputCodePage_;
    layer.decodeEscapes_ = decodeEscapes_;
    layer.layerVisibility_ = layerVisibility_;
    layer.layerFilter_ = layerFilter_;
    layer.layerColors_ = layerColors_;
    layer.layerLineTypes_ = layerLineTypes_;
    layer.layerLineWeights_ = layerLineWeights_;
    layer.lineTypeClasses_ = lineTypeClasses_;
    layer.blockIndex_ = blockIndex_;
    layer.expansionAllowance_ = expansionAllowance_;
    layer.backgroundColor_ = backgroundColor_;
    layer.ReserveShapeRoom((w->Stop == kNoStop ? stream_->Size() : w->Stop) - w->Start);
    layer.OpenBlockArena();
    workers.push_back(std::move(w));
  }
  // The worker threads: with pieces of its own choosing (split targets
  // given for tests), one thread per piece, each claimed at once; otherwise
  // one thread per processor besides the caller's, each claiming the last
  // piece nobody has claimed, until it meets the caller's reader.
  const bool onePerPiece = !loadSplitTargets_.empty() && loadThreads_ == 0;
  const std::size_t threads =
      onePerPiece ? workers.size()
                  : std::min<std::size_t>(
                        workers.size(),
                        static_cast<std::size_t>(
                            std::max(1, (loadThreads_ > 0 ? loadThreads_ : AvailableProcessors())) - 1));
  for (std::size_t t = 0; t < threads; ++t) {
    T_entityWorker* fixed = nullptr;
    if (onePerPiece) {
      fixed = workers[t].get();
      fixed->ClaimedBy = T_entityWorker::Owner::Worker;
    }
    try {
      stopWorkers.Threads.push_back(std::async(std::launch::async, [this, &workers, &claims, fixed] {
        if (fixed != nullptr) {
          RunEntityWorker(*fixed);
          fixed->Finished.set_value();
          return;
        }
        for (;;) {
          T_entityWorker* piece = nullptr;
          {
            std::lock_guard<std::mutex> lock(claims);
            for (auto it = workers.rbegin(); it != workers.rend(); ++it) {
              if ((*it)->ClaimedBy == T_entityWorker::Owner::Nobody) {
                piece = it->get();
                break;
              }
              if ((*it)->ClaimedBy == T_entityWorker::Owner::Caller) break;
            }
            if (piece == nullptr) return;
            piece->ClaimedBy = T_entityWorker::Owner::Worker;
          }
          RunEntityWorker(*piece);
          piece->Finished.set_value();
        }
      }));
    } catch (const std::system_error&) {
      // No thread to be had: its pieces are read in order.
      if (fixed != nullptr) fixed->ClaimedBy = T_entityWorker::Owner::Nobody;
      break;
    }
  }
  parallelDone_ = &progress;

  for (auto& w : workers) {
    const bool aligned = ReadEntitiesUntil(w->Start);
    bool claimed = false;
    {
      std::lock_guard<std::mutex> lock(claims);
      if (w->ClaimedBy == T_entityWorker::Owner::Nobody) w->ClaimedBy = T_entityWorker::Owner::Caller;
      claimed = w->ClaimedBy == T_entityWorker::Owner::Worker;
    }
    if (!aligned) {
      // The reading in order passed the boundary or ended before it.
      w->Cancel.store(true, std::memory_order_relaxed);
      continue;
    }
    // A piece nobody had claimed is read on in order.
    if (!claimed) continue;
    while (w->Done.wait_for(kWaitStep) != std::future_status::ready) reader_.NotifyProgress();

    const TGIS_DxfGroupReader& done = w->Layer->reader_;
    const int64_t before = reader_.GroupStartItems();
    const bool usable = w->Completed && (w->Stop == kNoStop || w->Aligned) &&
                        before + done.ItemsRead() <= ExpansionLimit();
    if (usable) {
      AdoptShapes(*w->Layer);
      ++parallelPiecesAdopted_;
      if (w->Stop == kNoStop) {
        reader_.Resume(done.Position(), before + done.ItemsRead());
        w->Layer.reset();
        return;
      }
      reader_.Resume(w->Stop, before + done.GroupStartItems());
      ReadGroup();
    }
    // An unusable piece is read from its boundary by the loop that follows.
    w->Layer.reset();
  }
  ReadEntitiesUntil(kNoStop);
}

void TGIS_LayerDXF::AdoptShapes(TGIS_LayerDXF& worker) {
  // Extended data keys the worker met first: a single reader would have
  // declared them at the same places, unless this layer has them already.
  const std::size_t known = worker.workerKnownFields_;
  std::vector<int32_t> fieldIndex(worker.fields_.size());
  bool moved = false;
  for (std::size_t i = 0; i < worker.fields_.size(); ++i) {
    int32_t index = static_cast<int32_t>(i);
    if (i >= known) {
      const TGIS_FieldInfo& field = *worker.fields_[i];
      index = FindField(field.Name);
      if (index < 0)
        index = DeclareFileField(field.Name, field.FieldKind, field.Width, field.Decimal,
                                 field.Persistent);
    }
    fieldIndex[i] = index;
    moved = moved || index != static_cast<int32_t>(i);
  }

  const int32_t offset = LastUid();
  AdoptBlockArena(worker);
  shapes_.reserve(shapes_.size() + worker.shapes_.size());
  // The worker built its shapes long ago: their objects are fetched a few
  // shapes ahead.
  constexpr std::size_t kFetchAhead = 8;
  const std::size_t count = worker.shapes_.size();
  for (std::size_t k = 0; k < count; ++k) {
    if (k + kFetchAhead < count) __builtin_prefetch(worker.shapes_[k + kFetchAhead].get(), 1);
    std::unique_ptr<TGIS_Shape>& shape = worker.shapes_[k];
    const int32_t local = shape->Uid();
    shape->SetLayer(this);
    shape->SetUid(local + offset);
    TGIS_VariantList* values = shape->Attributes();
    if (moved && values != nullptr && static_cast<std::size_t>(values->Count()) > known) {
      TGIS_VariantList placed;
      placed.Reserve(values->Count());
      for (int32_t i = 0; i < values->Count(); ++i) {
        const TGIS_Variant* v = values->At(i);
        if (v->Kind() == TGIS_VariantKind::Unassigned) continue;
        const int32_t to = fieldIndex[static_cast<std::size_t>(i)];
        placed.Grow(to + 1);
        placed.Put(to, *v);
      }
      *values = std::move(placed);
    }
    if (local >= 0 && static_cast<std::size_t>(local) < worker.styles_.size()) {
      const auto uid = static_cast<std::size_t>(local + offset);
      if (styles_.size() <= uid) styles_.resize(std::max(uid + 1, styles_.size() * 3 / 2));
      styles_[uid] = worker.styles_[static_cast<std::size_t>(local)];
    }
    shapes_.push_back(std::move(shape));
  }
  worker.shapes_.clear();
  if (!IsNullBounds(worker.Extent())) {
    const TGIS_Bounds grown = BoundsUnion(Extent(), worker.Extent());
    if (!BoundsEqual(grown, Extent())) SetExtent(grown);
  }
}

}  // namespace cadport
