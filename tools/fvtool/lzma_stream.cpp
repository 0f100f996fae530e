#include "tools/fvtool/lzma_stream.h"

#include "tools/fvtool/errors.h"

#include <lzma.h>

#include <memory>
#include <string>

#ifndef LZMA_FILTER_LZMA1EXT
#error "fvtool needs liblzma 5.4 or later (LZMA_FILTER_LZMA1EXT)"
#endif

namespace fvtool {

namespace {

struct StreamCloser {
  void operator()(lzma_stream* s) const {
    lzma_end(s);
    delete s;
  }
};
using StreamPtr = std::unique_ptr<lzma_stream, StreamCloser>;

StreamPtr NewStream() {
  return StreamPtr(new lzma_stream(LZMA_STREAM_INIT));
}

// lc/lp/pb from the properties byte ((pb * 5 + lp) * 9 + lc); false when the
// byte encodes no valid combination.
bool SplitProperties(uint8_t props, lzma_options_lzma& opt) {
  if (props >= 9 * 5 * 5) return false;
  opt.lc = props % 9;
  opt.lp = (props / 9) % 5;
  opt.pb = props / 45;
  return true;
}

// The dictionary liblzma works with: the one the header announces, but no
// larger than the data (neither side ever looks further back than that, so a
// larger one only costs memory) and no smaller than liblzma's minimum. The
// header keeps the announced size.
uint32_t DictionaryFor(uint32_t announced, uint64_t dataSize) {
  const uint64_t dict = announced < dataSize ? announced : dataSize;
  return dict < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : static_cast<uint32_t>(dict);
}

}  // namespace

LzmaHeader ReadLzmaHeader(ByteView stream) {
  LzmaHeader h;
  h.properties = stream[0];
  h.dictionarySize = Le32(stream, 1);
  h.uncompressedSize = Le64(stream, 5);
  return h;
}

Bytes LzmaDecompress(ByteView stream, std::size_t maxOutput, const std::string& where) {
  if (stream.size() < kLzmaHeaderSize)
    throw Refusal(where + ": LZMA data of " + std::to_string(stream.size()) +
                  " bytes is shorter than its 13-byte header");
  const LzmaHeader header = ReadLzmaHeader(stream);
  lzma_options_lzma opt{};
  if (!SplitProperties(header.properties, opt))
    throw Refusal(where + ": LZMA properties byte " + Hex(header.properties) + " is not valid");
  if (header.uncompressedSize == UINT64_MAX)
    throw Refusal(where + ": LZMA header gives no decompressed size");
  if (header.uncompressedSize > maxOutput)
    throw Refusal(where + ": LZMA header announces " + Hex(header.uncompressedSize) +
                  " decompressed bytes, more than the " + Hex(maxOutput) + " fvtool accepts");
  opt.dict_size = DictionaryFor(header.dictionarySize, header.uncompressedSize);
  opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  lzma_set_ext_size(opt, header.uncompressedSize);
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};

  StreamPtr s = NewStream();
  if (lzma_raw_decoder(s.get(), filters) != LZMA_OK)
    throw Refusal(where + ": liblzma refused the LZMA parameters");
  Bytes out(static_cast<std::size_t>(header.uncompressedSize));
  s->next_in = stream.data() + kLzmaHeaderSize;
  s->avail_in = stream.size() - kLzmaHeaderSize;
  s->next_out = out.data();
  s->avail_out = out.size();
  const lzma_ret ret = lzma_code(s.get(), LZMA_FINISH);
  if (ret != LZMA_STREAM_END || s->total_out != out.size())
    throw Refusal(where + ": LZMA data is corrupt or truncated (decoded " + Hex(s->total_out) +
                  " of " + Hex(out.size()) + " bytes)");
  return out;
}

Bytes LzmaCompress(ByteView data, const LzmaHeader& like, int level) {
  lzma_options_lzma opt{};
  if (lzma_lzma_preset(&opt, static_cast<uint32_t>(level)))
    throw InputError("LZMA level " + std::to_string(level) + " is not 0-9");
  if (!SplitProperties(like.properties, opt))
    throw Refusal("LZMA properties byte " + Hex(like.properties) + " is not valid");
  opt.dict_size = DictionaryFor(like.dictionarySize, data.size());
  opt.ext_flags = 0;  // no end marker: the header carries the size
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};

  StreamPtr s = NewStream();
  if (lzma_raw_encoder(s.get(), filters) != LZMA_OK)
    throw Refusal("liblzma refused the LZMA parameters of the volume's section");
  Bytes out;
  out.push_back(like.properties);
  AppendLe(out, like.dictionarySize, 4);
  AppendLe(out, data.size(), 8);
  s->next_in = data.data();
  s->avail_in = data.size();
  uint8_t chunk[1 << 16];
  lzma_ret ret;
  do {
    s->next_out = chunk;
    s->avail_out = sizeof chunk;
    ret = lzma_code(s.get(), LZMA_FINISH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - s->avail_out));
  } while (ret == LZMA_OK);
  if (ret != LZMA_STREAM_END)
    throw Refusal("liblzma failed to compress (" + std::to_string(ret) + ")");
  return out;
}

}  // namespace fvtool
