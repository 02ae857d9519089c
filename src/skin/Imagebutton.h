#pragma once
// TImageButton: a push button drawn from a picture strip that holds one frame per look
// (at rest, hover, pressed, disabled). It reacts to the mouse only inside a hit-test
// region described by a region string, and only while QuorrEnabled is set; a left click
// anywhere in its rectangle still raises OnClick, so click handlers test QuorrEnabled.
// It must sit directly on its form: it hands its mouse moves to the form's skin
// (TSkinForm), which resets the other buttons of the form.

#include "skin/RegionString.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <optional>

class TSkinForm;

enum tag_ButtonState : uint8_t {
    bsEnable = 0,
    bsMouseOver = 1,
    bsMouseDown = 2,
    bsDisable = 3,
    bsChecked = 4,
};

class TImageButton : public QWidget {
    Q_OBJECT
public:
    explicit TImageButton(QWidget* form);

    const QImage& Picture() const { return picture_; }
    tag_RegionType RegionType() const { return regionType_; }
    const QString& Region() const { return region_; }
    tag_ButtonState State() const { return state_; }
    bool QuorrEnabled() const { return quorrEnabled_; }

    // Copies the strip and sizes the control to one frame of it (4 frames here, 5 for a
    // TCheckImageButton), then redraws. A null picture is ignored.
    virtual void SetPicture(const QImage* picture);
    // Setting the region text or shape drops the region made so far; the next draw
    // makes it again.
    void SetRegionType(tag_RegionType type);
    void SetRegion(const QString& region);
    virtual void SetState(tag_ButtonState state);
    // Sets QuorrEnabled only: the widget stays enabled so that it still gets the mouse.
    void SetEnabled(bool value);

    // Makes the region if none has been tried for the current region text, then shows
    // the frame of the current state.
    virtual void SelfDraw();
    virtual void MouseLeave();
    // Parses Region and builds the hit-test region; failures are shown to the user.
    virtual void MakeRegion();

    // Whether (x, y), in the control's coordinates, lies in the hit-test region.
    bool HitTest(int x, int y) const;
    bool HasRegion() const { return hitRegion_.has_value(); }

    // The skin of the form this button sits on, if it has one.
    TSkinForm* OwnerSkin() const;

signals:
    // Raised by a left press and release in the control's rectangle, before OnMouseUp,
    // whatever the region, state or QuorrEnabled.
    void OnClick();
    void OnDblClick();
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

protected:
    TImageButton(QWidget* form, int frameCount);

    virtual void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseMove(Qt::MouseButtons held, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

    // The mouse is ignored while disabled, while QuorrEnabled is off and outside the region.
    bool RespondsAt(int x, int y) const;
    void StoreState(tag_ButtonState state) { state_ = state; }

    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void HandOnMoveToForm(Qt::MouseButtons held, Qt::KeyboardModifiers shift, int x, int y);

    const int frameCount_;
    QImage picture_;
    tag_RegionType regionType_ = rtRectangle;
    QString region_;
    tag_ButtonState state_ = bsEnable;
    bool quorrEnabled_ = false;
    std::optional<QRegion> hitRegion_;
    bool regionTried_ = false;
    bool clickArmed_ = false;
};
