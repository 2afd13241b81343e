#include "encoder/EncoderSettings.h"
#include "encoder/LameCoder.h"
#include "settings/Config.h"
#include "support/TestMedia.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <ostream>
#include <unistd.h>

using namespace testmedia;

namespace {

class LameCoderTest : public ::testing::Test {
protected:
    QString path(const QString &name) const { return dir.filePath(name); }

    // Encodes one file and returns its decoded output.
    DecodedAudio EncodeAndDecode(TLameCoder &coder, const QString &input, const QString &output) {
        coder.SetInputFiles({input});
        coder.SetOutputFiles({output});
        coder.Encode();
        return DecodeMpeg(output);
    }

    QTemporaryDir dir;
};

struct ModeCase {
    TLameMode mode;
    int inputChannels;
    bool vbr;
};

std::string ModeCaseName(const ::testing::TestParamInfo<ModeCase> &info) {
    static const char *const modes[] = {"Stereo", "JointStereo", "DualChannel", "Mono"};
    return std::string(modes[info.param.mode]) +
           (info.param.inputChannels == 1 ? "FromMono" : "FromStereo") +
           (info.param.vbr ? "Vbr" : "Cbr");
}

class LameCoderModes : public LameCoderTest, public ::testing::WithParamInterface<ModeCase> {};

} // namespace

// Every mode, from mono and from stereo input, must keep the length and the tones: the
// encoder's channel count follows the mode, so the component has to match the input to it.
TEST_P(LameCoderModes, KeepsDurationAndToneOfEveryChannel) {
    const ModeCase c = GetParam();
    const double seconds = 3.0;
    const double left = 440, right = c.inputChannels == 2 && c.mode != MONO ? 1000 : 440;
    WriteSineWav(path("in.wav"), c.inputChannels, 44100, seconds, left, right);

    TLameCoder coder;
    coder.SetMode(c.mode);
    coder.SetEnableVBR(c.vbr);
    const DecodedAudio out = EncodeAndDecode(coder, path("in.wav"), path("out.mp3"));
    ASSERT_TRUE(out.ok) << out.error.toStdString();

    EXPECT_EQ(out.channels, c.mode == MONO ? 1 : 2);
    EXPECT_EQ(out.sampleRate, 44100);
    // Encoder delay and padding add well under 0.1 s.
    EXPECT_NEAR(out.seconds(), seconds, 0.1);
    EXPECT_NEAR(DominantFrequency(out, 0), left, left * 0.01);
    if (out.channels == 2) {
        EXPECT_NEAR(DominantFrequency(out, 1), right, right * 0.01);
    }
    EXPECT_NEAR(Rms(out, 0), 0.354, 0.05);
}

INSTANTIATE_TEST_SUITE_P(AllModes, LameCoderModes,
                         ::testing::Values(ModeCase{STEREO, 2, false}, ModeCase{JSTEREO, 2, false},
                                           ModeCase{DUALCHANNEL, 2, false},
                                           ModeCase{MONO, 2, false}, ModeCase{STEREO, 1, false},
                                           ModeCase{JSTEREO, 1, false},
                                           ModeCase{DUALCHANNEL, 1, false},
                                           ModeCase{MONO, 1, false}, ModeCase{JSTEREO, 2, true},
                                           ModeCase{MONO, 2, true}, ModeCase{STEREO, 1, true},
                                           ModeCase{MONO, 1, true}),
                         ModeCaseName);

TEST_F(LameCoderTest, KeepsToneAtOtherSampleRates) {
    for (int rate : {22050, 48000}) {
        WriteSineWav(path("in.wav"), 2, rate, 2.0, 1000);
        TLameCoder coder;
        coder.SetSampleRate(uint32_t(rate));
        const DecodedAudio out = EncodeAndDecode(coder, path("in.wav"), path("out.mp3"));
        ASSERT_TRUE(out.ok) << out.error.toStdString();
        EXPECT_EQ(out.sampleRate, rate);
        EXPECT_NEAR(out.seconds(), 2.0, 0.15);
        EXPECT_NEAR(DominantFrequency(out, 0), 1000, 10);
    }
}

TEST_F(LameCoderTest, VbrHeaderCountsTheFramesWritten) {
    WriteSineWav(path("in.wav"), 2, 44100, 4.0, 440);
    TLameCoder coder;
    coder.SetEnableVBR(true);
    coder.SetInputFiles({path("in.wav")});
    coder.Encode();
    const QByteArray mp3 = ReadFile(path("in.mp3"));
    const qsizetype tag = mp3.indexOf("Xing");
    ASSERT_GE(tag, 0);
    ASSERT_LT(tag, 64);
    auto be32 = [&](qsizetype at) {
        return quint32(quint8(mp3[at])) << 24 | quint32(quint8(mp3[at + 1])) << 16 |
               quint32(quint8(mp3[at + 2])) << 8 | quint32(quint8(mp3[at + 3]));
    };
    ASSERT_TRUE(be32(tag + 4) & 1) << "frame count present";
    // The placeholder written at the start holds no count; the final header does.
    const double frames = 4.0 * 44100 / 1152;
    EXPECT_NEAR(double(be32(tag + 8)), frames, 3);
    ASSERT_TRUE(be32(tag + 4) & 2) << "byte count present";
    EXPECT_EQ(qint64(be32(tag + 12)), mp3.size());
}

TEST_F(LameCoderTest, WritesThroughTheDescriptorItIsGivenAndNeverOpensTheName) {
    WriteSineWav(path("in.wav"), 2, 44100, 2.0, 440);
    TLameCoder coder;
    coder.SetEnableVBR(true);
    coder.SetInputFiles({path("in.wav")});
    coder.SetOutputFiles({path("named.mp3")});
    coder.Encode();
    const QByteArray named = ReadFile(path("named.mp3"));
    ASSERT_GT(named.size(), 1000);

    // Unlinked, the file can only be reached through the descriptor; what it held goes.
    const QByteArray target = QFile::encodeName(path("unnamed.mp3"));
    const int fd = ::open(target.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const QByteArray before(named.size() * 2, 'x');
    ASSERT_EQ(::write(fd, before.constData(), size_t(before.size())), before.size());
    ASSERT_EQ(::unlink(target.constData()), 0);
    coder.SetInputFiles({path("in.wav")});
    coder.SetOutputFiles({path("unnamed.mp3")});
    coder.SetOutputHandles({fd});
    coder.Encode();
    QByteArray written(before.size(), '\0');
    const ssize_t got = ::pread(fd, written.data(), size_t(written.size()), 0);
    ::close(fd);
    written.resize(qsizetype(std::max<ssize_t>(got, 0)));
    EXPECT_EQ(written, named) << "the same bytes, the VBR header frame rewritten at the start";
    EXPECT_FALSE(QFile::exists(path("unnamed.mp3"))) << "never opened by name";

    coder.SetOutputFiles({path("other.mp3")});
    EXPECT_TRUE(coder.OutputHandles().empty()) << "new outputs forget old descriptors";
}

TEST_F(LameCoderTest, RawPcmIsEncodedFromItsFirstByte) {
    WriteSinePcm(path("in.pcm"), 2, 44100, 2.0, 750);
    TLameCoder coder;
    const DecodedAudio out = EncodeAndDecode(coder, path("in.pcm"), path("out.mp3"));
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(out.channels, 2);
    EXPECT_NEAR(out.seconds(), 2.0, 0.1);
    EXPECT_NEAR(DominantFrequency(out, 1), 750, 7.5);
}

TEST_F(LameCoderTest, ReadsOneChunkOfSamplesTimesBlockAlignAtATime) {
    // Stereo: 2304 samples per chunk x 4 bytes = 9216 bytes; three whole chunks and a short one.
    const quint32 dataBytes = 3 * 9216 + 100;
    WriteFile(path("in.wav"), WavHeader(2, 44100, 16, dataBytes) + QByteArray(dataBytes, '\0'));
    std::vector<int> percents;
    TLameCoder coder;
    coder.OnProgress = [&](TLameCoder &, uint16_t percent) { percents.push_back(percent); };
    coder.SetInputFiles({path("in.wav")});
    coder.Encode();
    EXPECT_EQ(percents, (std::vector<int>{33, 66, 99, 100}));

    // Mono in mono mode: 1152 samples x 2 bytes; an odd length ends on a short chunk.
    percents.clear();
    WriteFile(path("in.wav"),
              WavHeader(1, 44100, 16, 2 * 2304 + 1) + QByteArray(2 * 2304 + 1, '\0'));
    coder.SetMode(MONO);
    coder.Encode();
    // Half a frame at the end is no audio: the data is two whole chunks.
    EXPECT_EQ(percents, (std::vector<int>{50, 100}));
}

TEST_F(LameCoderTest, InputWithoutOneWholeFrameIsRefusedBeforeAnyOutput) {
    // Encoded, each gave a stream of headers only that no player reads.
    struct Case {
        const char *name;
        QByteArray file;
    };
    for (const Case &c : {Case{"in.wav", WavHeader(2, 44100, 16, 0)},
                          Case{"in.wav", WavHeader(2, 44100, 16, 3) + QByteArray(3, '\x11')},
                          Case{"in.wav", WavHeader(1, 8000, 24, 6) + QByteArray(2, '\x11')},
                          Case{"in.pcm", QByteArray()}, Case{"in.pcm", QByteArray(3, '\x11')}}) {
        SCOPED_TRACE(c.file.toHex().toStdString());
        WriteFile(path(c.name), c.file);
        QFile::remove(path("in.mp3"));
        int progress = 0, endFiles = 0;
        TLameCoder coder;
        coder.OnProgress = [&](TLameCoder &, uint16_t) { ++progress; };
        coder.OnEndFile = [&](TLameCoder &, uint16_t, const QString &) { ++endFiles; };
        coder.SetInputFiles({path(c.name)});
        try {
            coder.Encode();
            ADD_FAILURE() << "encoded";
        } catch (const ELameError &e) {
            EXPECT_EQ(e.message(), "The file holds no audio");
        }
        EXPECT_EQ(progress, 0);
        EXPECT_EQ(endFiles, 0);
        EXPECT_FALSE(QFile::exists(path("in.mp3")));
        QFile::remove(path(c.name));
    }
    // An earlier output stays as it was.
    WriteFile(path("in.wav"), WavHeader(2, 44100, 16, 0));
    WriteFile(path("in.mp3"), "previous output");
    TLameCoder coder;
    coder.SetInputFiles({path("in.wav")});
    EXPECT_THROW(coder.Encode(), ELameError);
    EXPECT_EQ(ReadFile(path("in.mp3")), "previous output");
}

TEST_F(LameCoderTest, FiresEventsInOrderForEveryFile) {
    WriteSineWav(path("a.wav"), 2, 44100, 0.5, 440);
    WriteSineWav(path("b.wav"), 1, 44100, 0.5, 440);
    QStringList events;
    TLameCoder coder;
    coder.OnBeginProcess = [&](TLameCoder &) { events << "begin"; };
    coder.OnBeginFile = [&](TLameCoder &, uint16_t num, const QString &name) {
        events << QStringLiteral("file %1 %2").arg(num).arg(name.section('/', -1));
    };
    coder.OnProgress = [&](TLameCoder &, uint16_t percent) {
        if (percent == 100)
            events << "100%";
    };
    coder.OnEndFile = [&](TLameCoder &, uint16_t num, const QString &name) {
        events << QStringLiteral("end %1 %2").arg(num).arg(name.section('/', -1));
    };
    coder.OnEndProcess = [&](TLameCoder &) { events << "done"; };
    coder.SetInputFiles({path("a.wav"), path("b.wav")});
    coder.Encode();
    EXPECT_EQ(events, (QStringList{"begin", "file 0 a.wav", "100%", "end 0 a.mp3", "file 1 b.wav",
                                   "100%", "end 1 b.mp3", "done"}));
}

TEST_F(LameCoderTest, AbortStopsAfterTheCurrentChunkWithoutAnError) {
    WriteSineWav(path("a.wav"), 2, 44100, 5.0, 440);
    WriteSineWav(path("b.wav"), 2, 44100, 1.0, 440);
    int progress = 0;
    bool ended = false;
    TLameCoder coder;
    coder.OnProgress = [&](TLameCoder &sender, uint16_t) {
        if (++progress == 3)
            sender.Abort();
    };
    coder.OnEndFile = [&](TLameCoder &, uint16_t, const QString &) { ended = true; };
    coder.OnEndProcess = [&](TLameCoder &) { ended = true; };
    coder.SetInputFiles({path("a.wav"), path("b.wav")});
    EXPECT_NO_THROW(coder.Encode());
    EXPECT_EQ(progress, 3);
    EXPECT_FALSE(ended);
    EXPECT_TRUE(QFile::exists(path("a.mp3")));
    EXPECT_FALSE(QFile::exists(path("b.mp3")));
    // The next run starts afresh: the flag is cleared.
    coder.OnProgress = nullptr;
    coder.SetInputFiles({path("b.wav")});
    coder.Encode();
    EXPECT_TRUE(ended);
}

TEST_F(LameCoderTest, RefusesWhatItCannotEncodeNamingWhyAndKeepsTheOldOutput) {
    QByteArray impossibleRate = WavHeader(2, 44100, 16, 6000) + QByteArray(6000, '\x11');
    qToLittleEndian<quint32>(335566370, impossibleRate.data() + 24);
    QByteArray damagedDataId = WavHeader(2, 44100, 16, 6000) + QByteArray(6000, '\x11');
    damagedDataId[38] = 'x';
    struct Case {
        QByteArray file;
        const char *reason;
    };
    for (const Case &c :
         {Case{WavHeader(6, 48000, 24, 6000) + QByteArray(6000, '\x11'), "more than two channels"},
          Case{RiffWave(WavFmtChunk(16, 2, 2, 44100, 4) + WavChunk("data", "abcd")),
               "format tag 2"},
          Case{WavHeader(2, 44100, 40, 6000) + QByteArray(6000, '\x11'), "40 bits"},
          Case{impossibleRate, "SampleRate"}, Case{damagedDataId, "data chunk"}}) {
        WriteFile(path("in.wav"), c.file);
        WriteFile(path("in.mp3"), "previous output");
        TLameCoder coder;
        coder.SetInputFiles({path("in.wav")});
        try {
            coder.Encode();
            ADD_FAILURE() << "encoded: " << c.reason;
        } catch (const ELameError &e) {
            EXPECT_TRUE(e.message().contains(QLatin1String(c.reason))) << e.what();
        }
        EXPECT_EQ(ReadFile(path("in.mp3")), "previous output");
    }
}

// The sample formats real writers produce, each in a chunk layout one of them uses.
struct FormatCase {
    const char *name;
    quint16 tag;
    int bits;
    int fmtBytes;
    bool dataFirst; // the data chunk before the fmt chunk
};

void PrintTo(const FormatCase &c, std::ostream *out) {
    *out << c.name;
}

class LameCoderFormats : public LameCoderTest, public ::testing::WithParamInterface<FormatCase> {
protected:
    QString WriteTones(const std::vector<Tone> &channels) {
        const FormatCase c = GetParam();
        const QByteArray fmt = WavFmtChunk(c.fmtBytes, c.tag, int(channels.size()), 44100, c.bits);
        const QByteArray data = WavChunk("data", ToneSamples(c.tag, c.bits, 44100, 1.5, channels));
        const QByteArray list = WavChunk("LIST", "INFOISFT\x0d\x00\x00\x00Lavf59.27.100");
        WriteFile(path("in.wav"),
                  RiffWave(c.dataFirst ? data + list + fmt : fmt + list + data + list));
        return path("in.wav");
    }
    DecodedAudio Encode(TLameMode Mode) {
        TLameCoder coder;
        coder.SetMode(Mode);
        const DecodedAudio out = EncodeAndDecode(coder, path("in.wav"), path("out.mp3"));
        EXPECT_TRUE(out.ok) << out.error.toStdString();
        EXPECT_NEAR(out.seconds(), 1.5, 0.1);
        return out;
    }
};

// Left and right keep their own tone and level: a swapped, shifted or badly scaled read
// shows in one of them.
TEST_P(LameCoderFormats, StereoKeepsToneLevelAndOrderOfEachChannel) {
    WriteTones({{440, 0.5}, {1000, 0.25}});
    const DecodedAudio out = Encode(STEREO);
    ASSERT_EQ(out.channels, 2);
    EXPECT_NEAR(DominantFrequency(out, 0), 440, 4.4);
    EXPECT_NEAR(DominantFrequency(out, 1), 1000, 10);
    EXPECT_NEAR(Rms(out, 0), 0.5 / std::sqrt(2.0), 0.035);
    EXPECT_NEAR(Rms(out, 1), 0.25 / std::sqrt(2.0), 0.035);
}

// A mixdown that kept one channel only would give twice the level, or silence.
TEST_P(LameCoderFormats, MonoMixesBothChannels) {
    for (int loud : {0, 1}) {
        std::vector<Tone> tones{{440, 0}, {440, 0}};
        tones[size_t(loud)].amplitude = 0.6;
        WriteTones(tones);
        const DecodedAudio out = Encode(MONO);
        ASSERT_EQ(out.channels, 1);
        EXPECT_NEAR(DominantFrequency(out, 0), 440, 4.4) << "channel " << loud;
        EXPECT_NEAR(Rms(out, 0), 0.3 / std::sqrt(2.0), 0.035) << "channel " << loud;
    }
}

TEST_P(LameCoderFormats, MonoInputPlaysOnBothChannels) {
    WriteTones({{700, 0.5}});
    const DecodedAudio out = Encode(JSTEREO);
    ASSERT_EQ(out.channels, 2);
    for (int c : {0, 1}) {
        EXPECT_NEAR(DominantFrequency(out, c), 700, 7);
        EXPECT_NEAR(Rms(out, c), 0.5 / std::sqrt(2.0), 0.035);
    }
}

INSTANTIATE_TEST_SUITE_P(RealWriters, LameCoderFormats,
                         ::testing::Values(FormatCase{"Unsigned8", 1, 8, 16, false},
                                           FormatCase{"Pcm16Fmt18DataFirst", 1, 16, 18, true},
                                           FormatCase{"Pcm16Extensible", 1, 16, 40, false},
                                           FormatCase{"Pcm24Extensible", 1, 24, 40, false},
                                           FormatCase{"Pcm32Extensible", 1, 32, 40, true},
                                           FormatCase{"Float32Fmt18", 3, 32, 18, false},
                                           FormatCase{"Float32Extensible", 3, 32, 40, false},
                                           FormatCase{"Float64Extensible", 3, 64, 40, false}),
                         [](const ::testing::TestParamInfo<FormatCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(LameCoderTest, ChunksAroundTheDataNeverBecomeSound) {
    // Silence between two loud chunks, and a data chunk cut short by the end of the file.
    const QByteArray loud(20000, '\x7f');
    const QByteArray silence(4 * 44100, '\0');
    QByteArray cut = RiffWave(WavFmtChunk(16, 1, 2, 44100, 16) + WavChunk("LIST", loud) +
                              WavChunk("data", silence));
    qToLittleEndian<quint32>(8 * 44100, cut.data() + cut.size() - silence.size() - 4);
    for (const QByteArray &file :
         {RiffWave(WavFmtChunk(16, 1, 2, 44100, 16) + WavChunk("LIST", loud) +
                   WavChunk("data", silence) + WavChunk("LIST", loud)),
          cut}) {
        WriteFile(path("in.wav"), file);
        TLameCoder coder;
        const DecodedAudio out = EncodeAndDecode(coder, path("in.wav"), path("out.mp3"));
        ASSERT_TRUE(out.ok);
        EXPECT_NEAR(out.seconds(), 1.0, 0.1);
        const auto loudest =
            std::max_element(out.samples.begin(), out.samples.end(),
                             [](int16_t a, int16_t b) { return std::abs(a) < std::abs(b); });
        EXPECT_LT(std::abs(*loudest), 8);
    }
}

TEST_F(LameCoderTest, FileErrorsStopTheRunAndNeverTouchTheSource) {
    WriteSineWav(path("a.wav"), 2, 44100, 0.5, 440);
    TLameCoder coder;
    coder.SetInputFiles({path("missing.wav"), path("a.wav")});
    EXPECT_THROW(coder.Encode(), EFOpenError);
    EXPECT_FALSE(QFile::exists(path("a.mp3"))) << "files after a failure are not processed";

    coder.SetInputFiles({path("a.wav")});
    coder.SetOutputFiles({path("no/such/folder/a.mp3")});
    EXPECT_THROW(coder.Encode(), EFCreateError);

    const QByteArray source = ReadFile(path("a.wav"));
    coder.SetOutputFiles({path("a.wav")});
    EXPECT_THROW(coder.Encode(), EFCreateError);
    EXPECT_EQ(ReadFile(path("a.wav")), source);
}

TEST_F(LameCoderTest, RefusedSettingsFailTheFirstChunk) {
    WriteSineWav(path("a.wav"), 2, 44100, 0.5, 440);
    TLameCoder coder;
    coder.SetSampleRate(0);
    coder.SetInputFiles({path("a.wav")});
    try {
        coder.Encode();
        FAIL() << "encoded with refused settings";
    } catch (const ELameError &e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("beEncodeChunk failed %1").arg(BE_ERR_INVALID_SETTINGS));
    }
}

TEST(LameCoderProperties, InputFilesNameOutputsWithTheDefaultExtension) {
    TLameCoder coder;
    coder.SetInputFiles({"/music/a.b/song.wav", "/music/take", "C:\\dir.x\\song.WAV"});
    EXPECT_EQ(coder.OutputFiles(),
              (QStringList{"/music/a.b/song.mp3", "/music/take.mp3", "C:\\dir.x\\song.mp3"}));
    coder.SetOutputFiles({"/elsewhere/x.mp3"});
    EXPECT_EQ(coder.InputFiles().size(), 3);
}

TEST(LameCoderProperties, VbrSwitchCarriesItsHeaderAndAssignCopiesSettingsOnly) {
    TLameCoder a;
    a.SetEnableVBR(true);
    EXPECT_TRUE(a.WriteVBRHeader());
    a.SetWriteVBRHeader(false);
    a.SetBitrate(64);
    a.SetMode(DUALCHANNEL);
    a.SetVBRQuality(7);
    a.SetInputFiles({"x.wav"});
    TLameCoder b;
    b.Assign(a);
    EXPECT_TRUE(b.EnableVBR());
    EXPECT_FALSE(b.WriteVBRHeader());
    EXPECT_EQ(b.Bitrate(), 64u);
    EXPECT_EQ(b.Mode(), DUALCHANNEL);
    EXPECT_EQ(b.VBRQuality(), 7);
    EXPECT_TRUE(b.InputFiles().isEmpty());
}

TEST(EncoderSettings, StoredIndicesBecomeEncoderValues) {
    TConfig config;
    config.BitRate = 8;
    config.MaxBitRate = 13;
    config.Mode = 1;
    config.Quality = 3;
    config.VBR = true;
    config.WriteVBRHeader = false;
    config.Private = true;
    TLameCoder coder;
    ApplyEncoderSettings(coder, config, 22050);
    EXPECT_EQ(coder.SampleRate(), 22050u);
    EXPECT_EQ(coder.Bitrate(), 128u);
    EXPECT_EQ(coder.MaxBitrate(), 320u);
    EXPECT_EQ(coder.Mode(), JSTEREO);
    EXPECT_EQ(coder.Quality(), VOICE_QUALITY);
    EXPECT_TRUE(coder.EnableVBR());
    EXPECT_FALSE(coder.WriteVBRHeader()) << "the stored header choice wins over the VBR switch";
    EXPECT_TRUE(coder.Private());

    // Values out of range never reach the encoder as they are.
    config.BitRate = 40;
    config.MaxBitRate = -3;
    config.Mode = 9;
    config.VBRQuality = 12;
    ApplyEncoderSettings(coder, config, 44100);
    EXPECT_EQ(coder.Bitrate(), 320u);
    EXPECT_EQ(coder.MaxBitrate(), 320u) << "a VBR maximum is never below the minimum";
    EXPECT_EQ(coder.Mode(), MONO);
    EXPECT_EQ(coder.VBRQuality(), 9);
}
