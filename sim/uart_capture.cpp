#include "sim/uart_capture.h"

namespace sim {

std::shared_ptr<UartCapture> UartCapture::Attach(Platform& p) {
  auto uart = std::make_shared<UartCapture>();
  p.AttachIo(kBase, kPorts, uart);
  return uart;
}

uint32_t UartCapture::Read(uint16_t port, uint8_t) {
  return port == kBase + 5 ? kLineStatus : 0;
}

void UartCapture::Write(uint16_t port, uint8_t width, uint32_t value) {
  if (port != kBase) return;
  // A wider OUT to THR puts its low byte on the line.
  (void)width;
  bytes_.push_back(static_cast<char>(value & 0xFF));
}

std::vector<std::string> UartCapture::Lines() const {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : bytes_) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

}  // namespace sim
