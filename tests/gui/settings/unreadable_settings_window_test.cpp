#include "app/ConfigInstance.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/UnreadableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// The window with a settings file it cannot read: said at start, the defaults used, and the
// file left as it was on close.
TEST(UnreadableSettingsWindowTest, IsReportedRunsWithTheDefaultsAndKeepsTheFile) {
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    RedirectSettings(Dir.path());
    const QString StoreFile = Dir.filePath("user/Brindle Team/Brindle.conf");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(StoreFile).path()));
    const QByteArray Stored = "[1.27]\nBitRate=10\nMode=3\nConvertType=1\n";
    {
        QFile File(StoreFile);
        ASSERT_TRUE(File.open(QIODevice::WriteOnly));
        File.write(Stored);
    }
    ScriptedDialogs Dialogs;
    {
        UnreadableFile Guard(StoreFile);
        if (!Guard.Works)
            GTEST_SKIP() << "the file stays readable here";
        auto Main = std::make_unique<TMainForm>();
        CreateProgramWindows(*Main);
        Main->show();
        ASSERT_EQ(Dialogs.Asked.size(), 1u);
        EXPECT_EQ(Dialogs.Asked[0].Text,
                  QStringLiteral("The settings file '%1' cannot be read: Permission denied. The "
                                 "default settings are used, and the file is not replaced.")
                      .arg(StoreFile));
        EXPECT_EQ(Dialogs.Asked[0].Caption, "Error");
        EXPECT_EQ(static_cast<const TConfigValues &>(Config()), TConfigValues());
        EXPECT_TRUE(Main->isVisible());

        Config().BitRate = 2;
        Main->close();
        ASSERT_EQ(Dialogs.Asked.size(), 2u);
        EXPECT_TRUE(Dialogs.Asked[1].Text.startsWith(
            QStringLiteral("The settings could not be saved to '%1'").arg(StoreFile)))
            << Dialogs.Asked[1].Text.toStdString();
    }
    QFile File(StoreFile);
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    EXPECT_EQ(File.readAll(), Stored);
}
