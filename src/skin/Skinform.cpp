#include "skin/Skinform.h"

#include "skin/Imagebutton.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

TSkinForm::TSkinForm(QWidget* owner) : QObject(owner), owner_(owner)
{
    owner_->setMouseTracking(true);
    owner_->installEventFilter(this);
}

void TSkinForm::SetActive(bool value)
{
    if (value == active_)
        return;
    if (value) {
        // Without a region the form keeps its rectangular shape.
        shape_ = MakeRegion();
        if (shape_)
            owner_->setMask(*shape_);
        active_ = true;
        owner_->update();
    } else {
        owner_->clearMask();
        shape_.reset();
        active_ = false;
    }
}

void TSkinForm::SetImage(const QImage* picture)
{
    if (picture == nullptr)
        return;
    image_ = picture->convertToFormat(QImage::Format_RGB32);
    owner_->update();
}

void TSkinForm::Draw(QPainter* canvas) const
{
    if (canvas != nullptr)
        canvas->drawImage(QPoint(0, 0), image_);
}

std::optional<QRegion> TSkinForm::MakeRegion() const
{
    return makeRegionFromString(regionType_, region_.toStdString(), objectName().toStdString(),
                                /*allowEllipseRectangle=*/false);
}

void TSkinForm::MouseDown(QObject*, Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y)
{
    if (button != Qt::LeftButton)
        return;
    dragOrigin_ = QPoint(x, y);
    QWindow* window = owner_->windowHandle();
    systemMove_ = window != nullptr && window->startSystemMove();
}

void TSkinForm::MouseMove(QObject* sender, Qt::MouseButtons held, Qt::KeyboardModifiers, int x, int y)
{
    if ((held & Qt::LeftButton) && sender == owner_ && !systemMove_)
        owner_->move(owner_->x() + x - dragOrigin_.x(), owner_->y() + y - dragOrigin_.y());
    ResetImageButtons(sender);
}

void TSkinForm::ResetImageButtons(QObject* except) const
{
    const QList<TImageButton*> buttons =
        owner_->findChildren<TImageButton*>(QString(), Qt::FindDirectChildrenOnly);
    for (TImageButton* button : buttons)
        if (button != except)
            button->MouseLeave();
}

bool TSkinForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != owner_)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint:
        if (!active_)
            return false;
        {
            QPainter canvas(owner_);
            if (shape_)
                canvas.setClipRegion(*shape_);
            Draw(&canvas);
        }
        return true;
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = pixelAt(mouse->position());
        MouseDown(owner_, mouse->button(), mouse->modifiers(), at.x(), at.y());
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = pixelAt(mouse->position());
        MouseMove(owner_, mouse->buttons(), mouse->modifiers(), at.x(), at.y());
        return true;
    }
    case QEvent::Leave:
        // The pointer left the window: no button keeps its hover look.
        ResetImageButtons(nullptr);
        return false;
    default:
        return false;
    }
}
