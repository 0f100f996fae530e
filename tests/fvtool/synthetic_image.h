// Small firmware images written byte by byte from the PI layout rules, for
// the fvtool tests. Deliberately independent of fvtool's own builder: the
// checksums and sizes here are what the tests compare fvtool's output with.
#pragma once

#include <lzma.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace fvtest {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& b, std::size_t at, uint64_t v, unsigned width) {
  for (unsigned i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint64_t Get(const Bytes& b, std::size_t at, unsigned width) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v |= uint64_t{b[at + i]} << (8 * i);
  return v;
}
inline void Append(Bytes& b, const Bytes& more) {
  const std::size_t n = b.size();
  b.resize(n + more.size());
  if (!more.empty()) std::memcpy(b.data() + n, more.data(), more.size());
}

// GUIDs in their stored byte order; the tests only need distinct values.
inline Bytes G(uint8_t tag) {
  Bytes g(16);
  for (int i = 0; i < 16; ++i) g[i] = static_cast<uint8_t>(tag + 7 * i);
  return g;
}
// EE4E5898-3914-4259-9D6E-DC7BD79403CF as stored.
inline Bytes LzmaGuid() {
  return {0x98, 0x58, 0x4E, 0xEE, 0x14, 0x39, 0x59, 0x42,
          0x9D, 0x6E, 0xDC, 0x7B, 0xD7, 0x94, 0x03, 0xCF};
}

inline Bytes Section(uint8_t type, const Bytes& payload) {
  Bytes s(4);
  Put(s, 0, 4 + payload.size(), 3);
  s[3] = type;
  Append(s, payload);
  return s;
}

inline Bytes Sections(std::initializer_list<Bytes> list) {
  Bytes body;
  for (const Bytes& s : list) {
    while (body.size() % 4 != 0) body.push_back(0);
    Append(body, s);
  }
  return body;
}

// An FFS file: 24-byte header, header checksum so the header sums to 0 with
// State and the file checksum counted as 0, file checksum 0xAA, State 0xF8.
inline Bytes File(const Bytes& guid, uint8_t type, const Bytes& body) {
  Bytes f(guid);
  f.resize(24, 0);
  f[18] = type;
  Put(f, 20, 24 + body.size(), 3);
  uint8_t sum = 0;
  for (int i = 0; i < 24; ++i) sum = static_cast<uint8_t>(sum + f[i]);
  f[16] = static_cast<uint8_t>(0 - sum);
  f[17] = 0xAA;
  f[23] = 0xF8;
  Append(f, body);
  return f;
}

// An FFS2 volume with erase polarity 1 and no extended header: files 8-byte
// aligned after the 0x48-byte header, the rest 0xFF.
inline Bytes Volume(std::size_t length, std::initializer_list<Bytes> files) {
  Bytes v(length, 0xFF);
  std::memset(v.data(), 0, 0x48);
  const uint8_t ffs2[] = {0x78, 0xE5, 0x8C, 0x8C, 0x3D, 0x8A, 0x1C, 0x4F,
                          0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3};
  std::memcpy(&v[16], ffs2, 16);
  Put(v, 32, length, 8);
  std::memcpy(&v[40], "_FVH", 4);
  Put(v, 44, 0x0004FEFF, 4);  // erase polarity 1 among the usual attributes
  Put(v, 48, 0x48, 2);
  v[55] = 2;
  Put(v, 56, length / 0x100, 4);  // block map: length/0x100 blocks of 0x100, then {0, 0}
  Put(v, 60, 0x100, 4);
  uint16_t sum = 0;
  for (int i = 0; i < 0x48; i += 2) sum = static_cast<uint16_t>(sum + Get(v, i, 2));
  Put(v, 50, static_cast<uint16_t>(0 - sum), 2);
  std::size_t p = 0x48;
  for (const Bytes& f : files) {
    if (p + f.size() > length) throw std::logic_error("synthetic volume too small for its files");
    std::memcpy(&v[p], f.data(), f.size());
    p = (p + f.size() + 7) / 8 * 8;
  }
  return v;
}

// An LZMA "alone" stream as the firmware's build writes it: real size in the
// header. `slack` zero bytes follow the stream inside the section.
inline Bytes LzmaSection(const Bytes& data, std::size_t slack = 0) {
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  opt.dict_size = 1u << 20;
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_alone_encoder(&s, &opt) != LZMA_OK) throw std::runtime_error("lzma_alone_encoder");
  Bytes stream(data.size() + data.size() / 2 + 1024);
  s.next_in = data.data();
  s.avail_in = data.size();
  s.next_out = stream.data();
  s.avail_out = stream.size();
  if (lzma_code(&s, LZMA_FINISH) != LZMA_STREAM_END) throw std::runtime_error("lzma_code");
  stream.resize(s.total_out);
  lzma_end(&s);
  Put(stream, 5, data.size(), 8);
  Bytes payload = LzmaGuid();
  payload.resize(20, 0);
  Put(payload, 16, 4 + 20, 2);  // data offset
  Put(payload, 18, 0x0001, 2);  // processing required
  Append(payload, stream);
  payload.resize(payload.size() + slack, 0);
  return Section(0x02, payload);
}

inline Bytes Random(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// A PE32+ x64 header (subsystem 11) followed by `payload`.
inline Bytes Pe32Plus(const Bytes& payload, uint16_t magic = 0x20B, uint16_t machine = 0x8664,
                      uint16_t subsystem = 11) {
  Bytes pe(0x200, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  Put(pe, 0x3C, 0x80, 4);
  std::memcpy(&pe[0x80], "PE\0\0", 4);
  Put(pe, 0x84, machine, 2);
  Put(pe, 0x98, magic, 2);  // optional header at 0x80 + 24
  Put(pe, 0x98 + 68, subsystem, 2);
  Append(pe, payload);
  return pe;
}

// A DXE volume: a DXE core file and a driver, then free space.
inline Bytes DxeVolume(std::size_t length) {
  return Volume(
      length,
      {File(G(0x50), 0x05, Section(0x10, Pe32Plus(Random(0x300, 1)))),
       File(G(0x60), 0x07,
            Sections({Section(0x13, {0x06, 0x08}), Section(0x10, Pe32Plus(Random(0x180, 2)))}))});
}

}  // namespace fvtest
