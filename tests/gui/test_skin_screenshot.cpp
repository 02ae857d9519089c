// Reads the screenshot that the skin gallery took under a virtual X server with a white
// root window: the corners of the shaped face show what lies behind the window, and the
// face shows its own picture everywhere inside the shape.

#include "skin/MainSkinLayout.h"
#include "skin/RegionString.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>

namespace {

struct Screenshot {
    QImage screen;
    QImage face;
    QPoint origin;
};

Screenshot loadScreenshot()
{
    Screenshot shot;
    shot.screen = QImage(LIRROSA_SKIN_SCREENSHOT).convertToFormat(QImage::Format_RGB32);
    shot.face = QImage(QString(LIRROSA_SOURCE_DIR) + "/skins/BASE/" + kMainFaceFile).convertToFormat(QImage::Format_RGB32);
    QFile geometry(QString(LIRROSA_SKIN_SCREENSHOT) + ".geometry");
    if (geometry.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> numbers = geometry.readAll().simplified().split(' ');
        if (numbers.size() == 4)
            shot.origin = QPoint(numbers[0].toInt(), numbers[1].toInt());
    }
    return shot;
}

const QRgb kRootWhite = qRgb(255, 255, 255);

} // namespace

TEST(SkinScreenshot, CornersShowTheRootWindowAndTheFaceShowsInside)
{
    const Screenshot shot = loadScreenshot();
    ASSERT_FALSE(shot.screen.isNull()) << LIRROSA_SKIN_SCREENSHOT;
    ASSERT_FALSE(shot.face.isNull());
    ASSERT_TRUE(shot.screen.rect().contains(QRect(shot.origin, QSize(kMainFaceWidth, kMainFaceHeight))));
    const auto at = [&shot](QPoint facePoint) { return shot.screen.pixel(shot.origin + facePoint); };

    // Each corner: outside the shape, where the face's own picture is not white.
    for (const QPoint corner : {QPoint(1, 1), QPoint(8, 4), QPoint(546, 1), QPoint(540, 6), QPoint(1, 288),
                                QPoint(6, 282), QPoint(546, 288), QPoint(541, 283), QPoint(0, 289), QPoint(547, 289)}) {
        EXPECT_NE(shot.face.pixel(corner), kRootWhite);
        EXPECT_EQ(at(corner), kRootWhite) << "corner " << corner.x() << "," << corner.y();
    }

    // Inside the shape, where no control lies, the screen shows the face's picture.
    const QRegion shape = roundRectRegion(0, 0, 548, 289, 85, 85);
    QRegion bare = shape;
    for (const SkinControl& control : kMainSkinControls)
        bare -= QRect(control.left, control.top, control.width, control.height);
    bare -= QRect(kDisplayLeft, kDisplayTop, kDisplayWidth, kDisplayHeight);
    bare -= QRect(60, 166, 440, 18);                            // the information labels
    bare -= QRect(kDisplayLeft, 58, kDisplayWidth + 4, 6); // the play marker's track
    int checked = 0;
    int matching = 0;
    for (int y = 0; y < kMainFaceHeight; y += 3)
        for (int x = 0; x < kMainFaceWidth; x += 3)
            if (bare.contains(QPoint(x, y))) {
                ++checked;
                matching += at(QPoint(x, y)) == shot.face.pixel(x, y) ? 1 : 0;
            }
    EXPECT_GT(checked, 5000);
    EXPECT_EQ(matching, checked);

    // The display in the centre shows the voice diagram, not the root window.
    int coloured = 0;
    for (int x = kDisplayLeft; x < kDisplayLeft + kDisplayWidth; ++x) {
        const QColor pixel = QColor::fromRgb(at(QPoint(x, kDisplayTop + 100)));
        coloured += pixel.saturation() > 150 && pixel.value() > 150 ? 1 : 0;
    }
    EXPECT_GT(coloured, 200);
    EXPECT_NE(at(QPoint(274, 145)), kRootWhite);
}
