#include "tools/platsim/capture/config_space.h"

#include "addr_translate/fabric/fabric_decode.h"
#include "registers/fabric_registers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace platsim {

namespace reg = atd::fabric_reg;

SysfsConfigSpace::~SysfsConfigSpace() {
  for (const auto& [key, fd] : files_)
    if (fd >= 0) close(fd);
}

std::string SysfsConfigSpace::File(uint8_t device, uint8_t function) const {
  char name[32];
  std::snprintf(name, sizeof name, "0000:00:%02x.%u", device, function & 7u);
  return root_ + "/bus/pci/devices/" + name + "/config";
}

int SysfsConfigSpace::Open(uint8_t device, uint8_t function, bool write) {
  const uint32_t key = (uint32_t{device} << 4 | function) << 1 | (write ? 1u : 0u);
  auto it = files_.find(key);
  if (it != files_.end()) return it->second;
  const std::string file = File(device, function);
  const int fd = open(file.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0 && !(errno == ENOENT && !write)) {
    error_ = "cannot open " + file + (write ? " for writing: " : ": ") + std::strerror(errno);
    if (errno == EACCES || errno == EPERM)
      error_ += " (the data fabric's registers are read through its window, which needs root)";
    return -2;
  }
  files_[key] = fd;  // -1: no such device
  return fd;
}

bool SysfsConfigSpace::Read32(uint8_t device, uint8_t function, uint16_t offset, uint32_t* value) {
  const int fd = Open(device, function, false);
  if (fd == -2) return false;
  if (fd == -1) {
    *value = 0xFFFFFFFF;
    return true;
  }
  uint8_t b[4] = {};
  const ssize_t n = pread(fd, b, sizeof b, offset);
  if (n != static_cast<ssize_t>(sizeof b)) {
    char at[96];
    std::snprintf(at, sizeof at, ": short read at offset 0x%X (%zd of 4 bytes)", offset,
                  n < 0 ? ssize_t{0} : n);
    error_ = File(device, function) + at +
             (n < 0 ? std::string(": ") + std::strerror(errno)
                    : std::string(" (past the first 64 bytes only root reads the registers)"));
    return false;
  }
  *value = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  return true;
}

bool SysfsConfigSpace::Write32(uint8_t device, uint8_t function, uint16_t offset, uint32_t value) {
  const int fd = Open(device, function, true);
  if (fd < 0) return false;
  const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  const ssize_t n = pwrite(fd, b, sizeof b, offset);
  if (n != static_cast<ssize_t>(sizeof b)) {
    char at[64];
    std::snprintf(at, sizeof at, ": short write at offset 0x%X", offset);
    error_ = File(device, function) + at + (n < 0 ? std::string(": ") + std::strerror(errno) : "");
    return false;
  }
  return true;
}

bool SimConfigSpace::Read32(uint8_t device, uint8_t function, uint16_t offset, uint32_t* value) {
  sim::PciFunction* f = platform_.Pci(0, device, function);
  *value = f == nullptr ? 0xFFFFFFFF : f->ConfigRead32(offset);
  return true;
}

bool SimConfigSpace::Write32(uint8_t device, uint8_t function, uint16_t offset, uint32_t value) {
  if (sim::PciFunction* f = platform_.Pci(0, device, function)) f->ConfigWrite32(offset, value);
  return true;
}

bool WindowPort::ReadRegister(uint32_t node, uint8_t function, uint16_t offset, uint32_t instance,
                              uint32_t* value) {
  const uint8_t device = atd::fabricNodeDevice(node);
  bool saved = false;
  for (const Saved& s : saved_) saved = saved || s.device == device;
  if (!saved) {
    uint32_t old = 0;
    if (!space_.Read32(device, reg::kWindowFunction, reg::kAccessAddressReg, &old)) return false;
    saved_.push_back({device, old});
  }
  const uint32_t access = atd::fabricAccessValue(static_cast<uint8_t>(instance), function, offset);
  return space_.Write32(device, reg::kWindowFunction, reg::kAccessAddressReg, access) &&
         space_.Read32(device, reg::kWindowFunction, reg::kAccessDataReg, value);
}

bool WindowPort::Restore() {
  bool ok = true;
  for (const Saved& s : saved_)
    ok = space_.Write32(s.device, reg::kWindowFunction, reg::kAccessAddressReg, s.value) && ok;
  saved_.clear();
  return ok;
}

capture::FabricPort WindowPort::Port() {
  capture::FabricPort p{};
  p.context = this;
  p.readConfig = [](void* c, uint8_t device, uint8_t function, uint16_t offset, uint32_t* value) {
    return static_cast<WindowPort*>(c)->space_.Read32(device, function, offset, value);
  };
  p.readRegister = [](void* c, uint32_t node, uint8_t function, uint16_t offset, uint32_t instance,
                      uint32_t* value) {
    return static_cast<WindowPort*>(c)->ReadRegister(node, function, offset, instance, value);
  };
  return p;
}

}  // namespace platsim
