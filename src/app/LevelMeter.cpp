#include "app/LevelMeter.h"

#include <QPainter>

namespace {
constexpr int kPenWidth = 8;
}

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LevelMeter::SetPicture(const QImage& picture)
{
    canvas_ = picture.convertToFormat(QImage::Format_RGB32);
    resize(canvas_.size());
    update();
}

void LevelMeter::showLevel(const VoicedFrame* frame, float levelScale)
{
    if (canvas_.isNull())
        return;
    const int bottom = canvas_.height() - 1;
    QPainter painter(&canvas_);
    int top = 1;
    if (frame != nullptr) {
        painter.setPen(QPen(QColor(0, 255, 255), kPenWidth, Qt::DotLine));
        top = static_cast<int>(static_cast<float>(bottom) - static_cast<float>(frame->level) * levelScale);
    } else {
        painter.setPen(QPen(Qt::black, kPenWidth, Qt::SolidLine));
    }
    painter.drawLine(1, bottom, 1, top);
    update();
}

void LevelMeter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), canvas_);
}
