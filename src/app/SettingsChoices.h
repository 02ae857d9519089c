#pragma once
// What the controller reads from the settings window's controls, taken from the stored
// settings as the settings window shows them when it is created: the saving reminder, the
// metronome, the recognition and diagram options and the three device-list entries. Loading
// them also loads the stored song settings (tempo, TPQN, meter, patch ...).

#include <cstdint>

#include "app/ControllerSeam.h"

class WaveDriver;

struct SettingsChoices {
    bool dontRemindOfSaving = false;
    bool metronomeEnabled = true;
    uint8_t metronomeNote = kMaracasNote;
    uint8_t metronomeVolume = 60;
    bool mergeShortPitchDeviations = true;
    RecognitionEngine engine = RecognitionEngine::Classic;
    bool voiceDiagramDisabled = false;
    int32_t columnWidth = 1; // the voice diagram's column width, 1 or 2
    int32_t waveInEntry = 0;
    int32_t waveOutEntry = 0;
    int32_t midiOutEntry = 0;
};

// Reads the stored choices (after LoadStartupSettings) and the stored song settings into
// songSettings and storedSongSettings. A device index beyond `driver`'s and the MIDI
// output lists chooses "Auto"; a value that cannot be read keeps its built-in choice.
SettingsChoices loadSettingsChoices(WaveDriver& driver);
