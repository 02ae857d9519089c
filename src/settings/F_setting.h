#pragma once
// TfSetting: the settings dialog "Settings...". A small tool window on top with the pages
// General (view, saving, recognition and metronome options), WAVE (input and output device)
// and MIDI (output device, instrument, octave shift, volume, ticks per quarter note, tempo),
// and the buttons "Set Default" and "Help". The MIDI values act at once on the MIDI output
// and the current song settings; the main window reads the other controls when it needs
// them. Nothing is stored until "Set Default", which stores the page that is showing.
//
// The device lists show "Auto" (the system's default device) first, then the devices of the
// sound server and the MIDI outputs. Beside each stored list index the dialog stores the
// device's own name, so that a stored choice finds its device again when the devices are
// listed in another order.

#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class MidiOut;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;
class TMFD;
class TSkinForm;
class WaveDriver;

// What the dialog needs of the main window.
class SettingsHost {
public:
    virtual ~SettingsHost() = default;

    virtual MidiOut& midiOut() = 0;
    // The multi-function display that shows the voice diagram.
    virtual TMFD& voiceDiagramDisplay() = 0;
    virtual bool hasRawTrack() const = 0;
    virtual bool analyserRunning() const = 0;
    virtual bool playMarkerVisible() const = 0;
    // Posts the play-position message (UM_POSITION) to the main window.
    virtual void postPosition(int32_t position, uint32_t flags) = 0;
    // Runs recognition again, as the main window's "Finish".
    virtual void finish() = 0;
    virtual void showHelpTopic(int context) = 0;
    // The dialog was closed by its own frame.
    virtual void settingsClosed() = 0;
};

// An up-down control beside an edit: its arrows step the number in the edit within a range
// (the edit's text changes, and with it whatever follows the edit).
class NumberUpDown : public QWidget {
public:
    NumberUpDown(QLineEdit& buddy, int minimum, int maximum, int increment, QWidget* parent);

    // The edit's number (leading digits with an optional sign, 0 when there are none)
    // limited to the range.
    int position() const;
    void setPosition(int value);
    // One increment up (+1) or down (-1) from the position.
    void step(int direction);
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }

private:
    QLineEdit& buddy_;
    const int minimum_;
    const int maximum_;
    const int increment_;
};

// The number at the start of an edit's text, as the C library reads it: leading digits with
// an optional sign; 0 when there are none.
int editNumber(const QLineEdit& edit);

class TfSetting : public QWidget {
public:
    enum Page { kPageGeneral = 0, kPageWave = 1, kPageMidi = 2 };

    TfSetting(SettingsHost& host, WaveDriver& waveDriver, QWidget* parent);
    ~TfSetting() override;

    // Fills the controls from the devices and the stored settings, and takes the background
    // from the skin folder (once, at start-up).
    void FormCreate(const QString& skinFolder);

    // Shows or hides the dialog beside the main window: its right edge at the main window's
    // left edge, or at the main window's right edge when there is no room on the left.
    // A page other than -1 is selected; when the dialog shows another page it is switched to
    // that page instead of being hidden.
    void toggleBesideMainWindow(const QWidget& mainWindow, int page = -1);
    // The export dialog's "MIDI Settings": beside the export dialog, on the MIDI page.
    void toggleBesideExportDialog(const QWidget& exportDialog);

    // Handlers. "Disable Voice Diagram", "Merge Short Pitch Deviations" and "Precise
    // Recognition" are their check boxes; the main window reads them. A change of either
    // recognition option recognises the take again (cb_FDO_m8bsClick).
    void b_IMixerClick();
    void b_OMixerClick();
    void lb_InstrClick(int entry);
    void e_OctaveChange();
    void e_VolumeChange();
    void e_TempoChange();
    void e_tpqnChange();
    void e_MetrVolChange();
    void cb_DblVDCClick();
    void cb_FDO_m8bsClick();
    void b_SetAsDefClick();
    void b_HelpClick();

    // Fills the device lists again, keeping each list's chosen device where it is still listed.
    void refreshDeviceLists();

    // The MIDI program that an entry of the instrument list selects.
    int programOfEntry(int entry) const;
    // The metronome's percussion note: the Tag of the chosen sound.
    uint8_t metronomeNote() const;
    int metronomeVolume() const;

    QTabWidget* pc_Settings = nullptr;
    QCheckBox* cb_Draw_RT_Off = nullptr;
    QCheckBox* cb_DblVDC = nullptr;
    QCheckBox* cb_SaveCurData_Off = nullptr;
    QCheckBox* cb_FDO_m8bs = nullptr;
    QCheckBox* cb_PreciseEngine = nullptr; // the Engine setting
    QCheckBox* cb_MetronOn = nullptr;
    QLineEdit* e_MetrVol = nullptr;
    NumberUpDown* ud_MetrVol = nullptr;
    QRadioButton* rb_SideCick = nullptr;
    QRadioButton* rb_Maracas = nullptr;
    QListWidget* lb_IWD = nullptr;
    QPushButton* b_IMixer = nullptr;
    QListWidget* lb_OWD = nullptr;
    QPushButton* b_OMixer1 = nullptr;
    QListWidget* lb_OMD = nullptr;
    QPushButton* b_OMixer = nullptr;
    QListWidget* lb_Instr = nullptr;
    QLineEdit* e_Octave = nullptr;
    NumberUpDown* ud_Octave = nullptr;
    QLineEdit* e_Volume = nullptr;
    NumberUpDown* ud_Volume = nullptr;
    QLineEdit* e_tpqn = nullptr;
    NumberUpDown* up_tpqn = nullptr;
    QLineEdit* e_Tempo = nullptr;
    NumberUpDown* ud_Tempo = nullptr;
    QPushButton* b_SetAsDef = nullptr;
    QPushButton* b_Help = nullptr;
    TSkinForm* skin() const { return skin_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* createGeneralPage();
    QWidget* createWavePage();
    QWidget* createMidiPage();
    QLineEdit* numberEdit(bool readOnly);
    void connectHandlers();
    void fillDeviceList(QListWidget* list, uint32_t count, const std::function<std::string(uint32_t)>& name,
                        const std::function<std::string(uint32_t)>& key);
    void fillDeviceLists();
    void selectStoredDevice(QListWidget* list, int32_t storedIndex, const std::string& storedName);
    void fillInstrumentList();
    void readFlags();
    // Shows the dialog at the place `place` gives (its frame's top-left corner), or hides it.
    void toggleAt(int page, const std::function<QPoint()>& place);
    void watchDevices();

    SettingsHost& host_;
    WaveDriver& waveDriver_;
    MidiOut* midiOut_ = nullptr;
    TSkinForm* skin_ = nullptr;
    int loadedInstruments_ = 0;
};
