#include "app/QtNotifier.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons boxButtons(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::Ok:
        return QMessageBox::Ok;
    case MessageButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    }
    return QMessageBox::Ok;
}

MessageAnswer answerOf(int button)
{
    switch (button) {
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    default:
        return MessageAnswer::Ok;
    }
}

} // namespace

QtNotifier::QtNotifier()
{
    setUserNotifier(this);
}

QtNotifier::~QtNotifier()
{
    setUserNotifier(nullptr);
}

MessageAnswer QtNotifier::show(const std::string& text, const std::string& caption, MessageIcon icon,
                               MessageButtons buttons)
{
    if (QThread::currentThread() == qApp->thread())
        return showHere(text, caption, icon, buttons);
    MessageAnswer answer = MessageAnswer::Ok;
    QMetaObject::invokeMethod(
        qApp, [&] { answer = showHere(text, caption, icon, buttons); }, Qt::BlockingQueuedConnection);
    return answer;
}

MessageAnswer QtNotifier::showHere(const std::string& text, const std::string& caption, MessageIcon icon,
                                   MessageButtons buttons)
{
    QMessageBox box(boxIcon(icon), QString::fromStdString(caption.empty() ? "Lirrosa" : caption),
                    QString::fromStdString(text), boxButtons(buttons), parent_.data());
    box.setObjectName("messageBox");
    if (buttons == MessageButtons::YesNo)
        box.setDefaultButton(QMessageBox::Yes);
    return answerOf(box.exec());
}
