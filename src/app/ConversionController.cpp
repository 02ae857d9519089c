#include "app/ConversionController.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "midi/MidiTime.h"
#include "midi/SmfWriter.h"
#include "midi/Tv2m_treads.h"
#include "notes/NoteNames.h"
#include "notes/Tksds.h"
#include "platform/UserNotifier.h"
#include "platform/WindowMessages.h"
#include "settings/My_registry.h"

namespace {

using std::chrono::milliseconds;

constexpr uint8_t kClickVelocity = 100;
// How long shutting down waits for a MIDI player thread to leave.
constexpr milliseconds kPlayerLeaveLimit{1000};
constexpr size_t kInputLabelNameChars = 15;

constexpr MainButton kTakeDisabledButtons[] = {MainButton::Convert, MainButton::Play,   MainButton::Wave,
                                               MainButton::Midi,    MainButton::Mic,    MainButton::File,
                                               MainButton::SaveAs,  MainButton::Export, MainButton::Finish,
                                               MainButton::Edit};
constexpr MainButton kPlayDisabledButtons[] = {MainButton::Convert, MainButton::Play, MainButton::Wave,
                                               MainButton::Midi,    MainButton::Mic,  MainButton::File,
                                               MainButton::SaveAs,  MainButton::Export};
constexpr MainButton kStoppedEnabledButtons[] = {MainButton::Wave, MainButton::Midi, MainButton::Mic,
                                                 MainButton::File, MainButton::Convert};
constexpr MainButton kTakeButtons[] = {MainButton::SaveAs, MainButton::Export, MainButton::Finish,
                                       MainButton::PlayPB};

// Where the character after the first `characters` characters of UTF-8 text begins;
// the text's size when it is shorter. Continuation bytes (10xxxxxx) belong to the
// character before them.
size_t utf8CharacterEnd(const std::string& text, size_t characters)
{
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<uint8_t>(text[i]) & 0xC0) != 0x80 && seen++ == characters)
            return i;
    }
    return text.size();
}

// "file: " and the file's name without its folder, cut to 15 characters with "...".
std::string fileInputLabel(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t cut = utf8CharacterEnd(name, kInputLabelNameChars);
    if (cut < name.size())
        name = name.substr(0, cut) + "...";
    return "file: " + name;
}

WPARAM positionParam(int32_t position)
{
    return static_cast<WPARAM>(static_cast<intptr_t>(position));
}

int32_t positionOf(WPARAM param)
{
    return static_cast<int32_t>(static_cast<intptr_t>(param));
}

} // namespace

std::string timeText(int32_t ms)
{
    // The seconds are held in single precision, as the window always showed them: 10 ms
    // falls just below one hundredth.
    const float seconds = static_cast<float>(static_cast<double>(ms) * 0.001);
    const int32_t whole = static_cast<int32_t>(seconds);
    const double fraction = static_cast<double>(seconds) - whole;
    const int32_t minutes = whole / 60;
    const int32_t rest = whole - 60 * minutes;
    const int32_t hundredths = static_cast<int32_t>(fraction * 100.0);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", minutes, rest, hundredths);
    return text;
}

void recordedBuffer(WaveRecorder* recorder, uint8_t* data, uint32_t length, uint32_t, uint32_t)
{
    static_cast<TakeRecorder*>(recorder)->owner.onRecordedBuffer(data, length);
}

void playedBuffer(WavePlayer* player, uint8_t*, uint32_t length, uint32_t, uint32_t)
{
    static_cast<TakePlayer*>(player)->owner.onPlayedBuffer(length);
}

ConversionController::ConversionController(ControllerControls& controls, ControllerWindow& window,
                                           MessageLoop& loop, WaveDriver& waveDriver)
    : controls_(controls), window_(window), loop_(loop), recorder_(waveDriver, *this), player_(waveDriver, *this)
{
    // The store has no buffer until the first take.
    store_.capacity = kMicrophoneStoreBytes;
    midiOut_.notes = &notes_;
    midiOut_.ringtone = &ringtoneSettings;
    midiOut_.updateTicksPerFrame();
    window_.showLevel(nullptr);
}

ConversionController::~ConversionController()
{
    shuttingDown_ = true;
    loop_.killTimer(kTimer1);
    loop_.killTimer(kTimerMetr);
    recorder_.stop();
    if (recorder_.device.load() != nullptr)
        recorder_.close();
    player_.stop();
    if (player_.device.load() != nullptr)
        player_.close();
    closeMidiOut();
    const auto giveUp = std::chrono::steady_clock::now() + kPlayerLeaveLimit;
    while ((midiOut_.playerThread.load() != nullptr || midiOut_.isPlaying) &&
           std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(milliseconds(5));
    drainReturnedBuffers();
    store_.release();
}

bool ConversionController::startUp()
{
    if (!SettingsInstalled()) {
        showError(kRunSetupText);
        return false;
    }
    LoadStartupSettings();
    FindWebBrowser();
    return true;
}

VoicedFrame ConversionController::newestVoicedFrame() const
{
    std::lock_guard<std::mutex> guard(voicedLock_);
    return voiced_;
}

uint32_t ConversionController::deviceOfEntry(int32_t entry) const
{
    return static_cast<uint32_t>(deviceIdFromIndex(entry));
}

// ---- Input and echo selection ----

void ConversionController::ibtn_MicClick()
{
    if (!controls_.buttonEnabled(MainButton::Mic))
        return;
    if (controls_.lampLook(Lamp::Mic) != kLampOn) {
        window_.setLampLook(Lamp::File, kLampOff);
        window_.setLampLook(Lamp::Mic, kLampOn);
        window_.setInputLabel("mic");
    } else {
        window_.setLampLook(Lamp::File, kLampOn);
        window_.setLampLook(Lamp::Mic, kLampOff);
        window_.setInputLabel("file");
    }
}

void ConversionController::ibtn_MIDIClick()
{
    if (!controls_.buttonEnabled(MainButton::Midi))
        return;
    const uint8_t midi = controls_.lampLook(Lamp::Midi);
    if (midi == kLampOn) {
        window_.setLampLook(Lamp::Midi, kLampOff);
        window_.setLampLook(Lamp::Wave, kLampOff);
    } else if (midi == kLampOff) {
        window_.setLampLook(Lamp::Wave, kLampOff);
        window_.setLampLook(Lamp::Midi, kLampOn);
    }
}

void ConversionController::ibtn_WAVEClick()
{
    if (!controls_.buttonEnabled(MainButton::Wave))
        return;
    if (controls_.lampLook(Lamp::Wave) != kLampOn) {
        window_.setLampLook(Lamp::Midi, kLampOff);
        window_.setLampLook(Lamp::Wave, kLampOn);
    } else {
        window_.setLampLook(Lamp::Midi, kLampOff);
        window_.setLampLook(Lamp::Wave, kLampOff);
    }
}

// ---- Convert ----

void ConversionController::ibtn_ConvertClick()
{
    if (!controls_.buttonEnabled(MainButton::Convert))
        return;
    startTake();
}

void ConversionController::startTake()
{
    ++takeNumber_;
    deviceFailure_.clear();
    if (controls_.exportDialogPresent())
        window_.exportPrepareForTake();
    loop_.setTimer(kTimer1, timer1Interval_);
    showConvertButtons();
    echoMode_ = lampOn(Lamp::Midi) ? EchoMidi : lampOn(Lamp::Wave) ? EchoWave : EchoNone;
    inputIsMicrophone_ = !lampOn(Lamp::File);
    if (!prepareTake()) {
        abandonTake();
        return;
    }
    if (inputIsMicrophone_) {
        // Set before the buffers go out: the started device may return the first of them at
        // once, and a flag set after that would restart the echo from the store's beginning.
        firstEchoPending_ = true;
        const uint32_t chunk = chunkBytes();
        for (int i = 0; i < kRecordingBuffers; ++i)
            recorder_.queueBuffer(newAudioBuffer(chunk), chunk, 1);
        if (controls_.metronomeEnabled())
            loop_.setTimer(kTimerMetr, milliseconds(60000 / std::max<int>(songSettings.tempo, 1)));
    } else if (echoMode_ == EchoWave) {
        for (int i = 0; i < kPrimedPlaybackChunks; ++i)
            issueFileChunk(chunkBytes());
    } else {
        feedFile();
    }
}

// Everything before the sound starts to flow; false abandons the take.
bool ConversionController::prepareTake()
{
    lastTakeFailure_ = TakeFailure::None;
    if (store_.validCount > 0 && !controls_.dontRemindOfSaving() && !askToDiscardTake())
        return failTake(TakeFailure::Declined);
    resetDisplay(false);
    stopped_ = false;
    if (!openRecorder())
        return failTake(TakeFailure::Recorder);
    songSettings.recordTempo = songSettings.tempo;
    window_.setStateLabel("");
    window_.setInputLabel("");
    if (!loadInput())
        return failTake(!inputIsMicrophone_ && lastFileRefusal_ != WaveRefusal::None ? TakeFailure::File
                                                                                    : TakeFailure::Declined);
    window_.setStateLabel("conversion");

    analyser_.setupParams(notes_, &takeFormat_);
    analyser_.begin(&notes_, !inputIsMicrophone_);
    takeAnalysed_ = true;
    {
        std::lock_guard<std::mutex> guard(voicedLock_);
        voiced_ = VoicedFrame{};
    }
    // The analyser refuses formats it cannot decode.
    if (!analyser_.active)
        return failTake(TakeFailure::Format);
    window_.setLevelScale(notes_.params.fullScale);
    midiOut_.updateTicksPerFrame();
    return openEcho();
}

bool ConversionController::failTake(TakeFailure why)
{
    lastTakeFailure_ = why;
    return false;
}

bool ConversionController::askToDiscardTake() const
{
    return userNotifier().show(kAskDiscardTake, "Warning", MessageIcon::Warning, MessageButtons::YesNo) ==
           MessageAnswer::Yes;
}

// A microphone take needs the recorder. A file take only tries it: without a wave-in
// device a file is converted all the same.
bool ConversionController::openRecorder()
{
    recorder_.dataCallback = recordedBuffer;
    recorder_.userValue = 0;
    const WAVEFORMATEX& format = inputIsMicrophone_ ? kMicrophoneFormat : takeFormat_;
    const bool opened = recorder_.open(format, deviceOfEntry(controls_.waveInEntry()));
    if (opened && recorder_.start(nullptr, &loop_.target()))
        return true;
    if (opened) {
        // Closing leaves its own step in the trace: keep why the device would not start.
        if (inputIsMicrophone_)
            deviceFailure_ = recorder_.lastTrace.text;
        recorder_.close();
    }
    return !inputIsMicrophone_;
}

// The store is cleared only once the new take's input is ready, so that a cancelled file
// dialog or a refused file keeps the take there was.
bool ConversionController::loadInput()
{
    if (inputIsMicrophone_) {
        store_.release();
        if (!store_.allocate(kMicrophoneStoreBytes))
            return false;
        playPosition_ = 0;
        window_.setInputLabel("mic");
        takeFormat_ = kMicrophoneFormat;
        return true;
    }
    const std::optional<std::string> name = window_.chooseTakeFile();
    if (!name)
        return false;
    WAVEFORMATEX format = takeFormat_;
    lastFileRefusal_ = WaveRefusal::None;
    if (!LoadWaveFile(*name, format, store_, &lastFileRefusal_))
        return false;
    takeFormat_ = format;
    playPosition_ = 0;
    window_.setInputLabel(fileInputLabel(*name));
    return true;
}

bool ConversionController::openEcho()
{
    if (echoMode_ == EchoWave) {
        player_.doneCallback = playedBuffer;
        player_.userValue = 0;
        if (!player_.open(takeFormat_, deviceOfEntry(controls_.waveOutEntry())))
            return failTake(TakeFailure::Player);
        player_.start(nullptr, &loop_.target());
        if (inputIsMicrophone_) {
            // The recorder drives the echo of a microphone take.
            player_.doneCallback = nullptr;
            player_.userValue = 0;
        } else {
            playPosition_ = 0;
        }
    }
    midiEchoEnded_ = false;
    if (echoMode_ == EchoMidi || (controls_.metronomeEnabled() && inputIsMicrophone_)) {
        if (!midiOut_.open(deviceOfEntry(controls_.midiOutEntry())))
            return failTake(TakeFailure::MidiOut);
        try {
            midiOut_.setVolume(kPercussionChannel, std::min<uint8_t>(controls_.metronomeVolume(), 127));
        } catch (const MidiDeviceError&) {
            return failTake(TakeFailure::MidiOut);
        }
    }
    return true;
}

void ConversionController::abandonTake()
{
    stop();
    window_.setButtonLook(MainButton::Convert, kLookEnabled);
}

// ---- The driver threads ----

void ConversionController::onRecordedBuffer(uint8_t* data, uint32_t length)
{
    if (!recorder_.started || data == nullptr || length == 0)
        return;
    MessageTarget& window = loop_.target();
    const uint32_t valid = store_.validCount;
    if (static_cast<uint64_t>(valid) + length >= store_.capacity) {
        window.post(UM_INPUT_ENDED, 0, 0);
        return;
    }
    std::memcpy(store_.data + valid, data, length);
    analyser_.feed(data, length);
    publishVoicedFrame();
    window.post(UM_POSITION, positionParam(analyser_.frameCounter), 0);
    store_.validCount = valid + length;
    if (echoMode_ == EchoWave) {
        // The first echo of a take starts at the beginning of the store.
        if (firstEchoPending_.exchange(false))
            playPosition_ = 0;
        postChunkCopy(length);
    } else if (echoMode_ == EchoMidi) {
        echoMidiFrame();
    }
}

void ConversionController::echoMidiFrame()
{
    if (midiEchoEnded_)
        return;
    try {
        midiOut_.echoFrame(analyser_.frameCounter - 1);
    } catch (const MidiDeviceError& error) {
        // The take goes on without its echo.
        if (!midiEchoEnded_.exchange(true)) {
            midiEchoFailure_ = error.what();
            loop_.target().post(UM_MIDI_ECHO_ENDED, 0, 0);
        }
    }
}

void ConversionController::showEchoEnded()
{
    userNotifier().show(kEchoEndedText + midiEchoFailure_ + kTakeGoesOnText, "Warning", MessageIcon::Warning,
                        MessageButtons::Ok);
}

void ConversionController::onPlayedBuffer(uint32_t length)
{
    if (!player_.active)
        return;
    MessageTarget& window = loop_.target();
    if (inputIsMicrophone_) {
        if (playPosition_ >= store_.validCount)
            window.post(UM_PLAYBACK_ENDED, 0, 0);
        else
            postChunkCopy(chunkBytes());
    } else {
        issueFileChunk(length);
    }
    window.post(UM_POSITION, positionParam(currentPosition_.fetch_add(1)), 0);
}

void ConversionController::issueFileChunk(uint32_t length)
{
    const uint32_t position = playPosition_;
    if (static_cast<uint64_t>(position) + length >= store_.validCount) {
        loop_.target().post(UM_INPUT_ENDED, 0, 0);
        return;
    }
    if (analyser_.active) {
        analyser_.feed(store_.data + position, length);
        publishVoicedFrame();
        currentPosition_ = analyser_.frameCounter;
    }
    postChunkCopy(length);
}

// Posts a copy of `length` bytes of the store from the play position, and moves on.
void ConversionController::postChunkCopy(uint32_t length)
{
    const uint32_t position = playPosition_;
    uint8_t* copy = copyFromStore(position, length);
    playPosition_ = position + length;
    if (!loop_.target().post(UM_PLAY_CHUNK, reinterpret_cast<WPARAM>(copy), static_cast<LPARAM>(length)))
        deleteAudioBuffer(copy);
}

// A fresh zero-filled chunk holding the store's valid bytes from `position` on; what lies
// beyond the valid bytes stays silent.
uint8_t* ConversionController::copyFromStore(uint32_t position, uint32_t length) const
{
    uint8_t* copy = newAudioBuffer(length);
    if (position < store_.validCount)
        std::memcpy(copy, store_.data + position, std::min(length, store_.validCount - position));
    return copy;
}

void ConversionController::publishVoicedFrame()
{
    const RawFrame* last = notes_.raw ? notes_.raw->last() : nullptr;
    if (last == nullptr)
        return;
    std::lock_guard<std::mutex> guard(voicedLock_);
    voiced_ = VoicedFrame{last->frame, last->pitch, last->level};
}

// ---- The window thread ----

// Feeds a file take chunk by chunk, letting the window handle its messages after each
// one, until the file is done or Stop ends the analysis.
void ConversionController::feedFile()
{
    // A take started from within the loop (Convert is enabled again once Stop has run)
    // is not this loop's to feed.
    const uint32_t take = takeNumber_;
    auto feeding = [&] { return analyser_.active && takeNumber_ == take; };
    const uint32_t chunk = chunkBytes();
    const std::chrono::microseconds echoPace{std::lround(frameDuration(takeFormat_).milliseconds() * 1000)};
    while (feeding() && playPosition_ < store_.validCount) {
        const uint32_t position = playPosition_;
        const uint32_t length = std::min(chunk, store_.validCount - position);
        analyser_.feed(store_.data + position, length);
        publishVoicedFrame();
        loop_.target().post(UM_POSITION, positionParam(analyser_.frameCounter), 0);
        playPosition_ = position + length;
        loop_.processMessages();
        if (echoMode_ == EchoMidi && feeding()) {
            echoMidiFrame();
            // Fed at the pace it was sung: one frame's duration per chunk.
            std::this_thread::sleep_for(echoPace);
        }
    }
    if (feeding())
        stop();
}

void ConversionController::ibtn_StopClick()
{
    if (!controls_.buttonEnabled(MainButton::Stop))
        return;
    stop();
}

void ConversionController::stop()
{
    loop_.killTimer(kTimer1);
    timer1Interval_ = kTimer1Idle;
    stopped_ = true;
    window_.setStateLabel("");
    if (analyser_.active || recorder_.started || recorder_.device.load() != nullptr) {
        finishTake();
    } else if (player_.device.load() != nullptr || player_.active || midiOut_.isOpen || midiPlaybackRunning()) {
        if (echoMode_ == EchoWave) {
            player_.stop();
            player_.close();
        } else if (echoMode_ == EchoMidi) {
            closeMidiOut();
        }
    }
    showStoppedButtons();
    if (notes_.hasRawFrames() && controls_.exportDialogVisible())
        window_.exportResetListen();
}

void ConversionController::finishTake()
{
    loop_.killTimer(kTimerMetr);
    stopped_ = true;
    recorder_.stop();
    if (recorder_.device.load() != nullptr)
        recorder_.close();
    if (echoMode_ == EchoWave) {
        player_.stop();
        if (player_.device.load() != nullptr)
            player_.close();
    } else if (echoMode_ == EchoMidi) {
        closeMidiOut();
    }
    analyser_.stop();
    window_.showLevel(nullptr);
    // A take abandoned before its analysis began leaves the previous take as it was.
    if (!takeAnalysed_)
        return;
    takeAnalysed_ = false;
    analysedFrames_ = analyser_.frameCounter;
    if (!notes_.hasRawFrames())
        return;
    recogniseTake();
}

// The classic engine works on the raw track of the live analysis (cleaned once, when the
// take ends); the precise one reads the take's samples again.
bool ConversionController::recogniseNotes(bool takeEnded)
{
    if (controls_.recognitionEngine() == RecognitionEngine::Precise && store_.data != nullptr)
        return transcribeTake(notes_, store_.data, store_.validCount);
    if (takeEnded)
        cleanRawTrack(notes_);
    return recognise(notes_, controls_.mergeShortPitchDeviations());
}

void ConversionController::recogniseTake()
{
    window_.takeAnalysed(notes_);
    recogniseNotes(true);
    resetRingtoneSettings(notes_);
    if (controls_.exportDialogPresent())
        window_.exportRingtoneFromRecognition();
    window_.setButtonEnabled(MainButton::PlayPB, true);
    window_.setButtonLook(MainButton::PlayPB, kLookChecked);
    resetDisplay(true);
}

void ConversionController::closeMidiOut()
{
    try {
        if (midiPlaybackRunning())
            midiOut_.stop();
        else if (midiOut_.isOpen)
            midiOut_.close();
    } catch (const MidiDeviceError&) {
        // The player ends through its own end step whether or not the reset worked.
    }
}

void ConversionController::ibtn_FinishClick()
{
    if (!controls_.buttonEnabled(MainButton::Finish) || analyser_.active)
        return;
    if (!recogniseNotes(false))
        return;
    resetRingtoneSettings(notes_);
    midiOut_.updateTicksPerFrame();
    if (controls_.exportDialogPresent())
        window_.exportRingtoneFromRecognition();
    resetDisplay(true);
    window_.setButtonEnabled(MainButton::PlayNT, true);
    window_.setButtonLook(MainButton::PlayNT, kLookChecked);
    window_.setButtonLook(MainButton::PlayPB, kLookEnabled);
    window_.setButtonEnabled(MainButton::Edit, true);
    if (controls_.editorVisible())
        window_.refreshEditor();
}

void ConversionController::ibtn_PlayNTClick()
{
    if (!controls_.buttonEnabled(MainButton::PlayNT))
        return;
    window_.setButtonLook(MainButton::PlayNT, kLookChecked);
    if (controls_.buttonEnabled(MainButton::PlayPB))
        window_.setButtonLook(MainButton::PlayPB, kLookEnabled);
}

void ConversionController::ibtn_PlayPBClick()
{
    if (!controls_.buttonEnabled(MainButton::PlayPB))
        return;
    window_.setButtonLook(MainButton::PlayPB, kLookChecked);
    if (controls_.buttonEnabled(MainButton::PlayNT))
        window_.setButtonLook(MainButton::PlayNT, kLookEnabled);
}

void ConversionController::ibtn_PlayNTDblClick()
{
    if (!controls_.buttonEnabled(MainButton::PlayNT))
        return;
    window_.setButtonLook(MainButton::PlayNT, kLookEnabled);
    window_.setButtonLook(MainButton::PlayPB, kLookChecked);
}

bool ConversionController::loadNotes(const NoteSequence& source)
{
    if (!stopped_ || source.count == 0)
        return false;
    store_.release();
    store_.capacity = kMicrophoneStoreBytes;
    notes_.raw.reset();
    notes_.clear();
    for (int32_t i = 0; i < source.count; ++i)
        notes_.append(source[i]);
    computeSummary(notes_);
    notes_.recognised = true;
    resetRingtoneSettings(notes_);
    midiOut_.updateTicksPerFrame();
    resetDisplay(true);
    showStoppedButtons();
    window_.setButtonLook(MainButton::PlayNT, kLookChecked);
    return true;
}

// ---- Play ----

void ConversionController::ibtn_PlayClick()
{
    if (!controls_.buttonEnabled(MainButton::Play))
        return;
    window_.showPlayMarker(true);
    resetDisplay(true);
    window_.refreshEditor();
    showPlayButtons();

    EchoMode type = EchoWave;
    const char* failure = kCannotPlayWave;
    if (lampOn(Lamp::Midi)) {
        type = EchoMidi;
        failure = kCannotPlayMidi;
        timer1Interval_ = kTimer1MidiPoll;
    } else if (!lampOn(Lamp::Wave)) {
        type = EchoNone;
        failure = kNoPlaybackType;
    }
    echoMode_ = type;
    deviceFailure_.clear();
    const bool started = type == EchoWave ? startWavePlayback() : type == EchoMidi && startMidiPlayback();
    if (started) {
        loop_.setTimer(kTimer1, timer1Interval_);
        window_.setStateLabel("playback");
        stopped_ = false;
        return;
    }
    showError(failure);
    stop();
    window_.setButtonLook(MainButton::Play, kLookEnabled);
}

bool ConversionController::startWavePlayback()
{
    player_.doneCallback = playedBuffer;
    player_.userValue = 0;
    if (!player_.open(takeFormat_, deviceOfEntry(controls_.waveOutEntry())))
        return false;
    // The chunks are cut and the play position moved before the first one is queued, so
    // that the done callback of a quickly played chunk carries on behind the third.
    const uint32_t chunk = chunkBytes();
    uint8_t* chunks[kPrimedPlaybackChunks] = {};
    uint32_t position = 0;
    int count = 0;
    while (count < kPrimedPlaybackChunks && (count == 0 || position < store_.validCount)) {
        chunks[count++] = copyFromStore(position, chunk);
        position += chunk;
    }
    playPosition_ = position;
    player_.start(nullptr, &loop_.target());
    for (int i = 0; i < count; ++i) {
        if (!player_.queueChunk(chunks[i], chunk, 0))
            deleteAudioBuffer(chunks[i]);
    }
    return true;
}

// Plays the notes as a ringtone when the export dialog's Listen asks for it, else the
// notes or the raw track as chosen. Fails when the chosen list is empty.
bool ConversionController::startMidiPlayback()
{
    PlayList list;
    PlayKind kind = PlayRaw;
    if (controls_.exportListenFromRingtonePage()) {
        list = static_cast<const NoteSequence*>(&notes_);
        kind = PlayRingtone;
    } else if (controls_.buttonLook(MainButton::PlayNT) == kLookChecked) {
        list = static_cast<const NoteSequence*>(&notes_);
        kind = PlayNotes;
    }
    const bool empty = kind == PlayRaw ? !notes_.hasRawFrames() : notes_.count == 0;
    if (empty || midiPlaybackRunning())
        return false;
    if (!midiOut_.open(deviceOfEntry(controls_.midiOutEntry())))
        return false;
    if (kind == PlayRaw) {
        list = static_cast<const RawTrack*>(notes_.raw.get());
        window_.setButtonLook(MainButton::PlayPB, kLookChecked);
    }
    midiOut_.notifyWindow = &loop_.target();
    auto* player = new TPlayerThread();
    player->midiOut = &midiOut_;
    player->list = list;
    player->kind = kind;
    midiOut_.beginPlayback(player, kind);
    player->resume();
    return true;
}

// ---- Timers ----

void ConversionController::Timer1Timer()
{
    if (midiOut_.isPlaying) {
        window_.setStateLabelColour(LabelColour::Aqua);
        int32_t ticks = 0;
        try {
            ticks = midiOut_.position();
        } catch (const MidiDeviceError&) {
            // The playback's own end still comes.
        }
        loop_.target().post(UM_MIDI_POSITION, positionParam(ticks), static_cast<int8_t>(midiOut_.playKind.load()));
        return;
    }
    stateLabelAqua_ = !stateLabelAqua_;
    window_.setStateLabelColour(stateLabelAqua_ ? LabelColour::Aqua : LabelColour::Black);
}

void ConversionController::TimerMetrTimer()
{
    if (!controls_.metronomeEnabled())
        return;
    try {
        midiOut_.click(controls_.metronomeNote(), kClickVelocity, kPercussionChannel);
    } catch (const MidiDeviceError&) {
        // A lost click must not cost the take.
    }
}

void ConversionController::handleTimer(TimerId timer)
{
    if (shuttingDown_)
        return;
    if (timer == kTimer1)
        Timer1Timer();
    else if (timer == kTimerMetr)
        TimerMetrTimer();
}

// ---- Window messages ----

void ConversionController::handleMessage(const WindowMessage& message)
{
    switch (message.msg) {
    case UM_IN_BUFFER_DONE:
    case UM_OUT_BUFFER_DONE:
        onBufferReturned(message);
        break;
    case UM_PLAY_CHUNK:
        onPlayChunk(reinterpret_cast<uint8_t*>(message.wParam), static_cast<uint32_t>(message.lParam));
        break;
    case UM_INPUT_ENDED:
    case UM_PLAYBACK_ENDED:
        if (!shuttingDown_)
            stop();
        break;
    case UM_POSITION:
        if (!shuttingDown_)
            showPosition(positionOf(message.wParam), static_cast<uint32_t>(message.lParam));
        break;
    case UM_MIDI_POSITION:
        if (!shuttingDown_)
            onMidiPosition(message.wParam, message.lParam);
        break;
    case UM_MIDI_ECHO_ENDED:
        if (!shuttingDown_)
            showEchoEnded();
        break;
    default:
        break;
    }
}

void ConversionController::onBufferReturned(const WindowMessage& message)
{
    auto* header = reinterpret_cast<WAVEHDR*>(message.wParam);
    if (message.msg == UM_OUT_BUFFER_DONE) {
        player_.releaseHeader(header, true);
        return;
    }
    recorder_.releaseHeader(header, true);
    if (!shuttingDown_ && recorder_.started) {
        const uint32_t chunk = chunkBytes();
        const int32_t prepared = recorder_.preparedCount;
        recorder_.queueBuffer(newAudioBuffer(chunk), chunk, 1);
        // A refused buffer is released at once: the device is lost, and no more sound
        // and no end of input will come from it.
        if (recorder_.preparedCount == prepared)
            endOnDeviceFailure(recorder_.lastTrace);
    }
}

void ConversionController::onPlayChunk(uint8_t* chunk, uint32_t length)
{
    if (shuttingDown_ || !player_.active) {
        deleteAudioBuffer(chunk);
        return;
    }
    if (!player_.queueChunk(chunk, length, 0)) {
        deleteAudioBuffer(chunk);
        endOnDeviceFailure(player_.lastTrace);
    }
}

// Ends the take (keeping what was recorded) or the playback when its device fails, as
// Stop would, and says why.
void ConversionController::endOnDeviceFailure(const WaveTrace& trace)
{
    if (stopped_)
        return;
    deviceFailure_ = trace.text;
    stop();
    showError(deviceFailure_);
}

void ConversionController::onMidiPosition(WPARAM ticks, LPARAM kind)
{
    currentPosition_ = positionOf(ticks);
    if (static_cast<int8_t>(kind) <= 0) {
        // The end of a playback stops it; a take started since is not the playback's to end.
        if (!analyser_.active && !recorder_.started)
            stop();
    } else
        loop_.target().post(UM_POSITION, ticks, 0);
}

// What the window shows for a position: the time, and during a take the level and the
// sung note of the frame just analysed; otherwise the diagram's page and the editor.
void ConversionController::showPosition(int32_t w, uint32_t flags)
{
    const bool analysing = analyser_.active;
    int32_t p = w >= 0 ? w : currentPosition_.load();
    if (!analysing && echoMode_ != EchoWave) {
        // p is in ticks.
        const double ticksPerFrame = midiOut_.ticksPerFrame;
        if (ticksPerFrame > 0)
            p = static_cast<int32_t>(std::ceil(p / ticksPerFrame));
    }
    if (p >= 0)
        window_.setTimeLabel(timeText(static_cast<int32_t>(static_cast<float>(p) * midiOut_.msPerFrame.load())));
    const VoicedFrame voiced = newestVoicedFrame();
    const bool voicedNow = analysing && p - 1 >= 0 && voiced.frame == p - 1;
    if (analysing)
        window_.showLevel(voicedNow ? &voiced : nullptr);
    if (controls_.voiceDiagramDisabled())
        return;
    if (analysing) {
        window_.addLiveColumn(voicedNow ? &voiced : nullptr);
        window_.setNoteLabel(voicedNow ? noteName(nearestNote(voiced.pitch)) : "");
        return;
    }
    window_.updatePage(p, flags);
    if ((flags & kPositionReposition) == 0) {
        const int32_t ticks =
            echoMode_ == EchoWave ? static_cast<int32_t>(w * midiOut_.ticksPerFrame.load()) : w;
        window_.followInEditor(ticks);
    }
}

void ConversionController::resetDisplay(bool postPosition)
{
    currentPosition_ = 0;
    window_.resetDiagram();
    if (postPosition)
        loop_.target().post(UM_POSITION, 0, 0);
}

// ---- Save as ----

void ConversionController::ibtn_SaveAsClick()
{
    if (!controls_.buttonEnabled(MainButton::SaveAs) || (!notes_.hasRawFrames() && notes_.count == 0))
        return;
    const std::optional<SaveChoice> choice = window_.chooseSaveFile();
    if (!choice)
        return;
    if (choice->kind == SaveKind::Midi)
        saveMidi(choice->name);
    else
        saveWave(choice->name);
}

void ConversionController::saveWave(std::string name)
{
    if (name.find(".wav") == std::string::npos)
        name += ".wav";
    bool written = false;
    try {
        written = store_.validCount > 0 && WriteWaveFile(name, takeFormat_, store_.validCount, store_.data);
    } catch (const WaveWriteError&) {
        written = false;
    }
    if (!written)
        showError(kWriteError);
}

// The notes when they are chosen for playback or there is no raw track (notes from a MIDI
// file), else the raw track: what Play would play.
void ConversionController::saveMidi(std::string name)
{
    if (name.find(".mid") == std::string::npos)
        name += ".mid";
    const bool notesChosen =
        notes_.count > 0 && (controls_.buttonLook(MainButton::PlayNT) == kLookChecked || !notes_.hasRawFrames());
    const std::vector<uint8_t> bytes = notesChosen
                                           ? buildNotesMidiFile(notes_, songSettings)
                                           : buildRawMidiFile(*notes_.raw, songSettings,
                                                              midiTicksPerFrame(songSettings, frameDuration(takeFormat_)));
    std::string error;
    if (!writeFileAtomically(name, bytes, error))
        showError(kWriteError);
}

// ---- Button sets ----

void ConversionController::showConvertButtons()
{
    for (MainButton button : kTakeDisabledButtons)
        window_.setButtonEnabled(button, false);
    for (MainButton button : {MainButton::PlayPB, MainButton::PlayNT}) {
        window_.setButtonLook(button, kLookEnabled);
        window_.setButtonEnabled(button, false);
    }
    window_.hideEditor();
}

void ConversionController::showPlayButtons()
{
    for (MainButton button : kPlayDisabledButtons)
        window_.setButtonEnabled(button, false);
}

void ConversionController::showStoppedButtons()
{
    for (MainButton button : kStoppedEnabledButtons)
        window_.setButtonEnabled(button, true);
    window_.setButtonLook(MainButton::Convert, kLookEnabled);
    if (!notes_.hasRawFrames()) {
        // Notes loaded without a take can be played and edited.
        if (notes_.count > 0) {
            window_.showPlayMarker(false);
            window_.setButtonEnabled(MainButton::Play, true);
            window_.setButtonLook(MainButton::Play, kLookEnabled);
            window_.setButtonEnabled(MainButton::PlayNT, true);
            window_.setButtonEnabled(MainButton::Edit, true);
            window_.setButtonEnabled(MainButton::SaveAs, true);
        }
        return;
    }
    window_.showPlayMarker(false);
    window_.setButtonEnabled(MainButton::Play, true);
    window_.setButtonLook(MainButton::Play, kLookEnabled);
    for (MainButton button : kTakeButtons)
        window_.setButtonEnabled(button, true);
    if (notes_.count > 0) {
        window_.setButtonEnabled(MainButton::PlayNT, true);
        window_.setButtonEnabled(MainButton::Edit, true);
    }
}

// ---- Shutdown ----

// Frees the buffers that the closed devices gave back and the chunks still on their way.
void ConversionController::drainReturnedBuffers()
{
    loop_.processMessages();
}
