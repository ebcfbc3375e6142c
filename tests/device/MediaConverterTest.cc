// Converting YUV pictures to BGRA: range (limited/full) and matrix (BT.601/709) as the picture
// says, planar and bi-planar layouts, scaling, and one converter reused across changes.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include <media/FrameConverter.h>
#include <media/MediaStatus.h>

namespace {

// A solid 4:2:0 picture of one YUV value, in either layout.
struct SolidYuv {
    SolidYuv(int width, int height, uint8_t y, uint8_t u, uint8_t v, YuvImageView::Layout layout)
        : luma(static_cast<size_t>(width) * height, y) {
        const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
        view.layout = layout;
        view.width = width;
        view.height = height;
        view.planes[0] = luma.data();
        view.strides[0] = width;
        if (layout == YuvImageView::Layout::i420) {
            cb.assign(static_cast<size_t>(chromaWidth) * chromaHeight, u);
            cr.assign(cb.size(), v);
            view.planes[1] = cb.data();
            view.planes[2] = cr.data();
            view.strides[1] = view.strides[2] = chromaWidth;
        } else {
            for (int i = 0; i < chromaWidth * chromaHeight; ++i) cb.insert(cb.end(), {u, v});
            view.planes[1] = cb.data();
            view.strides[1] = chromaWidth * 2;
        }
    }
    std::vector<uint8_t> luma, cb, cr;
    YuvImageView view;
};

BgraPixel centre(FrameConverter& converter, const YuvImageView& view, int width = 0, int height = 0) {
    BgraImage image;
    EXPECT_EQ(converter.convert(view, &image, width, height), kMediaOK);
    if (image.empty()) return {};
    return image.pixel(image.width / 2, image.height / 2);
}

TEST(MediaConverterRange, MidGreyIsStretchedOnlyInLimitedRange) {
    FrameConverter converter;  // one converter throughout: a change of range must not be missed
    SolidYuv grey(16, 16, 128, 128, 128, YuvImageView::Layout::i420);
    const BgraPixel limited = centre(converter, grey.view);
    // Limited range maps 16...235 onto 0...255: 128 -> (128 - 16) * 255 / 219 = 130.4.
    EXPECT_NEAR(limited.red, 130, 1);
    EXPECT_NEAR(limited.green, 130, 1);
    EXPECT_NEAR(limited.blue, 130, 1);
    EXPECT_EQ(limited.alpha, 255);

    grey.view.fullRange = true;
    const BgraPixel full = centre(converter, grey.view);
    EXPECT_NEAR(full.red, 128, 1);
    EXPECT_NEAR(full.green, 128, 1);
    EXPECT_NEAR(full.blue, 128, 1);

    // Limited black and white are 16 and 235.
    SolidYuv black(16, 16, 16, 128, 128, YuvImageView::Layout::i420),
        white(16, 16, 235, 128, 128, YuvImageView::Layout::i420);
    EXPECT_LE(centre(converter, black.view).green, 1);
    EXPECT_GE(centre(converter, white.view).green, 254);
    // Sizes that are not sizes are refused.
    BgraImage image;
    EXPECT_EQ(converter.convert(grey.view, &image, -1, 8), kMediaInvalidArgument);
}

TEST(MediaConverterMatrix, FollowsThePictureOrItsSize) {
    FrameConverter converter;
    // Pure red in BT.601 limited range is Y 81, Cb 90, Cr 240; read as BT.709 it gains green.
    SolidYuv red(32, 32, 81, 90, 240, YuvImageView::Layout::i420);
    red.view.matrix = YuvImageView::Matrix::bt601;
    const BgraPixel as601 = centre(converter, red.view);
    EXPECT_GE(as601.red, 252);
    EXPECT_LE(as601.green, 3);
    EXPECT_LE(as601.blue, 3);
    red.view.matrix = YuvImageView::Matrix::bt709;
    const BgraPixel as709 = centre(converter, red.view);
    EXPECT_NEAR(as709.green, 24, 4);

    // Untagged pictures: BT.601 below HD, BT.709 from 1280x720 on.
    red.view.matrix = YuvImageView::Matrix::automatic;
    EXPECT_LE(centre(converter, red.view).green, 3);
    SolidYuv hdRed(1280, 720, 81, 90, 240, YuvImageView::Layout::i420);
    EXPECT_NEAR(centre(converter, hdRed.view).green, 24, 4);
}

TEST(MediaConverterLayout, BiPlanarAndScaledPicturesGiveTheSameColour) {
    FrameConverter converter;
    SolidYuv planar(20, 12, 150, 60, 180, YuvImageView::Layout::i420);
    SolidYuv biPlanar(20, 12, 150, 60, 180, YuvImageView::Layout::nv12);
    const BgraPixel a = centre(converter, planar.view);
    const BgraPixel b = centre(converter, biPlanar.view);
    EXPECT_EQ(a.red, b.red);
    EXPECT_EQ(a.green, b.green);
    EXPECT_EQ(a.blue, b.blue);

    const BgraPixel scaled = centre(converter, biPlanar.view, 5, 3);
    EXPECT_NEAR(scaled.green, a.green, 1);
}

}  // namespace
