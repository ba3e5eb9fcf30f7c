// qelvo info [NAME]: what is installed, and what one deliverable offers.
#include <cmath>
#include <cstdio>

#include "effect/ModulationReport.h"
#include "platform/AudioUnitHost.h"
#include "platform/BundleManifest.h"
#include "tools/qelvo/Commands.h"
#include "tools/qelvo/LevelNotifications.h"
#include "tools/qelvo/ParameterText.h"
#include "tools/qelvo/UnitResponse.h"
#include "tools/qelvo/Pictures.h"
#include "tools/qelvo/PluginCatalog.h"
#include "tools/qelvo/ToolError.h"

namespace {

std::string VersionText(UInt32 v) {
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

std::string FamilyText(int variant) {
  if (variant == 10) return "left peak";
  if (variant == 11) return "right peak";
  return "band " + std::to_string(variant + 1);
}

template <class T>
bool ReadProperty(AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope, T* value) {
  const std::optional<T> read = ReadUnitProperty<T>(unit, id, scope);
  if (read) *value = *read;
  return read.has_value();
}

int ListInstalled() {
  const std::vector<InstalledPlugin> plugins = InstalledPlugins();
  if (plugins.empty()) {
    std::printf("No plug-ins are installed. Searched:\n");
    for (const std::string& dir : QelvoComponentSearchPath()) std::printf("  %s\n", dir.c_str());
    std::printf("(%s adds directories in front.)\n", kQelvoPluginPathVariable);
  } else {
    std::printf("%-18s %-38s %-16s %s\n", "NAME", "IDENTIFIER", "TYPE", "BUNDLE");
    for (const InstalledPlugin& p : plugins) {
      const std::string codes = FourCharCodeText(p.description.componentType) + "/" +
                                FourCharCodeText(p.description.componentSubType) + "/" +
                                FourCharCodeText(p.description.componentManufacturer);
      std::printf("%-18s %-38s %-16s %s\n", p.name.c_str(), p.identifier.c_str(), codes.c_str(), p.path.c_str());
    }
  }
  for (const std::string& problem : QelvoComponentScanProblems()) std::printf("skipped: %s\n", problem.c_str());
  return kExitOk;
}

}  // namespace

int RunInfoCommand(const InfoOptions& options) {
  DetachFromBus();
  if (options.plugin.empty()) {
    if (options.response || !options.responsePicture.empty())
      throw UsageError("--response needs a plug-in name: qelvo info NAME --response");
    return ListInstalled();
  }
  if (!(options.sampleRate >= 8000 && options.sampleRate <= 384000))
    throw UsageError("--rate must be between 8000 and 384000 Hz");

  PluginInstance unit(options.plugin);
  unit.SetFormat(options.sampleRate, 2);
  unit.Initialize();
  AudioUnit au = unit.Unit();

  const UInt32 responseID = unit.FrequencyResponsePropertyID();
  const std::optional<int> variant = unit.VariantIndex();
  std::printf("%s, version %s\n", unit.Name().c_str(), VersionText(static_cast<UInt32>(GetComponentVersion(au))).c_str());
  if (variant) std::printf("Follows the %s measures.\n", FamilyText(*variant).c_str());

  std::printf("\nPresets (a preset picks the measure followed and what its level drives):\n");
  for (const PresetDescription& p : unit.FactoryPresets()) {
    std::printf("  %2d  %-24s", p.number, p.name.c_str());
    if (const auto m = variant ? MeasureForPreset(*variant, p.number) : std::nullopt)
      std::printf("  follows %-6s  level x %-4g  %s", m->symbol.c_str(), m->scale,
                  m->filterMode ? "drives the cutoff (filter mode)" : "drives the gain (gain mode)");
    std::printf("\n");
  }

  std::printf("\nParameters (at %g Hz):\n", options.sampleRate);
  for (const ParameterDescription& p : unit.Parameters()) {
    const std::string label = UnitLabel(p.info);
    std::printf("  %u  %-18s %s to %s%s, default %s, now %s\n", p.id, p.name.c_str(),
                ParameterValueText(au, p.id, p.info.minValue).c_str(), ParameterValueText(au, p.id, p.info.maxValue).c_str(),
                label.empty() ? "" : (" " + label).c_str(), ParameterValueText(au, p.id, p.info.defaultValue).c_str(),
                ParameterValueText(au, p.id, unit.GetParameter(p.id)).c_str());
  }

  std::printf("\nProperties:\n");
  Float64 latency = 0, tail = 0;
  UInt32 maxFrames = 0, inPlace = 0, bypass = 0;
  AudioStreamBasicDescription format{};
  if (ReadProperty(au, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, &format))
    std::printf("  stream format          %u ch, %g Hz, %u-bit %s\n", format.mChannelsPerFrame, format.mSampleRate,
                format.mBitsPerChannel,
                (format.mFormatFlags & kAudioFormatFlagIsFloat) != 0 ? "float" : "integer");
  if (ReadProperty(au, kAudioUnitProperty_Latency, kAudioUnitScope_Global, &latency))
    std::printf("  latency                %g s\n", latency);
  if (ReadProperty(au, kAudioUnitProperty_TailTime, kAudioUnitScope_Global, &tail))
    std::printf("  tail time              %g s\n", tail);
  if (ReadProperty(au, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, &maxFrames))
    std::printf("  maximum frames/slice   %u\n", maxFrames);
  if (ReadProperty(au, kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global, &inPlace))
    std::printf("  in-place processing    %s\n", inPlace != 0 ? "on" : "off");
  if (ReadProperty(au, kAudioUnitProperty_BypassEffect, kAudioUnitScope_Global, &bypass))
    std::printf("  bypass                 %s\n", bypass != 0 ? "on" : "off");
  if (responseID != 0) std::printf("  frequency response     property %u, 512 points\n", responseID);
  ModulationReport report{};
  if (ReadProperty(au, kModulationReportPropertyID, kAudioUnitScope_Global, &report))
    std::printf("  modulation report      property %u: level %g, gain factor %g, cutoff factor %g, %s mode\n",
                kModulationReportPropertyID, report.mLevel, report.mGainFactor, report.mCutoffFactor,
                report.mFilterMode != 0 ? "filter" : "gain");
  UInt32 size = 0;
  Boolean writable = false;
  if (AudioUnitGetPropertyInfo(au, kAudioUnitProperty_SupportedNumChannels, kAudioUnitScope_Global, 0, &size, &writable) == noErr &&
      size >= sizeof(AUChannelInfo)) {
    std::vector<AUChannelInfo> channels(size / sizeof(AUChannelInfo));
    if (AudioUnitGetProperty(au, kAudioUnitProperty_SupportedNumChannels, kAudioUnitScope_Global, 0, channels.data(), &size) == noErr) {
      std::printf("  channels (in/out)     ");
      for (const AUChannelInfo& c : channels) std::printf(" %d/%d", c.inChannels, c.outChannels);
      std::printf("  (-1: any, the same on both sides)\n");
    }
  }

  if (options.response || !options.responsePicture.empty()) {
    const ResponseCurve curve = UnitResponseCurve(unit, options.sampleRate);
    if (options.response) {
      std::printf("\nFrequency response (%s):\n%14s %14s %10s\n", curve.label.c_str(), "frequency_hz", "magnitude", "db");
      for (size_t i = 0; i < curve.frequencies.size(); ++i)
        std::printf("%14.3f %14.8f %10.3f\n", curve.frequencies[i], curve.magnitudes[i],
                    20 * std::log10(std::max(curve.magnitudes[i], 1e-12)));
    }
    if (!options.responsePicture.empty()) {
      DrawResponsePicture(curve, unit.Name() + " at " + std::to_string(static_cast<int>(options.sampleRate)) + " Hz",
                          options.responsePicture);
      std::printf("\nfrequency response drawn into %s\n", options.responsePicture.c_str());
    }
  }
  return kExitOk;
}
