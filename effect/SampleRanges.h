// Whether two runs of samples may be processed a block at a time: reading a
// block before writing it gives what a sample-by-sample pass gives only when
// the runs are the very same samples or share none.
#pragma once

#include <cstdint>

// [any]
inline bool ApartOrSame(const float* source, const float* destination, unsigned frames) {
  const auto from = reinterpret_cast<uintptr_t>(source);
  const auto to = reinterpret_cast<uintptr_t>(destination);
  const uintptr_t bytes = uintptr_t{frames} * sizeof(float);
  // Unsigned distances: one of them wraps to a huge value, the other is the gap.
  return from == to || (to - from >= bytes && from - to >= bytes);
}

// [any] Whether the runs share no sample at all.
inline bool Apart(const float* a, const float* b, unsigned frames) {
  return a != b && ApartOrSame(a, b, frames);
}
