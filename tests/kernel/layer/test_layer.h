#pragma once

// A layer for tests: Setup sets a chosen extent (or throws), and the layer
// counts the steps the open sequence and the viewer run on it.

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kernel/base/types.h"
#include "kernel/layer/layer_abstract.h"

namespace cadport::testing {

class TestLayer : public TGIS_LayerAbstract {
 public:
  explicit TestLayer(const std::string& path = {}, TGIS_Bounds setupExtent = NullBounds())
      : setupExtent_(setupExtent) {
    SetPath(path);
  }
  ~TestLayer() override {
    if (releaseLog_ != nullptr) releaseLog_->push_back(Name());
  }

  void Setup() override {
    TGIS_LayerAbstract::Setup();
    ++setupCalls;
    if (failSetup) throw std::runtime_error("setup failed");
    SetExtent(setupExtent_);
  }
  void SetupFinish() override {
    TGIS_LayerAbstract::SetupFinish();
    ++setupFinishCalls;
  }
  void RecalcExtent() override {
    ++recalcExtentCalls;
    if (recalcTo) SetExtent(*recalcTo);
  }
  void RecalcProjectedExtent() override {
    ++projectedCalls;
    TGIS_LayerAbstract::RecalcProjectedExtent();
  }
  void ApplyUseRTree() override { ++applyUseRTreeCalls; }

  // Names of released layers are appended here.
  void LogReleaseTo(std::vector<std::string>* log) { releaseLog_ = log; }

  int setupCalls = 0;
  int setupFinishCalls = 0;
  int recalcExtentCalls = 0;
  int projectedCalls = 0;  // one per viewer recomputation once attached
  int applyUseRTreeCalls = 0;
  bool failSetup = false;
  const TGIS_Bounds* recalcTo = nullptr;

 private:
  TGIS_Bounds setupExtent_;
  std::vector<std::string>* releaseLog_ = nullptr;
};

inline std::unique_ptr<TestLayer> MakeLayer(const std::string& path = {},
                                            TGIS_Bounds extent = NullBounds()) {
  return std::make_unique<TestLayer>(path, extent);
}

}  // namespace cadport::testing
