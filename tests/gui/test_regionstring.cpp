// Region strings: parsing with its two messages, the number limit, and the shapes built
// from the numbers (right and bottom edges outside, winding polygons, ellipse within a
// rectangle).

#include "SkinTestSupport.h"

#include "skin/RegionString.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::optional<QRegion> regionFrom(tag_RegionType type, const std::string& text, bool allowEllipseRectangle = true)
{
    return makeRegionFromString(type, text, "ibtn_Test", allowEllipseRectangle);
}

std::string numbersText(int count)
{
    std::ostringstream text;
    for (int i = 0; i < count; ++i)
        text << (i > 0 ? " " : "") << (i % 4 == 0 || i % 4 == 3 ? 0 : 50);
    return text.str();
}

} // namespace

TEST(RegionString, RectangleLeavesRightAndBottomEdgesOutside)
{
    RecordingNotifier notifier;
    const auto region = regionFrom(rtRectangle, "0 0 64 19");
    ASSERT_TRUE(region);
    EXPECT_TRUE(region->contains(QPoint(0, 0)));
    EXPECT_TRUE(region->contains(QPoint(63, 18)));
    EXPECT_FALSE(region->contains(QPoint(64, 19)));
    EXPECT_FALSE(region->contains(QPoint(64, 10)));
    EXPECT_FALSE(region->contains(QPoint(10, 19)));
    EXPECT_TRUE(notifier.texts.empty());
}

TEST(RegionString, NumbersBeyondThoseNeededAreIgnoredAndSignsAccepted)
{
    RecordingNotifier notifier;
    const auto region = regionFrom(rtRectangle, "-5 +0 5 5 99 98");
    ASSERT_TRUE(region);
    EXPECT_TRUE(region->contains(QPoint(-5, 0)));
    EXPECT_TRUE(region->contains(QPoint(4, 4)));
    EXPECT_FALSE(region->contains(QPoint(5, 4)));
    EXPECT_TRUE(notifier.texts.empty());
}

TEST(RegionString, BadTokenIsReportedTwiceThenTheRegionFails)
{
    RecordingNotifier notifier;
    EXPECT_FALSE(regionFrom(rtRectangle, "10 10 x 20"));
    const std::vector<std::string> expected = {"Invalid region data in ibtn_Test", "Invalid region data in ibtn_Test",
                                               "Error create region in ibtn_Test"};
    EXPECT_EQ(notifier.texts, expected);
    EXPECT_EQ(notifier.captions, std::vector<std::string>(3, "Error"));
}

TEST(RegionString, NumbersReadBeforeABadLastTokenAreKept)
{
    RecordingNotifier notifier;
    EXPECT_EQ(parseRegionNumbers("1 2 3 4 5x", "n"), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(notifier.texts, std::vector<std::string>{"Invalid region data in n"});
    notifier.texts.clear();
    // A doubled space is an empty token.
    EXPECT_EQ(parseRegionNumbers("1  2", "n"), (std::vector<int>{1}));
    EXPECT_EQ(notifier.texts.size(), 2u);
    notifier.texts.clear();
    EXPECT_EQ(parseRegionNumbers("7 99999999999", "n"), (std::vector<int>{7}));
    EXPECT_EQ(notifier.texts.size(), 1u);
}

TEST(RegionString, CountsThatDoNotFitTheShapeFail)
{
    RecordingNotifier notifier;
    EXPECT_FALSE(regionFrom(rtPolygon, "0 0 10 0 10"));
    EXPECT_EQ(notifier.texts, std::vector<std::string>{"Error create region in ibtn_Test"});
    EXPECT_FALSE(regionFrom(rtRectangle, "0 0 10"));
    EXPECT_FALSE(regionFrom(rtRoundRectangle, "0 0 10 10 4"));
    EXPECT_FALSE(regionFrom(rtEllipse, ""));
    EXPECT_FALSE(regionFrom(rtPolygon, ""));
    EXPECT_FALSE(regionFrom(rtEllipseRectangle, "0 0 10 10 0 0 5"));
    EXPECT_EQ(notifier.texts.size(), 6u);
}

TEST(RegionString, AtMost1024Numbers)
{
    RecordingNotifier notifier;
    EXPECT_TRUE(regionFrom(rtPolygon, numbersText(1024)));
    EXPECT_TRUE(notifier.texts.empty());
    EXPECT_FALSE(regionFrom(rtPolygon, numbersText(1026)));
    EXPECT_EQ(notifier.texts, std::vector<std::string>{"Error create region in ibtn_Test"});
}

TEST(RegionString, MainWindowRoundRectangleCutsItsCorners)
{
    RecordingNotifier notifier;
    const auto region = regionFrom(rtRoundRectangle, "0 0 548 289 85 85");
    ASSERT_TRUE(region);
    for (const QPoint corner : {QPoint(0, 0), QPoint(5, 5), QPoint(10, 10), QPoint(547, 0), QPoint(0, 288),
                                QPoint(547, 288), QPoint(540, 6)})
        EXPECT_FALSE(region->contains(corner)) << corner.x() << "," << corner.y();
    for (const QPoint inside : {QPoint(14, 14), QPoint(274, 0), QPoint(0, 144), QPoint(547, 144),
                                QPoint(274, 288), QPoint(533, 274)})
        EXPECT_TRUE(region->contains(inside)) << inside.x() << "," << inside.y();
    EXPECT_FALSE(region->contains(QPoint(548, 144)));
    EXPECT_FALSE(region->contains(QPoint(274, 289)));
}

TEST(RegionString, EllipseFitsItsBox)
{
    RecordingNotifier notifier;
    const auto region = regionFrom(rtEllipse, "0 0 20 10");
    ASSERT_TRUE(region);
    EXPECT_TRUE(region->contains(QPoint(10, 5)));
    EXPECT_TRUE(region->contains(QPoint(0, 5)));
    EXPECT_FALSE(region->contains(QPoint(0, 0)));
    EXPECT_FALSE(region->contains(QPoint(19, 9)));
    EXPECT_FALSE(region->contains(QPoint(20, 5)));
}

TEST(RegionString, PolygonUsesTheWindingRule)
{
    RecordingNotifier notifier;
    // A five-pointed star drawn in one stroke: its centre is enclosed twice.
    const auto star = regionFrom(rtPolygon, "50 0 79 90 2 34 97 34 21 90");
    ASSERT_TRUE(star);
    EXPECT_TRUE(star->contains(QPoint(50, 50)));
    EXPECT_TRUE(star->contains(QPoint(50, 10)));
    EXPECT_FALSE(star->contains(QPoint(5, 80)));
}

TEST(RegionString, EllipseRectangleIsTheirIntersection)
{
    RecordingNotifier notifier;
    const auto halfDisc = regionFrom(rtEllipseRectangle, "0 0 20 20 10 0 20 20");
    ASSERT_TRUE(halfDisc);
    EXPECT_TRUE(halfDisc->contains(QPoint(15, 10)));
    EXPECT_FALSE(halfDisc->contains(QPoint(5, 10)));  // in the disc, not in the rectangle
    EXPECT_FALSE(halfDisc->contains(QPoint(19, 1)));  // in the rectangle, not in the disc
    // The skinned form does not build this shape.
    EXPECT_FALSE(regionFrom(rtEllipseRectangle, "0 0 20 20 10 0 20 20", false));
    EXPECT_EQ(notifier.texts, std::vector<std::string>{"Error create region in ibtn_Test"});
}

TEST(PixelAt, PointerPositionsAreFlooredToThePixelUnderThem)
{
    EXPECT_EQ(pixelAt(QPointF(13.6, 13.99)), QPoint(13, 13));
    EXPECT_EQ(pixelAt(QPointF(0.4, 7.0)), QPoint(0, 7));
    EXPECT_EQ(pixelAt(QPointF(-0.25, -1.5)), QPoint(-1, -2));
}
