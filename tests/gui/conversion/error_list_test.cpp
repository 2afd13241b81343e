#include "ModalDriver.h"
#include "conversion/DispForm.h"
#include "settings/Config.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace {

class ErrorListTest : public ::testing::Test {
protected:
    TConfig Config;
    TDispForm Form{Config};

    QPlainTextEdit *Memo() { return Form.findChild<QPlainTextEdit *>("MessageMemo"); }
    QCheckBox *PromptBox() { return Form.findChild<QCheckBox *>("chkPromptOption"); }
    QPushButton *OkButton() {
        for (QPushButton *Button : Form.findChildren<QPushButton *>())
            if (Button->text() == "OK")
                return Button;
        return nullptr;
    }

    // Shows the list as the main window does and presses OK; returns the caption shown.
    QString ShowAndPressOk(std::function<void()> WhileShown = {}) {
        QString Caption;
        ModalDriver Driver([&](QWidget *Modal) {
            EXPECT_EQ(Modal, &Form);
            Caption = Form.windowTitle();
            if (WhileShown)
                WhileShown();
            OkButton()->click();
        });
        Form.exec();
        EXPECT_FALSE(Driver.TimedOut);
        return Caption;
    }
};

TEST_F(ErrorListTest, StartsEmpty) {
    EXPECT_EQ(Form.ErrorCount(), 0);
    EXPECT_TRUE(Form.Lines().isEmpty());
    EXPECT_TRUE(Memo()->toPlainText().isEmpty());
}

TEST_F(ErrorListTest, TwoFailuresGiveTwoLinesInOrderAndTheCountInTheCaption) {
    Form.AddMessage("Source file '/in/a.wav' can't be open, convert error.");
    Form.AddMessage("Conversion Error: /in/b.MP3");
    EXPECT_EQ(Form.ErrorCount(), 2);
    EXPECT_EQ(Memo()->toPlainText(),
              "Source file '/in/a.wav' can't be open, convert error.\nConversion Error: /in/b.MP3");
    EXPECT_EQ(ShowAndPressOk(), "2 Error(s) occured during conversion session.");
}

TEST_F(ErrorListTest, ClearMessagesEmptiesCountAndLines) {
    Form.AddMessage("first batch");
    Form.AddNote("Error read file: /x.wav");
    Form.ClearMessages();
    EXPECT_EQ(Form.ErrorCount(), 0);
    EXPECT_TRUE(Form.Lines().isEmpty());
    Form.AddMessage("second batch");
    EXPECT_EQ(Form.Lines(), QStringList{"second batch"});
    EXPECT_EQ(Form.ErrorCount(), 1);
}

TEST_F(ErrorListTest, LinesPersistAfterShowingUntilCleared) {
    Form.AddMessage("a");
    ShowAndPressOk();
    EXPECT_EQ(Form.ErrorCount(), 1);
    EXPECT_EQ(Form.Lines(), QStringList{"a"});
}

TEST_F(ErrorListTest, NotesAreListedButNotCounted) {
    Form.AddNote("Error read file: /x.wav");
    Form.AddMessage("Can't delete the converted wave files: /out/y.MP3");
    EXPECT_EQ(Form.ErrorCount(), 1);
    EXPECT_EQ(Form.Lines(), QStringList({"Error read file: /x.wav",
                                         "Can't delete the converted wave files: /out/y.MP3"}));
}

TEST_F(ErrorListTest, AnEmptyMessageStillTakesALine) {
    Form.AddMessage("");
    Form.AddMessage("b");
    EXPECT_EQ(Form.Lines(), QStringList({"", "b"}));
}

TEST_F(ErrorListTest, ShowsItsLabelReadOnlyListAndDefaultOk) {
    bool LabelShown = false;
    for (QLabel *Label : Form.findChildren<QLabel *>())
        LabelShown |= Label->objectName() == "lblErrorMsg" && Label->text() == "Error Messages:";
    EXPECT_TRUE(LabelShown);
    ASSERT_NE(Memo(), nullptr);
    EXPECT_TRUE(Memo()->isReadOnly());
    ASSERT_NE(OkButton(), nullptr);
    EXPECT_TRUE(OkButton()->isDefault());
    ASSERT_NE(PromptBox(), nullptr);
    EXPECT_EQ(PromptBox()->text(), "Don't show this error message dialog again");
}

TEST_F(ErrorListTest, PromptBoxIsHiddenAndUncheckedWhenShown) {
    PromptBox()->setChecked(true);
    bool Visible = true, Checked = true;
    ShowAndPressOk([&] {
        Visible = PromptBox()->isVisible();
        Checked = PromptBox()->isChecked();
    });
    EXPECT_FALSE(Visible);
    EXPECT_FALSE(Checked);
}

TEST_F(ErrorListTest, ClosingLeavesShowErrorMessageOn) {
    Config.ShowErrorMessage = true;
    Form.AddMessage("x");
    ShowAndPressOk();
    EXPECT_TRUE(Config.ShowErrorMessage);
}

TEST_F(ErrorListTest, ClosingSetsShowErrorMessageToTheOppositeOfThePromptBox) {
    ShowAndPressOk([&] { PromptBox()->setChecked(true); });
    EXPECT_FALSE(Config.ShowErrorMessage);
    ShowAndPressOk();
    EXPECT_TRUE(Config.ShowErrorMessage);
}

TEST_F(ErrorListTest, EscapeAndTheCloseBoxCloseItLikeOk) {
    ModalDriver Escape([&](QWidget *Modal) {
        PromptBox()->setChecked(true);
        QKeyEvent Press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(Modal, &Press);
    });
    Form.exec();
    EXPECT_FALSE(Escape.TimedOut);
    EXPECT_FALSE(Config.ShowErrorMessage);

    ModalDriver Close([](QWidget *Modal) { Modal->close(); });
    Form.exec();
    EXPECT_FALSE(Close.TimedOut);
    EXPECT_TRUE(Config.ShowErrorMessage);
}

TEST_F(ErrorListTest, CopyPutsEveryLineOnTheClipboard) {
    QGuiApplication::clipboard()->setText("before");
    Form.AddMessage("Source file '/in/a.wav' can't be open, convert error.");
    Form.AddNote("  the file is too short");
    Form.AddMessage("Conversion Error: /in/b.MP3");
    auto *copy = Form.findChild<QPushButton *>("btnCopy");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text(), "&Copy");
    EXPECT_FALSE(copy->isDefault()) << "Enter still closes the list";
    ShowAndPressOk([&] { copy->click(); });
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              "Source file '/in/a.wav' can't be open, convert error.\n"
              "  the file is too short\n"
              "Conversion Error: /in/b.MP3");

    // After ClearMessages there is nothing left to copy.
    Form.ClearMessages();
    Form.CopyLines();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "");
}

TEST_F(ErrorListTest, ALongLineStaysWholeAndScrollsSideways) {
    const QString path = "/music/" + QString(300, 'x') + "/track.wav";
    Form.AddMessage(QStringLiteral("Conversion Error: ") + path);
    Form.AddMessage("short");
    int scrollRange = 0;
    ShowAndPressOk([&] { scrollRange = Memo()->horizontalScrollBar()->maximum(); });
    EXPECT_GT(scrollRange, 0) << "the end of the long line is reachable";
    EXPECT_EQ(Memo()->document()->blockCount(), 2) << "one line per error, not cut or broken";
    EXPECT_EQ(Memo()->document()->firstBlock().text(), "Conversion Error: " + path);
}

TEST_F(ErrorListTest, EveryFocusableControlHasAnAccessibleName) {
    Form.AddMessage("x");
    QStringList nameless;
    int checked = 0;
    ShowAndPressOk([&] {
        for (QWidget *w : Form.findChildren<QWidget *>()) {
            if (w->focusPolicy() == Qt::NoFocus || !w->isVisible())
                continue;
            ++checked;
            QAccessibleInterface *face = QAccessible::queryAccessibleInterface(w);
            if (!face || face->text(QAccessible::Name).trimmed().isEmpty())
                nameless << w->objectName();
        }
    });
    EXPECT_GE(checked, 3) << "the list, Copy and OK";
    EXPECT_TRUE(nameless.isEmpty()) << nameless.join(", ").toStdString();
}

TEST_F(ErrorListTest, ItsSizeIsKeptForTheNextShowingAndTheNextRun) {
    Form.AddMessage("x");
    ShowAndPressOk([&] { Form.resize(700, 430); });
    QSize again;
    ShowAndPressOk([&] { again = Form.size(); });
    EXPECT_EQ(again, QSize(700, 430));

    // Another list made with the same settings, as after a restart, opens at that size.
    TDispForm next(Config);
    next.AddMessage("y");
    QSize shown;
    ModalDriver driver([&](QWidget *) {
        shown = next.size();
        next.accept();
    });
    next.exec();
    EXPECT_EQ(shown, QSize(700, 430));
}

} // namespace
