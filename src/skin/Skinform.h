#pragma once
// TSkinForm: gives its owner form a skin. While active the form is cut to the shape of a
// region string and its background picture is painted inside that shape (the form's image
// buttons and displays then paint themselves on top); a form with a translucent background
// is clear outside it, so the shape shows where the window system keeps masks for input
// only. Whether active or not, the form can be dragged by its background with the left
// button: the window system moves it where it can (so that dragging works on every
// desktop), the form follows the pointer itself where it cannot. Every mouse move over the
// form or one of its image buttons returns the other image buttons to rest.

#include "skin/RegionString.h"

#include <QImage>
#include <QObject>
#include <QPoint>

#include <optional>

class QPainter;
class QWidget;

class TSkinForm : public QObject {
    Q_OBJECT
public:
    // Takes over the owner's paint, mouse-move and mouse-down handling.
    explicit TSkinForm(QWidget* owner);

    bool Active() const { return active_; }
    const QImage& Image() const { return image_; }
    tag_RegionType RegionType() const { return regionType_; }
    const QString& Region() const { return region_; }

    // True: makes the region once and sets it as the owner's window mask. False: removes
    // the mask. Setting the value it already has does nothing.
    void SetActive(bool value);
    // Copies the background picture and repaints the owner. A null picture is ignored.
    void SetImage(const QImage* picture);
    void SetRegionType(tag_RegionType type) { regionType_ = type; }
    void SetRegion(const QString& region) { region_ = region; }

    // Draws the background picture at the top-left corner; nothing without a painter.
    void Draw(QPainter* canvas) const;

    // Left button on the background: the drag starts from (x, y), handed to the window
    // system when it can move the window.
    void MouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // A move over the form (sender = the owner) or over one of its image buttons (sender =
    // the button): drags the form when it comes from the form with the left button held,
    // and returns every image button other than the sender to rest.
    void MouseMove(QObject* sender, Qt::MouseButtons held, Qt::KeyboardModifiers shift, int x, int y);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::optional<QRegion> MakeRegion() const;
    void ResetImageButtons(QObject* except) const;

    QWidget* const owner_;
    bool active_ = false;
    QImage image_;
    tag_RegionType regionType_ = rtRectangle;
    QString region_;
    std::optional<QRegion> shape_;
    QPoint dragOrigin_{0, 0};
    bool systemMove_ = false;
};
