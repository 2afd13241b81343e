#include "support/TestMedia.h"

#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>
#include <lame/lame.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <random>
#include <stdexcept>

using testmedia::DecodedAudio;

namespace {

quint32 U32At(const QByteArray &b, int offset) {
    return qFromLittleEndian<quint32>(b.constData() + offset);
}
quint16 U16At(const QByteArray &b, int offset) {
    return qFromLittleEndian<quint16>(b.constData() + offset);
}

// Interleaved sines, each channel with its own frequency, rounded to 16 bits.
DecodedAudio Synth(long rate, double seconds, std::vector<double> freqs, double amplitude = 0.5,
                   size_t leadingSilenceFrames = 0) {
    DecodedAudio a;
    a.ok = true;
    a.channels = static_cast<int>(freqs.size());
    a.sampleRate = rate;
    const auto frames = static_cast<size_t>(std::llround(seconds * rate));
    for (size_t n = 0; n < leadingSilenceFrames + frames; ++n) {
        for (double f : freqs) {
            const double t =
                n < leadingSilenceFrames ? 0 : static_cast<double>(n - leadingSilenceFrames) / rate;
            a.samples.push_back(static_cast<int16_t>(
                std::lround(amplitude * 32767 * std::sin(2 * std::numbers::pi * f * t))));
        }
    }
    return a;
}

// Raw little-endian 16-bit PCM as audio, the way a WAV reader would see it.
DecodedAudio FromPcm(const QByteArray &pcm, int channels, long rate) {
    DecodedAudio a;
    a.ok = true;
    a.channels = channels;
    a.sampleRate = rate;
    for (int i = 0; i + 1 < pcm.size(); i += 2)
        a.samples.push_back(qFromLittleEndian<qint16>(pcm.constData() + i));
    return a;
}

struct LameDeleter {
    void operator()(lame_global_flags *g) const { lame_close(g); }
};
struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

// An MP3 made with libmp3lame directly, so that decoding is checked on real encoder output
// (start delay, padding, lossy samples) without depending on any other program.
void EncodeSineMp3(const QString &path, int channels, int rate, double seconds, double freq,
                   double freqRight, int kbps) {
    std::unique_ptr<lame_global_flags, LameDeleter> gf(lame_init());
    ASSERT_TRUE(gf);
    lame_set_in_samplerate(gf.get(), rate);
    lame_set_num_channels(gf.get(), channels);
    lame_set_mode(gf.get(), channels == 1 ? MONO : STEREO);
    lame_set_brate(gf.get(), kbps);
    lame_set_VBR(gf.get(), vbr_off);
    lame_set_bWriteVbrTag(gf.get(), 0);
    ASSERT_EQ(lame_init_params(gf.get()), 0);

    const DecodedAudio pcm =
        Synth(rate, seconds, channels == 1 ? std::vector{freq} : std::vector{freq, freqRight});
    std::vector<short> left, right;
    for (size_t i = 0; i < pcm.samples.size(); i += channels) {
        left.push_back(pcm.samples[i]);
        right.push_back(pcm.samples[i + channels - 1]);
    }
    std::vector<unsigned char> mp3(left.size() * 5 / 4 + 7200 + 7200);
    const int n =
        lame_encode_buffer(gf.get(), left.data(), right.data(), static_cast<int>(left.size()),
                           mp3.data(), static_cast<int>(mp3.size()));
    ASSERT_GE(n, 0);
    const int tail = lame_encode_flush(gf.get(), mp3.data() + n, static_cast<int>(mp3.size()) - n);
    ASSERT_GE(tail, 0);

    std::unique_ptr<FILE, FileCloser> out(std::fopen(QFile::encodeName(path).constData(), "wb"));
    ASSERT_TRUE(out);
    ASSERT_EQ(std::fwrite(mp3.data(), 1, static_cast<size_t>(n + tail), out.get()),
              static_cast<size_t>(n + tail));
}

} // namespace

TEST(WavHeaderTest, EveryFieldSitsAtItsCanonicalOffset) {
    // Values chosen so that swapped or mis-sized fields give different bytes.
    const QByteArray h = testmedia::WavHeader(3, 48000, 24, 123456, 0xFFFE);
    ASSERT_EQ(h.size(), 44);
    EXPECT_EQ(h.left(4), "RIFF");
    EXPECT_EQ(U32At(h, 4), 36u + 123456u);
    EXPECT_EQ(h.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(U32At(h, 16), 16u);
    EXPECT_EQ(U16At(h, 20), 0xFFFE);
    EXPECT_EQ(U16At(h, 22), 3);
    EXPECT_EQ(U32At(h, 24), 48000u);
    EXPECT_EQ(U32At(h, 28), 48000u * 9);
    EXPECT_EQ(U16At(h, 32), 9);
    EXPECT_EQ(U16At(h, 34), 24);
    EXPECT_EQ(h.mid(36, 4), "data");
    EXPECT_EQ(U32At(h, 40), 123456u);
}

TEST(WavHeaderTest, RiffSizeSaturatesInsteadOfWrappingForHugeData) {
    const QByteArray h = testmedia::WavHeader(2, 44100, 16, 0xFFFFFFF0u);
    EXPECT_EQ(U32At(h, 4), 0xFFFFFFFFu);
    EXPECT_EQ(U32At(h, 40), 0xFFFFFFF0u);
}

TEST(SineWavTest, FileIsHeaderPlusExactlyTheRequestedFrames) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = dir.filePath("s.wav");
    // 0.7 s * 44100 Hz is 30869.999... in floating point: the frame count must round.
    testmedia::WriteSineWav(wav, 2, 44100, 0.7, 440, 880);
    const QByteArray bytes = testmedia::ReadFile(wav);
    const quint32 dataBytes = 30870 * 2 * 2;
    ASSERT_EQ(bytes.size(), 44 + static_cast<int>(dataBytes));
    EXPECT_EQ(bytes.left(44), testmedia::WavHeader(2, 44100, 16, dataBytes));
}

TEST(SineWavTest, PcmIsTheWavWithoutItsHeader) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    testmedia::WriteSineWav(dir.filePath("s.wav"), 2, 8000, 0.3, 300, 500, 0.7);
    testmedia::WriteSinePcm(dir.filePath("s.pcm"), 2, 8000, 0.3, 300, 500, 0.7);
    EXPECT_EQ(testmedia::ReadFile(dir.filePath("s.pcm")),
              testmedia::ReadFile(dir.filePath("s.wav")).mid(44));
}

TEST(SineWavTest, SamplesFollowAmplitudePhaseAndPerChannelFrequency) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // 1000 Hz at 8 kHz: eight samples per cycle, so the peaks fall on whole samples.
    testmedia::WriteSinePcm(dir.filePath("s.pcm"), 2, 8000, 1.0, 1000, 2000, 0.25);
    const DecodedAudio a = FromPcm(testmedia::ReadFile(dir.filePath("s.pcm")), 2, 8000);
    ASSERT_EQ(a.frames(), 8000u);
    EXPECT_EQ(a.samples[0], 0);
    EXPECT_EQ(a.samples[2 * 2], std::lround(0.25 * 32767)); // frame 2, left: quarter cycle
    EXPECT_EQ(a.samples[2 * 6], -std::lround(0.25 * 32767));
    EXPECT_EQ(a.samples[2 * 1 + 1], std::lround(0.25 * 32767)); // frame 1, right: 2000 Hz
    EXPECT_NEAR(testmedia::DominantFrequency(a, 0), 1000, 1);
    EXPECT_NEAR(testmedia::DominantFrequency(a, 1), 2000, 2);
}

TEST(SineWavTest, MonoAndZeroRightFrequencyUseTheMainTone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    testmedia::WriteSinePcm(dir.filePath("m.pcm"), 1, 44100, 0.5, 700);
    testmedia::WriteSinePcm(dir.filePath("s.pcm"), 2, 44100, 0.5, 700);
    const DecodedAudio mono = FromPcm(testmedia::ReadFile(dir.filePath("m.pcm")), 1, 44100);
    const DecodedAudio stereo = FromPcm(testmedia::ReadFile(dir.filePath("s.pcm")), 2, 44100);
    ASSERT_EQ(mono.frames(), 22050u);
    EXPECT_EQ(stereo.channel(0), mono.channel(0));
    EXPECT_EQ(stereo.channel(1), mono.channel(0));
}

TEST(SineWavTest, UnwritablePathThrows) {
    EXPECT_THROW(testmedia::WriteSineWav("/nonexistent-dir/x.wav", 1, 8000, 0.1, 440),
                 std::runtime_error);
    EXPECT_THROW(testmedia::ReadFile("/nonexistent-dir/x.wav"), std::runtime_error);
}

TEST(DecodedAudioTest, ChannelDeinterleavesAndScalesToUnitRange) {
    DecodedAudio a;
    a.channels = 2;
    a.sampleRate = 4;
    a.samples = {-32768, 16384, 0, -16384, 32767, 0};
    EXPECT_EQ(a.frames(), 3u);
    EXPECT_DOUBLE_EQ(a.seconds(), 0.75);
    EXPECT_EQ(a.channel(0), (std::vector<double>{-1.0, 0.0, 32767 / 32768.0}));
    EXPECT_EQ(a.channel(1), (std::vector<double>{0.5, -0.5, 0.0}));
    EXPECT_THROW(a.channel(2), std::out_of_range);
}

TEST(DominantFrequencyTest, WithinATenthOfAPercentAcrossRatesTonesAndLengths) {
    for (long rate : {8000L, 11025L, 16000L, 22050L, 32000L, 44100L, 48000L}) {
        for (double f : {200.0, 317.0, 440.0, 1000.0, 2500.0, 5000.0}) {
            if (f >= rate * 0.45)
                continue;
            for (double seconds : {0.1, 0.5}) {
                const DecodedAudio a = Synth(rate, seconds, {f});
                EXPECT_NEAR(testmedia::DominantFrequency(a, 0), f, f * 0.001)
                    << "rate " << rate << " tone " << f << " seconds " << seconds;
            }
        }
    }
}

TEST(DominantFrequencyTest, MeasuresEachChannelOnItsOwn) {
    const DecodedAudio a = Synth(44100, 1.0, {440, 3000});
    EXPECT_NEAR(testmedia::DominantFrequency(a, 0), 440, 4.4);
    EXPECT_NEAR(testmedia::DominantFrequency(a, 1), 3000, 30);
}

TEST(DominantFrequencyTest, IgnoresEncoderStartDelay) {
    // Two MPEG frames of leading silence ahead of a short tone.
    const DecodedAudio a = Synth(44100, 0.2, {1234}, 0.5, 2304);
    EXPECT_NEAR(testmedia::DominantFrequency(a, 0), 1234, 12.34);
}

TEST(RmsTest, SkipsTwoFramesOfStartDelayEvenInShortLowRateSignals) {
    // At 8 kHz a quarter of this signal is shorter than the encoder's start delay.
    const DecodedAudio a = Synth(8000, 0.6, {500}, 0.5, 2304);
    EXPECT_NEAR(testmedia::Rms(a, 0), 0.5 / std::sqrt(2.0), 0.005);
}

TEST(DominantFrequencyTest, QuietToneIsStillFound) {
    const DecodedAudio a = Synth(44100, 0.5, {880}, 0.002);
    EXPECT_NEAR(testmedia::DominantFrequency(a, 0), 880, 8.8);
}

TEST(DominantFrequencyTest, ToneIsFoundUnderNoise) {
    DecodedAudio a = Synth(22050, 1.0, {600}, 0.3);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-3000, 3000);
    for (int16_t &s : a.samples)
        s = static_cast<int16_t>(s + noise(rng));
    EXPECT_NEAR(testmedia::DominantFrequency(a, 0), 600, 6);
}

TEST(DominantFrequencyTest, SilenceIsZero) {
    DecodedAudio a = Synth(44100, 1.0, {440, 440}, 0.0);
    EXPECT_EQ(testmedia::DominantFrequency(a, 0), 0);
    EXPECT_EQ(testmedia::Rms(a, 0), 0);
}

TEST(DominantFrequencyTest, ConstantOffsetAndRoundingNoiseAreZero) {
    DecodedAudio offset = Synth(44100, 1.0, {440}, 0.0);
    for (int16_t &s : offset.samples)
        s = 5000;
    EXPECT_EQ(testmedia::DominantFrequency(offset, 0), 0);

    DecodedAudio lsb = offset;
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> oneLsb(-1, 1);
    for (int16_t &s : lsb.samples)
        s = static_cast<int16_t>(oneLsb(rng));
    EXPECT_EQ(testmedia::DominantFrequency(lsb, 0), 0);
}

TEST(DominantFrequencyTest, ToneOnlyAtTheEdgesIsSilenceInTheMiddle) {
    // Start delay and padding regions must not decide the answer.
    DecodedAudio a = Synth(44100, 1.0, {440});
    for (size_t i = a.samples.size() / 4; i < a.samples.size() * 3 / 4; ++i)
        a.samples[i] = 0;
    EXPECT_EQ(testmedia::DominantFrequency(a, 0), 0);
}

TEST(DominantFrequencyTest, TooShortOrEmptyIsZero) {
    EXPECT_EQ(testmedia::DominantFrequency(Synth(44100, 0.0, {440}), 0), 0);
    EXPECT_EQ(testmedia::DominantFrequency(Synth(44100, 0.001, {440}), 0), 0);
}

TEST(RmsTest, SineRmsIsAmplitudeOverRootTwo) {
    const DecodedAudio a = Synth(44100, 1.0, {440, 1000}, 0.5);
    EXPECT_NEAR(testmedia::Rms(a, 0), 0.5 / std::sqrt(2.0), 0.002);
    const DecodedAudio b = Synth(44100, 1.0, {440}, 0.1);
    EXPECT_NEAR(testmedia::Rms(b, 0), 0.1 / std::sqrt(2.0), 0.001);
}

TEST(DecodeMpegTest, StereoMp3DecodesToBothTonesAtNativeRate) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString mp3 = dir.filePath("s.mp3");
    EncodeSineMp3(mp3, 2, 44100, 2.0, 440, 1000, 128);
    const DecodedAudio a = testmedia::DecodeMpeg(mp3);
    ASSERT_TRUE(a.ok) << a.error.toStdString();
    EXPECT_EQ(a.channels, 2);
    EXPECT_EQ(a.sampleRate, 44100);
    // Start delay and padding add less than three frames of 1152 samples.
    EXPECT_GE(a.seconds(), 2.0);
    EXPECT_LT(a.seconds(), 2.0 + 3 * 1152 / 44100.0);
    EXPECT_NEAR(testmedia::DominantFrequency(a, 0), 440, 4.4);
    EXPECT_NEAR(testmedia::DominantFrequency(a, 1), 1000, 10);
    EXPECT_NEAR(testmedia::Rms(a, 0), 0.5 / std::sqrt(2.0), 0.02);
}

TEST(DecodeMpegTest, MonoMpeg2LayerIIIKeepsRateAndChannelCount) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString mp3 = dir.filePath("m.mp3");
    EncodeSineMp3(mp3, 1, 22050, 1.0, 300, 0, 64);
    const DecodedAudio a = testmedia::DecodeMpeg(mp3);
    ASSERT_TRUE(a.ok) << a.error.toStdString();
    EXPECT_EQ(a.channels, 1);
    EXPECT_EQ(a.sampleRate, 22050);
    EXPECT_NEAR(a.seconds(), 1.0, 0.1);
    EXPECT_NEAR(testmedia::DominantFrequency(a, 0), 300, 3);
}

TEST(DecodeMpegTest, StreamThatChangesFormatMidwayFails) {
    // Samples of two formats in one buffer would be misread; refuse rather than guess.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EncodeSineMp3(dir.filePath("a.mp3"), 2, 44100, 0.5, 440, 440, 128);
    EncodeSineMp3(dir.filePath("b.mp3"), 1, 22050, 0.5, 440, 0, 64);
    const QString both = dir.filePath("both.mp3");
    testmedia::WriteFile(both, testmedia::ReadFile(dir.filePath("a.mp3")) +
                                   testmedia::ReadFile(dir.filePath("b.mp3")));
    const DecodedAudio a = testmedia::DecodeMpeg(both);
    EXPECT_FALSE(a.ok);
    EXPECT_TRUE(a.error.contains("format")) << a.error.toStdString();
}

TEST(DecodeMpegTest, NonMpegInputFailsWithAReason) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString zeros = dir.filePath("zeros.mp3");
    testmedia::WriteFile(zeros, QByteArray(8192, '\0'));
    const DecodedAudio a = testmedia::DecodeMpeg(zeros);
    EXPECT_FALSE(a.ok);
    EXPECT_FALSE(a.error.isEmpty());

    const DecodedAudio missing = testmedia::DecodeMpeg(dir.filePath("missing.mp3"));
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.error.isEmpty());
}
