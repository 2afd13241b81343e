#include "app/FileLists.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "encoder/LameCoder.h"
#include "gui/conversion/ModalDriver.h"
#include "player/PlayerForm.h"
#include "player/Slider.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/TestMedia.h"
#include "xaudio/XaudioPlayer.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

using namespace testmedia;

namespace {

constexpr int Rate = 22050;

// Mono noise that is never silent (every sample is at least 1000 away from zero) and never
// repeats, so that any stretch of what the sound output played can be found in the file it
// came from, and silence in the recording is silence the player made.
std::vector<int16_t> Noise(int Frames, uint32_t Seed) {
    std::vector<int16_t> Samples(static_cast<size_t>(Frames));
    uint32_t State = Seed * 2654435761u + 1;
    for (int16_t &Sample : Samples) {
        State = State * 1664525u + 1013904223u;
        const int Magnitude = 1000 + int(State >> 8) % 9000;
        Sample = int16_t((State & 0x80000000u) != 0 ? -Magnitude : Magnitude);
    }
    return Samples;
}

void WriteNoiseWav(const QString &Path, const std::vector<int16_t> &Samples) {
    QByteArray Bytes = WavHeader(1, Rate, 16, quint32(Samples.size() * 2));
    Bytes.append(reinterpret_cast<const char *>(Samples.data()), qsizetype(Samples.size() * 2));
    WriteFile(Path, Bytes);
}

// An ID3v1 tag: 3 + 30 + 30 + 30 + 4 + 30 + 1 bytes.
QByteArray Id3v1(const QByteArray &Title, const QByteArray &Artist) {
    QByteArray Tag("TAG");
    for (const QByteArray &Field : {Title, Artist, QByteArray(), QByteArray("2026"), QByteArray()})
        Tag += Field.leftJustified(Field == "2026" ? 4 : 30, '\0', true);
    Tag += char(12);
    return Tag;
}

// Where Needle stands in Haystack, or -1.
qsizetype Find(const std::vector<int16_t> &Haystack, const std::vector<int16_t> &Needle) {
    const auto At = std::search(Haystack.begin(), Haystack.end(), Needle.begin(), Needle.end());
    return At == Haystack.end() ? -1 : qsizetype(At - Haystack.begin());
}

class PlayerFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        RedirectSettings(Dir.path());
        // Each test records into its own file: ctest may run tests side by side.
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(Dir.filePath("output.raw")));
        Window.resize(600, 300);
        Lists = new TFileLists(
            Wave, MP3, [this] { return ConvertType; }, &Window);
        Form = std::make_unique<TPlayerForm>();
        Form->SetCurrentList([this] { return Lists->CurrentList(); });
    }
    void TearDown() override {
        Form.reset();
        qputenv("SDL_AUDIODRIVER", "dummy");
    }

    QString NoiseFile(const QString &Name, double Seconds, uint32_t Seed) {
        Sources[Name] = Noise(int(Seconds * Rate), Seed);
        WriteNoiseWav(Dir.filePath(Name), Sources[Name]);
        return Dir.filePath(Name);
    }
    const std::vector<int16_t> &Source(const QString &Name) { return Sources[Name]; }

    QString Mp3File(const QString &Name, const QByteArray &Tag) {
        const QString Wav = Dir.filePath(Name + ".wav");
        WriteSineWav(Wav, 2, 44100, 1.5, 440);
        TLameCoder Coder;
        Coder.SetInputFiles({Wav});
        Coder.SetOutputFiles({Dir.filePath(Name)});
        Coder.Encode();
        QFile File(Dir.filePath(Name));
        EXPECT_TRUE(File.open(QIODevice::Append));
        File.write(Tag);
        return Dir.filePath(Name);
    }

    // Runs the event loop until Done holds or TimeoutMs pass; true when it held.
    static bool WaitFor(const std::function<bool()> &Done, int TimeoutMs = 5000) {
        QElapsedTimer Clock;
        Clock.start();
        while (!Done()) {
            if (Clock.elapsed() > TimeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(2);
        }
        return true;
    }
    static void Pump(int Ms) {
        WaitFor([] { return false; }, Ms);
    }
    // Waits until the sound output has played Seconds more, silence included: the device's
    // own clock, which a busy machine slows down along with the playing.
    void PlayFor(double Seconds) {
        const size_t Target = Recorded().size() + size_t(Seconds * Rate);
        EXPECT_TRUE(WaitFor([&] { return Recorded().size() >= Target; }));
    }

    // Everything the sound output has played so far.
    std::vector<int16_t> Recorded() const {
        const QByteArray Raw = ReadFile(Dir.filePath("output.raw"));
        std::vector<int16_t> Samples(size_t(Raw.size() / 2));
        if (!Samples.empty())
            std::memcpy(Samples.data(), Raw.constData(), Samples.size() * 2);
        return Samples;
    }
    // What was played apart from silence.
    static std::vector<int16_t> Audible(const std::vector<int16_t> &Samples) {
        std::vector<int16_t> Result;
        std::copy_if(Samples.begin(), Samples.end(), std::back_inserter(Result),
                     [](int16_t S) { return S != 0; });
        return Result;
    }
    std::vector<int16_t> Audible() const { return Audible(Recorded()); }

    QString Caption() const { return Form->windowTitle(); }
    QString Text(const char *Name) const {
        auto *Label = Form->findChild<QLabel *>(QString::fromLatin1(Name));
        EXPECT_NE(Label, nullptr) << Name;
        return Label != nullptr ? Label->text() : QString();
    }
    template <typename T = QWidget> T *Control(const char *Name) const {
        T *Child = Form->findChild<T *>(QString::fromLatin1(Name));
        EXPECT_NE(Child, nullptr) << Name;
        return Child;
    }

    void Mouse(QWidget *Target, QEvent::Type Type, QPoint At) {
        const Qt::MouseButton Button = Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons Held =
            Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent Event(Type, QPointF(At), Target->mapToGlobal(QPointF(At)), Button, Held,
                          Qt::NoModifier);
        QApplication::sendEvent(Target, &Event);
    }
    void Click(const char *Name) {
        QWidget *Target = Control(Name);
        const QPoint Middle = Target->rect().center();
        Mouse(Target, QEvent::MouseButtonPress, Middle);
        Mouse(Target, QEvent::MouseButtonRelease, Middle);
    }
    // Drags a slider's thumb by Pixels along the track.
    void Drag(TSlider *Slider, int Pixels) {
        const QPoint Start = Slider->ThumbRect().center();
        Mouse(Slider, QEvent::MouseButtonPress, Start);
        Mouse(Slider, QEvent::MouseMove, Start + QPoint(Pixels, 0));
        Mouse(Slider, QEvent::MouseButtonRelease, Start + QPoint(Pixels, 0));
    }

    // Key presses as the window receives them: at the focused control, handed up from there.
    void Key(int Code) {
        QWidget *Target = QApplication::focusWidget() != nullptr
                              ? QApplication::focusWidget()
                              : static_cast<QWidget *>(Form.get());
        QKeyEvent Press(QEvent::KeyPress, Code, Qt::NoModifier);
        QApplication::sendEvent(Target, &Press);
        QKeyEvent Release(QEvent::KeyRelease, Code, Qt::NoModifier);
        QApplication::sendEvent(Target, &Release);
    }
    // Shows the window as the active one, so that its controls can take the focus.
    void ShowActive() {
        Form->show();
        QApplication::setActiveWindow(Form.get());
        ASSERT_TRUE(WaitFor([this] { return Form->isActiveWindow(); }));
    }
    // Where the sound played last comes from in the file Name, in seconds; -1 when nowhere.
    double HeardAt(const QString &Name) {
        const std::vector<int16_t> All = Audible();
        if (All.size() < 1000)
            return -1;
        const qsizetype At = Find(Source(Name), std::vector<int16_t>(All.end() - 1000, All.end()));
        return At < 0 ? -1 : double(At) / Rate;
    }

    void Add(const QStringList &Paths) { Lists->AddFiles(Paths); }
    // Shows the window as the Play command does (without a modal loop, so the test drives
    // it) and waits until the file plays.
    void ShowAndPlay() {
        Form->show();
        ASSERT_TRUE(WaitFor([this] { return Caption() == "Playing..."; }));
    }
    bool WaitForAudible(size_t Samples) {
        return WaitFor([&] { return Audible().size() >= Samples; });
    }
    // The end of a stream is reported when the sound device has taken the last samples; the
    // recording has them a device buffer later.
    ::testing::AssertionResult PlayedExactly(const std::vector<int16_t> &Expected) {
        WaitFor([&] { return Audible().size() >= Expected.size(); }, 2000);
        const std::vector<int16_t> Heard = Audible();
        if (Heard == Expected)
            return ::testing::AssertionSuccess();
        const auto Diverge =
            std::mismatch(Heard.begin(), Heard.end(), Expected.begin(), Expected.end());
        return ::testing::AssertionFailure()
               << "played " << Heard.size() << " samples, expected " << Expected.size()
               << "; they differ from sample " << (Diverge.first - Heard.begin());
    }

    QTemporaryDir Dir;
    ScriptedDialogs Dialogs;
    QWidget Window;
    TFileListView *Wave = new TFileListView(lkWave, &Window);
    TFileListView *MP3 = new TFileListView(lkMpeg, &Window);
    int ConvertType = 0;
    TFileLists *Lists = nullptr;
    std::unique_ptr<TPlayerForm> Form;
    std::map<QString, std::vector<int16_t>> Sources;
};

} // namespace

// --- The window ---------------------------------------------------------------------------

TEST_F(PlayerFormTest, ControlsSitWhereTheLayoutPutsThem) {
    EXPECT_EQ(Form->size(), QSize(483, 151));
    EXPECT_TRUE(Caption().isEmpty());
    const struct {
        const char *Name;
        QRect Geometry;
        const char *Hint;
    } Expected[] = {
        {"Image1", {8, 8, 54, 54}, nullptr},
        {"Image2", {64, 8, 391, 93}, nullptr},
        {"SongInfoText", {87, 24, 345, 19}, nullptr},
        {"TimecodeText", {86, 48, 68, 21}, nullptr},
        {"DurationText", {170, 48, 68, 21}, nullptr},
        {"StreamParametersText", {88, 66, 183, 19}, nullptr},
        {"ImagePlay", {14, 112, 22, 23}, "Play"},
        {"ImagePause", {41, 112, 22, 23}, "Pause"},
        {"ImageStop", {68, 112, 22, 23}, "Stop"},
        {"ImagePrev", {104, 112, 22, 22}, "Previous"},
        {"Slider", {136, 116, 176, 15}, nullptr},
        {"ImageNext", {320, 112, 22, 22}, "Next"},
        {"ImageMute", {360, 112, 23, 23}, "Mute"},
        {"Slider2", {392, 116, 70, 15}, nullptr},
        {"ImageClick", {458, 2, 19, 19}, "Close"},
        {"TrackImage", {136, 116, 176, 15}, nullptr},
        {"TrackImage2", {392, 116, 70, 15}, nullptr},
    };
    for (const auto &E : Expected) {
        QWidget *W = Control(E.Name);
        ASSERT_NE(W, nullptr);
        EXPECT_EQ(W->geometry(), E.Geometry) << E.Name;
        if (E.Hint != nullptr) {
            EXPECT_EQ(W->toolTip(), E.Hint) << E.Name;
            EXPECT_EQ(W->cursor().shape(), Qt::PointingHandCursor) << E.Name;
        }
    }
    for (const char *Skin : {"ThumbNormalImage", "ThumbHighlightedImage", "ThumbClickedImage"})
        EXPECT_EQ(Control<QLabel>(Skin)->pixmap().size(), QSize(14, 15)) << Skin;
    for (const char *Skin : {"ImageSoundOn", "ImageSoundOff"})
        EXPECT_EQ(Control<QLabel>(Skin)->pixmap().size(), QSize(23, 23)) << Skin;
    EXPECT_EQ(Text("TimecodeText"), "00:00:00");
    EXPECT_EQ(Text("Label1"), "/");
    EXPECT_EQ(Text("DurationText"), "00:00:00");
    EXPECT_EQ(Form->SeekSlider()->Maximum(), 400);
    EXPECT_EQ(Form->VolumeSlider()->Maximum(), 100);
    QStringList Actions;
    for (const char *Name : {"actPlay", "actPause", "actStop", "actPrev", "actNext"})
        Actions << Control<QAction>(Name)->text();
    EXPECT_EQ(Actions, QStringList({"Play", "Pause", "Stop", "Previous", "Next"}));
}

TEST_F(PlayerFormTest, TheDisplayFormatsWhatTheLibraryReports) {
    Form->XaudioPlayerNotifyStreamDuration(3725);
    EXPECT_EQ(Text("DurationText"), "01:02:05");
    Form->XaudioPlayerNotifyInputTimecode(1, 2, 3);
    EXPECT_EQ(Text("TimecodeText"), "01:02:03");
    Form->XaudioPlayerNotifyInputTimecode(0, 59, 0);
    EXPECT_EQ(Text("TimecodeText"), "00:59:00");
    Form->XaudioPlayerNotifyStreamParameters(44100, 128, 1);
    EXPECT_EQ(Text("StreamParametersText"), "44100 Hz, Joint Stereo, 128 Kbps");
    EXPECT_EQ(TPlayerForm::StreamParameters(8000, 8, 3), "8000 Hz, Mono, 8 Kbps");
    EXPECT_EQ(TPlayerForm::StreamParameters(32000, 64, 2), "32000 Hz, Dual Channel, 64 Kbps");
    EXPECT_EQ(TPlayerForm::StreamParameters(48000, 320, 0), "48000 Hz, Stereo, 320 Kbps");
    EXPECT_EQ(TPlayerForm::StreamParameters(48000, 320, 4), "48000 Hz, , 320 Kbps");

    Form->XaudioPlayerNotifyInputPosition(200, 400);
    EXPECT_EQ(Form->SeekSlider()->Position(), 200);
    Form->XaudioPlayerNotifyInputPosition(1, 3);
    EXPECT_EQ(Form->SeekSlider()->Position(), 133);
    Form->XaudioPlayerNotifyInputPosition(5, 0);
    EXPECT_EQ(Form->SeekSlider()->Position(), 0);
    Form->XaudioPlayerNotifyInputPosition(4000000000u, 4000000000u);
    EXPECT_EQ(Form->SeekSlider()->Position(), 400) << "no overflow on a long range";
    Form->XaudioPlayerNotifyOutputMasterLevel(150);
    EXPECT_EQ(Form->VolumeSlider()->Position(), 100);
    Form->XaudioPlayerNotifyOutputVolume(35);
    EXPECT_EQ(Form->VolumeSlider()->Position(), 35);
}

TEST_F(PlayerFormTest, PositionsAreIgnoredWhileAButtonIsDownOnEitherSlider) {
    for (TSlider *Slider : {Form->SeekSlider(), Form->VolumeSlider()}) {
        Form->XaudioPlayerNotifyInputPosition(0, 400);
        // The right button drags nothing, but it still counts as a button down.
        QMouseEvent Press(QEvent::MouseButtonPress, QPointF(30, 7), QPointF(30, 7), Qt::RightButton,
                          Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(Slider, &Press);
        EXPECT_TRUE(Form->Dragging());
        Form->XaudioPlayerNotifyInputPosition(200, 400);
        EXPECT_EQ(Form->SeekSlider()->Position(), 0);
        QMouseEvent Release(QEvent::MouseButtonRelease, QPointF(30, 7), QPointF(30, 7),
                            Qt::RightButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(Slider, &Release);
        EXPECT_FALSE(Form->Dragging());
        Form->XaudioPlayerNotifyInputPosition(200, 400);
        EXPECT_EQ(Form->SeekSlider()->Position(), 200);
    }
}

TEST_F(PlayerFormTest, TheSongLineShowsTitleAndArtistOfMpegFilesAndTheNameOfOthers) {
    TFileParam Record;
    Record.FileName = "song.mp3";
    Record.Kind = fkMpeg;
    EXPECT_EQ(TPlayerForm::SongInfo(Record), "song.mp3") << "no tag";
    Record.MpegData.Title = QString(" Title ");
    EXPECT_EQ(TPlayerForm::SongInfo(Record), " Title ") << "shown as stored";
    Record.MpegData.Artist = QString("\t  ");
    EXPECT_EQ(TPlayerForm::SongInfo(Record), " Title ") << "a blank artist counts as none";
    Record.MpegData.Artist = QString("Artist");
    EXPECT_EQ(TPlayerForm::SongInfo(Record), " Title  - Artist");
    Record.MpegData.Title = QString(" \x01 ");
    EXPECT_EQ(TPlayerForm::SongInfo(Record), "song.mp3") << "control characters are blank";
    Record.MpegData.Title = QString("Title");
    Record.Kind = fkWave;
    EXPECT_EQ(TPlayerForm::SongInfo(Record), "song.mp3");
    Record.Kind = fkUnreadable;
    EXPECT_EQ(TPlayerForm::SongInfo(Record), "song.mp3");
}

// --- Playing ------------------------------------------------------------------------------

TEST_F(PlayerFormTest, PlayingAWavFilePutsExactlyItsSamplesOnTheSoundOutput) {
    Add({NoiseFile("a.wav", 0.6, 1)});
    ShowAndPlay();
    EXPECT_EQ(Form->PlayState(), 1);
    EXPECT_EQ(Text("SongInfoText"), "a.wav");
    EXPECT_EQ(Text("StreamParametersText"), "22050 Hz, Mono, 353 Kbps");
    EXPECT_EQ(Text("DurationText"), "00:00:01"); // 0.6 s, rounded
    // The library reports its level at start; the volume thumb shows it.
    EXPECT_TRUE(WaitFor([this] { return Form->VolumeSlider()->Position() == 100; }));

    ASSERT_TRUE(WaitFor([this] { return Caption() == "Eof"; }));
    EXPECT_EQ(Form->PlayState(), 0);
    EXPECT_TRUE(PlayedExactly(Source("a.wav")));
    // The end of the last file goes back to its start.
    EXPECT_TRUE(WaitFor([this] { return Form->SeekSlider()->Position() == 0; }));
    // Pause does nothing at the end of the list.
    Click("ImagePause");
    Pump(200);
    EXPECT_EQ(Caption(), "Eof");
}

TEST_F(PlayerFormTest, PauseHoldsTheSoundAndResumesWhereItStopped) {
    Add({NoiseFile("a.wav", 1.5, 2)});
    ShowAndPlay();
    ASSERT_TRUE(WaitForAudible(Rate / 5));
    Click("ImagePause");
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Paused"; }));
    EXPECT_EQ(Form->PlayState(), 2);
    PlayFor(0.1); // the device buffer under way when the pause came
    const size_t Held = Audible().size();
    PlayFor(0.4); // the output itself keeps running
    EXPECT_EQ(Audible().size(), Held) << "nothing audible while paused";
    EXPECT_LT(Held, Source("a.wav").size());

    Click("ImagePause");
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Playing..."; }));
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Eof"; }));
    // Nothing lost and nothing repeated across the pause.
    EXPECT_TRUE(PlayedExactly(Source("a.wav")));
}

TEST_F(PlayerFormTest, StopSilencesTheOutputAndPlayStartsTheSelectedFileAgain) {
    Add({NoiseFile("a.wav", 2.0, 3)});
    ShowAndPlay();
    ASSERT_TRUE(WaitForAudible(Rate / 4));
    Click("ImageStop");
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Stopped"; }));
    EXPECT_EQ(Form->PlayState(), 3);
    PlayFor(0.1);
    const size_t Heard = Audible().size();
    PlayFor(0.3);
    EXPECT_EQ(Audible().size(), Heard);
    EXPECT_TRUE(WaitFor([this] { return Form->SeekSlider()->Position() == 0; }));
    Click("ImagePause");
    Pump(200);
    EXPECT_EQ(Caption(), "Stopped") << "pause does nothing after stop";

    Click("ImagePlay");
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Playing..."; }));
    ASSERT_TRUE(WaitForAudible(Heard + Rate / 10));
    const std::vector<int16_t> Again = Audible();
    const std::vector<int16_t> &Samples = Source("a.wav");
    EXPECT_TRUE(std::equal(Samples.begin(), Samples.begin() + Rate / 10, Again.begin() + Heard))
        << "played from the start";
}

TEST_F(PlayerFormTest, AtTheEndOfAFileTheNextOnePlaysAndTheLastEndsTheList) {
    Add({NoiseFile("one.wav", 0.4, 4), NoiseFile("two.wav", 0.4, 5)});
    QStringList Captions;
    QObject::connect(Form.get(), &QWidget::windowTitleChanged, [&](const QString &Caption) {
        Captions << Caption + " " + Form->Current().FileName;
    });
    ShowAndPlay();
    EXPECT_EQ(Text("SongInfoText"), "one.wav");
    ASSERT_TRUE(WaitFor([this] { return Form->Current().FileName == "two.wav"; }));
    EXPECT_EQ(Form->PlayState(), 1);
    ASSERT_TRUE(WaitFor([&] { return Captions.size() == 4; }));
    EXPECT_EQ(Captions, QStringList({"Playing... one.wav", "Eof one.wav", "Playing... two.wav",
                                     "Eof two.wav"}));
    EXPECT_EQ(Text("SongInfoText"), "two.wav");
    EXPECT_EQ(Form->PlayState(), 0);
    std::vector<int16_t> Both = Source("one.wav");
    Both.insert(Both.end(), Source("two.wav").begin(), Source("two.wav").end());
    EXPECT_TRUE(PlayedExactly(Both));
}

TEST_F(PlayerFormTest, NextAndPreviousWalkTheListWithoutWrappingAndPlayReturnsToTheSelection) {
    Add({NoiseFile("one.wav", 3, 6), NoiseFile("two.wav", 3, 7), NoiseFile("three.wav", 3, 8)});
    Wave->topLevelItem(1)->setSelected(true);
    ShowAndPlay();
    EXPECT_EQ(Form->Current().FileName, "two.wav");
    const auto Playing = [this](const char *Name) {
        return WaitFor([&] { return Text("SongInfoText") == Name && Caption() == "Playing..."; });
    };
    Click("ImageNext");
    EXPECT_TRUE(Playing("three.wav"));
    Click("ImageNext");
    Pump(200);
    EXPECT_EQ(Form->Current().FileName, "three.wav") << "no wrap-around";
    Click("ImagePrev");
    EXPECT_TRUE(Playing("two.wav"));
    Click("ImagePrev");
    EXPECT_TRUE(Playing("one.wav"));
    Click("ImagePrev");
    Pump(200);
    EXPECT_EQ(Form->Current().FileName, "one.wav");
    Click("ImageNext");
    EXPECT_TRUE(Playing("two.wav"));
    Click("ImageNext");
    EXPECT_TRUE(Playing("three.wav"));
    Click("ImagePlay");
    EXPECT_TRUE(Playing("two.wav")) << "Play opens the selected file again";

    // A current file that left the list stops Next and Previous.
    Wave->topLevelItem(1)->setSelected(true);
    Lists->DeleteSelected();
    Click("ImageNext");
    Click("ImagePrev");
    Pump(200);
    EXPECT_EQ(Form->Current().FileName, "two.wav");
}

TEST_F(PlayerFormTest, WithoutASelectionTheTopVisibleRowPlays) {
    QStringList Paths;
    for (int I = 0; I < 40; ++I)
        Paths << NoiseFile(QStringLiteral("n%1.wav").arg(I, 2, 10, QChar('0')), 0.3, 100 + I);
    Add(Paths);
    Window.show();
    Wave->resize(400, 200);
    Wave->scrollToItem(Wave->topLevelItem(20), QAbstractItemView::PositionAtTop);
    const int Top = Wave->indexAt(QPoint(0, 0)).row();
    ASSERT_GT(Top, 0);
    ShowAndPlay();
    EXPECT_EQ(Form->Current().FileName, QStringLiteral("n%1.wav").arg(Top, 2, 10, QChar('0')));
}

// Linux file names are case-sensitive: the player opens the path as it is listed.
TEST_F(PlayerFormTest, PathsAreOpenedAsTheyAreListed) {
    NoiseFile("tone.wav", 0.3, 9);
    Add({NoiseFile("Tone.wav", 0.3, 10)});
    ShowAndPlay();
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Eof"; }));
    EXPECT_TRUE(PlayedExactly(Source("Tone.wav")));
}

TEST_F(PlayerFormTest, DraggingTheSeekThumbPlaysFromThatPlace) {
    Add({NoiseFile("a.wav", 3.0, 11)});
    ShowAndPlay();
    ASSERT_TRUE(WaitForAudible(Rate / 10));
    TSlider *Seek = Form->SeekSlider();
    // Positions arrive, and a drag starts at the thumb wherever it is.
    const int From = Seek->Position();
    ASSERT_LT(From, 100);
    Drag(Seek, 81); // half the travel
    ASSERT_EQ(Seek->Position(), From + 200);
    const size_t Before = Recorded().size();
    PlayFor(0.4);
    const std::vector<int16_t> All = Recorded();
    const std::vector<int16_t> After =
        Audible(std::vector<int16_t>(All.begin() + Before, All.end()));
    ASSERT_GE(After.size(), 2000u);
    // Past what was queued before the seek, the sound comes from the new place.
    const std::vector<int16_t> Tail(After.end() - 1000, After.end());
    const qsizetype At = Find(Source("a.wav"), Tail);
    const qsizetype Target = qsizetype(Source("a.wav").size()) * (From + 200) / 400;
    EXPECT_GE(At, Target);
    EXPECT_LT(At, Target + Rate);
    EXPECT_TRUE(WaitFor([&] { return Seek->Position() > From + 200; }));
    EXPECT_GE(Text("TimecodeText"), "00:00:01");
}

TEST_F(PlayerFormTest, TheVolumeThumbSetsTheLevelWhenReleased) {
    Add({NoiseFile("a.wav", 3.0, 12)});
    ShowAndPlay();
    TSlider *Volume = Form->VolumeSlider();
    ASSERT_TRUE(WaitFor([&] { return Volume->Position() == 100; }));
    Drag(Volume, -28); // (70 - 14) / 2 pixels: half way down
    EXPECT_EQ(Volume->Position(), 50);
    EXPECT_FALSE(Form->Dragging());
    const size_t Before = Recorded().size();
    PlayFor(0.6);
    const std::vector<int16_t> All = Recorded();
    const std::vector<int16_t> Tail(All.end() - std::min<size_t>(All.size() - Before, 4000),
                                    All.end());
    const std::vector<int16_t> Heard = Audible(Tail);
    ASSERT_GE(Heard.size(), 1000u);
    const auto [Low, High] = std::minmax_element(Heard.begin(), Heard.end());
    // The source peaks between 1000 and 9999 either way; at half level, half of that.
    EXPECT_LE(std::max(-int(*Low), int(*High)), 5000);
    EXPECT_GE(std::max(-int(*Low), int(*High)), 2500);
    EXPECT_EQ(Volume->Position(), 50);
}

TEST_F(PlayerFormTest, MuteSilencesTheSoundWhilePlayingGoesOn) {
    Add({NoiseFile("a.wav", 3.0, 13)});
    ShowAndPlay();
    ASSERT_TRUE(WaitForAudible(Rate / 10));
    auto *Mute = Control<TSkinButton>("ImageMute");
    const QImage On = Control<QLabel>("ImageSoundOn")->pixmap().toImage();
    const QImage Off = Control<QLabel>("ImageSoundOff")->pixmap().toImage();
    EXPECT_EQ(Mute->Picture().toImage(), On);

    Click("ImageMute");
    EXPECT_TRUE(Form->Muted());
    EXPECT_EQ(Mute->Picture().toImage(), Off);
    PlayFor(0.4); // what was queued before plays out
    const size_t Heard = Audible().size();
    PlayFor(0.6);
    EXPECT_EQ(Audible().size(), Heard);
    EXPECT_EQ(Caption(), "Playing...");
    EXPECT_GT(Form->SeekSlider()->Position(), 0);

    Click("ImageMute");
    EXPECT_FALSE(Form->Muted());
    EXPECT_EQ(Mute->Picture().toImage(), On);
    ASSERT_TRUE(WaitForAudible(Heard + 1000));
    const std::vector<int16_t> All = Audible();
    const qsizetype At = Find(Source("a.wav"), std::vector<int16_t>(All.end() - 500, All.end()));
    EXPECT_GT(At, qsizetype(Heard) + Rate / 2) << "the muted stretch was played, silently";
}

TEST_F(PlayerFormTest, ClosingStopsAndClosesEverythingAndKeepsTheCurrentFile) {
    Add({NoiseFile("a.wav", 3.0, 14)});
    ShowAndPlay();
    Click("ImageMute");
    ASSERT_TRUE(WaitFor([&] { return Recorded().size() > size_t(Rate / 5); }));
    QKeyEvent Escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(Form.get(), &Escape);
    EXPECT_FALSE(Form->isVisible());
    Pump(300);
    // The sound output is closed: nothing more is written.
    const size_t Written = Recorded().size();
    Pump(300);
    EXPECT_EQ(Recorded().size(), Written);
    EXPECT_EQ(Form->Current().FileName, "a.wav");
    EXPECT_TRUE(Form->Muted());

    // Shown again it starts over with the selected file, still muted.
    ShowAndPlay();
    Click("ImageClick");
    EXPECT_FALSE(Form->isVisible());
}

TEST_F(PlayerFormTest, AWindowClosedBeforeItsStartDelayPlaysNothing) {
    Add({NoiseFile("a.wav", 0.5, 15)});
    Form->show();
    Form->close();
    Pump(900);
    EXPECT_NE(Caption(), "Playing...");
    EXPECT_TRUE(Form->Current().FileName.isEmpty());
}

TEST_F(PlayerFormTest, AnMpegFileShowsItsTitleAndStreamAndPlaysItsTone) {
    ConvertType = 1;
    Lists->CurrentListChanged();
    Add({Mp3File("tagged.mp3", Id3v1("Only A Title", ""))});
    ShowAndPlay();
    EXPECT_EQ(Text("SongInfoText"), "Only A Title");
    EXPECT_EQ(Text("StreamParametersText"), "44100 Hz, Stereo, 128 Kbps");
    EXPECT_EQ(Text("DurationText"), "00:00:02");
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Eof"; }));
    DecodedAudio Heard;
    Heard.ok = true;
    Heard.channels = 2;
    Heard.sampleRate = 44100;
    Heard.samples = Recorded();
    EXPECT_NEAR(DominantFrequency(Heard, 0), 440, 2);
    EXPECT_NEAR(DominantFrequency(Heard, 1), 440, 2);
}

TEST_F(PlayerFormTest, AFileTheLibraryCannotReadSaysSoOnTheDisplay) {
    WriteFile(Dir.filePath("broken.wav"), QByteArray(4000, 'x'));
    Add({Dir.filePath("broken.wav")});
    Form->show();
    ASSERT_TRUE(WaitFor([this] { return !Text("SongInfoText").isEmpty(); }));
    EXPECT_TRUE(Text("SongInfoText").contains("broken.wav")) << Text("SongInfoText").toStdString();
    EXPECT_NE(Caption(), "Playing...");
}

// --- Keyboard and assistive technology ---------------------------------------------------

TEST_F(PlayerFormTest, EveryControlHasANameAndATooltipAndTabWalksThemLeftToRight) {
    ShowActive();
    const QStringList Expected = {"Play", "Pause", "Stop",   "Previous", "Position",
                                  "Next", "Mute",  "Volume", "Close"};
    QStringList Names;
    for (QWidget *W : Form->findChildren<QWidget *>()) {
        if ((W->focusPolicy() & Qt::TabFocus) == 0 || !W->isVisibleTo(Form.get()))
            continue;
        QAccessibleInterface *Access = QAccessible::queryAccessibleInterface(W);
        ASSERT_NE(Access, nullptr) << W->objectName().toStdString();
        const QString Name = Access->text(QAccessible::Name);
        EXPECT_FALSE(Name.isEmpty()) << W->objectName().toStdString();
        EXPECT_EQ(W->toolTip(), Name) << W->objectName().toStdString();
        Names << Name;
    }
    EXPECT_EQ(QSet<QString>(Names.begin(), Names.end()),
              QSet<QString>(Expected.begin(), Expected.end()));

    // The sliders are sliders to assistive technology, with their value and range.
    QAccessibleInterface *Volume = QAccessible::queryAccessibleInterface(Form->VolumeSlider());
    EXPECT_EQ(Volume->role(), QAccessible::Slider);
    QAccessibleValueInterface *Value = Volume->valueInterface();
    ASSERT_NE(Value, nullptr);
    EXPECT_EQ(Value->maximumValue().toInt(), 100);
    Form->XaudioPlayerNotifyOutputMasterLevel(40);
    EXPECT_EQ(Value->currentValue().toInt(), 40);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(Control("ImagePlay"))->role(),
              QAccessible::Button);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(Control("ImageMute"))->state().checkable);

    Control("ImagePlay")->setFocus(Qt::TabFocusReason);
    QStringList Walked;
    for (int I = 0; I < Expected.size(); ++I) {
        Walked << QApplication::focusWidget()->accessibleName();
        Key(Qt::Key_Tab);
    }
    EXPECT_EQ(Walked, Expected);
    EXPECT_EQ(QApplication::focusWidget(), Control("ImagePlay")) << "round again";
}

TEST_F(PlayerFormTest, TheFocusedControlAloneIsDrawnWithAFocusFrame) {
    ShowActive();
    for (const char *Name : {"ImageStop", "Slider2"}) {
        QWidget *W = Control(Name);
        Control("ImageClick")->setFocus(Qt::TabFocusReason);
        const QImage Plain = W->grab().toImage();
        W->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(W->hasFocus());
        EXPECT_NE(W->grab().toImage(), Plain) << Name;
        Control("ImageClick")->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(W->grab().toImage(), Plain) << Name;
    }
}

TEST_F(PlayerFormTest, SpaceAndPlayResumeAPausedFileWhereItPausedWhateverHasTheFocus) {
    Add({NoiseFile("a.wav", 1.5, 20)});
    ShowActive();
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Playing..."; }));
    ASSERT_TRUE(WaitForAudible(Rate / 5));
    // Space is the window's: on a focused button it does not press that button.
    Control("ImageStop")->setFocus(Qt::TabFocusReason);
    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Paused"; }));
    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Playing..."; }));
    ASSERT_TRUE(WaitForAudible(Rate / 2));
    Click("ImagePause");
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Paused"; }));
    Click("ImagePlay");
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Playing..."; }));
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Eof"; }));
    EXPECT_TRUE(PlayedExactly(Source("a.wav"))) << "nothing played twice";

    // Return presses the focused button.
    Control("ImagePlay")->setFocus(Qt::TabFocusReason);
    Key(Qt::Key_Return);
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Playing..."; }));
    Control("ImageStop")->setFocus(Qt::TabFocusReason);
    Key(Qt::Key_Return);
    EXPECT_TRUE(WaitFor([this] { return Caption() == "Stopped"; }));
}

TEST_F(PlayerFormTest, ArrowKeysSeekFiveSecondsAndSetTheVolume) {
    Add({NoiseFile("long.wav", 12, 21)});
    ShowActive();
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Playing..."; }));
    ASSERT_TRUE(WaitForAudible(Rate / 5));
    Control("ImagePlay")->setFocus(Qt::TabFocusReason);
    Key(Qt::Key_Right);
    Key(Qt::Key_Right); // before the library answers: on from the first step
    PlayFor(0.5);
    double At = HeardAt("long.wav");
    EXPECT_GE(At, 10.0);
    EXPECT_LT(At, 11.5);
    EXPECT_TRUE(WaitFor([this] { return Text("TimecodeText") >= "00:00:10"; }));
    Key(Qt::Key_Left);
    PlayFor(0.5);
    At = HeardAt("long.wav");
    EXPECT_GE(At, 5.0);
    EXPECT_LT(At, 7.0);

    // Up and Down step the volume, and the library takes it.
    TSlider *Volume = Form->VolumeSlider();
    ASSERT_TRUE(WaitFor([&] { return Volume->Position() == 100; }));
    Key(Qt::Key_Down);
    Key(Qt::Key_Down);
    Key(Qt::Key_Up);
    EXPECT_EQ(Volume->Position(), 95);
    // On the focused volume slider, Left and Right are the volume's too.
    Volume->setFocus(Qt::TabFocusReason);
    Key(Qt::Key_Left);
    EXPECT_EQ(Volume->Position(), 90);
    Volume->SetPosition(0);
    Form->Player().GetOutputVolume();
    EXPECT_TRUE(WaitFor([&] { return Volume->Position() == 90; }));
    EXPECT_TRUE(WaitFor([this] { return Text("TimecodeText") < "00:00:08"; }))
        << "Left on the volume slider did not seek";
}

TEST_F(PlayerFormTest, MNAndPMuteAndWalkTheList) {
    Add({NoiseFile("one.wav", 3, 22), NoiseFile("two.wav", 3, 23)});
    ShowActive();
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Playing..."; }));
    Key(Qt::Key_M);
    EXPECT_TRUE(Form->Muted());
    EXPECT_TRUE(Control<TSkinButton>("ImageMute")->isChecked());
    Key(Qt::Key_M);
    EXPECT_FALSE(Form->Muted());
    EXPECT_FALSE(Control<TSkinButton>("ImageMute")->isChecked());
    Key(Qt::Key_N);
    EXPECT_TRUE(WaitFor([this] { return Text("SongInfoText") == "two.wav"; }));
    Key(Qt::Key_P);
    EXPECT_TRUE(WaitFor([this] { return Text("SongInfoText") == "one.wav"; }));
}

// --- Mouse, formats and the display -------------------------------------------------------

TEST_F(PlayerFormTest, APressOnTheSeekTrackPlaysFromThere) {
    Add({NoiseFile("a.wav", 4.0, 24)});
    ShowAndPlay();
    ASSERT_TRUE(WaitForAudible(Rate / 10));
    TSlider *Seek = Form->SeekSlider();
    ASSERT_LT(Seek->ThumbRect().right(), 70);
    // Half way: the thumb's middle at 7 + 162 / 2.
    const QPoint At(7 + 81, 7);
    Mouse(Seek, QEvent::MouseButtonPress, At);
    Mouse(Seek, QEvent::MouseButtonRelease, At);
    EXPECT_EQ(Seek->Position(), 200);
    PlayFor(0.4);
    const double Heard = HeardAt("a.wav");
    EXPECT_GE(Heard, 2.0);
    EXPECT_LT(Heard, 2.8);
}

TEST_F(PlayerFormTest, TwentyFourBitAndFloatingPointWavFilesPlayTheirSamples) {
    // 16-bit noise widened without loss, so that the sound output must give it back exactly.
    const std::vector<int16_t> Samples = Noise(Rate / 2, 25);
    QByteArray Wide;
    QByteArray Float;
    for (int16_t S : Samples) {
        const int32_t V = int32_t(S) * 256;
        Wide.append(reinterpret_cast<const char *>(&V), 3);
        const float F = float(S) / 32768.0f;
        Float.append(reinterpret_cast<const char *>(&F), 4);
    }
    WriteFile(Dir.filePath("wide.wav"),
              RiffWave(WavFmtChunk(16, 1, 1, Rate, 24) + WavChunk("data", Wide)));
    WriteFile(Dir.filePath("float.wav"),
              RiffWave(WavFmtChunk(40, 3, 1, Rate, 32) + WavChunk("data", Float)));
    Add({Dir.filePath("wide.wav"), Dir.filePath("float.wav")});
    ShowAndPlay();
    EXPECT_EQ(Text("StreamParametersText"), "22050 Hz, Mono, 529 Kbps");
    ASSERT_TRUE(WaitFor([this] { return Form->Current().FileName == "float.wav"; }));
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Eof" && Form->PlayState() == 0; }));
    std::vector<int16_t> Twice = Samples;
    Twice.insert(Twice.end(), Samples.begin(), Samples.end());
    EXPECT_TRUE(PlayedExactly(Twice));
}

TEST_F(PlayerFormTest, ANewFileClearsThePreviousDetailsAndAnErrorIsShownWhole) {
    WriteFile(Dir.filePath("broken.wav"), QByteArray(4000, 'x'));
    Add({NoiseFile("a.wav", 3.0, 26), Dir.filePath("broken.wav")});
    ShowAndPlay();
    ASSERT_TRUE(WaitFor([this] { return Text("TimecodeText") >= "00:00:01"; }));
    ASSERT_EQ(Text("DurationText"), "00:00:03");
    Click("ImageNext");
    auto *Song = Control<TStaticText>("SongInfoText");
    ASSERT_TRUE(WaitFor([&] { return Song->text().contains("broken.wav"); }));
    Pump(300);
    EXPECT_EQ(Text("DurationText"), "00:00:00");
    EXPECT_EQ(Text("TimecodeText"), "00:00:00");
    EXPECT_EQ(Text("StreamParametersText"), "");
    EXPECT_EQ(Form->SeekSlider()->Position(), 0);
    // The line names the file; the whole message, path and reason, is its tooltip and what
    // assistive technology reads.
    EXPECT_FALSE(Song->text().contains(Dir.path()));
    EXPECT_TRUE(Song->toolTip().contains(Dir.filePath("broken.wav")))
        << Song->toolTip().toStdString();
    EXPECT_TRUE(Song->toolTip().startsWith(Song->text().left(10)));
    EXPECT_EQ(Song->accessibleDescription(), Song->toolTip());

    // A song line too long for the display keeps its whole text as a tooltip.
    Click("ImagePrev");
    ASSERT_TRUE(WaitFor([&] { return Song->text() == "a.wav"; }));
    EXPECT_TRUE(Song->toolTip().isEmpty());
    EXPECT_TRUE(Song->accessibleDescription().isEmpty());
    const QString Long = QString("A Title That Goes On ").repeated(6);
    Song->SetText(Long);
    EXPECT_TRUE(Song->Elided());
    EXPECT_EQ(Song->toolTip(), Long);
}

TEST_F(PlayerFormTest, TheWindowComesBackWhereItWasLeft) {
    Form->show();
    const QPoint Place = Form->screen()->availableGeometry().topLeft() + QPoint(140, 90);
    Form->move(Place);
    Form->close();
    // A new window takes the place from the settings.
    Form = std::make_unique<TPlayerForm>();
    Form->show();
    EXPECT_EQ(Form->pos(), Place);
    EXPECT_EQ(Form->size(), QSize(483, 151));
}

// --- Skins ----------------------------------------------------------------------------------

TEST_F(PlayerFormTest, ADarkPaletteGetsTheDarkSkinAndALightOneTheLightSkinBack) {
    const QPalette Before = QApplication::palette();
    const QImage LightPlay = Control<TSkinButton>("ImagePlay")->Picture().toImage();
    const QImage LightTrack = Form->SeekSlider()->Track();
    ASSERT_EQ(Form->SkinTone(), TSkinTone::Light);
    EXPECT_GT(Form->palette().color(QPalette::Window).lightness(), 200);

    QPalette Dark = Before;
    Dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x24));
    Dark.setColor(QPalette::WindowText, Qt::white);
    QApplication::setPalette(Dark);
    Pump(50);
    EXPECT_EQ(Form->SkinTone(), TSkinTone::Dark);
    EXPECT_LT(Form->palette().color(QPalette::Window).lightness(), 80);
    EXPECT_NE(Control<TSkinButton>("ImagePlay")->Picture().toImage(), LightPlay);
    EXPECT_NE(Form->SeekSlider()->Track(), LightTrack) << "the sliders follow";
    // Muted while dark, the mute switch shows the dark "off" picture.
    Form->ImageMuteClick();
    EXPECT_EQ(Control<TSkinButton>("ImageMute")->Picture().toImage(),
              Control<QLabel>("ImageSoundOff")->pixmap().toImage());

    QApplication::setPalette(Before);
    Pump(50);
    EXPECT_EQ(Form->SkinTone(), TSkinTone::Light);
    EXPECT_EQ(Control<TSkinButton>("ImagePlay")->Picture().toImage(), LightPlay);
    EXPECT_EQ(Form->SeekSlider()->Track(), LightTrack);
}

// Run a second time by ctest with QT_SCALE_FACTOR=2.
TEST_F(PlayerFormTest, PicturesAreDrawnAtTheScreensPixelRatioAndLaidOutAsBefore) {
    Form->show();
    const qreal Ratio = Form->devicePixelRatioF();
    EXPECT_EQ(Form->SkinRatio(), Ratio);
    auto *Play = Control<TSkinButton>("ImagePlay");
    EXPECT_EQ(Play->Picture().devicePixelRatio(), Ratio);
    EXPECT_EQ(Play->Picture().size(), (QSizeF(22, 23) * Ratio).toSize());
    EXPECT_EQ(Play->geometry(), QRect(14, 112, 22, 23));
    EXPECT_EQ(Control<QLabel>("Image2")->pixmap().deviceIndependentSize(), QSizeF(391, 93));
    TSlider *Seek = Form->SeekSlider();
    EXPECT_EQ(Seek->Track().devicePixelRatio(), Ratio);
    EXPECT_EQ(Seek->Buffer().devicePixelRatio(), Ratio);
    EXPECT_EQ(Seek->Buffer().size(), (QSizeF(176, 15) * Ratio).toSize());
    // The slider works in device-independent pixels whatever the ratio.
    Form->XaudioPlayerNotifyInputPosition(400, 400);
    EXPECT_EQ(Seek->ThumbRect(), QRect(162, 0, 14, 15));
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == "2") {
        EXPECT_EQ(Ratio, 2.0);
    }
}

// --- From the main window -----------------------------------------------------------------

TEST(PlayCommand, OpensThePlayerOnTheActiveListAndADoubleClickDoesTheSame) {
    QTemporaryDir Dir;
    RedirectSettings(Dir.path());
    ScriptedDialogs Dialogs;
    TMainForm Main;
    CreateProgramWindows(Main);
    Main.show();
    WriteSineWav(Dir.filePath("a.wav"), 1, 8000, 2, 440);
    Main.Lists().AddFiles({Dir.filePath("a.wav")});

    TPlayerForm *Player = Main.Windows().PlayerForm;
    ASSERT_NE(Player, nullptr);
    for (int Round = 0; Round < 2; ++Round) {
        QString Seen;
        ModalDriver Driver([&](QWidget *Modal) {
            QElapsedTimer Clock;
            Clock.start();
            while (Player->windowTitle() != "Playing..." && Clock.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            Seen = Modal == Player ? Player->windowTitle() : QString("another window");
            Player->close();
        });
        if (Round == 0)
            Main.findChild<QAction *>("PlayAction")->trigger();
        else
            Main.lvWaveFilesDblClick();
        EXPECT_FALSE(Driver.TimedOut);
        EXPECT_EQ(Seen, "Playing...");
        EXPECT_EQ(Player->Current().FileName, "a.wav");
        // The close stopped it; the next round must see a fresh start.
        QElapsedTimer Clock;
        Clock.start();
        while (Player->windowTitle() != "Stopped" && Clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_EQ(Player->windowTitle(), "Stopped");
    }
    EXPECT_TRUE(Dialogs.Asked.empty());
}

// Not a test: with BRINDLE_SCREENSHOT_DIR set, saves pictures of the player playing, paused
// and muted for the documentation (run under xvfb-run with QT_QPA_PLATFORM=xcb; with
// QT_SCALE_FACTOR=2 for a scaled screen, and with BRINDLE_SCREENSHOT_DARK=1 on a dark palette).
TEST_F(PlayerFormTest, Screenshots) {
    const QString Folder = qEnvironmentVariable("BRINDLE_SCREENSHOT_DIR");
    if (Folder.isEmpty())
        GTEST_SKIP() << "BRINDLE_SCREENSHOT_DIR is not set";
    if (qEnvironmentVariableIsSet("BRINDLE_SCREENSHOT_DARK")) {
        QPalette Dark;
        Dark.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x30));
        Dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
        Dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
        Dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
        Dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
        Dark.setColor(QPalette::ButtonText, QColor(0xe0, 0xe0, 0xe0));
        QApplication::setPalette(Dark);
    }
    ConvertType = 1;
    Lists->CurrentListChanged();
    const QString Wav = Dir.filePath("song.wav");
    WriteSineWav(Wav, 2, 44100, 200, 330, 440, 0.3);
    TLameCoder Coder;
    Coder.SetMode(JSTEREO);
    Coder.SetBitrate(192);
    Coder.SetInputFiles({Wav});
    Coder.SetOutputFiles({Dir.filePath("Harbour Lights.mp3")});
    Coder.Encode();
    QFile File(Dir.filePath("Harbour Lights.mp3"));
    ASSERT_TRUE(File.open(QIODevice::Append));
    File.write(Id3v1("Harbour Lights", "The Quiet Hours"));
    File.close();
    Add({File.fileName()});
    ShowAndPlay();
    // The keyboard focus on Pause, to show its frame.
    QApplication::setActiveWindow(Form.get());
    Control("ImagePause")->setFocus(Qt::TabFocusReason);
    Form->Player().InputSeek(157, 400);
    Pump(2600);
    const auto Save = [&](const char *Name) {
        Pump(300);
        // On a real display with a window manager the frame and its caption are taken too.
        // Taken in device-independent pixels, so a scaled screen gives its device pixels.
        const QRect Frame = Form->frameGeometry();
        const QPixmap Shot = QGuiApplication::platformName() == "xcb"
                                 ? QGuiApplication::primaryScreen()->grabWindow(
                                       0, Frame.x(), Frame.y(), Frame.width(), Frame.height())
                                 : Form->grab();
        EXPECT_TRUE(Shot.save(QDir(Folder).filePath(QString::fromLatin1(Name))));
    };
    Save("player-playing.png");
    Click("ImagePause");
    ASSERT_TRUE(WaitFor([this] { return Caption() == "Paused"; }));
    Save("player-paused.png");
    Click("ImagePause");
    Click("ImageMute");
    Save("player-muted.png");
}
