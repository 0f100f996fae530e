#include "tools/common/mca_error_code.h"

namespace tools {

const TextPieces& TextPieces::Dec(unsigned value) const {
  char digits[12];
  unsigned n = sizeof digits - 1;
  digits[n] = '\0';
  do {
    digits[--n] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return Add(digits + n);
}

void AppendMcaErrorCodeText(uint16_t code, const TextPieces& out) {
  static const char* const kLevel[] = {"level 0", "level 1", "level 2", "generic level"};
  static const char* const kType[] = {"instruction", "data", "generic", "type 3"};
  static const char* const kRequest[] = {"generic error", "generic read", "generic write",
                                         "data read",     "data write",   "instruction fetch",
                                         "prefetch",      "eviction",     "snoop"};
  static const char* const kMemTransaction[] = {"generic", "read", "write", "address/command",
                                                "memory scrubbing"};
  static const char* const kParticipation[] = {
      "local processor originated the request", "local processor responded",
      "local processor observed as a third party", "generic participation"};
  static const char* const kMemoryOrIo[] = {"memory access", "reserved", "I/O",
                                            "other transaction"};
  switch (code) {
    case 0x0000:
      out.Add("no error");
      return;
    case 0x0001:
      out.Add("unclassified");
      return;
    case 0x0002:
      out.Add("microcode ROM parity error");
      return;
    case 0x0003:
      out.Add("external error");
      return;
    case 0x0004:
      out.Add("FRC error");
      return;
    case 0x0005:
      out.Add("internal parity error");
      return;
    case 0x0400:
      out.Add("internal timer error");
      return;
    default:
      break;
  }
  if ((code & 0xFC00) == 0x0400) {
    out.Add("internal unclassified error");
    return;
  }
  const unsigned c = code & 0xEFFFu;
  const char* filtered = (code & 0x1000) != 0 ? ", filtered" : "";
  const unsigned ll = c & 3, tt = (c >> 2) & 3, rrrr = (c >> 4) & 0xF;
  const char* request = rrrr < 9 ? kRequest[rrrr] : "reserved request";
  if ((c & 0xFFFC) == 0x000C) {
    out.Add("generic cache hierarchy error, ").Add(kLevel[ll]).Add(filtered);
  } else if ((c & 0xFFF0) == 0x0010) {
    out.Add("TLB error, ").Add(kType[tt]).Add(", ").Add(kLevel[ll]).Add(filtered);
  } else if ((c & 0xFF80) == 0x0080) {
    const unsigned mmm = (c >> 4) & 7, channel = c & 0xF;
    out.Add("memory controller error, ")
        .Add(mmm < 5 ? kMemTransaction[mmm] : "reserved transaction");
    if (channel == 0xF)
      out.Add(", channel not specified");
    else
      out.Add(", channel ").Dec(channel);
    out.Add(filtered);
  } else if ((c & 0xFF00) == 0x0100) {
    out.Add("cache hierarchy error, ").Add(request).Add(", ").Add(kType[tt]).Add(", ");
    out.Add(kLevel[ll]).Add(filtered);
  } else if ((c & 0xF800) == 0x0800) {
    const unsigned ii = (c >> 2) & 3, t = (c >> 8) & 1, pp = (c >> 9) & 3;
    out.Add("bus or interconnect error, ").Add(kParticipation[pp]).Add(", ").Add(request);
    out.Add(", ").Add(kMemoryOrIo[ii]).Add(", ").Add(kLevel[ll]);
    out.Add(t != 0 ? ", timed out" : "").Add(filtered);
  } else {
    out.Add("model-specific error code");
  }
}

}  // namespace tools
