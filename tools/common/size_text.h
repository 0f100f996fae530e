// Byte counts for people, in binary units.
#pragma once

#include <cstdint>
#include <string>

namespace tools {

// The largest unit that divides the count exactly: "512 bytes", "3 KiB",
// "16 GiB".
std::string ExactSizeText(uint64_t bytes);

// The largest unit not above the count, with up to two decimals and "~" when
// those do not say it exactly: "1 B", "1.5 GiB", "~2.33 MiB".
std::string SizeText(uint64_t bytes);

}  // namespace tools
