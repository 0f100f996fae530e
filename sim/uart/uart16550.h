// A 16550-style UART for the simulated platform: transmit side only (what is
// written to THR is kept), with a programmable line status so tests can make
// the transmitter ready, never ready, or ready only after a number of LSR
// reads. Reachable through I/O ports (byte-wide registers, e.g. 0x3F8-0x3FF)
// or memory-mapped with a 4-byte register stride.
#pragma once

#include "registers/uart16550.h"
#include "sim/platform/platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sim::uart {

// The register indices by the names the model uses.
using uart16550::kIer;
using uart16550::kIir;
using uart16550::kLcr;
using uart16550::kLsr;
using uart16550::kMcr;
using uart16550::kMsr;
using uart16550::kScr;
using uart16550::kThr;
using uart16550::Reg;

inline constexpr uint8_t kLsrThre = uart16550::kLsrThrEmpty;
inline constexpr uint8_t kLsrTemt = uart16550::kLsrTransmitterEmpty;

struct LineStatus {
  enum class Mode { Ready, NeverReady, ReadyAfterReads };
  Mode mode = Mode::Ready;
  // ReadyAfterReads: this many LSR reads show `busy`, counted afresh from the
  // moment the behaviour is set and from every write to THR; later reads show
  // `ready`.
  uint32_t reads = 0;
  uint8_t busy = 0x00;
  uint8_t ready = kLsrThre | kLsrTemt;

  static LineStatus AlwaysReady(uint8_t ready = kLsrThre | kLsrTemt) {
    return {Mode::Ready, 0, 0, ready};
  }
  static LineStatus NeverReady(uint8_t busy = 0x00) { return {Mode::NeverReady, 0, busy, 0x60}; }
  static LineStatus ReadyAfter(uint32_t reads, uint8_t busy = 0x00) {
    return {Mode::ReadyAfterReads, reads, busy, kLsrThre | kLsrTemt};
  }
};

class Uart16550 {
 public:
  explicit Uart16550(LineStatus ls = {}) { SetLineStatus(ls); }

  void SetLineStatus(LineStatus ls) {
    ls_ = ls;
    busyReadsLeft_ = ls.reads;
  }

  uint8_t Read(unsigned reg);
  void Write(unsigned reg, uint8_t value);

  // Every byte written to THR, in order.
  const std::string& Transmitted() const { return tx_; }
  void ClearTransmitted() { tx_.clear(); }
  uint64_t LsrReads() const { return lsrReads_; }
  uint16_t Divisor() const { return static_cast<uint16_t>(dll_ | (dlm_ << 8)); }
  uint8_t Lcr() const { return regs_[kLcr]; }

  // Called for each transmitted byte, after it is kept.
  std::function<void(char)> onTransmit;

 private:
  bool Dlab() const { return (regs_[kLcr] & 0x80) != 0; }

  LineStatus ls_;
  uint32_t busyReadsLeft_ = 0;
  uint8_t regs_[8] = {};
  uint8_t dll_ = 0, dlm_ = 0;
  std::string tx_;
  uint64_t lsrReads_ = 0;
};

// Byte-wide registers at consecutive ports from `base`.
class UartIo : public IoDevice {
 public:
  UartIo(std::shared_ptr<Uart16550> uart, uint16_t base) : uart_(std::move(uart)), base_(base) {}
  uint32_t Read(uint16_t port, uint8_t width) override;
  void Write(uint16_t port, uint8_t width, uint32_t value) override;

 private:
  std::shared_ptr<Uart16550> uart_;
  uint16_t base_;
};

// Registers every 4 bytes; the low byte of an access carries the register.
class UartMmio : public MmioDevice {
 public:
  explicit UartMmio(std::shared_ptr<Uart16550> uart) : uart_(std::move(uart)) {}
  uint32_t Read(uint64_t offset, uint8_t width) override;
  void Write(uint64_t offset, uint8_t width, uint32_t value) override;

 private:
  std::shared_ptr<Uart16550> uart_;
};

inline constexpr uint16_t kCom1 = uart16550::kCom1Base;

// Attaches a UART at ports base..base+7, or memory-mapped at base..base+31.
std::shared_ptr<Uart16550> AttachIoUart(Platform& p, uint16_t base = kCom1, LineStatus ls = {});
std::shared_ptr<Uart16550> AttachMmioUart(Platform& p, uint64_t base, LineStatus ls = {});

}  // namespace sim::uart
