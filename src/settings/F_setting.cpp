#include "settings/F_setting.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "app/ControllerSeam.h"
#include "midi/Midi_func.h"
#include "platform/MidiDevices.h"
#include "platform/UserNotifier.h"
#include "platform/WaveDevice.h"
#include "settings/My_registry.h"
#include "skin/MainSkinLayout.h"
#include "skin/Mfd.h"
#include "skin/Skinform.h"

namespace {

constexpr int kClientWidth = 222;
constexpr int kClientHeight = 331;
constexpr int kInstrumentCount = 128;
constexpr int kBendMaximum = 16383;
// The dialog's topic in the help.
constexpr int kHelpTopic = 3;
// Where a list entry keeps the stable name of its device, and a list the name of the
// device the user chose (which may be absent for a while).
constexpr int kDeviceKeyRole = Qt::UserRole;
constexpr const char* kChosenDeviceProperty = "chosenDevice";

std::string driverNotFound(uint32_t entry)
{
    return "Driver not found for " + std::to_string(entry);
}

std::string entryKey(const QListWidget* list, int entry)
{
    const QListWidgetItem* item = list->item(entry);
    return item != nullptr ? item->data(kDeviceKeyRole).toString().toStdString() : std::string();
}

std::string currentKey(const QListWidget* list)
{
    return entryKey(list, list->currentRow());
}

int entryWithKey(const QListWidget* list, const std::string& key)
{
    for (int entry = 1; entry < list->count(); ++entry)
        if (entryKey(list, entry) == key)
            return entry;
    return -1;
}

QPushButton* mixerButton(const char* name, QWidget* parent)
{
    auto* button = new QPushButton("Mixer", parent);
    button->setObjectName(name);
    return button;
}

QListWidget* deviceList(const char* name, QWidget* parent)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->addItem("Auto");
    list->setCurrentRow(0);
    return list;
}

} // namespace

int editNumber(const QLineEdit& edit)
{
    const std::string text = edit.text().toStdString();
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

// ---- NumberUpDown ----

NumberUpDown::NumberUpDown(QLineEdit& buddy, int minimum, int maximum, int increment, QWidget* parent)
    : QWidget(parent), buddy_(buddy), minimum_(minimum), maximum_(maximum), increment_(increment)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const int direction : {1, -1}) {
        auto* arrow = new QToolButton(this);
        arrow->setObjectName(direction > 0 ? "up" : "down");
        arrow->setArrowType(direction > 0 ? Qt::UpArrow : Qt::DownArrow);
        arrow->setAutoRepeat(true);
        arrow->setFixedSize(16, 11);
        connect(arrow, &QToolButton::clicked, this, [this, direction] { step(direction); });
        layout->addWidget(arrow);
    }
}

int NumberUpDown::position() const
{
    return std::clamp(editNumber(buddy_), minimum_, maximum_);
}

void NumberUpDown::setPosition(int value)
{
    buddy_.setText(QString::number(std::clamp(value, minimum_, maximum_)));
}

void NumberUpDown::step(int direction)
{
    setPosition(position() + direction * increment_);
}

// ---- Construction ----

TfSetting::TfSetting(SettingsHost& host, WaveDriver& waveDriver, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), host_(host), waveDriver_(waveDriver)
{
    setObjectName("fSetting");
    setWindowTitle("Settings...");
    setFixedSize(kClientWidth, kClientHeight);
    QFont formFont("MS Sans Serif");
    formFont.setPointSize(8);
    setFont(formFont);

    // Never activated: the dialog keeps its frame, and its background still drags it.
    skin_ = new TSkinForm(this);
    skin_->SetRegionType(rtRectangle);
    skin_->SetRegion("0 0 220 370");

    pc_Settings = new QTabWidget(this);
    pc_Settings->setObjectName("pc_Settings");
    pc_Settings->setGeometry(0, 0, 221, 305);
    pc_Settings->addTab(createGeneralPage(), "General");
    pc_Settings->addTab(createWavePage(), "WAVE");
    pc_Settings->addTab(createMidiPage(), "MIDI");

    b_SetAsDef = new QPushButton("Set Default", this);
    b_SetAsDef->setObjectName("b_SetAsDef");
    b_SetAsDef->setGeometry(4, 306, 90, 23);
    b_Help = new QPushButton("Help", this);
    b_Help->setObjectName("b_Help");
    b_Help->setGeometry(kClientWidth - 94, 306, 90, 23);
    connectHandlers();
}

TfSetting::~TfSetting()
{
    waveDriver_.watchDevices({});
}

QLineEdit* TfSetting::numberEdit(bool readOnly)
{
    auto* edit = new QLineEdit(this);
    edit->setReadOnly(readOnly);
    edit->setMaxLength(3);
    edit->setFixedWidth(44);
    // Digits only, also when text is pasted.
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    edit->installEventFilter(this);
    return edit;
}

QWidget* TfSetting::createGeneralPage()
{
    auto* page = new QWidget;
    page->setObjectName("ts_General");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(2);
    const auto group = [&](const char* title) {
        auto* box = new QGroupBox(title, page);
        auto* inner = new QVBoxLayout(box);
        inner->setContentsMargins(3, 0, 3, 0);
        inner->setSpacing(0);
        layout->addWidget(box);
        return box;
    };
    const auto check = [](QGroupBox* box, const char* name, const char* caption) {
        auto* control = new QCheckBox(caption, box);
        control->setObjectName(name);
        box->layout()->addWidget(control);
        return control;
    };

    QGroupBox* view = group(" View ");
    cb_Draw_RT_Off = check(view, "cb_Draw_RT_Off", "Disable Voice Diagram");
    cb_DblVDC = check(view, "cb_DblVDC", "Double Voice Diagram  Columns");
    cb_SaveCurData_Off = check(group(" Saving "), "cb_SaveCurData_Off", "Don't Remind of Saving");
    QGroupBox* recognition = group(" Note Recognition ");
    cb_FDO_m8bs = check(recognition, "cb_FDO_m8bs", "Merge Short Pitch Deviations");
    cb_FDO_m8bs->setChecked(true);
    cb_PreciseEngine = check(recognition, "cb_PreciseEngine", "Precise Recognition");
    cb_PreciseEngine->setToolTip("Recognise the notes from the recorded sound with the precise engine");

    auto* metronome = new QGroupBox("Metronome", page);
    metronome->setObjectName("gb_Metronome");
    auto* grid = new QGridLayout(metronome);
    grid->setContentsMargins(3, 0, 3, 0);
    cb_MetronOn = new QCheckBox("Enable ", metronome);
    cb_MetronOn->setObjectName("cb_MetronOn");
    cb_MetronOn->setChecked(true);
    grid->addWidget(cb_MetronOn, 0, 0);
    rb_SideCick = new QRadioButton("Side Cick", metronome);
    rb_SideCick->setObjectName("rb_SideCick");
    rb_SideCick->setProperty("Tag", kSideStickNote);
    rb_SideCick->setChecked(true);
    rb_Maracas = new QRadioButton("Maracas", metronome);
    rb_Maracas->setObjectName("rb_Maracas");
    rb_Maracas->setProperty("Tag", kMaracasNote);
    grid->addWidget(rb_SideCick, 0, 1);
    grid->addWidget(rb_Maracas, 1, 1);
    auto* volume = new QHBoxLayout;
    volume->addWidget(new QLabel("Volume", metronome));
    e_MetrVol = numberEdit(false);
    e_MetrVol->setObjectName("e_MetrVol");
    e_MetrVol->setParent(metronome);
    ud_MetrVol = new NumberUpDown(*e_MetrVol, 0, 127, 1, metronome);
    ud_MetrVol->setObjectName("ud_MetrVol");
    e_MetrVol->setText("60");
    volume->addWidget(e_MetrVol);
    volume->addWidget(ud_MetrVol);
    volume->addStretch();
    grid->addLayout(volume, 1, 0);
    layout->addWidget(metronome);
    layout->addStretch();
    return page;
}

QWidget* TfSetting::createWavePage()
{
    auto* page = new QWidget;
    page->setObjectName("ts_Wav");
    auto* layout = new QGridLayout(page);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->addWidget(new QLabel("Input device", page), 0, 0);
    b_IMixer = mixerButton("b_IMixer", page);
    layout->addWidget(b_IMixer, 0, 1, Qt::AlignRight);
    lb_IWD = deviceList("lb_IWD", page);
    layout->addWidget(lb_IWD, 1, 0, 1, 2);
    layout->addWidget(new QLabel("Output device", page), 2, 0);
    b_OMixer1 = mixerButton("b_OMixer1", page);
    layout->addWidget(b_OMixer1, 2, 1, Qt::AlignRight);
    lb_OWD = deviceList("lb_OWD", page);
    layout->addWidget(lb_OWD, 3, 0, 1, 2);
    return page;
}

QWidget* TfSetting::createMidiPage()
{
    auto* page = new QWidget;
    page->setObjectName("ts_Midi");
    auto* layout = new QGridLayout(page);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setVerticalSpacing(2);
    layout->addWidget(new QLabel("Output device", page), 0, 0, 1, 2);
    b_OMixer = mixerButton("b_OMixer", page);
    layout->addWidget(b_OMixer, 0, 2, 1, 2, Qt::AlignRight);
    lb_OMD = deviceList("lb_OMD", page);
    lb_OMD->setMaximumHeight(56);
    layout->addWidget(lb_OMD, 1, 0, 1, 4);
    layout->addWidget(new QLabel("MIDI Instrument", page), 2, 0, 1, 4);
    lb_Instr = new QListWidget(page);
    lb_Instr->setObjectName("lb_Instr");
    lb_Instr->setToolTip("Click for select new patch");
    layout->addWidget(lb_Instr, 3, 0, 1, 4);

    // Label, edit and up-down in two columns of two.
    const auto number = [&](const char* caption, const char* editName, const char* upDownName, bool readOnly,
                            int minimum, int maximum, int increment, int initial, int row, int column,
                            QLineEdit*& edit, NumberUpDown*& upDown) {
        auto* label = new QLabel(caption, page);
        label->setWordWrap(true);
        edit = numberEdit(readOnly);
        edit->setObjectName(editName);
        edit->setParent(page);
        upDown = new NumberUpDown(*edit, minimum, maximum, increment, page);
        upDown->setObjectName(upDownName);
        edit->setText(QString::number(initial));
        auto* pair = new QHBoxLayout;
        pair->setSpacing(0);
        pair->addWidget(edit);
        pair->addWidget(upDown);
        layout->addWidget(label, row, column);
        layout->addLayout(pair, row, column + 1);
    };
    number("Octave Shift", "e_Octave", "ud_Octave", true, -3, 3, 1, 0, 4, 0, e_Octave, ud_Octave);
    number("Volume", "e_Volume", "ud_Volume", false, 0, 127, 1, 100, 4, 2, e_Volume, ud_Volume);
    number("Ticks per    1/4 note", "e_tpqn", "up_tpqn", true, 48, 960, 24, 480, 5, 0, e_tpqn, up_tpqn);
    number("Tempo", "e_Tempo", "ud_Tempo", false, 10, 500, 1, 120, 5, 2, e_Tempo, ud_Tempo);
    // The octave shift may be negative.
    e_Octave->setValidator(nullptr);
    return page;
}

void TfSetting::connectHandlers()
{
    connect(b_IMixer, &QPushButton::clicked, this, [this] { b_IMixerClick(); });
    connect(b_OMixer1, &QPushButton::clicked, this, [this] { b_OMixerClick(); });
    connect(b_OMixer, &QPushButton::clicked, this, [this] { b_OMixerClick(); });
    connect(lb_Instr, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { lb_InstrClick(lb_Instr->row(item)); });
    connect(e_Octave, &QLineEdit::textChanged, this, [this] { e_OctaveChange(); });
    connect(e_Volume, &QLineEdit::textChanged, this, [this] { e_VolumeChange(); });
    connect(e_Tempo, &QLineEdit::textChanged, this, [this] { e_TempoChange(); });
    connect(e_tpqn, &QLineEdit::textChanged, this, [this] { e_tpqnChange(); });
    connect(e_MetrVol, &QLineEdit::textChanged, this, [this] { e_MetrVolChange(); });
    connect(cb_DblVDC, &QCheckBox::clicked, this, [this] { cb_DblVDCClick(); });
    connect(cb_FDO_m8bs, &QCheckBox::clicked, this, [this] { cb_FDO_m8bsClick(); });
    connect(cb_PreciseEngine, &QCheckBox::clicked, this, [this] { cb_FDO_m8bsClick(); });
    connect(b_SetAsDef, &QPushButton::clicked, this, [this] { b_SetAsDefClick(); });
    connect(b_Help, &QPushButton::clicked, this, [this] { b_HelpClick(); });
    // The user's choice of device (by mouse or keys) is what a refreshed list looks for; the
    // lists' own refills change their rows with their signals blocked.
    for (QListWidget* list : {lb_IWD, lb_OWD, lb_OMD})
        connect(list, &QListWidget::currentRowChanged, this, [list] {
            list->setProperty(kChosenDeviceProperty, QString::fromStdString(currentKey(list)));
        });
}

// Typed keys that give text pass only when they are digits or backspace.
bool TfSetting::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && qobject_cast<QLineEdit*>(watched) != nullptr) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        const bool typed = !text.isEmpty() && text.at(0).isPrint();
        if (typed && !(text.size() == 1 && text.at(0) >= '0' && text.at(0) <= '9'))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Creation ----

void TfSetting::FormCreate(const QString& skinFolder)
{
    const QImage background(skinFolder + kSettingsBackgroundFile);
    skin_->SetImage(&background);
    fillDeviceLists();

    int32_t midiOutIndex = 0;
    const bool songRead = AccessSongSettings(storedSongSettings, midiOutIndex, false);
    songSettings = storedSongSettings;
    if (songRead) {
        std::string name;
        RegAccessString(false, kMidiOutDevName, name, kSettingsKey);
        selectStoredDevice(lb_OMD, midiOutIndex, name);
    }
    int32_t waveIn = 0;
    int32_t waveOut = 0;
    if (AccessWaveDevices(waveIn, waveOut, false)) {
        std::string inName;
        std::string outName;
        RegAccessString(false, kWavInDevName, inName, kSettingsKey);
        RegAccessString(false, kWavOutDevName, outName, kSettingsKey);
        selectStoredDevice(lb_IWD, waveIn, inName);
        selectStoredDevice(lb_OWD, waveOut, outName);
    }

    fillInstrumentList();
    e_Octave->setText(QString::number(songSettings.octaveShift));
    e_tpqn->setText(QString::number(songSettings.tpqn));
    e_Tempo->setText(QString::number(songSettings.tempo));
    e_Volume->setText(QString::number(songSettings.volume));
    midiOut_ = &host_.midiOut();
    readFlags();

    const MetronomeSettings& metronome = settingsStore.metronome;
    cb_MetronOn->setChecked(metronome.enabled != 0);
    (metronome.sound == 1 ? rb_Maracas : rb_SideCick)->setChecked(true);
    ud_MetrVol->setPosition(metronome.volume);
    watchDevices();
}

void TfSetting::fillDeviceList(QListWidget* list, uint32_t count, const std::function<std::string(uint32_t)>& name,
                               const std::function<std::string(uint32_t)>& key)
{
    const QSignalBlocker quiet(list);
    list->clear();
    list->addItem("Auto");
    for (uint32_t id = 0; id < count; ++id) {
        const std::string shown = name(id);
        auto* item = new QListWidgetItem(QString::fromStdString(shown.empty() ? driverNotFound(id + 1) : shown));
        item->setData(kDeviceKeyRole, QString::fromStdString(key(id)));
        list->addItem(item);
    }
    list->setCurrentRow(0);
}

void TfSetting::fillDeviceLists()
{
    fillDeviceList(lb_IWD, waveDriver_.inputCount(), [this](uint32_t id) { return waveDriver_.inputName(id); },
                   [this](uint32_t id) { return waveDriver_.inputKey(id); });
    fillDeviceList(lb_OWD, waveDriver_.outputCount(), [this](uint32_t id) { return waveDriver_.outputName(id); },
                   [this](uint32_t id) { return waveDriver_.outputKey(id); });
    fillDeviceList(lb_OMD, midiOutDeviceCount(), midiOutDeviceName, midiOutDeviceKey);
}

// The device stored by its name when it is listed; otherwise the stored index when it is in
// the list, else "Auto". A named device that is not listed now stays the one looked for.
void TfSetting::selectStoredDevice(QListWidget* list, int32_t storedIndex, const std::string& storedName)
{
    const int entry = storedName.empty() ? storedDeviceEntry(storedIndex, list->count())
                                         : std::max(entryWithKey(list, storedName), 0);
    const QSignalBlocker quiet(list);
    list->setCurrentRow(entry);
    list->setProperty(kChosenDeviceProperty,
                      QString::fromStdString(storedName.empty() ? currentKey(list) : storedName));
}

void TfSetting::refreshDeviceLists()
{
    struct Choice {
        QListWidget* list;
        std::string chosen;
    };
    std::vector<Choice> choices;
    for (QListWidget* list : {lb_IWD, lb_OWD, lb_OMD})
        choices.push_back({list, list->property(kChosenDeviceProperty).toString().toStdString()});
    fillDeviceLists();
    for (const Choice& choice : choices) {
        const int entry = choice.chosen.empty() ? 0 : entryWithKey(choice.list, choice.chosen);
        const QSignalBlocker quiet(choice.list);
        choice.list->setCurrentRow(std::max(entry, 0));
    }
}

// While the dialog lives, a device that comes or goes lists the devices again.
void TfSetting::watchDevices()
{
    waveDriver_.watchDevices(
        [this] { QMetaObject::invokeMethod(this, [this] { refreshDeviceLists(); }, Qt::QueuedConnection); });
}

void TfSetting::fillInstrumentList()
{
    lb_Instr->clear();
    const std::string path = settingsStore.dataPath + "gmi.txt";
    std::ifstream file(path);
    if (!file)
        showError("Cannot open file " + path);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lb_Instr->addItem(QString::fromStdString(line));
    }
    loadedInstruments_ = lb_Instr->count();
    if (loadedInstruments_ < kInstrumentCount)
        for (int number = 1; number <= kInstrumentCount; ++number)
            lb_Instr->addItem(QString::number(number));
    const int patch = songSettings.patch;
    const int entry = patch < loadedInstruments_ ? patch : loadedInstruments_ + patch;
    if (entry >= 1)
        lb_Instr->scrollToItem(lb_Instr->item(entry - 1), QAbstractItemView::PositionAtTop);
    lb_Instr->setCurrentRow(entry);
}

void TfSetting::readFlags()
{
    int32_t disableDV = 0;
    int32_t width = 1;
    int32_t disableSaveRem = 0;
    int32_t mergeSPD = 1;
    int32_t engine = 0;
    RegAccessInteger(false, "DisableDV", disableDV, kSettingsKey);
    RegAccessInteger(false, "WidthDVC", width, kSettingsKey);
    RegAccessInteger(false, "DisableSaveRem", disableSaveRem, kSettingsKey);
    RegAccessInteger(false, "MergeSPD", mergeSPD, kSettingsKey);
    RegAccessInteger(false, "Engine", engine, kSettingsKey);
    TMFD& display = host_.voiceDiagramDisplay();
    display.SetTickWidth(static_cast<uint16_t>(std::clamp<int32_t>(width, 0, 0xFFFF)));
    if (display.TickWidth() > 2)
        display.SetTickWidth(1);
    cb_DblVDC->setChecked(display.TickWidth() > 1);
    cb_SaveCurData_Off->setChecked(disableSaveRem != 0);
    cb_Draw_RT_Off->setChecked(disableDV != 0);
    cb_FDO_m8bs->setChecked(mergeSPD != 0);
    cb_PreciseEngine->setChecked(engine != 0);
}

// ---- Showing and hiding ----

void TfSetting::toggleBesideMainWindow(const QWidget& mainWindow, int page)
{
    toggleAt(page, [this, &mainWindow] {
        const QRect main = mainWindow.frameGeometry();
        int left = main.left() - frameGeometry().width();
        if (left < 0)
            left = main.left() + main.width();
        return QPoint(left, main.top());
    });
}

void TfSetting::toggleBesideExportDialog(const QWidget& exportDialog)
{
    toggleAt(kPageMidi, [this, &exportDialog] {
        const QRect dialog = exportDialog.frameGeometry();
        return QPoint(dialog.left() - frameGeometry().width(), dialog.top());
    });
}

void TfSetting::toggleAt(int page, const std::function<QPoint()>& place)
{
    if (isVisible()) {
        if (page >= 0 && pc_Settings->currentIndex() != page)
            pc_Settings->setCurrentIndex(page);
        else
            hide();
        return;
    }
    if (page >= 0)
        pc_Settings->setCurrentIndex(page);
    move(place());
    show();
    raise();
    // The frame is known once the dialog is shown.
    move(place());
}

// The skin's face behind the pages; the skin itself stays inactive and paints nothing.
void TfSetting::paintEvent(QPaintEvent*)
{
    QPainter canvas(this);
    skin_->Draw(&canvas);
}

void TfSetting::showEvent(QShowEvent* event)
{
    refreshDeviceLists();
    QWidget::showEvent(event);
}

void TfSetting::closeEvent(QCloseEvent* event)
{
    skin_->SetActive(false);
    host_.settingsClosed();
    QWidget::closeEvent(event);
}

// ---- Handlers ----

void TfSetting::b_IMixerClick()
{
    OpenSystemMixer("-r");
}

void TfSetting::b_OMixerClick()
{
    OpenSystemMixer();
}

int TfSetting::programOfEntry(int entry) const
{
    // Beyond the loaded names come the numbered entries "1" ... "128".
    const int program = entry < loadedInstruments_ ? entry : entry - loadedInstruments_;
    return std::clamp(program, 0, kInstrumentCount - 1);
}

void TfSetting::lb_InstrClick(int entry)
{
    if (midiOut_ == nullptr || entry < 0)
        return;
    midiOut_->setPatch(0, static_cast<uint8_t>(programOfEntry(entry)), 0);
}

void TfSetting::e_OctaveChange()
{
    const int value = editNumber(*e_Octave);
    songSettings.octaveShift = static_cast<int8_t>(value);
    if (midiOut_ == nullptr || !midiOut_->isPlaying)
        return;
    // The playing notes move at once, within the bend's range.
    const float units = value * 12 * midiOut_->bendUnitsPerSemitone + static_cast<float>(kBendCentre);
    const int bend = std::clamp(static_cast<int>(std::trunc(units)), 0, kBendMaximum);
    const uint8_t channel = songSettings.channel & 0x0F;
    midiOut_->sendShort(static_cast<uint8_t>(0xE0 + channel), bend & 0x7F, (bend >> 7) & 0x7F);
}

void TfSetting::e_VolumeChange()
{
    if (midiOut_ != nullptr)
        midiOut_->setVolume(0, static_cast<uint8_t>(ud_Volume->position()));
}

void TfSetting::e_TempoChange()
{
    if (midiOut_ != nullptr)
        midiOut_->setTempo(ud_Tempo->position());
}

void TfSetting::e_tpqnChange()
{
    if (midiOut_ != nullptr)
        midiOut_->setTimeDivision(editNumber(*e_tpqn));
}

void TfSetting::e_MetrVolChange()
{
    if (midiOut_ != nullptr)
        midiOut_->setVolume(kPercussionChannel, static_cast<uint8_t>(ud_MetrVol->position()));
}

void TfSetting::cb_DblVDCClick()
{
    TMFD& display = host_.voiceDiagramDisplay();
    display.SetTickWidth(cb_DblVDC->isChecked() ? 2 : 1);
    if (!host_.hasRawTrack())
        return;
    if (host_.analyserRunning())
        display.Clear();
    else
        host_.postPosition(-1, host_.playMarkerVisible() ? 64 : 96);
}

void TfSetting::cb_FDO_m8bsClick()
{
    if (host_.hasRawTrack())
        host_.finish();
}

uint8_t TfSetting::metronomeNote() const
{
    return static_cast<uint8_t>((rb_Maracas->isChecked() ? rb_Maracas : rb_SideCick)->property("Tag").toInt());
}

int TfSetting::metronomeVolume() const
{
    return ud_MetrVol->position();
}

void TfSetting::b_SetAsDefClick()
{
    switch (pc_Settings->currentIndex()) {
    case kPageGeneral: {
        int32_t disableDV = cb_Draw_RT_Off->isChecked() ? 1 : 0;
        int32_t width = host_.voiceDiagramDisplay().TickWidth();
        int32_t disableSaveRem = cb_SaveCurData_Off->isChecked() ? 1 : 0;
        int32_t mergeSPD = cb_FDO_m8bs->isChecked() ? 1 : 0;
        int32_t engine = cb_PreciseEngine->isChecked() ? 1 : 0;
        RegAccessInteger(true, "DisableDV", disableDV, kSettingsKey);
        RegAccessInteger(true, "WidthDVC", width, kSettingsKey);
        RegAccessInteger(true, "DisableSaveRem", disableSaveRem, kSettingsKey);
        RegAccessInteger(true, "MergeSPD", mergeSPD, kSettingsKey);
        RegAccessInteger(true, "Engine", engine, kSettingsKey);
        MetronomeSettings& metronome = settingsStore.metronome;
        metronome.enabled = cb_MetronOn->isChecked() ? 1 : 0;
        metronome.sound = rb_Maracas->isChecked() ? 1 : 2;
        metronome.volume = static_cast<int16_t>(ud_MetrVol->position());
        std::string text = metronomeText(metronome);
        RegAccessString(true, "Metron", text, kSettingsKey);
        break;
    }
    case kPageWave: {
        int32_t waveIn = lb_IWD->currentRow();
        int32_t waveOut = lb_OWD->currentRow();
        if (AccessWaveDevices(waveIn, waveOut, true)) {
            std::string inName = currentKey(lb_IWD);
            std::string outName = currentKey(lb_OWD);
            RegAccessString(true, kWavInDevName, inName, kSettingsKey);
            RegAccessString(true, kWavOutDevName, outName, kSettingsKey);
        }
        break;
    }
    case kPageMidi: {
        storedSongSettings = songSettings;
        int32_t midiOut = lb_OMD->currentRow();
        SongSettings current = songSettings;
        if (AccessSongSettings(current, midiOut, true)) {
            std::string name = currentKey(lb_OMD);
            RegAccessString(true, kMidiOutDevName, name, kSettingsKey);
        }
        break;
    }
    default:
        break;
    }
}

void TfSetting::b_HelpClick()
{
    host_.showHelpTopic(kHelpTopic);
}
