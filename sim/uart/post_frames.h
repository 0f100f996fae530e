// Messages framed on the POST-code port: a 32-bit write of 0x5F535452 (its
// bytes spell "RTS_"), one 8-bit write per character, a 32-bit write of
// 0x5F454E44 ("DNE_"). Anything else that reaches the port inside a frame (a
// POST code of another width, a fatal stop's code) abandons that frame; writes
// outside frames are ordinary POST codes and are passed over.
#pragma once

#include "sim/platform/platform.h"
#include "sim/platform/trace.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim::uart {

inline constexpr uint16_t kPostPort = 0x80;
inline constexpr uint32_t kFrameStartWord = 0x5F535452;
inline constexpr uint32_t kFrameEndWord = 0x5F454E44;

class PostFrameParser {
 public:
  // One write to the port; width in bytes.
  void Write(uint8_t width, uint32_t value);

  const std::vector<std::string>& Frames() const { return frames_; }

  std::function<void()> onFrameStart;
  std::function<void(const std::string&)> onFrameEnd;

 private:
  std::optional<std::string> partial_;
  std::vector<std::string> frames_;
};

// The complete frames among the writes to `port` in a trace, in order.
std::vector<std::string> ParsePostFrames(const std::vector<TraceEvent>& events,
                                         uint16_t port = kPostPort);

// A device on the POST-code port that parses frames as they arrive. Reads
// return 0xFF like an empty port.
class PostPortCapture : public IoDevice {
 public:
  uint32_t Read(uint16_t, uint8_t width) override {
    return width == 1 ? 0xFF : width == 2 ? 0xFFFF : 0xFFFFFFFF;
  }
  void Write(uint16_t, uint8_t width, uint32_t value) override { parser.Write(width, value); }

  PostFrameParser parser;
};

std::shared_ptr<PostPortCapture> AttachPostPortCapture(Platform& p, uint16_t port = kPostPort);

}  // namespace sim::uart
