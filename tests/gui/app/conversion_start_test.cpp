#include "app/ConfigInstance.h"
#include "app/ConversionStart.h"
#include "app/FileLists.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "conversion/ConvForm.h"
#include "conversion/DispForm.h"
#include "settings/ConfigForm.h"
#include "support/ConvertFixture.h"
#include "support/FileSizeLimit.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/TestMedia.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace testmedia;

namespace {

// The Convert command as the main window runs it: the options asked first, the batch, and
// what follows it.
class ConversionStartTest : public ConvertFixture {
protected:
    void SetUp() override {
        ConvertFixture::SetUp();
        Config().OutputFolder = Dir.path();
        Config().OverwritePrompt = false;
        Config().ShowErrorMessage = false;
    }

    TConfigForm &Options() { return *Main->Windows().ConfigForm; }
    void Convert() { ConvertAction()->trigger(); }

    // Ends the options dialog with the button named Button once it is shown, after Change.
    void AnswerOptions(const char *Button, std::function<void()> Change = {}) {
        Repeat([this, Button, Change] {
            if (!Options().isVisible())
                return false;
            if (Change)
                Change();
            Options().findChild<QPushButton *>(Button)->click();
            return true;
        });
    }
};

} // namespace

TEST_F(ConversionStartTest, CancelInThePromptedOptionsCancelsTheConversion) {
    AddWaves({"a.wav"});
    Config().PromptCheckOption = true;
    bool batchShown = false;
    Repeat([&] {
        batchShown = batchShown || Form().isVisible();
        return false;
    });
    AnswerOptions("btnCancel", [this] { Options().findChild<QCheckBox *>("chkbVBR")->click(); });
    Convert();
    EXPECT_FALSE(batchShown);
    EXPECT_FALSE(QFile::exists(path("a.MP3")));
    EXPECT_EQ(Main->Lists().WaveList()->Record(0)->State, stQueued);
    EXPECT_FALSE(Config().VBR) << "Cancel keeps the settings as they were";

    // OK converts, with what the dialog showed.
    AnswerOptions("btnOK", [this] { Options().findChild<QCheckBox *>("chkbVBR")->click(); });
    Convert();
    EXPECT_TRUE(batchShown);
    EXPECT_TRUE(Config().VBR);
    EXPECT_EQ(Main->Lists().WaveList()->Record(0)->State, stDone);
    EXPECT_TRUE(DecodeMpeg(path("a.MP3")).ok);
    EXPECT_EQ(Dialogs.Unanswered, 0);
}

TEST_F(ConversionStartTest, TheOutputFolderOpensOnlyAfterABatchThatConvertedAndWasNotAborted) {
    QDir(Dir.path()).mkdir("out");
    Config().SpecifyOutputFolder = true;
    Config().OpenOutputFolder = true;
    Config().OutputFolder = path("out");

    // Every job failing converts nothing.
    WriteFile(path("three.wav"), WavHeader(3, 44100, 16, 6000) + QByteArray(6000, '\x11'));
    Main->Lists().AddFiles({path("three.wav")});
    Convert();
    ASSERT_EQ(Main->Lists().WaveList()->Record(0)->State, stError);
    EXPECT_TRUE(Opened.isEmpty());
    Main->Lists().WaveList()->DeleteRow(0);

    // Aborted after the first job was converted, its output kept.
    AddWaves({"a.wav"});
    AddWaves({"long.wav"}, 20);
    Dialogs.MessageAnswers = {mrNo};
    TFileListView &list = *Main->Lists().WaveList();
    Repeat([&] {
        if (!Form().isVisible() || list.Record(0)->State != stDone ||
            Form().findChild<QProgressBar *>("ProgressBar")->value() == 0)
            return false;
        Form().close();
        return true;
    });
    Convert();
    ASSERT_TRUE(Form().Runner().Aborted());
    ASSERT_GT(Form().Runner().ConvertedCount(), 0);
    EXPECT_TRUE(Opened.isEmpty());

    // A batch that runs to its end opens it.
    list.DeleteRow(1);
    Config().OverwritePrompt = false;
    Convert();
    EXPECT_EQ(Opened, QStringList{path("out")});
}

// A normalisation that fails names the file: in a box when files are converted one after
// another, in the error list when several run at once, so no running job waits on a box.
TEST_F(ConversionStartTest, AFailedNormalisationNamesTheFileInABoxOrInTheErrorList) {
    WriteSineWav(path("big.wav"), 2, 44100, 20, 440, 0, 0.25);
    WriteSineWav(path("other.wav"), 2, 44100, 20, 440, 0, 0.25);
    Main->Lists().AddFiles({path("big.wav")});
    Config().FNormalizeVolume = true;
    Config().ConvertJobs = 1;
    Dialogs.MessageAnswers = {mrOk};
    {
        // Room for an MP3 of the file but not for its scaled copy.
        FileSizeLimit limit(1024 * 1024);
        ASSERT_TRUE(limit.Works);
        Convert();
    }
    const auto boxes = Dialogs.AskedOf(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Caption, "Error");
    EXPECT_TRUE(boxes[0].Text.startsWith("Normalize wave file fail.\n" + path("big.wav") + ": "))
        << boxes[0].Text.toStdString();
    EXPECT_TRUE(boxes[0].Text.contains("File too large")) << boxes[0].Text.toStdString();
    EXPECT_EQ(Main->Lists().WaveList()->Record(0)->State, stError);

    Main->Lists().AddFiles({path("other.wav")});
    Config().ConvertJobs = 2;
    Config().ShowErrorMessage = true;
    QStringList shown;
    Repeat([&] {
        TDispForm *errors = Main->Windows().DispForm;
        if (!errors->isVisible())
            return false;
        shown = errors->Lines();
        errors->accept();
        return true;
    });
    {
        FileSizeLimit limit(1024 * 1024);
        Convert();
    }
    EXPECT_EQ(Dialogs.AskedOf(ScriptedDialogs::Kind::Message).size(), 1u) << "no box this time";
    ASSERT_EQ(shown.size(), 4) << shown.join('|').toStdString();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(shown[2 * i], "Normalize wave file fail.");
        EXPECT_TRUE(
            shown[2 * i + 1].startsWith("  " + path(i == 0 ? "big.wav" : "other.wav") + ": "))
            << shown[2 * i + 1].toStdString();
    }
    EXPECT_EQ(Dialogs.Unanswered, 0);
}
