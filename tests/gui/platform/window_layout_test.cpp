#include "platform/WindowLayout.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QSplitter>
#include <QTreeWidget>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

QRect Available() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

TEST(WindowLayoutTest, PlaceAndSizeComeBackOnAnotherWindow) {
    TLayoutValues Layout;
    QWidget First;
    First.setGeometry(Available().x() + 30, Available().y() + 40, 300, 200);
    TWindowLayout::Save(&First, "PlayerForm", Layout);

    QWidget Second;
    Second.resize(100, 100);
    EXPECT_TRUE(TWindowLayout::Restore(&Second, "PlayerForm", Layout));
    EXPECT_EQ(Second.geometry(), First.geometry());
    EXPECT_FALSE(Second.windowState() & Qt::WindowMaximized);
    EXPECT_FALSE(TWindowLayout::Restore(&Second, "Unknown", Layout));
}

TEST(WindowLayoutTest, MaximisedWindowComesBackMaximisedWithItsNormalPlace) {
    TLayoutValues Layout;
    Layout.SetValue(
        "MainFormGeometry",
        QStringLiteral("%1 %2 500 300 1").arg(Available().x() + 5).arg(Available().y() + 5));
    QWidget Window;
    ASSERT_TRUE(TWindowLayout::Restore(&Window, "MainForm", Layout));
    EXPECT_TRUE(Window.windowState() & Qt::WindowMaximized);
    EXPECT_EQ(Window.normalGeometry().size(), QSize(500, 300));
}

TEST(WindowLayoutTest, PlaceNoScreenShowsMovesOntoThePrimaryScreen) {
    TLayoutValues Layout;
    Layout.SetValue("PlayerFormGeometry", "-90000 -90000 400 300");
    QWidget Window;
    ASSERT_TRUE(TWindowLayout::Restore(&Window, "PlayerForm", Layout));
    EXPECT_TRUE(Available().contains(Window.geometry())) << Window.geometry().x();
    EXPECT_EQ(Window.size(), QSize(400, 300));

    // Larger than the screen: shrunk to it.
    Layout.SetValue("HugeGeometry",
                    QStringLiteral("%1 %2 90000 90000").arg(Available().x()).arg(Available().y()));
    ASSERT_TRUE(TWindowLayout::Restore(&Window, "Huge", Layout));
    EXPECT_LE(Window.width(), Available().width());
    EXPECT_LE(Window.height(), Available().height());
}

TEST(WindowLayoutTest, NumbersThatMakeNoSenseLeaveTheWindowAsItWas) {
    TLayoutValues Layout;
    QWidget Window;
    Window.setGeometry(Available().x() + 10, Available().y() + 10, 320, 240);
    const QRect Before = Window.geometry();
    for (const char *Bad : {"10 10 0 240", "10 10 320 -5", "10 10 320", "10 10 320 240 7",
                            "a b c d", "10 10 320 240 0 0"}) {
        Layout.SetValue("WGeometry", QString::fromLatin1(Bad));
        EXPECT_FALSE(TWindowLayout::Restore(&Window, "W", Layout)) << Bad;
        EXPECT_EQ(Window.geometry(), Before) << Bad;
    }
    Layout.SetValue("WSize", "0 10");
    EXPECT_FALSE(TWindowLayout::RestoreSize(&Window, "W", Layout));
    EXPECT_EQ(Window.size(), Before.size());
}

TEST(WindowLayoutTest, SizeAloneComesBackWithoutMovingTheWindow) {
    TLayoutValues Layout;
    QWidget Saved;
    Saved.resize(333, 222);
    TWindowLayout::SaveSize(&Saved, "DispForm", Layout);
    QWidget Window;
    Window.move(Available().topLeft() + QPoint(7, 9));
    ASSERT_TRUE(TWindowLayout::RestoreSize(&Window, "DispForm", Layout));
    EXPECT_EQ(Window.size(), QSize(333, 222));
    EXPECT_EQ(Window.pos(), Available().topLeft() + QPoint(7, 9));
}

TEST(WindowLayoutTest, ColumnWidthsAndSortComeBackForTheSameColumnsOnly) {
    TLayoutValues Layout;
    QTreeWidget Saved;
    Saved.setColumnCount(3);
    Saved.header()->setStretchLastSection(false);
    Saved.header()->resizeSection(0, 150);
    Saved.header()->resizeSection(1, 60);
    Saved.header()->resizeSection(2, 90);
    Saved.header()->setSortIndicatorShown(true);
    Saved.header()->setSortIndicator(1, Qt::DescendingOrder);
    TWindowLayout::SaveHeader(Saved.header(), "WaveList", Layout);

    QTreeWidget Same;
    Same.setColumnCount(3);
    Same.header()->setStretchLastSection(false);
    ASSERT_TRUE(TWindowLayout::RestoreHeader(Same.header(), "WaveList", Layout));
    EXPECT_EQ(Same.header()->sectionSize(0), 150);
    EXPECT_EQ(Same.header()->sectionSize(1), 60);
    EXPECT_EQ(Same.header()->sectionSize(2), 90);
    EXPECT_EQ(TWindowLayout::StoredSort("WaveList", 3, Layout), std::pair(1, Qt::DescendingOrder));

    // A list with other columns takes none of it.
    QTreeWidget Other;
    Other.setColumnCount(4);
    const int Width = Other.header()->sectionSize(0);
    EXPECT_FALSE(TWindowLayout::RestoreHeader(Other.header(), "WaveList", Layout));
    EXPECT_EQ(Other.header()->sectionSize(0), Width);
    EXPECT_FALSE(TWindowLayout::StoredSort("WaveList", 1, Layout));

    // An unsorted list stores no sort; a bad order is no sort either.
    Saved.header()->setSortIndicatorShown(false);
    TWindowLayout::SaveHeader(Saved.header(), "WaveList", Layout);
    EXPECT_FALSE(TWindowLayout::StoredSort("WaveList", 3, Layout));
    Layout.SetValue("WaveListSort", "1 2");
    EXPECT_FALSE(TWindowLayout::StoredSort("WaveList", 3, Layout));
}

TEST(WindowLayoutTest, SplitterSizesComeBackWhenThePartsMatch) {
    TLayoutValues Layout;
    QSplitter Saved;
    Saved.addWidget(new QLabel("a"));
    Saved.addWidget(new QLabel("b"));
    Saved.resize(400, 100);
    Saved.setSizes({100, 295});
    Saved.show();
    TWindowLayout::SaveSplitter(&Saved, "Info", Layout);
    const QList<int> Sizes = Saved.sizes();

    QSplitter Same;
    Same.addWidget(new QLabel("a"));
    Same.addWidget(new QLabel("b"));
    Same.resize(400, 100);
    Same.show();
    ASSERT_TRUE(TWindowLayout::RestoreSplitter(&Same, "Info", Layout));
    EXPECT_EQ(Same.sizes(), Sizes);

    Layout.SetValue("InfoSplitter", "100 -3");
    EXPECT_FALSE(TWindowLayout::RestoreSplitter(&Same, "Info", Layout));
}

} // namespace
