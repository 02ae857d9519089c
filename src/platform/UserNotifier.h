#pragma once
// The one way the program shows a message box to the user. The desktop program installs
// a Qt message box; the command-line front end and the tests use the default, which
// writes the message to stderr and answers with the default button.

#include <string>

enum class MessageIcon { Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

class UserNotifier {
public:
    virtual ~UserNotifier() = default;
    virtual MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon icon,
                               MessageButtons buttons) = 0;
};

// Writes "caption: text" to stderr and answers Ok or Yes.
class StderrNotifier : public UserNotifier {
public:
    MessageAnswer show(const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons) override;
};

// The notifier in force; a StderrNotifier until another is installed.
UserNotifier& userNotifier();
// Installs `notifier` (not owned); null restores the stderr default.
void setUserNotifier(UserNotifier* notifier);

// Shorthand for an error box with the caption "Error" and an OK button.
void showError(const std::string& text);
