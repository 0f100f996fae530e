#include "tools/common/output_file.h"

#include "tools/common/input_error.h"

#include <fstream>

namespace tools {

void WriteOutputFile(const std::string& path, std::string_view text, const std::string& failure) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out || !out.write(text.data(), static_cast<std::streamsize>(text.size())) || !out.flush())
    throw InputError(failure);
}

}  // namespace tools
