#include "tools/qelvo/Interleave.h"

#include <emmintrin.h>

#include <cmath>

void Deinterleave(const float* interleaved, float* const* planar, size_t channels, size_t frames) {
  size_t f = 0;
  if (channels == 2) {
    float* left = planar[0];
    float* right = planar[1];
    for (; f + 4 <= frames; f += 4) {
      const __m128 a = _mm_loadu_ps(interleaved + 2 * f);      // l0 r0 l1 r1
      const __m128 b = _mm_loadu_ps(interleaved + 2 * f + 4);  // l2 r2 l3 r3
      _mm_storeu_ps(left + f, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
      _mm_storeu_ps(right + f, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
  }
  for (; f < frames; ++f)
    for (size_t c = 0; c < channels; ++c) planar[c][f] = interleaved[f * channels + c];
}

void Interleave(const float* const* planar, float* interleaved, size_t channels, size_t frames) {
  size_t f = 0;
  if (channels == 2) {
    const float* left = planar[0];
    const float* right = planar[1];
    for (; f + 4 <= frames; f += 4) {
      const __m128 l = _mm_loadu_ps(left + f);
      const __m128 r = _mm_loadu_ps(right + f);
      _mm_storeu_ps(interleaved + 2 * f, _mm_unpacklo_ps(l, r));
      _mm_storeu_ps(interleaved + 2 * f + 4, _mm_unpackhi_ps(l, r));
    }
  }
  for (; f < frames; ++f)
    for (size_t c = 0; c < channels; ++c) interleaved[f * channels + c] = planar[c][f];
}

long long CountBeyondFullScale(const float* samples, size_t count) {
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  const __m128 one = _mm_set1_ps(1.0f);
  long long total = 0;
  size_t i = 0;
  // Each lane counts down by one per hit (a true comparison is all ones, -1),
  // and is emptied before it could wrap.
  while (i + 4 <= count) {
    __m128i lanes = _mm_setzero_si128();
    const size_t end = i + 4 * (size_t{1} << 20) < count ? i + 4 * (size_t{1} << 20) : count;
    for (; i + 4 <= end; i += 4) {
      const __m128 x = _mm_and_ps(_mm_loadu_ps(samples + i), magnitude);
      // Not (|x| <= 1): also true for NaN.
      lanes = _mm_add_epi32(lanes, _mm_castps_si128(_mm_cmpnle_ps(x, one)));
    }
    alignas(16) int counts[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(counts), lanes);
    total -= static_cast<long long>(counts[0]) + counts[1] + counts[2] + counts[3];
  }
  for (; i < count; ++i) total += !(std::fabs(samples[i]) <= 1.0f);
  return total;
}
