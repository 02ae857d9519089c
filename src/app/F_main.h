#pragma once
// TfMain: the program's main window. A borderless, skinned face of 548 x 290 pixels with
// image buttons, indicator lamps, labels for state, input, time and the sung note, the
// level meter and the voice diagram on the multi-function display. The conversion
// controller decides what happens; the window shows it through ControllerWindow, answers
// what the controller reads through ControllerControls, delivers the posted window
// messages and timers on Qt's event loop, and hands its clicks to the controller. It owns the
// settings dialog, whose controls are the settings the controller reads.

#include <QImage>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/ControllerSeam.h"
#include "app/ConversionController.h"
#include "app/QtMessageLoop.h"
#include "app/VoiceDiagram.h"
#include "settings/F_setting.h"
#include "editor/F_display.h"
#include "export/F_export.h"

class HelpViewer;
class LevelMeter;
class QLabel;
class TCheckImageButton;
class TImageButton;
class TMFD;
class TSkinForm;

// The kind of file a save-dialog choice writes: a typed ".mid" or ".wav" ending decides,
// whichever filter is shown; otherwise the shown filter.
SaveChoice saveChoiceFor(const std::string& name, bool midiFilterShown);

class TfMain : public QWidget,
               public ControllerControls,
               public ControllerWindow,
               public MessageHandler,
               public EditorHost,
               public SettingsHost,
               public ExportHost {
public:
    explicit TfMain(WaveDriver& waveDriver = systemWaveDriver());
    ~TfMain() override;

    // The start of the program: the settings check (offering to create the settings when
    // there are none), the start-up settings, the window's place, the skin and the help
    // topics. False when the program must end.
    bool startUp();

    // Commands of the window that do not belong to the controller.
    void ibtn_MinimizeClick();
    void ibtn_CloseClick();
    void ibtn_InClick();
    void ibtn_OutClick();
    void ibtn_HelpClick();
    void ibtn_AboutClick();
    void ibtn_SettingClick();
    void ibtn_ExportClick();
    void ibtn_EditClick();
    void MFDMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void MFDMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    // Moves the diagram to a position (ticks with flag 2, else frames) and redraws it there.
    void SetDiagramPosition(int32_t a, int32_t b, uint32_t flags) override;

    // Convert, and a sentence for the user when no take could start.
    void convert();
    // The shortcuts: Space starts a take or stops what runs, P plays, Ctrl+S saves, F1
    // opens the help, Ctrl+Q closes.
    void convertOrStop();

    ConversionController& controller() { return *controller_; }
    QtMessageLoop& loop() { return loop_; }
    VoiceDiagram& diagram() { return *diagram_; }
    TImageButton* button(MainButton which) const;
    TCheckImageButton* lamp(Lamp which) const;
    TMFD* display() const { return mfd_; }
    QLabel* label(const char* name) const;
    QLabel* playMarker() const { return playPos_; }
    LevelMeter* levelMeter() const { return level_; }
    TSkinForm* skin() const { return skin_; }
    HelpViewer* helpViewer() const { return help_; }
    TfSetting* settings() const { return setting_; }
    // The skin folder in use, ending in '/'.
    const QString& skinFolder() const { return skinFolder_; }

    // Places the window at (left, top), or on the primary screen when that place would
    // leave it on no screen.
    void placeAt(int left, int top);

    // ControllerControls
    bool buttonEnabled(MainButton which) const override;
    uint8_t buttonLook(MainButton which) const override;
    uint8_t lampLook(Lamp which) const override;
    bool dontRemindOfSaving() const override;
    bool metronomeEnabled() const override;
    uint8_t metronomeNote() const override;
    uint8_t metronomeVolume() const override;
    bool mergeShortPitchDeviations() const override;
    RecognitionEngine recognitionEngine() const override;
    bool voiceDiagramDisabled() const override;
    int32_t waveInEntry() const override;
    int32_t waveOutEntry() const override;
    int32_t midiOutEntry() const override;
    bool editorVisible() const override;
    bool exportDialogPresent() const override { return export_ != nullptr; }
    bool exportDialogVisible() const override { return export_ != nullptr && export_->isVisible(); }
    bool exportListenFromRingtonePage() const override;

    // ControllerWindow
    void setButtonEnabled(MainButton which, bool enabled) override;
    void setButtonLook(MainButton which, uint8_t look) override;
    void setLampLook(Lamp which, uint8_t look) override;
    void showPlayMarker(bool atLeftEdge) override;
    void setStateLabel(const std::string& text) override;
    void setStateLabelColour(LabelColour colour) override;
    void setInputLabel(const std::string& text) override;
    void setTimeLabel(const std::string& text) override;
    void setNoteLabel(const std::string& text) override;
    void setLevelScale(float fullScale) override;
    void showLevel(const VoicedFrame* frame) override;
    void resetDiagram() override;
    void addLiveColumn(const VoicedFrame* frame) override;
    void updatePage(int32_t frame, uint32_t flags) override;
    void followInEditor(int32_t ticks) override;
    void hideEditor() override;
    void refreshEditor() override;
    std::optional<std::string> chooseTakeFile() override;
    std::optional<SaveChoice> chooseSaveFile() override;
    void exportPrepareForTake() override;
    void exportRingtoneFromRecognition() override;
    void exportResetListen() override;
    void takeAnalysed(const NoteSequence&) override {}

    // EditorHost
    NoteSequence& editedNotes() override { return controller_->notes(); }
    MidiOut& auditionOut() override;
    bool editingAllowed() const override { return controller_->isStopped(); }
    void showHelpTopic(int context) override;
    // Asks for a MIDI file (Ctrl+O) and makes its notes the current ones, shown in the editor.
    void openMidiFile() override;
    TfDisplay* editor() const { return editor_; }

    // ExportHost
    void exportPlay() override;
    void exportStop() override;
    MidiOut& exportMidiOut() override { return controller_->midiOut(); }
    void toggleMidiSettings(QWidget* beside) override;

    // The export window, made at start-up; null before.
    TfExport* exportDialog() const { return export_; }

    // MessageHandler: the posted messages and the timers go to the controller.
    void handleMessage(const WindowMessage& message) override;
    void handleTimer(TimerId timer) override;

    // SettingsHost
    MidiOut& midiOut() override;
    TMFD& voiceDiagramDisplay() override { return *mfd_; }
    bool hasRawTrack() const override;
    bool analyserRunning() const override;
    bool playMarkerVisible() const override;
    void postPosition(int32_t position, uint32_t flags) override;
    void finish() override;
    // showHelpTopic: as for the editor.
    void settingsClosed() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void createControls();
    void createLabels();
    void connectCommands();
    void createShortcuts();
    bool offerSetup();
    void explainTakeFailure();
    void loadSkin();
    void shutDown();
    void placeEditor();
    bool loadMidiFile(const std::string& path);
    // Runs a command of the controller. A close asked for while a command runs (a file
    // take feeds inside its command) presses Stop and closes once the command is done.
    template <typename Command>
    void runCommand(Command command);
    void showDisabledLook(QWidget* control, bool enabled);
    std::string startFolder() const;

    QtMessageLoop loop_;
    TSkinForm* skin_ = nullptr;
    TMFD* mfd_ = nullptr;
    QLabel* playPos_ = nullptr;
    LevelMeter* level_ = nullptr;
    QLabel* imgSilv_ = nullptr;
    std::map<std::string, TImageButton*> buttons_;
    std::map<std::string, QLabel*> labels_;
    HelpViewer* help_ = nullptr;
    TfExport* export_ = nullptr;
    TfDisplay* editor_ = nullptr;
    std::unique_ptr<VoiceDiagram> diagram_;
    TfSetting* setting_ = nullptr;
    QString skinFolder_;
    std::string lastFolder_;
    WaveDriver& waveDriver_;
    std::unique_ptr<ConversionController> controller_;
    int commandDepth_ = 0;
    bool closePending_ = false;
    bool shutDown_ = false;
};
