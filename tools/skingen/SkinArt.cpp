#include "SkinArt.h"

#include "skin/MainSkinLayout.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace {

// The frames of a strip, in the order of the button states.
enum class Look { Rest, Hover, Pressed, Disabled, Checked };
constexpr Look kLooks[] = {Look::Rest, Look::Hover, Look::Pressed, Look::Disabled, Look::Checked};

const QColor kOutside(128, 128, 128);   // the form colour, cut away by the window region
const QColor kAqua(96, 226, 255);       // hover and information colour
const QColor kLabel(230, 234, 239);     // labels at rest
const QColor kLabelDisabled(122, 129, 137);
const QColor kRecordRed(255, 96, 78);
const QColor kPlayGreen(88, 240, 138);
const QColor kLampGreen(70, 255, 128);
const QColor kLampAmber(255, 184, 52);
const QColor kMarker(255, 204, 64);
const QColor kFooter(0x45, 0x45, 0x45);  // the editor footer behind its icons

const QRectF kGlass(33.5, 51.5, 481, 137);

// A small deterministic generator, so that every run draws the same texture.
class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed) {}
    // Uniform in [-1, 1].
    double next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / static_cast<double>(1u << 23) - 1.0;
    }

private:
    uint32_t state_;
};

QFont labelFont(double pixelSize, bool bold = true, double spacing = 0.4)
{
    QFont font("DejaVu Sans");
    font.setPixelSize(static_cast<int>(pixelSize));
    font.setBold(bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QColor withAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

// Horizontal brushed streaks: each row gets its own slowly varying brightness.
void brushMetal(QImage& image, const QRect& area, double strength, uint32_t seed)
{
    Noise noise(seed);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const double rowLevel = noise.next() * strength * 0.6;
        const double phase = noise.next() * 6.0;
        const double wave = 0.012 + 0.01 * std::abs(noise.next());
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const double delta = rowLevel + strength * 0.5 * std::sin(phase + x * wave) + noise.next() * strength * 0.35;
            const QRgb pixel = line[x];
            const auto shift = [delta](int channel) { return std::clamp(static_cast<int>(std::lround(channel + delta)), 0, 255); };
            line[x] = qRgba(shift(qRed(pixel)), shift(qGreen(pixel)), shift(qBlue(pixel)), qAlpha(pixel));
        }
    }
}

QPainterPath roundedPath(const QRectF& rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// A recess: its upper-left walls lie in shadow, its lower-right rim catches the light.
void drawRecess(QPainter& p, const QRectF& rect, double radius, const QColor& fillTop, const QColor& fillBottom)
{
    p.setPen(QPen(QColor(255, 255, 255, 38), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(roundedPath(rect.translated(0.8, 0.8), radius));
    QLinearGradient fill(rect.topLeft(), rect.bottomLeft());
    fill.setColorAt(0, fillTop);
    fill.setColorAt(1, fillBottom);
    p.setPen(QPen(QColor(4, 5, 6), 1.0));
    p.setBrush(fill);
    p.drawPath(roundedPath(rect, radius));
}

// An engraved line: a dark cut with a lit edge below it.
void drawGroove(QPainter& p, QPointF from, QPointF to)
{
    p.setPen(QPen(QColor(8, 9, 11, 200), 1.0));
    p.drawLine(from, to);
    p.setPen(QPen(QColor(255, 255, 255, 30), 1.0));
    p.drawLine(from + QPointF(0, 1), to + QPointF(0, 1));
}

// Engraved caption between two grooves: "—— TEXT ——".
void drawCaption(QPainter& p, const QString& text, double centreX, double y, double halfWidth)
{
    const QFont font = labelFont(8, true, 1.2);
    const double textWidth = QFontMetricsF(font).horizontalAdvance(text);
    const QRectF box(centreX - textWidth / 2 - 1, y - 5, textWidth + 2, 10);
    p.setFont(font);
    p.setPen(QColor(0, 0, 0, 170));
    p.drawText(box.translated(0, 1), Qt::AlignCenter, text);
    p.setPen(QColor(150, 160, 171));
    p.drawText(box, Qt::AlignCenter, text);
    drawGroove(p, QPointF(centreX - halfWidth, y + 0.5), QPointF(box.left() - 4, y + 0.5));
    drawGroove(p, QPointF(box.right() + 4, y + 0.5), QPointF(centreX + halfWidth, y + 0.5));
}

void drawScrew(QPainter& p, QPointF centre)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawEllipse(centre + QPointF(0.6, 0.6), 5.0, 5.0);
    p.setBrush(QColor(6, 7, 8));
    p.drawEllipse(centre, 5.0, 5.0);
    QRadialGradient head(centre - QPointF(1.5, 1.5), 6.0);
    head.setColorAt(0, QColor(170, 176, 184));
    head.setColorAt(1, QColor(62, 66, 72));
    p.setBrush(head);
    p.drawEllipse(centre, 4.0, 4.0);
    p.setPen(QPen(QColor(20, 22, 25), 1.3));
    p.drawLine(centre + QPointF(-2.8, 2.0), centre + QPointF(2.8, -2.0));
    p.setPen(QPen(QColor(255, 255, 255, 60), 0.8));
    p.drawLine(centre + QPointF(-2.4, 2.9), centre + QPointF(3.2, -1.0));
}

void drawBrand(QPainter& p)
{
    const QFont brand = labelFont(21, true, 3.0);
    const QRectF box(66, 12, 200, 30);
    p.setFont(brand);
    p.setPen(QColor(0, 0, 0, 190));
    p.drawText(box.translated(1, 1.5), Qt::AlignLeft | Qt::AlignVCenter, "LIRROSA");
    QLinearGradient silver(0, 16, 0, 38);
    silver.setColorAt(0.0, QColor(250, 251, 253));
    silver.setColorAt(0.45, QColor(196, 203, 211));
    silver.setColorAt(0.55, QColor(150, 158, 168));
    silver.setColorAt(1.0, QColor(206, 212, 219));
    p.setPen(QPen(QBrush(silver), 1));
    p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, "LIRROSA");
    const double brandWidth = QFontMetricsF(brand).horizontalAdvance("LIRROSA");

    const QFont tagline = labelFont(8, true, 1.6);
    const QRectF taglineBox(66 + brandWidth + 10, 23, 160, 12);
    p.setFont(tagline);
    p.setPen(QColor(0, 0, 0, 160));
    p.drawText(taglineBox.translated(0, 1), Qt::AlignLeft | Qt::AlignVCenter, "VOICE  TO  MIDI");
    p.setPen(withAlpha(kAqua, 210));
    p.drawText(taglineBox, Qt::AlignLeft | Qt::AlignVCenter, "VOICE  TO  MIDI");
}

// The face without its buttons: body, rim, display glass, grooves and captions.
QImage drawFaceBase()
{
    QImage face(kMainFaceWidth, kMainFaceHeight, QImage::Format_ARGB32_Premultiplied);
    face.fill(kOutside);
    const QPainterPath body = roundedPath(QRectF(0, 0, kMainFaceWidth, kMainFaceHeight - 1), 42.5);
    {
        QPainter p(&face);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient metal(0, 0, 0, kMainFaceHeight);
        metal.setColorAt(0.0, QColor(60, 65, 72));
        metal.setColorAt(0.18, QColor(46, 50, 56));
        metal.setColorAt(0.65, QColor(34, 37, 41));
        metal.setColorAt(1.0, QColor(24, 26, 29));
        p.fillPath(body, metal);
    }
    brushMetal(face, face.rect(), 5.0, 7);

    QPainter p(&face);
    p.setRenderHint(QPainter::Antialiasing);
    // Rim: lit along the upper left, in shade along the lower right.
    QLinearGradient rim(0, 0, kMainFaceWidth, kMainFaceHeight);
    rim.setColorAt(0.0, QColor(255, 255, 255, 120));
    rim.setColorAt(0.5, QColor(255, 255, 255, 20));
    rim.setColorAt(1.0, QColor(0, 0, 0, 150));
    p.setPen(QPen(QBrush(rim), 2.0));
    p.drawPath(roundedPath(QRectF(1.5, 1.5, kMainFaceWidth - 3, kMainFaceHeight - 4), 41.0));
    p.setPen(QPen(QColor(8, 9, 10), 1.0));
    p.drawPath(roundedPath(QRectF(0.5, 0.5, kMainFaceWidth - 1, kMainFaceHeight - 2), 42.0));

    // A polished band along the top, brighter toward the light.
    QLinearGradient sheen(0, 2, 0, 48);
    sheen.setColorAt(0.0, QColor(255, 255, 255, 34));
    sheen.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.save();
    p.setClipPath(body);
    p.fillRect(QRectF(0, 0, kMainFaceWidth, 48), sheen);
    p.restore();

    drawBrand(p);

    // Seats of the window buttons.
    for (const QPointF centre : {QPointF(501.5, 25.5), QPointF(519.5, 40.5)}) {
        p.setPen(QPen(QColor(255, 255, 255, 45), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(centre + QPointF(0.7, 0.7), 9.5, 9.5);
        p.setPen(QPen(QColor(6, 7, 8), 1.0));
        p.setBrush(QColor(18, 20, 23));
        p.drawEllipse(centre, 9.5, 9.5);
    }

    // Display glass: a deep, dark recess with a faint cyan cast.
    drawRecess(p, kGlass, 7.0, QColor(7, 14, 17), QColor(4, 9, 11));
    p.save();
    p.setClipPath(roundedPath(kGlass, 7.0));
    QLinearGradient innerShadow(0, kGlass.top(), 0, kGlass.top() + 6);
    innerShadow.setColorAt(0, QColor(0, 0, 0, 150));
    innerShadow.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(kGlass, innerShadow);
    p.restore();
    // The display window itself and the level meter slot.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(1, 2, 3));
    p.setBrush(QColor(3, 8, 10));
    p.drawRect(QRect(kDisplayLeft - 1, kDisplayTop - 1, kDisplayWidth + 1, kDisplayHeight + 1));
    p.setPen(QColor(40, 70, 80, 120));
    p.drawLine(kDisplayLeft - 1, kDisplayTop + kDisplayHeight + 1, kDisplayLeft + kDisplayWidth, kDisplayTop + kDisplayHeight + 1);
    p.setPen(QColor(1, 2, 3));
    p.setBrush(QColor(2, 3, 4));
    p.drawRect(QRect(43, 79, 5, 82));
    // Level scale beside the meter.
    p.setPen(QColor(60, 120, 140, 150));
    for (int i = 0; i <= 8; ++i) {
        const int y = 160 - i * 10;
        p.drawLine(50, y, i % 4 == 0 ? 53 : 51, y);
    }
    p.setRenderHint(QPainter::Antialiasing);

    // The control deck below the glass.
    drawGroove(p, QPointF(40, 194.5), QPointF(508, 194.5));
    drawCaption(p, "SOURCE", 74, 268, 34);
    drawCaption(p, "ECHO", 199, 268, 34);
    drawScrew(p, QPointF(17, 145));
    drawScrew(p, QPointF(531, 145));
    return face;
}

// A raised key, lit from the upper left; pressed and checked keys sink into the face.
void drawKey(QPainter& p, const QRectF& face, double radius, Look look, const QColor& accent)
{
    p.setRenderHint(QPainter::Antialiasing);
    const bool sunk = look == Look::Pressed || look == Look::Checked;
    if (look == Look::Rest || look == Look::Hover) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 60));
        p.drawPath(roundedPath(face.translated(2.2, 2.4), radius));
        p.setBrush(QColor(0, 0, 0, 120));
        p.drawPath(roundedPath(face.translated(1.0, 1.2), radius));
    } else {
        p.setPen(QPen(QColor(255, 255, 255, 28), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawPath(roundedPath(face.translated(0.7, 0.7), radius));
    }

    QLinearGradient body(face.topLeft(), face.bottomLeft());
    switch (look) {
    case Look::Rest:
        body.setColorAt(0.0, QColor(104, 111, 120));
        body.setColorAt(0.5, QColor(64, 69, 76));
        body.setColorAt(1.0, QColor(44, 47, 52));
        break;
    case Look::Hover:
        body.setColorAt(0.0, QColor(122, 131, 141));
        body.setColorAt(0.5, QColor(76, 83, 91));
        body.setColorAt(1.0, QColor(52, 57, 63));
        break;
    case Look::Pressed:
        body.setColorAt(0.0, QColor(28, 31, 35));
        body.setColorAt(1.0, QColor(56, 61, 67));
        break;
    case Look::Disabled:
        body.setColorAt(0.0, QColor(46, 49, 53));
        body.setColorAt(1.0, QColor(40, 42, 46));
        break;
    case Look::Checked:
        body.setColorAt(0.0, QColor(26, 29, 32));
        body.setColorAt(1.0, QColor(48, 52, 57));
        break;
    }
    p.setPen(QPen(look == Look::Disabled ? QColor(22, 24, 26) : QColor(10, 11, 13), 1.0));
    p.setBrush(body);
    p.drawPath(roundedPath(face, radius));

    const QRectF inner = face.adjusted(1.0, 1.0, -1.0, -1.0);
    if (!sunk && look != Look::Disabled) {
        // Bevel: a lit top edge and a darker lower edge.
        p.setPen(QPen(QColor(255, 255, 255, look == Look::Hover ? 120 : 95), 1.0));
        p.drawLine(QPointF(inner.left() + radius - 0.5, inner.top() + 0.5), QPointF(inner.right() - radius + 0.5, inner.top() + 0.5));
        p.setPen(QPen(QColor(0, 0, 0, 70), 1.0));
        p.drawLine(QPointF(inner.left() + radius - 0.5, inner.bottom() - 0.5), QPointF(inner.right() - radius + 0.5, inner.bottom() - 0.5));
    }
    if (sunk) {
        QLinearGradient shade(inner.topLeft(), inner.topLeft() + QPointF(0, 4));
        shade.setColorAt(0, QColor(0, 0, 0, 130));
        shade.setColorAt(1, QColor(0, 0, 0, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(shade);
        p.drawPath(roundedPath(inner, std::max(0.0, radius - 1)));
    }
    if (look == Look::Hover) {
        p.setPen(QPen(withAlpha(kAqua, 130), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawPath(roundedPath(face, radius));
    }
    if (look == Look::Checked && accent.isValid()) {
        // The latched key shows a lit bar along its lower edge.
        const QRectF bar(inner.left() + radius, inner.bottom() - 2.2, inner.width() - 2 * radius, 1.6);
        p.setPen(Qt::NoPen);
        p.setBrush(withAlpha(accent, 70));
        p.drawRoundedRect(bar.adjusted(-1.5, -1.0, 1.5, 1.0), 1.5, 1.5);
        p.setBrush(accent);
        p.drawRoundedRect(bar, 0.8, 0.8);
    }
}

QColor labelColour(Look look, const QColor& accent)
{
    switch (look) {
    case Look::Rest:
        return kLabel;
    case Look::Hover:
        return QColor(178, 244, 255);
    case Look::Pressed:
        return kAqua;
    case Look::Disabled:
        return kLabelDisabled;
    case Look::Checked:
        return accent.isValid() ? accent : kLampGreen;
    }
    return kLabel;
}

void drawKeyLabel(QPainter& p, const QRectF& face, const QString& text, double pixelSize, Look look, const QColor& accent)
{
    const bool sunk = look == Look::Pressed || look == Look::Checked;
    const QRectF box = face.translated(sunk ? 0.5 : 0.0, sunk ? 0.5 : -0.5);
    const QColor colour = labelColour(look, accent);
    p.setFont(labelFont(pixelSize));
    if (look == Look::Hover || look == Look::Checked || look == Look::Pressed) {
        p.setPen(withAlpha(colour, 60));
        for (const QPointF offset : {QPointF(-0.8, 0), QPointF(0.8, 0), QPointF(0, -0.8), QPointF(0, 0.8)})
            p.drawText(box.translated(offset), Qt::AlignCenter, text);
    }
    p.setPen(look == Look::Disabled ? QColor(0, 0, 0, 120) : QColor(0, 0, 0, 200));
    p.drawText(box.translated(0.6, 1.0), Qt::AlignCenter, text);
    p.setPen(colour);
    p.drawText(box, Qt::AlignCenter, text);
}

using FramePainter = std::function<void(QPainter&, Look)>;

// A strip of frames side by side, each frame starting from the face under the control.
QImage drawStrip(const QImage& face, const SkinControl& control, const FramePainter& paintFrame)
{
    const int frames = control.kind == SkinControlKind::CheckButton ? 5 : 4;
    QImage strip(control.width * frames, control.height, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&strip);
    for (int i = 0; i < frames; ++i) {
        p.save();
        p.translate(i * control.width, 0);
        p.setClipRect(0, 0, control.width, control.height);
        p.drawImage(0, 0, face.copy(control.left, control.top, control.width, control.height));
        paintFrame(p, kLooks[i]);
        p.restore();
    }
    return strip;
}

struct KeyStyle {
    QString label;
    QRectF face;
    double radius;
    double fontSize;
    QColor accent;
};

FramePainter keyPainter(const KeyStyle& style)
{
    return [style](QPainter& p, Look look) {
        drawKey(p, style.face, style.radius, look, style.accent);
        drawKeyLabel(p, style.face, style.label, style.fontSize, look, style.accent);
    };
}

// The round window buttons: minimise (a bar) and close (a cross).
FramePainter windowButtonPainter(bool close)
{
    return [close](QPainter& p, Look look) {
        const QRectF face(0.5, 0.5, 13, 13);
        drawKey(p, face, 6.5, look, QColor());
        QColor glyph = labelColour(look, QColor());
        if (look == Look::Hover)
            glyph = close ? QColor(255, 120, 100) : QColor(178, 244, 255);
        const double shift = look == Look::Pressed ? 0.5 : 0.0;
        const QPointF c(7.0 + shift, 7.0 + shift);
        p.setPen(QPen(QColor(0, 0, 0, 160), 1.8, Qt::SolidLine, Qt::RoundCap));
        for (int pass = 0; pass < 2; ++pass) {
            const QPointF o = pass == 0 ? QPointF(0.5, 0.7) : QPointF(0, 0);
            if (close) {
                p.drawLine(c + o + QPointF(-2.6, -2.6), c + o + QPointF(2.6, 2.6));
                p.drawLine(c + o + QPointF(-2.6, 2.6), c + o + QPointF(2.6, -2.6));
            } else {
                p.drawLine(c + o + QPointF(-3.0, 0.5), c + o + QPointF(3.0, 0.5));
            }
            p.setPen(QPen(glyph, 1.6, Qt::SolidLine, Qt::RoundCap));
        }
    };
}

// The about key: a tall capsule holding a round lens with an "i".
void drawAboutFrame(QPainter& p, Look look)
{
    const QRectF face(0.5, 0.5, 28, 44);
    drawKey(p, face, 9.0, look, QColor());
    const double shift = (look == Look::Pressed) ? 0.5 : 0.0;
    const QPointF centre(14.5 + shift, 16.5 + shift);
    p.setPen(QPen(QColor(8, 9, 11), 1.0));
    QRadialGradient lens(centre - QPointF(3, 4), 13);
    const bool dim = look == Look::Disabled;
    lens.setColorAt(0.0, dim ? QColor(40, 52, 58) : QColor(40, 110, 140));
    lens.setColorAt(0.7, dim ? QColor(20, 26, 30) : QColor(8, 36, 50));
    lens.setColorAt(1.0, QColor(4, 10, 14));
    p.setBrush(lens);
    p.drawEllipse(centre, 9.0, 9.0);
    QColor glyph = look == Look::Disabled ? kLabelDisabled : (look == Look::Rest ? kLabel : QColor(178, 244, 255));
    p.setPen(Qt::NoPen);
    p.setBrush(glyph);
    p.drawEllipse(centre + QPointF(0, -4.6), 1.4, 1.4);
    p.drawRoundedRect(QRectF(centre.x() - 1.3, centre.y() - 2.0, 2.6, 7.2), 0.8, 0.8);
    if (!dim) {
        // A glint on the lens, toward the light.
        p.setBrush(QColor(255, 255, 255, 70));
        p.drawEllipse(centre + QPointF(-3.6, -4.0), 2.6, 1.6);
    }
    const QFont small = labelFont(7, true, 0.3);
    p.setFont(small);
    const QRectF text(0.5 + shift, 29 + shift, 28, 12);
    p.setPen(QColor(0, 0, 0, 200));
    p.drawText(text.translated(0.5, 1), Qt::AlignCenter, "INFO");
    p.setPen(labelColour(look, kAqua));
    p.drawText(text, Qt::AlignCenter, "INFO");
}

// A lamp: 0 lit green, 1 dark, 2 lit and pressed in, 3 dark and dimmed, 4 lit amber.
void drawLampFrame(QPainter& p, Look look)
{
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(5.0, 5.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawEllipse(centre + QPointF(0.5, 0.5), 4.6, 4.6);
    p.setBrush(QColor(5, 6, 7));
    p.drawEllipse(centre, 4.6, 4.6);
    const bool lit = look == Look::Rest || look == Look::Pressed || look == Look::Checked;
    QColor core = look == Look::Checked ? kLampAmber : kLampGreen;
    if (look == Look::Pressed)
        core = core.darker(140);
    QRadialGradient lens(centre - QPointF(1.0, 1.0), 4.2);
    if (lit) {
        lens.setColorAt(0.0, QColor(250, 255, 240));
        lens.setColorAt(0.35, core);
        lens.setColorAt(1.0, core.darker(220));
    } else if (look == Look::Hover) {
        lens.setColorAt(0.0, QColor(70, 110, 86));
        lens.setColorAt(1.0, QColor(18, 44, 28));
    } else if (look == Look::Disabled) {
        lens.setColorAt(0.0, QColor(44, 50, 47));
        lens.setColorAt(1.0, QColor(16, 19, 18));
    } else {
        lens.setColorAt(0.0, QColor(48, 90, 64));
        lens.setColorAt(1.0, QColor(12, 34, 21));
    }
    p.setBrush(lens);
    p.drawEllipse(centre, 3.5, 3.5);
    p.setBrush(QColor(255, 255, 255, lit ? 150 : (look == Look::Disabled ? 35 : 70)));
    p.drawEllipse(centre + QPointF(-1.3, -1.4), 1.1, 0.8);
}

// The small round keys beside the display: a note (play notes) or a wave (play raw notes).
FramePainter playChoicePainter(bool notes)
{
    return [notes](QPainter& p, Look look) {
        const QRectF face(0.5, 0.5, 10, 10);
        drawKey(p, face, 5.0, look == Look::Checked ? Look::Pressed : look, QColor());
        QColor glyph = labelColour(look, kPlayGreen);
        if (look == Look::Checked) {
            p.setPen(QPen(withAlpha(kPlayGreen, 200), 1.0));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(face);
        }
        const double s = (look == Look::Pressed || look == Look::Checked) ? 0.4 : 0.0;
        p.setPen(Qt::NoPen);
        p.setBrush(glyph);
        if (notes) {
            p.drawEllipse(QPointF(4.6 + s, 7.2 + s), 1.7, 1.3);
            p.drawRect(QRectF(5.8 + s, 2.4 + s, 0.9, 4.8));
            p.drawRect(QRectF(5.8 + s, 2.4 + s, 2.0, 0.9));
        } else {
            QPainterPath wave;
            wave.moveTo(2.2 + s, 5.5 + s);
            wave.cubicTo(3.4 + s, 1.8 + s, 4.6 + s, 1.8 + s, 5.5 + s, 5.5 + s);
            wave.cubicTo(6.4 + s, 9.2 + s, 7.6 + s, 9.2 + s, 8.8 + s, 5.5 + s);
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(glyph, 1.3, Qt::SolidLine, Qt::RoundCap));
            p.drawPath(wave);
        }
    };
}

const std::map<std::string, KeyStyle>& keyStyles()
{
    static const std::map<std::string, KeyStyle> styles = {
        {"ibtn_Convert", {"CONVERT", QRectF(0.5, 0.5, 63, 18), 4.0, 9, kRecordRed}},
        {"ibtn_Stop", {"STOP", QRectF(0.5, 0.5, 55, 18), 4.0, 9, QColor()}},
        {"ibtn_Play", {"PLAY", QRectF(0.5, 0.5, 63, 18), 4.0, 9, kPlayGreen}},
        {"ibtn_In", {"IN", QRectF(0.5, 0.5, 31, 13), 3.0, 8, QColor()}},
        {"ibtn_Out", {"OUT", QRectF(0.5, 0.5, 31, 13), 3.0, 8, QColor()}},
        {"ibtn_SaveAs", {"SAVE AS", QRectF(0.5, 0.5, 63, 18), 4.0, 9, QColor()}},
        {"ibtn_Export", {"EXPORT", QRectF(0.5, 0.5, 63, 18), 4.0, 9, QColor()}},
        {"ibtn_Help", {"HELP", QRectF(0.5, 0.5, 63, 18), 4.0, 9, QColor()}},
        {"ibtn_Finish", {"FINISH", QRectF(0.5, 0.5, 63, 18), 4.0, 9, QColor()}},
        {"ibtn_Edit", {"EDIT", QRectF(0.5, 0.5, 63, 18), 4.0, 9, QColor()}},
        {"ibtn_Setting", {"SETTINGS", QRectF(0.5, 0.5, 63, 18), 4.0, 9, QColor()}},
        {"ibtn_MIDI", {"MIDI", QRectF(0.5, 0.5, 31, 13), 3.0, 8, QColor()}},
        {"ibtn_WAVE", {"WAVE", QRectF(0.5, 0.5, 31, 13), 3.0, 8, QColor()}},
        {"ibtn_Mic", {"MIC", QRectF(0.5, 0.5, 31, 13), 3.0, 8, QColor()}},
        {"ibtn_File", {"FILE", QRectF(0.5, 0.5, 31, 13), 3.0, 8, QColor()}},
    };
    return styles;
}

FramePainter painterFor(const SkinControl& control)
{
    const std::string name = control.name;
    if (name == "ibtn_Minimize")
        return windowButtonPainter(false);
    if (name == "ibtn_Close")
        return windowButtonPainter(true);
    if (name == "ibtn_About")
        return drawAboutFrame;
    if (name.rfind("ind_", 0) == 0)
        return drawLampFrame;
    if (name == "ibtn_PlayNT")
        return playChoicePainter(true);
    if (name == "ibtn_PlayPB")
        return playChoicePainter(false);
    return keyPainter(keyStyles().at(name));
}

QImage drawPlayMarker(const QImage& face, const SkinControl& control)
{
    QImage marker = face.copy(control.left, control.top, control.width, control.height);
    QPainter p(&marker);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kMarker);
    p.drawPolygon(QPolygonF({QPointF(0, 0), QPointF(4, 0), QPointF(2, 6)}));
    return marker;
}

QImage drawLevelMeter(const SkinControl& control)
{
    QImage meter(control.width, control.height, QImage::Format_ARGB32_Premultiplied);
    meter.fill(QColor(2, 3, 4));
    QPainter p(&meter);
    p.setPen(QColor(10, 22, 27));
    for (int y = control.height - 1; y >= 0; y -= 3)
        p.drawLine(0, y, control.width - 1, y);
    return meter;
}

// The editor's header plate: brushed silver that varies only from top to bottom, since
// the editor stretches it to its width.
QImage drawSilverPlate(const SkinControl& control)
{
    QImage plate(control.width, control.height, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&plate);
    QLinearGradient silver(0, 0, 0, control.height);
    silver.setColorAt(0.0, QColor(244, 246, 248));
    silver.setColorAt(0.1, QColor(214, 219, 225));
    silver.setColorAt(0.55, QColor(178, 185, 193));
    silver.setColorAt(0.9, QColor(142, 149, 158));
    silver.setColorAt(1.0, QColor(92, 98, 106));
    p.fillRect(plate.rect(), silver);
    p.end();
    Noise noise(11);
    for (int y = 1; y < control.height - 1; ++y) {
        const int delta = static_cast<int>(std::lround(noise.next() * 5));
        auto* line = reinterpret_cast<QRgb*>(plate.scanLine(y));
        for (int x = 0; x < control.width; ++x)
            line[x] = qRgb(std::clamp(qRed(line[x]) + delta, 0, 255), std::clamp(qGreen(line[x]) + delta, 0, 255),
                           std::clamp(qBlue(line[x]) + delta, 0, 255));
    }
    return plate;
}

// The display glass: dark with a cyan cast and fine scan lines, like a backlit LCD.
QImage drawDisplayGlass()
{
    QImage glass(kDisplayWidth, kDisplayHeight, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&glass);
    QLinearGradient tint(0, 0, 0, kDisplayHeight);
    tint.setColorAt(0.0, QColor(14, 34, 40));
    tint.setColorAt(1.0, QColor(6, 18, 21));
    p.fillRect(glass.rect(), tint);
    QRadialGradient glow(QPointF(kDisplayWidth * 0.3, -20), kDisplayWidth * 0.8);
    glow.setColorAt(0.0, QColor(80, 200, 230, 26));
    glow.setColorAt(1.0, QColor(80, 200, 230, 0));
    p.fillRect(glass.rect(), glow);
    p.setPen(QColor(0, 0, 0, 40));
    for (int y = 1; y < kDisplayHeight; y += 2)
        p.drawLine(0, y, kDisplayWidth - 1, y);
    return glass;
}

QImage drawStartPage()
{
    QImage page = drawDisplayGlass();
    QPainter p(&page);
    p.setRenderHint(QPainter::Antialiasing);
    // A faint emblem of sound rings at the right, away from the text.
    const QPointF centre(kDisplayWidth - 58, kDisplayHeight / 2.0);
    for (int i = 1; i <= 4; ++i) {
        p.setPen(QPen(QColor(96, 226, 255, 34 - i * 5), 2.0));
        p.drawArc(QRectF(centre.x() - 9 * i, centre.y() - 9 * i, 18 * i, 18 * i), -50 * 16, 100 * 16);
    }
    p.setBrush(QColor(96, 226, 255, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, 5, 5);
    p.setPen(QPen(QColor(96, 226, 255, 40), 1.0));
    p.drawRect(QRectF(2.5, 2.5, kDisplayWidth - 5, kDisplayHeight - 5));
    return page;
}

QImage drawSpectrumPage()
{
    QImage page = drawDisplayGlass();
    QPainter p(&page);
    // The note strip along the top.
    p.fillRect(QRect(0, 0, kDisplayWidth, kDisplayPitchHeight), QColor(18, 44, 52, 150));
    p.setPen(QPen(QColor(70, 160, 185, 120), 1.0));
    p.drawLine(0, kDisplayPitchHeight, kDisplayWidth - 1, kDisplayPitchHeight);
    // Level grid and time ticks, dotted.
    const double plot = kDisplayHeight - kDisplayPitchHeight;
    QPen grid(QColor(60, 150, 175, 55), 1.0, Qt::DotLine);
    p.setPen(grid);
    for (int k = 1; k <= 3; ++k) {
        const int y = static_cast<int>(kDisplayHeight - k * plot / 4);
        p.drawLine(0, y, kDisplayWidth - 1, y);
    }
    for (int x = 40; x < kDisplayWidth; x += 40)
        p.drawLine(x, kDisplayPitchHeight + 1, x, kDisplayHeight - 1);
    return page;
}

QImage drawSettingsBackground()
{
    QImage panel(kSettingsBackgroundWidth, kSettingsBackgroundHeight, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter p(&panel);
        QLinearGradient metal(0, 0, 0, panel.height());
        metal.setColorAt(0.0, QColor(56, 61, 67));
        metal.setColorAt(0.3, QColor(42, 46, 51));
        metal.setColorAt(1.0, QColor(26, 28, 31));
        p.fillRect(panel.rect(), metal);
    }
    brushMetal(panel, panel.rect(), 5.0, 23);
    QPainter p(&panel);
    p.setPen(QColor(255, 255, 255, 90));
    p.drawLine(0, 0, panel.width() - 1, 0);
    p.drawLine(0, 0, 0, panel.height() - 1);
    p.setPen(QColor(0, 0, 0, 170));
    p.drawLine(0, panel.height() - 1, panel.width() - 1, panel.height() - 1);
    p.drawLine(panel.width() - 1, 0, panel.width() - 1, panel.height() - 1);
    drawGroove(p, QPointF(8, panel.height() - 40.5), QPointF(panel.width() - 9, panel.height() - 40.5));
    return panel;
}

// Footer icons of the editor, on the footer's grey: zoom in, zoom out, resize grip.
QImage drawEditorIcon(int which)
{
    QImage icon(kEditorIconSize, kEditorIconSize, QImage::Format_ARGB32_Premultiplied);
    icon.fill(kFooter);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    if (which == 2) {
        p.setRenderHint(QPainter::Antialiasing, false);
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col <= row; ++col) {
                const int x = 12 - 4 * col;
                const int y = 12 - 4 * (row - col);
                p.fillRect(x + 1, y + 1, 2, 2, QColor(20, 20, 20));
                p.fillRect(x, y, 2, 2, QColor(214, 218, 222));
            }
        return icon;
    }
    const QPointF centre(6.5, 6.5);
    p.setPen(QPen(QColor(30, 30, 30), 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.3, 10.3), QPointF(14.2, 14.2));
    p.setPen(QPen(QColor(200, 205, 210), 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.3, 10.3), QPointF(14.0, 14.0));
    p.setPen(QPen(QColor(222, 226, 230), 1.5));
    p.setBrush(QColor(40, 90, 110));
    p.drawEllipse(centre, 4.8, 4.8);
    p.setPen(QPen(kAqua, 1.5, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(4.0, 6.5), QPointF(9.0, 6.5));
    if (which == 0)
        p.drawLine(QPointF(6.5, 4.0), QPointF(6.5, 9.0));
    return icon;
}

} // namespace

std::vector<SkinPicture> drawBaseSkin()
{
    const QImage base = drawFaceBase();
    std::vector<SkinPicture> pictures;
    QImage face = base;
    QPainter onFace(&face);
    for (const SkinControl& control : kMainSkinControls) {
        const QString file = QString(control.name) + ".bmp";
        const std::string name = control.name;
        if (name == "ind_PlayPos") {
            pictures.push_back({file, drawPlayMarker(base, control)});
        } else if (name == "ind_Level") {
            QImage meter = drawLevelMeter(control);
            onFace.drawImage(control.left, control.top, meter);
            pictures.push_back({file, meter});
        } else if (name == "imgSilv") {
            pictures.push_back({file, drawSilverPlate(control)});
        } else {
            const QImage strip = drawStrip(base, control, painterFor(control));
            // The face shows every control at rest, so it looks whole on its own.
            onFace.drawImage(control.left, control.top, strip.copy(0, 0, control.width, control.height));
            pictures.push_back({file, strip});
        }
    }
    const QImage glass = drawSpectrumPage();
    onFace.drawImage(kDisplayLeft, kDisplayTop, glass);
    onFace.end();
    pictures.push_back({kMainFaceFile, face});
    pictures.push_back({kStartPageFile, drawStartPage()});
    pictures.push_back({kSpectrumPageFile, glass});
    pictures.push_back({kSettingsBackgroundFile, drawSettingsBackground()});
    for (int i = 0; i < 3; ++i)
        pictures.push_back({kEditorIconFiles[i], drawEditorIcon(i)});
    return pictures;
}
