#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TConfig;

// The error list of a conversion batch: the runner adds one line per failed file, and
// after the batch the main window shows the list (when the count is not 0) and clears it.
// Created once at program start and reused.
class TDispForm : public QDialog {
    Q_OBJECT
public:
    TDispForm(TConfig &Config, QWidget *Parent = nullptr);

    // Counts one error and makes Text a new last line.
    void AddMessage(const QString &Text);
    // A new last line that is not counted as an error (a file that could not be added to a
    // list is reported here, but is no conversion failure).
    void AddNote(const QString &Text);
    // Count 0, no lines.
    void ClearMessages();
    // Every line, counted or not, to the clipboard as text (the Copy button).
    void CopyLines();

    int ErrorCount() const { return FErrorCount; }
    // The lines in order, counted and uncounted.
    const QStringList &Lines() const { return FLines; }

    // Closing by OK, Escape or the close box sets ShowErrorMessage to the opposite of
    // chkPromptOption and keeps the window's size for the next showing.
    void done(int Result) override;

protected:
    // Unchecks chkPromptOption, takes the size the list had when last closed and puts the
    // count into the caption.
    void showEvent(QShowEvent *Event) override;

private:
    TConfig &FConfig;
    int FErrorCount = 0;
    QStringList FLines;
    QLabel *lblErrorMsg;
    QPlainTextEdit *MessageMemo;
    QPushButton *btnOK;
    QPushButton *btnCopy;
    QCheckBox *chkPromptOption;
};
