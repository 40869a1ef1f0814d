#include "SYFlatButton.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace lanyard {
namespace {

using Part = SYFlatButton::ColorPart;

const QColor kNormal(0x20, 0x60, 0xc0);
const QColor kHighlight(0xc0, 0x30, 0x30);

// A button without a title in known colours whose changes show at once.
std::unique_ptr<SYFlatButton> plainButton(QWidget* parent = nullptr) {
    auto button = std::make_unique<SYFlatButton>(parent);
    button->resize(100, 40);
    button->setBackgroundNormalColor(kNormal);
    button->setBackgroundHighlightColor(kHighlight);
    button->setBorderNormalColor(kNormal);
    button->setBorderHighlightColor(kHighlight);
    return button;
}

void sendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

QColor pixelAtCentre(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

TEST(UiFlatButtonLayout, FramesOfImageAndTitleForEveryPosition) {
    struct Case {
        int position;
        bool hugging;
        int height; // of a 100-point wide button with a 16x16 image, a 40x14 title and spacing 5
        std::optional<QRect> image;
        std::optional<QRect> title;
    };
    const std::optional<QRect> none;
    const Case cases[] = {
        {SYFlatButton::NoImage, false, 40, none, QRect(30, 13, 40, 14)},
        {SYFlatButton::ImageOnly, false, 40, QRect(42, 12, 16, 16), none},
        {SYFlatButton::ImageLeft, false, 40, QRect(5, 12, 16, 16), QRect(55, 13, 40, 14)},    // at the edges
        {SYFlatButton::ImageLeading, true, 40, QRect(17, 12, 16, 16), QRect(43, 13, 40, 14)}, // hugging
        {SYFlatButton::ImageTrailing, true, 40, QRect(67, 12, 16, 16), QRect(17, 13, 40, 14)},
        {SYFlatButton::ImageBelow, true, 60, QRect(42, 34, 16, 16), QRect(30, 10, 40, 14)},
        {SYFlatButton::ImageAbove, false, 60, QRect(42, 5, 16, 16), QRect(30, 41, 40, 14)},
        {42, false, 40, QRect(0, 0, 16, 16), QRect(0, 0, 40, 14)}, // an unknown position
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        const auto layout =
            SYFlatButton::layoutFor(QSizeF(100, c.height), {16, 16}, {40, 14}, c.position, c.hugging, 5);
        EXPECT_EQ(layout.image, c.image);
        EXPECT_EQ(layout.title, c.title);
    }
    // Fractions round to whole points and sizes round up.
    const auto layout =
        SYFlatButton::layoutFor({100, 40}, {16, 16}, {40.4, 14.2}, SYFlatButton::ImageOverlaps, false, 0);
    EXPECT_EQ(layout.title, QRect(30, 13, 41, 15));
}

TEST(UiFlatButton, MomentaryPressShowsHighlightReleaseSendsTheActionOnceAndDraggingOutCancels) {
    auto button = plainButton();
    button->setMomentary(true);
    button->show();
    QSignalSpy clicked(button.get(), &SYFlatButton::clicked);
    sendMouse(button.get(), QEvent::MouseButtonPress, {50, 20}, Qt::LeftButton);
    EXPECT_EQ(button->state(), 1);
    EXPECT_TRUE(button->isMouseDown());
    EXPECT_EQ(pixelAtCentre(button.get()), kHighlight);
    EXPECT_EQ(clicked.count(), 0);
    sendMouse(button.get(), QEvent::MouseButtonRelease, {50, 20}, Qt::NoButton);
    EXPECT_EQ(button->state(), 0);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(pixelAtCentre(button.get()), kNormal);

    sendMouse(button.get(), QEvent::MouseButtonPress, {50, 20}, Qt::LeftButton);
    sendMouse(button.get(), QEvent::MouseMove, {150, 20}, Qt::LeftButton);
    EXPECT_EQ(button->state(), 0);
    EXPECT_FALSE(button->isMouseDown());
    sendMouse(button.get(), QEvent::MouseButtonRelease, {150, 20}, Qt::NoButton);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(button->presentedColor(Part::Background), kNormal);
}

TEST(UiFlatButton, ToggleButtonChangesItsStateWithEachClick) {
    auto button = plainButton();
    button->setMomentary(false);
    button->show();
    QSignalSpy clicked(button.get(), &SYFlatButton::clicked);
    QTest::mouseClick(button.get(), Qt::LeftButton, Qt::NoModifier, {50, 20});
    EXPECT_EQ(button->state(), 1);
    EXPECT_EQ(pixelAtCentre(button.get()), kHighlight);
    QTest::mouseClick(button.get(), Qt::LeftButton, Qt::NoModifier, {50, 20});
    EXPECT_EQ(button->state(), 0);
    EXPECT_EQ(pixelAtCentre(button.get()), kNormal);
    ASSERT_EQ(clicked.count(), 2);
    EXPECT_TRUE(clicked.at(0).at(0).toBool());
    EXPECT_FALSE(clicked.at(1).at(0).toBool());
}

TEST(UiFlatButton, DisabledWhenSetUpItIsHalfTransparentAndIgnoresClicks) {
    QWidget parent;
    parent.setEnabled(false);
    auto button = plainButton(&parent);
    EXPECT_DOUBLE_EQ(button->alphaValue(), 0.5);
    parent.show();
    QSignalSpy clicked(button.get(), &SYFlatButton::clicked);
    QTest::mouseClick(button.get(), Qt::LeftButton, Qt::NoModifier, {50, 20});
    button->performClick();
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_EQ(button->state(), 0);
    EXPECT_DOUBLE_EQ(plainButton()->alphaValue(), 1.0);
    button.reset();
}

TEST(UiFlatButton, WhileOnOnlyAHighlightColourChangeShows) {
    auto button = plainButton();
    button->setState(1);
    const QColor green(0x10, 0xa0, 0x40);
    button->setBackgroundNormalColor(green);
    EXPECT_EQ(button->presentedColor(Part::Background), kHighlight);
    button->setBackgroundHighlightColor(green);
    EXPECT_EQ(button->presentedColor(Part::Background), green);
    button->setState(0);
    EXPECT_EQ(button->presentedColor(Part::Background), green);
}

TEST(UiFlatButton, ColoursAnimateOverTheirDurations) {
    auto button = plainButton();
    button->setOnAnimateDuration(0.3);
    button->setOffAnimateDuration(0.0);
    button->setState(1);
    EXPECT_EQ(button->targetColor(Part::Background), kHighlight);
    EXPECT_NE(button->presentedColor(Part::Background), kHighlight);
    EXPECT_TRUE(
        test::waitUntil([&] { return button->presentedColor(Part::Background) == kHighlight; }, 3000));
    button->setState(0);
    EXPECT_EQ(button->presentedColor(Part::Background), kNormal);
}

TEST(UiFlatButton, TitleAndImageAreDrawnInTheirColours) {
    SYFlatButton button;
    button.resize(120, 40);
    button.setBackgroundNormalColor(Qt::white);
    button.setTitleNormalColor(QColor(0, 0, 0));
    button.setImageNormalColor(QColor(0, 160, 0));
    QImage square(12, 12, QImage::Format_ARGB32);
    square.fill(Qt::black);
    button.setImage(square);
    button.setImagePosition(SYFlatButton::ImageLeft);
    button.setSpacing(4);
    button.setTitle(QStringLiteral("Share"));
    ASSERT_TRUE(button.imageFrame().has_value());
    ASSERT_TRUE(button.titleFrame().has_value());
    EXPECT_EQ(button.imageFrame()->topLeft(), QPoint(4, 14));
    const QImage drawn = button.grab().toImage();
    EXPECT_EQ(drawn.pixelColor(button.imageFrame()->center()), QColor(0, 160, 0));
    bool titleInk = false;
    const QRect title = *button.titleFrame();
    for (int y = title.top(); y <= title.bottom() && !titleInk; ++y) {
        for (int x = title.left(); x <= title.right() && !titleInk; ++x) {
            titleInk = drawn.pixelColor(x, y).lightness() < 100;
        }
    }
    EXPECT_TRUE(titleInk) << "no dark title pixels in the title frame";
    button.setImagePosition(SYFlatButton::ImageOnly);
    EXPECT_FALSE(button.titleFrame().has_value());
}

TEST(UiFlatButton, SpaceBarClicksAFocusedButton) {
    auto button = plainButton();
    button->setMomentary(true);
    QSignalSpy clicked(button.get(), &SYFlatButton::clicked);
    QTest::keyClick(button.get(), Qt::Key_Space);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(button->state(), 0);
}

} // namespace
} // namespace lanyard
