#include "PrivateBus.h"
#include "app/ConfigInstance.h"
#include "app/FileLists.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "conversion/ConvForm.h"
#include "conversion/DesktopProgress.h"
#include "conversion/DirLabel.h"
#include "conversion/DispForm.h"
#include "support/ConvertFixture.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/TestMedia.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

using namespace testmedia;

namespace {

class ConvProgressTest : public ConvertFixture {
protected:
    void SetUp() override {
        ConvertFixture::SetUp();
        Config().OverwritePrompt = false;
        Config().PlaySound = false;
        Config().ShowErrorMessage = false;
    }

    void Convert() { ConvertAction()->trigger(); }

    // The rows of running jobs the window shows: file name -> the row's bar.
    std::map<QString, QProgressBar *> Rows() {
        std::map<QString, QProgressBar *> rows;
        for (QWidget *row : Form().findChildren<QWidget *>()) {
            if (!row->objectName().startsWith("JobRow") || !row->isVisibleTo(&Form()))
                continue;
            rows[row->findChild<QLabel *>("JobName")->text()] =
                row->findChild<QProgressBar *>("JobBar");
        }
        return rows;
    }
};

TEST_F(ConvProgressTest, ThreeJobsAtOnceDriveThreeRowsEachWithItsOwnBar) {
    Config().ConvertJobs = 3;
    AddWaves({"a.wav", "b.wav", "c.wav"}, 4);
    size_t most = 0;
    std::set<QString> seen;
    int mismatched = 0, followed = 0;
    bool pathsShown = true;
    // Connected after the window: its row is up to date when this runs.
    QObject::connect(&Form().Runner(), &TConvRunner::JobProgress,
                     [&](int Index, int Phase, int Percent) {
                         const auto rows = Rows();
                         most = std::max(most, rows.size());
                         for (const auto &row : rows)
                             seen.insert(row.first);
                         const QString name = Form().Runner().Jobs().at(Index)->FileName;
                         const auto row = rows.find(name);
                         if (row == rows.end())
                             return;
                         ++followed;
                         if (row->second->value() != Percent)
                             ++mismatched;
                         auto *phase = row->second->parentWidget()->findChild<QLabel *>("JobPhase");
                         if (phase->text() != PhaseCaption(Phase))
                             ++mismatched;
                         pathsShown &= Form().findChild<TDirLabel *>("dirlabelSource")->isVisible();
                     });
    Convert();
    EXPECT_EQ(most, 3u);
    EXPECT_EQ(seen, (std::set<QString>{"a.wav", "b.wav", "c.wav"}));
    EXPECT_GT(followed, 6);
    EXPECT_EQ(mismatched, 0) << "each row shows its own job's phase and progress";
    EXPECT_FALSE(pathsShown) << "several jobs: rows instead of one Source/Dest pair";
    EXPECT_TRUE(Rows().empty()) << "ended jobs leave no row";
    for (const char *name : {"a", "b", "c"})
        EXPECT_TRUE(DecodeMpeg(path(QLatin1String(name) + ".MP3")).ok);
}

TEST_F(ConvProgressTest, ANameTooLongForItsRowEndsInAnEllipsisAndIsReadWhole) {
    Config().ConvertJobs = 3;
    const QString longName =
        QStringLiteral("Harbour Field Recording at Dawn with Gulls and a Distant Bell.wav");
    AddWaves({longName, "b.wav", "c.wav"}, 4);
    QImage shown, elided;
    QString text;
    QObject::connect(&Form().Runner(), &TConvRunner::JobProgress, [&](int, int, int) {
        if (!shown.isNull())
            return;
        for (QLabel *label : Form().findChildren<QLabel *>("JobName")) {
            if (label->text() != longName || !label->isVisible())
                continue;
            label->resize(120, label->height());
            text = label->text();
            shown = label->grab().toImage();
            // What the row must look like: the name shortened to its room, with an ellipsis.
            QLabel expected(label->fontMetrics().elidedText(longName, Qt::ElideRight,
                                                            label->contentsRect().width()));
            expected.setFont(label->font());
            expected.setPalette(label->palette());
            expected.setAlignment(label->alignment());
            expected.setContentsMargins(label->contentsMargins());
            expected.resize(label->size());
            elided = expected.grab().toImage();
        }
    });
    Convert();
    ASSERT_FALSE(shown.isNull()) << "the long name's row was never seen";
    EXPECT_EQ(text, longName);
    EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB32),
              elided.convertToFormat(QImage::Format_RGB32));
}

TEST_F(ConvProgressTest, OneJobAtATimeShowsThePathsAndTheTimeLine) {
    Config().ConvertJobs = 1;
    AddWaves({"a.wav", "b.wav"}, 1);
    QStringList timeLines;
    bool rowsShown = false, pathsShown = false;
    // Looked at on every progress report: however fast the jobs, each is seen under way.
    QObject::connect(&Form().Runner(), &TConvRunner::JobProgress, [&](int Index, int, int) {
        timeLines << Form().findChild<QLabel *>("lblTimes")->text();
        rowsShown |= !Rows().empty() || Form().findChild<QWidget *>("JobList")->isVisible();
        const auto *source = Form().findChild<TDirLabel *>("dirlabelSource");
        pathsShown |=
            Index == 0 && source->isVisibleTo(&Form()) && source->DirName() == path("a.wav");
    });
    Convert();
    EXPECT_FALSE(rowsShown);
    EXPECT_TRUE(pathsShown);
    ASSERT_FALSE(timeLines.isEmpty());
    EXPECT_TRUE(timeLines.back().startsWith("Elapsed ")) << timeLines.back().toStdString();
}

TEST_F(ConvProgressTest, TheTimeLineCountsTheBatchsAudioSeconds) {
    Config().ConvertJobs = 2;
    AddWaves({"short.wav"}, 0.5);
    AddWaves({"long.wav"}, 3.5);
    Form().SetClock([] { return 2.0; });
    Convert();
    EXPECT_DOUBLE_EQ(Form().Times().TotalSeconds(), 4.0);
    EXPECT_DOUBLE_EQ(Form().Times().DoneSeconds(), 4.0);
    // 4 s of audio in the test clock's 2 s.
    EXPECT_EQ(Form().findChild<QLabel *>("lblTimes")->text(),
              "Elapsed 0:02   Remaining 0:00   Speed 2.0x real time");
}

TEST_F(ConvProgressTest, EveryFocusableControlAndEveryBarHasAnAccessibleName) {
    Config().ConvertJobs = 3;
    AddWaves({"a.wav", "b.wav", "c.wav"}, 2);
    QStringList nameless;
    int checked = 0;
    const auto check = [&](QWidget *Window) {
        for (QWidget *w : Window->findChildren<QWidget *>()) {
            if (w->focusPolicy() == Qt::NoFocus && !qobject_cast<QProgressBar *>(w))
                continue;
            ++checked;
            QAccessibleInterface *face = QAccessible::queryAccessibleInterface(w);
            if (!face || face->text(QAccessible::Name).trimmed().isEmpty())
                nameless << w->metaObject()->className() + QStringLiteral(" ") + w->objectName();
        }
    };
    bool checkedRows = false;
    QObject::connect(&Form().Runner(), &TConvRunner::JobProgress, [&](int, int, int) {
        if (!checkedRows && Rows().size() == 3) {
            checkedRows = true;
            check(&Form());
        }
    });
    Convert();
    EXPECT_TRUE(checkedRows) << "three jobs were never seen under way at once";
    check(Main->Windows().DispForm);
    EXPECT_GE(checked, 8) << "the batch's bar, three rows' bars, Abort, the error list";
    EXPECT_TRUE(nameless.isEmpty()) << nameless.join(", ").toStdString();
}

class ConvDesktopTest : public ConvProgressTest {
protected:
    void SetUp() override {
        ConvProgressTest::SetUp();
        if (!Bus.Running())
            GTEST_SKIP() << "no dbus-daemon to run a private bus";
        Service = Bus.Connect(QStringLiteral("conv-service"));
        ASSERT_TRUE(Notifications.Serve(Service));
        ASSERT_TRUE(Listener.Listen(Service));
        Form().SetDesktop(std::make_unique<TDesktopProgress>(
            Bus.Connect(QStringLiteral("conv-client")), QStringLiteral("brindle")));
        Config().ConvertJobs = 2;
        AddWaves({"a.wav", "b.wav"}, 2);
        WriteFile(path("three.wav"), WavHeader(3, 44100, 16, 6000) + QByteArray(6000, '\x11'));
        Main->Lists().AddFiles({path("three.wav")});
    }
    void TearDown() override {
        Form().SetDesktop(std::make_unique<TDesktopProgress>());
        ConvProgressTest::TearDown();
    }

    PrivateBus Bus;
    QDBusConnection Service{QStringLiteral("none")};
    FakeNotifications Notifications;
    LauncherListener Listener;
};

TEST_F(ConvDesktopTest, ABatchEndingBehindAnotherWindowIsAnnouncedWithItsCounts) {
    // The user has gone to another program while the batch runs.
    QObject::connect(&Form().Runner(), &TConvRunner::JobStarted, [] {
        if (QApplication::activeWindow())
            QApplication::setActiveWindow(nullptr);
    });
    Convert();
    ASSERT_TRUE(WaitUntil([&] { return !Notifications.Notes.isEmpty(); }));
    EXPECT_EQ(Notifications.Notes.front().Summary, "Conversion finished");
    EXPECT_EQ(Notifications.Notes.front().Body, "2 files converted, 1 failed.");

    // The launcher entry followed the batch and lost its bar when the window closed.
    ASSERT_TRUE(
        WaitUntil([&] { return !Listener.Updates.isEmpty() && !Listener.Updates.back().Visible; }));
    ASSERT_GE(Listener.Updates.size(), 3);
    double last = -1;
    for (int i = 0; i + 1 < Listener.Updates.size(); ++i) {
        EXPECT_TRUE(Listener.Updates[i].Visible);
        EXPECT_GE(Listener.Updates[i].Progress, last);
        last = Listener.Updates[i].Progress;
    }
    EXPECT_DOUBLE_EQ(last, 1.0);
}

TEST_F(ConvDesktopTest, ABatchWatchedToItsEndIsNotAnnounced) {
    QObject::connect(&Form().Runner(), &TConvRunner::JobStarted, [this] {
        if (!Form().isActiveWindow())
            QApplication::setActiveWindow(&Form());
    });
    Convert();
    ASSERT_TRUE(
        WaitUntil([&] { return !Listener.Updates.isEmpty() && !Listener.Updates.back().Visible; }));
    WaitUntil([] { return false; }, 200);
    EXPECT_TRUE(Notifications.Notes.isEmpty());
}

} // namespace
