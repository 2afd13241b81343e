#pragma once

#include "app/FileParam.h"

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The "WAV file info" window: the path and the format of one item of the WAV list, from
// what was read when the file was added. Created once at program start and reused.
class TWaveInfoForm : public QDialog {
    Q_OBJECT
public:
    explicit TWaveInfoForm(QWidget *Parent = nullptr);

    // Fills the window from a copy of Item; the caller then shows it modally.
    void ShowWaveInfo(const TFileParam &Item);
    const TFileParam &Item() const { return FItem; }

private:
    TFileParam FItem;
    QLineEdit *edFilePath;
    QGroupBox *grpWavFormat;
    QPlainTextEdit *WaveInfoMemo;
    QPushButton *btnOK;
};
