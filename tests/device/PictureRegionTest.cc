// Where a picture lies in a PipeWire buffer: the producer is another process, so its offset,
// stride and crop are believed only as far as they stay inside the buffer.
#include <gtest/gtest.h>

#include <screencast/PictureRegion.h>

namespace {

TEST(PictureRegion, ReadsOnlyWhatLiesInsideTheBuffer) {
    // A packed 4x2 picture, and one with padded rows after a header.
    auto packed = pictureRegion(4, 2, 0, 0, 32, {});
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->stride, 16u);
    EXPECT_EQ(packed->width, 4);
    auto padded = pictureRegion(4, 2, 8, 20, 8 + 20 + 16, {});
    ASSERT_TRUE(padded);
    EXPECT_EQ(padded->offset, 8u);
    EXPECT_EQ(padded->stride, 20u);

    // A crop moves the first pixel and is clipped to the picture.
    auto cropped = pictureRegion(4, 4, 0, 16, 64, {1, 2, 10, 10});
    ASSERT_TRUE(cropped);
    EXPECT_EQ(cropped->offset, 2u * 16 + 4);
    EXPECT_EQ(cropped->width, 3);
    EXPECT_EQ(cropped->height, 2);

    // The last row needs only its own pixels, not a whole stride.
    EXPECT_TRUE(pictureRegion(4, 2, 0, 32, 32 + 16, {}));
    EXPECT_FALSE(pictureRegion(4, 2, 0, 32, 32 + 15, {})) << "one byte short";
    EXPECT_FALSE(pictureRegion(4, 2, 1, 0, 32, {})) << "an offset pushes the end out";
    EXPECT_FALSE(pictureRegion(4, 2, 0, 12, 64, {})) << "a stride shorter than a row";
    EXPECT_FALSE(pictureRegion(4, 2, 0, -16, 64, {})) << "rows going upwards";
    EXPECT_FALSE(pictureRegion(4, 2, 0, 0, 64, {8, 0, 2, 2})) << "a crop outside the picture";
    EXPECT_FALSE(pictureRegion(0, 2, 0, 0, 64, {}));
    // Sizes and strides at their 32-bit limits do not wrap around.
    EXPECT_FALSE(pictureRegion(16384, 16384, 0xffffffffu, 0x7fffffff, 0xffffffffu, {}));
}

}  // namespace
