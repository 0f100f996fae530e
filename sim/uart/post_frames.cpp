#include "sim/uart/post_frames.h"

namespace sim::uart {

void PostFrameParser::Write(uint8_t width, uint32_t value) {
  if (width == 4 && value == kFrameStartWord) {
    partial_.emplace();
    if (onFrameStart) onFrameStart();
    return;
  }
  if (!partial_) return;
  if (width == 1) {
    partial_->push_back(static_cast<char>(value & 0xFF));
    return;
  }
  if (width == 4 && value == kFrameEndWord) {
    frames_.push_back(std::move(*partial_));
    partial_.reset();
    if (onFrameEnd) onFrameEnd(frames_.back());
    return;
  }
  partial_.reset();
}

std::vector<std::string> ParsePostFrames(const std::vector<TraceEvent>& events, uint16_t port) {
  PostFrameParser parser;
  for (const auto& e : events)
    if (e.kind == Access::IoWrite && e.address == port)
      parser.Write(e.width, static_cast<uint32_t>(e.value));
  return parser.Frames();
}

std::shared_ptr<PostPortCapture> AttachPostPortCapture(Platform& p, uint16_t port) {
  auto capture = std::make_shared<PostPortCapture>();
  p.AttachIo(port, 1, capture);
  return capture;
}

}  // namespace sim::uart
