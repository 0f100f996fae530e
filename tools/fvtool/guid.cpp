#include "tools/fvtool/guid.h"

#include "tools/common/guid_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace fvtool {

Guid Guid::At(ByteView buf, std::size_t offset) {
  Guid g;
  std::copy_n(buf.begin() + static_cast<std::ptrdiff_t>(offset), 16, g.bytes.begin());
  return g;
}

Guid Guid::FromFields(uint32_t d1, uint16_t d2, uint16_t d3, std::array<uint8_t, 8> d4) {
  Guid g;
  StoreLe(g.bytes, 0, d1, 4);
  StoreLe(g.bytes, 4, d2, 2);
  StoreLe(g.bytes, 6, d3, 2);
  std::copy(d4.begin(), d4.end(), g.bytes.begin() + 8);
  return g;
}

std::string Guid::Text() const {
  return tools::GuidText(bytes.data());
}

namespace {

std::optional<uint64_t> ParseHex(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  uint64_t v = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int digit = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    v = v * 16 + static_cast<uint64_t>(digit);
  }
  return v;
}

}  // namespace

std::optional<Guid> ParseRegistryGuid(std::string_view text) {
  // 8-4-4-4-12 hex digits.
  constexpr std::size_t kGroups[] = {8, 4, 4, 4, 12};
  if (text.size() != 36) return std::nullopt;
  std::array<uint64_t, 5> v{};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < 5; ++i) {
    const auto group = ParseHex(text.substr(pos, kGroups[i]), kGroups[i]);
    if (!group) return std::nullopt;
    v[i] = *group;
    pos += kGroups[i];
    if (i < 4) {
      if (text[pos] != '-') return std::nullopt;
      ++pos;
    }
  }
  std::array<uint8_t, 8> d4{};
  d4[0] = static_cast<uint8_t>(v[3] >> 8);
  d4[1] = static_cast<uint8_t>(v[3]);
  for (int i = 0; i < 6; ++i) d4[2 + i] = static_cast<uint8_t>(v[4] >> (8 * (5 - i)));
  return Guid::FromFields(static_cast<uint32_t>(v[0]), static_cast<uint16_t>(v[1]),
                          static_cast<uint16_t>(v[2]), d4);
}

std::optional<Guid> ParseCGuid(std::string_view text) {
  // Eleven hex numbers: 32, 16, 16 bits, then eight bytes, in braces.
  std::string flat;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) flat += c;
  if (flat.size() < 4 || flat.substr(0, 1) != "{" || flat.substr(flat.size() - 2) != "}}")
    return std::nullopt;
  const std::size_t inner = flat.find('{', 1);
  if (inner == std::string::npos || flat.find('{', inner + 1) != std::string::npos)
    return std::nullopt;
  // The comma before the inner brace separates d3 from the byte list.
  if (inner < 2 || flat[inner - 1] != ',') return std::nullopt;
  std::string numbers = flat.substr(1, inner - 1) + flat.substr(inner + 1, flat.size() - inner - 3);
  std::vector<std::string_view> parts;
  std::string_view rest = numbers;
  while (true) {
    const std::size_t comma = rest.find(',');
    parts.push_back(rest.substr(0, comma));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  constexpr std::size_t kWidths[] = {8, 4, 4, 2, 2, 2, 2, 2, 2, 2, 2};
  if (parts.size() != 11) return std::nullopt;
  std::array<uint64_t, 11> v{};
  for (std::size_t i = 0; i < 11; ++i) {
    std::string_view p = parts[i];
    if (p.size() < 3 || p[0] != '0' || (p[1] != 'x' && p[1] != 'X')) return std::nullopt;
    const auto n = ParseHex(p.substr(2), kWidths[i]);
    if (!n) return std::nullopt;
    v[i] = *n;
  }
  std::array<uint8_t, 8> d4{};
  for (int i = 0; i < 8; ++i) d4[i] = static_cast<uint8_t>(v[3 + i]);
  return Guid::FromFields(static_cast<uint32_t>(v[0]), static_cast<uint16_t>(v[1]),
                          static_cast<uint16_t>(v[2]), d4);
}

}  // namespace fvtool
