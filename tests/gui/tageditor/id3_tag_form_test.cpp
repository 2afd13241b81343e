#include "support/FileSizeLimit.h"
#include "support/ScriptedDialogs.h"
#include "support/TaggedMp3.h"
#include "support/TestMedia.h"
#include "support/UnwritableFile.h"
#include "tageditor/ID3TagForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using testmedia::ReadFile;
using testmedia::WriteFile;

inline void PrintTo(const QString &Text, std::ostream *Out) {
    *Out << '"' << Text.toStdString() << '"';
}

namespace {

// MPEG 1 Layer III frames, 128 kbit/s at 48000 Hz, stereo: 384 bytes each.
QByteArray Audio() {
    return (QByteArray("\xFF\xFB\x94\x00", 4) + QByteArray(380, 'a')).repeated(40);
}

// A tag block as other taggers write it, byte by byte.
QByteArray TagBlock(const QByteArray &Title, const QByteArray &Year, const QByteArray &Comment,
                    uint8_t Track, uint8_t Genre, const QByteArray &Artist = "Artist",
                    const QByteArray &Album = "Album") {
    QByteArray B(128, '\0');
    B.replace(0, 3, "TAG");
    B.replace(3, Title.size(), Title);
    B.replace(33, Artist.size(), Artist);
    B.replace(63, Album.size(), Album);
    B.replace(93, Year.size(), Year);
    B.replace(97, Comment.size(), Comment);
    B[126] = char(Track);
    B[127] = char(Genre);
    return B;
}

class ID3TagFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        Path = Dir.filePath("song.mp3");
    }

    // Writes the file, reads it as the list does and shows it in the editor.
    void Open(const QByteArray &Bytes) {
        WriteFile(Path, Bytes);
        TMPEGAudio Mp3;
        Mp3.SetFileName(Path);
        ASSERT_TRUE(Mp3.IsValid());
        Form.ShowFile({true, Mp3.Data()});
        Form.show();
    }

    template <typename T> T *Find(const char *Name) const {
        T *Child = Form.findChild<T *>(QString::fromLatin1(Name));
        EXPECT_NE(Child, nullptr) << Name;
        return Child;
    }
    QLineEdit *Edit(const char *Name) const { return Find<QLineEdit>(Name); }
    QCheckBox *Box() const { return Find<QCheckBox>("chkID3V1"); }
    QComboBox *Genre() const { return Find<QComboBox>("cbGenre"); }
    QList<QWidget *> TagControls() const {
        return {Edit("edTrackNo"), Edit("edTitle"),          Edit("edArtist"), Edit("edAlbum"),
                Edit("edYear"),    Find<QWidget>("cbGenre"), Edit("edComment")};
    }
    void Update() { Find<QPushButton>("btnUpdate")->click(); }
    QByteArray WrittenTag() const { return ReadFile(Path).right(128); }

    void Type(QWidget *Target, int Key, const QString &Text = {}) {
        QKeyEvent Press(QEvent::KeyPress, Key, Qt::NoModifier, Text);
        QApplication::sendEvent(Target, &Press);
    }

    QTemporaryDir Dir;
    QString Path;
    ScriptedDialogs Dialogs;
    TID3TagForm Form;
};

} // namespace

TEST_F(ID3TagFormTest, FileWithoutTagOpensUncheckedDisabledAndEmpty) {
    Open(Audio());
    EXPECT_EQ(Form.windowTitle(), "MPEG File Info & ID3 Tag Editor");
    EXPECT_EQ(Edit("edFilePath")->text(), Path);
    EXPECT_FALSE(Box()->isChecked());
    const QColor Face = QApplication::palette().color(QPalette::Active, QPalette::Button);
    for (QWidget *Control : TagControls()) {
        EXPECT_FALSE(Control->isEnabled()) << Control->objectName().toStdString();
        EXPECT_EQ(Control->palette().color(QPalette::Base), Face);
    }
    for (const char *Name : {"edTrackNo", "edTitle", "edArtist", "edAlbum", "edYear", "edComment"})
        EXPECT_TRUE(Edit(Name)->text().isEmpty()) << Name << " (the year holds four spaces)";
    EXPECT_EQ(Genre()->currentIndex(), 0);
    EXPECT_EQ(Genre()->count(), 127);
    EXPECT_EQ(Genre()->itemText(1), "Blues");
    EXPECT_EQ(Genre()->itemText(126), "Dance Hall");
    const QStringList Lines = Find<QPlainTextEdit>("MPEGInfoMemo")->toPlainText().split(u'\n');
    EXPECT_EQ(Lines, MPEGInfoLines({true, Form.Current().Info}));
    EXPECT_EQ(Lines.value(2), "MPEG: 1.0 layer III");

    Box()->setChecked(true);
    const QColor Window = QApplication::palette().color(QPalette::Active, QPalette::Base);
    for (QWidget *Control : TagControls()) {
        EXPECT_TRUE(Control->isEnabled());
        EXPECT_EQ(Control->palette().color(QPalette::Base), Window);
    }
}

TEST_F(ID3TagFormTest, InvalidItemShowsUnknowAboveTheInfoLines) {
    Form.ShowFile({});
    const QStringList Lines = Find<QPlainTextEdit>("MPEGInfoMemo")->toPlainText().split(u'\n');
    ASSERT_EQ(Lines.size(), 10);
    EXPECT_EQ(Lines[0], "Unknow");
}

TEST_F(ID3TagFormTest, TrackFieldTakesTypedDigitsOnly) {
    Open(Audio() + TagBlock("T", "2001", "", 0, 255));
    QLineEdit *Track = Edit("edTrackNo");
    Type(Track, Qt::Key_1, "1");
    Type(Track, Qt::Key_A, "a");
    Type(Track, Qt::Key_Space, " ");
    Type(Track, Qt::Key_2, "2");
    EXPECT_EQ(Track->text(), "12");
    Type(Track, Qt::Key_Backspace, "\b");
    EXPECT_EQ(Track->text(), "12") << "backspace is a typed character too";
    Type(Track, Qt::Key_3, "3");
    Type(Track, Qt::Key_4, "4");
    EXPECT_EQ(Track->text(), "123") << "three characters at most";
    Track->setCursorPosition(0);
    Type(Track, Qt::Key_Delete);
    EXPECT_EQ(Track->text(), "23") << "the Delete key is not filtered";
}

TEST_F(ID3TagFormTest, AddingATagAppendsItsBlock) {
    Open(Audio());
    Box()->setChecked(true);
    Edit("edTitle")->setText("New title");
    Edit("edYear")->setText("1987");
    Update();
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_FALSE(Form.isVisible());
    const QByteArray File = ReadFile(Path);
    ASSERT_EQ(File.size(), Audio().size() + 128);
    EXPECT_TRUE(File.startsWith(Audio()));
    EXPECT_EQ(WrittenTag(), TagBlock("New title", "1987", "", 0, 255, "", ""))
        << "the empty genre entry is 255";
}

TEST_F(ID3TagFormTest, EditingOnlyTheTitleKeepsEveryOtherByte) {
    // 147 has no name in the table; other taggers write such codes.
    const QByteArray Old = TagBlock("Old", "1999", "A comment", 9, 147);
    Open(Audio() + Old);
    EXPECT_EQ(Genre()->currentText(), "147");
    Edit("edTitle")->setText("Newer");
    Update();
    EXPECT_EQ(ReadFile(Path).size(), Audio().size() + 128) << "the tag is replaced, not added";
    EXPECT_EQ(WrittenTag(), TagBlock("Newer", "1999", "A comment", 9, 147));
}

TEST_F(ID3TagFormTest, ChosenGenreIsStoredAsItsCode) {
    Open(Audio() + TagBlock("T", "", "", 0, 147));
    const std::pair<QString, uint8_t> Choices[] = {
        {"Blues", 0}, {"Rock", 17}, {"Dance Hall", 125}, {"", 255}};
    for (const auto &[Name, Code] : Choices) {
        Form.show();
        Genre()->setCurrentIndex(Genre()->findText(Name));
        Update();
        EXPECT_EQ(uint8_t(WrittenTag()[127]), Code) << Name.toStdString();
        TMPEGAudio Mp3;
        Mp3.SetFileName(Path);
        Form.ShowFile({true, Mp3.Data()});
        EXPECT_EQ(Genre()->currentText(), Name) << "and shown as that entry again";
        EXPECT_EQ(Genre()->count(), 127) << "the entry of the unnamed code is gone";
    }
}

TEST_F(ID3TagFormTest, TrackAndCommentAreWrittenTheID3v11Way) {
    Open(Audio() + TagBlock("T", "", "", 0, 255));
    Edit("edTrackNo")->setText("300");
    Edit("edComment")->setText(QString(29, u'c') + u'C');
    Update();
    QByteArray Tag = WrittenTag();
    EXPECT_EQ(uint8_t(Tag[126]), 44) << "300 modulo 256";
    EXPECT_EQ(Tag.mid(97, 29), QByteArray(28, 'c') + '\0');

    // Without a track the comment keeps all 30 characters, and reads back as no track.
    for (const char *Track : {"", "x7"}) { // pasted text is not filtered
        Form.show();
        Edit("edTrackNo")->setText(QString::fromLatin1(Track));
        Update();
        EXPECT_EQ(WrittenTag().mid(97, 30), QByteArray(29, 'c') + 'C') << Track;
        TMPEGAudio Mp3;
        Mp3.SetFileName(Path);
        EXPECT_EQ(Mp3.Data().Track, 0) << Track;
        EXPECT_EQ(Mp3.Data().Comment, QString(29, u'c') + u'C') << Track;
    }
}

TEST_F(ID3TagFormTest, UncheckingTheBoxRemovesTheTag) {
    Open(Audio() + TagBlock("Gone", "2000", "", 3, 13));
    EXPECT_TRUE(Box()->isChecked());
    Box()->setChecked(false);
    for (QWidget *Control : TagControls())
        EXPECT_FALSE(Control->isEnabled());
    Update();
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(ReadFile(Path), Audio());
}

TEST_F(ID3TagFormTest, UndoRestoresEveryControlAndWritesNothing) {
    const QByteArray Tagged = Audio() + TagBlock("Title", "1990", "Words", 4, 200);
    Open(Tagged);
    Edit("edTitle")->setText("changed");
    Edit("edYear")->setText("2024");
    Edit("edTrackNo")->setText("99");
    Genre()->setCurrentIndex(3);
    Box()->setChecked(false);
    Find<QPushButton>("Button1")->click();
    EXPECT_TRUE(Box()->isChecked());
    for (QWidget *Control : TagControls())
        EXPECT_TRUE(Control->isEnabled());
    EXPECT_EQ(Edit("edTitle")->text(), "Title");
    EXPECT_EQ(Edit("edYear")->text(), "1990");
    EXPECT_EQ(Edit("edTrackNo")->text(), "4");
    EXPECT_EQ(Genre()->currentText(), "200");
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(ReadFile(Path), Tagged);
}

TEST_F(ID3TagFormTest, CancelClosesWithoutWriting) {
    const QByteArray Tagged = Audio() + TagBlock("Title", "1990", "", 0, 1);
    Open(Tagged);
    Edit("edTitle")->setText("never written");
    Find<QPushButton>("btnCancel")->click();
    EXPECT_EQ(Form.result(), QDialog::Rejected);
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(ReadFile(Path), Tagged);
}

TEST_F(ID3TagFormTest, ReadOnlyFileIsLeftAloneAndTheUserIsTold) {
    const QByteArray Tagged = Audio() + TagBlock("Title", "1990", "", 0, 1);
    Open(Tagged);
    const UnwritableFile Guard(Path);
    if (!Guard.Works)
        GTEST_SKIP() << "this file system cannot make a file unwritable for root";
    Edit("edTitle")->setText("not stored");
    Update();
    EXPECT_EQ(Form.result(), QDialog::Accepted) << "the window still closes";
    EXPECT_EQ(ReadFile(Path), Tagged);
    const auto Asked = Dialogs.AskedOf(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].Caption, "Warning");
    EXPECT_TRUE(Asked[0].Text.contains("cannot be opened for writing"))
        << Asked[0].Text.toStdString();
}

TEST_F(ID3TagFormTest, WriteErrorIsShownAndTheWindowStaysOpen) {
    Open(Audio());
    Box()->setChecked(true);
    Edit("edTitle")->setText("Too big");
    {
        const FileSizeLimit Limit(Audio().size() + 10); // the append fails part-way
        ASSERT_TRUE(Limit.Works);
        Update();
    }
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(ReadFile(Path), Audio());
    const auto Asked = Dialogs.AskedOf(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].Caption, "Error");
}

TEST_F(ID3TagFormTest, FileThatIsNoLongerMpegIsNotWritten) {
    Open(Audio());
    const QByteArray Junk(5000, 'x');
    WriteFile(Path, Junk);
    Box()->setChecked(true);
    Edit("edTitle")->setText("x");
    Update();
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(ReadFile(Path), Junk);
    ASSERT_EQ(Dialogs.Asked.size(), 1u);
    EXPECT_TRUE(Dialogs.Asked[0].Text.contains("no longer MPEG audio"));
}

TEST_F(ID3TagFormTest, CharactersATagCannotHoldAreNamedBeforeWriting) {
    const QByteArray Tagged = Audio() + TagBlock("Title", "", "", 0, 255);
    Open(Tagged);
    Edit("edTitle")->setText(QStringLiteral("\u03a9mega"));
    Edit("edComment")->setText(QStringLiteral("caf\u00e9 \u2013 ok"));
    Edit("edArtist")->setText(QStringLiteral("Caf\u00e9")); // ISO-8859-1: fine
    Dialogs.MessageAnswers = {mrNo};
    Update();
    ASSERT_EQ(Dialogs.Asked.size(), 1u);
    EXPECT_TRUE(Dialogs.Asked[0].Text.startsWith("Title and Comment cannot be stored as typed"))
        << Dialogs.Asked[0].Text.toStdString();
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(ReadFile(Path), Tagged);

    Dialogs.MessageAnswers = {mrYes};
    Update();
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(WrittenTag().mid(3, 6), QByteArray("?mega\0", 6));
    EXPECT_EQ(WrittenTag().mid(33, 4), "Caf\xe9");
}

namespace {

// The editor on an MP3 of our encoder that TagLib gave an ID3v2 tag with a picture.
class ID3TagFormId3v2Test : public ID3TagFormTest {
protected:
    void OpenTagged(int Version, bool WithId3v1) {
        testmedia::WriteEncodedMp3(Path);
        testmedia::Id3v2TagFields Fields;
        Fields.version = Version;
        Fields.title = "v2 Title";
        Fields.artist = "v2 Artist";
        Fields.album = "v2 Album";
        Fields.genre = "Alternative Rock";
        Fields.year = 2020;
        Fields.track = 3;
        Fields.picture = QByteArray(2000, 'p');
        Fields.withId3v1 = WithId3v1;
        Fields.v1Title = "v1 Title";
        Fields.v1Artist = "v1 Artist";
        testmedia::TagWithTagLib(Path, Fields);
        Reopen();
    }
    void Reopen() {
        TMPEGAudio Mp3;
        Mp3.SetFileName(Path);
        ASSERT_TRUE(Mp3.IsValid());
        Form.ShowFile({true, Mp3.Data()});
        Form.show();
    }
    QString Kinds() const { return Find<QLabel>("lblTagKinds")->text(); }
};

} // namespace

TEST_F(ID3TagFormId3v2Test, ShowsTheId3v2FieldsAndUpdateWritesBothTags) {
    OpenTagged(3, true);
    EXPECT_EQ(Kinds(), "ID3v1, ID3v2.3");
    EXPECT_TRUE(Box()->isChecked());
    EXPECT_EQ(Edit("edTitle")->text(), "v2 Title");
    EXPECT_EQ(Edit("edArtist")->text(), "v2 Artist");
    EXPECT_EQ(Edit("edYear")->text(), "2020");
    EXPECT_EQ(Edit("edTrackNo")->text(), "3");
    EXPECT_EQ(Genre()->currentText(), "AlternRock") << "the list's name of Alternative Rock";
    const QByteArray Picture = testmedia::Id3v2Frame(ReadFile(Path), "APIC");
    ASSERT_FALSE(Picture.isEmpty());

    Edit("edTitle")->setText(QStringLiteral("\u00c9t\u00e9 \u041b\u0435\u0442\u043e"));
    Update();
    EXPECT_TRUE(Dialogs.Asked.empty()) << "the ID3v2 tag keeps what ID3v1 cannot";
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    const QByteArray After = ReadFile(Path);
    EXPECT_EQ(testmedia::Id3v2Version(After), 3);
    EXPECT_EQ(testmedia::Id3v2Frame(After, "APIC"), Picture);
    EXPECT_EQ(ReadId3v2Fields(Path).Title,
              QStringLiteral("\u00c9t\u00e9 \u041b\u0435\u0442\u043e"));
    EXPECT_EQ(After.right(128).mid(3, 10), QByteArray("\xc9t\xe9 ????\0\0", 10));
    EXPECT_EQ(After.right(128).mid(33, 9), "v2 Artist") << "ID3v1 gets every field shown";

    // Shown again, as the main window does after reloading the row.
    Reopen();
    EXPECT_EQ(Edit("edTitle")->text(), QStringLiteral("\u00c9t\u00e9 \u041b\u0435\u0442\u043e"));
}

TEST_F(ID3TagFormId3v2Test, OnlyAnId3v2TagKeepsTheFieldsEditable) {
    OpenTagged(4, false);
    EXPECT_EQ(Kinds(), "ID3v2.4");
    EXPECT_FALSE(Box()->isChecked());
    for (QWidget *Control : TagControls())
        EXPECT_TRUE(Control->isEnabled()) << Control->objectName().toStdString();
    EXPECT_EQ(Edit("edTitle")->text(), "v2 Title");
    const qint64 Size = ReadFile(Path).size();
    Edit("edAlbum")->setText("New Album");
    Update();
    EXPECT_EQ(ReadId3v2Fields(Path).Album, "New Album");
    EXPECT_EQ(testmedia::Id3v2Version(ReadFile(Path)), 4);
    EXPECT_FALSE(ReadFile(Path).right(128).startsWith("TAG")) << "no ID3v1 tag was asked for";
    EXPECT_EQ(ReadFile(Path).size(), Size) << "the tag's padding took the longer album";

    // Undo brings back the ID3v2 values, not the file name as a title.
    Reopen();
    Edit("edTitle")->setText("typed");
    Find<QPushButton>("Button1")->click();
    EXPECT_EQ(Edit("edTitle")->text(), "v2 Title");
}

TEST_F(ID3TagFormId3v2Test, WriteErrorLeavesTheFileAndKeepsTheWindowOpen) {
    OpenTagged(3, true);
    const QByteArray Before = ReadFile(Path);
    Edit("edTitle")->setText("Never");
    {
        const FileSizeLimit Limit(Before.size() - 1000); // the copy fails near its end
        ASSERT_TRUE(Limit.Works);
        Update();
    }
    EXPECT_EQ(ReadFile(Path), Before);
    ASSERT_EQ(Dialogs.Asked.size(), 1u);
    EXPECT_EQ(Dialogs.Asked[0].Caption, "Error");
    EXPECT_TRUE(Form.isVisible());
}

// Not a test: with BRINDLE_SCREENSHOT_DIR set, saves a picture of the editor on a file with
// both tags for the documentation (run under xvfb-run with QT_QPA_PLATFORM=xcb).
TEST_F(ID3TagFormId3v2Test, Screenshot) {
    const QString Folder = qEnvironmentVariable("BRINDLE_SCREENSHOT_DIR");
    if (Folder.isEmpty())
        GTEST_SKIP() << "BRINDLE_SCREENSHOT_DIR is not set";
    Path = Dir.filePath("Harbour Lights.mp3");
    OpenTagged(3, true);
    Edit("edTitle")->setText(QStringLiteral("Harbour Lights \u2013 \u00c9t\u00e9"));
    Edit("edArtist")->setText("The Quiet Hours");
    Edit("edComment")->setText("Cover kept");
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(20);
    }
    const QPixmap Shot =
        QGuiApplication::platformName() == "xcb"
            ? QGuiApplication::primaryScreen()->grabWindow(0).copy(Form.frameGeometry())
            : Form.grab();
    EXPECT_TRUE(Shot.save(QDir(Folder).filePath("tag-editor-id3v2.png")));
}
