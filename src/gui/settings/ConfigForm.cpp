#include "settings/ConfigForm.h"

#include "app/Help.h"
#include "platform/UserDialogs.h"
#include "settings/Config.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// Linux paths run to PATH_MAX; a shorter cap would cut a stored folder when it is shown.
constexpr int MaxFolderLength = 4096;

QString BitrateText(int Position) {
    return QStringLiteral("%1KBits").arg(BitrateFromIndex(Position));
}

QCheckBox *NewCheckBox(const QString &Name, const QString &Caption, QWidget *Parent) {
    auto *Box = new QCheckBox(Caption, Parent);
    Box->setObjectName(Name);
    return Box;
}

QSlider *NewTrackBar(const QString &Name, int Max, QWidget *Parent) {
    auto *TrackBar = new QSlider(Qt::Horizontal, Parent);
    TrackBar->setObjectName(Name);
    TrackBar->setRange(0, Max);
    TrackBar->setPageStep(2);
    TrackBar->setTickPosition(QSlider::TicksBelow);
    TrackBar->setTickInterval(1);
    TrackBar->setMinimumWidth(220);
    return TrackBar;
}

QLabel *NewValueLabel(const QString &Name, QWidget *Parent) {
    auto *Label = new QLabel(Parent);
    Label->setObjectName(Name);
    Label->setMinimumWidth(Label->fontMetrics().horizontalAdvance(QStringLiteral("320KBits ")));
    return Label;
}

// The label before a control without text of its own: a screen reader names the control
// with it, as it is read.
QLabel *NewNameLabel(const QString &Caption, QWidget *Control, QWidget *Parent) {
    auto *Label = new QLabel(Caption, Parent);
    Label->setBuddy(Control);
    Control->setAccessibleName(Caption);
    // The open list of a drop-down is a control of its own to a screen reader.
    if (auto *List = qobject_cast<QComboBox *>(Control))
        List->view()->setAccessibleName(Caption);
    return Label;
}

// A list's item index as the settings store it: an index outside the items shows none.
void SetListIndex(QComboBox *List, int Index) {
    List->setCurrentIndex(Index >= 0 && Index < List->count() ? Index : -1);
}

} // namespace

// --- TRadioGroup -------------------------------------------------------------------------

TRadioGroup::TRadioGroup(const QString &Title, const QStringList &Items, int Columns,
                         QWidget *Parent)
    : QGroupBox(Title, Parent), FButtons(new QButtonGroup(this)) {
    auto *Layout = new QGridLayout(this);
    Columns = std::max(Columns, 1);
    for (int i = 0; i < Items.size(); ++i) {
        auto *Button = new QRadioButton(Items[i], this);
        FButtons->addButton(Button, i);
        Layout->addWidget(Button, i / Columns, i % Columns);
    }
}

int TRadioGroup::ItemIndex() const {
    return FButtons->checkedId();
}

void TRadioGroup::SetItemIndex(int Index) {
    if (Index >= 0 && Index < Count()) {
        FButtons->button(Index)->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its last checked button.
    FButtons->setExclusive(false);
    for (QAbstractButton *Button : FButtons->buttons())
        Button->setChecked(false);
    FButtons->setExclusive(true);
}

int TRadioGroup::Count() const {
    return int(FButtons->buttons().size());
}

QRadioButton *TRadioGroup::Button(int Index) const {
    return qobject_cast<QRadioButton *>(FButtons->button(Index));
}

// --- TUpDown -----------------------------------------------------------------------------

TUpDown::TUpDown(QLineEdit *Associate, int Min, int Max, int Increment, QWidget *Parent)
    : QWidget(Parent), FAssociate(Associate), FMin(Min), FMax(Max), FIncrement(Increment),
      FPosition(Min) {
    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    const int Height = std::max(8, Associate->sizeHint().height() / 2);
    for (const int Direction : {1, -1}) {
        auto *Arrow = new QToolButton(this);
        Arrow->setArrowType(Direction > 0 ? Qt::UpArrow : Qt::DownArrow);
        Arrow->setObjectName(Direction > 0 ? QStringLiteral("Up") : QStringLiteral("Down"));
        Arrow->setAutoRepeat(true);
        Arrow->setFocusPolicy(Qt::NoFocus);
        Arrow->setFixedSize(Height + 4, Height);
        connect(Arrow, &QToolButton::clicked, this, [this, Direction] { Step(Direction); });
        Layout->addWidget(Arrow);
    }
}

void TUpDown::NameArrows(const QString &Up, const QString &Down) {
    findChild<QToolButton *>(QStringLiteral("Up"))->setAccessibleName(Up);
    findChild<QToolButton *>(QStringLiteral("Down"))->setAccessibleName(Down);
}

void TUpDown::SetPosition(int Position) {
    FPosition = std::clamp(Position, FMin, FMax);
}

void TUpDown::Step(int Direction) {
    bool Ok = false;
    const int Shown = FAssociate->text().trimmed().toInt(&Ok);
    const int From = Ok ? Shown : FPosition;
    SetPosition(From + (Direction > 0 ? FIncrement : -FIncrement));
    FAssociate->setText(QString::number(FPosition));
}

// --- TConfigForm -------------------------------------------------------------------------

TConfigForm::TConfigForm(TConfig &Config, QWidget *Parent) : QDialog(Parent), FConfig(Config) {
    FormCreate();
}

void TConfigForm::FormCreate() {
    setObjectName(QStringLiteral("ConfigForm"));
    setWindowTitle(QStringLiteral("Options"));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);

    auto *Layout = new QVBoxLayout(this);
    Layout->setSizeConstraint(QLayout::SetFixedSize);

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setAccessibleName(QStringLiteral("Option pages"));
    tabsGeneralOptions = CreateGeneralTab();
    tabsMP3EncoderOption = CreateEncoderTab();
    PageControl->addTab(tabsGeneralOptions, QStringLiteral("General"));
    PageControl->addTab(tabsMP3EncoderOption, QStringLiteral("MP3 Encoder"));
    PageControl->setCurrentWidget(tabsGeneralOptions);
    Layout->addWidget(PageControl);

    // Never shown, but kept so that OK stores the setting as it was read.
    rabgrpChannel =
        new TRadioGroup(QStringLiteral("Channels"),
                        {QStringLiteral("Stereo"), QStringLiteral("Mix Channels"),
                         QStringLiteral("Left Channel"), QStringLiteral("Right Channel")},
                        1, this);
    rabgrpChannel->setObjectName(QStringLiteral("rabgrpChannel"));
    rabgrpChannel->setVisible(false);

    auto *Buttons = new QHBoxLayout;
    Buttons->addStretch();
    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnHelp = new QPushButton(QStringLiteral("&Help"), this);
    btnHelp->setObjectName(QStringLiteral("btnHelp"));
    // Only OK answers Enter, wherever the focus is.
    btnCancel->setAutoDefault(false);
    btnHelp->setAutoDefault(false);
    Buttons->addWidget(btnOK);
    Buttons->addWidget(btnCancel);
    Buttons->addWidget(btnHelp);
    Layout->addLayout(Buttons);

    connect(btnOK, &QPushButton::clicked, this, &TConfigForm::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnHelp, &QPushButton::clicked, this, &TConfigForm::btnHelpClick);

    BindSettingControls();
}

void TConfigForm::BindSettingControls() {
    using V = TConfigValues;
    // Fill order matters: filling runs the change handlers, so the bitrate rule sees the
    // bitrate, then VBR, then the maximum.
    Bind(chkbOpenOutputFolder, &V::OpenOutputFolder);
    Bind(chkbNormalizeVolume, &V::FNormalizeVolume);
    Bind(chkbOverwritePrompt, &V::OverwritePrompt);
    Bind(chkbDeleteOriginalFile, &V::DeleteOriginalFile);
    Bind(chkbPlaySound, &V::PlaySound);
    Bind(chkbPromptCheckOption, &V::PromptCheckOption);
    Bind(cbSampleRate, &V::SampleRate);
    Bind(trkBarBitrate, &V::BitRate, &TConfigForm::trkBarBitrateChange);
    Bind(ragrpMode, &V::Mode);
    Bind(chkbVBR, &V::VBR);
    Bind(chkbWrtVBRHrd, &V::WriteVBRHeader);
    Bind(trkbarMaxBitrate, &V::MaxBitRate, &TConfigForm::trkBarBitrateChange);
    Bind(cbQuality, &V::Quality);
    Bind(trkbarVBRQuality, &V::VBRQuality, &TConfigForm::trkbarVBRQualityChange, true);
    Bind(chkbCopyright, &V::Copyright);
    Bind(chkbOriginal, &V::Original);
    Bind(chkbCRC, &V::CRC);
    Bind(chkbPrivate, &V::Private);
    Bind(rabgrpChannel, &V::WaveOutputOption);
}

void TConfigForm::Bind(QCheckBox *Box, bool TConfigValues::*Field) {
    FSettingControls.push_back({[=](const TConfigValues &C) { Box->setChecked(C.*Field); },
                                [=](TConfigValues &C) { C.*Field = Box->isChecked(); }});
}

void TConfigForm::Bind(QComboBox *List, int32_t TConfigValues::*Field) {
    FSettingControls.push_back({[=](const TConfigValues &C) { SetListIndex(List, C.*Field); },
                                [=](TConfigValues &C) { C.*Field = List->currentIndex(); }});
}

void TConfigForm::Bind(TRadioGroup *Group, int32_t TConfigValues::*Field) {
    FSettingControls.push_back({[=](const TConfigValues &C) { Group->SetItemIndex(C.*Field); },
                                [=](TConfigValues &C) { C.*Field = Group->ItemIndex(); }});
}

void TConfigForm::Bind(QSlider *TrackBar, int32_t TConfigValues::*Field,
                       void (TConfigForm::*Change)(), bool Reversed) {
    const auto Position = [=](int Value) { return Reversed ? TrackBar->maximum() - Value : Value; };
    FSettingControls.push_back(
        {[=, this](const TConfigValues &C) { FillPosition(TrackBar, Position(C.*Field), Change); },
         // The position is its own inverse under reversal.
         [=](TConfigValues &C) { C.*Field = Position(TrackBar->value()); }});
}

QWidget *TConfigForm::CreateGeneralTab() {
    auto *Tab = new QWidget;
    Tab->setObjectName(QStringLiteral("tabsGeneralOptions"));
    auto *Layout = new QVBoxLayout(Tab);

    auto *OutputGroup = new QGroupBox(QStringLiteral("Output Folder:"), Tab);
    auto *OutputLayout = new QGridLayout(OutputGroup);
    rabSameInputFolder = new QRadioButton(QStringLiteral("Same as input file folder"), OutputGroup);
    rabSameInputFolder->setObjectName(QStringLiteral("rabSameInputFolder"));
    rabSpecifyOutputFolder = new QRadioButton(QStringLiteral("Folder"), OutputGroup);
    rabSpecifyOutputFolder->setObjectName(QStringLiteral("rabSpecifyOutputFolder"));
    edtOutputFolder = new QLineEdit(OutputGroup);
    edtOutputFolder->setObjectName(QStringLiteral("edtOutputFolder"));
    edtOutputFolder->setMaxLength(MaxFolderLength);
    edtOutputFolder->setMinimumWidth(320);
    edtOutputFolder->setAccessibleName(QStringLiteral("Output folder"));
    btnOutFolderBrows = new QPushButton(QStringLiteral("Choose..."), OutputGroup);
    btnOutFolderBrows->setObjectName(QStringLiteral("btnOutFolderBrows"));
    btnOutFolderBrows->setAutoDefault(false);
    chkbOpenOutputFolder = NewCheckBox(
        QStringLiteral("chkbOpenOutputFolder"),
        QStringLiteral("Open output folder when all conversions are finished"), OutputGroup);
    OutputLayout->addWidget(rabSameInputFolder, 0, 0, 1, 3);
    OutputLayout->addWidget(rabSpecifyOutputFolder, 1, 0);
    OutputLayout->addWidget(edtOutputFolder, 1, 1);
    OutputLayout->addWidget(btnOutFolderBrows, 1, 2);
    // Only an output folder can mirror the added folders; in place, the files stay beside
    // their sources anyway.
    chkbKeepFolderStructure =
        NewCheckBox(QStringLiteral("chkbKeepFolderStructure"),
                    QStringLiteral("Keep the folder structure of added folders"), OutputGroup);
    OutputLayout->addWidget(chkbOpenOutputFolder, 2, 0, 1, 3);
    OutputLayout->addWidget(chkbKeepFolderStructure, 3, 0, 1, 3);
    Layout->addWidget(OutputGroup);

    auto *FavoriteLabel =
        new QLabel(QStringLiteral("Favorite Brows Folder(For Drag && Drop Audio Files):"), Tab);
    edtFavoriteBrowsFolder = new QLineEdit(Tab);
    edtFavoriteBrowsFolder->setObjectName(QStringLiteral("edtFavoriteBrowsFolder"));
    edtFavoriteBrowsFolder->setMaxLength(MaxFolderLength);
    // With a buddy the label shows the doubled ampersand as one.
    FavoriteLabel->setBuddy(edtFavoriteBrowsFolder);
    Button3 = new QPushButton(QStringLiteral("Choose..."), Tab);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setAutoDefault(false);
    auto *FavoriteRow = new QHBoxLayout;
    FavoriteRow->addWidget(edtFavoriteBrowsFolder, 1);
    FavoriteRow->addWidget(Button3);
    Layout->addWidget(FavoriteLabel);
    Layout->addLayout(FavoriteRow);

    chkbOverwritePrompt = NewCheckBox(QStringLiteral("chkbOverwritePrompt"),
                                      QStringLiteral("Prompt for overwrite existing files"), Tab);
    Layout->addWidget(chkbOverwritePrompt);

    auto *NormalizeRow = new QHBoxLayout;
    NormalizeRow->setSpacing(2);
    chkbNormalizeVolume = NewCheckBox(QStringLiteral("chkbNormalizeVolume"),
                                      QStringLiteral("Normalize all output files to "), Tab);
    edtNormalizeFactor = new QLineEdit(Tab);
    edtNormalizeFactor->setObjectName(QStringLiteral("edtNormalizeFactor"));
    edtNormalizeFactor->setFixedWidth(
        edtNormalizeFactor->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 12);
    edtNormalizeFactor->setAccessibleName(QStringLiteral("Normalize to a peak of (percent)"));
    UpDown1 = new TUpDown(edtNormalizeFactor, 80, 100, 2, Tab);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    UpDown1->NameArrows(QStringLiteral("Normalize level up"),
                        QStringLiteral("Normalize level down"));
    rbNormalizePeak = new QRadioButton(QStringLiteral("a peak of"), Tab);
    rbNormalizePeak->setObjectName(QStringLiteral("rbNormalizePeak"));
    NormalizeRow->addWidget(chkbNormalizeVolume);
    NormalizeRow->addWidget(rbNormalizePeak);
    NormalizeRow->addWidget(edtNormalizeFactor);
    NormalizeRow->addWidget(UpDown1);
    NormalizeRow->addWidget(new QLabel(QStringLiteral("%"), Tab));
    NormalizeRow->addStretch();
    Layout->addLayout(NormalizeRow);

    // Loudness: one gain per file, to the target, lowered to keep the true peak under the
    // ceiling.
    auto *LoudnessRow = new QHBoxLayout;
    LoudnessRow->setSpacing(4);
    LoudnessRow->addSpacing(chkbNormalizeVolume->sizeHint().width());
    rbNormalizeLoudness = new QRadioButton(QStringLiteral("a loudness of"), Tab);
    rbNormalizeLoudness->setObjectName(QStringLiteral("rbNormalizeLoudness"));
    seLoudnessTarget = new QSpinBox(Tab);
    seLoudnessTarget->setObjectName(QStringLiteral("seLoudnessTarget"));
    seLoudnessTarget->setRange(TConfig::MinLoudnessTarget, TConfig::MaxLoudnessTarget);
    seLoudnessTarget->setSuffix(QStringLiteral(" LUFS"));
    seLoudnessTarget->setAccessibleName(QStringLiteral("Normalize to a loudness of (LUFS)"));
    seLoudnessTarget->setToolTip(QStringLiteral("Integrated loudness of each output:\n"
                                                "-23 LUFS  EBU R128 broadcast\n"
                                                "-16 LUFS  portable\n"
                                                "-14 LUFS  streaming"));
    seTruePeakCeiling = new QDoubleSpinBox(Tab);
    seTruePeakCeiling->setObjectName(QStringLiteral("seTruePeakCeiling"));
    seTruePeakCeiling->setDecimals(1);
    seTruePeakCeiling->setSingleStep(0.1);
    seTruePeakCeiling->setRange(TConfig::MinTruePeakCeiling / 10.0,
                                TConfig::MaxTruePeakCeiling / 10.0);
    seTruePeakCeiling->setSuffix(QStringLiteral(" dBTP"));
    seTruePeakCeiling->setAccessibleName(QStringLiteral("True peak at most (dBTP)"));
    seTruePeakCeiling->setToolTip(
        QStringLiteral("The true peak stays at or below this: a file that would pass it is "
                       "raised less, and ends quieter than the target"));
    LoudnessRow->addWidget(rbNormalizeLoudness);
    LoudnessRow->addWidget(seLoudnessTarget);
    auto *CeilingLabel = new QLabel(QStringLiteral("true peak at most"), Tab);
    CeilingLabel->setBuddy(seTruePeakCeiling);
    LoudnessRow->addWidget(CeilingLabel);
    LoudnessRow->addWidget(seTruePeakCeiling);
    LoudnessRow->addStretch();
    Layout->addLayout(LoudnessRow);
    auto *NormalizeModes = new QButtonGroup(Tab);
    NormalizeModes->addButton(rbNormalizePeak);
    NormalizeModes->addButton(rbNormalizeLoudness);

    chkbDeleteOriginalFile =
        NewCheckBox(QStringLiteral("chkbDeleteOriginalFile"),
                    QStringLiteral("Delete original file(s) after conversion !!!"), Tab);
    chkbPlaySound = NewCheckBox(QStringLiteral("chkbPlaySound"),
                                QStringLiteral("Play a sound when conversion done"), Tab);
    chkbPromptCheckOption =
        NewCheckBox(QStringLiteral("chkbPromptCheckOption"),
                    QStringLiteral("Prompt check options when begin conversion process"), Tab);
    // Beside the other choices about what becomes of the files.
    chkbCopyTags = NewCheckBox(QStringLiteral("chkbCopyTags"),
                               QStringLiteral("Copy tags to the converted files"), Tab);
    Layout->addWidget(chkbCopyTags);
    chkbWriteReplayGain = NewCheckBox(QStringLiteral("chkbWriteReplayGain"),
                                      QStringLiteral("Write ReplayGain tags"), Tab);
    chkbWriteReplayGain->setToolTip(
        QStringLiteral("Measure the loudness of each output and tag it with its ReplayGain\n"
                       "track gain and peak, so players can level it. The audio is unchanged."));
    Layout->addWidget(chkbWriteReplayGain);
    chkbAlbumGainPerFolder = NewCheckBox(QStringLiteral("chkbAlbumGainPerFolder"),
                                         QStringLiteral("Album gain per folder"), Tab);
    chkbAlbumGainPerFolder->setToolTip(
        QStringLiteral("Treat the files of one folder as an album: each also gets the album's\n"
                       "ReplayGain gain and peak, once the whole folder is converted."));
    // Indented under the box it depends on.
    chkbAlbumGainPerFolder->setContentsMargins(20, 0, 0, 0);
    Layout->addWidget(chkbAlbumGainPerFolder);
    connect(chkbWriteReplayGain, &QCheckBox::toggled, chkbAlbumGainPerFolder, &QWidget::setEnabled);
    Layout->addWidget(chkbDeleteOriginalFile);
    Layout->addWidget(chkbPlaySound);
    Layout->addWidget(chkbPromptCheckOption);

    auto *JobsRow = new QHBoxLayout;
    auto *JobsLabel = new QLabel(QStringLiteral("Convert up to"), Tab);
    spinConvertJobs = new QSpinBox(Tab);
    spinConvertJobs->setObjectName(QStringLiteral("spinConvertJobs"));
    spinConvertJobs->setRange(1, TConfig::MaxConvertJobs);
    // The label beside it says only half of it.
    spinConvertJobs->setAccessibleName(QStringLiteral("Files converted at once"));
    JobsLabel->setBuddy(spinConvertJobs);
    JobsRow->addWidget(JobsLabel);
    JobsRow->addWidget(spinConvertJobs);
    JobsRow->addWidget(new QLabel(QStringLiteral("files at once"), Tab));
    JobsRow->addStretch();
    Layout->addLayout(JobsRow);
    Layout->addStretch();

    connect(rabSameInputFolder, &QRadioButton::toggled, this,
            &TConfigForm::rabSpecifyOutputFolderClick);
    connect(rabSpecifyOutputFolder, &QRadioButton::toggled, this,
            &TConfigForm::rabSpecifyOutputFolderClick);
    connect(btnOutFolderBrows, &QPushButton::clicked, this, &TConfigForm::btnOutFolderBrowsClick);
    connect(Button3, &QPushButton::clicked, this, &TConfigForm::Button3Click);
    connect(chkbDeleteOriginalFile, &QCheckBox::toggled, this,
            &TConfigForm::chkbDeleteOriginalFileClick);
    edtNormalizeFactor->installEventFilter(this);
    connect(rbNormalizePeak, &QRadioButton::toggled, this, &TConfigForm::NormalizeModeClick);
    connect(rbNormalizeLoudness, &QRadioButton::toggled, this, &TConfigForm::NormalizeModeClick);
    return Tab;
}

QWidget *TConfigForm::CreateEncoderTab() {
    auto *Tab = new QWidget;
    Tab->setObjectName(QStringLiteral("tabsMP3EncoderOption"));
    auto *TabLayout = new QVBoxLayout(Tab);
    auto *Group = new QGroupBox(QStringLiteral("Lame MP3 Encoder Options"), Tab);
    TabLayout->addWidget(Group);
    TabLayout->addStretch();
    auto *Grid = new QGridLayout(Group);
    int Row = 0;

    sbtnLamePresets = new QToolButton(Group);
    sbtnLamePresets->setObjectName(QStringLiteral("sbtnLamePresets"));
    sbtnLamePresets->setText(QStringLiteral("MP3 Encoder Quality Presets"));
    sbtnLamePresets->setAutoRaise(true);
    sbtnLamePresets->setArrowType(Qt::DownArrow);
    sbtnLamePresets->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    pmLamePresets = CreatePresetsMenu();
    Grid->addWidget(sbtnLamePresets, Row++, 0, 1, 3, Qt::AlignLeft);

    trkBarBitrate = NewTrackBar(QStringLiteral("trkBarBitrate"), 13, Group);
    lbMinBitRate = NewValueLabel(QStringLiteral("lbMinBitRate"), Group);
    Grid->addWidget(NewNameLabel(QStringLiteral("Bit Rate"), trkBarBitrate, Group), Row, 0);
    Grid->addWidget(trkBarBitrate, Row, 1);
    Grid->addWidget(lbMinBitRate, Row++, 2);

    ragrpMode = new TRadioGroup(QString(),
                                {QStringLiteral("Stereo"), QStringLiteral("Joint Stereo"),
                                 QStringLiteral("Dual Channel"), QStringLiteral("Mono")},
                                4, Group);
    ragrpMode->setObjectName(QStringLiteral("ragrpMode"));
    // Its frame has no title: the label before it says what the buttons choose.
    ragrpMode->setAccessibleName(QStringLiteral("Mode"));
    Grid->addWidget(new QLabel(QStringLiteral("Mode"), Group), Row, 0);
    Grid->addWidget(ragrpMode, Row++, 1, 1, 2);

    chkbVBR = NewCheckBox(QStringLiteral("chkbVBR"), QStringLiteral("Enable VBR"), Group);
    chkbWrtVBRHrd =
        NewCheckBox(QStringLiteral("chkbWrtVBRHrd"), QStringLiteral("Write VBR header"), Group);
    auto *VBRRow = new QHBoxLayout;
    VBRRow->addWidget(chkbVBR);
    VBRRow->addSpacing(24);
    VBRRow->addWidget(chkbWrtVBRHrd);
    VBRRow->addStretch();
    Grid->addLayout(VBRRow, Row++, 0, 1, 3);

    trkbarMaxBitrate = NewTrackBar(QStringLiteral("trkbarMaxBitrate"), 13, Group);
    lbMaxBitRate = NewValueLabel(QStringLiteral("lbMaxBitRate"), Group);
    Grid->addWidget(NewNameLabel(QStringLiteral("Max BitRate"), trkbarMaxBitrate, Group), Row, 0);
    Grid->addWidget(trkbarMaxBitrate, Row, 1);
    Grid->addWidget(lbMaxBitRate, Row++, 2);

    cbQuality = new QComboBox(Group);
    cbQuality->setObjectName(QStringLiteral("cbQuality"));
    cbQuality->addItems({QStringLiteral("Normal"), QStringLiteral("Low"), QStringLiteral("High"),
                         QStringLiteral("Voice")});
    Grid->addWidget(NewNameLabel(QStringLiteral("MPEG Quality"), cbQuality, Group), Row, 0);
    Grid->addWidget(cbQuality, Row++, 1, Qt::AlignLeft);

    trkbarVBRQuality = NewTrackBar(QStringLiteral("trkbarVBRQuality"), 9, Group);
    lbVBRQuality = NewValueLabel(QStringLiteral("lbVBRQuality"), Group);
    Grid->addWidget(NewNameLabel(QStringLiteral("VBR Quality"), trkbarVBRQuality, Group), Row, 0);
    Grid->addWidget(trkbarVBRQuality, Row, 1);
    Grid->addWidget(lbVBRQuality, Row++, 2);
    Grid->addWidget(new QLabel(QStringLiteral("(9 = lowest, 0 = highest)"), Group), Row++, 1);

    chkbCRC = NewCheckBox(QStringLiteral("chkbCRC"), QStringLiteral("CRC"), Group);
    chkbCopyright =
        NewCheckBox(QStringLiteral("chkbCopyright"), QStringLiteral("Copyright"), Group);
    chkbOriginal = NewCheckBox(QStringLiteral("chkbOriginal"), QStringLiteral("Original"), Group);
    chkbPrivate = NewCheckBox(QStringLiteral("chkbPrivate"), QStringLiteral("Private"), Group);
    auto *FlagsRow = new QHBoxLayout;
    for (QCheckBox *Box : {chkbCRC, chkbCopyright, chkbOriginal, chkbPrivate})
        FlagsRow->addWidget(Box);
    FlagsRow->addStretch();
    Grid->addLayout(FlagsRow, Row++, 0, 1, 3);

    // Never shown, but kept so that OK stores the setting as it was read.
    cbSampleRate = new QComboBox(Group);
    cbSampleRate->setObjectName(QStringLiteral("cbSampleRate"));
    auto *SampleRateLabel = NewNameLabel(QStringLiteral("Sample Rate"), cbSampleRate, Group);
    cbSampleRate->addItems({QStringLiteral("48000"), QStringLiteral("44100"),
                            QStringLiteral("32000"), QStringLiteral("22050")});
    SampleRateLabel->setVisible(false);
    cbSampleRate->setVisible(false);

    connect(sbtnLamePresets, &QToolButton::clicked, this, &TConfigForm::sbtnLamePresetsClick);
    connect(trkBarBitrate, &QSlider::valueChanged, this, &TConfigForm::trkBarBitrateChange);
    connect(trkbarMaxBitrate, &QSlider::valueChanged, this, &TConfigForm::trkBarBitrateChange);
    connect(trkbarVBRQuality, &QSlider::valueChanged, this, &TConfigForm::trkbarVBRQualityChange);
    connect(chkbVBR, &QCheckBox::toggled, this, &TConfigForm::chkbVBRClick);
    return Tab;
}

QMenu *TConfigForm::CreatePresetsMenu() {
    auto *Menu = new QMenu(this);
    Menu->setObjectName(QStringLiteral("pmLamePresets"));
    const struct {
        const char *Name;
        const char *Caption;
        void (TConfigForm::*Click)();
    } Entries[] = {
        {"pmNearCDQuality", "Near CD-Quality (128Kbps, Stereo)",
         &TConfigForm::pmNearCDQualityClick},
        {"CDQuality44100Hz128KbpsStereo1", "CD-Quality (192Kbps, Stereo)",
         &TConfigForm::CDQuality44100Hz128KbpsStereo1Click},
        {"NearCDQualityVBR44100Hz128KbpsStereo1", "Near CD-Quality - VBR (128Kbps, Stereo)",
         &TConfigForm::NearCDQualityVBR44100Hz128KbpsStereo1Click},
        {"CDQualityVBR44100Hz192KbpsStereo1", "CD-Quality - VBR (192Kbps, Stereo)",
         &TConfigForm::CDQualityVBR44100Hz192KbpsStereo1Click},
    };
    for (const auto &Entry : Entries) {
        QAction *Action = Menu->addAction(QString::fromLatin1(Entry.Caption));
        Action->setObjectName(QString::fromLatin1(Entry.Name));
        connect(Action, &QAction::triggered, this, Entry.Click);
    }
    return Menu;
}

void TConfigForm::showEvent(QShowEvent *Event) {
    // A window restored by the window system is not a new show of the dialog.
    if (!Event->spontaneous())
        FormShow();
    QDialog::showEvent(Event);
}

bool TConfigForm::eventFilter(QObject *Watched, QEvent *Event) {
    // Leaving the edit, not Enter: Enter presses OK with the typed text. Focus lost to
    // another window (a message box, the menu) is not leaving it either.
    if (Watched == edtNormalizeFactor && Event->type() == QEvent::FocusOut) {
        const Qt::FocusReason Reason = static_cast<QFocusEvent *>(Event)->reason();
        if (Reason != Qt::ActiveWindowFocusReason && Reason != Qt::PopupFocusReason)
            edtNormalizeFactorExit();
    }
    return QDialog::eventFilter(Watched, Event);
}

void TConfigForm::FillPosition(QSlider *TrackBar, int Position, void (TConfigForm::*Change)()) {
    {
        const QSignalBlocker Blocker(TrackBar);
        TrackBar->setValue(Position); // brings the position into the track bar's range
    }
    (this->*Change)();
}

void TConfigForm::FormShow() {
    PageControl->setTabVisible(PageControl->indexOf(tabsMP3EncoderOption), true);
    FLoaded = false;
    const TConfig &C = FConfig;

    rabSameInputFolder->setChecked(!C.SpecifyOutputFolder);
    rabSpecifyOutputFolder->setChecked(C.SpecifyOutputFolder);
    edtOutputFolder->setText(C.OutputFolder);
    edtFavoriteBrowsFolder->setText(C.FavoriteBrowsFolder);
    edtNormalizeFactor->setText(QString::number(C.NormalizeFactor));
    UpDown1->SetPosition(C.NormalizeFactor);
    rbNormalizePeak->setChecked(C.NormalizeMode != 1);
    rbNormalizeLoudness->setChecked(C.NormalizeMode == 1);
    seLoudnessTarget->setValue(C.LoudnessTarget);
    seTruePeakCeiling->setValue(C.TruePeakCeiling / 10.0);
    NormalizeModeClick();
    spinConvertJobs->setValue(C.ConvertJobCount());
    chkbCopyTags->setChecked(C.CopyTags);
    chkbWriteReplayGain->setChecked(C.WriteReplayGain);
    chkbAlbumGainPerFolder->setChecked(C.AlbumGainPerFolder);
    chkbAlbumGainPerFolder->setEnabled(C.WriteReplayGain);
    chkbKeepFolderStructure->setChecked(C.KeepFolderStructure);
    for (const TSettingControl &Control : FSettingControls)
        Control.Fill(C);
    rabSpecifyOutputFolderClick();
    chkbVBRClick(); // also when filling left the box as it was

    FLoaded = true;
}

void TConfigForm::rabSpecifyOutputFolderClick() {
    chkbOpenOutputFolder->setEnabled(rabSpecifyOutputFolder->isChecked());
    chkbKeepFolderStructure->setEnabled(rabSpecifyOutputFolder->isChecked());
}

void TConfigForm::btnOutFolderBrowsClick() {
    const QString Folder = UserDialogs().ChooseFolder(this, QStringLiteral("Select Directory"),
                                                      TConfigValues::DefaultMusicFolder());
    if (!Folder.isEmpty())
        edtOutputFolder->setText(Folder);
}

void TConfigForm::Button3Click() {
    const QString Folder =
        UserDialogs().ChooseFolder(this, QStringLiteral("Select Directory"), QString());
    if (!Folder.isEmpty())
        edtFavoriteBrowsFolder->setText(Folder);
}

void TConfigForm::NormalizeModeClick() {
    const bool Loudness = rbNormalizeLoudness->isChecked();
    edtNormalizeFactor->setEnabled(!Loudness);
    UpDown1->setEnabled(!Loudness);
    seLoudnessTarget->setEnabled(Loudness);
    seTruePeakCeiling->setEnabled(Loudness);
}

void TConfigForm::edtNormalizeFactorExit() {
    bool Ok = false;
    const int Factor = edtNormalizeFactor->text().toInt(&Ok);
    if (!Ok)
        return;
    if (Factor > 100)
        edtNormalizeFactor->setText(QStringLiteral("100"));
    else if (Factor < 80)
        edtNormalizeFactor->setText(QStringLiteral("80"));
}

void TConfigForm::chkbDeleteOriginalFileClick() {
    if (!chkbDeleteOriginalFile->isChecked() || !FLoaded)
        return;
    const int Answer = UserDialogs().MessageBox(
        this,
        QStringLiteral("This option would delete original files after successfully "
                       "conversion, are you sure?"),
        QStringLiteral("Warning"), TMsgIcon::Exclamation, mbOK | mbCancel);
    if (Answer != mrOk)
        chkbDeleteOriginalFile->setChecked(false);
}

void TConfigForm::chkbVBRClick() {
    const bool VBR = chkbVBR->isChecked();
    for (QWidget *Control :
         {static_cast<QWidget *>(chkbWrtVBRHrd), static_cast<QWidget *>(trkbarMaxBitrate),
          static_cast<QWidget *>(cbQuality), static_cast<QWidget *>(trkbarVBRQuality)})
        Control->setEnabled(VBR);
}

void TConfigForm::trkBarBitrateChange() {
    lbMinBitRate->setText(BitrateText(trkBarBitrate->value()));
    lbMaxBitRate->setText(BitrateText(trkbarMaxBitrate->value()));
    if (chkbVBR->isChecked() && trkbarMaxBitrate->value() < trkBarBitrate->value())
        trkbarMaxBitrate->setValue(trkBarBitrate->value());
}

void TConfigForm::trkbarVBRQualityChange() {
    lbVBRQuality->setText(QString::number(9 - trkbarVBRQuality->value()));
}

void TConfigForm::sbtnLamePresetsClick() {
    pmLamePresets->popup(sbtnLamePresets->mapToGlobal(QPoint(0, sbtnLamePresets->height())));
}

void TConfigForm::ApplyPreset(int BitRate, bool VBR, int Quality, int VBRQualityPosition) {
    // Column order: sample rate, bitrate, mode, VBR, then the VBR settings.
    cbSampleRate->setCurrentIndex(1); // 44100 Hz
    trkBarBitrate->setValue(BitRate);
    ragrpMode->SetItemIndex(0); // Stereo
    chkbVBR->setChecked(VBR);
    if (!VBR)
        return;
    trkbarMaxBitrate->setValue(13); // 320 kbit/s
    cbQuality->setCurrentIndex(Quality);
    trkbarVBRQuality->setValue(VBRQualityPosition);
}

void TConfigForm::pmNearCDQualityClick() {
    ApplyPreset(8, false, 0, 0);
}

void TConfigForm::CDQuality44100Hz128KbpsStereo1Click() {
    ApplyPreset(10, false, 0, 0);
}

void TConfigForm::NearCDQualityVBR44100Hz128KbpsStereo1Click() {
    ApplyPreset(8, true, 0, 4);
}

void TConfigForm::CDQualityVBR44100Hz192KbpsStereo1Click() {
    ApplyPreset(10, true, 2, 8);
}

void TConfigForm::btnOKClick() {
    const QString Folder = edtOutputFolder->text().trimmed();
    // A relative folder would depend on the program's working folder, so it counts as
    // missing and cannot be created.
    const bool Absolute = !Folder.isEmpty() && QDir::isAbsolutePath(Folder);
    if (!Absolute || !QFileInfo(Folder).isDir()) {
        const int Answer = UserDialogs().MessageBox(
            this,
            QStringLiteral("The output folder '%1' not existing, Do you want create it?")
                .arg(Folder),
            QStringLiteral("Confirmation"), TMsgIcon::Question, mbOK | mbCancel);
        if (Answer != mrOk)
            return;
        if (!Absolute || !QDir().mkdir(Folder)) {
            UserDialogs().MessageBox(
                this,
                QStringLiteral("The output folder '%1' incorrect, choose one again, please.")
                    .arg(Folder),
                QStringLiteral("Error"), TMsgIcon::Error, mbOK);
            PageControl->setCurrentWidget(tabsGeneralOptions);
            edtOutputFolder->setFocus();
            return;
        }
    }

    bool Ok = false;
    int Factor = edtNormalizeFactor->text().toInt(&Ok);
    if (!Ok) {
        UserDialogs().MessageBox(
            this,
            QStringLiteral("'%1' is not a valid integer value").arg(edtNormalizeFactor->text()),
            QStringLiteral("Error"), TMsgIcon::Error, mbOK);
        PageControl->setCurrentWidget(tabsGeneralOptions);
        edtNormalizeFactor->setFocus();
        return;
    }
    Factor = std::max(std::min(Factor, 100), 0);

    TConfig &C = FConfig;
    C.SpecifyOutputFolder = rabSpecifyOutputFolder->isChecked();
    C.OutputFolder = Folder;
    C.FavoriteBrowsFolder = edtFavoriteBrowsFolder->text().trimmed();
    C.NormalizeFactor = Factor;
    C.NormalizeMode = rbNormalizeLoudness->isChecked() ? 1 : 0;
    C.LoudnessTarget = seLoudnessTarget->value();
    C.TruePeakCeiling = int(std::lround(seTruePeakCeiling->value() * 10));
    // Left at one per core, the setting keeps following the machine it runs on.
    const int Jobs = spinConvertJobs->value();
    if (C.ConvertJobs > 0 || Jobs != QThread::idealThreadCount())
        C.ConvertJobs = Jobs;
    C.CopyTags = chkbCopyTags->isChecked();
    C.WriteReplayGain = chkbWriteReplayGain->isChecked();
    C.AlbumGainPerFolder = chkbAlbumGainPerFolder->isChecked();
    C.KeepFolderStructure = chkbKeepFolderStructure->isChecked();
    for (const TSettingControl &Control : FSettingControls)
        Control.Store(C);
    accept();
}

void TConfigForm::btnHelpClick() {
    OpenHelp(this, HelpContext);
}

// --- The Configure command ---------------------------------------------------------------

bool ShowOptions(TConfigForm &Form) {
    TConfig Saved;
    Saved.Assign(Form.Config());
    const bool Accepted = Form.exec() == QDialog::Accepted;
    if (!Accepted)
        Form.Config().Assign(Saved);
    return Accepted;
}

bool ShowOptions(QWidget *Parent, TConfig &Config) {
    TConfigForm Form(Config, Parent);
    return ShowOptions(Form);
}
