// The JSON text of a captured profile, written piece by piece into a sink:
// freestanding, so the UEFI shell tool and platsim write the very same bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace capture {

// Where the text goes. `write` returns false when it could not take the
// bytes (a full disk); the writer then stops writing.
struct TextSink {
  void* context;
  bool (*write)(void* context, const char* text, size_t length);
};

class ProfileText {
 public:
  explicit ProfileText(TextSink sink) : sink_(sink) {}

  void Raw(const char* text);
  void Raw(const char* text, size_t length);
  // A JSON string: quotes, and escapes for quote, backslash and controls.
  void String(const char* text);
  // `count` bytes as one JSON string of hex digit pairs, no separators, or
  // with a space between bytes.
  void HexBytes(const uint8_t* bytes, size_t count, bool spaced);

  bool Ok() const { return ok_; }

 private:
  TextSink sink_;
  bool ok_ = true;
};

}  // namespace capture
