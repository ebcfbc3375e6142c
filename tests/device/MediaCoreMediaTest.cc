// CoreMedia's values: times, format descriptions and sample buffers, and their reference counts.
#include <vector>

#include <gtest/gtest.h>

#include <CoreMedia/CoreMedia.h>
#include <CoreMedia/CoreMediaDevice.h>

namespace {

TEST(MediaCMTime, ComparesAcrossTimescalesAndKinds) {
    EXPECT_EQ(CMTimeCompare(CMTimeMake(1, 3), CMTimeMake(10, 30)), 0);
    EXPECT_EQ(CMTimeCompare(CMTimeMake(1, 3), CMTimeMake(333333, 1000000)), 1);
    // Values whose cross products overflow 64 bits still compare exactly.
    EXPECT_EQ(CMTimeCompare(CMTimeMake(INT64_MAX / 2, 999999937), CMTimeMake(INT64_MAX / 2, 999999929)), -1);
    // -infinity < numbers < indefinite < +infinity < invalid
    const CMTime order[] = {kCMTimeNegativeInfinity, CMTimeMake(-1000, 1),    CMTimeMake(7, 2),
                            kCMTimeIndefinite,       kCMTimePositiveInfinity, kCMTimeInvalid};
    for (size_t i = 0; i < std::size(order); ++i)
        for (size_t j = 0; j < std::size(order); ++j)
            EXPECT_EQ(CMTimeCompare(order[i], order[j]), i < j ? -1 : (i > j ? 1 : 0)) << i << " vs " << j;
    CMTime laterEpoch = CMTimeMake(0, 1);
    laterEpoch.epoch = 1;
    EXPECT_EQ(CMTimeCompare(CMTimeMake(100, 1), laterEpoch), -1);
}

TEST(MediaCMTime, ConvertsScaleWithTheRoundingAsked) {
    EXPECT_TRUE(CMTIME_IS_INVALID(CMTimeMake(1, 0)));
    const CMTime third = CMTimeConvertScale(CMTimeMake(1, 3), 1000, kCMTimeRoundingMethod_Default);
    EXPECT_EQ(third.value, 333);
    EXPECT_TRUE(third.flags & kCMTimeFlags_HasBeenRounded);
    EXPECT_EQ(CMTimeConvertScale(CMTimeMake(-2, 3), 1000, kCMTimeRoundingMethod_Default).value, -667);
    EXPECT_EQ(CMTimeConvertScale(CMTimeMake(-2, 3), 1000, kCMTimeRoundingMethod_RoundTowardZero).value, -666);
    EXPECT_TRUE(CMTIME_IS_POSITIVE_INFINITY(
        CMTimeConvertScale(CMTimeMake(INT64_MAX / 2, 1), 1000, kCMTimeRoundingMethod_Default)));
}

FormatDescriptionHolder makeFormat(CMVideoCodecType codec, int32_t width, int32_t height,
                                   std::vector<uint8_t> extradata) {
    FormatDescriptionHolder format;
    EXPECT_EQ(CMVideoFormatDescriptionCreateWithExtradata(nullptr, codec, width, height, extradata.data(),
                                                          extradata.size(), format.receive()),
              noErr);
    return format;
}

TEST(MediaCMFormatDescription, EqualityNeedsCodecSizeAndParameterSets) {
    std::vector<uint8_t> avcC = {1, 2, 3};
    const auto base = makeFormat(kCMVideoCodecType_H264, 64, 48, avcC);
    avcC[1] = 9;                                     // the description keeps its own copy
    EXPECT_EQ(kCMVideoCodecType_H264, 0x61766331u);  // 'avc1' as iOS spells it
    EXPECT_EQ(CMFormatDescriptionGetMediaSubType(base), kCMVideoCodecType_H264);
    EXPECT_EQ(CMVideoFormatDescriptionGetDimensions(base).height, 48);
    size_t size = 0;
    EXPECT_EQ(CMVideoFormatDescriptionGetExtradata(base, &size)[1], 2);
    EXPECT_EQ(size, 3u);

    EXPECT_TRUE(CMFormatDescriptionEqual(base, makeFormat(kCMVideoCodecType_H264, 64, 48, {1, 2, 3})));
    EXPECT_FALSE(CMFormatDescriptionEqual(base, makeFormat(kCMVideoCodecType_HEVC, 64, 48, {1, 2, 3})));
    EXPECT_FALSE(CMFormatDescriptionEqual(base, makeFormat(kCMVideoCodecType_H264, 64, 50, {1, 2, 3})));
    EXPECT_FALSE(CMFormatDescriptionEqual(base, makeFormat(kCMVideoCodecType_H264, 64, 48, {1, 2, 4})));
    EXPECT_FALSE(CMFormatDescriptionEqual(base, makeFormat(kCMVideoCodecType_H264, 64, 48, {})));
    EXPECT_FALSE(CMFormatDescriptionEqual(base, nullptr));
}

TEST(MediaCMSampleBuffer, CopiesThePacketPadsItAndKeepsItsFormatAlive) {
    FormatDescriptionHolder format = makeFormat(kCMVideoCodecType_H264, 64, 48, {1});
    std::vector<uint8_t> packet = {0, 0, 0, 2, 0x65, 0x88};
    const CMSampleTimingInfo timing{CMTimeMake(1, 25), CMTimeMake(3, 25), CMTimeMake(2, 25)};
    SampleBufferHolder sample;
    ASSERT_EQ(
        CMSampleBufferCreateWithPacket(nullptr, format, packet.data(), packet.size(), &timing, true, sample.receive()),
        noErr);
    packet.assign(packet.size(), 0xee);  // the buffer holds its own copy

    const CMFormatDescriptionRef held = format.get();
    EXPECT_EQ(CFGetRetainCount(held), 2);
    format.reset();  // the sample buffer's reference keeps the description
    EXPECT_EQ(CMSampleBufferGetFormatDescription(sample), held);
    EXPECT_EQ(CMVideoFormatDescriptionGetDimensions(CMSampleBufferGetFormatDescription(sample)).width, 64);

    size_t size = 0;
    const uint8_t* bytes = CMSampleBufferGetPacketBytes(sample, &size);
    ASSERT_EQ(size, 6u);
    EXPECT_EQ(bytes[4], 0x65);
    for (size_t i = 0; i < kCMSampleBufferPacketPadding; ++i) ASSERT_EQ(bytes[size + i], 0) << i;
    EXPECT_EQ(CMSampleBufferGetPresentationTimeStamp(sample).value, 3);
    EXPECT_EQ(CMSampleBufferGetDecodeTimeStamp(sample).value, 2);
    EXPECT_EQ(CMSampleBufferGetDuration(sample).value, 1);
    EXPECT_TRUE(CMSampleBufferIsKeyFrame(sample));
}

TEST(MediaCoreMediaRefusals, MissingOrUnusableParametersGiveErrorsAndNoObject) {
    CMVideoFormatDescriptionRef format = reinterpret_cast<CMVideoFormatDescriptionRef>(0x1);
    auto createFormat = [&](CMVideoCodecType codec, int32_t w, int32_t h, size_t extradataSize) {
        return CMVideoFormatDescriptionCreateWithExtradata(nullptr, codec, w, h, nullptr, extradataSize, &format);
    };
    EXPECT_EQ(createFormat(0, 64, 48, 0), kCMFormatDescriptionError_InvalidParameter);
    EXPECT_EQ(format, nullptr);  // cleared on failure
    EXPECT_EQ(createFormat(kCMVideoCodecType_H264, 64, -48, 0), kCMFormatDescriptionError_InvalidParameter);
    EXPECT_EQ(createFormat(kCMVideoCodecType_H264, kCMVideoFormatDescriptionMaxDimension + 1, 48, 0),
              kCMFormatDescriptionError_InvalidParameter);
    EXPECT_EQ(createFormat(kCMVideoCodecType_H264, 64, 48, 5), kCMFormatDescriptionError_InvalidParameter);

    FormatDescriptionHolder valid = makeFormat(kCMVideoCodecType_H264, 64, 48, {});
    const uint8_t byte = 1;
    CMSampleBufferRef sample = reinterpret_cast<CMSampleBufferRef>(0x1);
    EXPECT_EQ(CMSampleBufferCreateWithPacket(nullptr, nullptr, &byte, 1, nullptr, true, &sample),
              kCMSampleBufferError_RequiredParameterMissing);
    EXPECT_EQ(sample, nullptr);
    // An empty packet would read as end of stream to a decoder.
    EXPECT_EQ(CMSampleBufferCreateWithPacket(nullptr, valid, &byte, 0, nullptr, true, &sample),
              kCMSampleBufferError_RequiredParameterMissing);
    EXPECT_EQ(
        CMSampleBufferCreateWithPacket(nullptr, valid, &byte, kCMSampleBufferMaxPacketSize + 1, nullptr, true, &sample),
        kCMSampleBufferError_InvalidSampleData);
    EXPECT_EQ(CFGetRetainCount(valid), 1);  // failures keep no reference
}

}  // namespace
