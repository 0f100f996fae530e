// The architectural part of a machine-check error code (status bits 15:0)
// in words: the simple codes, and the compound codes whose top nibble is
// 000F, F being the correction-report filtering bit. Freestanding: platsim's
// record decoder and the shell tool's image print the same words.
#pragma once

#include <stdint.h>

namespace tools {

// Where the words go, piece by piece.
struct TextPieces {
  void* context;
  void (*add)(void* context, const char* text);

  const TextPieces& Add(const char* text) const {
    add(context, text);
    return *this;
  }
  const TextPieces& Dec(unsigned value) const;
};

void AppendMcaErrorCodeText(uint16_t code, const TextPieces& out);

}  // namespace tools
