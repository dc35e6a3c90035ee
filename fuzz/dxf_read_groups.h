// Reads a whole drawing group by group, as the DXF layer does; shared by the
// text and binary reader targets.
#ifndef CADPORT_FUZZ_DXF_READ_GROUPS_H
#define CADPORT_FUZZ_DXF_READ_GROUPS_H

#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_util.h"
#include "kernel/dxf/dxf_group_reader.h"

namespace cadport::fuzz {

// Reads every group; at an INSERT jumps back (a few times) to the first
// BLOCK met and reads on from there, as block expansion does.
inline void ReadAllGroups(const char* data, int64_t size) {
  Sink sink;
  TGIS_DxfGroupReader reader;
  int64_t lastProgress = -1;
  reader.SetProgressHandler([&](int64_t furthest, int64_t total) {
    // Progress only moves forward and never past the end.
    if (furthest < lastProgress || furthest > total || total != size) __builtin_trap();
    lastProgress = furthest;
  });
  reader.Reset(data, size);
  int64_t jumpTo = -1;
  int jumps = 0;
  try {
    while (!reader.AtEnd()) {
      const int64_t before = reader.Position();
      reader.ReadGroup();
      if (reader.Position() <= before) __builtin_trap();  // no progress: a hang
      if (reader.Position() > reader.Size()) __builtin_trap();
      sink.Add(uint64_t(uint32_t(reader.GroupCode())));
      sink.Add(reader.GroupValue());
      int64_t v = 0;
      if (TGIS_DxfGroupReader::ParseInteger(reader.GroupValue(), v)) sink.Add(uint64_t(v));
      if (reader.IsGroup(0, "BLOCK") && jumpTo < 0) jumpTo = reader.Position();
      if (reader.IsGroup(0, "INSERT") && jumpTo >= 0 && jumps < 4) {
        ++jumps;
        reader.SetPosition(jumpTo);
      }
    }
  } catch (const EDxfStructure& e) {
    sink.Add(std::string_view(e.what()));
  }
}

}  // namespace cadport::fuzz

#endif  // CADPORT_FUZZ_DXF_READ_GROUPS_H
