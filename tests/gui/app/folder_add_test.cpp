#include "app/ConfigInstance.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "app/SingleInstance.h"
#include "conversion/DispForm.h"
#include "encoder/LameCoder.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/TestMedia.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace testmedia;

namespace {

class FolderAddTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        RedirectSettings(Dir.filePath("settings"));
        QLocale::setDefault(QLocale::c());
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    TMainForm &Start(int ConvertType = 0) {
        Main = std::make_unique<TMainForm>();
        CreateProgramWindows(*Main);
        Config().ConvertType = ConvertType;
        Main->show();
        return *Main;
    }

    QString Path(const QString &Name) const { return Dir.filePath(Name); }
    QString Wav(const QString &Name, double Seconds = 0.2) const {
        QDir().mkpath(QFileInfo(Path(Name)).path());
        WriteSineWav(Path(Name), 1, 8000, Seconds, 440);
        return Path(Name);
    }
    // One MP3 encoded once, copied under every name asked for.
    QString Mp3(const QString &Name) {
        if (Encoded.isEmpty()) {
            Encoded = Dir.filePath("encoded.mp3");
            const QString Source = Dir.filePath("encoded-source.wav");
            WriteSineWav(Source, 1, 44100, 0.5, 440);
            TLameCoder Coder;
            Coder.SetInputFiles({Source});
            Coder.SetOutputFiles({Encoded});
            Coder.Encode();
        }
        QDir().mkpath(QFileInfo(Path(Name)).path());
        QFile::copy(Encoded, Path(Name));
        return Path(Name);
    }
    void Junk(const QString &Name) const {
        QDir().mkpath(QFileInfo(Path(Name)).path());
        WriteFile(Path(Name), QByteArray(3000, 'x'));
    }

    template <typename T> T *Find(const char *Name) const {
        T *Child = Main->findChild<T *>(QString::fromLatin1(Name));
        EXPECT_NE(Child, nullptr) << Name;
        return Child;
    }
    TFileListView *WaveList() const { return Find<TFileListView>("lvWaveFiles"); }
    TFileListView *MP3List() const { return Find<TFileListView>("lvMP3Files"); }
    QString ShownTab() const {
        return Find<QTabWidget>("PageControl1")->currentWidget()->objectName();
    }

    // The source paths of a list, relative to the test folder.
    QStringList Listed(const TFileListView *List) const {
        QStringList Names;
        for (int Row = 0; Row < List->RowCount(); ++Row)
            Names << QDir(Dir.path()).relativeFilePath(List->Model().Record(Row)->SourcePath);
        return Names;
    }

    // Runs the event loop until the add has finished (30 seconds at most).
    bool WaitForAdd() {
        QEventLoop Loop;
        QObject::connect(&Main->Lists(), &TFileLists::AddFinished, &Loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &Loop, &QEventLoop::quit);
        if (Main->Lists().Adding())
            Loop.exec();
        return !Main->Lists().Adding();
    }

    // Runs Add, waits for the add, and returns the lines of the error list it showed.
    QStringList ErrorsOf(const std::function<void()> &Add) {
        // The error list opens at the end of the add, from the event loop: watch for it.
        QStringList Shown;
        QTimer Watch;
        QObject::connect(&Watch, &QTimer::timeout, [&] {
            if (auto *Disp = qobject_cast<TDispForm *>(QApplication::activeModalWidget())) {
                Shown = Disp->Lines();
                Disp->accept();
            }
        });
        Watch.start(5);
        Add();
        EXPECT_TRUE(WaitForAdd());
        return Shown;
    }

    void Drop(const QList<QUrl> &Urls) {
        QMimeData Data;
        Data.setUrls(Urls);
        QDragEnterEvent Enter(QPoint(50, 100), Qt::CopyAction, &Data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(Main.get(), &Enter);
        QDropEvent Dropped(QPointF(50, 100), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Main.get(), &Dropped);
    }

    QTemporaryDir Dir;
    ScriptedDialogs Dialogs;
    std::unique_ptr<TMainForm> Main;
    QString Encoded;
};

// --- Add Folder ----------------------------------------------------------------------------

TEST_F(FolderAddTest, AddFolderFillsEachListInNaturalOrderAndShowsTheTabOfTheFirstFile) {
    // Files of a folder before its sub-folders, names in natural order (a2 before a10).
    Mp3("tree/b.mp3");
    Wav("tree/a10.wav");
    Wav("tree/a2.wav");
    Junk("tree/a3.wav"); // audio by its name, unreadable: listed as such
    Junk("tree/notes.txt");
    Wav("tree/sub 1/x.wav");
    Mp3("tree/sub 1/c.mp3");
    Mp3("tree/sub 10/d.mp1");
    Start(1); // the MP3 tab is shown, but the first file is a WAV file
    Config().LastOpenFolder = Path("tree/sub 1/");
    Dialogs.FolderAnswers.push_back(Path("tree"));

    EXPECT_TRUE(ErrorsOf([&] { Find<QToolButton>("tbtnAddFolder")->click(); }).isEmpty());

    ASSERT_EQ(Dialogs.AskedOf(ScriptedDialogs::Kind::Folder).size(), 1u);
    EXPECT_EQ(Dialogs.Asked[0].Folder, Path("tree/sub 1/"));
    EXPECT_EQ(Listed(WaveList()),
              (QStringList{"tree/a2.wav", "tree/a3.wav", "tree/a10.wav", "tree/sub 1/x.wav"}));
    EXPECT_EQ(Listed(MP3List()),
              (QStringList{"tree/b.mp3", "tree/sub 1/c.mp3", "tree/sub 10/d.mp1"}));
    EXPECT_EQ(WaveList()->Record(1)->Kind, fkUnreadable);
    EXPECT_EQ(MP3List()->Record(1)->Kind, fkMpeg);
    for (const TFileListView *List : {WaveList(), MP3List()})
        for (int Row = 0; Row < List->RowCount(); ++Row)
            EXPECT_EQ(List->Model().Record(Row)->BaseFolder, Path("tree"));
    EXPECT_EQ(ShownTab(), "TabSheetWave");
    EXPECT_EQ(Config().ConvertType, 0);
    EXPECT_EQ(Config().LastOpenFolder, Path("tree/"));
    EXPECT_FALSE(Find<QProgressBar>("prgsbarAddFile")->isVisible());
    EXPECT_FALSE(Find<QPushButton>("btnCancelAdd")->isVisible());

    // Added again, nothing is listed twice.
    Dialogs.FolderAnswers.push_back(Path("tree"));
    ErrorsOf([&] { Main->AddFolderActionExecute(); });
    EXPECT_EQ(WaveList()->RowCount(), 4);
    EXPECT_EQ(MP3List()->RowCount(), 3);
}

TEST_F(FolderAddTest, FolderOfMpegFilesShowsTheMp3TabAndLeavesTheWaveListAlone) {
    Mp3("songs/one.mp3");
    Mp3("songs/two.mp2");
    Start(0);
    Main->Lists().AddFiles({Wav("kept.wav")});
    Dialogs.FolderAnswers.push_back(Path("songs"));
    ErrorsOf([&] { Main->AddFolderActionExecute(); });
    EXPECT_EQ(Listed(MP3List()), (QStringList{"songs/one.mp3", "songs/two.mp2"}));
    EXPECT_EQ(Listed(WaveList()), QStringList{"kept.wav"});
    EXPECT_EQ(ShownTab(), "TabSheetMP3");
}

TEST_F(FolderAddTest, CancelledFolderChooserAddsNothing) {
    Wav("tree/a.wav");
    Start();
    Config().LastOpenFolder = Path("tree/");
    Main->AddFolderActionExecute();
    EXPECT_EQ(Dialogs.Unanswered, 1);
    EXPECT_FALSE(Main->Lists().Adding());
    EXPECT_EQ(WaveList()->RowCount(), 0);
    EXPECT_EQ(Config().LastOpenFolder, Path("tree/"));
}

TEST_F(FolderAddTest, AddFolderIsOfferedInTheFileMenuTheToolbarAndThePopup) {
    Start();
    QAction *Action = Find<QAction>("AddFolderAction");
    EXPECT_EQ(Action->text(), "Add &Folder...");
    EXPECT_EQ(Action->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_Insert));
    const QList<QAction *> File = Find<QMenu>("mnuFile")->actions();
    ASSERT_GE(File.size(), 2);
    EXPECT_EQ(File[0]->objectName(), "AddAction");
    EXPECT_EQ(File[1], Action);
    Main->FilePopupMenuPopup();
    EXPECT_TRUE(Find<QAction>("pmAddFolder")->isVisible());
    Find<QAction>("pmAddFolder")->trigger();
    EXPECT_EQ(Dialogs.AskedOf(ScriptedDialogs::Kind::Folder).size(), 1u);
}

TEST_F(FolderAddTest, WalkProblemsGoToTheErrorListAfterTheAdd) {
    Wav("tree/a.wav");
    QDir().mkpath(Path("tree/sub"));
    ASSERT_TRUE(QFile::link(Path("tree"), Path("tree/sub/loop")));
    QFile::link(Path("tree/gone.wav"), Path("tree/dangling.wav"));
    Start();
    Dialogs.FolderAnswers.push_back(Path("tree"));
    const QStringList Errors = ErrorsOf([&] { Main->AddFolderActionExecute(); });
    EXPECT_EQ(Listed(WaveList()), QStringList{"tree/a.wav"});
    ASSERT_EQ(Errors.size(), 2) << Errors.join('\n').toStdString();
    EXPECT_TRUE(Errors.join('\n').contains("loop"));
    EXPECT_TRUE(Errors.join('\n').contains("dangling.wav"));
}

// --- Drops ---------------------------------------------------------------------------------

TEST_F(FolderAddTest, DroppedFolderIsWalkedAndDroppedFilesStillSuitTheShownList) {
    Wav("tree/in.wav");
    Mp3("tree/in.mp3");
    const QString Plain = Wav("plain.wav");
    const QString Other = Mp3("plain.mp3"); // not for the Wave list: ignored as before
    Start(0);
    ErrorsOf([&] {
        Drop({QUrl::fromLocalFile(Other), QUrl::fromLocalFile(Path("tree")),
              QUrl::fromLocalFile(Plain)});
    });
    EXPECT_EQ(Listed(WaveList()), (QStringList{"tree/in.wav", "plain.wav"}));
    EXPECT_EQ(Listed(MP3List()), QStringList{"tree/in.mp3"});
    EXPECT_EQ(WaveList()->Record(1)->BaseFolder, Dir.path());
    // The first file added was the folder's MPEG file ("in.mp3" before "in.wav").
    EXPECT_EQ(ShownTab(), "TabSheetMP3");
}

// --- Cancel --------------------------------------------------------------------------------

TEST_F(FolderAddTest, CancelKeepsTheRowsListedSoFarAndStopsTheRest) {
    QStringList Expected;
    for (int I = 1; I <= 60; ++I)
        Expected << QStringLiteral("tree/w%1.wav").arg(I);
    for (const QString &Name : Expected)
        Wav(Name);
    Mp3("tree/zz/late.mp3"); // in a sub-folder: comes after every WAV file
    Start(0);
    QAction *Cancel = Find<QAction>("CancelAddAction");
    EXPECT_EQ(Cancel->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_FALSE(Cancel->isEnabled());
    bool EnabledDuringAdd = false, ButtonShown = false;
    // The first rows are in: the user cancels.
    QObject::connect(&Main->Lists(), &TFileLists::FirstRowsAdded, Main.get(), [&] {
        EnabledDuringAdd = Cancel->isEnabled();
        ButtonShown = Find<QPushButton>("btnCancelAdd")->isVisible();
        Find<QPushButton>("btnCancelAdd")->click();
    });
    Dialogs.FolderAnswers.push_back(Path("tree"));
    Main->AddFolderActionExecute();
    EXPECT_TRUE(WaitForAdd());
    EXPECT_TRUE(EnabledDuringAdd);
    EXPECT_TRUE(ButtonShown);
    const QStringList Rows = Listed(WaveList());
    ASSERT_GE(Rows.size(), 1);
    EXPECT_EQ(Rows, Expected.mid(0, Rows.size()));
    EXPECT_EQ(MP3List()->RowCount(), 0);
    EXPECT_FALSE(Cancel->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("btnCancelAdd")->isVisible());
    // Nothing arrives later.
    QEventLoop Loop;
    QTimer::singleShot(200, &Loop, &QEventLoop::quit);
    Loop.exec();
    EXPECT_EQ(Listed(WaveList()), Rows);
    EXPECT_EQ(MP3List()->RowCount(), 0);
}

TEST_F(FolderAddTest, ClosingTheWindowDuringAWalkStopsIt) {
    for (int I = 0; I < 50; ++I)
        Wav(QStringLiteral("tree/d%1/a.wav").arg(I));
    Start();
    Main->Lists().AddFolders({Path("tree")});
    EXPECT_TRUE(Main->Lists().Adding());
    Main->close();
    EXPECT_FALSE(Main->Lists().Adding());
    EXPECT_EQ(WaveList()->RowCount(), 0);
    Main.reset();
}

// --- Command line --------------------------------------------------------------------------

TEST_F(FolderAddTest, CommandLinePathsGoToTheListsOfTheirKinds) {
    const QString Song = Mp3("song.mp3");
    Wav("tree/t.wav");
    const QString Solo = Wav("solo.wav");
    const QString Listed1 = Wav("listed.wav");
    WriteFile(Path("list.m3u"), "listed.wav\n");
    Start(0);
    const QStringList Errors = ErrorsOf([&] {
        Main->OpenPaths(
            {Song, Path("tree"), Solo, Path("missing.wav"), Path("list.m3u"), Path("list.m3u")});
    });
    EXPECT_EQ(Listed(MP3List()), QStringList{"song.mp3"});
    // A file of no known kind goes to the shown list, which reports it.
    EXPECT_EQ(Listed(WaveList()), (QStringList{"tree/t.wav", "solo.wav", "listed.wav"}));
    EXPECT_EQ(Errors, QStringList{"Error read file: " + Path("missing.wav") +
                                  " (No such file or directory)"});
    // The first file given was an MPEG file.
    EXPECT_EQ(ShownTab(), "TabSheetMP3");
}

TEST_F(FolderAddTest, PathsHandedOverDuringAnAddAreAddedAfterIt) {
    for (int I = 0; I < 30; ++I)
        Wav(QStringLiteral("tree/w%1.wav").arg(I));
    const QString Later = Wav("later.wav");
    Start(0);
    Main->Lists().AddFolders({Path("tree")});
    Main->OpenPaths({Later});
    ASSERT_TRUE(WaitForAdd());
    ASSERT_EQ(WaveList()->RowCount(), 31);
    EXPECT_EQ(Listed(WaveList()).last(), "later.wav");
}

TEST_F(FolderAddTest, UnopenablePlaylistOnTheCommandLineIsToldAndTheRestIsAdded) {
    const QString Solo = Wav("solo.wav");
    Start(0);
    ErrorsOf([&] { Main->OpenPaths({Path("gone.m3u"), Solo}); });
    EXPECT_EQ(Listed(WaveList()), QStringList{"solo.wav"});
    ASSERT_EQ(Dialogs.AskedOf(ScriptedDialogs::Kind::Message).size(), 1u);
    EXPECT_TRUE(Dialogs.Asked[0].Text.contains("gone.m3u"));
}

// Not a test: with BRINDLE_SCREENSHOT_DIR set, saves pictures of the folder chooser and of
// the lists filled from a tree for the documentation (run under xvfb-run with
// QT_QPA_PLATFORM=xcb).
TEST_F(FolderAddTest, Screenshots) {
    const QString Folder = qEnvironmentVariable("BRINDLE_SCREENSHOT_DIR");
    if (Folder.isEmpty())
        GTEST_SKIP() << "BRINDLE_SCREENSHOT_DIR is not set";
    const QStringList Names{"Music/Quiet Hours/01 Harbour Lights.wav",
                            "Music/Quiet Hours/02 Low Tide.wav",
                            "Music/Quiet Hours/10 Lantern Walk.mp3",
                            "Music/Quiet Hours/Live/01 Harbour Lights (live).mp3",
                            "Music/Quiet Hours/Live/02 Night Ferry.wav",
                            "Music/Sketches/sketch 2.wav",
                            "Music/Sketches/sketch 10.wav",
                            "Music/Sketches/sketch 9.mp2",
                            "Music/Sketches/cover.jpg"};
    double Seconds = 130;
    for (const QString &Name : Names) {
        if (Name.endsWith(".wav"))
            Wav(Name, Seconds += 37);
        else if (Name.endsWith(".jpg"))
            Junk(Name);
        else
            Mp3(Name);
    }
    Start(0);
    Main->resize(720, 420);
    const auto Pump = [](int Ms) {
        QEventLoop Loop;
        QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
        Loop.exec();
    };
    const auto Shoot = [&](QWidget *Window, const char *Name) {
        const QPixmap Shot =
            QGuiApplication::platformName() == "xcb"
                ? QGuiApplication::primaryScreen()->grabWindow(0).copy(Window->frameGeometry())
                : Window->grab();
        EXPECT_TRUE(Shot.save(QDir(Folder).filePath(QString::fromLatin1(Name))));
    };

    // The program's own chooser, started in the last open folder.
    Config().LastOpenFolder = Path("Music/");
    SetUserDialogs(nullptr);
    QTimer::singleShot(800, [&] {
        QWidget *Chooser = QApplication::activeModalWidget();
        ASSERT_NE(Chooser, nullptr);
        Pump(300);
        Shoot(Chooser, "folder-chooser.png");
        Chooser->close();
    });
    Main->AddFolderActionExecute();
    SetUserDialogs(&Dialogs);

    Main->Lists().AddFolders({Path("Music")});
    ASSERT_TRUE(WaitForAdd());
    Pump(300);
    Shoot(Main.get(), "lists-from-tree.png");
    Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    Pump(300);
    Shoot(Main.get(), "lists-from-tree-mp3.png");
}

// --- One window per user -------------------------------------------------------------------

TEST(SingleInstanceTest, ArgumentsAreMadeAbsoluteAgainstTheStartingFolder) {
    EXPECT_EQ(TSingleInstance::AbsoluteArguments(
                  {"a.wav", "../b/c.mp3", "/abs/d.wav", "file:///x/y%20z.mp3", "./"}, "/w/v"),
              (QStringList{"/w/v/a.wav", "/w/b/c.mp3", "/abs/d.wav", "/x/y z.mp3", "/w/v"}));
}

TEST(SingleInstanceTest, SecondInstanceHandsItsArgumentsToTheFirst) {
    QTemporaryDir Dir;
    const QString Name = Dir.filePath("instance");
    TSingleInstance First(Name), Second(Name);
    // Nobody listens yet: the second start would become the first.
    EXPECT_EQ(Second.HandOver({"/a.wav"}, 500), TSingleInstance::hoNoServer);
    ASSERT_TRUE(First.Listen()) << First.ErrorText().toStdString();

    QList<QStringList> Received;
    QObject::connect(&First, &TSingleInstance::ArgumentsReceived,
                     [&](const QStringList &Arguments) { Received << Arguments; });
    const QStringList Sent{"/music/a.wav", QString::fromUtf8("/music/\xc3\xa9t\xc3\xa9 1.mp3")};
    for (const QStringList &Arguments : {Sent, QStringList{}}) {
        // The second start blocks until the first confirms, so it runs beside this event loop.
        std::atomic<int> Result{-1};
        std::thread Client([&] { Result = Second.HandOver(Arguments, 5000); });
        QEventLoop Loop;
        QTimer Poll;
        QObject::connect(&Poll, &QTimer::timeout, [&] {
            if (Result >= 0)
                Loop.quit();
        });
        Poll.start(10);
        QTimer::singleShot(10000, &Loop, &QEventLoop::quit);
        Loop.exec();
        Client.join();
        EXPECT_EQ(Result, TSingleInstance::hoHanded);
    }
    ASSERT_EQ(Received.size(), 2);
    EXPECT_EQ(Received[0], Sent);
    EXPECT_EQ(Received[1], QStringList{}); // a bare second start brings the window forward
}

TEST(SingleInstanceTest, ASocketLeftBehindIsTakenOver) {
    QTemporaryDir Dir;
    const QString Name = Dir.filePath("instance");
    WriteFile(Name, "left over");
    TSingleInstance First(Name);
    EXPECT_EQ(First.HandOver({}, 500), TSingleInstance::hoNoServer);
    EXPECT_TRUE(First.Listen()) << First.ErrorText().toStdString();
}

} // namespace
