#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "utility/CAAudioChannelLayout.h"

namespace {

struct LayoutDeleter {
  void operator()(AudioChannelLayout* layout) const { CAAudioChannelLayout::Destroy(layout); }
};
using LayoutPtr = std::unique_ptr<AudioChannelLayout, LayoutDeleter>;

LayoutPtr Make(UInt32 descriptions) {
  LayoutPtr layout(CAAudioChannelLayout::Create(descriptions));
  EXPECT_NE(layout, nullptr);
  return layout;
}

AudioChannelDescription* Descriptions(AudioChannelLayout& layout) {
  return layout.mChannelDescriptions;
}

std::string Shown(const AudioChannelLayout* layout) {
  char* data = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&data, &size);
  CAShowAudioChannelLayout(stream, layout);
  std::fclose(stream);
  std::string text(data, size);
  std::free(data);
  return text;
}

TEST(ChannelLayout, ByteSizes) {
  struct Case {
    UInt32 n, size;
  };
  for (const Case c : {Case{0, 12}, Case{1, 32}, Case{2, 52}, Case{8, 172}}) {
    EXPECT_EQ(CAAudioChannelLayout::CalculateByteSize(c.n), c.size) << c.n;
  }
}

TEST(ChannelLayout, CreateMarksEveryChannelUnknown) {
  for (UInt32 n : {0u, 1u, 5u}) {
    SCOPED_TRACE(n);
    LayoutPtr layout = Make(n);
    EXPECT_EQ(layout->mChannelLayoutTag, kAudioChannelLayoutTag_UseChannelDescriptions);
    EXPECT_EQ(layout->mChannelBitmap, 0u);
    EXPECT_EQ(layout->mNumberChannelDescriptions, n);
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), n);
    for (UInt32 i = 0; i < n; ++i) {
      const AudioChannelDescription& d = Descriptions(*layout)[i];
      EXPECT_EQ(d.mChannelLabel, kAudioChannelLabel_Unknown);
      EXPECT_EQ(d.mChannelFlags, 0u);
      EXPECT_EQ(d.mCoordinates[0], 0.0f);
      EXPECT_EQ(d.mCoordinates[1], 0.0f);
      EXPECT_EQ(d.mCoordinates[2], 0.0f);
    }
  }
}

TEST(ChannelLayout, CreateRefusesCountsWhoseSizeWraps) {
  // 12 + 20 * n past 32 bits would leave a tiny block for n descriptions.
  EXPECT_EQ(CAAudioChannelLayout::Create(0x0CCCCCCDu), nullptr);
  EXPECT_EQ(CAAudioChannelLayout::Create(0xFFFFFFFFu), nullptr);
}

TEST(ChannelLayout, ChannelCountFollowsTag) {
  struct Case {
    const char* name;
    AudioChannelLayoutTag tag;
    AudioChannelBitmap bitmap;
    UInt32 descriptions, channels;
  };
  const Case cases[] = {
      {"predefined tag: low 16 bits", (101u << 16) | 2, 0xFF, 0, 2},
      {"predefined tag ignores descriptions", (100u << 16) | 1, 0, 3, 1},
      {"bitmap 0x3F", kAudioChannelLayoutTag_UseChannelBitmap, 0x3F, 0, 6},
      {"bitmap ignores descriptions", kAudioChannelLayoutTag_UseChannelBitmap, 0x80000001u, 3, 2},
      {"empty bitmap", kAudioChannelLayoutTag_UseChannelBitmap, 0, 0, 0},
      {"descriptions whatever the bitmap", kAudioChannelLayoutTag_UseChannelDescriptions, 0xFF, 3,
       3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LayoutPtr layout = Make(c.descriptions);
    layout->mChannelLayoutTag = c.tag;
    layout->mChannelBitmap = c.bitmap;
    EXPECT_EQ(CAAudioChannelLayout::NumberChannels(*layout), c.channels);
  }
}

TEST(ChannelLayout, CountOnesAgreesWithPopcount) {
  UInt32 x = 0x9E3779B9u;
  for (int i = 0; i < 2000; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    ASSERT_EQ(CAAudioChannelLayout::CountOnes(x), static_cast<UInt32>(std::popcount(x))) << x;
  }
  for (UInt32 v : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x55555555u, 0xAAAAAAAAu, 0x0F0F0F0Fu}) {
    EXPECT_EQ(CAAudioChannelLayout::CountOnes(v), static_cast<UInt32>(std::popcount(v))) << v;
  }
}

TEST(ChannelLayout, EqualityComparesWholeRecord) {
  struct Case {
    const char* name;
    void (*edit)(AudioChannelLayout&);
    bool equal;
  };
  const Case cases[] = {
      {"untouched", [](AudioChannelLayout&) {}, true},
      {"last coordinate", [](AudioChannelLayout& l) { Descriptions(l)[2].mCoordinates[2] = 1.0f; },
       false},
      {"first label", [](AudioChannelLayout& l) { Descriptions(l)[0].mChannelLabel = 1; }, false},
      {"flags", [](AudioChannelLayout& l) { Descriptions(l)[1].mChannelFlags = 2; }, false},
      {"bitmap ignored by tag still counts", [](AudioChannelLayout& l) { l.mChannelBitmap = 1; },
       false},
      {"tag", [](AudioChannelLayout& l) { l.mChannelLayoutTag = (101u << 16) | 3; }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LayoutPtr a = Make(3);
    LayoutPtr b = Make(3);
    c.edit(*b);
    EXPECT_EQ(*a == *b, c.equal);
    EXPECT_EQ(*b == *a, c.equal);
  }
}

TEST(ChannelLayout, DifferentCountsUnequalWithoutReadingPastTheShorter) {
  // Each block is exactly its own size, so a read beyond the 12-byte one is caught.
  LayoutPtr none = Make(0);
  LayoutPtr two = Make(2);
  EXPECT_FALSE(*none == *two);
  EXPECT_FALSE(*two == *none);
  LayoutPtr other = Make(0);
  EXPECT_TRUE(*none == *other);
}

TEST(ChannelLayout, PrintedText) {
  EXPECT_EQ(Shown(nullptr), "\tNULL layout\n");

  LayoutPtr bitmap = Make(2);
  bitmap->mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelBitmap;
  bitmap->mChannelBitmap = 0x3F;
  EXPECT_EQ(Shown(bitmap.get()), "\tTag=0x10000, Using Bitmap:0x3F\n");

  LayoutPtr predefined = Make(0);
  predefined->mChannelLayoutTag = (101u << 16) | 2;
  EXPECT_EQ(Shown(predefined.get()), "\tTag=0x650002, Num Chan Descs=0\n");

  LayoutPtr described = Make(2);
  Descriptions(*described)[1] = AudioChannelDescription{3, 0x1A, {30.0f, -15.5f, 2.0f}};
  EXPECT_EQ(Shown(described.get()),
            "\tTag=0x0, Num Chan Descs=2\n"
            "\t\tLabel=-1, Flags=0x0, [az=0.000000,el=0.000000,dist=0.000000]\n"
            "\t\tLabel=3, Flags=0x1A, [az=30.000000,el=-15.500000,dist=2.000000]\n");
}

}  // namespace
