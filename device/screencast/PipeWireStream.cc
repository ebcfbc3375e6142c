#include "PipeWireStream.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <list>
#include <map>
#include <mutex>

#include "../base/Clock.h"
#include "PictureRegion.h"

using device::Status;
using device::StatusOr;

namespace {

// PipeWire's loop macros compare a callback table's version with `v - 1`, an int, in the code they
// expand into, which Clang warns of: they are wrapped here, once.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
void enterLoop(pw_loop* loop) { pw_loop_enter(loop); }
int iterateLoop(pw_loop* loop, int timeoutMs) { return pw_loop_iterate(loop, timeoutMs); }
void leaveLoop(pw_loop* loop) { pw_loop_leave(loop); }
#pragma GCC diagnostic pop

// A producer's stamp further in the past than this is not a capture time on our clock.
constexpr uint64_t kMaxStampAgeNanos = 2'000'000'000;
constexpr int kMaxSide = 16384;

uint64_t monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000 + static_cast<uint64_t>(now.tv_nsec);
}

std::optional<ScreenPixelFormat> pixelFormat(uint32_t format) {
    switch (format) {
        case SPA_VIDEO_FORMAT_BGRx:
            return ScreenPixelFormat::bgrx;
        case SPA_VIDEO_FORMAT_RGBx:
            return ScreenPixelFormat::rgbx;
        case SPA_VIDEO_FORMAT_BGRA:
            return ScreenPixelFormat::bgra;
        case SPA_VIDEO_FORMAT_RGBA:
            return ScreenPixelFormat::rgba;
        default:
            return std::nullopt;
    }
}

// A frame rate as a fraction PipeWire takes: whole rates exactly, others to a thousandth.
spa_fraction fraction(double rate) {
    if (rate == std::floor(rate)) return SPA_FRACTION(static_cast<uint32_t>(rate), 1);
    return SPA_FRACTION(static_cast<uint32_t>(std::lround(rate * 1000)), 1000);
}

}  // namespace

struct PipeWireStream::Impl {
    Options options;
    PictureSink sink;
    pw_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    pw_stream* stream = nullptr;
    spa_hook coreListener{}, registryListener{}, streamListener{};
    spa_source* wakeup = nullptr;
    struct Watched {
        Impl* impl = nullptr;
        spa_source* source = nullptr;
        std::function<Status()> readable;
    };
    std::list<Watched> watched;  // a list: the loop holds pointers to its elements

    int syncSeq = -1;
    bool synced = false;
    std::map<uint32_t, std::string> nodes;  // id to node.name, as the registry lists them
    uint32_t target = SPA_ID_INVALID;
    bool streaming = false;  // connected once; falling back to unconnected is then a loss
    // PipeWire calls onProcess on its data thread whenever this loop is not being run (between two
    // waits): what it reads of the format, and what it tells, are guarded.
    std::mutex formatLock;
    std::optional<ScreenPixelFormat> format;
    int width = 0, height = 0;
    double frameRate = 0;
    std::atomic<bool> pictureTaken{false};
    bool failed = false;
    Status failure;
    std::atomic<bool> interrupted{false};

    ~Impl() {
        for (Watched& w : watched)
            if (w.source) pw_loop_destroy_source(loop, w.source);
        if (wakeup) pw_loop_destroy_source(loop, wakeup);
        if (stream) pw_stream_destroy(stream);
        if (registry) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        if (core) pw_core_disconnect(core);
        if (context) pw_context_destroy(context);
        if (loop) pw_loop_destroy(loop);
        if (options.remoteFd >= 0 && !core) close(options.remoteFd);
    }

    void fail(std::string why) {
        if (failed) return;
        failed = true;
        failure = Status::error(std::move(why));
    }

    // Runs the loop until `done` holds, the stream fails or is interrupted, or `patience` passes.
    template <typename Done>
    void runUntil(Done done, std::chrono::milliseconds patience) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        enterLoop(loop);
        while (!done() && !failed && !interrupted.load()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            const int ret = iterateLoop(loop, static_cast<int>(std::min<int64_t>(left.count() + 1, 1000)));
            if (ret < 0 && ret != -EINTR) fail(std::string("its loop failed: ") + std::strerror(-ret));
        }
        leaveLoop(loop);
    }

    void takePicture(spa_buffer* buffer) {
        if (!format || buffer->n_datas < 1) return;
        const spa_data& data = buffer->datas[0];
        // Only memory we can read: a DMA-BUF (never asked for) is not mapped.
        if ((data.type != SPA_DATA_MemFd && data.type != SPA_DATA_MemPtr) || data.data == nullptr) return;
        const auto* header = static_cast<const spa_meta_header*>(
            spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
        if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return;
        // An empty chunk carries only metadata (a moved cursor): the picture did not change.
        if (data.chunk == nullptr || data.chunk->size == 0 || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) return;
        CropRectangle crop;
        if (const auto* region = static_cast<const spa_meta_region*>(
                spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)))) {
            if (spa_meta_region_is_valid(region))
                crop = {region->region.position.x, region->region.position.y, region->region.size.width,
                        region->region.size.height};
        }
        const std::optional<PictureRegion> place =
            pictureRegion(width, height, data.chunk->offset, data.chunk->stride, data.maxsize, crop);
        if (!place) return;  // a buffer that does not hold what it claims: passed over

        uint64_t captured = monotonicNow();
        if (header && header->pts > 0 && static_cast<uint64_t>(header->pts) <= captured &&
            captured - static_cast<uint64_t>(header->pts) < kMaxStampAgeNanos)
            captured = static_cast<uint64_t>(header->pts);
        ScreenPicture picture{*format,       static_cast<const uint8_t*>(data.data) + place->offset,
                              place->width,  place->height,
                              place->stride, captured};
        sink(picture);
        pictureTaken = true;
    }

    // What we take: packed 8-bit pictures without modifiers (so in shared memory), any size, at
    // most the asked rate.
    const spa_pod* formatParameters(spa_pod_builder* builder) const {
        const spa_rectangle size = SPA_RECTANGLE(1280, 720), smallest = SPA_RECTANGLE(1, 1),
                            largest = SPA_RECTANGLE(kMaxSide, kMaxSide);
        const spa_fraction variable = SPA_FRACTION(0, 1);
        const spa_fraction most = fraction(options.maxFrameRate > 0 ? options.maxFrameRate : 1000);
        const spa_fraction preferred = fraction(options.maxFrameRate > 0 ? options.maxFrameRate : 60);
        return static_cast<const spa_pod*>(spa_pod_builder_add_object(
            builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
            SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_RGBx,
                                   SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBA),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&variable), SPA_FORMAT_VIDEO_maxFramerate,
            SPA_POD_CHOICE_RANGE_Fraction(&preferred, &variable, &most)));
    }

    void formatChosen(const spa_pod* param) {
        uint32_t mediaType = 0, mediaSubtype = 0;
        spa_video_info_raw raw{};
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
            mediaSubtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &raw) < 0)
            return fail("offered a format that is not raw video");
        const std::optional<ScreenPixelFormat> offered = pixelFormat(raw.format);
        if (!offered) return fail("offered none of the pixel formats BGRx, RGBx, BGRA, RGBA");
        if (raw.size.width < 1 || raw.size.height < 1 || raw.size.width > kMaxSide || raw.size.height > kMaxSide)
            return fail("offered pictures of " + std::to_string(raw.size.width) + "x" +
                        std::to_string(raw.size.height));
        {
            std::lock_guard<std::mutex> guard(formatLock);
            format = offered;
            width = static_cast<int>(raw.size.width);
            height = static_cast<int>(raw.size.height);
        }
        const spa_fraction rate = raw.max_framerate.num > 0 ? raw.max_framerate : raw.framerate;
        frameRate = rate.denom > 0 ? static_cast<double>(rate.num) / rate.denom : 0;

        // Buffers in memory we can map, with the header (flags, time stamp) and the crop.
        uint8_t space[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof(space));
        const spa_pod* params[3];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
        params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
            SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
        params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop),
            SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
        pw_stream_update_params(stream, params, 3);
    }

    // The listeners: PipeWire calls them on the thread iterating the loop.
    static void onCoreDone(void* data, uint32_t id, int seq) {
        auto* self = static_cast<Impl*>(data);
        if (id == PW_ID_CORE && seq == self->syncSeq) self->synced = true;
    }
    static void onCoreError(void* data, uint32_t id, int seq, int res, const char* message) {
        auto* self = static_cast<Impl*>(data);
        if (id != PW_ID_CORE) return;  // a proxy's error; the stream's own comes with its state
        self->fail(res == -EPIPE ? self->options.remoteName + " closed"
                                 : self->options.remoteName + " failed: " + (message ? message : std::strerror(-res)));
    }
    static void onGlobal(void* data, uint32_t id, uint32_t permissions, const char* type, uint32_t version,
                         const spa_dict* props) {
        auto* self = static_cast<Impl*>(data);
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0) return;
        const char* name = props ? spa_dict_lookup(props, PW_KEY_NODE_NAME) : nullptr;
        self->nodes[id] = name ? name : "";
    }
    static void onGlobalRemove(void* data, uint32_t id) {
        auto* self = static_cast<Impl*>(data);
        self->nodes.erase(id);
        if (id == self->target) self->fail("its stream has gone (node " + std::to_string(id) + ")");
    }
    static void onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error) {
        auto* self = static_cast<Impl*>(data);
        if (state == PW_STREAM_STATE_ERROR) self->fail(std::string("its stream failed: ") + (error ? error : "?"));
        if (state == PW_STREAM_STATE_STREAMING || state == PW_STREAM_STATE_PAUSED) self->streaming = true;
        if (state == PW_STREAM_STATE_UNCONNECTED && self->streaming) self->fail("its stream was disconnected");
    }
    static void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
        auto* self = static_cast<Impl*>(data);
        if (id == SPA_PARAM_Format && param) self->formatChosen(param);
    }
    static void onProcess(void* data) {
        auto* self = static_cast<Impl*>(data);
        std::lock_guard<std::mutex> guard(self->formatLock);
        // Every buffer waiting, oldest first: the sink keeps what it needs of each.
        while (pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream)) {
            self->takePicture(buffer->buffer);
            pw_stream_queue_buffer(self->stream, buffer);
        }
    }
    static void onWakeup(void* data, uint64_t count) {}  // only ends the iteration
    static void onInput(void* data, int fd, uint32_t mask) {
        auto* watched = static_cast<Watched*>(data);
        Status status = watched->readable();
        if (!status.ok()) watched->impl->fail(status.message());
    }
};

namespace {

// The node `text` names among `nodes`: by id when it is all digits, else by name.
std::optional<uint32_t> findNode(const std::map<uint32_t, std::string>& nodes, const std::string& text) {
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() < 10) {
        const auto id = static_cast<uint32_t>(std::stoul(text));
        if (nodes.count(id)) return id;
        return std::nullopt;
    }
    for (const auto& [id, name] : nodes)
        if (name == text) return id;
    return std::nullopt;
}

}  // namespace

PipeWireStream::PipeWireStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PipeWireStream::~PipeWireStream() = default;

StatusOr<std::unique_ptr<PipeWireStream>> PipeWireStream::open(Options options, PictureSink sink,
                                                               std::chrono::milliseconds patience) {
    // Filled in by name: the structures grow with PipeWire's versions.
    static const pw_core_events kCoreEvents = [] {
        pw_core_events events{};
        events.version = PW_VERSION_CORE_EVENTS;
        events.done = Impl::onCoreDone;
        events.error = Impl::onCoreError;
        return events;
    }();
    static const pw_registry_events kRegistryEvents = [] {
        pw_registry_events events{};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global = Impl::onGlobal;
        events.global_remove = Impl::onGlobalRemove;
        return events;
    }();
    static const pw_stream_events kStreamEvents = [] {
        pw_stream_events events{};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = Impl::onStateChanged;
        events.param_changed = Impl::onParamChanged;
        events.process = Impl::onProcess;
        return events;
    }();
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    auto impl = std::make_unique<Impl>();
    impl->options = std::move(options);
    impl->sink = std::move(sink);
    if (impl->options.remoteName.empty()) impl->options.remoteName = "PipeWire";
    Impl& s = *impl;

    s.loop = pw_loop_new(nullptr);
    if (!s.loop) return Status::error("cannot make a PipeWire loop: " + std::string(std::strerror(errno)));
    s.wakeup = pw_loop_add_event(s.loop, Impl::onWakeup, &s);
    s.context = pw_context_new(s.loop, nullptr, 0);
    if (!s.context) return Status::error("cannot make a PipeWire context: " + std::string(std::strerror(errno)));
    if (s.options.remoteFd >= 0) {
        s.core = pw_context_connect_fd(s.context, s.options.remoteFd, nullptr, 0);
    } else {
        s.core = pw_context_connect(s.context, nullptr, 0);
    }
    if (!s.core) {
        const int error = errno;
        return Status::error("cannot connect to " + s.options.remoteName + " (" + std::strerror(error) + ")" +
                             (s.options.remoteFd < 0 ? ": is pipewire running for this user?" : ""));
    }
    pw_core_add_listener(s.core, &s.coreListener, &kCoreEvents, &s);
    s.registry = pw_core_get_registry(s.core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(s.registry, &s.registryListener, &kRegistryEvents, &s);
    // One round trip: afterwards the registry has listed every node there is.
    s.syncSeq = pw_core_sync(s.core, PW_ID_CORE, 0);
    s.runUntil([&] { return s.synced; }, patience);
    if (s.failed) return s.failure;
    if (!s.synced) return Status::error(s.options.remoteName + " did not answer");
    const std::optional<uint32_t> target = findNode(s.nodes, s.options.node);
    if (!target) return Status::error("no PipeWire node \"" + s.options.node + "\" (a node's id or node.name)");
    s.target = *target;

    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Screen", PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
    s.stream = pw_stream_new(s.core, "glimmora", props);
    if (!s.stream) return Status::error("cannot make a PipeWire stream: " + std::string(std::strerror(errno)));
    pw_stream_add_listener(s.stream, &s.streamListener, &kStreamEvents, &s);
    uint8_t space[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof(space));
    const spa_pod* params[1] = {s.formatParameters(&builder)};
    const int connected = pw_stream_connect(
        s.stream, PW_DIRECTION_INPUT, s.target,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    if (connected < 0)
        return Status::error("cannot connect to node " + s.options.node + ": " + std::strerror(-connected));
    s.runUntil([&] { return s.format.has_value(); }, patience);
    if (s.failed) return s.failure;
    if (s.interrupted.load()) return Status::error("interrupted");
    if (!s.format) return Status::error("node " + s.options.node + " agreed on no picture format in time");
    return std::unique_ptr<PipeWireStream>(new PipeWireStream(std::move(impl)));
}

void PipeWireStream::watch(int fd, std::function<Status()> readable) {
    Impl& s = *impl_;
    Impl::Watched& watched = s.watched.emplace_back();
    watched.impl = &s;
    watched.readable = std::move(readable);
    watched.source = pw_loop_add_io(s.loop, fd, SPA_IO_IN | SPA_IO_ERR | SPA_IO_HUP, false, Impl::onInput, &watched);
    Status status = watched.readable();
    if (!status.ok()) s.fail(status.message());
}

PipeWireStream::Wait PipeWireStream::wait(std::chrono::milliseconds patience, Status* why) {
    Impl& s = *impl_;
    s.pictureTaken = false;
    s.runUntil([&] { return s.pictureTaken.load(); }, patience);
    if (s.interrupted.load()) return Wait::interrupted;
    if (s.pictureTaken) return Wait::picture;
    if (s.failed) {
        *why = s.failure;
        return Wait::failed;
    }
    return Wait::quiet;
}

void PipeWireStream::interrupt() {
    impl_->interrupted.store(true);
    pw_loop_signal_event(impl_->loop, impl_->wakeup);
}

int PipeWireStream::width() const {
    std::lock_guard<std::mutex> guard(impl_->formatLock);
    return impl_->width;
}
int PipeWireStream::height() const {
    std::lock_guard<std::mutex> guard(impl_->formatLock);
    return impl_->height;
}
double PipeWireStream::frameRate() const { return impl_->frameRate; }
