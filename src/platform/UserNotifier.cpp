#include "platform/UserNotifier.h"

#include <cstdio>

namespace {
StderrNotifier stderrNotifier;
UserNotifier* current = &stderrNotifier;
}

MessageAnswer StderrNotifier::show(const std::string& text, const std::string& caption, MessageIcon,
                                   MessageButtons buttons)
{
    if (caption.empty())
        std::fprintf(stderr, "%s\n", text.c_str());
    else
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

UserNotifier& userNotifier()
{
    return *current;
}

void setUserNotifier(UserNotifier* notifier)
{
    current = notifier != nullptr ? notifier : &stderrNotifier;
}

void showError(const std::string& text)
{
    userNotifier().show(text, "Error", MessageIcon::Error, MessageButtons::Ok);
}
