#include "cli/InterruptWatch.h"

#include <signal.h>

namespace {

volatile sig_atomic_t gInterrupted = 0;
struct sigaction gPrevious;

void noteInterrupt(int)
{
    gInterrupted = 1;
}

}  // namespace

InterruptWatch::InterruptWatch()
{
    gInterrupted = 0;
    struct sigaction action {};
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &gPrevious);
}

InterruptWatch::~InterruptWatch()
{
    sigaction(SIGINT, &gPrevious, nullptr);
}

bool InterruptWatch::interrupted() const
{
    return gInterrupted != 0;
}
