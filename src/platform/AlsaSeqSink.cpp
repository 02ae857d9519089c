#include "platform/AlsaSeqSink.h"

#include <alsa/asoundlib.h>

#include <filesystem>
#include <mutex>

namespace {

constexpr const char* kSequencerDevice = "/dev/snd/seq";

// The ALSA library prints its failures on stderr; the program reports them through its
// own result codes instead.
void quietAlsaError(const char*, int, const char*, int, const char*, ...) {}

snd_seq_t* openSequencer()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(quietAlsaError); });
    snd_seq_t* seq = nullptr;
    if (!alsaSequencerPresent() || snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0)
        return nullptr;
    return seq;
}

bool acceptsEvents(snd_seq_port_info_t* port)
{
    const unsigned int needed = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    const unsigned int caps = snd_seq_port_info_get_capability(port);
    return (caps & needed) == needed && (caps & SND_SEQ_PORT_CAP_NO_EXPORT) == 0;
}

// Bytes in a channel message with this status.
int messageLength(uint8_t status)
{
    const uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
}

} // namespace

bool alsaSequencerPresent()
{
    std::error_code error;
    return std::filesystem::exists(kSequencerDevice, error);
}

std::vector<AlsaSeqPort> listAlsaOutputPorts()
{
    std::vector<AlsaSeqPort> ports;
    snd_seq_t* seq = openSequencer();
    if (seq == nullptr)
        return ports;
    const int self = snd_seq_client_id(seq);
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_client_info_malloc(&clientInfo);
    snd_seq_port_info_malloc(&portInfo);
    snd_seq_client_info_set_client(clientInfo, -1);
    while (snd_seq_query_next_client(seq, clientInfo) >= 0) {
        const int client = snd_seq_client_info_get_client(clientInfo);
        if (client == SND_SEQ_CLIENT_SYSTEM || client == self)
            continue;
        snd_seq_port_info_set_client(portInfo, client);
        snd_seq_port_info_set_port(portInfo, -1);
        while (snd_seq_query_next_port(seq, portInfo) >= 0) {
            if (!acceptsEvents(portInfo))
                continue;
            const int port = snd_seq_port_info_get_port(portInfo);
            ports.push_back({client, port,
                             std::string(snd_seq_port_info_get_name(portInfo)) + " (" + std::to_string(client) +
                                 ":" + std::to_string(port) + ")"});
        }
    }
    snd_seq_port_info_free(portInfo);
    snd_seq_client_info_free(clientInfo);
    snd_seq_close(seq);
    return ports;
}

MidiResult AlsaSeqSink::openClient(const char* portName, std::unique_ptr<AlsaSeqSink>& made)
{
    made.reset(new AlsaSeqSink());
    made->seq = openSequencer();
    if (made->seq == nullptr)
        return kMidiErrSequencer;
    snd_seq_set_client_name(made->seq, kAlsaOwnClientName);
    made->ownPort = snd_seq_create_simple_port(made->seq, portName,
                                               SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                               SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (made->ownPort < 0)
        return kMidiErrSequencer;
    if (snd_midi_event_new(16, &made->encoder) < 0)
        return kMidiErrNoMemory;
    return kMidiOk;
}

MidiResult AlsaSeqSink::open(const AlsaSeqPort& destination, std::unique_ptr<MidiSink>& sink)
{
    std::unique_ptr<AlsaSeqSink> made;
    const MidiResult result = openClient("Lirrosa MIDI out", made);
    if (result != kMidiOk)
        return result;
    if (snd_seq_connect_to(made->seq, made->ownPort, destination.client, destination.port) < 0)
        return kMidiErrPortGone;
    made->destClient = destination.client;
    made->destPort = destination.port;
    sink = std::move(made);
    return kMidiOk;
}

MidiResult AlsaSeqSink::openOwnPort(std::unique_ptr<MidiSink>& sink)
{
    std::unique_ptr<AlsaSeqSink> made;
    const MidiResult result = openClient(kAlsaOwnPortName, made);
    if (result != kMidiOk)
        return result;
    made->toSubscribers = true;
    sink = std::move(made);
    return kMidiOk;
}

AlsaSeqSink::~AlsaSeqSink()
{
    if (encoder != nullptr)
        snd_midi_event_free(encoder);
    if (seq != nullptr)
        snd_seq_close(seq);
}

MidiResult AlsaSeqSink::send(uint32_t message, int64_t)
{
    const unsigned char bytes[3] = {static_cast<unsigned char>(message & 0xFF),
                                    static_cast<unsigned char>((message >> 8) & 0x7F),
                                    static_cast<unsigned char>((message >> 16) & 0x7F)};
    if (bytes[0] < 0x80 || bytes[0] >= 0xF0)
        return kMidiErrInvalidParam;
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_midi_event_reset_encode(encoder);
    if (snd_midi_event_encode(encoder, bytes, messageLength(bytes[0]), &event) <= 0 ||
        event.type == SND_SEQ_EVENT_NONE)
        return kMidiErrInvalidParam;
    snd_seq_ev_set_source(&event, ownPort);
    if (toSubscribers)
        snd_seq_ev_set_subs(&event);
    else
        snd_seq_ev_set_dest(&event, destClient, destPort);
    snd_seq_ev_set_direct(&event);
    return snd_seq_event_output_direct(seq, &event) < 0 ? kMidiErrPortGone : kMidiOk;
}
