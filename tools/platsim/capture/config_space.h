// Bus 0's configuration space as platsim capture reaches it, and the data
// fabric's indirect-access windows driven through it exactly as the driver
// drives them through ECAM: the access value to F4x5C, the register from
// F4x98.
#pragma once

#include "capture/platform_capture.h"
#include "sim/platform/platform.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platsim {

class ConfigSpace {
 public:
  virtual ~ConfigSpace() = default;
  // A device that does not exist reads all ones. False, with error() saying
  // why, when the access itself failed.
  virtual bool Read32(uint8_t device, uint8_t function, uint16_t offset, uint32_t* value) = 0;
  virtual bool Write32(uint8_t device, uint8_t function, uint16_t offset, uint32_t value) = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

// The kernel's configuration files under ROOT (normally /sys):
// ROOT/bus/pci/devices/0000:00:DD.F/config. Reading past the first 64 bytes
// and writing need root.
class SysfsConfigSpace : public ConfigSpace {
 public:
  explicit SysfsConfigSpace(std::string root) : root_(std::move(root)) {}
  ~SysfsConfigSpace() override;
  bool Read32(uint8_t device, uint8_t function, uint16_t offset, uint32_t* value) override;
  bool Write32(uint8_t device, uint8_t function, uint16_t offset, uint32_t value) override;
  // The file of bus 0, device, function.
  std::string File(uint8_t device, uint8_t function) const;

 private:
  int Open(uint8_t device, uint8_t function, bool write);
  std::string root_;
  std::map<uint32_t, int> files_;  // (device << 4 | function) << 1 | write -> descriptor
};

// The simulated platform's configuration space, through its PCI functions.
class SimConfigSpace : public ConfigSpace {
 public:
  explicit SimConfigSpace(sim::Platform& p) : platform_(p) {}
  bool Read32(uint8_t device, uint8_t function, uint16_t offset, uint32_t* value) override;
  bool Write32(uint8_t device, uint8_t function, uint16_t offset, uint32_t value) override;

 private:
  sim::Platform& platform_;
};

// The windows of the nodes over a ConfigSpace. The window is shared with the
// operating system's own drivers: each node's access-address register is
// saved before the first write to it and written back, in the order saved,
// by Restore() (and at destruction).
class WindowPort {
 public:
  explicit WindowPort(ConfigSpace& space) : space_(space) {}
  ~WindowPort() { Restore(); }
  WindowPort(const WindowPort&) = delete;
  WindowPort& operator=(const WindowPort&) = delete;

  bool ReadRegister(uint32_t node, uint8_t function, uint16_t offset, uint32_t instance,
                    uint32_t* value);
  // False when a write-back failed (error() of the space says which).
  bool Restore();
  capture::FabricPort Port();
  ConfigSpace& space() { return space_; }

 private:
  struct Saved {
    uint8_t device;
    uint32_t value;
  };
  ConfigSpace& space_;
  std::vector<Saved> saved_;
};

}  // namespace platsim
