// Image buttons: sizing from the strip, the hit-test region, the mouse state machines of
// the push and check buttons, QuorrEnabled, clicks, and the frame that is shown.

#include "SkinTestSupport.h"

#include "skin/Checkimagebutton.h"
#include "skin/Imagebutton.h"
#include "skin/Skinform.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class ImageButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureQtApplication();
        form = std::make_unique<QWidget>();
        form->resize(300, 100);
        skin = new TSkinForm(form.get());
    }

    template <typename Button>
    Button* makeButton(const char* name, QPoint at, const char* region = "0 0 64 19")
    {
        auto* button = new Button(form.get());
        button->setObjectName(name);
        button->move(at);
        button->SetRegion(region);
        button->SetEnabled(true);
        const QImage strip = colourStrip(std::is_same_v<Button, TCheckImageButton> ? 5 : 4, 68, 23);
        button->SetPicture(&strip);
        return button;
    }

    // The colour the button paints now.
    static QColor shownColour(TImageButton* button) { return button->grab().toImage().pixelColor(10, 10); }

    RecordingNotifier notifier;
    std::unique_ptr<QWidget> form;
    TSkinForm* skin = nullptr;
};

} // namespace

TEST_F(ImageButtonTest, PictureSizesTheControlToOneFrame)
{
    auto* push = makeButton<TImageButton>("push", QPoint(0, 0));
    auto* check = makeButton<TCheckImageButton>("check", QPoint(80, 0));
    EXPECT_EQ(push->size(), QSize(68, 23));
    EXPECT_EQ(check->size(), QSize(68, 23));
    push->SetPicture(nullptr);
    EXPECT_EQ(push->size(), QSize(68, 23));
    EXPECT_EQ(push->Picture().width(), 4 * 68);
}

TEST_F(ImageButtonTest, ShownFrameFollowsTheState)
{
    auto* check = makeButton<TCheckImageButton>("check", QPoint(0, 0));
    for (int state = bsEnable; state <= bsChecked; ++state) {
        check->SetState(static_cast<tag_ButtonState>(state));
        EXPECT_EQ(shownColour(check), frameColour(state)) << state;
    }
}

TEST_F(ImageButtonTest, RegionDecidesWhatTheMouseReaches)
{
    auto* button = makeButton<TImageButton>("ibtn_Convert", QPoint(0, 0));
    moveOver(button, QPoint(64, 19));
    EXPECT_EQ(button->State(), bsEnable);
    pressOn(button, QPoint(64, 19));
    EXPECT_EQ(button->State(), bsEnable);
    moveOver(button, QPoint(63, 18));
    EXPECT_EQ(button->State(), bsMouseOver);
    pressOn(button, QPoint(63, 18));
    EXPECT_EQ(button->State(), bsMouseDown);
    // Leaving the region while the button is held returns it to rest.
    moveOver(button, QPoint(66, 21), Qt::LeftButton);
    EXPECT_EQ(button->State(), bsEnable);
}

TEST_F(ImageButtonTest, PushButtonCycle)
{
    auto* button = makeButton<TImageButton>("push", QPoint(0, 0));
    int clicks = 0;
    QObject::connect(button, &TImageButton::OnClick, [&clicks] { ++clicks; });
    moveOver(button, QPoint(10, 10));
    EXPECT_EQ(button->State(), bsMouseOver);
    pressOn(button, QPoint(10, 10));
    EXPECT_EQ(button->State(), bsMouseDown);
    EXPECT_EQ(shownColour(button), frameColour(bsMouseDown));
    releaseOn(button, QPoint(10, 10));
    EXPECT_EQ(button->State(), bsMouseOver);
    EXPECT_EQ(clicks, 1);
    sendLeave(button);
    EXPECT_EQ(button->State(), bsEnable);
}

TEST_F(ImageButtonTest, ClickComesBeforeMouseUpAndDoubleClickDoesNotClickAgain)
{
    auto* button = makeButton<TImageButton>("push", QPoint(0, 0));
    std::vector<std::string> order;
    QObject::connect(button, &TImageButton::OnClick, [&order] { order.push_back("click"); });
    QObject::connect(button, &TImageButton::OnDblClick, [&order] { order.push_back("double"); });
    QObject::connect(button, &TImageButton::OnMouseUp,
                     [&order](Qt::MouseButton, Qt::KeyboardModifiers, int, int) { order.push_back("up"); });
    moveOver(button, QPoint(10, 10));
    clickOn(button, QPoint(10, 10));
    sendMouse(button, QEvent::MouseButtonDblClick, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
    releaseOn(button, QPoint(10, 10));
    EXPECT_EQ(order, (std::vector<std::string>{"click", "up", "double", "up"}));
}

TEST_F(ImageButtonTest, DisabledLookIgnoresTheMouseButStillClicks)
{
    auto* button = makeButton<TImageButton>("push", QPoint(0, 0));
    int clicks = 0;
    QObject::connect(button, &TImageButton::OnClick, [&clicks] { ++clicks; });
    button->SetState(bsDisable);
    moveOver(button, QPoint(10, 10));
    clickOn(button, QPoint(10, 10));
    sendLeave(button);
    EXPECT_EQ(button->State(), bsDisable);
    EXPECT_EQ(clicks, 1);
}

TEST_F(ImageButtonTest, QuorrEnabledOffKeepsTheFrameButClicksAnywhereInTheRectangle)
{
    auto* button = makeButton<TImageButton>("push", QPoint(0, 0));
    int clicks = 0;
    int downs = 0;
    QObject::connect(button, &TImageButton::OnClick, [&clicks] { ++clicks; });
    QObject::connect(button, &TImageButton::OnMouseDown,
                     [&downs](Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++downs; });
    moveOver(button, QPoint(10, 10));
    button->SetEnabled(false);
    EXPECT_FALSE(button->QuorrEnabled());
    EXPECT_TRUE(button->isEnabled());
    moveOver(button, QPoint(30, 12));
    clickOn(button, QPoint(10, 10));
    EXPECT_EQ(button->State(), bsMouseOver);
    EXPECT_EQ(shownColour(button), frameColour(bsMouseOver));
    // Outside the region but inside the rectangle: a click all the same.
    clickOn(button, QPoint(66, 21));
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(downs, 0);
    // A press that ends outside the rectangle is no click.
    pressOn(button, QPoint(10, 10));
    releaseOn(button, QPoint(90, 10));
    EXPECT_EQ(clicks, 2);
}

TEST_F(ImageButtonTest, CheckButtonLatchesOnAClickFromHover)
{
    auto* check = makeButton<TCheckImageButton>("ibtn_Play", QPoint(0, 0));
    moveOver(check, QPoint(10, 10));
    clickOn(check, QPoint(10, 10));
    EXPECT_EQ(check->State(), bsChecked);
    EXPECT_TRUE(check->Checked());
    // Hovering keeps the checked frame; leaving too.
    moveOver(check, QPoint(20, 10));
    EXPECT_EQ(shownColour(check), frameColour(bsChecked));
    sendLeave(check);
    EXPECT_EQ(check->State(), bsChecked);
    // Pressing shows the pressed frame; releasing returns to rest.
    pressOn(check, QPoint(10, 10));
    EXPECT_EQ(shownColour(check), frameColour(bsMouseDown));
    releaseOn(check, QPoint(10, 10));
    EXPECT_EQ(check->State(), bsEnable);
    EXPECT_EQ(shownColour(check), frameColour(bsEnable));
}

TEST_F(ImageButtonTest, CheckButtonPressedWithoutHoverStaysPressedUntilLeft)
{
    auto* check = makeButton<TCheckImageButton>("check", QPoint(0, 0));
    clickOn(check, QPoint(10, 10));
    EXPECT_EQ(check->State(), bsMouseDown);
    sendLeave(check);
    EXPECT_EQ(check->State(), bsEnable);
}

TEST_F(ImageButtonTest, SetCheckedFalseLeavesTheButtonChecked)
{
    auto* check = makeButton<TCheckImageButton>("check", QPoint(0, 0));
    check->SetChecked(true);
    EXPECT_EQ(check->State(), bsChecked);
    check->SetChecked(false);
    EXPECT_EQ(check->State(), bsChecked);
    check->SetState(bsEnable);
    check->SetChecked(false);
    EXPECT_EQ(check->State(), bsEnable);
}

TEST_F(ImageButtonTest, CheckButtonWithoutQuorrIgnoresTheLeave)
{
    auto* lamp = makeButton<TCheckImageButton>("ind_Mic", QPoint(0, 0), "0 0 10 10");
    lamp->SetState(bsMouseOver);
    lamp->SetEnabled(false);
    sendLeave(lamp);
    EXPECT_EQ(lamp->State(), bsMouseOver);
    lamp->SetEnabled(true);
    sendLeave(lamp);
    EXPECT_EQ(lamp->State(), bsEnable);
}

TEST_F(ImageButtonTest, MovingToAnotherButtonResetsTheFirst)
{
    auto* first = makeButton<TImageButton>("first", QPoint(0, 0));
    auto* second = makeButton<TImageButton>("second", QPoint(100, 0));
    auto* latched = makeButton<TCheckImageButton>("latched", QPoint(200, 0));
    latched->SetChecked(true);
    moveOver(first, QPoint(10, 10));
    EXPECT_EQ(first->State(), bsMouseOver);
    moveOver(second, QPoint(10, 10));
    EXPECT_EQ(first->State(), bsEnable);
    EXPECT_EQ(second->State(), bsMouseOver);
    EXPECT_EQ(latched->State(), bsChecked);
    // A move over the form itself resets every button.
    moveOver(form.get(), QPoint(90, 60));
    EXPECT_EQ(second->State(), bsEnable);
}

TEST_F(ImageButtonTest, BadRegionIsReportedOnceAndLeavesTheButtonInert)
{
    auto* button = new TImageButton(form.get());
    button->setObjectName("ibtn_Bad");
    button->SetRegion("10 10 x 20");
    button->SetEnabled(true);
    const QImage strip = colourStrip(4, 68, 23);
    button->SetPicture(&strip);
    button->SetState(bsEnable);
    button->SelfDraw();
    const std::vector<std::string> expected = {"Invalid region data in ibtn_Bad", "Invalid region data in ibtn_Bad",
                                               "Error create region in ibtn_Bad"};
    EXPECT_EQ(notifier.texts, expected);
    EXPECT_FALSE(button->HasRegion());
    moveOver(button, QPoint(15, 15));
    EXPECT_EQ(button->State(), bsEnable);
    // A new region string is tried at the next draw.
    button->SetRegion("0 0 64 19");
    button->SelfDraw();
    EXPECT_TRUE(button->HasRegion());
    moveOver(button, QPoint(15, 15));
    EXPECT_EQ(button->State(), bsMouseOver);
    EXPECT_EQ(notifier.texts.size(), 3u);
}

TEST_F(ImageButtonTest, RegionIsMadeWhenTheButtonFirstShows)
{
    auto* button = new TImageButton(form.get());
    button->setObjectName("ibtn_Stop");
    button->setGeometry(0, 0, 59, 23);
    button->SetRegion("0 0 56 19");
    button->SetEnabled(true);
    EXPECT_FALSE(button->HasRegion());
    form->show();
    EXPECT_TRUE(button->HasRegion());
    EXPECT_TRUE(button->HitTest(55, 18));
    EXPECT_FALSE(button->HitTest(56, 18));
    EXPECT_TRUE(notifier.texts.empty());
}
