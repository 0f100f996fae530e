// MemTuneMailbox: the record that callers outside SMM share with MemTuneSmm's
// software-SMI handler. Packed, little-endian; every offset is part of the
// interface with the callers.
#pragma once

#include "language_bridge.h"

#include <stddef.h>
#include <stdint.h>

// Values of Request and Command.
TIV_CONSTANT uint32_t kMailboxRequestPending = 4;
TIV_CONSTANT uint32_t kMailboxCommandReadCurrent = 0x80000000;
TIV_CONSTANT uint32_t kMailboxCommandSetMemClock = 0x1;
TIV_CONSTANT uint32_t kMailboxCommandHoldSetup = 0x1000000;
TIV_CONSTANT uint32_t kMailboxCommandReleaseSetup = 0x2000000;

typedef struct __attribute__((packed)) MemTuneMailbox {
  uint16_t Busy;        // 0x00: 0 at every completion
  uint32_t Status;      // 0x02: low 32 bits of the request's EFI_STATUS
  uint16_t Sequence;    // 0x06: +0x100 per accepted request, +1 per SMI
  uint32_t Reserved08;  // 0x08: never touched
  uint32_t Request;     // 0x0C: 4 = pending
  uint32_t Command;     // 0x10
  // Value fields: filled by the readout, taken by the set commands.
  uint16_t MemClock;         // 0x14: memory clock in MHz
  uint8_t tCL;               // 0x16
  uint8_t tRCDRD;            // 0x17
  uint8_t tRCDWR;            // 0x18
  uint8_t tRAS;              // 0x19
  uint8_t tRP;               // 0x1A
  uint8_t Reserved1B[6];     // 0x1B: never touched
  uint16_t Setting25;        // 0x21: settings record 0x25
  uint16_t tREFI;            // 0x23
  uint8_t tRC;               // 0x25
  uint16_t tRFC1;            // 0x26
  uint16_t tRFC2;            // 0x28
  uint16_t tRFC4;            // 0x2A
  uint8_t tFAW;              // 0x2C
  uint8_t tRRDS;             // 0x2D
  uint8_t tRRDL;             // 0x2E
  uint8_t tWR;               // 0x2F
  uint8_t tWTRS;             // 0x30
  uint8_t tWTRL;             // 0x31
  uint8_t tCKE;              // 0x32
  uint8_t tCWL;              // 0x33
  uint8_t tRTP;              // 0x34
  uint8_t tRDRDSD;           // 0x35
  uint8_t tRDRDDD;           // 0x36
  uint8_t tRDRDSC;           // 0x37
  uint8_t tRDRDSCL;          // 0x38
  uint8_t tWRWRSD;           // 0x39
  uint8_t tWRWRDD;           // 0x3A
  uint8_t tWRWRSC;           // 0x3B
  uint8_t tWRWRSCL;          // 0x3C
  uint8_t tRDWR;             // 0x3D
  uint8_t tWRRD;             // 0x3E
  uint8_t GearDownMode;      // 0x3F
  uint8_t Cmd2T;             // 0x40
  uint8_t Setting22;         // 0x41
  uint8_t Setting23;         // 0x42
  uint8_t Setting24;         // 0x43
  uint8_t PowerDown;         // 0x44
  uint8_t Setting08;         // 0x45
  uint32_t Setting09;        // 0x46
  uint32_t Setting0D;        // 0x4A
  uint8_t Setting11;         // 0x4E
  uint32_t Setting14;        // 0x4F
  uint8_t Setting18;         // 0x53
  uint16_t Setting12;        // 0x54
  uint8_t Setting19[7];      // 0x56: settings 0x19-0x1F, byte for byte
  uint16_t Setting20;        // 0x5D
  uint8_t Setting27;         // 0x5F
  uint32_t Setting28;        // 0x60
  uint32_t Setting2C;        // 0x64
  uint32_t Setting30;        // 0x68
  uint32_t Setting34;        // 0x6C
  uint32_t Setting38;        // 0x70
  uint32_t Setting3C;        // 0x74
  uint8_t EchoC8;            // 0x78: copy of CallerC8
  uint8_t EchoC9;            // 0x79: copy of CallerC9
  uint16_t Reserved7A;       // 0x7A: set to 0 by the readout
  uint8_t Option7C;          // 0x7C: set to 0 by the readout
  uint8_t SetupOnly[10];     // 0x7D-0x86: values that only go to the setup variable
  uint8_t Reserved87[0x41];  // 0x87-0xC7: never touched
  uint8_t CallerC8;          // 0xC8: the caller's, read by the readout only
  uint8_t CallerC9;          // 0xC9
} MemTuneMailbox;

TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Busy) == 0x00);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Status) == 0x02);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Sequence) == 0x06);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Reserved08) == 0x08);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Request) == 0x0C);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Command) == 0x10);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, MemClock) == 0x14);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tCL) == 0x16);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRCDRD) == 0x17);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRCDWR) == 0x18);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRAS) == 0x19);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRP) == 0x1A);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Reserved1B) == 0x1B);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting25) == 0x21);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tREFI) == 0x23);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRC) == 0x25);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRFC1) == 0x26);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRFC2) == 0x28);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRFC4) == 0x2A);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tFAW) == 0x2C);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRRDS) == 0x2D);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRRDL) == 0x2E);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tWR) == 0x2F);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tWTRS) == 0x30);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tWTRL) == 0x31);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tCKE) == 0x32);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tCWL) == 0x33);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRTP) == 0x34);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRDRDSD) == 0x35);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRDRDDD) == 0x36);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRDRDSC) == 0x37);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRDRDSCL) == 0x38);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tWRWRSD) == 0x39);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tWRWRDD) == 0x3A);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tWRWRSC) == 0x3B);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tWRWRSCL) == 0x3C);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tRDWR) == 0x3D);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, tWRRD) == 0x3E);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, GearDownMode) == 0x3F);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Cmd2T) == 0x40);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting22) == 0x41);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting23) == 0x42);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting24) == 0x43);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, PowerDown) == 0x44);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting08) == 0x45);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting09) == 0x46);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting0D) == 0x4A);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting11) == 0x4E);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting14) == 0x4F);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting18) == 0x53);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting12) == 0x54);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting19) == 0x56);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting20) == 0x5D);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting27) == 0x5F);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting28) == 0x60);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting2C) == 0x64);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting30) == 0x68);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting34) == 0x6C);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting38) == 0x70);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Setting3C) == 0x74);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, EchoC8) == 0x78);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, EchoC9) == 0x79);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Reserved7A) == 0x7A);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Option7C) == 0x7C);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, SetupOnly) == 0x7D);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, Reserved87) == 0x87);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, CallerC8) == 0xC8);
TIV_LAYOUT_ASSERT(offsetof(MemTuneMailbox, CallerC9) == 0xC9);
TIV_LAYOUT_ASSERT(sizeof(MemTuneMailbox) == 0xCA);
