// The LZMA streams of LZMA GUID-defined sections: a 13-byte header (the
// properties byte lc/lp/pb, the 32-bit dictionary size, the 64-bit size of
// the decompressed data) followed by the LZMA1 data.
#pragma once

#include "tools/fvtool/bytes.h"

#include <cstdint>
#include <string>

namespace fvtool {

constexpr std::size_t kLzmaHeaderSize = 13;

struct LzmaHeader {
  uint8_t properties = 0x5D;  // lc 3, lp 0, pb 2
  uint32_t dictionarySize = 16u << 20;
  uint64_t uncompressedSize = 0;
};

LzmaHeader ReadLzmaHeader(ByteView stream);

// Decompresses a stream whose header gives its size (at most `maxOutput`
// bytes); an end marker after the data is accepted, bytes after the stream are
// ignored. Throws Refusal naming `where` when the data is not such a stream.
Bytes LzmaDecompress(ByteView stream, std::size_t maxOutput, const std::string& where);

// Compresses `data` with the properties and dictionary size of `like` (so the
// firmware's decompressor sees the parameters it was built for) at liblzma
// preset `level` (0-9). The header carries the real size and the stream no end
// marker, as the firmware's own build writes it.
Bytes LzmaCompress(ByteView data, const LzmaHeader& like, int level);

}  // namespace fvtool
