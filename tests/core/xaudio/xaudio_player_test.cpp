#include "core/xaudio/FakeXaudio.h"
#include "xaudio/XaudioPlayer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace {

// Runs Call and gives the message of the EXaudioException it raises ("" when none).
QString ExceptionText(const std::function<void()> &Call) {
    try {
        Call();
    } catch (const EXaudioException &e) {
        return e.message();
    }
    return QString();
}

class XaudioPlayerTest : public ::testing::Test {
protected:
    XaudioPlayerTest() { fake.Reset(); }

    std::unique_ptr<TXaudioPlayer> NewPlayer(const QString &Path = FakeXaudioPath) {
        auto player = std::make_unique<TXaudioPlayer>();
        player->XaudioPath = Path;
        return player;
    }

    FakeXaudio fake;
};

QString PointerText(const void *P) {
    return QString::number(reinterpret_cast<uintptr_t>(P));
}

} // namespace

// Loading and starting

TEST_F(XaudioPlayerTest, GetVersionIsZeroWithoutAPlayerAndLoadsNothing) {
    // Without the test's own reference the fake must stay unloaded.
    const QString path = FakeXaudioApi37Path;
    auto player = NewPlayer(path);
    EXPECT_EQ(player->GetVersion(XA_VERSION_ID_API), 0);
    EXPECT_FALSE(IsLoaded(path));

    auto started = NewPlayer();
    ASSERT_TRUE(started->Init());
    EXPECT_EQ(started->GetVersion(XA_VERSION_ID_API), 0x030955);
    EXPECT_EQ(started->GetVersion(XA_VERSION_ID_IMPLEMENTATION), 0x010203);
}

TEST_F(XaudioPlayerTest, InitLoadsChecksTheVersionAndCreatesOnePlayer) {
    auto player = NewPlayer();
    fake.Reset();
    EXPECT_TRUE(player->Init());
    EXPECT_TRUE(player->Init());
    EXPECT_EQ(fake.Calls(), QStringList({"xaudio_get_version 2", "player_new target"}));

    player.reset();
    EXPECT_EQ(fake.LastCall(), "player_delete player");
}

TEST_F(XaudioPlayerTest, AnUnloadableLibraryFailsEveryCommandWithItsConfiguredName) {
    auto player = NewPlayer("brindle-missing.dll");
    const QString expected = "Cannot Load Xaudio DLL (brindle-missing.dll)";
    EXPECT_EQ(ExceptionText([&] { player->Play(); }), expected);
    EXPECT_EQ(ExceptionText([&] { player->Play(); }), expected);
    EXPECT_EQ(ExceptionText([&] { player->ErrorString(0); }), expected);

    // A later fix of the path takes effect at the next load.
    player->XaudioPath = FakeXaudioPath;
    EXPECT_EQ(player->Play(), XA_SUCCESS);
    EXPECT_EQ(fake.LastCall(), "control_message_send_N player 4");
}

TEST_F(XaudioPlayerTest, AMissingEntryPointReleasesTheLibraryAndTheNextCommandRetries) {
    auto player = NewPlayer(FakeXaudioNoIIIIPath);
    const QString expected = "Cannot Find Symbol control_message_send_IIII in Xaudio DLL";
    EXPECT_EQ(ExceptionText([&] { player->Init(); }), expected);
    EXPECT_FALSE(IsLoaded(FakeXaudioNoIIIIPath));
    EXPECT_EQ(ExceptionText([&] { player->Play(); }), expected);
    EXPECT_FALSE(IsLoaded(FakeXaudioNoIIIIPath));

    player->XaudioPath = FakeXaudioPath;
    EXPECT_EQ(player->Play(), XA_SUCCESS);
}

TEST_F(XaudioPlayerTest, AnotherApiVersionFailsEveryInitAndKeepsTheLibrary) {
    auto player = NewPlayer(FakeXaudioApi37Path);
    const QString expected = QStringLiteral("Xaudio DLL API Mismatch\rExpected 3.9, Got 3.7");
    EXPECT_EQ(ExceptionText([&] { player->Init(); }), expected);
    EXPECT_EQ(ExceptionText([&] { player->Init(); }), expected);
    EXPECT_EQ(ExceptionText([&] { player->Stop(); }), expected);
    EXPECT_EQ(player->GetVersion(XA_VERSION_ID_API), 0);
    EXPECT_TRUE(IsLoaded(FakeXaudioApi37Path));
    {
        const FakeXaudio api37(FakeXaudioApi37Path);
        EXPECT_EQ(api37.Calls(), QStringList({"xaudio_get_version 2", "xaudio_get_version 2",
                                              "xaudio_get_version 2"}));
    }
    player.reset();
    EXPECT_FALSE(IsLoaded(FakeXaudioApi37Path));
}

// A failed player_new may leave rubbish in the handle; taking it for a player would send
// every later command to it.
TEST_F(XaudioPlayerTest, APlayerThatFailsToStartIsNotKept) {
    auto player = NewPlayer();
    fake.SetPlayerNewResult(XA_ERROR_OUT_OF_MEMORY);
    EXPECT_EQ(ExceptionText([&] { player->Init(); }), "Cannot Start Xaudio Player");
    EXPECT_EQ(ExceptionText([&] { player->Play(); }), "Cannot Start Xaudio Player");
    EXPECT_EQ(player->GetVersion(XA_VERSION_ID_API), 0);

    fake.SetPlayerNewResult(XA_SUCCESS);
    EXPECT_EQ(player->Play(), XA_SUCCESS);
    EXPECT_EQ(fake.LastCall(), "control_message_send_N player 4");
    player.reset();
    EXPECT_EQ(fake.Calls().filter("player_delete"), QStringList({"player_delete player"}));
}

// Priority

TEST_F(XaudioPlayerTest, APriorityOtherThanThreeSetBeforeInitIsAppliedToTheNewPlayer) {
    auto player = NewPlayer();
    EXPECT_EQ(player->GetPriority(), 3);
    player->SetPriority(2);
    EXPECT_EQ(player->GetPriority(), 2);
    EXPECT_TRUE(fake.Calls().isEmpty());

    player->Init();
    EXPECT_EQ(fake.Calls(), QStringList({"xaudio_get_version 2", "player_new target",
                                         "player_set_priority player 2"}));
}

TEST_F(XaudioPlayerTest, PriorityThreeSetBeforeInitIsNotSent) {
    auto player = NewPlayer();
    player->SetPriority(1);
    player->SetPriority(3);
    player->Init();
    EXPECT_TRUE(fake.Calls().filter("priority").isEmpty()) << fake.Calls().join('\n').toStdString();
}

TEST_F(XaudioPlayerTest, PriorityAfterInitGoesStraightToTheLibrary) {
    auto player = NewPlayer();
    player->Init();
    fake.Reset();
    player->SetPriority(4);
    EXPECT_EQ(player->GetPriority(), 4);
    EXPECT_EQ(fake.Calls(),
              QStringList({"player_set_priority player 4", "player_get_priority player"}));
}

// Commands

struct CommandCase {
    const char *Name;
    std::function<int32_t(TXaudioPlayer &)> Call;
    QString Expected;
};

const int Data = 0;
const XA_EqualizerInfo Equalizer{};

// Every command, on a fresh component: it starts the player, then reaches its entry point
// with its code and arguments. Bytes and 16-bit values arrive widened without sign, texts
// as zero-terminated UTF-8.
TEST_F(XaudioPlayerTest, EveryCommandStartsThePlayerAndSendsItsCodeAndArguments) {
    const QString data = PointerText(&Data);
    const std::vector<CommandCase> cases = {
        {"Synchronize", [](TXaudioPlayer &p) { return p.Synchronize(); }, "N player 2"},
        {"Ping", [](TXaudioPlayer &p) { return p.Ping(-5); }, "I player 3 -5"},
        {"Play", [](TXaudioPlayer &p) { return p.Play(); }, "N player 4"},
        {"Pause", [](TXaudioPlayer &p) { return p.Pause(); }, "N player 5"},
        {"Stop", [](TXaudioPlayer &p) { return p.Stop(); }, "N player 6"},
        {"InputSeek", [](TXaudioPlayer &p) { return p.InputSeek(250, 1000); },
         "II player 7 250 1000"},
        {"InputOpen", [](TXaudioPlayer &p) { return p.InputOpen("/tmp/Ärger ß.mp3"); },
         "S player 8 \"/tmp/Ärger ß.mp3\""},
        {"InputClose", [](TXaudioPlayer &p) { return p.InputClose(); }, "N player 9"},
        {"InputSendMessage", [](TXaudioPlayer &p) { return p.InputSendMessage(0xFFFF, &Data, 4); },
         "IPI player 10 65535 " + data + " 4"},
        {"InputAddFilter", [](TXaudioPlayer &p) { return p.InputAddFilter("f1", 1); },
         "SI player 11 \"f1\" 1"},
        {"InputRemoveFilter", [](TXaudioPlayer &p) { return p.InputRemoveFilter("f2", -1); },
         "SI player 12 \"f2\" -1"},
        {"InputFilterList", [](TXaudioPlayer &p) { return p.InputFilterList(); }, "N player 13"},
        {"InputModuleRegister", [](TXaudioPlayer &p) { return p.InputModuleRegister("in.so"); },
         "S player 14 \"in.so\""},
        {"InputModuleQuery", [](TXaudioPlayer &p) { return p.InputModuleQuery(7); },
         "I player 15 7"},
        {"InputModulesList", [](TXaudioPlayer &p) { return p.InputModulesList(); }, "N player 16"},
        {"OutputOpen", [](TXaudioPlayer &p) { return p.OutputOpen("wav:/tmp/out.wav"); },
         "S player 17 \"wav:/tmp/out.wav\""},
        {"OutputClose", [](TXaudioPlayer &p) { return p.OutputClose(); }, "N player 18"},
        {"OutputSendMessage",
         [](TXaudioPlayer &p) { return p.OutputSendMessage(0x8001, nullptr, -1); },
         "IPI player 19 32769 0 -1"},
        {"OutputMute", [](TXaudioPlayer &p) { return p.OutputMute(); }, "N player 20"},
        {"OutputUnmute", [](TXaudioPlayer &p) { return p.OutputUnmute(); }, "N player 21"},
        {"OutputReset", [](TXaudioPlayer &p) { return p.OutputReset(); }, "N player 22"},
        {"OutputDrain", [](TXaudioPlayer &p) { return p.OutputDrain(); }, "N player 23"},
        {"OutputAddFilter", [](TXaudioPlayer &p) { return p.OutputAddFilter("g1", 2); },
         "SI player 24 \"g1\" 2"},
        {"OutputRemoveFilter", [](TXaudioPlayer &p) { return p.OutputRemoveFilter("g2", 3); },
         "SI player 25 \"g2\" 3"},
        {"OutputFilterList", [](TXaudioPlayer &p) { return p.OutputFilterList(); }, "N player 26"},
        {"OutputModuleRegister", [](TXaudioPlayer &p) { return p.OutputModuleRegister("out.so"); },
         "S player 27 \"out.so\""},
        {"OutputModuleQuery", [](TXaudioPlayer &p) { return p.OutputModuleQuery(8); },
         "I player 28 8"},
        {"OutputModulesList", [](TXaudioPlayer &p) { return p.OutputModulesList(); },
         "N player 29"},
        {"CodecSendMessage", [](TXaudioPlayer &p) { return p.CodecSendMessage(1, &Data, 0); },
         "IPI player 30 1 " + data + " 0"},
        {"CodecModuleRegister", [](TXaudioPlayer &p) { return p.CodecModuleRegister("c.so"); },
         "S player 31 \"c.so\""},
        {"CodecModuleQuery", [](TXaudioPlayer &p) { return p.CodecModuleQuery(9); },
         "I player 32 9"},
        {"CodecModulesList", [](TXaudioPlayer &p) { return p.CodecModulesList(); }, "N player 33"},
        {"SetPlayerMode", [](TXaudioPlayer &p) { return p.SetPlayerMode(0x40000000); },
         "I player 34 1073741824"},
        {"GetPlayerMode", [](TXaudioPlayer &p) { return p.GetPlayerMode(); }, "N player 35"},
        {"SetPlayerEnvironmentInteger",
         [](TXaudioPlayer &p) { return p.SetPlayerEnvironmentInteger("k", -100); },
         "SI player 36 \"k\" -100"},
        {"GetPlayerEnvironmentInteger",
         [](TXaudioPlayer &p) { return p.GetPlayerEnvironmentInteger("k"); }, "S player 37 \"k\""},
        {"SetPlayerEnvironmentString",
         [](TXaudioPlayer &p) { return p.SetPlayerEnvironmentString("k", "v w"); },
         "SS player 38 \"k\" \"v w\""},
        {"GetPlayerEnvironmentString",
         [](TXaudioPlayer &p) { return p.GetPlayerEnvironmentString("k2"); }, "S player 39 \"k2\""},
        {"UnsetPlayerEnvironment", [](TXaudioPlayer &p) { return p.UnsetPlayerEnvironment("k3"); },
         "S player 40 \"k3\""},
        {"SetInputName", [](TXaudioPlayer &p) { return p.SetInputName(""); }, "S player 41 \"\""},
        {"GetInputName", [](TXaudioPlayer &p) { return p.GetInputName(); }, "N player 42"},
        {"SetInputModule", [](TXaudioPlayer &p) { return p.SetInputModule(-1); }, "I player 43 -1"},
        {"GetInputModule", [](TXaudioPlayer &p) { return p.GetInputModule(); }, "N player 44"},
        {"SetInputPositionRange", [](TXaudioPlayer &p) { return p.SetInputPositionRange(400); },
         "I player 45 400"},
        {"GetInputPositionRange", [](TXaudioPlayer &p) { return p.GetInputPositionRange(); },
         "N player 46"},
        {"SetInputTimecodeGranularity",
         [](TXaudioPlayer &p) { return p.SetInputTimecodeGranularity(100); }, "I player 47 100"},
        {"GetInputTimecodeGranularity",
         [](TXaudioPlayer &p) { return p.GetInputTimecodeGranularity(); }, "N player 48"},
        {"SetOutputName", [](TXaudioPlayer &p) { return p.SetOutputName("dsp"); },
         "S player 49 \"dsp\""},
        {"GetOutputName", [](TXaudioPlayer &p) { return p.GetOutputName(); }, "N player 50"},
        {"SetOutputModule", [](TXaudioPlayer &p) { return p.SetOutputModule(2); }, "I player 51 2"},
        {"GetOutputModule", [](TXaudioPlayer &p) { return p.GetOutputModule(); }, "N player 52"},
        {"SetOutputVolume", [](TXaudioPlayer &p) { return p.SetOutputVolume(-1, -1, 75); },
         "III player 57 -1 -1 75"},
        {"GetOutputVolume", [](TXaudioPlayer &p) { return p.GetOutputVolume(); }, "N player 58"},
        {"SetOutputChannels", [](TXaudioPlayer &p) { return p.SetOutputChannels(1); },
         "I player 59 1"},
        {"GetOutputChannels", [](TXaudioPlayer &p) { return p.GetOutputChannels(); },
         "N player 60"},
        {"SetOutputPorts", [](TXaudioPlayer &p) { return p.SetOutputPorts(6); }, "I player 61 6"},
        {"GetOutputPorts", [](TXaudioPlayer &p) { return p.GetOutputPorts(); }, "N player 62"},
        {"SetCodecQuality", [](TXaudioPlayer &p) { return p.SetCodecQuality(200); },
         "I player 63 200"},
        {"GetCodecQuality", [](TXaudioPlayer &p) { return p.GetCodecQuality(); }, "N player 64"},
        {"SetCodecEqualizer", [](TXaudioPlayer &p) { return p.SetCodecEqualizer(&Equalizer); },
         "P player 65 " + PointerText(&Equalizer)},
        {"GetCodecEqualizer", [](TXaudioPlayer &p) { return p.GetCodecEqualizer(); },
         "N player 66"},
        {"SetNotificationMask", [](TXaudioPlayer &p) { return p.SetNotificationMask(-1); },
         "I player 69 -1"},
        {"GetNotificationMask", [](TXaudioPlayer &p) { return p.GetNotificationMask(); },
         "N player 70"},
        {"SetDebugLevel", [](TXaudioPlayer &p) { return p.SetDebugLevel(3); }, "I player 71 3"},
        {"GetDebugLevel", [](TXaudioPlayer &p) { return p.GetDebugLevel(); }, "N player 72"},
    };
    ASSERT_EQ(cases.size(), 65u);

    for (const CommandCase &c : cases) {
        SCOPED_TRACE(c.Name);
        fake.Reset();
        auto player = NewPlayer();
        EXPECT_EQ(c.Call(*player), XA_SUCCESS);
        EXPECT_EQ(fake.Calls(), QStringList({"xaudio_get_version 2", "player_new target",
                                             "control_message_send_" + c.Expected}));
    }
}

TEST_F(XaudioPlayerTest, CommandsGiveTheLibrarysStatus) {
    auto player = NewPlayer();
    fake.SetSendResult(XA_ERROR_OPEN_FAILED);
    EXPECT_EQ(player->InputOpen("/nonexistent.mp3"), XA_ERROR_OPEN_FAILED);
    EXPECT_EQ(player->Play(), XA_ERROR_OPEN_FAILED);
    EXPECT_EQ(player->SetOutputVolume(-1, -1, 10), XA_ERROR_OPEN_FAILED);
}

// The library reads a text up to its first NUL: "a.wav\0b" would write to a.wav.
TEST_F(XaudioPlayerTest, ATextWithANulCharacterIsRefusedNotCut) {
    auto player = NewPlayer();
    player->Init();
    fake.Reset();
    const QString cut = QStringLiteral("wav:/tmp/a.wav") + QChar(0) + QStringLiteral("b");
    EXPECT_EQ(player->OutputOpen(cut), XA_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(player->SetPlayerEnvironmentString("k", cut), XA_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(player->InputAddFilter(cut, 0), XA_ERROR_INVALID_PARAMETERS);
    EXPECT_TRUE(fake.Calls().isEmpty()) << fake.Calls().join('\n').toStdString();
}

TEST_F(XaudioPlayerTest, ErrorStringStartsThePlayerAndConvertsTheLibrarysText) {
    auto player = NewPlayer();
    EXPECT_EQ(player->ErrorString(XA_ERROR_OPEN_FAILED), QString::fromUtf8("fake open failed é"));
    EXPECT_TRUE(fake.Calls().contains("player_new target"));
    EXPECT_EQ(player->ErrorString(12345), QString());
}
