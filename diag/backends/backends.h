// The diagnostic output back-ends, in the order of DiagBackendTable, and the
// pieces of each that are reachable on their own (a UART at any base, the
// debugger's message buffer once found).
#pragma once

#include "diag/diag_backend.h"
#include "registers/uart16550.h"

#include <cstddef>
#include <cstdint>

namespace diag {

extern const DiagBackend PostPortBackend;
extern const DiagBackend DebugPortBackend;
extern const DiagBackend UartBackend;
extern const DiagBackend FixedUartBackend;

// Shared by the back-ends that need no set-up and have no mask of their own.
void BackendInitializeNothing();
BOOLEAN BackendKeepLevelMask(uint64_t* mask);  // mask left alone; FALSE

// ---- PostPortBackend ---------------------------------------------------------
// Each message goes out as 32-bit "RTS_", one 8-bit OUT per character, 32-bit
// "DNE_" (the words' bytes in memory order spell the markers).
inline constexpr uint32_t kPostFrameStart = 0x5F535452;
inline constexpr uint32_t kPostFrameEnd = 0x5F454E44;

// ---- DebugPortBackend --------------------------------------------------------
inline constexpr uint16_t DEBUG_PORT = 0x99CC;
inline constexpr uint32_t DEBUG_PORT_COMMAND = 0xC0BF99CC;  // low 16 bits: DEBUG_PORT
inline constexpr uint32_t DEBUG_BUFFER_HANDLE = 0xA014;
inline constexpr uint32_t DEBUG_BUFFER_SIGNATURE = 0xDB1099CC;
inline constexpr uint32_t kDebugExtensionMsr = 0xC001100A;  // bit 0 enables the breakpoint
inline constexpr uint64_t kDebugPortDr7 = 0x02000420;       // BP2 global, I/O r/w, 1 byte, bit 10
inline constexpr uint64_t kCr4De = 0x8;                     // debugging extensions
inline constexpr uint16_t kBufferedWritePort = 0xFFED;

// Left behind by an earlier boot phase as heap record DEBUG_BUFFER_HANDLE and
// shared with other firmware components, so every offset is fixed. The
// character area (Capacity bytes) starts right after this header, at 513.
struct __attribute__((packed)) DebugMessageBuffer {
  uint32_t Signature;  // DEBUG_BUFFER_SIGNATURE
  uint8_t Reserved4[2];
  uint16_t Capacity;  // characters the area holds
  uint16_t Count;     // characters held now
  uint8_t Enabled;    // 1: output allowed
  uint8_t Reserved11[7];
  uint8_t Buffered;  // 1: collect in the area; else hand each message off
  uint8_t Reserved19[5];
  uint64_t LevelMask;
  uint8_t Reserved32[481];
};
static_assert(offsetof(DebugMessageBuffer, Signature) == 0);
static_assert(offsetof(DebugMessageBuffer, Capacity) == 6);
static_assert(offsetof(DebugMessageBuffer, Count) == 8);
static_assert(offsetof(DebugMessageBuffer, Enabled) == 10);
static_assert(offsetof(DebugMessageBuffer, Buffered) == 18);
static_assert(offsetof(DebugMessageBuffer, LevelMask) == 24);
static_assert(sizeof(DebugMessageBuffer) == 513);

inline uint8_t* DebugMessageArea(DebugMessageBuffer* buffer) {
  return reinterpret_cast<uint8_t*>(buffer) + sizeof(DebugMessageBuffer);
}

BOOLEAN DebugPortIsAvailable();
// Breakpoint already armed on this processor: debug-extension MSR bit 0, all
// bits of kDebugPortDr7 in DR7, CR4.DE.
bool DebugPortArmed();
void DebugPortInitialize();

// The record data of a heap record if it is a usable message buffer (right
// signature and room for at least one character), else null.
DebugMessageBuffer* DebugMessageBufferAt(void* data);
// DR3 of 0 means no buffer; otherwise the heap record DEBUG_BUFFER_HANDLE.
DebugMessageBuffer* FindDebugMessageBuffer();

// The back-end's GetLevelMask and Write once the buffer lookup is done
// (buffer null: none found). Write does not test availability again.
BOOLEAN DebugPortLevelMaskFrom(DebugMessageBuffer* buffer, uint64_t* mask);
uint64_t DebugPortWriteTo(DebugMessageBuffer* buffer, const char* text, uint64_t length);
// Collects text in the area, handing a full area to the debugger first. The
// first two bytes of text are always readable (the dispatcher's formatting
// buffer is 512 bytes), even for a length of 0.
void DebugBufferedWrite(DebugMessageBuffer* buffer, const char* text, uint64_t length);

// ---- UartBackend -------------------------------------------------------------
inline constexpr unsigned kUartPutCharReads = 2000;
using uart16550::kLsrThrEmpty;
using uart16550::kLsrTransmitterEmpty;

// A 16550 at `base`: port I/O when base fits in 16 bits (LSR at base + 5),
// memory-mapped with a 4-byte register stride otherwise (LSR at base + 20).
BOOLEAN UartPutCharAt(uint64_t base, char c);
uint64_t UartWriteAt(uint64_t base, const char* text, uint64_t length);

// ---- FixedUartBackend --------------------------------------------------------
inline constexpr uint16_t kFixedUartThr = uart16550::kCom1Base + uart16550::kThr;
inline constexpr uint16_t kFixedUartLsr = uart16550::kCom1Base + uart16550::kLsr;
inline constexpr unsigned kFixedUartWaitReads = 65535;
inline constexpr unsigned kFixedUartFifoDepth = 16;

}  // namespace diag
