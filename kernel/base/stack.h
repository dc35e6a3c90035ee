#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace cadport {

// A stack of non-owning references.  Peek and Pop give nullptr when empty.
class TGIS_Stack {
 public:
  void Push(void* item) { items_.push_back(item); }
  void* Peek() const noexcept { return items_.empty() ? nullptr : items_.back(); }
  void* Pop() noexcept {
    if (items_.empty()) return nullptr;
    void* top = items_.back();
    items_.pop_back();
    return top;
  }
  bool IsEmpty() const noexcept { return items_.empty(); }
  std::size_t Count() const noexcept { return items_.size(); }
  void Clear() noexcept { items_.clear(); }
  // Becomes a copy of other (its items pushed bottom first).
  void Assign(const TGIS_Stack& other) {
    if (this != &other) items_ = other.items_;
  }

 private:
  std::vector<void*> items_;  // bottom first
};

// A stack of 32-bit integers.  Peek and Pop give no value when empty.
class TGIS_StackInteger {
 public:
  void Push(std::int32_t item) { items_.push_back(item); }
  std::optional<std::int32_t> Peek() const noexcept {
    if (items_.empty()) return std::nullopt;
    return items_.back();
  }
  std::optional<std::int32_t> Pop() noexcept {
    if (items_.empty()) return std::nullopt;
    const std::int32_t top = items_.back();
    items_.pop_back();
    return top;
  }
  bool IsEmpty() const noexcept { return items_.empty(); }
  std::size_t Count() const noexcept { return items_.size(); }
  void Clear() noexcept { items_.clear(); }
  // Bottom first, as pushed.
  const std::vector<std::int32_t>& Items() const noexcept { return items_; }
  void Assign(const TGIS_StackInteger& other) {
    if (this != &other) items_ = other.items_;
  }

 private:
  std::vector<std::int32_t> items_;  // bottom first
};

}  // namespace cadport
