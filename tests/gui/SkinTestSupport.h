#pragma once
// Shared helpers of the skinned-control tests: a Qt application on the offscreen
// platform, a notifier that records the messages shown, picture strips whose frames are
// solid colours, and mouse events sent straight to a widget.

#include "platform/UserNotifier.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include <string>
#include <vector>

// Under LeakSanitizer: the font and message-bus libraries keep some allocations for the
// life of the process (the same list as lsan-system-libraries.supp).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

inline void ensureQtApplication()
{
    static int argc = 1;
    static char name[] = "lirrosa-gui-test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
}

class RecordingNotifier : public UserNotifier {
public:
    RecordingNotifier() { setUserNotifier(this); }
    ~RecordingNotifier() override { setUserNotifier(nullptr); }
    MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon,
                       MessageButtons) override
    {
        texts.push_back(text);
        captions.push_back(caption);
        return MessageAnswer::Ok;
    }
    std::vector<std::string> texts;
    std::vector<std::string> captions;
};

// The colour of frame k in the strips below.
inline QColor frameColour(int frame)
{
    static const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta};
    return colours[frame];
}

inline QImage colourStrip(int frames, int width, int height)
{
    QImage strip(frames * width, height, QImage::Format_RGB32);
    QPainter painter(&strip);
    for (int k = 0; k < frames; ++k)
        painter.fillRect(k * width, 0, width, height, frameColour(k));
    return strip;
}

inline void sendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button,
                      Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

inline void moveOver(QWidget* target, QPoint at, Qt::MouseButtons held = Qt::NoButton)
{
    sendMouse(target, QEvent::MouseMove, at, Qt::NoButton, held);
}

inline void pressOn(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    sendMouse(target, QEvent::MouseButtonPress, at, button, button);
}

inline void releaseOn(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    sendMouse(target, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}

inline void clickOn(QWidget* target, QPoint at)
{
    pressOn(target, at);
    releaseOn(target, at);
}

inline void sendLeave(QWidget* target)
{
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(target, &leave);
}
