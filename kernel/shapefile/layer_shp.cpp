#include "kernel/shapefile/layer_shp.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <ctime>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "kernel/base/exception.h"
#include "kernel/base/messages.h"
#include "kernel/base/utils.h"
#include "kernel/layer/viewer.h"

namespace cadport {

namespace {

constexpr int kProgressStep = 100;

// Writes the .shx and .shp records of a conversion, in the caller's thread
// or on a thread of its own, while the caller scans and writes the
// attribute table. Records are handed over in batches. The files come out
// the same either way; a failure is kept with the number of records written
// before it, so that the caller raises the error of the first failing record
// as writing in one thread would.
class T_recordWriter {
 public:
  T_recordWriter(TGIS_FileSHP& shp, TGIS_FileSHX& shx, bool threaded) : shp_(shp), shx_(shx) {
    if (threaded) thread_ = std::thread([this] { Run(); });
  }
  ~T_recordWriter() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  T_recordWriter(const T_recordWriter&) = delete;
  T_recordWriter& operator=(const T_recordWriter&) = delete;

  // Writes the records of shape as record number (or queues them).
  void Add(const TGIS_Shape& shape, std::int32_t recordNumber) {
    ++added_;
    if (!thread_.joinable()) {
      Write({&shape, recordNumber});
      return;
    }
    batch_.push_back({&shape, recordNumber});
    if (batch_.size() >= kBatch) Hand();
  }
  // Records added so far.
  std::size_t Added() const { return added_; }
  // Waits until the records added so far are written or one failed; the
  // number of records written before the failing one, or null. (Writing in
  // the caller's thread, a failure is raised at once by Add.)
  const std::size_t* FailedRecord() {
    if (!thread_.joinable()) return nullptr;
    Hand();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return failed_ || written_ == added_; });
    return failed_ ? &written_ : nullptr;
  }
  [[noreturn]] void RaiseFailure() const { std::rethrow_exception(error_); }
  // Every record written; raises the first failure.
  void Finish() {
    if (FailedRecord() != nullptr) RaiseFailure();
  }
  // Union of the extents of the shapes written with geometry.
  const TGIS_Bounds& Written() const { return writtenBounds_; }

 private:
  struct Item {
    const TGIS_Shape* shape;
    std::int32_t recordNumber;
  };
  static constexpr std::size_t kBatch = 256;
  static constexpr std::size_t kMaxPending = 16 * kBatch;
  static constexpr std::size_t kFetchObject = 8;
  static constexpr std::size_t kFetchBlocks = 4;

  void Write(const Item& item) {
    const TGIS_Shape& shape = *item.shape;
    const bool hasGeometry = !shape.IsEmpty();
    if (hasGeometry) writtenBounds_ = BoundsUnion(writtenBounds_, shape.Extent());
    TGIS_ShpRecordHeader header;
    header.RecordNumber = item.recordNumber;
    header.ContentLength =
        hasGeometry ? (shape.GeometryHeaderSize() + shape.GeometryPointsSize() + 4) / 2 : 2;
    header.Kind = shape.ShapeKind();
    shx_.WriteIndexRecord(shp_.Position(), header);
    shp_.WriteRecordHeader(header);
    if (hasGeometry) shp_.WriteShapeGeometry(shape);
  }
  // Hands the batch to the thread, once the thread is at most kMaxPending
  // records behind (an interruption then waits for few records).
  void Hand() {
    if (batch_.empty()) return;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return failed_ || pending_.size() < kMaxPending; });
      pending_.insert(pending_.end(), batch_.begin(), batch_.end());
    }
    batch_.clear();
    changed_.notify_all();
  }
  void Run() {
    std::vector<Item> work;
    std::size_t done = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || !pending_.empty(); });
        if (stop_) return;
        work.swap(pending_);
      }
      try {
        // The shapes were built long before: their objects, then their
        // blocks are fetched a few records ahead.
        for (std::size_t k = 0; k < work.size(); ++k) {
          if (k + kFetchObject < work.size()) __builtin_prefetch(work[k + kFetchObject].shape);
          if (k + kFetchBlocks < work.size()) work[k + kFetchBlocks].shape->PrefetchBlocks();
          Write(work[k]);
          ++done;
        }
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
        written_ = done;
        error_ = std::current_exception();
        changed_.notify_all();
        return;
      }
      work.clear();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        written_ = done;
      }
      changed_.notify_all();
    }
  }

  TGIS_FileSHP& shp_;
  TGIS_FileSHX& shx_;
  TGIS_Bounds writtenBounds_ = NullBounds();
  std::vector<Item> batch_;  // the caller's, not handed over yet
  std::size_t added_ = 0;    // the caller's count
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_.
  std::vector<Item> pending_;
  std::size_t written_ = 0;
  bool failed_ = false;
  std::exception_ptr error_;
  bool stop_ = false;
};

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Both names lead to the same file (device and inode).
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (a.empty() || b.empty()) return false;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Path itself when it exists; else a file in the same folder whose name
// differs only in ASCII case; else Path.
std::string FindSibling(const std::string& path) {
  if (FileExists(path)) return path;
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return path;
  std::string found;
  while (dirent* e = ::readdir(d)) {
    if (SameTextNoCase(e->d_name, name)) {
      found = slash == std::string::npos ? std::string(e->d_name) : dir + e->d_name;
      if (FileExists(found)) break;
      found.clear();
    }
  }
  ::closedir(d);
  return found.empty() ? path : found;
}

double FileTimeAsDays(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 0;
  std::tm t{};
  const std::time_t mtime = st.st_mtime;
  localtime_r(&mtime, &t);
  return EncodeDateTime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                        double(t.tm_sec))
      .Value;
}

// BusyBegin now, BusyRelease on every way out.
class BusyScope {
 public:
  BusyScope(TGIS_Viewer* viewer, TGIS_BaseObject* sender) : viewer_(viewer), sender_(sender) {
    if (viewer_) viewer_->BusyBegin(sender_);
  }
  ~BusyScope() {
    if (!viewer_) return;
    try {
      viewer_->BusyRelease(sender_);
    } catch (...) {  // a destructor never throws; the level was ours to lower
    }
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  TGIS_Viewer* viewer_;  // not owned; outlives the import
  TGIS_BaseObject* sender_;
};

// Removes the temporary files of an import unless it was committed.
class TemporaryFiles {
 public:
  void Add(std::string path) { paths_.push_back(std::move(path)); }
  void Release() { paths_.clear(); }
  ~TemporaryFiles() {
    for (const std::string& p : paths_) ::unlink(p.c_str());
  }

 private:
  std::vector<std::string> paths_;
};

}  // namespace

TGIS_LayerSHP::TGIS_LayerSHP()
    : point_(std::make_unique<TGIS_ShapePoint>(nullptr, nullptr, -1)),
      multipoint_(std::make_unique<TGIS_ShapeMultipoint>(nullptr, nullptr, -1)),
      arc_(std::make_unique<TGIS_ShapeArc>(nullptr, nullptr, -1)),
      polygon_(std::make_unique<TGIS_ShapePolygon>(nullptr, nullptr, -1)) {}

TGIS_LayerSHP::~TGIS_LayerSHP() {
  // The reusable shapes borrow from the mappings: forget them first.
  fileShape_ = nullptr;
  currentShape_ = nullptr;
  CloseFiles();
}

// ---- names

std::string TGIS_LayerSHP::IndexPath() const { return RemoveExtension(Path()) + ".shx"; }

std::string TGIS_LayerSHP::AttributesPath() const { return RemoveExtension(Path()) + ".dbf"; }

std::string TGIS_LayerSHP::RTreePath() { return Path() + ".rtree"; }

std::vector<std::string> TGIS_LayerSHP::FileNames() const {
  return {MainPath(), IndexPath(), AttributesPath(), Path() + ".rtree"};
}

std::vector<std::string> TGIS_LayerSHP::TemporaryNames() const {
  std::vector<std::string> names = FileNames();
  for (std::string& n : names) n = TempName(n);
  return names;
}

std::vector<std::string> TGIS_LayerSHP::BackupNames() const {
  std::vector<std::string> names = FileNames();
  for (std::string& n : names) n = BackupName(n);
  return names;
}

std::int64_t TGIS_LayerSHP::SkippedCount(TGIS_ShapeKind kind) const {
  const auto k = static_cast<size_t>(kind);
  return k < skipped_.size() ? skipped_[k] : 0;
}

// ---- opening

void TGIS_LayerSHP::CloseFiles() noexcept {
  fileShape_ = nullptr;
  shp_.reset();
  shx_.reset();
  dbf_.reset();
}

void TGIS_LayerSHP::Setup() {
  TGIS_LayerVector::Setup();
  lastUidCache_ = -1;
  CloseFiles();

  shp_ = std::make_unique<TGIS_FileSHP>(Path(), false);
  shp_->ReadHeader();
  const TGIS_ShapeKind kind = TGIS_FileSHPInternal::KindOfShapeType(shp_->Header.ShapeType);
  SetSupportedKinds(kind == TGIS_ShapeKind::Unknown ? TGIS_ShapeKindSet{0} : ShapeKindBit(kind));
  SetExtent(shp_->Header.Bounds);

  const std::string indexPath = FindSibling(IndexPath());
  if (FileExists(indexPath)) {
    shx_ = std::make_unique<TGIS_FileSHX>(indexPath, false);
    shx_->ReadHeader();
  }

  // The table's columns become the layer's fields.
  fields_.clear();
  dbf_ = std::make_unique<TGIS_FileDBF>(FindSibling(AttributesPath()), false, *this);

  if (FileExists(Path())) SetOpenTime(FileTimeAsDays(Path()));
  SetDescription(kDescription);
}

// ---- reading

TGIS_Shape* TGIS_LayerSHP::ReadRecordAtPosition() {
  InterruptCheck();  // the viewer's chance to notice an interruption
  currentRecord_ = shp_->ReadRecordHeader();
  currentKind_ = currentRecord_.Kind;
  const std::byte* geometry = shp_->RecordGeometry();
  const std::span<const std::byte> record(geometry, size_t(currentRecord_.ContentLength) * 2 - 4);
  TGIS_Shape* shape = nullptr;
  switch (currentKind_) {
    case TGIS_ShapeKind::Point: shape = point_.get(); break;
    case TGIS_ShapeKind::MultiPoint: shape = multipoint_.get(); break;
    case TGIS_ShapeKind::Arc: shape = arc_.get(); break;
    case TGIS_ShapeKind::Polygon: shape = polygon_.get(); break;
    default: return nullptr;
  }
  shape->Reinit(nullptr, record, this, currentRecord_.RecordNumber, true);
  return EditedVersion(shape);
}

void TGIS_LayerSHP::StartScan(const TGIS_Bounds& extent, const std::string& query,
                              TGIS_Shape* relationShape, const std::string& relationPattern,
                              bool skipDeleted) {
  ScanPrepare(extent, query, relationShape, relationPattern, skipDeleted);
  fileShape_ = nullptr;
  if (shp_) shp_->ReadHeader();  // the position is then on the first record
  ScanNext();
}

void TGIS_LayerSHP::ScanNext() {
  for (;;) {
    fileShape_ = nullptr;
    bool nullRecord = false;
    if (shp_ && shp_->Position() < shp_->Size()) {
      fileShape_ = ReadRecordAtPosition();
      nullRecord = fileShape_ == nullptr;
    }
    if (fileShape_ == nullptr) {
      if (nullRecord) continue;  // skip it (after the last record: the list)
      if (ScanAtEnd()) return;   // done
      // Shapes added to the layer and not saved yet.
      fileShape_ = ScanItem();
      ScanAdvance();
      if (fileShape_ == nullptr) return;
    }
    if (ScanSkipDeleted() && fileShape_->Deleted()) continue;
    if (MatchesScan(fileShape_)) return;
  }
}

bool TGIS_LayerSHP::ScanDone() { return fileShape_ == nullptr; }

TGIS_Shape* TGIS_LayerSHP::ScanCurrent() {
  return fileShape_ ? fileShape_ : TGIS_LayerVector::ScanCurrent();
}

TGIS_Shape* TGIS_LayerSHP::ShapeByUid(std::int32_t uid) {
  if (uid < 1) return nullptr;
  if (fileShape_ && fileShape_->Uid() == uid) {
    // A record read before the shape was made editable is stale: the
    // listed copy holds the edits.
    std::int32_t index = 0;
    if (!IsReusable(fileShape_) || !FindUidIndex(uid, index)) return fileShape_;
  }
  if (TGIS_Shape* listed = TGIS_LayerVector::ShapeByUid(uid)) {
    fileShape_ = listed;
    return listed;
  }
  if (!shp_) return nullptr;
  if (shx_) {
    if (uid > shx_->RecordCount()) return nullptr;
    const TGIS_FileSHX::IndexRecord r = shx_->ReadIndexRecord(uid, shp_->Size());
    shp_->SetPosition(r.Offset);
    fileShape_ = ReadRecordAtPosition();
    return fileShape_;
  }
  // No index: look for it.  A layer without a viewer searches everything.
  const TGIS_Bounds extent = Viewer() ? Viewer()->Extent() : UnboundedBounds();
  for (StartScan(extent, {}, nullptr, {}, true); !ScanDone(); ScanNext()) {
    if (ScanCurrent()->Uid() == uid) return ScanCurrent();
  }
  return nullptr;
}

std::int32_t TGIS_LayerSHP::LastUid() {
  if (lastUidCache_ >= 0) return lastUidCache_;
  std::int32_t last = 0;
  for (StartScan(UnboundedBounds(), {}, nullptr, {}, false); !ScanDone(); ScanNext())
    last = ScanCurrent()->Uid();
  lastUidCache_ = last;
  return last;
}

std::int32_t TGIS_LayerSHP::NextUid() {
  LastUid();
  return ++lastUidCache_;
}

TGIS_Variant TGIS_LayerSHP::ReadFileField(std::int32_t uid, const std::string& name) {
  if (!dbf_) return {};
  return dbf_->ReadValue(uid, name, -1);
}

TGIS_Variant TGIS_LayerSHP::ReadFileFieldByIndex(std::int32_t index) {
  if (!dbf_ || fileShape_ == nullptr) return {};
  return dbf_->ReadValue(fileShape_->Uid(), {}, index);
}

bool TGIS_LayerSHP::IsReusable(const TGIS_Shape* shape) const {
  return shape == point_.get() || shape == multipoint_.get() || shape == arc_.get() ||
         shape == polygon_.get();
}

void TGIS_LayerSHP::RevertShape(std::int32_t uid) {
  if (fileShape_ && !IsReusable(fileShape_) && fileShape_->Uid() == uid) fileShape_ = nullptr;
  TGIS_LayerVector::RevertShape(uid);
}

void TGIS_LayerSHP::RevertAll() {
  if (fileShape_ && !IsReusable(fileShape_)) fileShape_ = nullptr;
  TGIS_LayerVector::RevertAll();
}

// ---- writing

void TGIS_LayerSHP::SaveData() {
  TGIS_LayerVector::SaveData();
  if (IsModified()) ConvertFrom(this, UnboundedBounds(), TGIS_ShapeKind::Unknown, {}, false);
}

void TGIS_LayerSHP::Build(const std::string& path, const TGIS_Bounds& extent,
                          TGIS_ShapeKind kind) {
  TGIS_LayerVector::Build(path, extent, kind);
  MakeExportNames(11, false);
  if (FileExists(Path())) throw EGIS_Exception(GIS_RS_ERR_FILEEXIST, Path(), 0);
  if (FileExists(AttributesPath())) throw EGIS_Exception(GIS_RS_ERR_FILEEXIST, AttributesPath(), 0);

  TemporaryFiles created;  // an incomplete set is removed again
  created.Add(Path());
  TGIS_FileSHP shp(Path(), true);
  shp.Header.Bounds = extent;
  shp.Header.ShapeType = TGIS_FileSHPInternal::ShapeTypeOfKind(kind);
  shp.WriteHeader();
  shp.Close();
  // An index too: peers refuse a set without one.
  if (!FileExists(IndexPath())) {
    created.Add(IndexPath());
    TGIS_FileSHX shx(IndexPath(), true);
    shx.Header = shp.Header;
    shx.WriteHeader();
    shx.Close();
  }
  created.Add(AttributesPath());
  TGIS_FileDBF dbf(AttributesPath(), true, *this);
  dbf.WriteHeader();
  dbf.WriteFieldDescriptors();
  dbf.WriteHeader();
  dbf.Close();
  created.Release();
}

void TGIS_LayerSHP::IndexBegin(const std::string&) { indexWritten_ = false; }
void TGIS_LayerSHP::IndexInsert(const TGIS_Bounds&, std::int32_t) {}
void TGIS_LayerSHP::IndexFinish() {}
void TGIS_LayerSHP::IndexAbandon() noexcept { indexWritten_ = false; }

void TGIS_LayerSHP::ConvertFrom(TGIS_LayerVector* source, const TGIS_Bounds& extent,
                                TGIS_ShapeKind kind, const std::string& query, bool clip) {
  if (source == nullptr) return;
  writtenCount_ = 0;
  replacedASet_ = false;
  skipped_.fill(0);
  const std::int32_t maxUid = source->LastUid();
  bool abort = false;
  std::int64_t count = 0;
  TGIS_Viewer* const viewer = source->Viewer();
  BusyScope busy(viewer, source);

  if (source != this) CopyFieldsFrom(*source);
  MakeExportNames(11, false);

  const bool same = source == this || SameFile(source->Path(), Path());
  TGIS_ShapeKind wanted = kind;
  bool empty = true;

  const std::string mainName = Path();
  const std::string indexName = IndexPath();
  const std::string attributesName = AttributesPath();
  const std::string rtreeName = RTreePath();

  // Declared before the writers: on an error the writers close first, then
  // their temporary files go.
  TemporaryFiles temporaries;
  temporaries.Add(TempName(mainName));
  auto shp = std::make_unique<TGIS_FileSHP>(TempName(mainName), true);
  temporaries.Add(TempName(indexName));
  auto shx = std::make_unique<TGIS_FileSHX>(TempName(indexName), true);
  temporaries.Add(TempName(attributesName));
  auto dbf = std::make_unique<TGIS_FileDBF>(TempName(attributesName), true, *this);

  shp->Header.Bounds = BoundsIntersection(extent, source->Extent());
  shp->WriteHeader();
  shx->WriteHeader();
  dbf->WriteHeader();
  dbf->WriteFieldDescriptors();

  const bool useIndex = source->UseRTree();
  if (useIndex) {
    temporaries.Add(TempName(rtreeName));
    IndexBegin(TempName(rtreeName));
  }
  struct IndexGuard {
    TGIS_LayerSHP* layer;
    bool armed;
    ~IndexGuard() {
      if (armed) layer->IndexAbandon();
    }
  } indexGuard{this, useIndex};

  // A second thread writes the main file and index of a long conversion
  // while this one scans and writes the attribute table.
  const bool threaded =
      writeThreads_ != 1 && !useIndex && !clip && !same && source->ScanKeepsShapes() &&
      (writeThreads_ == 2 ||
       (AvailableProcessors() > 1 &&
        static_cast<std::int64_t>(source->Shapes().size()) >= kWriterThreadMinimum));
  T_recordWriter records(*shp, *shx, threaded);
  // With the second thread: the shapes skipped, each with the number of
  // records added before it (the counts of a failed run are those up to the
  // failing record).
  std::vector<std::pair<std::size_t, std::size_t>> skips;
  std::int32_t recordNumber = 1;
  try {
    source->StartScan(extent, query, nullptr, {}, true);
    while (!source->ScanDone()) {
      TGIS_Shape* const cur = source->ScanCurrent();
      std::unique_ptr<TGIS_Shape> clipped;
      TGIS_Shape* shape = cur;
      if (clip && cur) {
        clipped = cur->ClipToExtent(extent);
        shape = clipped.get();
      }
      if (shape && !shape->Deleted()) {
        if (wanted == TGIS_ShapeKind::Unknown || shape->ShapeKind() == wanted) {
          if (wanted == TGIS_ShapeKind::Unknown) wanted = shape->ShapeKind();
          records.Add(*shape, recordNumber);
          if (useIndex)
            IndexInsert(shape->IsEmpty() ? TGIS_Bounds{0, 0, 0, 0} : shape->Extent(), recordNumber);
          // Attributes come from the source shape, not from a clipped copy.
          dbf->AppendRecord(*cur);
          empty = false;
          ++writtenCount_;
          if (recordNumber == INT32_MAX) ThrowWriteError(TempName(mainName), EFBIG);
          ++recordNumber;
        } else {
          const auto k = static_cast<size_t>(shape->ShapeKind());
          if (k < skipped_.size()) ++skipped_[k];
          if (threaded) skips.emplace_back(records.Added(), k);
        }
      }
      clipped.reset();
      if (count % kProgressStep == 1 && viewer) {
        TGIS_Shape* const current = source->ScanCurrent();
        viewer->BusyShake(source, current ? current->Uid() : 0, maxUid, abort);
        if (abort) {
          ++count;
          source->ScanNext();
          break;
        }
      }
      ++count;
      source->ScanNext();
    }
    if (threaded) {
      // While the other thread writes the last records: the files the
      // commit replaces are deleted after it, and that would wait for
      // their cached pages to be freed.
      for (const std::string* name : {&mainName, &indexName, &attributesName})
        DropCachedPages(*name);
    }
    records.Finish();
  } catch (...) {
    // A record added before this error failed to be written: that failure
    // came first, and the counts are the ones up to it.
    if (const std::size_t* failed = records.FailedRecord()) {
      writtenCount_ = static_cast<std::int64_t>(*failed);
      skipped_.fill(0);
      for (const auto& [added, k] : skips)
        if (added <= *failed && k < skipped_.size()) ++skipped_[k];
      records.RaiseFailure();
    }
    throw;
  }
  // The header box is the union of the shapes written.
  const TGIS_Bounds written = records.Written();

  // Final headers.
  if (empty && same && shp_) {
    shp->Header.Bounds = shp_->Header.Bounds;
    shp->Header.ShapeType = shp_->Header.ShapeType;
  } else {
    shp->Header.ShapeType = TGIS_FileSHPInternal::ShapeTypeOfKind(wanted);
    if (!IsNullBounds(written))
      shp->Header.Bounds = written;
    else if (!empty)
      shp->Header.Bounds = TGIS_Bounds{0, 0, 0, 0};  // null records only
  }
  shp->WriteHeader();
  shp->Close();
  shx->Header.ShapeType = TGIS_FileSHPInternal::ShapeTypeOfKind(wanted);
  shx->Header.Bounds = shp->Header.Bounds;
  shx->WriteHeader();
  shx->Close();
  dbf->WriteHeader();
  dbf->Close();
  if (useIndex) IndexFinish();
  indexGuard.armed = false;

  if (empty && !same) return;  // the temporaries go with `temporaries`

  // Commit: main, index, attributes (and the R-tree when one was written).
  struct Entry {
    std::string target, temp, backup;
    bool hadTarget = false;
    bool placed = false;
  };
  std::vector<Entry> entries;
  for (const std::string* name : {&mainName, &indexName, &attributesName})
    entries.push_back({*name, TempName(*name), BackupName(*name)});
  if (useIndex && indexWritten_) entries.push_back({rtreeName, TempName(rtreeName), BackupName(rtreeName)});

  for (const Entry& e : entries) ::unlink(e.backup.c_str());
  for (Entry& e : entries) e.hadTarget = ::rename(e.target.c_str(), e.backup.c_str()) == 0;
  for (Entry& e : entries) {
    if (::rename(e.temp.c_str(), e.target.c_str()) == 0) {
      e.placed = true;
      continue;
    }
    const int err = errno;
    // Put the previous set back; a new file without a previous one goes,
    // so that no new main file sits beside an old attribute table.
    for (const Entry& r : entries) {
      if (r.hadTarget)
        ::rename(r.backup.c_str(), r.target.c_str());
      else if (r.placed)
        ::unlink(r.target.c_str());
    }
    throw EGIS_Exception(GIS_RS_ERR_FILEWRITE, e.target, err);
  }
  temporaries.Release();
  replacedASet_ = std::any_of(entries.begin(), entries.end(),
                              [](const Entry& e) { return e.hadTarget; });

  if (same) ReopenAfterRewrite(useIndex);
}

void TGIS_LayerSHP::ReopenAfterRewrite(bool useIndex) {
  SetModified(false);
  // The edits are in the new files now: read the layer from them again.
  fileShape_ = nullptr;
  currentShape_ = nullptr;
  CloseFiles();
  DropIndex();
  shapes_.clear();
  fields_.clear();
  Setup();
  if (Viewer()) SetUseRTree(useIndex);
}

}  // namespace cadport
