// The program's own ALSA sequencer port: listed only where the sequencer exists, and a
// subscribing application receives what the stream sends.

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <memory>
#include <vector>

#include "platform/AlsaSeqSink.h"
#include "platform/MidiDevices.h"
#include "platform/MidiStream.h"

namespace {

int32_t ownPortDeviceId()
{
    const uint32_t count = midiOutDeviceCount();
    for (uint32_t id = 0; id < count; ++id) {
        if (midiOutDeviceName(id) == kAlsaOwnOutputName)
            return static_cast<int32_t>(id);
    }
    return -1;
}

// The client and port number of the program's port, found by its names.
bool findOwnPort(snd_seq_t* seq, snd_seq_addr_t& address)
{
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        if (std::string(snd_seq_client_info_get_name(client)) != kAlsaOwnClientName)
            continue;
        snd_seq_port_info_set_client(port, snd_seq_client_info_get_client(client));
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            if (std::string(snd_seq_port_info_get_name(port)) == kAlsaOwnPortName) {
                address = *snd_seq_port_info_get_addr(port);
                return true;
            }
        }
    }
    return false;
}

} // namespace

TEST(AlsaOwnPort, ASubscriberReceivesTheStreamsMessagesAndTheListHasThePortOnlyWithASequencer)
{
    if (!alsaSequencerPresent()) {
        EXPECT_EQ(ownPortDeviceId(), -1) << "listed without a sequencer";
        GTEST_SKIP() << "/dev/snd/seq does not exist here (no ALSA sequencer, as in most containers)";
    }
    const int32_t id = ownPortDeviceId();
    ASSERT_GE(id, 1);
    std::unique_ptr<MidiStream> stream;
    ASSERT_EQ(MidiStream::open(static_cast<uint32_t>(id), {}, stream), kMidiOk);

    snd_seq_t* listener = nullptr;
    ASSERT_GE(snd_seq_open(&listener, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
    const int input = snd_seq_create_simple_port(listener, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                 SND_SEQ_PORT_TYPE_APPLICATION);
    snd_seq_addr_t own{};
    ASSERT_TRUE(findOwnPort(listener, own));
    ASSERT_GE(snd_seq_connect_from(listener, input, own.client, own.port), 0);

    ASSERT_EQ(stream->shortMessage(0x643C90), kMidiOk);
    std::vector<pollfd> fds(static_cast<size_t>(snd_seq_poll_descriptors_count(listener, POLLIN)));
    snd_seq_poll_descriptors(listener, fds.data(), static_cast<unsigned int>(fds.size()), POLLIN);
    ASSERT_GT(poll(fds.data(), fds.size(), 5000), 0) << "nothing arrived";
    snd_seq_event_t* event = nullptr;
    ASSERT_GE(snd_seq_event_input(listener, &event), 0);
    EXPECT_EQ(event->type, SND_SEQ_EVENT_NOTEON);
    EXPECT_EQ(event->data.note.note, 60);
    EXPECT_EQ(event->data.note.velocity, 100);
    snd_seq_close(listener);
}
