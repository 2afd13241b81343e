#pragma once

#include "platform/UserDialogs.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TConfig;

// The overwrite question of the conversion runner: shows the existing destination and
// answers with the button pressed (mrYes, mrYesToAll, mrNo, mrNoToAll, mrCancel). Created
// once at program start and reused, so its "always overwrite" box keeps its state for the
// whole run; the Qt dialogs seam (UserDialogs().ConfirmOverwrite) asks through the form
// created last that is still alive.
class TConfirmOvwrtForm : public QDialog, public IOverwriteWindow {
    Q_OBJECT
public:
    TConfirmOvwrtForm(TConfig &Config, QWidget *Parent = nullptr);
    ~TConfirmOvwrtForm() override;

    // Shows Path in double quotes and waits for an answer; afterwards OverwritePrompt is
    // off exactly when the "always overwrite" box is checked, whatever button was pressed.
    int ConfirmOverwrite(const QString &Path) override;

    // The form the program created, or null.
    static TConfirmOvwrtForm *Current();

    // Escape and the close box answer Cancel.
    void reject() override;

private slots:
    void btnYesClick();
    void btnYestoAllClick();
    void btnNoClick();
    void btnNotoAllClick();
    void btnCancelClick();

protected:
    void showEvent(QShowEvent *Event) override;

private:
    TConfig &FConfig;
    QLabel *imgQuestion;
    QLabel *lblQuestion;
    QPlainTextEdit *stxtFileName;
    QPushButton *btnYes;
    QPushButton *btnYestoAll;
    QPushButton *btnNo;
    QPushButton *btnNotoAll;
    QPushButton *btnCancel;
    QCheckBox *chkbAlwaysOverwrite;
};
