// The filter's pass over its channels when each has a buffer of its own:
// the mode, the gain and the cutoff settings are read once per slice, and
// filter mode runs all channels side by side. A single channel, or
// interleaved buffers, go one kernel at a time through the effect base.
#include <algorithm>

#include "effect/Filter.h"
#include "effect/FilterChannels.h"
#include "effect/FilterConstants.h"
#include "effect/FilterKernel.h"

namespace {
// Channels in one side-by-side pass; more are taken in turns, each turn
// finished before the next starts, as one channel after the other would be.
constexpr size_t kChannelsPerPass = 8;
}  // namespace

OSStatus Filter::ProcessBufferLists(AudioUnitRenderActionFlags& ioActionFlags, const AudioBufferList& inBuffer,
                                    AudioBufferList& outBuffer, UInt32 inFramesToProcess) {
  // Counted as the effect base counts them: a kernel beyond what both lists
  // carry has no samples to work on.
  const size_t channels =
      std::min<size_t>({GetNumberOfKernels(), inBuffer.mNumberBuffers, outBuffer.mNumberBuffers});
  bool allKernels = true;
  for (size_t c = 0; c < channels; ++c) allKernels = allKernels && GetKernel(static_cast<UInt32>(c)) != nullptr;
  if (inBuffer.mNumberBuffers == 1 || channels < 2 || !allKernels)
    return AUEffectBase::ProcessBufferLists(ioActionFlags, inBuffer, outBuffer, inFramesToProcess);

  const bool inputSilent = IsInputSilent(ioActionFlags, inFramesToProcess);
  ioActionFlags |= kAudioUnitRenderAction_OutputIsSilence;

  auto kernel = [&](size_t c) { return static_cast<FilterKernel*>(GetKernel(static_cast<UInt32>(c))); };
  auto source = [&](size_t c) { return static_cast<const float*>(inBuffer.mBuffers[c].mData); };
  auto destination = [&](size_t c) { return static_cast<float*>(outBuffer.mBuffers[c].mData); };

  FilterKernel* first = kernel(0);
  if (first->FilterModeNow()) {
    const FilterKernel::Settings settings = first->ReadSettings();
    FilterChannel pass[kChannelsPerPass];
    for (size_t start = 0; start < channels; start += kChannelsPerPass) {
      const size_t n = std::min(kChannelsPerPass, channels - start);
      for (size_t i = 0; i < n; ++i) pass[i] = {kernel(start + i), source(start + i), destination(start + i)};
      if (CanFilterSideBySide(pass, n, inFramesToProcess)) {
        FilterSideBySide(pass, n, inFramesToProcess, settings);
      } else {
        for (size_t i = 0; i < n; ++i) {
          pass[i].kernel->FollowSettings(settings);
          pass[i].kernel->RenderFilter(pass[i].source, pass[i].destination, inFramesToProcess);
        }
      }
    }
  } else {
    const float gain = GetParameter(kParam_Gain);
    for (size_t c = 0; c < channels; ++c) kernel(c)->RenderGain(source(c), destination(c), inFramesToProcess, 1, gain);
  }

  // The kernels leave the silence judgement as the effect made it.
  if (!inputSilent) ioActionFlags &= ~kAudioUnitRenderAction_OutputIsSilence;
  return noErr;
}
