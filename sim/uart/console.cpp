#include "sim/uart/console.h"

namespace sim::uart {

std::string NormalizeLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text[i] != '\r') {
      out.push_back(text[i++]);
      continue;
    }
    size_t j = i;
    while (j < text.size() && text[j] == '\r') ++j;
    if (j == text.size() || text[j] != '\n') out.append(text, i, j - i);
    i = j;
  }
  return out;
}

Console::Console(Platform& p, std::ostream& out)
    : uart_(AttachIoUart(p, kCom1)), post_(AttachPostPortCapture(p)), out_(&out) {
  post_->parser.onFrameStart = [this] {
    PrintPending();
    frame_.reset();
  };
  post_->parser.onFrameEnd = [this](const std::string& text) { frame_ = text; };
}

Console::~Console() {
  post_->parser.onFrameStart = nullptr;
  post_->parser.onFrameEnd = nullptr;
}

void Console::PrintPending() {
  const std::string& tx = uart_->Transmitted();
  if (pendingFrom_ >= tx.size()) return;
  const std::string arrived = NormalizeLineEnds(tx.substr(pendingFrom_));
  pendingFrom_ = tx.size();
  std::string shown = arrived;
  if (frame_) {
    const std::string once = NormalizeLineEnds(*frame_);
    if (arrived == once + once) shown = once;
  }
  if (shown.empty()) return;
  *out_ << shown;
  out_->flush();
  atLineStart_ = shown.back() == '\n';
}

void Console::Flush() {
  PrintPending();
  frame_.reset();
  if (!atLineStart_) {
    *out_ << '\n';
    out_->flush();
    atLineStart_ = true;
  }
}

std::shared_ptr<Console> InstallConsole(Platform& p, std::ostream& out) {
  return std::make_shared<Console>(p, out);
}

}  // namespace sim::uart
