#include "tools/qelvo/DemoRender.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "effect/FilterConstants.h"
#include "effect/ModulationReport.h"
#include "platform/AudioUnitHost.h"
#include "tools/qelvo/NumberText.h"
#include "tools/qelvo/ToolError.h"
#include "tools/qelvo/UnitResponse.h"

namespace {

// Spectrogram: 46 ms windows every 12 ms; level: 100 ms windows every 25 ms.
constexpr int kSpectrumWindow = 2048, kSpectrumHop = 512;
constexpr double kLevelWindowSeconds = 0.1, kLevelHopSeconds = 0.025;
// Most curves in the response band; the lowest and highest cutoff always among them.
constexpr size_t kBandCurves = 200;

class MemorySource : public RenderSource {
 public:
  explicit MemorySource(const std::vector<std::vector<float>>& channels) : channels_(channels) {}
  size_t Read(float* const* out, size_t frames) override {
    const size_t n = std::min(frames, channels_[0].size() - position_);
    for (size_t c = 0; c < channels_.size(); ++c)
      std::memcpy(out[c], channels_[c].data() + position_, n * sizeof(float));
    position_ += n;
    return n;
  }

 private:
  const std::vector<std::vector<float>>& channels_;
  size_t position_ = 0;
};

// Passes the slices on, keeps the left channel, and reads the unit's
// modulation report after each slice: the render loop delivers a slice's
// levels before rendering it and the kernel reads the factors once per
// render call, so the report then holds what that slice was rendered with.
class ReportingSink : public RenderSink {
 public:
  ReportingSink(const PluginInstance& unit, double sampleRate, RenderSink& out)
      : unit_(unit), sampleRate_(sampleRate), out_(out) {}
  void Write(const float* const* channels, size_t frames) override {
    out_.Write(channels, frames);
    left_.insert(left_.end(), channels[0], channels[0] + frames);
    ModulationReport report{};
    UInt32 size = sizeof report;
    const OSStatus status =
        AudioUnitGetProperty(unit_.Unit(), kModulationReportPropertyID, kAudioUnitScope_Global, 0, &report, &size);
    if (status != noErr || size != sizeof report)
      throw ToolError(unit_.Name() + " does not answer its modulation report (status " + std::to_string(status) + ")");
    times_.push_back(static_cast<double>(frames_) / sampleRate_);
    reports_.push_back(report);
    frames_ += frames;
  }
  const std::vector<double>& Times() const { return times_; }
  const std::vector<ModulationReport>& Reports() const { return reports_; }
  std::vector<float>& Left() { return left_; }

 private:
  const PluginInstance& unit_;
  double sampleRate_;
  RenderSink& out_;
  std::vector<float> left_;
  std::vector<double> times_;
  std::vector<ModulationReport> reports_;
  size_t frames_ = 0;
};

// Appends a step only where the value changes.
void AddStep(StepSeries& s, double time, double value) {
  if (!s.values.empty() && s.values.back() == value) return;
  s.times.push_back(time);
  s.values.push_back(value);
}

// The cutoff a filter-mode kernel renders with: parameter x (factor + 0.1),
// raised to the 12 Hz minimum, normalised against the rate narrowed to 32
// bits and kept at or below 0.99 of half of it.
double AppliedCutoffHz(double parameter, double factor, double sampleRate) {
  double cutoff = parameter * (factor + 0.1);
  if (kMinCutoffHz > cutoff) cutoff = kMinCutoffHz;
  const double rate = static_cast<float>(sampleRate);
  double normalised = (cutoff + cutoff) / rate;
  if (normalised > 0.99) normalised = 0.99;
  return normalised * rate / 2.0;
}

// The distinct values of a series, lowest first, thinned to at most count
// spread evenly through them; the lowest and the highest always stay.
std::vector<double> SpreadValues(const StepSeries& s, size_t count) {
  std::vector<double> v = s.values;
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  if (v.size() <= count || count < 2) return v;
  std::vector<double> picked;
  for (size_t i = 0; i < count; ++i) picked.push_back(v[i * (v.size() - 1) / (count - 1)]);
  return picked;
}

}  // namespace

PictureRender RenderForPicture(const PictureRenderSetup& setup, const std::vector<std::vector<float>>& input,
                               const std::vector<LevelEvent>& levels, RenderSink& out) {
  const int channels = static_cast<int>(input.size());
  PictureRender r;
  PluginInstance unit(setup.plugin);
  unit.SetFormat(setup.sampleRate, static_cast<UInt32>(channels));
  unit.SetMaximumFramesPerSlice(setup.block);
  r.preset = ResolvePreset(unit.FactoryPresets(), std::to_string(setup.preset), unit.Name());
  unit.SelectFactoryPreset(r.preset);
  unit.Initialize();
  const std::optional<PresetMeasure> measure = FollowedMeasure(unit, r.preset);
  if (!measure) throw ToolError(unit.Name() + " does not say which measure preset " + r.preset.name + " follows");
  r.measure = *measure;
  r.unitName = unit.Name();

  MemorySource source(input);
  ReportingSink sink(unit, setup.sampleRate, out);
  RenderLoopOptions loop;
  loop.block = setup.block;
  loop.levels = &levels;
  r.stats = RunRenderLoop(unit, setup.sampleRate, channels, source, sink, loop, measure->symbol);

  RenderPicture& p = r.picture;
  const bool filter = measure->filterMode;
  const double cutoffParameter = unit.GetParameter(kParam_CutoffFrequency);
  p.duration = static_cast<double>(input[0].size()) / setup.sampleRate;
  p.title = unit.Name() + ", preset " + std::to_string(r.preset.number) + " \"" + r.preset.name + "\": " +
            measure->symbol + " drives the " + (filter ? "cutoff" : "gain");
  p.levelLabel = "level of " + measure->symbol + " as posted by the analyser";
  for (const LevelEvent& e : levels) {
    if (e.symbol != measure->symbol) continue;
    p.level.times.push_back(e.time);
    p.level.values.push_back(e.level);
  }
  const std::string scale = ShortestText(measure->scale);
  p.factorLabel = filter ? "cutoff factor the unit applied (level x " + scale +
                               " / 6, at most 10); cutoff = " + ShortestText(cutoffParameter) + " Hz x (factor + 0.1)"
                         : "gain factor the unit applied (level x " + scale +
                               " / 10, at most 2); output = input x Gain x factor";
  for (size_t i = 0; i < sink.Reports().size(); ++i) {
    const ModulationReport& m = sink.Reports()[i];
    AddStep(p.factor, sink.Times()[i], filter ? m.mCutoffFactor : static_cast<double>(m.mGainFactor));
    if (filter) AddStep(p.appliedCutoff, sink.Times()[i], AppliedCutoffHz(cutoffParameter, m.mCutoffFactor, setup.sampleRate));
  }

  p.spectrogram = ComputeSpectrogram(sink.Left(), setup.sampleRate, kSpectrumWindow, kSpectrumHop);
  const int levelWindow = static_cast<int>(std::lround(kLevelWindowSeconds * setup.sampleRate));
  const int levelHop = static_cast<int>(std::lround(kLevelHopSeconds * setup.sampleRate));
  if (!filter) {
    p.outputLevel = ComputeLevelTrack(sink.Left(), setup.sampleRate, levelWindow, levelHop);
    p.inputLevel = ComputeLevelTrack(input[0], setup.sampleRate, levelWindow, levelHop);
  }
  p.response = UnitResponseCurve(unit, setup.sampleRate);
  if (filter)
    p.appliedResponses = UnitResponseCurves(unit, setup.sampleRate, SpreadValues(p.appliedCutoff, kBandCurves));
  else
    p.response.label += " (gain mode leaves the filter out)";
  r.left = std::move(sink.Left());
  return r;
}
