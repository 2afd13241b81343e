#include "encoder/LameCoder.h"
#include "support/TestMedia.h"
#include "xaudio.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using testmedia::DecodedAudio;
using testmedia::DominantFrequency;

namespace {

using Clock = std::chrono::steady_clock;

// A notification as decoded on the test thread, texts copied out of the record.
struct Note {
    int code = 0;
    XA_Message msg{};
    std::string text;

    int byte0() const { return msg.data.raw[0]; }
};

Note ToNote(const XA_Message &m) {
    Note n{m.code, m, {}};
    const auto copy = [](const char *s) { return s ? std::string(s) : std::string(); };
    switch (m.code) {
    case XA_MSG_NOTIFY_INPUT_NAME:
    case XA_MSG_NOTIFY_OUTPUT_NAME:
    case XA_MSG_NOTIFY_STREAM_MIME_TYPE:
        n.text = copy(m.data.name.name);
        break;
    case XA_MSG_NOTIFY_ERROR:
        n.text = copy(m.data.error.message);
        break;
    case XA_MSG_NOTIFY_PROGRESS:
        n.text = copy(m.data.progress.message);
        break;
    case XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_INTEGER:
        n.text = copy(m.data.environment_integer.name);
        break;
    default:
        break;
    }
    return n;
}

bool Is(const Note &n, int code, int state) {
    return n.code == code && n.byte0() == state;
}

struct Raw {
    unsigned message;
    uintptr_t wparam;
    intptr_t lparam;
};

// Collects what a player posts, from any thread, for the test thread to decode.
class Receiver {
public:
    XA_NotifyTarget target() { return {&Receiver::Post, this}; }

    std::optional<Raw> next(Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_until(lock, deadline, [this] { return !queue_.empty(); }))
            return std::nullopt;
        Raw raw = queue_.front();
        queue_.pop_front();
        return raw;
    }
    size_t posted() {
        std::lock_guard lock(mutex_);
        return posted_;
    }

private:
    static void Post(void *context, unsigned message, uintptr_t wparam, intptr_t lparam) {
        auto *self = static_cast<Receiver *>(context);
        {
            std::lock_guard lock(self->mutex_);
            self->queue_.push_back({message, wparam, lparam});
            ++self->posted_;
        }
        self->cv_.notify_one();
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Raw> queue_;
    size_t posted_ = 0;
};

// A player and its receiver; every notification it decodes is kept in log().
class TestPlayer {
public:
    TestPlayer() : target_(receiver_.target()) {
        EXPECT_EQ(player_new(&player_, &target_), XA_SUCCESS);
    }
    ~TestPlayer() { remove(); }
    void remove() {
        if (player_) {
            EXPECT_EQ(player_delete(player_), XA_SUCCESS);
        }
        player_ = nullptr;
    }

    XA_Player *get() const { return player_; }
    Receiver &receiver() { return receiver_; }
    const std::vector<Note> &log() const { return log_; }

    // Decodes notifications until one matches; nullopt when none does in time.
    std::optional<Note> waitFor(const std::function<bool(const Note &)> &match,
                                std::chrono::milliseconds timeout = 10s) {
        const auto deadline = Clock::now() + timeout;
        while (const std::optional<Raw> raw = receiver_.next(deadline)) {
            XA_Message msg{};
            if (control_win32_params_to_message(player_, &msg, raw->message, raw->wparam,
                                                raw->lparam) != XA_SUCCESS) {
                ADD_FAILURE() << "a notification of this player did not decode";
                continue;
            }
            log_.push_back(ToNote(msg));
            if (match(log_.back()))
                return log_.back();
        }
        return std::nullopt;
    }
    std::optional<Note> waitFor(int code, std::chrono::milliseconds timeout = 10s) {
        return waitFor([code](const Note &n) { return n.code == code; }, timeout);
    }
    std::optional<Note> waitFor(int code, int state, std::chrono::milliseconds timeout = 10s) {
        return waitFor([=](const Note &n) { return Is(n, code, state); }, timeout);
    }
    // Everything posted before this call is in the log afterwards.
    void sync() {
        ASSERT_EQ(control_message_send_N(player_, XA_MSG_COMMAND_SYNC), XA_SUCCESS);
        ASSERT_TRUE(waitFor(XA_MSG_NOTIFY_ACK));
    }
    bool logged(const std::function<bool(const Note &)> &match) const {
        return std::any_of(log_.begin(), log_.end(), match);
    }

private:
    Receiver receiver_;
    XA_NotifyTarget target_;
    XA_Player *player_ = nullptr;
    std::vector<Note> log_;
};

// A WAV file as the library wrote it, with whether its header is the canonical 44 bytes
// and agrees with the file's size.
struct WavOut {
    std::string problem;
    DecodedAudio audio;
    QByteArray data;
};

uint32_t Le32(const QByteArray &b, int at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
           uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t Le16(const QByteArray &b, int at) {
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

WavOut ReadCanonicalWav(const QString &path) {
    WavOut out;
    const QByteArray b = testmedia::ReadFile(path);
    if (b.size() < 44 || !b.startsWith("RIFF") || b.mid(8, 8) != "WAVEfmt " ||
        b.mid(36, 4) != "data") {
        out.problem = "not a canonical 44-byte header";
        return out;
    }
    const int channels = Le16(b, 22);
    const uint32_t rate = Le32(b, 24);
    if (Le32(b, 4) != uint32_t(b.size() - 8) || Le32(b, 40) != uint32_t(b.size() - 44))
        out.problem = "sizes in the header do not match the file";
    else if (Le32(b, 16) != 16 || Le16(b, 20) != 1 || Le16(b, 34) != 16 ||
             Le16(b, 32) != 2 * channels || Le32(b, 28) != rate * 2 * channels)
        out.problem = "format chunk is not 16-bit PCM";
    out.data = b.mid(44);
    out.audio.ok = out.problem.empty();
    out.audio.channels = channels;
    out.audio.sampleRate = long(rate);
    out.audio.samples.resize(size_t(out.data.size() / 2));
    for (size_t i = 0; i < out.audio.samples.size(); ++i)
        out.audio.samples[i] = int16_t(Le16(out.data, int(2 * i)));
    return out;
}

class XaudioTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { setenv("SDL_AUDIODRIVER", "dummy", 0); }

    std::string path(const QString &name) const { return dir.filePath(name).toStdString(); }

    std::string Sine(const QString &name, int channels, int rate, double seconds, double freq,
                     double freqRight = 0) const {
        testmedia::WriteSineWav(dir.filePath(name), channels, rate, seconds, freq, freqRight);
        return path(name);
    }

    // An MP3 made by the project's encoder; VBR adds the Info header that makes decoding gapless.
    std::string Mp3(const QString &name, int channels, int rate, double seconds, double freq,
                    double freqRight, TLameMode mode, bool vbr, uint32_t bitrate = 128) const {
        const QString wav = dir.filePath(name + ".wav");
        testmedia::WriteSineWav(wav, channels, rate, seconds, freq, freqRight);
        TLameCoder coder;
        coder.SetSampleRate(uint32_t(rate));
        coder.SetMode(mode);
        coder.SetBitrate(bitrate);
        coder.SetEnableVBR(vbr);
        coder.SetInputFiles({wav});
        coder.SetOutputFiles({dir.filePath(name)});
        coder.Encode();
        return path(name);
    }

    // The conversion's sequence: WAV output, input, play on ready, close the output at the
    // end of the stream, done when it reports closed.
    static void Convert(TestPlayer &p, const std::string &input, const std::string &output) {
        ConvertInto(p, input, "wav:" + output);
    }
    static void ConvertInto(TestPlayer &p, const std::string &input, const std::string &output) {
        ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN, output.c_str()),
                  XA_SUCCESS);
        ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN, input.c_str()),
                  XA_SUCCESS);
        ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN));
        ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), XA_SUCCESS);
        ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS, 30s));
        ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_OUTPUT_CLOSE), XA_SUCCESS);
        ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_CLOSED));
    }

    QTemporaryDir dir;
};

} // namespace

TEST(XaudioInterface, ReportsApiVersionAndATextForEveryError) {
    EXPECT_EQ(xaudio_get_version(XA_VERSION_ID_API), 0x030900ul);
    const std::string unknown = xaudio_error_string(-999);
    EXPECT_FALSE(unknown.empty());
    std::vector<std::string> seen;
    for (int code = XA_FAILURE; code >= XA_ERROR_NOT_SUPPORTED; --code) {
        const std::string text = xaudio_error_string(code);
        EXPECT_NE(text, unknown) << code;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), text), 0) << text;
        seen.push_back(text);
    }
}

TEST(XaudioInterface, RefusesBadHandlesCodesAndArgumentsAtOnce) {
    Receiver receiver;
    XA_NotifyTarget target = receiver.target();
    XA_Player *none = nullptr;
    EXPECT_EQ(player_new(nullptr, &target), XA_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(player_new(&none, nullptr), XA_ERROR_INVALID_PARAMETERS);

    int notAPlayer = 0;
    auto *foreign = reinterpret_cast<XA_Player *>(&notAPlayer);
    EXPECT_EQ(control_message_send_N(foreign, XA_MSG_COMMAND_PLAY), XA_ERROR_INVALID_PLAYER);
    EXPECT_EQ(control_message_send_N(nullptr, XA_MSG_COMMAND_PLAY), XA_ERROR_INVALID_PLAYER);
    EXPECT_EQ(player_get_priority(foreign), XA_ERROR_INVALID_PLAYER);
    EXPECT_EQ(player_delete(foreign), XA_ERROR_INVALID_PLAYER);

    XA_Player *player = nullptr;
    ASSERT_EQ(player_new(&player, &target), XA_SUCCESS);
    for (int code :
         {0, 1, 53, 56, 67, 68, int(XA_MSG_NOTIFY_READY), int(XA_MSG_NOTIFY_ERROR), 1000, -1})
        EXPECT_EQ(control_message_send_N(player, code), XA_ERROR_UNKNOWN_COMMAND) << code;
    // The entry point must be the one the command's arguments call for.
    EXPECT_EQ(control_message_send_S(player, XA_MSG_COMMAND_PLAY, "x"),
              XA_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(control_message_send_N(player, XA_MSG_COMMAND_INPUT_OPEN),
              XA_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(control_message_send_IIII(player, XA_MSG_SET_OUTPUT_VOLUME, 1, 2, 3, 4),
              XA_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(control_message_send_S(player, XA_MSG_COMMAND_INPUT_OPEN, nullptr),
              XA_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(control_message_send_S(player, XA_MSG_COMMAND_OUTPUT_OPEN, "wav:"),
              XA_ERROR_INVALID_PARAMETERS);

    EXPECT_EQ(player_get_priority(player), XA_PRIORITY_HIGH);
    EXPECT_EQ(player_set_priority(player, XA_PRIORITY_LOW), XA_SUCCESS);
    EXPECT_EQ(player_get_priority(player), XA_PRIORITY_LOW);
    EXPECT_EQ(player_set_priority(player, 5), XA_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(player_get_priority(player), XA_PRIORITY_LOW);

    ASSERT_EQ(player_delete(player), XA_SUCCESS);
    EXPECT_EQ(control_message_send_N(player, XA_MSG_COMMAND_PLAY), XA_ERROR_INVALID_PLAYER);
    EXPECT_EQ(player_delete(player), XA_ERROR_INVALID_PLAYER);
}

TEST(XaudioInterface, ADeletedHandleStaysRefusedWhenANewPlayerTakesItsPlace) {
    Receiver receiver;
    XA_NotifyTarget target = receiver.target();
    XA_Player *old = nullptr;
    ASSERT_EQ(player_new(&old, &target), XA_SUCCESS);
    ASSERT_EQ(player_delete(old), XA_SUCCESS);
    // The freed place is the first one the next player gets.
    XA_Player *next = nullptr;
    ASSERT_EQ(player_new(&next, &target), XA_SUCCESS);
    EXPECT_NE(next, old);

    EXPECT_EQ(control_message_send_I(old, XA_MSG_COMMAND_PING, 1), XA_ERROR_INVALID_PLAYER);
    EXPECT_EQ(player_get_priority(old), XA_ERROR_INVALID_PLAYER);
    EXPECT_EQ(player_set_priority(old, XA_PRIORITY_LOW), XA_ERROR_INVALID_PLAYER);
    XA_Message msg{};
    EXPECT_EQ(control_win32_params_to_message(old, &msg, XA_NOTIFY_MESSAGE_BASE, 1, 1),
              XA_ERROR_INVALID_PLAYER);
    EXPECT_EQ(player_delete(old), XA_ERROR_INVALID_PLAYER);

    // The new player was left alone by all of that.
    EXPECT_EQ(player_get_priority(next), XA_PRIORITY_HIGH);
    ASSERT_EQ(control_message_send_I(next, XA_MSG_COMMAND_PING, 7), XA_SUCCESS);
    const std::optional<Raw> raw = receiver.next(Clock::now() + 5s);
    ASSERT_TRUE(raw);
    ASSERT_EQ(control_win32_params_to_message(next, &msg, raw->message, raw->wparam, raw->lparam),
              XA_SUCCESS);
    EXPECT_EQ(msg.code, XA_MSG_NOTIFY_PONG);
    EXPECT_EQ(msg.data.pong.tag, 7u);
    EXPECT_EQ(player_delete(next), XA_SUCCESS);
}

TEST(XaudioInterface, DecodesEachNotificationOnceAndOnlyForItsOwnPlayer) {
    TestPlayer a, b;
    ASSERT_EQ(control_message_send_I(a.get(), XA_MSG_COMMAND_PING, 42), XA_SUCCESS);
    const std::optional<Raw> raw = a.receiver().next(Clock::now() + 5s);
    ASSERT_TRUE(raw);
    EXPECT_GE(raw->message, XA_NOTIFY_MESSAGE_BASE);

    XA_Message msg{};
    EXPECT_NE(
        control_win32_params_to_message(b.get(), &msg, raw->message, raw->wparam, raw->lparam),
        XA_SUCCESS);
    EXPECT_NE(
        control_win32_params_to_message(a.get(), &msg, raw->message + 1, raw->wparam, raw->lparam),
        XA_SUCCESS);
    EXPECT_NE(control_win32_params_to_message(a.get(), &msg, raw->message, raw->wparam + 1000,
                                              raw->lparam),
              XA_SUCCESS);
    EXPECT_NE(control_win32_params_to_message(a.get(), &msg, raw->message, raw->wparam, 0),
              XA_SUCCESS);
    ASSERT_EQ(
        control_win32_params_to_message(a.get(), &msg, raw->message, raw->wparam, raw->lparam),
        XA_SUCCESS);
    EXPECT_EQ(msg.code, XA_MSG_NOTIFY_PONG);
    EXPECT_EQ(msg.data.pong.tag, 42u);
    EXPECT_NE(
        control_win32_params_to_message(a.get(), &msg, raw->message, raw->wparam, raw->lparam),
        XA_SUCCESS)
        << "a notification is handed over once";
}

TEST_F(XaudioTest, Mp3StereoBecomesACanonicalWavOfTheSameLengthAndTones) {
    const double seconds = 3.0;
    const std::string mp3 = Mp3("stereo.mp3", 2, 44100, seconds, 440, 1000, STEREO, true);
    TestPlayer p;
    Convert(p, mp3, path("stereo.wav"));

    const WavOut out = ReadCanonicalWav(dir.filePath("stereo.wav"));
    ASSERT_EQ(out.problem, "");
    EXPECT_EQ(out.audio.channels, 2);
    EXPECT_EQ(out.audio.sampleRate, 44100);
    // The Info header's delay and padding are trimmed, so the length is the source's.
    EXPECT_NEAR(double(out.audio.frames()), seconds * 44100, 1152);
    EXPECT_NEAR(DominantFrequency(out.audio, 0), 440, 4.4);
    EXPECT_NEAR(DominantFrequency(out.audio, 1), 1000, 10);

    const auto parameters = std::find_if(p.log().begin(), p.log().end(), [](const Note &n) {
        return n.code == XA_MSG_NOTIFY_STREAM_PARAMETERS;
    });
    ASSERT_NE(parameters, p.log().end());
    EXPECT_EQ(parameters->msg.data.stream_parameters.frequency, 44100u);
    EXPECT_EQ(parameters->msg.data.stream_parameters.nb_channels, 0) << "stereo";
    EXPECT_GT(parameters->msg.data.stream_parameters.bitrate, 32);
}

TEST_F(XaudioTest, LowRateMonoMp3sKeepTheirRateChannelsAndTone) {
    struct Case {
        int rate;
        double freq;
        uint32_t bitrate;
    };
    for (const Case c : {Case{22050, 1000, 64}, Case{8000, 440, 32}}) {
        SCOPED_TRACE(c.rate);
        const QString name = QString::number(c.rate);
        const std::string mp3 =
            Mp3(name + ".mp3", 1, c.rate, 2.0, c.freq, 0, MONO, false, c.bitrate);
        TestPlayer p;
        Convert(p, mp3, path(name + ".wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath(name + ".wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.channels, 1);
        EXPECT_EQ(out.audio.sampleRate, c.rate);
        EXPECT_NEAR(out.audio.seconds(), 2.0, 0.3);
        EXPECT_NEAR(DominantFrequency(out.audio, 0), c.freq, c.freq * 0.01);
        const bool monoParameters = p.logged([&](const Note &n) {
            return n.code == XA_MSG_NOTIFY_STREAM_PARAMETERS &&
                   n.msg.data.stream_parameters.frequency == uint32_t(c.rate) &&
                   n.msg.data.stream_parameters.nb_channels == 3;
        });
        EXPECT_TRUE(monoParameters);
    }
}

// Layers I and II, hand-built: frames whose bit allocations are all zero decode as silence,
// 384 (layer I) or 1152 (layer II) samples each.
TEST_F(XaudioTest, MpegLayersOneAndTwoDecodeToo) {
    struct Case {
        const char *name;
        uint8_t layerByte, rateByte;
        int frameBytes, samplesPerFrame;
    };
    // MPEG-1, no CRC, 128 kbit/s, 48 kHz, single channel.
    for (const Case c :
         {Case{"l1.mp1", 0xFF, 0x44, 128, 384}, Case{"l2.mp2", 0xFD, 0x84, 384, 1152}}) {
        SCOPED_TRACE(c.name);
        QByteArray frame(c.frameBytes, 0);
        frame[0] = char(0xFF);
        frame[1] = char(c.layerByte);
        frame[2] = char(c.rateByte);
        frame[3] = char(0xC0);
        testmedia::WriteFile(dir.filePath(c.name), frame.repeated(40));
        TestPlayer p;
        Convert(p, path(c.name), path("out.wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath("out.wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.sampleRate, 48000);
        EXPECT_EQ(out.audio.channels, 1);
        EXPECT_EQ(out.audio.frames(), size_t(40 * c.samplesPerFrame));
        EXPECT_TRUE(p.logged([](const Note &n) {
            return n.code == XA_MSG_NOTIFY_STREAM_PARAMETERS &&
                   n.msg.data.stream_parameters.bitrate == 128 &&
                   n.msg.data.stream_parameters.nb_channels == 3;
        }));
    }
}

// Frames of one MPEG header with random payload bytes: noise for every layer, and a
// decoder state that any difference in decoding shows at once.
QByteArray RandomFrames(uint32_t header, int frameBytes, int count, uint32_t seed) {
    QByteArray bytes;
    for (int f = 0; f < count; ++f) {
        QByteArray frame(frameBytes, 0);
        for (int i = 0; i < 4; ++i)
            frame[i] = char(header >> (24 - 8 * i));
        for (int i = 4; i < frameBytes; ++i)
            frame[i] = char((seed = seed * 1103515245 + 12345) >> 16);
        bytes += frame;
    }
    return bytes;
}

// The reference: libmpg123 decoding the file once from its start with its defaults, as the
// mpg123 command line does.
TEST_F(XaudioTest, SamplesAreThoseOfAFreshLibmpg123DecodeForEveryVersionAndLayer) {
    struct Case {
        QString name;
        std::string file;
    };
    std::vector<Case> cases = {
        {"mono", Mp3("mono.mp3", 1, 44100, 1.5, 440, 0, MONO, false, 64)},
        {"mpeg2", Mp3("mpeg2.mp3", 2, 22050, 1.5, 440, 700, STEREO, true, 64)},
        {"mpeg25", Mp3("mpeg25.mp3", 1, 11025, 1.5, 440, 0, MONO, false, 32)},
        {"stereo", Mp3("stereo.mp3", 2, 44100, 1.5, 440, 700, JSTEREO, true)},
    };
    // MPEG 1 Layer I 384 kbit/s 48 kHz stereo, MPEG 2 Layer I 256 kbit/s 24 kHz, MPEG 2
    // Layer II 160 kbit/s 24 kHz.
    for (const auto &[name, header, bytes] :
         {std::tuple{"l1.mp1", 0xFFFFC400u, 384}, std::tuple{"l1m2.mp1", 0xFFF7E4C0u, 512},
          std::tuple{"l2m2.mp2", 0xFFF5E400u, 960}}) {
        testmedia::WriteFile(dir.filePath(name), RandomFrames(header, bytes, 150, 99));
        cases.push_back({name, path(name)});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        TestPlayer p;
        Convert(p, c.file, path(c.name + ".wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath(c.name + ".wav"));
        const DecodedAudio reference = testmedia::DecodeMpeg(QString::fromStdString(c.file));
        ASSERT_EQ(out.problem, "");
        ASSERT_TRUE(reference.ok) << reference.error.toStdString();
        EXPECT_EQ(out.audio.channels, reference.channels);
        EXPECT_EQ(out.audio.sampleRate, reference.sampleRate);
        ASSERT_EQ(out.audio.samples.size(), reference.samples.size());
        EXPECT_TRUE(out.audio.samples == reference.samples);

        // Played again after a stop, the stream decodes the same.
        ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN,
                                         ("wav:" + path(c.name + "2.wav")).c_str()),
                  XA_SUCCESS);
        ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_STOP), XA_SUCCESS);
        ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), XA_SUCCESS);
        ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS, 30s));
        ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_OUTPUT_CLOSE), XA_SUCCESS);
        ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_CLOSED));
        EXPECT_TRUE(ReadCanonicalWav(dir.filePath(c.name + "2.wav")).audio.samples ==
                    reference.samples);
    }
}

// The Info header records the encoder's delay and padding; taking both off gives the
// source's length to the sample, in the output and in the length reported at open. 1.5 s
// is reported as 2 s, and as 1 s when the length falls short by even one sample.
TEST_F(XaudioTest, GaplessLengthIsTheSourcesToTheSample) {
    for (const auto &[name, channels, rate, mode] :
         {std::tuple{"stereo.mp3", 2, 44100, JSTEREO}, std::tuple{"mpeg2.mp3", 1, 22050, MONO}}) {
        SCOPED_TRACE(name);
        const std::string mp3 = Mp3(name, channels, rate, 1.5, 440, 700, mode, true);
        TestPlayer p;
        Convert(p, mp3, path(QString(name) + ".wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath(QString(name) + ".wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.frames(), size_t(rate * 3 / 2));
        const auto duration = std::find_if(p.log().begin(), p.log().end(), [](const Note &n) {
            return n.code == XA_MSG_NOTIFY_STREAM_DURATION;
        });
        ASSERT_NE(duration, p.log().end());
        EXPECT_EQ(duration->msg.data.duration.duration, 2u);
    }
}

TEST_F(XaudioTest, FileCutShortStillLosesTheEncoderDelayItsInfoHeaderRecords) {
    const std::string whole = Mp3("whole.mp3", 2, 44100, 3.0, 440, 700, STEREO, true);
    const QByteArray bytes = testmedia::ReadFile(QString::fromStdString(whole));
    testmedia::WriteFile(dir.filePath("cut.mp3"), bytes.left(bytes.size() / 2));
    TestPlayer p;
    Convert(p, path("cut.mp3"), path("cut.wav"));
    const WavOut out = ReadCanonicalWav(dir.filePath("cut.wav"));
    const DecodedAudio reference = testmedia::DecodeMpeg(dir.filePath("cut.mp3"));
    ASSERT_TRUE(reference.ok) << reference.error.toStdString();
    ASSERT_EQ(out.audio.samples.size(), reference.samples.size());
    EXPECT_TRUE(out.audio.samples == reference.samples);
    // The length reported at open is the one decoded, not the one the header declares.
    const auto duration = std::find_if(p.log().begin(), p.log().end(), [](const Note &n) {
        return n.code == XA_MSG_NOTIFY_STREAM_DURATION;
    });
    ASSERT_NE(duration, p.log().end());
    EXPECT_EQ(duration->msg.data.duration.duration, uint32_t(std::lround(out.audio.seconds())));
}

TEST_F(XaudioTest, DamagedStretchIsSkippedAndDecodingGoesOn) {
    const std::string clean = Mp3("clean.mp3", 2, 44100, 5.0, 440, 700, STEREO, false);
    QByteArray bytes = testmedia::ReadFile(QString::fromStdString(clean));
    // 2 KB of noise in the middle, as a bad sector or a broken download leaves it.
    uint32_t seed = 4711;
    for (int i = bytes.size() / 2; i < bytes.size() / 2 + 2048; ++i)
        bytes[i] = char((seed = seed * 1103515245 + 12345) >> 16);
    testmedia::WriteFile(dir.filePath("damaged.mp3"), bytes);
    TestPlayer p;
    Convert(p, path("damaged.mp3"), path("damaged.wav"));
    const WavOut out = ReadCanonicalWav(dir.filePath("damaged.wav"));
    ASSERT_EQ(out.problem, "");
    EXPECT_EQ(out.audio.sampleRate, 44100);
    // 2 KB are an eighth of a second at 128 kbit/s; a frame on each side may go with them.
    EXPECT_GT(out.audio.seconds(), 5.0 - 0.125 - 0.06);
    EXPECT_NEAR(DominantFrequency(out.audio, 0), 440, 4.4);
    EXPECT_FALSE(p.logged([](const Note &n) { return n.code == XA_MSG_NOTIFY_ERROR; }));
}

TEST_F(XaudioTest, WavEndsWhereTheStreamChangesRateAndSaysWhere) {
    const std::string first = Mp3("first.mp3", 2, 44100, 2.0, 440, 700, STEREO, true);
    const std::string second = Mp3("second.mp3", 2, 22050, 2.0, 1000, 0, STEREO, false, 64);
    testmedia::WriteFile(dir.filePath("joined.mp3"),
                         testmedia::ReadFile(QString::fromStdString(first)) +
                             testmedia::ReadFile(QString::fromStdString(second)));
    TestPlayer p;
    Convert(p, path("joined.mp3"), path("joined.wav"));
    const WavOut out = ReadCanonicalWav(dir.filePath("joined.wav"));
    const DecodedAudio reference = testmedia::DecodeMpeg(QString::fromStdString(first));
    ASSERT_EQ(out.problem, "");
    EXPECT_EQ(out.audio.sampleRate, 44100);
    EXPECT_TRUE(out.audio.samples == reference.samples) << "the whole first stream, no more";

    const auto note = std::find_if(p.log().begin(), p.log().end(),
                                   [](const Note &n) { return n.code == XA_MSG_NOTIFY_PROGRESS; });
    ASSERT_NE(note, p.log().end());
    EXPECT_EQ(note->msg.data.progress.source, XA_SOURCE_INPUT);
    EXPECT_EQ(note->msg.data.progress.code, XA_PROGRESS_STREAM_FORMAT_CHANGED);
    EXPECT_EQ(note->msg.data.progress.value, 2);
    EXPECT_NE(note->text.find("joined.mp3\" changes to 22050 Hz, 2 channel(s) after 00:02.000"),
              std::string::npos)
        << note->text;
    EXPECT_FALSE(p.logged([](const Note &n) { return n.code == XA_MSG_NOTIFY_ERROR; }));
}

TEST_F(XaudioTest, PcmWavWithExtraChunksIsCopiedSampleForSample) {
    // fmt, an odd-sized chunk (padded to even), then data: the reader must walk the chunks.
    testmedia::WriteSinePcm(dir.filePath("pcm.raw"), 1, 22050, 0.5, 700);
    const QByteArray samples = testmedia::ReadFile(dir.filePath("pcm.raw"));
    QByteArray wav = testmedia::WavHeader(1, 22050, 16, uint32_t(samples.size()));
    const QByteArray list = QByteArray("LIST\x03\x00\x00\x00"
                                       "abc\x00",
                                       12);
    wav.insert(36, list);
    wav.append(samples);
    testmedia::WriteFile(dir.filePath("in.wav"), wav);

    TestPlayer p;
    Convert(p, path("in.wav"), path("out.wav"));
    const WavOut out = ReadCanonicalWav(dir.filePath("out.wav"));
    ASSERT_EQ(out.problem, "");
    EXPECT_EQ(out.audio.sampleRate, 22050);
    EXPECT_EQ(out.audio.channels, 1);
    EXPECT_TRUE(out.data == samples);
    EXPECT_TRUE(p.logged([](const Note &n) {
        return n.code == XA_MSG_NOTIFY_STREAM_PARAMETERS &&
               n.msg.data.stream_parameters.bitrate == 353 &&
               n.msg.data.stream_parameters.nb_channels == 3;
    }));
}

TEST_F(XaudioTest, PcmWavWithLongerFormatChunksIsCopiedSampleForSample) {
    // 18-byte fmt (cbSize 0) behind the data, and the 40-byte extensible form with a fact
    // chunk, as common converters write them.
    const QByteArray samples = testmedia::ToneSamples(1, 16, 22050, 0.5, {{700, 0.5}, {300, 0.25}});
    const QByteArray data = testmedia::WavChunk("data", samples);
    for (const QByteArray &wav :
         {testmedia::RiffWave(data + testmedia::WavFmtChunk(18, 1, 2, 22050, 16)),
          testmedia::RiffWave(testmedia::WavFmtChunk(40, 1, 2, 22050, 16) +
                              testmedia::WavChunk("fact", QByteArray(4, '\0')) + data)}) {
        testmedia::WriteFile(dir.filePath("in.wav"), wav);
        TestPlayer p;
        Convert(p, path("in.wav"), path("out.wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath("out.wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.channels, 2);
        EXPECT_TRUE(out.data == samples);
    }
}

TEST_F(XaudioTest, ReportsOpenStreamPlayEndAndCloseInThatOrder) {
    const std::string wav = Sine("in.wav", 2, 44100, 2.6, 440);
    TestPlayer p;
    Convert(p, wav, path("out.wav"));

    std::vector<int> order;
    for (const Note &n : p.log())
        if (n.code != XA_MSG_NOTIFY_INPUT_POSITION && n.code != XA_MSG_NOTIFY_INPUT_TIMECODE)
            order.push_back(n.code * 10 + (n.code == XA_MSG_NOTIFY_PLAYER_STATE ||
                                                   n.code == XA_MSG_NOTIFY_INPUT_STATE ||
                                                   n.code == XA_MSG_NOTIFY_OUTPUT_STATE
                                               ? n.byte0()
                                               : 0));
    const std::vector<int> expected = {
        XA_MSG_NOTIFY_OUTPUT_STATE * 10 + XA_OUTPUT_STATE_OPEN,
        XA_MSG_NOTIFY_INPUT_STATE * 10 + XA_INPUT_STATE_OPEN,
        XA_MSG_NOTIFY_INPUT_NAME * 10,
        XA_MSG_NOTIFY_STREAM_MIME_TYPE * 10,
        XA_MSG_NOTIFY_STREAM_PARAMETERS * 10,
        XA_MSG_NOTIFY_STREAM_DURATION * 10,
        XA_MSG_NOTIFY_PLAYER_STATE * 10 + XA_PLAYER_STATE_PLAYING,
        XA_MSG_NOTIFY_PLAYER_STATE * 10 + XA_PLAYER_STATE_EOS,
        XA_MSG_NOTIFY_OUTPUT_STATE * 10 + XA_OUTPUT_STATE_CLOSED,
    };
    EXPECT_EQ(order, expected);

    for (const Note &n : p.log()) {
        if (n.code == XA_MSG_NOTIFY_INPUT_NAME) {
            EXPECT_EQ(n.text, wav);
        }
        if (n.code == XA_MSG_NOTIFY_STREAM_DURATION) {
            EXPECT_EQ(n.msg.data.duration.duration, 3u) << "2.6 s rounds to 3";
        }
    }
    uint32_t last = 0;
    for (const Note &n : p.log()) {
        if (n.code != XA_MSG_NOTIFY_INPUT_POSITION)
            continue;
        EXPECT_EQ(n.msg.data.position.range, 400u);
        EXPECT_GE(n.msg.data.position.offset, last);
        last = n.msg.data.position.offset;
    }
    EXPECT_EQ(last, 400u) << "the end of the stream is the end of the range";
    const auto timecode = std::find_if(p.log().rbegin(), p.log().rend(), [](const Note &n) {
        return n.code == XA_MSG_NOTIFY_INPUT_TIMECODE;
    });
    ASSERT_NE(timecode, p.log().rend());
    EXPECT_EQ(timecode->msg.data.timecode.s, 2);
    EXPECT_EQ(timecode->msg.data.timecode.f, 60);
}

TEST_F(XaudioTest, ConvertsOneFileAfterAnotherOnTheSamePlayer) {
    TestPlayer p;
    for (int i = 0; i < 3; ++i) {
        const QString n = QString::number(i);
        const std::string input =
            Sine("in" + n + ".wav", 1 + i % 2, 11025 * (i + 1), 0.5, 300 * (i + 1));
        Convert(p, input, path("out" + n + ".wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath("out" + n + ".wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.sampleRate, 11025 * (i + 1));
        EXPECT_EQ(out.audio.channels, 1 + i % 2);
        EXPECT_TRUE(out.data == testmedia::ReadFile(QString::fromStdString(input)).mid(44));
    }
}

TEST_F(XaudioTest, InputThatCannotBeDecodedGetsAnErrorAndNeverReady) {
    std::vector<uint8_t> noise(200000);
    uint32_t seed = 12345;
    for (uint8_t &byte : noise)
        byte = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
    testmedia::WriteFile(
        dir.filePath("noise.mp3"),
        QByteArray(reinterpret_cast<const char *>(noise.data()), qsizetype(noise.size())));
    testmedia::WriteFile(dir.filePath("text.mp3"), QByteArray(50000, 'a'));
    testmedia::WriteFile(dir.filePath("empty.mp3"), QByteArray());
    testmedia::WriteFile(dir.filePath("24bit.wav"),
                         testmedia::WavHeader(2, 44100, 24, 6000) + QByteArray(6000, 1));
    testmedia::WriteFile(dir.filePath("float.wav"),
                         testmedia::WavHeader(2, 44100, 16, 400, 3) + QByteArray(400, 1));
    testmedia::WriteFile(dir.filePath("nodata.wav"),
                         testmedia::WavHeader(2, 44100, 16, 0).left(36));
    testmedia::WriteFile(dir.filePath("riffonly.wav"), QByteArray("RIFF\x04\x00\x00\x00WAVE", 12));
    // An ID3v2 tag followed by nothing that decodes.
    testmedia::WriteFile(dir.filePath("tagonly.mp3"),
                         QByteArray("ID3\x03\x00\x00\x00\x00\x01\x00", 10) + QByteArray(5000, 0));
    ASSERT_EQ(mkfifo(path("pipe.mp3").c_str(), 0600), 0);
    QDir(dir.path()).mkdir("folder.mp3");

    const std::vector<std::pair<std::string, int>> cases = {
        {"noise.mp3", XA_ERROR_UNSUPPORTED_INPUT},    {"text.mp3", XA_ERROR_UNSUPPORTED_INPUT},
        {"empty.mp3", XA_ERROR_UNSUPPORTED_INPUT},    {"24bit.wav", XA_ERROR_UNSUPPORTED_INPUT},
        {"float.wav", XA_ERROR_UNSUPPORTED_INPUT},    {"nodata.wav", XA_ERROR_UNSUPPORTED_INPUT},
        {"riffonly.wav", XA_ERROR_UNSUPPORTED_INPUT}, {"tagonly.mp3", XA_ERROR_UNSUPPORTED_INPUT},
        {"missing.mp3", XA_ERROR_OPEN_FAILED},        {"pipe.mp3", XA_ERROR_OPEN_FAILED},
        {"folder.mp3", XA_ERROR_OPEN_FAILED},
    };
    TestPlayer p;
    for (const auto &[name, code] : cases) {
        SCOPED_TRACE(name);
        const size_t before = p.log().size();
        ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN,
                                         path(QString::fromStdString(name)).c_str()),
                  XA_SUCCESS);
        const std::optional<Note> error = p.waitFor(XA_MSG_NOTIFY_ERROR, 5s);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->msg.data.error.code, code) << error->text;
        EXPECT_EQ(error->msg.data.error.source, XA_SOURCE_INPUT);
        EXPECT_NE(error->text.find(name), std::string::npos) << error->text;
        p.sync();
        EXPECT_FALSE(std::any_of(p.log().begin() + long(before), p.log().end(), [](const Note &n) {
            return Is(n, XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN);
        }));
    }
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), XA_SUCCESS);
    const std::optional<Note> nack = p.waitFor(XA_MSG_NOTIFY_NACK);
    ASSERT_TRUE(nack);
    EXPECT_EQ(nack->msg.data.nack.command, XA_MSG_COMMAND_PLAY);
    EXPECT_EQ(nack->msg.data.nack.code, XA_ERROR_NO_INPUT);
}

TEST_F(XaudioTest, OutputFailuresAreReportedAndNeverEndTheStream) {
    const std::string wav = Sine("in.wav", 2, 44100, 2.0, 440);
    TestPlayer p;
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN,
                                     ("wav:" + path("no/such/dir/out.wav")).c_str()),
              XA_SUCCESS);
    const std::optional<Note> openError = p.waitFor(XA_MSG_NOTIFY_ERROR);
    ASSERT_TRUE(openError);
    EXPECT_EQ(openError->msg.data.error.code, XA_ERROR_OUTPUT_FAILED);
    EXPECT_EQ(openError->msg.data.error.source, XA_SOURCE_OUTPUT);

    // A full disk: writes fail part-way.
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN, "wav:/dev/full"), 0);
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN, wav.c_str()), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN));
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), XA_SUCCESS);
    const std::optional<Note> writeError = p.waitFor(XA_MSG_NOTIFY_ERROR);
    ASSERT_TRUE(writeError);
    EXPECT_EQ(writeError->msg.data.error.code, XA_ERROR_WRITE_FAILED);
    EXPECT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_STOPPED));
    p.sync();
    EXPECT_FALSE(p.logged(
        [](const Note &n) { return Is(n, XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS); }));
    EXPECT_EQ(std::count_if(p.log().begin(), p.log().end(),
                            [](const Note &n) {
                                return Is(n, XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_OPEN);
                            }),
              1)
        << "only /dev/full opened";
}

TEST_F(XaudioTest, WritesAWavFileThroughADescriptorItDuplicatesAtOnce) {
    const std::string mp3 =
        Mp3("tone.mp3", 2, 44100, 1.0, 440, 660, JSTEREO, /*vbr=*/true, /*bitrate=*/64);
    TestPlayer p;
    ConvertInto(p, mp3, "wav:" + path("named.wav"));
    const QByteArray named = testmedia::ReadFile(dir.filePath("named.wav"));
    ASSERT_GT(named.size(), 44);

    // The file has no name any more, so nothing could reach it by one; what was in it goes.
    const std::string target = path("unnamed.wav");
    const int fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "left over from before, longer than a header", 43), 43);
    ASSERT_EQ(::unlink(target.c_str()), 0);
    const int kept = ::dup(fd);
    const std::string name = XA_OUTPUT_WAV_FD_PREFIX + std::to_string(fd);
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN, name.c_str()),
              XA_SUCCESS);
    // The library holds its own duplicate: the caller's may go at once.
    ::close(fd);
    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC); // likely takes fd's number
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN, mp3.c_str()), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN));
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), XA_SUCCESS);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS, 30s));
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_OUTPUT_CLOSE), XA_SUCCESS);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_CLOSED));
    ::close(reused);

    QByteArray written(named.size() + 100, '\0');
    const ssize_t got = ::pread(kept, written.data(), size_t(written.size()), 0);
    ::close(kept);
    written.resize(int(std::max<ssize_t>(got, 0)));
    EXPECT_EQ(written, named) << "the same bytes as through a name, the header rewritten";
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("unnamed.wav"))) << "never opened by name";
    EXPECT_FALSE(p.logged([](const Note &n) { return n.code == XA_MSG_NOTIFY_ERROR; }));
}

TEST_F(XaudioTest, ADescriptorOutputMustBeAnOpenRegularFile) {
    TestPlayer p;
    for (const char *bad : {"wavfd:", "wavfd:x", "wavfd:-1", "wavfd:7x", "wavfd:999999"})
        EXPECT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN, bad),
                  XA_ERROR_INVALID_PARAMETERS)
            << bad;

    // A pipe cannot take the header again at the end.
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const std::string name = XA_OUTPUT_WAV_FD_PREFIX + std::to_string(pipeFds[1]);
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN, name.c_str()),
              XA_SUCCESS);
    const std::optional<Note> error = p.waitFor(XA_MSG_NOTIFY_ERROR);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->msg.data.error.code, XA_ERROR_OUTPUT_FAILED);
    EXPECT_NE(error->text.find("not a regular file"), std::string::npos) << error->text;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);

    // Only the command that names a descriptor brings one: a default name cannot.
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_SET_OUTPUT_NAME, "wavfd:1"), XA_SUCCESS);
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN, ""), XA_SUCCESS);
    const std::optional<Note> nack = p.waitFor(XA_MSG_NOTIFY_NACK);
    ASSERT_TRUE(nack);
    p.sync();
    EXPECT_FALSE(p.logged(
        [](const Note &n) { return Is(n, XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_OPEN); }));
}

TEST_F(XaudioTest, SeekBeforePlayDecodesFromThatPointOn) {
    const std::string wav = Sine("in.wav", 2, 8000, 1.0, 500);
    TestPlayer p;
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN,
                                     ("wav:" + path("out.wav")).c_str()),
              0);
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN, wav.c_str()), 0);
    ASSERT_EQ(control_message_send_II(p.get(), XA_MSG_COMMAND_INPUT_SEEK, 1, 4), 0);
    const std::optional<Note> position = p.waitFor(XA_MSG_NOTIFY_INPUT_POSITION);
    ASSERT_TRUE(position);
    EXPECT_EQ(position->msg.data.position.offset, 100u);
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS));
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_OUTPUT_CLOSE), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_CLOSED));

    const WavOut out = ReadCanonicalWav(dir.filePath("out.wav"));
    ASSERT_EQ(out.problem, "");
    const QByteArray source = testmedia::ReadFile(dir.filePath("in.wav")).mid(44);
    EXPECT_TRUE(out.data == source.mid(source.size() / 4)) << "the last three quarters";
}

TEST_F(XaudioTest, PositionRangeAndNotificationMaskShapeWhatIsReported) {
    const std::string wav = Sine("in.wav", 1, 44100, 1.0, 440);
    TestPlayer p;
    ASSERT_EQ(control_message_send_I(p.get(), XA_MSG_SET_INPUT_POSITION_RANGE, 1000), 0);
    Convert(p, wav, path("a.wav"));
    ASSERT_TRUE(p.logged([](const Note &n) { return n.code == XA_MSG_NOTIFY_INPUT_POSITION; }));
    for (const Note &n : p.log())
        if (n.code == XA_MSG_NOTIFY_INPUT_POSITION) {
            EXPECT_EQ(n.msg.data.position.range, 1000u);
        }

    const uint32_t mask =
        XA_NOTIFY_MASK_ALL & ~(XA_NOTIFY_MASK_INPUT_POSITION | XA_NOTIFY_MASK_INPUT_TIMECODE);
    ASSERT_EQ(control_message_send_I(p.get(), XA_MSG_SET_NOTIFICATION_MASK, int(mask)), 0);
    const size_t before = p.log().size();
    Convert(p, wav, path("b.wav"));
    EXPECT_FALSE(std::any_of(p.log().begin() + long(before), p.log().end(), [](const Note &n) {
        return n.code == XA_MSG_NOTIFY_INPUT_POSITION || n.code == XA_MSG_NOTIFY_INPUT_TIMECODE;
    }));
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_GET_NOTIFICATION_MASK), 0);
    const std::optional<Note> answer = p.waitFor(XA_MSG_NOTIFY_NOTIFICATION_MASK);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->msg.data.notification_mask.mask, mask);
}

TEST_F(XaudioTest, GetCommandsAnswerWithWhatWasSet) {
    TestPlayer p;
    XA_Player *h = p.get();
    XA_EqualizerInfo eq{};
    eq.left[3] = -20;
    eq.right[31] = 7;
    ASSERT_EQ(control_message_send_I(h, XA_MSG_SET_PLAYER_MODE, 7), 0);
    ASSERT_EQ(control_message_send_I(h, XA_MSG_SET_INPUT_TIMECODE_GRANULARITY, 250), 0);
    ASSERT_EQ(control_message_send_I(h, XA_MSG_SET_INPUT_MODULE, XA_INPUT_MODULE_WAVE), 0);
    ASSERT_EQ(control_message_send_S(h, XA_MSG_SET_INPUT_NAME, "next.mp3"), 0);
    ASSERT_EQ(control_message_send_SI(h, XA_MSG_SET_PLAYER_ENVIRONMENT_INTEGER, "n", -5), 0);
    ASSERT_EQ(control_message_send_P(h, XA_MSG_SET_CODEC_EQUALIZER, &eq), 0);
    eq.left[3] = 0; // the library keeps its own copy

    struct Ask {
        int command;
        int answer;
        std::function<bool(const Note &)> check;
    };
    const std::vector<Ask> asks = {
        {XA_MSG_GET_PLAYER_MODE, XA_MSG_NOTIFY_PLAYER_MODE,
         [](const Note &n) { return n.msg.data.mode.mode == 7; }},
        {XA_MSG_GET_INPUT_POSITION_RANGE, XA_MSG_NOTIFY_INPUT_POSITION_RANGE,
         [](const Note &n) { return n.msg.data.position_range.range == 400; }},
        {XA_MSG_GET_INPUT_TIMECODE_GRANULARITY, XA_MSG_NOTIFY_INPUT_TIMECODE_GRANULARITY,
         [](const Note &n) { return n.msg.data.timecode_granularity.granularity == 250; }},
        {XA_MSG_GET_INPUT_MODULE, XA_MSG_NOTIFY_INPUT_MODULE,
         [](const Note &n) { return n.msg.data.module.id == XA_INPUT_MODULE_WAVE; }},
        {XA_MSG_GET_INPUT_NAME, XA_MSG_NOTIFY_INPUT_NAME,
         [](const Note &n) { return n.text == "next.mp3"; }},
        {XA_MSG_GET_CODEC_EQUALIZER, XA_MSG_NOTIFY_CODEC_EQUALIZER,
         [](const Note &n) {
             const XA_EqualizerInfo *e = n.msg.data.equalizer.equalizer;
             return e && e->left[3] == -20 && e->right[31] == 7 && e->left[0] == 0;
         }},
    };
    for (const Ask &ask : asks) {
        SCOPED_TRACE(ask.command);
        ASSERT_EQ(control_message_send_N(h, ask.command), XA_SUCCESS);
        const std::optional<Note> answer = p.waitFor(ask.answer, 5s);
        ASSERT_TRUE(answer);
        EXPECT_TRUE(ask.check(*answer));
    }
    ASSERT_EQ(control_message_send_S(h, XA_MSG_GET_PLAYER_ENVIRONMENT_INTEGER, "n"), 0);
    const std::optional<Note> answer = p.waitFor(XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_INTEGER);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->text, "n");
    EXPECT_EQ(answer->msg.data.environment_integer.value, -5);
}

TEST_F(XaudioTest, CommandsWithoutAnEffectHereAreAcceptedAndNacked) {
    TestPlayer p;
    XA_Player *h = p.get();
    const int dummy = 0;
    const std::vector<std::pair<int, int>> sent = {
        {XA_MSG_COMMAND_INPUT_ADD_FILTER,
         control_message_send_SI(h, XA_MSG_COMMAND_INPUT_ADD_FILTER, "f", 0)},
        {XA_MSG_COMMAND_OUTPUT_FILTERS_LIST,
         control_message_send_N(h, XA_MSG_COMMAND_OUTPUT_FILTERS_LIST)},
        {XA_MSG_COMMAND_CODEC_MODULE_REGISTER,
         control_message_send_S(h, XA_MSG_COMMAND_CODEC_MODULE_REGISTER, "m.so")},
        {XA_MSG_COMMAND_OUTPUT_SEND_MESSAGE,
         control_message_send_IPI(h, XA_MSG_COMMAND_OUTPUT_SEND_MESSAGE, 1, &dummy, 4)},
        {XA_MSG_COMMAND_OUTPUT_DRAIN, control_message_send_N(h, XA_MSG_COMMAND_OUTPUT_DRAIN)},
        {XA_MSG_SET_OUTPUT_CHANNELS, control_message_send_I(h, XA_MSG_SET_OUTPUT_CHANNELS, 1)},
        {XA_MSG_SET_CODEC_QUALITY, control_message_send_I(h, XA_MSG_SET_CODEC_QUALITY, 1)},
    };
    for (const auto &[command, result] : sent) {
        SCOPED_TRACE(command);
        EXPECT_EQ(result, XA_SUCCESS);
        const std::optional<Note> nack = p.waitFor(XA_MSG_NOTIFY_NACK, 5s);
        ASSERT_TRUE(nack);
        EXPECT_EQ(nack->msg.data.nack.command, command);
        EXPECT_EQ(nack->msg.data.nack.code, XA_ERROR_NOT_SUPPORTED);
    }
}

TEST_F(XaudioTest, VolumeChangesAreReportedAndMinusOneKeepsAValue) {
    TestPlayer p;
    const auto volume = [&](int code) {
        const std::optional<Note> n = p.waitFor(code, 5s);
        EXPECT_TRUE(n);
        return n ? std::array<int, 3>{n->msg.data.volume.master_level, n->msg.data.volume.pcm_level,
                                      n->msg.data.volume.balance}
                 : std::array<int, 3>{-9, -9, -9};
    };
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_GET_OUTPUT_VOLUME), 0);
    EXPECT_EQ(volume(XA_MSG_NOTIFY_OUTPUT_VOLUME), (std::array<int, 3>{100, 100, 50}));
    ASSERT_EQ(control_message_send_III(p.get(), XA_MSG_SET_OUTPUT_VOLUME, 40, 30, 70), 0);
    EXPECT_EQ(volume(XA_MSG_NOTIFY_OUTPUT_VOLUME), (std::array<int, 3>{70, 40, 30}));
    EXPECT_EQ(volume(XA_MSG_NOTIFY_OUTPUT_MASTER_LEVEL)[0], 70);
    ASSERT_EQ(control_message_send_III(p.get(), XA_MSG_SET_OUTPUT_VOLUME, -1, -1, 20), 0);
    EXPECT_EQ(volume(XA_MSG_NOTIFY_OUTPUT_VOLUME), (std::array<int, 3>{20, 40, 30}));
    ASSERT_EQ(control_message_send_III(p.get(), XA_MSG_SET_OUTPUT_VOLUME, 101, -1, 0), 0);
    const std::optional<Note> nack = p.waitFor(XA_MSG_NOTIFY_NACK);
    ASSERT_TRUE(nack);
    EXPECT_EQ(nack->msg.data.nack.code, XA_ERROR_INVALID_PARAMETERS);
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_GET_OUTPUT_VOLUME), 0);
    EXPECT_EQ(volume(XA_MSG_NOTIFY_OUTPUT_VOLUME), (std::array<int, 3>{20, 40, 30}));
}

TEST_F(XaudioTest, EqualizerTurnsMpegAudioDown) {
    const std::string mp3 = Mp3("eq.mp3", 1, 44100, 1.5, 1000, 0, MONO, true);
    XA_EqualizerInfo cut{};
    std::memset(cut.left, -128, sizeof cut.left);
    std::memset(cut.right, -128, sizeof cut.right);
    TestPlayer p;
    Convert(p, mp3, path("flat.wav"));
    ASSERT_EQ(control_message_send_P(p.get(), XA_MSG_SET_CODEC_EQUALIZER, &cut), 0);
    Convert(p, mp3, path("cut.wav"));
    const double flat = testmedia::Rms(ReadCanonicalWav(dir.filePath("flat.wav")).audio, 0);
    const double low = testmedia::Rms(ReadCanonicalWav(dir.filePath("cut.wav")).audio, 0);
    ASSERT_GT(flat, 0.1);
    // -12.8 dB is a factor of about 0.23.
    EXPECT_NEAR(low / flat, 0.23, 0.05);
}

TEST_F(XaudioTest, TwoPlayersDecodeAtTheSameTime) {
    const std::string mp3 = Mp3("a.mp3", 2, 44100, 2.0, 440, 660, JSTEREO, true);
    const std::string wav = Sine("b.wav", 1, 16000, 2.0, 1000);
    TestPlayer a, b;
    for (auto [p, in, out] :
         {std::tuple{&a, mp3, path("a-out.wav")}, std::tuple{&b, wav, path("b-out.wav")}}) {
        ASSERT_EQ(
            control_message_send_S(p->get(), XA_MSG_COMMAND_OUTPUT_OPEN, ("wav:" + out).c_str()),
            0);
        ASSERT_EQ(control_message_send_S(p->get(), XA_MSG_COMMAND_INPUT_OPEN, in.c_str()), 0);
        ASSERT_EQ(control_message_send_N(p->get(), XA_MSG_COMMAND_PLAY), 0);
    }
    for (TestPlayer *p : {&a, &b}) {
        ASSERT_TRUE(p->waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS, 30s));
        ASSERT_EQ(control_message_send_N(p->get(), XA_MSG_COMMAND_OUTPUT_CLOSE), 0);
        ASSERT_TRUE(p->waitFor(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_CLOSED));
    }
    const WavOut outA = ReadCanonicalWav(dir.filePath("a-out.wav"));
    const WavOut outB = ReadCanonicalWav(dir.filePath("b-out.wav"));
    ASSERT_EQ(outA.problem, "");
    ASSERT_EQ(outB.problem, "");
    EXPECT_NEAR(DominantFrequency(outA.audio, 1), 660, 6.6);
    EXPECT_TRUE(outB.data == testmedia::ReadFile(QString::fromStdString(wav)).mid(44));
    // Pings left undecoded in both are freed with their players.
    control_message_send_I(a.get(), XA_MSG_COMMAND_PING, 1);
    control_message_send_I(b.get(), XA_MSG_COMMAND_PING, 2);
}

TEST_F(XaudioTest, DeletingADecodingPlayerFinishesTheWavAndPostsNothingMore) {
    const std::string wav = Sine("long.wav", 2, 48000, 60.0, 440);
    TestPlayer p;
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN,
                                     ("wav:" + path("part.wav")).c_str()),
              0);
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN, wav.c_str()), 0);
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_PLAYING));
    p.remove();
    const size_t posted = p.receiver().posted();
    EXPECT_EQ(ReadCanonicalWav(dir.filePath("part.wav")).problem, "");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(p.receiver().posted(), posted);
}

// Through SDL's dummy driver, which consumes samples at the pace of real playback.
TEST_F(XaudioTest, PlaysPausesSeeksStopsAndEndsInRealTime) {
    const std::string wav = Sine("play.wav", 2, 44100, 1.5, 440);
    TestPlayer p;
    XA_Player *h = p.get();
    ASSERT_EQ(control_message_send_S(h, XA_MSG_COMMAND_INPUT_OPEN, wav.c_str()), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN));
    ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_PLAY), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_OPEN))
        << "play opens the sound output";
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_PLAYING));
    ASSERT_TRUE(p.waitFor([](const Note &n) {
        return n.code == XA_MSG_NOTIFY_INPUT_POSITION && n.msg.data.position.offset >= 40;
    }));

    ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_PAUSE), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_PAUSED));
    std::this_thread::sleep_for(300ms);
    p.sync();
    uint32_t pausedAt = 0;
    for (const Note &n : p.log())
        if (n.code == XA_MSG_NOTIFY_INPUT_POSITION)
            pausedAt = n.msg.data.position.offset;
    EXPECT_LT(pausedAt, 300u) << "paused well before the end";

    ASSERT_EQ(control_message_send_II(h, XA_MSG_COMMAND_INPUT_SEEK, 3, 4), 0);
    const std::optional<Note> seeked = p.waitFor(XA_MSG_NOTIFY_INPUT_POSITION);
    ASSERT_TRUE(seeked);
    EXPECT_EQ(seeked->msg.data.position.offset, 300u);
    ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_STOP), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_STOPPED));
    const std::optional<Note> rewound = p.waitFor(XA_MSG_NOTIFY_INPUT_POSITION);
    ASSERT_TRUE(rewound);
    EXPECT_EQ(rewound->msg.data.position.offset, 0u);

    const auto started = Clock::now();
    ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_PLAY), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS, 10s));
    EXPECT_GT(Clock::now() - started, 1200ms) << "1.5 s of sound cannot end much sooner";
    const Note last = *std::find_if(p.log().rbegin(), p.log().rend(), [](const Note &n) {
        return n.code == XA_MSG_NOTIFY_INPUT_POSITION;
    });
    EXPECT_EQ(last.msg.data.position.offset, 400u);

    // After the end, Play starts again from the beginning; deleting mid-play is clean.
    ASSERT_EQ(control_message_send_N(h, XA_MSG_COMMAND_PLAY), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_PLAYING));
    const std::optional<Note> restart = p.waitFor(XA_MSG_NOTIFY_INPUT_POSITION);
    ASSERT_TRUE(restart);
    EXPECT_LT(restart->msg.data.position.offset, 100u);
    const auto deleting = Clock::now();
    p.remove();
    EXPECT_LT(Clock::now() - deleting, 1s);
}

TEST_F(XaudioTest, OpeningAnotherInputWhilePlayingStopsAndReplacesIt) {
    const std::string first = Sine("first.wav", 2, 44100, 3.0, 440);
    const std::string second = Sine("second.wav", 1, 22050, 1.0, 880);
    TestPlayer p;
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN, first.c_str()), 0);
    ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_PLAYING));
    const size_t before = p.log().size();
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN, second.c_str()), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_INPUT_NAME));
    std::vector<std::pair<int, int>> seen;
    for (auto n = p.log().begin() + long(before); n != p.log().end(); ++n)
        if (n->code == XA_MSG_NOTIFY_PLAYER_STATE || n->code == XA_MSG_NOTIFY_INPUT_STATE)
            seen.emplace_back(n->code, n->byte0());
    const std::vector<std::pair<int, int>> expected = {
        {XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_STOPPED},
        {XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_CLOSED},
        {XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(p.log().back().text, second);
}

// The program's own SDL calls (the completion sound) take the library's audio lock, so the
// library's sound output must wait for it rather than start SDL's audio at the same time.
TEST_F(XaudioTest, SoundOutputWaitsWhileTheProgramHoldsTheAudioLock) {
    EXPECT_EQ(xaudio_get_version(XA_VERSION_ID_IMPLEMENTATION), 0x010100ul)
        << "1.1 is the first implementation with the lock";
    struct AudioLock {
        void lock() { xaudio_audio_lock(); }
        void unlock() { xaudio_audio_unlock(); }
    } audioLock;
    const std::string wav = Sine("locked.wav", 1, 22050, 0.2, 440);
    TestPlayer p;
    ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN, wav.c_str()), 0);
    ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN));
    {
        const std::lock_guard held(audioLock);
        ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), 0);
        EXPECT_FALSE(p.waitFor(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_OPEN, 400ms))
            << "the sound output opened while the lock was held";
    }
    EXPECT_TRUE(p.waitFor(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_OPEN));
    EXPECT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS));
}

// SDL's disk driver writes what the sound device would play into a file.
TEST_F(XaudioTest, SoundOutputAppliesLevelBalanceAndMute) {
    const std::string wav = Sine("tone.wav", 2, 22050, 0.4, 440);
    const auto play = [&](const QString &capture, bool mute) {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", dir.filePath(capture).toLocal8Bit().constData(), 1);
        {
            TestPlayer p;
            ASSERT_EQ(control_message_send_III(p.get(), XA_MSG_SET_OUTPUT_VOLUME, -1, 0, 50), 0);
            if (mute) {
                ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_OUTPUT_MUTE), 0);
            }
            ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_INPUT_OPEN, wav.c_str()), 0);
            ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), 0);
            ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS));
        }
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    };
    play("loud.raw", false);
    play("muted.raw", true);

    const auto peaks = [&](const QString &capture) {
        const QByteArray raw = testmedia::ReadFile(dir.filePath(capture));
        std::array<int, 2> peak{0, 0};
        for (qsizetype i = 0; i + 1 < raw.size(); i += 2) {
            int16_t sample;
            std::memcpy(&sample, raw.constData() + i, 2);
            peak[size_t(i / 2 % 2)] = std::max(peak[size_t(i / 2 % 2)], std::abs(int(sample)));
        }
        return peak;
    };
    const std::array<int, 2> loud = peaks("loud.raw");
    // Half level on the left (the source peaks at half of full scale), balance 0 silences the
    // right.
    EXPECT_NEAR(loud[0], 32767 / 4, 300);
    EXPECT_EQ(loud[1], 0);
    EXPECT_EQ(peaks("muted.raw"), (std::array<int, 2>{0, 0}));
}
