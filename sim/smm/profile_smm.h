// Profile sections of the SMM side of the simulated platform:
//   "smm"              SMRAM ranges and which SMM services are installed
//   "memTuneProvider"  the mailbox provider and its settings record bytes
//   "variables"        the variable store behind the SMM variable protocol
//   "memoryController" processor signature, per-bus indirect registers
//                      (by channel), and the nodes 0x19-0x1F naming buses
#pragma once

#include "sim/profile/profile.h"

namespace sim::profile {

void LoadSmm(const Json& section, const std::string& path, Platform& platform);
Json DumpSmm(Platform& platform);
Json DefaultSmm();

void LoadMemTuneProvider(const Json& section, const std::string& path, Platform& platform);
Json DumpMemTuneProvider(Platform& platform);
Json DefaultMemTuneProvider();

void LoadVariables(const Json& section, const std::string& path, Platform& platform);
Json DumpVariables(Platform& platform);
Json DefaultVariables();

void LoadMemoryController(const Json& section, const std::string& path, Platform& platform);
Json DumpMemoryController(Platform& platform);
Json DefaultMemoryController();

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"
std::string GuidText(const EFI_GUID& guid);
EFI_GUID ParseGuid(const Json& v, const std::string& path);

}  // namespace sim::profile
