#include "app/Help.h"
#include "settings/Config.h"
#include "settings/ConfigForm.h"
#include "support/ScriptedDialogs.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

// Readable failure messages.
void PrintTo(const QString &Text, std::ostream *Out) {
    *Out << '"' << Text.toStdString() << '"';
}

namespace {

class ConfigFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Temp.isValid());
        Config.OutputFolder = Temp.path();
    }

    // Shows the dialog as the Configure command does, without waiting for it.
    void Open() { Form.show(); }

    template <typename T> T *Find(const char *Name) {
        T *Control = Form.findChild<T *>(QString::fromLatin1(Name));
        EXPECT_NE(Control, nullptr) << Name;
        return Control;
    }
    QString Text(const char *Label) { return Find<QLabel>(Label)->text(); }
    QSlider *TrackBar(const char *Name) { return Find<QSlider>(Name); }
    QCheckBox *Box(const char *Name) { return Find<QCheckBox>(Name); }
    QLineEdit *Edit(const char *Name) { return Find<QLineEdit>(Name); }
    void Click(const char *Button) { Find<QAbstractButton>(Button)->click(); }
    void Preset(const char *Name) { Find<QAction>(Name)->trigger(); }
    void PageControlTo(const char *Tab) {
        Find<QTabWidget>("PageControl")->setCurrentWidget(Find<QWidget>(Tab));
    }
    void Leave(QLineEdit *Edit) {
        QFocusEvent Event(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(Edit, &Event);
    }
    // The questions asked so far, as "Caption: Text".
    std::vector<QString> Messages() const {
        std::vector<QString> Result;
        for (const auto &Q : Dialogs.AskedOf(ScriptedDialogs::Kind::Message))
            Result.push_back(Q.Caption + QStringLiteral(": ") + Q.Text);
        return Result;
    }

    QTemporaryDir Temp;
    ScriptedDialogs Dialogs;
    TConfig Config;
    TConfigForm Form{Config};
};

// --- Opening -----------------------------------------------------------------------------

TEST_F(ConfigFormTest, DefaultsShowTheirBitratesWithTheVbrControlsDisabled) {
    Open();
    EXPECT_EQ(Form.windowTitle(), "Options");
    EXPECT_EQ(Find<QTabWidget>("PageControl")->currentWidget()->objectName(), "tabsGeneralOptions");
    EXPECT_FALSE(Find<QWidget>("tabsMP3EncoderOption")->isVisible());
    EXPECT_EQ(Text("lbMinBitRate"), "128KBits");
    EXPECT_EQ(Text("lbMaxBitRate"), "320KBits");
    EXPECT_FALSE(Box("chkbVBR")->isChecked());
    for (const char *Name : {"chkbWrtVBRHrd", "trkbarMaxBitrate", "cbQuality", "trkbarVBRQuality"})
        EXPECT_FALSE(Find<QWidget>(Name)->isEnabled()) << Name;
    EXPECT_EQ(Text("lbVBRQuality"), "4");
    EXPECT_EQ(TrackBar("trkbarVBRQuality")->value(), 5);
    EXPECT_TRUE(Form.Loaded());
}

TEST_F(ConfigFormTest, OkRightAfterOpeningKeepsEverySetting) {
    // Settings without a control, which OK must not touch.
    Config.ConvertType = 1;
    Config.ShowErrorMessage = false;
    Config.ShowMPEGInfo = true;
    Config.LastOpenFolder = QStringLiteral("/music/last");
    Config.SpecifyOutputFolder = false;
    Config.OpenOutputFolder = false;
    Config.FavoriteBrowsFolder = "/srv/" + QString(300, u'd'); // longer than 255
    Config.FNormalizeVolume = true;
    Config.NormalizeFactor = 86;
    Config.OverwritePrompt = false;
    Config.DeleteOriginalFile = true;
    Config.PlaySound = false;
    Config.PromptCheckOption = true;
    Config.SampleRate = 3;
    Config.BitRate = 4;
    Config.MaxBitRate = 11;
    Config.Mode = 3;
    Config.Quality = 2;
    Config.VBRQuality = 7;
    Config.VBR = true;
    Config.WriteVBRHeader = true;
    Config.Copyright = true;
    Config.CRC = false;
    Config.Original = true;
    Config.Private = true;
    Config.WaveOutputOption = 2;
    const TConfigValues Before = Config;
    Open();
    EXPECT_TRUE(Dialogs.Asked.empty()) << "a setting already on shows no warning";
    EXPECT_FALSE(Box("chkbOpenOutputFolder")->isEnabled());
    EXPECT_EQ(Text("lbMinBitRate"), "64KBits");
    EXPECT_EQ(Text("lbVBRQuality"), "7");
    Click("btnOK");
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(static_cast<const TConfigValues &>(Config), Before);
}

TEST_F(ConfigFormTest, OutOfRangeStoredValuesAreBroughtIntoRange) {
    Config.BitRate = 20;
    Config.MaxBitRate = -4;
    Config.VBRQuality = -3; // position 12
    Config.Quality = 7;
    Config.Mode = 9;
    Open();
    EXPECT_EQ(Text("lbMinBitRate"), "320KBits");
    EXPECT_EQ(Text("lbMaxBitRate"), "32KBits");
    EXPECT_EQ(Find<QComboBox>("cbQuality")->currentIndex(), -1);
    Click("btnOK");
    EXPECT_EQ(Config.BitRate, 13);
    EXPECT_EQ(Config.MaxBitRate, 0);
    EXPECT_EQ(Config.VBRQuality, 0);
    EXPECT_EQ(Config.Quality, -1);
    EXPECT_EQ(Config.Mode, -1);
}

TEST_F(ConfigFormTest, OpeningWithVbrPullsAStoredMaximumUpToTheBitrate) {
    Config.BitRate = 3;
    Config.MaxBitRate = 5;
    Open();
    EXPECT_EQ(Text("lbMaxBitRate"), "80KBits");
    Form.hide();

    // The maximum keeps its old position while filling, so only the rule can move it.
    Config.BitRate = 10;
    Config.VBR = true;
    Open();
    EXPECT_EQ(TrackBar("trkbarMaxBitrate")->value(), 10);
    EXPECT_EQ(Text("lbMaxBitRate"), "192KBits");
}

// --- Output folder -----------------------------------------------------------------------

TEST_F(ConfigFormTest, OpenFolderBoxIsEnabledOnlyWhileFolderIsSelected) {
    Open();
    Find<QRadioButton>("rabSameInputFolder")->click();
    EXPECT_FALSE(Box("chkbOpenOutputFolder")->isEnabled());
    EXPECT_TRUE(Edit("edtOutputFolder")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("btnOutFolderBrows")->isEnabled());
    Find<QRadioButton>("rabSpecifyOutputFolder")->click();
    EXPECT_TRUE(Box("chkbOpenOutputFolder")->isEnabled());
}

TEST_F(ConfigFormTest, ChoosersStartAtTheMusicFolderAndAtNone) {
    Open();
    Dialogs.FolderAnswers = {QStringLiteral("/data/out"), QString(), QStringLiteral("/data/fav")};
    Click("btnOutFolderBrows");
    EXPECT_EQ(Edit("edtOutputFolder")->text(), "/data/out");
    Click("btnOutFolderBrows"); // cancelled: the text stays
    EXPECT_EQ(Edit("edtOutputFolder")->text(), "/data/out");
    Click("Button3");
    EXPECT_EQ(Edit("edtFavoriteBrowsFolder")->text(), "/data/fav");

    const auto Asked = Dialogs.AskedOf(ScriptedDialogs::Kind::Folder);
    ASSERT_EQ(Asked.size(), 3u);
    EXPECT_EQ(Asked[0].Caption, "Select Directory");
    EXPECT_EQ(Asked[0].Folder, TConfigValues::DefaultMusicFolder());
    EXPECT_EQ(Asked[1].Folder, TConfigValues::DefaultMusicFolder()) << "not the edit's text";
    EXPECT_TRUE(Asked[2].Folder.isEmpty());
}

TEST_F(ConfigFormTest, MissingFolderQuestionCancelledStaysOpenAndStoresNothing) {
    const QString Missing = Temp.filePath(QStringLiteral("new"));
    Open();
    Edit("edtOutputFolder")->setText(Missing);
    TrackBar("trkBarBitrate")->setValue(2);
    Dialogs.MessageAnswers = {mrCancel};
    Click("btnOK");
    EXPECT_EQ(Messages(), std::vector<QString>{"Confirmation: The output folder '" + Missing +
                                               "' not existing, Do you want create it?"});
    EXPECT_EQ(Dialogs.Asked[0].Icon, TMsgIcon::Question);
    EXPECT_EQ(Dialogs.Asked[0].Buttons, mbOK | mbCancel);
    EXPECT_TRUE(Form.isVisible());
    EXPECT_FALSE(QFileInfo::exists(Missing));
    EXPECT_EQ(Config.BitRate, 8);
    EXPECT_EQ(Config.OutputFolder, Temp.path());
}

TEST_F(ConfigFormTest, MissingFolderIsCreatedAndStoredTrimmed) {
    const QString Missing = Temp.filePath(QStringLiteral("new"));
    Open();
    Edit("edtOutputFolder")->setText("  " + Missing + " ");
    Dialogs.MessageAnswers = {mrOk};
    Click("btnOK");
    EXPECT_TRUE(QFileInfo(Missing).isDir());
    EXPECT_EQ(Config.OutputFolder, Missing);
    EXPECT_EQ(Form.result(), QDialog::Accepted);
}

TEST_F(ConfigFormTest, FolderThatCannotBeCreatedIsAnErrorInEitherMode) {
    const QString Deep = Temp.filePath(QStringLiteral("no/such"));
    for (const QString &Folder : {Deep, QString(), QStringLiteral("relative")}) {
        Dialogs.Asked.clear();
        Open();
        Find<QRadioButton>("rabSameInputFolder")->click();
        Edit("edtOutputFolder")->setText(Folder);
        Dialogs.MessageAnswers = {mrOk, mrOk};
        Click("btnOK");
        ASSERT_EQ(Messages().size(), 2u) << Folder.toStdString();
        EXPECT_EQ(Messages()[1],
                  "Error: The output folder '" + Folder + "' incorrect, choose one again, please.");
        EXPECT_EQ(Dialogs.Asked[1].Icon, TMsgIcon::Error);
        EXPECT_TRUE(Form.isVisible());
        EXPECT_TRUE(Config.SpecifyOutputFolder) << "nothing stored";
        Form.hide();
    }
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath(QStringLiteral("relative"))));
}

// --- Normalisation -----------------------------------------------------------------------

TEST_F(ConfigFormTest, LeavingTheNormaliseEditClampsTo80And100) {
    Open();
    QLineEdit *Factor = Edit("edtNormalizeFactor");
    for (const auto &[Typed, Shown] : std::vector<std::pair<QString, QString>>{
             {"120", "100"}, {"50", "80"}, {"90", "90"}, {"abc", "abc"}}) {
        Factor->setText(Typed);
        Leave(Factor);
        EXPECT_EQ(Factor->text(), Shown) << Typed.toStdString();
    }
    EXPECT_TRUE(Dialogs.Asked.empty()) << "leaving the edit does not complain";
}

TEST_F(ConfigFormTest, OkOnlyClampsTheNormaliseFactorTo0Through100) {
    Open();
    Edit("edtNormalizeFactor")->setText(QStringLiteral("120"));
    Click("btnOK");
    EXPECT_EQ(Config.NormalizeFactor, 100);

    Open();
    Edit("edtNormalizeFactor")->setText(QStringLiteral("-5"));
    Click("btnOK");
    EXPECT_EQ(Config.NormalizeFactor, 0);
}

TEST_F(ConfigFormTest, EnterInTheNormaliseEditStoresTheTypedValue) {
    Open();
    QLineEdit *Factor = Edit("edtNormalizeFactor");
    Factor->setText(QStringLiteral("50"));
    QKeyEvent Enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(Factor, &Enter);
    EXPECT_EQ(Form.result(), QDialog::Accepted);
    EXPECT_EQ(Config.NormalizeFactor, 50);
}

TEST_F(ConfigFormTest, NonNumericNormaliseFactorBlocksOk) {
    Open();
    Edit("edtNormalizeFactor")->setText(QStringLiteral("9x"));
    Box("chkbPlaySound")->setChecked(false);
    Click("btnOK");
    EXPECT_EQ(Messages(), std::vector<QString>{"Error: '9x' is not a valid integer value"});
    EXPECT_TRUE(Form.isVisible());
    EXPECT_TRUE(Config.PlaySound);
}

TEST_F(ConfigFormTest, UpDownStepsByTwoBetween80And100) {
    Open();
    QLineEdit *Factor = Edit("edtNormalizeFactor");
    auto *UpDown = Find<TUpDown>("UpDown1");
    UpDown->Step(1);
    EXPECT_EQ(Factor->text(), "100");
    UpDown->Step(1);
    EXPECT_EQ(Factor->text(), "100");
    Factor->setText(QStringLiteral("81"));
    UpDown->Step(-1);
    UpDown->Step(-1);
    EXPECT_EQ(Factor->text(), "80");
    Factor->setText(QStringLiteral("junk")); // steps from the last position
    UpDown->findChild<QToolButton *>(QStringLiteral("Up"))->click();
    EXPECT_EQ(Factor->text(), "82");
}

// --- Delete original warning -------------------------------------------------------------

TEST_F(ConfigFormTest, DeleteOriginalWarningCancelledUnchecksTheBox) {
    Open();
    Dialogs.MessageAnswers = {mrCancel, mrOk};
    Click("chkbDeleteOriginalFile");
    EXPECT_FALSE(Box("chkbDeleteOriginalFile")->isChecked());
    Click("chkbDeleteOriginalFile");
    EXPECT_TRUE(Box("chkbDeleteOriginalFile")->isChecked());
    Click("chkbDeleteOriginalFile"); // unchecking asks nothing
    const QString Warning = "Warning: This option would delete original files after "
                            "successfully conversion, are you sure?";
    EXPECT_EQ(Messages(), (std::vector<QString>{Warning, Warning}));
    EXPECT_EQ(Dialogs.Asked[0].Icon, TMsgIcon::Exclamation);
    EXPECT_EQ(Dialogs.Asked[0].Buttons, mbOK | mbCancel);
}

// --- Encoder tab -------------------------------------------------------------------------

TEST_F(ConfigFormTest, WithVbrTheMaximumNeverFallsBelowTheBitrate) {
    Open();
    Click("chkbVBR");
    for (const char *Name : {"chkbWrtVBRHrd", "trkbarMaxBitrate", "cbQuality", "trkbarVBRQuality"})
        EXPECT_TRUE(Find<QWidget>(Name)->isEnabled()) << Name;
    TrackBar("trkBarBitrate")->setValue(10);
    TrackBar("trkbarMaxBitrate")->setValue(5);
    EXPECT_EQ(TrackBar("trkbarMaxBitrate")->value(), 10);
    EXPECT_EQ(Text("lbMaxBitRate"), "192KBits");
    TrackBar("trkbarMaxBitrate")->setValue(11);
    TrackBar("trkBarBitrate")->setValue(12);
    EXPECT_EQ(TrackBar("trkbarMaxBitrate")->value(), 12);
    EXPECT_EQ(Text("lbMinBitRate"), "256KBits");
    EXPECT_EQ(Text("lbMaxBitRate"), "256KBits");
}

TEST_F(ConfigFormTest, WithoutVbrTheTwoBitratesAreIndependent) {
    Open();
    TrackBar("trkbarMaxBitrate")->setValue(2);
    TrackBar("trkBarBitrate")->setValue(9);
    EXPECT_EQ(TrackBar("trkbarMaxBitrate")->value(), 2);
    EXPECT_EQ(Text("lbMaxBitRate"), "48KBits");
    EXPECT_EQ(Text("lbMinBitRate"), "160KBits");
    TrackBar("trkbarVBRQuality")->setValue(8);
    EXPECT_EQ(Text("lbVBRQuality"), "1");
}

TEST_F(ConfigFormTest, PresetsButtonOpensTheFourPresetsInOrder) {
    Open();
    PageControlTo("tabsMP3EncoderOption");
    auto *Menu = Find<QMenu>("pmLamePresets");
    Click("sbtnLamePresets");
    EXPECT_TRUE(Menu->isVisible());
    Menu->hide();
    QStringList Captions;
    for (QAction *Action : Menu->actions())
        Captions << Action->text();
    EXPECT_EQ(Captions,
              QStringList({"Near CD-Quality (128Kbps, Stereo)", "CD-Quality (192Kbps, Stereo)",
                           "Near CD-Quality - VBR (128Kbps, Stereo)",
                           "CD-Quality - VBR (192Kbps, Stereo)"}));
    EXPECT_EQ(Find<QToolButton>("sbtnLamePresets")->text(), "MP3 Encoder Quality Presets");
}

TEST_F(ConfigFormTest, VbrPresetSetsItsColumnsAndKeepsTheFlags) {
    Config.CRC = false;
    Config.Copyright = true;
    Config.Mode = 3;
    Config.SampleRate = 0;
    Open();
    Preset("CDQualityVBR44100Hz192KbpsStereo1");
    EXPECT_EQ(Text("lbMinBitRate"), "192KBits");
    EXPECT_EQ(Text("lbMaxBitRate"), "320KBits");
    EXPECT_TRUE(Box("chkbVBR")->isChecked());
    EXPECT_TRUE(Find<QComboBox>("cbQuality")->isEnabled());
    EXPECT_EQ(Find<QComboBox>("cbQuality")->currentText(), "High");
    EXPECT_EQ(Text("lbVBRQuality"), "1");
    EXPECT_FALSE(Box("chkbCRC")->isChecked());
    EXPECT_TRUE(Box("chkbCopyright")->isChecked());
    EXPECT_EQ(Config.BitRate, 8) << "nothing reaches the settings before OK";
    Click("btnOK");
    EXPECT_EQ(Config.SampleRate, 1);
    EXPECT_EQ(Config.Mode, 0);
}

TEST_F(ConfigFormTest, EachPresetSetsBitrateAndVbr) {
    struct Row {
        const char *Action;
        int BitRate;
        bool VBR;
        int VBRQuality;
    };
    for (const Row &R :
         {Row{"pmNearCDQuality", 8, false, 6}, Row{"CDQuality44100Hz128KbpsStereo1", 10, false, 6},
          Row{"NearCDQualityVBR44100Hz128KbpsStereo1", 8, true, 5},
          Row{"CDQualityVBR44100Hz192KbpsStereo1", 10, true, 1}}) {
        Config.VBR = true;
        Config.VBRQuality = 6;
        Config.MaxBitRate = 11;
        Config.Quality = 1;
        Config.BitRate = 2;
        Open();
        Preset(R.Action);
        Click("btnOK");
        EXPECT_EQ(Config.BitRate, R.BitRate) << R.Action;
        EXPECT_EQ(Config.VBR, R.VBR) << R.Action;
        EXPECT_EQ(Config.VBRQuality, R.VBRQuality) << R.Action;
        EXPECT_EQ(Config.MaxBitRate, R.VBR ? 13 : 11) << R.Action;
        EXPECT_EQ(Config.Quality, R.VBR ? (R.BitRate == 8 ? 0 : 2) : 1) << R.Action;
    }
}

// --- The Configure command ---------------------------------------------------------------

TEST_F(ConfigFormTest, CancelRestoresEverySettingIncludingUnshownOnes) {
    Config.LastOpenFolder = QStringLiteral("/music/last");
    const TConfigValues Before = Config;
    QTimer::singleShot(0, &Form, [this] {
        TrackBar("trkBarBitrate")->setValue(1);
        // Whatever changed the settings while the dialog was open is undone too.
        Config.ConvertType = 1;
        Config.ShowErrorMessage = false;
        Config.ShowMPEGInfo = true;
        Config.LastOpenFolder = QStringLiteral("/elsewhere");
        Config.BitRate = 0;
        Find<QCheckBox>("chkbCopyTags")->setChecked(false);
        Config.CopyTags = false;
        Find<QCheckBox>("chkbKeepFolderStructure")->setChecked(false);
        Config.KeepFolderStructure = false;
        Find<QCheckBox>("chkbWriteReplayGain")->setChecked(true);
        Config.WriteReplayGain = true;
        Click("btnCancel");
    });
    EXPECT_FALSE(ShowOptions(Form));
    EXPECT_EQ(static_cast<const TConfigValues &>(Config), Before);
    EXPECT_TRUE(Config.CopyTags);
    EXPECT_TRUE(Config.KeepFolderStructure);
    EXPECT_FALSE(Config.WriteReplayGain);
}

TEST_F(ConfigFormTest, OkStoresTheControlsTrimmed) {
    QTimer::singleShot(0, &Form, [this] {
        TrackBar("trkBarBitrate")->setValue(11);
        Edit("edtFavoriteBrowsFolder")->setText(QStringLiteral(" /srv/fav "));
        Click("btnOK");
    });
    EXPECT_TRUE(ShowOptions(Form));
    EXPECT_EQ(Config.BitRate, 11);
    EXPECT_EQ(Config.FavoriteBrowsFolder, "/srv/fav");
}

// --- Help --------------------------------------------------------------------------------

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Opened;
public slots:
    void Open(const QUrl &Url) { Opened << Url; }
};

TEST_F(ConfigFormTest, HelpOpensTopicOneOfTheManual) {
    const QString Manual = Temp.filePath(QStringLiteral("index.html"));
    QFile File(Manual);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.close();
    SetHelpFile(Manual);
    UrlRecorder Recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &Recorder, "Open");
    Open();
    Click("btnHelp");
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    SetHelpFile(QString());

    ASSERT_EQ(Recorder.Opened.size(), 1);
    EXPECT_EQ(Recorder.Opened[0].toLocalFile(), Manual);
    EXPECT_EQ(Recorder.Opened[0].fragment(), "context-1");
    EXPECT_TRUE(Dialogs.Asked.empty());
}

TEST_F(ConfigFormTest, MissingManualIsReported) {
    SetHelpFile(Temp.filePath(QStringLiteral("none.html")));
    Open();
    Dialogs.MessageAnswers = {mrOk};
    Click("btnHelp");
    SetHelpFile(QString());
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_TRUE(Messages()[0].startsWith("Error: ")) << Messages()[0].toStdString();
}

} // namespace

#include "config_form_test.moc"

TEST_F(ConfigFormTest, TheJobCountShowsTheCoresAndStaysFollowingThemUnlessChanged) {
    Open();
    QSpinBox *Jobs = Find<QSpinBox>("spinConvertJobs");
    EXPECT_EQ(Jobs->value(), Config.ConvertJobCount());
    EXPECT_EQ(Jobs->minimum(), 1);
    Click("btnOK");
    EXPECT_EQ(Config.ConvertJobs, 0) << "left as it was: one per core on any machine";

    const int Other = Jobs->value() == 1 ? 2 : 1;
    Open();
    Jobs->setValue(Other);
    Click("btnOK");
    EXPECT_EQ(Config.ConvertJobs, Other);
    Open();
    EXPECT_EQ(Jobs->value(), Other);
}

TEST_F(ConfigFormTest, CopyTagsBoxShowsTheSettingAndOkStoresIt) {
    Open();
    QCheckBox *CopyTags = Find<QCheckBox>("chkbCopyTags");
    EXPECT_EQ(CopyTags->text(), "Copy tags to the converted files");
    EXPECT_TRUE(CopyTags->isChecked()) << "on by default";
    CopyTags->setChecked(false);
    Click("btnOK");
    EXPECT_FALSE(Config.CopyTags);
    Open();
    EXPECT_FALSE(CopyTags->isChecked());
    CopyTags->setChecked(true);
    Click("btnOK");
    EXPECT_TRUE(Config.CopyTags);
}

TEST_F(ConfigFormTest, ReplayGainBoxSitsBelowCopyTagsShowsTheSettingAndOkStoresIt) {
    Open();
    QCheckBox *CopyTags = Find<QCheckBox>("chkbCopyTags");
    QCheckBox *ReplayGain = Find<QCheckBox>("chkbWriteReplayGain");
    EXPECT_EQ(ReplayGain->text(), "Write ReplayGain tags");
    EXPECT_EQ(ReplayGain->parentWidget(), CopyTags->parentWidget());
    EXPECT_FALSE(ReplayGain->isChecked()) << "off by default";
    ReplayGain->setChecked(true);
    Click("btnOK");
    EXPECT_TRUE(Config.WriteReplayGain);
    EXPECT_TRUE(Config.CopyTags) << "independent of copying tags";
    Open();
    EXPECT_TRUE(ReplayGain->isChecked());
    ReplayGain->setChecked(false);
    Click("btnOK");
    EXPECT_FALSE(Config.WriteReplayGain);
}

TEST_F(ConfigFormTest, KeepFolderStructureBoxShowsTheSettingFollowsTheFolderChoiceAndOkStoresIt) {
    Config.SpecifyOutputFolder = false;
    Open();
    QCheckBox *Keep = Find<QCheckBox>("chkbKeepFolderStructure");
    EXPECT_EQ(Keep->text(), "Keep the folder structure of added folders");
    EXPECT_TRUE(Keep->isChecked()) << "on by default";
    EXPECT_FALSE(Keep->isEnabled()) << "nothing to mirror into without an output folder";
    Find<QRadioButton>("rabSpecifyOutputFolder")->click();
    EXPECT_TRUE(Keep->isEnabled());
    Keep->setChecked(false);
    Click("btnOK");
    EXPECT_FALSE(Config.KeepFolderStructure);
    EXPECT_TRUE(Config.SpecifyOutputFolder);
    Open();
    EXPECT_FALSE(Keep->isChecked());
    EXPECT_TRUE(Keep->isEnabled());
    Keep->setChecked(true);
    Click("btnOK");
    EXPECT_TRUE(Config.KeepFolderStructure);
}

TEST_F(ConfigFormTest, NormalizationModeChoosesItsControlsAndOkStoresTheLoudnessSettings) {
    Open();
    auto *Peak = Find<QRadioButton>("rbNormalizePeak");
    auto *Loudness = Find<QRadioButton>("rbNormalizeLoudness");
    auto *Target = Find<QSpinBox>("seLoudnessTarget");
    auto *Ceiling = Find<QDoubleSpinBox>("seTruePeakCeiling");
    EXPECT_TRUE(Peak->isChecked()) << "peak by default";
    EXPECT_TRUE(Edit("edtNormalizeFactor")->isEnabled());
    EXPECT_FALSE(Target->isEnabled());
    EXPECT_FALSE(Ceiling->isEnabled());
    EXPECT_EQ(Target->value(), -16);
    EXPECT_DOUBLE_EQ(Ceiling->value(), -1.0);
    EXPECT_EQ(Target->minimum(), -31);
    EXPECT_EQ(Target->maximum(), -5);
    for (const char *Preset :
         {"-23 LUFS  EBU R128 broadcast", "-16 LUFS  portable", "-14 LUFS  streaming"})
        EXPECT_TRUE(Target->toolTip().contains(Preset)) << Preset;

    Loudness->click();
    EXPECT_FALSE(Edit("edtNormalizeFactor")->isEnabled());
    EXPECT_TRUE(Target->isEnabled());
    EXPECT_TRUE(Ceiling->isEnabled());
    Target->setValue(-23);
    Ceiling->setValue(-2.5);
    Click("btnOK");
    EXPECT_EQ(Config.NormalizeMode, 1);
    EXPECT_EQ(Config.LoudnessTarget, -23);
    EXPECT_EQ(Config.TruePeakCeiling, -25);
    EXPECT_EQ(Config.NormalizeFactor, 98) << "the peak setting is kept";

    Open();
    EXPECT_TRUE(Loudness->isChecked());
    EXPECT_EQ(Target->value(), -23);
    EXPECT_DOUBLE_EQ(Ceiling->value(), -2.5);
    Peak->click();
    EXPECT_FALSE(Target->isEnabled());
    Click("btnOK");
    EXPECT_EQ(Config.NormalizeMode, 0);
    EXPECT_EQ(Config.LoudnessTarget, -23);
}
