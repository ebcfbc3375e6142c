#include "ScreenCastReader.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <cstring>
#include <mutex>

#include "../Foundation/DeviceDirectory.h"
#include "../screencast/PipeWireStream.h"
#include "../screencast/RestoreToken.h"
#include "../screencast/ScreenCastPortal.h"

using device::Status;
using device::StatusOr;

namespace {

// How long a stream may take to agree on a format.
constexpr auto kFormatPatience = std::chrono::seconds(20);
// How often a wait on a still screen comes back to look at the stop flag.
constexpr auto kQuietWait = std::chrono::milliseconds(250);
constexpr int kRowAlignment = 64;

}  // namespace

// The newest picture, in buffers reused from one picture to the next. Taken on whichever thread
// PipeWire delivers it (its data thread between two reads), handed over on the reading one.
struct ScreenCastReader::Pictures {
    std::mutex lock;
    AVBufferPool* pool = nullptr;
    size_t poolBytes = 0;
    AVFrame* newest = nullptr;
    uint64_t captureNanos = 0;

    ~Pictures() {
        av_frame_free(&newest);
        av_buffer_pool_uninit(&pool);  // frees its buffers once the last picture using one is gone
    }

    // Copies `picture` out of the producer's memory. A screen has no transparency: the fourth
    // byte is read as unused, whatever the format calls it.
    void take(const ScreenPicture& picture) {
        std::lock_guard<std::mutex> guard(lock);
        const size_t row = static_cast<size_t>(picture.width) * 4;
        const size_t stride = (row + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
        const size_t bytes = stride * static_cast<size_t>(picture.height);
        if (bytes != poolBytes) {
            av_buffer_pool_uninit(&pool);
            pool = av_buffer_pool_init(bytes, nullptr);
            poolBytes = pool ? bytes : 0;
        }
        AVFrame* frame = av_frame_alloc();
        if (!frame || !pool || !(frame->buf[0] = av_buffer_pool_get(pool))) {
            av_frame_free(&frame);
            return;  // out of memory: this picture is passed over
        }
        const bool bgr = picture.format == ScreenPixelFormat::bgrx || picture.format == ScreenPixelFormat::bgra;
        frame->format = bgr ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_RGB0;
        frame->width = picture.width;
        frame->height = picture.height;
        frame->data[0] = frame->buf[0]->data;
        frame->linesize[0] = static_cast<int>(stride);
        for (int y = 0; y < picture.height; ++y)
            std::memcpy(frame->data[0] + static_cast<size_t>(y) * stride,
                        picture.pixels + static_cast<size_t>(y) * picture.stride, row);
        av_frame_free(&newest);
        newest = frame;
        captureNanos = picture.captureNanos;
    }

    // The newest picture, now the caller's; false when there is none new.
    bool handOver(AVFrame** picture, uint64_t* nanos) {
        std::lock_guard<std::mutex> guard(lock);
        if (!newest) return false;
        *picture = newest;
        *nanos = captureNanos;
        newest = nullptr;
        return true;
    }
};

ScreenCastReader::ScreenCastReader() : pictures_(std::make_unique<Pictures>()) {}
ScreenCastReader::~ScreenCastReader() {
    stream_.reset();  // before the session it reads
    portal_.reset();
}

std::string ScreenCastReader::restoreTokenPath(const std::string& target) {
    return device::deviceDirectory() + "/screencast-" + target + ".token";
}

StatusOr<std::unique_ptr<ScreenCastReader>> ScreenCastReader::open(const LiveSourceRequest& request) {
    std::unique_ptr<ScreenCastReader> reader(new ScreenCastReader);
    PipeWireStream::Options options;
    options.maxFrameRate = request.frameRate;
    options.node = request.target;
    options.remoteName = "PipeWire";
    if (request.kind == LiveSourceRequest::Kind::portal) {
        const std::string tokenPath = restoreTokenPath(request.target);
        if (request.forgetScreen) {
            if (Status forgotten = forgetRestoreToken(tokenPath); !forgotten.ok()) return forgotten;
        }
        ScreenCastPortal::Options asked;
        asked.share = request.target == "window" ? ScreenCastPortal::Share::window : ScreenCastPortal::Share::monitor;
        asked.restoreToken = readRestoreToken(tokenPath);
        StatusOr<std::unique_ptr<ScreenCastPortal>> portal = ScreenCastPortal::start(asked);
        if (!portal.ok()) return portal.status();
        reader->portal_ = *std::move(portal);
        // A token not kept means one more question next time, nothing worse.
        if (!reader->portal_->restoreToken().empty())
            (void)keepRestoreToken(tokenPath, reader->portal_->restoreToken());
        StatusOr<int> remote = reader->portal_->openPipeWireRemote();
        if (!remote.ok()) return remote.status();
        options.remoteFd = *remote;
        options.node = std::to_string(reader->portal_->node());
        options.remoteName = "the screen cast's PipeWire connection";
    }
    Pictures* pictures = reader->pictures_.get();
    StatusOr<std::unique_ptr<PipeWireStream>> stream = PipeWireStream::open(
        options, [pictures](const ScreenPicture& picture) { pictures->take(picture); }, kFormatPatience);
    if (!stream.ok()) return stream.status();
    reader->stream_ = *std::move(stream);
    if (ScreenCastPortal* portal = reader->portal_.get())
        reader->stream_->watch(portal->busDescriptor(), [portal] { return portal->dispatch(); });
    return reader;
}

ScreenCastReader::Result ScreenCastReader::read(AVFrame** picture, uint64_t* captureNanos, Status* why) {
    for (;;) {
        // One may have come in since the last read, outside the wait.
        if (pictures_->handOver(picture, captureNanos)) return Result::picture;
        switch (stream_->wait(kQuietWait, why)) {
            case PipeWireStream::Wait::picture:
                if (pictures_->handOver(picture, captureNanos)) return Result::picture;
                continue;  // it could not be copied
            case PipeWireStream::Wait::quiet:
                continue;  // a still screen
            case PipeWireStream::Wait::interrupted:
                return Result::interrupted;
            case PipeWireStream::Wait::failed:
                return Result::failed;
        }
    }
}

void ScreenCastReader::interrupt() { stream_->interrupt(); }
int ScreenCastReader::width() const { return stream_->width(); }
int ScreenCastReader::height() const { return stream_->height(); }
double ScreenCastReader::frameRate() const { return stream_->frameRate(); }
