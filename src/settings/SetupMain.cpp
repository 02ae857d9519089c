// lirrosa-setup: the installer's settings step ("Lirrosa Setup").

#include <iostream>
#include <string>
#include <vector>

#include "settings/SetupInstaller.h"

namespace {

const char* const kUsage =
    "Usage: lirrosa-setup [OPTIONS]\n"
    "\n"
    "Creates Lirrosa's settings with their built-in values, keeping the values you already have.\n"
    "\n"
    "Options:\n"
    "  --reset              restore every built-in value\n"
    "  --install-path DIR   installation folder (default: where the program's data is installed);\n"
    "                       the instrument list, the BASE skin and the help are copied there\n"
    "  --url HOST           the maker's web site, without http://\n"
    "  --uri PATH           the delivery service's request path on that site\n"
    "  --help               show this text\n"
    "\n"
    "The settings file is $LIRROSA_REGISTRY, else $XDG_CONFIG_HOME/lirrosa/registry.reg\n"
    "(default ~/.config/lirrosa/registry.reg).\n";

int usageError(const std::string& message)
{
    std::cerr << "lirrosa-setup: " << message << " (see lirrosa-setup --help)\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    SetupOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--reset") {
            options.reset = true;
        } else if (arg == "--install-path" || arg == "--url" || arg == "--uri") {
            if (!hasValue)
                return usageError(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--install-path") {
                if (value.empty())
                    return usageError("--install-path needs a folder");
                options.installPath = value;
            } else if (arg == "--url") {
                options.url = value;
            } else {
                options.uri = value;
            }
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }
    return runSetup(options, findResourceFolder(), std::cout, std::cerr);
}
