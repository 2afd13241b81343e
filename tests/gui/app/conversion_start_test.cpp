#include "app/ConfigInstance.h"
#include "app/ConversionStart.h"
#include "app/FileLists.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "conversion/ConvForm.h"
#include "settings/ConfigForm.h"
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
class ConversionStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        RedirectSettings(Dir.path());
        Main = std::make_unique<TMainForm>();
        CreateProgramWindows(*Main);
        Main->show();
        Config().SpecifyOutputFolder = false;
        Config().OutputFolder = Dir.path();
        Config().OverwritePrompt = false;
        Config().FNormalizeVolume = false;
        Config().ShowErrorMessage = false;
        Config().PromptCheckOption = false;
        Main->Conversion().OpenFolder = [this](const QString &Folder) { Opened << Folder; };
    }
    void TearDown() override { Main.reset(); }

    QString path(const QString &Name) const { return Dir.filePath(Name); }
    TConvForm &Form() { return *Main->Windows().ConvForm; }
    TConfigForm &Options() { return *Main->Windows().ConfigForm; }
    void Convert() { Main->findChild<QAction *>("ConvMP3Action")->trigger(); }

    void AddWaves(const QStringList &Names, double Seconds = 0.3) {
        QStringList paths;
        for (const QString &name : Names) {
            WriteSineWav(path(name), 2, 44100, Seconds, 440);
            paths << path(name);
        }
        Main->Lists().AddFiles(paths);
    }

    // Calls Action every 10 ms until it returns true.
    void Meanwhile(std::function<bool()> Action) {
        auto *timer = new QTimer(Main.get());
        QObject::connect(timer, &QTimer::timeout, [timer, Action = std::move(Action)] {
            if (Action())
                timer->stop();
        });
        timer->start(10);
    }

    // Ends the options dialog with the button named Button once it is shown, after Change.
    void AnswerOptions(const char *Button, std::function<void()> Change = {}) {
        Meanwhile([this, Button, Change] {
            if (!Options().isVisible())
                return false;
            if (Change)
                Change();
            Options().findChild<QPushButton *>(Button)->click();
            return true;
        });
    }

    QTemporaryDir Dir;
    ScriptedDialogs Dialogs;
    RecordingSoundPlayer Sounds;
    std::unique_ptr<TMainForm> Main;
    QStringList Opened;
};

} // namespace

TEST_F(ConversionStartTest, CancelInThePromptedOptionsCancelsTheConversion) {
    AddWaves({"a.wav"});
    Config().PromptCheckOption = true;
    bool batchShown = false;
    Meanwhile([&] {
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
    Meanwhile([&] {
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
