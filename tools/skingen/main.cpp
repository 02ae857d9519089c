// lirrosa-skingen: writes the BASE skin's pictures as BMP files into a folder.
//   lirrosa-skingen OUTPUT_FOLDER

#include "SkinArt.h"

#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2 || QString(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: lirrosa-skingen OUTPUT_FOLDER\n"
                             "Draws the BASE skin's pictures and writes them there as BMP files.\n");
        return argc == 2 ? 0 : 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    // The labels are drawn in DejaVu Sans; another font would change every picture.
    if (!QFontDatabase::families().contains("DejaVu Sans")) {
        std::fprintf(stderr, "lirrosa-skingen: the font DejaVu Sans is missing (package fonts-dejavu-core)\n");
        return 1;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "lirrosa-skingen: cannot create %s\n", argv[1]);
        return 1;
    }
    for (const SkinPicture& picture : drawBaseSkin()) {
        const QString path = folder.filePath(picture.fileName);
        const QImage rgb = picture.image.convertToFormat(QImage::Format_RGB888);
        if (!rgb.save(path, "BMP")) {
            std::fprintf(stderr, "lirrosa-skingen: cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s %dx%d\n", qPrintable(path), rgb.width(), rgb.height());
    }
    return 0;
}
