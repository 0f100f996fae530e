/* __popcountdi2: the compiler's out-of-line population count of a 64-bit
 * value. Freestanding code calls it for __builtin_popcountll and
 * std::popcount when the target need not have the POPCNT instruction. The
 * images carry this one instead of the host's libgcc, whose objects are built
 * with a red zone (which interrupt and SMM entry would overwrite). */
int __popcountdi2(unsigned long long a);

/* used: a link-time-optimised build (EDK II's) emits the call only after the
 * optimiser has seen every definition, and would drop this one otherwise. */
__attribute__((used)) int __popcountdi2(unsigned long long a) {
  a = a - ((a >> 1) & 0x5555555555555555ULL);                           /* 2-bit sums */
  a = (a & 0x3333333333333333ULL) + ((a >> 2) & 0x3333333333333333ULL); /* 4-bit sums */
  a = (a + (a >> 4)) & 0x0F0F0F0F0F0F0F0FULL;                           /* byte sums */
  return (int)((a * 0x0101010101010101ULL) >> 56);                      /* their total */
}
