#include "skin/Imagebutton.h"

#include "skin/Skinform.h"

#include <QMouseEvent>
#include <QPainter>

namespace {
constexpr int kPushButtonFrames = 4;
}

TImageButton::TImageButton(QWidget* form) : TImageButton(form, kPushButtonFrames) {}

TImageButton::TImageButton(QWidget* form, int frameCount) : QWidget(form), frameCount_(frameCount)
{
    setMouseTracking(true);
}

void TImageButton::SetPicture(const QImage* picture)
{
    if (picture == nullptr)
        return;
    picture_ = picture->convertToFormat(QImage::Format_RGB32);
    resize(picture_.width() / frameCount_, picture_.height());
    SelfDraw();
}

void TImageButton::SetRegionType(tag_RegionType type)
{
    regionType_ = type;
    hitRegion_.reset();
    regionTried_ = false;
}

void TImageButton::SetRegion(const QString& region)
{
    region_ = region;
    hitRegion_.reset();
    regionTried_ = false;
}

void TImageButton::SetState(tag_ButtonState state)
{
    state_ = state;
    SelfDraw();
}

void TImageButton::SetEnabled(bool value)
{
    quorrEnabled_ = value;
}

void TImageButton::SelfDraw()
{
    // A region string that failed is not tried again until it changes, so its messages
    // appear once instead of at every redraw.
    if (!hitRegion_ && !regionTried_)
        MakeRegion();
    update();
}

void TImageButton::MakeRegion()
{
    regionTried_ = true;
    hitRegion_ = makeRegionFromString(regionType_, region_.toStdString(), objectName().toStdString(),
                                      /*allowEllipseRectangle=*/true);
}

bool TImageButton::HitTest(int x, int y) const
{
    return hitRegion_ && hitRegion_->contains(QPoint(x, y));
}

bool TImageButton::RespondsAt(int x, int y) const
{
    return state_ != bsDisable && quorrEnabled_ && HitTest(x, y);
}

TSkinForm* TImageButton::OwnerSkin() const
{
    QWidget* form = parentWidget();
    return form != nullptr ? form->findChild<TSkinForm*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

void TImageButton::MouseLeave()
{
    if (state_ == bsDisable)
        return;
    state_ = bsEnable;
    SelfDraw();
}

void TImageButton::HandOnMoveToForm(Qt::MouseButtons held, Qt::KeyboardModifiers shift, int x, int y)
{
    if (TSkinForm* skin = OwnerSkin())
        skin->MouseMove(this, held, shift, x, y);
}

void TImageButton::MouseMove(Qt::MouseButtons held, Qt::KeyboardModifiers shift, int x, int y)
{
    HandOnMoveToForm(held, shift, x, y);
    if (state_ == bsDisable || !quorrEnabled_)
        return;
    if (HitTest(x, y)) {
        if (state_ == bsEnable) {
            state_ = bsMouseOver;
            SelfDraw();
        }
        emit OnMouseMove(shift, x, y);
    } else {
        MouseLeave();
    }
}

void TImageButton::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (!RespondsAt(x, y))
        return;
    if (button == Qt::LeftButton) {
        state_ = bsMouseDown;
        SelfDraw();
    }
    emit OnMouseDown(button, shift, x, y);
}

void TImageButton::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (!RespondsAt(x, y))
        return;
    if (button == Qt::LeftButton) {
        if (state_ == bsMouseDown)
            state_ = bsMouseOver;
        SelfDraw();
    }
    emit OnMouseUp(button, shift, x, y);
}

bool TImageButton::event(QEvent* event)
{
    if (event->type() == QEvent::Leave)
        MouseLeave();
    return QWidget::event(event);
}

void TImageButton::paintEvent(QPaintEvent*)
{
    if (picture_.isNull())
        return;
    const int frameWidth = width();
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), picture_, QRect(state_ * frameWidth, 0, frameWidth, height()));
}

void TImageButton::showEvent(QShowEvent* event)
{
    // The first showing is the first draw: the region is made then at the latest.
    if (!hitRegion_ && !regionTried_)
        MakeRegion();
    QWidget::showEvent(event);
}

void TImageButton::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = pixelAt(event->position());
    if (event->button() == Qt::LeftButton)
        clickArmed_ = true;
    MouseDown(event->button(), event->modifiers(), at.x(), at.y());
    event->accept();
}

void TImageButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click raises OnDblClick instead of arming a click.
    const QPoint at = pixelAt(event->position());
    if (event->button() == Qt::LeftButton)
        emit OnDblClick();
    MouseDown(event->button(), event->modifiers(), at.x(), at.y());
    event->accept();
}

void TImageButton::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = pixelAt(event->position());
    MouseMove(event->buttons(), event->modifiers(), at.x(), at.y());
    event->accept();
}

void TImageButton::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = pixelAt(event->position());
    if (event->button() == Qt::LeftButton && clickArmed_) {
        clickArmed_ = false;
        if (rect().contains(at))
            emit OnClick();
    }
    MouseUp(event->button(), event->modifiers(), at.x(), at.y());
    event->accept();
}
