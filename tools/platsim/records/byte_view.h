// A bounds-checked view of untrusted bytes: every read states its offset and
// width, and nothing outside the bytes is ever touched.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace records {

class ByteView {
 public:
  explicit ByteView(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  uint64_t size() const { return bytes_.size(); }
  // n bytes at off lie inside (no overflow for any off, n).
  bool Has(uint64_t off, uint64_t n) const { return off <= size() && n <= size() - off; }
  uint64_t Left(uint64_t off) const { return off < size() ? size() - off : 0; }

  // The T at off; zero when it does not lie inside.
  template <typename T>
  T Get(uint64_t off) const {
    T v{};
    if (Has(off, sizeof v)) std::memcpy(&v, bytes_.data() + off, sizeof v);
    return v;
  }
  // The bytes [off, off + n) clipped to the view.
  std::span<const uint8_t> Sub(uint64_t off, uint64_t n) const {
    if (off >= size()) return {};
    return bytes_.subspan(off, n < size() - off ? n : size() - off);
  }

 private:
  std::span<const uint8_t> bytes_;
};

// "0x" and upper-case digits, zero-padded to at least `digits` of them
// (0: no padding; at most 16).
inline std::string HexText(uint64_t v, int digits = 0) {
  char buf[18];
  int i = sizeof buf;
  do {
    buf[--i] = "0123456789ABCDEF"[v & 0xF];
    v >>= 4;
  } while (v != 0 || (i > 2 && static_cast<int>(sizeof buf) - i < digits));
  buf[--i] = 'x';
  buf[--i] = '0';
  return std::string(buf + i, sizeof buf - static_cast<size_t>(i));
}

}  // namespace records
