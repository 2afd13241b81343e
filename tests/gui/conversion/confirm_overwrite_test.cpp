#include "ModalDriver.h"
#include "conversion/ConfirmOvwrtForm.h"
#include "platform/UserDialogs.h"
#include "settings/Config.h"
#include "support/ScriptedDialogs.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

class ConfirmOverwriteTest : public ::testing::Test {
protected:
    TConfig Config;
    TConfirmOvwrtForm Form{Config};

    QPushButton *Button(const char *Name) {
        return Form.findChild<QPushButton *>(QString::fromUtf8(Name));
    }
    QCheckBox *AlwaysBox() { return Form.findChild<QCheckBox *>("chkbAlwaysOverwrite"); }

    // Asks about Path and presses the named button; ShownPath receives the text shown.
    int AnswerWith(const char *Name, const QString &Path = "/music/song.MP3",
                   QString *ShownPath = nullptr) {
        ModalDriver Driver([&](QWidget *Modal) {
            EXPECT_EQ(Modal, &Form);
            if (ShownPath != nullptr)
                *ShownPath = Form.findChild<QPlainTextEdit *>("stxtFileName")->toPlainText();
            Button(Name)->click();
        });
        const int Answer = Form.ConfirmOverwrite(Path);
        EXPECT_FALSE(Driver.TimedOut);
        return Answer;
    }
};

struct ButtonCase {
    const char *Name;
    const char *Caption;
    int Answer;
};

class ConfirmOverwriteButtons : public ConfirmOverwriteTest,
                                public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ConfirmOverwriteButtons, EachButtonClosesTheWindowWithItsAnswer) {
    const ButtonCase &Case = GetParam();
    ASSERT_NE(Button(Case.Name), nullptr);
    EXPECT_EQ(Button(Case.Name)->text(), QString::fromUtf8(Case.Caption));
    EXPECT_EQ(AnswerWith(Case.Name), Case.Answer);
    EXPECT_FALSE(Form.isVisible());
}

INSTANTIATE_TEST_SUITE_P(AllFive, ConfirmOverwriteButtons,
                         ::testing::Values(ButtonCase{"btnYes", "&Yes", 6},
                                           ButtonCase{"btnYestoAll", "Yes to &All", 10},
                                           ButtonCase{"btnNo", "&Skip", 7},
                                           ButtonCase{"btnNotoAll", "Sk&ip All", 9},
                                           ButtonCase{"btnCancel", "&Cancel", 2}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(ConfirmOverwriteTest, ButtonsStandLeftToRightInTheirOrder) {
    Form.show();
    const char *Order[] = {"btnYes", "btnYestoAll", "btnNo", "btnNotoAll", "btnCancel"};
    for (int I = 1; I < 5; ++I)
        EXPECT_LT(Button(Order[I - 1])->geometry().x(), Button(Order[I])->geometry().x())
            << Order[I];
    Form.hide();
}

TEST_F(ConfirmOverwriteTest, ShowsItsCaptionQuestionAndBox) {
    EXPECT_EQ(Form.windowTitle(), "Confirm overwrite existing file(s)");
    bool QuestionShown = false;
    for (QLabel *Label : Form.findChildren<QLabel *>())
        QuestionShown |= Label->text() == "Do you wish overwrite this file?";
    EXPECT_TRUE(QuestionShown);
    ASSERT_NE(AlwaysBox(), nullptr);
    EXPECT_EQ(AlwaysBox()->text(), "Always overwrite. Never ask this question again.");
    EXPECT_FALSE(AlwaysBox()->isChecked());
}

TEST_F(ConfirmOverwriteTest, ShowsThePathInDoubleQuotesAndNothingElse) {
    const QString Paths[] = {"/music/song.MP3", "/home/anna/My Music/Track 01 – Ünïcode.WAV",
                             "/" + QString(300, u'x') + ".MP3"};
    for (const QString &Path : Paths) {
        QString Shown;
        AnswerWith("btnYes", Path, &Shown);
        EXPECT_EQ(Shown, u'"' + Path + u'"');
    }
}

TEST_F(ConfirmOverwriteTest, EscapeAndTheCloseBoxAnswerCancel) {
    ModalDriver Escape([](QWidget *Modal) {
        QKeyEvent Press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(Modal, &Press);
    });
    EXPECT_EQ(Form.ConfirmOverwrite("/a.MP3"), mrCancel);
    EXPECT_FALSE(Escape.TimedOut);

    ModalDriver Close([](QWidget *Modal) { Modal->close(); });
    EXPECT_EQ(Form.ConfirmOverwrite("/a.MP3"), mrCancel);
    EXPECT_FALSE(Close.TimedOut);
}

TEST_F(ConfirmOverwriteTest, AlwaysBoxTurnsThePromptOffWhateverTheButton) {
    for (const char *Name : {"btnYes", "btnYestoAll", "btnNo", "btnNotoAll", "btnCancel"}) {
        Config.OverwritePrompt = true;
        AlwaysBox()->setChecked(true);
        AnswerWith(Name);
        EXPECT_FALSE(Config.OverwritePrompt) << Name;
    }
}

TEST_F(ConfirmOverwriteTest, UncheckedBoxLeavesThePromptOnWhateverTheButton) {
    for (const char *Name : {"btnYes", "btnYestoAll", "btnNo", "btnNotoAll", "btnCancel"}) {
        Config.OverwritePrompt = false;
        AnswerWith(Name);
        EXPECT_TRUE(Config.OverwritePrompt) << Name;
    }
}

TEST_F(ConfirmOverwriteTest, CheckingTheBoxWhileAskedCountsForThatAnswer) {
    ModalDriver Driver([this](QWidget *) {
        AlwaysBox()->click();
        Button("btnNo")->click();
    });
    EXPECT_EQ(Form.ConfirmOverwrite("/a.MP3"), mrNo);
    EXPECT_FALSE(Config.OverwritePrompt);
}

TEST_F(ConfirmOverwriteTest, BoxKeepsItsStateFromOneShowingToTheNext) {
    ModalDriver First([this](QWidget *) {
        AlwaysBox()->click();
        Button("btnYes")->click();
    });
    Form.ConfirmOverwrite("/a.MP3");
    QString Shown;
    AnswerWith("btnCancel", "/b.MP3", &Shown);
    EXPECT_TRUE(AlwaysBox()->isChecked());
    EXPECT_FALSE(Config.OverwritePrompt);
    EXPECT_EQ(Shown, "\"/b.MP3\"");
}

// The batch runner asks through the dialogs seam; in the program that is this window.
TEST_F(ConfirmOverwriteTest, TheSeamAsksThroughTheProgramsWindow) {
    EXPECT_EQ(TConfirmOvwrtForm::Current(), &Form);
    QString Shown;
    ModalDriver Driver([&](QWidget *Modal) {
        EXPECT_EQ(Modal, &Form);
        Shown = Form.findChild<QPlainTextEdit *>("stxtFileName")->toPlainText();
        AlwaysBox()->setChecked(true);
        Button("btnNotoAll")->click();
    });
    EXPECT_EQ(UserDialogs().ConfirmOverwrite(nullptr, "/x/y.WAV"), mrNoToAll);
    EXPECT_EQ(Shown, "\"/x/y.WAV\"");
    EXPECT_FALSE(Config.OverwritePrompt);
}

TEST(ConfirmOverwriteSeam, WithoutTheWindowAPlainBoxAsksTheSameQuestion) {
    ASSERT_EQ(TConfirmOvwrtForm::Current(), nullptr);
    QString Caption, Text;
    QStringList Captions;
    ModalDriver Driver([&](QWidget *Modal) {
        auto *Box = qobject_cast<QMessageBox *>(Modal);
        ASSERT_NE(Box, nullptr);
        Caption = Box->windowTitle();
        Text = Box->text();
        for (QAbstractButton *B : Box->buttons())
            Captions << B->text();
        for (QAbstractButton *B : Box->buttons())
            if (B->text() == "Sk&ip All")
                B->click();
    });
    EXPECT_EQ(UserDialogs().ConfirmOverwrite(nullptr, "/x/y.WAV"), mrNoToAll);
    EXPECT_EQ(Caption, "Confirm overwrite existing file(s)");
    EXPECT_TRUE(Text.contains("\"/x/y.WAV\""));
    Captions.sort();
    EXPECT_EQ(Captions, QStringList({"&Cancel", "&Skip", "&Yes", "Sk&ip All", "Yes to &All"}));
}

TEST(ScriptedOverwrite, AnswersInOrderAndSetsThePromptLikeTheWindow) {
    TConfig Config;
    ScriptedDialogs Dialogs;
    Dialogs.Config = &Config;
    Dialogs.OverwriteAnswers = {{mrNo, true}, {mrYesToAll, false}};
    EXPECT_EQ(UserDialogs().ConfirmOverwrite(nullptr, "/a.MP3"), mrNo);
    EXPECT_FALSE(Config.OverwritePrompt);
    EXPECT_EQ(UserDialogs().ConfirmOverwrite(nullptr, "/b.MP3"), mrYesToAll);
    EXPECT_TRUE(Config.OverwritePrompt);
    EXPECT_EQ(UserDialogs().ConfirmOverwrite(nullptr, "/c.MP3"), mrCancel);
    EXPECT_EQ(Dialogs.Unanswered, 1);
    const auto Asked = Dialogs.AskedOf(ScriptedDialogs::Kind::Overwrite);
    ASSERT_EQ(Asked.size(), 3u);
    EXPECT_EQ(Asked[1].Text, "/b.MP3");
}

} // namespace
