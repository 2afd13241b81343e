// TXaudioPlayer driving the project's own decoding library, found by the component's default
// name "xaudio.dll" beside the test executable.

#include "core/xaudio/FakeXaudio.h"
#include "encoder/LameCoder.h"
#include "support/TestMedia.h"
#include "xaudio/XaudioPlayer.h"

#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstring>

using namespace testmedia;

namespace {

// The 16-bit PCM of a canonical 44-byte-header WAV file.
DecodedAudio ReadCanonicalWav(const QString &Path) {
    DecodedAudio audio;
    const QByteArray bytes = ReadFile(Path);
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE" ||
        bytes.mid(36, 4) != "data") {
        audio.error = "not a canonical WAV file";
        return audio;
    }
    const auto u16 = [&](int At) {
        return int(uint8_t(bytes[At])) | int(uint8_t(bytes[At + 1])) << 8;
    };
    const auto u32 = [&](int At) { return uint32_t(u16(At)) | uint32_t(u16(At + 2)) << 16; };
    if (u16(20) != 1 || u16(34) != 16 || u32(40) != uint32_t(bytes.size() - 44)) {
        audio.error = "not 16-bit PCM with an exact data size";
        return audio;
    }
    audio.channels = u16(22);
    audio.sampleRate = u32(24);
    audio.samples.resize((bytes.size() - 44) / 2);
    std::memcpy(audio.samples.data(), bytes.constData() + 44, audio.samples.size() * 2);
    audio.ok = true;
    return audio;
}

class XaudioLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        player.OnNotifyInputState = [this](TXaudioPlayer &Sender, int32_t State) {
            Note("input " + QString::number(State));
            if (State == XA_INPUT_STATE_OPEN)
                Sender.Play();
        };
        player.OnNotifyPlayerState = [this](TXaudioPlayer &Sender, int32_t State) {
            Note("player " + QString::number(State));
            if (State == XA_PLAYER_STATE_EOS)
                Sender.OutputClose();
        };
        player.OnNotifyOutputState = [this](TXaudioPlayer &, int32_t State) {
            Note("output " + QString::number(State));
        };
        player.OnNotifyError = [this](TXaudioPlayer &, uint8_t, int16_t Code, const QString &) {
            Note("error " + QString::number(Code));
        };
    }

    void Note(const QString &Event) {
        events << Event;
        onOtherThread |= QThread::currentThread() != player.thread();
    }

    QString path(const QString &Name) const { return dir.filePath(Name); }

    QTemporaryDir dir;
    TXaudioPlayer player;
    QStringList events;
    bool onOtherThread = false;
};

} // namespace

TEST_F(XaudioLibraryTest, TheRealLibraryLoadsByItsDefaultNameWithTheExpectedApi) {
    EXPECT_EQ(player.XaudioPath, "xaudio.dll");
    ASSERT_TRUE(player.Init());
    EXPECT_EQ((player.GetVersion(XA_VERSION_ID_API) >> 8) & 0xFFFF, 0x0309);
    EXPECT_FALSE(player.ErrorString(XA_ERROR_OPEN_FAILED).isEmpty());
}

// The decode chain of the conversion window: output "wav:", input, play on input ready,
// close the output at end of stream; the output-closed event means the file is complete.
TEST_F(XaudioLibraryTest, DecodesAnMp3OfOurEncoderIntoAWavFile) {
    WriteSineWav(path("tone.wav"), 2, 44100, 1.0, 440, 880);
    TLameCoder coder;
    coder.SetInputFiles({path("tone.wav")});
    coder.SetOutputFiles({path("tone.mp3")});
    coder.Encode();

    ASSERT_EQ(player.OutputOpen("wav:" + path("out.wav")), XA_SUCCESS);
    ASSERT_EQ(player.InputOpen(path("tone.mp3")), XA_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return events.contains("output 1"); }, 20000))
        << events.join(", ").toStdString();

    const auto at = [&](const char *Event) { return events.indexOf(Event); };
    EXPECT_LT(at("input 0"), at("player 1"));
    EXPECT_LT(at("player 1"), at("player 3"));
    EXPECT_LT(at("player 3"), at("output 1"));
    EXPECT_GE(at("input 0"), 0);
    EXPECT_FALSE(onOtherThread);

    const DecodedAudio out = ReadCanonicalWav(path("out.wav"));
    ASSERT_TRUE(out.ok) << out.error.toStdString();
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.sampleRate, 44100);
    EXPECT_NEAR(out.seconds(), 1.0, 0.1);
    EXPECT_NEAR(DominantFrequency(out, 0), 440, 5);
    EXPECT_NEAR(DominantFrequency(out, 1), 880, 9);
}

TEST_F(XaudioLibraryTest, InputItCannotDecodeGivesAnErrorAndNeverReady) {
    WriteFile(path("noise.mp3"), QByteArray(20000, '\x11'));
    ASSERT_EQ(player.OutputOpen("wav:" + path("out.wav")), XA_SUCCESS);
    const int32_t opened = player.InputOpen(path("noise.mp3"));
    if (opened == XA_SUCCESS) {
        ASSERT_TRUE(WaitFor([&] { return !events.filter("error").isEmpty(); }, 10000))
            << events.join(", ").toStdString();
    }
    WaitFor([] { return false; }, 300);
    EXPECT_FALSE(events.contains("input 0")) << events.join(", ").toStdString();
}

// The library's texts live only until its next decode for the player. A handler that runs an
// event loop (a message box) lets the next notification be decoded before the current one
// reaches its event, which must still get its own texts.
TEST_F(XaudioLibraryTest, AnEventGetsItsOwnTextsWhenTheNextNotificationCameInBetween) {
    QStringList values;
    player.OnNotifyPlayerEnvironmentString = [&](TXaudioPlayer &, const QString &Name,
                                                 const QString &Value) {
        values << Name + "=" + Value;
    };
    bool nested = false;
    player.OnNotifyMessage = [&](TXaudioPlayer &, XA_Message &Msg) {
        if (Msg.code != XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_STRING || nested)
            return;
        nested = true;
        WaitFor([&] { return !values.isEmpty(); }, 10000);
    };
    ASSERT_EQ(player.SetPlayerEnvironmentString("k1", "alpha"), XA_SUCCESS);
    ASSERT_EQ(player.SetPlayerEnvironmentString("k2", "beta"), XA_SUCCESS);
    ASSERT_EQ(player.GetPlayerEnvironmentString("k1"), XA_SUCCESS);
    ASSERT_EQ(player.GetPlayerEnvironmentString("k2"), XA_SUCCESS);
    ASSERT_TRUE(WaitFor([&] { return values.size() == 2; }, 10000))
        << values.join(", ").toStdString();
    EXPECT_EQ(values, QStringList({"k2=beta", "k1=alpha"}));
}
