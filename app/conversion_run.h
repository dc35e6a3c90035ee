#pragma once

// One conversion: the DXF drawing of the run state into its shapefile set.
//
// Prints the target line, runs the progress bar on its own thread, reads
// the drawing through a viewer without a window and writes the set with
// the shapefile layer's import, which writes under temporary names and
// moves replaced files aside in its commit.  The old set is therefore
// never deleted before the new one exists: after a successful commit the
// backups are removed, after a failure the old set stands as it was.
//
// A drawing without any shape writes nothing: "Nothing to convert".  Shapes
// of kinds other than the first one written are counted and reported after
// "Done", since a shapefile holds one kind.

#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace cadport {

class Crt;

// True when the set was written; false when the drawing held nothing to
// convert (the error line has been shown, no file touched).  Any error is
// shown as "Error while converting" and raised again after the clean-up;
// an interrupt arrives as TInterrupted the same way.
//
// `release` says what becomes of the drawing's shapes at the end: freed one
// by one (the default, for callers that go on), or kept until the process
// exits, which gives all the memory back at once.  Freeing a large drawing
// shape by shape takes a tenth of the whole run; a process that ends right
// after the conversion has no use for that.
enum class TDrawingRelease { Free, KeepToExit };

bool RunConversion(const TRunState& state, Crt& crt,
                   TDrawingRelease release = TDrawingRelease::Free);

// Removes the files a shapefile import leaves beside its target: the
// temporary files always, the backups of replaced files only once the new
// set has been committed.  Failures to delete are ignored.
void DeleteLeftoverFiles(const std::vector<std::string>& temporaries,
                         const std::vector<std::string>& backups, bool committed);

// The line after "Done" about shapes left out, e.g. "Skipped 12 points,
// 3 polygons (a shapefile holds one kind)"; empty when none was skipped.
// Counts by kind: points, multipoints, polylines, polygons.
std::string SkippedLine(std::int64_t points, std::int64_t multipoints, std::int64_t polylines,
                        std::int64_t polygons);

}  // namespace cadport
