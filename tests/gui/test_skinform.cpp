// The skinned form: window shape made once on activation and removed on deactivation,
// the background painted while active, dragging by the background only, and the reset of
// the image buttons when the pointer moves on or leaves the window.

#include "SkinTestSupport.h"

#include "skin/Imagebutton.h"
#include "skin/Skinform.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class SkinFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureQtApplication();
        form = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
        form->setGeometry(200, 150, 548, 290);
        skin = new TSkinForm(form.get());
        skin->setObjectName("SkinForm");
        skin->SetRegionType(rtRoundRectangle);
        skin->SetRegion("0 0 548 289 85 85");
    }

    TImageButton* addButton(QPoint at)
    {
        auto* button = new TImageButton(form.get());
        button->setObjectName("ibtn_Test");
        button->move(at);
        button->SetRegion("0 0 64 19");
        button->SetEnabled(true);
        const QImage strip = colourStrip(4, 68, 23);
        button->SetPicture(&strip);
        return button;
    }

    RecordingNotifier notifier;
    std::unique_ptr<QWidget> form;
    TSkinForm* skin = nullptr;
};

QImage gradientPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb(x % 256, y % 256, 90));
    return picture;
}

} // namespace

TEST_F(SkinFormTest, ActivationCutsTheCornersAndDeactivationRestoresTheRectangle)
{
    EXPECT_TRUE(form->mask().isEmpty());
    skin->SetActive(true);
    EXPECT_TRUE(skin->Active());
    const QRegion mask = form->mask();
    EXPECT_FALSE(mask.contains(QPoint(2, 2)));
    EXPECT_FALSE(mask.contains(QPoint(545, 286)));
    EXPECT_TRUE(mask.contains(QPoint(274, 145)));
    EXPECT_TRUE(mask.contains(QPoint(0, 145)));
    skin->SetActive(false);
    EXPECT_FALSE(skin->Active());
    EXPECT_TRUE(form->mask().isEmpty());
}

TEST_F(SkinFormTest, ActivatingTwiceMakesTheRegionOnce)
{
    skin->SetRegionType(rtRectangle);
    skin->SetRegion("0 0 x 10");
    skin->SetActive(true);
    const std::vector<std::string> once = {"Invalid region data in SkinForm", "Invalid region data in SkinForm",
                                           "Error create region in SkinForm"};
    EXPECT_EQ(notifier.texts, once);
    skin->SetActive(true);
    EXPECT_EQ(notifier.texts, once);
    // Without a region the form keeps its rectangular shape but is active.
    EXPECT_TRUE(skin->Active());
    EXPECT_TRUE(form->mask().isEmpty());
}

TEST_F(SkinFormTest, EllipseRectangleIsNotAWindowShape)
{
    skin->SetRegionType(rtEllipseRectangle);
    skin->SetRegion("0 0 100 100 0 0 50 50");
    skin->SetActive(true);
    EXPECT_EQ(notifier.texts, std::vector<std::string>{"Error create region in SkinForm"});
    EXPECT_TRUE(form->mask().isEmpty());
}

TEST_F(SkinFormTest, BackgroundIsPaintedOnlyWhileActive)
{
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::white);
    form->setPalette(palette);
    form->setAutoFillBackground(true);
    const QImage picture = gradientPicture(548, 290);
    skin->SetImage(&picture);
    skin->SetImage(nullptr);
    EXPECT_EQ(skin->Image().pixel(100, 50), picture.pixel(100, 50));
    EXPECT_EQ(form->grab().toImage().pixelColor(100, 50), QColor(Qt::white));
    skin->SetActive(true);
    EXPECT_EQ(form->grab().toImage().pixel(100, 50), picture.pixel(100, 50));
}

TEST_F(SkinFormTest, DraggingTheBackgroundMovesTheWindowByThePointerOffset)
{
    const QPoint start = form->pos();
    pressOn(form.get(), QPoint(100, 20));
    moveOver(form.get(), QPoint(130, 20), Qt::LeftButton);
    EXPECT_EQ(form->pos(), start + QPoint(30, 0));
    moveOver(form.get(), QPoint(90, 35), Qt::LeftButton);
    EXPECT_EQ(form->pos(), start + QPoint(20, 15));
    // Without the left button held the window stays.
    moveOver(form.get(), QPoint(10, 10));
    EXPECT_EQ(form->pos(), start + QPoint(20, 15));
    // The right button does not start a drag from its point.
    pressOn(form.get(), QPoint(300, 200), Qt::RightButton);
    moveOver(form.get(), QPoint(100, 20), Qt::LeftButton);
    EXPECT_EQ(form->pos(), start + QPoint(20, 15));
}

TEST_F(SkinFormTest, PressingOnAButtonAndMovingDoesNotMoveTheWindow)
{
    TImageButton* button = addButton(QPoint(42, 203));
    const QPoint start = form->pos();
    pressOn(button, QPoint(10, 10));
    moveOver(button, QPoint(40, 15), Qt::LeftButton);
    moveOver(button, QPoint(90, 30), Qt::LeftButton);
    EXPECT_EQ(form->pos(), start);
}

TEST_F(SkinFormTest, LeavingTheWindowResetsEveryButton)
{
    TImageButton* first = addButton(QPoint(42, 203));
    TImageButton* second = addButton(QPoint(120, 203));
    first->SetState(bsMouseOver);
    second->SetState(bsMouseDown);
    TImageButton* disabled = addButton(QPoint(200, 203));
    disabled->SetState(bsDisable);
    sendLeave(form.get());
    EXPECT_EQ(first->State(), bsEnable);
    EXPECT_EQ(second->State(), bsEnable);
    EXPECT_EQ(disabled->State(), bsDisable);
}
