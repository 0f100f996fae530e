#include "apps/tiv_tool/core/commands.h"

#include "apps/tiv_tool/core/acpi_find.h"
#include "apps/tiv_tool/core/mca_lines.h"
#include "apps/tiv_tool/core/number_text.h"
#include "tools/common/efi_status_names.h"
#include "apps/tiv_tool/core/text_line.h"
#include "apps/tiv_tool/core/translate_lines.h"
#include "capture/platform_capture.h"
#include "pi/acpi_tables.h"

namespace tivtool {

namespace {

bool Same(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

EFI_STATUS Fail(ToolIo& io, const Text& message, EFI_STATUS status) {
  Line l;
  l.Add("TivTool: error: ").Add(message.Str());
  io.Print(l.Str());
  return status;
}

EFI_STATUS Fail(ToolIo& io, const char* message, EFI_STATUS status) {
  Line l;
  l.Add(message);
  return Fail(io, l, status);
}

void AddStatusText(Text& out, EFI_STATUS status) {
  const char* name = tools::EfiStatusName(status);
  if (name != nullptr)
    out.Add(name);
  else
    out.Hex(status);
}

// A number argument; the message names it.
bool Number(ToolIo& io, const char* text, const char* what, uint64_t max, uint64_t* value) {
  Line m;
  if (!ParseNumber(text, value)) {
    m.Add(what).Add(": '").Add(text).Add("' is not a number (decimal, or hex after 0x)");
    Fail(io, m, EFI_INVALID_PARAMETER);
    return false;
  }
  if (*value > max) {
    m.Add(what).Add(": ").Dec(*value).Add(" is more than the id holds (at most ").Dec(max);
    Fail(io, m.Add(')'), EFI_INVALID_PARAMETER);
    return false;
  }
  return true;
}

EFI_STATUS WrongArguments(ToolIo& io, const char* usage) {
  Line m;
  m.Add("expected ").Add(usage).Add(" (TivTool help lists the subcommands)");
  return Fail(io, m, EFI_INVALID_PARAMETER);
}

TranslationProtocol* Protocol(ToolIo& io) {
  TranslationProtocol* p = io.Translation();
  if (p == nullptr)
    Fail(io, "TranslationProtocol is not installed: AddrTranslateDxe has not started",
         EFI_NOT_FOUND);
  return p;
}

EFI_STATUS Write(ToolIo& io, const char* path, const void* data, size_t size, const char* what) {
  const EFI_STATUS s = io.WriteFile(path, data, size);
  Line l;
  if (s != EFI_SUCCESS) {
    l.Add("cannot write ").Add(path).Add(": ");
    AddStatusText(l, s);
    return Fail(io, l, s);
  }
  l.Add("wrote ").Add(path).Add(" (").Dec(size).Add(" bytes: ").Add(what).Add(')');
  io.Print(l.Str());
  return EFI_SUCCESS;
}

// ---- translate -------------------------------------------------------------

constexpr const char* kSysUsage = "translate sys ADDR";
constexpr const char* kNormUsage = "translate norm ADDR SOCKET DIE CHANNEL";

EFI_STATUS RunTranslate(ToolIo& io, const Args& a) {
  const bool sys = a.count > 0 && Same(a.words[0], "sys");
  const bool norm = a.count > 0 && Same(a.words[0], "norm");
  if (sys && a.count != 2) return WrongArguments(io, kSysUsage);
  if (norm && a.count != 5) return WrongArguments(io, kNormUsage);
  if (!sys && !norm) {
    Line m;
    if (a.count > 0) m.Add("'").Add(a.words[0]).Add("' is not a subcommand of translate; ");
    return Fail(io, m.Add("the subcommands are sys, norm"), EFI_INVALID_PARAMETER);
  }
  uint64_t address = 0;
  if (!Number(io, a.words[1], sys ? "system address" : "normalized address", UINT64_MAX, &address))
    return EFI_INVALID_PARAMETER;
  uint64_t ids[3] = {};
  const char* const kIdNames[3] = {"socket", "die", "channel"};
  for (unsigned i = 0; norm && i < 3; ++i)
    if (!Number(io, a.words[2 + i], kIdNames[i], 0xFF, &ids[i])) return EFI_INVALID_PARAMETER;
  TranslationProtocol* p = Protocol(io);
  if (p == nullptr) return EFI_NOT_FOUND;
  Line error;
  EFI_STATUS status = EFI_SUCCESS;
  if (sys) {
    const SysAnswer answer = AskSystem(*p, address);
    PrintSys(io, answer, error);
    status = answer.status;
  } else {
    const NormAnswer answer =
        AskNormalized(*p, address, static_cast<uint8_t>(ids[0]), static_cast<uint8_t>(ids[1]),
                      static_cast<uint8_t>(ids[2]));
    PrintNorm(io, answer, error);
    status = answer.status;
  }
  if (error.Size() != 0) return Fail(io, error, status == EFI_SUCCESS ? EFI_NOT_FOUND : status);
  return EFI_SUCCESS;
}

// ---- mca -------------------------------------------------------------------

constexpr const char* kMcaUsage = "mca CPU [--out FILE]";

EFI_STATUS WriteSnapshot(ToolIo& io, const char* out, EFI_STATUS status, const McaBankSnapshot& s) {
  const size_t bytes = McaJsonBytes(s);
  auto* memory = static_cast<char*>(io.Allocate(bytes + 1));
  if (memory == nullptr) return Fail(io, "no memory for the snapshot's JSON", EFI_OUT_OF_RESOURCES);
  Text json(memory, bytes);
  EFI_STATUS result = EFI_SUCCESS;
  if (!WriteMcaJson(json, status, s))
    result = Fail(io, "the snapshot's JSON did not fit its buffer", EFI_BUFFER_TOO_SMALL);
  else
    result = Write(io, out, json.Str(), json.Size(), "the snapshot, for platsim decode");
  io.Free(memory);
  return result;
}

EFI_STATUS RunMca(ToolIo& io, const Args& a) {
  const char* cpuText = nullptr;
  const char* out = nullptr;
  for (unsigned i = 0; i < a.count; ++i) {
    if (Same(a.words[i], "--out")) {
      if (out != nullptr || i + 1 == a.count) return WrongArguments(io, kMcaUsage);
      out = a.words[++i];
    } else if (cpuText == nullptr) {
      cpuText = a.words[i];
    } else {
      return WrongArguments(io, kMcaUsage);
    }
  }
  if (cpuText == nullptr) return WrongArguments(io, kMcaUsage);
  uint64_t cpu = 0;
  if (!Number(io, cpuText, "processor number", UINT64_MAX, &cpu)) return EFI_INVALID_PARAMETER;
  TranslationProtocol* p = Protocol(io);
  if (p == nullptr) return EFI_NOT_FOUND;
  auto* s = static_cast<McaBankSnapshot*>(io.Allocate(sizeof(McaBankSnapshot)));
  if (s == nullptr) return Fail(io, "no memory for a snapshot", EFI_OUT_OF_RESOURCES);
  // All ones first: what the bank reader does not write shows.
  auto* bytes = reinterpret_cast<volatile uint8_t*>(s);
  for (size_t i = 0; i < sizeof(McaBankSnapshot); ++i) bytes[i] = 0xFF;
  s->processorNumber = cpu;
  const EFI_STATUS status = p->CaptureMcaBanks(s);
  PrintMcaSnapshot(io, status, *s, p);
  EFI_STATUS result = EFI_SUCCESS;
  if (status != EFI_SUCCESS) {
    Line m;
    if (status == EFI_INVALID_PARAMETER || status == EFI_NOT_FOUND)
      m.Add("processor ").Dec(cpu).Add(" is not in the platform's processor list");
    else
      m.Add("the banks of processor ").Dec(cpu).Add(" were not read");
    m.Add(" (CaptureMcaBanks: ");
    AddStatusText(m, status);
    result = Fail(io, m.Add(')'), status);
  } else if (out != nullptr) {
    result = WriteSnapshot(io, out, status, *s);
  }
  io.Free(s);
  return result;
}

// ---- bert ------------------------------------------------------------------

// DIR and a file name, with one backslash between them.
void Join(Text& path, const char* dir, const char* name) {
  path.Add(dir);
  const size_t n = path.Size();
  if (n != 0 && path.Str()[n - 1] != '\\' && path.Str()[n - 1] != ':') path.Add('\\');
  path.Add(name);
}

EFI_STATUS RunBert(ToolIo& io, const Args& a) {
  if (a.count != 1) return WrongArguments(io, "bert DIR");
  const FoundTable bert = FindAcpiTable(io, kBertSignature);
  if (bert.problem != nullptr) return Fail(io, bert.problem, EFI_NOT_FOUND);
  if (bert.bytes == nullptr) return Fail(io, "no BERT among the ACPI tables", EFI_NOT_FOUND);
  if (bert.length < sizeof(AcpiBert)) {
    Line m;
    m.Add("the BERT is ").Dec(bert.length).Add(" bytes, shorter than its ").Dec(sizeof(AcpiBert));
    return Fail(io, m.Add("-byte layout"), EFI_VOLUME_CORRUPTED);
  }
  const uint32_t regionLength = Read32(bert.bytes + offsetof(AcpiBert, BootErrorRegionLength));
  const uint64_t regionAddress = Read64(bert.bytes + offsetof(AcpiBert, BootErrorRegion));
  const void* region = io.Physical(regionAddress, regionLength);
  if (region == nullptr) {
    Line m;
    m.Add("the boot error region (").Dec(regionLength).Add(" bytes at ").Hex64(regionAddress);
    return Fail(io, m.Add(") is not readable"), EFI_NOT_FOUND);
  }
  Line path;
  Join(path, a.words[0], "bert.dat");
  EFI_STATUS s = Write(io, path.Str(), bert.bytes, bert.length, "the BERT");
  if (s != EFI_SUCCESS) return s;
  path.Clear();
  Join(path, a.words[0], "bert-region.bin");
  Line what;
  what.Add("the boot error region at ").Hex64(regionAddress);
  s = Write(io, path.Str(), region, regionLength, what.Str());
  if (s != EFI_SUCCESS) return s;
  io.Print("at the desk: platsim decode bert.dat --region bert-region.bin");
  return EFI_SUCCESS;
}

// ---- capture ---------------------------------------------------------------

#ifndef TIV_VERSION
#error "TIV_VERSION comes from the build (the project's version)"
#endif

constexpr const char* kCaptureUsage = "capture FILE";

// The profile's text in pool memory that doubles as the capture writes.
struct GrowingText {
  ToolIo* io;
  char* data = nullptr;
  size_t size = 0, room = 0;
};

bool AppendText(void* context, const char* text, size_t n) {
  auto& g = *static_cast<GrowingText*>(context);
  if (g.size + n > g.room) {
    size_t room = g.room == 0 ? 64 * 1024 : g.room;
    while (room < g.size + n) room *= 2;
    auto* bigger = static_cast<char*>(g.io->Allocate(room));
    if (bigger == nullptr) return false;
    for (size_t i = 0; i < g.size; ++i) bigger[i] = g.data[i];
    g.io->Free(g.data);
    g.data = bigger;
    g.room = room;
  }
  for (size_t i = 0; i < n; ++i) g.data[g.size + i] = text[i];
  g.size += n;
  return true;
}

// The firmware's clock as "2026-12-10T11:55:00" (local time; "Z" when the
// clock says it keeps UTC), or false.
bool TimeText(EFI_SYSTEM_TABLE* st, Text& out) {
  if (st == nullptr || st->RuntimeServices == nullptr) return false;
  EFI_TIME t{};
  if (st->RuntimeServices->GetTime(&t, nullptr) != EFI_SUCCESS) return false;
  auto two = [&](unsigned v) {
    out.Add(static_cast<char>('0' + v / 10 % 10)).Add(static_cast<char>('0' + v % 10));
  };
  out.Dec(t.Year).Add('-');
  two(t.Month);
  out.Add('-');
  two(t.Day);
  out.Add('T');
  two(t.Hour);
  out.Add(':');
  two(t.Minute);
  out.Add(':');
  two(t.Second);
  if (t.TimeZone == 0) out.Add('Z');
  return true;
}

EFI_STATUS RunCapture(ToolIo& io, const Args& a) {
  if (a.count != 1) return WrongArguments(io, kCaptureUsage);
  EFI_SYSTEM_TABLE* st = io.SystemTable();
  capture::Identification id;
  id.tool = "TivTool";
  id.version = TIV_VERSION;
  id.source = "uefi-shell";
  Line time;
  if (TimeText(st, time)) id.time = time.Str();
  char vendor[64];
  capture::IdentifyFirmware(st, vendor, sizeof vendor, &id);
  capture::Tables tables;
  if (!capture::TablesFromTopology(st != nullptr ? st->BootServices : nullptr, &tables))
    id.note = "fabric registers only: no PlatformTopologyProtocol is installed";

  GrowingText text{&io};
  const uint64_t start = io.Microseconds();
  const capture::CaptureResult r =
      capture::CaptureProfile(capture::EcamFabricPort(), id, tables, {&text, AppendText});
  const uint64_t took = io.Microseconds() - start;
  EFI_STATUS result = EFI_SUCCESS;
  Line m;
  switch (r.status) {
    case capture::CaptureStatus::Ok:
      m.Add("captured ").Dec(r.registers).Add(" fabric registers of ").Dec(r.nodes);
      m.Add(r.nodes == 1 ? " node (" : " nodes (").Dec(r.blocks).Add(" blocks), ");
      m.Dec(tables.processorCount).Add(" processors and ");
      m.Add(tables.channelConfig != nullptr ? "the" : "no").Add(" channel configuration in ");
      m.Dec(took / 1000).Add('.').Dec(took / 100 % 10).Add(" ms");
      io.Print(m.Str());
      result = Write(io, a.words[0], text.data, text.size, "the platform profile");
      if (result == EFI_SUCCESS) {
        // The file's own name, without the shell's volume and folders.
        const char* name = a.words[0];
        for (const char* c = name; *c != '\0'; ++c)
          if (*c == '\\' || *c == ':') name = c + 1;
        Line hint;
        hint.Add("at the desk: platsim --profile ").Add(name).Add(" map");
        io.Print(hint.Str());
      }
      break;
    case capture::CaptureStatus::NoFabric:
      m.Add("no data fabric: 00:18.4 answers with vendor id ").Hex(r.vendorId & 0xFFFF);
      result = Fail(io, m.Add(", not the fabric's 0x1022"), EFI_NOT_FOUND);
      break;
    case capture::CaptureStatus::ReadFailed:
      result = Fail(io, "a fabric register could not be read", EFI_DEVICE_ERROR);
      break;
    case capture::CaptureStatus::WriteFailed:
      result = Fail(io, "no memory for the profile's text", EFI_OUT_OF_RESOURCES);
      break;
  }
  io.Free(text.data);
  return result;
}

// ---- help ------------------------------------------------------------------

EFI_STATUS RunHelp(ToolIo& io, const Args&);

// One entry per subcommand: its name, up to two help lines and its function
// (a new one, such as capture FILE, is one more entry and one function).
constexpr Command kCommands[] = {
    {"translate",
     {{kSysUsage,
       "system address -> owner, normalized address and DRAM coordinates (slot 2, back by slot 1)"},
      {kNormUsage,
       "normalized address of a channel -> DRAM coordinates and system address (slot 1)"}},
     RunTranslate},
    {"mca",
     {{kMcaUsage,
       "one processor's machine-check banks (slot 5); --out FILE writes them as JSON for "
       "platsim decode"},
      {nullptr, nullptr}},
     RunMca},
    {"bert",
     {{"bert DIR",
       "writes the installed BERT and its boot error region to DIR\\bert.dat and "
       "DIR\\bert-region.bin for platsim decode"},
      {nullptr, nullptr}},
     RunBert},
    {"capture",
     {{kCaptureUsage,
       "writes this platform's profile (fabric registers, channel configuration, processors) "
       "to FILE for platsim --profile"},
      {nullptr, nullptr}},
     RunCapture},
    {"help", {{"help, -h", "this list"}, {nullptr, nullptr}}, RunHelp},
};
constexpr unsigned kCommandCount = sizeof kCommands / sizeof kCommands[0];

EFI_STATUS RunHelp(ToolIo& io, const Args&) {
  io.Print(
      "TivTool: AddrTranslateDxe's TranslationProtocol from the UEFI shell, in platsim's words");
  io.Print("usage: TivTool SUBCOMMAND [ARGUMENTS]");
  for (const Command& c : kCommands)
    for (const Usage& u : c.usage) {
      if (u.synopsis == nullptr) continue;
      Line l;
      l.Add("  ").Add(u.synopsis).PadTo(42).Add(u.what);
      io.Print(l.Str());
    }
  io.Print(
      "Numbers are decimal, or hex after 0x. FILE and DIR are shell paths (fs0:\\, or relative");
  io.Print("to the current directory). The exit status is EFI_SUCCESS, or the failure's status.");
  return EFI_SUCCESS;
}

}  // namespace

const Command* Commands(unsigned* count) {
  *count = kCommandCount;
  return kCommands;
}

EFI_STATUS Run(ToolIo& io, unsigned argc, const char* const* argv) {
  if (argc < 2) {
    RunHelp(io, Args{nullptr, 0});
    return Fail(io, "a subcommand is required", EFI_INVALID_PARAMETER);
  }
  const char* name = Same(argv[1], "-h") || Same(argv[1], "--help") ? "help" : argv[1];
  for (const Command& c : kCommands)
    if (Same(c.name, name)) return c.run(io, Args{argv + 2, argc - 2});
  Line m;
  m.Add("'").Add(argv[1]).Add("' is not a subcommand; the subcommands are ");
  for (unsigned i = 0; i < kCommandCount; ++i) m.Add(i == 0 ? "" : ", ").Add(kCommands[i].name);
  return Fail(io, m, EFI_INVALID_PARAMETER);
}

}  // namespace tivtool
