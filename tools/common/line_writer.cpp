#include "tools/common/line_writer.h"

namespace tools {

LineWriter& LineWriter::JsonString(std::string_view s) {
  *this << '"';
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      *this << '\\' << ch;
    } else if (c == '\n') {
      *this << "\\n";
    } else if (c == '\t') {
      *this << "\\t";
    } else if (c < 0x20 || c >= 0x7F) {
      // Control characters and bytes outside ASCII (input need not be UTF-8).
      const char escape[] = {'\\', 'u', '0', '0', kDigits[c >> 4], kDigits[c & 0xF]};
      *this << std::string_view(escape, sizeof escape);
    } else {
      *this << ch;
    }
  }
  return *this << '"';
}

void LineWriter::Flush() {
  if (used_ == 0) return;
  std::fwrite(buf_, 1, used_, out_);
  std::fflush(out_);
  used_ = 0;
}

}  // namespace tools
