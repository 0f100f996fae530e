// Text of the tool's output, built in memory the caller gives: the shell tool
// has no hosted library, and the host tests build the same text. What does
// not fit is dropped and remembered (Full()).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tivtool {

class Text {
 public:
  Text(char* storage, size_t capacity) : text_(storage), capacity_(capacity) { Clear(); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  Text& Add(const char* text);
  Text& Add(char c);
  Text& Dec(uint64_t v);
  // "0x" and upper-case digits, zero-padded to at least `digits` digits.
  Text& Hex(uint64_t v, unsigned digits = 0);
  Text& Hex64(uint64_t v) { return Hex(v, 16); }
  // Lower-case two-digit bytes separated by spaces: "00 01 5a".
  Text& Bytes(const uint8_t* bytes, size_t n);
  // Spaces up to `column` (one space when the text reaches it already).
  Text& PadTo(size_t column);
  // The label column of platsim's reports: `indent` spaces, the label, padded
  // to indent + 20 (one space after a longer label).
  Text& Label(unsigned indent, const char* label);

  const char* Str() const { return text_; }
  size_t Size() const { return size_; }
  bool Full() const { return full_; }
  void Clear() {
    size_ = 0;
    full_ = false;
    text_[0] = '\0';
  }

 private:
  char* text_;
  size_t capacity_;  // characters, not counting the terminating zero
  size_t size_ = 0;
  bool full_ = false;
};

// One line of output.
class Line : public Text {
 public:
  static constexpr size_t kCapacity = 400;
  Line() : Text(storage_, kCapacity) {}

 private:
  char storage_[kCapacity + 1];
};

}  // namespace tivtool
