/* The log of recording_base_io_lib.c, shared with the C++ test (no MdePkg
 * header needed to read it). */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RecordedCall {
  const char* name;
  uint64_t a, b; /* the first two arguments (port or address or index, value) */
} RecordedCall;

enum { kMaxRecordedCalls = 8 };
extern RecordedCall gRecordedCalls[kMaxRecordedCalls];
extern int gRecordedCallCount;

#ifdef __cplusplus
}
#endif
