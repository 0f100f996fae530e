// A 16550-style UART at 0x3F8 that records what is written to its transmit
// holding register and always reports itself ready (LSR = 0x60), so the
// drivers' diagnostic messages can be read back. Attach it on a platform;
// when no back-end writes to the UART it simply stays empty.
#pragma once

#include "sim/platform.h"

#include <memory>
#include <string>
#include <vector>

namespace sim {

class UartCapture : public IoDevice {
 public:
  static constexpr uint16_t kBase = 0x3F8;
  static constexpr uint16_t kPorts = 6;  // THR .. LSR
  static constexpr uint8_t kLineStatus = 0x60;

  // Creates a capture and attaches it to ports 0x3F8-0x3FD of `p`.
  static std::shared_ptr<UartCapture> Attach(Platform& p);

  uint32_t Read(uint16_t port, uint8_t width) override;
  void Write(uint16_t port, uint8_t width, uint32_t value) override;

  // Every byte written to THR, in order.
  const std::string& Bytes() const { return bytes_; }
  // The bytes as lines: split at LF, carriage returns removed; a last line
  // without LF is included.
  std::vector<std::string> Lines() const;
  void Clear() { bytes_.clear(); }

 private:
  std::string bytes_;
};

}  // namespace sim
