// The platform `platsim translate` works on: the profile loaded and
// AddrTranslateDxe started on it once, then any number of translations through
// the TranslationProtocol it installed. Each answer is checked before it is
// given: against the registers the driver reads (MMIO hole, the owner's own
// registers, the channel's size) and by translating it back the other way.
#pragma once

#include "addr_translate/fabric/fabric_decode.h"
#include "harness/addr_translate_driver.h"
#include "sim/fabric/data_fabric.h"
#include "sim/uart/console.h"
#include "tools/platsim/cli/options.h"
#include "tools/platsim/cli/platform_load.h"
#include "translation_protocol.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace platsim {

// How a translation ended: its exit code.
enum class Verdict : uint8_t {
  Ok = 0,        // the answer stands
  Refused = 1,   // the firmware refused, or its answer does not hold
  BadInput = 2,  // the request names nothing on this platform
};

struct SysAnswer {
  uint64_t address = 0;
  Verdict verdict = Verdict::Ok;
  std::string error;                // why, unless Ok
  EFI_STATUS status = EFI_SUCCESS;  // of slot 2
  NormalizedAddress norm{};
  DramAddress dram{};
  uint32_t csFabricId = 0;  // the owner's own (F0x050)
  uint32_t node = 0;
  uint64_t back = kInvalidAddress;  // slot 1 of the normalized address
  DramAddress dramBack{};
  bool lossyMap = false;   // back differs: the map loses its die/socket interleave bits
  uint32_t fatalStop = 0;  // the code of a fatal stop the driver took, or 0
};

struct NormAnswer {
  uint64_t normalized = 0;
  uint32_t socket = 0, die = 0, channel = 0, node = 0;
  Verdict verdict = Verdict::Ok;
  std::string error;
  EFI_STATUS status = EFI_SUCCESS;  // of slot 1
  uint64_t system = kInvalidAddress;
  DramAddress dram{};
};

// What the driver reads of one coherent slave (memory channel), decoded once.
struct ChannelRegisters {
  bool hasFabricId = false;  // F0x050 is set
  uint32_t fabricId = 0;
  uint32_t baseReg[2] = {}, limitReg[2] = {};
  atd::DramAddressMap map[2] = {};
  uint32_t interleaveBits[2] = {};  // bits calcNormAddr removes
  bool sixChannel[2] = {};
  bool lossy[2] = {};  // hashed or six-channel with die or socket interleave
  uint64_t holeBase = 0;
  uint64_t hiAddrOffset = 0;
  bool hiAddrEnabled = false;
  // Normalized addresses of map m: [first, first + size); size 0 when the
  // map is not valid or its share cannot be worked out (six-channel).
  uint64_t first[2] = {}, size[2] = {};
};

class TranslateSession {
 public:
  explicit TranslateSession(const GlobalOptions& opts);
  ~TranslateSession();

  SysAnswer System(uint64_t address);
  NormAnswer Normalized(uint64_t normalized, uint64_t socket, uint64_t die, uint64_t channel);

  // Refuses (UserError) a socket, die or channel the platform does not have;
  // returns the channel's node.
  uint32_t CheckChannel(uint64_t socket, uint64_t die, uint64_t channel);
  const ChannelRegisters& Channel(uint32_t node, uint32_t instance);

  sim::Platform& Platform() { return platform_; }
  // The platform as every command names it (platform_load.h).
  const TranslationPlatform& Named() const { return named_; }
  TranslationProtocol& Protocol() { return *driver_->Protocol(); }

  // --diag / --trace: the drivers' messages. In text output they go to the
  // terminal as they arrive; with --json they are kept until TakeMessages.
  bool ShowMessages() const { return showMessages_; }
  std::vector<std::string> TakeMessages();
  // --trace: the fabric reads of the translations since the last call.
  std::vector<sim::fabric::FabricRead> TakeFabricReads();

 private:
  // Whether a call's driver messages and fabric reads are the user's to see
  // (--diag, --trace), or are those of platsim's own checks and dropped.
  enum class Shown : bool { No, Yes };
  // Runs a call into the driver; false, with the code, when it took a fatal
  // stop.
  template <typename F>
  bool Run(F op, uint32_t& stopCode, Shown shown = Shown::Yes);
  std::ostream& MessageSink();  // where shown messages go
  std::string MissingRegisters(uint32_t node, uint32_t instance);

  const GlobalOptions& opts_;
  sim::Platform platform_;
  TranslationPlatform named_;
  std::ostringstream messages_;
  std::shared_ptr<sim::uart::Console> console_;
  std::optional<sim::AddrTranslateDriver> driver_;
  atd::FabricIdMasks masks_{};
  bool showMessages_ = false;
  const sim::fabric::DataFabric* fabric_ = nullptr;
  std::map<uint32_t, ChannelRegisters> channels_;  // key node << 16 | instance
};

// What a fatal-stop code of the translations stands for, or "".
const char* FatalStopMeaning(uint32_t code);

}  // namespace platsim
