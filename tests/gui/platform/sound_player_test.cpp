#include "platform/DynamicLibrary.h"
#include "platform/SoundPlayer.h"
#include "support/RecordingSoundPlayer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

using namespace std::chrono_literals;

namespace {

// The parts of a canonical 44-byte-header PCM WAV file.
struct Wave {
    int Channels = 0;
    int SampleRate = 0;
    int Bits = 0;
    QByteArray Data;
};

std::optional<Wave> ReadWave(const QString &Path) {
    QFile File(Path);
    if (!File.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray Bytes = File.readAll();
    if (Bytes.size() < 44 || !Bytes.startsWith("RIFF") || Bytes.mid(8, 8) != "WAVEfmt " ||
        Bytes.mid(36, 4) != "data")
        return std::nullopt;
    const auto *Raw = reinterpret_cast<const uchar *>(Bytes.constData());
    if (qFromLittleEndian<quint16>(Raw + 20) != 1)
        return std::nullopt;
    Wave W;
    W.Channels = qFromLittleEndian<quint16>(Raw + 22);
    W.SampleRate = int(qFromLittleEndian<quint32>(Raw + 24));
    W.Bits = qFromLittleEndian<quint16>(Raw + 34);
    W.Data = Bytes.mid(44, qFromLittleEndian<quint32>(Raw + 40));
    return W;
}

// A mono 16-bit file of a quiet tone, Seconds long.
void WriteTone(const QString &Path, double Seconds) {
    const int Frames = int(44100 * Seconds);
    QByteArray Bytes("RIFF....WAVEfmt ");
    const auto Put = [&Bytes](quint32 Value, int Size) {
        for (int i = 0; i < Size; ++i)
            Bytes += char((Value >> (8 * i)) & 0xFF);
    };
    Put(16, 4), Put(1, 2), Put(1, 2), Put(44100, 4), Put(88200, 4), Put(2, 2), Put(16, 2);
    Bytes += "data";
    Put(quint32(Frames * 2), 4);
    for (int i = 0; i < Frames; ++i)
        Put(quint16(qint16(1000 * std::sin(i * 0.05))), 2);
    qToLittleEndian<quint32>(quint32(Bytes.size() - 8), Bytes.data() + 4);
    QFile File(Path);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write(Bytes);
}

double Rms(const QByteArray &Data, int FromFrame, int Frames) {
    const auto *Samples = reinterpret_cast<const qint16 *>(Data.constData());
    double Sum = 0;
    for (int i = FromFrame; i < FromFrame + Frames; ++i)
        Sum += double(Samples[i]) * Samples[i];
    return std::sqrt(Sum / Frames);
}

class SoundPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        // Never a real sound card, also when the test is run by hand.
        SavedDriver = qgetenv("SDL_AUDIODRIVER");
        qputenv("SDL_AUDIODRIVER", "dummy");
    }
    void TearDown() override {
        qputenv("SDL_AUDIODRIVER", SavedDriver);
        qunsetenv("SDL_DISKAUDIOFILE");
    }

    // What SDL's disk driver writes the device's samples to.
    QString Record() {
        const QString File = Dir.filePath("recorded.raw");
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(File));
        return File;
    }

    QString LongTone(double Seconds) {
        const QString Path = Dir.filePath("long.wav");
        WriteTone(Path, Seconds);
        return Path;
    }

    QTemporaryDir Dir;
    QByteArray SavedDriver;
};

TEST_F(SoundPlayerTest, BareNameIsFoundBesideTheProgramThenInShare) {
    const QString Bin = Dir.filePath("prefix/bin");
    const QString Share = Dir.filePath("prefix/share/brindle");
    ASSERT_TRUE(QDir().mkpath(Bin) && QDir().mkpath(Share));
    EXPECT_EQ(FindSoundFile("done.snd", Bin), "");

    QFile(Share + "/done.snd").open(QIODevice::WriteOnly);
    EXPECT_EQ(FindSoundFile("done.snd", Bin), Share + "/done.snd");
    QFile(Bin + "/done.snd").open(QIODevice::WriteOnly);
    EXPECT_EQ(FindSoundFile("done.snd", Bin), Bin + "/done.snd");

    // Folders are not sound files; a name with a folder is taken as it stands.
    QDir().mkpath(Bin + "/folder.snd");
    EXPECT_EQ(FindSoundFile("folder.snd", Bin), "");
    EXPECT_EQ(FindSoundFile(Share + "/done.snd", Dir.filePath("elsewhere")), Share + "/done.snd");
    EXPECT_EQ(FindSoundFile(Share + "/missing.snd", Bin), "");
    EXPECT_EQ(FindSoundFile("", Bin), "");
}

TEST_F(SoundPlayerTest, CompletionSoundIsAShortDecayingChimeBesideTheProgram) {
    const QString Path = FindSoundFile("done.snd");
    ASSERT_FALSE(Path.isEmpty()) << "the build writes done.snd beside the executables";
    const auto Chime = ReadWave(Path);
    ASSERT_TRUE(Chime);
    EXPECT_EQ(Chime->Channels, 1);
    EXPECT_EQ(Chime->SampleRate, 44100);
    EXPECT_EQ(Chime->Bits, 16);
    const int Frames = int(Chime->Data.size() / 2);
    EXPECT_EQ(Frames, 26460) << "0.6 s";

    const auto *Samples = reinterpret_cast<const qint16 *>(Chime->Data.constData());
    int Peak = 0;
    for (int i = 0; i < Frames; ++i)
        Peak = std::max(Peak, std::abs(int(Samples[i])));
    EXPECT_GT(Peak, 32767 * 0.4);
    EXPECT_LT(Peak, 32767 * 0.6) << "no clipping, not too loud";
    // Starts and ends on silence, so it does not click, and fades between.
    EXPECT_LT(std::abs(Samples[0]), 100);
    EXPECT_LT(std::abs(Samples[Frames - 1]), 100);
    EXPECT_GT(Rms(Chime->Data, 0, 8820), 8 * Rms(Chime->Data, Frames - 4410, 4410));
}

TEST_F(SoundPlayerTest, PlayingReturnsAtOnceAndTheDeviceGetsTheChime) {
    const QString Recording = Record();
    TSdlSoundPlayer Player;
    Player.PlaySoundAsync("done.snd");
    EXPECT_TRUE(Player.Busy()) << "returned only when the sound had ended";
    ASSERT_TRUE(Player.WaitUntilIdle(10s));

    QFile File(Recording);
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    const QByteArray Played = File.readAll();
    const QByteArray Chime = ReadWave(FindSoundFile("done.snd"))->Data;
    EXPECT_GE(Played.indexOf(Chime), 0) << "recorded " << Played.size() << " bytes";
}

TEST_F(SoundPlayerTest, NewSoundCutsTheOneStillPlaying) {
    const QString Tone = LongTone(20);
    const QString Recording = Record();
    TSdlSoundPlayer Player;
    Player.PlaySoundAsync(Tone);
    // Until the tone reaches the device.
    const auto Give = std::chrono::steady_clock::now() + 10s;
    while (QFileInfo(Recording).size() < 20000 && std::chrono::steady_clock::now() < Give)
        std::this_thread::sleep_for(10ms);
    ASSERT_GE(QFileInfo(Recording).size(), 20000);
    Player.PlaySoundAsync("done.snd");
    // Far less than the 20 s tone.
    ASSERT_TRUE(Player.WaitUntilIdle(10s));
    QFile File(Recording);
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    EXPECT_GE(File.readAll().indexOf(ReadWave(FindSoundFile("done.snd"))->Data), 0);
}

// The completion sound starts SDL's audio and opens its device under the decoding library's
// own lock, the one the library's sound output holds for the same calls on its threads.
TEST_F(SoundPlayerTest, SoundWaitsWhileTheDecodingLibraryHoldsItsAudioLock) {
    DynamicLibrary Library;
    ASSERT_TRUE(Library.Load("xaudio.dll")) << Library.ErrorText().toStdString();
    struct TLibraryLock {
        void (*Lock)();
        void (*Unlock)();
        void lock() { Lock(); }
        void unlock() { Unlock(); }
    } AudioLock{reinterpret_cast<void (*)()>(Library.Symbol("xaudio_audio_lock")),
                reinterpret_cast<void (*)()>(Library.Symbol("xaudio_audio_unlock"))};
    ASSERT_TRUE(AudioLock.Lock && AudioLock.Unlock);
    const QString Tone = Dir.filePath("short.wav");
    WriteTone(Tone, 0.1);
    const QString Recording = Record();

    TSdlSoundPlayer Player;
    {
        const std::lock_guard Held(AudioLock);
        Player.PlaySoundAsync(Tone);
        // Unlocked, the tenth of a second would long have played.
        EXPECT_FALSE(Player.WaitUntilIdle(600ms));
        EXPECT_FALSE(QFileInfo::exists(Recording)) << "the device was opened";
    }
    ASSERT_TRUE(Player.WaitUntilIdle(10s));
    EXPECT_GT(QFileInfo(Recording).size(), 0);
}

TEST_F(SoundPlayerTest, MissingOrBrokenFilesPlayNothingAndReportNothing) {
    TSdlSoundPlayer Player;
    Player.PlaySoundAsync("no-such-sound.snd");
    EXPECT_FALSE(Player.Busy());

    const QString Broken = Dir.filePath("broken.snd");
    QFile File(Broken);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write("RIFF\x10\0\0\0WAVEfmt nonsense", 24);
    File.close();
    Player.PlaySoundAsync(Broken);
    EXPECT_TRUE(Player.WaitUntilIdle(10s));

    // No sound device at all.
    qputenv("SDL_AUDIODRIVER", "none-such");
    Player.PlaySoundAsync("done.snd");
    EXPECT_TRUE(Player.WaitUntilIdle(10s));
}

TEST_F(SoundPlayerTest, DestroyingThePlayerStopsItsSound) {
    const QString Tone = LongTone(30);
    const auto Start = std::chrono::steady_clock::now();
    {
        TSdlSoundPlayer Player;
        Player.PlaySoundAsync(Tone);
        ASSERT_TRUE(Player.Busy());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 15s) << "waited for the 30 s tone";
}

TEST_F(SoundPlayerTest, ProgramExitWhilePlayingEndsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QString Tone = LongTone(30);
    EXPECT_EXIT(
        {
            PlaySoundAsync(Tone);
            std::exit(dynamic_cast<TSdlSoundPlayer &>(SoundPlayer()).Busy() ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(SoundPlayerTest, InstalledPlayerTakesTheRequestsUntilRemoved) {
    {
        RecordingSoundPlayer Sounds;
        PlaySoundAsync("done.snd");
        EXPECT_EQ(Sounds.Played, QStringList{"done.snd"});
        EXPECT_EQ(&SoundPlayer(), &Sounds);
    }
    EXPECT_NE(dynamic_cast<TSdlSoundPlayer *>(&SoundPlayer()), nullptr);
}

} // namespace
