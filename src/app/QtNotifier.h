#pragma once
// Message boxes of the desktop program: every box the program shows goes through this
// notifier, installed for the program's lifetime. A box asked for by another thread is
// shown by the window thread while the asking thread waits for the answer.

#include <QPointer>
#include <QWidget>

#include "platform/UserNotifier.h"

class QtNotifier : public UserNotifier {
public:
    QtNotifier();
    ~QtNotifier() override;

    // The window the boxes belong to; null for boxes of their own.
    void setParentWindow(QWidget* window) { parent_ = window; }

    MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons) override;

private:
    MessageAnswer showHere(const std::string& text, const std::string& caption, MessageIcon icon,
                           MessageButtons buttons);

    QPointer<QWidget> parent_;
};
