#include "platform/UserDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

// Lets the event loop run until Window is the active window, for at most two seconds.
bool WaitActive(QWidget *Window) {
    QElapsedTimer clock;
    clock.start();
    while (QApplication::activeWindow() != Window && clock.elapsed() < 2000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return QApplication::activeWindow() == Window;
}

// A window with two fields, shown and active, the focus in the second.
struct TWindowWithFields {
    TWindowWithFields() {
        auto *layout = new QVBoxLayout(&Window);
        layout->addWidget(First);
        layout->addWidget(Second);
        Window.show();
        Window.activateWindow();
        EXPECT_TRUE(WaitActive(&Window));
        Second->setFocus();
    }
    QWidget Window;
    QLineEdit *First = new QLineEdit;
    QLineEdit *Second = new QLineEdit;
};

// Answers the next message box with OK after Before ran while it was up.
void AnswerNextBox(std::function<void()> Before) {
    QTimer::singleShot(0, [Before = std::move(Before)] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        Before();
        box->button(QMessageBox::Ok)->click();
    });
}

TEST(FocusReturn, TheAskingWindowHasTheFocusBackAfterAQuestion) {
    TWindowWithFields asking;
    // While the question is up another window takes the activation, as a desktop may do
    // when a window closes; the answer must not leave the keyboard there.
    QWidget other;
    AnswerNextBox([&] {
        other.show();
        other.activateWindow();
        WaitActive(&other);
    });
    EXPECT_EQ(
        UserDialogs().MessageBox(asking.Second, "Go on?", "Confirmation", TMsgIcon::Question, mbOK),
        mrOk);
    EXPECT_TRUE(WaitActive(&asking.Window));
    EXPECT_EQ(QApplication::activeWindow(), &asking.Window);
    EXPECT_EQ(QApplication::focusWidget(), asking.Second);
}

TEST(FocusReturn, AQuestionFromADialogGivesTheFocusBackToTheDialog) {
    TWindowWithFields main;
    QDialog dialog(&main.Window);
    auto *field = new QLineEdit(&dialog);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(WaitActive(&dialog));
    field->setFocus();
    AnswerNextBox([&] { main.Window.activateWindow(); });
    UserDialogs().MessageBox(&dialog, "The folder does not exist.", "Error", TMsgIcon::Error, mbOK);
    EXPECT_TRUE(WaitActive(&dialog));
    EXPECT_EQ(QApplication::focusWidget(), field);
}

TEST(FocusReturn, AWindowThatWentOrHidMeanwhileIsLeftAlone) {
    auto *gone = new QWidget;
    gone->show();
    {
        TFocusReturn Return(gone);
        delete gone; // nothing may be touched when the guard ends
    }
    QWidget hidden;
    hidden.show();
    {
        TFocusReturn Return(&hidden);
        hidden.hide();
    }
    EXPECT_FALSE(hidden.isVisible()) << "a hidden window is not shown again";
}

} // namespace
