#include "conversion/DirLabel.h"

#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>
#include <ostream>

static void PrintTo(const QString &Text, std::ostream *Out) {
    *Out << '"' << Text.toStdString() << '"';
}

namespace {

const QString DrivePath = "C:\\Music\\Albums\\Live 1999\\track01.wav";
const QString PosixPath = "/home/ann/Music/Albums/Live 1999/track01.wav";

class DirLabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Whole pixels in the text's own colours, so that the drawing can be checked.
        QFont Font = Label.font();
        Font.setStyleStrategy(QFont::NoAntialias);
        Label.setFont(Font);
        Label.show();
    }

    int TextWidth(const QString &Text) const {
        return Label.fontMetrics().size(Qt::TextSingleLine, Text).width();
    }

    // Paints the label as the screen would and returns the picture.
    QImage Paint() { return Label.grab().toImage(); }

    TDirLabel Label;
};

TEST_F(DirLabelTest, StartsAt65By17WithoutWordWrapAndWithAnEmptyPath) {
    TDirLabel Fresh;
    EXPECT_EQ(Fresh.size(), QSize(65, 17));
    EXPECT_FALSE(Fresh.wordWrap());
    EXPECT_EQ(Fresh.DirName(), "");
    EXPECT_EQ(Fresh.text(), "");
}

TEST_F(DirLabelTest, PaintDropsFoldersUntilTheCaptionIsNarrowerThanTheLabel) {
    for (const auto &[Path, Fitting] :
         {std::pair{DrivePath, QString("C:\\...\\Live 1999\\track01.wav")},
          std::pair{PosixPath, QString("/.../Live 1999/track01.wav")}}) {
        Label.resize(TextWidth(Fitting) + 1, 17);
        Label.SetDirName(Path);
        EXPECT_EQ(Label.text(), Path) << "shortened only when painted";
        Paint();
        EXPECT_EQ(Label.text(), Fitting);
        EXPECT_EQ(Label.DirName(), Path);
    }
}

TEST_F(DirLabelTest, ACaptionAsWideAsTheLabelIsShortenedToo) {
    Label.resize(TextWidth("C:\\...\\Live 1999\\track01.wav"), 17);
    Label.SetDirName(DrivePath);
    Paint();
    EXPECT_EQ(Label.text(), "C:\\...\\track01.wav");
}

TEST_F(DirLabelTest, TooNarrowForTheFileNameKeepsTheShortestForm) {
    Label.resize(5, 17);
    Label.SetDirName(DrivePath);
    Paint();
    EXPECT_EQ(Label.text(), "C:\\...\\track01.wav");
}

TEST_F(DirLabelTest, WidthChangeStartsAgainFromTheFullPath) {
    Label.resize(TextWidth("C:\\...\\track01.wav") + 1, 17);
    Label.SetDirName(DrivePath);
    Paint();
    ASSERT_EQ(Label.text(), "C:\\...\\track01.wav");

    Label.resize(Label.width(), 30);
    EXPECT_EQ(Label.text(), "C:\\...\\track01.wav") << "a height change keeps the caption";

    Label.resize(TextWidth("C:\\...\\Albums\\Live 1999\\track01.wav") + 1, 17);
    EXPECT_EQ(Label.text(), DrivePath);
    Paint();
    EXPECT_EQ(Label.text(), "C:\\...\\Albums\\Live 1999\\track01.wav");

    Label.resize(TextWidth(DrivePath) + 1, 17);
    Paint();
    EXPECT_EQ(Label.text(), DrivePath);
}

TEST_F(DirLabelTest, OnlyANewPathReplacesTheCaption) {
    Label.resize(TextWidth("C:\\...\\track01.wav") + 1, 17);
    Label.SetDirName(DrivePath);
    Paint();
    Label.SetDirName(DrivePath);
    EXPECT_EQ(Label.text(), "C:\\...\\track01.wav");
    Label.SetDirName("/tmp/a.wav");
    EXPECT_EQ(Label.text(), "/tmp/a.wav");
}

TEST_F(DirLabelTest, WithoutAPathAWidthChangeTakesTheCaptionAsPath) {
    Label.setText("/set/as/caption.wav");
    Label.resize(Label.width() + 10, Label.height());
    EXPECT_EQ(Label.DirName(), "/set/as/caption.wav");
}

TEST_F(DirLabelTest, DisabledTextIsDrawnEngraved) {
    const QColor Text(0, 160, 0), Highlight(255, 0, 0), Shadow(0, 0, 255);
    QPalette Colours = Label.palette();
    Colours.setColor(QPalette::Window, Qt::white);
    Colours.setColor(QPalette::WindowText, Text);
    Colours.setColor(QPalette::Light, Highlight);
    Colours.setColor(QPalette::Dark, Shadow);
    Label.setPalette(Colours);
    Label.resize(200, 20);
    Label.SetDirName("/a/b.wav");

    // The bounding box of every pixel of one colour.
    const auto Box = [](const QImage &Image, const QColor &Colour) {
        QRect Found;
        for (int y = 0; y < Image.height(); ++y)
            for (int x = 0; x < Image.width(); ++x)
                if (Image.pixelColor(x, y) == Colour)
                    Found |= QRect(x, y, 1, 1);
        return Found;
    };

    const QImage Enabled = Paint();
    EXPECT_FALSE(Box(Enabled, Text).isEmpty());
    EXPECT_TRUE(Box(Enabled, Highlight).isEmpty());

    Label.setEnabled(false);
    const QImage Disabled = Paint();
    const QRect Light = Box(Disabled, Highlight);
    const QRect Dark = Box(Disabled, Shadow);
    EXPECT_TRUE(Box(Disabled, Text).isEmpty());
    ASSERT_FALSE(Dark.isEmpty());
    ASSERT_FALSE(Light.isEmpty());
    // The shadow covers the highlight but for its right and bottom edges.
    EXPECT_EQ(Light.right(), Dark.right() + 1);
    EXPECT_EQ(Light.bottom(), Dark.bottom() + 1);
    EXPECT_EQ(Dark, Box(Enabled, Text)) << "the shadow stands where the text stood";
}

TEST_F(DirLabelTest, TransparentLabelLeavesItsParentShowing) {
    QWidget Parent;
    QPalette Yellow = Parent.palette();
    Yellow.setColor(QPalette::Window, Qt::yellow);
    Parent.setPalette(Yellow);
    Parent.setAutoFillBackground(true);
    Parent.resize(100, 40);
    auto *Child = new TDirLabel(&Parent);
    QPalette White = Child->palette();
    White.setColor(QPalette::Window, Qt::white);
    Child->setPalette(White);
    Child->move(10, 10);
    Parent.show();

    EXPECT_EQ(Parent.grab().toImage().pixelColor(12, 12), QColor(Qt::white));
    Child->SetTransparent(true);
    EXPECT_EQ(Parent.grab().toImage().pixelColor(12, 12), QColor(Qt::yellow));
}

} // namespace
