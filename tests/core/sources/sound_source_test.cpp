#include "conversion/Normalize.h"
#include "encoder/LameCoder.h"
#include "sources/SourceInfo.h"
#include "support/TestMedia.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <ostream>
#include <stdexcept>

using namespace testmedia;

namespace {

// A tone per channel, as libsndfile's own writer stores it. Integer formats get exact
// left-justified values of their depth, so a WAV file of the same samples can be compared.
struct SoundShape {
    int format = 0; // SF_FORMAT_* major | subtype
    int sampleRate = 44100;
    int channels = 2;
    qint64 frames = 44100;
    int bits = 16; // depth of the integer values written; 0 writes doubles
    std::vector<double> freqs{440, 660};
    double amplitude = 0.5;
};

int32_t Quantised(double Value, int Bits) {
    const double scale = std::ldexp(1.0, Bits - 1);
    const double q = std::clamp(std::nearbyint(Value * scale), -scale, scale - 1);
    return int32_t(q) * (int32_t(1) << (32 - Bits));
}

// The value of a channel at a frame, before quantisation.
double ToneAt(const SoundShape &S, int Channel, qint64 Frame) {
    const double freq = S.freqs[size_t(Channel) % S.freqs.size()];
    return S.amplitude * std::sin(2 * std::numbers::pi * freq * double(Frame) / S.sampleRate);
}

struct SndCloser {
    void operator()(SNDFILE *F) const { sf_close(F); }
};

void WriteSound(const QString &Path, const SoundShape &S,
                const std::function<double(int, qint64)> &Value = {}) {
    SF_INFO info{};
    info.samplerate = S.sampleRate;
    info.channels = S.channels;
    info.format = S.format;
    std::unique_ptr<SNDFILE, SndCloser> file(
        sf_open(QFile::encodeName(Path).constData(), SFM_WRITE, &info));
    if (!file)
        throw std::runtime_error(std::string("sf_open for writing: ") + sf_strerror(nullptr));
    const auto valueAt = [&](int c, qint64 i) { return Value ? Value(c, i) : ToneAt(S, c, i); };
    std::vector<int32_t> ints(size_t(S.frames * S.channels));
    std::vector<double> reals(ints.size());
    for (qint64 i = 0; i < S.frames; ++i)
        for (int c = 0; c < S.channels; ++c) {
            const size_t at = size_t(i * S.channels + c);
            ints[at] = S.bits ? Quantised(valueAt(c, i), S.bits) : 0;
            reals[at] = valueAt(c, i);
        }
    const sf_count_t written = S.bits ? sf_writef_int(file.get(), ints.data(), S.frames)
                                      : sf_writef_double(file.get(), reals.data(), S.frames);
    if (written != S.frames)
        throw std::runtime_error(std::string("sf_writef: ") + sf_strerror(file.get()));
}

struct MpgDeleter {
    void operator()(mpg123_handle *H) const {
        mpg123_close(H);
        mpg123_delete(H);
    }
};

// Sample frames libmpg123 gives for an MP3 with gapless decoding asked for explicitly: the
// encoder's delay and padding, as the Info frame records them, are cut.
qint64 GaplessFrames(const QString &Path) {
    static const int init = mpg123_init();
    EXPECT_EQ(init, MPG123_OK);
    std::unique_ptr<mpg123_handle, MpgDeleter> mh(mpg123_new(nullptr, nullptr));
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    if (mpg123_open(mh.get(), QFile::encodeName(Path).constData()) != MPG123_OK)
        return -1;
    long rate = 0;
    int channels = 0, encoding = 0;
    mpg123_getformat(mh.get(), &rate, &channels, &encoding);
    std::vector<unsigned char> buffer(1 << 16);
    qint64 bytes = 0;
    for (;;) {
        size_t done = 0;
        const int rc = mpg123_read(mh.get(), buffer.data(), buffer.size(), &done);
        bytes += qint64(done);
        if (rc == MPG123_DONE)
            break;
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT)
            return -1;
    }
    return bytes / (channels * mpg123_encsize(encoding));
}

class SoundSourceTest : public ::testing::Test {
protected:
    QString path(const QString &Name) const { return dir.filePath(Name); }

    void Encode(const QString &Input, const QString &Output, int SampleRate,
                const std::vector<TSourceInfo> &Infos = {}) {
        TLameCoder coder;
        coder.SetSampleRate(uint32_t(SampleRate));
        coder.SetInputFiles({Input}, Infos);
        coder.SetOutputFiles({Output});
        coder.Encode();
    }

    QTemporaryDir dir;
};

struct FormatCase {
    const char *name;
    const char *file;
    SoundShape shape;
    const char *formatText;
    bool isFloat;
    int bits;
    int waveFormat; // the same samples as a WAV file, for lossless formats; 0 for lossy ones
};

void PrintTo(const FormatCase &C, std::ostream *Out) {
    *Out << C.name;
}

SoundShape Shape(int Format, int Bits, int Rate = 44100) {
    SoundShape s;
    s.format = Format;
    s.bits = Bits;
    s.sampleRate = Rate;
    s.frames = Rate; // one second
    return s;
}

const FormatCase Formats[] = {
    {"Flac16", "a.flac", Shape(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16), "FLAC 16-bit", false, 16,
     SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"Flac24", "a.flac", Shape(SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24), "FLAC 24-bit", false, 24,
     SF_FORMAT_WAV | SF_FORMAT_PCM_24},
    {"Aiff16", "a.aiff", Shape(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 16), "AIFF 16-bit", false, 16,
     SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"AifcFloat", "a.aifc", Shape(SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 0, 48000), "AIFC 32-bit float",
     true, 32, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
    {"OggVorbis", "a.ogg", Shape(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0), "Ogg Vorbis", true, 0, 0},
    {"OggOpus", "a.opus", Shape(SF_FORMAT_OGG | SF_FORMAT_OPUS, 0, 48000), "Ogg Opus", true, 0, 0},
    {"W64Pcm24", "a.w64", Shape(SF_FORMAT_W64 | SF_FORMAT_PCM_24, 24), "W64 24-bit", false, 24,
     SF_FORMAT_WAV | SF_FORMAT_PCM_24},
    {"Caf16", "a.caf", Shape(SF_FORMAT_CAF | SF_FORMAT_PCM_16, 16, 32000), "CAF 16-bit", false, 16,
     SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {"Rf64Pcm32", "a.rf64", Shape(SF_FORMAT_RF64 | SF_FORMAT_PCM_32, 32), "RF64 32-bit", false, 32,
     SF_FORMAT_WAV | SF_FORMAT_PCM_32},
};

class SoundSourceFormats : public SoundSourceTest,
                           public ::testing::WithParamInterface<FormatCase> {};

} // namespace

TEST_P(SoundSourceFormats, IsDescribedAsLibsndfileReadsIt) {
    const FormatCase c = GetParam();
    WriteSound(path(c.file), c.shape);
    const TSourceInfo info = ReadSourceInfo(path(c.file));
    if ((c.shape.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64) {
        // Our own WAV reader knows RF64 and keeps it, as it keeps every WAV file it reads.
        ASSERT_EQ(info.Kind, skWave);
        EXPECT_TRUE(info.Wave.Valid) << WaveFileProblem(info.Wave).toStdString();
        EXPECT_EQ(info.Wave.Frames(), c.shape.frames);
        EXPECT_EQ(SourceProblem(info), QString());
        return;
    }
    ASSERT_EQ(info.Kind, skSoundFile);
    const TSoundFileInfo &s = info.Sound;
    ASSERT_TRUE(s.Valid) << s.Problem.toStdString();
    EXPECT_EQ(s.FormatText, QLatin1String(c.formatText));
    EXPECT_EQ(s.Format + u' ' + s.SubFormat, s.FormatText);
    EXPECT_EQ(s.SampleRate, c.shape.sampleRate);
    EXPECT_EQ(s.Channels, 2);
    EXPECT_EQ(s.Frames, c.shape.frames);
    EXPECT_DOUBLE_EQ(s.Duration, 1.0);
    EXPECT_EQ(s.FileSize, QFile(path(c.file)).size());
    EXPECT_EQ(s.IsFloat, c.isFloat);
    EXPECT_EQ(s.Bits, c.bits);
    EXPECT_EQ(SourceProblem(info), QString());
}

// Tone, level, channel order and the exact length of every format, through the encoder and
// back through libmpg123; lossless formats give the very MP3 of the same samples in a WAV
// file, which our own reader hands to the encoder.
TEST_P(SoundSourceFormats, EncodesToneLevelChannelsAndLengthExactly) {
    const FormatCase c = GetParam();
    WriteSound(path(c.file), c.shape);
    Encode(path(c.file), path("a.mp3"), c.shape.sampleRate);

    const DecodedAudio out = DecodeMpeg(path("a.mp3"));
    ASSERT_TRUE(out.ok) << out.error.toStdString();
    ASSERT_EQ(out.channels, 2);
    EXPECT_EQ(out.sampleRate, c.shape.sampleRate);
    EXPECT_EQ(qint64(out.frames()), c.shape.frames);
    EXPECT_EQ(GaplessFrames(path("a.mp3")), c.shape.frames);
    EXPECT_NEAR(DominantFrequency(out, 0), 440, 4.4) << "left stays left";
    EXPECT_NEAR(DominantFrequency(out, 1), 660, 6.6) << "right stays right";
    EXPECT_NEAR(Rms(out, 0), 0.354, 0.03);
    EXPECT_NEAR(Rms(out, 1), 0.354, 0.03);

    if (c.waveFormat) {
        SoundShape wav = c.shape;
        wav.format = c.waveFormat;
        WriteSound(path("same.wav"), wav);
        ASSERT_EQ(ReadSourceInfo(path("same.wav")).Kind, skWave);
        Encode(path("same.wav"), path("same.mp3"), c.shape.sampleRate);
        EXPECT_EQ(ReadFile(path("a.mp3")), ReadFile(path("same.mp3")));
    }
}

INSTANTIATE_TEST_SUITE_P(Libsndfile, SoundSourceFormats, ::testing::ValuesIn(Formats),
                         [](const auto &Info) { return std::string(Info.param.name); });

// A detail at about -130 dBFS lies below the last bit of 16-bit audio: a 24-bit FLAC must
// reach the encoder with it, as 32-bit values, while a 16-bit reading loses it.
TEST_F(SoundSourceTest, TwentyFourBitFlacReachesTheEncoderAtFullPrecision) {
    SoundShape s = Shape(SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24);
    s.channels = 1;
    s.frames = 4800;
    const double detail = std::pow(10.0, -130.0 / 20.0); // about 2.7 steps of 24 bits
    WriteSound(path("quiet.flac"), s, [&](int, qint64 i) {
        return detail * std::sin(2 * std::numbers::pi * 1000 * double(i) / 44100);
    });

    QFile file(path("quiet.flac"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const TSourceInfo info = ReadSourceInfo(file, file.fileName());
    QString problem;
    std::unique_ptr<TPcmSource> source = OpenPcmSource(file, info, problem);
    ASSERT_TRUE(source) << problem.toStdString();
    EXPECT_EQ(source->SampleType(), pstInt32);
    std::vector<int32_t> wide(size_t(s.frames));
    ASSERT_EQ(source->Read(wide.data(), s.frames), s.frames);
    int32_t widePeak = 0;
    for (qint64 i = 0; i < s.frames; ++i) {
        ASSERT_EQ(wide[size_t(i)],
                  Quantised(detail * std::sin(2 * std::numbers::pi * 1000 * double(i) / 44100), 24))
            << "frame " << i;
        widePeak = std::max(widePeak, wide[size_t(i)]);
    }
    EXPECT_EQ(widePeak >> 8, 3) << "three 24-bit steps at the top of the wave";

    source = OpenPcmSource(file, info, problem);
    std::vector<int16_t> narrow(size_t(s.frames));
    ASSERT_EQ(source->Read(narrow.data(), s.frames), s.frames);
    EXPECT_TRUE(std::all_of(narrow.begin(), narrow.end(), [](int16_t v) {
        return v == 0 || v == -1;
    })) << "16 bits cannot hold the detail";
}

TEST_F(SoundSourceTest, LibsndfileExtensionsInAnyCase) {
    for (const char *name : {"a.flac", "B.FLAC", "c.aif", "d.AIFF", "e.aifc", "f.ogg", "g.oga",
                             "h.Opus", "i.w64", "j.caf", "k.rf64", "dir.x/l.flac"})
        EXPECT_TRUE(IsSoundFileName(QLatin1String(name))) << name;
    for (const char *name : {"a.wav", "a.mp3", "a.pcm", "a.flac.txt", "flac", "a.fla"})
        EXPECT_FALSE(IsSoundFileName(QLatin1String(name))) << name;
}

// Our WAV reader refuses A-law data; libsndfile reads it, so the file is encoded anyway.
TEST_F(SoundSourceTest, WavShapesOurReaderRefusesGoToLibsndfile) {
    SoundShape s = Shape(SF_FORMAT_WAV | SF_FORMAT_ALAW, 0);
    WriteSound(path("alaw.wav"), s);
    TWaveFileInfo wave;
    ASSERT_TRUE(ReadWaveFileInfo(path("alaw.wav"), wave));
    ASSERT_FALSE(UnsupportedWaveFormat(wave).isEmpty());

    const TSourceInfo info = ReadSourceInfo(path("alaw.wav"));
    ASSERT_EQ(info.Kind, skSoundFile);
    EXPECT_EQ(info.Sound.FormatText, QStringLiteral("WAV A-law"));
    Encode(path("alaw.wav"), path("alaw.mp3"), 44100);
    const DecodedAudio out = DecodeMpeg(path("alaw.mp3"));
    EXPECT_EQ(qint64(out.frames()), s.frames);
    EXPECT_NEAR(DominantFrequency(out, 1), 660, 6.6);
    EXPECT_NEAR(Rms(out, 0), 0.354, 0.03);
}

TEST_F(SoundSourceTest, RefusesWhatItCannotEncodeAndKeepsTheOldOutput) {
    SoundShape six = Shape(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16);
    six.channels = 6;
    WriteSound(path("six.flac"), six);
    WriteFile(path("notflac.flac"), QByteArray("fLaC but nothing after it"));
    SoundShape empty = Shape(SF_FORMAT_W64 | SF_FORMAT_PCM_16, 16);
    empty.frames = 0;
    WriteSound(path("empty.w64"), empty);
    // An MP3 under a libsndfile name is still MPEG audio, which is decoded, not encoded.
    WriteSineWav(path("tone.wav"), 2, 44100, 0.5, 440);
    Encode(path("tone.wav"), path("tone.mp3"), 44100);
    QFile::copy(path("tone.mp3"), path("mpeg.ogg"));

    struct Case {
        const char *input;
        const char *output;
        const char *reason;
    };
    for (const Case &c : {Case{"six.flac", "six.mp3",
                               "FLAC files with more than two channels cannot be encoded (this "
                               "one has 6); mix it down to stereo or mono first"},
                          Case{"notflac.flac", "notflac.mp3", "not an audio file that can be read"},
                          Case{"empty.w64", "empty.mp3", "The file holds no audio"},
                          Case{"mpeg.ogg", "mpeg.mp3", "MPEG audio"}}) {
        WriteFile(path(c.output), "previous output");
        try {
            Encode(path(c.input), path(c.output), 44100);
            ADD_FAILURE() << "encoded " << c.input;
        } catch (const ELameError &e) {
            EXPECT_TRUE(e.message().contains(QLatin1String(c.reason))) << e.what();
        }
        EXPECT_EQ(ReadFile(path(c.output)), "previous output") << c.input;
    }
}

// The job reads and checks the header before the encode; the coder takes what it was handed
// rather than reading the file again.
TEST_F(SoundSourceTest, CoderUsesTheSourceInfoItIsHanded) {
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440);
    TSourceInfo info = ReadSourceInfo(path("a.wav"));
    ASSERT_EQ(info.Kind, skWave);
    info.Wave.DataLength /= 2;
    Encode(path("a.wav"), path("a.mp3"), 44100, {info});
    EXPECT_EQ(DecodeMpeg(path("a.mp3")).frames(), 22050u);

    // A sound file that is no longer what was read is not encoded as something else.
    WriteSound(path("b.flac"), Shape(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16));
    TSourceInfo stale = ReadSourceInfo(path("b.flac"));
    WriteSound(path("b.flac"), Shape(SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24));
    try {
        Encode(path("b.flac"), path("b.mp3"), 44100, {stale});
        ADD_FAILURE() << "encoded a changed file";
    } catch (const ELameError &e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("changed"))) << e.what();
    }
}

// Without an Info frame decoders add the encoder's delay and padding (1105 samples in front
// and 227 behind for 3 s at 44.1 kHz); with it they give back exactly the source's samples.
TEST_F(SoundSourceTest, CbrOutputDecodesToExactlyTheSourceLength) {
    struct Case {
        int channels;
        int rate;
        TLameMode mode;
        bool vbrHeaderSwitch;
    };
    for (const Case &c : {Case{2, 44100, STEREO, false}, Case{1, 44100, MONO, false},
                          Case{2, 48000, JSTEREO, true}, Case{1, 32000, STEREO, false}}) {
        WriteSineWav(path("in.wav"), c.channels, c.rate, 3.0, 440);
        TLameCoder coder;
        coder.SetSampleRate(uint32_t(c.rate));
        coder.SetMode(c.mode);
        coder.SetWriteVBRHeader(c.vbrHeaderSwitch);
        coder.SetInputFiles({path("in.wav")});
        coder.Encode();
        EXPECT_EQ(GaplessFrames(path("in.mp3")), 3 * c.rate) << c.rate << " Hz " << c.mode;
        // The frame is an Info frame (CBR), not a Xing one: inspectors keep the bitrate.
        const QByteArray bytes = ReadFile(path("in.mp3"));
        EXPECT_TRUE(bytes.left(200).contains("Info"));
        EXPECT_FALSE(bytes.left(200).contains("Xing"));
    }
}

TEST_F(SoundSourceTest, VbrHeaderSwitchStillDecidesForVbr) {
    WriteSineWav(path("in.wav"), 2, 44100, 3.0, 440);
    TLameCoder coder;
    coder.SetEnableVBR(true);
    coder.SetWriteVBRHeader(false);
    coder.SetInputFiles({path("in.wav")});
    coder.Encode();
    const QByteArray bytes = ReadFile(path("in.mp3"));
    EXPECT_FALSE(bytes.left(200).contains("Xing"));
    EXPECT_FALSE(bytes.left(200).contains("Info"));
    EXPECT_GT(GaplessFrames(path("in.mp3")), 3 * 44100) << "no frame, no trimming";
}

// The scaled copy of a FLAC or Vorbis file is a WAV file in the destination's folder at the
// source's own precision: 24 bits stay 24 bits, lossy audio becomes float.
TEST_F(SoundSourceTest, NormalisesSoundFilesIntoWavCopiesOfTheirPrecision) {
    struct Case {
        const char *file;
        SoundShape shape;
        TWaveSampleFormat copy;
    };
    SoundShape flac = Shape(SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24);
    flac.amplitude = 0.25;
    SoundShape vorbis = Shape(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 0);
    vorbis.amplitude = 0.25;
    for (const Case &c :
         {Case{"q.flac", flac, {wskInteger, 24}}, Case{"q.ogg", vorbis, {wskFloat, 32}}}) {
        WriteSound(path(c.file), c.shape);
        std::atomic<bool> abort{false};
        bool scaling = false;
        TNormalizeResult result =
            NormalizeToPeak(path(c.file), 100, dir.path(), abort, [&] { scaling = true; });
        ASSERT_TRUE(result.Error.isEmpty()) << result.Error.toStdString();
        ASSERT_TRUE(result.Temp) << c.file;
        EXPECT_TRUE(scaling);
        EXPECT_TRUE(result.Temp.Path().startsWith(dir.path()));

        TWaveFileInfo copy;
        ASSERT_TRUE(ReadWaveFileInfo(result.Temp.Path(), copy));
        EXPECT_EQ(copy.SampleFormat, c.copy) << c.file;
        EXPECT_EQ(copy.Frames(), c.shape.frames);
        EXPECT_EQ(copy.Header.SampleRate, uint32_t(c.shape.sampleRate));
        double peak = 0;
        ASSERT_TRUE(ScanPeak(result.Temp.Path(), copy, peak, abort));
        EXPECT_NEAR(peak, 32767, 40) << c.file;

        // The encoder takes the copy as it takes any WAV file.
        Encode(result.Temp.Path(), path("q.mp3"), c.shape.sampleRate);
        const DecodedAudio out = DecodeMpeg(path("q.mp3"));
        EXPECT_EQ(qint64(out.frames()), c.shape.frames);
        EXPECT_NEAR(Rms(out, 0), 0.707, 0.05) << c.file;
        result.Temp.Remove();
    }
}

// A 24-bit sample scaled by an exact factor is exact in the copy: nothing was rounded to 16
// bits on the way.
TEST_F(SoundSourceTest, NormalisedFlacCopyKeepsTheLowBits) {
    SoundShape s = Shape(SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 24);
    s.channels = 1;
    s.frames = 1000;
    // Odd 24-bit values, none a multiple of 256.
    WriteSound(path("odd.flac"), s, [](int, qint64 i) { return double(2 * i + 1) / (1 << 23); });
    TSoundFileInfo info;
    ASSERT_TRUE(ReadSoundFileInfo(path("odd.flac"), info));
    std::atomic<bool> abort{false};
    TPartialFile temp;
    ASSERT_TRUE(NormalizeSoundFile(path("odd.flac"), info, 4.0, dir.path(), temp, abort));
    TWaveFileInfo copy;
    ASSERT_TRUE(ReadWaveFileInfo(temp.Path(), copy));
    TWaveSampleReader reader(temp.Path(), copy);
    std::vector<int32_t> values(size_t(s.frames));
    ASSERT_EQ(reader.Read(values.data(), s.frames), s.frames);
    for (qint64 i = 0; i < s.frames; ++i)
        ASSERT_EQ(values[size_t(i)], int32_t(4 * (2 * i + 1)) << 8) << "frame " << i;
    temp.Remove();
}
