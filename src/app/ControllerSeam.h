#pragma once
// What the conversion controller needs of its window, in two small interfaces:
// ControllerControls is what it reads from the controls of the main window and the
// settings dialog, ControllerWindow what it does to the window. The desktop window
// implements both with its widgets; the command line implements them for a terminal.
// Message boxes go through userNotifier() (platform/UserNotifier.h), the program's one
// way to show a box; the timers and the message queue belong to the MessageLoop.

#include <cstdint>
#include <optional>
#include <string>

#include "analysis/PreciseEngine.h"
#include "notes/Tv2m_data.h"

// The image buttons whose enabled flag (QuorrEnabled) or look the controller uses.
enum class MainButton : uint8_t { Convert, Stop, Play, SaveAs, Export, Finish, Edit, Mic, File, Midi, Wave, PlayNT, PlayPB };
constexpr int kMainButtonCount = 13;

// The indicator lamps of the input (microphone or file) and the echo (MIDI or WAVE).
enum class Lamp : uint8_t { Mic, File, Midi, Wave };
constexpr int kLampCount = 4;

// Looks of a check button, numbered as in its picture strip.
constexpr uint8_t kLookEnabled = 0;
constexpr uint8_t kLookDisabled = 3;
constexpr uint8_t kLookChecked = 4;

// A lamp in look 0 is selected; 1 (or 3, as at start) is not.
constexpr uint8_t kLampOn = 0;
constexpr uint8_t kLampOff = 1;

// The percussion notes of the two metronome sounds.
constexpr uint8_t kMaracasNote = 70;
constexpr uint8_t kSideStickNote = 37;

enum class LabelColour : uint8_t { Black, Aqua };

// The newest voiced frame of a running take, as the display shows it.
struct VoicedFrame {
    int32_t frame = -1; // analysis frame index; -1 when nothing is voiced yet
    float pitch = 0;    // fractional MIDI note number
    int16_t level = 0;
};

// The file and the format chosen in the save dialog.
enum class SaveKind : uint8_t { Wave = 1, Midi = 2 };
struct SaveChoice {
    std::string name;
    SaveKind kind = SaveKind::Wave;
};

class ControllerControls {
public:
    virtual ~ControllerControls() = default;

    // The button's QuorrEnabled flag: a click on a button without it does nothing.
    virtual bool buttonEnabled(MainButton button) const = 0;
    virtual uint8_t buttonLook(MainButton button) const = 0;
    virtual uint8_t lampLook(Lamp lamp) const = 0;

    // Settings dialog: "Don't Remind of Saving", the metronome ("Enable ", the checked
    // sound's percussion note, its volume 0..127), "Merge Short Pitch Deviations",
    // "Disable Voice Diagram", and the entries chosen in the three device lists (entry 0
    // is the system's default device, entry i is device i - 1).
    virtual bool dontRemindOfSaving() const = 0;
    virtual bool metronomeEnabled() const = 0;
    virtual uint8_t metronomeNote() const = 0;
    virtual uint8_t metronomeVolume() const = 0;
    virtual bool mergeShortPitchDeviations() const = 0;
    // The Engine setting: which engine recognises a take once its input has ended.
    virtual RecognitionEngine recognitionEngine() const { return RecognitionEngine::Classic; }
    virtual bool voiceDiagramDisabled() const = 0;
    virtual int32_t waveInEntry() const = 0;
    virtual int32_t waveOutEntry() const = 0;
    virtual int32_t midiOutEntry() const = 0;

    // The editor window and the export dialog.
    virtual bool editorVisible() const = 0;
    virtual bool exportDialogPresent() const = 0;
    virtual bool exportDialogVisible() const = 0;
    // The export dialog's Listen button started the playback from its ringtone page.
    virtual bool exportListenFromRingtonePage() const = 0;
};

class ControllerWindow {
public:
    virtual ~ControllerWindow() = default;

    virtual void setButtonEnabled(MainButton button, bool enabled) = 0;
    virtual void setButtonLook(MainButton button, uint8_t look) = 0;
    virtual void setLampLook(Lamp lamp, uint8_t look) = 0;
    // The play-position marker: shown at the left edge of the display, or where it was.
    virtual void showPlayMarker(bool atLeftEdge) = 0;

    // Labels: the state ("", "conversion", "playback"), the input, the shown time and the
    // sung note.
    virtual void setStateLabel(const std::string& text) = 0;
    virtual void setStateLabelColour(LabelColour colour) = 0;
    virtual void setInputLabel(const std::string& text) = 0;
    virtual void setTimeLabel(const std::string& text) = 0;
    virtual void setNoteLabel(const std::string& text) = 0;

    // The level meter and the voice diagram. A take's levels are scaled by the display
    // against `fullScale`; a null frame paints the meter black (also "clear").
    virtual void setLevelScale(float fullScale) = 0;
    virtual void showLevel(const VoicedFrame* frame) = 0;
    // Clears the diagram and its page bookkeeping (the window's part of a display reset).
    virtual void resetDiagram() = 0;
    // One live column during a take: the frame's level and colour, or a blank column.
    virtual void addLiveColumn(const VoicedFrame* frame) = 0;
    // Outside a take: the page that holds `frame` (flags as in UM_POSITION).
    virtual void updatePage(int32_t frame, uint32_t flags) = 0;
    // The editor follows the play position (in ticks).
    virtual void followInEditor(int32_t ticks) = 0;

    // The editor window: hidden at the start of a take, refreshed (reset, prepared, shown
    // from position 0) for a playback.
    virtual void hideEditor() = 0;
    virtual void refreshEditor() = 0;

    // The open dialog for a take's wave file ("WAVE Files (*.wav)|*.wav"); nothing when
    // cancelled.
    virtual std::optional<std::string> chooseTakeFile() = 0;
    // The save dialog ("WAVE Files (*.wav)|*.wav|MIDI Files (*.mid)|*.mid").
    virtual std::optional<SaveChoice> chooseSaveFile() = 0;

    // The export dialog: a new take clears its notes and pending ringtone data, finishes
    // an online ringtone request under way and puts its tempo back; a recognition gives it
    // the new ringtone; a stop resets its Listen button.
    virtual void exportPrepareForTake() = 0;
    virtual void exportRingtoneFromRecognition() = 0;
    virtual void exportResetListen() = 0;

    // A take has been analysed: its raw track, as analysed, before clean-up and
    // recognition change it.
    virtual void takeAnalysed(const NoteSequence& notes) = 0;
};
