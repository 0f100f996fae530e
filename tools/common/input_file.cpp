#include "tools/common/input_file.h"

#include "tools/common/input_error.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace tools {

namespace {

// Refuses what is not a regular file or a pipe; returns the size of a regular
// file (0 for a pipe).
std::size_t CheckInputPath(const std::string& path, const std::string& what) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    throw InputError(what + " '" + path + "': " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw InputError(what + " '" + path + "' is a directory, not a file");
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
    throw InputError(what + " '" + path + "' is a device, not a file");
  if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
    throw InputError(what + " '" + path + "' is not a regular file");
  return S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0;
}

std::string TooLarge(const std::string& what, const std::string& path, std::size_t limit,
                     const std::string& reader) {
  return what + " '" + path + "' is larger than " + std::to_string(limit) + " bytes, more than " +
         reader + " reads";
}

}  // namespace

std::vector<uint8_t> ReadInputBytes(const std::string& path, const std::string& what,
                                    const std::string& reader, std::size_t maxBytes) {
  InputStream input(path, what);
  if (path != "-") {
    const std::size_t size = CheckInputPath(path, what);
    if (size > maxBytes) throw InputError(TooLarge(what, path, maxBytes, reader));
  }
  // Read in chunks up to one byte past the limit, so a pipe or a file that
  // grows while it is read is refused rather than read without bound.
  std::vector<uint8_t> bytes;
  char chunk[65536];
  std::istream& in = input.get();
  while (in) {
    in.read(chunk, sizeof chunk);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (bytes.size() + got > maxBytes)
      throw InputError(TooLarge(what, input.name(), maxBytes, reader));
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  if (in.bad()) throw InputError(what + " '" + input.name() + "': read error");
  return bytes;
}

InputStream::InputStream(const std::string& path, const std::string& what) {
  if (path == "-") {
    stdin_ = &std::cin;
    name_ = "<stdin>";
    return;
  }
  name_ = path;
  CheckInputPath(path, what);
  file_.open(path, std::ios::binary);
  if (!file_) throw InputError(what + " '" + path + "': cannot open: " + std::strerror(errno));
}

}  // namespace tools
