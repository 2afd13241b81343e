#pragma once

// The main window and its program windows as a Convert test drives them: settings in a folder
// of the test's own, dialogs scripted, sounds recorded, the output folder never opened.

#include "app/ConfigInstance.h"
#include "app/ConversionStart.h"
#include "app/FileLists.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "conversion/ConvForm.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/TestMedia.h"

#include <QAction>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

class ConvertFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        RedirectSettings(Dir.path());
        Main = std::make_unique<TMainForm>();
        CreateProgramWindows(*Main);
        Main->show();
        Dialogs.Config = &Config();
        Config().SpecifyOutputFolder = false;
        Config().FNormalizeVolume = false;
        Config().DeleteOriginalFile = false;
        Config().PromptCheckOption = false;
        Main->Conversion().OpenFolder = [this](const QString &Folder) { Opened << Folder; };
    }
    void TearDown() override { Main.reset(); }

    QString path(const QString &Name) const { return Dir.filePath(Name); }
    TConvForm &Form() { return *Main->Windows().ConvForm; }
    QAction *ConvertAction() { return Main->findChild<QAction *>("ConvMP3Action"); }

    // Stereo 440 Hz WAV files of Seconds each, added to the WAV list.
    void AddWaves(const QStringList &Names, double Seconds = 0.3) {
        QStringList paths;
        for (const QString &name : Names) {
            testmedia::WriteSineWav(path(name), 2, 44100, Seconds, 440);
            paths << path(name);
        }
        Main->Lists().AddFiles(paths);
    }

    // Calls Action every 10 ms while the event loop runs (the modal windows' loops too),
    // until it returns true.
    void Repeat(std::function<bool()> Action) {
        auto *timer = new QTimer(Main.get());
        QObject::connect(timer, &QTimer::timeout, [timer, Action = std::move(Action)] {
            if (Action())
                timer->stop();
        });
        timer->start(10);
    }

    QTemporaryDir Dir;
    ScriptedDialogs Dialogs;
    RecordingSoundPlayer Sounds;
    std::unique_ptr<TMainForm> Main;
    QStringList Opened; // the folders Convert asked to open
};
