#include "SkinGallery.h"

#include "notes/NoteNames.h"
#include "skin/Checkimagebutton.h"
#include "skin/MainSkinLayout.h"
#include "skin/Mfd.h"
#include "skin/Skinform.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

namespace {

const QColor kGalleryBackground(52, 56, 62);

int32_t pitchClassColour(int note)
{
    const NoteColour& c = kNoteColours[pitchClass(note)];
    return colourRef(c.r, c.g, c.b);
}

// A sung phrase: notes with a soft attack, a little vibrato and short breaths between them.
tag_arraydrawdata sampleVoiceDiagram(int columns)
{
    struct SungNote {
        int note;
        int length;
    };
    const SungNote phrase[] = {{60, 26}, {62, 26}, {64, 40}, {65, 22}, {67, 48}, {69, 26}, {67, 26},
                               {65, 22}, {64, 40}, {62, 30}, {61, 18}, {62, 26}, {60, 60}};
    tag_arraydrawdata data{};
    uint32_t jitter = 12345;
    const auto nextJitter = [&jitter] {
        jitter = jitter * 1664525u + 1013904223u;
        return static_cast<double>(jitter >> 8) / static_cast<double>(1u << 24) - 0.5;
    };
    int column = 0;
    for (const SungNote& sung : phrase) {
        for (int i = 0; i < sung.length && column < columns; ++i, ++column) {
            const bool breath = i >= sung.length - 4;
            if (breath)
                continue;
            const double vibrato = 0.3 * std::sin(column * 0.55);
            const double glide = i < 3 ? (3 - i) * -0.25 : 0.0;
            const int sungPitch = static_cast<int>(std::lround(sung.note + vibrato + glide));
            const double attack = std::min(1.0, (i + 1) / 4.0);
            const double decay = 1.0 - 0.35 * i / sung.length;
            data.column[column].barColour = pitchClassColour(sungPitch);
            data.column[column].level = static_cast<int32_t>(attack * decay * (88 + 30 * nextJitter()));
            if (i >= 2)
                data.column[column].noteColour = pitchClassColour(sung.note);
        }
    }
    data.count = column;
    return data;
}

TImageButton* makeButton(const SkinControl& control, QWidget* parent)
{
    if (control.kind == SkinControlKind::CheckButton)
        return new TCheckImageButton(parent);
    return new TImageButton(parent);
}

QLabel* makeInfoLabel(QWidget* parent, const QRect& geometry, const QString& text, Qt::Alignment alignment,
                      const QColor& colour, bool bold)
{
    auto* label = new QLabel(text, parent);
    QFont font("Arial");
    font.setPointSize(8);
    font.setBold(bold);
    label->setFont(font);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setStyleSheet(QString("color: %1; background: transparent;").arg(colour.name()));
    label->setGeometry(geometry);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

// The level meter as the main window paints it: aqua dots up to the level.
QImage levelMeterAt(const QImage& meter, int level)
{
    QImage shown = meter.convertToFormat(QImage::Format_RGB32);
    QPainter p(&shown);
    p.setPen(QPen(QColor(0, 255, 255), 8, Qt::DotLine));
    p.drawLine(1, shown.height() - 1, 1, shown.height() - 1 - level);
    return shown;
}

void placeDisplay(QWidget* face, const QString& skinFolder)
{
    auto* display = new TMFD(face);
    display->setObjectName("MFD");
    display->setGeometry(kDisplayLeft, kDisplayTop, kDisplayWidth, kDisplayHeight);
    display->SpectrPagePitchHeight = kDisplayPitchHeight;
    const QImage spectrum = loadSkinPicture(skinFolder, kSpectrumPageFile);
    display->SetSpectrPageBg(&spectrum);
    display->SetActiveScreen(fpSpectrPage);
    display->Clear();
    const tag_arraydrawdata data = sampleVoiceDiagram(display->Tick());
    display->SetSpectrPageData(&data);
}

} // namespace

QImage loadSkinPicture(const QString& skinFolder, const QString& fileName)
{
    const QString path = QDir(skinFolder).filePath(fileName);
    QImage picture(path);
    if (picture.isNull())
        std::fprintf(stderr, "lirrosa-skin-gallery: cannot read %s\n", qPrintable(path));
    return picture;
}

GalleryFace::GalleryFace(const QString& skinFolder)
    : QWidget(nullptr, Qt::FramelessWindowHint)
{
    setWindowTitle("Lirrosa");
    setFixedSize(kMainFaceWidth, kMainFaceHeight);
    skin_ = new TSkinForm(this);
    skin_->setObjectName("SkinForm");
    skin_->SetRegionType(rtRoundRectangle);
    skin_->SetRegion(kMainFaceRegion);
    const QImage face = loadSkinPicture(skinFolder, kMainFaceFile);
    skin_->SetImage(&face);

    // A moment of playback after a take: notes chosen, Play latched, some keys unavailable.
    const std::map<std::string, tag_ButtonState> shownStates = {
        {"ibtn_Play", bsChecked}, {"ind_Mic", bsEnable},   {"ind_File", bsMouseOver},
        {"ind_MIDI", bsEnable},   {"ind_WAVE", bsDisable}, {"ibtn_PlayNT", bsChecked},
        {"ibtn_PlayPB", bsEnable}, {"ibtn_Finish", bsDisable}, {"ibtn_Edit", bsMouseOver},
    };
    for (const SkinControl& control : kMainSkinControls) {
        const QImage picture = loadSkinPicture(skinFolder, QString(control.name) + ".bmp");
        if (control.kind == SkinControlKind::Image) {
            auto* image = new QLabel(this);
            image->setObjectName(control.name);
            image->setGeometry(control.left, control.top, control.width, control.height);
            image->setPixmap(QPixmap::fromImage(std::string(control.name) == "ind_Level" ? levelMeterAt(picture, 58)
                                                                                        : picture));
            if (std::string(control.name) == "ind_PlayPos")
                image->move(kDisplayLeft + 212, control.top);
            image->setVisible(std::string(control.name) != "imgSilv");
            continue;
        }
        TImageButton* button = makeButton(control, this);
        button->setObjectName(control.name);
        button->move(control.left, control.top);
        button->SetRegionType(rtRectangle);
        button->SetRegion(control.region);
        // Every key answers the mouse here, so that its looks can be tried; lamps never do.
        button->SetEnabled(std::string(control.name).rfind("ibtn_", 0) == 0);
        button->SetPicture(&picture);
        const auto shown = shownStates.find(control.name);
        if (shown != shownStates.end())
            button->SetState(shown->second);
        if (std::string(control.name) == "ibtn_Close")
            connect(button, &TImageButton::OnClick, qApp, &QApplication::quit);
        if (std::string(control.name) == "ibtn_Minimize")
            connect(button, &TImageButton::OnClick, this, &QWidget::showMinimized);
    }
    placeDisplay(this, skinFolder);

    const QColor aqua(0, 255, 255);
    makeInfoLabel(this, QRect(64, 168, 33, 13), QString::fromStdString(noteName(64)).trimmed(), Qt::AlignHCenter,
                  QColor(0, 255, 0), true);
    makeInfoLabel(this, QRect(184, 169, 81, 13), "playback", Qt::AlignHCenter, aqua, false);
    makeInfoLabel(this, QRect(280, 169, 153, 13), "mic", Qt::AlignLeft, aqua, false);
    makeInfoLabel(this, QRect(440, 169, 49, 13), "00:05:93", Qt::AlignRight, aqua, false);
}

GallerySheet::GallerySheet(const QString& skinFolder)
{
    setWindowTitle("Lirrosa skin: every state");
    setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, kGalleryBackground);
    palette.setColor(QPalette::WindowText, QColor(220, 226, 232));
    setPalette(palette);

    const char* const stateNames[] = {"at rest", "hover", "pressed", "disabled", "checked"};
    const int nameWidth = 104;
    const int cellWidth = 76;
    const int rowHeight = 30;
    const int groupWidth = nameWidth + 5 * cellWidth + 16;
    for (int group = 0; group < 2; ++group)
        for (int state = 0; state < 5; ++state) {
            auto* header = new QLabel(stateNames[state], this);
            header->setGeometry(12 + group * groupWidth + nameWidth + state * cellWidth, 8, cellWidth, 16);
        }

    const int rowsPerGroup = 12;
    int index = 0;
    int rowTop[2] = {30, 30};
    for (const SkinControl& control : kMainSkinControls) {
        if (control.kind == SkinControlKind::Image)
            continue;
        const int group = index++ / rowsPerGroup;
        const int left = 12 + group * groupWidth;
        const int top = rowTop[group];
        rowTop[group] += std::max(rowHeight, control.height + 8);
        auto* name = new QLabel(control.name, this);
        name->setGeometry(left, top, nameWidth, 16);
        const QImage picture = loadSkinPicture(skinFolder, QString(control.name) + ".bmp");
        const int states = control.kind == SkinControlKind::CheckButton ? 5 : 4;
        for (int state = 0; state < states; ++state) {
            TImageButton* button = makeButton(control, this);
            button->setObjectName(QString("%1_%2").arg(control.name).arg(state));
            button->SetRegion(control.region);
            button->move(left + nameWidth + state * cellWidth, top);
            button->SetPicture(&picture);
            button->SetState(static_cast<tag_ButtonState>(state));
        }
    }

    // The display's start page, as the program shows it before a take.
    const int picturesTop = std::max(rowTop[0], rowTop[1]) + 16;
    auto* startPage = new TMFD(this);
    startPage->setGeometry(12, picturesTop, kDisplayWidth, kDisplayHeight);
    startPage->StartPageMarginLeft = 14;
    startPage->StartPageMarginTop = 12;
    const QImage startBackground = loadSkinPicture(skinFolder, kStartPageFile);
    startPage->SetStartPageBg(&startBackground);
    MfdFont font{QFont("DejaVu Sans Mono"), QColor(96, 226, 255)};
    font.face.setPixelSize(13);
    startPage->SetStartPageFont(&font);
    const QStringList lines = {"LIRROSA  voice to MIDI", "", "Select MIC or FILE and click CONVERT.",
                               "Sing, hum or whistle a melody."};
    startPage->SetStartPageListText(&lines);
    startPage->SetActiveScreen(fpStartPage);

    const std::pair<const char*, int> smallPictures[] = {
        {"ind_PlayPos.bmp", 4}, {"ind_Level.bmp", 2}, {"imgSilv.bmp", 2},
        {"b_ZoomUp.bmp", 3},    {"b_ZoomDown.bmp", 3}, {"b_Resize.bmp", 3},
    };
    int x = 12 + kDisplayWidth + 20;
    for (const auto& [file, zoom] : smallPictures) {
        const QImage picture = loadSkinPicture(skinFolder, file);
        auto* label = new QLabel(this);
        label->setPixmap(QPixmap::fromImage(picture.scaled(picture.size() * zoom)));
        label->setToolTip(file);
        label->setGeometry(x, picturesTop, picture.width() * zoom, picture.height() * zoom);
        x += picture.width() * zoom + 14;
    }
    const QImage settings = loadSkinPicture(skinFolder, kSettingsBackgroundFile);
    auto* settingsLabel = new QLabel(this);
    settingsLabel->setPixmap(QPixmap::fromImage(settings.scaled(settings.size() / 2, Qt::IgnoreAspectRatio,
                                                                Qt::SmoothTransformation)));
    settingsLabel->setGeometry(x, picturesTop, settings.width() / 2, settings.height() / 2);
    resize(2 * groupWidth + 12, picturesTop + settings.height() / 2 + 12);
}
