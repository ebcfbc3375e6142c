// The library's decoder path: compressed packets of every supported codec handed to a display
// layer in a video app, through the library's `enqueueSampleBuffer:` hook, its decompression
// session and `videoDecompressionOutputCallback`, to the colour message and the acknowledged send.
//
// An input is a codec byte (bits 0-1: h264, hevc, mpeg4, vp9; bit 2: first hand the real
// keyframe of a clip of that codec to the decoder) and then packets, each a 16-bit length, a flag
// byte (bit 0: keyframe) and the packet's bytes. The packets travel with the real format
// description of a clip written at start-up, as an app playing that clip would hand them on. Each
// input starts with a new layer and a new session, prepared by the clip's first sample.
#include <array>
#include <chrono>
#include <memory>

#include <AVKit/AVSampleBufferDisplayLayer.h>
#include <CoreMedia/CMSampleBuffer.h>
#include <CoreMedia/CoreMediaDevice.h>
#include <Foundation/Foundation.h>
#include <HBPreferences/HBPreferences.h>
#include <MRYIPC/MRYIPCCenter.h>
#include <apps/SimulatedProcess.h>
#include <media/TestPattern.h>
#include <media/VideoFileReader.h>
#include <objc/MethodRegistration.h>

#include "FuzzSupport.h"
#include "capture/SampleBufferCapture.h"
#include "globals/Globals.h"
#include "library/HookTable.h"
#include "platform/Channel.h"
#include "platform/Settings.h"

namespace {

constexpr ClipCodec kCodecs[] = {ClipCodec::h264, ClipCodec::hevc, ClipCodec::mpeg4, ClipCodec::vp9};
constexpr size_t kMaxPackets = 16;

struct Clip {
    FormatDescriptionHolder format;
    std::vector<SampleBufferHolder> samples;  // decode order; the first is a keyframe
};
std::array<Clip, 4>* clips = nullptr;

// The colour server of the home screen, in this process: takes each colour message and answers.
class QuietServer : public NSObject {
public:
    void updateColors(NSObject*) {}

    static Class objcClass() {
        static Class cls = [] {
            Class c = objc_defineClass<QuietServer>("FuzzColourServer", NSObject::objcClass());
            objc_addInstanceMethod<&QuietServer::updateColors>(c, "_updateColors:");
            return c;
        }();
        return cls;
    }
};

Clip writeClip(ClipCodec codec) {
    ClipSettings settings;
    settings.codec = codec;
    settings.width = 64;
    settings.height = 48;
    settings.gop = 3;
    settings.bframes = codec != ClipCodec::vp9;
    const std::string path =
        fuzz::deviceDirectory() + "/clip-" + clipCodecName(codec) + (codec == ClipCodec::vp9 ? ".webm" : ".mp4");
    device::Status status = writeTestPatternClip(path, *parseTestPattern("red*2,green*2,blue*2"), settings);
    if (!status.ok()) fuzz::fail("writing a " + std::string(clipCodecName(codec)) + " clip: " + status.message());
    auto reader = VideoFileReader::open(path);
    if (!reader.ok())
        fuzz::fail("reading a " + std::string(clipCodecName(codec)) + " clip: " + reader.status().message());
    Clip clip;
    clip.format = FormatDescriptionHolder::retain((*reader)->formatDescription());
    while (SampleBufferHolder sample = (*reader)->nextSample()) clip.samples.push_back(std::move(sample));
    if (clip.samples.size() < 2 || !CMSampleBufferIsKeyFrame(clip.samples[0].get()))
        fuzz::fail(std::string("a ") + clipCodecName(codec) + " clip without a keyframe and more");
    return clip;
}

std::array<Clip, 4>* writeClips() {
    auto* made = new std::array<Clip, 4>;
    for (size_t i = 0; i < 4; ++i) (*made)[i] = writeClip(kCodecs[i]);
    return made;
}

void appendPacket(std::string& input, CMSampleBufferRef sample) {
    size_t size = 0;
    const uint8_t* bytes = CMSampleBufferGetPacketBytes(sample, &size);
    size = std::min<size_t>(size, UINT16_MAX);
    fuzz::appendValue(input, static_cast<uint16_t>(size));
    input += static_cast<char>(CMSampleBufferIsKeyFrame(sample) ? 1 : 0);
    input.append(reinterpret_cast<const char*>(bytes), size);
}

std::vector<fuzz::Seed> makeSeeds() {
    std::unique_ptr<std::array<Clip, 4>> made(writeClips());
    std::vector<fuzz::Seed> seeds;
    for (uint8_t codec = 0; codec < 4; ++codec) {
        const Clip& clip = (*made)[codec];
        // The clip's own packets after a primed decoder, and from its keyframe on an unprimed one.
        std::string primed(1, static_cast<char>(codec | 4)), unprimed(1, static_cast<char>(codec));
        for (size_t i = 1; i < clip.samples.size() && i <= 4; ++i) appendPacket(primed, clip.samples[i].get());
        for (size_t i = 0; i < clip.samples.size() && i < 2; ++i) appendPacket(unprimed, clip.samples[i].get());
        seeds.push_back({std::string(clipCodecName(kCodecs[codec])) + "-primed", primed});
        seeds.push_back({std::string(clipCodecName(kCodecs[codec])) + "-keyframe", unprimed});
    }
    return seeds;
}

void enqueue(AVSampleBufferDisplayLayer* layer, CMSampleBufferRef sample) {
    // Nothing in the path holds the flag down for long; set, it makes every sample reach the session.
    __atomic_store_n(&readyForUpdates, YES, __ATOMIC_RELEASE);
    objc_msgSend<void>(layer, SEL_(enqueueSampleBuffer:), sample);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::makeSeedsIfAsked(*argc, *argv, makeSeeds);
    fuzz::deviceDirectory();
    clips = writeClips();
    device::registerProcessClasses("com.apple.mobilesafari");
    preferences = HBPreferences::alloc()->initWithIdentifier(glimmoraSettingsIdentifier());
    installHookTable();
    id server = makeObject<QuietServer>().detach();
    MRYIPCCenter::centerNamed(glimmoraServerName())->addTarget_action(server, updateColorsSelector());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputReader in(data, size);
    const uint8_t choice = in.byte();
    const Clip& clip = (*clips)[choice & 3];

    sampleBufferCapture::discardDecompressionSession();
    Strong<AVSampleBufferDisplayLayer> layer = makeObject<AVSampleBufferDisplayLayer>();
    enqueue(layer, clip.samples[0].get());  // prepares the session
    if (choice & 4) enqueue(layer, clip.samples[0].get());

    for (size_t i = 0; i < kMaxPackets && !in.empty(); ++i) {
        const uint16_t length = in.value<uint16_t>();
        const bool keyFrame = in.byte() & 1;
        const std::string_view packet = in.bytes(length);
        if (packet.empty()) continue;
        const CMSampleTimingInfo timing{CMTimeMake(1, 25), CMTimeMake(static_cast<int64_t>(i + 1), 25),
                                        CMTimeMake(static_cast<int64_t>(i + 1), 25)};
        SampleBufferHolder sample;
        if (CMSampleBufferCreateWithPacket(kCFAllocatorDefault, clip.format.get(), packet.data(), packet.size(),
                                           &timing, keyFrame, sample.receive()) != noErr)
            fuzz::fail("a packet the sample buffer refused");
        enqueue(layer, sample.get());
    }
    layer->flushDecoder();
    // Whatever the path left for the main queue runs before the next input.
    NSRunLoop::mainRunLoop()->runMode_beforeDate(NSDefaultRunLoopMode, RunLoopClock::now());
    return 0;
}
