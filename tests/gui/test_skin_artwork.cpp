// The BASE skin's pictures as installed: every control of the main face has a picture of
// its size with one frame per state, the files are 24-bit BMPs, the looks of a button
// differ from one another, and the face's corners are cut by the window shape.

#include "SkinTestSupport.h"

#include "skin/Imagebutton.h"
#include "skin/MainSkinLayout.h"
#include "skin/RegionString.h"

#include <gtest/gtest.h>

#include <QFile>

#include <cmath>

namespace {

const QString kSkinFolder = QString(LIRROSA_SOURCE_DIR) + "/skins/BASE/";

QImage loadPicture(const QString& fileName)
{
    return QImage(kSkinFolder + fileName).convertToFormat(QImage::Format_RGB32);
}

int frameCount(const SkinControl& control)
{
    switch (control.kind) {
    case SkinControlKind::PushButton:
        return 4;
    case SkinControlKind::CheckButton:
        return 5;
    case SkinControlKind::Image:
        return 1;
    }
    return 0;
}

// Mean difference per channel between two frames of a strip, 0...255.
double frameDifference(const QImage& strip, int width, int a, int b)
{
    double sum = 0;
    for (int y = 0; y < strip.height(); ++y)
        for (int x = 0; x < width; ++x) {
            const QRgb p = strip.pixel(a * width + x, y);
            const QRgb q = strip.pixel(b * width + x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * width * strip.height());
}

std::vector<QString> allFiles()
{
    std::vector<QString> files = {kMainFaceFile, kStartPageFile, kSpectrumPageFile, kSettingsBackgroundFile};
    for (const char* icon : kEditorIconFiles)
        files.push_back(icon);
    for (const SkinControl& control : kMainSkinControls)
        files.push_back(QString(control.name) + ".bmp");
    return files;
}

} // namespace

TEST(SkinArtwork, EveryControlHasAPictureOfItsSize)
{
    ensureQtApplication();
    for (const SkinControl& control : kMainSkinControls) {
        const QImage picture = loadPicture(QString(control.name) + ".bmp");
        ASSERT_FALSE(picture.isNull()) << control.name;
        EXPECT_EQ(picture.size(), QSize(control.width * frameCount(control), control.height)) << control.name;
    }
    EXPECT_EQ(loadPicture(kMainFaceFile).size(), QSize(kMainFaceWidth, kMainFaceHeight));
    EXPECT_EQ(loadPicture(kStartPageFile).size(), QSize(kDisplayWidth, kDisplayHeight));
    EXPECT_EQ(loadPicture(kSpectrumPageFile).size(), QSize(kDisplayWidth, kDisplayHeight));
    EXPECT_EQ(loadPicture(kSettingsBackgroundFile).size(), QSize(kSettingsBackgroundWidth, kSettingsBackgroundHeight));
    for (const char* icon : kEditorIconFiles)
        EXPECT_EQ(loadPicture(icon).size(), QSize(kEditorIconSize, kEditorIconSize)) << icon;
}

TEST(SkinArtwork, FilesAre24BitBitmaps)
{
    qint64 total = 0;
    for (const QString& name : allFiles()) {
        QFile file(kSkinFolder + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray header = file.read(30);
        ASSERT_EQ(header.size(), 30) << name.toStdString();
        EXPECT_EQ(header.left(2), QByteArray("BM")) << name.toStdString();
        EXPECT_EQ(static_cast<unsigned char>(header[28]), 24) << name.toStdString();
        total += file.size();
    }
    EXPECT_LT(total, 3 * 1024 * 1024);
}

TEST(SkinArtwork, EveryLookOfAButtonDiffersFromTheOthers)
{
    ensureQtApplication();
    for (const SkinControl& control : kMainSkinControls) {
        const int frames = frameCount(control);
        if (frames == 1)
            continue;
        const QImage strip = loadPicture(QString(control.name) + ".bmp");
        for (int a = 0; a < frames; ++a)
            for (int b = a + 1; b < frames; ++b)
                EXPECT_GT(frameDifference(strip, control.width, a, b), 1.0)
                    << control.name << " frames " << a << " and " << b;
        // Disabled must stand apart from at rest, not merely differ by a shade.
        EXPECT_GT(frameDifference(strip, control.width, bsEnable, bsDisable), 4.0) << control.name;
    }
}

TEST(SkinArtwork, FaceCornersLieOutsideTheWindowShape)
{
    ensureQtApplication();
    RecordingNotifier notifier;
    const auto shape = makeRegionFromString(rtRoundRectangle, kMainFaceRegion, "SkinForm", false);
    ASSERT_TRUE(shape);
    // Every control and the display lie inside the shape.
    for (const SkinControl& control : kMainSkinControls)
        EXPECT_TRUE(shape->contains(QRect(control.left, control.top, control.width, control.height)))
            << control.name;
    const QRect display(kDisplayLeft, kDisplayTop, kDisplayWidth, kDisplayHeight);
    EXPECT_EQ(shape->intersected(display), QRegion(display));
}
