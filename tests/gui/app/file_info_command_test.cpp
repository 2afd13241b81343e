// "View audio file information" from the main window: the WAV info window for the WAV list,
// the tag editor for the MP3 list and the row's refresh after a tag change.

#include "app/ConfigInstance.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "gui/conversion/ModalDriver.h"
#include "inspect/WaveInfoForm.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/TestMedia.h"
#include "support/UnwritableFile.h"
#include "tageditor/ID3TagForm.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace testmedia;

namespace {

// MPEG 1 Layer III frames, 128 kbit/s at 48000 Hz: 384 bytes each, 30 s of them.
QByteArray Audio() {
    return (QByteArray("\xFF\xFB\x94\x00", 4) + QByteArray(380, 'a')).repeated(3750);
}

QByteArray Tag(const QByteArray &Title, const QByteArray &Year) {
    QByteArray B(128, '\0');
    B.replace(0, 3, "TAG");
    B.replace(3, Title.size(), Title);
    B.replace(33, 4, "Band");
    B.replace(63, 5, "Album");
    B.replace(93, Year.size(), Year);
    B[127] = char(17);
    return B;
}

class FileInfoCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        RedirectSettings(Dir.path());
        QLocale::setDefault(QLocale::c());
        Main = std::make_unique<TMainForm>();
        CreateProgramWindows(*Main);
        Main->show();
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    // Adds one file to the list of the tab and selects its row.
    void AddSelected(int Tab, const QString &Path) {
        Main->findChild<QTabWidget *>("PageControl1")->setCurrentIndex(Tab);
        ASSERT_EQ(Main->Lists().AddFiles({Path}).Added, 1);
        Main->CurrentList()->topLevelItem(0)->setSelected(true);
    }
    // song.mp3 with a tag, listed and selected on the MP3 tab.
    void AddTaggedSong() {
        SongPath = Dir.filePath("song.mp3");
        SongBytes = Audio() + Tag("Kept", "1999");
        WriteFile(SongPath, SongBytes);
        AddSelected(1, SongPath);
    }
    QStringList Cells() const {
        QStringList Texts;
        const QTreeWidgetItem *Row = Main->CurrentList()->topLevelItem(0);
        for (int c = 0; c < Row->columnCount(); ++c)
            Texts << Row->text(c);
        return Texts;
    }
    // Runs the command; Action works the modal window it opens.
    void ViewFileInfo(std::function<void(QWidget *)> Action) {
        ModalDriver Driver(std::move(Action));
        Main->findChild<QAction *>("ViewFileInfoAction")->trigger();
        EXPECT_FALSE(Driver.TimedOut);
    }
    static QLineEdit *Edit(QWidget *Form, const char *Name) {
        return Form->findChild<QLineEdit *>(QString::fromLatin1(Name));
    }
    static void Click(QWidget *Form, const char *Name) {
        Form->findChild<QPushButton *>(QString::fromLatin1(Name))->click();
    }

    QTemporaryDir Dir;
    ScriptedDialogs Dialogs;
    std::unique_ptr<TMainForm> Main;
    QString SongPath;
    QByteArray SongBytes;
};

} // namespace

TEST_F(FileInfoCommandTest, WaveRowOpensTheWaveInfoWindow) {
    const QString Path = Dir.filePath("voice.wav");
    WriteSineWav(Path, 1, 8000, 2.0, 440);
    AddSelected(0, Path);
    QString Shown;
    ViewFileInfo([&](QWidget *Modal) {
        ASSERT_TRUE(qobject_cast<TWaveInfoForm *>(Modal));
        EXPECT_EQ(Edit(Modal, "edFilePath")->text(), Path);
        Shown = Modal->findChild<QPlainTextEdit *>("WaveInfoMemo")->toPlainText();
        Click(Modal, "btnOK");
    });
    EXPECT_TRUE(Shown.startsWith("Format: PCM\nBits/Sample: 16\nFile size: 32044\nLength: 2\n"))
        << Shown.toStdString();
    EXPECT_TRUE(Dialogs.Asked.empty());
}

TEST_F(FileInfoCommandTest, SavedTagShowsInTheRowAtOnceWhileTimeAndSizeStay) {
    const QString Path = Dir.filePath("song.mp3");
    WriteFile(Path, Audio() + Tag("Old title", QByteArray(4, '\0')));
    AddSelected(1, Path);
    const QStringList Before = Cells();
    EXPECT_EQ(Before.mid(1, 4), QStringList({"Old title", "Band", "Album", ""}))
        << "a year written empty shows empty";
    ViewFileInfo([&](QWidget *Modal) {
        ASSERT_TRUE(qobject_cast<TID3TagForm *>(Modal));
        EXPECT_EQ(Edit(Modal, "edTitle")->text(), "Old title");
        Edit(Modal, "edTitle")->setText("New title");
        Edit(Modal, "edArtist")->setText("Someone");
        Edit(Modal, "edAlbum")->clear();
        Edit(Modal, "edYear")->setText("2020");
        Click(Modal, "btnUpdate");
    });
    const QStringList After = Cells();
    EXPECT_EQ(After.mid(1, 4), QStringList({"New title", "Someone", "", "2020"}));
    EXPECT_EQ(After.mid(5), Before.mid(5)) << "Time, Size, Path and State stay";
    EXPECT_EQ(Main->CurrentList()->Record(0)->MpegData.Title, QStringLiteral("New title"));
    EXPECT_EQ(ReadFile(Path).right(128).mid(3, 9), "New title");
}

TEST_F(FileInfoCommandTest, TagAddedToAnUntaggedFileReplacesTheUnknownTexts) {
    const QString Path = Dir.filePath("plain.mp3");
    WriteFile(Path, Audio());
    AddSelected(1, Path);
    EXPECT_EQ(Cells().mid(1, 2), QStringList({"Unknown Title", "Unknown Artist"}));
    ViewFileInfo([&](QWidget *Modal) {
        Modal->findChild<QCheckBox *>("chkID3V1")->setChecked(true);
        Edit(Modal, "edTitle")->setText("Named");
        Click(Modal, "btnUpdate");
    });
    EXPECT_EQ(Cells().mid(1, 4), QStringList({"Named", "", "", ""}));
    EXPECT_EQ(ReadFile(Path).size(), Audio().size() + 128);
}

TEST_F(FileInfoCommandTest, CancelLeavesFileAndRowAsTheyWere) {
    AddTaggedSong();
    const QStringList Before = Cells();
    ViewFileInfo([&](QWidget *Modal) {
        Edit(Modal, "edTitle")->setText("Dropped");
        Click(Modal, "btnCancel");
    });
    EXPECT_EQ(Cells(), Before);
    EXPECT_EQ(ReadFile(SongPath), SongBytes);
}

TEST_F(FileInfoCommandTest, ReadOnlyFileClosesTheEditorAndKeepsTheRow) {
    AddTaggedSong();
    const QStringList Before = Cells();
    const UnwritableFile Guard(SongPath);
    if (!Guard.Works)
        GTEST_SKIP() << "this file system cannot make a file unwritable for root";
    bool Closed = false;
    ViewFileInfo([&](QWidget *Modal) {
        Edit(Modal, "edTitle")->setText("Not stored");
        Click(Modal, "btnUpdate");
        Closed = !Modal->isVisible();
    });
    EXPECT_TRUE(Closed);
    EXPECT_EQ(Cells(), Before);
    EXPECT_EQ(ReadFile(SongPath), SongBytes);
    ASSERT_EQ(Dialogs.Asked.size(), 1u) << "the user learns that nothing was written";
    EXPECT_EQ(Dialogs.Asked[0].Caption, "Warning");
}

TEST_F(FileInfoCommandTest, HiddenEditorCommandOpensTheEditorWithoutAFile) {
    ModalDriver Driver([&](QWidget *Modal) {
        ASSERT_TRUE(qobject_cast<TID3TagForm *>(Modal));
        EXPECT_TRUE(Edit(Modal, "edFilePath")->text().isEmpty());
        Click(Modal, "btnUpdate");
    });
    Main->findChild<QAction *>("ID3TagEditAction")->trigger();
    EXPECT_FALSE(Driver.TimedOut);
    EXPECT_TRUE(Dialogs.Asked.empty()) << "nothing to write, nothing to say";
}
