#pragma once
// The level meter beside the voice diagram (ind_Level): a narrow picture on which each
// analysed frame of a take paints. A voiced frame paints aqua dots from the bottom up to
// its level, over what is there; an unvoiced frame (or "clear") paints the whole meter black.

#include <QImage>
#include <QWidget>

#include "app/ControllerSeam.h"

class LevelMeter : public QWidget {
public:
    explicit LevelMeter(QWidget* parent);

    // The skin's picture of the meter; it also gives the meter's size.
    void SetPicture(const QImage& picture);
    // Paints the frame's level (scaled by `levelScale`), or black for a null frame.
    void showLevel(const VoicedFrame* frame, float levelScale);
    const QImage& Canvas() const { return canvas_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage canvas_;
};
