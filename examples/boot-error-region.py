#!/usr/bin/env python3
"""Writes boot-error-region.bin: a boot error region as a machine leaves it
behind, for `platsim decode`. One Generic Error Status Block (uncorrectable
and correctable valid, three entries, fatal) with a generic processor error
section (fatal), a platform memory error section that records its own DRAM
location (corrected) and a section of a vendor's own type (fatal)."""
import struct
import sys


def guid(d1, d2, d3, d4):
    return struct.pack('<IHH', d1, d2, d3) + bytes(d4)


PROCESSOR = guid(0x9876CCAD, 0x47B4, 0x4BDB, [0xB6, 0x5E, 0x16, 0xF1, 0x93, 0xC4, 0xF3, 0xDB])
MEMORY = guid(0xA5BC1114, 0x6F64, 0x4EDE, [0xB8, 0x63, 0x3E, 0x83, 0xED, 0x7C, 0x83, 0xB1])
VENDOR = guid(0x5A0F1C3E, 0x7D21, 0x4B6A, [0x9E, 0x44, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60])
STAMP = 0x2024061101083015  # 2024-06-11 08:30:15, BCD from the seconds up, precise


def entry(section_type, data, severity):
    # header revision 0x300 with the timestamp marked valid, primary
    return (section_type + struct.pack('<IHBBI', severity, 0x300, 0x04, 0x01, len(data)) +
            bytes(36) + struct.pack('<Q', STAMP) + data)


processor = struct.pack('<QBBBBBBHQ', 0x023F, 0, 2, 0x01, 1, 0x01, 2, 0, 0) + bytes(128)
processor += struct.pack('<QQQQQ', 0, 0x723456789, 0, 0, 0)
# error status, physical address, node, bank, row, column, memory error type
memory = struct.pack('<QQQQHHHHHHHHQQQBBHHH', 0x434B, 0x0400, 0x723456789, 0, 1, 0, 0, 3,
                     0, 0x1C68, 0x2B1, 0, 0, 0, 0, 2, 0, 0, 0, 0)
vendor = b'VNDR' + struct.pack('<HH', 1, 0x0042) + bytes(range(16, 28))
entries = entry(PROCESSOR, processor, 1) + entry(MEMORY, memory, 2) + entry(VENDOR, vendor, 1)
block = struct.pack('<IIIII', 0x3 | 3 << 4, 20 + len(entries), 0, len(entries), 1)
sys.stdout.buffer.write(block + entries)
