#include "core/conversion/RunnerFixture.h"

using namespace runnertest;

TEST(Normalize, LevelAndFactorFollowThePeak) {
    EXPECT_DOUBLE_EQ(PeakLevel(32767), 100.0);
    EXPECT_DOUBLE_EQ(PeakLevel(16384), 50.0);
    EXPECT_NEAR(98 / PeakLevel(16384), 1.96, 1e-12);
    EXPECT_EQ(PeakLevel(1), 0.0);
    EXPECT_LT(PeakLevel(0), 0.0) << "no positive sample: nothing to scale";
}

TEST(Normalize, ScanFindsTheLargestMagnitudeAndScalingRoundsAndClamps) {
    QTemporaryDir dir;
    const QString file = dir.filePath("a.wav");
    // The negative full scale counts as 32767; the tail chunk after the data is copied.
    WriteFile(file, SamplesWav({-32768, 30000, 5, -3, 1, 2}) + QByteArray("LIST\4\0\0\0abcd", 12));
    TWaveFileInfo info;
    ASSERT_TRUE(ReadWaveFileInfo(file, info));
    ASSERT_EQ(info.DataLength, 12);
    std::atomic<bool> abort{false};
    double peak = 0;
    std::vector<int> progress;
    ASSERT_TRUE(ScanPeak(file, info, peak, abort, [&](int p) { progress.push_back(p); }));
    EXPECT_EQ(peak, 32767);
    EXPECT_EQ(progress.back(), 100);

    TPartialFile temp;
    ASSERT_TRUE(NormalizeWave(file, info, 1.5, dir.path(), temp, abort));
    EXPECT_EQ(QFileInfo(temp.Path()).path(), dir.path());
    EXPECT_TRUE(QFileInfo(temp.Path()).fileName().startsWith(".brindle-"));
    const QByteArray out = ReadFile(temp.Path());
    EXPECT_EQ(out.left(44), ReadFile(file).left(44));
    EXPECT_EQ(out.right(12), QByteArray("LIST\4\0\0\0abcd", 12));
    std::vector<int16_t> samples(6);
    std::memcpy(samples.data(), out.constData() + 44, 12);
    // -49152 and 45000 clamp; 7.5 -> 8, -4.5 -> -4, 1.5 -> 2, 3 (ties to even).
    EXPECT_EQ(samples, (std::vector<int16_t>{-32768, 32767, 8, -4, 2, 3}));
}

TEST(Normalize, AFileWithoutDataFailsTheScan) {
    QTemporaryDir dir;
    const QString file = dir.filePath("empty.wav");
    WriteFile(file, WavHeader(2, 44100, 16, 0));
    TWaveFileInfo info;
    ReadWaveFileInfo(file, info);
    std::atomic<bool> abort{false};
    double peak = 1;
    EXPECT_FALSE(ScanPeak(file, info, peak, abort));
}

TEST(Normalize, WiderFormatsAreScaledAtTheirOwnPrecision) {
    QTemporaryDir dir;
    const QString file = dir.filePath("a24.wav");
    // Two 24-bit samples: 0x400000 (half scale) and -0x100001.
    const QByteArray data("\x00\x00\x40\xff\xff\xef", 6);
    WriteFile(file, WavHeader(1, 44100, 24, 6) + data);
    TWaveFileInfo info;
    ASSERT_TRUE(ReadWaveFileInfo(file, info));
    std::atomic<bool> abort{false};
    double peak = 0;
    ASSERT_TRUE(ScanPeak(file, info, peak, abort));
    EXPECT_DOUBLE_EQ(peak, 16384.0);
    TPartialFile temp;
    ASSERT_TRUE(NormalizeWave(file, info, 1.5, dir.path(), temp, abort));
    // 0x600000 and -0x180001.5 -> -0x180002 (ties to even).
    EXPECT_EQ(ReadFile(temp.Path()).mid(44), QByteArray("\x00\x00\x60\xfe\xff\xe7", 6));
}

TEST(Normalize, ALopsidedWaveIsScaledByItsLargerHalfAndNeverClips) {
    QTemporaryDir dir;
    const QString file = dir.filePath("voice.wav");
    // Peaks of +0.33 and -0.65 of full scale, as speech often has.
    WriteFile(file, SamplesWav({10813, -21299, 5000, -100}));
    std::atomic<bool> abort{false};
    int scaling = 0;
    const TNormalizeResult result =
        NormalizeToPeak(file, 98, dir.path(), abort, [&] { ++scaling; });
    ASSERT_TRUE(result.Error.isEmpty()) << result.Error.toStdString();
    ASSERT_TRUE(result.Temp);
    EXPECT_EQ(scaling, 1);
    const double factor = 98 / PeakLevel(21299);
    EXPECT_NEAR(factor, 1.5077, 1e-4);
    const std::vector<int16_t> out = CopySamples(result.Temp.Path());
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], int16_t(std::lrint(10813 * factor)));
    EXPECT_EQ(out[1], int16_t(std::lrint(-21299 * factor)));
    EXPECT_GT(out[1], -32768) << "not clipped";
    EXPECT_EQ(out[3], int16_t(std::lrint(-100 * factor)));
}

TEST(Normalize, AFullScaleFileKeepsTheFactorOfItsPositiveFullScale) {
    QTemporaryDir dir;
    for (const std::vector<int16_t> &samples :
         {std::vector<int16_t>{-32768, 16384}, std::vector<int16_t>{32767, -16384}}) {
        const QString file = dir.filePath("full.wav");
        WriteFile(file, SamplesWav(samples));
        std::atomic<bool> abort{false};
        const TNormalizeResult result = NormalizeToPeak(file, 98, dir.path(), abort);
        ASSERT_TRUE(result.Temp);
        const std::vector<int16_t> out = CopySamples(result.Temp.Path());
        // Factor 0.98: -32112.64 and 16056.32; 32111.66 and -16056.32.
        EXPECT_EQ(out[0], samples[0] < 0 ? -32113 : 32112);
        EXPECT_EQ(out[1], samples[1] < 0 ? -16056 : 16056);
    }
}

TEST(Normalize, SilenceAndItsDitherAreLeftAlone) {
    QTemporaryDir dir;
    const QString file = dir.filePath("dither.wav");
    WriteFile(file, SamplesWav({2, -2, 1, 0, -1}));
    std::atomic<bool> abort{false};
    const TNormalizeResult result = NormalizeToPeak(file, 98, dir.path(), abort);
    EXPECT_TRUE(result.Error.isEmpty());
    EXPECT_FALSE(result.Temp);
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}
