#include "BrindleVersion.h"
#include "app/AboutForm.h"
#include "app/ConfigInstance.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "app/WebPages.h"
#include "conversion/DispForm.h"
#include "gui/conversion/ModalDriver.h"
#include "settings/ConfigForm.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/TestMedia.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

using namespace testmedia;

namespace {

// Receives what the program asks the desktop to open, instead of a browser or file manager.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    UrlRecorder() {
        for (const char *Scheme : {"file", "http", "https"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(Scheme), this, "Open");
    }
    ~UrlRecorder() override {
        for (const char *Scheme : {"file", "http", "https"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(Scheme));
    }
    QList<QUrl> Opened;

public slots:
    void Open(const QUrl &Url) { Opened << Url; }
};

const QStringList &SettingNames = SettingValueNames;

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        RedirectSettings(Dir.path());
        QLocale::setDefault(QLocale::c());
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    // The program's start: the main window loads the settings, the other windows follow.
    TMainForm &Start(bool Show = true) {
        Main = std::make_unique<TMainForm>();
        CreateProgramWindows(*Main);
        if (Show)
            Main->show();
        return *Main;
    }

    QString StoreFile() const { return Dir.filePath("user/Brindle Team/Brindle.conf"); }
    std::unique_ptr<QSettings> Store() const {
        auto S = std::make_unique<QSettings>(StoreFile(), QSettings::IniFormat);
        S->beginGroup("1.27");
        return S;
    }

    QString Wav(const QString &Name, double Seconds) const {
        WriteSineWav(Dir.filePath(Name), 1, 8000, Seconds, 440);
        return Dir.filePath(Name);
    }

    template <typename T> T *Find(const char *Name) const {
        T *Child = Main->findChild<T *>(QString::fromLatin1(Name));
        EXPECT_NE(Child, nullptr) << Name;
        return Child;
    }
    QAction *Action(const char *Name) const { return Find<QAction>(Name); }
    QTabWidget *Tabs() const { return Find<QTabWidget>("PageControl1"); }
    TFileListView *WaveList() const { return Find<TFileListView>("lvWaveFiles"); }
    TFileListView *MP3List() const { return Find<TFileListView>("lvMP3Files"); }
    QString PaneText(const char *Name) const { return Find<QLabel>(Name)->text(); }

    // The popup entries visible after the popup's own rules ran, by caption.
    QStringList VisiblePopupEntries() const {
        Main->FilePopupMenuPopup();
        QStringList Captions;
        for (QAction *Entry : Find<QMenu>("FilePopupMenu")->actions())
            if (!Entry->isSeparator() && Entry->isVisible())
                Captions << Entry->text();
        return Captions;
    }

    // Runs the add command and returns the lines of the error list it showed.
    QStringList ErrorsOfAdd() {
        QStringList Shown;
        ModalDriver Driver([&](QWidget *Modal) {
            if (auto *Disp = qobject_cast<TDispForm *>(Modal)) {
                Shown = Disp->Lines();
                Disp->accept();
            }
        });
        Action("AddAction")->trigger();
        EXPECT_FALSE(Driver.TimedOut);
        return Shown;
    }

    QTemporaryDir Dir;
    ScriptedDialogs Dialogs;
    UrlRecorder Urls;
    std::unique_ptr<TMainForm> Main;
};

// --- Start and close ---------------------------------------------------------------------

TEST_F(MainFormTest, StartAndCloseWritesAllTwentySevenSettingsAndTheJobCount) {
    Start();
    Config().NormalizeFactor = 90;
    Main->close();
    auto S = Store();
    QStringList Stored = S->childKeys();
    EXPECT_EQ(Stored.size(), SettingNames.size() + AddedSettingNames.size());
    EXPECT_EQ(S->value("ConvertJobs").toInt(), 0) << "one per core unless chosen";
    EXPECT_EQ(S->value("NormalizeMode").toInt(), 0) << "peak normalisation unless chosen";
    EXPECT_EQ(S->value("CopyTags").toInt(), 1) << "tags travel unless turned off";
    EXPECT_EQ(S->value("KeepFolderStructure").toInt(), 1) << "folders mirrored unless turned off";
    EXPECT_EQ(S->value("WriteReplayGain").toInt(), 0) << "no ReplayGain tags unless chosen";
    for (const QString &Name : SettingNames)
        EXPECT_TRUE(Stored.contains(Name)) << Name.toStdString();
    EXPECT_EQ(S->value("NormalizeFactor").toInt(), 90);
    EXPECT_EQ(Dialogs.Asked.size(), 0u);
}

TEST_F(MainFormTest, ExitSavesTheDirectionAndEmptiesBothLists) {
    Start();
    Main->Lists().AddFiles({Wav("a.wav", 1)});
    Tabs()->setCurrentIndex(1);
    Action("ExitAction")->trigger();
    EXPECT_FALSE(Main->isVisible());
    EXPECT_EQ(Store()->value("ConvertType").toInt(), 1);
    EXPECT_EQ(WaveList()->RowCount(), 0);
}

TEST_F(MainFormTest, StartShowsTheSavedDirectionAndItsList) {
    Store()->setValue("ConvertType", 1);
    Start();
    EXPECT_EQ(Main->windowTitle(), "Brindle");
    EXPECT_EQ(Tabs()->currentWidget()->objectName(), "TabSheetMP3");
    EXPECT_EQ(Main->CurrentList(), MP3List());
    EXPECT_EQ(Config().ConvertType, 1);
}

TEST_F(MainFormTest, InvalidStoredValueIsReportedAndTheProgramGoesOn) {
    {
        auto S = Store();
        S->setValue("ConvertType", 1);
        S->setValue("NormalizeFactor", "loud");
        S->setValue("OverwritePrompt", 0);
    }
    Start();
    ASSERT_EQ(Dialogs.Asked.size(), 1u);
    EXPECT_EQ(Dialogs.Asked[0].Text, "Invalid data type for 'NormalizeFactor'");
    EXPECT_EQ(Dialogs.Asked[0].Caption, "Error");
    // Only the bad value takes its default.
    EXPECT_EQ(Config().ConvertType, 1);
    EXPECT_EQ(Config().NormalizeFactor, 98);
    EXPECT_FALSE(Config().OverwritePrompt);
    EXPECT_TRUE(Main->isVisible());
}

TEST_F(MainFormTest, SettingsFileThatIsAPipeIsReportedAndTheWindowAppears) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(StoreFile()).path()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(StoreFile()).constData(), 0600), 0);
    Start();
    EXPECT_TRUE(Main->isVisible());
    ASSERT_EQ(Dialogs.Asked.size(), 1u);
    EXPECT_TRUE(Dialogs.Asked[0].Text.contains("is a named pipe (FIFO), not a regular file"));
    Main->close();
    ASSERT_EQ(Dialogs.Asked.size(), 2u);
    EXPECT_TRUE(Dialogs.Asked[1].Text.contains(StoreFile()));
    EXPECT_FALSE(QFileInfo(StoreFile()).isFile());
}

TEST_F(MainFormTest, SettingsThatCannotBeSavedAreReportedOnClose) {
    // A file where the store's folder should be.
    QFile Blocker(Dir.filePath("user/Brindle Team"));
    ASSERT_TRUE(QDir().mkpath(Dir.filePath("user")));
    ASSERT_TRUE(Blocker.open(QIODevice::WriteOnly));
    Blocker.close();
    Start();
    EXPECT_EQ(Dialogs.Asked.size(), 0u);
    Main->close();
    ASSERT_EQ(Dialogs.Asked.size(), 1u);
    EXPECT_TRUE(Dialogs.Asked[0].Text.startsWith("The settings could not be saved to '" +
                                                 StoreFile() + "'"))
        << Dialogs.Asked[0].Text.toStdString();
    EXPECT_EQ(Dialogs.Asked[0].Caption, "Error");
}

TEST_F(MainFormTest, WindowsAreCreatedInStartOrder) {
    Start(false);
    const TProgramWindows &W = Main->Windows();
    ASSERT_NE(W.DispForm, nullptr);
    ASSERT_NE(W.ConfigForm, nullptr);
    ASSERT_NE(W.AboutForm, nullptr);
    // Dialog children appear in creation order.
    QStringList Names;
    for (QObject *Child : Main->children())
        if (qobject_cast<QDialog *>(Child))
            Names << Child->objectName();
    EXPECT_EQ(Names.first(), "ConvForm");
    EXPECT_EQ(Names.indexOf("PlayerForm"), 3);
    EXPECT_EQ(Names.last(), "AboutForm");
}

TEST_F(MainFormTest, WindowStartsAt570By440AndNeverSmallerThan410By280) {
    Start(false);
    EXPECT_EQ(Main->size(), QSize(570, 440));
    EXPECT_EQ(Main->minimumSize(), QSize(410, 280));
}

// --- Tabs and lists ----------------------------------------------------------------------

TEST_F(MainFormTest, TabsCarryTheirCaptionsAndSwitchTheDirection) {
    Start();
    EXPECT_EQ(Tabs()->tabText(0), "  Wave -> MP3   ");
    EXPECT_EQ(Tabs()->tabText(1), "   MP3 -> Wave   ");
    Tabs()->setCurrentIndex(1);
    EXPECT_EQ(Config().ConvertType, 1);
    EXPECT_EQ(Main->CurrentList(), MP3List());
    Tabs()->setCurrentIndex(0);
    EXPECT_EQ(Config().ConvertType, 0);
    EXPECT_EQ(Main->CurrentList(), WaveList());
}

TEST_F(MainFormTest, SwitchingAwayAndBackKeepsBothListsAndCommandsActOnTheWaveList) {
    Start();
    Main->Lists().AddFiles({Wav("a.wav", 1), Wav("b.wav", 1)});
    Tabs()->setCurrentIndex(1);
    Tabs()->setCurrentIndex(0);
    EXPECT_EQ(WaveList()->RowCount(), 2);
    WaveList()->topLevelItem(0)->setSelected(true);
    Action("DeleteAction")->trigger();
    EXPECT_EQ(WaveList()->RowCount(), 1);
    EXPECT_EQ(MP3List()->RowCount(), 0);
}

TEST_F(MainFormTest, DroppedFilesGoToTheShownListWhenTheySuitIt) {
    Start();
    const QString Song = Wav("song.wav", 1);
    const QString Other = Wav("song.mp2", 1);
    QMimeData Data;
    Data.setUrls({QUrl::fromLocalFile(Song), QUrl::fromLocalFile(Other)});
    // Qt delivers a drop to the widget that accepted the drag's entry.
    QDragEnterEvent Enter(QPoint(50, 100), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Main.get(), &Enter);
    EXPECT_TRUE(Enter.isAccepted());
    QDropEvent Drop(QPointF(50, 100), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Main.get(), &Drop);
    ASSERT_EQ(WaveList()->RowCount(), 1);
    EXPECT_EQ(WaveList()->Record(0)->SourcePath, Song);
}

// --- Status bar ---------------------------------------------------------------------------

TEST_F(MainFormTest, StatusPanesStartWithTheirCaptionsAndFollowTheList) {
    Start();
    EXPECT_EQ(PaneText("stspanelSelect"), "Selected 0 file(s), 0 seconds(00:00:00)");
    EXPECT_EQ(PaneText("stspanelTotal"), "Total 0 file(s), 0 secends(00:00:00) ");
    EXPECT_EQ(PaneText("stCorpPanel"), "Corvane Dozivuror");
    Main->Lists().AddFiles({Wav("a.wav", 3), Wav("b.wav", 4)});
    EXPECT_EQ(PaneText("stspanelTotal"), "Total 2 file(s), 7 seconds(00:00:07)");
    Action("SelectAllAction")->trigger();
    EXPECT_EQ(PaneText("stspanelSelect"), "selected 2 file(s), 7 seconds(00:00:07)");
    Action("ClearAction")->trigger();
    EXPECT_EQ(PaneText("stspanelTotal"), "Total 0 file(s), 0 seconds(00:00:00)");
    EXPECT_EQ(PaneText("stspanelSelect"), "selected 0 file(s), 0 seconds(00:00:00)");
}

TEST_F(MainFormTest, ProgressBarHidesAgainAfterAdding) {
    Start();
    Main->Lists().AddFiles({Wav("a.wav", 1)});
    EXPECT_FALSE(Find<QProgressBar>("prgsbarAddFile")->isVisible());
    EXPECT_TRUE(Find<QLabel>("stCorpPanel")->isVisible());
}

// --- Popup menu ---------------------------------------------------------------------------

TEST_F(MainFormTest, PopupOverAnEmptyListOffersAddAndLaunchOnly) {
    Start();
    EXPECT_EQ(VisiblePopupEntries(),
              QStringList({"&Add audio file(s)", "Add &Folder...", "&Launch File Manager"}));
}

TEST_F(MainFormTest, PopupOverRowsWithoutSelectionHidesTheFileCommands) {
    Start();
    Main->Lists().AddFiles({Wav("a.wav", 1)});
    EXPECT_EQ(VisiblePopupEntries(),
              QStringList({"Select all", "Invert selection", "&Add audio file(s)", "Add &Folder...",
                           "&Clear all files", "&Launch File Manager"}));
}

TEST_F(MainFormTest, PopupWithASelectionShowsEverything) {
    Start();
    Tabs()->setCurrentIndex(1);
    Main->Lists().AddFiles({Wav("not-mpeg.mp3", 1)});
    MP3List()->topLevelItem(0)->setSelected(true);
    EXPECT_EQ(
        VisiblePopupEntries(),
        QStringList({"&Convert", "&Play", "Select all", "Invert selection", "&Add audio file(s)",
                     "Add &Folder...", "&Delete selected MP3 file(s)", "&Clear all files",
                     "&Launch File Manager", "&View audio file information"}));
}

TEST_F(MainFormTest, TagEditorEntryIsHiddenOnceShown) {
    Start();
    EXPECT_FALSE(Action("mnuID3TagEdit")->isVisible());
}

// --- Commands -----------------------------------------------------------------------------

TEST_F(MainFormTest, AddOpensTheDialogInTheLastFolderAndRemembersTheNewOne) {
    Store()->setValue("LastOpenFolder", "/music/old/");
    Start();
    const QString A = Wav("a.wav", 1);
    Dialogs.FileAnswers.push_back({A, Wav("b.wav", 1)});
    Action("AddAction")->trigger();
    ASSERT_EQ(Dialogs.AskedOf(ScriptedDialogs::Kind::Files).size(), 1u);
    const auto Asked = Dialogs.AskedOf(ScriptedDialogs::Kind::Files)[0];
    EXPECT_EQ(Asked.Folder, "/music/old/");
    // Every PCM source is shown at first; the WAV filter of old is the second choice.
    const QStringList Filters = Asked.Filter.split(";;");
    ASSERT_EQ(Filters.size(), 2);
    for (const char *Pattern : {"*.wav", "*.flac", "*.aiff", "*.ogg", "*.opus", "*.m3u", "*.pls"})
        EXPECT_TRUE(Filters[0].contains(Pattern)) << Pattern;
    EXPECT_TRUE(Filters[1].startsWith("Wave PCM& PlayList Files (*.Wav;*.M3U;*.PLS)"));
    EXPECT_EQ(WaveList()->RowCount(), 2);
    EXPECT_EQ(Config().LastOpenFolder, Dir.path() + "/");
}

TEST_F(MainFormTest, CancelledAddChangesNothing) {
    Start();
    Action("AddAction")->trigger();
    EXPECT_EQ(WaveList()->RowCount(), 0);
    EXPECT_EQ(Config().LastOpenFolder, "");
}

TEST_F(MainFormTest, AddOnTheMp3TabAsksForMpegFiles) {
    Start();
    Tabs()->setCurrentIndex(1);
    Action("AddAction")->trigger();
    ASSERT_EQ(Dialogs.AskedOf(ScriptedDialogs::Kind::Files).size(), 1u);
    EXPECT_TRUE(Dialogs.AskedOf(ScriptedDialogs::Kind::Files)[0].Filter.startsWith(
        "MP3 & PlayList Files(*.MP3;*.MP2;*.MP1;*.M3U;*.PLS)"));
}

TEST_F(MainFormTest, FilesThatCannotBeReadAreShownInTheErrorList) {
    Start();
    const QString Gone = Dir.filePath("gone.wav");
    Dialogs.FileAnswers.push_back({Gone, Wav("a.wav", 1)});
    const QStringList Shown = ErrorsOfAdd();
    EXPECT_EQ(Shown, QStringList{"Error read file: " + Gone + " (No such file or directory)"});
    EXPECT_EQ(Main->Windows().DispForm->Lines(), QStringList());
    EXPECT_EQ(WaveList()->RowCount(), 1);
}

TEST_F(MainFormTest, PlaylistEntriesThatAreMissingOrPipesAreShownInTheErrorList) {
    Start();
    Wav("Live: 1999.wav", 1);
    ASSERT_EQ(::mkfifo(QFile::encodeName(Dir.filePath("pipe.wav")).constData(), 0600), 0);
    const QString List = Dir.filePath("Best of: 2020.m3u");
    QFile File(List);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.write("sub/../Live: 1999.wav\ngone.wav\npipe.wav\n");
    File.close();
    Dialogs.FileAnswers.push_back({List});
    const QStringList Shown = ErrorsOfAdd();
    EXPECT_EQ(Shown, (QStringList{"Error read file: " + Dir.filePath("gone.wav") +
                                      " (No such file or directory)",
                                  "Error read file: " + Dir.filePath("pipe.wav") +
                                      " (It is a named pipe (FIFO), not a regular file)"}));
    ASSERT_EQ(WaveList()->RowCount(), 1);
}

TEST_F(MainFormTest, UnopenablePlaylistIsReportedAndAddsNothing) {
    Start();
    const QString List = Dir.filePath("missing.m3u");
    Dialogs.FileAnswers.push_back({Wav("a.wav", 1), List});
    Action("AddAction")->trigger();
    ASSERT_EQ(Dialogs.AskedOf(ScriptedDialogs::Kind::Message).size(), 1u);
    EXPECT_EQ(Dialogs.AskedOf(ScriptedDialogs::Kind::Message)[0].Text,
              "Cannot open file " + List + " (No such file or directory)");
    EXPECT_EQ(WaveList()->RowCount(), 0);
}

TEST_F(MainFormTest, ConvertAndPlayOnAnEmptyListSayWhatIsMissing) {
    Start();
    Action("ConvMP3Action")->trigger();
    Action("PlayAction")->trigger();
    Action("ViewFileInfoAction")->trigger();
    const auto Asked = Dialogs.AskedOf(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(Asked.size(), 3u);
    EXPECT_EQ(Asked[0].Text, "No file(s) selected, please add audio files first.");
    EXPECT_EQ(Asked[1].Text, "No file(s) added, please add audio file first.");
    EXPECT_EQ(Asked[2].Text, "No file(s) selected, please add audio files first.");
    for (const auto &Q : Asked) {
        EXPECT_EQ(Q.Caption, "Information");
        EXPECT_EQ(Q.Icon, TMsgIcon::Exclamation);
    }
}

TEST_F(MainFormTest, FileInformationOnAnUnreadableRowDoesNothing) {
    Start();
    WriteFile(Dir.filePath("fake.wav"), QByteArray(3000, 'x'));
    Main->Lists().AddFiles({Dir.filePath("fake.wav")});
    WaveList()->topLevelItem(0)->setSelected(true);
    Action("ViewFileInfoAction")->trigger();
    EXPECT_EQ(Dialogs.Asked.size(), 0u);
}

TEST_F(MainFormTest, CancelledOptionsLeaveTheSettingsAsTheyWere) {
    Start();
    Config().BitRate = 3;
    ModalDriver Driver([](QWidget *Modal) {
        Config().BitRate = 11; // whatever the dialog changed
        Modal->close();
    });
    Action("ConfigAction")->trigger();
    EXPECT_FALSE(Driver.TimedOut);
    EXPECT_EQ(Config().BitRate, 3);
}

TEST_F(MainFormTest, LaunchOpensTheFavouriteFolderOrHome) {
    Start();
    Config().FavoriteBrowsFolder = Dir.path();
    Action("LaunchAction")->trigger();
    Config().FavoriteBrowsFolder = Dir.filePath("missing");
    Action("LaunchAction")->trigger();
    ASSERT_EQ(Urls.Opened.size(), 2);
    EXPECT_EQ(Urls.Opened[0], QUrl::fromLocalFile(Dir.path()));
    EXPECT_EQ(Urls.Opened[1], QUrl::fromLocalFile(QDir::homePath()));
}

TEST_F(MainFormTest, HelpOpensTheManualWhichHasTheOptionsTopic) {
    Start();
    Action("HelpAction")->trigger();
    ASSERT_EQ(Urls.Opened.size(), 1);
    const QString Manual = Urls.Opened[0].toLocalFile();
    EXPECT_TRUE(Manual.endsWith("help/index.html")) << Manual.toStdString();
    QFile File(Manual);
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    const QByteArray Text = File.readAll();
    EXPECT_TRUE(Text.contains("id=\"contents\""));
    EXPECT_TRUE(Text.contains("id=\"context-1\""));
}

TEST_F(MainFormTest, HomePageCommandsAndTheCompanyPaneOpenTheHomePage) {
    Start();
    Action("mnuHomePage")->trigger();
    Action("CheckNewVersionAction")->trigger();
    QLabel *Corp = Find<QLabel>("stCorpPanel");
    QMouseEvent Click(QEvent::MouseButtonDblClick, QPointF(2, 2), Corp->mapToGlobal(QPointF(2, 2)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Corp, &Click);
    ASSERT_EQ(Urls.Opened.size(), 3);
    for (const QUrl &Url : Urls.Opened)
        EXPECT_EQ(Url, QUrl(HomePageUrl));
}

TEST_F(MainFormTest, ToolbarButtonsRunTheirCommands) {
    Start();
    const QStringList Captions = {"Add",     "Folder", "Delete", "Browse",
                                  "Convert", "Play",   "Info",   "Options"};
    QStringList Shown;
    for (QToolButton *Button : Main->findChildren<QToolButton *>())
        if (Button->objectName().startsWith("tbtn"))
            Shown << Button->text();
    EXPECT_EQ(Shown, Captions);
    Find<QToolButton>("tbtnBrowse")->click();
    EXPECT_EQ(Urls.Opened.size(), 1);
}

TEST_F(MainFormTest, ShortcutsAreTheCommandsKeys) {
    Start(false);
    EXPECT_EQ(Action("AddAction")->shortcut(), QKeySequence(Qt::Key_Insert));
    EXPECT_EQ(Action("DeleteAction")->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_EQ(Action("ClearAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Delete));
    EXPECT_EQ(Action("SelectAllAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
    EXPECT_EQ(Action("InvertSelectAction")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_I));
    EXPECT_EQ(Action("ConvMP3Action")->shortcut(), QKeySequence(Qt::Key_F9));
    EXPECT_EQ(Action("ConfigAction")->shortcut(), QKeySequence(Qt::Key_F4));
    EXPECT_EQ(Action("HelpAction")->shortcut(), QKeySequence(Qt::Key_F1));
}

// --- About --------------------------------------------------------------------------------

TEST(AboutFormTest, ShowsTheVersionTheEncoderAndTheHomePage) {
    UrlRecorder Urls;
    TAboutForm About;
    // The project's version, never the name of the settings section.
    EXPECT_EQ(TAboutForm::VersionText(), BRINDLE_VERSION);
    EXPECT_NE(TAboutForm::VersionText(), "1.27");
    EXPECT_EQ(About.findChild<QLabel *>("lblVersion")->text(),
              QStringLiteral("Version ") + BRINDLE_VERSION);
    const QString Encoder = About.findChild<QLabel *>("lblEncoderCredit")->text();
    EXPECT_TRUE(Encoder.contains(TAboutForm::EncoderVersionText()));
    EXPECT_TRUE(TAboutForm::EncoderVersionText().contains("interface 1."));
    QLabel *Link = About.findChild<QLabel *>("lblHomePage");
    emit Link->linkActivated(HomePageUrl);
    ASSERT_EQ(Urls.Opened.size(), 1);
    EXPECT_EQ(Urls.Opened[0], QUrl(HomePageUrl));
}

} // namespace

#include "main_form_test.moc"
