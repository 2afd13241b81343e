#include "app/ConfigInstance.h"
#include "app/ConversionStart.h"
#include "app/FileLists.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "conversion/ConvForm.h"
#include "conversion/DispForm.h"
#include "gui/conversion/ModalDriver.h"
#include "support/ConvertFixture.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/TestMedia.h"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using namespace testmedia;

namespace {

// A Convert that meets rows whose files could not be read.
class UnreadableConvertTest : public ConvertFixture {
protected:
    void SetUp() override {
        ConvertFixture::SetUp();
        Config().ShowErrorMessage = true;
        Config().PlaySound = false;
    }

    TFileListView &List() { return *Main->Lists().WaveList(); }

    // Runs Convert; returns the lines of the error list it showed, and whether the
    // conversion window came up.
    QStringList Convert(bool *ConversionShown = nullptr) {
        QStringList shown;
        bool converting = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (Main->Windows().ConvForm->isVisible())
                converting = true;
            auto *errors = Main->Windows().DispForm;
            if (errors->isVisible()) {
                shown = errors->Lines();
                errors->accept();
            }
        });
        poll.start(5);
        ConvertAction()->trigger();
        if (ConversionShown)
            *ConversionShown = converting;
        return shown;
    }
};

TEST_F(UnreadableConvertTest, UnreadableRowOfABatchGetsAnErrorLineAfterTheBatchs) {
    WriteSineWav(path("good.wav"), 1, 8000, 0.2, 440);
    WriteFile(path("bad.wav"), QByteArray(3000, 'x'));
    Main->Lists().AddFiles({path("bad.wav"), path("good.wav")});
    ASSERT_EQ(List().RowCount(), 2);
    const QString state = List().topLevelItem(0)->text(4);
    ASSERT_TRUE(state.startsWith("Unreadable: "));

    const QStringList lines = Convert();
    EXPECT_TRUE(QFile::exists(path("good.MP3")));
    EXPECT_EQ(
        lines,
        QStringList{QStringLiteral("Source file '%1' skipped. %2").arg(path("bad.wav"), state)});
    EXPECT_EQ(List().topLevelItem(0)->text(4), state) << "the reason stays after the batch";
    EXPECT_EQ(Main->Windows().DispForm->ErrorCount(), 0) << "cleared after showing";
}

TEST_F(UnreadableConvertTest, OnlyUnreadableRowsShowTheirLinesWithoutAConversion) {
    WriteFile(path("bad.wav"), QByteArray(3000, 'x'));
    WriteFile(path("worse.wav"), QByteArray(10, 'y'));
    Main->Lists().AddFiles({path("bad.wav"), path("worse.wav")});
    ASSERT_EQ(List().RowCount(), 2);

    bool converting = true;
    const QStringList lines = Convert(&converting);
    EXPECT_FALSE(converting);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(
        QStringLiteral("Source file '%1' skipped. Unreadable: ").arg(path("bad.wav"))));
    EXPECT_TRUE(lines[1].contains(path("worse.wav")));

    // Told once: with the error list turned off nothing is shown, and nothing converts.
    Config().ShowErrorMessage = false;
    EXPECT_TRUE(Convert().isEmpty());
}

} // namespace
