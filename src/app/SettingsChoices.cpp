#include "app/SettingsChoices.h"

#include <algorithm>

#include "platform/MidiDevices.h"
#include "platform/WaveDevice.h"
#include "settings/My_registry.h"

namespace {

bool storedFlag(const char* name, bool builtIn)
{
    int32_t value = builtIn ? 1 : 0;
    RegAccessInteger(false, name, value, kSettingsKey);
    return value != 0;
}

// Device lists have "Auto" first, then one entry per device.
int32_t listEntryCount(uint32_t devices)
{
    return static_cast<int32_t>(std::min<uint32_t>(devices, 0x7FFFFFFE) + 1);
}

} // namespace

SettingsChoices loadSettingsChoices(WaveDriver& driver)
{
    SettingsChoices choices;
    choices.dontRemindOfSaving = storedFlag("DisableSaveRem", false);
    choices.mergeShortPitchDeviations = storedFlag("MergeSPD", true);
    choices.engine = storedFlag("Engine", false) ? RecognitionEngine::Precise : RecognitionEngine::Classic;
    choices.voiceDiagramDisabled = storedFlag("DisableDV", false);
    int32_t width = 1;
    RegAccessInteger(false, "WidthDVC", width, kSettingsKey);
    choices.columnWidth = voiceDiagramColumnWidth(width);

    const MetronomeSettings& metronome = settingsStore.metronome;
    choices.metronomeEnabled = metronome.enabled != 0;
    choices.metronomeNote = metronome.sound == 1 ? kMaracasNote : kSideStickNote;
    choices.metronomeVolume = static_cast<uint8_t>(std::clamp<int>(metronome.volume, 0, 127));

    int32_t waveIn = 0;
    int32_t waveOut = 0;
    if (AccessWaveDevices(waveIn, waveOut, false)) {
        choices.waveInEntry = storedDeviceEntry(waveIn, listEntryCount(driver.inputCount()));
        choices.waveOutEntry = storedDeviceEntry(waveOut, listEntryCount(driver.outputCount()));
    }
    SongSettings song = songSettings;
    int32_t midiOut = 0;
    if (AccessSongSettings(song, midiOut, false)) {
        songSettings = song;
        storedSongSettings = song;
        choices.midiOutEntry = storedDeviceEntry(midiOut, listEntryCount(midiOutDeviceCount()));
    }
    return choices;
}
