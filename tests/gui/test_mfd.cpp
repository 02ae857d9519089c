// The multi-function display: the column count, where the voice-diagram columns fall,
// data that arrives while the start page shows, and clearing from the skin's background.

#include "SkinTestSupport.h"

#include "skin/Mfd.h"
#include "skin/Skinform.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

const int32_t kRed = colourRef(255, 0, 0);
const int32_t kGreen = colourRef(0, 255, 0);
const int32_t kBlue = colourRef(0, 0, 255);

class MfdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureQtApplication();
        form = std::make_unique<QWidget>();
        form->resize(548, 290);
        display = new TMFD(form.get());
        display->setGeometry(64, 64, 440, 105);
        display->SpectrPagePitchHeight = 15;
    }

    QColor at(int x, int y) const { return display->Canvas().pixelColor(x, y); }

    std::unique_ptr<tag_arraydrawdata> columns(std::initializer_list<tag_drawcolumn> list)
    {
        auto data = std::make_unique<tag_arraydrawdata>();
        data->count = static_cast<int32_t>(list.size());
        int i = 0;
        for (const tag_drawcolumn& column : list)
            data->column[i++] = column;
        return data;
    }

    std::unique_ptr<QWidget> form;
    TMFD* display = nullptr;
};

} // namespace

TEST_F(MfdTest, TickCountsTheColumnsThatFit)
{
    display->SetTickWidth(1);
    EXPECT_EQ(display->Tick(), 440);
    display->SetTickWidth(2);
    display->SetTickOffset(1);
    EXPECT_EQ(display->Tick(), 146);
    display->SetTickOffset(0);
    display->SetTickWidth(0);
    EXPECT_EQ(display->TickWidth(), 1);
    EXPECT_EQ(display->Tick(), 440);
    display->MarginLeft = 20;
    display->MarginRight = 20;
    display->SetActiveScreen(fpSpectrPage);
    EXPECT_EQ(display->Tick(), 400);
    // SetTick stores without recomputing; the next draw recomputes.
    display->SetTick(7);
    EXPECT_EQ(display->Tick(), 7);
    display->SelfDraw(fpSpectrPage, false);
    EXPECT_EQ(display->Tick(), 400);
    // Margins wider than the display leave no column.
    display->MarginRight = 500;
    display->SetTickWidth(1);
    EXPECT_EQ(display->Tick(), 0);
}

TEST_F(MfdTest, ColumnsRiseFromTheBottomAndMarksFillTheNoteStrip)
{
    display->SetActiveScreen(fpSpectrPage);
    const auto data = columns({{kRed, 127, 0}, {kGreen, 64, kBlue}, {kRed, 0, kGreen}});
    display->SetSpectrPageData(data.get());
    // Level 127 runs from the strip's bottom (row 15) to the last row, 104.
    EXPECT_EQ(at(0, 15), QColor(Qt::red));
    EXPECT_EQ(at(0, 104), QColor(Qt::red));
    EXPECT_EQ(at(0, 14).alpha(), 0);
    // Level 64 starts at trunc(105 - 64 * 90 / 127) = 59.
    EXPECT_EQ(at(1, 59), QColor(Qt::green));
    EXPECT_EQ(at(1, 58).alpha(), 0);
    EXPECT_EQ(at(1, 0), QColor(Qt::blue));
    EXPECT_EQ(at(1, 14), QColor(Qt::blue));
    // Level 0 draws no bar but its mark.
    EXPECT_EQ(at(2, 104).alpha(), 0);
    EXPECT_EQ(at(2, 5), QColor(Qt::green));
    EXPECT_EQ(at(3, 104).alpha(), 0);
}

TEST_F(MfdTest, WideColumnsAndMarginsPlaceTheBars)
{
    display->MarginLeft = 10;
    display->MarginTop = 5;
    display->SpectrPageLobbyMarginLeft = 3;
    display->SpectrPageLobbyMarginBottom = 4;
    display->SetTickWidth(2);
    display->SetActiveScreen(fpSpectrPage);
    const auto data = columns({{kRed, 127, 0}, {kGreen, 127, 0}});
    display->SetSpectrPageData(data.get());
    // Plot: left 13, top 5, bottom edge 101; columns 2 pixels wide.
    EXPECT_EQ(at(12, 100).alpha(), 0);
    EXPECT_EQ(at(13, 100), QColor(Qt::red));
    EXPECT_EQ(at(14, 100), QColor(Qt::red));
    EXPECT_EQ(at(15, 100), QColor(Qt::green));
    EXPECT_EQ(at(16, 100), QColor(Qt::green));
    EXPECT_EQ(at(17, 100).alpha(), 0);
    EXPECT_EQ(at(13, 101).alpha(), 0);
    // Scale (101 - 5 - 15) / 127: level 127 reaches row 20 exactly.
    EXPECT_EQ(at(13, 20), QColor(Qt::red));
    EXPECT_EQ(at(13, 19).alpha(), 0);
}

TEST_F(MfdTest, ColumnsBeyondTickAreNotDrawn)
{
    display->MarginRight = 430; // page area 10 pixels wide: Tick 10
    display->SetActiveScreen(fpSpectrPage);
    auto data = std::make_unique<tag_arraydrawdata>();
    data->count = 20;
    for (int i = 0; i < 20; ++i)
        data->column[i] = {kRed, 100, 0};
    display->SetSpectrPageData(data.get());
    EXPECT_EQ(display->Tick(), 10);
    EXPECT_EQ(at(9, 100), QColor(Qt::red));
    EXPECT_EQ(at(10, 100).alpha(), 0);
}

TEST_F(MfdTest, CountAboveTheColumnArrayIsBounded)
{
    form->resize(2400, 290);
    display->setGeometry(0, 0, 2200, 105);
    display->SetActiveScreen(fpSpectrPage);
    auto data = std::make_unique<tag_arraydrawdata>();
    data->count = 5000;
    for (tag_drawcolumn& column : data->column)
        column = {kRed, 100, 0};
    display->SetSpectrPageData(data.get());
    EXPECT_EQ(at(kDrawColumns - 1, 100), QColor(Qt::red));
    EXPECT_EQ(at(kDrawColumns, 100).alpha(), 0);
}

TEST_F(MfdTest, DataWhileTheStartPageShowsIsStoredButNotDrawn)
{
    display->SetActiveScreen(fpStartPage);
    const QImage before = display->Canvas();
    const auto data = columns({{kRed, 127, kBlue}});
    display->SetSpectrPageData(data.get());
    EXPECT_EQ(display->Data().count, 1);
    EXPECT_EQ(display->Canvas(), before);
    // Switching to the spectrum page draws the stored columns.
    display->SetActiveScreen(fpSpectrPage);
    EXPECT_EQ(at(0, 50), QColor(Qt::red));
}

TEST_F(MfdTest, DataUpdatesDrawOnlyColumnsOverWhatIsShown)
{
    QImage background(440, 106, QImage::Format_RGB32);
    background.fill(QColor(10, 20, 30));
    display->SetSpectrPageBg(&background);
    display->SetActiveScreen(fpSpectrPage);
    EXPECT_EQ(at(0, 20), QColor(10, 20, 30));
    const auto tall = columns({{kRed, 127, 0}});
    display->SetSpectrPageData(tall.get());
    const auto low = columns({{kGreen, 10, 0}});
    display->SetSpectrPageData(low.get());
    EXPECT_EQ(at(0, 20), QColor(Qt::red));
    EXPECT_EQ(at(0, 100), QColor(Qt::green));
    // A full draw starts again from the background.
    display->SelfDraw(fpSpectrPage, true);
    EXPECT_EQ(at(0, 20), QColor(10, 20, 30));
    EXPECT_EQ(at(0, 100), QColor(Qt::green));
}

TEST_F(MfdTest, NullArgumentsAreIgnored)
{
    QImage background(440, 106, QImage::Format_RGB32);
    background.fill(Qt::darkCyan);
    display->SetSpectrPageBg(&background);
    display->SetSpectrPageBg(nullptr);
    display->SetAllBg(nullptr);
    display->SetStartPageFont(nullptr);
    display->SetStartPageListText(nullptr);
    display->SetSpectrPageData(nullptr);
    display->SetActiveScreen(fpSpectrPage);
    EXPECT_EQ(at(200, 50), QColor(Qt::darkCyan));
    EXPECT_EQ(display->Data().count, 0);
}

TEST_F(MfdTest, StartPageWritesItsLinesInsideTheTextMargins)
{
    QImage background(440, 105, QImage::Format_RGB32);
    background.fill(Qt::black);
    display->SetStartPageBg(&background);
    display->StartPageMarginLeft = 20;
    display->StartPageMarginTop = 10;
    MfdFont font{QFont("DejaVu Sans"), QColor(Qt::white)};
    font.face.setPixelSize(14);
    display->SetStartPageFont(&font);
    const QStringList lines = {"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", "second line"};
    display->SetStartPageListText(&lines);
    display->SetActiveScreen(fpStartPage);
    int inside = 0;
    int outside = 0;
    for (int y = 0; y < 105; ++y)
        for (int x = 0; x < 440; ++x) {
            const bool lit = at(x, y).lightness() > 100;
            const bool inMargins = x >= 20 && x < 420 && y >= 10 && y < 95;
            (inMargins ? inside : outside) += lit ? 1 : 0;
        }
    EXPECT_GT(inside, 100);
    EXPECT_EQ(outside, 0);
}

TEST_F(MfdTest, ClearTakesTheSkinBackgroundAndEmptiesTheColumns)
{
    display->SetActiveScreen(fpSpectrPage);
    const auto data = columns({{kRed, 127, kBlue}});
    display->SetSpectrPageData(data.get());
    display->Clear(); // no skinned form: nothing happens
    EXPECT_EQ(display->Data().count, 1);

    auto* skin = new TSkinForm(form.get());
    QImage face(548, 290, QImage::Format_RGB32);
    for (int y = 0; y < 290; ++y)
        for (int x = 0; x < 548; ++x)
            face.setPixel(x, y, qRgb(x % 256, y, 7));
    skin->SetImage(&face);
    display->Clear();
    EXPECT_EQ(display->Data().count, 0);
    EXPECT_EQ(display->Picture().size(), QSize(440, 106));
    EXPECT_EQ(display->Picture().pixel(0, 0), face.pixel(64, 64));
    EXPECT_EQ(display->Picture().pixel(439, 105), face.pixel(503, 169));
    EXPECT_EQ(at(0, 50).alpha(), 0);
    // What shows is the skin's background under the display.
    EXPECT_EQ(display->grab().toImage().pixel(0, 50), face.pixel(64, 114));
}
