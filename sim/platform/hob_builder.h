// Builds a HOB list in memory for tests: GUID-extension HOBs and the end HOB.
#pragma once

#include "pi/hob.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace sim {

class HobListBuilder {
 public:
  // A GUID-extension HOB whose data is `data`; its length is rounded up to 8.
  HobListBuilder& AddGuidHob(const EFI_GUID& name, const std::vector<uint8_t>& data) {
    const size_t len = (sizeof(EFI_HOB_GUID_TYPE) + data.size() + 7) & ~size_t(7);
    std::vector<uint8_t> hob(len, 0);
    EFI_HOB_GUID_TYPE h{};
    h.Header.HobType = kHobTypeGuidExtension;
    h.Header.HobLength = static_cast<UINT16>(len);
    h.Name = name;
    std::memcpy(hob.data(), &h, sizeof h);
    if (!data.empty()) std::memcpy(hob.data() + sizeof h, data.data(), data.size());
    bytes_.insert(bytes_.end(), hob.begin(), hob.end());
    return *this;
  }
  // Any other HOB type with `length` bytes in all (header included).
  HobListBuilder& AddOther(uint16_t type, uint16_t length) {
    std::vector<uint8_t> hob(length < 8 ? 8 : length, 0);
    EFI_HOB_GENERIC_HEADER h{type, static_cast<UINT16>(hob.size()), 0};
    std::memcpy(hob.data(), &h, sizeof h);
    bytes_.insert(bytes_.end(), hob.begin(), hob.end());
    return *this;
  }
  // The list with its end HOB; 8-byte aligned storage.
  std::vector<uint64_t> Build() const {
    std::vector<uint8_t> all = bytes_;
    EFI_HOB_GENERIC_HEADER end{kHobTypeEndOfHobList, sizeof(EFI_HOB_GENERIC_HEADER), 0};
    const auto* e = reinterpret_cast<const uint8_t*>(&end);
    all.insert(all.end(), e, e + sizeof end);
    std::vector<uint64_t> out((all.size() + 7) / 8, 0);
    std::memcpy(out.data(), all.data(), all.size());
    return out;
  }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace sim
