#include "core/xaudiolib/XaudioBench.h"

using namespace xaudiotest;

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

// The niceness of every thread of this process.
std::vector<int> ThreadNiceness() {
    std::vector<int> values;
    for (const QString &task :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = testmedia::ReadFile("/proc/self/task/" + task + "/stat");
        // After the command name in parentheses: state is field 3, nice field 19.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        values.push_back(fields.value(16).toInt());
    }
    return values;
}

TEST(XaudioInterface, NormalPriorityLeavesThePlayerThreadAsStartedAndLowerOnesNiceIt) {
    Receiver receiver;
    const XA_NotifyTarget target = receiver.target();
    XA_Player *player = nullptr;
    ASSERT_EQ(player_new(&player, &target), XA_SUCCESS);
    const std::vector<int> before = ThreadNiceness();
    const int base = *std::max_element(before.begin(), before.end());
    if (base + 8 > 19)
        GTEST_SKIP() << "the tests run too nice to see the player's thread niced further";

    ASSERT_EQ(player_set_priority(player, XA_PRIORITY_NORMAL), XA_SUCCESS);
    std::vector<int> now = ThreadNiceness();
    EXPECT_EQ(*std::max_element(now.begin(), now.end()), base);
    ASSERT_EQ(player_set_priority(player, XA_PRIORITY_LOWEST), XA_SUCCESS);
    now = ThreadNiceness();
    EXPECT_EQ(std::count(now.begin(), now.end(), base + 8), 1);
    ASSERT_EQ(player_delete(player), XA_SUCCESS);
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
    // A codec that neither our WAV reader nor libsndfile knows.
    testmedia::WriteFile(dir.filePath("codec.wav"),
                         testmedia::WavHeader(2, 44100, 16, 6000, 0x1234) + QByteArray(6000, 1));
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
        {"empty.mp3", XA_ERROR_UNSUPPORTED_INPUT},    {"codec.wav", XA_ERROR_UNSUPPORTED_INPUT},
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
