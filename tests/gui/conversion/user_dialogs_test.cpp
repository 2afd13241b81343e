#include "ModalDriver.h"
#include "platform/UserDialogs.h"
#include "support/ScriptedDialogs.h"

#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

// The descriptions and patterns of a Qt filter, split as the file dialog splits them.
struct FilterEntry {
    QString Description;
    QStringList Patterns;
};

std::vector<FilterEntry> ParseQtFilter(const QString &Filter) {
    static const QRegularExpression Group(QStringLiteral("^(.*) \\(([^()]*)\\)$"));
    std::vector<FilterEntry> Entries;
    for (const QString &Entry : Filter.split(";;")) {
        const auto Match = Group.match(Entry);
        EXPECT_TRUE(Match.hasMatch()) << Entry.toStdString();
        Entries.push_back({Match.captured(1), Match.captured(2).split(u' ')});
    }
    return Entries;
}

// Whether the file dialog would list Name under Entry; the dialog's own matching may
// ignore case, so this matches case-sensitively, as native dialogs on Linux do.
bool Matches(const FilterEntry &Entry, const QString &Name) {
    for (const QString &Pattern : Entry.Patterns) {
        const QRegularExpression Re(QRegularExpression::wildcardToRegularExpression(Pattern));
        if (Re.match(Name).hasMatch())
            return true;
    }
    return false;
}

TEST(CaseInsensitiveFilter, TheMp3ListsFilterTakesEveryLetterCase) {
    const auto Entries = CaseInsensitiveFilter(
        "MP3 & PlayList Files(*.MP3;*.MP2;*.MP1;*.M3U;*.PLS)|*.MP3; *.MP2; *.MP1;*.M3U;*.PLS");
    const auto Parsed = ParseQtFilter(Entries);
    ASSERT_EQ(Parsed.size(), 1u);
    EXPECT_EQ(Parsed[0].Description, "MP3 & PlayList Files(*.MP3;*.MP2;*.MP1;*.M3U;*.PLS)");
    for (const char *Name : {"a.MP3", "a.mp3", "a.Mp2", "b.mP1", "list.m3u", "list.Pls"})
        EXPECT_TRUE(Matches(Parsed[0], Name)) << Name;
    for (const char *Name : {"a.wav", "a.mp3.bak", "mp3", "a.mp4"})
        EXPECT_FALSE(Matches(Parsed[0], Name)) << Name;
}

TEST(CaseInsensitiveFilter, TheWaveListsFilterTakesEveryLetterCase) {
    const auto Parsed = ParseQtFilter(
        CaseInsensitiveFilter("Wave PCM& PlayList Files (*.Wav;*.M3U;*.PLS)|*.Wav;*.M3U;*.PLS"));
    ASSERT_EQ(Parsed.size(), 1u);
    EXPECT_EQ(Parsed[0].Description, "Wave PCM& PlayList Files (*.Wav;*.M3U;*.PLS)");
    for (const char *Name : {"a.wav", "a.WAV", "a.Wav", "x.M3U", "x.pls"})
        EXPECT_TRUE(Matches(Parsed[0], Name)) << Name;
    EXPECT_FALSE(Matches(Parsed[0], "a.mp3"));
}

TEST(CaseInsensitiveFilter, SeveralEntriesAndQtFormKeepTheirDescriptions) {
    auto Parsed = ParseQtFilter(CaseInsensitiveFilter("Wave (*.wav)|*.wav|All files|*.*"));
    ASSERT_EQ(Parsed.size(), 2u);
    EXPECT_EQ(Parsed[1].Description, "All files");
    EXPECT_TRUE(Matches(Parsed[1], "x.y"));

    Parsed = ParseQtFilter(CaseInsensitiveFilter("Wave files (*.wav *.wave);;Playlists (*.m3u)"));
    ASSERT_EQ(Parsed.size(), 2u);
    EXPECT_EQ(Parsed[0].Description, "Wave files (*.wav *.wave)");
    EXPECT_TRUE(Matches(Parsed[0], "A.WAVE"));
    EXPECT_TRUE(Matches(Parsed[1], "A.M3U"));
    EXPECT_FALSE(Matches(Parsed[1], "A.WAV"));
}

// The Qt message box behind the seam: caption, text, icon and buttons as asked, and the
// answer of the button pressed.
struct ShownBox {
    QString Caption, Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons;
    QMessageBox::StandardButton Default = QMessageBox::NoButton;
};

int AskAndPress(TMsgIcon Icon, int Buttons, QMessageBox::StandardButton Press, ShownBox &Shown) {
    ModalDriver Driver([&](QWidget *Modal) {
        auto *Box = qobject_cast<QMessageBox *>(Modal);
        ASSERT_NE(Box, nullptr);
        Shown.Caption = Box->windowTitle();
        Shown.Text = Box->text();
        Shown.Icon = Box->icon();
        Shown.Buttons = Box->standardButtons();
        Shown.Default = Box->standardButton(Box->defaultButton());
        if (Press == QMessageBox::Escape) {
            QKeyEvent Key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(Box, &Key);
        } else {
            Box->button(Press)->click();
        }
    });
    return UserDialogs().MessageBox(nullptr, "Delete the file?", "Confirmation", Icon, Buttons);
}

TEST(QtMessageBox, ShowsCaptionTextIconAndButtonsAndAnswersThePressedOne) {
    ShownBox Shown;
    EXPECT_EQ(AskAndPress(TMsgIcon::Question, mbYes | mbNo, QMessageBox::No, Shown), mrNo);
    EXPECT_EQ(Shown.Caption, "Confirmation");
    EXPECT_EQ(Shown.Text, "Delete the file?");
    EXPECT_EQ(Shown.Icon, QMessageBox::Question);
    EXPECT_EQ(Shown.Buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(Shown.Default, QMessageBox::Yes);

    EXPECT_EQ(AskAndPress(TMsgIcon::Warning, mbYes | mbNo | mbCancel, QMessageBox::Yes, Shown),
              mrYes);
    EXPECT_EQ(Shown.Icon, QMessageBox::Warning);
    EXPECT_EQ(AskAndPress(TMsgIcon::Error, mbOK, QMessageBox::Ok, Shown), mrOk);
    EXPECT_EQ(Shown.Icon, QMessageBox::Critical);
    EXPECT_EQ(AskAndPress(TMsgIcon::Information, mbOK | mbCancel, QMessageBox::Cancel, Shown),
              mrCancel);
    EXPECT_EQ(Shown.Icon, QMessageBox::Information);
    EXPECT_EQ(Shown.Default, QMessageBox::Ok);
}

TEST(QtMessageBox, EscapeAnswersCancelElseNo) {
    ShownBox Shown;
    EXPECT_EQ(AskAndPress(TMsgIcon::Question, mbYes | mbNo | mbCancel, QMessageBox::Escape, Shown),
              mrCancel);
    EXPECT_EQ(AskAndPress(TMsgIcon::Question, mbYes | mbNo, QMessageBox::Escape, Shown), mrNo);
}

TEST(QtFileDialogs, ChooseFolderAndOpenFilesAnswerEmptyWhenCancelled) {
    ModalDriver Folder([](QWidget *Modal) {
        auto *Dialog = qobject_cast<QFileDialog *>(Modal);
        ASSERT_NE(Dialog, nullptr);
        EXPECT_EQ(Dialog->windowTitle(), "Select Directory");
        EXPECT_EQ(Dialog->fileMode(), QFileDialog::Directory);
        Dialog->reject();
    });
    EXPECT_TRUE(UserDialogs().ChooseFolder(nullptr, "Select Directory", "/").isEmpty());

    ModalDriver Files([](QWidget *Modal) {
        auto *Dialog = qobject_cast<QFileDialog *>(Modal);
        ASSERT_NE(Dialog, nullptr);
        EXPECT_EQ(Dialog->fileMode(), QFileDialog::ExistingFiles);
        Dialog->reject();
    });
    EXPECT_TRUE(UserDialogs().OpenFiles(nullptr, "Open", "/", "Wave|*.WAV").isEmpty());
}

TEST(ScriptedDialogsSeam, InstallsItselfForItsLifetime) {
    IUserDialogs *Before = &UserDialogs();
    {
        ScriptedDialogs Dialogs;
        EXPECT_EQ(&UserDialogs(), &Dialogs);
    }
    EXPECT_EQ(&UserDialogs(), Before);
}

TEST(ScriptedDialogsSeam, AnswersFromItsQueuesAndRecordsEveryQuestion) {
    ScriptedDialogs Dialogs;
    Dialogs.MessageAnswers = {mrNo};
    Dialogs.FolderAnswers = {"/music"};
    Dialogs.FileAnswers = {{"/a.wav", "/b.wav"}};
    EXPECT_EQ(UserDialogs().MessageBox(nullptr, "T", "Warning", TMsgIcon::Warning, mbYes | mbNo),
              mrNo);
    EXPECT_EQ(UserDialogs().ChooseFolder(nullptr, "Select Directory", "/start"), "/music");
    EXPECT_EQ(UserDialogs().OpenFiles(nullptr, "Open", "/in", "W|*.WAV"),
              QStringList({"/a.wav", "/b.wav"}));
    ASSERT_EQ(Dialogs.Asked.size(), 3u);
    EXPECT_EQ(Dialogs.Asked[0].Caption, "Warning");
    EXPECT_EQ(Dialogs.Asked[0].Buttons, mbYes | mbNo);
    EXPECT_EQ(Dialogs.Asked[1].Folder, "/start");
    EXPECT_EQ(Dialogs.Asked[2].Filter, "W|*.WAV");
    EXPECT_EQ(Dialogs.Unanswered, 0);
}

TEST(ScriptedDialogsSeam, UnexpectedQuestionsAreAnsweredLikeEscapeAndCounted) {
    ScriptedDialogs Dialogs;
    EXPECT_EQ(UserDialogs().MessageBox(nullptr, "", "", TMsgIcon::None, mbYes | mbNo | mbCancel),
              mrCancel);
    EXPECT_EQ(UserDialogs().MessageBox(nullptr, "", "", TMsgIcon::None, mbYes | mbNo), mrNo);
    EXPECT_EQ(UserDialogs().MessageBox(nullptr, "", "", TMsgIcon::None, mbOK), mrOk);
    EXPECT_TRUE(UserDialogs().ChooseFolder(nullptr, "", "").isEmpty());
    EXPECT_TRUE(UserDialogs().OpenFiles(nullptr, "", "", "").isEmpty());
    EXPECT_EQ(Dialogs.Unanswered, 5);
}

} // namespace
