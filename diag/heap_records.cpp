// Placeholder until heap records land: no record is ever found.
#include "diag/heap_records.h"

namespace diag {

uint32_t FindHeapBuffer(HeapBufferQuery* query) {
  query->Data = nullptr;
  query->DataSize = 0;
  return 2;
}

}  // namespace diag
