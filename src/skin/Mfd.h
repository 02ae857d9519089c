#pragma once
// TMFD: the multi-function display. It shows one page at a time: a start page (picture
// and lines of text) or the spectrum page, on which the voice diagram is drawn as one
// column per analysis frame (a level bar in the pitch-class colour and a mark in the note
// strip along the top). Drawing goes into the display's own canvas, which persists: data
// updates add the columns over what is there, and only a full draw repaints backgrounds.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QStringList>
#include <QWidget>

#include <cstdint>

enum tag_FunctionPages : uint8_t {
    fpStartPage = 0,
    fpSpectrPage = 1,
    fpInputPage = 2,
    fpOutputPage = 3,
    fpReverbPage = 4,
    fpOctavaPage = 5,
    fpPatchPage = 6,
};

inline constexpr int kDrawColumns = 1024;

// Column data of the spectrum page; colours are 0x00BBGGRR.
struct tag_drawcolumn {
    int32_t barColour;
    int32_t level;      // 0...127; <= 0 draws no bar
    int32_t noteColour; // 0 draws no mark
};

struct tag_arraydrawdata {
    int32_t count; // valid columns from the left edge
    tag_drawcolumn column[kDrawColumns];
};
static_assert(sizeof(tag_arraydrawdata) == 12292);

// A font with its colour, as the display's text settings carry both.
struct MfdFont {
    QFont face;
    QColor colour = Qt::black;
};

// 0x00BBGGRR from red, green and blue.
constexpr int32_t colourRef(int r, int g, int b)
{
    return static_cast<int32_t>((static_cast<uint32_t>(b) << 16) | (static_cast<uint32_t>(g) << 8) |
                                static_cast<uint32_t>(r));
}

class TMFD : public QWidget {
    Q_OBJECT
public:
    explicit TMFD(QWidget* form);

    tag_FunctionPages Screen() const { return screen_; }
    const QImage& Picture() const { return picture_; }
    const QImage& AllBg() const { return allBg_; }
    const QImage& StartPageBg() const { return startPageBg_; }
    const QImage& SpectrPageBg() const { return spectrPageBg_; }
    const QImage& SpectrPageLobbyBg() const { return spectrPageLobbyBg_; }
    const QStringList& StartPageListText() const { return startPageListText_; }
    const QStringList& SpectrPageListText() const { return spectrPageListText_; }
    const MfdFont& StartPageFont() const { return startPageFont_; }
    const MfdFont& SpectrPageFont() const { return spectrPageFont_; }
    uint16_t Tick() const { return tick_; }
    uint16_t TickOffset() const { return tickOffset_; }
    uint16_t TickWidth() const { return tickWidth_; }
    const tag_arraydrawdata& Data() const { return data_; }
    // What the display shows: its canvas as last drawn.
    const QImage& Canvas() const { return canvas_; }

    // Insets and plain settings; they take effect at the next draw.
    uint16_t MarginLeft = 0;
    uint16_t MarginRight = 0;
    uint16_t MarginTop = 0;
    uint16_t MarginBottom = 0;
    uint16_t StartPageMarginLeft = 0;
    uint16_t StartPageMarginTop = 0;
    uint16_t SpectrPageLobbyMarginTop = 0;
    uint16_t SpectrPageLobbyMarginBottom = 0;
    uint16_t SpectrPageLobbyMarginLeft = 0;
    uint16_t SpectrPageLobbyMarginRight = 0;
    uint16_t SpectrPagePitchHeight = 0;
    uint16_t SpectrPageTextLeft = 0;
    uint16_t SpectrPageTextTop = 0;
    QColor SpectrPageBarColor = Qt::black;
    QColor SpectrPageBarRoundColor = Qt::black;

    void SetTick(uint16_t value);
    // 0 is taken as 1. Recomputes Tick.
    void SetTickWidth(uint16_t value);
    // Recomputes Tick; the offset counts in the column count only, not in the spacing.
    void SetTickOffset(uint16_t value);
    void SetActiveScreen(tag_FunctionPages page);

    // Each copies the value (a null argument does nothing) and redraws the page in full.
    void SetAllBg(const QImage* picture);
    void SetStartPageBg(const QImage* picture);
    void SetSpectrPageBg(const QImage* picture);
    void SetSpectrPageLobbyBg(const QImage* picture);
    void SetStartPageListText(const QStringList* lines);
    void SetSpectrPageListText(const QStringList* lines);
    void SetStartPageFont(const MfdFont* font);
    void SetSpectrPageFont(const MfdFont* font);
    // The display's own picture, shown under its canvas.
    void SetPicture(const QImage* picture);

    // Copies the columns and draws them (only them) when the spectrum page shows.
    void SetSpectrPageData(const tag_arraydrawdata* data);
    // Draws `page` if it is the active one, or the active page when `full`; a full draw
    // starts from the backgrounds, otherwise only the columns are drawn.
    void SelfDraw(tag_FunctionPages page, bool full);
    // With a skinned form: takes the skin's background under the display as the display's
    // picture, empties the columns and redraws the spectrum page in full.
    void Clear();

signals:
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseMove(Qt::KeyboardModifiers shift, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    uint16_t ColumnsThatFit(int spacing) const;
    void DrawStartPage(QPainter& canvas, const QRect& area) const;
    void DrawColumns(QPainter& canvas, const QRect& area) const;

    tag_FunctionPages screen_ = fpStartPage;
    QImage picture_;
    QImage allBg_;
    QImage startPageBg_;
    QImage spectrPageBg_;
    QImage spectrPageLobbyBg_;
    QStringList startPageListText_;
    QStringList spectrPageListText_;
    MfdFont startPageFont_;
    MfdFont spectrPageFont_;
    uint16_t tick_ = 0;
    uint16_t tickOffset_ = 0;
    uint16_t tickWidth_ = 1;
    tag_arraydrawdata data_{};
    QImage canvas_;
};
