#include "PrivateBus.h"
#include "conversion/DesktopProgress.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

class DesktopProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Bus.Running())
            GTEST_SKIP() << "no dbus-daemon to run a private bus";
        Service = Bus.Connect(QStringLiteral("desktop-service"));
        Client = Bus.Connect(QStringLiteral("desktop-client"));
        ASSERT_TRUE(Service.isConnected());
        ASSERT_TRUE(Client.isConnected());
        ASSERT_TRUE(Listener.Listen(Service));
    }

    PrivateBus Bus;
    QDBusConnection Service{QStringLiteral("none")};
    QDBusConnection Client{QStringLiteral("none")};
    FakeNotifications Notifications;
    LauncherListener Listener;
};

TEST_F(DesktopProgressTest, TheNotificationReachesTheDesktopService) {
    ASSERT_TRUE(Notifications.Serve(Service));
    TDesktopProgress desktop(Client, QStringLiteral("brindle"));
    desktop.Notify(QStringLiteral("Conversion finished"), BatchEndText(3, 1));
    ASSERT_TRUE(WaitUntil([&] { return !Notifications.Notes.isEmpty(); }));
    const auto &note = Notifications.Notes.front();
    EXPECT_EQ(note.App, "Brindle");
    EXPECT_EQ(note.Summary, "Conversion finished");
    EXPECT_EQ(note.Body, "3 files converted, 1 failed.");
    EXPECT_EQ(note.Hints.value("desktop-entry").toString(), "brindle");
}

TEST_F(DesktopProgressTest, TheLauncherEntryShowsProgressAndLosesItAtTheEnd) {
    TDesktopProgress desktop(Client, QStringLiteral("brindle"));
    desktop.SetProgress(0.25);
    desktop.SetProgress(0.251); // the same hundredth: not sent again
    desktop.SetProgress(0.5);
    desktop.HideProgress();
    desktop.HideProgress(); // already hidden: nothing more
    ASSERT_TRUE(WaitUntil([&] { return Listener.Updates.size() >= 3; }));
    WaitUntil([] { return false; }, 100);
    ASSERT_EQ(Listener.Updates.size(), 3);
    for (const auto &update : Listener.Updates)
        EXPECT_EQ(update.Uri, "application://brindle.desktop");
    EXPECT_DOUBLE_EQ(Listener.Updates[0].Progress, 0.25);
    EXPECT_TRUE(Listener.Updates[0].Visible);
    EXPECT_DOUBLE_EQ(Listener.Updates[1].Progress, 0.5);
    EXPECT_FALSE(Listener.Updates[2].Visible);
}

TEST_F(DesktopProgressTest, WithoutANotificationServiceNothingWaitsOrFails) {
    TDesktopProgress desktop(Client, QStringLiteral("brindle"));
    QElapsedTimer clock;
    clock.start();
    desktop.Notify(QStringLiteral("Conversion finished"), BatchEndText(1, 0));
    EXPECT_LT(clock.elapsed(), 1000) << "the call is not waited for";
    EXPECT_TRUE(Client.isConnected());
}

TEST(DesktopProgressNoBus, NoBusInTheEnvironmentMeansNoConnectionAndNoBusStarted) {
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    {
        TDesktopProgress desktop;
        EXPECT_FALSE(desktop.Connected());
        desktop.SetProgress(0.5);
        desktop.Notify(QStringLiteral("Conversion finished"), BatchEndText(0, 2));
        desktop.HideProgress();
    }
    if (!saved.isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
}

TEST(DesktopProgressText, CountsAreWordedForOneAndMany) {
    EXPECT_EQ(BatchEndText(1, 0), "1 file converted, 0 failed.");
    EXPECT_EQ(BatchEndText(0, 2), "0 files converted, 2 failed.");
    EXPECT_EQ(BatchEndText(12, 3), "12 files converted, 3 failed.");
}

} // namespace
