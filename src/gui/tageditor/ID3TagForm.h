#pragma once

#include "inspect/InfoTexts.h"
#include "tageditor/TagUpdate.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// "MPEG File Info & ID3 Tag Editor": shows the technical properties of one MPEG file and
// edits, adds or removes its ID3v1 tag; a file with an ID3v2 tag shows that tag's fields and
// gets the edits in it too. Edits live in the controls until Update writes
// them; the window then closes with Accepted whether or not anything could be written, and
// the caller reads the file again. Created once at program start and reused.
class TID3TagForm : public QDialog {
    Q_OBJECT
public:
    explicit TID3TagForm(QWidget *Parent = nullptr);

    // Takes Pair as the current and the undo copy and fills the controls from it.
    void ShowFile(const TMPEGFileInfo &Pair);
    const TMPEGFileInfo &Current() const { return FCurrent; }

    // The tag as the controls hold it.
    TTagFields Fields() const;

    void chkID3V1Click();
    void btnUpdateClick();
    // Undo Change: the controls as they were when the file was shown.
    void Button1Click();
    void btnCancelClick();

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;
    void showEvent(QShowEvent *Event) override;

private:
    void FillControls(const TMPEGFileInfo &Pair);
    void SelectGenreEntry(int Entry);
    // Whether the window may go on to write, once told about unstorable characters.
    bool AcceptUnstorableFields(const TTagFields &Fields);
    // Tells the user why Update left the file as it was.
    void ReportUnchanged(const TTagUpdate &Update);

    TMPEGFileInfo FCurrent;
    TMPEGFileInfo FUndo;
    // The file's ID3v2 tag as read when it was shown; the undo copy uses it as well.
    TId3v2Fields FId3v2;

    QLineEdit *edFilePath;
    QGroupBox *grpID3Tag;
    QCheckBox *chkID3V1;
    QLabel *lblTagKinds;
    QLineEdit *edTrackNo;
    QLineEdit *edTitle;
    QLineEdit *edArtist;
    QLineEdit *edAlbum;
    QLineEdit *edYear;
    QComboBox *cbGenre;
    QLineEdit *edComment;
    QGroupBox *grpMPEGInfo;
    QPlainTextEdit *MPEGInfoMemo;
    QPushButton *btnUpdate;
    QPushButton *Button1;
    QPushButton *btnCancel;
};
