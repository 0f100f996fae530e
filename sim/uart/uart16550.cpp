#include "sim/uart/uart16550.h"

namespace sim::uart {

uint8_t Uart16550::Read(unsigned reg) {
  reg &= 7;
  if (Dlab() && reg <= 1) return reg == 0 ? dll_ : dlm_;
  switch (reg) {
    case kThr:
      return 0;  // nothing is ever received
    case kIir:
      return 0x01;  // no interrupt pending
    case kLsr: {
      ++lsrReads_;
      switch (ls_.mode) {
        case LineStatus::Mode::Ready:
          return ls_.ready;
        case LineStatus::Mode::NeverReady:
          return ls_.busy;
        case LineStatus::Mode::ReadyAfterReads:
          if (busyReadsLeft_ > 0) {
            --busyReadsLeft_;
            return ls_.busy;
          }
          return ls_.ready;
      }
      return ls_.ready;
    }
    case kMsr:
      return 0;
    default:
      return regs_[reg];
  }
}

void Uart16550::Write(unsigned reg, uint8_t value) {
  reg &= 7;
  if (Dlab() && reg <= 1) {
    (reg == 0 ? dll_ : dlm_) = value;
    return;
  }
  switch (reg) {
    case kThr:
      tx_.push_back(static_cast<char>(value));
      busyReadsLeft_ = ls_.reads;  // the new byte keeps the transmitter busy again
      if (onTransmit) onTransmit(static_cast<char>(value));
      break;
    case kIir:
      break;  // FCR: FIFO control, nothing to model
    case kLsr:
    case kMsr:
      break;  // read-only
    default:
      regs_[reg] = value;
      break;
  }
}

uint32_t UartIo::Read(uint16_t port, uint8_t) {
  return uart_->Read(port - base_);
}

void UartIo::Write(uint16_t port, uint8_t, uint32_t value) {
  uart_->Write(port - base_, static_cast<uint8_t>(value));
}

uint32_t UartMmio::Read(uint64_t offset, uint8_t) {
  return offset % uart16550::kMmioStride == 0
             ? uart_->Read(static_cast<unsigned>(offset / uart16550::kMmioStride))
             : 0;
}

void UartMmio::Write(uint64_t offset, uint8_t, uint32_t value) {
  if (offset % uart16550::kMmioStride == 0)
    uart_->Write(static_cast<unsigned>(offset / uart16550::kMmioStride),
                 static_cast<uint8_t>(value));
}

std::shared_ptr<Uart16550> AttachIoUart(Platform& p, uint16_t base, LineStatus ls) {
  auto uart = std::make_shared<Uart16550>(ls);
  p.AttachIo(base, 8, std::make_shared<UartIo>(uart, base));
  return uart;
}

std::shared_ptr<Uart16550> AttachMmioUart(Platform& p, uint64_t base, LineStatus ls) {
  auto uart = std::make_shared<Uart16550>(ls);
  p.AttachMmio(base, 8 * uart16550::kMmioStride, std::make_shared<UartMmio>(uart));
  return uart;
}

}  // namespace sim::uart
