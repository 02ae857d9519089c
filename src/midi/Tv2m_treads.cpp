#include "midi/Tv2m_treads.h"

#include <exception>
#include <thread>

#include "platform/UserNotifier.h"

namespace {

std::atomic<int> runningThreads{0};

} // namespace

TPlayThread::TPlayThread() = default;

TPlayThread::~TPlayThread() = default;

void TPlayThread::resume()
{
    if (started.exchange(true))
        return;
    ++runningThreads;
    std::thread(&TPlayThread::run, this).detach();
}

int TPlayThread::running()
{
    return runningThreads.load();
}

void TPlayThread::run()
{
    Execute();
    delete this;
    --runningThreads;
}

void TPlayerThread::Execute()
{
    if (midiOut != nullptr)
        Play(*midiOut, list, kind);
}

void TPlayerThread::Play(MidiOut& out, const PlayList& playList, PlayKind playKind)
{
    try {
        out.playKind = playKind;
        out.updateTicksPerFrame();
        out.play(playList, playKind);
    } catch (const std::exception& error) {
        showError(error.what());
    }
}
