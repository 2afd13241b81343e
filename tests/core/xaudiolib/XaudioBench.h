#pragma once

// The decoding library's test bench: a notification receiver, a player driven through the
// C interface, canonical WAV reading and the fixture that makes the media.

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

namespace xaudiotest {

using Clock = std::chrono::steady_clock;

// A notification as decoded on the test thread, texts copied out of the record.
struct Note {
    int code = 0;
    XA_Message msg{};
    std::string text;

    int byte0() const { return msg.data.raw[0]; }
};

inline Note ToNote(const XA_Message &m) {
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

inline bool Is(const Note &n, int code, int state) {
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

inline uint32_t Le32(const QByteArray &b, int at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
           uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}
inline uint16_t Le16(const QByteArray &b, int at) {
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

inline WavOut ReadCanonicalWav(const QString &path) {
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

} // namespace xaudiotest
