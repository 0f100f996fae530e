// The drivers' own messages as they reach the simulated COM1 UART, for
// `platsim --diag`.
//
// With the diagnostic switch on, every message reaches the UART at 0x3F8
// twice: first from the back-end that puts a CR before each line feed (lines
// end CR CR LF), then from the fixed-port back-end (lines end CR LF). The
// console shows each message once: the UART bytes that arrive between two
// POST-code frames belong to the message of the earlier frame, and when they
// are exactly those two copies, one copy is printed. Anything else (a UART
// that dropped characters, output with no frame) is printed as it arrived.
// Line ends are shown as plain "\n" either way.
#pragma once

#include "sim/platform/platform.h"
#include "sim/uart/post_frames.h"
#include "sim/uart/uart16550.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sim::uart {

class Console {
 public:
  // Attaches a ready UART at 0x3F8-0x3FF and a frame capture on port 0x80 to
  // `p`. `out` must outlive the console's last Flush.
  Console(Platform& p, std::ostream& out);
  // The devices stay attached to the platform; they stop reporting here.
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Every byte the UART transmitted, raw.
  const std::string& Text() const { return uart_->Transmitted(); }
  // The messages framed on the POST-code port, in order.
  const std::vector<std::string>& Frames() const { return post_->parser.Frames(); }
  Uart16550& Uart() { return *uart_; }

  // Where later messages go (`out` must outlive its use).
  void SetOutput(std::ostream& out) { out_ = &out; }

  // Prints what arrived since the last message was printed. Call once the
  // command is done; the messages before are printed as the next one starts.
  void Flush();

 private:
  void PrintPending();

  std::shared_ptr<Uart16550> uart_;
  std::shared_ptr<PostPortCapture> post_;
  std::ostream* out_;
  size_t pendingFrom_ = 0;  // UART bytes before this offset are printed
  std::optional<std::string> frame_;
  bool atLineStart_ = true;
};

// CR LF, CR CR LF... shown as one "\n"; a CR not followed by LF is kept.
std::string NormalizeLineEnds(const std::string& text);

std::shared_ptr<Console> InstallConsole(Platform& p, std::ostream& out);

}  // namespace sim::uart
