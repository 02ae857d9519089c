#include "cli/PlayCommand.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "audio/M_stack.h"
#include "audio/Wav_func.h"
#include "cli/DevicesCommand.h"
#include "cli/InterruptWatch.h"
#include "cli/SettingsCommand.h"
#include "platform/WindowMessages.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kChunksAhead = 3;
constexpr std::chrono::milliseconds kPoll{100};

int fail(const std::string& message)
{
    std::fprintf(stderr, "lirrosa-cli: %s\n", message.c_str());
    return 1;
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "lirrosa-cli: %s (see lirrosa-cli --help)\n", message.c_str());
    return 2;
}

// The sound being played. The window thread issues the first chunks, then the player's
// done callback issues one more for every chunk played, on the driver thread.
struct Playback {
    const uint8_t* samples = nullptr;
    uint32_t end = 0;       // bytes to play: whole sample frames
    uint32_t chunk = 0;
    uint32_t position = 0;  // next byte to issue
    bool endPosted = false;
    MessageTarget* window = nullptr;
};

Playback* gPlayback = nullptr;

// Sends the next chunk to the window for queueing, or the end of the sound once.
void issueChunk(Playback& playback)
{
    if (playback.position < playback.end) {
        const uint32_t length = std::min(playback.chunk, playback.end - playback.position);
        uint8_t* copy = newAudioBuffer(length);
        std::memcpy(copy, playback.samples + playback.position, length);
        playback.position += length;
        if (!playback.window->post(UM_PLAY_CHUNK, reinterpret_cast<WPARAM>(copy), length))
            deleteAudioBuffer(copy);
    } else if (!playback.endPosted) {
        playback.endPosted = true;
        playback.window->post(UM_PLAYBACK_ENDED, 0, 0);
    }
}

void issueNextChunk(WavePlayer* player, uint8_t*, uint32_t, uint32_t, uint32_t)
{
    if (player->active)
        issueChunk(*gPlayback);
}

}  // namespace

int runPlayCommand(const std::vector<std::string>& args)
{
    std::string wavePath;
    int device = -1;  // not given: the settings' output, else the default
    bool quiet = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--wave") {
            if (!hasValue)
                return usageError("--wave needs a WAV file");
            wavePath = args[++i];
        } else if (arg == "--device") {
            char* end = nullptr;
            const long parsed = hasValue ? std::strtol(args[i + 1].c_str(), &end, 10) : -1;
            if (!hasValue || args[i + 1].empty() || *end != '\0' || parsed < 0 || parsed > 1000)
                return usageError("--device needs a list index from 'lirrosa-cli devices'");
            device = static_cast<int>(parsed);
            ++i;
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            return usageError("unknown option '" + arg + "' for play");
        }
    }
    if (wavePath.empty())
        return usageError("play needs --wave FILE.wav");
    if (device < 0)
        device = readCliSettings(std::cerr).wavOutIndex;

    WAVEFORMATEX format;
    SampleStore store;
    WaveRefusal why = WaveRefusal::None;
    if (!LoadWaveFile(wavePath, format, store, &why))
        return fail("cannot play '" + wavePath + "': " + describeWaveRefusal(why));

    MessageQueue window;
    Playback playback;
    playback.samples = store.data;
    playback.end = store.validCount - store.validCount % format.nBlockAlign;
    playback.chunk = audioChunkBytes(format);
    playback.window = &window;
    gPlayback = &playback;

    WaveDriver& driver = systemWaveDriver();
    const std::string deviceName = waveDeviceListName(driver, false, device);
    WavePlayer player(driver);
    if (!player.open(format, waveDeviceIdOfListIndex(device)))
        return fail("cannot open " + deviceName + " for playing '" + wavePath + "': " + player.lastTrace.text);
    player.doneCallback = issueNextChunk;
    player.start(nullptr, &window);
    if (!quiet)
        std::fprintf(stderr, "Playing '%s' (%.1f s) on %s; press Ctrl-C to stop.\n", wavePath.c_str(),
                     static_cast<double>(playback.end) / format.nAvgBytesPerSec, deviceName.c_str());
    for (int i = 0; i < kChunksAhead; ++i)
        issueChunk(playback);

    InterruptWatch interrupt;
    int playing = 0;  // chunks with the player
    bool ended = false;
    std::string error;
    while (!(ended && playing == 0) && !interrupt.interrupted() && error.empty()) {
        WindowMessage message;
        if (!window.waitNext(message, kPoll))
            continue;
        if (message.msg == UM_PLAY_CHUNK) {
            auto* chunk = reinterpret_cast<uint8_t*>(message.wParam);
            if (player.queueChunk(chunk, static_cast<uint32_t>(message.lParam), 0)) {
                ++playing;
            } else {
                deleteAudioBuffer(chunk);
                error = player.lastTrace.text;
            }
        } else if (message.msg == UM_OUT_BUFFER_DONE) {
            player.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true);
            --playing;
        } else if (message.msg == UM_PLAYBACK_ENDED) {
            ended = true;
        }
    }

    player.stop();
    player.close();
    // What is still on its way comes back now: free it.
    WindowMessage message;
    while (window.waitNext(message, kPoll)) {
        if (message.msg == UM_PLAY_CHUNK)
            deleteAudioBuffer(reinterpret_cast<uint8_t*>(message.wParam));
        else if (message.msg == UM_OUT_BUFFER_DONE)
            player.releaseHeader(reinterpret_cast<WAVEHDR*>(message.wParam), true);
    }
    gPlayback = nullptr;
    if (!error.empty())
        return fail("playback of '" + wavePath + "' failed: " + error);
    return 0;
}
