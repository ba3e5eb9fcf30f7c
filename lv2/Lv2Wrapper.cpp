// The LV2 face of one deliverable: a host of the native unit. It opens the
// unit through the component loader, feeds it the LV2 input ports through a
// render callback and renders into the LV2 output ports. Built once per
// deliverable with QELVO_LV2_NAME defined and its own values linked in.
//
// Threads as LV2 names them: instantiation functions (instantiate, activate,
// cleanup) are [control], audio functions (connect_port, run) [render], the
// host's worker thread [control]; states: instantiated (instantiate to
// cleanup), active (activate on). The preset and bypass thread of hosts
// without a worker is lv2/Lv2Control.cpp's.
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "effect/FilterPresets.h"
#include "effect/ModulationReport.h"
#include "lv2/Lv2Control.h"
#include "lv2/Lv2Log.h"
#include "lv2/Lv2Ports.h"
#include "platform/AudioTypes.h"
#include "platform/AudioUnitHost.h"
#include "platform/ComponentLoader.h"
#include "utility/CAStreamBasicDescription.h"

namespace {

constexpr uint32_t kMaxChannels = 2;

const std::string kStereoUri = std::string(kLv2UriBase) + QELVO_LV2_NAME;
const std::string kMonoUri = kStereoUri + kLv2MonoSuffix;

// [any] One instance's state; each function below says which thread uses what.
struct Lv2Instance {
  AudioUnit unit = nullptr;
  uint32_t channels = 0;
  double sampleRate = 0;
  uint32_t maxFrames = kLv2DefaultMaxFrames;
  int32_t presetCount = 1;

  const float* controls[kLv2ControlPortCount] = {};
  // Modulation outputs: mode, level, gain factor, cutoff factor.
  float* reportOut[kLv2ControlPortCount - kLv2PortMode] = {};
  float report[kLv2ControlPortCount - kLv2PortMode] = {};
  // Frames until the unit is asked again: meters need no more than 100 reads
  // a second, and a property call per short block would cost a tenth of the
  // filter's own work.
  int64_t framesToReport = 0;
  const float* audioIn[kMaxChannels] = {};
  float* audioOut[kMaxChannels] = {};

  // What the unit was last given per parameter port, so run() only passes
  // on changes.
  float given[kFilterParameterCount];
  // Preset and bypass: run() posts them, the host's worker or a shared
  // thread applies them.
  Lv2Control control;

  // Where the render callback reads this slice's input from.
  const float* sliceIn[kMaxChannels] = {};
  float* scratch[kMaxChannels] = {};  // silence when the host connected no input
  AudioTimeStamp timeStamp{};
  alignas(AudioBufferList) unsigned char outListBytes[AudioBufferListSize(kMaxChannels)] = {};

  AudioBufferList* OutList() { return reinterpret_cast<AudioBufferList*>(outListBytes); }
};

// [render; active] The unit's input callback, inside AudioUnitRender.
OSStatus FeedInput(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32 frames,
                   AudioBufferList* ioData) {
  auto* self = static_cast<Lv2Instance*>(refCon);
  const UInt32 buffers = std::min<UInt32>(ioData->mNumberBuffers, self->channels);
  for (UInt32 c = 0; c < buffers; ++c) {
    AudioBuffer& buffer = ioData->mBuffers[c];
    // The unit does not process in place (set up so), so it only reads what
    // it is handed: the host's port itself, no copy.
    if (const float* source = self->sliceIn[c]; source != nullptr) {
      buffer.mData = const_cast<float*>(source);
    } else {
      if (buffer.mData == nullptr) buffer.mData = self->scratch[c];
      std::memset(buffer.mData, 0, frames * sizeof(float));
    }
    buffer.mDataByteSize = frames * sizeof(float);
  }
  return noErr;
}

// [control] The host's worker, when it offers one.
const LV2_Worker_Schedule* HostWorker(const LV2_Feature* const* features) {
  for (int i = 0; features != nullptr && features[i] != nullptr; ++i)
    if (std::strcmp(features[i]->URI, LV2_WORKER__schedule) == 0)
      return static_cast<const LV2_Worker_Schedule*>(features[i]->data);
  return nullptr;
}

// [control]
uint32_t HostMaxBlockLength(const LV2_Feature* const* features) {
  const LV2_URID_Map* map = nullptr;
  const LV2_Options_Option* options = nullptr;
  for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
    if (std::strcmp(features[i]->URI, LV2_URID__map) == 0) map = static_cast<const LV2_URID_Map*>(features[i]->data);
    if (std::strcmp(features[i]->URI, LV2_OPTIONS__options) == 0)
      options = static_cast<const LV2_Options_Option*>(features[i]->data);
  }
  if (map == nullptr || options == nullptr) return kLv2DefaultMaxFrames;
  const LV2_URID maxBlock = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
  const LV2_URID intType = map->map(map->handle, "http://lv2plug.in/ns/ext/atom#Int");
  for (const LV2_Options_Option* o = options; o->key != 0; ++o) {
    if (o->key == maxBlock && o->type == intType && o->size == sizeof(int32_t)) {
      const int32_t frames = *static_cast<const int32_t*>(o->value);
      if (frames > 0) return static_cast<uint32_t>(frames);
    }
  }
  return kLv2DefaultMaxFrames;
}

// [control]
bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// [control] The native unit: the copy an installed LV2 bundle carries, so the bundle
// works wherever it is copied and never runs a unit of another build; else
// (a build tree) the loader's search path. Answers why when it fails.
std::string OpenUnit(const char* bundlePath, AudioUnit* unit) {
  const std::string name = QELVO_LV2_NAME;
  std::string own;
  if (bundlePath != nullptr && bundlePath[0] != '\0') {
    own = bundlePath;
    if (own.back() != '/') own += '/';
    own += name + ".bundle";
  }
  Component component = nullptr;
  if (!own.empty() && IsDirectory(own)) {
    component = QelvoComponentAtPath(own.c_str());
    if (component == nullptr) return "unreadable native unit: " + QelvoComponentLoaderLastError();
  } else {
    component = QelvoFindComponent(name.c_str());
    if (component == nullptr) {
      std::string why = "no native unit " + name + ".bundle in " + (own.empty() ? "the LV2 bundle" : own) +
                        " nor on the search path:";
      for (const std::string& dir : QelvoComponentSearchPath()) why += " " + dir;
      return why + " (" + kQelvoPluginPathVariable + " adds folders)";
    }
  }
  const OSStatus status = OpenAComponent(component, unit);
  if (status != noErr)
    return "cannot open the native unit (status " + std::to_string(status) + "): " + QelvoComponentLoaderLastError();
  return {};
}

// [control] Answers what the unit refused, or nothing.
std::string SetUp(Lv2Instance* self) {
  const CAStreamBasicDescription format = CAStreamBasicDescription::Canonical(self->sampleRate, self->channels);
  auto refused = [](const char* what, OSStatus status) {
    return std::string("the native unit refused ") + what + " (status " + std::to_string(status) + ")";
  };
  for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
    if (OSStatus s = AudioUnitSetProperty(self->unit, kAudioUnitProperty_StreamFormat, scope, 0, &format,
                                          sizeof format);
        s != noErr)
      return refused("the stream format", s);
  }
  UInt32 maxFrames = self->maxFrames;
  if (OSStatus s = AudioUnitSetProperty(self->unit, kAudioUnitProperty_MaximumFramesPerSlice,
                                        kAudioUnitScope_Global, 0, &maxFrames, sizeof maxFrames);
      s != noErr)
    return refused("the maximum frames per slice", s);
  // Reading the input ports where they are and writing straight into the
  // output ports saves two copies per block; the ports may even be one buffer.
  UInt32 inPlace = 0;
  if (OSStatus s = AudioUnitSetProperty(self->unit, kAudioUnitProperty_InPlaceProcessing, kAudioUnitScope_Global,
                                        0, &inPlace, sizeof inPlace);
      s != noErr)
    return refused("in-place processing off", s);
  AURenderCallbackStruct callback{FeedInput, self};
  if (OSStatus s = AudioUnitSetProperty(self->unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                        &callback, sizeof callback);
      s != noErr)
    return refused("the render callback", s);
  if (OSStatus s = AudioUnitInitialize(self->unit); s != noErr) return refused("to initialize", s);
  return {};
}

// [control]
void Destroy(Lv2Instance* self) {
  self->control.Stop();
  if (self->unit != nullptr) {
    AudioUnitUninitialize(self->unit);
    CloseComponent(self->unit);
  }
  for (float* s : self->scratch) delete[] s;
  delete self;
}

// [control] Says why the plug-in cannot start and answers the null
// instance LV2 asks for. A host that uses the null instance anyway (Debian
// 12's lv2apply does) dies, but only after the reason is out: a placeholder
// that rendered silence would pass a failed start off as a finished render.
LV2_Handle FailedStart(Lv2Instance* self, const LV2_Feature* const* features, const std::string& why) {
  Lv2Log(features).Error(std::string(QELVO_LV2_NAME) + " (LV2): cannot start: " + why);
  if (self == nullptr) return nullptr;
  self->control.Stop();
  if (self->unit != nullptr) {
    CloseComponent(self->unit);
    self->unit = nullptr;
  }
  Destroy(self);
  return nullptr;
}

// [control] LV2 instantiate.
LV2_Handle Instantiate(const LV2_Descriptor* descriptor, double rate, const char* bundlePath,
                       const LV2_Feature* const* features) {
  auto* self = new (std::nothrow) Lv2Instance;
  if (self == nullptr) return FailedStart(nullptr, features, "out of memory");
  self->channels = kMonoUri == descriptor->URI ? 1 : 2;
  self->sampleRate = rate;
  self->maxFrames = HostMaxBlockLength(features);
  self->presetCount = static_cast<int32_t>(FilterPresets().size());
  std::fill(std::begin(self->given), std::end(self->given), NAN);
  if (!(rate > 0) || !std::isfinite(rate)) {
    char text[64];
    std::snprintf(text, sizeof text, "unusable sample rate %g", rate);
    return FailedStart(self, features, text);
  }
  try {
    for (uint32_t c = 0; c < self->channels; ++c) self->scratch[c] = new float[self->maxFrames]();
    if (std::string why = OpenUnit(bundlePath, &self->unit); !why.empty()) return FailedStart(self, features, why);
    if (std::string why = SetUp(self); !why.empty()) return FailedStart(self, features, why);
    self->control.Start(self->unit, HostWorker(features));
  } catch (const std::bad_alloc&) {
    return FailedStart(self, features, "out of memory");
  } catch (...) {
    // Nothing may unwind into a C host.
    return FailedStart(self, features, "unexpected error");
  }
  return self;
}

// [render; instantiated] LV2 connect_port: an audio function, never
// concurrent with run().
void ConnectPort(LV2_Handle handle, uint32_t port, void* data) {
  auto* self = static_cast<Lv2Instance*>(handle);
  if (port < kLv2ControlPortCount) {
    if (port >= kLv2PortMode) {
      self->reportOut[port - kLv2PortMode] = static_cast<float*>(data);
    } else {
      self->controls[port] = static_cast<const float*>(data);
    }
    return;
  }
  const uint32_t audio = port - kLv2FirstAudioPort;
  if (audio < self->channels) {
    self->audioIn[audio] = static_cast<const float*>(data);
  } else if (audio < 2 * self->channels) {
    self->audioOut[audio - self->channels] = static_cast<float*>(data);
  }
}

// [render] or [control; activating]: the preset and enabled ports.
float Control(const Lv2Instance* self, uint32_t port, float fallback) {
  const float* p = self->controls[port];
  return p != nullptr && std::isfinite(*p) ? *p : fallback;
}

// [render] or [control; activating].
int32_t WantedPreset(const Lv2Instance* self) {
  const float preset = Control(self, kLv2PortPreset, 0.0f);
  return std::clamp(static_cast<int32_t>(std::lround(preset)), 0, self->presetCount - 1);
}

// [render] or [control; activating].
bool WantedBypass(const Lv2Instance* self) { return !(Control(self, kLv2PortEnabled, 1.0f) > 0.5f); }

// [control; instantiated] LV2 activate.
void Activate(LV2_Handle handle) {
  auto* self = static_cast<Lv2Instance*>(handle);
  self->timeStamp = AudioTimeStamp{};
  self->timeStamp.mFlags = kAudioTimeStampSampleTimeValid;
  self->framesToReport = 0;  // the first block reads the unit
  // Not a real-time call: the first block already runs with the chosen preset.
  self->control.ResetAndApplyNow(WantedPreset(self), WantedBypass(self));
}

// [render; active] Passes a parameter port on when it changed.
void SetParameter(Lv2Instance* self, AudioUnitParameterID id, float value, float& last) {
  if (value == last) return;
  if (AudioUnitSetParameter(self->unit, id, kAudioUnitScope_Global, 0, value, 0) == noErr) last = value;
}

// [render; active]
void PassParameters(Lv2Instance* self) {
  for (uint32_t port = 0; port < kFilterParameterCount; ++port) {
    const FilterParameter& parameter = kFilterParameters[port];
    SetParameter(self, parameter.id, Lv2ParameterValue(parameter, self->controls[port], self->sampleRate),
                 self->given[port]);
  }
}

// [render; active]
void RenderSlice(Lv2Instance* self, uint32_t offset, uint32_t frames) {
  AudioBufferList* list = self->OutList();
  list->mNumberBuffers = self->channels;
  for (uint32_t c = 0; c < self->channels; ++c) {
    self->sliceIn[c] = self->audioIn[c] != nullptr ? self->audioIn[c] + offset : nullptr;
    list->mBuffers[c].mNumberChannels = 1;
    list->mBuffers[c].mDataByteSize = frames * sizeof(float);
    list->mBuffers[c].mData = self->audioOut[c] + offset;
  }
  AudioUnitRenderActionFlags flags = 0;
  const OSStatus status = AudioUnitRender(self->unit, &flags, &self->timeStamp, 0, frames, list);
  for (uint32_t c = 0; c < self->channels; ++c) {
    float* out = self->audioOut[c] + offset;
    if (status != noErr) {
      std::memset(out, 0, frames * sizeof(float));
    } else if (list->mBuffers[c].mData != out) {
      // The unit answered with its own buffers.
      std::memcpy(out, list->mBuffers[c].mData, frames * sizeof(float));
    }
  }
  self->timeStamp.mSampleTime += frames;
}

// [render; active] The unit's own account of the modulation; the read only
// loads atomics.
void WriteReport(Lv2Instance* self, uint32_t frames) {
  self->framesToReport -= frames;
  ModulationReport report{};
  UInt32 size = sizeof report;
  if (self->framesToReport <= 0 &&
      AudioUnitGetProperty(self->unit, kModulationReportPropertyID, kAudioUnitScope_Global, 0, &report, &size) ==
          noErr &&
      size == sizeof report) {
    self->framesToReport = static_cast<int64_t>(self->sampleRate / 100);
    const float values[] = {static_cast<float>(report.mFilterMode), static_cast<float>(report.mLevel),
                            report.mGainFactor, static_cast<float>(report.mCutoffFactor)};
    std::copy(std::begin(values), std::end(values), self->report);
  }
  // Every block: the host may have moved the ports.
  for (size_t i = 0; i < std::size(self->report); ++i)
    if (self->reportOut[i] != nullptr) *self->reportOut[i] = self->report[i];
}

// [render; active] LV2 run.
void Run(LV2_Handle handle, uint32_t frames) {
  auto* self = static_cast<Lv2Instance*>(handle);
  for (uint32_t c = 0; c < self->channels; ++c) {
    if (self->audioOut[c] == nullptr) return;
  }
  PassParameters(self);
  self->control.Post(WantedPreset(self), WantedBypass(self));
  for (uint32_t done = 0; done < frames;) {
    const uint32_t slice = std::min(frames - done, self->maxFrames);
    RenderSlice(self, done, slice);
    done += slice;
  }
  WriteReport(self, frames);
}

// [control; instantiated] LV2 cleanup.
void Cleanup(LV2_Handle handle) { Destroy(static_cast<Lv2Instance*>(handle)); }

// [control] The host's worker thread: applies the preset and bypass that
// run() asked for.
LV2_Worker_Status Work(LV2_Handle handle, LV2_Worker_Respond_Function, LV2_Worker_Respond_Handle, uint32_t,
                       const void*) {
  static_cast<Lv2Instance*>(handle)->control.Work();
  return LV2_WORKER_SUCCESS;
}

// [render; active] Nothing comes back: the outputs read the unit itself.
LV2_Worker_Status WorkResponse(LV2_Handle, uint32_t, const void*) { return LV2_WORKER_SUCCESS; }

const LV2_Worker_Interface kWorker = {Work, WorkResponse, nullptr};

// [any] LV2 extension_data.
const void* ExtensionData(const char* uri) {
  return uri != nullptr && std::strcmp(uri, LV2_WORKER__interface) == 0 ? &kWorker : nullptr;
}

const LV2_Descriptor kDescriptors[] = {
    {kStereoUri.c_str(), Instantiate, ConnectPort, Activate, Run, nullptr, Cleanup, ExtensionData},
    {kMonoUri.c_str(), Instantiate, ConnectPort, Activate, Run, nullptr, Cleanup, ExtensionData},
};

}  // namespace

// [any] The library's one export.
extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index < 2 ? &kDescriptors[index] : nullptr;
}
