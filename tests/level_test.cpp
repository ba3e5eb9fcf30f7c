#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "effect/KestSelection.h"
#include "effect/ModulationState.h"

namespace {

// Puts the modulation state into a known, recognisable condition.
void ResetState(int32_t preset, int32_t mode = 7, float gain = 1.25f, double cutoff = 3.5) {
  kPresetDefaultIndexX.store(preset);
  testX.store(mode);
  gainX.store(gain);
  cutoffX.store(cutoff);
}

// ---- level to factors -------------------------------------------------------

struct MappingCase {
  double level;
  float gain;
  double cutoff;
};

class Mapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(Mapping, BothEntryPointsGiveTheSameBitExactFactors) {
  const MappingCase c = GetParam();
  for (auto map : {&setGainFrequency, &setGainFrequencyBS}) {
    ResetState(0, 5);
    map(c.level);
    EXPECT_EQ(gainX.load(), c.gain) << "level " << c.level;
    EXPECT_EQ(cutoffX.load(), c.cutoff) << "level " << c.level;
    EXPECT_EQ(testX.load(), 5) << "the mapping never touches the mode";
    // Mapping the same level again changes nothing.
    map(c.level);
    EXPECT_EQ(gainX.load(), c.gain);
    EXPECT_EQ(cutoffX.load(), c.cutoff);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, Mapping,
    ::testing::Values(MappingCase{7.5, 0.75f, 1.25},
                      MappingCase{25.0, 2.0f, 4.166666666666667},  // gain limited
                      MappingCase{100.0, 2.0f, 10.0},              // both limited
                      MappingCase{-5.0, -0.5f, -0.8333333333333334},  // no lower bound
                      // The level is narrowed to 32 bits before either division.
                      MappingCase{3.3, 0.32999998331069946f, 0.549999992052714},
                      MappingCase{0.1, 0.009999999776482582f, 0.016666666915019352},
                      MappingCase{0.0, 0.0f, 0.0},
                      // Limits are strictly greater: 20 and 60 land exactly on them.
                      MappingCase{20.0, 2.0f, 3.3333333333333335},
                      MappingCase{60.0, 2.0f, 10.0},
                      MappingCase{60.00001, 2.0f, 10.0},
                      // The gain factor is held at -2.0 from below, the
                      // cutoff factor is not (the kernel holds the cutoff).
                      MappingCase{-20.0, -2.0f, -3.3333333333333335},
                      MappingCase{-25.0, -2.0f, -4.166666666666667},
                      MappingCase{-3e38, -2.0f, static_cast<double>(-3e38f) / 6.0},
                      // The largest level that still narrows to a finite float.
                      MappingCase{3.4028234663852886e38, 2.0f, 10.0}));

// Levels whose nearest 32-bit float is not finite: NaN, the infinities, and
// finite levels beyond the float range (the bus, a levels file or an OSC
// double can carry -1e308).
TEST(MappingNonFinite, LeavesBothFactorsUnchanged) {
  for (double level : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity(), 1e300, -1e308, 3.5e38, -3.5e38}) {
    for (auto map : {&setGainFrequency, &setGainFrequencyBS}) {
      ResetState(0);
      map(level);
      EXPECT_EQ(gainX.load(), 1.25f) << level;
      EXPECT_EQ(cutoffX.load(), 3.5) << level;
    }
  }
}

// ---- key table and selection ----------------------------------------------------

TEST(KestKeys, BandKeysFollowTheirIndexRule) {
  EXPECT_STREQ(kKestKeyNames[0], "peakLV");
  EXPECT_STREQ(kKestKeyNames[1], "peakRV");
  EXPECT_STREQ(kKestKeyNames[2], "peakLF");
  EXPECT_STREQ(kKestKeyNames[3], "peakRF");
  const int channels[] = {0, 1, 4};
  for (int k = 0; k < 3; ++k) {
    for (int slot = 0; slot < 9; ++slot) {
      const int band = slot == 8 ? 0 : slot + 1;  // band 0 sits after band 8
      for (int m = 0; m < 2; ++m) {
        const std::string expected =
            "BS" + std::to_string(band) + (m == 0 ? "V" : "F") + std::to_string(channels[k]);
        const int index = 4 + 18 * k + 2 * slot + m;
        EXPECT_EQ(kKestKeyNames[index], expected) << index;
      }
    }
  }
}

struct SelectionCase {
  int32_t offset;
  int32_t preset;
  const char* key;  // null: the computed index lies outside the table
  double scale;
  int32_t mode;
};

class Selection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(Selection, PicksKeyScaleAndMode) {
  const SelectionCase c = GetParam();
  KestSelection s{-99, -99.0, -99};
  ASSERT_TRUE(SelectKest(c.offset, c.preset, &s));
  if (c.key == nullptr) {
    EXPECT_EQ(s.keyIndex, -1);
  } else {
    ASSERT_GE(s.keyIndex, 0);
    ASSERT_LT(s.keyIndex, kKestKeyCount);
    EXPECT_STREQ(kKestKeyNames[s.keyIndex], c.key);
  }
  EXPECT_EQ(s.scale, c.scale);
  EXPECT_EQ(s.mode, c.mode);
}

INSTANTIATE_TEST_SUITE_P(
    BandFamily, Selection,
    ::testing::Values(SelectionCase{6, 0, "BS7V0", 0.3, 0}, SelectionCase{6, 1, "BS7V0", 0.3, 1},
                      SelectionCase{6, 2, "BS7F0", 0.15, 0}, SelectionCase{6, 3, "BS7F0", 0.15, 1},
                      SelectionCase{6, 4, "BS7V1", 0.3, 0}, SelectionCase{6, 5, "BS7V1", 0.3, 1},
                      SelectionCase{6, 6, "BS7F1", 0.15, 0}, SelectionCase{6, 7, "BS7F1", 0.15, 1},
                      SelectionCase{6, 8, "BS7V4", 0.3, 0}, SelectionCase{6, 9, "BS7V4", 0.3, 1},
                      SelectionCase{6, 10, "BS7F4", 0.15, 0}, SelectionCase{6, 11, "BS7F4", 0.15, 1},
                      SelectionCase{0, 0, "BS1V0", 0.3, 0}, SelectionCase{7, 11, "BS8F4", 0.15, 1},
                      SelectionCase{3, 6, "BS4F1", 0.15, 0},
                      // Variant index 8 reaches the band-0 keys, 9 runs past them.
                      SelectionCase{8, 2, "BS0F0", 0.15, 0}, SelectionCase{8, 11, "BS0F4", 0.15, 1},
                      SelectionCase{9, 9, nullptr, 0.3, 1},
                      // Negative offsets are still the band family and still set the mode.
                      SelectionCase{-1, 0, "peakLF", 0.3, 0}, SelectionCase{-3, 1, nullptr, 0.3, 1},
                      SelectionCase{std::numeric_limits<int32_t>::min(), 10, nullptr, 0.15, 0}));

INSTANTIATE_TEST_SUITE_P(
    PeakFamily, Selection,
    ::testing::Values(SelectionCase{10, 0, "peakLV", 1.0, 0}, SelectionCase{10, 1, "peakLV", 0.15, 1},
                      SelectionCase{10, 2, "peakLF", 1.0, 0}, SelectionCase{10, 3, "peakLF", 0.15, 1},
                      SelectionCase{11, 0, "peakRV", 1.0, 0}, SelectionCase{11, 1, "peakRV", 0.15, 1},
                      SelectionCase{11, 2, "peakRF", 1.0, 0}, SelectionCase{11, 3, "peakRF", 0.15, 1},
                      // Larger variant indices walk into the band keys, then off the table.
                      SelectionCase{12, 2, "BS1V0", 1.0, 0}, SelectionCase{70, 1, nullptr, 0.15, 1},
                      SelectionCase{std::numeric_limits<int32_t>::max(), 3, nullptr, 0.15, 1}));

TEST(SelectionOutsideFamily, SelectsNothing) {
  struct {
    int32_t offset;
    int32_t preset;
  } cases[] = {{6, 12}, {6, -1}, {0, 100}, {9, 12}, {6, std::numeric_limits<int32_t>::min()},
               {10, 4}, {11, 4}, {10, -1}, {11, 11}, {12, std::numeric_limits<int32_t>::max()}};
  for (const auto& c : cases) {
    KestSelection s{};
    EXPECT_FALSE(SelectKest(c.offset, c.preset, &s)) << c.offset << "/" << c.preset;
  }
}

}  // namespace
