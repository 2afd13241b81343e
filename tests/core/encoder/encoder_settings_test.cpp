#include "encoder/EncoderSettings.h"
#include "encoder/LameCoder.h"
#include "settings/Config.h"
#include "support/TestMedia.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

using namespace testmedia;

namespace {

// A stored settings combination and what the encoder's configuration record must say.
struct SettingsCase {
    const char *name;
    std::function<void(TConfigValues &)> set;
    int32_t preset;
    uint32_t bitrate;
    uint32_t maxBitrate;
    bool vbr;
};

void PrintTo(const SettingsCase &Case, std::ostream *Out) {
    *Out << Case.name;
}

class EncoderSettingsTable : public ::testing::TestWithParam<SettingsCase> {};

BE_CONFIG ConfigFor(const TConfigValues &Settings) {
    TLameCoder coder;
    ApplyEncoderSettings(coder, Settings, 44100);
    return coder.Config();
}

} // namespace

// Every setting the options window greys out or corrects must reach the encoder as the
// window shows it.
TEST_P(EncoderSettingsTable, TheRecordSaysWhatTheOptionsWindowShows) {
    TConfig settings;
    GetParam().set(settings);
    const BE_CONFIG config = ConfigFor(settings);
    EXPECT_EQ(config.nPreset, GetParam().preset);
    EXPECT_EQ(config.dwBitrate, GetParam().bitrate);
    EXPECT_EQ(config.dwMaxBitrate, GetParam().maxBitrate);
    EXPECT_EQ(config.bEnableVBR != 0, GetParam().vbr);

    // Whatever the window can show, the library takes it.
    TLameCoder coder;
    ApplyEncoderSettings(coder, settings, 44100);
    EXPECT_EQ(coder.InitStream(), BE_ERR_SUCCESSFUL);
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, EncoderSettingsTable,
    ::testing::Values(
        SettingsCase{"Defaults", [](TConfigValues &) {}, BE_QUALITY_NORMAL, 128, 320, false},
        SettingsCase{"VoiceWithoutVbrIsNormal", [](TConfigValues &C) { C.Quality = 3; },
                     BE_QUALITY_NORMAL, 128, 320, false},
        SettingsCase{"LowWithoutVbrIsNormal", [](TConfigValues &C) { C.Quality = 1; },
                     BE_QUALITY_NORMAL, 128, 320, false},
        SettingsCase{"HighWithoutVbrIsNormal", [](TConfigValues &C) { C.Quality = 2; },
                     BE_QUALITY_NORMAL, 128, 320, false},
        SettingsCase{"VoiceWithVbr",
                     [](TConfigValues &C) {
                         C.Quality = 3;
                         C.VBR = true;
                     },
                     BE_QUALITY_VOICE, 128, 320, true},
        SettingsCase{"HighWithVbr",
                     [](TConfigValues &C) {
                         C.Quality = 2;
                         C.VBR = true;
                     },
                     BE_QUALITY_HIGH, 128, 320, true},
        SettingsCase{"VbrMaximumBelowTheMinimumIsRaisedToIt",
                     [](TConfigValues &C) {
                         C.VBR = true;
                         C.BitRate = 10;
                         C.MaxBitRate = 5;
                     },
                     BE_QUALITY_NORMAL, 192, 192, true},
        SettingsCase{"MaximumBelowTheBitrateWithoutVbrIsLeftAlone",
                     [](TConfigValues &C) {
                         C.BitRate = 10;
                         C.MaxBitRate = 5;
                     },
                     BE_QUALITY_NORMAL, 192, 80, false}),
    [](const auto &Info) { return std::string(Info.param.name); });

namespace {

class GreyedOutSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // A tone above the voice low-pass: cutting it would change every frame.
        WriteSineWav(dir.filePath("in.wav"), 2, 44100, 0.5, 14000, 440);
    }

    QByteArray Encode(const TConfigValues &Settings, const QString &Name) {
        TLameCoder coder;
        ApplyEncoderSettings(coder, Settings, 44100);
        coder.SetInputFiles({dir.filePath("in.wav")});
        coder.SetOutputFiles({dir.filePath(Name)});
        coder.Encode();
        return ReadFile(dir.filePath(Name));
    }

    QTemporaryDir dir;
};

} // namespace

// A constant-bitrate file is the same byte for byte whatever the settings that only VBR uses.
TEST_F(GreyedOutSettings, DoNotChangeAConstantBitrateFile) {
    TConfig base;
    const QByteArray reference = Encode(base, "reference.mp3");
    ASSERT_FALSE(reference.isEmpty());

    const std::pair<const char *, std::function<void(TConfigValues &)>> variants[] = {
        {"quality voice", [](TConfigValues &C) { C.Quality = 3; }},
        {"quality low", [](TConfigValues &C) { C.Quality = 1; }},
        {"quality high", [](TConfigValues &C) { C.Quality = 2; }},
        {"max bitrate 32", [](TConfigValues &C) { C.MaxBitRate = 0; }},
        {"VBR quality 0", [](TConfigValues &C) { C.VBRQuality = 0; }},
        {"VBR quality 9", [](TConfigValues &C) { C.VBRQuality = 9; }},
        {"VBR header on", [](TConfigValues &C) { C.WriteVBRHeader = true; }},
    };
    int n = 0;
    for (const auto &[what, set] : variants) {
        TConfig settings;
        set(settings);
        EXPECT_EQ(Encode(settings, QStringLiteral("v%1.mp3").arg(n++)), reference) << what;
    }
    // The voice low-pass keeps the 14 kHz tone out of nothing.
    TConfig voice;
    voice.Quality = 3;
    Encode(voice, "voice.mp3");
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(dir.filePath("voice.mp3")), 0), 14000, 140);
}

// The same settings do act once VBR is on, so the check above is not blind.
TEST_F(GreyedOutSettings, ActWithVbr) {
    TConfig normal;
    normal.VBR = true;
    TConfig voice;
    voice.VBR = true;
    voice.Quality = 3;
    EXPECT_NE(Encode(normal, "normal.mp3"), Encode(voice, "voice.mp3"));
    const DecodedAudio cut = DecodeMpeg(dir.filePath("voice.mp3"));
    ASSERT_TRUE(cut.ok);
    EXPECT_LT(Rms(cut, 0), 0.05) << "the 14 kHz tone is above the voice low-pass";
}
