// Sound files that libsndfile reads (FLAC, AIFF, Ogg, and WAV shapes our own reader refuses),
// written by libsndfile's own writer and played through the library like any other input.

#include "XaudioBench.h"

#include <sndfile.h>

#include <QFile>

#include <random>

namespace xaudiotest {
namespace {

// Interleaved samples on libsndfile's 32-bit integer scale, so that one writer call serves
// 16 and 24-bit files alike.
std::vector<int32_t> Content(int channels, int rate, double seconds, int bits, int seed) {
    std::mt19937 random{uint32_t(seed)};
    const int64_t frames = int64_t(rate * seconds);
    const double top = double(1 << (bits - 1)) * 0.9;
    std::vector<int32_t> samples(size_t(frames * channels));
    for (size_t i = 0; i < samples.size(); ++i) {
        const double tone = std::sin(2 * M_PI * 440.0 * double(i / size_t(channels)) / rate);
        const double noise = std::uniform_real_distribution<double>(-0.3, 0.3)(random);
        samples[i] = int32_t(std::lround(top * (0.6 * tone + noise))) * (1 << (32 - bits));
    }
    return samples;
}

sf_count_t WriteFrames(SNDFILE *File, const int32_t *Samples, sf_count_t Frames) {
    return sf_writef_int(File, Samples, Frames);
}

sf_count_t WriteFrames(SNDFILE *File, const float *Samples, sf_count_t Frames) {
    return sf_writef_float(File, Samples, Frames);
}

// A file in libsndfile's Format of the interleaved samples, int32 or float.
template <typename TSample>
void WriteSound(const std::string &path, int format, int channels, int rate,
                const std::vector<TSample> &samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(file) << sf_strerror(nullptr);
    const sf_count_t frames = sf_count_t(samples.size()) / channels;
    EXPECT_EQ(WriteFrames(file, samples.data(), frames), frames);
    EXPECT_EQ(sf_close(file), 0);
}

std::vector<float> SineSamples(int channels, int rate, double seconds, double freq,
                               double amplitude) {
    const size_t frames = size_t(rate * seconds);
    std::vector<float> samples(frames * size_t(channels));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            float(amplitude * std::sin(2 * M_PI * freq * double(i / size_t(channels)) / rate));
    return samples;
}

const Note *Last(const TestPlayer &p, int code) {
    const auto found = std::find_if(p.log().rbegin(), p.log().rend(),
                                    [code](const Note &n) { return n.code == code; });
    return found == p.log().rend() ? nullptr : &*found;
}

class SoundFileTest : public XaudioTest {};

TEST_F(SoundFileTest, LosslessFilesComeOutAsTheirSamplesRoundedTo16Bits) {
    struct Case {
        QString name;
        int format;
        int channels;
        int rate;
        int bits;
        const char *mime;
    };
    const Case cases[] = {
        {"mono16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, 16, "audio/flac"},
        {"stereo16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 48000, 16, "audio/flac"},
        {"mono24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1, 96000, 24, "audio/flac"},
        {"stereo24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 44100, 24, "audio/flac"},
        {"mono.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 22050, 16, "audio/aiff"},
        {"stereo.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 44100, 16, "audio/aiff"},
        {"stereo24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 32000, 24, "audio/wav"},
        {"mono.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 1, 16000, 16, "audio/x-w64"},
        {"stereo.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 2, 44100, 16, "audio/x-caf"},
    };
    int seed = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const std::vector<int32_t> written = Content(c.channels, c.rate, 1.6, c.bits, seed++);
        WriteSound(path(c.name), c.format, c.channels, c.rate, written);
        TestPlayer p;
        Convert(p, path(c.name), path(c.name + ".out.wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath(c.name + ".out.wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.sampleRate, c.rate);
        EXPECT_EQ(out.audio.channels, c.channels);
        ASSERT_EQ(out.audio.samples.size(), written.size());
        size_t wrong = 0;
        for (size_t i = 0; i < written.size(); ++i) {
            // 24-bit samples are rounded to the nearest 16-bit value, not cut off.
            const double exact = written[i] / 65536.0;
            if (std::abs(out.audio.samples[i] - exact) > 0.5)
                ++wrong;
        }
        EXPECT_EQ(wrong, 0u);

        const Note *duration = Last(p, XA_MSG_NOTIFY_STREAM_DURATION);
        ASSERT_TRUE(duration);
        EXPECT_EQ(duration->msg.data.duration.duration, 2u);
        const Note *parameters = Last(p, XA_MSG_NOTIFY_STREAM_PARAMETERS);
        ASSERT_TRUE(parameters);
        EXPECT_EQ(parameters->msg.data.stream_parameters.frequency, uint32_t(c.rate));
        EXPECT_EQ(parameters->msg.data.stream_parameters.nb_channels, c.channels == 1 ? 3 : 0);
        // The file's size over its length: about the raw rate for uncompressed files, less
        // for FLAC, never nothing.
        const int raw = c.rate * c.channels * c.bits / 1000;
        EXPECT_GT(parameters->msg.data.stream_parameters.bitrate, raw / 4);
        EXPECT_LT(parameters->msg.data.stream_parameters.bitrate, raw * 11 / 10);
        const Note *mime = Last(p, XA_MSG_NOTIFY_STREAM_MIME_TYPE);
        ASSERT_TRUE(mime);
        EXPECT_EQ(mime->text, c.mime);
        const Note *position = Last(p, XA_MSG_NOTIFY_INPUT_POSITION);
        ASSERT_TRUE(position);
        EXPECT_EQ(position->msg.data.position.offset, position->msg.data.position.range);
    }
}

TEST_F(SoundFileTest, LossyOggFilesKeepTheirToneLevelAndLength) {
    struct Case {
        QString name;
        int format;
        int channels;
        int rate;
    };
    const Case cases[] = {
        {"stereo.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100},
        {"mono.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 22050},
        {"stereo.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 2, 48000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const std::vector<float> written = SineSamples(c.channels, c.rate, 2.5, 1000, 0.5);
        WriteSound(path(c.name), c.format, c.channels, c.rate, written);
        TestPlayer p;
        Convert(p, path(c.name), path(c.name + ".wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath(c.name + ".wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.sampleRate, c.rate);
        EXPECT_EQ(out.audio.channels, c.channels);
        EXPECT_EQ(out.audio.samples.size(), written.size());
        for (int channel = 0; channel < c.channels; ++channel) {
            EXPECT_NEAR(DominantFrequency(out.audio, channel), 1000, 10);
            EXPECT_NEAR(testmedia::Rms(out.audio, channel), 0.354, 0.03);
        }
        const Note *duration = Last(p, XA_MSG_NOTIFY_STREAM_DURATION);
        ASSERT_TRUE(duration);
        EXPECT_EQ(duration->msg.data.duration.duration, 3u);
        const Note *parameters = Last(p, XA_MSG_NOTIFY_STREAM_PARAMETERS);
        ASSERT_TRUE(parameters);
        EXPECT_GT(parameters->msg.data.stream_parameters.bitrate, 8);
        EXPECT_LT(parameters->msg.data.stream_parameters.bitrate, 500);
    }
}

TEST_F(SoundFileTest, SamplesPastFullScaleAreClippedAndOtherWavCodecsAreRead) {
    // Float WAV, which our own reader refuses, with peaks past full scale both ways.
    const std::vector<float> loud = {0.5f, -0.25f, 1.5f, -1.5f, 1.0f, -1.0f, 0.0f, 0.99999f};
    WriteSound(path("float.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 8000, loud);
    // A-law: what comes out is what libsndfile itself expands it to.
    const std::vector<int32_t> speech = Content(1, 8000, 0.5, 16, 42);
    WriteSound(path("alaw.wav"), SF_FORMAT_WAV | SF_FORMAT_ALAW, 1, 8000, speech);
    SF_INFO info{};
    SNDFILE *file = sf_open(path("alaw.wav").c_str(), SFM_READ, &info);
    ASSERT_TRUE(file);
    std::vector<int16_t> expanded(size_t(info.frames));
    ASSERT_EQ(sf_readf_short(file, expanded.data(), info.frames), info.frames);
    sf_close(file);

    TestPlayer p;
    Convert(p, path("float.wav"), path("float.out.wav"));
    Convert(p, path("alaw.wav"), path("alaw.out.wav"));
    const WavOut clipped = ReadCanonicalWav(dir.filePath("float.out.wav"));
    ASSERT_EQ(clipped.problem, "");
    const std::vector<int16_t> expected = {16384, -8192, 32767, -32768, 32767, -32768, 0, 32767};
    EXPECT_EQ(clipped.audio.samples, expected);
    const WavOut alaw = ReadCanonicalWav(dir.filePath("alaw.out.wav"));
    ASSERT_EQ(alaw.problem, "");
    EXPECT_EQ(alaw.audio.samples, expanded);
}

TEST_F(SoundFileTest, SeekingToTheMiddleGoesOnFromThere) {
    // Every sample holds its own frame number, so the output tells where it started.
    const int rate = 8000;
    std::vector<int32_t> ramp(size_t(2 * rate));
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = int32_t(i) << 16;
    WriteSound(path("ramp.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, rate, ramp);
    WriteSound(path("tone.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, rate,
               SineSamples(1, rate, 2.0, 500, 0.5));

    for (const char *name : {"ramp.flac", "tone.ogg"}) {
        SCOPED_TRACE(name);
        TestPlayer p;
        XA_Player *h = p.get();
        const std::string out = path(QString(name) + ".wav");
        ASSERT_EQ(control_message_send_S(h, XA_MSG_COMMAND_OUTPUT_OPEN, ("wav:" + out).c_str()), 0);
        ASSERT_EQ(control_message_send_S(h, XA_MSG_COMMAND_INPUT_OPEN, path(name).c_str()), 0);
        ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN));
        ASSERT_EQ(control_message_send_II(h, XA_MSG_COMMAND_INPUT_SEEK, 500, 1000), 0);
        const std::optional<Note> position = p.waitFor(XA_MSG_NOTIFY_INPUT_POSITION);
        ASSERT_TRUE(position);
        EXPECT_EQ(position->msg.data.position.offset, 200u) << "half the default range of 400";
        const std::optional<Note> timecode = p.waitFor(XA_MSG_NOTIFY_INPUT_TIMECODE);
        ASSERT_TRUE(timecode);
        EXPECT_EQ(timecode->msg.data.timecode.s, 1);
        EXPECT_EQ(timecode->msg.data.timecode.f, 0);
        ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_PLAY), 0);
        ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS));
        ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_OUTPUT_CLOSE), 0);
        ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_CLOSED));

        const WavOut wav = ReadCanonicalWav(QString::fromStdString(out));
        ASSERT_EQ(wav.problem, "");
        ASSERT_FALSE(wav.audio.samples.empty());
        // Within one of the player's blocks of the middle.
        EXPECT_NEAR(double(wav.audio.samples.size()), rate, 4608);
        if (std::string(name) == "ramp.flac") {
            // FLAC goes to the very sample.
            EXPECT_EQ(wav.audio.samples.size(), size_t(rate));
            EXPECT_EQ(wav.audio.samples.front(), rate);
            EXPECT_EQ(wav.audio.samples.back(), 2 * rate - 1);
        }
    }
}

// Through SDL's dummy driver, at the pace of real playback.
TEST_F(SoundFileTest, FlacPlaysPausesStopsAndEndsOnTheSoundOutput) {
    WriteSound(path("play.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100,
               SineSamples(2, 44100, 1.0, 440, 0.5));
    TestPlayer p;
    XA_Player *h = p.get();
    ASSERT_EQ(control_message_send_S(h, XA_MSG_COMMAND_INPUT_OPEN, path("play.flac").c_str()), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN));
    ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_PLAY), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_PLAYING));
    ASSERT_TRUE(p.waitFor([](const Note &n) {
        return n.code == XA_MSG_NOTIFY_INPUT_POSITION && n.msg.data.position.offset >= 40;
    }));
    ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_PAUSE), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_PAUSED));
    ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_STOP), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_STOPPED));
    const std::optional<Note> rewound = p.waitFor(XA_MSG_NOTIFY_INPUT_POSITION);
    ASSERT_TRUE(rewound);
    EXPECT_EQ(rewound->msg.data.position.offset, 0u);

    const auto started = Clock::now();
    ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_PLAY), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS, 10s));
    EXPECT_GT(Clock::now() - started, 700ms) << "a second of sound cannot end much sooner";
    const Note *last = Last(p, XA_MSG_NOTIFY_INPUT_POSITION);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->msg.data.position.offset, 400u);
    const Note *timecode = Last(p, XA_MSG_NOTIFY_INPUT_TIMECODE);
    ASSERT_TRUE(timecode);
    EXPECT_EQ(timecode->msg.data.timecode.s, 1);
}

TEST_F(SoundFileTest, MpegAudioUnderAnotherNameStaysWithTheMpegDecoder) {
    const std::string mp3 = Mp3("tone.mp3", 2, 44100, 1.0, 440, 0, STEREO, true);
    QFile::copy(dir.filePath("tone.mp3"), dir.filePath("tone.flac"));
    // Behind an ID3v2 tag, which libsndfile would look past too.
    testmedia::WriteFile(dir.filePath("tagged.ogg"),
                         QByteArray("ID3\x03\x00\x00\x00\x00\x00\x20", 10) + QByteArray(32, 0) +
                             testmedia::ReadFile(dir.filePath("tone.mp3")));
    TestPlayer p;
    Convert(p, mp3, path("reference.wav"));
    const WavOut reference = ReadCanonicalWav(dir.filePath("reference.wav"));
    ASSERT_EQ(reference.problem, "");
    for (const char *name : {"tone.flac", "tagged.ogg"}) {
        SCOPED_TRACE(name);
        const size_t before = p.log().size();
        Convert(p, path(name), path(QString(name) + ".wav"));
        const auto mime =
            std::find_if(p.log().begin() + long(before), p.log().end(),
                         [](const Note &n) { return n.code == XA_MSG_NOTIFY_STREAM_MIME_TYPE; });
        ASSERT_NE(mime, p.log().end());
        EXPECT_EQ(mime->text, "audio/mpeg");
        ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_GET_INPUT_MODULE), 0);
        const std::optional<Note> module = p.waitFor(XA_MSG_NOTIFY_INPUT_MODULE);
        ASSERT_TRUE(module);
        EXPECT_EQ(module->msg.data.module.id, XA_INPUT_MODULE_MPEG);
        // The MPEG decoder trims the encoder delay; libsndfile would not give the same samples.
        const WavOut out = ReadCanonicalWav(dir.filePath(QString(name) + ".wav"));
        EXPECT_TRUE(out.data == reference.data);
    }
}

TEST_F(SoundFileTest, SoundFilesThatCannotBePlayedGetAnErrorAndNeverReady) {
    WriteSound(path("good.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100,
               Content(2, 44100, 0.5, 16, 7));
    const QByteArray good = testmedia::ReadFile(dir.filePath("good.flac"));
    testmedia::WriteFile(dir.filePath("broken.flac"), "fLaC" + QByteArray(4000, '\x5A'));
    testmedia::WriteFile(dir.filePath("header.flac"), good.left(30));
    WriteSound(path("six.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 6, 44100,
               Content(6, 44100, 0.1, 16, 8));
    WriteSound(path("six.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 6, 44100,
               Content(6, 44100, 0.1, 24, 9));

    TestPlayer p;
    for (const char *name : {"broken.flac", "header.flac", "six.flac", "six.wav"}) {
        SCOPED_TRACE(name);
        const size_t before = p.log().size();
        ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN, path(name).c_str()),
                  XA_SUCCESS);
        const std::optional<Note> error = p.waitFor(XA_MSG_NOTIFY_ERROR, 5s);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->msg.data.error.code, XA_ERROR_UNSUPPORTED_INPUT) << error->text;
        EXPECT_EQ(error->msg.data.error.source, XA_SOURCE_INPUT);
        EXPECT_NE(error->text.find(name), std::string::npos) << error->text;
        if (std::string(name).rfind("six", 0) == 0) {
            EXPECT_NE(error->text.find("6 channels"), std::string::npos) << error->text;
        }
        p.sync();
        EXPECT_FALSE(std::any_of(p.log().begin() + long(before), p.log().end(), [](const Note &n) {
            return Is(n, XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN);
        }));
    }
}

} // namespace
} // namespace xaudiotest
