#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

class TConfig;
struct TConfigValues;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QDoubleSpinBox;
class QTabWidget;
class QToolButton;

// A framed group of radio buttons laid out in columns, of which one or none is selected.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString &Title, const QStringList &Items, int Columns,
                QWidget *Parent = nullptr);

    // The selected item, -1 when none is.
    int ItemIndex() const;
    // Selects the item Index; an index outside the items selects none.
    void SetItemIndex(int Index);
    int Count() const;
    QRadioButton *Button(int Index) const;

private:
    QButtonGroup *FButtons;
};

// Two arrow buttons that step the number in an edit by Increment within Min..Max.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    TUpDown(QLineEdit *Associate, int Min, int Max, int Increment, QWidget *Parent = nullptr);

    // One step up (Direction > 0) or down; a text that is no number steps from the last
    // position shown.
    void Step(int Direction);
    int Position() const { return FPosition; }
    void SetPosition(int Position);
    // What a screen reader calls the two arrows.
    void NameArrows(const QString &Up, const QString &Down);

private:
    QLineEdit *FAssociate;
    int FMin;
    int FMax;
    int FIncrement;
    int FPosition;
};

// The modal "Options" dialog: shows the settings when it is shown and writes them back
// into the settings object only when it ends with OK. Every control carries its name as
// its objectName.
class TConfigForm : public QDialog {
    Q_OBJECT
public:
    // The help topic of the dialog's Help button.
    static constexpr int HelpContext = 1;

    explicit TConfigForm(TConfig &Config, QWidget *Parent = nullptr);

    TConfig &Config() const { return FConfig; }
    // False while the controls are being filled from the settings.
    bool Loaded() const { return FLoaded; }

    void FormShow();
    void btnOKClick();
    void btnHelpClick();
    void rabSpecifyOutputFolderClick();
    void btnOutFolderBrowsClick();
    void Button3Click();
    void edtNormalizeFactorExit();
    // The controls of the normalisation mode not chosen are disabled.
    void NormalizeModeClick();
    void chkbDeleteOriginalFileClick();
    void chkbVBRClick();
    void trkBarBitrateChange();
    void trkbarVBRQualityChange();
    void sbtnLamePresetsClick();
    void pmNearCDQualityClick();
    void CDQuality44100Hz128KbpsStereo1Click();
    void NearCDQualityVBR44100Hz128KbpsStereo1Click();
    void CDQualityVBR44100Hz192KbpsStereo1Click();

protected:
    void showEvent(QShowEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void FormCreate();
    QWidget *CreateGeneralTab();
    QWidget *CreateEncoderTab();
    QMenu *CreatePresetsMenu();
    // Sets a track bar as filling does: its change handler runs even when the position
    // stays the same.
    void FillPosition(QSlider *TrackBar, int Position, void (TConfigForm::*Change)());
    void ApplyPreset(int BitRate, bool VBR, int Quality, int VBRQualityPosition);

    // A control that shows one setting as it is stored: filled from its field when the
    // dialog is shown, stored back into it by OK.
    struct TSettingControl {
        std::function<void(const TConfigValues &)> Fill;
        std::function<void(TConfigValues &)> Store;
    };
    void BindSettingControls();
    void Bind(QCheckBox *Box, bool TConfigValues::*Field);
    void Bind(QComboBox *List, int32_t TConfigValues::*Field);
    void Bind(TRadioGroup *Group, int32_t TConfigValues::*Field);
    // Reversed: the position is the track bar's maximum less the value.
    void Bind(QSlider *TrackBar, int32_t TConfigValues::*Field, void (TConfigForm::*Change)(),
              bool Reversed = false);

    TConfig &FConfig;
    std::vector<TSettingControl> FSettingControls; // in the order the dialog fills them
    bool FLoaded = true;

    QTabWidget *PageControl = nullptr;
    QWidget *tabsGeneralOptions = nullptr;
    QWidget *tabsMP3EncoderOption = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnHelp = nullptr;

    QRadioButton *rabSameInputFolder = nullptr;
    QRadioButton *rabSpecifyOutputFolder = nullptr;
    QLineEdit *edtOutputFolder = nullptr;
    QPushButton *btnOutFolderBrows = nullptr;
    QCheckBox *chkbOpenOutputFolder = nullptr;
    QCheckBox *chkbKeepFolderStructure = nullptr;
    QLineEdit *edtFavoriteBrowsFolder = nullptr;
    QPushButton *Button3 = nullptr;
    QCheckBox *chkbOverwritePrompt = nullptr;
    QCheckBox *chkbNormalizeVolume = nullptr;
    QLineEdit *edtNormalizeFactor = nullptr;
    TUpDown *UpDown1 = nullptr;
    QRadioButton *rbNormalizePeak = nullptr;
    QRadioButton *rbNormalizeLoudness = nullptr;
    QSpinBox *seLoudnessTarget = nullptr;
    QDoubleSpinBox *seTruePeakCeiling = nullptr;
    QCheckBox *chkbDeleteOriginalFile = nullptr;
    QCheckBox *chkbPlaySound = nullptr;
    QCheckBox *chkbPromptCheckOption = nullptr;
    QCheckBox *chkbCopyTags = nullptr;
    QCheckBox *chkbWriteReplayGain = nullptr;
    QCheckBox *chkbAlbumGainPerFolder = nullptr;
    QSpinBox *spinConvertJobs = nullptr;

    QToolButton *sbtnLamePresets = nullptr;
    QMenu *pmLamePresets = nullptr;
    QSlider *trkBarBitrate = nullptr;
    QLabel *lbMinBitRate = nullptr;
    TRadioGroup *ragrpMode = nullptr;
    QCheckBox *chkbVBR = nullptr;
    QCheckBox *chkbWrtVBRHrd = nullptr;
    QSlider *trkbarMaxBitrate = nullptr;
    QLabel *lbMaxBitRate = nullptr;
    QComboBox *cbQuality = nullptr;
    QSlider *trkbarVBRQuality = nullptr;
    QLabel *lbVBRQuality = nullptr;
    QCheckBox *chkbCRC = nullptr;
    QCheckBox *chkbCopyright = nullptr;
    QCheckBox *chkbOriginal = nullptr;
    QCheckBox *chkbPrivate = nullptr;
    QComboBox *cbSampleRate = nullptr;
    TRadioGroup *rabgrpChannel = nullptr;
};

// The Configure command: shows Form modally and, unless it ends with OK, restores its
// settings object to what it held before, every field included. Returns whether OK ended it.
bool ShowOptions(TConfigForm &Form);
// The same with a dialog made for this one time, centred on Parent.
bool ShowOptions(QWidget *Parent, TConfig &Config);
