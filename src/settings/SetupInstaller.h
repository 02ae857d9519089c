#pragma once
// "Lirrosa Setup": creates the product's keys with their built-in values and the
// installation paths, without overwriting values a user already has (unless asked to reset
// them), and puts the instrument list, the BASE skin and the help topics into the
// installation folder when it is not the folder they ship in.

#include <optional>
#include <ostream>
#include <string>

struct SetupOptions {
    bool reset = false;                // write every built-in value, replacing what is there
    std::string installPath;           // empty: the folder the resources ship in
    std::optional<std::string> url;    // the maker's web site, when given
    std::optional<std::string> uri;    // the delivery service's request path, when given
};

// The folder that holds data/gmi.txt for this program, ending in '/': the installed layout
// beside the program file first, then the source tree it was built from. Empty when neither has it.
std::string findResourceFolder();

// Runs the setup against the registry file in force. Messages go to `out`, errors to `err`.
// Returns 0 on success and 1 on failure; a settings file that cannot be read is left as it is.
int runSetup(const SetupOptions& options, const std::string& resourceFolder, std::ostream& out, std::ostream& err);
