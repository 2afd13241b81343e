#pragma once

#include "platform/UserDialogs.h"
#include "settings/Config.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <vector>

// A scripted IUserDialogs for tests: every question takes the next answer from its queue and
// is recorded in Asked. It installs itself for its lifetime, so a test only declares one:
//
//     ScriptedDialogs Dialogs;
//     Dialogs.MessageAnswers.push_back(mrYes);
//     ... drive the window ...
//     EXPECT_EQ(Dialogs.Asked.size(), 1u);
//     EXPECT_EQ(Dialogs.Unanswered, 0);
//
// A question whose queue is empty is answered as Escape would answer it (Cancel, else No,
// else OK; an empty folder or file list; Cancel for the overwrite question) and counted in
// Unanswered, so a test sees questions it did not expect instead of hanging on a modal box.
class ScriptedDialogs : public IUserDialogs {
public:
    enum class Kind { Message, Folder, Files, Overwrite };

    // One question as it was asked; only the members of its kind are filled.
    struct Question {
        Kind What = Kind::Message;
        QWidget *Parent = nullptr;
        QString Text;    // message text; the path of the overwrite question
        QString Caption; // caption of the box or dialog
        TMsgIcon Icon = TMsgIcon::None;
        int Buttons = 0;
        QString Folder; // start folder of the folder chooser and of the open dialog
        QString Filter; // filter of the open dialog
    };

    // An answer to the overwrite question, with the state of its "always overwrite" box.
    struct OverwriteAnswer {
        int Answer = mrCancel;
        bool AlwaysOverwrite = false;
    };

    ScriptedDialogs() { SetUserDialogs(this); }
    ~ScriptedDialogs() override { SetUserDialogs(nullptr); }
    ScriptedDialogs(const ScriptedDialogs &) = delete;
    ScriptedDialogs &operator=(const ScriptedDialogs &) = delete;

    std::deque<int> MessageAnswers; // TModalResult values
    std::deque<QString> FolderAnswers;
    std::deque<QStringList> FileAnswers;
    std::deque<OverwriteAnswer> OverwriteAnswers;
    // When set, every overwrite answer sets OverwritePrompt to the opposite of its
    // AlwaysOverwrite, as the program's overwrite window does whatever button is pressed.
    TConfig *Config = nullptr;

    std::vector<Question> Asked;
    int Unanswered = 0;

    // The questions of one kind, in the order asked.
    std::vector<Question> AskedOf(Kind What) const {
        std::vector<Question> Result;
        for (const Question &Q : Asked)
            if (Q.What == What)
                Result.push_back(Q);
        return Result;
    }

    int MessageBox(QWidget *Parent, const QString &Text, const QString &Caption, TMsgIcon Icon,
                   int Buttons) override {
        Question Q;
        Q.What = Kind::Message;
        Q.Parent = Parent;
        Q.Text = Text;
        Q.Caption = Caption;
        Q.Icon = Icon;
        Q.Buttons = Buttons;
        Asked.push_back(Q);
        if (MessageAnswers.empty()) {
            ++Unanswered;
            if (Buttons & mbCancel)
                return mrCancel;
            if (Buttons & mbNo)
                return mrNo;
            return mrOk;
        }
        const int Answer = MessageAnswers.front();
        MessageAnswers.pop_front();
        return Answer;
    }

    QString ChooseFolder(QWidget *Parent, const QString &Caption, const QString &Start) override {
        Question Q;
        Q.What = Kind::Folder;
        Q.Parent = Parent;
        Q.Caption = Caption;
        Q.Folder = Start;
        Asked.push_back(Q);
        if (FolderAnswers.empty()) {
            ++Unanswered;
            return {};
        }
        QString Answer = FolderAnswers.front();
        FolderAnswers.pop_front();
        return Answer;
    }

    QStringList OpenFiles(QWidget *Parent, const QString &Caption, const QString &Folder,
                          const QString &Filter) override {
        Question Q;
        Q.What = Kind::Files;
        Q.Parent = Parent;
        Q.Caption = Caption;
        Q.Folder = Folder;
        Q.Filter = Filter;
        Asked.push_back(Q);
        if (FileAnswers.empty()) {
            ++Unanswered;
            return {};
        }
        QStringList Answer = FileAnswers.front();
        FileAnswers.pop_front();
        return Answer;
    }

    int ConfirmOverwrite(QWidget *Parent, const QString &Path) override {
        Question Q;
        Q.What = Kind::Overwrite;
        Q.Parent = Parent;
        Q.Text = Path;
        Asked.push_back(Q);
        OverwriteAnswer Answer;
        if (OverwriteAnswers.empty()) {
            ++Unanswered;
        } else {
            Answer = OverwriteAnswers.front();
            OverwriteAnswers.pop_front();
        }
        if (Config != nullptr)
            Config->OverwritePrompt = !Answer.AlwaysOverwrite;
        return Answer.Answer;
    }
};
