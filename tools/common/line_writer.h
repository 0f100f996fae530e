// Output of many short records (batch translation): numbers and JSON strings
// appended to one buffer without going through printf or a JSON library,
// written out in large blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace tools {

class LineWriter {
 public:
  explicit LineWriter(std::FILE* out) : out_(out) {}
  ~LineWriter() { Flush(); }
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  LineWriter& operator<<(std::string_view s) {
    if (s.size() > kRoom - used_) Flush();
    if (s.size() > kRoom) {  // longer than the buffer: straight through
      std::fwrite(s.data(), 1, s.size(), out_);
      return *this;
    }
    std::memcpy(buf_ + used_, s.data(), s.size());
    used_ += s.size();
    return *this;
  }
  LineWriter& operator<<(char c) {
    Reserve(1);
    buf_[used_++] = c;
    return *this;
  }
  // 0x and 16 upper-case digits.
  LineWriter& Hex64(uint64_t v) {
    Reserve(18);
    char* d = buf_ + used_;
    d[0] = '0';
    d[1] = 'x';
    for (int i = 17; i >= 2; --i, v >>= 4) d[i] = kDigits[v & 0xF];
    used_ += 18;
    return *this;
  }
  // 0x and the digits without leading zeros.
  LineWriter& Hex(uint64_t v) {
    char d[18];
    int i = 18;
    do {
      d[--i] = kDigits[v & 0xF];
      v >>= 4;
    } while (v != 0);
    d[--i] = 'x';
    d[--i] = '0';
    return *this << std::string_view(d + i, static_cast<size_t>(18 - i));
  }
  LineWriter& Dec(uint64_t v) {
    char d[20];
    int i = 20;
    do {
      d[--i] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    return *this << std::string_view(d + i, static_cast<size_t>(20 - i));
  }
  // A JSON string literal, quotes included.
  LineWriter& JsonString(std::string_view s);

  // Ends a record: writes the buffer out once it is large.
  void EndLine() {
    *this << '\n';
    if (used_ >= kBlock) Flush();
  }
  void Flush();

 private:
  static constexpr size_t kBlock = 1 << 16;
  static constexpr size_t kRoom = kBlock + 4096;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  void Reserve(size_t n) {
    if (n > kRoom - used_) Flush();
  }
  std::FILE* out_;
  char buf_[kRoom];
  size_t used_ = 0;
};

}  // namespace tools
