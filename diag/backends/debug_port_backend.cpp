// Messages for an attached hardware debugger. The debugger takes an I/O
// breakpoint on DEBUG_PORT (armed here in DR2/DR7 with CR4.DE) and reads the
// registers of the trapping OUT: EDX = command, EAX = text address, EBX =
// length. An earlier boot phase may leave a message buffer for it instead
// (found through DR3 and the heap records); then characters are collected
// there and only a full area is handed off.
#include "diag/access_width.h"
#include "diag/backends/backends.h"
#include "diag/diag_print.h"
#include "diag/heap_records.h"
#include "hw/hw.h"

namespace diag {

namespace {

uint32_t Low32(const void* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

BOOLEAN DebugPortGetLevelMask(uint64_t* mask) {
  return DebugPortLevelMaskFrom(FindDebugMessageBuffer(), mask);
}

uint64_t DebugPortWrite(const char* text, uint64_t length) {
  if (!DebugPortIsAvailable()) return 0;
  return DebugPortWriteTo(FindDebugMessageBuffer(), text, length);
}

}  // namespace

BOOLEAN DebugPortIsAvailable() {
  if (DiagDebugPortAllowed == 0) return FALSE;
  return (DiagPrintEnabled == 1 || hw::ReadDr2() == DEBUG_PORT) ? TRUE : FALSE;
}

bool DebugPortArmed() {
  return (hw::ReadMsr(kDebugExtensionMsr) & 1) != 0 &&
         (hw::ReadDr7() & kDebugPortDr7) == kDebugPortDr7 && (hw::ReadCr4() & kCr4De) != 0;
}

void DebugPortInitialize() {
  if (!DebugPortIsAvailable()) return;
  if (DebugPortArmed()) return;
  hw::MsrOr(kDebugExtensionMsr, 1);
  hw::WriteDr2(DEBUG_PORT);
  // Debugging extensions first: DR7's I/O condition (R/W = 10b) is undefined
  // while CR4.DE is clear.
  hw::WriteCr4(hw::ReadCr4() | kCr4De);
  // The whole of DR7 is written: other breakpoints' enables are cleared.
  hw::WriteDr7(kDebugPortDr7);
}

DebugMessageBuffer* DebugMessageBufferAt(void* data) {
  if (data == nullptr) return nullptr;
  auto* buffer = static_cast<DebugMessageBuffer*>(data);
  if (buffer->Signature != DEBUG_BUFFER_SIGNATURE) return nullptr;
  // An area with no room would take a zero-length hand-off and then a store
  // past its end: such a buffer is no buffer.
  if (buffer->Capacity == 0) return nullptr;
  return buffer;
}

DebugMessageBuffer* FindDebugMessageBuffer() {
  if (hw::ReadDr3() == 0) return nullptr;
  HeapBufferQuery query{};
  query.Handle = DEBUG_BUFFER_HANDLE;
  if (FindHeapBuffer(&query) != 0) return nullptr;
  // The record must hold the fixed fields and the whole character area, or
  // the count and the stores would run past the record's pool block.
  if (query.DataSize < sizeof(DebugMessageBuffer)) return nullptr;
  DebugMessageBuffer* buffer = DebugMessageBufferAt(query.Data);
  if (buffer != nullptr && query.DataSize - sizeof(DebugMessageBuffer) < buffer->Capacity)
    return nullptr;
  return buffer;
}

BOOLEAN DebugPortLevelMaskFrom(DebugMessageBuffer* buffer, uint64_t* mask) {
  if (buffer != nullptr) *mask = buffer->LevelMask;
  return TRUE;
}

uint64_t DebugPortWriteTo(DebugMessageBuffer* buffer, const char* text, uint64_t length) {
  if (buffer != nullptr) {
    if (buffer->Enabled != 1) return 0;
    if (buffer->Buffered == 1) {
      DebugBufferedWrite(buffer, text, length);
      return length;
    }
  }
  hw::DebugPortHandoff(DEBUG_PORT_COMMAND, Low32(text), static_cast<uint32_t>(length));
  return length;
}

void DebugBufferedWrite(DebugMessageBuffer* buffer, const char* text, uint64_t length) {
  if (buffer == nullptr || text == nullptr || buffer->Capacity == 0) return;
  // Tells a watcher on the bus that a buffered write starts; the data is the
  // message's first two bytes, little-endian.
  IoWriteWidth(kAccessWidth16, kBufferedWritePort, text, 0);
  uint8_t* area = DebugMessageArea(buffer);
  for (uint64_t i = 0; i < length; ++i) {
    // A full area is handed off only when a further character needs room.
    if (buffer->Count >= buffer->Capacity) {
      hw::DebugPortHandoff(DEBUG_PORT_COMMAND, Low32(area), buffer->Capacity);
      buffer->Count = 0;
    }
    area[buffer->Count] = static_cast<uint8_t>(text[i]);
    buffer->Count = static_cast<uint16_t>(buffer->Count + 1);
  }
}

const DiagBackend DebugPortBackend = {DebugPortIsAvailable, DebugPortInitialize,
                                      DebugPortGetLevelMask, DebugPortWrite};

}  // namespace diag
