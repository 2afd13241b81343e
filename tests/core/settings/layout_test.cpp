#include "settings/Config.h"
#include "settings/Layout.h"
#include "support/SettingNames.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>

namespace {

TEST(LayoutValuesTest, NumbersReadBackOnlyInTheirCountAndAsWholeNumbers) {
    TLayoutValues Layout;
    const std::array<int, 4> Place{-20, 40, 570, 440};
    Layout.SetNumbers("MainFormGeometry", Place);
    EXPECT_EQ(Layout.Values().value("MainFormGeometry"), "-20 40 570 440");
    EXPECT_EQ(Layout.Numbers("MainFormGeometry", 4, 5), (std::vector<int>{-20, 40, 570, 440}));
    EXPECT_FALSE(Layout.Numbers("MainFormGeometry", 5, 5)); // too few
    EXPECT_FALSE(Layout.Numbers("MainFormGeometry", 1, 3)); // too many
    EXPECT_FALSE(Layout.Numbers("Missing", 0, 9));

    for (const char *Bad : {"12 x 3 4", "1.5 2 3 4", "1,2,3,4", "99999999999 1 2 3"}) {
        Layout.SetValue("Bad", QString::fromLatin1(Bad));
        EXPECT_FALSE(Layout.Numbers("Bad", 4, 4)) << Bad;
    }
    Layout.SetValue("Spaced", "  1   2 ");
    EXPECT_EQ(Layout.Numbers("Spaced", 2, 2), (std::vector<int>{1, 2}));
}

class LayoutStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        RedirectSettings(Dir.path());
    }
    QString StoreFile() const { return Dir.filePath("user/Brindle Team/Brindle.conf"); }
    QTemporaryDir Dir;
};

TEST_F(LayoutStoreTest, LayoutIsSavedInAGroupOfItsOwnBesideTheOptions) {
    TConfig Saved;
    const std::array<int, 2> Size{640, 480};
    Saved.Layout.SetNumbers("DispFormSize", Size);
    Saved.Save();

    QSettings Raw(StoreFile(), QSettings::IniFormat);
    EXPECT_EQ(Raw.value("Layout/DispFormSize").toString(), "640 480");
    Raw.beginGroup("1.27");
    EXPECT_FALSE(Raw.childKeys().contains("DispFormSize"));
    EXPECT_TRUE(Raw.childKeys().contains("ConvertType"));
    Raw.endGroup();

    TConfig Loaded;
    Loaded.Load();
    EXPECT_EQ(Loaded.Layout, Saved.Layout);
}

TEST_F(LayoutStoreTest, BadLayoutValuesAreLeftOutWithoutAnError) {
    {
        QSettings Raw(StoreFile(), QSettings::IniFormat);
        Raw.setValue("Layout/PlayerFormGeometry", QStringList{"1", "2"}); // a list, not text
        Raw.setValue("Layout/MainFormGeometry", "10 20 600 400");
        Raw.setValue("1.27/BitRate", 9);
    }
    TConfig Config;
    Config.Layout.SetValue("Stale", "1"); // Load replaces what was there
    EXPECT_NO_THROW(Config.Load());
    EXPECT_EQ(Config.BitRate, 9);
    EXPECT_EQ(Config.Layout.Values().keys(), QStringList{"MainFormGeometry"});
}

TEST_F(LayoutStoreTest, CancelledOptionsDoNotUndoTheLayout) {
    TConfig Config;
    TConfig Copy;
    Copy.Assign(Config);
    Config.Layout.SetValue("PlayerFormGeometry", "1 2 3 4");
    Config.Assign(Copy);
    EXPECT_EQ(Config.Layout.Values().value("PlayerFormGeometry"), "1 2 3 4");
}

} // namespace
