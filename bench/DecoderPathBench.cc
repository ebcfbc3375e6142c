// The decoder path against its limit, on the same generated full-HD H.264 clip: plain libavcodec
// decoding of every frame, and the whole path a video app pays per sample (the hook, the
// decompression session, Core Image rendering, sampling, the colour message and the acknowledged
// send to a colour server). Also a reduced-resolution session against a full one, for a codec that
// decodes small itself (MPEG-4 part 2) and one that is scaled after decoding (H.264).
//
// Each iteration plays the whole clip; items are frames, so "items_per_second" is frames per second
// and the time per frame is the iteration time divided by the clip's frame count.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <CoreMedia/CoreMediaDevice.h>
#include <Foundation/Foundation.h>
#include <MRYIPC/MRYIPCCenter.h>
#include <VideoToolbox/VTDecompressionSession.h>
#include <apps/SimulatedProcess.h>
#include <media/ClipWriter.h>
#include <media/PacketDecoder.h>
#include <media/VideoFileReader.h>
#include <objc/MethodRegistration.h>

#include "SceneClip.h"
#include "capture/SampleBufferCapture.h"
#include "globals/Globals.h"
#include "platform/Channel.h"
#include "support/TempDirectory.h"

namespace {

constexpr int kFrames = 60;

// The samples of a generated 1920x1080 clip of `codec`, made once per run.
const std::vector<SampleBufferHolder>& fullHDSamples(ClipCodec codec) {
    static TempDirectory directory;
    static std::map<ClipCodec, std::vector<SampleBufferHolder>> clips;
    auto found = clips.find(codec);
    if (found != clips.end()) return found->second;

    const std::string path = directory.path() + "/scene-" + clipCodecName(codec) + ".mp4";
    if (device::Status written = writeSceneClip(path, codec, 1920, 1080, kFrames); !written.ok())
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), written.message().c_str());
    std::vector<SampleBufferHolder>& samples = clips[codec];
    auto reader = VideoFileReader::open(path);
    if (!reader.ok()) std::fprintf(stderr, "%s\n", reader.status().message().c_str());
    while (reader.ok())
        if (SampleBufferHolder sample = (*reader)->nextSample())
            samples.push_back(std::move(sample));
        else
            break;
    return samples;
}

size_t packetBytes(const std::vector<SampleBufferHolder>& samples) {
    size_t total = 0;
    for (const auto& sample : samples) {
        size_t size = 0;
        CMSampleBufferGetPacketBytes(sample, &size);
        total += size;
    }
    return total;
}

void BM_PlainDecodeFullHD(benchmark::State& state) {
    const auto& samples = fullHDSamples(ClipCodec::h264);
    long frames = 0;
    auto decoder = PacketDecoder::create(CMSampleBufferGetFormatDescription(samples.front()), {.threads = 1}).value();
    for (auto _ : state)
        for (const auto& sample : samples) (void)decoder->decode(sample, [&](const DecodedFrame&) { ++frames; });
    state.SetItemsProcessed(frames);
    state.SetLabel("libavcodec, one thread, " + std::to_string(packetBytes(samples) / samples.size() / 1024) +
                   " KiB per frame");
}
BENCHMARK(BM_PlainDecodeFullHD)->Unit(benchmark::kMillisecond)->UseRealTime();

// The colour server: takes each message and replies, as the home screen does, in this process.
class QuietServer : public NSObject {
public:
    void updateColors(NSObject*) {}

    static Class objcClass() {
        static Class cls = [] {
            Class c = objc_defineClass<QuietServer>("DecoderPathBenchServer", NSObject::objcClass());
            objc_addInstanceMethod<&QuietServer::updateColors>(c, "_updateColors:");
            return c;
        }();
        return cls;
    }
};

void noPreviousEnqueue(id, SEL, CMSampleBufferRef) {}

// A video app with the library's decoder path and a colour server that answers.
void setUpVideoApp() {
    static bool done = [] {
        static TempDirectory device;
        setenv("GLIMMORA_DEVICE", device.path().c_str(), 1);
        device::registerProcessClasses("com.apple.mobilesafari");
        if (preferences == nullptr)
            preferences = HBPreferences::alloc()->initWithIdentifier(glimmoraSettingsIdentifier());
        preferences->setObject_forKey(NSNumber::numberWithBool(YES).get(), activeKey());
        MRYIPCCenter::centerNamed(glimmoraServerName())
            ->addTarget_action(makeObject<QuietServer>().detach(), updateColorsSelector());
        // The layer's own decoding is the app's cost, not the path's: leave it out.
        sampleBufferCapture::previousEnqueueSampleBuffer = reinterpret_cast<IMP>(noPreviousEnqueue);
        return true;
    }();
    (void)done;
}

void BM_DecoderPathFullHD(benchmark::State& state) {
    setUpVideoApp();
    const auto& samples = fullHDSamples(ClipCodec::h264);
    const SEL enqueue = SEL_(enqueueSampleBuffer:);
    // The first sample of a format only prepares the session; from then on every sample is decoded
    // (each play starts at the clip's first keyframe). With state.range(0) the session is a
    // replacement (a sample of another format came first), which asks for reduced resolution.
    const bool replacement = state.range(0) != 0;
    sampleBufferCapture::discardDecompressionSession();
    if (replacement) sampleBufferCapture::enqueueSampleBuffer(nil, enqueue, fullHDSamples(ClipCodec::mpeg4).front());
    sampleBufferCapture::enqueueSampleBuffer(nil, enqueue, samples.front());
    for (auto _ : state)
        for (const auto& sample : samples) sampleBufferCapture::enqueueSampleBuffer(nil, enqueue, sample);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(samples.size()));
    state.SetLabel(std::string("hook, session, render, sample, message, acknowledged send; ") +
                   (replacement ? "replacement session (reduced resolution)" : "first session (full size)"));
}
BENCHMARK(BM_DecoderPathFullHD)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void countPicture(void* frames, void*, OSStatus status, VTDecodeInfoFlags, CVImageBufferRef picture, CMTime, CMTime) {
    if (status == noErr && picture != nullptr) ++*static_cast<long*>(frames);
}

// A session decoding the clip, with state.range(1) asking for reduced resolution.
void BM_SessionDecodeFullHD(benchmark::State& state) {
    const ClipCodec codec = static_cast<ClipCodec>(state.range(0));
    const bool reduced = state.range(1) != 0;
    const auto& samples = fullHDSamples(codec);
    long frames = 0;
    const VTDecompressionOutputCallbackRecord callback{countPicture, &frames};
    for (auto _ : state) {
        VTDecompressionSessionRef session = nullptr;
        VTDecompressionSessionCreate(kCFAllocatorDefault, CMSampleBufferGetFormatDescription(samples.front()), nullptr,
                                     nullptr, &callback, &session);
        if (reduced) VTSessionSetProperty(session, kVTDecompressionPropertyKey_ReducedResolutionDecode, kCFBooleanTrue);
        for (const auto& sample : samples) VTDecompressionSessionDecodeFrame(session, sample, 0, nullptr, nullptr);
        VTDecompressionSessionInvalidate(session);
        CFRelease(session);
    }
    state.SetItemsProcessed(frames);
    state.SetLabel(std::string(clipCodecName(codec)) + (reduced ? ", reduced resolution" : ", full size"));
}
BENCHMARK(BM_SessionDecodeFullHD)
    ->Args({static_cast<int>(ClipCodec::h264), 0})
    ->Args({static_cast<int>(ClipCodec::h264), 1})
    ->Args({static_cast<int>(ClipCodec::mpeg4), 0})
    ->Args({static_cast<int>(ClipCodec::mpeg4), 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
