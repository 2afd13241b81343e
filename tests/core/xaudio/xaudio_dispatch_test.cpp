#include "core/xaudio/FakeXaudio.h"
#include "xaudio/XaudioPlayer.h"

#include <QThread>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <type_traits>

namespace {

QString ArgumentText(const QString &Text) {
    return '"' + Text + '"';
}
// The handler gets copies of what the record points to (the library's own live only until
// its next decode), so these show contents.
QString ArgumentText(const XA_Property *Properties) {
    return QStringLiteral("%1:%2 %3:%4")
        .arg(Properties[0].name)
        .arg(Properties[0].value.integer)
        .arg(Properties[1].name)
        .arg(Properties[1].value.string);
}
QString ArgumentText(const XA_EqualizerInfo &Equalizer) {
    return QStringLiteral("%1 %2").arg(Equalizer.left[0]).arg(Equalizer.right[31]);
}
QString ArgumentText(const XA_Message &Msg) {
    return QString::number(Msg.code);
}
template <typename T>
requires std::is_integral_v<T> QString ArgumentText(T Value) {
    return QString::number(Value);
}

// Assigns every event of the component; each one appends "Name arg arg ..." to Fired, or
// "Name from another sender".
void RecordEveryEvent(TXaudioPlayer &Player, QStringList &Fired) {
    const auto record = [&Player, &Fired](const char *Name) {
        return [&Player, &Fired, Name](auto &&Sender, auto &&...Args) {
            const QObject *sender;
            if constexpr (std::is_pointer_v<std::decay_t<decltype(Sender)>>)
                sender = Sender;
            else
                sender = &Sender;
            QStringList line = {Name};
            if (sender != &Player)
                line << "from another sender";
            ((line << ArgumentText(Args)), ...);
            Fired << line.join(' ');
        };
    };
    Player.OnNotifyMessage = record("Message");
    Player.OnNotifyReady = record("Ready");
    Player.OnNotifyAck = record("Ack");
    Player.OnNotifyNack = record("Nack");
    Player.OnNotifyPong = record("Pong");
    Player.OnNotifyExited = record("Exited");
    Player.OnNotifyPlayerState = record("PlayerState");
    Player.OnNotifyPlayerMode = record("PlayerMode");
    Player.OnNotifyPlayerEnvironmentInteger = record("PlayerEnvironmentInteger");
    Player.OnNotifyPlayerEnvironmentString = record("PlayerEnvironmentString");
    Player.OnNotifyInputState = record("InputState");
    Player.OnNotifyInputName = record("InputName");
    Player.OnNotifyInputCaps = record("InputCaps");
    Player.OnNotifyInputPosition = record("InputPosition");
    Player.OnNotifyInputPositionRange = record("InputPositionRange");
    Player.OnNotifyInputTimecode = record("InputTimecode");
    Player.OnNotifyInputTimecodeGranularity = record("InputTimecodeGranularity");
    Player.OnNotifyInputModule = record("InputModule");
    Player.OnNotifyInputModuleInfo = record("InputModuleInfo");
    Player.OnNotifyInputDeviceInfo = record("InputDeviceInfo");
    Player.OnNotifyInputFilterInfo = record("InputFilterInfo");
    Player.OnNotifyOutputState = record("OutputState");
    Player.OnNotifyOutputName = record("OutputName");
    Player.OnNotifyOutputCaps = record("OutputCaps");
    Player.OnNotifyOutputVolume = record("OutputVolume");
    Player.OnNotifyOutputBalance = record("OutputBalance");
    Player.OnNotifyOutputPcmLevel = record("OutputPcmLevel");
    Player.OnNotifyOutputMasterLevel = record("OutputMasterLevel");
    Player.OnNotifyOutputChannels = record("OutputChannels");
    Player.OnNotifyOutputPorts = record("OutputPorts");
    Player.OnNotifyOutputModule = record("OutputModule");
    Player.OnNotifyOutputModuleInfo = record("OutputModuleInfo");
    Player.OnNotifyOutputDeviceInfo = record("OutputDeviceInfo");
    Player.OnNotifyOutputFilterInfo = record("OutputFilterInfo");
    Player.OnNotifyStreamMimeType = record("StreamMimeType");
    Player.OnNotifyStreamDuration = record("StreamDuration");
    Player.OnNotifyStreamParameters = record("StreamParameters");
    Player.OnNotifyStreamProperties = record("StreamProperties");
    Player.OnNotifyCodecModule = record("CodecModule");
    Player.OnNotifyCodecModuleInfo = record("CodecModuleInfo");
    Player.OnNotifyCodecDeviceInfo = record("CodecDeviceInfo");
    Player.OnNotifyCodecQuality = record("CodecQuality");
    Player.OnNotifyCodecEqualizer = record("CodecEqualizer");
    Player.OnNotifyNotificationMask = record("NotificationMask");
    Player.OnNotifyDebugLevel = record("DebugLevel");
    Player.OnNotifyProgress = record("Progress");
    Player.OnNotifyDebug = record("Debug");
    Player.OnNotifyError = record("Error");
}

// A record of Code whose data bytes are all 0xA5 until the case sets its fields, so that a
// field read wider than it is picks up the filler.
XA_Message Record(int32_t Code, const std::function<void(XA_Message &)> &Fill = {}) {
    XA_Message msg;
    msg.code = Code;
    std::memset(&msg.data, 0xA5, sizeof msg.data);
    if (Fill)
        Fill(msg);
    return msg;
}

struct DispatchCase {
    XA_Message Msg;
    QString Expected; // the event after "Message <code>"; empty when none
};

XA_Property Properties[2];
XA_EqualizerInfo Equalizer;

class XaudioDispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        player = std::make_unique<TXaudioPlayer>();
        player->XaudioPath = FakeXaudioPath;
        ASSERT_TRUE(player->Init());
        fake.Reset();
    }

    // Posts Msg as the library would and lets it be delivered.
    void Deliver(const XA_Message &Msg, bool FromThread = false) {
        ASSERT_TRUE(fake.Post(Msg, FromThread));
        DeliverPosted();
    }

    FakeXaudio fake;
    std::unique_ptr<TXaudioPlayer> player;
};

} // namespace

TEST_F(XaudioDispatchTest, EveryCodeReachesItsOwnEventWithTheFieldsOfItsRecord) {
    Equalizer = {};
    Equalizer.left[0] = 5;
    Equalizer.right[31] = -6;
    Properties[0] = {"year", 0, {.integer = 1999}};
    Properties[1] = {"title", 1, {.string = "Song"}};
    const auto moduleInfo = [](XA_Message &m) {
        m.data.module_info = {200, 3, "mpeg", "MPEG \xC3\xA9"};
    };
    const auto deviceInfo = [](XA_Message &m) {
        m.data.device_info = {201, 2, 0x81, "dev", nullptr};
    };
    const auto filterInfo = [](XA_Message &m) { m.data.filter_info = {"echo", 250}; };
    const auto volume = [](XA_Message &m) { m.data.volume = {55, 66, 77}; };
    const auto state = [](XA_Message &m) { m.data.state.state = 254; };
    const auto module = [](XA_Message &m) { m.data.module.id = -3; };

    const std::vector<DispatchCase> cases = {
        {Record(XA_MSG_NOTIFY_READY), "Ready"},
        {Record(XA_MSG_NOTIFY_ACK, [](XA_Message &m) { m.data.ack.command = 240; }), "Ack 240"},
        {Record(XA_MSG_NOTIFY_NACK,
                [](XA_Message &m) {
                    m.data.nack.command = 8;
                    m.data.nack.code = -7;
                }),
         "Nack 8 -7"},
        {Record(XA_MSG_NOTIFY_PONG, [](XA_Message &m) { m.data.pong.tag = 4000000000u; }),
         "Pong 4000000000"},
        {Record(XA_MSG_NOTIFY_EXITED), "Exited"},
        {Record(XA_MSG_NOTIFY_PLAYER_STATE, state), "PlayerState 254"},
        {Record(XA_MSG_NOTIFY_PLAYER_MODE, [](XA_Message &m) { m.data.mode.mode = -2; }),
         "PlayerMode -2"},
        {Record(XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_INTEGER,
                [](XA_Message &m) {
                    m.data.environment_integer = {"volume", -40};
                }),
         "PlayerEnvironmentInteger \"volume\" -40"},
        {Record(XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_STRING,
                [](XA_Message &m) {
                    m.data.environment_string = {"dir", nullptr};
                }),
         "PlayerEnvironmentString \"dir\" \"\""},
        {Record(XA_MSG_NOTIFY_INPUT_STATE, state), "InputState 254"},
        {Record(XA_MSG_NOTIFY_INPUT_NAME, [](XA_Message &m) { m.data.name.name = "/a/b.mp3"; }),
         "InputName \"/a/b.mp3\""},
        {Record(XA_MSG_NOTIFY_INPUT_CAPS, [](XA_Message &m) { m.data.caps.caps = 0x80000001u; }),
         "InputCaps 2147483649"},
        {Record(XA_MSG_NOTIFY_INPUT_POSITION,
                [](XA_Message &m) {
                    m.data.position = {3000000000u, 4000000000u};
                }),
         "InputPosition 3000000000 4000000000"},
        {Record(XA_MSG_NOTIFY_INPUT_POSITION_RANGE,
                [](XA_Message &m) { m.data.position_range.range = -1; }),
         "InputPositionRange -1"},
        {Record(XA_MSG_NOTIFY_INPUT_TIMECODE,
                [](XA_Message &m) {
                    m.data.timecode = {1, 2, 59, 255};
                }),
         "InputTimecode 1 2 59 255"},
        {Record(XA_MSG_NOTIFY_INPUT_TIMECODE_GRANULARITY,
                [](XA_Message &m) { m.data.timecode_granularity.granularity = 100; }),
         "InputTimecodeGranularity 100"},
        {Record(XA_MSG_NOTIFY_INPUT_MODULE, module), "InputModule -3"},
        {Record(XA_MSG_NOTIFY_INPUT_MODULE_INFO, moduleInfo),
         "InputModuleInfo 200 3 \"mpeg\" \"MPEG é\""},
        {Record(XA_MSG_NOTIFY_INPUT_DEVICE_INFO, deviceInfo),
         "InputDeviceInfo 201 2 129 \"dev\" \"\""},
        {Record(XA_MSG_NOTIFY_INPUT_FILTER_INFO, filterInfo), "InputFilterInfo 250 \"echo\""},
        {Record(XA_MSG_NOTIFY_OUTPUT_STATE, state), "OutputState 254"},
        {Record(XA_MSG_NOTIFY_OUTPUT_NAME, [](XA_Message &m) { m.data.name.name = "wav:x"; }),
         "OutputName \"wav:x\""},
        {Record(XA_MSG_NOTIFY_OUTPUT_CAPS, [](XA_Message &m) { m.data.caps.caps = 7; }),
         "OutputCaps 7"},
        {Record(96), ""},
        {Record(97), ""},
        {Record(98), ""},
        {Record(99), ""},
        {Record(XA_MSG_NOTIFY_OUTPUT_VOLUME, volume), "OutputVolume 55 66 77"},
        {Record(XA_MSG_NOTIFY_OUTPUT_BALANCE, volume), "OutputBalance 77"},
        {Record(XA_MSG_NOTIFY_OUTPUT_PCM_LEVEL, volume), "OutputPcmLevel 66"},
        {Record(XA_MSG_NOTIFY_OUTPUT_MASTER_LEVEL, volume), "OutputMasterLevel 55"},
        {Record(XA_MSG_NOTIFY_OUTPUT_CHANNELS, [](XA_Message &m) { m.data.channels.channels = 2; }),
         "OutputChannels 2"},
        {Record(XA_MSG_NOTIFY_OUTPUT_PORTS, [](XA_Message &m) { m.data.ports.ports = 0x83; }),
         "OutputPorts 131"},
        {Record(XA_MSG_NOTIFY_OUTPUT_MODULE, module), "OutputModule -3"},
        {Record(XA_MSG_NOTIFY_OUTPUT_MODULE_INFO, moduleInfo),
         "OutputModuleInfo 200 3 \"mpeg\" \"MPEG é\""},
        {Record(XA_MSG_NOTIFY_OUTPUT_DEVICE_INFO, deviceInfo),
         "OutputDeviceInfo 201 2 129 \"dev\" \"\""},
        {Record(XA_MSG_NOTIFY_OUTPUT_FILTER_INFO, filterInfo), "OutputFilterInfo 250 \"echo\""},
        {Record(XA_MSG_NOTIFY_STREAM_MIME_TYPE,
                [](XA_Message &m) { m.data.name.name = "audio/mpeg"; }),
         "StreamMimeType \"audio/mpeg\""},
        {Record(XA_MSG_NOTIFY_STREAM_DURATION,
                [](XA_Message &m) { m.data.duration.duration = 3725; }),
         "StreamDuration 3725"},
        {Record(XA_MSG_NOTIFY_STREAM_PARAMETERS,
                [](XA_Message &m) {
                    m.data.stream_parameters = {44100, -1, 3};
                }),
         "StreamParameters 44100 -1 3"},
        {Record(XA_MSG_NOTIFY_STREAM_PROPERTIES,
                [](XA_Message &m) {
                    m.data.stream_properties = {2, Properties};
                }),
         "StreamProperties 2 year:1999 title:Song"},
        {Record(XA_MSG_NOTIFY_CODEC_QUALITY, [](XA_Message &m) { m.data.quality.quality = 129; }),
         "CodecQuality 129"},
        {Record(XA_MSG_NOTIFY_CODEC_EQUALIZER,
                [](XA_Message &m) { m.data.equalizer.equalizer = &Equalizer; }),
         "CodecEqualizer 5 -6"},
        {Record(XA_MSG_NOTIFY_CODEC_MODULE, module), "CodecModule -3"},
        {Record(XA_MSG_NOTIFY_CODEC_MODULE_INFO, moduleInfo),
         "CodecModuleInfo 200 3 \"mpeg\" \"MPEG é\""},
        {Record(XA_MSG_NOTIFY_CODEC_DEVICE_INFO, deviceInfo),
         "CodecDeviceInfo 201 2 129 \"dev\" \"\""},
        {Record(XA_MSG_NOTIFY_NOTIFICATION_MASK,
                [](XA_Message &m) { m.data.notification_mask.mask = 0xFFFFFFFFu; }),
         "NotificationMask 4294967295"},
        {Record(XA_MSG_NOTIFY_DEBUG_LEVEL, [](XA_Message &m) { m.data.debug_level.level = 9; }),
         "DebugLevel 9"},
        {Record(XA_MSG_NOTIFY_PROGRESS,
                [](XA_Message &m) {
                    m.data.progress = {1, 200, -300, "half"};
                }),
         "Progress 1 200 -300 \"half\""},
        {Record(XA_MSG_NOTIFY_DEBUG,
                [](XA_Message &m) {
                    m.data.debug = {2, 250, "dbg"};
                }),
         "Debug 2 250 \"dbg\""},
        {Record(XA_MSG_NOTIFY_ERROR,
                [](XA_Message &m) {
                    m.data.error = {3, 0, -9, "cannot decode"};
                }),
         "Error 3 -9 \"cannot decode\""},
        {Record(72), ""},
        {Record(124), ""},
        {Record(-1), ""},
    };

    QStringList fired;
    RecordEveryEvent(*player, fired);
    for (const DispatchCase &c : cases) {
        SCOPED_TRACE(c.Msg.code);
        fired.clear();
        Deliver(c.Msg);
        QStringList expected = {"Message " + QString::number(c.Msg.code)};
        if (!c.Expected.isEmpty())
            expected << c.Expected;
        EXPECT_EQ(fired, expected);
    }
}

// "No equalizer" comes as a null record; the handler still gets one to refer to.
TEST_F(XaudioDispatchTest, ANullEqualizerArrivesAsAFlatOne) {
    QStringList fired;
    RecordEveryEvent(*player, fired);
    Deliver(Record(XA_MSG_NOTIFY_CODEC_EQUALIZER,
                   [](XA_Message &m) { m.data.equalizer.equalizer = nullptr; }));
    ASSERT_EQ(fired.size(), 2);
    EXPECT_EQ(fired[1], "CodecEqualizer 0 0");
}

TEST_F(XaudioDispatchTest, OnNotifyMessageCanRewriteWhatIsDispatched) {
    QStringList fired;
    RecordEveryEvent(*player, fired);
    player->OnNotifyMessage = [&](TXaudioPlayer &, XA_Message &Msg) {
        fired << "Message";
        Msg.code = XA_MSG_NOTIFY_INPUT_STATE;
        Msg.data.state.state = XA_INPUT_STATE_OPEN;
    };
    Deliver(Record(XA_MSG_NOTIFY_PLAYER_STATE, [](XA_Message &m) { m.data.state.state = 3; }));
    EXPECT_EQ(fired, QStringList({"Message", "InputState 0"}));
}

TEST_F(XaudioDispatchTest, UnassignedEventsAreSkipped) {
    int states = 0;
    player->OnNotifyPlayerState = [&](TXaudioPlayer &, int32_t) { ++states; };
    Deliver(Record(XA_MSG_NOTIFY_INPUT_NAME, [](XA_Message &m) { m.data.name.name = "x"; }));
    Deliver(Record(XA_MSG_NOTIFY_PLAYER_STATE, [](XA_Message &m) { m.data.state.state = 1; }));
    EXPECT_EQ(states, 1);
}

// The library posts from its own threads; the events run on the component's thread, in the
// order posted.
TEST_F(XaudioDispatchTest, PostsFromOtherThreadsArriveInOrderOnTheComponentsThread) {
    QList<uint32_t> offsets;
    bool otherThread = false;
    player->OnNotifyInputPosition = [&](TXaudioPlayer &, uint32_t Offset, uint32_t) {
        offsets << Offset;
        otherThread |= QThread::currentThread() != player->thread();
    };
    for (uint32_t i = 1; i <= 20; ++i) {
        ASSERT_TRUE(fake.Post(Record(XA_MSG_NOTIFY_INPUT_POSITION,
                                     [i](XA_Message &m) {
                                         m.data.position = {i, 20};
                                     }),
                              true));
    }
    EXPECT_TRUE(offsets.isEmpty());
    DeliverPosted();
    QList<uint32_t> expected;
    for (uint32_t i = 1; i <= 20; ++i)
        expected << i;
    EXPECT_EQ(offsets, expected);
    EXPECT_FALSE(otherThread);
}

TEST_F(XaudioDispatchTest, HandlersMayCallCommands) {
    player->OnNotifyInputState = [](TXaudioPlayer &Sender, int32_t State) {
        if (State == XA_INPUT_STATE_OPEN)
            Sender.Play();
    };
    Deliver(Record(XA_MSG_NOTIFY_INPUT_STATE,
                   [](XA_Message &m) { m.data.state.state = XA_INPUT_STATE_OPEN; }));
    EXPECT_EQ(fake.LastCall(), "control_message_send_N player 4");
}

TEST_F(XaudioDispatchTest, NotificationsStillQueuedWhenTheComponentGoesAreDropped) {
    bool fired = false;
    player->OnNotifyPlayerState = [&](TXaudioPlayer &, int32_t) { fired = true; };
    ASSERT_TRUE(fake.Post(Record(XA_MSG_NOTIFY_PLAYER_STATE), true));
    player.reset();
    DeliverPosted();
    EXPECT_FALSE(fired);
    EXPECT_EQ(fake.LastCall(), "player_delete player");
}

TEST(XaudioDispatchBeforeInit, MessagesToTheWindowFireNothingAndLoadNothing) {
    FakeXaudio fake;
    fake.Reset();
    TXaudioPlayer player;
    player.XaudioPath = FakeXaudioPath;
    QStringList fired;
    RecordEveryEvent(player, fired);

    const XA_NotifyTarget *window = player.WindowHandle();
    ASSERT_NE(window, nullptr);
    window->post(window->context, XA_NOTIFY_MESSAGE_BASE + 1, 1, 0);
    window->post(window->context, 0x0100, 0, 0);
    DeliverPosted();

    EXPECT_TRUE(fired.isEmpty()) << fired.join(", ").toStdString();
    EXPECT_TRUE(fake.Calls().isEmpty()) << fake.Calls().join('\n').toStdString();
    EXPECT_EQ(player.GetVersion(XA_VERSION_ID_API), 0);
}
