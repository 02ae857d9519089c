// lirrosa-screenshot OUT.png: saves what the X display shows, for the tests that drive the
// program with real input events and keep pictures of its windows.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: lirrosa-screenshot OUT.png\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        std::fprintf(stderr, "lirrosa-screenshot: no screen\n");
        return 1;
    }
    if (!screen->grabWindow(0).save(argv[1])) {
        std::fprintf(stderr, "lirrosa-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
