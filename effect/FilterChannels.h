// Filter mode for several channels in one pass. One channel's recursion is
// bound by its latency (each output feeds the next through a narrowing to 32
// bits and back); channels side by side overlap their chains. Two channels
// share a vector of 64-bit lanes and up to four vectors run in one loop, each
// channel with its own coefficients and history and exactly the arithmetic
// of FilterKernel::RenderFilter, so every output is bit for bit what the
// channel's kernel alone makes of it.
#pragma once

#include <cstddef>

#include "effect/FilterKernel.h"

struct FilterChannel {
  FilterKernel* kernel;
  const float* source;
  float* destination;
};

// [any] Whether the channels' samples allow one pass: each channel writes its own
// input or samples apart from it, and no channel writes samples that another
// channel reads or writes. A sample-by-sample pass per channel would see the
// others' writes otherwise.
bool CanFilterSideBySide(const FilterChannel* channels, size_t count, unsigned frames);

// [render] Every kernel follows `settings` (new coefficients only when they
// changed), then all channels are filtered in one pass; each history is kept
// as RenderFilter keeps it (cleared when beyond the limit or not finite).
// The channels must pass CanFilterSideBySide.
void FilterSideBySide(const FilterChannel* channels, size_t count, unsigned frames,
                      const FilterKernel::Settings& settings);
