#pragma once
// Region strings: a list of integers separated by single spaces that, with a shape,
// describe the clickable area of an image button or the outline of a skinned window.

#include <QRegion>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum tag_RegionType : uint8_t {
    rtRectangle = 0,
    rtRoundRectangle = 1,
    rtEllipse = 2,
    rtPolygon = 3,
    rtEllipseRectangle = 4,
};

// Most numbers a region string may hold (so at most 512 polygon points).
inline constexpr std::size_t kMaxRegionNumbers = 1024;

// Reads the numbers of `text`. A token that is not a decimal integer shows
// "Invalid region data in " + componentName; reading stops there and the rest of the text
// is tried as one last number (so a bad token is reported twice). The numbers read so far
// are returned.
std::vector<int> parseRegionNumbers(const std::string& text, const std::string& componentName);

// Builds the region of `type` from `numbers` (in the owner's pixel grid: right and bottom
// edges lie outside). Returns nothing when the count does not fit the type, or when the
// type is rtEllipseRectangle and `allowEllipseRectangle` is false.
std::optional<QRegion> buildRegion(tag_RegionType type, const std::vector<int>& numbers,
                                   bool allowEllipseRectangle);

// Parses `text`, builds the region and shows "Error create region in " + componentName
// when it cannot be built. Both messages go through the user-notification interface.
std::optional<QRegion> makeRegionFromString(tag_RegionType type, const std::string& text,
                                            const std::string& componentName,
                                            bool allowEllipseRectangle);

// A rectangle (left, top, right, bottom exclusive) with corners cut by ellipses of
// cornerWidth x cornerHeight, built row by row.
QRegion roundRectRegion(int left, int top, int right, int bottom, int cornerWidth, int cornerHeight);

// The pixel under a pointer position: positions are floored, so that at a fractional scale
// factor a point just inside a region's right or bottom edge still hits it.
QPoint pixelAt(const QPointF& position);
