// Placeholder until the DRAM translation lands: zeros in all five fields.
#include "addr_translate/dram/translate_norm_to_dram_addr.h"

namespace atd {

void translate_norm_to_dram_addr(uint64_t, uint8_t, uint8_t, uint8_t, DramAddress* out) {
  out->chipSelect = 0;
  out->bank = 0;
  out->row = 0;
  out->col = 0;
  out->rankMul = 0;
}

}  // namespace atd
