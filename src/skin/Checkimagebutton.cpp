#include "skin/Checkimagebutton.h"

namespace {
constexpr int kCheckButtonFrames = 5;
}

TCheckImageButton::TCheckImageButton(QWidget* form) : TImageButton(form, kCheckButtonFrames) {}

void TCheckImageButton::SetChecked(bool value)
{
    if (value)
        StoreState(bsChecked);
    SelfDraw();
}

void TCheckImageButton::MouseLeave()
{
    if (State() == bsDisable || !QuorrEnabled())
        return;
    if (State() != bsChecked)
        StoreState(bsEnable);
    SelfDraw();
}

void TCheckImageButton::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (!RespondsAt(x, y))
        return;
    if (button == Qt::LeftButton) {
        stateBeforePress_ = State();
        StoreState(bsMouseDown);
        SelfDraw();
    }
    emit OnMouseDown(button, shift, x, y);
}

void TCheckImageButton::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (!RespondsAt(x, y))
        return;
    if (button == Qt::LeftButton) {
        if (State() == bsMouseDown) {
            if (stateBeforePress_ == bsMouseOver)
                StoreState(bsChecked);
            else if (stateBeforePress_ == bsChecked)
                StoreState(bsEnable);
        }
        SelfDraw();
    }
    emit OnMouseUp(button, shift, x, y);
}
