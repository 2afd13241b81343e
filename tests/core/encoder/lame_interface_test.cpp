#include "encoder/LameCoder.h"
#include "encoder/Lame_dll.h"

#include <gtest/gtest.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace {

BE_CONFIG CbrConfig(uint32_t rate = 44100, int32_t mode = BE_MODE_JSTEREO) {
    TLameCoder coder;
    coder.SetSampleRate(rate);
    coder.SetMode(TLameMode(mode));
    return coder.Config();
}

std::vector<int16_t> Noise(size_t values) {
    std::vector<int16_t> samples(values);
    uint32_t state = 12345;
    for (auto &s : samples) {
        state = state * 1664525u + 1013904223u;
        s = int16_t(state >> 16);
    }
    return samples;
}

BE_ERR EncodeWith(HBE_STREAM stream, const std::vector<int16_t> &samples, uint8_t *output,
                  uint32_t *produced) {
    return beEncodeChunk(stream, uint32_t(samples.size()), samples.data(), output, produced);
}
BE_ERR EncodeWith(HBE_STREAM stream, const std::vector<int32_t> &samples, uint8_t *output,
                  uint32_t *produced) {
    return beEncodeChunkInt32(stream, uint32_t(samples.size()), samples.data(), output, produced);
}

} // namespace

TEST(LameInterface, RecordLaysOutFieldsAtTheirPackedOffsets) {
    EXPECT_EQ(offsetof(BE_CONFIG, dwSampleRate), 12u);
    EXPECT_EQ(offsetof(BE_CONFIG, nMode), 20u);
    EXPECT_EQ(offsetof(BE_CONFIG, nPreset), 32u);
    EXPECT_EQ(offsetof(BE_CONFIG, bPrivate), 48u);
    EXPECT_EQ(offsetof(BE_CONFIG, bEnableVBR), 68u);
    // The ReplayGain switch takes the first four bytes that were reserved; the size stays.
    EXPECT_EQ(offsetof(BE_CONFIG, bFindReplayGain), 76u);
    EXPECT_EQ(offsetof(BE_CONFIG, btReserved), 80u);
}

TEST(LameInterface, ComponentFillsEveryFieldOfTheRecord) {
    TLameCoder coder;
    coder.SetSampleRate(32000);
    coder.SetBitrate(96);
    coder.SetMaxBitrate(256);
    coder.SetMode(MONO);
    coder.SetQuality(HIGH_QUALITY);
    coder.SetCopyright(true);
    coder.SetEnableVBR(true);
    coder.SetVBRQuality(2);
    const BE_CONFIG c = coder.Config();
    EXPECT_EQ(c.dwConfig, 256u);
    EXPECT_EQ(c.dwStructVersion, 1u);
    EXPECT_EQ(c.dwStructSize, 331u);
    EXPECT_EQ(c.dwSampleRate, 32000u);
    EXPECT_EQ(c.dwReSampleRate, 0u);
    EXPECT_EQ(c.nMode, 3);
    EXPECT_EQ(c.dwBitrate, 96u);
    EXPECT_EQ(c.dwMaxBitrate, 256u);
    EXPECT_EQ(c.nPreset, 2);
    EXPECT_EQ(c.dwMpegVersion, 1u);
    EXPECT_EQ(c.bPrivate, 0);
    EXPECT_EQ(c.bCRC, -1); // CRC is on by default; true travels as -1
    EXPECT_EQ(c.bCopyright, -1);
    EXPECT_EQ(c.bOriginal, 0);
    EXPECT_EQ(c.bWriteVBRHeader, -1);
    EXPECT_EQ(c.bEnableVBR, -1);
    EXPECT_EQ(c.nVBRQuality, 2);
    EXPECT_EQ(c.bFindReplayGain, 0) << "off unless asked for: outputs stay as they were";
    coder.SetFindReplayGain(true);
    EXPECT_EQ(coder.Config().bFindReplayGain, -1);
    for (uint8_t b : c.btReserved)
        ASSERT_EQ(b, 0);
}

TEST(LameInterface, RefusesRecordsAndSettingsItCannotUse) {
    uint32_t samples = 0, bufferSize = 0;
    HBE_STREAM stream = 0;
    BE_CONFIG config = CbrConfig();
    config.dwStructSize = 330;
    EXPECT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_INVALID_CONFIG);
    config = CbrConfig();
    config.dwConfig = 1;
    EXPECT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_INVALID_CONFIG);
    config = CbrConfig(0);
    EXPECT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_INVALID_SETTINGS);
    config = CbrConfig();
    config.nPreset = 9;
    EXPECT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_INVALID_SETTINGS);
    config = CbrConfig();
    config.bEnableVBR = BE_TRUE;
    config.nVBRQuality = 10;
    EXPECT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_INVALID_SETTINGS);
    EXPECT_EQ(beInitStream(nullptr, &samples, &bufferSize, &stream), BE_ERR_INVALID_ARGUMENT);
}

TEST(LameInterface, StreamAsksForOneFrameOfEveryChannelPerChunk) {
    uint32_t samples = 0, bufferSize = 0;
    HBE_STREAM stream = 0;
    BE_CONFIG config = CbrConfig(44100, BE_MODE_STEREO);
    ASSERT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(samples, 2304u);
    beCloseStream(stream);
    config = CbrConfig(44100, BE_MODE_MONO);
    ASSERT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(samples, 1152u);
    beCloseStream(stream);
}

// The buffer size given at the start must hold whatever the largest allowed call produces,
// even for incompressible input at the top bitrate.
TEST(LameInterface, OutputBufferHoldsTheLargestAllowedCall) {
    BE_CONFIG config = CbrConfig(48000, BE_MODE_STEREO);
    config.dwBitrate = 320;
    uint32_t samples = 0, bufferSize = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    std::vector<uint8_t> output(bufferSize);
    const std::vector<int16_t> noise = Noise(samples * 16);
    uint32_t produced = 0, total = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(
            beEncodeChunk(stream, uint32_t(noise.size()), noise.data(), output.data(), &produced),
            BE_ERR_SUCCESSFUL);
        EXPECT_LE(produced, bufferSize);
        total += produced;
    }
    ASSERT_EQ(beDeinitStream(stream, output.data(), &produced), BE_ERR_SUCCESSFUL);
    total += produced;
    // 4 calls of 16 * 1152 frames at 48 kHz and 320 kbit/s.
    const double seconds = 4 * 16 * 1152 / 48000.0;
    EXPECT_NEAR(total, seconds * 320000 / 8, 0.05 * seconds * 320000 / 8);

    std::vector<int16_t> tooMany = Noise(samples * 16 + 2);
    EXPECT_EQ(
        beEncodeChunk(stream, uint32_t(tooMany.size()), tooMany.data(), output.data(), &produced),
        BE_ERR_TOO_MANY_SAMPLES);
    beCloseStream(stream);
}

TEST(LameInterface, ClosedHandlesAreRefusedAndStreamsCanBeOpenedAgain) {
    const BE_CONFIG config = CbrConfig();
    for (int round = 0; round < 2; ++round) {
        uint32_t samples = 0, bufferSize = 0, produced = 0;
        HBE_STREAM stream = 0;
        ASSERT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
        std::vector<uint8_t> output(bufferSize);
        const std::vector<int16_t> noise = Noise(samples);
        EXPECT_EQ(beEncodeChunk(stream, samples, noise.data(), output.data(), &produced),
                  BE_ERR_SUCCESSFUL);
        EXPECT_EQ(beDeinitStream(stream, output.data(), &produced), BE_ERR_SUCCESSFUL);
        EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);
        EXPECT_EQ(beCloseStream(stream), BE_ERR_INVALID_HANDLE);
        EXPECT_EQ(beEncodeChunk(stream, samples, noise.data(), output.data(), &produced),
                  BE_ERR_INVALID_HANDLE);
    }
}

TEST(LameInterface, InfoFrameExistsForCbrAndForVbrWhenAskedForAfterTheFlush) {
    BE_CONFIG config = CbrConfig();
    config.bWriteVBRHeader = BE_TRUE;
    uint32_t samples = 0, bufferSize = 0, produced = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    std::vector<uint8_t> output(std::max(bufferSize, BE_MAX_INFO_FRAME));
    const std::vector<int16_t> noise = Noise(samples * 8);
    ASSERT_EQ(beEncodeChunk(stream, uint32_t(noise.size()), noise.data(), output.data(), &produced),
              BE_ERR_SUCCESSFUL);
    EXPECT_NE(beGetInfoFrame(stream, output.data(), &produced), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(beDeinitStream(stream, output.data(), &produced), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(beGetInfoFrame(stream, output.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(produced, 417u); // one 128 kbit/s frame at 44.1 kHz
    EXPECT_EQ(output[0], 0xFF);
    beCloseStream(stream);

    // CBR has its Info frame whatever the header switch says: it carries the delay and
    // padding that gapless decoding needs. The switch decides for VBR.
    config.bWriteVBRHeader = BE_FALSE;
    ASSERT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(beDeinitStream(stream, output.data(), &produced), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(beGetInfoFrame(stream, output.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(produced, 417u);
    beCloseStream(stream);

    config.bEnableVBR = BE_TRUE;
    ASSERT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(beDeinitStream(stream, output.data(), &produced), BE_ERR_SUCCESSFUL);
    ASSERT_EQ(beGetInfoFrame(stream, output.data(), &produced), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(produced, 0u);
    beCloseStream(stream);
}

TEST(LameInterface, VersionNamesInterfaceAndEngine) {
    BE_VERSION version{};
    beVersion(&version);
    EXPECT_EQ(version.byDLLMajorVersion, 1);
    EXPECT_EQ(version.byDLLMinorVersion, 1) << "1.1 added the 32-bit and float entry points";
    EXPECT_GE(version.byMajorVersion, 3);
    EXPECT_NE(version.zEngineVersion[0], '\0');
    TLameCoder coder;
    EXPECT_EQ(coder.LameVersion().MajorVersion, version.byMajorVersion);
    EXPECT_EQ(coder.LameVersion().MinorVersion, version.byMinorVersion);
}

// Deeper samples reach the engine without a detour through 16 bits: a 16-bit signal passed
// left-justified as 32-bit values encodes to the very same bytes.
TEST(LameInterface, Int32EntryPointTakesFullScaleSamples) {
    for (int32_t mode : {BE_MODE_STEREO, BE_MODE_MONO}) {
        const BE_CONFIG config = CbrConfig(44100, mode);
        auto encode = [&](auto convert) {
            uint32_t samples = 0, bufferSize = 0;
            HBE_STREAM stream = 0;
            EXPECT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
            const std::vector<int16_t> noise = Noise(samples * 8);
            const auto input = convert(noise);
            std::vector<uint8_t> output(bufferSize), mp3;
            uint32_t produced = 0;
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(EncodeWith(stream, input, output.data(), &produced), BE_ERR_SUCCESSFUL);
                mp3.insert(mp3.end(), output.begin(), output.begin() + produced);
            }
            EXPECT_EQ(beDeinitStream(stream, output.data(), &produced), BE_ERR_SUCCESSFUL);
            mp3.insert(mp3.end(), output.begin(), output.begin() + produced);
            beCloseStream(stream);
            return mp3;
        };
        const auto same = [](const std::vector<int16_t> &v) { return v; };
        const auto wide = [](const std::vector<int16_t> &v) {
            std::vector<int32_t> out(v.size());
            std::transform(v.begin(), v.end(), out.begin(), [](int16_t s) { return s * 65536; });
            return out;
        };
        const std::vector<uint8_t> reference = encode(same);
        EXPECT_FALSE(reference.empty());
        EXPECT_EQ(encode(wide), reference) << "mode " << mode;
    }
}

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A freed large block (an earlier stream, a program buffer) raises glibc's mmap threshold;
// the library's largest arrays must still get pages of their own, as in a fresh process.
TEST(LameInterface, LargeArraysKeepTheirOwnPagesAfterALargeBlockWasFreed) {
    const BE_CONFIG config = CbrConfig(44100, BE_MODE_STEREO);
    { std::vector<unsigned char> block(4 << 20, 1); }
    malloc_trim(0); // the heap's top too small for the arrays, as it is in a fresh process
    const size_t before = mallinfo2().hblks;
    uint32_t samples = 0, bufferSize = 0;
    HBE_STREAM stream = 0;
    ASSERT_EQ(beInitStream(&config, &samples, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    EXPECT_GE(mallinfo2().hblks, before + 2);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);
}
#endif
