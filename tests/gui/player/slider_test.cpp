#include "player/Slider.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

QImage Solid(int Width, int Height, QRgb Colour) {
    QImage Image(Width, Height, QImage::Format_ARGB32_Premultiplied);
    Image.fill(Colour);
    return Image;
}

// Press the left button at From, move to To and release there, along the middle row.
void LeftDrag(TSlider &Slider, int From, int To) {
    const auto Send = [&](QEvent::Type Type, int X, Qt::MouseButtons Held) {
        QMouseEvent Event(Type, QPointF(X, 7), QPointF(X, 7),
                          Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Held,
                          Qt::NoModifier);
        QApplication::sendEvent(&Slider, &Event);
    };
    Send(QEvent::MouseButtonPress, From, Qt::LeftButton);
    Send(QEvent::MouseMove, To, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, To, Qt::NoButton);
}

constexpr QRgb TrackColour = 0xff202020;
constexpr QRgb NormalColour = 0xff0000ff;
constexpr QRgb HighlightColour = 0xff00ff00;
constexpr QRgb ClickedColour = 0xffff0000;

// The player's seek slider: a 176-pixel track, a 14-pixel thumb, values 0 to 400.
class SliderTest : public ::testing::Test {
protected:
    void SetUp() override {
        Slider.SetThumbNormal(Solid(14, 15, NormalColour));
        Slider.SetThumbHighlighted(Solid(14, 15, HighlightColour));
        Slider.SetThumbClicked(Solid(14, 15, ClickedColour));
        Slider.SetTrack(Solid(176, 15, TrackColour));
        Slider.SetMaximum(400);
        Slider.setGeometry(0, 0, 176, 15);
        Slider.OnChange = [this](TSlider &) { Changes.push_back(Slider.Position()); };
        Slider.OnMouseDown = [this](TSlider &, Qt::MouseButton Button, Qt::KeyboardModifiers, int X,
                                    int) { Events.push_back(Name("down", Button, X)); };
        Slider.OnMouseUp = [this](TSlider &, Qt::MouseButton Button, Qt::KeyboardModifiers, int X,
                                  int) { Events.push_back(Name("up", Button, X)); };
    }

    static std::string Name(const char *What, Qt::MouseButton Button, int X) {
        return std::string(What) + (Button == Qt::LeftButton ? " left " : " right ") +
               std::to_string(X);
    }

    void Send(QEvent::Type Type, int X, int Y, Qt::MouseButton Button = Qt::LeftButton) {
        const Qt::MouseButtons Held =
            Type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Button);
        QMouseEvent Event(Type, QPointF(X, Y), Slider.mapToGlobal(QPointF(X, Y)),
                          Type == QEvent::MouseMove ? Qt::NoButton : Button, Held, Qt::NoModifier);
        QApplication::sendEvent(&Slider, &Event);
    }
    void Press(int X, int Y = 7, Qt::MouseButton B = Qt::LeftButton) {
        Send(QEvent::MouseButtonPress, X, Y, B);
    }
    void Move(int X, int Y = 7) { Send(QEvent::MouseMove, X, Y, Qt::NoButton); }
    void Release(int X, int Y = 7, Qt::MouseButton B = Qt::LeftButton) {
        Send(QEvent::MouseButtonRelease, X, Y, B);
    }
    // Where the thumb's middle is now.
    int ThumbMiddle() const { return Slider.ThumbRect().left() + 7; }
    QRgb ThumbLook() const { return Slider.Buffer().pixel(Slider.ThumbRect().left() + 3, 3); }

    TSlider Slider;
    std::vector<int> Changes;
    std::vector<std::string> Events;
};

} // namespace

TEST_F(SliderTest, ADragOf81PixelsOnA176PixelTrackMovesTheValueBy200) {
    Press(ThumbMiddle());
    EXPECT_TRUE(Slider.Dragging());
    EXPECT_EQ(ThumbLook(), ClickedColour);
    Move(7 + 40);
    EXPECT_EQ(Slider.Position(), 98); // 400 x 40 / 162, truncated
    EXPECT_TRUE(Changes.empty()) << "OnChange waits for the release";
    Move(7 + 81);
    Release(7 + 81);
    EXPECT_EQ(Slider.Position(), 200);
    EXPECT_EQ(Changes, std::vector<int>{200});
    EXPECT_FALSE(Slider.Dragging());
    // (176 - 14) x 200 / 400: the thumb is drawn where the value says.
    EXPECT_EQ(Slider.ThumbRect(), QRect(81, 0, 14, 15));
    EXPECT_EQ(ThumbLook(), NormalColour);
    EXPECT_EQ(Slider.Buffer().pixel(20, 3), TrackColour);
}

TEST_F(SliderTest, DraggingUpwardsRaisesAVerticalSlider) {
    Slider.SetTrack(Solid(176, 95, TrackColour));
    Slider.SetOrientation(slVertical);
    const int Start = ThumbMiddle();
    Press(Start, 7);
    Move(Start + 50, 7 - 40);          // sideways moves do not count
    EXPECT_EQ(Slider.Position(), 200); // 40 x 400 / (95 - 15)
    Move(Start, 7 + 10);
    Release(Start, 7 + 10);
    EXPECT_EQ(Slider.Position(), 0);
    EXPECT_TRUE(Changes.empty()) << "back where it started";
}

TEST_F(SliderTest, DragsPastEitherEndStopAtTheLimits) {
    Press(ThumbMiddle());
    Move(7 + 1000);
    EXPECT_EQ(Slider.Position(), 400);
    EXPECT_EQ(Slider.ThumbRect().left(), 162);
    Move(7 - 1000);
    EXPECT_EQ(Slider.Position(), 0);
    Release(7 - 1000);
    EXPECT_TRUE(Changes.empty()) << "it ended at the value it started from";
}

TEST_F(SliderTest, ADragReleasedWhereItStartedRaisesNoChange) {
    Slider.SetPosition(200);
    const int Start = ThumbMiddle();
    Press(Start);
    Move(Start + 30);
    Move(Start);
    Release(Start);
    EXPECT_EQ(Slider.Position(), 200);
    EXPECT_TRUE(Changes.empty());
}

TEST_F(SliderTest, PositionsSetFromOutsideAreClampedAndRaiseNoChange) {
    Slider.SetPosition(500);
    EXPECT_EQ(Slider.Position(), 400);
    Slider.SetPosition(-3);
    EXPECT_EQ(Slider.Position(), 0);
    Slider.SetPosition(100);
    EXPECT_EQ(Slider.ThumbRect(), QRect(40, 0, 14, 15)); // 162 x 100 / 400
    EXPECT_TRUE(Changes.empty());

    // Narrowing the range pulls the value in.
    Slider.SetMaximum(50);
    EXPECT_EQ(Slider.Position(), 50);
    Slider.SetMinimum(60);
    EXPECT_EQ(Slider.Position(), 60);
    EXPECT_TRUE(Changes.empty());
}

TEST_F(SliderTest, OnlyTheLeftButtonOnTheThumbDragsButTheOwnerSeesEveryButton) {
    Press(ThumbMiddle(), 7, Qt::RightButton);
    EXPECT_FALSE(Slider.Dragging());
    Move(ThumbMiddle() + 81);
    Release(ThumbMiddle() + 81, 7, Qt::RightButton);
    EXPECT_EQ(Slider.Position(), 0);
    // Nor does it jump on the track.
    Press(120, 7, Qt::RightButton);
    Release(120, 7, Qt::RightButton);
    EXPECT_EQ(Slider.Position(), 0);

    EXPECT_TRUE(Changes.empty());
    EXPECT_EQ(Events, (std::vector<std::string>{"down right 7", "up right 88", "down right 120",
                                                "up right 120"}));
}

TEST_F(SliderTest, APressOnTheTrackBringsTheThumbThereAndADragGoesOnFromIt) {
    // The thumb's middle comes under the pointer: 43 of 162 pixels of travel, rounded.
    Press(50);
    EXPECT_EQ(Slider.Position(), 106);
    EXPECT_NEAR(ThumbMiddle(), 50, 1);
    EXPECT_TRUE(Slider.Dragging());
    EXPECT_EQ(ThumbLook(), ClickedColour);
    EXPECT_TRUE(Changes.empty()) << "the change is told on release";
    Move(50 + 81);
    EXPECT_EQ(Slider.Position(), 306) << "the drag goes on from where the thumb jumped";
    Release(50 + 81);
    EXPECT_EQ(Changes, std::vector<int>{306});

    // A press and release on the track is one change; near the ends the thumb stops there.
    Press(170);
    Release(170);
    EXPECT_EQ(Slider.Position(), 400);
    Press(2);
    Release(2);
    EXPECT_EQ(Slider.Position(), 0);
    EXPECT_EQ(Changes, (std::vector<int>{306, 400, 0}));
    EXPECT_FALSE(Slider.Dragging());
}

TEST_F(SliderTest, APressOnTheTrackOfAVerticalSliderMovesNothing) {
    Slider.SetOrientation(slVertical);
    Press(120);
    Release(120);
    EXPECT_EQ(Slider.Position(), 0);
    EXPECT_TRUE(Changes.empty());
}

TEST_F(SliderTest, TheThumbLightsUpUnderTheMouseAndStaysLitWhenTheMouseLeaves) {
    EXPECT_EQ(ThumbLook(), NormalColour);
    Move(ThumbMiddle());
    EXPECT_TRUE(Slider.Highlighted());
    EXPECT_EQ(ThumbLook(), HighlightColour);
    Move(100);
    EXPECT_FALSE(Slider.Highlighted());
    EXPECT_EQ(ThumbLook(), NormalColour);

    Move(ThumbMiddle());
    QEvent Leave(QEvent::Leave);
    QApplication::sendEvent(&Slider, &Leave);
    EXPECT_EQ(ThumbLook(), HighlightColour);
    Move(150);
    EXPECT_EQ(ThumbLook(), NormalColour);
}

TEST_F(SliderTest, ThePaintedControlIsTheBuffer) {
    Slider.SetPosition(400);
    const QImage Shot = Slider.grab().toImage();
    EXPECT_EQ(Shot.pixel(170, 7), NormalColour);
    EXPECT_EQ(Shot.pixel(10, 7), TrackColour);
}

TEST(SliderSetup, ANormalThumbAloneServesForAllThreeLooks) {
    TSlider Slider;
    EXPECT_EQ(Slider.size(), QSize(0, 0));
    Slider.SetThumbNormal(Solid(10, 12, NormalColour));
    Slider.SetTrack(Solid(60, 20, TrackColour));
    EXPECT_EQ(Slider.ThumbHighlighted().pixel(0, 0), NormalColour);
    EXPECT_EQ(Slider.ThumbClicked().pixel(0, 0), NormalColour);
    // As wide as the track, as high as the thumb.
    EXPECT_EQ(Slider.Buffer().size(), QSize(60, 12));
}

TEST(SliderSetup, AnEmptyRangeRedrawsNothingAndKeepsTheThumbWhereItWas) {
    TSlider Slider;
    Slider.SetThumbNormal(Solid(14, 15, NormalColour));
    Slider.SetTrack(Solid(176, 15, TrackColour));
    Slider.SetPosition(50);
    const QRect Before = Slider.ThumbRect();
    ASSERT_EQ(Before, QRect(81, 0, 14, 15));
    Slider.SetMaximum(0);
    EXPECT_EQ(Slider.Position(), 0);
    EXPECT_EQ(Slider.ThumbRect(), Before);
    EXPECT_EQ(Slider.Buffer().pixel(85, 3), NormalColour);
}

TEST(SliderSetup, ATrackNoLongerThanTheThumbCannotBeDraggedAlong) {
    TSlider Slider;
    Slider.SetThumbNormal(Solid(14, 15, NormalColour));
    Slider.SetTrack(Solid(14, 15, TrackColour));
    Slider.resize(14, 15);
    bool Changed = false;
    Slider.OnChange = [&](TSlider &) { Changed = true; };
    LeftDrag(Slider, 5, 60);
    EXPECT_EQ(Slider.Position(), 0);
    EXPECT_FALSE(Changed);
}

TEST(SliderSetup, WideRangesDoNotOverflowTheDragArithmetic) {
    TSlider Slider;
    Slider.SetThumbNormal(Solid(14, 15, NormalColour));
    Slider.SetTrack(Solid(176, 15, TrackColour));
    Slider.SetMinimum(-2000000000);
    Slider.SetMaximum(2000000000);
    Slider.SetPosition(0);
    ASSERT_EQ(Slider.ThumbRect().left(), 81);
    LeftDrag(Slider, 88, 88 + 81);
    EXPECT_EQ(Slider.Position(), 2000000000);
}
