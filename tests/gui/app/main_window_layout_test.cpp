#include "app/ConfigInstance.h"
#include "app/FileLists.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "conversion/ConfirmOvwrtForm.h"
#include "gui/conversion/ModalDriver.h"
#include "inspect/WaveInfoForm.h"
#include "settings/ConfigForm.h"
#include "support/ScriptedDialogs.h"
#include "support/SettingNames.h"
#include "support/TestMedia.h"
#include "tageditor/ID3TagForm.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using namespace testmedia;

namespace {

bool WaitActive(QWidget *Window) {
    QElapsedTimer clock;
    clock.start();
    while (QApplication::activeWindow() != Window && clock.elapsed() < 2000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return QApplication::activeWindow() == Window;
}

// The name a screen reader is told for Widget. Qt's cache of accessibility interfaces can
// hold a dead one for an address that an earlier test's widget had; then there is no
// interface to ask, and the widget's own accessible name is what the reader would get.
QString AccessibleName(QWidget *Widget) {
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(Widget);
    if (face == nullptr || !face->isValid() || face->object() != Widget)
        return Widget->accessibleName();
    return face->text(QAccessible::Name);
}

// Every control of Window that takes the keyboard focus but gives a screen reader no name.
QStringList UnnamedControls(QWidget *Window) {
    QStringList unnamed;
    for (QWidget *w : Window->findChildren<QWidget *>()) {
        if (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(Window) || w->isWindow())
            continue;
        if (AccessibleName(w).trimmed().isEmpty())
            unnamed << QStringLiteral("%1 (%2)").arg(
                w->objectName(), QString::fromLatin1(w->metaObject()->className()));
    }
    return unnamed;
}

class MainWindowLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        RedirectSettings(Dir.path());
        QLocale::setDefault(QLocale::c());
    }
    void TearDown() override {
        Main.reset();
        QLocale::setDefault(QLocale::system());
    }

    TMainForm &Start() {
        Main = std::make_unique<TMainForm>();
        CreateProgramWindows(*Main);
        Main->show();
        return *Main;
    }
    QString StoreFile() const { return Dir.filePath("user/Brindle Team/Brindle.conf"); }
    QString Wav(const QString &Name, double Seconds) const {
        WriteSineWav(Dir.filePath(Name), 1, 8000, Seconds, 440);
        return Dir.filePath(Name);
    }
    TFileListView *WaveList() const { return Main->Lists().WaveList(); }

    QTemporaryDir Dir;
    ScriptedDialogs Dialogs;
    std::unique_ptr<TMainForm> Main;
};

TEST_F(MainWindowLayoutTest, PlaceColumnsAndSortComeBackAtTheNextStart) {
    Start();
    const QRect place(Main->geometry().topLeft() + QPoint(10, 20), QSize(700, 500));
    Main->setGeometry(place);
    WaveList()->header()->resizeSection(4, 123); // State
    WaveList()->SortBy(2, Qt::DescendingOrder);  // Size, largest first
    Main->close();
    Main.reset();
    {
        QSettings raw(StoreFile(), QSettings::IniFormat);
        EXPECT_TRUE(raw.childGroups().contains("Layout"));
        EXPECT_EQ(raw.value("Layout/WaveListSort").toString(), "2 1");
    }

    Start();
    EXPECT_EQ(Main->geometry(), place);
    EXPECT_EQ(WaveList()->header()->sectionSize(4), 123);
    EXPECT_TRUE(WaveList()->Sorted());
    EXPECT_EQ(WaveList()->header()->sortIndicatorSection(), 2);
    EXPECT_EQ(WaveList()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    // The restored order takes the rows that arrive.
    Main->Lists().AddFiles({Wav("short.wav", 0.5), Wav("long.wav", 2)});
    EXPECT_EQ(WaveList()->topLevelItem(0)->text(0), "long.wav");
    EXPECT_FALSE(Main->Lists().MP3List()->Sorted());
    EXPECT_TRUE(Dialogs.Asked.empty());
}

TEST_F(MainWindowLayoutTest, LayoutValuesThatMakeNoSenseAreIgnoredWithoutAWord) {
    {
        QSettings raw(StoreFile(), QSettings::IniFormat);
        raw.setValue("Layout/MainFormGeometry", "0 0 -5 abc");
        raw.setValue("Layout/WaveListColumns", "1 2");
        raw.setValue("Layout/WaveListSort", "99 0");
        raw.setValue("Layout/MP3ListSort", QStringList{"1", "0"});
    }
    Start();
    EXPECT_EQ(Main->size(), QSize(570, 440));
    EXPECT_FALSE(WaveList()->Sorted());
    EXPECT_FALSE(Main->Lists().MP3List()->Sorted());
    EXPECT_TRUE(Dialogs.Asked.empty());
}

TEST_F(MainWindowLayoutTest, FileNameAndPathShareTheWidthAndNumbersFitTheirTexts) {
    Start();
    Main->resize(600, 440);
    QApplication::processEvents();
    // A size of several megabytes is wider than the column was made for.
    WriteFile(Dir.filePath("big.wav"), WavHeader(1, 8000, 8, 45000000) + QByteArray(45000000, 0));
    Main->Lists().AddFiles({Dir.filePath("big.wav"), Wav("a.wav", 1)});
    TFileListView *list = WaveList();
    QApplication::processEvents();
    const auto total = [list] {
        int sum = 0;
        for (int c = 0; c < list->columnCount(); ++c)
            sum += list->columnWidth(c);
        return sum;
    };
    EXPECT_EQ(total(), list->viewport()->width());
    const QString sizeText = list->topLevelItem(0)->text(2);
    EXPECT_EQ(sizeText, "42.92MB");
    EXPECT_GT(list->columnWidth(2), list->fontMetrics().horizontalAdvance(sizeText))
        << "the size is shown whole";
    EXPECT_GT(list->columnWidth(1), list->fontMetrics().horizontalAdvance("00:01"));

    const int name = list->columnWidth(0), path = list->columnWidth(3);
    const int time = list->columnWidth(1), size = list->columnWidth(2);
    Main->resize(900, 440);
    QApplication::processEvents();
    EXPECT_EQ(total(), list->viewport()->width());
    EXPECT_GT(list->columnWidth(0), name);
    EXPECT_GT(list->columnWidth(3), path);
    EXPECT_EQ(list->columnWidth(1), time);
    EXPECT_EQ(list->columnWidth(2), size);
}

TEST_F(MainWindowLayoutTest, MainWindowHasTheKeyboardBackAfterAModalWindow) {
    Start();
    Main->activateWindow();
    ASSERT_TRUE(WaitActive(Main.get()));
    WaveList()->setFocus();
    QWidget elsewhere;
    ModalDriver driver([&](QWidget *Modal) {
        // The desktop gives the activation to some other window as the dialog goes.
        elsewhere.show();
        elsewhere.activateWindow();
        WaitActive(&elsewhere);
        if (Modal)
            Modal->close();
    });
    Main->findChild<QAction *>("AboutAction")->trigger();
    EXPECT_FALSE(driver.TimedOut);
    EXPECT_TRUE(WaitActive(Main.get()));
    EXPECT_EQ(QApplication::focusWidget(), WaveList());
}

TEST_F(MainWindowLayoutTest, EveryControlOfTheMainWindowAndItsInfoWindowsHasAName) {
    Start();
    Main->Lists().AddFiles({Wav("a.wav", 1)});
    EXPECT_EQ(UnnamedControls(Main.get()), QStringList());
    for (const int type : {1, 0}) {
        Config().ConvertType = type;
        Main->findChild<QTabWidget *>("PageControl1")->setCurrentIndex(type);
        EXPECT_EQ(UnnamedControls(Main.get()), QStringList()) << type;
    }
    const TProgramWindows &windows = Main->Windows();
    for (QWidget *window : std::initializer_list<QWidget *>{
             windows.ConfirmOvwrtForm, windows.ID3TagForm, windows.WaveInfoForm}) {
        window->show();
        EXPECT_EQ(UnnamedControls(window), QStringList()) << window->objectName().toStdString();
        window->hide();
    }
    // The open genre list is a control of its own to a screen reader, out of the focus chain,
    // and its blank first entry is read as something.
    auto *genre = windows.ID3TagForm->findChild<QComboBox *>("cbGenre");
    ASSERT_NE(genre, nullptr);
    EXPECT_EQ(AccessibleName(genre->view()), "Genre");
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(genre->view());
    ASSERT_NE(list, nullptr);
    ASSERT_GT(list->childCount(), 1);
    EXPECT_EQ(genre->itemText(0), "");
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), "No genre");
    EXPECT_EQ(list->child(1)->text(QAccessible::Name), genre->itemText(1));
    // The overwrite question's path takes no focus, but is what a screen reader must say.
    auto *path = windows.ConfirmOvwrtForm->findChild<QWidget *>("stxtFileName");
    ASSERT_NE(path, nullptr);
    EXPECT_FALSE(AccessibleName(path).isEmpty());
}

} // namespace
