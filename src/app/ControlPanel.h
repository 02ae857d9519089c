#pragma once
// The main window's controls as plain values, without a window: the command line drives
// the conversion controller through it, and the tests read what the controller did to
// it. It starts as the window starts: microphone and MIDI echo selected, the buttons that
// need a take disabled.

#include <array>
#include <optional>
#include <string>

#include "app/ControllerSeam.h"

struct ButtonControl {
    bool enabled = true;
    uint8_t look = kLookEnabled;
};

class ControlPanel : public ControllerControls, public ControllerWindow {
public:
    ControlPanel();

    ButtonControl& button(MainButton which) { return buttons[static_cast<size_t>(which)]; }
    uint8_t& lamp(Lamp which) { return lamps[static_cast<size_t>(which)]; }

    // The controls.
    std::array<ButtonControl, kMainButtonCount> buttons;
    std::array<uint8_t, kLampCount> lamps;
    bool dontRemind = false;
    bool metronomeOn = false;
    uint8_t metronomeSound = kSideStickNote;
    uint8_t metronomeLevel = 60;
    bool mergeShortDeviations = true;
    RecognitionEngine engine = RecognitionEngine::Classic;
    bool diagramOff = false;
    int32_t waveInList = 0;
    int32_t waveOutList = 0;
    int32_t midiOutList = 0;
    // What the dialogs answer.
    std::optional<std::string> takeFile;
    std::optional<SaveChoice> saveChoice;

    // What the window shows.
    std::string stateLabel;
    LabelColour stateColour = LabelColour::Aqua;
    std::string inputLabel = "mic";
    std::string timeLabel = "00:00:00";
    std::string noteLabel = " ";
    bool editorShown = false;

    // ControllerControls
    bool buttonEnabled(MainButton which) const override { return buttons[static_cast<size_t>(which)].enabled; }
    uint8_t buttonLook(MainButton which) const override { return buttons[static_cast<size_t>(which)].look; }
    uint8_t lampLook(Lamp which) const override { return lamps[static_cast<size_t>(which)]; }
    bool dontRemindOfSaving() const override { return dontRemind; }
    bool metronomeEnabled() const override { return metronomeOn; }
    uint8_t metronomeNote() const override { return metronomeSound; }
    uint8_t metronomeVolume() const override { return metronomeLevel; }
    bool mergeShortPitchDeviations() const override { return mergeShortDeviations; }
    RecognitionEngine recognitionEngine() const override { return engine; }
    bool voiceDiagramDisabled() const override { return diagramOff; }
    int32_t waveInEntry() const override { return waveInList; }
    int32_t waveOutEntry() const override { return waveOutList; }
    int32_t midiOutEntry() const override { return midiOutList; }
    bool editorVisible() const override { return editorShown; }
    bool exportDialogPresent() const override { return false; }
    bool exportDialogVisible() const override { return false; }
    bool exportListenFromRingtonePage() const override { return false; }

    // ControllerWindow
    void setButtonEnabled(MainButton which, bool enabled) override { button(which).enabled = enabled; }
    void setButtonLook(MainButton which, uint8_t look) override { button(which).look = look; }
    void setLampLook(Lamp which, uint8_t look) override { lamp(which) = look; }
    void showPlayMarker(bool) override {}
    void setStateLabel(const std::string& text) override { stateLabel = text; }
    void setStateLabelColour(LabelColour colour) override { stateColour = colour; }
    void setInputLabel(const std::string& text) override { inputLabel = text; }
    void setTimeLabel(const std::string& text) override { timeLabel = text; }
    void setNoteLabel(const std::string& text) override { noteLabel = text; }
    void setLevelScale(float) override {}
    void showLevel(const VoicedFrame*) override {}
    void resetDiagram() override {}
    void addLiveColumn(const VoicedFrame*) override {}
    void updatePage(int32_t, uint32_t) override {}
    void followInEditor(int32_t) override {}
    void hideEditor() override { editorShown = false; }
    void refreshEditor() override {}
    std::optional<std::string> chooseTakeFile() override { return takeFile; }
    std::optional<SaveChoice> chooseSaveFile() override { return saveChoice; }
    void exportPrepareForTake() override {}
    void exportRingtoneFromRecognition() override {}
    void exportResetListen() override {}
    void takeAnalysed(const NoteSequence&) override {}
};
