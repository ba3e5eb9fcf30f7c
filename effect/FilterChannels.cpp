#include "effect/FilterChannels.h"

#include <emmintrin.h>

#include <type_traits>
#include <utility>

#include "effect/SampleRanges.h"

namespace {

// Two channels in the low and high lane; a channel left over pairs with
// itself, both lanes then compute the same samples and write them twice.
struct Pair {
  const FilterChannel* low;
  const FilterChannel* high;
};

// Vectors per loop: four chains keep the arithmetic units busy while each
// waits on its own feedback, and their state still fits the registers with
// the coefficients read from memory.
constexpr size_t kPairsPerLoop = 4;

template <size_t N, class F>
inline void ForEachPair(F&& f) {
  [&]<size_t... P>(std::index_sequence<P...>) {
    (f(std::integral_constant<size_t, P>{}), ...);
  }(std::make_index_sequence<N>{});
}

inline __m128d Lanes(double low, double high) { return _mm_set_pd(high, low); }
inline double Low(__m128d v) { return _mm_cvtsd_f64(v); }
inline double High(__m128d v) { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }

// The recursion of one pair, as RenderFilter writes it for one channel:
// a0·x + a1·x1 + a2·x2 − b1·y1 − b2·y2 left to right in 64 bits (each packed
// operation is the scalar one in both lanes), narrowed to 32 bits, and the
// narrowed value fed back.
struct Chain {
  __m128d a0, a1, a2, b1, b2;
  __m128d x1, x2, y1, y2;

  // Returns both narrowed outputs in the low two floats.
  [[gnu::always_inline]] __m128 Step(__m128d x) {
    __m128d acc = _mm_add_pd(_mm_mul_pd(a0, x), _mm_mul_pd(a1, x1));
    acc = _mm_add_pd(acc, _mm_mul_pd(a2, x2));
    acc = _mm_sub_pd(acc, _mm_mul_pd(b1, y1));
    acc = _mm_sub_pd(acc, _mm_mul_pd(b2, y2));
    const __m128 y = _mm_cvtpd_ps(acc);
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = _mm_cvtps_pd(y);
    return y;
  }
};

Chain Load(const Pair& pair) {
  const FilterCoefficients& c = pair.low->kernel->Coefficients();
  const FilterCoefficients& d = pair.high->kernel->Coefficients();
  const FilterKernel::History h = pair.low->kernel->GetHistory();
  const FilterKernel::History g = pair.high->kernel->GetHistory();
  return {Lanes(c.a0, d.a0), Lanes(c.a1, d.a1), Lanes(c.a2, d.a2), Lanes(c.b1, d.b1),
          Lanes(c.b2, d.b2), Lanes(h.x1, g.x1), Lanes(h.x2, g.x2), Lanes(h.y1, g.y1),
          Lanes(h.y2, g.y2)};
}

void Keep(const Pair& pair, const Chain& chain) {
  pair.low->kernel->KeepHistory({Low(chain.x1), Low(chain.x2), Low(chain.y1), Low(chain.y2)});
  if (pair.high != pair.low)
    pair.high->kernel->KeepHistory({High(chain.x1), High(chain.x2), High(chain.y1), High(chain.y2)});
}

// Four frames of one pair: one load and one store per channel instead of
// four, the samples moved between channel order and lane order by shuffles.
[[gnu::always_inline]] inline void FourFrames(Chain& chain, const Pair& pair, unsigned i) {
  const __m128 low = _mm_loadu_ps(pair.low->source + i);
  const __m128 high = _mm_loadu_ps(pair.high->source + i);
  const __m128 frames01 = _mm_unpacklo_ps(low, high);  // low f0, high f0, low f1, high f1
  const __m128 frames23 = _mm_unpackhi_ps(low, high);
  const __m128 y0 = chain.Step(_mm_cvtps_pd(frames01));
  const __m128 y1 = chain.Step(_mm_cvtps_pd(_mm_movehl_ps(frames01, frames01)));
  const __m128 y2 = chain.Step(_mm_cvtps_pd(frames23));
  const __m128 y3 = chain.Step(_mm_cvtps_pd(_mm_movehl_ps(frames23, frames23)));
  const __m128 out01 = _mm_movelh_ps(y0, y1);
  const __m128 out23 = _mm_movelh_ps(y2, y3);
  _mm_storeu_ps(pair.low->destination + i, _mm_shuffle_ps(out01, out23, _MM_SHUFFLE(2, 0, 2, 0)));
  _mm_storeu_ps(pair.high->destination + i, _mm_shuffle_ps(out01, out23, _MM_SHUFFLE(3, 1, 3, 1)));
}

[[gnu::always_inline]] inline void OneFrame(Chain& chain, const Pair& pair, unsigned i) {
  const __m128 x = _mm_unpacklo_ps(_mm_load_ss(pair.low->source + i), _mm_load_ss(pair.high->source + i));
  const __m128 y = chain.Step(_mm_cvtps_pd(x));
  _mm_store_ss(pair.low->destination + i, y);
  _mm_store_ss(pair.high->destination + i, _mm_shuffle_ps(y, y, _MM_SHUFFLE(1, 1, 1, 1)));
}

// N pairs in one loop; the chains are locals so that they stay in registers.
template <size_t N>
void RunPairs(const Pair* pairs, unsigned frames) {
  Chain chains[N];
  ForEachPair<N>([&](auto p) { chains[p] = Load(pairs[p]); });
  unsigned i = 0;
  for (; i + 4 <= frames; i += 4) ForEachPair<N>([&](auto p) { FourFrames(chains[p], pairs[p], i); });
  for (; i < frames; ++i) ForEachPair<N>([&](auto p) { OneFrame(chains[p], pairs[p], i); });
  ForEachPair<N>([&](auto p) { Keep(pairs[p], chains[p]); });
}

}  // namespace

bool CanFilterSideBySide(const FilterChannel* channels, size_t count, unsigned frames) {
  for (size_t i = 0; i < count; ++i) {
    const FilterChannel& a = channels[i];
    if (!ApartOrSame(a.source, a.destination, frames)) return false;
    for (size_t j = 0; j < count; ++j) {
      if (j == i) continue;
      const FilterChannel& b = channels[j];
      if (!Apart(a.destination, b.source, frames)) return false;
      if (j > i && !Apart(a.destination, b.destination, frames)) return false;
    }
  }
  return true;
}

void FilterSideBySide(const FilterChannel* channels, size_t count, unsigned frames,
                      const FilterKernel::Settings& settings) {
  for (size_t c = 0; c < count; ++c) channels[c].kernel->FollowSettings(settings);

  Pair pairs[kPairsPerLoop];
  size_t c = 0;
  while (c < count) {
    size_t n = 0;
    for (; n < kPairsPerLoop && c < count; ++n, c += 2)
      pairs[n] = {&channels[c], &channels[c + 1 < count ? c + 1 : c]};
    static_assert(kPairsPerLoop == 4, "one case per group size");
    switch (n) {
      case 1: RunPairs<1>(pairs, frames); break;
      case 2: RunPairs<2>(pairs, frames); break;
      case 3: RunPairs<3>(pairs, frames); break;
      default: RunPairs<kPairsPerLoop>(pairs, frames); break;
    }
  }
}
