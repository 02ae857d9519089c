#include "skin/RegionString.h"

#include "platform/UserNotifier.h"

#include <QPolygon>
#include <QRect>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// A decimal integer with an optional sign and nothing else around it.
std::optional<int> parseInteger(const std::string& token)
{
    std::size_t start = 0;
    if (!token.empty() && token[0] == '+')
        start = 1;
    if (start == token.size())
        return std::nullopt;
    int value = 0;
    const char* first = token.data() + start;
    const char* last = token.data() + token.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

void showInvalidData(const std::string& componentName)
{
    showError("Invalid region data in " + componentName);
}

bool countFits(tag_RegionType type, std::size_t count)
{
    if (count > kMaxRegionNumbers)
        return false;
    switch (type) {
    case rtRectangle:
    case rtEllipse:
        return count >= 4;
    case rtRoundRectangle:
        return count >= 6;
    case rtPolygon:
        return count > 0 && count % 2 == 0;
    case rtEllipseRectangle:
        return count >= 8;
    }
    return false;
}

QRect rectFromCorners(int left, int top, int right, int bottom)
{
    return QRect(QPoint(std::min(left, right), std::min(top, bottom)),
                 QPoint(std::max(left, right) - 1, std::max(top, bottom) - 1));
}

} // namespace

std::vector<int> parseRegionNumbers(const std::string& text, const std::string& componentName)
{
    std::vector<int> numbers;
    std::string rest = text;
    std::size_t space;
    while ((space = rest.find(' ')) != std::string::npos) {
        const std::optional<int> value = parseInteger(rest.substr(0, space));
        if (!value) {
            showInvalidData(componentName);
            break;
        }
        numbers.push_back(*value);
        rest.erase(0, space + 1);
    }
    if (!rest.empty()) {
        const std::optional<int> value = parseInteger(rest);
        if (value)
            numbers.push_back(*value);
        else
            showInvalidData(componentName);
    }
    return numbers;
}

QRegion roundRectRegion(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight)
{
    const QRect box = rectFromCorners(left, top, right, bottom);
    if (box.isEmpty())
        return QRegion();
    const double rx = std::clamp(cornerWidth, 0, box.width()) / 2.0;
    const double ry = std::clamp(cornerHeight, 0, box.height()) / 2.0;
    const double boxLeft = box.left();
    const double boxRight = box.left() + box.width();
    const double boxTop = box.top();
    const double boxBottom = box.top() + box.height();

    // One span per pixel row, judged at the pixel centres; equal neighbouring rows merge.
    std::vector<QRect> rects;
    for (int y = box.top(); y < box.top() + box.height(); ++y) {
        const double centreY = y + 0.5;
        double dy = 0.0;
        if (centreY < boxTop + ry)
            dy = boxTop + ry - centreY;
        else if (centreY > boxBottom - ry)
            dy = centreY - (boxBottom - ry);
        const double inset = (dy > 0.0 && ry > 0.0) ? rx - rx * std::sqrt(std::max(0.0, 1.0 - (dy / ry) * (dy / ry)))
                                                    : 0.0;
        const int spanLeft = static_cast<int>(std::ceil(boxLeft + inset - 0.5));
        const int spanRight = static_cast<int>(std::floor(boxRight - inset - 0.5));
        if (spanRight < spanLeft)
            continue;
        if (!rects.empty() && rects.back().left() == spanLeft && rects.back().right() == spanRight &&
            rects.back().bottom() == y - 1)
            rects.back().setBottom(y);
        else
            rects.emplace_back(QPoint(spanLeft, y), QPoint(spanRight, y));
    }
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

std::optional<QRegion> buildRegion(tag_RegionType type, const std::vector<int>& numbers,
                                   bool allowEllipseRectangle)
{
    if (!countFits(type, numbers.size()))
        return std::nullopt;
    const std::vector<int>& n = numbers;
    switch (type) {
    case rtRectangle:
        return QRegion(rectFromCorners(n[0], n[1], n[2], n[3]));
    case rtRoundRectangle:
        return roundRectRegion(n[0], n[1], n[2], n[3], n[4], n[5]);
    case rtEllipse:
        return roundRectRegion(n[0], n[1], n[2], n[3], std::abs(n[2] - n[0]), std::abs(n[3] - n[1]));
    case rtPolygon: {
        QPolygon polygon;
        for (std::size_t i = 0; i + 1 < n.size(); i += 2)
            polygon << QPoint(n[i], n[i + 1]);
        return QRegion(polygon, Qt::WindingFill);
    }
    case rtEllipseRectangle:
        if (!allowEllipseRectangle)
            return std::nullopt;
        return roundRectRegion(n[0], n[1], n[2], n[3], std::abs(n[2] - n[0]), std::abs(n[3] - n[1]))
            .intersected(rectFromCorners(n[4], n[5], n[6], n[7]));
    }
    return std::nullopt;
}

std::optional<QRegion> makeRegionFromString(tag_RegionType type, const std::string& text,
                                            const std::string& componentName,
                                            bool allowEllipseRectangle)
{
    const std::optional<QRegion> region =
        buildRegion(type, parseRegionNumbers(text, componentName), allowEllipseRectangle);
    if (!region)
        showError("Error create region in " + componentName);
    return region;
}

QPoint pixelAt(const QPointF& position)
{
    return QPoint(static_cast<int>(std::floor(position.x())), static_cast<int>(std::floor(position.y())));
}
