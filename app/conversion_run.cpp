#include "app/conversion_run.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/crt.h"
#include "app/interrupt.h"
#include "app/progress_thread.h"
#include "kernel/base/utils.h"
#include "kernel/dxf/layer_dxf.h"
#include "kernel/layer/viewer.h"
#include "kernel/shapefile/layer_shp.h"

namespace cadport {
namespace {

constexpr int kProgressWidth = 30;
constexpr int kProgressDelayMs = 10;
constexpr std::int32_t kBitmapSize = 128;

void RemoveIfPresent(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);  // failures are ignored: nothing more can be done
}

void AppendCount(std::string& line, std::int64_t count, const char* singular,
                 const char* plural) {
  if (count <= 0) return;
  if (line.size() > 8) line += ", ";
  line += std::to_string(count);
  line += ' ';
  line += count == 1 ? singular : plural;
}

}  // namespace

void DeleteLeftoverFiles(const std::vector<std::string>& temporaries,
                         const std::vector<std::string>& backups, bool committed) {
  for (const std::string& t : temporaries) RemoveIfPresent(t);
  // After a failed commit a backup may be the user's only copy: keep it.
  if (committed) {
    for (const std::string& b : backups) RemoveIfPresent(b);
  }
}

std::string SkippedLine(std::int64_t points, std::int64_t multipoints, std::int64_t polylines,
                        std::int64_t polygons) {
  std::string line = "Skipped ";
  AppendCount(line, points, "point", "points");
  AppendCount(line, multipoints, "multipoint", "multipoints");
  AppendCount(line, polylines, "polyline", "polylines");
  AppendCount(line, polygons, "polygon", "polygons");
  if (line.size() == 8) return {};
  return line + " (a shapefile holds one kind)";
}

bool RunConversion(const TRunState& state, Crt& crt, TDrawingRelease release) {
  int column = 1;
  int row = 1;
  {
    std::lock_guard lock(crt.Lock());
    crt.WriteLine(state.Verb + "  \xAF\xAF  " + ExpandPath({}, state.ShpName));
    row = crt.CursorRow();
    column = crt.CursorColumn();
  }

  std::unique_ptr<TProgressThread> progress;
  std::unique_ptr<TGIS_ViewerBitmap> bitmap;
  std::unique_ptr<TGIS_Viewer> viewer;
  std::unique_ptr<TGIS_LayerSHP> shp;
  bool succeeded = false;
  bool wrote = false;
  std::string skipped;
  std::vector<std::string> backups;
  std::vector<std::string> temporaries;

  // Releases in the fixed order: indicator, bitmap, viewer (with the DXF
  // layer), shapefile layer; then the files the import leaves behind. (When
  // a set was replaced, the viewer goes on a second thread meanwhile.)
  auto cleanUp = [&]() noexcept {
    if (progress) {
      progress->Terminate(succeeded && wrote);
      progress.reset();
    }
    bitmap.reset();
    // Replacing a set ends with deleting the old one, which waits on the
    // disk: meanwhile a second thread releases the drawing, so that the
    // process has that much less to give back when it ends.
    std::thread releaser;
    if (release == TDrawingRelease::KeepToExit && viewer && succeeded && shp &&
        shp->ReplacedASet()) {
      try {
        releaser = std::thread([v = std::move(viewer)]() mutable { v.reset(); });
      } catch (const std::system_error&) {
        // No thread: the drawing went with the thread's closure, here.
      }
    }
    if (release == TDrawingRelease::KeepToExit && viewer) {
      // Deliberately not freed: the process ends next and takes the memory
      // back in one go.  The pointer stays reachable, so leak checkers
      // do not count it as lost.
      static TGIS_Viewer* keptToExit = nullptr;
      keptToExit = viewer.release();
      (void)keptToExit;
    }
    viewer.reset();
    if (shp) {
      backups = shp->BackupNames();
      temporaries = shp->TemporaryNames();
      shp.reset();
    }
    DeleteLeftoverFiles(temporaries, backups, succeeded);
    if (releaser.joinable()) releaser.join();
  };

  try {
    progress = std::make_unique<TProgressThread>(crt, column, row, kProgressWidth,
                                                 kProgressDelayMs);
    // A drawing read in a flash still ends with Done (or Failed) on the bar.
    progress->WaitForStart();
    bitmap = std::make_unique<TGIS_ViewerBitmap>(TGIS_ViewerBitmap{kBitmapSize, kBitmapSize});
    viewer = std::make_unique<TGIS_Viewer>(*bitmap);
    // The kernel's progress points are where an interrupt ends the run.
    viewer->OnBusy = [](TGIS_BaseObject*, std::int32_t, std::int32_t, bool&) {
      CheckInterrupt();
    };

    auto dxfLayer = std::make_unique<TGIS_LayerDXF>();
    dxfLayer->SetPath(state.DxfName);
    auto* dxf = static_cast<TGIS_LayerDXF*>(viewer->AttachLayer(std::move(dxfLayer)));
    viewer->ZoomToAll();
    CheckInterrupt();

    shp = std::make_unique<TGIS_LayerSHP>();
    shp->SetPath(state.ShpName);
    shp->ConvertFrom(dxf, dxf->Extent(), TGIS_ShapeKind::Unknown, std::string(), false);
    wrote = shp->WrittenCount() > 0;
    skipped = SkippedLine(shp->SkippedCount(TGIS_ShapeKind::Point),
                          shp->SkippedCount(TGIS_ShapeKind::MultiPoint),
                          shp->SkippedCount(TGIS_ShapeKind::Arc),
                          shp->SkippedCount(TGIS_ShapeKind::Polygon));
    // No interrupt check past this point: the new set is committed, and
    // failing now would keep the replaced files as backups beside it.
    succeeded = true;
  } catch (...) {
    ShowError(crt, "Error while converting");
    cleanUp();
    throw;
  }

  if (!wrote) {
    // Nothing was written and nothing touched; not an error inside the
    // program, but no success either.
    ShowError(crt, "Nothing to convert");
    succeeded = false;
    cleanUp();
    return false;
  }
  cleanUp();
  if (!skipped.empty()) {
    std::lock_guard lock(crt.Lock());
    crt.EndLine();
    // In the start-up colours, not in those the bar's "Done" left behind.
    crt.RestoreNormalAttribute();
    crt.WriteLine(skipped);
  }
  return true;
}

}  // namespace cadport
