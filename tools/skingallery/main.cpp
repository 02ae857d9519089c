// lirrosa-skin-gallery: shows the skinned main face and every state of every button.
//   lirrosa-skin-gallery [--skin FOLDER] [--screenshot FILE.png]
// With --screenshot the whole screen is grabbed once the windows show, written as PNG,
// the face's place on the screen is written to FILE.png.geometry ("x y width height"),
// and the program ends.

#include "SkinGallery.h"

#include "skin/MainSkinLayout.h"
#include "skin/Skinform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

struct Options {
    QString skinFolder = LIRROSA_DEFAULT_SKIN_DIR;
    QString screenshot;
};

bool parseOptions(const QStringList& arguments, Options& options)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if ((argument == "--skin" || argument == "--screenshot") && i + 1 < arguments.size()) {
            (argument == "--skin" ? options.skinFolder : options.screenshot) = arguments[++i];
        } else {
            std::fprintf(stderr, "usage: lirrosa-skin-gallery [--skin FOLDER] [--screenshot FILE.png]\n");
            return false;
        }
    }
    return true;
}

// The screen once the face has been painted there: a pixel of its picture shows at its place.
bool faceIsOnScreen(const QImage& screen, const GalleryFace& face, const QImage& facePicture)
{
    const QPoint probe(20, 100);
    const QPoint onScreen = face.mapToGlobal(probe);
    return screen.rect().contains(onScreen) && screen.pixel(onScreen) == facePicture.pixel(probe);
}

void grabWhenShown(const GalleryFace& face, const Options& options, int attemptsLeft)
{
    const QImage facePicture = face.Skin()->Image();
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    if (!faceIsOnScreen(screen, face, facePicture) && attemptsLeft > 0) {
        QTimer::singleShot(250, [&face, &options, attemptsLeft] { grabWhenShown(face, options, attemptsLeft - 1); });
        return;
    }
    const QPoint origin = face.mapToGlobal(QPoint(0, 0));
    QDir().mkpath(QFileInfo(options.screenshot).absolutePath());
    QFile geometry(options.screenshot + ".geometry");
    const bool saved = screen.save(options.screenshot, "PNG") && geometry.open(QIODevice::WriteOnly) &&
                       geometry.write(QString("%1 %2 %3 %4\n").arg(origin.x()).arg(origin.y()).arg(face.width()).arg(face.height()).toUtf8()) > 0;
    geometry.close();
    if (!saved)
        std::fprintf(stderr, "lirrosa-skin-gallery: cannot write %s\n", qPrintable(options.screenshot));
    else
        std::printf("%s\n", qPrintable(options.screenshot));
    QApplication::exit(saved ? 0 : 1);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Options options;
    if (!parseOptions(app.arguments(), options))
        return 2;

    GalleryFace face(options.skinFolder);
    GallerySheet sheet(options.skinFolder);
    face.move(40, 40);
    sheet.move(40, 40 + kMainFaceHeight + 30);
    sheet.show();
    face.show();
    face.Skin()->SetActive(true);

    if (!options.screenshot.isEmpty())
        QTimer::singleShot(500, [&face, &options] { grabWhenShown(face, options, 20); });
    return app.exec();
}
