#include "sim/dram/channel_config_store.h"

#include <memory>

namespace sim::dram {

namespace {

struct alignas(8) AlignedTable {
  atd::ChannelConfigTable table;
};

struct ChannelConfigStore {
  std::unique_ptr<AlignedTable> storage;
};

}  // namespace

atd::ChannelConfigTable& ChannelConfigOf(Platform& platform) {
  auto& store = platform.Extension<ChannelConfigStore>();
  if (!store.storage) store.storage = std::make_unique<AlignedTable>();  // value-initialised: zeros
  return store.storage->table;
}

}  // namespace sim::dram
