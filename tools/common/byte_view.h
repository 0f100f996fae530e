// A bounds-checked view of untrusted bytes: every read states its offset and
// width, and nothing outside the bytes is ever touched.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

namespace tools {

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

}  // namespace tools
