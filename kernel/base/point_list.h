#pragma once

#include <cstddef>
#include <vector>

#include "kernel/base/types.h"

namespace cadport {

// An owning list of coordinates.
class TGIS_PointList {
 public:
  void Add(const TGIS_Coord& coord) { items_.push_back(coord); }
  void Clear() noexcept { items_.clear(); }
  std::size_t Count() const noexcept { return items_.size(); }
  bool IsEmpty() const noexcept { return items_.empty(); }
  const TGIS_Coord& operator[](std::size_t index) const { return items_[index]; }
  TGIS_Coord& operator[](std::size_t index) { return items_[index]; }
  const std::vector<TGIS_Coord>& Items() const noexcept { return items_; }

 private:
  std::vector<TGIS_Coord> items_;
};

}  // namespace cadport
