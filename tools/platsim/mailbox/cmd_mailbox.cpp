// platsim mailbox read | set COMMAND VALUE: runs MemTuneSmm on the simulated
// platform and serves one mailbox request through software SMI 0x9D.
#include "mem_tune/config_token.h"
#include "mem_tune/driver_entry.h"
#include "mem_tune/setup_variable.h"
#include "mem_tune/smi_handler.h"
#include "sim/profile/profile.h"
#include "sim/smm/smm.h"
#include "tools/platsim/cli/commands.h"
#include "tools/platsim/cli/platform_load.h"
#include "tools/common/efi_status_name.h"
#include "tools/common/hex_text.h"

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

// The set command that takes its value from field `f`, from the driver's own
// tables: the token commands of MemTuneSmiHandler, then the commands that
// only update the setup variable; 0: none.
constexpr uint32_t CommandTaking(mts::MailboxField f) {
  for (const mts::DispatchRow& r : mts::kDispatchTable)
    if (r.value.width == f.width && r.value.offset == f.offset) return r.command;
  for (const mts::SetupCommandRow& r : mts::kSetupCommandTable)
    if (r.value.width == f.width && r.value.offset == f.offset) return r.command;
  return 0;
}

// A value field of MemTuneMailbox as platsim names and shows it.
struct MailboxValue {
  const char* name;
  mts::MailboxField field;
  Kind kind;
  constexpr uint32_t Command() const { return CommandTaking(field); }
};

// Every value field of MemTuneMailbox, in offset order.
constexpr MailboxValue kFields[] = {
    {"MemClock", MTS_MAILBOX_FIELD(MemClock), Kind::Clock},
    {"tCL", MTS_MAILBOX_FIELD(tCL), Kind::Timing},
    {"tRCDRD", MTS_MAILBOX_FIELD(tRCDRD), Kind::Timing},
    {"tRCDWR", MTS_MAILBOX_FIELD(tRCDWR), Kind::Timing},
    {"tRAS", MTS_MAILBOX_FIELD(tRAS), Kind::Timing},
    {"tRP", MTS_MAILBOX_FIELD(tRP), Kind::Timing},
    {"Setting25", MTS_MAILBOX_FIELD(Setting25), Kind::Setting},
    {"tREFI", MTS_MAILBOX_FIELD(tREFI), Kind::Timing},
    {"tRC", MTS_MAILBOX_FIELD(tRC), Kind::Timing},
    {"tRFC1", MTS_MAILBOX_FIELD(tRFC1), Kind::Timing},
    {"tRFC2", MTS_MAILBOX_FIELD(tRFC2), Kind::Timing},
    {"tRFC4", MTS_MAILBOX_FIELD(tRFC4), Kind::Timing},
    {"tFAW", MTS_MAILBOX_FIELD(tFAW), Kind::Timing},
    {"tRRDS", MTS_MAILBOX_FIELD(tRRDS), Kind::Timing},
    {"tRRDL", MTS_MAILBOX_FIELD(tRRDL), Kind::Timing},
    {"tWR", MTS_MAILBOX_FIELD(tWR), Kind::Timing},
    {"tWTRS", MTS_MAILBOX_FIELD(tWTRS), Kind::Timing},
    {"tWTRL", MTS_MAILBOX_FIELD(tWTRL), Kind::Timing},
    {"tCKE", MTS_MAILBOX_FIELD(tCKE), Kind::Timing},
    {"tCWL", MTS_MAILBOX_FIELD(tCWL), Kind::Timing},
    {"tRTP", MTS_MAILBOX_FIELD(tRTP), Kind::Timing},
    {"tRDRDSD", MTS_MAILBOX_FIELD(tRDRDSD), Kind::Timing},
    {"tRDRDDD", MTS_MAILBOX_FIELD(tRDRDDD), Kind::Timing},
    {"tRDRDSC", MTS_MAILBOX_FIELD(tRDRDSC), Kind::Timing},
    {"tRDRDSCL", MTS_MAILBOX_FIELD(tRDRDSCL), Kind::Timing},
    {"tWRWRSD", MTS_MAILBOX_FIELD(tWRWRSD), Kind::Timing},
    {"tWRWRDD", MTS_MAILBOX_FIELD(tWRWRDD), Kind::Timing},
    {"tWRWRSC", MTS_MAILBOX_FIELD(tWRWRSC), Kind::Timing},
    {"tWRWRSCL", MTS_MAILBOX_FIELD(tWRWRSCL), Kind::Timing},
    {"tRDWR", MTS_MAILBOX_FIELD(tRDWR), Kind::Timing},
    {"tWRRD", MTS_MAILBOX_FIELD(tWRRD), Kind::Timing},
    {"GearDownMode", MTS_MAILBOX_FIELD(GearDownMode), Kind::Flag},
    {"Cmd2T", MTS_MAILBOX_FIELD(Cmd2T), Kind::Flag},
    {"Setting22", MTS_MAILBOX_FIELD(Setting22), Kind::Setting},
    {"Setting23", MTS_MAILBOX_FIELD(Setting23), Kind::Setting},
    {"Setting24", MTS_MAILBOX_FIELD(Setting24), Kind::Setting},
    {"PowerDown", MTS_MAILBOX_FIELD(PowerDown), Kind::Flag},
    {"Setting08", MTS_MAILBOX_FIELD(Setting08), Kind::Setting},
    {"Setting09", MTS_MAILBOX_FIELD(Setting09), Kind::Setting},
    {"Setting0D", MTS_MAILBOX_FIELD(Setting0D), Kind::Setting},
    {"Setting11", MTS_MAILBOX_FIELD(Setting11), Kind::Setting},
    {"Setting14", MTS_MAILBOX_FIELD(Setting14), Kind::Setting},
    {"Setting18", MTS_MAILBOX_FIELD(Setting18), Kind::Setting},
    {"Setting12", MTS_MAILBOX_FIELD(Setting12), Kind::Setting},
    {"Setting19", MTS_MAILBOX_FIELD(Setting19[0]), Kind::Setting},
    {"Setting1A", MTS_MAILBOX_FIELD(Setting19[1]), Kind::Setting},
    {"Setting1B", MTS_MAILBOX_FIELD(Setting19[2]), Kind::Setting},
    {"Setting1C", MTS_MAILBOX_FIELD(Setting19[3]), Kind::Setting},
    {"Setting1D", MTS_MAILBOX_FIELD(Setting19[4]), Kind::Setting},
    {"Setting1E", MTS_MAILBOX_FIELD(Setting19[5]), Kind::Setting},
    {"Setting1F", MTS_MAILBOX_FIELD(Setting19[6]), Kind::Setting},
    {"Setting20", MTS_MAILBOX_FIELD(Setting20), Kind::Setting},
    {"Setting27", MTS_MAILBOX_FIELD(Setting27), Kind::Setting},
    {"Setting28", MTS_MAILBOX_FIELD(Setting28), Kind::Setting},
    {"Setting2C", MTS_MAILBOX_FIELD(Setting2C), Kind::Setting},
    {"Setting30", MTS_MAILBOX_FIELD(Setting30), Kind::Setting},
    {"Setting34", MTS_MAILBOX_FIELD(Setting34), Kind::Setting},
    {"Setting38", MTS_MAILBOX_FIELD(Setting38), Kind::Setting},
    {"Setting3C", MTS_MAILBOX_FIELD(Setting3C), Kind::Setting},
    {"EchoC8", MTS_MAILBOX_FIELD(EchoC8), Kind::Echo},
    {"EchoC9", MTS_MAILBOX_FIELD(EchoC9), Kind::Echo},
    {"Option7C", MTS_MAILBOX_FIELD(Option7C), Kind::Setting},
    // Values that only go into the setup variable, named by their option.
    {"Setup1B7", MTS_MAILBOX_FIELD(SetupOnly[0]), Kind::SetupOnly},
    {"Setup1B9", MTS_MAILBOX_FIELD(SetupOnly[1]), Kind::SetupOnly},
    {"Setup022", MTS_MAILBOX_FIELD(SetupOnly[2]), Kind::SetupOnly},
    {"Setup032", MTS_MAILBOX_FIELD(SetupOnly[3]), Kind::SetupOnly},
    {"Setup135", MTS_MAILBOX_FIELD(SetupOnly[4]), Kind::SetupOnly},
    {"Setup132", MTS_MAILBOX_FIELD(SetupOnly[5]), Kind::SetupOnly},
    {"Setup12D", MTS_MAILBOX_FIELD(SetupOnly[6]), Kind::SetupOnly},
    {"Setup12F", MTS_MAILBOX_FIELD(SetupOnly[7]), Kind::SetupOnly},
    {"Setup173", MTS_MAILBOX_FIELD(SetupOnly[8]), Kind::SetupOnly},
    {"Setup178", MTS_MAILBOX_FIELD(SetupOnly[9]), Kind::SetupOnly},
};
static_assert(kFields[0].Command() == 0x1);
static_assert(kFields[1].Command() == 0x2);
static_assert(kFields[2].Command() == 0x4);
static_assert(kFields[3].Command() == 0x8);
static_assert(kFields[4].Command() == 0x20);
static_assert(kFields[5].Command() == 0x10);
static_assert(kFields[6].Command() == 0x3000);
static_assert(kFields[7].Command() == 0x4000);
static_assert(kFields[8].Command() == 0x5000);
static_assert(kFields[9].Command() == 0x6000);
static_assert(kFields[10].Command() == 0x7000);
static_assert(kFields[11].Command() == 0x8000);
static_assert(kFields[12].Command() == 0x9000);
static_assert(kFields[13].Command() == 0xA000);
static_assert(kFields[14].Command() == 0xB000);
static_assert(kFields[15].Command() == 0xC000);
static_assert(kFields[16].Command() == 0xD000);
static_assert(kFields[17].Command() == 0xE000);
static_assert(kFields[18].Command() == 0xF000);
static_assert(kFields[19].Command() == 0x10000);
static_assert(kFields[20].Command() == 0x20000);
static_assert(kFields[21].Command() == 0x30000);
static_assert(kFields[22].Command() == 0x40000);
static_assert(kFields[23].Command() == 0x50000);
static_assert(kFields[24].Command() == 0x60000);
static_assert(kFields[25].Command() == 0x70000);
static_assert(kFields[26].Command() == 0x80000);
static_assert(kFields[27].Command() == 0x90000);
static_assert(kFields[28].Command() == 0xA0000);
static_assert(kFields[29].Command() == 0xB0000);
static_assert(kFields[30].Command() == 0xC0000);
static_assert(kFields[31].Command() == 0xD0000);
static_assert(kFields[32].Command() == 0xE0000);
static_assert(kFields[33].Command() == 0xF0000);
static_assert(kFields[34].Command() == 0x100000);
static_assert(kFields[35].Command() == 0x200000);
static_assert(kFields[36].Command() == 0x300000);
static_assert(kFields[37].Command() == 0);
static_assert(kFields[38].Command() == 0);
static_assert(kFields[39].Command() == 0);
static_assert(kFields[40].Command() == 0x400000);
static_assert(kFields[41].Command() == 0);
static_assert(kFields[42].Command() == 0x600000);
static_assert(kFields[43].Command() == 0);
static_assert(kFields[44].Command() == 0x800000);
static_assert(kFields[45].Command() == 0x900000);
static_assert(kFields[46].Command() == 0xA00000);
static_assert(kFields[47].Command() == 0xB00000);
static_assert(kFields[48].Command() == 0xC00000);
static_assert(kFields[49].Command() == 0xD00000);
static_assert(kFields[50].Command() == 0xE00000);
static_assert(kFields[51].Command() == 0x700000);
static_assert(kFields[52].Command() == 0);
static_assert(kFields[53].Command() == 0);
static_assert(kFields[54].Command() == 0x100001);
static_assert(kFields[55].Command() == 0x100002);
static_assert(kFields[56].Command() == 0);
static_assert(kFields[57].Command() == 0);
static_assert(kFields[58].Command() == 0);
static_assert(kFields[59].Command() == 0);
static_assert(kFields[60].Command() == 0);
static_assert(kFields[61].Command() == 0x100009);
static_assert(kFields[62].Command() == 0x10000A);
static_assert(kFields[63].Command() == 0x10000B);
static_assert(kFields[64].Command() == 0x10000C);
static_assert(kFields[65].Command() == 0x10000D);
static_assert(kFields[66].Command() == 0x10000E);
static_assert(kFields[67].Command() == 0x10000F);
static_assert(kFields[68].Command() == 0x100010);
static_assert(kFields[69].Command() == 0x100011);
static_assert(kFields[70].Command() == 0x100012);
static_assert(kFields[71].Command() == 0x100013);

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

// The mailbox keeps the low 32 bits of a status: an error code comes back
// without its top bit.
std::string StatusName(uint64_t status) {
  const char* name = tools::EfiStatusName(status);
  if (name == nullptr && status <= 0xFFFFFFFF) name = tools::EfiStatusName(status | EFI_ERROR_MASK);
  return name ? name : tools::HexText(status);
}

const MailboxValue* FieldOfCommand(uint32_t command) {
  for (const auto& f : kFields)
    if (f.Command() == command) return &f;
  return nullptr;
}

std::string NameOfCommand(uint32_t command) {
  if (const MailboxValue* f = FieldOfCommand(command)) return f->name;
  for (const auto& c : kOtherCommands)
    if (c.command == command) return c.name;
  return "";
}

uint32_t ParseCommand(const std::string& text) {
  const std::string want = Lower(text);
  for (const auto& f : kFields)
    if (f.Command() != 0 && Lower(f.name) == want) return f.Command();
  for (const auto& c : kOtherCommands)
    if (c.name == want) return c.command;
  if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
    const uint64_t v = ParseNumber(text, "command");
    if (v > 0xFFFFFFFF) throw UserError("command: above 0xFFFFFFFF: '" + text + "'");
    return static_cast<uint32_t>(v);
  }
  std::string names;
  for (const auto& f : kFields)
    if (f.Command()) names += std::string(names.empty() ? "" : ", ") + f.name;
  for (const auto& c : kOtherCommands) names += std::string(", ") + c.name;
  throw UserError("unknown command '" + text + "' (a number, or one of: " + names + ")");
}

std::u16string SetupName() {
  return std::u16string(std::begin(mts::kTivSetupName), std::end(mts::kTivSetupName) - 1);
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
      throw UserError("MemTuneSmm is idle: processor signature " + tools::HexText(sig, 8) +
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
    sim::smm::RaiseSwSmi(platform, static_cast<uint8_t>(mts::kMemTuneSwSmiValue));
  }

  bool HasSetup() {
    return sim::smm::FindVariable(platform, SetupName(), mts::kTivSetupGuid) != nullptr;
  }

  std::vector<uint8_t> Setup() {
    auto* v = sim::smm::FindVariable(platform, SetupName(), mts::kTivSetupGuid);
    return v ? v->data : std::vector<uint8_t>{};
  }
};

Json FieldValue(const MailboxValue& f, uint32_t v) {
  if (f.kind == Kind::Setting || f.kind == Kind::Echo || f.kind == Kind::SetupOnly)
    return tools::HexText(v, f.field.width * 2);
  return v;
}

Json HeaderJson(const MemTuneMailbox* box) {
  return {{"Busy", box->Busy},
          {"Status", tools::HexText(box->Status, 8)},
          {"StatusName", StatusName(box->Status)},
          {"Sequence", tools::HexText(box->Sequence, 4)},
          {"Request", box->Request},
          {"Command", tools::HexText(box->Command)}};
}

Json FieldsJson(const MemTuneMailbox* box, bool readout) {
  Json j = Json::object();
  for (const auto& f : kFields) {
    if (readout && f.kind == Kind::SetupOnly) continue;
    j[f.name] = FieldValue(f, mts::ReadMailboxField(*box, f.field));
  }
  return j;
}

std::string Header(const MemTuneMailbox* box) {
  std::ostringstream os;
  os << "Busy " << box->Busy << "  Status " << tools::HexText(box->Status, 8) << " ("
     << StatusName(box->Status) << ")  Sequence " << tools::HexText(box->Sequence, 4)
     << "  Request " << box->Request << "  Command " << tools::HexText(box->Command);
  return os.str();
}

std::string FieldLine(const MailboxValue& f, uint32_t v) {
  char buf[160];
  const char* unit = f.kind == Kind::Clock ? " MHz" : f.kind == Kind::Timing ? " clocks" : "";
  if (f.kind == Kind::Setting || f.kind == Kind::Echo || f.kind == Kind::SetupOnly)
    std::snprintf(buf, sizeof buf, "  %s  %-13s %s", tools::HexText(f.field.offset, 2).c_str(),
                  f.name, tools::HexText(v, f.field.width * 2).c_str());
  else
    std::snprintf(buf, sizeof buf, "  %s  %-13s %u%s", tools::HexText(f.field.offset, 2).c_str(),
                  f.name, v, unit);
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
  for (auto& e : p.trace.PortWrites(0x80)) a.push_back(tools::HexText(e.value & 0xFF, 2));
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
                  tools::HexText(box->Status, 8) + ")");
}

void RunRead(const GlobalOptions& opts) {
  Session s(opts);
  s.Run(kMailboxCommandReadCurrent);
  const MemTuneMailbox* box = s.mailbox;
  if (opts.json) {
    Json j = {{"command", tools::HexText(kMailboxCommandReadCurrent)},
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
    if (f.kind != Kind::SetupOnly)
      std::cout << FieldLine(f, mts::ReadMailboxField(*box, f.field)) << "\n";
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

// The value a set command takes, checked against its field's width.
void CheckFits(const MailboxValue* field, uint64_t value) {
  if (field == nullptr) return;
  const uint64_t max =
      field->field.width == 4 ? 0xFFFFFFFFull : (1ull << (8 * field->field.width)) - 1;
  if (value > max)
    throw UserError("value " + tools::HexText(value) + " does not fit the " +
                    std::to_string(field->field.width) + "-byte field " + field->name +
                    " (at most " + tools::HexText(max) + ")");
}

// What one set request did: the token writes and the setup-variable bytes
// it changed.
struct SetOutcome {
  SetOutcome(uint32_t c, uint64_t v)
      : command(c), value(v), field(FieldOfCommand(c)), name(NameOfCommand(c)) {}
  uint32_t command;
  uint64_t value;
  const MailboxValue* field;
  std::string name;
  std::vector<uint8_t> before, after;
  Json tokens = Json::array();
  Json changes = Json::array();
};

SetOutcome RunSetRequest(Session& s, uint32_t command, uint64_t value) {
  SetOutcome o(command, value);
  if (o.field != nullptr)
    mts::WriteMailboxField(s.mailbox, o.field->field, static_cast<uint32_t>(value));
  o.before = s.Setup();
  auto& smm = sim::smm::Smm(s.platform);
  smm.tokenWrites.clear();
  s.Run(command);
  o.after = s.Setup();
  for (const auto& t : smm.tokenWrites)
    o.tokens.push_back({{"item", ItemOfToken(t.token)},
                        {"token", tools::HexText(t.token, 8)},
                        {"width", t.width},
                        {"value", tools::HexText(t.value, t.width * 2)},
                        {"status", StatusName(t.status)}});
  for (size_t i = 0; i < o.after.size() && i < o.before.size(); ++i)
    if (o.after[i] != o.before[i])
      o.changes.push_back({{"offset", tools::HexText(i, 3)},
                           {"before", tools::HexText(o.before[i], 2)},
                           {"after", tools::HexText(o.after[i], 2)}});
  return o;
}

void PrintSetJson(Session& s, const SetOutcome& o, bool trace) {
  const MemTuneMailbox* box = s.mailbox;
  Json j = {
      {"command", tools::HexText(o.command)},
      {"name", o.name.empty() ? Json(nullptr) : Json(o.name)},
      {"value", o.value},
      {"valueField", o.field ? Json(tools::HexText(o.field->field.offset, 2)) : Json(nullptr)},
      {"status", StatusName(box->Status)},
      {"tokens", o.tokens},
      {"setupChanges", o.changes},
      {"setupSize", tools::HexText(o.after.size())},
      {"postCodes", PostJson(s.platform)},
      {"mailbox", HeaderJson(box)},
      {"fields", FieldsJson(box, false)}};
  if (trace) j["trace"] = TraceJson(s.platform);
  std::cout << j.dump(2) << "\n";
}

void PrintSetText(Session& s, const SetOutcome& o, bool trace) {
  const MemTuneMailbox* box = s.mailbox;
  const MailboxValue* field = o.field;
  std::cout << "set "
            << (o.name.empty() ? tools::HexText(o.command)
                               : o.name + " (command " + tools::HexText(o.command) + ")");
  if (field)
    std::cout << " = " << o.value << (field->kind == Kind::Clock ? " MHz" : "") << " (mailbox "
              << tools::HexText(field->field.offset, 2) << ", " << int(field->field.width)
              << " byte" << (field->field.width > 1 ? "s" : "") << ")";
  else
    std::cout << " (no value field; value not used)";
  std::cout << ": " << StatusName(box->Status) << "\n";
  std::cout << "tokens written:" << (o.tokens.empty() ? " none" : "") << "\n";
  for (const auto& t : sim::smm::Smm(s.platform).tokenWrites) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "  item %-3u token %s  %2u-bit  value %s  %s",
                  ItemOfToken(t.token), tools::HexText(t.token, 8).c_str(), t.width * 8u,
                  tools::HexText(t.value, t.width * 2).c_str(), StatusName(t.status).c_str());
    std::cout << buf << "\n";
  }
  if (!s.HasSetup())
    std::cout << "setup variable TivSetup: absent\n";
  else
    std::cout << "setup variable TivSetup (" << tools::HexText(o.after.size())
              << " bytes) changed:" << (o.changes.empty() ? " nothing" : "") << "\n";
  for (size_t i = 0; i < o.after.size() && i < o.before.size(); ++i)
    if (o.after[i] != o.before[i])
      std::cout << "  " << tools::HexText(i, 3) << "  " << tools::HexText(o.before[i], 2) << " -> "
                << tools::HexText(o.after[i], 2) << "\n";
  std::cout << "POST codes: " << PostLine(s.platform) << "\n";
  std::cout << "mailbox: " << Header(box) << "\n";
  if (field) std::cout << FieldLine(*field, mts::ReadMailboxField(*box, field->field)) << "\n";
  if (trace) PrintTrace(s.platform);
}

void RunSet(const GlobalOptions& opts, const std::string& commandText,
            const std::string& valueText) {
  const uint32_t command = ParseCommand(commandText);
  const uint64_t value = ParseNumber(valueText, "value");
  CheckFits(FieldOfCommand(command), value);
  Session s(opts);
  const SetOutcome o = RunSetRequest(s, command, value);
  if (opts.json)
    PrintSetJson(s, o, opts.trace);
  else
    PrintSetText(s, o, opts.trace);
  RefuseUnlessDone(s.mailbox);
}

}  // namespace

void AddMailboxCommands(CLI::App& app, GlobalOptions& opts) {
  auto* mailbox = app.add_subcommand("mailbox", "MemTuneSmm's mailbox, served through SMI 0x9D");
  mailbox->require_subcommand(1);
  auto* read = mailbox->add_subcommand("read", "read the memory controller's current settings");
  SetExitCodes(read, "read", "MemTuneSmm answered with an error status");
  read->callback([&opts] { RunRead(opts); });
  auto* set = mailbox->add_subcommand(
      "set", "send one set request: COMMAND (number or field name, e.g. tCL, MemClock) VALUE");
  static std::string command, value;
  set->add_option("COMMAND", command, "command code or field name")->required();
  set->add_option("VALUE", value, "value for the command's field (decimal or 0x hex)")->required();
  SetExitCodes(set, "set", "MemTuneSmm answered with an error status");
  set->callback([&opts] { RunSet(opts, command, value); });
}

}  // namespace platsim
