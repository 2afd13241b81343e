#pragma once

#include "platform/ModalResults.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

enum class TMsgIcon { None, Information, Exclamation, Warning, Error, Question };

// Buttons of a message box, combinable.
enum TMsgButtons { mbOK = 1, mbCancel = 2, mbYes = 4, mbNo = 8 };

// Every question the windows ask the user goes through here, so that tests can script the
// answers and the windows run headless. The program installs the Qt implementation at
// start; tests install a scripted one.
class IUserDialogs {
public:
    virtual ~IUserDialogs() = default;
    // A message box; returns the TModalResult of the button pressed.
    virtual int MessageBox(QWidget *Parent, const QString &Text, const QString &Caption,
                           TMsgIcon Icon, int Buttons) = 0;
    // The folder chooser; empty when cancelled.
    virtual QString ChooseFolder(QWidget *Parent, const QString &Caption, const QString &Start) = 0;
    // The open dialog for several files; empty when cancelled.
    virtual QStringList OpenFiles(QWidget *Parent, const QString &Caption, const QString &Folder,
                                  const QString &Filter) = 0;
    // The overwrite question for the existing destination Path; returns mrYes, mrYesToAll,
    // mrNo ("Skip"), mrNoToAll ("Skip All") or mrCancel. Asks every time: the runner itself
    // skips the call while its LastAnswer is mrYesToAll or mrNoToAll. The Qt implementation
    // shows the program's TConfirmOvwrtForm, whose "always overwrite" box also sets the
    // OverwritePrompt setting.
    virtual int ConfirmOverwrite(QWidget *Parent, const QString &Path) = 0;
};

// A window of the program's own that asks the overwrite question. It registers itself
// while it lives, and the Qt implementation of the seam asks through the newest one; the
// seam, at the bottom of the program, never knows the window's class.
class IOverwriteWindow {
public:
    virtual ~IOverwriteWindow() = default;
    virtual int ConfirmOverwrite(const QString &Path) = 0;
};
void RegisterOverwriteWindow(IOverwriteWindow *Window);
void UnregisterOverwriteWindow(IOverwriteWindow *Window);

// A file-dialog filter as Qt takes it, matching regardless of letter case (Linux file names
// are case-sensitive, the program's filters are written in upper case). Accepts the
// program's "Description|*.A;*.B|Description|..." form as well as Qt's
// "Description (*.a *.b);;..." form; each description keeps its own text.
QString CaseInsensitiveFilter(const QString &Filter);

// Gives the keyboard focus back to the window a modal question was asked from, when the
// question closes: the window is activated again and its focus widget (the one that had the
// focus before the question) takes the focus. Without it the window can be left inactive,
// its shortcuts dead until a click. Hold one across the question's exec().
class TFocusReturn {
public:
    explicit TFocusReturn(QWidget *Parent);
    ~TFocusReturn();
    TFocusReturn(const TFocusReturn &) = delete;
    TFocusReturn &operator=(const TFocusReturn &) = delete;

private:
    QPointer<QWidget> FWindow;
    QPointer<QWidget> FFocus;
};

// The dialogs in use; a Qt implementation unless a test installed its own.
IUserDialogs &UserDialogs();
// Installs Dialogs (not owned) in place of the current ones; null restores the Qt ones.
void SetUserDialogs(IUserDialogs *Dialogs);
