#include "audio/AudioFile.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

// The rates the analysis takes as they are; a decoded file outside them is resampled to
// the microphone's rate.
constexpr int kMinKeptRate = 4000;
constexpr int kMaxKeptRate = 192000;
constexpr int kResampledRate = 22050;
// Beyond these a file's header is taken as damaged rather than decoded.
constexpr int kMaxFileRate = 1536000;
constexpr int kMaxFileChannels = 256;
// The largest store a take may have, as for wave files read whole.
constexpr uint64_t kMaxStoreBytes = 0x7FFFFFFF;
constexpr sf_count_t kBlockFrames = 4096;

void report(WaveRefusal* why, WaveRefusal refusal)
{
    if (why != nullptr)
        *why = refusal;
}

class SoundFile {
public:
    explicit SoundFile(const std::string& name) { file_ = sf_open(name.c_str(), SFM_READ, &info_); }
    ~SoundFile()
    {
        if (file_ != nullptr)
            sf_close(file_);
    }
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    SNDFILE* handle() const { return file_; }
    const SF_INFO& info() const { return info_; }

private:
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
};

float asFloat(float value)
{
    return value;
}

int16_t toPcm16(float value)
{
    // A float file may hold NaN: it is silence. Full scale is 32768 so that 16-bit samples
    // carried in any wider format come back as they were.
    if (std::isnan(value))
        return 0;
    const float scaled = std::round(value * 32768.0f);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

// The decoded samples, each passed through `convert`, interleaved in `outChannels` channels: the file's own, or
// all of them averaged to one. Stops at `maxFrames`; `cut` tells whether more followed.
template <typename Sample>
bool decodeSamples(SoundFile& file, int outChannels, uint64_t maxFrames, Sample (*convert)(float),
                   std::vector<Sample>& out, bool& cut)
{
    const int channels = file.info().channels;
    std::vector<float> block(static_cast<size_t>(kBlockFrames) * static_cast<size_t>(channels));
    uint64_t frames = 0;
    cut = false;
    for (;;) {
        const sf_count_t got = sf_readf_float(file.handle(), block.data(), kBlockFrames);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        uint64_t take = static_cast<uint64_t>(got);
        if (frames + take > maxFrames) {
            take = maxFrames - frames;
            cut = true;
        }
        for (uint64_t f = 0; f < take; ++f) {
            const float* frame = block.data() + f * static_cast<uint64_t>(channels);
            if (outChannels == channels) {
                for (int c = 0; c < channels; ++c)
                    out.push_back(convert(frame[c]));
            } else {
                float sum = 0;
                for (int c = 0; c < channels; ++c)
                    sum += frame[c];
                out.push_back(convert(sum / static_cast<float>(channels)));
            }
        }
        frames += take;
        if (cut)
            break;
    }
    return sf_error(file.handle()) == SF_ERR_NO_ERROR;
}

bool resample(std::vector<float>& samples, int channels, int fromRate, int toRate)
{
    const double ratio = static_cast<double>(toRate) / fromRate;
    const long inFrames = static_cast<long>(samples.size() / static_cast<size_t>(channels));
    const long outFrames = static_cast<long>(std::ceil(static_cast<double>(inFrames) * ratio)) + 1;
    std::vector<float> out(static_cast<size_t>(outFrames) * static_cast<size_t>(channels));
    SRC_DATA data{};
    data.data_in = samples.data();
    data.data_out = out.data();
    data.input_frames = inFrames;
    data.output_frames = outFrames;
    data.src_ratio = ratio;
    if (src_simple(&data, SRC_SINC_MEDIUM_QUALITY, channels) != 0)
        return false;
    out.resize(static_cast<size_t>(data.output_frames_gen) * static_cast<size_t>(channels));
    samples.swap(out);
    return true;
}


// The file's samples as 16-bit PCM in `channels` channels, resampled to `toRate` unless
// it is 0. False when the file fails to decode.
bool decodeAsPcm16(SoundFile& file, int channels, uint64_t maxFrames, int toRate, std::vector<int16_t>& out,
                   bool& cut)
{
    if (toRate == 0)
        return decodeSamples(file, channels, maxFrames, toPcm16, out, cut);
    std::vector<float> floats;
    if (!decodeSamples(file, channels, maxFrames, asFloat, floats, cut) ||
        !resample(floats, channels, file.info().samplerate, toRate))
        return false;
    out.resize(floats.size());
    std::transform(floats.begin(), floats.end(), out.begin(), toPcm16);
    return true;
}

// Whether the file begins as an audio container or an MP3 stream does. Anything else is
// not handed to libsndfile, whose MP3 decoder would print its attempts on stderr.
bool hasAudioSignature(const std::string& name)
{
    unsigned char head[4] = {};
    FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr)
        return false;
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (got < sizeof head)
        return false;
    static const char* const kSignatures[] = {"RIFF", "RIFX", "RF64", "riff", "FORM", "fLaC", "OggS", "caff", ".snd"};
    for (const char* signature : kSignatures)
        if (std::memcmp(head, signature, 4) == 0)
            return true;
    const bool id3Tag = std::memcmp(head, "ID3", 3) == 0;
    const bool mpegFrameSync = head[0] == 0xFF && (head[1] & 0xE0) == 0xE0;
    return id3Tag || mpegFrameSync;
}

// Decodes the file as 16-bit PCM: in `wanted`'s channel count and rate when given, else
// at the file's own rate and channel count (more than two mixed to mono, a rate the
// analysis does not take resampled to 22050 Hz).
bool decodeWithLibsndfile(const std::string& name, WAVEFORMATEX& format, SampleStore& store, WaveRefusal* why,
                          bool& cut, const WAVEFORMATEX* wanted = nullptr)
{
    if (!hasAudioSignature(name)) {
        report(why, WaveRefusal::NotAudio);
        return false;
    }
    SoundFile file(name);
    if (file.handle() == nullptr) {
        report(why, WaveRefusal::NotAudio);
        return false;
    }
    const SF_INFO& info = file.info();
    if (info.channels < 1 || info.channels > kMaxFileChannels || info.samplerate < 1 ||
        info.samplerate > kMaxFileRate) {
        report(why, WaveRefusal::BadAudioFormat);
        return false;
    }
    // Float files may hold values beyond full scale; they are clipped, not wrapped.
    sf_command(file.handle(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

    const bool rateTaken = info.samplerate >= kMinKeptRate && info.samplerate <= kMaxKeptRate;
    const int channels = wanted != nullptr ? wanted->nChannels : info.channels <= 2 ? info.channels : 1;
    const int rate = wanted != nullptr ? static_cast<int>(wanted->nSamplesPerSec)
                                       : rateTaken ? info.samplerate : kResampledRate;
    const bool keepRate = rate == info.samplerate;
    const uint64_t storeFrames = kMaxStoreBytes / (2u * static_cast<unsigned>(channels));
    // Read no more than what still fits the store once resampled.
    const uint64_t maxFrames = static_cast<uint64_t>(static_cast<double>(storeFrames) * info.samplerate / rate);

    std::vector<int16_t> samples;
    try {
        if (!decodeAsPcm16(file, channels, maxFrames, keepRate ? 0 : rate, samples, cut)) {
            report(why, WaveRefusal::DecodeFailed);
            return false;
        }
    } catch (const std::bad_alloc&) {
        report(why, WaveRefusal::ReadFailed);
        return false;
    }
    const uint64_t bytes = std::min<uint64_t>(samples.size() * 2u, storeFrames * 2u * static_cast<unsigned>(channels));
    if (!store.allocate(static_cast<uint32_t>(bytes))) {
        report(why, WaveRefusal::ReadFailed);
        return false;
    }
    if (bytes > 0) // a file with no samples gives an empty store without a buffer
        std::memcpy(store.data, samples.data(), bytes);
    store.validCount = static_cast<uint32_t>(bytes);

    format = WAVEFORMATEX{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<uint16_t>(channels);
    format.nSamplesPerSec = static_cast<uint32_t>(rate);
    format.nBlockAlign = static_cast<uint16_t>(2 * channels);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.wBitsPerSample = 16;
    return true;
}

// The formats the analysis reads as they stand: 8-bit or 16-bit PCM, mono or stereo, a
// consistent block align and a rate it takes.
bool isAnalysableAsItIs(const WAVEFORMATEX& format)
{
    return (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) &&
           (format.nChannels == 1 || format.nChannels == 2) &&
           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8 &&
           format.nSamplesPerSec >= static_cast<uint32_t>(kMinKeptRate) &&
           format.nSamplesPerSec <= static_cast<uint32_t>(kMaxKeptRate);
}

} // namespace

bool LoadAudioFile(const std::string& name, WAVEFORMATEX& format, SampleStore& store, WaveRefusal* why,
                   AudioLoad* load)
{
    AudioLoad result;
    WaveRefusal refusal = WaveRefusal::None;
    WAVEFORMATEX plainFormat = format;
    if (LoadWaveFile(name, plainFormat, store, &refusal)) {
        // A PCM wave file of a width, channel count or rate the analysis does not take (24
        // or 32 bits, many channels) is decoded instead when libsndfile can; otherwise it
        // stays as read, and the analysis says what it cannot use.
        bool cut = false;
        WaveRefusal ignored = WaveRefusal::None;
        if (!isAnalysableAsItIs(plainFormat) && decodeWithLibsndfile(name, format, store, &ignored, cut)) {
            result.decoded = true;
            result.cut = cut;
        } else {
            format = plainFormat;
        }
        report(why, WaveRefusal::None);
        if (load != nullptr)
            *load = result;
        return true;
    }
    // A file that cannot be opened, or a wave file whose samples failed to read, is not
    // something another decoder could do better with.
    if (refusal == WaveRefusal::CannotOpen) {
        report(why, refusal);
        return false;
    }
    WaveRefusal decodeRefusal = WaveRefusal::None;
    if (!decodeWithLibsndfile(name, format, store, &decodeRefusal, result.cut)) {
        // A file libsndfile does not know at all keeps the wave reader's own reason, unless
        // that reason is only that it is no wave file.
        const bool keepWaveReason = decodeRefusal == WaveRefusal::NotAudio && refusal != WaveRefusal::NotWaveFmt;
        report(why, keepWaveReason ? refusal : decodeRefusal);
        return false;
    }
    result.decoded = true;
    report(why, WaveRefusal::None);
    if (load != nullptr)
        *load = result;
    return true;
}

bool LoadAudioFileInFormat(const std::string& name, const WAVEFORMATEX& wanted, SampleStore& store, WaveRefusal* why,
                           AudioLoad* load)
{
    WAVEFORMATEX format = wanted;
    AudioLoad result;
    SampleStore asRead;
    if (LoadAudioFile(name, format, asRead, why, &result) && format.wFormatTag == wanted.wFormatTag &&
        format.nChannels == wanted.nChannels && format.nSamplesPerSec == wanted.nSamplesPerSec &&
        format.wBitsPerSample == wanted.wBitsPerSample) {
        std::swap(store.data, asRead.data);
        std::swap(store.capacity, asRead.capacity);
        std::swap(store.validCount, asRead.validCount);
        if (load != nullptr)
            *load = result;
        return true;
    }
    if (why != nullptr && *why == WaveRefusal::CannotOpen)
        return false;
    WaveRefusal refusal = WaveRefusal::None;
    if (!decodeWithLibsndfile(name, format, store, &refusal, result.cut, &wanted)) {
        if (why != nullptr && *why == WaveRefusal::None)
            *why = refusal;
        return false;
    }
    result.decoded = true;
    report(why, WaveRefusal::None);
    if (load != nullptr)
        *load = result;
    return true;
}

std::string audioCutMessage(const std::string& name)
{
    return "'" + name + "' is longer than a take can hold (2 GB of 16-bit samples); only its beginning was loaded.";
}
