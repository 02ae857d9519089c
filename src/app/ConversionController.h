#pragma once
// The controller side of the main window: it runs a take (from the microphone or a wave
// file, with no echo, a MIDI echo of the sung pitch or the WAVE sound itself), feeds every
// 28 ms chunk to the pitch analyser, stops, recognises the melody, plays the result back
// (raw notes, notes, ringtone or the recorded sound) and saves it.
//
// Threads: every command, timer and message handler runs on the window thread, as does the
// feeding of a file take. The wave-in driver thread runs the data callback of a microphone
// take, the wave-out driver thread the playback done callback, one player thread plays
// MIDI. They hand work to the window thread only by posting messages to the loop's target;
// the take state they touch is set up before a device starts and read after it stops.
//
// Free of Qt: the window is reached through ControllerControls and ControllerWindow, the
// timers and messages through a MessageLoop.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "analysis/Tv2m.h"
#include "app/ControllerSeam.h"
#include "audio/M_stack.h"
#include "audio/Wav_func.h"
#include "midi/Midi_func.h"
#include "notes/Tv2m_data.h"
#include "platform/MessageLoop.h"

class ConversionController;

// A time in milliseconds as the window shows it, minutes:seconds:hundredths ("01:05:43").
std::string timeText(int32_t ms);

// The window's timers.
constexpr TimerId kTimer1 = 1;    // blinks the state label during a take; polls the MIDI position
constexpr TimerId kTimerMetr = 2; // the metronome
constexpr std::chrono::milliseconds kTimer1Idle{777};
constexpr std::chrono::milliseconds kTimer1MidiPoll{28};

// A microphone take holds 60 seconds of the microphone format.
constexpr uint32_t kMicrophoneStoreBytes = 2646000;
constexpr int kRecordingBuffers = 5;
constexpr int kPrimedPlaybackChunks = 3;

// Echo during a take, and the playback type during a playback (same codes).
enum EchoMode : int8_t { EchoNone = 0, EchoWave = 1, EchoMidi = 2 };

// UM_POSITION flags.
constexpr uint32_t kPositionReposition = 0x40;
constexpr uint32_t kPositionResetDiagram = 0x20;

// Texts the user sees.
inline const char* const kAskDiscardTake = "Current recorded data will be lost!\nContinue?";
// The box shown when the MIDI output of the echo fails during a take: these two around the
// device's own text.
inline const std::string kEchoEndedText = "The MIDI echo has ended: ";
inline const std::string kTakeGoesOnText = " The take goes on and is kept.";
inline const char* const kCannotPlayMidi = "Cannot play MIDI sequence!";
inline const char* const kCannotPlayWave = "Cannot play WAVE data!";
inline const char* const kNoPlaybackType = "Playback type not specified!";
inline const char* const kWriteError = "Write error!";

// Why the last Convert started no take: declined (the discard question answered No, the
// file dialog cancelled), or the device, file or format that failed.
enum class TakeFailure : uint8_t { None, Declined, Recorder, File, Format, Player, MidiOut };

// The recorder and the player know their controller, so that the driver callbacks reach
// the take state.
class TakeRecorder : public WaveRecorder {
public:
    TakeRecorder(WaveDriver& driver, ConversionController& owner) : WaveRecorder(driver), owner(owner) {}
    ConversionController& owner;
};

class TakePlayer : public WavePlayer {
public:
    TakePlayer(WaveDriver& driver, ConversionController& owner) : WavePlayer(driver), owner(owner) {}
    ConversionController& owner;
};

class ConversionController : public MessageHandler {
public:
    // The loop's owner hands its messages and timers to handleMessage and handleTimer (a
    // PumpedMessageLoop is given the controller as its handler). The loop must outlive
    // the controller.
    ConversionController(ControllerControls& controls, ControllerWindow& window, MessageLoop& loop,
                         WaveDriver& waveDriver = systemWaveDriver());
    // Shuts down: closes the recorder, the player and the MIDI output, waits for the
    // player thread, and frees the buffers the devices gave back.
    ~ConversionController() override;
    ConversionController(const ConversionController&) = delete;
    ConversionController& operator=(const ConversionController&) = delete;

    // The desktop program's start: false (after "Please run Lirrosa Setup") when the
    // settings are not installed; otherwise loads the start-up settings and finds the
    // web browser.
    bool startUp();

    // Commands of the window.
    void ibtn_MicClick();
    void ibtn_MIDIClick();
    void ibtn_WAVEClick();
    // Starts a take. A file take returns only when the file has been fed or Stop ended it.
    void ibtn_ConvertClick();
    void ibtn_StopClick();
    void ibtn_PlayClick();
    void ibtn_FinishClick();
    void ibtn_PlayNTClick();
    void ibtn_PlayPBClick();
    void ibtn_PlayNTDblClick();
    void ibtn_SaveAsClick();
    void Timer1Timer();
    void TimerMetrTimer();

    // Takes notes from elsewhere (a MIDI file) in place of the take, which has no sound
    // and no raw track then; they are chosen for playback. Only while stopped; false
    // (nothing changed) otherwise or when there are no notes.
    bool loadNotes(const NoteSequence& source);

    void handleMessage(const WindowMessage& message) override;
    void handleTimer(TimerId timer) override;

    // What the window and the front ends read.
    const NoteSequence& notes() const { return notes_; }
    // For the parts that work on the notes while the controller is stopped (the editor,
    // the export dialog, the command line's outputs).
    NoteSequence& notes() { return notes_; }
    const SampleStore& store() const { return store_; }
    const WAVEFORMATEX& takeFormat() const { return takeFormat_; }
    MidiOut& midiOut() { return midiOut_; }
    // The last device step of the recorder and of the player, with the device's text.
    const WaveTrace& recorderTrace() const { return recorder_.lastTrace; }
    const WaveTrace& playerTrace() const { return player_.lastTrace; }
    bool isStopped() const { return stopped_; }
    bool isAnalysing() const { return analyser_.active; }
    bool inputIsMicrophone() const { return inputIsMicrophone_; }
    EchoMode echoMode() const { return echoMode_; }
    int32_t currentPosition() const { return currentPosition_; }
    // The window moves the shown position: a click on the diagram's note strip, the editor.
    void setCurrentPosition(int32_t position) { currentPosition_ = position; }
    // Frames fed to the analyser in the current or last take.
    int32_t analysedFrames() const { return analysedFrames_; }
    // Why the last file chosen for a take was not loaded; None when it was.
    WaveRefusal lastFileRefusal() const { return lastFileRefusal_; }
    // The device's error text when a wave device failed during the last take or playback
    // and so ended it, or when the microphone opened but would not start; empty when the
    // take or playback ended otherwise.
    const std::string& deviceFailure() const { return deviceFailure_; }
    TakeFailure lastTakeFailure() const { return lastTakeFailure_; }
    VoicedFrame newestVoicedFrame() const;

private:
    friend void recordedBuffer(WaveRecorder*, uint8_t*, uint32_t, uint32_t, uint32_t);
    friend void playedBuffer(WavePlayer*, uint8_t*, uint32_t, uint32_t, uint32_t);

    // Convert.
    void startTake();
    bool prepareTake();
    bool failTake(TakeFailure why);
    bool openRecorder();
    bool loadInput();
    bool openEcho();
    void abandonTake();
    bool askToDiscardTake() const;

    // Driver threads.
    void onRecordedBuffer(uint8_t* data, uint32_t length);
    void onPlayedBuffer(uint32_t length);
    void issueFileChunk(uint32_t length);
    void postChunkCopy(uint32_t length);
    uint8_t* copyFromStore(uint32_t position, uint32_t length) const;
    void publishVoicedFrame();
    // The MIDI echo of the take, unless it has ended; a device failure ends it (the
    // output is gone, as when its JACK server stopped) and the window says why.
    void echoMidiFrame();

    // Window thread.
    void feedFile();
    void stop();
    void finishTake();
    void recogniseTake();
    // Recognises the take with the chosen engine; false when no note resulted.
    bool recogniseNotes(bool takeEnded);
    bool startPlayback(EchoMode type);
    bool startWavePlayback();
    bool startMidiPlayback();
    void showPosition(int32_t w, uint32_t flags);
    void resetDisplay(bool postPosition);
    void onBufferReturned(const WindowMessage& message);
    void endOnDeviceFailure(const WaveTrace& trace);
    void onPlayChunk(uint8_t* chunk, uint32_t length);
    void onMidiPosition(WPARAM ticks, LPARAM kind);
    void showEchoEnded();
    void closeMidiOut();
    // From Play until the player thread has ended: set before the thread starts, so that
    // Stop pressed at any moment ends the playback.
    bool midiPlaybackRunning() const { return midiOut_.playerThread.load() != nullptr; }
    void saveWave(std::string name);
    void saveMidi(std::string name);
    void drainReturnedBuffers();

    // Button sets of the window's states.
    void showConvertButtons();
    void showPlayButtons();
    void showStoppedButtons();

    uint32_t deviceOfEntry(int32_t entry) const;
    bool lampOn(Lamp lamp) const { return controls_.lampLook(lamp) == kLampOn; }
    uint32_t chunkBytes() const { return audioChunkBytes(takeFormat_); }

    ControllerControls& controls_;
    ControllerWindow& window_;
    MessageLoop& loop_;

    // Owned members, created in this order and destroyed in the reverse.
    TakeRecorder recorder_;
    TakePlayer player_;
    WAVEFORMATEX takeFormat_ = kMicrophoneFormat;
    NoteSequence notes_;
    PitchAnalyser analyser_;
    MidiOut midiOut_;
    std::atomic<bool> stopped_{true};

    // The take.
    SampleStore store_;
    std::atomic<uint32_t> playPosition_{0};
    std::atomic<bool> inputIsMicrophone_{true};
    std::atomic<EchoMode> echoMode_{EchoNone};
    std::atomic<bool> firstEchoPending_{false};
    std::atomic<bool> midiEchoEnded_{false};
    std::string midiEchoFailure_; // written once before UM_MIDI_ECHO_ENDED is posted
    std::atomic<int32_t> currentPosition_{0};

    // Counts the takes started, so that a feeding loop knows its own.
    uint32_t takeNumber_ = 0;
    // The analyser ran in the take now being finished.
    bool takeAnalysed_ = false;
    int32_t analysedFrames_ = 0;
    WaveRefusal lastFileRefusal_ = WaveRefusal::None;
    std::string deviceFailure_;
    TakeFailure lastTakeFailure_ = TakeFailure::None;
    std::chrono::milliseconds timer1Interval_ = kTimer1Idle;
    bool stateLabelAqua_ = false;
    bool shuttingDown_ = false;

    // The newest voiced frame, published by whichever thread feeds the analyser.
    mutable std::mutex voicedLock_;
    VoicedFrame voiced_;
};
