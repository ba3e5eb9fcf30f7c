#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "framework/AUBuffer.h"
#include "support/ThrownStatus.h"

namespace {

CAStreamBasicDescription Format(UInt32 channels, bool interleaved = false) {
  CAStreamBasicDescription format;
  format.SetCanonical(channels, interleaved);
  format.mSampleRate = 44100.0;
  return format;
}

// A caller's AudioBufferList with room for n buffers (the spare record
// covers the header).
class CallerList {
 public:
  explicit CallerList(UInt32 n) : mStorage(n + 1) { list()->mNumberBuffers = n; }
  AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(mStorage.data()); }
  AudioBuffer& operator[](UInt32 i) { return list()->mBuffers[i]; }

 private:
  std::vector<AudioBuffer> mStorage;
};

// A host-owned block, 16-byte aligned, freed by the test itself.
struct HostBlock {
  explicit HostBlock(UInt32 bytes) : size(bytes), data(static_cast<Byte*>(std::aligned_alloc(16, (bytes + 15) & ~15u))) {}
  ~HostBlock() { std::free(data); }
  AudioUnitExternalBuffer Offer(size_t offset = 0) const { return {data + offset, size}; }
  UInt32 size;
  Byte* data;
};

uintptr_t Address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

}  // namespace

// ---- layout -------------------------------------------------------------------

struct LayoutCase {
  const char* name;
  UInt32 channels;
  bool interleaved;
  UInt32 allocFrames, prepareFrames;
  UInt32 streams, channelsPerBuffer, stride, bufferBytes;
};

TEST(BufferListLayout, StreamsSitOnSixteenByteStridesOfTheAllocatedFrames) {
  const LayoutCase cases[] = {
      {"stereo, default slice", 2, false, 1156, 512, 2, 1, 4624, 2048},
      {"mono, stride already aligned", 1, false, 1000, 1000, 1, 1, 4000, 4000},
      {"mono, stride rounded up", 1, false, 1001, 7, 1, 1, 4016, 28},
      {"interleaved stereo is one stream", 2, true, 1001, 1001, 1, 2, 8016, 8008},
      {"six channels, tiny slice", 6, false, 3, 3, 6, 1, 16, 12},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    AUBufferList list;
    const CAStreamBasicDescription format = Format(c.channels, c.interleaved);
    list.Allocate(format, c.allocFrames);
    EXPECT_EQ(list.GetAllocatedStreams(), c.streams);
    EXPECT_EQ(list.GetAllocatedFrames(), c.allocFrames);
    EXPECT_EQ(list.GetAllocatedBytes(), c.streams * c.stride);

    AudioBufferList& abl = list.PrepareBuffer(format, c.prepareFrames);
    EXPECT_EQ(&abl, &list.GetBufferList());
    EXPECT_EQ(list.GetPtrState(), AUBufferList::kPtrsToMyMemory);
    ASSERT_EQ(abl.mNumberBuffers, c.streams);
    for (UInt32 k = 0; k < c.streams; ++k) {
      EXPECT_EQ(abl.mBuffers[k].mNumberChannels, c.channelsPerBuffer);
      EXPECT_EQ(abl.mBuffers[k].mDataByteSize, c.bufferBytes);
      EXPECT_EQ(Address(abl.mBuffers[k].mData) % 16, 0u);
      EXPECT_EQ(Address(abl.mBuffers[k].mData), Address(list.GetMemory()) + k * c.stride);
    }
    // Every byte handed out is writable (the sanitizer build checks the bounds).
    for (UInt32 k = 0; k < c.streams; ++k)
      std::memset(abl.mBuffers[k].mData, 0x5A, abl.mBuffers[k].mDataByteSize);
  }
}

TEST(BufferListLayout, MemoryAndDescriptorOnlyGrow) {
  AUBufferList list;
  list.Allocate(Format(6), 1156);
  const Byte* block = list.GetMemory();
  const UInt32 bytes = list.GetAllocatedBytes();
  ASSERT_EQ(bytes, 6u * 4624u);

  // Fewer streams and frames: same block, same room for streams.
  list.Allocate(Format(2), 512);
  EXPECT_EQ(list.GetMemory(), block);
  EXPECT_EQ(list.GetAllocatedBytes(), bytes);
  EXPECT_EQ(list.GetAllocatedStreams(), 6u);
  EXPECT_EQ(list.GetAllocatedFrames(), 512u);
  // The stride follows the new frame count.
  AudioBufferList& abl = list.PrepareBuffer(Format(2), 512);
  EXPECT_EQ(Address(abl.mBuffers[1].mData) - Address(abl.mBuffers[0].mData), 2048u);

  list.Allocate(Format(6), 4096);
  EXPECT_EQ(list.GetAllocatedBytes(), 6u * 16384u);
  EXPECT_EQ(list.GetPtrState(), AUBufferList::kPtrsInvalid);  // must be prepared again
}

TEST(BufferListLayout, ZeroFramesGivesADescriptorWithoutMemory) {
  AUBufferList list;
  const CAStreamBasicDescription stereo = Format(2);
  list.Allocate(stereo, 0);
  EXPECT_EQ(list.GetMemory(), nullptr);
  EXPECT_EQ(list.GetAllocatedBytes(), 0u);
  EXPECT_EQ(list.GetAllocatedStreams(), 2u);

  AudioBufferList& abl = list.PrepareNullBuffer(stereo, 256);
  EXPECT_EQ(list.GetPtrState(), AUBufferList::kPtrsToExternalMemory);
  ASSERT_EQ(abl.mNumberBuffers, 2u);
  for (UInt32 k = 0; k < 2; ++k) {
    EXPECT_EQ(abl.mBuffers[k].mData, nullptr);
    EXPECT_EQ(abl.mBuffers[k].mDataByteSize, 1024u);
    EXPECT_EQ(abl.mBuffers[k].mNumberChannels, 1u);
  }
  // Zeroing a list without memory touches nothing.
  AUBufferList::ZeroBuffer(abl);
}

TEST(BufferListLayout, ByteCountsThatWouldWrapAreRefused) {
  AUBufferList list;
  list.Allocate(Format(2), 1156);
  // 2^30 frames x 4 bytes x 2 streams does not fit in 32 bits.
  EXPECT_THROW(list.Allocate(Format(2), 0x40000000u), std::bad_alloc);
  EXPECT_EQ(list.GetAllocatedFrames(), 1156u);
  EXPECT_EQ(list.GetAllocatedBytes(), 9248u);
  list.PrepareBuffer(Format(2), 1156);
}

TEST(BufferListLayout, DeallocateKeepsTheDescriptorRoomForReuse) {
  AUBufferList list;
  list.Allocate(Format(2), 64);
  list.PrepareBuffer(Format(2), 64);
  list.Deallocate();
  EXPECT_EQ(list.GetMemory(), nullptr);
  EXPECT_EQ(list.GetAllocatedStreams(), 0u);
  EXPECT_EQ(list.GetAllocatedFrames(), 0u);
  EXPECT_EQ(ThrownStatus([&] { list.GetBufferList(); }), -1);

  list.Allocate(Format(2), 32);
  EXPECT_EQ(list.PrepareBuffer(Format(2), 32).mBuffers[1].mDataByteSize, 128u);
}

// ---- misuse -------------------------------------------------------------------

TEST(BufferListMisuse, EveryRefusalLeavesTheListAsItWas) {
  AUBufferList list;
  const CAStreamBasicDescription stereo = Format(2);
  CAStreamBasicDescription wideSamples = stereo;  // 8-byte samples, same streams
  wideSamples.mBytesPerFrame = wideSamples.mBytesPerPacket = 8;
  wideSamples.mBitsPerChannel = 64;
  CallerList three(3), two(2);

  struct Refusal {
    const char* name;
    std::function<void()> op;
    OSStatus status;
  };
  const Refusal refusals[] = {
      {"more streams than room", [&] { list.PrepareBuffer(Format(3), 16); }, kAudioUnitErr_FormatNotSupported},
      {"more streams, null buffers", [&] { list.PrepareNullBuffer(Format(3), 16); }, kAudioUnitErr_FormatNotSupported},
      {"slice longer than the memory", [&] { list.PrepareBuffer(stereo, 1157); }, kAudioUnitErr_TooManyFramesToProcess},
      {"layout larger than the memory", [&] { list.PrepareBuffer(wideSamples, 16); }, kAudioUnitErr_TooManyFramesToProcess},
      {"caller list too long", [&] { list.SetBufferList(*three.list()); }, -1},
  };

  list.Allocate(stereo, 1156);
  AudioBufferList& prepared = list.PrepareBuffer(stereo, 100);
  const AudioBuffer before[2] = {prepared.mBuffers[0], prepared.mBuffers[1]};
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(ThrownStatus(r.op), r.status);
    EXPECT_EQ(list.GetPtrState(), AUBufferList::kPtrsToMyMemory);
    AudioBufferList& now = list.GetBufferList();
    ASSERT_EQ(now.mNumberBuffers, 2u);
    for (UInt32 k = 0; k < 2; ++k) {
      EXPECT_EQ(now.mBuffers[k].mData, before[k].mData);
      EXPECT_EQ(now.mBuffers[k].mDataByteSize, before[k].mDataByteSize);
    }
  }
}

TEST(BufferListMisuse, AnEmptyDescriptorCannotBeUsed) {
  AUBufferList fresh;
  AUBufferList allocated;
  allocated.Allocate(Format(2), 16);
  AUBufferList invalidated;
  invalidated.Allocate(Format(2), 16);
  invalidated.PrepareBuffer(Format(2), 16);
  invalidated.InvalidateBufferList();

  CallerList dest(2);
  for (AUBufferList* list : {&fresh, &allocated, &invalidated}) {
    EXPECT_EQ(ThrownStatus([&] { list->GetBufferList(); }), -1);
    EXPECT_EQ(ThrownStatus([&] { list->CopyBufferListTo(*dest.list()); }), -1);
    EXPECT_EQ(ThrownStatus([&] { list->CopyBufferContentsTo(*dest.list()); }), -1);
  }
  // A list that never allocated has no room at all.
  EXPECT_EQ(ThrownStatus([&] { fresh.PrepareBuffer(Format(1), 0); }), kAudioUnitErr_FormatNotSupported);
  EXPECT_EQ(ThrownStatus([&] { fresh.SetBufferList(*dest.list()); }), -1);
}

// ---- sharing and copying ------------------------------------------------------------

TEST(BufferListSharing, SetBufferListAdoptsTheCallersPointers) {
  AUBufferList list;
  list.Allocate(Format(2), 16);
  float left[16], right[16];
  CallerList caller(2);
  caller[0] = {1, sizeof left, left};
  caller[1] = {1, sizeof right, right};

  AudioBufferList& abl = list.SetBufferList(*caller.list());
  EXPECT_EQ(list.GetPtrState(), AUBufferList::kPtrsToExternalMemory);
  EXPECT_EQ(&abl, &list.GetBufferList());
  EXPECT_EQ(abl.mBuffers[0].mData, left);
  EXPECT_EQ(abl.mBuffers[1].mData, right);
  EXPECT_EQ(abl.mBuffers[1].mDataByteSize, sizeof right);

  caller.list()->mNumberBuffers = 1;  // fewer than the room is fine
  EXPECT_EQ(list.SetBufferList(*caller.list()).mNumberBuffers, 1u);
}

TEST(BufferListSharing, CopyBufferListToHandsOutOnlyRecordsBothSidesHave) {
  AUBufferList list;
  list.Allocate(Format(2), 64);
  AudioBufferList& own = list.PrepareBuffer(Format(2), 64);

  CallerList same(2);
  list.CopyBufferListTo(*same.list());
  EXPECT_EQ(same.list()->mNumberBuffers, 2u);
  EXPECT_EQ(same[1].mData, own.mBuffers[1].mData);
  EXPECT_EQ(same[1].mDataByteSize, 256u);

  CallerList longer(3);
  longer[2] = {7, 7, nullptr};
  list.CopyBufferListTo(*longer.list());
  EXPECT_EQ(longer.list()->mNumberBuffers, 2u);
  EXPECT_EQ(longer[2].mNumberChannels, 7u);  // untouched

  CallerList shorter(1);
  list.CopyBufferListTo(*shorter.list());
  EXPECT_EQ(shorter.list()->mNumberBuffers, 1u);
  EXPECT_EQ(shorter[0].mData, own.mBuffers[0].mData);
}

TEST(BufferListSharing, CopyBufferContentsRepeatsTheLastSourceBuffer) {
  AUBufferList mono;
  mono.Allocate(Format(1), 4);
  AudioBufferList& src = mono.PrepareBuffer(Format(1), 4);
  const float samples[4] = {1, 2, 3, 4};
  std::memcpy(src.mBuffers[0].mData, samples, sizeof samples);

  float a[4] = {}, b[4] = {};
  CallerList dest(2);
  dest[0] = {1, sizeof a, a};
  dest[1] = {1, sizeof b, b};
  mono.CopyBufferContentsTo(*dest.list());
  EXPECT_EQ(std::memcmp(a, samples, sizeof a), 0);
  EXPECT_EQ(std::memcmp(b, samples, sizeof b), 0);
}

TEST(BufferListSharing, CopyBufferContentsEdgeCases) {
  AUBufferList list;
  list.Allocate(Format(1), 8);
  AudioBufferList& src = list.PrepareBuffer(Format(1), 8);
  float* own = static_cast<float*>(src.mBuffers[0].mData);
  for (int i = 0; i < 8; ++i) own[i] = float(i + 1);

  // Same memory: nothing moves, the size still follows the source.
  CallerList same(1);
  same[0] = {1, 3, own};
  list.CopyBufferContentsTo(*same.list());
  EXPECT_EQ(same[0].mDataByteSize, 32u);

  // A smaller destination receives only what it holds.
  float small[2] = {-1, -1};
  CallerList tight(1);
  tight[0] = {1, sizeof small, small};
  list.CopyBufferContentsTo(*tight.list());
  EXPECT_EQ(small[0], 1.0f);
  EXPECT_EQ(small[1], 2.0f);
  EXPECT_EQ(tight[0].mDataByteSize, sizeof small);

  // A destination without memory is skipped.
  CallerList empty(1);
  empty[0] = {1, 32, nullptr};
  list.CopyBufferContentsTo(*empty.list());
  EXPECT_EQ(empty[0].mDataByteSize, 32u);

  // Overlapping memory is moved, not smeared.
  CallerList shifted(1);
  src.mBuffers[0].mDataByteSize = 16;  // first four samples
  shifted[0] = {1, 16, own + 2};
  list.CopyBufferContentsTo(*shifted.list());
  const float expected[8] = {1, 2, 1, 2, 3, 4, 7, 8};
  EXPECT_EQ(std::memcmp(own, expected, sizeof expected), 0);
}

TEST(BufferListSharing, ZeroBufferClearsExactlyTheDescribedBytes) {
  float a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8};
  CallerList abl(2);
  abl[0] = {1, 2 * sizeof(float), a};
  abl[1] = {1, sizeof b, b};
  AUBufferList::ZeroBuffer(*abl.list());
  const float aAfter[4] = {0, 0, 3, 4}, bAfter[4] = {0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(a, aAfter, sizeof a), 0);
  EXPECT_EQ(std::memcmp(b, bAfter, sizeof b), 0);
}

// ---- host-supplied memory ---------------------------------------------------------

TEST(BufferListExternal, AcceptsOnlyABlockAtLeastAsLarge) {
  const CAStreamBasicDescription stereo = Format(2);
  AUBufferList list;
  HostBlock before(10000);
  list.UseExternalBuffer(stereo, before.Offer());  // nothing allocated yet: ignored
  EXPECT_FALSE(list.HasExternalMemory());

  list.Allocate(stereo, 1156);  // 9248 bytes
  HostBlock small(9247);        // rounds down to 9232
  list.UseExternalBuffer(stereo, small.Offer());
  EXPECT_FALSE(list.HasExternalMemory());
  EXPECT_EQ(list.GetAllocatedBytes(), 9248u);

  HostBlock block(10000);
  list.UseExternalBuffer(stereo, block.Offer());
  ASSERT_TRUE(list.HasExternalMemory());
  EXPECT_EQ(list.GetMemory(), block.data);
  EXPECT_EQ(list.GetAllocatedBytes(), 10000u);
  // The most frames whose 16-byte strides fit: 2 x 4992 bytes (1250 frames
  // would put the second stream's end 16 bytes past the block).
  EXPECT_EQ(list.GetAllocatedFrames(), 1248u);
  AudioBufferList& abl = list.PrepareBuffer(stereo, 1248);
  EXPECT_EQ(abl.mBuffers[0].mData, block.data);
  EXPECT_LE(Address(abl.mBuffers[1].mData) + abl.mBuffers[1].mDataByteSize, Address(block.data) + 10000);
  for (UInt32 k = 0; k < 2; ++k) std::memset(abl.mBuffers[k].mData, 0, abl.mBuffers[k].mDataByteSize);
}

TEST(BufferListExternal, UnusableBlocksAreIgnored) {
  const CAStreamBasicDescription stereo = Format(2);
  AUBufferList list;
  list.Allocate(stereo, 1156);
  const Byte* own = list.GetMemory();
  HostBlock block(20000);
  CAStreamBasicDescription noChannels = Format(0);

  const std::pair<const char*, AudioUnitExternalBuffer> offers[] = {
      {"null block", {nullptr, 20000}},
      {"off the 16-byte grid", block.Offer(8)},
  };
  for (const auto& [name, offer] : offers) {
    SCOPED_TRACE(name);
    list.UseExternalBuffer(stereo, offer);
    EXPECT_EQ(list.GetMemory(), own);
  }
  list.UseExternalBuffer(noChannels, block.Offer());  // nothing to lay out
  EXPECT_EQ(list.GetMemory(), own);
}

TEST(BufferListExternal, HostBlockIsNeverFreedAndGrowthTakesOwnMemory) {
  const CAStreamBasicDescription stereo = Format(2);
  HostBlock first(10000), second(12000);
  {
    AUBufferList list;
    list.Allocate(stereo, 1156);
    list.PrepareBuffer(stereo, 64);
    list.UseExternalBuffer(stereo, first.Offer());
    // The prepared pointers went with the old block.
    EXPECT_EQ(list.GetPtrState(), AUBufferList::kPtrsInvalid);

    list.UseExternalBuffer(stereo, second.Offer());  // the first block is let go
    EXPECT_EQ(list.GetMemory(), second.data);

    list.Allocate(stereo, 1000);  // fits the host block: kept
    EXPECT_EQ(list.GetMemory(), second.data);
    EXPECT_TRUE(list.HasExternalMemory());

    list.Allocate(stereo, 2048);  // too big for it: a block of our own
    EXPECT_FALSE(list.HasExternalMemory());
    EXPECT_NE(list.GetMemory(), second.data);
    EXPECT_EQ(list.GetAllocatedBytes(), 16384u);

    list.UseExternalBuffer(stereo, second.Offer());  // smaller than now: ignored
    EXPECT_FALSE(list.HasExternalMemory());
  }
  {
    AUBufferList list;
    list.Allocate(stereo, 1156);
    list.UseExternalBuffer(stereo, first.Offer());
    list.Deallocate();  // only lets the host block go
    EXPECT_FALSE(list.HasExternalMemory());
    EXPECT_EQ(list.GetMemory(), nullptr);
  }
  // The sanitizer build reports any free of the host blocks by the lists.
  std::memset(first.data, 0, first.size);
  std::memset(second.data, 0, second.size);
}
