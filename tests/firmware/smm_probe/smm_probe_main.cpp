// SmmProbe: an EFI application (booted as \EFI\BOOT\BOOTX64.EFI) that drives
// MemTuneSmm through its mailbox in real firmware: it finds the mailbox
// through MemTuneProvider, creates TivSetup through the runtime variable
// service, raises software SMI 0x9D for each request of kRequests and checks
// the mailbox, the token log of the configuration-token double and the
// variable after each. POST codes cannot be read back by software: the probe
// marks each request on port 0x80 (0xA1, 0xA2, ...) after a start marker
// 5A A5, and prints the byte stream port 0x80 must have seen, for the boot
// script to compare with what QEMU captured there. It ends by shutting the
// machine down.
#include "efi/uefi.h"
#include "hw/hw.h"
#include "tests/firmware/smm/debug_console.h"
#include "tests/firmware/smm/token_log.h"
#include "tests/firmware/smm_probe/controller_window.h"
#include "tests/firmware/smm_probe/expectations.h"
#include "tests/firmware/smm_probe/probe_report.h"

namespace smmprobe {

namespace {

constexpr EFI_GUID kMemTuneProviderGuid = {
    0xAB776607, 0x6169, 0x44E8, {0xB8, 0xF1, 0x50, 0x12, 0x9D, 0x4A, 0x25, 0xDB}};
constexpr EFI_GUID kTivSetupGuid = {
    0x3A997502, 0x647A, 0x4C82, {0x99, 0x8E, 0x52, 0xEF, 0x94, 0x86, 0xA2, 0x47}};
constexpr char16_t kTivSetupName[] = u"TivSetup";
constexpr UINT32 kSetupAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr unsigned kSetupBytes = 0x200;
constexpr uint8_t kSmiValue = 0x9D;
constexpr uint16_t kPostPort = 0x80;
constexpr uint8_t kStartMarker[] = {0x5A, 0xA5};
// How long a request may stay pending after its SMI: the SMI is taken before
// the instruction after the OUT, so the bound only matters when nothing serves it.
constexpr unsigned kPollSteps = 100, kPollStepMicroseconds = 1000;

EFI_BOOT_SERVICES* gBS = nullptr;
EFI_RUNTIME_SERVICES* gRT = nullptr;
Report gReport;

// Port 0x80 as the probe expects it, for the script.
uint8_t gPostStream[160];
unsigned gPostLength = 0;

void Mark(uint8_t code) {
  hw::IoWrite8(kPostPort, code);
  if (gPostLength < sizeof gPostStream) gPostStream[gPostLength++] = code;
}
void ExpectPost(const uint8_t* codes, unsigned count) {
  for (unsigned i = 0; i < count && gPostLength < sizeof gPostStream; ++i)
    gPostStream[gPostLength++] = codes[i];
}

// The SMI is taken at the end of the translated block under TCG: the jump
// ends the block right after the OUT, so the handler has run when the next
// instruction executes.
void RaiseSmi(uint8_t value) {
  __asm__ __volatile__("outb %%al, $0xB2\n\tjmp 1f\n1:" : : "a"(value) : "memory");
}

// Little-endian fields of the mailbox, the settings record and the provider
// record, which may sit at any alignment.
uint64_t GetBytes(const volatile uint8_t* in, unsigned offset, unsigned width) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v |= uint64_t(in[offset + i]) << (8 * i);
  return v;
}

void PutBytes(uint8_t* out, unsigned offset, unsigned width, uint32_t value) {
  for (unsigned i = 0; i < width; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

struct Mailbox {
  volatile uint8_t* bytes;
  uint32_t Get(unsigned offset, unsigned width) const {
    return static_cast<uint32_t>(GetBytes(bytes, offset, width));
  }
  void Put(unsigned offset, unsigned width, uint32_t value) const {
    for (unsigned i = 0; i < width; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  void Snapshot(uint8_t* out) const {
    for (unsigned i = 0; i < kMailboxBytes; ++i) out[i] = bytes[i];
  }
};

uint32_t Bits(uint32_t v, unsigned hi, unsigned lo) {
  const unsigned n = hi - lo + 1;
  return (v >> lo) & (n == 32 ? 0xFFFFFFFFu : ((1u << n) - 1));
}

CHAR16* SetupName() {
  return const_cast<CHAR16*>(reinterpret_cast<const CHAR16*>(kTivSetupName));
}

EFI_STATUS ReadSetup(uint8_t* out) {
  UINTN size = kSetupBytes;
  UINT32 attributes = 0;
  const EFI_STATUS s =
      gRT->GetVariable(SetupName(), uefi::GuidArg(kTivSetupGuid), &attributes, &size, out);
  if (!EFI_ERROR(s) && (size != kSetupBytes || attributes != kSetupAttributes))
    return EFI_BAD_BUFFER_SIZE;
  return s;
}

// The first differing byte of two buffers, or `n` when they agree.
unsigned FirstDifference(const uint8_t* a, const uint8_t* b, unsigned n) {
  for (unsigned i = 0; i < n; ++i)
    if (a[i] != b[i]) return i;
  return n;
}

void ReportDifference(Report& line, unsigned at, uint8_t is, uint8_t want) {
  line.Text("first difference at").Hex(at, 3).Text("is").Hex(is, 2).Text("want").Hex(want, 2);
}

// The value fields of a readout, from the register value every controller
// register returns and from the settings record.
void ExpectReadout(uint8_t* mailbox, const volatile uint8_t* settings) {
  PutBytes(mailbox, 0x14, 2, kExpectedMemClock);  // code 48 in MemClockTable
  for (const RegisterField& f : kRegisterFields)
    PutBytes(mailbox, f.offset, f.width, Bits(kRegisterValue, f.hi, f.lo));
  for (const SettingsField& f : kSettingsFields)
    PutBytes(mailbox, f.mailbox, f.width,
             static_cast<uint32_t>(GetBytes(settings, f.settings, f.width)));
  mailbox[0x78] = kCallerC8;
  mailbox[0x79] = kCallerC9;
  PutBytes(mailbox, 0x7A, 2, 0);
  mailbox[0x7C] = 0;
}

struct World {
  Mailbox box;
  const volatile uint8_t* settings;
  fwtest::TokenLog* log;
  bool windowReady;
  bool staysMapped;  // both records lie in memory SMM keeps mapped after locking
};

// Reserved, runtime services code and data, and ACPI NVS memory stay mapped
// in SMM once it is locked; other memory may not.
bool StaysMapped(UINT32 type) {
  return type == EfiReservedMemoryType || type == EfiRuntimeServicesCode ||
         type == EfiRuntimeServicesData || type == EfiACPIMemoryNVS;
}

// The memory type of the one descriptor of the memory map that holds all of
// [address, address + length); false when none does.
bool MemoryTypeOf(uint64_t address, uint64_t length, UINT32* type) {
  UINTN size = 0, key = 0, descriptorSize = 0;
  UINT32 version = 0;
  gBS->GetMemoryMap(&size, nullptr, &key, &descriptorSize, &version);
  size += 8 * descriptorSize;  // the pool block itself may add descriptors
  void* buffer = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiLoaderData, size, &buffer))) return false;
  const auto* map = static_cast<const uint8_t*>(buffer);
  bool found = false;
  if (!EFI_ERROR(gBS->GetMemoryMap(&size, static_cast<EFI_MEMORY_DESCRIPTOR*>(buffer), &key,
                                   &descriptorSize, &version)) &&
      descriptorSize >= sizeof(EFI_MEMORY_DESCRIPTOR)) {
    for (UINTN off = 0; off + descriptorSize <= size && !found; off += descriptorSize) {
      const auto* d = reinterpret_cast<const EFI_MEMORY_DESCRIPTOR*>(map + off);
      if (address >= d->PhysicalStart &&
          address + length <= d->PhysicalStart + d->NumberOfPages * 0x1000) {
        *type = d->Type;
        found = true;
      }
    }
  }
  gBS->FreePool(buffer);
  return found;
}

// Sends one request and checks what it did.
// What the driver is expected to do with a request.
enum class Service {
  kServed,   // served as the request says
  kIdle,     // no handler registered: nothing happens at all
  kRefused,  // the handler runs but refuses the mailbox: POST 0xD1, nothing else
};

void RunRequest(const World& w, const RequestCase& c, unsigned index, Service service) {
  const bool served = service == Service::kServed;
  const Mailbox& box = w.box;
  if (c.command == kReadCommand) {
    // Every value field filled by the caller, so untouched bytes show.
    for (unsigned i = 0x14; i < 0x87; ++i) box.bytes[i] = 0xEE;
    box.bytes[0xC8] = kCallerC8;
    box.bytes[0xC9] = kCallerC9;
  }
  if (c.valueWidth) box.Put(c.valueOffset, c.valueWidth, c.value);
  box.Put(kCommand, 4, c.command);
  box.Put(kBusy, 2, 1);
  box.Put(kRequest, 4, c.request);
  uint8_t before[kMailboxBytes], setupBefore[kSetupBytes], setupAfter[kSetupBytes];
  box.Snapshot(before);
  const EFI_STATUS readBefore = ReadSetup(setupBefore);
  const uint32_t logBefore = w.log->count;

  Mark(static_cast<uint8_t>(0xA1 + index));
  RaiseSmi(kSmiValue);
  unsigned steps = 0;
  while (c.request == kRequestPending && box.Get(kRequest, 4) == kRequestPending &&
         steps < kPollSteps) {
    gBS->Stall(kPollStepMicroseconds);
    ++steps;
  }

  uint8_t after[kMailboxBytes], expected[kMailboxBytes];
  box.Snapshot(after);
  for (unsigned i = 0; i < kMailboxBytes; ++i) expected[i] = before[i];
  const uint16_t sequence = static_cast<uint16_t>(GetBytes(before, kSequence, 2));
  if (served) {
    PutBytes(expected, kBusy, 2, 0);
    PutBytes(expected, kStatus, 4, c.status);
    PutBytes(expected, kSequence, 2,
             static_cast<uint16_t>(sequence + (c.request == kRequestPending ? 0x101 : 1)));
    PutBytes(expected, kRequest, 4, 0);
    PutBytes(expected, kCommand, 4, 0);
    if (c.command == kReadCommand && c.request == kRequestPending)
      ExpectReadout(expected, w.settings);
    ExpectPost(c.post, c.postCount);
  } else if (service == Service::kRefused) {
    ExpectPost(c.post, 1);  // the entry code 0xD1 only
  }

  // Header fields one by one, then every byte of the record.
  const bool headerOk = FirstDifference(after, expected, 0x14) == 0x14;
  gReport.Check(c.name, "header", headerOk)
      .Text("Busy")
      .Hex(GetBytes(after, kBusy, 2), 4)
      .Text("Status")
      .Hex(GetBytes(after, kStatus, 4), 8)
      .Text("Sequence")
      .Hex(GetBytes(after, kSequence, 2), 4)
      .Text("Request")
      .Hex(GetBytes(after, kRequest, 4), 8)
      .Text("Command")
      .Hex(GetBytes(after, kCommand, 4), 8)
      .Text("polls")
      .Decimal(steps)
      .End();
  const unsigned diff = FirstDifference(after, expected, kMailboxBytes);
  auto& fields = gReport.Check(c.name, "mailbox", diff == kMailboxBytes);
  if (diff != kMailboxBytes)
    ReportDifference(fields, diff, after[diff], expected[diff]);
  else
    fields.Text(c.command == kReadCommand ? "all 0xCA bytes as computed" : "value fields kept");
  fields.End();

  // Token writes since the SMI.
  const uint32_t written = w.log->count - logBefore;
  const unsigned wantTokens = served ? c.tokenCount : 0;
  bool tokensOk = written == wantTokens;
  for (unsigned i = 0; tokensOk && i < wantTokens; ++i) {
    const fwtest::TokenLogEntry& e = w.log->entries[logBefore + i];
    tokensOk = e.width == c.tokens[i].width && e.selector == 3 && e.token == c.tokens[i].token &&
               e.value == c.tokens[i].value;
  }
  auto& tokens = gReport.Check(c.name, "tokens", tokensOk).Text("written").Decimal(written);
  for (uint32_t i = 0; i < written && logBefore + i < w.log->capacity; ++i) {
    const fwtest::TokenLogEntry& e = w.log->entries[logBefore + i];
    tokens.Text("[width")
        .Decimal(e.width)
        .Text("selector")
        .Decimal(e.selector)
        .Text("token")
        .Hex(e.token, 8);
    tokens.Text("value").Hex(e.value, 8).Text("]");
  }
  tokens.End();

  // TivSetup: the bytes this request changes, and nothing else.
  const EFI_STATUS readAfter = ReadSetup(setupAfter);
  uint8_t setupExpected[kSetupBytes];
  for (unsigned i = 0; i < kSetupBytes; ++i) setupExpected[i] = setupBefore[i];
  if (served)
    for (unsigned i = 0; i < c.setupCount; ++i) setupExpected[c.setup[i].offset] = c.setup[i].value;
  const unsigned setupDiff = FirstDifference(setupAfter, setupExpected, kSetupBytes);
  auto& setup = gReport.Check(
      c.name, "setup", !EFI_ERROR(readBefore) && !EFI_ERROR(readAfter) && setupDiff == kSetupBytes);
  if (EFI_ERROR(readBefore) || EFI_ERROR(readAfter))
    setup.Text("GetVariable").Hex(readBefore, 16).Hex(readAfter, 16);
  else if (setupDiff != kSetupBytes)
    ReportDifference(setup, setupDiff, setupAfter[setupDiff], setupExpected[setupDiff]);
  else
    setup.Text("changed bytes").Decimal(served ? c.setupCount : 0);
  setup.End();
}

void Shutdown() {
  gRT->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
}

EFI_STATUS Run() {
  const uint32_t eax = hw::Cpuid(0x80000001).eax;
  const uint32_t signature = eax & kSignatureMask;
  bool served = false;
  for (uint32_t s : kServedSignatures) served = served || s == signature;
  fwtest::DebugText("SMMPROBE cpu-signature: ");
  fwtest::DebugHex(eax, 8);
  fwtest::DebugText(" masked ");
  fwtest::DebugHex(signature, 8);
  fwtest::DebugText(served ? " (served)\n" : " (not served: the driver stays idle)\n");

  void* provider = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(uefi::GuidArg(kMemTuneProviderGuid), nullptr, &provider)) ||
      provider == nullptr) {
    gReport.Fact("provider", "not found");
    return EFI_NOT_FOUND;
  }
  const auto* record = static_cast<const uint8_t*>(provider);
  const uint64_t mailbox = GetBytes(record, 4, 8), settings = GetBytes(record, 12, 8);
  gReport.Check("provider", "", mailbox != 0 && settings != 0)
      .Text("mailbox")
      .Hex(mailbox, 16)
      .Text("settings")
      .Hex(settings, 16)
      .End();
  void* log = nullptr;
  gBS->LocateProtocol(uefi::GuidArg(fwtest::kTokenLogProtocolGuid), nullptr, &log);
  const bool logOk = log != nullptr &&
                     static_cast<fwtest::TokenLog*>(log)->signature == fwtest::kTokenLogSignature;
  gReport.Check("token-log", "", logOk).Hex(reinterpret_cast<uint64_t>(log), 16).End();
  if (mailbox == 0 || !logOk) return EFI_NOT_FOUND;

  World w{{reinterpret_cast<volatile uint8_t*>(mailbox)},
          reinterpret_cast<const volatile uint8_t*>(settings),
          static_cast<fwtest::TokenLog*>(log),
          false,
          false};
  UINT32 mailboxType = 0, settingsType = 0;
  const bool typesKnown = MemoryTypeOf(mailbox, kMailboxBytes, &mailboxType) &&
                          MemoryTypeOf(settings, kSettingsRecordBytes, &settingsType);
  w.staysMapped = typesKnown && StaysMapped(mailboxType) && StaysMapped(settingsType);
  fwtest::DebugText("SMMPROBE shared-memory: mailbox type ");
  fwtest::DebugDecimal(mailboxType);
  fwtest::DebugText(", settings type ");
  fwtest::DebugDecimal(settingsType);
  fwtest::DebugText(w.staysMapped ? " (stays mapped in SMM)\n"
                                  : " (SMM may unmap it: the driver must refuse it)\n");
  uint32_t readBack = 0;
  const WindowResult window = MoveControllerWindow(kRegisterValue, &readBack);
  w.windowReady = window == WindowResult::kMoved;
  if (window == WindowResult::kNoDevice)
    gReport.Fact("controller-window", "no ivshmem device: the readout is not checked");
  else
    gReport.Check("controller-window", "", w.windowReady)
        .Text("0xE00000BC reads")
        .Hex(readBack, 8)
        .End();

  uint8_t zeros[kSetupBytes] = {};
  const EFI_STATUS created = gRT->SetVariable(SetupName(), uefi::GuidArg(kTivSetupGuid),
                                              kSetupAttributes, kSetupBytes, zeros);
  gReport.Check("setup-variable", "created", !EFI_ERROR(created)).Hex(created, 16).End();

  for (uint8_t b : kStartMarker) Mark(b);
  if (!served || !w.staysMapped) {
    // Idle (nothing registered for the SMI) or refused (the handler will not
    // touch a mailbox SMM may not keep mapped): a pending request stays
    // pending past the bound; the probe reports it and goes on.
    RunRequest(w, kRequests[1], 1, served ? Service::kRefused : Service::kIdle);
    const bool pending = w.box.Get(kRequest, 4) == kRequestPending;
    gReport.Check("service", served ? "refused" : "idle", pending)
        .Text(pending ? "Request still 4 after the poll bound" : "the request was served")
        .End();
  } else {
    for (unsigned i = 0; i < sizeof kRequests / sizeof kRequests[0]; ++i) {
      if (kRequests[i].command == kReadCommand && !w.windowReady) continue;
      RunRequest(w, kRequests[i], i, Service::kServed);
    }
    gReport.Fact("service", "served");
  }
  fwtest::DebugText("SMMPROBE post-expected:");
  for (unsigned i = 0; i < gPostLength; ++i) {
    fwtest::DebugText(" ");
    fwtest::DebugHex(gPostStream[i], 2);
  }
  fwtest::DebugText("\n");
  return EFI_SUCCESS;
}

}  // namespace

}  // namespace smmprobe

extern "C" EFI_STATUS efi_main(EFI_HANDLE, EFI_SYSTEM_TABLE* systemTable) {
  smmprobe::gBS = systemTable->BootServices;
  smmprobe::gRT = systemTable->RuntimeServices;
  fwtest::DebugText("SMMPROBE start\n");
  const EFI_STATUS status = smmprobe::Run();
  smmprobe::gReport.Done();
  smmprobe::Shutdown();
  return status;
}
