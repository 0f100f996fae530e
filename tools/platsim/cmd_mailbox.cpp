// platsim mailbox read | set COMMAND VALUE: runs MemTuneSmm on the simulated
// platform and serves one mailbox request through software SMI 0x9D.
#include "mem_tune/config_token.h"
#include "mem_tune/driver_entry.h"
#include "mem_tune/setup_variable.h"
#include "sim/profile/profile.h"
#include "sim/smm/smm.h"
#include "tools/platsim/commands.h"
#include "tools/platsim/platform_load.h"
#include "tools/platsim/records/byte_view.h"

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>

namespace platsim {

namespace {

using Json = sim::profile::Json;

enum class Kind { Clock, Timing, Flag, Setting, Echo, SetupOnly };

struct MailboxField {
  const char* name;
  uint8_t offset;
  uint8_t width;
  Kind kind;
  uint32_t command;  // the set command that takes its value from here; 0: none
};

// Offset and width of a MemTuneMailbox member, from the record itself.
#define FIELD(member) offsetof(MemTuneMailbox, member), sizeof(MemTuneMailbox::member)

// Every value field of MemTuneMailbox, in offset order.
const MailboxField kFields[] = {
    {"MemClock", FIELD(MemClock), Kind::Clock, 0x1},
    {"tCL", FIELD(tCL), Kind::Timing, 0x2},
    {"tRCDRD", FIELD(tRCDRD), Kind::Timing, 0x4},
    {"tRCDWR", FIELD(tRCDWR), Kind::Timing, 0x8},
    {"tRAS", FIELD(tRAS), Kind::Timing, 0x20},
    {"tRP", FIELD(tRP), Kind::Timing, 0x10},
    {"Setting25", FIELD(Setting25), Kind::Setting, 0x3000},
    {"tREFI", FIELD(tREFI), Kind::Timing, 0x4000},
    {"tRC", FIELD(tRC), Kind::Timing, 0x5000},
    {"tRFC1", FIELD(tRFC1), Kind::Timing, 0x6000},
    {"tRFC2", FIELD(tRFC2), Kind::Timing, 0x7000},
    {"tRFC4", FIELD(tRFC4), Kind::Timing, 0x8000},
    {"tFAW", FIELD(tFAW), Kind::Timing, 0x9000},
    {"tRRDS", FIELD(tRRDS), Kind::Timing, 0xA000},
    {"tRRDL", FIELD(tRRDL), Kind::Timing, 0xB000},
    {"tWR", FIELD(tWR), Kind::Timing, 0xC000},
    {"tWTRS", FIELD(tWTRS), Kind::Timing, 0xD000},
    {"tWTRL", FIELD(tWTRL), Kind::Timing, 0xE000},
    {"tCKE", FIELD(tCKE), Kind::Timing, 0xF000},
    {"tCWL", FIELD(tCWL), Kind::Timing, 0x10000},
    {"tRTP", FIELD(tRTP), Kind::Timing, 0x20000},
    {"tRDRDSD", FIELD(tRDRDSD), Kind::Timing, 0x30000},
    {"tRDRDDD", FIELD(tRDRDDD), Kind::Timing, 0x40000},
    {"tRDRDSC", FIELD(tRDRDSC), Kind::Timing, 0x50000},
    {"tRDRDSCL", FIELD(tRDRDSCL), Kind::Timing, 0x60000},
    {"tWRWRSD", FIELD(tWRWRSD), Kind::Timing, 0x70000},
    {"tWRWRDD", FIELD(tWRWRDD), Kind::Timing, 0x80000},
    {"tWRWRSC", FIELD(tWRWRSC), Kind::Timing, 0x90000},
    {"tWRWRSCL", FIELD(tWRWRSCL), Kind::Timing, 0xA0000},
    {"tRDWR", FIELD(tRDWR), Kind::Timing, 0xB0000},
    {"tWRRD", FIELD(tWRRD), Kind::Timing, 0xC0000},
    {"GearDownMode", FIELD(GearDownMode), Kind::Flag, 0xD0000},
    {"Cmd2T", FIELD(Cmd2T), Kind::Flag, 0xE0000},
    {"Setting22", FIELD(Setting22), Kind::Setting, 0xF0000},
    {"Setting23", FIELD(Setting23), Kind::Setting, 0x100000},
    {"Setting24", FIELD(Setting24), Kind::Setting, 0x200000},
    {"PowerDown", FIELD(PowerDown), Kind::Flag, 0x300000},
    {"Setting08", FIELD(Setting08), Kind::Setting, 0},
    {"Setting09", FIELD(Setting09), Kind::Setting, 0},
    {"Setting0D", FIELD(Setting0D), Kind::Setting, 0},
    {"Setting11", FIELD(Setting11), Kind::Setting, 0x400000},
    {"Setting14", FIELD(Setting14), Kind::Setting, 0},
    {"Setting18", FIELD(Setting18), Kind::Setting, 0x600000},
    {"Setting12", FIELD(Setting12), Kind::Setting, 0},
    {"Setting19", FIELD(Setting19[0]), Kind::Setting, 0x800000},
    {"Setting1A", FIELD(Setting19[1]), Kind::Setting, 0x900000},
    {"Setting1B", FIELD(Setting19[2]), Kind::Setting, 0xA00000},
    {"Setting1C", FIELD(Setting19[3]), Kind::Setting, 0xB00000},
    {"Setting1D", FIELD(Setting19[4]), Kind::Setting, 0xC00000},
    {"Setting1E", FIELD(Setting19[5]), Kind::Setting, 0xD00000},
    {"Setting1F", FIELD(Setting19[6]), Kind::Setting, 0xE00000},
    {"Setting20", FIELD(Setting20), Kind::Setting, 0x700000},
    {"Setting27", FIELD(Setting27), Kind::Setting, 0},
    {"Setting28", FIELD(Setting28), Kind::Setting, 0},
    {"Setting2C", FIELD(Setting2C), Kind::Setting, 0x100001},
    {"Setting30", FIELD(Setting30), Kind::Setting, 0x100002},
    {"Setting34", FIELD(Setting34), Kind::Setting, 0},
    {"Setting38", FIELD(Setting38), Kind::Setting, 0},
    {"Setting3C", FIELD(Setting3C), Kind::Setting, 0},
    {"EchoC8", FIELD(EchoC8), Kind::Echo, 0},
    {"EchoC9", FIELD(EchoC9), Kind::Echo, 0},
    {"Option7C", FIELD(Option7C), Kind::Setting, 0x100009},
    // Values that only go into the setup variable, named by their option.
    {"Setup1B7", FIELD(SetupOnly[0]), Kind::SetupOnly, 0x10000A},
    {"Setup1B9", FIELD(SetupOnly[1]), Kind::SetupOnly, 0x10000B},
    {"Setup022", FIELD(SetupOnly[2]), Kind::SetupOnly, 0x10000C},
    {"Setup032", FIELD(SetupOnly[3]), Kind::SetupOnly, 0x10000D},
    {"Setup135", FIELD(SetupOnly[4]), Kind::SetupOnly, 0x10000E},
    {"Setup132", FIELD(SetupOnly[5]), Kind::SetupOnly, 0x10000F},
    {"Setup12D", FIELD(SetupOnly[6]), Kind::SetupOnly, 0x100010},
    {"Setup12F", FIELD(SetupOnly[7]), Kind::SetupOnly, 0x100011},
    {"Setup173", FIELD(SetupOnly[8]), Kind::SetupOnly, 0x100012},
    {"Setup178", FIELD(SetupOnly[9]), Kind::SetupOnly, 0x100013},
};
#undef FIELD

// Commands without a value field.
struct NamedCommand {
  const char* name;
  uint32_t command;
};
const NamedCommand kOtherCommands[] = {
    {"read", kMailboxCommandReadCurrent},
    {"batch-begin", kMailboxCommandHoldSetup},
    {"batch-end", kMailboxCommandReleaseSetup},
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Hex(uint64_t v, int digits = 0) {
  return records::HexText(v, digits);
}

std::string StatusName(uint64_t status) {
  struct Name {
    uint64_t code;
    const char* name;
  };
  static const Name names[] = {
      {EFI_SUCCESS, "EFI_SUCCESS"},
      {EFI_LOAD_ERROR, "EFI_LOAD_ERROR"},
      {EFI_INVALID_PARAMETER, "EFI_INVALID_PARAMETER"},
      {EFI_UNSUPPORTED, "EFI_UNSUPPORTED"},
      {EFI_BAD_BUFFER_SIZE, "EFI_BAD_BUFFER_SIZE"},
      {EFI_BUFFER_TOO_SMALL, "EFI_BUFFER_TOO_SMALL"},
      {EFI_NOT_READY, "EFI_NOT_READY"},
      {EFI_DEVICE_ERROR, "EFI_DEVICE_ERROR"},
      {EFI_WRITE_PROTECTED, "EFI_WRITE_PROTECTED"},
      {EFI_OUT_OF_RESOURCES, "EFI_OUT_OF_RESOURCES"},
      {EFI_VOLUME_FULL, "EFI_VOLUME_FULL"},
      {EFI_NOT_FOUND, "EFI_NOT_FOUND"},
      {EFI_ACCESS_DENIED, "EFI_ACCESS_DENIED"},
  };
  for (const auto& n : names)
    if (n.code == status || (n.code & 0xFFFFFFFF) == status) return n.name;
  return Hex(status);
}

const MailboxField* FieldOfCommand(uint32_t command) {
  for (const auto& f : kFields)
    if (f.command == command) return &f;
  return nullptr;
}

std::string NameOfCommand(uint32_t command) {
  if (const MailboxField* f = FieldOfCommand(command)) return f->name;
  for (const auto& c : kOtherCommands)
    if (c.command == command) return c.name;
  return "";
}

uint32_t ParseCommand(const std::string& text) {
  const std::string want = Lower(text);
  for (const auto& f : kFields)
    if (f.command != 0 && Lower(f.name) == want) return f.command;
  for (const auto& c : kOtherCommands)
    if (c.name == want) return c.command;
  if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
    const uint64_t v = ParseNumber(text, "command");
    if (v > 0xFFFFFFFF) throw UserError("command: above 0xFFFFFFFF: '" + text + "'");
    return static_cast<uint32_t>(v);
  }
  std::string names;
  for (const auto& f : kFields)
    if (f.command) names += std::string(names.empty() ? "" : ", ") + f.name;
  for (const auto& c : kOtherCommands) names += std::string(", ") + c.name;
  throw UserError("unknown command '" + text + "' (a number, or one of: " + names + ")");
}

uint32_t Read(const MemTuneMailbox* box, uint8_t offset, uint8_t width) {
  const auto* b = reinterpret_cast<const uint8_t*>(box);
  uint32_t v = 0;
  for (uint8_t i = 0; i < width; ++i) v |= uint32_t(b[offset + i]) << (8 * i);
  return v;
}

// The platform with MemTuneSmm loaded and its handler registered.
struct Session {
  sim::Platform platform;
  MemTuneMailbox* mailbox = nullptr;

  explicit Session(const GlobalOptions& opts) {
    LoadPlatform(opts, platform);
    auto& smm = sim::smm::Smm(platform);
    if (smm.arena == nullptr) throw UserError("the profile has no SMM (section \"smm\")");
    const EFI_STATUS s = mts::ImageEntry(platform.ImageHandle(), platform.SystemTable());
    if (EFI_ERROR(s)) throw UserError("MemTuneSmm did not load: " + StatusName(s));
    if (smm.registrations.empty()) {
      const uint32_t sig = platform.cpus.at(0).cpuid[0x80000001].eax;
      throw UserError("MemTuneSmm is idle: processor signature " + Hex(sig, 8) +
                      " is not one it serves (no SMI 0x9D handler)");
    }
    if (!smm.providerInstalled)
      throw UserError("the profile has no mailbox provider (section \"memTuneProvider\")");
    mailbox = reinterpret_cast<MemTuneMailbox*>(smm.provider.MailboxAddress);
    platform.trace.Clear();
    platform.calls.clear();
  }

  void Run(uint32_t command) {
    mailbox->Command = command;
    mailbox->Request = kMailboxRequestPending;
    sim::smm::RaiseSwSmi(platform, 0x9D);
  }

  bool HasSetup() {
    return sim::smm::FindVariable(platform, u"TivSetup", mts::kTivSetupGuid) != nullptr;
  }

  std::vector<uint8_t> Setup() {
    auto* v = sim::smm::FindVariable(platform, u"TivSetup", mts::kTivSetupGuid);
    return v ? v->data : std::vector<uint8_t>{};
  }
};

Json FieldValue(const MailboxField& f, uint32_t v) {
  if (f.kind == Kind::Setting || f.kind == Kind::Echo || f.kind == Kind::SetupOnly)
    return Hex(v, f.width * 2);
  return v;
}

Json HeaderJson(const MemTuneMailbox* box) {
  return {{"Busy", box->Busy},
          {"Status", Hex(box->Status, 8)},
          {"StatusName", StatusName(box->Status)},
          {"Sequence", Hex(box->Sequence, 4)},
          {"Request", box->Request},
          {"Command", Hex(box->Command)}};
}

Json FieldsJson(const MemTuneMailbox* box, bool readout) {
  Json j = Json::object();
  for (const auto& f : kFields) {
    if (readout && f.kind == Kind::SetupOnly) continue;
    j[f.name] = FieldValue(f, Read(box, f.offset, f.width));
  }
  return j;
}

std::string Header(const MemTuneMailbox* box) {
  std::ostringstream os;
  os << "Busy " << box->Busy << "  Status " << Hex(box->Status, 8) << " ("
     << StatusName(box->Status) << ")  Sequence " << Hex(box->Sequence, 4) << "  Request "
     << box->Request << "  Command " << Hex(box->Command);
  return os.str();
}

std::string FieldLine(const MailboxField& f, uint32_t v) {
  char buf[160];
  const char* unit = f.kind == Kind::Clock ? " MHz" : f.kind == Kind::Timing ? " clocks" : "";
  if (f.kind == Kind::Setting || f.kind == Kind::Echo || f.kind == Kind::SetupOnly)
    std::snprintf(buf, sizeof buf, "  %s  %-13s %s", Hex(f.offset, 2).c_str(), f.name,
                  Hex(v, f.width * 2).c_str());
  else
    std::snprintf(buf, sizeof buf, "  %s  %-13s %u%s", Hex(f.offset, 2).c_str(), f.name, v, unit);
  return buf;
}

std::string PostLine(const sim::Platform& p) {
  std::string s;
  for (auto& e : p.trace.PortWrites(0x80)) {
    char b[8];
    std::snprintf(b, sizeof b, "%s%02X", s.empty() ? "" : " ", unsigned(e.value & 0xFF));
    s += b;
  }
  return s.empty() ? "(none)" : s;
}

Json PostJson(const sim::Platform& p) {
  Json a = Json::array();
  for (auto& e : p.trace.PortWrites(0x80)) a.push_back(Hex(e.value & 0xFF, 2));
  return a;
}

Json TraceJson(const sim::Platform& p) {
  Json a = Json::array();
  for (auto& e : p.trace.Events()) a.push_back(e.ToString());
  return a;
}

void PrintTrace(const sim::Platform& p) {
  std::cout << "trace:\n";
  for (auto& e : p.trace.Events()) std::cout << "  " << e.ToString() << "\n";
}

// The request's own status decides the exit code: whatever the driver did
// not complete (EFI_NOT_FOUND included) is a refusal, exit code 1.
void RefuseUnlessDone(const MemTuneMailbox* box) {
  std::cout.flush();
  if (box->Status != 0)
    throw Refusal("MemTuneSmm answered " + StatusName(box->Status) + " (mailbox Status " +
                  Hex(box->Status, 8) + ")");
}

void RunRead(const GlobalOptions& opts) {
  Session s(opts);
  s.Run(kMailboxCommandReadCurrent);
  const MemTuneMailbox* box = s.mailbox;
  if (opts.json) {
    Json j = {{"command", Hex(kMailboxCommandReadCurrent)},
              {"status", StatusName(box->Status)},
              {"postCodes", PostJson(s.platform)},
              {"mailbox", HeaderJson(box)},
              {"fields", FieldsJson(box, true)}};
    if (opts.trace) j["trace"] = TraceJson(s.platform);
    std::cout << j.dump(2) << "\n";
    return RefuseUnlessDone(box);
  }
  std::cout << "MemTuneMailbox after read (command 0x80000000): " << StatusName(box->Status)
            << "\n";
  std::cout << "  " << Header(box) << "\n";
  for (const auto& f : kFields)
    if (f.kind != Kind::SetupOnly) std::cout << FieldLine(f, Read(box, f.offset, f.width)) << "\n";
  if (box->Status == (EFI_NOT_FOUND & 0xFFFFFFFF))
    std::cout << "note: EFI_NOT_FOUND means no memory channel is in use (the value fields are as "
                 "they were), or a clock code outside the clock table (MemClock then holds the "
                 "raw code)\n";
  std::cout << "POST codes: " << PostLine(s.platform) << "\n";
  if (opts.trace) PrintTrace(s.platform);
  RefuseUnlessDone(box);
}

uint32_t ItemOfToken(uint32_t token) {
  for (const auto& r : mts::kConfigTokenTable)
    if (r.token == token && r.item != mts::kConfigTokenEnd) return r.item;
  return 0;
}

void RunSet(const GlobalOptions& opts, const std::string& commandText,
            const std::string& valueText) {
  const uint32_t command = ParseCommand(commandText);
  const uint64_t value = ParseNumber(valueText, "value");
  const MailboxField* field = FieldOfCommand(command);
  if (field != nullptr) {
    const uint64_t max = field->width == 4 ? 0xFFFFFFFFull : (1ull << (8 * field->width)) - 1;
    if (value > max)
      throw UserError("value " + Hex(value) + " does not fit the " + std::to_string(field->width) +
                      "-byte field " + field->name + " (at most " + Hex(max) + ")");
  }
  Session s(opts);
  if (field != nullptr) {
    auto* b = reinterpret_cast<uint8_t*>(s.mailbox);
    for (uint8_t i = 0; i < field->width; ++i) b[field->offset + i] = uint8_t(value >> (8 * i));
  }
  const std::vector<uint8_t> before = s.Setup();
  auto& smm = sim::smm::Smm(s.platform);
  smm.tokenWrites.clear();
  s.Run(command);
  const std::vector<uint8_t> after = s.Setup();
  const MemTuneMailbox* box = s.mailbox;
  const std::string name = NameOfCommand(command);

  Json tokens = Json::array();
  for (const auto& t : smm.tokenWrites)
    tokens.push_back({{"item", ItemOfToken(t.token)},
                      {"token", Hex(t.token, 8)},
                      {"width", t.width},
                      {"value", Hex(t.value, t.width * 2)},
                      {"status", StatusName(t.status)}});
  Json changes = Json::array();
  for (size_t i = 0; i < after.size() && i < before.size(); ++i)
    if (after[i] != before[i])
      changes.push_back(
          {{"offset", Hex(i, 3)}, {"before", Hex(before[i], 2)}, {"after", Hex(after[i], 2)}});

  if (opts.json) {
    Json j = {{"command", Hex(command)},
              {"name", name.empty() ? Json(nullptr) : Json(name)},
              {"value", value},
              {"valueField", field ? Json(Hex(field->offset, 2)) : Json(nullptr)},
              {"status", StatusName(box->Status)},
              {"tokens", tokens},
              {"setupChanges", changes},
              {"setupSize", Hex(after.size())},
              {"postCodes", PostJson(s.platform)},
              {"mailbox", HeaderJson(box)},
              {"fields", FieldsJson(box, false)}};
    if (opts.trace) j["trace"] = TraceJson(s.platform);
    std::cout << j.dump(2) << "\n";
    return RefuseUnlessDone(box);
  }
  std::cout << "set " << (name.empty() ? Hex(command) : name + " (command " + Hex(command) + ")");
  if (field)
    std::cout << " = " << value << (field->kind == Kind::Clock ? " MHz" : "") << " (mailbox "
              << Hex(field->offset, 2) << ", " << int(field->width) << " byte"
              << (field->width > 1 ? "s" : "") << ")";
  else
    std::cout << " (no value field; value not used)";
  std::cout << ": " << StatusName(box->Status) << "\n";
  std::cout << "tokens written:" << (tokens.empty() ? " none" : "") << "\n";
  for (const auto& t : smm.tokenWrites) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "  item %-3u token %s  %2u-bit  value %s  %s",
                  ItemOfToken(t.token), Hex(t.token, 8).c_str(), t.width * 8u,
                  Hex(t.value, t.width * 2).c_str(), StatusName(t.status).c_str());
    std::cout << buf << "\n";
  }
  if (!s.HasSetup())
    std::cout << "setup variable TivSetup: absent\n";
  else
    std::cout << "setup variable TivSetup (" << Hex(after.size())
              << " bytes) changed:" << (changes.empty() ? " nothing" : "") << "\n";
  for (size_t i = 0; i < after.size() && i < before.size(); ++i)
    if (after[i] != before[i])
      std::cout << "  " << Hex(i, 3) << "  " << Hex(before[i], 2) << " -> " << Hex(after[i], 2)
                << "\n";
  std::cout << "POST codes: " << PostLine(s.platform) << "\n";
  std::cout << "mailbox: " << Header(box) << "\n";
  if (field) std::cout << FieldLine(*field, Read(box, field->offset, field->width)) << "\n";
  if (opts.trace) PrintTrace(s.platform);
  RefuseUnlessDone(box);
}

}  // namespace

void AddMailboxCommands(CLI::App& app, GlobalOptions& opts) {
  auto* mailbox = app.add_subcommand("mailbox", "MemTuneSmm's mailbox, served through SMI 0x9D");
  mailbox->require_subcommand(1);
  auto* read = mailbox->add_subcommand("read", "read the memory controller's current settings");
  read->callback([&opts] { RunRead(opts); });
  auto* set = mailbox->add_subcommand(
      "set", "send one set request: COMMAND (number or field name, e.g. tCL, MemClock) VALUE");
  static std::string command, value;
  set->add_option("COMMAND", command, "command code or field name")->required();
  set->add_option("VALUE", value, "value for the command's field (decimal or 0x hex)")->required();
  set->callback([&opts] { RunSet(opts, command, value); });
}

}  // namespace platsim
