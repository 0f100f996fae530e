#include "tools/fvtool/file_io.h"

#include "tools/fvtool/errors.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace fvtool {

Bytes ReadFileBytes(const std::string& path, const std::string& what, std::size_t maxBytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    throw InputError(what + " '" + path + "': " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw InputError(what + " '" + path + "' is not a regular file");
  if (static_cast<uint64_t>(st.st_size) > maxBytes)
    throw InputError(what + " '" + path + "' is larger than " + Hex(maxBytes) + " bytes");
  std::ifstream in(path, std::ios::binary);
  Bytes bytes(static_cast<std::size_t>(st.st_size));
  if (!in ||
      !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
    throw InputError(what + " '" + path + "': read error");
  return bytes;
}

void WriteFileBytes(const std::string& path, ByteView bytes) {
  const std::string temp = path + ".fvtool-tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      throw InputError("cannot write '" + temp + "'");
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    std::remove(temp.c_str());
    throw InputError("cannot write '" + path + "': " + why);
  }
}

}  // namespace fvtool
