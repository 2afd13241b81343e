#include "app/ConfigInstance.h"
#include "app/ConversionStart.h"
#include "app/FileLists.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "conversion/ConvForm.h"
#include "conversion/DirLabel.h"
#include "conversion/DispForm.h"
#include "support/ConvertFixture.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/TestMedia.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <memory>

using namespace testmedia;

namespace {

class ConvFormTest : public ConvertFixture {
protected:
    void SetUp() override {
        ConvertFixture::SetUp();
        Config().OverwritePrompt = true;
        Config().PlaySound = true;
    }

    QAction *Convert() { return ConvertAction(); }

    int Progress() { return Form().findChild<QProgressBar *>("ProgressBar")->value(); }
};

} // namespace

TEST_F(ConvFormTest, ConvertEncodesEveryRowShowsTheStatesAndPlaysTheSound) {
    AddWaves({"a.wav", "b.wav"});
    QStringList captions;
    Repeat([&] {
        if (Form().isVisible())
            captions << Form().windowTitle();
        return false;
    });
    Convert()->trigger();

    EXPECT_FALSE(Form().isVisible());
    EXPECT_TRUE(Form().Runner().Finished());
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("a.MP3")), 0), 440, 4.4);
    EXPECT_TRUE(DecodeMpeg(path("b.MP3")).ok);
    TFileListView &list = *Main->Lists().WaveList();
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(list.Record(row)->State, stDone);
        EXPECT_EQ(list.topLevelItem(row)->text(4), StateColumnText(stDone));
    }
    EXPECT_EQ(Sounds.Played, QStringList{"done.snd"});
    EXPECT_TRUE(captions.contains("File 2 of 2")) << captions.join(", ").toStdString();
    EXPECT_TRUE(Opened.isEmpty()) << "no output folder was specified";
    EXPECT_EQ(Dialogs.Unanswered, 0);
}

TEST_F(ConvFormTest, OutputFolderIsCreatedOnRequestAndOpenedAfterwards) {
    AddWaves({"a.wav"});
    Config().SpecifyOutputFolder = true;
    Config().OpenOutputFolder = true;
    Config().OutputFolder = path("out");
    Dialogs.MessageAnswers = {mrOk};
    Convert()->trigger();
    ASSERT_EQ(Dialogs.Asked.size(), 1u);
    EXPECT_EQ(Dialogs.Asked[0].Text,
              QStringLiteral("The output folder '%1' not existing, Do you want create it?")
                  .arg(path("out")));
    EXPECT_TRUE(DecodeMpeg(path("out/a.MP3")).ok);
    EXPECT_EQ(Opened, QStringList{path("out")});

    // A folder whose parent is missing is not created: the batch stops before it starts.
    Config().OutputFolder = path("no/such/out");
    Dialogs.MessageAnswers = {mrOk};
    Convert()->trigger();
    const auto asked = Dialogs.AskedOf(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[2].Caption, "Error");
    EXPECT_EQ(Main->Lists().WaveList()->Record(0)->State, stQueued);
}

TEST_F(ConvFormTest, ConvertedSourcesAreDeletedAndTheirRowsGo) {
    AddWaves({"a.wav", "b.wav"});
    Config().DeleteOriginalFile = true;
    Convert()->trigger();
    EXPECT_EQ(Main->Lists().WaveList()->RowCount(), 0);
    EXPECT_FALSE(QFile::exists(path("a.wav")));
    EXPECT_TRUE(DecodeMpeg(path("a.MP3")).ok);
}

TEST_F(ConvFormTest, OverwriteQuestionSkipKeepsTheExistingOutput) {
    AddWaves({"a.wav", "b.wav"});
    WriteFile(path("a.MP3"), "keep me");
    Dialogs.OverwriteAnswers = {{mrNo, false}};
    Convert()->trigger();
    ASSERT_EQ(Dialogs.AskedOf(ScriptedDialogs::Kind::Overwrite).size(), 1u);
    EXPECT_EQ(ReadFile(path("a.MP3")), "keep me");
    EXPECT_EQ(Main->Lists().WaveList()->Record(0)->State, stQueued);
    EXPECT_EQ(Main->Lists().WaveList()->Record(1)->State, stDone);
}

TEST_F(ConvFormTest, TheCloseBoxDuringEncodingAsksTheAbortQuestion) {
    AddWaves({"long.wav"}, 20);
    Dialogs.MessageAnswers = {mrNo};
    Repeat([&] {
        if (!Form().isVisible() || Progress() == 0)
            return false;
        Form().close();
        return true;
    });
    Convert()->trigger();
    const auto asked = Dialogs.AskedOf(ScriptedDialogs::Kind::Message);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].Caption, "confirmation");
    EXPECT_EQ(asked[0].Text, "\r\nConversion has aborted, Would you want delete all converted "
                             "audio file(s)?\r\n");
    TFileListView &list = *Main->Lists().WaveList();
    EXPECT_EQ(list.Record(0)->State, stAborted);
    EXPECT_EQ(list.topLevelItem(0)->text(4), StateColumnText(stAborted));
    EXPECT_TRUE(QFile::exists(path("long.MP3"))) << "answered No: the partial output stays";
    EXPECT_TRUE(Sounds.Played.isEmpty()) << "an aborted batch plays no sound";
}

TEST_F(ConvFormTest, AbortAnsweredYesDuringDecodingRemovesTheOutputs) {
    WriteSineWav(path("a.wav"), 2, 44100, 0.3, 440);
    WriteSineWav(path("b.wav"), 2, 44100, 20, 440);
    AddWaves({});
    Main->Lists().AddFiles({path("a.wav"), path("b.wav")});
    Convert()->trigger();
    ASSERT_TRUE(QFile::exists(path("b.MP3")));

    Main->findChild<QTabWidget *>()->setCurrentIndex(1);
    ASSERT_EQ(Config().ConvertType, 1);
    Main->Lists().AddFiles({path("a.MP3"), path("b.MP3")});
    Dialogs.MessageAnswers = {mrYes};
    // Abort as soon as the second job is under way.
    const auto connection =
        QObject::connect(&Form().Runner(), &TConvRunner::JobStarted, [&](int Index) {
            if (Index == 1)
                QTimer::singleShot(0,
                                   [&] { Form().findChild<QPushButton *>("btnAbort")->click(); });
        });
    Convert()->trigger();
    QObject::disconnect(connection);
    TFileListView &list = *Main->Lists().MP3List();
    EXPECT_EQ(list.Record(0)->State, stQueued);
    EXPECT_EQ(list.Record(1)->State, stQueued);
    EXPECT_FALSE(QFile::exists(path("a.WAV")));
    EXPECT_FALSE(QFile::exists(path("b.WAV")));
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Hidden | QDir::Files).filter(".brindle-").size(), 0);
}

TEST_F(ConvFormTest, AWindowClosedBeforeItsBatchBeginsStartsNone) {
    AddWaves({"a.wav"});
    Repeat([&] {
        if (!Form().isVisible())
            return false;
        Form().close();
        return true;
    });
    Convert()->trigger();
    EXPECT_EQ(Form().Runner().StartedCount(), 0);
    EXPECT_FALSE(QFile::exists(path("a.MP3")));
    EXPECT_TRUE(Dialogs.Asked.empty());
}

TEST_F(ConvFormTest, FailuresGoToTheErrorListShownAfterTheBatch) {
    AddWaves({"good.wav"});
    WriteFile(path("three.wav"), WavHeader(3, 44100, 16, 6000) + QByteArray(6000, '\x11'));
    Main->Lists().AddFiles({path("three.wav")});
    Dialogs.MessageAnswers.clear();
    QStringList shownLines;
    Repeat([&] {
        auto *list = Main->Windows().DispForm;
        if (!list->isVisible())
            return false;
        shownLines = list->Lines();
        list->accept();
        return true;
    });
    Convert()->trigger();
    ASSERT_GE(shownLines.size(), 1);
    EXPECT_EQ(
        shownLines[0],
        QStringLiteral("Source file '%1' can't be open, convert error.").arg(path("three.wav")));
    EXPECT_EQ(Main->Windows().DispForm->ErrorCount(), 0) << "cleared after showing";
}

TEST_F(ConvFormTest, AnAbortedBatchDeletesNoSourceWhateverItConvertedBefore) {
    AddWaves({"a.wav"});
    AddWaves({"long.wav"}, 20);
    Config().DeleteOriginalFile = true;
    Dialogs.MessageAnswers = {mrNo};
    TFileListView &list = *Main->Lists().WaveList();
    Repeat([&] {
        if (!Form().isVisible() || list.Record(0)->State != stDoneRemoveSource || Progress() == 0)
            return false;
        Form().close();
        return true;
    });
    Convert()->trigger();
    ASSERT_TRUE(Form().Runner().Aborted());
    EXPECT_EQ(list.RowCount(), 2);
    EXPECT_TRUE(QFile::exists(path("a.wav")));
    EXPECT_TRUE(QFile::exists(path("long.wav")));
    EXPECT_TRUE(DecodeMpeg(path("a.MP3")).ok) << "answered No: what was converted stays";
    EXPECT_EQ(list.Record(0)->State, stDone);
}

TEST_F(ConvFormTest, SameNamedSourcesIntoOneFolderLoseNothing) {
    QDir(Dir.path()).mkpath("dA");
    QDir(Dir.path()).mkpath("dB");
    WriteSineWav(path("dA/Track01.wav"), 1, 44100, 0.3, 440);
    WriteSineWav(path("dB/Track01.wav"), 1, 44100, 0.3, 880);
    Main->Lists().AddFiles({path("dA/Track01.wav"), path("dB/Track01.wav")});
    Config().SpecifyOutputFolder = true;
    Config().OutputFolder = path("out");
    QDir(Dir.path()).mkpath("out");
    Config().DeleteOriginalFile = true;
    QStringList shownLines;
    Repeat([&] {
        auto *errors = Main->Windows().DispForm;
        if (!errors->isVisible())
            return false;
        shownLines = errors->Lines();
        errors->accept();
        return true;
    });
    Convert()->trigger();
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("out/Track01.MP3")), 0), 440, 4.4);
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("out/Track01 (2).MP3")), 0), 880, 8.8);
    EXPECT_FALSE(QFile::exists(path("dA/Track01.wav"))) << "converted whole: deleted as asked";
    EXPECT_TRUE(QFile::exists(path("dB/Track01.wav"))) << "its output was renamed: kept";
    ASSERT_EQ(shownLines.size(), 2);
    EXPECT_EQ(shownLines[0], "Conversion Warning: " + path("dB/Track01.wav"));
    EXPECT_TRUE(Dialogs.AskedOf(ScriptedDialogs::Kind::Overwrite).empty());
}

TEST_F(ConvFormTest, RowsArrivingFromABackgroundAddDuringAConversionAreNotPartOfIt) {
    AddWaves({"a.wav"});
    QStringList later;
    for (int i = 0; i < 4; ++i) {
        later << path(QStringLiteral("later%1.wav").arg(i));
        WriteSineWav(later.back(), 2, 44100, 0.3, 440);
    }
    Main->Lists().SetWorkerThreshold(1);
    ASSERT_TRUE(Main->Lists().AddFiles(later).InBackground);
    // The batch takes the one row listed now; the others arrive while its window is up.
    Convert()->trigger();
    if (Main->Lists().Adding()) {
        QEventLoop loop;
        QObject::connect(&Main->Lists(), &TFileLists::AddFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const TFileListView &list = *Main->Lists().WaveList();
    ASSERT_EQ(list.RowCount(), 5);
    EXPECT_EQ(list.Record(0)->State, stDone);
    EXPECT_TRUE(QFile::exists(path("a.MP3")));
    for (int r = 1; r < 5; ++r) {
        EXPECT_EQ(list.Record(r)->SourcePath, later[r - 1]);
        EXPECT_EQ(list.Record(r)->State, stQueued);
    }
    EXPECT_FALSE(QFile::exists(path("later0.MP3")));
}
