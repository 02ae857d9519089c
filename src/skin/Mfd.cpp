#include "skin/Mfd.h"

#include "skin/Skinform.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

QColor fromColourRef(int32_t colour)
{
    const auto value = static_cast<uint32_t>(colour);
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

} // namespace

TMFD::TMFD(QWidget* form) : QWidget(form)
{
    setMouseTracking(true);
    std::memset(&data_, 0, sizeof data_);
}

uint16_t TMFD::ColumnsThatFit(int spacing) const
{
    const int usable = width() - MarginLeft - MarginRight;
    if (usable <= 0 || spacing <= 0)
        return 0;
    return static_cast<uint16_t>(std::min(usable / spacing, 0xFFFF));
}

void TMFD::SetTick(uint16_t value)
{
    tick_ = value;
}

void TMFD::SetTickWidth(uint16_t value)
{
    if (value == 0)
        value = 1;
    tickWidth_ = value;
    tick_ = ColumnsThatFit(value + tickOffset_);
}

void TMFD::SetTickOffset(uint16_t value)
{
    tickOffset_ = value;
    tick_ = ColumnsThatFit(value + tickWidth_);
}

void TMFD::SetActiveScreen(tag_FunctionPages page)
{
    tick_ = ColumnsThatFit(tickWidth_ + tickOffset_);
    screen_ = page;
    SelfDraw(page, true);
}

void TMFD::SetAllBg(const QImage* picture)
{
    if (picture == nullptr)
        return;
    allBg_ = *picture;
    SelfDraw(screen_, true);
}

void TMFD::SetStartPageBg(const QImage* picture)
{
    if (picture == nullptr)
        return;
    startPageBg_ = *picture;
    SelfDraw(screen_, true);
}

void TMFD::SetSpectrPageBg(const QImage* picture)
{
    if (picture == nullptr)
        return;
    spectrPageBg_ = *picture;
    SelfDraw(screen_, true);
}

void TMFD::SetSpectrPageLobbyBg(const QImage* picture)
{
    if (picture == nullptr)
        return;
    spectrPageLobbyBg_ = *picture;
    SelfDraw(screen_, true);
}

void TMFD::SetStartPageListText(const QStringList* lines)
{
    if (lines == nullptr)
        return;
    startPageListText_ = *lines;
    SelfDraw(screen_, true);
}

void TMFD::SetSpectrPageListText(const QStringList* lines)
{
    if (lines == nullptr)
        return;
    spectrPageListText_ = *lines;
    SelfDraw(screen_, true);
}

void TMFD::SetStartPageFont(const MfdFont* font)
{
    if (font == nullptr)
        return;
    startPageFont_ = *font;
    SelfDraw(screen_, true);
}

void TMFD::SetSpectrPageFont(const MfdFont* font)
{
    if (font == nullptr)
        return;
    spectrPageFont_ = *font;
    SelfDraw(screen_, true);
}

void TMFD::SetPicture(const QImage* picture)
{
    if (picture == nullptr)
        return;
    picture_ = *picture;
    update();
}

void TMFD::SetSpectrPageData(const tag_arraydrawdata* data)
{
    if (data == nullptr)
        return;
    std::memcpy(&data_, data, sizeof data_);
    SelfDraw(fpSpectrPage, false);
}

void TMFD::SelfDraw(tag_FunctionPages page, bool full)
{
    tick_ = ColumnsThatFit(tickWidth_ + tickOffset_);
    if (page != screen_ && !full)
        return;
    if (canvas_.size() != size())
        canvas_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    if (canvas_.isNull())
        return;

    // The page area, right and bottom edges exclusive.
    const QRect area(QPoint(MarginLeft, MarginTop), QPoint(width() - MarginRight - 1, height() - MarginBottom - 1));
    QPainter canvas(&canvas_);
    if (full) {
        canvas_.fill(Qt::transparent);
        canvas.drawImage(QPoint(0, 0), allBg_, QRect(0, 0, width(), height() + 1));
        if (screen_ == fpStartPage)
            DrawStartPage(canvas, area);
        else if (screen_ == fpSpectrPage)
            canvas.drawImage(area.topLeft(), spectrPageBg_, QRect(0, 0, area.width(), area.height() + 1));
    }
    if (screen_ == fpSpectrPage)
        DrawColumns(canvas, area);
    canvas.end();
    update();
}

void TMFD::DrawStartPage(QPainter& canvas, const QRect& area) const
{
    canvas.drawImage(area.topLeft(), startPageBg_, QRect(0, 0, area.width(), area.height()));
    const QRect textArea = area.adjusted(StartPageMarginLeft, StartPageMarginTop, -StartPageMarginLeft,
                                         -StartPageMarginTop);
    if (textArea.isEmpty())
        return;
    canvas.save();
    canvas.setClipRect(textArea);
    canvas.setFont(startPageFont_.face);
    canvas.setPen(startPageFont_.colour);
    const int lineHeight = QFontMetrics(startPageFont_.face).height();
    for (int i = 0; i < startPageListText_.size(); ++i) {
        const QRect line(textArea.left(), textArea.top() + i * lineHeight, textArea.width(), lineHeight);
        canvas.drawText(line, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, startPageListText_[i]);
    }
    canvas.restore();
}

void TMFD::DrawColumns(QPainter& canvas, const QRect& area) const
{
    if (tick_ == 0)
        return;
    const int plotLeft = area.left() + SpectrPageLobbyMarginLeft;
    const int plotTop = area.top() + SpectrPageLobbyMarginTop;
    const int plotBottom = area.top() + area.height() - SpectrPageLobbyMarginBottom;
    const double scale = static_cast<double>(plotBottom - plotTop - SpectrPagePitchHeight) / 127.0;
    // A column is TickWidth pixels wide from its x; a bar runs from its top down to the
    // plot's bottom edge, which it does not include.
    const int columns = std::min({static_cast<int>(data_.count), static_cast<int>(tick_), kDrawColumns});
    for (int i = 0; i < columns; ++i) {
        const tag_drawcolumn& column = data_.column[i];
        const int x = plotLeft + i * tickWidth_;
        if (column.level > 0) {
            const int top = static_cast<int>(plotBottom - column.level * scale);
            canvas.fillRect(x, top, tickWidth_, plotBottom - top, fromColourRef(column.barColour));
        }
        if (column.noteColour != 0)
            canvas.fillRect(x, plotTop, tickWidth_, SpectrPagePitchHeight, fromColourRef(column.noteColour));
    }
}

void TMFD::Clear()
{
    QWidget* form = parentWidget();
    TSkinForm* skin = form != nullptr ? form->findChild<TSkinForm*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (skin == nullptr)
        return;
    picture_ = skin->Image().copy(QRect(x(), y(), width(), height() + 1));
    form->update(geometry().adjusted(-1, -1, 1, 1));
    std::memset(&data_, 0, sizeof data_);
    SelfDraw(fpSpectrPage, true);
}

void TMFD::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), picture_);
    painter.drawImage(QPoint(0, 0), canvas_);
}

void TMFD::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    SelfDraw(screen_, true);
}

void TMFD::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = pixelAt(event->position());
    emit OnMouseDown(event->button(), event->modifiers(), at.x(), at.y());
    event->accept();
}

void TMFD::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = pixelAt(event->position());
    emit OnMouseMove(event->modifiers(), at.x(), at.y());
    event->accept();
}
