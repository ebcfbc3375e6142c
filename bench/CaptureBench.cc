// The capture side's hot paths: reducing a full-HD frame to one colour, and one whole tick of the
// frame clock (snapshot of the full-screen player view at screen scale, sampling, message, send).
#include <benchmark/benchmark.h>

#include <AVKit/AVFullScreenViewController.h>
#include <CoreGraphics/CGDevice.h>
#include <CoreGraphics/CoreGraphics.h>
#include <UIKit/UIKit.h>
#include <apps/SimulatedProcess.h>

#include "capture/FrameClock.h"
#include "capture/FrameColour.h"
#include "globals/Globals.h"
#include "support/TempDirectory.h"

namespace {

// A frame of smooth colour, as a decoded video frame would be.
CGImageRef frameOfSize(size_t width, size_t height) {
    std::vector<uint8_t> pixels(width * height * 4);
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x) {
            uint8_t* p = &pixels[(y * width + x) * 4];
            p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = uint8_t(x + y), p[3] = 255;
        }
    return CGImageCreateWithBGRAData(width, height, width * 4, pixels.data(), true);
}

CGImageRef fullHDFrame() {
    static CGImageRef frame = frameOfSize(1920, 1080);
    return frame;
}

void BM_SampleFullHDFrame(benchmark::State& state) {
    Strong<UIImage> image = UIImage::imageWithCGImage(fullHDFrame());
    for (auto _ : state) benchmark::DoNotOptimize(sampleImageColor(image).get());
}
BENCHMARK(BM_SampleFullHDFrame)->Unit(benchmark::kMicrosecond);

void BM_FrameClockTick(benchmark::State& state) {
    static TempDirectory device;
    setenv("GLIMMORA_DEVICE", device.path().c_str(), 1);
    device::registerProcessClasses("com.apple.mobilesafari");
    if (preferences == nullptr) preferences = HBPreferences::alloc()->initWithIdentifier(glimmoraSettingsIdentifier());
    preferences->setObject_forKey(NSNumber::numberWithBool(YES).get(), activeKey());
    // No server listens: the send costs what it costs a video app while the home screen is away.
    auto player = Strong<AVFullScreenViewController>::adopt(
        static_cast<AVFullScreenViewController*>(objc_msgSend<id>(AVFullScreenViewController::objcClass(), SEL_(new))));
    // The display layer hands the view its frames at the view's size in pixels, as a compositor
    // would; state.range(0) 0 instead gives it a full-HD frame to scale on every snapshot.
    CGRect bounds = player->playerLayerView()->bounds();
    size_t width = size_t(bounds.size.width * 3), height = size_t(bounds.size.height * 3);
    CGImageRef frame = state.range(0) ? frameOfSize(width, height) : CGImageRetain(fullHDFrame());
    player->playerLayerView()->setContents(frame);
    CGImageRelease(frame);
    for (auto _ : state) frameClock::update(player, SEL_(update));
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height) + " px snapshot of a " +
                   (state.range(0) ? "frame of that size" : "1920x1080 frame"));
}
BENCHMARK(BM_FrameClockTick)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
