#include "tools/qelvo/LiveGraph.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/qelvo/ToolError.h"

namespace {

constexpr uint32_t kTickMs = 50;

uint32_t PositionId(const std::string& name) {
  static const struct {
    const char* name;
    uint32_t id;
  } kPositions[] = {{"MONO", SPA_AUDIO_CHANNEL_MONO}, {"FL", SPA_AUDIO_CHANNEL_FL},   {"FR", SPA_AUDIO_CHANNEL_FR},
                    {"FC", SPA_AUDIO_CHANNEL_FC},     {"LFE", SPA_AUDIO_CHANNEL_LFE}, {"RL", SPA_AUDIO_CHANNEL_RL},
                    {"RR", SPA_AUDIO_CHANNEL_RR},     {"RC", SPA_AUDIO_CHANNEL_RC},   {"SL", SPA_AUDIO_CHANNEL_SL},
                    {"SR", SPA_AUDIO_CHANNEL_SR}};
  for (const auto& p : kPositions)
    if (name == p.name) return p.id;
  return SPA_AUDIO_CHANNEL_UNKNOWN;
}

std::string DictValue(const spa_dict* props, const char* key) {
  const char* v = props != nullptr ? spa_dict_lookup(props, key) : nullptr;
  return v != nullptr ? v : "";
}

uint64_t ParseUnsigned(const std::string& text) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  return end != nullptr && *end == '\0' && !text.empty() ? v : 0;
}

// Where the server would be, for the message when it is not there.
std::string ServerPlace() {
  const char* remote = std::getenv("PIPEWIRE_REMOTE");
  const char* runtime = std::getenv("PIPEWIRE_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string name = remote != nullptr && *remote != '\0' ? remote : "pipewire-0";
  if (!name.empty() && name[0] == '/') return name;
  if (runtime == nullptr || *runtime == '\0') return name + " (XDG_RUNTIME_DIR is not set)";
  return std::string(runtime) + "/" + name;
}

}  // namespace

struct LiveGraph::Impl {
  LiveGraphOptions options;
  pw_main_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_registry* registry = nullptr;
  spa_hook coreListener{}, registryListener{};
  pw_stream* input = nullptr;
  pw_stream* output = nullptr;
  spa_hook inputListener{}, outputListener{};
  spa_source* timer = nullptr;

  std::vector<GraphNode> nodes;
  int syncSeq = -1;
  bool synced = false;
  bool timedOut = false;
  std::string failure;
  uint32_t channels = 2;
  std::string inputWhat, outputWhat;

  LiveProcessor* processor = nullptr;
  std::function<void(const LiveGraphFormat&)> onFormat;
  std::function<bool()> tick;
  pw_stream_state inputState = PW_STREAM_STATE_UNCONNECTED;
  pw_stream_state outputState = PW_STREAM_STATE_UNCONNECTED;
  // Set on the main thread, read on the data thread.
  std::atomic<spa_io_position*> position{nullptr};

  ~Impl() {
    if (input != nullptr) pw_stream_destroy(input);
    if (output != nullptr) pw_stream_destroy(output);
    if (registry != nullptr) {
      spa_hook_remove(&registryListener);
      pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    }
    if (core != nullptr) {
      spa_hook_remove(&coreListener);
      pw_core_disconnect(core);
    }
    if (context != nullptr) pw_context_destroy(context);
    if (loop != nullptr) pw_main_loop_destroy(loop);
    pw_deinit();
  }

  void Fail(const std::string& why) {
    if (failure.empty()) failure = why;
    pw_main_loop_quit(loop);
  }

  // ---- server -------------------------------------------------------------------------------------

  static void OnCoreDone(void* data, uint32_t id, int seq) {
    auto* self = static_cast<Impl*>(data);
    if (id == PW_ID_CORE && seq == self->syncSeq) {
      self->synced = true;
      pw_main_loop_quit(self->loop);
    }
  }

  static void OnCoreError(void* data, uint32_t id, int, int res, const char* message) {
    auto* self = static_cast<Impl*>(data);
    // Errors of other objects arrive as their own events; this one is the link itself.
    if (id == PW_ID_CORE && res == -EPIPE)
      self->Fail(std::string("lost the connection to the PipeWire server: ") + (message ? message : spa_strerror(res)));
  }

  static void OnGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props) {
    auto* self = static_cast<Impl*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0) return;
    GraphNode n;
    n.id = id;
    n.serial = ParseUnsigned(DictValue(props, PW_KEY_OBJECT_SERIAL));
    n.name = DictValue(props, PW_KEY_NODE_NAME);
    n.description = DictValue(props, PW_KEY_NODE_DESCRIPTION);
    n.mediaClass = DictValue(props, PW_KEY_MEDIA_CLASS);
    n.channels = static_cast<uint32_t>(ParseUnsigned(DictValue(props, PW_KEY_AUDIO_CHANNELS)));
    self->nodes.push_back(std::move(n));
  }

  static void OnGlobalRemove(void* data, uint32_t id) {
    auto* self = static_cast<Impl*>(data);
    std::erase_if(self->nodes, [id](const GraphNode& n) { return n.id == id; });
  }

  static void OnTimer(void* data, uint64_t) {
    auto* self = static_cast<Impl*>(data);
    if (self->tick && !self->tick()) pw_main_loop_quit(self->loop);
  }

  void Connect() {
    pw_init(nullptr, nullptr);
    loop = pw_main_loop_new(nullptr);
    if (loop == nullptr) throw ToolError(std::string("cannot start a PipeWire loop: ") + std::strerror(errno));
    // The real-time client setup: the processing thread asks for real-time
    // scheduling, as players and the server's own threads do.
    context = pw_context_new(pw_main_loop_get_loop(loop), pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (context == nullptr) throw ToolError(std::string("cannot start a PipeWire context: ") + std::strerror(errno));
    core = pw_context_connect(context, nullptr, 0);
    if (core == nullptr) {
      const int error = errno;
      // The server's own word for a socket nobody listens on is "host is down".
      const std::string why = error == EHOSTDOWN || error == ENOENT || error == ECONNREFUSED ? "nothing listens there"
                                                                                          : std::strerror(error);
      throw ToolError("no PipeWire server at " + ServerPlace() + " (" + why +
                      "). On a desktop start it with\n  systemctl --user start pipewire wireplumber\n"
                      "and run the command again.");
    }
    static const pw_core_events coreEvents = [] {
      pw_core_events e{};
      e.version = PW_VERSION_CORE_EVENTS;
      e.done = &Impl::OnCoreDone;
      e.error = &Impl::OnCoreError;
      return e;
    }();
    pw_core_add_listener(core, &coreListener, &coreEvents, this);
    registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    static const pw_registry_events registryEvents = [] {
      pw_registry_events e{};
      e.version = PW_VERSION_REGISTRY_EVENTS;
      e.global = &Impl::OnGlobal;
      e.global_remove = &Impl::OnGlobalRemove;
      return e;
    }();
    pw_registry_add_listener(registry, &registryListener, &registryEvents, this);
    // The server lists every node before it answers the sync.
    syncSeq = pw_core_sync(core, PW_ID_CORE, 0);

    // A server that accepted the connection but never answers must not hang us.
    spa_source* deadline = pw_loop_add_timer(pw_main_loop_get_loop(loop), &Impl::OnDeadline, this);
    timespec value{static_cast<time_t>(options.answerTimeout),
                   static_cast<long>((options.answerTimeout - static_cast<double>(static_cast<time_t>(options.answerTimeout))) * 1e9)};
    pw_loop_update_timer(pw_main_loop_get_loop(loop), deadline, &value, nullptr, false);
    pw_main_loop_run(loop);
    pw_loop_destroy_source(pw_main_loop_get_loop(loop), deadline);
    if (!failure.empty()) throw ToolError(failure);
    if (!synced)
      throw ToolError("the PipeWire server at " + ServerPlace() + " did not answer within " +
                      std::to_string(static_cast<int>(options.answerTimeout)) + " s");
  }

  static void OnDeadline(void* data, uint64_t) {
    auto* self = static_cast<Impl*>(data);
    self->timedOut = true;
    pw_main_loop_quit(self->loop);
  }

  // ---- streams ------------------------------------------------------------------------------------

  static void OnStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error,
                             bool isInput) {
    auto* self = static_cast<Impl*>(data);
    (isInput ? self->inputState : self->outputState) = state;
    if (state == PW_STREAM_STATE_ERROR) {
      self->Fail(std::string("the ") + (isInput ? "input" : "output") + " stream failed: " +
                 (error != nullptr ? error : "no reason given"));
      return;
    }
    // The clock runs on while a stream is paused; coming back is no xrun.
    if (old != PW_STREAM_STATE_STREAMING && state == PW_STREAM_STATE_STREAMING && self->processor != nullptr)
      self->processor->Resync();
  }
  static void OnInputState(void* data, pw_stream_state old, pw_stream_state state, const char* error) {
    OnStateChanged(data, old, state, error, true);
  }
  static void OnOutputState(void* data, pw_stream_state old, pw_stream_state state, const char* error) {
    OnStateChanged(data, old, state, error, false);
  }

  static void OnInputParam(void* data, uint32_t id, const spa_pod* param) {
    auto* self = static_cast<Impl*>(data);
    if (id != SPA_PARAM_Format || param == nullptr) return;
    spa_audio_info_raw info{};
    if (spa_format_audio_raw_parse(param, &info) < 0 || info.rate == 0 || info.channels == 0) return;
    LiveProcessor& p = *self->processor;
    if (p.Configured() && p.SampleRate() == info.rate && p.Channels() == info.channels) return;
    // Never while a cycle runs: initialising and rendering must not overlap.
    p.Pause();
    try {
      p.Configure(info.rate, info.channels);
      if (self->onFormat) self->onFormat({static_cast<double>(info.rate), info.channels});
    } catch (const std::exception& e) {
      self->Fail(e.what());
      return;
    }
    p.Resume();
  }

  static void OnOutputIo(void* data, uint32_t id, void* area, uint32_t size) {
    auto* self = static_cast<Impl*>(data);
    if (id != SPA_IO_Position) return;
    self->position.store(area != nullptr && size >= sizeof(spa_io_position) ? static_cast<spa_io_position*>(area)
                                                                            : nullptr,
                         std::memory_order_release);
  }

  // [render] The input side has its cycle's data: process the output side now.
  static void OnInputProcess(void* data) {
    auto* self = static_cast<Impl*>(data);
    if (pw_stream_trigger_process(self->output) < 0) {
      // The output side is not ready: let the input go.
      while (pw_buffer* b = pw_stream_dequeue_buffer(self->input)) pw_stream_queue_buffer(self->input, b);
    }
  }

  // [render] One cycle: the input buffer in place, the output buffer written by the unit.
  static void OnOutputProcess(void* data) {
    auto* self = static_cast<Impl*>(data);
    pw_buffer* in = pw_stream_dequeue_buffer(self->input);
    pw_buffer* out = pw_stream_dequeue_buffer(self->output);
    if (out == nullptr) {
      if (in != nullptr) pw_stream_queue_buffer(self->input, in);
      self->processor->CountMissingBuffer();
      return;
    }
    spa_buffer* ob = out->buffer;
    const uint32_t channels = std::min<uint32_t>(ob->n_datas, kLiveMaxChannels);
    const float* inPtr[kLiveMaxChannels] = {};
    float* outPtr[kLiveMaxChannels] = {};
    LiveCycle cycle;
    if (const spa_io_position* pos = self->position.load(std::memory_order_acquire)) {
      cycle.valid = true;
      cycle.position = pos->clock.position;
      cycle.duration = pos->clock.duration;
      cycle.rate = pos->clock.rate.denom;
      cycle.deadlineNs = pos->clock.next_nsec;
    }

    // As much as came in; without input, what the cycle asks for. Never
    // more, or the surplus would queue up as latency.
    uint64_t frames = cycle.valid && cycle.duration > 0 ? cycle.duration : out->requested;
    if (in != nullptr) {
      spa_buffer* ib = in->buffer;
      uint64_t inFrames = UINT64_MAX;
      for (uint32_t c = 0; c < channels && c < ib->n_datas; ++c) {
        const spa_data& d = ib->datas[c];
        if (d.data == nullptr || d.chunk == nullptr) continue;
        const uint32_t offset = std::min(d.chunk->offset, d.maxsize);
        const uint32_t size = std::min(d.chunk->size, d.maxsize - offset);
        inPtr[c] = SPA_PTROFF(d.data, offset, const float);
        inFrames = std::min<uint64_t>(inFrames, size / sizeof(float));
      }
      if (inFrames != UINT64_MAX) frames = inFrames;
    } else {
      self->processor->CountMissingBuffer();
    }
    for (uint32_t c = 0; c < channels; ++c) {
      outPtr[c] = static_cast<float*>(ob->datas[c].data);
      frames = outPtr[c] == nullptr ? 0 : std::min<uint64_t>(frames, ob->datas[c].maxsize / sizeof(float));
    }
    self->processor->Process(inPtr, outPtr, channels, static_cast<uint32_t>(frames), cycle);

    for (uint32_t c = 0; c < channels; ++c) {
      ob->datas[c].chunk->offset = 0;
      ob->datas[c].chunk->stride = sizeof(float);
      ob->datas[c].chunk->size = frames * sizeof(float);
    }
    out->size = frames;
    if (in != nullptr) pw_stream_queue_buffer(self->input, in);
    pw_stream_queue_buffer(self->output, out);
  }

  const spa_pod* Format(spa_pod_builder* b) const {
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32P;
    info.channels = channels;
    // No rate: the streams run at the graph's.
    const std::vector<std::string> names = ChannelPositionNames(channels);
    for (uint32_t c = 0; c < channels; ++c) info.position[c] = PositionId(names[c]);
    return spa_format_audio_raw_build(b, SPA_PARAM_EnumFormat, &info);
  }

  std::string PositionList() const {
    std::string list;
    for (const std::string& n : ChannelPositionNames(channels)) list += (list.empty() ? "" : ",") + n;
    return "[" + list + "]";
  }

  void CreateStreams() {
    const GraphNode* inputTarget = nullptr;
    const GraphNode* outputTarget = nullptr;
    if (options.capture && !options.captureTarget.empty())
      inputTarget = &ChooseTarget(nodes, options.captureTarget, TargetRole::kCapture);
    if (!options.target.empty()) outputTarget = &ChooseTarget(nodes, options.target, TargetRole::kOutput);
    channels = options.channels;
    if (channels == 0) channels = inputTarget != nullptr && inputTarget->channels > 0 ? inputTarget->channels : 2;
    channels = std::min(channels, kLiveMaxChannels);

    // One group: both streams follow one driver, and the session manager
    // never links the output back into the input.
    const std::string group = "qelvo-live-" + std::to_string(getpid());
    pw_properties* inProps = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_NODE_GROUP, group.c_str(),
                                               PW_KEY_NODE_LINK_GROUP, group.c_str(), PW_KEY_NODE_DESCRIPTION,
                                               options.description.c_str(), nullptr);
    pw_properties_set(inProps, SPA_KEY_AUDIO_POSITION, PositionList().c_str());
    pw_properties_setf(inProps, PW_KEY_AUDIO_CHANNELS, "%u", channels);
    if (options.capture) {
      pw_properties_set(inProps, PW_KEY_MEDIA_CLASS, "Stream/Input/Audio");
      pw_properties_set(inProps, PW_KEY_MEDIA_CATEGORY, "Capture");
      pw_properties_set(inProps, PW_KEY_NODE_NAME, (options.nodeName + "-input").c_str());
      if (inputTarget != nullptr) {
        pw_properties_set(inProps, PW_KEY_TARGET_OBJECT, inputTarget->name.c_str());
        if (Suits(*inputTarget, TargetRole::kOutput)) pw_properties_set(inProps, PW_KEY_STREAM_CAPTURE_SINK, "true");
      }
      inputWhat = inputTarget != nullptr ? "from " + inputTarget->name : "from the default source";
    } else {
      pw_properties_set(inProps, PW_KEY_MEDIA_CLASS, "Audio/Sink");
      pw_properties_set(inProps, PW_KEY_NODE_NAME, options.nodeName.c_str());
      pw_properties_set(inProps, PW_KEY_NODE_VIRTUAL, "true");
      inputWhat = "as the sink \"" + options.description + "\" (" + options.nodeName + ")";
    }
    pw_properties* outProps = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CLASS, "Stream/Output/Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
        PW_KEY_NODE_GROUP, group.c_str(), PW_KEY_NODE_LINK_GROUP, group.c_str(), PW_KEY_NODE_DESCRIPTION,
        options.description.c_str(), PW_KEY_NODE_NAME, (options.nodeName + "-output").c_str(), nullptr);
    pw_properties_set(outProps, SPA_KEY_AUDIO_POSITION, PositionList().c_str());
    pw_properties_setf(outProps, PW_KEY_AUDIO_CHANNELS, "%u", channels);
    if (outputTarget != nullptr) pw_properties_set(outProps, PW_KEY_TARGET_OBJECT, outputTarget->name.c_str());
    outputWhat = outputTarget != nullptr ? outputTarget->name : "the default output";

    input = pw_stream_new(core, "qelvo live input", inProps);
    output = pw_stream_new(core, "qelvo live output", outProps);
    if (input == nullptr || output == nullptr)
      throw ToolError(std::string("cannot make the PipeWire streams: ") + std::strerror(errno));

    static const pw_stream_events inputEvents = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = &Impl::OnInputState;
      e.param_changed = &Impl::OnInputParam;
      e.process = &Impl::OnInputProcess;
      return e;
    }();
    static const pw_stream_events outputEvents = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = &Impl::OnOutputState;
      e.io_changed = &Impl::OnOutputIo;
      e.process = &Impl::OnOutputProcess;
      return e;
    }();
    pw_stream_add_listener(input, &inputListener, &inputEvents, this);
    pw_stream_add_listener(output, &outputListener, &outputEvents, this);

    uint8_t buffer[1024];
    spa_pod_builder b{};
    spa_pod_builder_init(&b, buffer, sizeof buffer);
    const spa_pod* inParams[] = {Format(&b)};
    const spa_pod* outParams[] = {Format(&b)};
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                    PW_STREAM_FLAG_RT_PROCESS);
    int res = pw_stream_connect(input, PW_DIRECTION_INPUT, PW_ID_ANY, flags, inParams, 1);
    if (res >= 0)
      res = pw_stream_connect(output, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                              static_cast<pw_stream_flags>(flags | PW_STREAM_FLAG_TRIGGER), outParams, 1);
    if (res < 0) throw ToolError(std::string("cannot connect the PipeWire streams: ") + spa_strerror(res));
  }
};

LiveGraph::LiveGraph(LiveGraphOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->Connect();
}

LiveGraph::~LiveGraph() = default;

const std::vector<GraphNode>& LiveGraph::Nodes() const { return impl_->nodes; }

void LiveGraph::Start(LiveProcessor& processor, std::function<void(const LiveGraphFormat&)> onFormat) {
  impl_->processor = &processor;
  impl_->onFormat = std::move(onFormat);
  impl_->CreateStreams();
}

void LiveGraph::Run(const std::function<bool()>& tick) {
  impl_->tick = tick;
  pw_loop* loop = pw_main_loop_get_loop(impl_->loop);
  impl_->timer = pw_loop_add_timer(loop, &Impl::OnTimer, impl_.get());
  timespec interval{0, static_cast<long>(kTickMs) * 1'000'000};
  pw_loop_update_timer(loop, impl_->timer, &interval, &interval, false);
  pw_main_loop_run(impl_->loop);
  pw_loop_destroy_source(loop, impl_->timer);
  impl_->timer = nullptr;
  impl_->tick = nullptr;
  // No cycle may touch the unit once we return.
  if (impl_->processor != nullptr) impl_->processor->Pause();
  if (impl_->input != nullptr) pw_stream_disconnect(impl_->input);
  if (impl_->output != nullptr) pw_stream_disconnect(impl_->output);
}

std::string LiveGraph::Failure() const { return impl_->failure; }

bool LiveGraph::Streaming() const {
  return impl_->inputState == PW_STREAM_STATE_STREAMING && impl_->outputState == PW_STREAM_STATE_STREAMING;
}

uint32_t LiveGraph::Channels() const { return impl_->channels; }
std::string LiveGraph::OutputDescription() const { return impl_->outputWhat; }
std::string LiveGraph::InputDescription() const { return impl_->inputWhat; }
