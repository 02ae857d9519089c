#pragma once
// TCheckImageButton: an image button with a fifth, latched look (bsChecked). A complete
// left click that starts from the hover look latches it; the next one releases it. Used
// for toggles and for the small indicator lamps.

#include "skin/Imagebutton.h"

class TCheckImageButton : public TImageButton {
    Q_OBJECT
public:
    explicit TCheckImageButton(QWidget* form);

    bool Checked() const { return State() == bsChecked; }
    // True latches the button; false leaves the state as it is.
    void SetChecked(bool value);

    void MouseLeave() override;

protected:
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;

private:
    tag_ButtonState stateBeforePress_ = bsEnable;
};
