#include "app/F_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include <cmath>
#include <sstream>

#include "app/AboutBox.h"
#include "app/HelpViewer.h"
#include "app/LevelMeter.h"
#include "editor/NoteEdits.h"
#include "midi/SmfReader.h"
#include "platform/UserNotifier.h"
#include "platform/WindowMessages.h"
#include "settings/My_registry.h"
#include "settings/SetupInstaller.h"
#include "skin/Checkimagebutton.h"
#include "skin/MainSkinLayout.h"
#include "skin/Mfd.h"
#include "skin/Skinform.h"

namespace {

// The window's place before the saved one is applied.
constexpr int kDesignLeft = 321;
constexpr int kDesignTop = 127;

const QColor kAqua(0, 255, 255);
const QColor kLime(0, 255, 0);
// Buttons that do not answer the mouse are shown faded.
constexpr double kDisabledOpacity = 0.45;

const char* const kWaveFilter = "WAVE Files (*.wav)";
const char* const kMidiFilter = "MIDI Files (*.mid)";
const char* const kAudioFilter = "Audio files (*.wav *.flac *.ogg *.opus *.mp3 *.aif *.aiff)";
const char* const kAllFilesFilter = "All files (*)";
const char* const kMidiOpenFilter = "MIDI Files (*.mid *.midi)";

const std::string kAskCreateSettings =
    "Lirrosa has no settings yet. Create them now with their built-in values?";

// Hints of the controls, with the keys that do the same.
const std::map<std::string, QString> kHints = {
    {"ibtn_Convert", "Select MIC or FILE and click for conversion (Space)"},
    {"ibtn_Stop", "Stop (Space)"},
    {"ibtn_Play", "Play  (P)"},
    {"ibtn_In", "Record Settings"},
    {"ibtn_Out", "Playback Settings"},
    {"ibtn_SaveAs", "Saving : (a) converted voice as raw MIDI data; (b) voice in audio file (Ctrl+S)"},
    {"ibtn_Export", "Export of converted voice to ..."},
    {"ibtn_Help", "Help (F1)"},
    {"ibtn_Close", "Close (Ctrl+Q)"},
    {"ibtn_Finish", "Recognition of melody and conversion of raw MIDI data to MIDI notes sequence"},
    {"ibtn_Edit", "Edit notes"},
    {"ibtn_About", "About"},
    {"ibtn_PlayPB", "Play RAW Notes"},
    {"ibtn_PlayNT", "Play Notes"},
};

const char* const kButtonNames[kMainButtonCount] = {
    "ibtn_Convert", "ibtn_Stop", "ibtn_Play", "ibtn_SaveAs", "ibtn_Export", "ibtn_Finish", "ibtn_Edit",
    "ibtn_Mic",     "ibtn_File", "ibtn_MIDI", "ibtn_WAVE",   "ibtn_PlayNT", "ibtn_PlayPB"};
const char* const kLampNames[kLampCount] = {"ind_Mic", "ind_File", "ind_MIDI", "ind_WAVE"};

// Initial looks of the check buttons that do not start at rest.
const std::map<std::string, tag_ButtonState> kInitialStates = {
    {"ind_File", bsDisable}, {"ind_WAVE", bsDisable}, {"ibtn_PlayPB", bsDisable}, {"ibtn_PlayNT", bsDisable}};

QImage loadPicture(const QString& folder, const QString& file)
{
    return QImage(folder + file);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& geometry, Qt::Alignment alignment,
                  const QColor& colour, bool bold, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
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

bool endsWith(const std::string& name, const char* ending)
{
    return QString::fromStdString(name).endsWith(ending, Qt::CaseInsensitive);
}

} // namespace

SaveChoice saveChoiceFor(const std::string& name, bool midiFilterShown)
{
    SaveKind kind = midiFilterShown ? SaveKind::Midi : SaveKind::Wave;
    if (endsWith(name, ".mid"))
        kind = SaveKind::Midi;
    else if (endsWith(name, ".wav"))
        kind = SaveKind::Wave;
    return SaveChoice{name, kind};
}

TfMain::TfMain(WaveDriver& waveDriver)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), waveDriver_(waveDriver)
{
    setObjectName("fMain");
    setWindowTitle("Lirrosa");
    setFixedSize(kMainFaceWidth, kMainFaceHeight);
    move(kDesignLeft, kDesignTop);
    QFont formFont("MS Sans Serif");
    formFont.setPointSize(8);
    setFont(formFont);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::gray);
    setPalette(palette);
    // The face is painted inside its rounded outline only; outside it the window is clear.
    setAttribute(Qt::WA_TranslucentBackground);

    skin_ = new TSkinForm(this);
    skin_->setObjectName("SkinForm");
    skin_->SetRegionType(rtRoundRectangle);
    skin_->SetRegion(kMainFaceRegion);
    createControls();
    createLabels();
    help_ = new HelpViewer(this);
    diagram_ = std::make_unique<VoiceDiagram>(*mfd_, *playPos_);

    loop_.setHandler(this);
    controller_ = std::make_unique<ConversionController>(*this, *this, loop_, waveDriver);
    setting_ = new TfSetting(*this, waveDriver, this);
    editor_ = new TfDisplay(this, *this);
    editor_->prepare();
    connectCommands();
    createShortcuts();
}

TfMain::~TfMain()
{
    shutDown();
}

void TfMain::createControls()
{
    for (const SkinControl& control : kMainSkinControls) {
        const std::string name = control.name;
        if (control.kind == SkinControlKind::Image) {
            QWidget* image = nullptr;
            if (name == "ind_Level") {
                level_ = new LevelMeter(this);
                image = level_;
            } else {
                auto* label = new QLabel(this);
                label->setAttribute(Qt::WA_TransparentForMouseEvents);
                image = label;
                if (name == "ind_PlayPos")
                    playPos_ = label;
                else
                    imgSilv_ = label;
            }
            image->setObjectName(control.name);
            image->setGeometry(control.left, control.top, control.width, control.height);
            image->setVisible(name == "ind_Level");
            continue;
        }
        TImageButton* button = control.kind == SkinControlKind::CheckButton ? new TCheckImageButton(this)
                                                                            : new TImageButton(this);
        button->setObjectName(control.name);
        button->setGeometry(control.left, control.top, control.width, control.height);
        button->SetRegionType(rtRectangle);
        button->SetRegion(control.region);
        const auto initial = kInitialStates.find(name);
        if (initial != kInitialStates.end())
            button->SetState(initial->second);
        const auto hint = kHints.find(name);
        if (hint != kHints.end())
            button->setToolTip(hint->second);
        if (name == "ibtn_About")
            button->setCursor(Qt::PointingHandCursor);
        buttons_[name] = button;
        const bool lampControl = name.rfind("ind_", 0) == 0;
        button->SetEnabled(control.quorrEnabled);
        if (!lampControl)
            showDisabledLook(button, control.quorrEnabled);
    }
    mfd_ = new TMFD(this);
    mfd_->setObjectName("MFD");
    mfd_->setGeometry(kDisplayLeft, kDisplayTop, kDisplayWidth, kDisplayHeight);
    mfd_->SpectrPagePitchHeight = kDisplayPitchHeight;
    mfd_->SetActiveScreen(fpSpectrPage);
    // The marker lies over the display's top edge.
    playPos_->raise();
}

void TfMain::createLabels()
{
    labels_["i_Time"] = makeLabel(this, "i_Time", QRect(440, 169, 49, 13), Qt::AlignRight, kAqua, false, "00:00:00");
    labels_["i_State"] = makeLabel(this, "i_State", QRect(184, 169, 81, 13), Qt::AlignHCenter, kAqua, false, "");
    labels_["i_Input"] = makeLabel(this, "i_Input", QRect(280, 169, 153, 13), Qt::AlignLeft, kAqua, false, "mic");
    labels_["i_Note"] = makeLabel(this, "i_Note", QRect(64, 168, 33, 13), Qt::AlignHCenter, kLime, true, " ");
}

template <typename Command>
void TfMain::runCommand(Command command)
{
    ++commandDepth_;
    command();
    if (--commandDepth_ == 0 && closePending_) {
        closePending_ = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TfMain::connectCommands()
{
    ConversionController* c = controller_.get();
    const auto on = [this](const char* name, auto handler) {
        connect(buttons_.at(name), &TImageButton::OnClick, this, [this, handler] { runCommand(handler); });
    };
    for (const char* name : {"ibtn_Mic", "ibtn_File", "ind_Mic", "ind_File"})
        on(name, [c] { c->ibtn_MicClick(); });
    for (const char* name : {"ibtn_MIDI", "ind_MIDI"})
        on(name, [c] { c->ibtn_MIDIClick(); });
    for (const char* name : {"ibtn_WAVE", "ind_WAVE"})
        on(name, [c] { c->ibtn_WAVEClick(); });
    on("ibtn_Convert", [this] { convert(); });
    on("ibtn_Stop", [c] { c->ibtn_StopClick(); });
    on("ibtn_Play", [c] { c->ibtn_PlayClick(); });
    on("ibtn_Finish", [c] { c->ibtn_FinishClick(); });
    on("ibtn_PlayNT", [c] { c->ibtn_PlayNTClick(); });
    on("ibtn_PlayPB", [c] { c->ibtn_PlayPBClick(); });
    on("ibtn_SaveAs", [c] { c->ibtn_SaveAsClick(); });
    connect(buttons_.at("ibtn_PlayNT"), &TImageButton::OnDblClick, this,
            [this, c] { runCommand([c] { c->ibtn_PlayNTDblClick(); }); });
    on("ibtn_Minimize", [this] { ibtn_MinimizeClick(); });
    on("ibtn_Close", [this] { ibtn_CloseClick(); });
    on("ibtn_In", [this] { ibtn_InClick(); });
    on("ibtn_Out", [this] { ibtn_OutClick(); });
    on("ibtn_Help", [this] { ibtn_HelpClick(); });
    on("ibtn_About", [this] { ibtn_AboutClick(); });
    on("ibtn_Setting", [this] { ibtn_SettingClick(); });
    on("ibtn_Export", [this] { ibtn_ExportClick(); });
    on("ibtn_Edit", [this] { ibtn_EditClick(); });
    connect(mfd_, &TMFD::OnMouseDown, this,
            [this](Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
                MFDMouseDown(button, shift, x, y);
            });
    connect(mfd_, &TMFD::OnMouseMove, this,
            [this](Qt::KeyboardModifiers shift, int x, int y) { MFDMouseMove(shift, x, y); });
}

void TfMain::createShortcuts()
{
    const auto add = [this](const QKeySequence& keys, auto action) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, action] { runCommand(action); });
    };
    add(QKeySequence(Qt::Key_Space), [this] { convertOrStop(); });
    add(QKeySequence(Qt::Key_P), [this] { controller_->ibtn_PlayClick(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { controller_->ibtn_SaveAsClick(); });
    add(QKeySequence(Qt::Key_F1), [this] { help_->showTopic(kHelpMainWindow); });
    add(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_O), [this] { openMidiFile(); });
}

void TfMain::convert()
{
    if (!buttonEnabled(MainButton::Convert))
        return;
    controller_->ibtn_ConvertClick();
    explainTakeFailure();
}

void TfMain::convertOrStop()
{
    if (controller_->isStopped())
        convert();
    else
        controller_->ibtn_StopClick();
}

void TfMain::explainTakeFailure()
{
    std::string text;
    switch (controller_->lastTakeFailure()) {
    case TakeFailure::None:
    case TakeFailure::Declined:
        return;
    case TakeFailure::Recorder:
        text = "No microphone can be opened (" + std::string(controller_->recorderTrace().text) +
               "). Connect one, or choose FILE to convert a wave file.";
        break;
    case TakeFailure::File:
        text = std::string("This file cannot be converted: ") + describeWaveRefusal(controller_->lastFileRefusal()) + ".";
        break;
    case TakeFailure::Format:
        text = "The sound of this file cannot be analysed: it needs 8- or 16-bit samples.";
        break;
    case TakeFailure::Player:
        text = "The sound output for the WAVE echo cannot be opened (" + std::string(controller_->playerTrace().text) +
               "). Click WAVE to convert without the echo.";
        break;
    case TakeFailure::MidiOut:
        text = "The MIDI output for the echo and the metronome cannot be opened. Click MIDI to convert without "
               "the echo, or choose another MIDI output in the settings.";
        break;
    }
    showError(text);
}

// ---- Start-up and shutdown ----

bool TfMain::startUp()
{
    if (!controller_->startUp() && !(offerSetup() && controller_->startUp()))
        return false;
    help_->setFolder(QString::fromStdString(settingsStore.installPath) + "Help/");
    placeAt(settingsStore.left, settingsStore.top);
    loadSkin();
    setting_->FormCreate(skinFolder_);
    showLevel(nullptr);
    if (export_ == nullptr)
        export_ = new TfExport(*this, this);
    return true;
}

// After "Please run Lirrosa Setup": creates the settings as the setup does, when the user
// agrees. False when the user declines or the setup fails.
bool TfMain::offerSetup()
{
    if (userNotifier().show(kAskCreateSettings, "Lirrosa", MessageIcon::Question, MessageButtons::YesNo) !=
        MessageAnswer::Yes)
        return false;
    std::ostringstream out;
    std::ostringstream err;
    if (runSetup(SetupOptions{}, findResourceFolder(), out, err) != 0) {
        showError("The settings could not be created: " + err.str());
        return false;
    }
    return true;
}

void TfMain::placeAt(int left, int top)
{
    const QRect wanted(left, top, width(), height());
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersects(wanted.adjusted(0, 0, -width() / 2, -height() / 2))) {
            move(left, top);
            return;
        }
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect area = primary != nullptr ? primary->availableGeometry() : QRect(0, 0, width(), height());
    move(area.left() + std::max(0, (area.width() - width()) / 2), area.top() + std::max(0, (area.height() - height()) / 2));
}

// The skin's face and the pictures of its controls; a picture the skin lacks is named in one
// message, and the window goes on without it.
void TfMain::loadSkin()
{
    skinFolder_ = QString::fromStdString(settingsStore.skinsPath + settingsStore.skin + "/");
    QStringList missing;
    const auto picture = [&](const QString& file) {
        QImage image = loadPicture(skinFolder_, file);
        if (image.isNull())
            missing << file;
        return image;
    };
    const QImage face = picture(kMainFaceFile);
    skin_->SetImage(&face);
    for (const SkinControl& control : kMainSkinControls) {
        const QImage image = picture(QString(control.name) + ".bmp");
        if (image.isNull())
            continue;
        const std::string name = control.name;
        if (name == "ind_Level")
            level_->SetPicture(image);
        else if (name == "ind_PlayPos")
            playPos_->setPixmap(QPixmap::fromImage(image));
        else if (name == "imgSilv") {
            imgSilv_->setPixmap(QPixmap::fromImage(image));
            editor_->setHeaderPicture(imgSilv_->pixmap());
        }
        else
            buttons_.at(name)->SetPicture(&image);
    }
    for (const char* icon : kEditorIconFiles)
        picture(icon);
    editor_->setIcons(skinFolder_);
    const QImage spectrum = picture(kSpectrumPageFile);
    mfd_->SetSpectrPageBg(&spectrum);
    skin_->SetActive(true);
    mfd_->Clear();
    if (!missing.isEmpty())
        showError("The skin " + skinFolder_.toStdString() + " lacks these pictures: " +
                  missing.join(", ").toStdString() + ". Run Lirrosa Setup again to install the BASE skin.");
}

void TfMain::closeEvent(QCloseEvent* event)
{
    if (commandDepth_ > 0) {
        closePending_ = true;
        controller_->ibtn_StopClick();
        event->ignore();
        return;
    }
    shutDown();
    event->accept();
    QCoreApplication::quit();
}

void TfMain::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        skin_->SetActive(true);
    QWidget::changeEvent(event);
}

// Saves the window's place, then closes the recorder, the player and the MIDI output and
// frees what the devices give back, before any control of the window goes.
void TfMain::shutDown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    if (SettingsInstalled())
        SaveWindowPosition(x(), y());
    loop_.beginShutdown();
    delete editor_;
    editor_ = nullptr;
    controller_.reset();
    loop_.setHandler(nullptr);
}

// ---- Commands of the window ----

void TfMain::ibtn_MinimizeClick()
{
    showMinimized();
}

void TfMain::ibtn_CloseClick()
{
    close();
}

// "Record Settings" shows the devices; "Playback Settings" the page of the echo chosen now.
void TfMain::ibtn_InClick()
{
    setting_->toggleBesideMainWindow(*this, TfSetting::kPageWave);
}

void TfMain::ibtn_OutClick()
{
    setting_->toggleBesideMainWindow(*this, lampLook(Lamp::Wave) == kLampOn ? TfSetting::kPageWave
                                                                            : TfSetting::kPageMidi);
}

void TfMain::ibtn_HelpClick()
{
    help_->showTopic(kHelpContents);
}

void TfMain::ibtn_AboutClick()
{
    showAboutBox(this);
}

void TfMain::ibtn_SettingClick()
{
    setting_->toggleBesideMainWindow(*this);
}

void TfMain::ibtn_ExportClick()
{
    if (!buttons_.at("ibtn_Export")->QuorrEnabled() || controller_->notes().count == 0 || export_ == nullptr)
        return;
    if (export_->isVisible()) {
        export_->hide();
        return;
    }
    export_->setNotes(&controller_->notes());
    export_->move(x() + width() / 2, y() + height() / 2);
    export_->show();
    export_->raise();
}

// ---- The export window's side ----

bool TfMain::exportListenFromRingtonePage() const
{
    return export_ != nullptr && export_->listenTag() == kListenRingtone;
}

void TfMain::exportPrepareForTake()
{
    export_->prepareForTake();
}

void TfMain::exportRingtoneFromRecognition()
{
    export_->setNotes(&controller_->notes());
    export_->RingtoneFromRecognition();
}

void TfMain::exportResetListen()
{
    export_->resetListen();
}

// "Listen": MIDI playback of the recognised notes, then Play. A playback that does not
// start leaves "Listen" ready.
void TfMain::exportPlay()
{
    setLampLook(Lamp::Wave, kLampOff);
    setLampLook(Lamp::Midi, kLampOn);
    setButtonLook(MainButton::PlayPB, kLookEnabled);
    setButtonLook(MainButton::PlayNT, kLookChecked);
    runCommand([this] { controller_->ibtn_PlayClick(); });
    if (controller_->isStopped())
        export_->resetListen();
}

void TfMain::exportStop()
{
    runCommand([this] { controller_->ibtn_StopClick(); });
}

// The export window's "MIDI Settings": the settings window's MIDI page, beside the export window.
void TfMain::toggleMidiSettings(QWidget* beside)
{
    if (beside != nullptr)
        setting_->toggleBesideExportDialog(*beside);
    else
        ibtn_SettingClick();
}

void TfMain::ibtn_EditClick()
{
    if (!buttons_.at("ibtn_Edit")->QuorrEnabled())
        return;
    if (editor_->isVisible()) {
        editor_->hide();
        return;
    }
    placeEditor();
    refreshEditor();
    editor_->show();
}

// Just below the main window, moved up to end at the bottom of the screen when it would not fit.
void TfMain::placeEditor()
{
    const QScreen* shown = screen();
    const QRect area = shown != nullptr ? shown->availableGeometry() : QRect(0, 0, 1024, 768);
    const QRect face = frameGeometry();
    int top = face.bottom() + 1;
    if (top + editor_->height() > area.bottom() + 1)
        top = std::max(area.top(), area.bottom() + 1 - editor_->height());
    editor_->move(face.left(), top);
}

bool TfMain::editorVisible() const
{
    return editor_ != nullptr && editor_->isVisible();
}

void TfMain::hideEditor()
{
    if (editor_ != nullptr)
        editor_->hide();
}

void TfMain::refreshEditor()
{
    if (editor_ != nullptr)
        editor_->refresh();
}

void TfMain::followInEditor(int32_t ticks)
{
    if (!editorVisible())
        return;
    const bool paged = editor_->followPlay();
    editor_->update(paged ? kDisplayStartFlags : kDisplayMarkerOnly, ticks);
}

// A closed output opens on the MIDI output chosen in the settings.
MidiOut& TfMain::auditionOut()
{
    MidiOut& out = controller_->midiOut();
    if (!out.isOpen)
        out.deviceId = static_cast<uint32_t>(deviceIdFromIndex(midiOutEntry()));
    return out;
}

void TfMain::showHelpTopic(int context)
{
    help_->showTopic(context);
}

void TfMain::openMidiFile()
{
    if (!controller_->isStopped())
        return;
    QFileDialog dialog(this, "Open MIDI File", QString::fromStdString(startFolder()));
    dialog.setObjectName("dlg_MidiFile");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(kMidiOpenFilter);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString chosen = dialog.selectedFiles().first();
    lastFolder_ = QFileInfo(chosen).absolutePath().toStdString();
    runCommand([this, chosen] { loadMidiFile(chosen.toStdString()); });
}

// The file's notes, trimmed so that none overlaps the next, replace the take; the editor
// shows them. A file that cannot be read changes nothing and is explained.
bool TfMain::loadMidiFile(const std::string& path)
{
    SmfContents contents;
    std::string error;
    if (!readMidiFile(path, contents, error)) {
        showError("This MIDI file cannot be opened: " + error);
        return false;
    }
    NoteSequence loaded;
    SongSettings song = songSettings;
    if (!notesFromMidiFile(contents, loaded, song) || (removeOverlaps(loaded), loaded.count == 0)) {
        showError("This MIDI file has no notes to edit.");
        return false;
    }
    const SongSettings before = songSettings;
    songSettings = song;
    if (!controller_->loadNotes(loaded)) {
        songSettings = before;
        return false;
    }
    editor_->view.create(songSettings);
    if (!editor_->isVisible())
        placeEditor();
    refreshEditor();
    editor_->show();
    return true;
}

// A click on the note strip, while nothing runs, moves the marker to the note under it.
void TfMain::MFDMouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)
{
    if (!controller_->isStopped() || y >= mfd_->SpectrPagePitchHeight)
        return;
    const NoteSequence& notes = controller_->notes();
    const float ticksPerFrame = controller_->midiOut().ticksPerFrame;
    const int32_t found = diagram_->noteAtColumn(x, notes, ticksPerFrame);
    if (found < 0 || ticksPerFrame <= 0)
        return;
    const int32_t position = static_cast<int32_t>(notes[found].start / ticksPerFrame);
    controller_->setCurrentPosition(position);
    diagram_->moveMarker(position);
    editor_->selectNote(found, -1, nullptr, true);
}

void TfMain::MFDMouseMove(Qt::KeyboardModifiers, int, int y)
{
    mfd_->setCursor(y < mfd_->SpectrPagePitchHeight ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TfMain::SetDiagramPosition(int32_t, int32_t b, uint32_t flags)
{
    const float ticksPerFrame = controller_->midiOut().ticksPerFrame;
    const int32_t position = (flags & 2) && ticksPerFrame > 0 ? static_cast<int32_t>(b / ticksPerFrame) : b;
    controller_->setCurrentPosition(position);
    diagram_->setPosition(position, controller_->notes(), ticksPerFrame);
    loop_.target().post(UM_POSITION, static_cast<WPARAM>(static_cast<intptr_t>(position * ticksPerFrame)),
                        static_cast<LPARAM>(kPositionReposition));
}

// ---- What the controller reads ----

TImageButton* TfMain::button(MainButton which) const
{
    return buttons_.at(kButtonNames[static_cast<size_t>(which)]);
}

TCheckImageButton* TfMain::lamp(Lamp which) const
{
    return static_cast<TCheckImageButton*>(buttons_.at(kLampNames[static_cast<size_t>(which)]));
}

QLabel* TfMain::label(const char* name) const
{
    const auto found = labels_.find(name);
    return found != labels_.end() ? found->second : nullptr;
}

bool TfMain::buttonEnabled(MainButton which) const
{
    return button(which)->QuorrEnabled();
}

uint8_t TfMain::buttonLook(MainButton which) const
{
    return button(which)->State();
}

uint8_t TfMain::lampLook(Lamp which) const
{
    return lamp(which)->State();
}

bool TfMain::dontRemindOfSaving() const
{
    return setting_->cb_SaveCurData_Off->isChecked();
}

bool TfMain::metronomeEnabled() const
{
    return setting_->cb_MetronOn->isChecked();
}

uint8_t TfMain::metronomeNote() const
{
    return setting_->metronomeNote();
}

uint8_t TfMain::metronomeVolume() const
{
    return static_cast<uint8_t>(setting_->metronomeVolume());
}

bool TfMain::mergeShortPitchDeviations() const
{
    return setting_->cb_FDO_m8bs->isChecked();
}

RecognitionEngine TfMain::recognitionEngine() const
{
    return setting_->cb_PreciseEngine->isChecked() ? RecognitionEngine::Precise : RecognitionEngine::Classic;
}

bool TfMain::voiceDiagramDisabled() const
{
    return setting_->cb_Draw_RT_Off->isChecked();
}

int32_t TfMain::waveInEntry() const
{
    return setting_->lb_IWD->currentRow();
}

int32_t TfMain::waveOutEntry() const
{
    return setting_->lb_OWD->currentRow();
}

int32_t TfMain::midiOutEntry() const
{
    return setting_->lb_OMD->currentRow();
}

// ---- What the controller does to the window ----

void TfMain::setButtonEnabled(MainButton which, bool enabled)
{
    TImageButton* control = button(which);
    control->SetEnabled(enabled);
    showDisabledLook(control, enabled);
}

void TfMain::showDisabledLook(QWidget* control, bool enabled)
{
    if (enabled) {
        control->setGraphicsEffect(nullptr);
        return;
    }
    if (control->graphicsEffect() != nullptr)
        return;
    auto* faded = new QGraphicsOpacityEffect(control);
    faded->setOpacity(kDisabledOpacity);
    control->setGraphicsEffect(faded);
}

void TfMain::setButtonLook(MainButton which, uint8_t look)
{
    button(which)->SetState(static_cast<tag_ButtonState>(look));
}

void TfMain::setLampLook(Lamp which, uint8_t look)
{
    lamp(which)->SetState(static_cast<tag_ButtonState>(look));
}

void TfMain::showPlayMarker(bool atLeftEdge)
{
    if (atLeftEdge)
        playPos_->move(mfd_->x(), playPos_->y());
    playPos_->show();
}

void TfMain::setStateLabel(const std::string& text)
{
    labels_.at("i_State")->setText(QString::fromStdString(text));
}

void TfMain::setStateLabelColour(LabelColour colour)
{
    const QColor shown = colour == LabelColour::Aqua ? kAqua : QColor(Qt::black);
    labels_.at("i_State")->setStyleSheet(QString("color: %1; background: transparent;").arg(shown.name()));
}

void TfMain::setInputLabel(const std::string& text)
{
    labels_.at("i_Input")->setText(QString::fromStdString(text));
}

void TfMain::setTimeLabel(const std::string& text)
{
    labels_.at("i_Time")->setText(QString::fromStdString(text));
}

void TfMain::setNoteLabel(const std::string& text)
{
    labels_.at("i_Note")->setText(QString::fromStdString(text));
}

void TfMain::setLevelScale(float fullScale)
{
    diagram_->setLevelScale(fullScale);
}

void TfMain::showLevel(const VoicedFrame* frame)
{
    level_->showLevel(frame, diagram_->levelScale());
}

void TfMain::resetDiagram()
{
    diagram_->reset();
}

void TfMain::addLiveColumn(const VoicedFrame* frame)
{
    diagram_->addLiveColumn(frame);
}

void TfMain::updatePage(int32_t frame, uint32_t flags)
{
    if ((flags & kPositionReposition) && (flags & kPositionResetDiagram))
        controller_->setCurrentPosition(0);
    diagram_->updatePage(frame, flags, controller_->currentPosition(), controller_->notes(),
                         controller_->midiOut().ticksPerFrame);
}

std::string TfMain::startFolder() const
{
    if (!lastFolder_.empty())
        return lastFolder_;
    if (!settingsStore.workPath.empty() && QDir(QString::fromStdString(settingsStore.workPath)).exists())
        return settingsStore.workPath;
    return QDir::homePath().toStdString();
}

std::optional<std::string> TfMain::chooseTakeFile()
{
    QFileDialog dialog(this, "Open", QString::fromStdString(startFolder()));
    dialog.setObjectName("dlg_IFile");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({kWaveFilter, kAudioFilter, kAllFilesFilter});
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = dialog.selectedFiles().first();
    lastFolder_ = QFileInfo(chosen).absolutePath().toStdString();
    return chosen.toStdString();
}

std::optional<SaveChoice> TfMain::chooseSaveFile()
{
    QFileDialog dialog(this, "Save As", QString::fromStdString(startFolder()));
    dialog.setObjectName("dlg_OFile");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({kWaveFilter, kMidiFilter});
    dialog.setDefaultSuffix("wav");
    // The ending of the shown filter is added to a name typed without one, so that the
    // overwrite question is asked of the file that will be written.
    connect(&dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog](const QString& filter) { dialog.setDefaultSuffix(filter == kMidiFilter ? "mid" : "wav"); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = dialog.selectedFiles().first();
    lastFolder_ = QFileInfo(chosen).absolutePath().toStdString();
    return saveChoiceFor(chosen.toStdString(), dialog.selectedNameFilter() == kMidiFilter);
}

// ---- Messages and timers ----

void TfMain::handleMessage(const WindowMessage& message)
{
    if (controller_)
        controller_->handleMessage(message);
}

void TfMain::handleTimer(TimerId timer)
{
    if (controller_)
        controller_->handleTimer(timer);
}

// ---- What the settings dialog uses ----

MidiOut& TfMain::midiOut()
{
    return controller_->midiOut();
}

bool TfMain::hasRawTrack() const
{
    return controller_->notes().raw != nullptr;
}

bool TfMain::analyserRunning() const
{
    return controller_->isAnalysing();
}

bool TfMain::playMarkerVisible() const
{
    return !playPos_->isHidden();
}

void TfMain::postPosition(int32_t position, uint32_t flags)
{
    loop_.target().post(UM_POSITION, static_cast<WPARAM>(static_cast<intptr_t>(position)), static_cast<LPARAM>(flags));
}

void TfMain::finish()
{
    runCommand([this] { controller_->ibtn_FinishClick(); });
}

void TfMain::settingsClosed()
{
    buttons_.at("ibtn_Setting")->SetState(bsEnable);
}
