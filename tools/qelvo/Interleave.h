// Between the interleaved frames of a file and the unit's one buffer per
// channel. Samples move bit for bit (NaN payloads and signs included); two
// channels, the common case, go four frames per step.
#pragma once

#include <cstddef>

// interleaved[f * channels + c] -> planar[c][f] for frames frames.
void Deinterleave(const float* interleaved, float* const* planar, size_t channels, size_t frames);
// planar[c][f] -> interleaved[f * channels + c].
void Interleave(const float* const* planar, float* interleaved, size_t channels, size_t frames);
// How many of the samples an integer format would clip: magnitude above 1.0,
// or NaN.
long long CountBeyondFullScale(const float* samples, size_t count);
