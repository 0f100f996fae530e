// Fault-injection sweep: a scenario runs once on a fresh simulated platform
// to record its platform calls; then once more per recorded call (and per
// injected status) on another fresh platform where exactly that call fails.
// The caller's check decides, from the failed call's name and occurrence,
// what the documented result is.
#pragma once

#include "sim/platform/platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace rel {

using Calls = std::vector<std::string>;

// Services that return nothing (or never fail in the simulator) cannot be
// made to fail.
inline bool CanFail(const std::string& call) {
  static const std::set<std::string> kCannot = {"CopyMem", "SetMem", "WhoAmI"};
  return kCannot.count(call) == 0;
}

struct FailedCall {
  size_t index;           // position in the recorded calls
  std::string name;       // "AllocatePool", ...
  uint32_t occurrence;    // earlier calls with the same name
  EFI_STATUS status;      // what it returned
  const Calls* baseline;  // the calls of the run without failure
  std::string Label() const {
    return name + "#" + std::to_string(occurrence) + " (call " + std::to_string(index) +
           ", status 0x" +
           [](EFI_STATUS s) {
             char b[24];
             std::snprintf(b, sizeof b, "%llX", static_cast<unsigned long long>(s));
             return std::string(b);
           }(status) +
           ")";
  }
  // The baseline calls up to and including the failed one.
  Calls UpToFailure() const { return Calls(baseline->begin(), baseline->begin() + index + 1); }
};

// World: any type holding a `sim::Platform p` (constructed first) and
// whatever the scenario needs around it. `make` builds one in its initial
// state (calls it made on the way, e.g. a boot before the operation under
// test, stay in `p.calls` and are not part of the sweep), `run` performs the
// scenario, `check` judges a run with a failure. Returns the number of
// failure cases run.
template <typename World>
size_t Sweep(const std::function<std::unique_ptr<World>()>& make,
             const std::function<void(World&)>& run,
             const std::function<void(World&, const FailedCall&)>& check,
             const std::vector<EFI_STATUS>& statuses = {EFI_OUT_OF_RESOURCES, EFI_NOT_FOUND}) {
  // Failure rules count every call of a name on the platform, those made
  // while the world was built included.
  auto prepare = [&make](std::map<std::string, uint32_t>& before) {
    auto w = make();
    before.clear();
    for (const auto& c : w->p.calls) ++before[c];
    w->p.calls.clear();
    return w;
  };
  std::map<std::string, uint32_t> before;
  Calls baseline;
  {
    auto w = prepare(before);
    run(*w);
    baseline = w->p.calls;
  }
  EXPECT_FALSE(baseline.empty());
  size_t cases = 0;
  for (size_t k = 0; k < baseline.size(); ++k) {
    if (!CanFail(baseline[k])) continue;
    uint32_t occurrence = 0;
    for (size_t i = 0; i < k; ++i) occurrence += baseline[i] == baseline[k];
    for (EFI_STATUS status : statuses) {
      auto w = prepare(before);
      w->p.Fail(baseline[k], status, before[baseline[k]] + occurrence, 1);
      run(*w);
      const FailedCall failed{k, baseline[k], occurrence, status, &baseline};
      SCOPED_TRACE(failed.Label());
      // The calls before the failed one are the same as without failure.
      const Calls& got = w->p.calls;
      EXPECT_GE(got.size(), k + 1);
      if (got.size() >= k + 1) {
        EXPECT_EQ(Calls(got.begin(), got.begin() + k + 1), failed.UpToFailure());
      }
      check(*w, failed);
      ++cases;
    }
  }
  return cases;
}

}  // namespace rel
